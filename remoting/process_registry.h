// The one lifetime rule of the runtime's process-wide registries (class factories, proxy classes,
// enumerations, complex types, exception classes, the stored service description):
//
// - each registry is a State of its own type, reached only through ProcessRegistry<State>;
// - it is made on first use, so a registration from another translation unit's static object
//   finds it ready whatever the order of static construction;
// - it is never destroyed, so an unregistration from a static object's destructor at exit still
//   finds it, whatever the order of static destruction (the memory goes with the process);
// - every access holds the registry's lock: readers share it, writers hold it alone.
//
// Thread safety: Read and Update may be called from any thread, at any time, also during static
// construction and destruction. `f` must not call back into the same registry.
#pragma once

#include <mutex>
#include <shared_mutex>

namespace vantry {

template <typename State>
class ProcessRegistry {
 public:
  ProcessRegistry() = delete;

  // Returns f(const State&), run under the shared lock.
  template <typename F>
  static decltype(auto) Read(F&& f) {
    Holder& holder = Instance();
    std::shared_lock lock(holder.mutex);
    return f(static_cast<const State&>(holder.state));
  }

  // Returns f(State&), run under the exclusive lock.
  template <typename F>
  static decltype(auto) Update(F&& f) {
    Holder& holder = Instance();
    std::unique_lock lock(holder.mutex);
    return f(holder.state);
  }

 private:
  struct Holder {
    std::shared_mutex mutex;
    State state;  // GUARDED_BY(mutex)
  };

  static Holder& Instance() {
    static Holder* holder = new Holder;  // never destroyed: see above
    return *holder;
  }
};

}  // namespace vantry
