#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/os_error.h"
#include "platform/socket.h"

namespace vantry {
namespace {

struct ErrnoCode {
  int errno_value;
  int code;
};

// Linux errno values onto the Winsock codes that callers of the service know.
constexpr ErrnoCode kErrnoCodes[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},
    {EPERM, 10013},        {EFAULT, 10014},          {EINVAL, 10022},
    {EMFILE, 10024},       {ENFILE, 10024},          {EAGAIN, 10035},
    {EINPROGRESS, 10036},  {EALREADY, 10037},        {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},
    {ENETUNREACH, 10051},  {ENETRESET, 10052},       {ECONNABORTED, 10053},
    {ECONNRESET, 10054},   {ENOBUFS, 10055},         {ENOMEM, 10055},
    {EISCONN, 10056},      {ENOTCONN, 10057},        {ESHUTDOWN, 10058},
    {EPIPE, 10058},        {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061}, {ELOOP, 10062},           {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},
};

struct CodeText {
  int code;
  const char* text;
};

constexpr CodeText kCodeTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

// Socket failures are raised with their Winsock codes (ESocketError), not as EOSError.
[[noreturn]] void RaiseSocketError(int errno_value) {
  throw ESocketError(WinsockCodeFromErrno(errno_value));
}

[[noreturn]] void RaiseLastError() { RaiseSocketError(errno); }

bool ToSockAddr(const std::string& dotted, int port, sockaddr_in* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sin_family = AF_INET;
  addr->sin_port = htons(static_cast<uint16_t>(port));
  return inet_pton(AF_INET, dotted.c_str(), &addr->sin_addr) == 1;
}

// Written by hand: the library's conversion goes through sprintf, which costs more than the rest
// of an accept's bookkeeping.
std::string ToDotted(const in_addr& addr) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&addr.s_addr);
  char text[INET_ADDRSTRLEN];
  char* out = text;
  for (int i = 0; i < 4; ++i) {
    unsigned value = bytes[i];
    if (i > 0) *out++ = '.';
    if (value >= 100) *out++ = static_cast<char>('0' + value / 100);
    if (value >= 10) *out++ = static_cast<char>('0' + value / 10 % 10);
    *out++ = static_cast<char>('0' + value % 10);
  }
  return std::string(text, out);
}

// getpeername or getsockname into `addr`; false when the socket has no such address, or one of
// another family (a local pair's would otherwise read as "0.0.0.0" port 0).
bool Name(int fd, int (*query)(int, sockaddr*, socklen_t*), sockaddr_in* addr) {
  socklen_t length = sizeof(*addr);
  return fd >= 0 && query(fd, reinterpret_cast<sockaddr*>(addr), &length) == 0 &&
         addr->sin_family == AF_INET;
}

bool WaitFor(int fd, short events, int timeout_ms) {
  pollfd pfd{fd, events, 0};
  // An interrupted wait starts again with the whole timeout: a signal only makes it longer.
  int n = RetryOnEintr([&] { return poll(&pfd, 1, timeout_ms); });
  if (n < 0) RaiseLastError();
  return n > 0;
}

}  // namespace

ESocketError::ESocketError(int code) : ENetError(SocketErrorText(code)), code_(code) {}

int WinsockCodeFromErrno(int errno_value) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.errno_value == errno_value) return entry.code;
  }
  return errno_value;
}

const char* SocketErrorDescription(int code) {
  for (const CodeText& entry : kCodeTexts) {
    if (entry.code == code) return entry.text;
  }
  return "";
}

std::string SocketErrorText(int code) {
  return Format("Socket Error # %d\r\n%s", code, SocketErrorDescription(code));
}

bool IsDottedIPv4(const std::string& text) {
  in_addr addr;
  return inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

std::optional<std::string> TryResolveIPv4(const std::string& host) {
  if (IsDottedIPv4(host)) return host;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
    return std::nullopt;
  }
  std::string dotted = ToDotted(reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr);
  freeaddrinfo(result);
  return dotted;
}

Socket::Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Socket::~Socket() { Close(); }

Socket Socket::Create() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ECannotAllocateSocket("Cannot allocate socket.");
  return Socket(fd);
}

std::pair<Socket, Socket> Socket::Pair() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    throw ECannotAllocateSocket("Cannot allocate socket.");
  }
  return {Socket(fds[0]), Socket(fds[1])};
}

void Socket::Bind(const std::string& dotted_address, int port) {
  sockaddr_in addr;
  if (!ToSockAddr(dotted_address, port, &addr)) throw ESocketError(10049);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) return;
  if (errno == EADDRINUSE) {
    throw ECouldNotBindSocket("Could not bind socket. Address and port are already in use.");
  }
  RaiseLastError();
}

void Socket::Listen(int backlog) {
  if (listen(fd_, backlog) != 0) RaiseLastError();
}

Socket Socket::Accept(std::string* peer_address) {
  sockaddr_in addr{};
  socklen_t length = sizeof(addr);
  int fd = RetryOnEintr([&] {
    length = sizeof(addr);
    return accept4(fd_, reinterpret_cast<sockaddr*>(&addr), &length, SOCK_CLOEXEC);
  });
  if (fd < 0) RaiseLastError();
  // The address comes with the connection: no getpeername() for it.
  if (peer_address != nullptr) {
    *peer_address = addr.sin_family == AF_INET ? ToDotted(addr.sin_addr) : "";
  }
  return Socket(fd);
}

void Socket::Connect(const std::string& dotted_address, int port) {
  sockaddr_in addr;
  if (!ToSockAddr(dotted_address, port, &addr)) throw ESocketError(kWsaHostNotFound);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) return;
  if (errno != EINTR) RaiseLastError();
  // An interrupted connect goes on in the background; wait for its outcome.
  WaitWritable(-1);
  int error = 0;
  socklen_t length = sizeof(error);
  getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) RaiseSocketError(error);
}

bool Socket::WaitReadable(int timeout_ms) const { return WaitFor(fd_, POLLIN, timeout_ms); }

bool Socket::WaitWritable(int timeout_ms) const { return WaitFor(fd_, POLLOUT, timeout_ms); }

size_t Socket::Receive(void* dest, size_t count) {
  if (fd_ < 0) throw EDisconnected(kDisconnected);
  ssize_t n = RetryOnEintr([&] { return recv(fd_, dest, count, 0); });
  if (n < 0) RaiseLastError();
  return static_cast<size_t>(n);
}

size_t Socket::ReceiveAll(void* dest, size_t count) {
  if (fd_ < 0) throw EDisconnected(kDisconnected);
  char* out = static_cast<char*>(dest);
  size_t done = 0;
  while (done < count) {
    ssize_t n = RetryOnEintr([&] { return recv(fd_, out + done, count - done, MSG_WAITALL); });
    if (n < 0) RaiseLastError();
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t Socket::Send(const void* src, size_t count, bool more) {
  if (fd_ < 0) throw EDisconnected(kNotConnected);
  int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
  ssize_t n = RetryOnEintr([&] { return send(fd_, src, count, flags); });
  if (n < 0) RaiseLastError();
  return static_cast<size_t>(n);
}

size_t Socket::Send(std::span<const std::string_view> parts) {
  if (fd_ < 0) throw EDisconnected(kNotConnected);
  constexpr size_t kMaxParts = 8;  // more are sent by the caller's next call
  iovec vectors[kMaxParts];
  msghdr message{};
  message.msg_iov = vectors;
  for (std::string_view part : parts.first(std::min(parts.size(), kMaxParts))) {
    vectors[message.msg_iovlen++] = {const_cast<char*>(part.data()), part.size()};
  }
  ssize_t n = RetryOnEintr([&] { return sendmsg(fd_, &message, MSG_NOSIGNAL); });
  if (n < 0) RaiseLastError();
  return static_cast<size_t>(n);
}

void Socket::ShutdownSend() {
  if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

void Socket::ShutdownBoth() {
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
}

void Socket::Close() {
  if (fd_ >= 0) close(std::exchange(fd_, -1));
}

void Socket::SetIntOption(int level, int name, int value) {
  if (setsockopt(fd_, level, name, &value, sizeof(value)) != 0) RaiseLastError();
}

void Socket::SetNoDelay(bool on) { SetIntOption(IPPROTO_TCP, TCP_NODELAY, on); }

void Socket::SetKeepAlive(bool on) {
  SetIntOption(SOL_SOCKET, SO_KEEPALIVE, on);
  if (!on) return;
  // The system's own timing probes an idle connection only after two hours; a peer that died
  // mid-call must be noticed within minutes.
  SetIntOption(IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleSeconds);
  SetIntOption(IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalSeconds);
  SetIntOption(IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
}

void Socket::SetReuseAddress(bool on) { SetIntOption(SOL_SOCKET, SO_REUSEADDR, on); }

void Socket::SetBufferSizes(int bytes) {
  SetIntOption(SOL_SOCKET, SO_SNDBUF, bytes);
  SetIntOption(SOL_SOCKET, SO_RCVBUF, bytes);
}

std::string Socket::PeerAddress() const {
  sockaddr_in addr{};
  return Name(fd_, getpeername, &addr) ? ToDotted(addr.sin_addr) : "";
}

int Socket::PeerPort() const {
  sockaddr_in addr{};
  return Name(fd_, getpeername, &addr) ? ntohs(addr.sin_port) : 0;
}

int Socket::LocalPort() const {
  sockaddr_in addr{};
  return Name(fd_, getsockname, &addr) ? ntohs(addr.sin_port) : 0;
}

}  // namespace vantry
