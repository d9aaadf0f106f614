#include "tools/client_session.h"

#include <optional>

#include "tools/usage_error.h"

namespace vantry::client {

Session::Session(const std::string& target, const ClientTlsFiles& tls) {
  const bool secure = IsTlsTarget(target);
  const std::string server =
      secure ? target.substr(std::string_view(kTlsScheme).size()) : target;
  std::optional<HostAndPort> split = SplitHostAndPort(server);
  if (!split) {
    throw UsageError("the port in --server \"" + server + "\" must be a number from 1 to 65535");
  }
  if (split->host.empty()) throw UsageError("--server needs a host: HOST[:PORT]");
  target_ = target;
  channel_.SetHost(target);
  if (secure) tls_ = MakeClientTlsContext(tls);
  channel_.SetTlsContext(tls_);
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
