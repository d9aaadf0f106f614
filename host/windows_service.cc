#include "host/windows_service.h"

#include <cmath>

#include "host/metrics_text.h"
#include "host/settings_check.h"
#include "platform/event_log.h"

#include "platform/exception.h"
#include "platform/file_helpers.h"
#include "platform/identity.h"
#include "remoting/dispatch.h"

namespace vantry {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

}  // namespace

TWindowsService::TWindowsService(THostOptions options, DriveMap& drives, FileSystem& file_system,
                                 const Clock& clock)
    : options_(std::move(options)), drives_(drives), file_system_(file_system), clock_(clock) {
  executable_dir_ = HostToWindowsDirectory(drives_, options_.home_dir).value_or("");
  own_files_ = std::make_unique<PosixFileSystem>(own_drives_);
  own_dir_ = HostToWindowsDirectory(own_drives_, options_.home_dir).value_or("");
  timCleanUp_.on_timer = [this] { timCleanUpTimer(); };
  ServiceCreate();
}

TWindowsService::~TWindowsService() {
  // Waits for the connection threads, which may be in the hooks, and for a scrape in progress.
  metrics_server_.reset();
  ro_tls_server_.reset();
  ro_server_.reset();
  timCleanUp_.on_timer = nullptr;
}

void TWindowsService::ServiceCreate() {
  ro_message_ = std::make_unique<TROBinMessage>();
  ro_message_->SetName(kMessageComponentName);
  ro_server_ = std::make_unique<TROTCPServer>();
  TROMessageDispatcher& dispatcher = ro_server_->Dispatchers().Add(kMessageComponentName);
  dispatcher.SetMessage(ro_message_.get());
  dispatcher.SetEnabled(true);
  dispatcher.on_call = [this](const TROCallRecord& call) { calls_.Record(call); };
  ro_server_->SetPort(options_.port);
  ro_server_->SetBindAddress(options_.bind_address);
  ro_server_->on_connect = [this](TROTCPConnection& connection) {
    ROServerInternalServerConnect(connection);
  };

  // The TLS listener carries the same frames to the same dispatch, inside TLS.
  ro_tls_server_ = std::make_unique<TROTCPServer>();
  TROMessageDispatcher& tls_dispatcher = ro_tls_server_->Dispatchers().Add(kMessageComponentName);
  tls_dispatcher.SetMessage(ro_message_.get());
  tls_dispatcher.SetEnabled(true);
  tls_dispatcher.on_call = [this](const TROCallRecord& call) { calls_.Record(call); };
  ro_tls_server_->on_connect = [this](TROTCPConnection& connection) {
    ROTLSServerConnect(connection);
  };
}

void TWindowsService::ServiceStart() {
  {
    // The lock lives as long as the host; the lists start empty with every start.
    Lock lock(lock_);
    allowed_source_ips_.Clear();
    other_target_servers_.clear();
    backup_permissions_.Clear();
    instance_guid_ = GuidToString(NewGuid());
  }
  LoadAllowedSourceIPs();
  ReadSettings();
  ReportConfiguration();
  timCleanUp_.SetInterval(kCleanUpIntervalMs);
  timCleanUp_.SetEnabled(true);
  SetServerActive(true);
}

void TWindowsService::ServiceStop() {
  SetServerActive(false);
  timCleanUp_.SetEnabled(false);
  Lock lock(lock_);
  other_target_servers_.clear();
  allowed_source_ips_.Clear();
  backup_permissions_.Clear();  // every permission is forgotten
}

void TWindowsService::ServicePause() {
  // Only the expiry of permissions pauses; remote calls are still served.
  timCleanUp_.SetEnabled(false);
  paused_ = true;
}

void TWindowsService::ServiceContinue() {
  LoadAllowedSourceIPs();
  ReadSettings();
  ReportConfiguration();
  timCleanUp_.SetInterval(kCleanUpIntervalMs);
  timCleanUp_.SetEnabled(true);
  paused_ = false;
}

void TWindowsService::timCleanUpTimer() { ExpireBackupPermissions(); }

void TWindowsService::SetServerActive(bool active) {
  if (!active) {
    metrics_server_.reset();
    settings_read_ = false;
    // Both go off, also when the first fails; the first failure is reported.
    std::exception_ptr failure;
    for (TROTCPServer* server : {ro_tls_server_.get(), ro_server_.get()}) {
      try {
        server->SetActive(false);
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    if (failure) std::rethrow_exception(failure);
    return;
  }
  TServerSettings listen = GetServerSettings();
  bool tls = options_.tls_port.has_value() || listen.tls_port != 0;
  // The plaintext listener keeps the address it was made with unless the file names one.
  ro_server_->SetBindAddress(listen.listen_address != TServerSettings().listen_address
                                 ? listen.listen_address
                                 : options_.bind_address);
  ro_server_->SetActive(true);
  try {
    if (tls) {
      ro_tls_server_->SetPort(options_.tls_port.value_or(listen.tls_port));
      ro_tls_server_->SetBindAddress(listen.tls_listen_address);
      ro_tls_server_->SetActive(true);
    }
    paused_ = false;
    settings_read_ = true;
    // Without a metrics port nothing more listens.
    if (options_.metrics_port.has_value() || listen.metrics_port != 0) {
      metrics_server_ = std::make_unique<HttpServer>(
          listen.metrics_listen_address, options_.metrics_port.value_or(listen.metrics_port),
          [this](const std::string& path) { return AnswerMonitoring(path); });
    }
  } catch (...) {
    ro_tls_server_->SetActive(false);
    ro_server_->SetActive(false);
    throw;
  }
}

void TWindowsService::CountActivity(THostActivity activity, int64_t amount) {
  std::atomic<uint64_t>* counter = nullptr;
  switch (activity) {
    case THostActivity::kBackupBytesReceived: counter = &backup_bytes_received_; break;
    case THostActivity::kBackupBytesSent: counter = &backup_bytes_sent_; break;
    case THostActivity::kBytesArchived: counter = &bytes_archived_; break;
  }
  if (counter != nullptr && amount > 0) {
    counter->fetch_add(static_cast<uint64_t>(amount), std::memory_order_relaxed);
  }
}

int TWindowsService::MetricsPort() const {
  return metrics_server_ ? metrics_server_->Port() : 0;
}

HttpResponse TWindowsService::AnswerMonitoring(const std::string& path) {
  if (path == "/healthz") {
    if (!settings_read_ || !ro_server_->Active()) return {503, "text/plain", "not listening\n"};
    if (paused_) return {503, "text/plain", "paused: backup permissions do not expire\n"};
    return {200, "text/plain", "ok\n"};
  }
  if (path != "/metrics") return {404, "text/plain", "only /metrics and /healthz\n"};
  MetricsText m;
  m.Family("vantry_up", "gauge", "1 while the service listens with its settings read.");
  m.Sample("vantry_up", settings_read_ && ro_server_->Active() ? 1 : 0);
  m.Family("vantry_paused", "gauge", "1 while the service is paused (permissions do not expire).");
  m.Sample("vantry_paused", paused_ ? 1 : 0);
  calls_.Write(m);
  m.Family("vantry_connections_accepted_total", "counter",
           "Connections admitted by the allow-list, on every listener.");
  m.Sample("vantry_connections_accepted_total", static_cast<double>(connections_accepted_));
  m.Family("vantry_connections_refused_total", "counter",
           "Connections closed unserved because the caller is not in the allow-list.");
  m.Sample("vantry_connections_refused_total", static_cast<double>(connections_refused_));
  m.Family("vantry_tls_handshake_failures_total", "counter",
           "TLS handshakes of callers that failed (certificate, name, version or timeout).");
  m.Sample("vantry_tls_handshake_failures_total", static_cast<double>(tls_handshake_failures_));
  m.Family("vantry_backup_received_bytes_total", "counter",
           "Bytes of backup chunks received and appended to part files.");
  m.Sample("vantry_backup_received_bytes_total", static_cast<double>(backup_bytes_received_));
  m.Family("vantry_backup_sent_bytes_total", "counter",
           "Bytes of backup files sent whole to other instances.");
  m.Sample("vantry_backup_sent_bytes_total", static_cast<double>(backup_bytes_sent_));
  m.Family("vantry_archived_bytes_total", "counter",
           "Sizes of the files replaced by a ZIP archive.");
  m.Sample("vantry_archived_bytes_total", static_cast<double>(bytes_archived_));
  int32_t granted = 0, limit = 0;
  BackupPermissionGranted(granted, limit);
  m.Family("vantry_backup_permissions_in_use", "gauge", "Backup permissions held now.");
  m.Sample("vantry_backup_permissions_in_use", granted);
  m.Family("vantry_backup_permissions_limit", "gauge",
           "Backup permissions that scheduled requests may hold at once (AllowedBackups).");
  m.Sample("vantry_backup_permissions_limit", limit);
  m.Family("vantry_backup_permissions_expired_total", "counter",
           "Backup permissions removed by the expiry timer (older than MaxBackupTimeMinutes).");
  m.Sample("vantry_backup_permissions_expired_total", static_cast<double>(permissions_expired_));
  m.Family("vantry_drive_free_bytes", "gauge",
           "Bytes free for the service on the volume of each mapped drive.");
  for (const auto& [letter, root] : drives_.Snapshot()) {
    if (root.empty()) continue;
    try {
      m.Sample("vantry_drive_free_bytes",
               static_cast<double>(file_system_.GetFreeBytesAvailable(std::string(1, letter) + ":\\")),
               {{"drive", std::string(1, letter)}});
    } catch (const std::exception&) {
      // A drive whose directory is gone has no figure; the settings check names it.
    }
  }
  ProcessUsage usage = CurrentProcessUsage();
  m.Family("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
  m.Sample("process_resident_memory_bytes", static_cast<double>(usage.resident_bytes));
  m.Family("process_threads", "gauge", "Threads of the process.");
  m.Sample("process_threads", static_cast<double>(usage.threads));
  return {200, "text/plain; version=0.0.4; charset=utf-8", m.Text()};
}

void TWindowsService::ExpireBackupPermissions() {
  Lock lock(lock_);
  const size_t before = backup_permissions_.Count();
  backup_permissions_.Expire(settings_.MaxBackupTimeMinutes, clock_.Now());
  permissions_expired_.fetch_add(before - backup_permissions_.Count(), std::memory_order_relaxed);
}

bool TWindowsService::IsInBackupPeriod() const {
  Lock lock(lock_);
  return IsHourInBackupPeriod(DecodeDateTime(clock_.Now()).hour, settings_.BackupPeriodStartHour,
                              settings_.BackupPeriodEndHour);
}

bool TWindowsService::RequestBackupPermission(const std::string& backup_file_name) {
  Lock lock(lock_);
  // The limit and the period are tested before the duplicate, so a repeated request at the limit
  // or outside the period is refused quietly instead of failing.
  const int64_t free_places =
      int64_t{settings_.AllowedBackups} - static_cast<int64_t>(backup_permissions_.Count());
  if (free_places <= 0) return false;
  if (!IsInBackupPeriod()) return false;
  backup_permissions_.Add(backup_file_name, clock_.Now());
  return true;
}

bool TWindowsService::RequestManualBackupPermission(const std::string& backup_file_name) {
  Lock lock(lock_);
  backup_permissions_.Add(backup_file_name, clock_.Now());
  return true;
}

bool TWindowsService::BackupPermissionGranted(int32_t& granted, int32_t& max_limit) {
  Lock lock(lock_);
  granted = static_cast<int32_t>(backup_permissions_.Count());
  max_limit = settings_.AllowedBackups;
  return true;
}

bool TWindowsService::RequestBackupPermissionCompleted(const std::string& backup_file_name) {
  Lock lock(lock_);
  return backup_permissions_.Remove(backup_file_name);
}

std::pair<FileSystem*, std::string> TWindowsService::OwnFile(const char* name) {
  if (!executable_dir_.empty()) return {&file_system_, executable_dir_ + name};
  return {own_files_.get(), own_dir_.empty() ? "" : own_dir_ + name};
}

void TWindowsService::LoadAllowedSourceIPs() {
  Lock lock(lock_);
  allowed_source_ips_.Clear();
  allow_list_read_.reset();
  auto [files, path] = OwnFile(kAllowedSourceIPsFileName);
  if (path.empty() || !files->FileExists(path)) return;
  allow_list_read_ = files->ReadWholeFile(path);
  allowed_source_ips_ = ParseAllowedSourceIPs(*allow_list_read_);
}

bool TWindowsService::IsSourceIPCheckActive() const {
  Lock lock(lock_);
  return allowed_source_ips_.Count() > 0;
}

bool TWindowsService::IsSourceIPRefused(const std::string& address) const {
  Lock lock(lock_);
  return !allowed_source_ips_.IndexOf(address).has_value();
}

void TWindowsService::ROServerInternalServerConnect(TROTCPConnection& connection) {
  // The two tests lock separately: a reload in between admits or refuses by either list,
  // both of which were valid.
  if (!IsSourceIPCheckActive() || !IsSourceIPRefused(connection.PeerAddress())) {
    connections_accepted_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  connections_refused_.fetch_add(1, std::memory_order_relaxed);
  NoteRefusedCaller(connection.PeerAddress());
  connection.Close();
}

void TWindowsService::NoteRefusedCaller(const std::string& address) {
  constexpr double kMinute = 1.0 / (24 * 60);  // in days, as the clock counts
  const double now = clock_.Now();
  {
    std::lock_guard<std::mutex> lock(refused_lock_);
    auto [it, fresh] = refused_reported_.try_emplace(address, now);
    if (!fresh && std::abs(now - it->second) < kMinute) return;
    it->second = now;
    // Forget addresses quiet for a minute, so a scan of many addresses does not grow the map.
    std::erase_if(refused_reported_, [&](const auto& entry) {
      return std::abs(now - entry.second) >= kMinute;
    });
  }
  Warn(Format("refused a caller from %s: not in AllowedSourceIPs.txt", address));
}

void TWindowsService::Warn(const std::string& text) const {
  if (options_.warn) {
    options_.warn(text);
  } else {
    WriteEventLogWarning(kServiceName, "warning: " + text);
  }
}

void TWindowsService::ReportConfiguration() {
  for (const std::string& warning : CheckConfiguration()) Warn(warning);
}

std::vector<std::string> TWindowsService::CheckConfiguration() {
  IniFile ini;
  TConfigurationToCheck config;
  {
    Lock lock(lock_);
    ini = ini_read_;
    config.allowed_source_ips = allow_list_read_;
  }
  config.ini = &ini;
  config.home_dir = options_.home_dir;
  config.directory_exists = HostDirectoryExists;
  return vantry::CheckConfiguration(config);
}

void TWindowsService::ROTLSServerConnect(TROTCPConnection& connection) {
  ROServerInternalServerConnect(connection);
  if (!connection.Connected()) return;
  std::shared_ptr<const TlsContext> context;
  {
    Lock lock(lock_);
    context = tls_server_context_;
  }
  // Without a context (the start failed half-way) nobody is served.
  if (!context) {
    connection.Close();
    return;
  }
  try {
    connection.StartServerTls(std::move(context));
  } catch (const ETlsError&) {
    tls_handshake_failures_.fetch_add(1, std::memory_order_relaxed);
    throw;
  }
}

void TWindowsService::ReadSettings() {
  Lock lock(lock_);
  IniFile ini;
  auto [files, path] = OwnFile(kSettingsFileName);
  if (!path.empty() && files->FileExists(path)) ini = IniFile::Parse(files->ReadWholeFile(path));
  // The executable's directory is shown to callers through the drive map just read; a map that
  // does not reach it shows none (and the defaults become bare names unless the file sets
  // BaseDefaultDirectory).
  DriveMap::Roots roots = ParseDriveRoots(ini);
  std::string executable_dir =
      HostToWindowsDirectory(DriveMap(roots), options_.home_dir).value_or("");
  TSettingsRead read = ParseSettings(ini, executable_dir);
  TServerSettings server = ParseServerSettings(ini, options_.home_dir);
  // The TLS files are loaded before anything changes, so a bad file leaves the host as it was.
  bool listener = options_.tls_port.has_value() || server.tls_port != 0;
  if (listener && !server.HasCertificate()) {
    throw ETlsError("The TLS listener needs [TLS] CertificateFile, KeyFile and ClientCAFile");
  }
  std::shared_ptr<const TlsContext> tls_server, tls_client;
  if (server.HasCertificate()) {
    tls_server = std::make_shared<TlsContext>(TlsRole::kServer, server.tls);
    tls_client = std::make_shared<TlsContext>(TlsRole::kClient, server.tls);
  }
  drives_.Replace(roots);
  executable_dir_ = executable_dir;
  ini_read_ = std::move(ini);
  settings_ = std::move(read.settings);
  other_target_servers_ = std::move(read.other_target_servers);
  server_settings_ = std::move(server);
  tls_server_context_ = std::move(tls_server);
  tls_client_context_ = std::move(tls_client);
}

THostSettings TWindowsService::GetSettings() const {
  Lock lock(lock_);
  return settings_;
}

void TWindowsService::GetOtherTargetServers(std::vector<std::string>& servers) const {
  Lock lock(lock_);
  servers = other_target_servers_;
}

std::shared_ptr<const TlsContext> TWindowsService::GetTlsClientContext() const {
  Lock lock(lock_);
  return tls_client_context_;
}

TServerSettings TWindowsService::GetServerSettings() const {
  Lock lock(lock_);
  return server_settings_;
}

void TWindowsService::GetInstanceIdentifier(std::string& computer_name, std::string& guid) const {
  Lock lock(lock_);
  computer_name = ComputerName();
  guid = instance_guid_;
}

std::string TWindowsService::GetExecutableDirectory() const {
  Lock lock(lock_);
  return executable_dir_;
}

std::vector<std::string> TWindowsService::GetAllowedSourceIPs() const {
  Lock lock(lock_);
  return allowed_source_ips_.Items();
}

std::vector<std::string> TWindowsService::GetBackupPermissions() const {
  Lock lock(lock_);
  return backup_permissions_.Entries();
}

std::string TWindowsService::DescribeState() const {
  Lock lock(lock_);
  std::string tls = ro_tls_server_->Active() ? Format("; TLS port %d", ro_tls_server_->GetPort())
                                             : std::string();
  return Format("instance %s; port %d%s; home %s; %s", instance_guid_, ro_server_->GetPort(), tls,
                executable_dir_, DescribeSettings({settings_, other_target_servers_}));
}

}  // namespace vantry
