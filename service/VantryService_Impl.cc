#include "service/VantryService_Impl.h"

#include "contract/VantryLibrary_Invk.h"
#include "lib/servermaintanence/MakeDiskSpace.h"
#include "platform/exception.h"
#include "platform/file_helpers.h"
#include "platform/path_helpers.h"
#include "remoting/ro_exception.h"
#include "transfer/fast_transfer_intf.h"

namespace vantry {
namespace {

// A move that replaces the target, may copy across volumes and returns only when written through.
constexpr uint32_t kTransferMoveFlags =
    kMoveFileReplaceExisting | kMoveFileCopyAllowed | kMoveFileWriteThrough;

}  // namespace

void TVantryService::PrepareTransfer(const std::string& from_file_name,
                                     const std::string& to_file_name, const char* verb) {
  if (!file_system_.FileExists(from_file_name)) {
    throw Exception(Format("File \"%s\" does not exist", from_file_name));
  }
  std::string to_dir = ExtractFilePath(to_file_name);
  // The result is not checked: a directory that could not be made fails the copy itself.
  if (to_dir.empty() || !file_system_.DirectoryExists(to_dir)) {
    ForceDirectories(file_system_, to_dir);
  }
  // Twice the size is asked for also when a move stays on one volume.
  if (!(2 * GetFileSize(from_file_name) < GetFreeDiskSpace(ExtractFileDir(to_file_name)))) {
    throw Exception(Format("Not sufficient disk space for %s file \"%s\" to \"%s\"", verb,
                           from_file_name, to_file_name));
  }
}

void TVantryService::CopyFile(const std::string& from_file_name, const std::string& to_file_name) {
  PrepareTransfer(from_file_name, to_file_name, "copying");
  file_system_.CopyFile(from_file_name, to_file_name);
}

void TVantryService::MoveFile(const std::string& from_file_name, const std::string& to_file_name) {
  PrepareTransfer(from_file_name, to_file_name, "moving");
  file_system_.MoveFile(from_file_name, to_file_name, kTransferMoveFlags);
}

bool TVantryService::RenameFile(const std::string& from_file_name,
                                const std::string& to_file_name) {
  file_system_.MoveFile(from_file_name, to_file_name, 0);
  return true;
}

bool TVantryService::DeleteFile(const std::string& file_name) {
  if (!file_system_.FileExists(file_name)) return true;
  return file_system_.TryDeleteFile(file_name);
}

bool TVantryService::FileExists(const std::string& file_name) {
  return file_system_.FileExists(file_name);
}

void TVantryService::CreateDirectory(const std::string& directory_name) {
  if (directory_name.empty() || !file_system_.DirectoryExists(directory_name)) {
    ForceDirectories(file_system_, directory_name);
  }
}

int64_t TVantryService::GetFreeDiskSpace(const std::string& backup_directory) {
  return file_system_.GetFreeBytesAvailable(backup_directory);
}

int64_t TVantryService::GetFileSize(const std::string& file_name) {
  if (!file_system_.FileExists(file_name)) return 0;
  return file_system_.GetFileSize(file_name);
}

int64_t TVantryService::GetRequiredDiskSpace(const std::string& database_file_name) {
  return 2 * GetFileSize(database_file_name);
}

std::unique_ptr<FileList> TVantryService::GetBackupFileNames(const std::string& search_path) {
  auto list = std::make_unique<FileList>();
  std::string prefix = IncludeTrailingBackslash(ExtractFilePath(search_path));
  for (const FileEntry& entry : FindFiles(file_system_, search_path)) {
    list->Add(prefix + entry.name);
  }
  return list;
}

void TVantryService::GetVantryInstanceIdentifier(std::string& computer_name, std::string& guid) {
  host_.GetInstanceIdentifier(computer_name, guid);
}

void TVantryService::MakeSpaceOnDiskForBackup(const std::string& database_file_name,
                                              const std::string& backup_directory,
                                              TVantry_DeleteStrategyType delete_strategy_type) {
  vantry::MakeSpaceOnDiskForBackup(file_system_, clock_, database_file_name, backup_directory,
                                   static_cast<int>(delete_strategy_type));
}

std::string TVantryService::GetDefaultBackupPath() { return host_.GetSettings().DefaultBackupPath; }

std::string TVantryService::GetDefaultDatabasePath() {
  return host_.GetSettings().DefaultDatabasePath;
}

std::string TVantryService::GetAlternateBackupPathForRestoreFromAnotherServer() {
  return host_.GetSettings().AlternateBackupPath;
}

std::string TVantryService::GetAlternateRestorePathForRestoreFromAnotherServer() {
  return host_.GetSettings().AlternateRestorePath;
}

bool TVantryService::GetIsFBClassicServer() { return host_.GetSettings().FBIsClassic; }

TVantry_DeleteStrategyType TVantryService::GetDefaultDeleteStrategy() {
  const std::string strategy = host_.GetSettings().DefaultDeleteStrategy;
  if (strategy == "MODERATE") return TVantry_DeleteStrategyType::vantrydsModerate;
  if (strategy == "AGGRESSIVE") return TVantry_DeleteStrategyType::vantrydsAgressive;
  return TVantry_DeleteStrategyType::vantrydsCareful;
}

std::unique_ptr<TargetServerList> TVantryService::GetOtherTargetServers() {
  // Copied out of the host first, so the host lock is not held while the array grows.
  std::vector<std::string> servers;
  host_.GetOtherTargetServers(servers);
  auto list = std::make_unique<TargetServerList>();
  for (std::string& server : servers) list->Add(std::move(server));
  return list;
}

bool TVantryService::RequestBackupPermission(const std::string& backup_file_name) {
  return host_.RequestBackupPermission(backup_file_name);
}

bool TVantryService::RequestManualBackupPermission(const std::string& backup_file_name) {
  return host_.RequestManualBackupPermission(backup_file_name);
}

bool TVantryService::BackupPermissionGranted(int32_t& granted, int32_t& max_limit) {
  return host_.BackupPermissionGranted(granted, max_limit);
}

bool TVantryService::RequestBackupPermissionCompleted(const std::string& backup_file_name) {
  return host_.RequestBackupPermissionCompleted(backup_file_name);
}

std::string TVantryService::MigrateToServer() { return host_.GetSettings().MigrationTargetServer; }

bool TVantryService::MigrateAllDatabases() { return host_.GetSettings().MigrateAllDatabases; }

bool TVantryService::MigrateUsingClone() { return host_.GetSettings().MigrateUsingClone; }

int32_t TVantryService::GetBackupPeriodEndHour() { return host_.GetSettings().BackupPeriodEndHour; }

std::unique_ptr<TROClassFactory> RegisterFastTransfer(FastTransferReceiver& receiver,
                                                      IVantryHost& host) {
  return CreateFastTransferFactory([&receiver, &host]() -> std::shared_ptr<TRORemotable> {
    if (!host.GetSettings().FastTransfer) {
      throw EROException(
          Format("Class factory for interface %s not found", kFastTransferServiceName));
    }
    return std::make_shared<TFastTransferService>(receiver, host.GetSettings().AbandonedWorkDays);
  });
}

std::unique_ptr<TROClassFactory> RegisterVantryService(FileSystem& file_system, IVantryHost& host,
                                                       const Clock& clock) {
  return CreateVantryServiceFactory([&file_system, &host, &clock] {
    return std::make_shared<TVantryService>(file_system, host, clock);
  });
}

}  // namespace vantry
