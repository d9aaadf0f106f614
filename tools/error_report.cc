#include "tools/error_report.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/socket.h"
#include "remoting/ro_exception.h"
#include "tools/usage_error.h"

namespace vantry::client {
namespace {

constexpr std::string_view kServerPrefix = "An exception was raised on the server: ";

// A server exception recreated under the class name it travelled with.
template <const char* kName>
class ERemoteError : public EROServerException {
 public:
  using EROServerException::EROServerException;
  const char* ClassName() const override { return kName; }
  [[noreturn]] void Raise() const override { throw *this; }
  std::unique_ptr<Exception> Clone() const override {
    return std::make_unique<ERemoteError>(*this);
  }
};

constexpr char kException[] = "Exception";
constexpr char kEOSError[] = "EOSError";
constexpr char kEInOutError[] = "EInOutError";
constexpr char kEConvertError[] = "EConvertError";
constexpr char kEAssertionFailed[] = "EAssertionFailed";
constexpr char kEStreamError[] = "EStreamError";
constexpr char kEReadError[] = "EReadError";
constexpr char kEWriteError[] = "EWriteError";
constexpr char kEFOpenError[] = "EFOpenError";
constexpr char kEFCreateError[] = "EFCreateError";
constexpr char kENetError[] = "ENetError";
constexpr char kESocketError[] = "ESocketError";
constexpr char kEConnClosedGracefully[] = "EConnClosedGracefully";

// The reason without the code that the system's texts carry: "System Error.  Code: 2.\r\nThe
// system cannot find the file specified." and "Socket Error # 10061\r\nConnection refused.".
void SplitCode(ErrorReport& report) {
  static const std::regex with_code(
      R"(^(?:System Error\.  Code: (-?[0-9]+)\.|Socket Error # (-?[0-9]+))\r?\n([\s\S]*)$)");
  std::smatch match;
  if (std::regex_match(report.why, match, with_code)) {
    report.code = std::stoi(match[1].matched ? match[1].str() : match[2].str());
    report.why = match[3].str();
  }
}

ErrorReport FromException(const Exception& e) {
  ErrorReport report;
  report.error_class = e.ClassName();
  report.message = AnsiToUtf8(e.Message());
  report.why = report.message;
  // A call the service made on our behalf (SendBackup) brings the other instance's error with
  // the runtime's prefix in front; the reason is what follows it.
  while (std::string_view(report.why).starts_with(kServerPrefix)) {
    report.why.erase(0, kServerPrefix.size());
  }
  SplitCode(report);
  if (report.why.empty()) report.why = report.error_class;
  for (char& c : report.why) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return report;
}

// A failure of the client's own, its text the reason.
ErrorReport Plain(ExitCode exit_code, const char* error_class, const char* text) {
  ErrorReport report;
  report.exit_code = exit_code;
  report.error_class = error_class;
  report.message = text;
  report.why = text;
  return report;
}

}  // namespace

ErrorReport DescribeCurrentException() {
  try {
    throw;
  } catch (const CommandRefused& e) {
    return Plain(kServiceError, "Refused", e.what());
  } catch (const UsageError& e) {
    return Plain(kUsage, "Usage", e.what());
  } catch (const ENetError& e) {
    ErrorReport report = FromException(e);
    report.exit_code = kUnreachable;
    const auto* socket = dynamic_cast<const ESocketError*>(&e);
    // A reset or an orderly close where the answer should be: the service closes a connection
    // from an address its allow-list lacks before it reads anything.
    report.closed_unanswered = dynamic_cast<const EConnClosedGracefully*>(&e) != nullptr ||
                               (socket && (socket->Code() == 10053 || socket->Code() == 10054));
    return report;
  } catch (const Exception& e) {
    return FromException(e);
  } catch (const std::exception& e) {
    return Plain(kServiceError, "Error", e.what());
  }
}

std::string ErrorLine(const std::string& command, const std::string& what,
                      const std::string& server, const ErrorReport& report, bool verbose) {
  std::string line = command.empty() ? "vantry: " : "vantry: " + command + ": ";
  if (report.exit_code == kUnreachable && report.closed_unanswered) {
    line += server +
            " closed the connection before answering: the server may not admit this address: "
            "see AllowedSourceIPs.txt on the server";
  } else if (report.exit_code == kUnreachable) {
    line += "cannot reach " + server + ": " + report.why;
  } else {
    if (!what.empty() && report.exit_code != kUsage) line += what + ": ";
    line += report.why;
  }
  if (verbose && report.exit_code != kUsage) {
    line += " [" + report.error_class;
    if (report.code) line += fmt::format(", Windows code {}", *report.code);
    line += "]";
  }
  return line + "\n";
}

std::string ErrorJson(const ErrorReport& report) {
  nlohmann::ordered_json error = {
      {"class", report.error_class}, {"message", report.message}, {"code", nullptr}};
  if (report.code) error["code"] = *report.code;
  nlohmann::ordered_json document = {{"error", error}};
  return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

void RegisterServerExceptionClasses() {
  auto add = [](const ExceptionClass& cls) {
    if (std::string_view(FindExceptionClass(cls.name).name) == "EROUnregisteredServerException") {
      RegisterExceptionClass(cls);
    }
  };
  add(ExceptionClassOf<ERemoteError<kException>>());
  add(ExceptionClassOf<ERemoteError<kEOSError>>());
  add(ExceptionClassOf<ERemoteError<kEInOutError>>());
  add(ExceptionClassOf<ERemoteError<kEConvertError>>());
  add(ExceptionClassOf<ERemoteError<kEAssertionFailed>>());
  add(ExceptionClassOf<ERemoteError<kEStreamError>>());
  add(ExceptionClassOf<ERemoteError<kEReadError>>());
  add(ExceptionClassOf<ERemoteError<kEWriteError>>());
  add(ExceptionClassOf<ERemoteError<kEFOpenError>>());
  add(ExceptionClassOf<ERemoteError<kEFCreateError>>());
  add(ExceptionClassOf<ERemoteError<kENetError>>());
  add(ExceptionClassOf<ERemoteError<kESocketError>>());
  add(ExceptionClassOf<ERemoteError<kEConnClosedGracefully>>());
}

}  // namespace vantry::client
