// TLS sessions through OpenSSL. The library talks to the socket through a BIO of our own, so
// that reads can honour the handshake's deadline, a socket error comes back as the socket's own
// exception, and Quiet() and Close() can look at the socket without waiting.
#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/codepage.h"
#include "platform/tls.h"

namespace vantry {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A send that finds no buffer space waits this long for the socket, as plain frames do.
constexpr int kSendRetryMs = 10000;
// The records of one Send() go to the socket in batches of about this size, and after the
// handshake a read takes up to this much from the socket: a megabyte is a few system calls
// instead of 64 for 16 KiB records. Handshakes keep the library's small buffers.
constexpr size_t kBatchBytes = 256 * 1024;

constexpr char kTls13Suites[] =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
// TLS 1.2, when allowed: forward secrecy and AEAD only.
constexpr char kTls12Ciphers[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
constexpr unsigned char kSessionIdContext[] = "vantry";
// Sessions a server keeps for resumption (each a few KiB with the caller's certificate); the
// oldest go first.
constexpr long kServerSessionCacheSize = 4096;

// What the BIO of one session works with.
struct BioState {
  Socket* socket = nullptr;
  std::optional<SteadyClock::time_point> deadline;  // reads give up at this point
  bool no_wait = false;                             // neither reads nor writes wait
  bool batching = false;  // writes collect in `batch` until the caller's Send() flushes them
  std::string batch;
  bool timed_out = false;
  std::exception_ptr error;  // what the socket raised; the library only sees a failed call

  void Reset() {
    timed_out = false;
    error = nullptr;
  }
};

BioState* StateOf(BIO* bio) { return static_cast<BioState*>(BIO_get_data(bio)); }

// Sends all of `data`, waiting out a lack of buffer space; throws the socket's errors.
void SendAll(BioState* state, const char* data, size_t length, bool more) {
  while (length > 0) {
    size_t n = 0;
    try {
      n = state->socket->Send(data, length, more);
    } catch (const ESocketError& error) {
      bool no_space = error.Code() == kWsaNoBufferSpace;
      if (!no_space || state->no_wait || !state->socket->WaitWritable(kSendRetryMs)) throw;
      continue;
    }
    if (n == 0) throw EConnClosedGracefully(kConnClosedGracefully);
    data += n;
    length -= n;
  }
}

// Sends what the batch holds; `more` as for the socket.
void FlushBatch(BioState* state, bool more) {
  if (state->batch.empty()) return;
  std::string batch = std::move(state->batch);
  state->batch.clear();
  SendAll(state, batch.data(), batch.size(), more);
  state->batch = std::move(batch);  // keeps its capacity for the next records
  state->batch.clear();
}

int BioWrite(BIO* bio, const char* data, int length) {
  BioState* state = StateOf(bio);
  BIO_clear_retry_flags(bio);
  try {
    if (state->batching) {
      state->batch.append(data, static_cast<size_t>(length));
      if (state->batch.size() >= kBatchBytes) FlushBatch(state, true);
      return length;
    }
    if (state->no_wait && !state->socket->WaitWritable(0)) {
      BIO_set_retry_write(bio);
      return -1;
    }
    SendAll(state, data, static_cast<size_t>(length), false);
    return length;
  } catch (...) {
    state->error = std::current_exception();
    return -1;
  }
}

// Waits until the socket is readable or the deadline passes; false at the deadline.
bool WaitForData(BioState* state) {
  if (!state->deadline) return true;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*state->deadline -
                                                                      SteadyClock::now());
    if (left.count() <= 0) return false;
    if (state->socket->WaitReadable(static_cast<int>(left.count()) + 1)) return true;
  }
}

int BioRead(BIO* bio, char* out, int length) {
  BioState* state = StateOf(bio);
  BIO_clear_retry_flags(bio);
  try {
    if (state->no_wait && !state->socket->WaitReadable(0)) {
      BIO_set_retry_read(bio);
      return -1;
    }
    if (!state->no_wait && !WaitForData(state)) {
      state->timed_out = true;
      return -1;
    }
    return static_cast<int>(state->socket->Receive(out, static_cast<size_t>(length)));
  } catch (...) {
    state->error = std::current_exception();
    return -1;
  }
}

long BioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vantry socket");
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_ctrl(m, BioControl);
    return m;
  }();
  return method;
}

// The reason of the earliest error in the library's queue (the most specific one), and empties
// the queue.
std::string LibraryReason() {
  unsigned long first = ERR_get_error();
  ERR_clear_error();
  const char* reason = first != 0 ? ERR_reason_error_string(first) : nullptr;
  return reason != nullptr ? reason : "unknown error";
}

std::string Utf8(const ASN1_STRING* text) {
  unsigned char* out = nullptr;
  int n = ASN1_STRING_to_UTF8(&out, text);
  if (n < 0) return "";
  std::string result(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return result;
}

std::string CommonName(const X509* certificate) {
  const X509_NAME* subject = X509_get_subject_name(certificate);
  int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
  if (index < 0) return "";
  return Utf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
}

// The names a certificate answers to: its subject CNs, DNS names and IP addresses (as text).
std::vector<std::string> CertificateNames(X509* certificate) {
  std::vector<std::string> names;
  const X509_NAME* subject = X509_get_subject_name(certificate);
  for (int i = -1; (i = X509_NAME_get_index_by_NID(subject, NID_commonName, i)) >= 0;) {
    names.push_back(Utf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i))));
  }
  auto* alt_names = static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; i < sk_GENERAL_NAME_num(alt_names); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(alt_names, i);
    if (name->type == GEN_DNS) {
      names.push_back(Utf8(name->d.dNSName));
    } else if (name->type == GEN_IPADD) {
      const ASN1_OCTET_STRING* ip = name->d.iPAddress;
      char text[INET6_ADDRSTRLEN] = {};
      int family = ASN1_STRING_length(ip) == 4 ? AF_INET : AF_INET6;
      if (ASN1_STRING_length(ip) == 4 || ASN1_STRING_length(ip) == 16) {
        inet_ntop(family, ASN1_STRING_get0_data(ip), text, sizeof(text));
        names.push_back(text);
      }
    }
  }
  GENERAL_NAMES_free(alt_names);
  return names;
}

bool NameAllowed(X509* certificate, const std::vector<std::string>& allowed) {
  if (allowed.empty()) return true;
  for (const std::string& name : CertificateNames(certificate)) {
    for (const std::string& entry : allowed) {
      if (AnsiSameText(name, entry)) return true;
    }
  }
  return false;
}

// The words of a failed certificate check, as the operator's texts use them.
std::string VerifyReason(long result) {
  switch (result) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return "unknown CA";
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "not yet valid";
    case X509_V_ERR_APPLICATION_VERIFICATION:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "name not allowed";
    default:
      return X509_verify_cert_error_string(result);
  }
}

// The reason a peer gave in its alert, when the library's error is an alert; nullopt otherwise.
std::optional<std::string> AlertReason(int reason) {
  switch (reason) {
    case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
      return "unknown CA";
    case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
      return "expired";
    case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
      return "no certificate";
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
      return "name not allowed";
    case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
      return "bad certificate";
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
      return "no common TLS version";
    default:
      return std::nullopt;
  }
}

// The server's check of a caller's certificate: the CA's verdict, then the allow-list of names,
// so that a name not on it fails the handshake like any other refused certificate.
int VerifyCaller(int preverify_ok, X509_STORE_CTX* store) {
  if (!preverify_ok || X509_STORE_CTX_get_error_depth(store) != 0) return preverify_ok;
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* context = static_cast<const TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (NameAllowed(X509_STORE_CTX_get_current_cert(store), context->Config().allowed_peer_names)) {
    return 1;
  }
  X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
  return 0;
}

[[noreturn]] void RaiseLoadError(const char* what, const std::string& path) {
  throw ETlsError(Format("Cannot load TLS %s \"%s\": %s", what, path, LibraryReason()));
}

}  // namespace

struct TlsContext::Impl {
  SSL_CTX* ctx = nullptr;
  std::mutex sessions_mutex;
  std::map<std::string, SSL_SESSION*> sessions;  // GUARDED_BY(sessions_mutex): client, per server

  ~Impl() {
    for (auto& [server, session] : sessions) SSL_SESSION_free(session);
    SSL_CTX_free(ctx);
  }

  // A new session ticket from a server; the session's key is the stream's server label.
  static int RememberSession(SSL* ssl, SSL_SESSION* session) {
    auto* context = static_cast<TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    const auto* server = static_cast<const std::string*>(SSL_get_app_data(ssl));
    if (context == nullptr || server == nullptr) return 0;
    Impl& impl = *context->impl_;
    std::lock_guard<std::mutex> lock(impl.sessions_mutex);
    SSL_SESSION*& slot = impl.sessions[*server];
    if (slot != nullptr) SSL_SESSION_free(slot);
    slot = session;
    return 1;  // the session is ours now
  }

  // The last session with `server`, with a reference for the caller; nullptr when none.
  SSL_SESSION* SessionFor(const std::string& server) {
    std::lock_guard<std::mutex> lock(sessions_mutex);
    auto found = sessions.find(server);
    if (found == sessions.end() || !SSL_SESSION_is_resumable(found->second)) return nullptr;
    SSL_SESSION_up_ref(found->second);
    return found->second;
  }
};

TlsContext::TlsContext(TlsRole role, const TlsConfig& config)
    : role_(role), config_(config), impl_(std::make_unique<Impl>()) {
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(role == TlsRole::kServer ? TLS_server_method() : TLS_client_method());
  if (ctx == nullptr) throw ETlsError("Cannot create a TLS context: " + LibraryReason());
  impl_->ctx = ctx;
  SSL_CTX_set_app_data(ctx, this);
  SSL_CTX_set_min_proto_version(ctx, config.allow_tls12 ? TLS1_2_VERSION : TLS1_3_VERSION);
  SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
  SSL_CTX_set_ciphersuites(ctx, kTls13Suites);
  SSL_CTX_set_cipher_list(ctx, kTls12Ciphers);
  // A peer that drops the connection without TLS's close is treated as a plain close: frames
  // carry their own length, so a cut-off frame is noticed there.
  SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                               SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_IGNORE_UNEXPECTED_EOF);
  // Idle sessions and stalled handshakes hold no record buffers.
  SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
  SSL_CTX_set_read_ahead(ctx, 1);

  // A client may go without a certificate of its own (servers then refuse it, as they should).
  if (role == TlsRole::kServer || !config.certificate_file.empty()) {
    if (SSL_CTX_use_certificate_chain_file(ctx, config.certificate_file.c_str()) != 1) {
      RaiseLoadError("certificate", config.certificate_file);
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, config.key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
      RaiseLoadError("key", config.key_file);
    }
    if (SSL_CTX_check_private_key(ctx) != 1) {
      ERR_clear_error();
      throw ETlsError(Format("TLS key \"%s\" does not belong to certificate \"%s\"",
                             config.key_file, config.certificate_file));
    }
  }
  if (SSL_CTX_load_verify_locations(ctx, config.ca_file.c_str(), nullptr) != 1) {
    RaiseLoadError("CA file", config.ca_file);
  }
  if (role == TlsRole::kServer) {
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(config.ca_file.c_str());
    if (names != nullptr) SSL_CTX_set_client_CA_list(ctx, names);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, VerifyCaller);
    SSL_CTX_set_session_id_context(ctx, kSessionIdContext, sizeof(kSessionIdContext) - 1);
    // Sessions stay in this context's memory and tickets only name them: resuming a session
    // then costs no decoding of the caller's certificate from the ticket, which in this library
    // costs more than the rest of the handshake. A reload makes a new context, and every caller
    // is checked against the new names by a full handshake.
    SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_SERVER);
    SSL_CTX_sess_set_cache_size(ctx, kServerSessionCacheSize);
    // One ticket per connection: a caller resumes with the latest.
    SSL_CTX_set_num_tickets(ctx, 1);
  } else {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, &Impl::RememberSession);
  }
  ERR_clear_error();
}

TlsContext::~TlsContext() = default;

struct TlsStream::Impl {
  std::shared_ptr<const TlsContext> context;
  BioState state;
  SSL* ssl = nullptr;
  std::string server;   // client: "host:port", the key of its resumable session
  bool broken = false;  // a fatal error happened: no TLS close may follow

  Impl(std::shared_ptr<const TlsContext> ctx, Socket& socket) : context(std::move(ctx)) {
    state.socket = &socket;
    ssl = SSL_new(context->impl_->ctx);
    if (ssl == nullptr) throw ETlsError("Cannot create a TLS session: " + LibraryReason());
    BIO* bio = BIO_new(SocketBioMethod());
    if (bio == nullptr) {
      SSL_free(ssl);
      throw ETlsError("Cannot create a TLS session: " + LibraryReason());
    }
    BIO_set_data(bio, &state);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
  }
  ~Impl() {
    // The library forgets the session of a connection freed without TLS's close, as if it had
    // failed; one that simply ended keeps it for resumption.
    if (!broken && SSL_is_init_finished(ssl)) SSL_set_shutdown(ssl, SSL_SENT_SHUTDOWN);
    SSL_free(ssl);
  }

  bool IsClient() const { return context->Role() == TlsRole::kClient; }

  // Why the last call failed, in the operator's words.
  std::string Reason(int result) {
    if (state.timed_out) return "timed out: no TLS answer within the handshake's time limit";
    int error = SSL_get_error(ssl, result);
    unsigned long code = ERR_peek_error();
    if (code != 0 && ERR_GET_LIB(code) == ERR_LIB_SSL) {
      if (std::optional<std::string> alert = AlertReason(ERR_GET_REASON(code))) {
        ERR_clear_error();
        return (IsClient() ? "the server refused this client's certificate: "
                           : "the caller refused this server's certificate: ") +
               *alert;
      }
      if (ERR_GET_REASON(code) == SSL_R_CERTIFICATE_VERIFY_FAILED) {
        ERR_clear_error();
        return (IsClient() ? "the server's certificate was refused: "
                           : "the caller's certificate was refused: ") +
               VerifyReason(SSL_get_verify_result(ssl));
      }
      if (ERR_GET_REASON(code) == SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE) {
        ERR_clear_error();
        return "the caller sent no certificate: no certificate";
      }
    }
    if (state.error) {
      try {
        std::rethrow_exception(state.error);
      } catch (const std::exception& e) {
        ERR_clear_error();
        return std::string("connection failed: ") + e.what();
      }
    }
    if (error == SSL_ERROR_ZERO_RETURN || error == SSL_ERROR_SYSCALL) {
      ERR_clear_error();
      return "the peer closed the connection";
    }
    return "not TLS or not acceptable: " + LibraryReason();
  }

  // Raises the failure of a handshake (or of the first records after it, where TLS 1.3 tells a
  // client that its certificate was refused).
  [[noreturn]] void RaiseHandshakeFailure(int result) {
    broken = true;
    std::string reason = Reason(result);
    for (char& c : reason) c = c == '\r' || c == '\n' ? ' ' : c;
    if (IsClient()) throw ETlsError(Format("TLS handshake with %s failed: %s", server, reason));
    throw ETlsError("TLS handshake failed: " + reason);
  }

  // A failed read or write after the handshake: the socket's own error when the connection
  // broke, else the TLS reason.
  [[noreturn]] void RaiseFailure(int result) {
    broken = true;
    if (state.error && ERR_peek_error() == 0) {
      // A client's write can fail because the server refused its certificate and closed: the
      // server's alert may be waiting to be read, and it says more than the broken pipe.
      std::exception_ptr socket_error = state.error;
      state.Reset();
      state.no_wait = true;
      char byte;
      size_t n = 0;
      int peeked = SSL_peek_ex(ssl, &byte, 1, &n);
      state.no_wait = false;
      unsigned long code = ERR_peek_error();
      if (IsClient() && code != 0 && AlertReason(ERR_GET_REASON(code))) {
        RaiseHandshakeFailure(peeked);
      }
      ERR_clear_error();
      std::rethrow_exception(socket_error);
    }
    RaiseHandshakeFailure(result);
  }

  void Handshake(int timeout_ms) {
    state.Reset();
    state.deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    ERR_clear_error();
    int result = SSL_do_handshake(ssl);
    if (result != 1) RaiseHandshakeFailure(result);
    state.deadline.reset();
    SSL_set_default_read_buffer_len(ssl, kBatchBytes);
  }
};

TlsStream::TlsStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TlsStream::~TlsStream() = default;

std::unique_ptr<TlsStream> TlsStream::Accept(std::shared_ptr<const TlsContext> context,
                                             Socket& socket, int timeout_ms) {
  auto impl = std::make_unique<Impl>(std::move(context), socket);
  SSL_set_accept_state(impl->ssl);
  impl->Handshake(timeout_ms);
  return std::unique_ptr<TlsStream>(new TlsStream(std::move(impl)));
}

std::unique_ptr<TlsStream> TlsStream::Connect(std::shared_ptr<const TlsContext> context,
                                              Socket& socket, const std::string& host, int port,
                                              int timeout_ms) {
  auto impl = std::make_unique<Impl>(std::move(context), socket);
  SSL* ssl = impl->ssl;
  impl->server = Format("%s:%d", host, port);
  SSL_set_app_data(ssl, &impl->server);
  SSL_set_connect_state(ssl);
  const std::string name = AnsiSameText(host, "localhost") ? "localhost" : host;
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  if (IsDottedIPv4(name)) {
    X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, name.c_str());
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    X509_VERIFY_PARAM_set1_host(param, name.c_str(), 0);
  }
  if (SSL_SESSION* session = impl->context->impl_->SessionFor(impl->server)) {
    SSL_set_session(ssl, session);
    SSL_SESSION_free(session);
  }
  impl->Handshake(timeout_ms);
  return std::unique_ptr<TlsStream>(new TlsStream(std::move(impl)));
}

size_t TlsStream::Receive(void* dest, size_t count) {
  if (count == 0) return 0;
  impl_->state.Reset();
  size_t n = 0;
  int result = SSL_read_ex(impl_->ssl, dest, count, &n);
  if (result == 1) return n;
  if (SSL_get_error(impl_->ssl, result) == SSL_ERROR_ZERO_RETURN) return 0;
  impl_->RaiseFailure(result);
}

size_t TlsStream::ReceiveAll(void* dest, size_t count) {
  char* out = static_cast<char*>(dest);
  size_t done = 0;
  while (done < count) {
    size_t n = Receive(out + done, count - done);
    if (n == 0) break;
    done += n;
  }
  return done;
}

size_t TlsStream::Send(std::span<const std::string_view> parts) {
  size_t total = 0;
  // A frame's length goes out as a record of its own; like a plain frame's length, it waits in
  // the batch for the payload's records instead of crossing the network alone (where Nagle's
  // algorithm would hold the payload back for the peer's acknowledgement).
  BioState& state = impl_->state;
  state.batching = true;
  for (std::string_view part : parts) {
    for (size_t done = 0; done < part.size();) {
      state.Reset();
      size_t n = 0;
      int result = SSL_write_ex(impl_->ssl, part.data() + done, part.size() - done, &n);
      if (result != 1) {
        state.batching = false;
        state.batch.clear();
        impl_->RaiseFailure(result);
      }
      done += n;
    }
    total += part.size();
  }
  state.batching = false;
  try {
    FlushBatch(&state, false);
  } catch (...) {
    impl_->broken = true;
    state.batch.clear();
    throw;
  }
  return total;
}

bool TlsStream::Quiet() {
  if (impl_->broken) return false;
  if (SSL_pending(impl_->ssl) > 0) return false;
  impl_->state.Reset();
  impl_->state.no_wait = true;
  char byte;
  size_t n = 0;
  int result = SSL_peek_ex(impl_->ssl, &byte, 1, &n);
  impl_->state.no_wait = false;
  bool quiet = result != 1 && SSL_get_error(impl_->ssl, result) == SSL_ERROR_WANT_READ &&
               !impl_->state.error;
  ERR_clear_error();
  return quiet;
}

void TlsStream::Close() {
  if (impl_->broken || !SSL_is_init_finished(impl_->ssl)) return;
  impl_->state.Reset();
  impl_->state.no_wait = true;
  SSL_shutdown(impl_->ssl);
  impl_->state.no_wait = false;
  impl_->broken = true;
  ERR_clear_error();
}

std::string TlsStream::PeerName() const {
  X509* peer = SSL_get0_peer_certificate(impl_->ssl);
  return peer != nullptr ? CommonName(peer) : "";
}

bool TlsStream::Resumed() const { return SSL_session_reused(impl_->ssl) == 1; }

}  // namespace vantry
