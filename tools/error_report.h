// What the client tells its operator when a command fails: one line
// "vantry: COMMAND: what failed: why" on stderr, or under --json one document
// {"error": {"class": ..., "message": ..., "code": ...}} on stdout, and the exit code that
// README documents for the kind of failure.
//
// A failure is one of: the client's own check found that the command cannot do what it says
// (CommandRefused), bad input (UsageError), the service answered with an error (any Exception
// recreated from an error message), or the service could not be reached (ENetError).
//
// Thread safety: pure functions; RegisterServerExceptionClasses is start-up only.
#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

namespace vantry::client {

enum ExitCode { kOk = 0, kServiceError = 1, kUsage = 2, kUnreachable = 3 };

// The client's own finding that a command would do nothing, or did nothing, that its answer
// could show: a missing file, a directory where a file is meant, a refused permission. Its
// text is the reason ("no such file"); the command says what it was doing. Exit code 1.
class CommandRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ErrorReport {
  ExitCode exit_code = kServiceError;
  std::string error_class;         // the server's exception class, or the client's kind of failure
  std::string message;             // the text as it arrived (the server's text, unchanged)
  std::string why;                 // the readable reason: the system's text without its code
  std::optional<int> code;         // the Windows error or socket code, when the text carries one
  bool closed_unanswered = false;  // the connection ended before any answer
};

// Describes the exception in flight (call inside a catch block).
ErrorReport DescribeCurrentException();

// "vantry: cp: copy T:\a to T:\b: The system cannot find the file specified." ending in a
// newline. `what` says what the command was doing (the operation with its paths); a failure to
// reach the service names `server` (HOST:PORT) instead. `verbose` adds the class and the
// Windows code.
std::string ErrorLine(const std::string& command, const std::string& what,
                      const std::string& server, const ErrorReport& report, bool verbose);
// {"error": {"class": ..., "message": ..., "code": ...}} and a newline.
std::string ErrorJson(const ErrorReport& report);

// Registers the platform's exception classes that the service raises (Exception, EOSError,
// EInOutError, ...) with the runtime's registry, so that a received error keeps its class
// name instead of becoming EROUnregisteredServerException. Idempotent.
void RegisterServerExceptionClasses();

}  // namespace vantry::client
