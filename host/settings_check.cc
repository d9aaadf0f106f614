#include "host/settings_check.h"

#include "host/settings.h"
#include "host/settings_keys.h"
#include "host/string_lists.h"
#include "platform/exception.h"
#include "platform/socket.h"

namespace vantry {

namespace {

// Why the readers take something else than `value` for a key of `kind`; nullopt when they take
// it as written.
std::optional<std::string> Unreadable(SettingKind kind, const std::string& value) {
  switch (kind) {
    case SettingKind::kText:
    case SettingKind::kCommaList:
      return std::nullopt;
    case SettingKind::kInteger:
      if (TryParseInteger(value)) return std::nullopt;
      return "is not an integer; the default is used";
    case SettingKind::kBoolean:
      if (TryParseInteger(value)) return std::nullopt;
      return "is not an integer (0 is off, 1 is on); the default is used";
    case SettingKind::kStrategy: {
      std::string upper = UpperCase(value);
      if (upper == "CAREFUL" || upper == "MODERATE" || upper == "AGGRESSIVE") return std::nullopt;
      return "is not Careful, Moderate or Aggressive; callers are answered Careful";
    }
    case SettingKind::kAddress:
      if (IsDottedIPv4(value)) return std::nullopt;
      return "is not a dotted IPv4 address; the default address is used";
    case SettingKind::kPort: {
      std::optional<int32_t> port = TryParseInteger(value);
      if (port && *port >= 0 && *port <= 65535) return std::nullopt;
      return "is not a port from 0 to 65535; the listener stays off";
    }
    case SettingKind::kTlsVersion:
      if (value == "1.2" || value == "1.3") return std::nullopt;
      return "is neither 1.2 nor 1.3; 1.3 is used";
  }
  return std::nullopt;
}

void CheckDrives(const TConfigurationToCheck& config, std::vector<std::string>& warnings) {
  for (const auto& [key, value] : config.ini->ReadSection(kDrivesSection)) {
    if (!IsDriveLetterKey(key)) {
      warnings.push_back(Format("Vantry.ini: [Drives] %s is not a drive letter; ignored", key));
    } else if (value.empty()) {
      continue;  // unmaps the letter, as meant
    } else if (!value.starts_with('/')) {
      warnings.push_back(Format(
          "Vantry.ini: [Drives] %s=%s is a relative directory; the drive stays unmapped", key,
          value));
    } else if (!config.directory_exists(value)) {
      warnings.push_back(
          Format("Vantry.ini: [Drives] %s=%s: the directory does not exist", key, value));
    }
  }
}

}  // namespace

std::vector<std::string> CheckConfiguration(const TConfigurationToCheck& config) {
  std::vector<std::string> warnings;
  if (!config.directory_exists(config.home_dir)) {
    warnings.push_back(Format("home directory %s does not exist", config.home_dir));
  }
  const IniFile empty;
  const IniFile& ini = config.ini ? *config.ini : empty;
  for (const std::string& section : ini.SectionNames()) {
    if (!IsKnownSettingSection(section)) {
      warnings.push_back(Format("Vantry.ini: unknown section [%s]; ignored", section));
      continue;
    }
    if (SameText(section, kDrivesSection)) continue;
    for (const auto& [key, value] : ini.ReadSection(section)) {
      const SettingKey* known = FindSettingKey(section, key);
      if (known == nullptr) {
        warnings.push_back(Format("Vantry.ini: unknown key %s in [%s]; ignored", key, section));
      } else if (std::optional<std::string> why = Unreadable(known->kind, value)) {
        warnings.push_back(Format("Vantry.ini: [%s] %s=%s %s", known->section, known->key,
                                  value, *why));
      }
    }
  }
  TConfigurationToCheck with_ini = config;
  with_ini.ini = &ini;
  CheckDrives(with_ini, warnings);
  if (config.allowed_source_ips) {
    const TSortedTextList entries = ParseAllowedSourceIPs(*config.allowed_source_ips);
    for (const std::string& entry : entries.Items()) {
      if (IsDottedIPv4(entry)) continue;
      warnings.push_back(Format(
          "AllowedSourceIPs.txt: \"%s\" is not a dotted IPv4 address (no blanks, ranges or "
          "names); no caller matches it",
          entry));
    }
  }
  return warnings;
}

}  // namespace vantry
