#include "remoting/remotable.h"

#include <algorithm>

namespace vantry {

void TRORemotable::RetainObject(const void* object) {
  if (!retained_) retained_ = std::make_unique<std::vector<const void*>>();
  if (!IsRetained(object)) retained_->push_back(object);
}

void TRORemotable::ReleaseObject(const void* object) {
  if (retained_) std::erase(*retained_, object);
}

bool TRORemotable::IsRetained(const void* object) const {
  return retained_ && std::ranges::find(*retained_, object) != retained_->end();
}

TROObjectDisposer::~TROObjectDisposer() {
  while (!objects_.empty()) {
    Owned& last = objects_.back();
    if (instance_ != nullptr && instance_->IsRetained(last.get())) last.release();
    objects_.pop_back();
  }
}

bool TROObjectDisposer::Contains(const void* object) const {
  return std::ranges::any_of(objects_, [&](const Owned& o) { return o.get() == object; });
}

}  // namespace vantry
