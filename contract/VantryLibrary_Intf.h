// The Vantry contract: the names of library, service and interface, the service interface
// `IVantryService` with its 30 operations in slot order, the enumeration
// `TVantry_DeleteStrategyType`, the string arrays `FileList` and `TargetServerList`, the
// exception `EVantryException`, the client proxy `TVantryService_Proxy`, and the start-up
// registrations of all of them (`VantryLibraryRegistration`).
//
// Parameter conventions of IVantryService: In texts are `const std::string&`, Out values are
// non-const references (emptied or filled by the callee), a Binary In is a pointer that may be
// null and stays the caller's, array results are new objects owned by the caller (null is a
// valid "absent" result, distinct from an empty array).
//
// Thread safety: a proxy serves one thread at a time (its channel refuses a second call).
// Registration happens once at start-up, before the server is switched on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "remoting/binary_stream.h"
#include "remoting/complex_type.h"
#include "remoting/proxy.h"
#include "remoting/ro_exception.h"
#include "remoting/type_info.h"

namespace vantry {

inline constexpr char kVantryLibraryName[] = "VantryLibrary";
inline constexpr char kVantryServiceName[] = "VantryService";
// The identifier of IVantryService in its text form; in-process identity only, never sent.
inline constexpr char kIVantryServiceGuid[] = "{CEF57005-F7B8-4AB7-845A-4553E9E10280}";

// Messages carry the ordinal only, so an out-of-range ordinal reaches the implementation as is.
enum TVantry_DeleteStrategyType : uint8_t {
  vantrydsCareful = 0,
  vantrydsModerate = 1,
  vantrydsAgressive = 2,
};
inline constexpr char kDeleteStrategyTypeName[] = "TVantry_DeleteStrategyType";
// The description under which the enumeration travels (one byte in memory).
const TypeInfo& DeleteStrategyTypeInfo();

// File names, e.g. the result of GetBackupFileNames.
class FileList : public TROTypedArray<std::string> {
  VANTRY_COMPLEX_CLASS(FileList)
};

// Host names of other instances (GetOtherTargetServers).
class TargetServerList : public TROTypedArray<std::string> {
  VANTRY_COMPLEX_CLASS(TargetServerList)
};

// The service's own exception type; registered so that a client recreates it by name.
VANTRY_EXCEPTION(EVantryException, EROException);

class IVantryService {
 public:
  virtual ~IVantryService() = default;

  virtual void CopyFile(const std::string& from_file_name, const std::string& to_file_name) = 0;
  virtual void GetVantryInstanceIdentifier(std::string& computer_name, std::string& guid) = 0;
  virtual bool FileExists(const std::string& file_name) = 0;
  virtual bool DeleteFile(const std::string& file_name) = 0;
  virtual bool RenameFile(const std::string& from_file_name, const std::string& to_file_name) = 0;
  virtual void MoveFile(const std::string& from_file_name, const std::string& to_file_name) = 0;
  virtual void ArchiveFile(const std::string& file_name) = 0;
  virtual void CreateDirectory(const std::string& directory_name) = 0;
  virtual void MakeSpaceOnDiskForBackup(const std::string& database_file_name,
                                        const std::string& backup_directory,
                                        TVantry_DeleteStrategyType delete_strategy_type) = 0;
  virtual int64_t GetFreeDiskSpace(const std::string& backup_directory) = 0;
  virtual int64_t GetRequiredDiskSpace(const std::string& database_file_name) = 0;
  virtual std::unique_ptr<FileList> GetBackupFileNames(const std::string& search_path) = 0;
  virtual int64_t GetFileSize(const std::string& file_name) = 0;
  virtual std::string GetDefaultBackupPath() = 0;
  virtual std::string GetDefaultDatabasePath() = 0;
  virtual std::string GetAlternateBackupPathForRestoreFromAnotherServer() = 0;
  virtual std::string GetAlternateRestorePathForRestoreFromAnotherServer() = 0;
  // `data_chunk` may be null; the implementation must not keep it beyond the call unless it
  // retains it (TRORemotable::RetainObject).
  virtual void ReceiveBackup(const std::string& file_name, int64_t total_file_size, int64_t offset,
                             TROBinaryMemoryStream* data_chunk) = 0;
  virtual void SendBackup(const std::string& source_file_name, const std::string& target_server,
                          const std::string& target_file_name) = 0;
  virtual bool GetIsFBClassicServer() = 0;
  virtual TVantry_DeleteStrategyType GetDefaultDeleteStrategy() = 0;
  virtual std::unique_ptr<TargetServerList> GetOtherTargetServers() = 0;
  virtual bool RequestBackupPermission(const std::string& backup_file_name) = 0;
  virtual bool RequestManualBackupPermission(const std::string& backup_file_name) = 0;
  virtual bool BackupPermissionGranted(int32_t& granted, int32_t& max_limit) = 0;
  virtual bool RequestBackupPermissionCompleted(const std::string& backup_file_name) = 0;
  virtual std::string MigrateToServer() = 0;
  virtual bool MigrateAllDatabases() = 0;
  virtual bool MigrateUsingClone() = 0;
  virtual int32_t GetBackupPeriodEndHour() = 0;
};

// The client proxy: each method sends one request through the channel and returns the response's
// values. Out texts are emptied and an array result is null before anything is sent, so a failed
// call leaves them so; Out integers keep the caller's values until the response is read. Errors
// of the channel and exceptions sent back by the service pass through unchanged.
class TVantryService_Proxy : public TROProxy, public IVantryService {
 public:
  using TROProxy::TROProxy;

  void CopyFile(const std::string& from_file_name, const std::string& to_file_name) override;
  void GetVantryInstanceIdentifier(std::string& computer_name, std::string& guid) override;
  bool FileExists(const std::string& file_name) override;
  bool DeleteFile(const std::string& file_name) override;
  bool RenameFile(const std::string& from_file_name, const std::string& to_file_name) override;
  void MoveFile(const std::string& from_file_name, const std::string& to_file_name) override;
  void ArchiveFile(const std::string& file_name) override;
  void CreateDirectory(const std::string& directory_name) override;
  void MakeSpaceOnDiskForBackup(const std::string& database_file_name,
                                const std::string& backup_directory,
                                TVantry_DeleteStrategyType delete_strategy_type) override;
  int64_t GetFreeDiskSpace(const std::string& backup_directory) override;
  int64_t GetRequiredDiskSpace(const std::string& database_file_name) override;
  std::unique_ptr<FileList> GetBackupFileNames(const std::string& search_path) override;
  int64_t GetFileSize(const std::string& file_name) override;
  std::string GetDefaultBackupPath() override;
  std::string GetDefaultDatabasePath() override;
  std::string GetAlternateBackupPathForRestoreFromAnotherServer() override;
  std::string GetAlternateRestorePathForRestoreFromAnotherServer() override;
  // `data_chunk` (may be null) is sent whole from its first byte and stays the caller's.
  void ReceiveBackup(const std::string& file_name, int64_t total_file_size, int64_t offset,
                     TROBinaryMemoryStream* data_chunk) override;
  void SendBackup(const std::string& source_file_name, const std::string& target_server,
                  const std::string& target_file_name) override;
  bool GetIsFBClassicServer() override;
  TVantry_DeleteStrategyType GetDefaultDeleteStrategy() override;
  std::unique_ptr<TargetServerList> GetOtherTargetServers() override;
  bool RequestBackupPermission(const std::string& backup_file_name) override;
  bool RequestManualBackupPermission(const std::string& backup_file_name) override;
  bool BackupPermissionGranted(int32_t& granted, int32_t& max_limit) override;
  bool RequestBackupPermissionCompleted(const std::string& backup_file_name) override;
  std::string MigrateToServer() override;
  bool MigrateAllDatabases() override;
  bool MigrateUsingClone() override;
  int32_t GetBackupPeriodEndHour() override;

 protected:
  const char* ProxyInterfaceName() const override { return kVantryServiceName; }

 private:
  // One remote call of the operation declared for `Method` (contract/vantry_operations.h).
  template <auto Method, typename... Args>
  auto Remote(Args&&... args);
};

// The start-up registrations of the contract, in this order: FileList and TargetServerList as
// complex types, EVantryException as exception class, TVantryService_Proxy as proxy class of
// IVantryService, and the enumeration TVantry_DeleteStrategyType with its value names mapped to
// themselves. The destructor removes them again. The program entry keeps one for the process's
// lifetime; tests keep one per fixture. Throws EROException "Class "%s" is already registered"
// when another class already holds one of the array names (nothing stays registered then).
class VantryLibraryRegistration {
 public:
  VantryLibraryRegistration();
  VantryLibraryRegistration(const VantryLibraryRegistration&) = delete;
  VantryLibraryRegistration& operator=(const VantryLibraryRegistration&) = delete;
  ~VantryLibraryRegistration();
};

}  // namespace vantry
