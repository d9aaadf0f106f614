// TLS for the remote-call transports: a context (this side's certificate and key, the CA a peer
// must be signed by, the names a server admits) and a TLS session over a connected Socket. The
// service uses TLS 1.3 only unless a setting allows 1.2 as well, and both sides authenticate:
// the server asks every caller for a certificate, and the client checks the server's against the
// CA and the host name it dialled.
//
// A handshake must finish within its time limit (kTlsHandshakeTimeoutMs) or the session fails;
// after the handshake reads wait as long as plain reads do. A session keeps no buffer of its own
// while it is idle, so thousands of open or stalled handshakes stay cheap.
//
// Failures are ETlsError with one line that names the reason ("unknown CA", "name not allowed",
// "expired", "no certificate"), or the socket's own errors (ESocketError, EConnClosedGracefully)
// when the connection itself breaks.
//
// Thread safety: a TlsContext is immutable once made and may be shared by any number of threads
// and sessions (the client's cache of sessions to resume locks itself); it stays alive as long as
// a session made from it. A TlsStream belongs to the thread that owns its socket.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_stream.h"
#include "platform/socket.h"

namespace vantry {

// A TLS handshake or record failed, or the TLS files could not be loaded.
VANTRY_EXCEPTION(ETlsError, ENetError);

inline constexpr int kTlsHandshakeTimeoutMs = 10000;

enum class TlsRole { kServer, kClient };

struct TlsConfig {
  // PEM: this side's certificate, followed by any intermediates; a client may leave it (and the
  // key) empty and present none.
  std::string certificate_file;
  std::string key_file;  // PEM: its private key
  std::string ca_file;   // PEM: the CA certificates a peer's certificate must chain to
  // Server only: the caller names admitted, each matched against the certificate's subject CN
  // and its DNS and IP alternative names (DNS names and CN without regard to case). Empty: every
  // certificate the CA signed.
  std::vector<std::string> allowed_peer_names = {};
  bool allow_tls12 = false;  // accept TLS 1.2 besides 1.3
};

class TlsContext {
 public:
  // Loads the files. Throws ETlsError "Cannot load TLS %s \"%s\": %s" (certificate, key or CA
  // file, its path, the library's reason) or "TLS key \"%s\" does not belong to certificate
  // \"%s\"".
  TlsContext(TlsRole role, const TlsConfig& config);
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;
  ~TlsContext();

  TlsRole Role() const { return role_; }
  const TlsConfig& Config() const { return config_; }

 private:
  friend class TlsStream;
  struct Impl;

  const TlsRole role_;
  const TlsConfig config_;
  std::unique_ptr<Impl> impl_;
};

class TlsStream : public ByteStream {
 public:
  // The server's handshake with the caller on `socket`, which must stay open and outlive the
  // stream. Throws ETlsError naming the reason (no certificate, unknown CA, expired, name not
  // allowed, not TLS, timed out); the caller then closes the socket.
  static std::unique_ptr<TlsStream> Accept(std::shared_ptr<const TlsContext> context,
                                           Socket& socket, int timeout_ms);
  // The client's handshake with the server `host` ("localhost", a dotted address or a DNS
  // name; the server's certificate must name it) at `port`, resuming the last session with that
  // server when the context has one. Throws ETlsError with "TLS handshake with %s:%d failed: "
  // and the reason.
  static std::unique_ptr<TlsStream> Connect(std::shared_ptr<const TlsContext> context,
                                            Socket& socket, const std::string& host, int port,
                                            int timeout_ms);
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;
  ~TlsStream() override;

  size_t Receive(void* dest, size_t count) override;
  size_t ReceiveAll(void* dest, size_t count) override;
  // Sends all of `parts` (TLS records are written whole) and returns their total size.
  size_t Send(std::span<const std::string_view> parts) override;

  // True while nothing has come from the peer but TLS's own messages (session tickets): no data
  // and no close. Does not wait.
  bool Quiet();
  // Sends the TLS close if the socket takes it at once; never waits and never throws.
  void Close();

  // The subject CN of the peer's certificate; "" when it has none.
  std::string PeerName() const;
  // Whether the handshake resumed an earlier session instead of a full one.
  bool Resumed() const;

 private:
  struct Impl;
  explicit TlsStream(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

}  // namespace vantry
