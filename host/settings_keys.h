// The keys of "Vantry.ini" that the service knows: one table that the settings reader looks its
// keys up in and the settings check walks, so that a key cannot be read without being checked
// nor checked without being read.
//
// Thread safety: constant data.
#pragma once

#include <span>
#include <string_view>

namespace vantry {

// How a key's value is read, and so what the check accepts.
enum class SettingKind {
  kText,        // anything
  kInteger,     // TryParseInteger
  kBoolean,     // an integer; 0 is false
  kCommaList,   // SplitCommaList
  kStrategy,    // Careful, Moderate or Aggressive, in any case
  kAddress,     // a dotted IPv4 address
  kPort,        // an integer from 0 to 65535
  kTlsVersion,  // 1.2 or 1.3
};

struct SettingKey {
  std::string_view section;
  std::string_view key;
  SettingKind kind;
};

// Every key of every section but "Drives", whose keys are drive letters.
std::span<const SettingKey> KnownSettingKeys();

inline constexpr std::string_view kDrivesSection = "Drives";

// The table's entry for `key` in `section` (either without regard to case); nullptr when the
// service does not know it.
const SettingKey* FindSettingKey(std::string_view section, std::string_view key);

// The table's entry, for the reader: throws std::logic_error when the key is not in the table
// or is read as another kind, which is a fault of the reader, not of the file.
const SettingKey& SettingKeyOf(std::string_view section, std::string_view key, SettingKind kind);

// Whether the service reads `section` at all.
bool IsKnownSettingSection(std::string_view section);

}  // namespace vantry
