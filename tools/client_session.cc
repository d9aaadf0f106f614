#include "tools/client_session.h"

#include <algorithm>
#include <optional>

#include "tools/usage_error.h"

namespace vantry::client {

std::string ServerAddress(const std::string& target) {
  const bool secure = IsTlsTarget(target);
  const std::string server = secure ? target.substr(std::string_view(kTlsScheme).size()) : target;
  std::optional<HostAndPort> split = SplitHostAndPort(server);
  if (!split || split->port) return target;
  return target + ":" + std::to_string(secure ? kDefaultTlsPort : kDefaultPort);
}

Session::Session(const std::string& target, const ClientTlsFiles& tls) {
  const bool secure = IsTlsTarget(target);
  const std::string server = secure ? target.substr(std::string_view(kTlsScheme).size()) : target;
  // "[::1]:8090", "::1": the service and its callers speak IPv4 only.
  if (server.find('[') != std::string::npos || std::count(server.begin(), server.end(), ':') > 1) {
    throw UsageError("--server \"" + target +
                     "\": IPv4 only: give an IPv4 address or a host name, HOST[:PORT]");
  }
  std::optional<HostAndPort> split = SplitHostAndPort(server);
  if (!split) {
    throw UsageError("the port in --server \"" + server + "\" must be a number from 1 to 65535");
  }
  if (split->host.empty()) throw UsageError("--server needs a host: HOST[:PORT]");
  target_ = target;
  channel_.SetHost(target);
  if (secure) tls_ = MakeClientTlsContext(tls);
  channel_.SetTlsContext(tls_);
  // The error line says where an error came from; the runtime's prefix would say it twice.
  message_.SetAddServerExceptionPrefix(false);
  holder_.SetMessage(&message_);
  holder_.SetChannel(&channel_);
}

IVantryService& Session::Service() {
  if (!service_) service_ = holder_.GetService<IVantryService>(kIVantryServiceGuid);
  return *service_;
}

std::string Session::Exchange(const std::string& request) {
  channel_.CheckProperties();
  TROBinaryMemoryStream out(request), in;
  channel_.DispatchStreams(out, in);
  return in.ToString();
}

std::string Session::Probe() { return Exchange("PROBE"); }

std::string Session::ContractDocument() { return Exchange(""); }

}  // namespace vantry::client
