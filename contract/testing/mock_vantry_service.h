// A gmock implementation object of IVantryService for the tests of the invoker and the proxy.
//
// Thread safety: as gmock mocks; set expectations before the server runs calls on it.
#pragma once

#include <gmock/gmock.h>

#include "contract/VantryLibrary_Intf.h"
#include "remoting/remotable.h"

namespace vantry {

class MockVantryService : public TRORemotable, public IVantryService {
 public:
  MOCK_METHOD(void, CopyFile, (const std::string&, const std::string&), (override));
  MOCK_METHOD(void, GetVantryInstanceIdentifier, (std::string&, std::string&), (override));
  MOCK_METHOD(bool, FileExists, (const std::string&), (override));
  MOCK_METHOD(bool, DeleteFile, (const std::string&), (override));
  MOCK_METHOD(bool, RenameFile, (const std::string&, const std::string&), (override));
  MOCK_METHOD(void, MoveFile, (const std::string&, const std::string&), (override));
  MOCK_METHOD(void, ArchiveFile, (const std::string&), (override));
  MOCK_METHOD(void, CreateDirectory, (const std::string&), (override));
  MOCK_METHOD(void, MakeSpaceOnDiskForBackup,
              (const std::string&, const std::string&, TVantry_DeleteStrategyType), (override));
  MOCK_METHOD(int64_t, GetFreeDiskSpace, (const std::string&), (override));
  MOCK_METHOD(int64_t, GetRequiredDiskSpace, (const std::string&), (override));
  MOCK_METHOD(std::unique_ptr<FileList>, GetBackupFileNames, (const std::string&), (override));
  MOCK_METHOD(int64_t, GetFileSize, (const std::string&), (override));
  MOCK_METHOD(std::string, GetDefaultBackupPath, (), (override));
  MOCK_METHOD(std::string, GetDefaultDatabasePath, (), (override));
  MOCK_METHOD(std::string, GetAlternateBackupPathForRestoreFromAnotherServer, (), (override));
  MOCK_METHOD(std::string, GetAlternateRestorePathForRestoreFromAnotherServer, (), (override));
  MOCK_METHOD(void, ReceiveBackup, (const std::string&, int64_t, int64_t, TROBinaryMemoryStream*),
              (override));
  MOCK_METHOD(void, SendBackup, (const std::string&, const std::string&, const std::string&),
              (override));
  MOCK_METHOD(bool, GetIsFBClassicServer, (), (override));
  MOCK_METHOD(TVantry_DeleteStrategyType, GetDefaultDeleteStrategy, (), (override));
  MOCK_METHOD(std::unique_ptr<TargetServerList>, GetOtherTargetServers, (), (override));
  MOCK_METHOD(bool, RequestBackupPermission, (const std::string&), (override));
  MOCK_METHOD(bool, RequestManualBackupPermission, (const std::string&), (override));
  MOCK_METHOD(bool, BackupPermissionGranted, (int32_t&, int32_t&), (override));
  MOCK_METHOD(bool, RequestBackupPermissionCompleted, (const std::string&), (override));
  MOCK_METHOD(std::string, MigrateToServer, (), (override));
  MOCK_METHOD(bool, MigrateAllDatabases, (), (override));
  MOCK_METHOD(bool, MigrateUsingClone, (), (override));
  MOCK_METHOD(int32_t, GetBackupPeriodEndHour, (), (override));
};

// A FileList holding `names`.
inline std::unique_ptr<FileList> MakeFileList(std::initializer_list<std::string> names) {
  auto list = std::make_unique<FileList>();
  for (const std::string& name : names) list->Add(name);
  return list;
}

}  // namespace vantry
