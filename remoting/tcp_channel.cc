#include "remoting/tcp_channel.h"

#include <charconv>

#include "remoting/ascii_text.h"
#include "remoting/ro_exception.h"

namespace vantry {
namespace {

// Clears the busy flag however the call ends.
class BusyGuard {
 public:
  explicit BusyGuard(std::atomic<bool>* busy) : busy_(busy) {}
  ~BusyGuard() {
    if (busy_ != nullptr) busy_->store(false);
  }

 private:
  std::atomic<bool>* busy_;
};

}  // namespace

std::optional<HostAndPort> SplitHostAndPort(std::string_view text) {
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return HostAndPort{std::string(text), std::nullopt};
  std::string_view digits = text.substr(colon + 1);
  int port = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size() || port < 1 || port > 65535) {
    return std::nullopt;
  }
  return HostAndPort{std::string(text.substr(0, colon)), port};
}

bool IsTlsTarget(std::string_view host) { return host.starts_with(kTlsScheme); }

void ResolveTarget(const std::string& target, int default_port, std::string* address, int* port) {
  std::string_view host = target;
  if (IsTlsTarget(host)) host.remove_prefix(std::string_view(kTlsScheme).size());
  std::optional<HostAndPort> split = SplitHostAndPort(host);
  if (!split) throw ESocketError(kWsaHostNotFound);
  const std::string& name = split->host;
  *port = split->port.value_or(default_port);
  if (AsciiSameText(name, "localhost")) {
    *address = "127.0.0.1";
    return;
  }
  std::optional<std::string> resolved = name.empty() ? std::nullopt : TryResolveIPv4(name);
  if (!resolved) throw ESocketError(kWsaHostNotFound);
  *address = *resolved;
}

void TROTCPChannel::CheckProperties() const {
  if (host_.empty()) throw EROException(name_ + ".Host must be set.");
}

void TROTCPChannel::Dispatch(IROMessage& message) {
  // The body goes to the socket from where the message holds it: a backup chunk of a megabyte
  // is not copied once more behind the header.
  TROBinaryMemoryStream head;
  TROMessageBodyParts body = message.WriteToStreamParts(head);
  auto response = std::make_unique<TROBinaryMemoryStream>();
  DispatchParts({head.View(), body.body, body.lent}, *response);
  // The message takes charge of the response buffer when it reads it successfully.
  message.ReadFromStream(response);
}

void TROTCPChannel::DispatchStreams(TROBinaryMemoryStream& request,
                                    TROBinaryMemoryStream& response) {
  request.Rewind();
  DispatchParts({request.View()}, response);
}

void TROTCPChannel::DispatchParts(std::initializer_list<std::string_view> parts,
                                  TROBinaryMemoryStream& response) {
  std::atomic<bool>* busy = nullptr;
  if (!thread_safe_) {
    if (busy_.exchange(true)) throw EROChannelBusy("Channel is busy. Try again later.");
    busy = &busy_;
  }
  BusyGuard guard(busy);
  try {
    Exchange(parts, response);
  } catch (...) {
    connection_.reset();
    throw;
  }
  if (!keep_alive_) connection_.reset();
  response.Rewind();
}

void TROTCPChannel::Exchange(std::initializer_list<std::string_view> parts,
                             TROBinaryMemoryStream& response) {
  if (!connection_ || !connection_->Connected()) {
    std::unique_ptr<TROTCPConnection> spare = std::move(next_connection_);
    connection_ = spare && spare->Quiet() ? std::move(spare) : Connect();
  }
  connection_->WriteFrame(parts);
  if (connect_ahead_ && !keep_alive_) PrepareNextConnection();
  connection_->ReadFrame(response);
}

void TROTCPChannel::PrepareNextConnection() {
  try {
    next_connection_ = Connect();
  } catch (const std::exception&) {
    // The next call connects again and reports what fails then.
    next_connection_.reset();
  }
}

std::unique_ptr<TROTCPConnection> TROTCPChannel::Connect() {
  const bool secure = IsTlsTarget(host_);
  if (secure && !tls_) {
    throw ETlsError(Format("No TLS certificate is configured for the target \"%s\"", host_));
  }
  std::string address;
  int port = 0;
  ResolveTarget(host_, secure ? kDefaultTlsPort : port_, &address, &port);
  auto connection = TROTCPConnection::Connect(address, port);
  // A peer that dies mid-call is noticed in minutes instead of never.
  connection->SetKeepAlive();
  if (disable_nagle_) connection->SetNoDelay();
  if (secure) {
    std::string name = host_.substr(std::string_view(kTlsScheme).size());
    if (size_t colon = name.rfind(':'); colon != std::string::npos) name.resize(colon);
    connection->StartClientTls(tls_, name, port);
  }
  return connection;
}

}  // namespace vantry
