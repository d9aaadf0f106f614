// TRORemoteService: the holder that ties one message and one channel together and hands out
// client proxies for them, looked up in the proxy registry by interface identifier.
//
// Ownership: the holder owns neither message nor channel; their creator frees them after every
// proxy obtained from the holder is gone.
// Thread safety: one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "remoting/message.h"
#include "remoting/proxy.h"
#include "remoting/tcp_channel.h"

namespace vantry {

class TRORemoteService {
 public:
  TRORemoteService() = default;
  TRORemoteService(const TRORemoteService&) = delete;
  TRORemoteService& operator=(const TRORemoteService&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TROMessage* Message() const { return message_; }
  void SetMessage(TROMessage* message) { message_ = message; }
  IROTransportChannel* Channel() const { return channel_; }
  void SetChannel(IROTransportChannel* channel) { channel_ = channel; }
  // Whether proxies work on a copy of the message for every call (false by default).
  bool CloneMessage() const { return clone_message_; }
  void SetCloneMessage(bool on) { clone_message_ = on; }

  // A new proxy for the interface `interface_id` (text form with braces), or nullptr when no
  // proxy class is registered for it. Throws EROException ".Channel must be assigned.",
  // ".Host must be set.", ".Message must be assigned." (each after the component's name).
  std::shared_ptr<TROProxy> CreateProxy(std::string_view interface_id);

  // CreateProxy() as interface `I`; nullptr when the interface is not supported.
  template <typename I>
  std::shared_ptr<I> GetService(std::string_view interface_id) {
    return std::dynamic_pointer_cast<I>(CreateProxy(interface_id));
  }

 private:
  std::string name_;
  TROMessage* message_ = nullptr;
  IROTransportChannel* channel_ = nullptr;
  bool clone_message_ = false;
};

}  // namespace vantry
