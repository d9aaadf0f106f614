#include "host/settings.h"

#include "host/string_lists.h"
#include "platform/exception.h"
#include "platform/socket.h"

namespace vantry {

namespace {

constexpr char kVantry[] = "Vantry";
constexpr char kMigration[] = "Migration";
constexpr char kTls[] = "TLS";
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
  s.RestrictTargets = ini.ReadBool(kVantry, "RestrictTargets", defaults.RestrictTargets);
  s.FastTransfer = ini.ReadBool(kTransfer, "FastTransfer", defaults.FastTransfer);
  s.TransferRateLimitKiB =
      ini.ReadInteger(kTransfer, "TransferRateLimitKiB", defaults.TransferRateLimitKiB);
  s.ServiceRateLimitKiB =
      ini.ReadInteger(kTransfer, "ServiceRateLimitKiB", defaults.ServiceRateLimitKiB);
  s.AbandonedWorkDays = ini.ReadInteger(kTransfer, "AbandonedWorkDays", defaults.AbandonedWorkDays);
  return read;
}

TServerSettings ParseServerSettings(const IniFile& ini, std::string_view home_dir) {
  TServerSettings s;
  auto address = [&](std::string_view section, const std::string& fallback) {
    std::string value = ini.ReadString(section, "ListenAddress", "");
    return IsDottedIPv4(value) ? value : fallback;
  };
  auto file = [&](std::string_view key) {
    std::string value = ini.ReadString(kTls, key, "");
    if (value.empty() || value.starts_with('/')) return value;
    return std::string(home_dir) + "/" + value;
  };
  s.listen_address = address(kVantry, s.listen_address);
  s.tls_port = ini.ReadInteger(kTls, "Port", 0);
  if (s.tls_port < 0 || s.tls_port > 65535) s.tls_port = 0;
  s.tls_listen_address = address(kTls, s.tls_listen_address);
  s.tls.certificate_file = file("CertificateFile");
  s.tls.key_file = file("KeyFile");
  s.tls.ca_file = file("ClientCAFile");
  s.tls.allowed_peer_names = ini.ReadCommaList(kTls, "AllowedClientNames");
  s.tls.allow_tls12 = ini.ReadString(kTls, "MinVersion", "1.3") == "1.2";
  return s;
}

DriveMap::Roots ParseDriveRoots(const IniFile& ini) {
  DriveMap::Roots roots;
  for (const auto& [key, value] : ini.ReadSection("Drives")) {
    bool letter = key.size() == 1 && key[0] >= 'A' && key[0] <= 'Z';
    // An empty value unmaps the letter ("Z=" takes away the default Z: = /).
    if (letter && (value.empty() || value.starts_with('/'))) roots[key[0]] = value;
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
      "MigrateUsingClone=%d; DefaultDeleteStrategy=%s; RestrictTargets=%d; FastTransfer=%d; "
      "TransferRateLimitKiB=%d; ServiceRateLimitKiB=%d; AbandonedWorkDays=%d",
      s.DefaultBackupPath, s.DefaultDatabasePath, s.AllowedBackups, s.MaxBackupTimeMinutes,
      servers, s.AlternateBackupPath, s.AlternateRestorePath, s.FBIsClassic ? 1 : 0,
      s.BackupPeriodStartHour, s.BackupPeriodEndHour, s.MigrationTargetServer,
      s.MigrateAllDatabases ? 1 : 0, s.MigrateUsingClone ? 1 : 0, s.DefaultDeleteStrategy,
      s.RestrictTargets ? 1 : 0, s.FastTransfer ? 1 : 0, s.TransferRateLimitKiB,
      s.ServiceRateLimitKiB, s.AbandonedWorkDays);
}

}  // namespace vantry
