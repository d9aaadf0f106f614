#include "host/settings_keys.h"

#include <stdexcept>
#include <string>

#include "host/string_lists.h"

namespace vantry {

namespace {

using K = SettingKind;

constexpr SettingKey kKeys[] = {
    {"Vantry", "BaseDefaultDirectory", K::kText},
    {"Vantry", "DefaultBackupPath", K::kText},
    {"Vantry", "DefaultDatabasePath", K::kText},
    {"Vantry", "AllowedBackups", K::kInteger},
    {"Vantry", "MaxBackupTimeMinutes", K::kInteger},
    {"Vantry", "OtherTargetServers", K::kCommaList},
    {"Vantry", "AlternateBackupPath", K::kText},
    {"Vantry", "AlternateRestorePath", K::kText},
    {"Vantry", "FBIsClassic", K::kBoolean},
    {"Vantry", "BackupPeriodStartHour", K::kInteger},
    {"Vantry", "BackupPeriodEndHour", K::kInteger},
    {"Vantry", "DefaultDeleteStrategy", K::kStrategy},
    {"Vantry", "RestrictTargets", K::kBoolean},
    {"Vantry", "ListenAddress", K::kAddress},
    {"Migration", "MigrationTargetServer", K::kText},
    {"Migration", "MigrateAllDatabases", K::kBoolean},
    {"Migration", "MigrateUsingClone", K::kBoolean},
    {"TLS", "Port", K::kPort},
    {"TLS", "ListenAddress", K::kAddress},
    {"TLS", "CertificateFile", K::kText},
    {"TLS", "KeyFile", K::kText},
    {"TLS", "ClientCAFile", K::kText},
    {"TLS", "AllowedClientNames", K::kCommaList},
    {"TLS", "MinVersion", K::kTlsVersion},
    {"Transfer", "FastTransfer", K::kBoolean},
    {"Transfer", "TransferRateLimitKiB", K::kInteger},
    {"Transfer", "ServiceRateLimitKiB", K::kInteger},
    {"Transfer", "AbandonedWorkDays", K::kInteger},
    {"Metrics", "Port", K::kPort},
    {"Metrics", "ListenAddress", K::kAddress},
    {"Metrics", "Databases", K::kCommaList},
};

}  // namespace

std::span<const SettingKey> KnownSettingKeys() { return kKeys; }

const SettingKey* FindSettingKey(std::string_view section, std::string_view key) {
  for (const SettingKey& k : kKeys) {
    if (SameText(k.section, section) && SameText(k.key, key)) return &k;
  }
  return nullptr;
}

const SettingKey& SettingKeyOf(std::string_view section, std::string_view key, SettingKind kind) {
  const SettingKey* k = FindSettingKey(section, key);
  if (k == nullptr || k->kind != kind) {
    throw std::logic_error("setting read outside its table: [" + std::string(section) + "] " +
                           std::string(key));
  }
  return *k;
}

bool IsKnownSettingSection(std::string_view section) {
  if (SameText(section, kDrivesSection)) return true;
  for (const SettingKey& k : kKeys) {
    if (SameText(k.section, section)) return true;
  }
  return false;
}

}  // namespace vantry
