#include "host/settings.h"

#include "host/settings_keys.h"
#include "host/string_lists.h"
#include "platform/exception.h"
#include "platform/socket.h"

namespace vantry {

namespace {

constexpr char kVantry[] = "Vantry";
constexpr char kMigration[] = "Migration";
constexpr char kTls[] = "TLS";
constexpr char kTransfer[] = "Transfer";
constexpr char kMetrics[] = "Metrics";

// The file's values, each key looked up in the table of known keys first, so the settings
// check sees every key that is read.
class Reader {
 public:
  explicit Reader(const IniFile& ini) : ini_(ini) {}
  std::string Text(std::string_view section, std::string_view key, std::string_view def,
                   SettingKind kind = SettingKind::kText) const {
    SettingKeyOf(section, key, kind);
    return ini_.ReadString(section, key, def);
  }
  int32_t Integer(std::string_view section, std::string_view key, int32_t def,
                  SettingKind kind = SettingKind::kInteger) const {
    SettingKeyOf(section, key, kind);
    return ini_.ReadInteger(section, key, def);
  }
  bool Bool(std::string_view section, std::string_view key, bool def) const {
    SettingKeyOf(section, key, SettingKind::kBoolean);
    return ini_.ReadBool(section, key, def);
  }
  std::vector<std::string> List(std::string_view section, std::string_view key) const {
    SettingKeyOf(section, key, SettingKind::kCommaList);
    return ini_.ReadCommaList(section, key);
  }
  // A dotted IPv4 address, or `fallback` for anything else.
  std::string Address(std::string_view section, const std::string& fallback) const {
    std::string value = Text(section, "ListenAddress", "", SettingKind::kAddress);
    return IsDottedIPv4(value) ? value : fallback;
  }
  // A port from 0 to 65535; 0 (off) for anything else.
  int Port(std::string_view section) const {
    int port = Integer(section, "Port", 0, SettingKind::kPort);
    return port < 0 || port > 65535 ? 0 : port;
  }

 private:
  const IniFile& ini_;
};

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
  const Reader r(ini);
  // The order is the one the settings have always been read in; OtherTargetServers must come
  // before MigrationTargetServer, whose default it supplies.
  const std::string base =
      NormalizeBase(r.Text(kVantry, "BaseDefaultDirectory", executable_dir));
  s.DefaultBackupPath = r.Text(kVantry, "DefaultBackupPath", base + "DefaultBackup");
  s.DefaultDatabasePath = r.Text(kVantry, "DefaultDatabasePath", base + "DefaultDatabase");
  s.AllowedBackups = r.Integer(kVantry, "AllowedBackups", defaults.AllowedBackups);
  s.MaxBackupTimeMinutes = r.Integer(kVantry, "MaxBackupTimeMinutes", defaults.MaxBackupTimeMinutes);
  read.other_target_servers = r.List(kVantry, "OtherTargetServers");
  s.AlternateBackupPath =
      r.Text(kVantry, "AlternateBackupPath", base + "DefaultAlternateBackupPath");
  s.AlternateRestorePath =
      r.Text(kVantry, "AlternateRestorePath", base + "DefaultAlternateRestorePath");
  s.FBIsClassic = r.Bool(kVantry, "FBIsClassic", defaults.FBIsClassic);
  s.BackupPeriodStartHour = r.Integer(kVantry, "BackupPeriodStartHour", defaults.BackupPeriodStartHour);
  s.BackupPeriodEndHour = r.Integer(kVantry, "BackupPeriodEndHour", defaults.BackupPeriodEndHour);
  s.MigrationTargetServer = r.Text(
      kMigration, "MigrationTargetServer",
      read.other_target_servers.empty() ? std::string() : read.other_target_servers.front());
  s.MigrateAllDatabases = r.Bool(kMigration, "MigrateAllDatabases", defaults.MigrateAllDatabases);
  s.MigrateUsingClone = r.Bool(kMigration, "MigrateUsingClone", defaults.MigrateUsingClone);
  s.DefaultDeleteStrategy = UpperCase(
      r.Text(kVantry, "DefaultDeleteStrategy", defaults.DefaultDeleteStrategy, SettingKind::kStrategy));
  s.RestrictTargets = r.Bool(kVantry, "RestrictTargets", defaults.RestrictTargets);
  s.FastTransfer = r.Bool(kTransfer, "FastTransfer", defaults.FastTransfer);
  s.TransferRateLimitKiB =
      r.Integer(kTransfer, "TransferRateLimitKiB", defaults.TransferRateLimitKiB);
  s.ServiceRateLimitKiB =
      r.Integer(kTransfer, "ServiceRateLimitKiB", defaults.ServiceRateLimitKiB);
  s.AbandonedWorkDays = r.Integer(kTransfer, "AbandonedWorkDays", defaults.AbandonedWorkDays);
  return read;
}

TServerSettings ParseServerSettings(const IniFile& ini, std::string_view home_dir) {
  TServerSettings s;
  const Reader r(ini);
  auto file = [&](std::string_view key) {
    std::string value = r.Text(kTls, key, "");
    if (value.empty() || value.starts_with('/')) return value;
    return std::string(home_dir) + "/" + value;
  };
  s.listen_address = r.Address(kVantry, s.listen_address);
  s.tls_port = r.Port(kTls);
  s.tls_listen_address = r.Address(kTls, s.tls_listen_address);
  s.tls.certificate_file = file("CertificateFile");
  s.tls.key_file = file("KeyFile");
  s.tls.ca_file = file("ClientCAFile");
  s.tls.allowed_peer_names = r.List(kTls, "AllowedClientNames");
  s.tls.allow_tls12 = r.Text(kTls, "MinVersion", "1.3", SettingKind::kTlsVersion) == "1.2";
  s.metrics_port = r.Port(kMetrics);
  s.metrics_listen_address = r.Address(kMetrics, s.metrics_listen_address);
  s.metrics_databases = r.List(kMetrics, "Databases");
  return s;
}

bool IsDriveLetterKey(std::string_view key) {
  return key.size() == 1 && key[0] >= 'A' && key[0] <= 'Z';
}

DriveMap::Roots ParseDriveRoots(const IniFile& ini) {
  DriveMap::Roots roots;
  for (const auto& [key, value] : ini.ReadSection(kDrivesSection)) {
    bool letter = IsDriveLetterKey(key);
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
