#include "remoting/enum_registry.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "remoting/ascii_text.h"

namespace vantry {
namespace {

struct EnumRegistry {
  std::mutex mutex;
  std::vector<std::pair<std::string, const TypeInfo*>> enumerations;  // GUARDED_BY(mutex)
  std::map<std::string, std::string, std::less<>> value_names;        // GUARDED_BY(mutex)
};

EnumRegistry& Registry() {
  static EnumRegistry* registry = new EnumRegistry;  // never destroyed: used until exit
  return *registry;
}

const TypeInfo* FindLocked(const EnumRegistry& registry, std::string_view name) {
  for (const auto& [known, type] : registry.enumerations) {
    if (AsciiSameText(known, name)) return type;
  }
  return nullptr;
}

}  // namespace

void RegisterEnumeration(std::string_view name, const TypeInfo& type) {
  EnumRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  if (FindLocked(registry, name) == nullptr) registry.enumerations.emplace_back(name, &type);
}

void UnregisterEnumeration(std::string_view name) {
  EnumRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  std::erase_if(registry.enumerations,
                [&](const auto& entry) { return AsciiSameText(entry.first, name); });
}

const TypeInfo* FindEnumeration(std::string_view name) {
  EnumRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  return FindLocked(registry, name);
}

void RegisterValueNameMapping(std::string_view name, std::string_view mapped) {
  EnumRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.value_names.insert_or_assign(std::string(name), std::string(mapped));
}

void UnregisterValueNameMapping(std::string_view name) {
  EnumRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  if (auto it = registry.value_names.find(name); it != registry.value_names.end()) {
    registry.value_names.erase(it);
  }
}

std::optional<std::string> MappedValueName(std::string_view name) {
  EnumRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.value_names.find(name);
  if (it == registry.value_names.end()) return std::nullopt;
  return it->second;
}

}  // namespace vantry
