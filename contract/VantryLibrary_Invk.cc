#include "contract/VantryLibrary_Invk.h"

#include <utility>

#include "contract/vantry_operations.h"

namespace vantry {

TVantryService_Invoker::TVantryService_Invoker() {
  PublishHandlers(HandlerTable<kVantryOperations, kVantryServiceNames>());
}

std::unique_ptr<TROClassFactory> CreateVantryServiceFactory(TROClassFactory::Creator creator) {
  return TROClassFactory::Create<TVantryService_Invoker>(kVantryServiceName, std::move(creator));
}

}  // namespace vantry
