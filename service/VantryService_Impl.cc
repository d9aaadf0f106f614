#include "service/VantryService_Impl.h"

#include "contract/VantryLibrary_Invk.h"
#include "platform/exception.h"
#include "platform/file_helpers.h"
#include "platform/path_helpers.h"

namespace vantry {
namespace {

// A move that replaces the target, may copy across volumes and returns only when written through.
constexpr uint32_t kTransferMoveFlags =
    kMoveFileReplaceExisting | kMoveFileCopyAllowed | kMoveFileWriteThrough;

[[noreturn]] void RaiseNotAvailable(const char* operation) {
  throw Exception(Format("Operation %s is not available yet", operation));
}

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
  RaiseNotAvailable("GetVantryInstanceIdentifier");
}

void TVantryService::ArchiveFile(const std::string& file_name) { RaiseNotAvailable("ArchiveFile"); }

void TVantryService::MakeSpaceOnDiskForBackup(const std::string& database_file_name,
                                              const std::string& backup_directory,
                                              TVantry_DeleteStrategyType delete_strategy_type) {
  RaiseNotAvailable("MakeSpaceOnDiskForBackup");
}

std::string TVantryService::GetDefaultBackupPath() { RaiseNotAvailable("GetDefaultBackupPath"); }

std::string TVantryService::GetDefaultDatabasePath() {
  RaiseNotAvailable("GetDefaultDatabasePath");
}

std::string TVantryService::GetAlternateBackupPathForRestoreFromAnotherServer() {
  RaiseNotAvailable("GetAlternateBackupPathForRestoreFromAnotherServer");
}

std::string TVantryService::GetAlternateRestorePathForRestoreFromAnotherServer() {
  RaiseNotAvailable("GetAlternateRestorePathForRestoreFromAnotherServer");
}

bool TVantryService::GetIsFBClassicServer() { RaiseNotAvailable("GetIsFBClassicServer"); }

TVantry_DeleteStrategyType TVantryService::GetDefaultDeleteStrategy() {
  RaiseNotAvailable("GetDefaultDeleteStrategy");
}

std::unique_ptr<TargetServerList> TVantryService::GetOtherTargetServers() {
  RaiseNotAvailable("GetOtherTargetServers");
}

bool TVantryService::RequestBackupPermission(const std::string& backup_file_name) {
  RaiseNotAvailable("RequestBackupPermission");
}

bool TVantryService::RequestManualBackupPermission(const std::string& backup_file_name) {
  RaiseNotAvailable("RequestManualBackupPermission");
}

bool TVantryService::BackupPermissionGranted(int32_t& granted, int32_t& max_limit) {
  RaiseNotAvailable("BackupPermissionGranted");
}

bool TVantryService::RequestBackupPermissionCompleted(const std::string& backup_file_name) {
  RaiseNotAvailable("RequestBackupPermissionCompleted");
}

std::string TVantryService::MigrateToServer() { RaiseNotAvailable("MigrateToServer"); }

bool TVantryService::MigrateAllDatabases() { RaiseNotAvailable("MigrateAllDatabases"); }

bool TVantryService::MigrateUsingClone() { RaiseNotAvailable("MigrateUsingClone"); }

int32_t TVantryService::GetBackupPeriodEndHour() { RaiseNotAvailable("GetBackupPeriodEndHour"); }

std::unique_ptr<TROClassFactory> RegisterVantryService(FileSystem& file_system) {
  return CreateVantryServiceFactory(
      [&file_system] { return std::make_shared<TVantryService>(file_system); });
}

}  // namespace vantry
