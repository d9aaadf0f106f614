// The client's connection to one instance: a binary message, a TCP channel to HOST[:PORT]
// (default port 8090) or, written tls://HOST[:PORT], over TLS (default port 8091) with the
// operator's certificate, and the remote-service holder that yields the VantryService proxy. Each
// call of the proxy is one connection, as for every caller. Also the two requests that are not
// operations: the probe and the metadata request.
//
// Thread safety: one thread; one call at a time.
#pragma once

#include <memory>
#include <string>

#include "contract/VantryLibrary_Intf.h"
#include "remoting/message.h"
#include "remoting/remote_service.h"
#include "remoting/tcp_channel.h"
#include "tools/tls_setup.h"

namespace vantry::client {

// The server a command talks to unless --server names another: this machine, the default port.
inline const std::string kDefaultServer = "127.0.0.1:" + std::to_string(kDefaultPort);

// `server` as HOST:PORT (behind "tls://" for a TLS server), with the default port when it names
// none (for messages).
std::string ServerAddress(const std::string& server);

class Session {
 public:
  // `server` is "host", "host:port" or either behind "tls://". Needs the contract's
  // registrations (proxy class, arrays). Throws UsageError for an empty host, a port that is not
  // a number from 1 to 65535, an IPv6 address, or a tls:// server without a CA; ETlsError when
  // `tls` files cannot be loaded. Errors of the service arrive without the runtime's "An
  // exception was raised on the server: " prefix.
  explicit Session(const std::string& server, const ClientTlsFiles& tls = {});
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The proxy; throws EROException ".Host must be set." for an empty host.
  IVantryService& Service();
  // Sends the 5-byte probe; returns the answer ("PROBEDOK" from a live service).
  std::string Probe();
  // The service's contract document (the answer to an empty request).
  std::string ContractDocument();
  // The server as given, and the client context of a tls:// server (null otherwise), for the
  // fast transfer's own connections.
  const std::string& Target() const { return target_; }
  const std::shared_ptr<const TlsContext>& Tls() const { return tls_; }

 private:
  std::string Exchange(const std::string& request);

  std::string target_;
  std::shared_ptr<const TlsContext> tls_;
  TROBinMessage message_;
  TROTCPChannel channel_;
  TRORemoteService holder_;
  std::shared_ptr<IVantryService> service_;
};

}  // namespace vantry::client
