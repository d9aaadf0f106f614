// The operations of VantryService, each declared once: the member function of IVantryService, the
// operation name (the request message name) and the parameter names, in slot order. The invoker's
// 30 handlers and the proxy's 30 methods are both generated from this table
// (remoting/operation_binding.h), and so are the client's commands (tools/operation_commands.cc).
//
// Adding an operation touches these places, and no others:
//   1. IVantryService (contract/VantryLibrary_Intf.h): the method, in its slot.
//   2. The proxy's one-line method with it (TVantryService_Proxy, contract/VantryLibrary_Intf.cc).
//   3. The table below, in the same slot, with the wire name and every parameter name exactly as
//      the contract document spells them; raise the count of the static_assert.
//   4. The contract document (contract/VantryLibrary.xml), or the contract document test fails:
//      it compares this table, names and parameters, with the document.
//   5. The mock (contract/testing/mock_vantry_service.h): one MOCK_METHOD, or the tests that use it
//      no longer compile.
//   6. TVantryService (service/VantryService_Impl.h and .cc): the implementation; the invoker
//      handler comes from this table. Settings it serves come through IVantryHost
//      (service/vantry_host.h).
//   7. The client (tools/operation_commands.cc): a command is made for it from this table under a
//      dashed form of its name; give it an operator's name in CommandNames() there if it wants one.
//
// Thread safety: constant data.
#pragma once

#include <tuple>

#include "contract/VantryLibrary_Intf.h"
#include "remoting/operation_binding.h"

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
