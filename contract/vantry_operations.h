// The operations of VantryService, each declared once: the member function of IVantryService, the
// operation name (the request message name) and the parameter names, in slot order. The invoker's
// 30 handlers and the proxy's 30 methods are both generated from this table
// (contract/operation_binding.h).
//
// Adding an operation:
//   1. Declare it in IVantryService (contract/VantryLibrary_Intf.h) in its slot; the proxy's
//      one-line method goes with it (TVantryService_Proxy, VantryLibrary_Intf.cc).
//   2. Declare it below, in the same slot, with the wire name and every parameter name exactly
//      as the contract document spells them (contract/VantryLibrary.xml); raise the count of the
//      static_assert.
//   3. Add it to the contract document, or the contract document test fails: it compares this
//      table, names and parameters, with the document.
//   4. Implement it in TVantryService (service/); the invoker handler comes from this table.
//
// Thread safety: constant data.
#pragma once

#include <tuple>

#include "contract/VantryLibrary_Intf.h"
#include "contract/operation_binding.h"

namespace vantry {

template <>
inline const TypeInfo& OperationTypeInfo<TVantry_DeleteStrategyType>() {
  return DeleteStrategyTypeInfo();
}

inline constexpr ServiceNames kVantryServiceNames{kVantryLibraryName, kVantryServiceName};

inline constexpr auto kVantryOperations = std::make_tuple(
    DeclareOperation<&IVantryService::CopyFile>("CopyFile", "FromFileName", "ToFileName"),
    DeclareOperation<&IVantryService::GetVantryInstanceIdentifier>("GetVantryInstanceIdentifier",
                                                                   "ComputerName", "GUID"),
    DeclareOperation<&IVantryService::FileExists>("FileExists", "FileName"),
    DeclareOperation<&IVantryService::DeleteFile>("DeleteFile", "FileName"),
    DeclareOperation<&IVantryService::RenameFile>("RenameFile", "FromFileName", "ToFileName"),
    DeclareOperation<&IVantryService::MoveFile>("MoveFile", "FromFileName", "ToFileName"),
    DeclareOperation<&IVantryService::ArchiveFile>("ArchiveFile", "FileName"),
    DeclareOperation<&IVantryService::CreateDirectory>("CreateDirectory", "DirectoryName"),
    DeclareOperation<&IVantryService::MakeSpaceOnDiskForBackup>(
        "MakeSpaceOnDiskForBackup", "DatabaseFileName", "BackupDirectory", "DeleteStrategyType"),
    DeclareOperation<&IVantryService::GetFreeDiskSpace>("GetFreeDiskSpace", "BackupDirectory"),
    DeclareOperation<&IVantryService::GetRequiredDiskSpace>("GetRequiredDiskSpace",
                                                            "DatabaseFileName"),
    DeclareOperation<&IVantryService::GetBackupFileNames>("GetBackupFileNames", "SearchPath"),
    DeclareOperation<&IVantryService::GetFileSize>("GetFileSize", "FileName"),
    DeclareOperation<&IVantryService::GetDefaultBackupPath>("GetDefaultBackupPath"),
    DeclareOperation<&IVantryService::GetDefaultDatabasePath>("GetDefaultDatabasePath"),
    DeclareOperation<&IVantryService::GetAlternateBackupPathForRestoreFromAnotherServer>(
        "GetAlternateBackupPathForRestoreFromAnotherServer"),
    DeclareOperation<&IVantryService::GetAlternateRestorePathForRestoreFromAnotherServer>(
        "GetAlternateRestorePathForRestoreFromAnotherServer"),
    DeclareOperation<&IVantryService::ReceiveBackup>("ReceiveBackup", "FileName", "TotalFileSize",
                                                     "Offset", "DataChunk"),
    DeclareOperation<&IVantryService::SendBackup>("SendBackup", "SourceFileName", "TargetServer",
                                                  "TargetFileName"),
    DeclareOperation<&IVantryService::GetIsFBClassicServer>("GetIsFBClassicServer"),
    DeclareOperation<&IVantryService::GetDefaultDeleteStrategy>("GetDefaultDeleteStrategy"),
    DeclareOperation<&IVantryService::GetOtherTargetServers>("GetOtherTargetServers"),
    DeclareOperation<&IVantryService::RequestBackupPermission>("RequestBackupPermission",
                                                               "BackupFileName"),
    DeclareOperation<&IVantryService::RequestManualBackupPermission>(
        "RequestManualBackupPermission", "BackupFileName"),
    DeclareOperation<&IVantryService::BackupPermissionGranted>("BackupPermissionGranted", "Granted",
                                                               "MaxLimit"),
    DeclareOperation<&IVantryService::RequestBackupPermissionCompleted>(
        "RequestBackupPermissionCompleted", "BackupFileName"),
    DeclareOperation<&IVantryService::MigrateToServer>("MigrateToServer"),
    DeclareOperation<&IVantryService::MigrateAllDatabases>("MigrateAllDatabases"),
    DeclareOperation<&IVantryService::MigrateUsingClone>("MigrateUsingClone"),
    DeclareOperation<&IVantryService::GetBackupPeriodEndHour>("GetBackupPeriodEndHour"));

static_assert(std::tuple_size_v<decltype(kVantryOperations)> == 30);

}  // namespace vantry
