#include "remoting/invoker.h"

#include <algorithm>
#include <string>

#include "platform/event_log.h"
#include "remoting/class_factory.h"
#include "remoting/ro_exception.h"

namespace vantry {
namespace {

constexpr std::string_view kHandlerPrefix = "Invoke_";
constexpr size_t kMaxHandlerName = 255;

// Event registration: reads the client id and the event types, then needs the event interface.
void RegisterEventClient(TRORemotable& instance, IROMessage& message, IROTransport& /*transport*/,
                         TROResponseOptions& /*options*/) {
  std::string client_id;
  std::string event_types;
  message.Read("ClientID", client_id);
  message.Read("EventTypes", event_types);
  InterfaceOf<IROEventReceiver>(instance);
}

void GetEventsData(TRORemotable& instance, IROMessage& message, IROTransport& /*transport*/,
                   TROResponseOptions& /*options*/) {
  std::string client_id;
  message.Read("ClientID", client_id);
  InterfaceOf<IROEventReceiver>(instance);
}

constexpr TROHandlerEntry kBaseHandlers[] = {
    {"Invoke_RegisterEventClient", &RegisterEventClient},
    {"Invoke_UnregisterEventClient", &RegisterEventClient},
    {"Invoke_RegisterClient", &RegisterEventClient},
    {"Invoke_UnregisterClient", &RegisterEventClient},
    {"Invoke_GetEventsData", &GetEventsData},
};

}  // namespace

bool SameHandlerName(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return ((x ^ y) & ~0x20) == 0; });
}

TROInvoker::TROInvoker() { PublishHandlers(kBaseHandlers); }

void TROInvoker::PublishHandlers(std::span<const TROHandlerEntry> table) {
  tables_.insert(tables_.begin(), table);
}

TROInvokeHandler TROInvoker::FindHandler(std::string_view name) const {
  for (const auto& table : tables_) {
    for (const TROHandlerEntry& entry : table) {
      if (SameHandlerName(entry.name, name)) return entry.handler;
    }
  }
  return nullptr;
}

bool TROInvoker::InvokeOperation(IROClassFactory& factory, IROMessage& message,
                                 IROTransport& transport, TROResponseOptions& options) {
  if (abstract_) {
    throw EROException(
        Format("Interface \"%s\" is declared as an abstract service.", factory.GetInterfaceName()));
  }
  std::string message_name = message.GetMessageName();
  std::string handler_name = std::string(kHandlerPrefix) + message_name;
  if (handler_name.size() > kMaxHandlerName) handler_name.resize(kMaxHandlerName);
  TROInvokeHandler handler = FindHandler(handler_name);
  if (handler == nullptr) {
    throw EROException(
        Format("Unknown method %s for interface %s", message_name, factory.GetInterfaceName()));
  }
  Guid client_id = message.GetClientID();
  std::shared_ptr<TRORemotable> instance = factory.CreateInstance(client_id);
  if (!instance) {
    throw EROException(
        Format("Class factory did not return an instance of \"%s\"", message.GetInterfaceName()));
  }
  try {
    BeforeInvoke(*instance, message);
    handler(*instance, message, transport, options);
  } catch (...) {
    std::exception_ptr error = std::current_exception();
    try {
      AfterInvoke(*instance, message, error);
    } catch (...) {
      // The handler's error is the one the caller must see; this one only goes to the log.
      WriteDebugLog("AfterInvoke failed after a failed call: " + CurrentExceptionText());
    }
    factory.ReleaseInstance(client_id, instance);
    std::rethrow_exception(error);
  }
  try {
    AfterInvoke(*instance, message, nullptr);
  } catch (...) {
    factory.ReleaseInstance(client_id, instance);
    throw;
  }
  factory.ReleaseInstance(client_id, instance);
  return true;
}

}  // namespace vantry
