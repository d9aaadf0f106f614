// Class factories: one per service, found by the service's interface name. A factory creates the
// implementation object of every call and holds the service's invoker. Creating a
// TROClassFactory registers it (at the end of the registry); destroying it removes it again.
//
// Thread safety: factories are registered before the server is switched on and only read while
// it is active; registry operations lock internally. GetInvoker() creates the invoker exactly
// once, also when the first calls arrive on several connections at the same moment.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/identity.h"
#include "remoting/invoker.h"
#include "remoting/remotable.h"

namespace vantry {

class IROClassFactory {
 public:
  virtual ~IROClassFactory() = default;
  // A new implementation object for one call; may be null.
  virtual std::shared_ptr<TRORemotable> CreateInstance(const Guid& client_id) = 0;
  // Drops the factory's reference to `instance` (which destroys it) and resets the pointer.
  virtual void ReleaseInstance(const Guid& client_id, std::shared_ptr<TRORemotable>& instance) = 0;
  virtual const std::string& GetInterfaceName() const = 0;
  virtual TROInvoker& GetInvoker() = 0;
};

class TROClassFactory : public IROClassFactory {
 public:
  using Creator = std::function<std::shared_ptr<TRORemotable>()>;
  using InvokerCreator = std::function<std::unique_ptr<TROInvoker>()>;

  // Registers the factory under `interface_name`.
  TROClassFactory(std::string interface_name, Creator creator, InvokerCreator invoker_creator);
  TROClassFactory(const TROClassFactory&) = delete;
  TROClassFactory& operator=(const TROClassFactory&) = delete;
  // Removes the factory from the registry.
  ~TROClassFactory() override;

  // Registers a factory whose invoker is a new `Invoker`.
  template <typename Invoker>
  static std::unique_ptr<TROClassFactory> Create(std::string interface_name, Creator creator) {
    return std::make_unique<TROClassFactory>(std::move(interface_name), std::move(creator),
                                             [] { return std::make_unique<Invoker>(); });
  }

  std::shared_ptr<TRORemotable> CreateInstance(const Guid& client_id) override;
  void ReleaseInstance(const Guid& client_id, std::shared_ptr<TRORemotable>& instance) override;
  const std::string& GetInterfaceName() const override { return interface_name_; }
  TROInvoker& GetInvoker() override;

  // Further names under which the factory is found (service-discovery names); set before use.
  std::vector<std::string> alternative_names;

 private:
  const std::string interface_name_;
  const Creator creator_;
  const InvokerCreator invoker_creator_;
  std::once_flag invoker_once_;
  std::unique_ptr<TROInvoker> invoker_;
};

// The first registered factory whose interface name equals `interface_name` ignoring ASCII case,
// else the first with such an alternative name. Throws EROException
// "Class factory for interface %s not found".
IROClassFactory& LookupClassFactory(std::string_view interface_name);

}  // namespace vantry
