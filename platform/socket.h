// IPv4 stream sockets: the one place where the process talks to the socket API. Both TCP sides
// of the remote-call runtime (server transport, client channel) and the load tool use it.
// Errors are raised with the Winsock codes and texts that remote callers know ("Socket Error #
// %d\r\n%s"); the errno of the platform is mapped onto those codes here and nowhere else.
//
// Thread safety: a Socket is used by one thread at a time, except ShutdownBoth(), which another
// thread may call to wake a reader blocked in Receive() as long as the owner has not closed the
// socket yet (callers guard that with a lock of their own).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/exception.h"

namespace vantry {

// Winsock codes used by the transports' own logic.
inline constexpr int kWsaInterrupted = 10004;    // WSAEINTR
inline constexpr int kWsaNotSocket = 10038;      // WSAENOTSOCK
inline constexpr int kWsaAddressInUse = 10048;   // WSAEADDRINUSE
inline constexpr int kWsaConnAborted = 10053;    // WSAECONNABORTED
inline constexpr int kWsaConnReset = 10054;      // WSAECONNRESET
inline constexpr int kWsaNoBufferSpace = 10055;  // WSAENOBUFS
inline constexpr int kWsaShutdown = 10058;       // WSAESHUTDOWN
inline constexpr int kWsaConnRefused = 10061;    // WSAECONNREFUSED
inline constexpr int kWsaHostNotFound = 11001;   // WSAHOST_NOT_FOUND

// TCP keep-alive timing of SetKeepAlive(true): a dead peer is noticed within about two minutes.
inline constexpr int kKeepAliveIdleSeconds = 60;
inline constexpr int kKeepAliveIntervalSeconds = 10;
inline constexpr int kKeepAliveProbes = 6;

// Base of every network error.
VANTRY_EXCEPTION(ENetError, Exception);

// A failed socket call: "Socket Error # %d\r\n%s" with the Winsock code and its description.
class ESocketError : public ENetError {
  VANTRY_EXCEPTION_BODY(ESocketError, ENetError)
  explicit ESocketError(int code);
  int Code() const { return code_; }

 private:
  int code_ = 0;
};

// The peer closed the connection before the expected bytes arrived: "Connection Closed
// Gracefully.".
VANTRY_EXCEPTION(EConnClosedGracefully, ENetError);
// Binding a port that is in use: "Could not bind socket. Address and port are already in use.".
VANTRY_EXCEPTION(ECouldNotBindSocket, ENetError);
// Creating a socket failed: "Cannot allocate socket.".
VANTRY_EXCEPTION(ECannotAllocateSocket, ENetError);
// Using a connection that is already closed: "Disconnected." or "Not Connected".
VANTRY_EXCEPTION(EDisconnected, ENetError);

inline constexpr const char kConnClosedGracefully[] = "Connection Closed Gracefully.";
inline constexpr const char kDisconnected[] = "Disconnected.";
inline constexpr const char kNotConnected[] = "Not Connected";

// The Winsock code that corresponds to a platform errno value; values without a counterpart are
// returned unchanged.
int WinsockCodeFromErrno(int errno_value);
// The description of a Winsock code; "" for codes outside the table.
const char* SocketErrorDescription(int code);
// "Socket Error # %d\r\n%s".
std::string SocketErrorText(int code);

// True when `text` is a dotted-decimal IPv4 address such as "192.168.1.20".
bool IsDottedIPv4(const std::string& text);
// The first IPv4 address of `host` as dotted text: a dotted address as is, otherwise a name
// lookup. Returns nothing when the name cannot be resolved.
std::optional<std::string> TryResolveIPv4(const std::string& host);

class Socket {
 public:
  Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  ~Socket();  // Close()

  // A new IPv4 stream socket; throws ECannotAllocateSocket.
  static Socket Create();
  // Two local stream sockets connected to each other, for tests and fuzzing that need a real
  // socket's reads and end of stream without a listener and a port for every connection. They
  // are not IPv4: no address, no port, no TCP options. Throws ECannotAllocateSocket.
  static std::pair<Socket, Socket> Pair();

  bool IsOpen() const { return fd_ >= 0; }

  // Throws ECouldNotBindSocket for an address in use, ESocketError otherwise.
  void Bind(const std::string& dotted_address, int port);
  void Listen(int backlog);
  // The next pending connection, waiting for one; throws ESocketError. With `peer_address`, the
  // peer's dotted address is stored there, as PeerAddress() would give it. ShutdownBoth() from
  // another thread ends the wait of every thread in Accept() with an error, and every later
  // Accept() fails at once.
  Socket Accept(std::string* peer_address = nullptr);
  // Blocks until connected; throws ESocketError (e.g. 10061 "Connection refused.").
  void Connect(const std::string& dotted_address, int port);

  // Waits at most `timeout_ms` for the socket to become readable / writable (an error or a
  // closed peer counts as ready). Returns false on timeout.
  bool WaitReadable(int timeout_ms) const;
  bool WaitWritable(int timeout_ms) const;

  // Reads up to `count` bytes; returns 0 when the peer closed the connection in order.
  // Throws ESocketError (interruptions are retried).
  size_t Receive(void* dest, size_t count);
  // Reads exactly `count` bytes, waiting for all of them in the platform (one wake-up instead of
  // one per arriving segment); returns fewer only when the peer closed the connection.
  size_t ReceiveAll(void* dest, size_t count);
  // Sends up to `count` bytes and returns how many went out (possibly fewer); `more` tells the
  // platform that further bytes follow at once, so it may put them into one segment.
  // Throws ESocketError; never raises SIGPIPE.
  size_t Send(const void* src, size_t count, bool more = false);
  // Sends up to the whole of `parts`, one after the other, in one call; returns how many bytes
  // went out (possibly fewer). Throws ESocketError; never raises SIGPIPE.
  size_t Send(std::span<const std::string_view> parts);

  void ShutdownSend();
  // Shuts down both directions: a Receive() blocked in another thread returns 0.
  void ShutdownBoth();
  void Close();

  void SetNoDelay(bool on);
  // Probes an idle connection after kKeepAliveIdleSeconds, then every kKeepAliveIntervalSeconds;
  // after kKeepAliveProbes unanswered probes the connection fails (10060).
  void SetKeepAlive(bool on);
  void SetReuseAddress(bool on);
  // Asks for send and receive buffers of `bytes` each (the platform may grant less). Set before
  // Connect() or Listen(): the window a connection opens with is fixed by then, and accepted
  // connections take the listener's sizes.
  void SetBufferSizes(int bytes);

  // Dotted-decimal address and port of the peer / of this end; "" and 0 when unknown or not
  // IPv4 (a Pair()).
  std::string PeerAddress() const;
  int PeerPort() const;
  int LocalPort() const;

 private:
  explicit Socket(int fd) : fd_(fd) {}
  void SetIntOption(int level, int name, int value);

  int fd_ = -1;
};

}  // namespace vantry
