// TROProxy, the base of client proxies, and the registry of proxy classes by interface
// identifier. A proxy turns a method call into a request message, sends it through a channel
// and reads the response values (Call()). Contract modules register their proxy classes at
// start-up under the identifier of the interface, in its text form with braces
// ("{CEF57005-F7B8-4AB7-845A-4553E9E10280}"); identifiers are matched ignoring letter case.
//
// Ownership: a proxy refers to its message and channel without owning them; their creator keeps
// them alive while proxies exist.
// Thread safety: a proxy serves one thread at a time. The registry is filled at start-up and
// locks internally.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "remoting/message.h"
#include "remoting/tcp_channel.h"

namespace vantry {

class TRORemoteService;  // remoting/remote_service.h

class TROProxy {
 public:
  // A proxy using `message` itself for its calls.
  TROProxy(TROMessage& message, IROTransportChannel& channel);
  // As above, sending `interface_name` instead of the name the proxy class reports.
  TROProxy(std::string interface_name, TROMessage& message, IROTransportChannel& channel);
  // Takes message, channel and clone setting from `holder`.
  explicit TROProxy(TRORemoteService& holder);
  TROProxy(const TROProxy&) = delete;
  TROProxy& operator=(const TROProxy&) = delete;
  virtual ~TROProxy() = default;

  // The interface name sent with requests: the override when set, else the class's own.
  std::string InterfaceName() const;

 protected:
  // The name the proxy class reports, e.g. "VantryService".
  virtual const char* ProxyInterfaceName() const = 0;

  // One remote call: starts the request `operation` of `library_name` in the message for this
  // call (a clone when the clone flag is set), lets `write_in` write the In values, finalizes,
  // dispatches through the channel and lets `read_out` read the result and Out values. Always,
  // also on failure, unsets the message's attributes and releases its body. Errors of the
  // channel and exceptions sent back by the service pass through unchanged.
  void Call(std::string_view library_name, std::string_view operation,
            const std::function<void(IROMessage&)>& write_in,
            const std::function<void(IROMessage&)>& read_out);

 private:
  TROMessage& message_;
  IROTransportChannel& channel_;
  std::string interface_name_;
  bool clone_message_ = false;
};

// Creates a proxy of one class bound to a holder's message and channel.
using TROProxyClass = std::shared_ptr<TROProxy> (*)(TRORemoteService& holder);

// Adds `proxy_class` under `interface_id` unless the identifier is registered already (the first
// registration stays).
void RegisterProxyClass(std::string_view interface_id, TROProxyClass proxy_class);
void UnregisterProxyClass(std::string_view interface_id);
// The class registered for `interface_id`. When there is none: nullptr when `quiet`, otherwise
// EROException "Unknown proxy interface "%s"" with the identifier.
TROProxyClass FindProxyClass(std::string_view interface_id, bool quiet = false);

}  // namespace vantry
