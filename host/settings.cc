#include "host/settings.h"

#include "host/string_lists.h"
#include "platform/exception.h"

namespace vantry {

namespace {

constexpr char kVantry[] = "Vantry";
constexpr char kMigration[] = "Migration";
constexpr char kTransfer[] = "Transfer";

// An empty base stays empty, so the defaults become bare names ("DefaultBackup").
std::string NormalizeBase(std::string base) {
  if (!base.empty() && base.back() != '\\') base += '\\';
  return base;
}

}  // namespace

TSettingsRead ParseSettings(const IniFile& ini, std::string_view executable_dir) {
  TSettingsRead read;
  THostSettings& s = read.settings;
  const THostSettings defaults;  // the values a missing or unreadable key takes
  // The order is the one the settings have always been read in; OtherTargetServers must come
  // before MigrationTargetServer, whose default it supplies.
  const std::string base =
      NormalizeBase(ini.ReadString(kVantry, "BaseDefaultDirectory", executable_dir));
  s.DefaultBackupPath = ini.ReadString(kVantry, "DefaultBackupPath", base + "DefaultBackup");
  s.DefaultDatabasePath = ini.ReadString(kVantry, "DefaultDatabasePath", base + "DefaultDatabase");
  s.AllowedBackups = ini.ReadInteger(kVantry, "AllowedBackups", defaults.AllowedBackups);
  s.MaxBackupTimeMinutes = ini.ReadInteger(kVantry, "MaxBackupTimeMinutes", defaults.MaxBackupTimeMinutes);
  read.other_target_servers = ini.ReadCommaList(kVantry, "OtherTargetServers");
  s.AlternateBackupPath =
      ini.ReadString(kVantry, "AlternateBackupPath", base + "DefaultAlternateBackupPath");
  s.AlternateRestorePath =
      ini.ReadString(kVantry, "AlternateRestorePath", base + "DefaultAlternateRestorePath");
  s.FBIsClassic = ini.ReadBool(kVantry, "FBIsClassic", defaults.FBIsClassic);
  s.BackupPeriodStartHour = ini.ReadInteger(kVantry, "BackupPeriodStartHour", defaults.BackupPeriodStartHour);
  s.BackupPeriodEndHour = ini.ReadInteger(kVantry, "BackupPeriodEndHour", defaults.BackupPeriodEndHour);
  s.MigrationTargetServer = ini.ReadString(
      kMigration, "MigrationTargetServer",
      read.other_target_servers.empty() ? std::string() : read.other_target_servers.front());
  s.MigrateAllDatabases = ini.ReadBool(kMigration, "MigrateAllDatabases", defaults.MigrateAllDatabases);
  s.MigrateUsingClone = ini.ReadBool(kMigration, "MigrateUsingClone", defaults.MigrateUsingClone);
  s.DefaultDeleteStrategy = UpperCase(ini.ReadString(kVantry, "DefaultDeleteStrategy", defaults.DefaultDeleteStrategy));
  s.FastTransfer = ini.ReadBool(kTransfer, "FastTransfer", defaults.FastTransfer);
  return read;
}

DriveMap::Roots ParseDriveRoots(const IniFile& ini) {
  DriveMap::Roots roots;
  for (const auto& [key, value] : ini.ReadSection("Drives")) {
    bool letter = key.size() == 1 && key[0] >= 'A' && key[0] <= 'Z';
    if (letter && value.starts_with('/')) roots[key[0]] = value;
  }
  return roots;
}

std::string DescribeSettings(const TSettingsRead& read) {
  const THostSettings& s = read.settings;
  std::string servers;
  for (const std::string& server : read.other_target_servers) {
    servers += (servers.empty() ? "" : ",") + server;
  }
  return Format(
      "DefaultBackupPath=%s; DefaultDatabasePath=%s; AllowedBackups=%d; "
      "MaxBackupTimeMinutes=%d; OtherTargetServers=%s; AlternateBackupPath=%s; "
      "AlternateRestorePath=%s; FBIsClassic=%d; BackupPeriodStartHour=%d; "
      "BackupPeriodEndHour=%d; MigrationTargetServer=%s; MigrateAllDatabases=%d; "
      "MigrateUsingClone=%d; DefaultDeleteStrategy=%s; FastTransfer=%d",
      s.DefaultBackupPath, s.DefaultDatabasePath, s.AllowedBackups, s.MaxBackupTimeMinutes,
      servers, s.AlternateBackupPath, s.AlternateRestorePath, s.FBIsClassic ? 1 : 0,
      s.BackupPeriodStartHour, s.BackupPeriodEndHour, s.MigrationTargetServer,
      s.MigrateAllDatabases ? 1 : 0, s.MigrateUsingClone ? 1 : 0, s.DefaultDeleteStrategy,
      s.FastTransfer ? 1 : 0);
}

}  // namespace vantry
