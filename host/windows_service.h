// TWindowsService: the service host, the one long-lived object of the process. It owns the
// state that outlives a remote call (settings, caller allow-list, other target servers, backup
// permissions, instance GUID) and the lifecycle handlers the service framework calls
// (platform/service_host.h). Remote operations reach it through the process-wide reference
// (GetWindowsService) and only through its locked operations, which hand out copies.
//
// Thread safety: the lifecycle handlers run on the service thread, timCleanUpTimer on the main
// thread, getters on connection threads. Every operation holds the host lock, a re-entrant
// mutex, for its whole duration; nothing that refers into host state leaves the lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/settings.h"
#include "host/string_lists.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/service_host.h"

namespace vantry {

inline constexpr char kServiceName[] = "WindowsService";
inline constexpr char kServiceDisplayName[] = "Vantry Service";
inline constexpr int kCleanUpIntervalMs = 20000;
inline constexpr int kDefaultServerPort = 8090;

struct THostOptions {
  std::string home_dir;  // absolute host path standing for the executable's directory
  int port = kDefaultServerPort;
};

class TWindowsService {
 public:
  // Runs ServiceCreate. `drives` is the map the file system resolves through; ReadSettings
  // replaces it with the "Drives" section. `drives`, `file_system` and `clock` must outlive the
  // host.
  TWindowsService(THostOptions options, DriveMap& drives, FileSystem& file_system,
                  const Clock& clock);
  TWindowsService(const TWindowsService&) = delete;
  TWindowsService& operator=(const TWindowsService&) = delete;
  ~TWindowsService();

  // Lifecycle handlers; each throws when a step fails, leaving the later steps undone.
  void ServiceStart();
  void ServiceStop();
  void ServicePause();
  void ServiceContinue();
  // Fired by timCleanUp on the main thread.
  void timCleanUpTimer();

  // Reads "Vantry.ini" from the executable's directory and replaces the settings, the
  // other-target-server list and the drive map. A missing file gives every default. Throws
  // EFOpenError "Cannot open file "%s". %s" when the file exists but cannot be read, and
  // Exception when no drive reaches the home directory; the host is then unchanged.
  void ReadSettings();
  // Empties the caller allow-list. Filling it from "AllowedSourceIPs.txt" comes with connection
  // admission; until then every caller would be admitted.
  void LoadAllowedSourceIPs();

  // Getters: each takes the host lock and returns a copy.
  THostSettings GetSettings() const;
  std::string GetDefaultBackupPath() const;
  std::string GetDefaultDatabasePath() const;
  int32_t GetAllowedBackups() const;
  int32_t GetMaxBackupTimeMinutes() const;
  std::string GetAlternateBackupPath() const;
  std::string GetAlternateRestorePath() const;
  bool GetFBIsClassic() const;
  int32_t GetBackupPeriodStartHour() const;
  int32_t GetBackupPeriodEndHour() const;
  std::string GetMigrationTargetServer() const;
  bool GetMigrateAllDatabases() const;
  bool GetMigrateUsingClone() const;
  std::string GetDefaultDeleteStrategy() const;  // upper case
  // Replaces the content of `servers` with a copy of the other target servers.
  void GetOtherTargetServers(std::vector<std::string>& servers) const;
  // The local computer name (read now; empty when it cannot be read) and the instance GUID.
  void GetInstanceIdentifier(std::string& computer_name, std::string& guid) const;
  // The executable's directory as callers see it: the home directory in Windows form, ending
  // in "\" (empty when no drive reaches it).
  std::string GetExecutableDirectory() const;
  // The caller allow-list, sorted (a copy).
  std::vector<std::string> GetAllowedSourceIPs() const;
  // The number of backup permissions held.
  size_t GetBackupPermissionCount() const;
  // One diagnostic line: instance GUID and every setting.
  std::string DescribeState() const;

  // The host lock, for host operations added elsewhere (the permission registry) that must hold
  // it across several steps. Re-entrant.
  std::recursive_mutex& HostLock() const { return lock_; }
  // The periodic timer the service framework fires on the main thread.
  ServiceTimer& CleanUpTimer() { return timCleanUp_; }
  const THostOptions& Options() const { return options_; }

 private:
  void ServiceCreate();
  // The remote-call server: switched on as the last step of a start and off as the first step
  // of a stop. No server is wired yet, so the host accepts no remote calls.
  void SetServerActive(bool active);
  // The expiry pass of the backup-permission registry, run by timCleanUpTimer. The registry's
  // operations are not wired yet, so no permission exists to expire.
  void ExpireBackupPermissions();

  const THostOptions options_;
  DriveMap& drives_;
  FileSystem& file_system_;
  [[maybe_unused]] const Clock& clock_;  // local time of permission grants and expiry

  ServiceTimer timCleanUp_{kCleanUpIntervalMs};
  mutable std::recursive_mutex lock_;
  // The lists exist only between a start and a stop; outside that they are kept empty.
  TSortedTextList allowed_source_ips_;         // guarded by lock_
  std::vector<std::string> other_target_servers_;  // guarded by lock_
  TSortedTextList backup_permissions_;         // guarded by lock_
  THostSettings settings_;                     // guarded by lock_
  std::string instance_guid_;                  // guarded by lock_
  std::string executable_dir_;                 // guarded by lock_
};

// The process-wide reference to the one host: set by the program entry when the host is
// created, cleared before it is destroyed; null outside that time. Does not own.
TWindowsService* GetWindowsService();
void SetWindowsService(TWindowsService* host);

}  // namespace vantry
