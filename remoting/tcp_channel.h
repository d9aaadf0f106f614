// TROTCPChannel: the client side of the TCP transport. Every call connects to Host:Port, writes
// the request message as one frame, reads the response frame and, unless KeepAlive is set,
// closes the connection again. No connect or read timeout, no retry: a long call is legitimate,
// and TCP keep-alive notices a peer that died mid-call.
//
// Host is a dotted IPv4 address, a host name (its first IPv4 address is used) or "localhost" in
// any letter case (127.0.0.1, no lookup); "host:port" overrides Port for that host. A host
// written "tls://host[:port]" is reached over TLS (port kDefaultTlsPort unless given), with the
// channel's TLS context: its certificate is presented, and the server's must be signed by the
// context's CA and name the host as written.
//
// With ConnectAhead (and without KeepAlive) the connection for the next call is opened while the
// current call waits for its response, so that a caller making calls back to back does not wait
// for a connect and the peer's accept each time; calls stay one at a time. A spare connection
// that the peer closed meanwhile is dropped for a fresh one; a failed connect ahead is left for
// the next call to report.
//
// Thread safety: one call at a time. A second call while one runs fails at once with
// EROChannelBusy "Channel is busy. Try again later." (unless ThreadSafe is set, when the caller
// promises not to overlap calls); the running call goes on undisturbed.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "remoting/binary_stream.h"
#include "remoting/frame_format.h"
#include "remoting/message.h"
#include "remoting/tcp_connection.h"
#include "remoting/transport.h"

namespace vantry {

// What a proxy calls through: carries a request message and brings back its response.
class IROTransportChannel : public IROTransport {
 public:
  // On return `message` holds the parsed response; an error message is raised as its exception.
  virtual void Dispatch(IROMessage& message) = 0;
  // Checks the settings before a proxy is handed out; throws EROException.
  virtual void CheckProperties() const = 0;
};

inline constexpr char kTlsScheme[] = "tls://";
// The port of a TLS target written without one.
inline constexpr int kDefaultTlsPort = 8091;

// Whether `host` is written "tls://...".
bool IsTlsTarget(std::string_view host);

class TROTCPChannel : public IROTransportChannel {
 public:

  TROTCPChannel() = default;
  TROTCPChannel(const TROTCPChannel&) = delete;
  TROTCPChannel& operator=(const TROTCPChannel&) = delete;
  ~TROTCPChannel() override = default;  // closes an open connection

  void Dispatch(IROMessage& message) override;
  // Sends `request` (whole) as one frame and reads the response payload into `response`, which
  // is rewound to 0. Throws ESocketError ("Socket Error # %d\r\n%s", 11001 "Host not found."
  // when Host cannot be resolved), EConnClosedGracefully, EROChannelBusy; after any failure the
  // connection is closed and the channel is ready for the next call.
  void DispatchStreams(TROBinaryMemoryStream& request, TROBinaryMemoryStream& response);
  // Throws EROException ".Host must be set." (after the component name) when Host is empty.
  void CheckProperties() const override;

  // The peer's address is not known to a client transport.
  std::string GetClientAddress() const override { return ""; }

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  const std::string& Host() const { return host_; }
  void SetHost(std::string host) { host_ = std::move(host); }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  bool KeepAlive() const { return keep_alive_; }
  void SetKeepAlive(bool on) { keep_alive_ = on; }
  bool DisableNagle() const { return disable_nagle_; }
  void SetDisableNagle(bool on) { disable_nagle_ = on; }
  bool ThreadSafe() const { return thread_safe_; }
  void SetThreadSafe(bool on) { thread_safe_ = on; }
  bool ConnectAhead() const { return connect_ahead_; }
  void SetConnectAhead(bool on) { connect_ahead_ = on; }
  // The client context for "tls://" hosts (shared; sessions resume across calls). Without one a
  // call to such a host fails with ETlsError.
  void SetTlsContext(std::shared_ptr<const TlsContext> context) { tls_ = std::move(context); }

 private:
  // DispatchStreams for a request made of `parts`, one after the other.
  void DispatchParts(std::initializer_list<std::string_view> parts,
                     TROBinaryMemoryStream& response);
  void Exchange(std::initializer_list<std::string_view> parts, TROBinaryMemoryStream& response);
  std::unique_ptr<TROTCPConnection> Connect();
  void PrepareNextConnection();

  std::string name_;
  std::string host_ = "127.0.0.1";
  int port_ = kDefaultPort;
  bool keep_alive_ = false;
  bool disable_nagle_ = false;
  bool thread_safe_ = false;
  bool connect_ahead_ = false;
  std::shared_ptr<const TlsContext> tls_;
  std::atomic<bool> busy_{false};
  std::unique_ptr<TROTCPConnection> connection_;
  std::unique_ptr<TROTCPConnection> next_connection_;  // opened ahead, unused yet
};

// A channel's Host split at its last colon: "host:port" or "host" alone.
struct HostAndPort {
  std::string host;
  std::optional<int> port;  // absent when Host names none
};
// Splits `text`; nullopt when there is a colon and what follows it is not a number from 1 to
// 65535.
std::optional<HostAndPort> SplitHostAndPort(std::string_view text);

// Splits "host:port" (port 1 to 65535) or takes `host` with `default_port` (a "tls://" prefix is
// ignored here), and resolves the
// host: "localhost" in any letter case to 127.0.0.1, a dotted address as is, else the first IPv4
// address of a name lookup. Throws ESocketError 11001 "Host not found." when the host cannot be
// resolved or the port is not a number from 1 to 65535.
void ResolveTarget(const std::string& host, int default_port, std::string* address, int* port);

}  // namespace vantry
