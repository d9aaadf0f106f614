#include "remoting/class_factory.h"

#include <algorithm>
#include <vector>

#include "remoting/ascii_text.h"
#include "remoting/process_registry.h"
#include "remoting/ro_exception.h"

namespace vantry {
namespace {

// Factories in registration order, not owned (each removes itself).
struct ClassFactories {
  std::vector<TROClassFactory*> factories;
};
using Registry = ProcessRegistry<ClassFactories>;

}  // namespace

TROClassFactory::TROClassFactory(std::string interface_name, Creator creator,
                                 InvokerCreator invoker_creator)
    : interface_name_(std::move(interface_name)),
      creator_(std::move(creator)),
      invoker_creator_(std::move(invoker_creator)) {
  Registry::Update([this](ClassFactories& registry) { registry.factories.push_back(this); });
}

TROClassFactory::~TROClassFactory() {
  Registry::Update([this](ClassFactories& registry) { std::erase(registry.factories, this); });
}

std::shared_ptr<TRORemotable> TROClassFactory::CreateInstance(const Guid& /*client_id*/) {
  return creator_();
}

void TROClassFactory::ReleaseInstance(const Guid& /*client_id*/,
                                      std::shared_ptr<TRORemotable>& instance) {
  instance.reset();
}

TROInvoker& TROClassFactory::GetInvoker() {
  std::call_once(invoker_once_, [this] { invoker_ = invoker_creator_(); });
  return *invoker_;
}

IROClassFactory& LookupClassFactory(std::string_view interface_name) {
  TROClassFactory* found = Registry::Read([&](const ClassFactories& registry) -> TROClassFactory* {
    for (TROClassFactory* factory : registry.factories) {
      if (AsciiSameText(factory->GetInterfaceName(), interface_name)) return factory;
    }
    for (TROClassFactory* factory : registry.factories) {
      for (const std::string& name : factory->alternative_names) {
        if (AsciiSameText(name, interface_name)) return factory;
      }
    }
    return nullptr;
  });
  if (found != nullptr) return *found;
  throw EROException(Format("Class factory for interface %s not found", interface_name));
}

}  // namespace vantry
