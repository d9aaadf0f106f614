// TWindowsService: the service host, the one long-lived object of the process. It owns the
// state that outlives a remote call (settings, caller allow-list, other target servers, backup
// permissions, instance GUID), the remote-call server through which callers reach
// VantryService (message component "ROMessage", TCP server "ROServer"), and the lifecycle
// handlers the service framework calls (platform/service_host.h). Remote operations reach it
// through the interface IVantryHost that the program entry hands to the service's class factory,
// and only through its locked operations, which hand out copies.
//
// Thread safety: the lifecycle handlers run on the service thread, timCleanUpTimer on the main
// thread, getters and the connect hook on connection threads. Every operation holds the host lock,
// a re-entrant mutex, for its whole duration; nothing that refers into host state leaves the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/backup_permissions.h"
#include "host/call_metrics.h"
#include "host/settings.h"
#include "host/string_lists.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/http_server.h"
#include "platform/paths.h"
#include "platform/service_host.h"
#include "remoting/frame_format.h"
#include "remoting/message.h"
#include "remoting/tcp_connection.h"
#include "remoting/tcp_server.h"
#include "service/vantry_host.h"

namespace vantry {

inline constexpr char kServiceName[] = "WindowsService";
inline constexpr char kServiceDisplayName[] = "Vantry Service";
inline constexpr int kCleanUpIntervalMs = 20000;
inline constexpr char kMessageComponentName[] = "ROMessage";
inline constexpr char kAllowedSourceIPsFileName[] = "AllowedSourceIPs.txt";

inline constexpr char kTlsServerComponentName[] = "ROTLSServer";

struct THostOptions {
  std::string home_dir;           // absolute host path standing for the executable's directory
  int port = kDefaultPort;  // 0: any free port (ROServer().GetPort() tells which)
  // The plaintext listener's address unless [Vantry] ListenAddress names one.
  std::string bind_address = "0.0.0.0";
  // The TLS listener's port in place of [TLS] Port, which then need not be set (0: any free
  // port, ROTLSServer().GetPort() tells which); nothing: as the file says.
  std::optional<int> tls_port = {};
  // Where the warnings of the settings check and of refused callers go; empty: the system log
  // and stderr (WriteEventLogWarning), behind "warning: ".
  std::function<void(const std::string&)> warn = {};
  // The metrics listener's port in place of [Metrics] Port (0: any free port,
  // MetricsPort() tells which); nothing: as the file says.
  std::optional<int> metrics_port = {};
};

class TWindowsService : public IVantryHost {
 public:
  // Runs ServiceCreate. `drives` is the map the file system resolves through; ReadSettings
  // replaces it with the "Drives" section. `drives`, `file_system` and `clock` must outlive the
  // host.
  TWindowsService(THostOptions options, DriveMap& drives, FileSystem& file_system,
                  const Clock& clock);
  TWindowsService(const TWindowsService&) = delete;
  TWindowsService& operator=(const TWindowsService&) = delete;
  ~TWindowsService() override;

  // Lifecycle handlers; each throws when a step fails, leaving the later steps undone.
  // ServiceStart switches the server on last (ECouldNotBindSocket "Could not bind socket.
  // Address and port are already in use."); ServiceStop switches it off first
  // (ETerminateThreadTimeout "Terminate Thread Timeout" leaves the lists in place).
  void ServiceStart();
  void ServiceStop();
  void ServicePause();
  void ServiceContinue();
  // Fired by timCleanUp on the main thread.
  void timCleanUpTimer();

  // Reads "Vantry.ini" from the executable's directory and replaces the settings, the
  // other-target-server list, the drive map, and the TLS certificates and allowed names (new
  // TLS connections use them; open ones keep theirs). Listen addresses and the TLS port take
  // effect at the next start. A missing file gives every default. Throws EFOpenError "Cannot
  // open file "%s". %s" when the file exists but cannot be read, and ETlsError when a TLS file
  // cannot be loaded or the TLS listener has no certificate; the host is then unchanged.
  void ReadSettings();
  // Replaces the caller allow-list by the lines of "AllowedSourceIPs.txt" in the executable's
  // directory, when that file passes the file existence test: each line taken as written,
  // empty lines skipped, duplicates (ignoring case) collapsed, then every entry beginning with
  // "#" removed. Throws EFOpenError "Cannot open file "%s". %s" when the file exists but cannot
  // be read; the list is then empty and every caller is admitted.
  void LoadAllowedSourceIPs();
  // The settings check (host/settings_check.h) over the files as the last ReadSettings and
  // LoadAllowedSourceIPs read them: one warning line per finding. ServiceStart and
  // ServiceContinue write them after reading.
  std::vector<std::string> CheckConfiguration();
  // True when the allow-list holds at least one entry.
  bool IsSourceIPCheckActive() const;
  // True when `address` (dotted text) is not in the allow-list.
  bool IsSourceIPRefused(const std::string& address) const;
  // The server's connect hook: closes a new connection from a caller outside an active
  // allow-list before anything is read from it, with one warning per address and minute. Each
  // test takes the host lock on its own.
  void ROServerInternalServerConnect(TROTCPConnection& connection);
  // The TLS listener's connect hook: the same admission, then the TLS handshake with the
  // certificates and allowed names in effect (ETlsError closes the connection unserved).
  void ROTLSServerConnect(TROTCPConnection& connection);

  // Getters: each takes the host lock and returns a copy (one setting: GetSettings().Name).
  THostSettings GetSettings() const override;
  // Replaces the content of `servers` with a copy of the other target servers.
  void GetOtherTargetServers(std::vector<std::string>& servers) const override;
  std::shared_ptr<const TlsContext> GetTlsClientContext() const override;
  // The settings of the listeners and TLS in effect (a copy).
  TServerSettings GetServerSettings() const;
  // The local computer name (read now; empty when it cannot be read) and the instance GUID.
  void GetInstanceIdentifier(std::string& computer_name, std::string& guid) const override;

  // The backup-permission registry (host/backup_permissions.h), each operation under the host
  // lock. A scheduled request returns false when AllowedBackups minus the permissions held is
  // not positive, then false outside the backup period, and only then throws Exception "You
  // can't ask for the same permission twice" for a name that holds one; a manual request skips
  // the first two tests. The new entry is name=now.
  bool RequestBackupPermission(const std::string& backup_file_name) override;
  bool RequestManualBackupPermission(const std::string& backup_file_name) override;
  bool BackupPermissionGranted(int32_t& granted, int32_t& max_limit) override;
  bool RequestBackupPermissionCompleted(const std::string& backup_file_name) override;
  void CountActivity(THostActivity activity, int64_t amount) override;
  // Whether the hour of the clock's local time lies in the backup period of the settings.
  bool IsInBackupPeriod() const;
  // The executable's directory as callers see it: the home directory in Windows form, ending
  // in "\" (empty when no drive of the callers' map reaches it).
  std::string GetExecutableDirectory() const;
  // The caller allow-list, sorted (a copy).
  std::vector<std::string> GetAllowedSourceIPs() const;
  // The permission entries (name=time), in list order.
  std::vector<std::string> GetBackupPermissions() const;
  // One diagnostic line: instance GUID, the server's port (the one bound, while active) and
  // every setting.
  std::string DescribeState() const;

  // The monitoring endpoint's answers: "/metrics" in the Prometheus text format, "/healthz"
  // 200 while the service runs with its settings read, 503 with the reason otherwise.
  HttpResponse AnswerMonitoring(const std::string& path);
  // The port the metrics listener is bound to; 0 while there is none.
  int MetricsPort() const;

  // The host lock (re-entrant), for tests that check what runs under it.
  std::recursive_mutex& HostLock() const { return lock_; }
  // The periodic timer the service framework fires on the main thread.
  ServiceTimer& CleanUpTimer() { return timCleanUp_; }
  const THostOptions& Options() const { return options_; }
  // The remote-call server and its message component.
  TROTCPServer& ROServer() { return *ro_server_; }
  // The TLS listener: active while the service runs with a TLS port.
  TROTCPServer& ROTLSServer() { return *ro_tls_server_; }
  TROBinMessage& ROMessage() { return *ro_message_; }

 private:
  // Creates and wires the remote-call server, inactive.
  void ServiceCreate();
  // The remote-call servers: switched on as the last step of a start and off as the first step
  // of a stop. The TLS listener runs beside the plaintext one when a TLS port is set.
  void SetServerActive(bool active);
  // Where the host reads a file of its own ("Vantry.ini", "AllowedSourceIPs.txt"): through the
  // callers' drive map while it reaches the home directory, otherwise through a map of the
  // host's own (Z: = /), so that a map that leaves callers their backup drive only still lets
  // the service read its settings.
  std::pair<FileSystem*, std::string> OwnFile(const char* name);
  // The expiry pass of the backup-permission registry, run by timCleanUpTimer: removes every
  // permission older than MaxBackupTimeMinutes whole minutes.
  void ExpireBackupPermissions();
  void Warn(const std::string& text) const;
  // Writes the settings check's warnings.
  void ReportConfiguration();
  // One warning for a refused caller, unless `address` had one within the last minute.
  void NoteRefusedCaller(const std::string& address);

  const THostOptions options_;
  DriveMap& drives_;
  FileSystem& file_system_;
  const Clock& clock_;  // local time of permission grants and expiry

  ServiceTimer timCleanUp_{kCleanUpIntervalMs};
  mutable std::recursive_mutex lock_;
  // The lists exist only between a start and a stop; outside that they are kept empty.
  TSortedTextList allowed_source_ips_;             // guarded by lock_
  std::vector<std::string> other_target_servers_;  // guarded by lock_
  TBackupPermissionRegistry backup_permissions_;   // guarded by lock_
  THostSettings settings_;                         // guarded by lock_
  TServerSettings server_settings_;                // guarded by lock_
  // Made from the [TLS] files at each reading; null while no certificate is configured.
  std::shared_ptr<const TlsContext> tls_server_context_;  // guarded by lock_
  std::shared_ptr<const TlsContext> tls_client_context_;  // guarded by lock_
  std::string instance_guid_;                      // guarded by lock_
  std::string executable_dir_;                     // guarded by lock_
  IniFile ini_read_;  // "Vantry.ini" as last read, for the settings check; guarded by lock_
  std::optional<std::string> allow_list_read_;  // likewise "AllowedSourceIPs.txt"
  // When each refused address was last reported (local time); refusals only, so the lock
  // costs admitted callers nothing.
  std::mutex refused_lock_;
  std::map<std::string, double> refused_reported_;  // guarded by refused_lock_

  // Counted on the connection threads without a lock.
  TCallMetrics calls_;
  std::atomic<uint64_t> connections_accepted_{0};
  std::atomic<uint64_t> connections_refused_{0};
  std::atomic<uint64_t> tls_handshake_failures_{0};
  std::atomic<uint64_t> permissions_expired_{0};
  std::atomic<uint64_t> backup_bytes_received_{0};
  std::atomic<uint64_t> backup_bytes_sent_{0};
  std::atomic<uint64_t> bytes_archived_{0};
  std::atomic<bool> paused_{false};
  std::atomic<bool> settings_read_{false};
  // The monitoring listener: on from a start to a stop when a metrics port is set.
  std::unique_ptr<HttpServer> metrics_server_;

  // The host's own view of the file system, for its own files when the callers' map does not
  // reach the home directory.
  DriveMap own_drives_;
  std::unique_ptr<FileSystem> own_files_;
  std::string own_dir_;  // the home directory through own_drives_, ending in "\"

  // Declared last: the servers go first on destruction, ending the connection threads that
  // use the message, the lock and the lists.
  std::unique_ptr<TROBinMessage> ro_message_;
  std::unique_ptr<TROTCPServer> ro_server_;
  std::unique_ptr<TROTCPServer> ro_tls_server_;
};

}  // namespace vantry
