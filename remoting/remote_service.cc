#include "remoting/remote_service.h"

#include "remoting/ro_exception.h"

namespace vantry {

std::shared_ptr<TROProxy> TRORemoteService::CreateProxy(std::string_view interface_id) {
  TROProxyClass proxy_class = FindProxyClass(interface_id, /*quiet=*/true);
  if (proxy_class == nullptr) return nullptr;
  if (channel_ == nullptr) throw EROException(name_ + ".Channel must be assigned.");
  channel_->CheckProperties();
  if (message_ == nullptr) throw EROException(name_ + ".Message must be assigned.");
  message_->CheckProperties();
  return proxy_class(*this);
}

}  // namespace vantry
