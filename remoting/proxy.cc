#include "remoting/proxy.h"

#include <utility>
#include <vector>

#include "remoting/ascii_text.h"
#include "remoting/process_registry.h"
#include "remoting/remote_service.h"
#include "remoting/ro_exception.h"

namespace vantry {
namespace {

struct ProxyClasses {
  std::vector<std::pair<std::string, TROProxyClass>> classes;
};
using Registry = ProcessRegistry<ProxyClasses>;

TROProxyClass FindLocked(const ProxyClasses& registry, std::string_view interface_id) {
  for (const auto& [id, proxy_class] : registry.classes) {
    if (AsciiSameText(id, interface_id)) return proxy_class;
  }
  return nullptr;
}

}  // namespace

TROProxy::TROProxy(TROMessage& message, IROTransportChannel& channel)
    : message_(message), channel_(channel) {}

TROProxy::TROProxy(std::string interface_name, TROMessage& message, IROTransportChannel& channel)
    : message_(message), channel_(channel), interface_name_(std::move(interface_name)) {}

TROProxy::TROProxy(TRORemoteService& holder)
    : message_(*holder.Message()),
      channel_(*holder.Channel()),
      clone_message_(holder.CloneMessage()) {}

std::string TROProxy::InterfaceName() const {
  return interface_name_.empty() ? ProxyInterfaceName() : interface_name_;
}

void TROProxy::Call(std::string_view library_name, std::string_view operation,
                    const std::function<void(IROMessage&)>& write_in,
                    const std::function<void(IROMessage&)>& read_out) {
  std::shared_ptr<TROMessage> clone = clone_message_ ? message_.Clone() : nullptr;
  TROMessage& message = clone ? *clone : message_;
  // The In values stay alive and unchanged until Dispatch returns: large ones need no copy.
  message.SetLendBinaries(true);
  try {
    message.InitializeRequestMessage(&channel_, library_name, InterfaceName(), operation);
    if (write_in) write_in(message);
    message.Finalize();
    channel_.Dispatch(message);
    message.SetLendBinaries(false);
    if (read_out) read_out(message);
  } catch (...) {
    message.SetLendBinaries(false);
    message.UnsetAttributes(&channel_);
    message.FreeStream();
    throw;
  }
  message.UnsetAttributes(&channel_);
  message.FreeStream();
}

void RegisterProxyClass(std::string_view interface_id, TROProxyClass proxy_class) {
  Registry::Update([&](ProxyClasses& registry) {
    if (FindLocked(registry, interface_id) == nullptr) {
      registry.classes.emplace_back(std::string(interface_id), proxy_class);
    }
  });
}

void UnregisterProxyClass(std::string_view interface_id) {
  Registry::Update([&](ProxyClasses& registry) {
    std::erase_if(registry.classes,
                  [&](const auto& entry) { return AsciiSameText(entry.first, interface_id); });
  });
}

TROProxyClass FindProxyClass(std::string_view interface_id, bool quiet) {
  TROProxyClass found = Registry::Read(
      [&](const ProxyClasses& registry) { return FindLocked(registry, interface_id); });
  if (found == nullptr && !quiet) {
    throw EROException(Format("Unknown proxy interface \"%s\"", interface_id));
  }
  return found;
}

}  // namespace vantry
