// The server side of the Vantry contract: TVantryService_Invoker, whose 30 handlers
// "Invoke_<operation>" turn a request into a call on an IVantryService implementation and write
// the response into the same message, and the class factory through which dispatch finds it.
//
// Thread safety: the invoker keeps no per-call state, so one invoker serves every connection
// thread at once. The factory is registered at start-up and only read while the server runs.
#pragma once

#include <memory>

#include "remoting/class_factory.h"
#include "remoting/invoker.h"

namespace vantry {

// Handlers, in slot order: read the In values (a Binary starts as no object), obtain
// IVantryService from the implementation object (EIntfCastError "Interface not supported"),
// call, start the response "<operation>Response", write "Result" and the Out values. Objects
// read or received go to a TROObjectDisposer on every path. Operations without result and Out
// values set kResponseNoResponse. Read errors ("Error reading parameter %s: ...") and the
// operation's own exceptions pass on unchanged.
class TVantryService_Invoker : public TROInvoker {
 public:
  TVantryService_Invoker();
};

// Registers the class factory for "VantryService" with TVantryService_Invoker; `creator` makes
// the implementation object of one call (which must implement IVantryService). The factory is
// removed from the registry when the returned object is destroyed.
std::unique_ptr<TROClassFactory> CreateVantryServiceFactory(TROClassFactory::Creator creator);

}  // namespace vantry
