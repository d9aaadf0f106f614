#include "remoting/enum_registry.h"

#include <map>
#include <utility>
#include <vector>

#include "remoting/ascii_text.h"
#include "remoting/process_registry.h"

namespace vantry {
namespace {

struct Enumerations {
  std::vector<std::pair<std::string, const TypeInfo*>> enumerations;
  std::map<std::string, std::string, std::less<>> value_names;
};
using Registry = ProcessRegistry<Enumerations>;

const TypeInfo* FindLocked(const Enumerations& registry, std::string_view name) {
  for (const auto& [known, type] : registry.enumerations) {
    if (AsciiSameText(known, name)) return type;
  }
  return nullptr;
}

}  // namespace

void RegisterEnumeration(std::string_view name, const TypeInfo& type) {
  Registry::Update([&](Enumerations& registry) {
    if (FindLocked(registry, name) == nullptr) registry.enumerations.emplace_back(name, &type);
  });
}

void UnregisterEnumeration(std::string_view name) {
  Registry::Update([&](Enumerations& registry) {
    std::erase_if(registry.enumerations,
                  [&](const auto& entry) { return AsciiSameText(entry.first, name); });
  });
}

const TypeInfo* FindEnumeration(std::string_view name) {
  return Registry::Read([&](const Enumerations& registry) { return FindLocked(registry, name); });
}

void RegisterValueNameMapping(std::string_view name, std::string_view mapped) {
  Registry::Update([&](Enumerations& registry) {
    registry.value_names.insert_or_assign(std::string(name), std::string(mapped));
  });
}

void UnregisterValueNameMapping(std::string_view name) {
  Registry::Update([&](Enumerations& registry) {
    if (auto it = registry.value_names.find(name); it != registry.value_names.end()) {
      registry.value_names.erase(it);
    }
  });
}

std::optional<std::string> MappedValueName(std::string_view name) {
  return Registry::Read([&](const Enumerations& registry) -> std::optional<std::string> {
    auto it = registry.value_names.find(name);
    if (it == registry.value_names.end()) return std::nullopt;
    return it->second;
  });
}

}  // namespace vantry
