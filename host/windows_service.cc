#include "host/windows_service.h"

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
  timCleanUp_.on_timer = [this] { timCleanUpTimer(); };
  ServiceCreate();
}

TWindowsService::~TWindowsService() {
  ro_server_.reset();  // waits for the connection threads, which may be in the hook
  timCleanUp_.on_timer = nullptr;
}

void TWindowsService::ServiceCreate() {
  ro_message_ = std::make_unique<TROBinMessage>();
  ro_message_->SetName(kMessageComponentName);
  ro_server_ = std::make_unique<TROTCPServer>();
  TROMessageDispatcher& dispatcher = ro_server_->Dispatchers().Add(kMessageComponentName);
  dispatcher.SetMessage(ro_message_.get());
  dispatcher.SetEnabled(true);
  ro_server_->SetPort(options_.port);
  ro_server_->SetBindAddress(options_.bind_address);
  ro_server_->on_connect = [this](TROTCPConnection& connection) {
    ROServerInternalServerConnect(connection);
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
}

void TWindowsService::ServiceContinue() {
  LoadAllowedSourceIPs();
  ReadSettings();
  timCleanUp_.SetInterval(kCleanUpIntervalMs);
  timCleanUp_.SetEnabled(true);
}

void TWindowsService::timCleanUpTimer() { ExpireBackupPermissions(); }

void TWindowsService::SetServerActive(bool active) { ro_server_->SetActive(active); }

void TWindowsService::ExpireBackupPermissions() {
  Lock lock(lock_);
  backup_permissions_.Expire(settings_.MaxBackupTimeMinutes, clock_.Now());
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

void TWindowsService::LoadAllowedSourceIPs() {
  Lock lock(lock_);
  allowed_source_ips_.Clear();
  const std::string path = executable_dir_ + kAllowedSourceIPsFileName;
  if (executable_dir_.empty() || !file_system_.FileExists(path)) return;
  allowed_source_ips_ = ParseAllowedSourceIPs(file_system_.ReadWholeFile(path));
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
  if (!IsSourceIPCheckActive()) return;
  if (IsSourceIPRefused(connection.PeerAddress())) connection.Close();
}

void TWindowsService::ReadSettings() {
  Lock lock(lock_);
  IniFile ini;
  const std::string path = executable_dir_ + kSettingsFileName;
  if (!executable_dir_.empty() && file_system_.FileExists(path)) {
    ini = IniFile::Parse(file_system_.ReadWholeFile(path));
  }
  // The base directory is shown to callers through the drive map just read, so it must reach
  // the home directory; refusing here keeps the service able to find its own settings.
  DriveMap::Roots roots = ParseDriveRoots(ini);
  std::optional<std::string> executable_dir =
      HostToWindowsDirectory(DriveMap(roots), options_.home_dir);
  if (!executable_dir) {
    throw Exception(Format("No drive reaches the home directory \"%s\"", options_.home_dir));
  }
  TSettingsRead read = ParseSettings(ini, *executable_dir);
  drives_.Replace(roots);
  executable_dir_ = *executable_dir;
  settings_ = std::move(read.settings);
  other_target_servers_ = std::move(read.other_target_servers);
}

THostSettings TWindowsService::GetSettings() const {
  Lock lock(lock_);
  return settings_;
}

void TWindowsService::GetOtherTargetServers(std::vector<std::string>& servers) const {
  Lock lock(lock_);
  servers = other_target_servers_;
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
  return Format("instance %s; port %d; home %s; %s", instance_guid_, ro_server_->GetPort(),
                executable_dir_, DescribeSettings({settings_, other_target_servers_}));
}

}  // namespace vantry
