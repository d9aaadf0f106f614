// IVantryHost: what the operations of VantryService need of the long-lived service host: a
// snapshot of the settings, the instance identity and the backup-permission registry. The
// service declares it and the host implements it, so the service never sees the host itself;
// tests hand TVantryService a fake (service/testing/fake_vantry_host.h).
//
// Thread safety: implementations are called from any number of connection threads at once; each
// call is atomic with respect to the others and hands out copies.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/tls.h"

namespace vantry {

// The settings of "Vantry.ini" as the host holds them, every field with the default it takes when
// its key is missing or unreadable (host/settings.cc reads them; the paths' defaults depend on
// BaseDefaultDirectory and are made there).
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
  // [Transfer]: SendBackup uses the fast transfer where the target offers it, and this instance
  // offers it to senders. Off without the key: the wire carries ReceiveBackup calls only.
  bool FastTransfer = false;
  // Caps of the fast transfers that SendBackup makes, in KiB per second (0: none): each one, and
  // all of this instance's together.
  int32_t TransferRateLimitKiB = 0;
  int32_t ServiceRateLimitKiB = 0;
  // Days after which the work files of a transfer that stopped are removed.
  int32_t AbandonedWorkDays = 7;
  // SendBackup sends only to the servers in OtherTargetServers ([Vantry] RestrictTargets).
  bool RestrictTargets = false;

  friend bool operator==(const THostSettings&, const THostSettings&) = default;
};

// What the operations tell the host they have done, for the operator's counters.
enum class THostActivity {
  kBackupBytesReceived,  // bytes of ReceiveBackup chunks appended to part files
  kBackupBytesSent,      // bytes of a file SendBackup delivered to another instance
  kBytesArchived,        // sizes of the files ArchiveFile replaced by an archive
};

class IVantryHost {
 public:
  virtual ~IVantryHost() = default;
  // Adds `amount` to the counter of `activity`; safe from any thread, never blocks.
  virtual void CountActivity(THostActivity /*activity*/, int64_t /*amount*/) {}

  // A copy of the settings in effect.
  virtual THostSettings GetSettings() const = 0;
  // Replaces the content of `servers` with a copy of the other target servers, in the order of
  // the configuration.
  virtual void GetOtherTargetServers(std::vector<std::string>& servers) const = 0;
  // The TLS client context for "tls://" targets of SendBackup: the service's own certificate
  // and the CA a target's must chain to. nullptr while no TLS certificate is configured.
  virtual std::shared_ptr<const TlsContext> GetTlsClientContext() const { return nullptr; }
  // The local computer name (empty when it cannot be read) and the GUID made at the last start,
  // taken together so that they always belong to one start.
  virtual void GetInstanceIdentifier(std::string& computer_name, std::string& guid) const = 0;

  // The backup-permission registry. A scheduled request is granted only below the limit and
  // inside the backup period; a manual one always. Both throw Exception "You can't ask for the
  // same permission twice" when `backup_file_name` (letter case ignored) holds one already.
  virtual bool RequestBackupPermission(const std::string& backup_file_name) = 0;
  virtual bool RequestManualBackupPermission(const std::string& backup_file_name) = 0;
  // `granted`: permissions held; `max_limit`: AllowedBackups. Always true.
  virtual bool BackupPermissionGranted(int32_t& granted, int32_t& max_limit) = 0;
  // Releases the permission of `backup_file_name`; false when there is none.
  virtual bool RequestBackupPermissionCompleted(const std::string& backup_file_name) = 0;
};

}  // namespace vantry
