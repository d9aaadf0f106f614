#include "contract/VantryLibrary_Intf.h"

#include "contract/contract_document.h"
#include "contract/vantry_operations.h"
#include "remoting/enum_registry.h"
#include "remoting/remote_service.h"
#include "remoting/service_description.h"

namespace vantry {
namespace {

constexpr const char* kDeleteStrategyValueNames[] = {"vantrydsCareful", "vantrydsModerate",
                                                     "vantrydsAgressive"};

std::shared_ptr<TROProxy> CreateVantryServiceProxy(TRORemoteService& holder) {
  return std::make_shared<TVantryService_Proxy>(holder);
}

void UnregisterArrays() {
  UnregisterComplexTypeClass(TargetServerList::StaticClass());
  UnregisterComplexTypeClass(FileList::StaticClass());
}

}  // namespace

const TypeInfo& DeleteStrategyTypeInfo() {
  static const TypeInfo info = EnumTypeInfo(kDeleteStrategyTypeName, 1);
  return info;
}

const ClassInfo& FileList::StaticClass() {
  static const ClassInfo info = MakeClassInfo<FileList, TROArray>("FileList");
  return info;
}

const ClassInfo& TargetServerList::StaticClass() {
  static const ClassInfo info = MakeClassInfo<TargetServerList, TROArray>("TargetServerList");
  return info;
}

template <auto Method, typename... Args>
auto TVantryService_Proxy::Remote(Args&&... args) {
  auto send = [this](std::string_view operation, const auto& write_in, const auto& read_out) {
    Call(kVantryLibraryName, operation, write_in, read_out);
  };
  return CallOperation<kVantryOperations, Method>(send, std::forward<Args>(args)...);
}

void TVantryService_Proxy::CopyFile(const std::string& from_file_name,
                                    const std::string& to_file_name) {
  Remote<&IVantryService::CopyFile>(from_file_name, to_file_name);
}

void TVantryService_Proxy::GetVantryInstanceIdentifier(std::string& computer_name,
                                                       std::string& guid) {
  Remote<&IVantryService::GetVantryInstanceIdentifier>(computer_name, guid);
}

bool TVantryService_Proxy::FileExists(const std::string& file_name) {
  return Remote<&IVantryService::FileExists>(file_name);
}

bool TVantryService_Proxy::DeleteFile(const std::string& file_name) {
  return Remote<&IVantryService::DeleteFile>(file_name);
}

bool TVantryService_Proxy::RenameFile(const std::string& from_file_name,
                                      const std::string& to_file_name) {
  return Remote<&IVantryService::RenameFile>(from_file_name, to_file_name);
}

void TVantryService_Proxy::MoveFile(const std::string& from_file_name,
                                    const std::string& to_file_name) {
  Remote<&IVantryService::MoveFile>(from_file_name, to_file_name);
}

void TVantryService_Proxy::ArchiveFile(const std::string& file_name) {
  Remote<&IVantryService::ArchiveFile>(file_name);
}

void TVantryService_Proxy::CreateDirectory(const std::string& directory_name) {
  Remote<&IVantryService::CreateDirectory>(directory_name);
}

void TVantryService_Proxy::MakeSpaceOnDiskForBackup(
    const std::string& database_file_name, const std::string& backup_directory,
    TVantry_DeleteStrategyType delete_strategy_type) {
  Remote<&IVantryService::MakeSpaceOnDiskForBackup>(database_file_name, backup_directory,
                                                    delete_strategy_type);
}

int64_t TVantryService_Proxy::GetFreeDiskSpace(const std::string& backup_directory) {
  return Remote<&IVantryService::GetFreeDiskSpace>(backup_directory);
}

int64_t TVantryService_Proxy::GetRequiredDiskSpace(const std::string& database_file_name) {
  return Remote<&IVantryService::GetRequiredDiskSpace>(database_file_name);
}

std::unique_ptr<FileList> TVantryService_Proxy::GetBackupFileNames(const std::string& search_path) {
  return Remote<&IVantryService::GetBackupFileNames>(search_path);
}

int64_t TVantryService_Proxy::GetFileSize(const std::string& file_name) {
  return Remote<&IVantryService::GetFileSize>(file_name);
}

std::string TVantryService_Proxy::GetDefaultBackupPath() {
  return Remote<&IVantryService::GetDefaultBackupPath>();
}

std::string TVantryService_Proxy::GetDefaultDatabasePath() {
  return Remote<&IVantryService::GetDefaultDatabasePath>();
}

std::string TVantryService_Proxy::GetAlternateBackupPathForRestoreFromAnotherServer() {
  return Remote<&IVantryService::GetAlternateBackupPathForRestoreFromAnotherServer>();
}

std::string TVantryService_Proxy::GetAlternateRestorePathForRestoreFromAnotherServer() {
  return Remote<&IVantryService::GetAlternateRestorePathForRestoreFromAnotherServer>();
}

void TVantryService_Proxy::ReceiveBackup(const std::string& file_name, int64_t total_file_size,
                                         int64_t offset, TROBinaryMemoryStream* data_chunk) {
  Remote<&IVantryService::ReceiveBackup>(file_name, total_file_size, offset, data_chunk);
}

void TVantryService_Proxy::SendBackup(const std::string& source_file_name,
                                      const std::string& target_server,
                                      const std::string& target_file_name) {
  Remote<&IVantryService::SendBackup>(source_file_name, target_server, target_file_name);
}

bool TVantryService_Proxy::GetIsFBClassicServer() {
  return Remote<&IVantryService::GetIsFBClassicServer>();
}

TVantry_DeleteStrategyType TVantryService_Proxy::GetDefaultDeleteStrategy() {
  return Remote<&IVantryService::GetDefaultDeleteStrategy>();
}

std::unique_ptr<TargetServerList> TVantryService_Proxy::GetOtherTargetServers() {
  return Remote<&IVantryService::GetOtherTargetServers>();
}

bool TVantryService_Proxy::RequestBackupPermission(const std::string& backup_file_name) {
  return Remote<&IVantryService::RequestBackupPermission>(backup_file_name);
}

bool TVantryService_Proxy::RequestManualBackupPermission(const std::string& backup_file_name) {
  return Remote<&IVantryService::RequestManualBackupPermission>(backup_file_name);
}

bool TVantryService_Proxy::BackupPermissionGranted(int32_t& granted, int32_t& max_limit) {
  return Remote<&IVantryService::BackupPermissionGranted>(granted, max_limit);
}

bool TVantryService_Proxy::RequestBackupPermissionCompleted(const std::string& backup_file_name) {
  return Remote<&IVantryService::RequestBackupPermissionCompleted>(backup_file_name);
}

std::string TVantryService_Proxy::MigrateToServer() {
  return Remote<&IVantryService::MigrateToServer>();
}

bool TVantryService_Proxy::MigrateAllDatabases() {
  return Remote<&IVantryService::MigrateAllDatabases>();
}

bool TVantryService_Proxy::MigrateUsingClone() {
  return Remote<&IVantryService::MigrateUsingClone>();
}

int32_t TVantryService_Proxy::GetBackupPeriodEndHour() {
  return Remote<&IVantryService::GetBackupPeriodEndHour>();
}

VantryLibraryRegistration::VantryLibraryRegistration() {
  try {
    RegisterComplexTypeClass(FileList::StaticClass());
    RegisterComplexTypeClass(TargetServerList::StaticClass());
  } catch (...) {
    UnregisterArrays();
    throw;
  }
  RegisterExceptionClass(ExceptionClassOf<EVantryException>());
  RegisterProxyClass(kIVantryServiceGuid, &CreateVantryServiceProxy);
  RegisterEnumeration(kDeleteStrategyTypeName, DeleteStrategyTypeInfo());
  for (const char* name : kDeleteStrategyValueNames) RegisterValueNameMapping(name, name);
  // Metadata requests are answered with the stored document while the contract is registered.
  SetServiceDescription(StoredContractDocument());
}

VantryLibraryRegistration::~VantryLibraryRegistration() {
  SetServiceDescription({});
  UnregisterArrays();
  UnregisterExceptionClass(EVantryException("").ClassName());
  UnregisterProxyClass(kIVantryServiceGuid);
  for (const char* name : kDeleteStrategyValueNames) UnregisterValueNameMapping(name);
  UnregisterEnumeration(kDeleteStrategyTypeName);
}

}  // namespace vantry
