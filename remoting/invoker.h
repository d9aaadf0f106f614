// TROInvoker, the invoker base: runs one call on an implementation object by the handler whose
// name is "Invoke_" followed by the message name (InvokeOperation). Handlers are published in
// tables, one per invoker class; the lookup walks the most derived class's table first, then
// its ancestors', comparing names whose bytes may differ in bit 5 only (ASCII letter case).
//
// A service's invoker derives from TROInvoker and publishes its table in its constructor:
//
//   class TMyService_Invoker : public TROInvoker {
//    public:
//     TMyService_Invoker() { PublishHandlers(kHandlers); }
//    private:
//     static void Invoke_Ping(TRORemotable& instance, IROMessage& message,
//                             IROTransport& transport, TROResponseOptions& options);
//     static constexpr TROHandlerEntry kHandlers[] = {{"Invoke_Ping", &Invoke_Ping}};
//   };
//
// The base publishes the five event handlers; this runtime offers no event delivery, so they end
// in "Interface not supported" once their parameters are read.
//
// Thread safety: an invoker keeps no per-call state; after construction it is only read, so one
// invoker serves any number of connection threads at once.
#pragma once

#include <cstdint>
#include <exception>
#include <span>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "remoting/message.h"
#include "remoting/remotable.h"
#include "remoting/transport.h"

namespace vantry {

class IROClassFactory;  // remoting/class_factory.h

// Flags that dispatch hands back to the transport with each response.
using TROResponseOptions = uint8_t;
inline constexpr TROResponseOptions kResponseNoResponse = 0x01;   // the caller need not be answered
inline constexpr TROResponseOptions kResponsePlainOutput = 0x02;  // not a binary message

using TROInvokeHandler = void (*)(TRORemotable& instance, IROMessage& message,
                                  IROTransport& transport, TROResponseOptions& options);

struct TROHandlerEntry {
  const char* name;  // "Invoke_" followed by the message name
  TROInvokeHandler handler;
};

// The interface `I` of an implementation object; throws EIntfCastError "Interface not supported"
// when the object does not offer it.
template <typename I>
I& InterfaceOf(TRORemotable& instance) {
  if (auto* found = dynamic_cast<I*>(&instance)) return *found;
  throw EIntfCastError("Interface not supported");
}

// The event-receiving interface that the base handlers need; no implementation object of this
// runtime offers it.
class IROEventReceiver {
 public:
  virtual ~IROEventReceiver() = default;
};

class TROInvoker {
 public:
  TROInvoker();
  TROInvoker(const TROInvoker&) = delete;
  TROInvoker& operator=(const TROInvoker&) = delete;
  virtual ~TROInvoker() = default;

  // An abstract invoker refuses every call.
  bool Abstract() const { return abstract_; }

  // The whole call: finds the handler for the message name, creates the implementation object
  // through `factory`, runs the hooks and the handler, and releases the object, also on failure.
  // Returns true; every failure is raised (EROException "Unknown method %s for interface %s",
  // "Class factory did not return an instance of "%s"", "Interface "%s" is declared as an
  // abstract service.", or whatever the handler raises).
  virtual bool InvokeOperation(IROClassFactory& factory, IROMessage& message,
                               IROTransport& transport, TROResponseOptions& options);

  // The handler published under `name` (compared as described above); nullptr when none.
  TROInvokeHandler FindHandler(std::string_view name) const;

 protected:
  // Called by derived constructors: `table` belongs to the more derived class and is searched
  // before the tables published earlier. The entries must outlive the invoker.
  void PublishHandlers(std::span<const TROHandlerEntry> table);
  void SetAbstract(bool abstract) { abstract_ = abstract; }

  // Around every handler; `error` is set when the handler failed.
  virtual void BeforeInvoke(TRORemotable& /*instance*/, IROMessage& /*message*/) {}
  virtual void AfterInvoke(TRORemotable& /*instance*/, IROMessage& /*message*/, std::exception_ptr /*error*/) {}

 private:
  std::vector<std::span<const TROHandlerEntry>> tables_;  // most derived first
  bool abstract_ = false;
};

// True when `a` and `b` have the same length and each pair of bytes differs at most in bit 5.
bool SameHandlerName(std::string_view a, std::string_view b);

}  // namespace vantry
