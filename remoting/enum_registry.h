// The registry of enumeration types and the value-name mappings that contract modules publish at
// start-up. Textual message formats look enumeration types up by name and map value names
// through it; the binary format carries ordinals only and never consults it.
//
// Thread safety: filled at start-up and emptied at shutdown; every operation locks internally,
// so lookups from any number of threads are safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "remoting/type_info.h"

namespace vantry {

// Adds enumeration type `name` with its description; a name already registered (in any letter
// case) keeps its first description. `type` must outlive its registration.
void RegisterEnumeration(std::string_view name, const TypeInfo& type);
void UnregisterEnumeration(std::string_view name);
// The description registered under `name` (ASCII case ignored), or nullptr.
const TypeInfo* FindEnumeration(std::string_view name);

// Maps value name `name` to `mapped` (the textual form a message carries); a later mapping of the
// same name replaces the earlier one.
void RegisterValueNameMapping(std::string_view name, std::string_view mapped);
void UnregisterValueNameMapping(std::string_view name);
// The mapping of `name` (exact match), or nullopt.
std::optional<std::string> MappedValueName(std::string_view name);

}  // namespace vantry
