// TRORemotable, the base class of implementation objects (one is created for every call), with
// its list of retained objects, and TROObjectDisposer, which frees the objects an invoker handler
// read or received unless the implementation object retained them.
//
// Ownership: implementation objects are shared (std::shared_ptr) and die with the last
// reference. A disposer owns what is added to it until it is destroyed.
// Thread safety: an implementation object and its disposers belong to one call (one thread).
#pragma once

#include <memory>
#include <vector>

namespace vantry {

class TRORemotable {
 public:
  TRORemotable() = default;
  TRORemotable(const TRORemotable&) = delete;
  TRORemotable& operator=(const TRORemotable&) = delete;
  virtual ~TRORemotable() = default;

  // Retention: an object that the implementation keeps beyond the call. A disposer does not
  // free a retained object; the implementation has taken it over.
  void RetainObject(const void* object);
  void ReleaseObject(const void* object);
  bool IsRetained(const void* object) const;

 private:
  std::unique_ptr<std::vector<const void*>> retained_;  // created on first use
};

class TROObjectDisposer {
 public:
  // `instance` (may be null: then everything is freed) must outlive the disposer.
  explicit TROObjectDisposer(const TRORemotable* instance) : instance_(instance) {}
  TROObjectDisposer(const TROObjectDisposer&) = delete;
  TROObjectDisposer& operator=(const TROObjectDisposer&) = delete;
  // Frees the objects from the last added to the first, except retained ones, which are let go.
  ~TROObjectDisposer();

  // Takes over the object held by `object` (nothing happens for no object or one that is
  // already in the list).
  template <typename T>
  void Add(std::unique_ptr<T>& object) {
    if (!object || Contains(object.get())) return;
    objects_.push_back(Owned(object.release(), [](void* p) { delete static_cast<T*>(p); }));
  }

 private:
  using Owned = std::unique_ptr<void, void (*)(void*)>;
  bool Contains(const void* object) const;

  const TRORemotable* instance_;
  std::vector<Owned> objects_;
};

}  // namespace vantry
