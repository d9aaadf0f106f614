// Helpers of the end-to-end tests (included by tests/*_test.cc only): the real vantryd started
// on a port the system picks, with --verbose so that its "running" line says when it listens and
// on which port, and a caller that reaches it the way any remote caller does, through the
// contract's proxy over a TCP channel and binary messages.
//
// Thread safety: one test thread.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "contract/VantryLibrary_Intf.h"
#include "platform/service_process.h"
#include "platform/socket.h"
#include "remoting/message.h"
#include "remoting/remote_service.h"
#include "remoting/tcp_channel.h"
#include "remoting/tcp_connection.h"

namespace vantry::e2e {

inline constexpr int kLineTimeoutMs = 10000;  // only bounds a hang; never reached when all is well

// vantryd --home `home` --port 0 --verbose `extra`..., running until Stop() or destruction.
class RunningService {
 public:
  explicit RunningService(const std::string& home, const std::vector<std::string>& extra = {})
      : process_(VANTRYD_PATH, Arguments(home, extra)) {
    std::string line = NextLine();
    std::smatch match;
    if (std::regex_search(line, match, std::regex("^vantryd: running; .*; port ([0-9]+);"))) {
      port_ = std::stoi(match[1].str());
    }
    if (std::regex_search(line, match, std::regex("; TLS port ([0-9]+);"))) {
      tls_port_ = std::stoi(match[1].str());
    }
    EXPECT_GT(port_, 0) << "no running line with a port: " << line;
  }
  ~RunningService() {
    if (!stopped_) Stop();
  }

  int port() const { return port_; }
  // The TLS listener's port; 0 when it has none.
  int tls_port() const { return tls_port_; }
  ServiceProcess& process() { return process_; }

  // The next line on stderr but warnings, which are kept aside; fails the test when none
  // arrives.
  std::string NextLine() {
    for (;;) {
      std::optional<std::string> line = process_.ReadErrorLine(kLineTimeoutMs);
      EXPECT_TRUE(line.has_value()) << "vantryd wrote no further line";
      if (!line || !line->starts_with("warning: ")) return line.value_or("");
      warnings_.push_back(line->substr(9));
    }
  }
  // The warning lines NextLine passed over, without "warning: ".
  const std::vector<std::string>& warnings() const { return warnings_; }
  // Sends a continue request (SIGUSR2 or SIGHUP) and waits until the service has handled it.
  void Continue(int signal_number) {
    process_.SendSignal(signal_number);
    EXPECT_EQ(NextLine().rfind("vantryd: running; ", 0), 0u);
  }
  // SIGKILL, as a crash or an impatient operator would end it; waits until it is gone.
  void Kill() {
    stopped_ = true;
    process_.SendSignal(SIGKILL);
    process_.Wait();
  }
  // SIGTERM; expects an orderly stop with exit code 0.
  void Stop() {
    stopped_ = true;
    process_.SendSignal(SIGTERM);
    EXPECT_EQ(NextLine(), "vantryd: stopped");
    EXPECT_EQ(process_.Wait(), 0);
  }

 private:
  static std::vector<std::string> Arguments(const std::string& home,
                                            const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"--home", home, "--port", "0", "--verbose"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  ServiceProcess process_;
  int port_ = 0;
  int tls_port_ = 0;
  bool stopped_ = false;
  std::vector<std::string> warnings_;
};

// A remote caller of VantryService on 127.0.0.1:`port`. Needs the contract's registrations
// (VantryLibraryRegistration) for the proxy class and the array types.
class Caller {
 public:
  explicit Caller(int port) : Caller("127.0.0.1", port, nullptr) {}
  // A caller of `host` (a "tls://" one with the client context `tls`) at `port`.
  Caller(const std::string& host, int port, std::shared_ptr<const TlsContext> tls) {
    channel_.SetHost(host);
    channel_.SetPort(port);
    channel_.SetTlsContext(std::move(tls));
    holder_.SetMessage(&message_);
    holder_.SetChannel(&channel_);
    service_ = holder_.GetService<IVantryService>(kIVantryServiceGuid);
    EXPECT_NE(service_, nullptr);
  }
  IVantryService& service() { return *service_; }
  // Sends `request` as one frame and returns the response payload (probe, metadata request).
  std::string Exchange(const std::string& request) {
    TROBinaryMemoryStream out(request), in;
    channel_.DispatchStreams(out, in);
    return in.ToString();
  }

 private:
  TROBinMessage message_;
  TROTCPChannel channel_;
  TRORemoteService holder_;
  std::shared_ptr<IVantryService> service_;
};

inline constexpr char kProbeRequest[] = "12345";  // any five bytes
inline constexpr char kClosed[] = "(closed without a byte)";

// A probe sent from the local address `local_address` to 127.0.0.1:`port`: the answer, or
// kClosed when the service closed the connection without answering.
inline std::string ProbeFrom(const std::string& local_address, int port) {
  Socket socket = Socket::Create();
  socket.Bind(local_address, 0);
  socket.Connect("127.0.0.1", port);
  TROTCPConnection connection(std::move(socket));
  TROBinaryMemoryStream request{std::string_view(kProbeRequest)}, response;
  try {
    connection.WriteFrame(request);
    connection.ReadFrame(response);
  } catch (const ENetError&) {
    // Closed at once: an orderly close, or a reset when our request was still unread.
    return response.Size() == 0 ? kClosed : "(closed after " + response.ToString() + ")";
  }
  return response.ToString();
}

}  // namespace vantry::e2e
