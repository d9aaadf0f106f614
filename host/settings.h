// The settings of the service as read from "Vantry.ini": the values, their defaults, and the
// drive map section. Reading is a pure function of the parsed file and the executable's
// directory; TWindowsService::ReadSettings loads the file and installs the result under the host
// lock.
//
// Thread safety: plain values and pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/ini_file.h"
#include "platform/paths.h"

namespace vantry {

inline constexpr char kSettingsFileName[] = "Vantry.ini";

struct THostSettings {
  std::string DefaultBackupPath;
  std::string DefaultDatabasePath;
  int32_t AllowedBackups = 1;
  int32_t MaxBackupTimeMinutes = 60;
  std::string AlternateBackupPath;
  std::string AlternateRestorePath;
  bool FBIsClassic = true;
  int32_t BackupPeriodStartHour = 23;
  int32_t BackupPeriodEndHour = 5;
  std::string MigrationTargetServer;
  bool MigrateAllDatabases = false;
  bool MigrateUsingClone = false;
  std::string DefaultDeleteStrategy = "CAREFUL";  // stored in upper case

  friend bool operator==(const THostSettings&, const THostSettings&) = default;
};

// Everything one reading of the file yields.
struct TSettingsRead {
  THostSettings settings;
  std::vector<std::string> other_target_servers;  // in the order of the file
};

// Reads the settings from `ini`; `executable_dir` (Windows form, ending in "\") is the default
// base directory. Malformed values take their defaults; nothing is rejected.
TSettingsRead ParseSettings(const IniFile& ini, std::string_view executable_dir);

// The "Drives" section: one key per drive letter, the value a host directory. Keys that are not
// one letter and values that are not absolute host paths are ignored.
DriveMap::Roots ParseDriveRoots(const IniFile& ini);

// One line naming every setting and its value, for diagnostics.
std::string DescribeSettings(const TSettingsRead& read);

}  // namespace vantry
