// TVantryService, the implementation of VantryService: one object per remote call, made by the
// class factory that RegisterVantryService() installs. Its file operations work directly on the
// Windows paths the caller passes, through the FileSystem handed in by whoever registers the
// service (the host passes its PosixFileSystem; tests may pass a fake). Settings, identity and
// backup permissions come from the host through IVantryHost; the clock gives "now" for the ages
// of backups. Failures are exceptions whose class and text reach the caller: Exception for the
// service's own messages, EOSError for failed system calls, EInOutError "Unable to create
// directory", EAssertionFailed for the assertions of reclamation and reception.
//
// Thread safety: an object belongs to one call; objects keep no state of their own, so any
// number of calls run at once, racing on the same files only as the file system lets them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "contract/VantryLibrary_Intf.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "remoting/class_factory.h"
#include "remoting/remotable.h"
#include "service/vantry_host.h"
#include "transfer/fast_receiver.h"

namespace vantry {

class TVantryService : public TRORemotable, public IVantryService {
 public:
  // `file_system`, `host` and `clock` must outlive the object.
  TVantryService(FileSystem& file_system, IVantryHost& host, const Clock& clock)
      : file_system_(file_system), host_(host), clock_(clock) {}

  // Replaces `ToFileName` (creating its directories first) when the source exists and the space
  // test passes: 2 x the source's size must be strictly below the free space of the target's
  // directory. Exception "File "%s" does not exist", "Not sufficient disk space for copying file
  // "%s" to "%s""; EInOutError when the target has no directory part; EOSError.
  void CopyFile(const std::string& from_file_name, const std::string& to_file_name) override;
  // The computer name and the instance GUID of one start, taken together.
  void GetVantryInstanceIdentifier(std::string& computer_name, std::string& guid) override;
  bool FileExists(const std::string& file_name) override;
  // True for a missing file (directories count as missing); else whether the delete worked.
  bool DeleteFile(const std::string& file_name) override;
  // A plain rename that fails (EOSError 183) when the target exists; always true otherwise.
  bool RenameFile(const std::string& from_file_name, const std::string& to_file_name) override;
  // As CopyFile ("Not sufficient disk space for moving file "%s" to "%s""), then a move that
  // replaces the target, may copy across volumes and writes through.
  void MoveFile(const std::string& from_file_name, const std::string& to_file_name) override;
  void ArchiveFile(const std::string& file_name) override;
  // Creates the directory path unless it exists; a failure to create is not reported.
  // EInOutError "Unable to create directory" for an empty name.
  void CreateDirectory(const std::string& directory_name) override;
  // Deletes the older backups of `database_file_name` in `backup_directory` (the entries whose
  // names begin with the database's file name) as the strategy decides; files that cannot be
  // deleted are skipped. EAssertionFailed "No delete strategy provided" for a value outside the
  // enumeration, before anything is deleted.
  void MakeSpaceOnDiskForBackup(const std::string& database_file_name,
                                const std::string& backup_directory,
                                TVantry_DeleteStrategyType delete_strategy_type) override;
  // Free bytes available to the service's account on the volume of an existing directory.
  int64_t GetFreeDiskSpace(const std::string& backup_directory) override;
  // 2 x GetFileSize.
  int64_t GetRequiredDiskSpace(const std::string& database_file_name) override;
  // Every entry matching `search_path` (mask 63: "." and ".." included), each prefixed with the
  // pattern's directory part and a trailing "\". Empty when nothing matches.
  std::unique_ptr<FileList> GetBackupFileNames(const std::string& search_path) override;
  // 0 for a missing file or a directory.
  int64_t GetFileSize(const std::string& file_name) override;
  // The settings, each read from the host at the call.
  std::string GetDefaultBackupPath() override;
  std::string GetDefaultDatabasePath() override;
  std::string GetAlternateBackupPathForRestoreFromAnotherServer() override;
  std::string GetAlternateRestorePathForRestoreFromAnotherServer() override;
  // Appends `data_chunk` to the part file of `file_name` that ends at `offset` (or starts a part
  // there) and renames the part to `file_name` once it holds `total_file_size` bytes, flushed to
  // the disk first (service/backup_reception.cc). Exception when `data_chunk` is absent;
  // EInOutError, EConvertError, EFOpenError, EFCreateError, EAssertionFailed "Backup File '%s'
  // already exists, cannot replace!", EOSError.
  void ReceiveBackup(const std::string& file_name, int64_t total_file_size, int64_t offset,
                     TROBinaryMemoryStream* data_chunk) override;
  // Pushes the local file to the instance `target_server` ("host" or "host:port") as
  // ReceiveBackup calls of 1 MiB chunks in file order (service/backup_sending.cc). Returns at
  // once when the source is missing; every other failure reaches the caller unchanged.
  void SendBackup(const std::string& source_file_name, const std::string& target_server,
                  const std::string& target_file_name) override;
  bool GetIsFBClassicServer() override;
  // "MODERATE" and "AGGRESSIVE" give their values; any other setting gives vantrydsCareful.
  TVantry_DeleteStrategyType GetDefaultDeleteStrategy() override;
  std::unique_ptr<TargetServerList> GetOtherTargetServers() override;
  // The permission operations pass through to the host's registry, results and errors alike.
  bool RequestBackupPermission(const std::string& backup_file_name) override;
  bool RequestManualBackupPermission(const std::string& backup_file_name) override;
  bool BackupPermissionGranted(int32_t& granted, int32_t& max_limit) override;
  bool RequestBackupPermissionCompleted(const std::string& backup_file_name) override;
  std::string MigrateToServer() override;
  bool MigrateAllDatabases() override;
  bool MigrateUsingClone() override;
  int32_t GetBackupPeriodEndHour() override;

 private:
  // The checks shared by CopyFile and MoveFile: source exists, target directory made, room for
  // twice the source. `verb` is "copying" or "moving".
  void PrepareTransfer(const std::string& from_file_name, const std::string& to_file_name,
                       const char* verb);

  FileSystem& file_system_;
  IVantryHost& host_;
  const Clock& clock_;
};

// Registers the class factory for "VantryService", whose objects are TVantryService on
// `file_system`, `host` and `clock` (which must outlive the factory). The factory leaves the
// registry when the returned object is destroyed.
std::unique_ptr<TROClassFactory> RegisterVantryService(FileSystem& file_system, IVantryHost& host,
                                                       const Clock& clock);

// Registers the class factory for "VantryFastTransfer", whose objects serve `receiver` while
// the settings of `host` have FastTransfer on; while it is off, every call is answered as by an
// instance that does not offer the interface.
std::unique_ptr<TROClassFactory> RegisterFastTransfer(FastTransferReceiver& receiver,
                                                      IVantryHost& host);

// Everything the program entry registers before the server is switched on: the class factories
// of VantryService and VantryFastTransfer and the contract's registrations. Destroyed at shutdown, after the server is
// off.
class VantryServiceRegistration {
 public:
  VantryServiceRegistration(FileSystem& file_system, IVantryHost& host, const Clock& clock)
      : factory_(RegisterVantryService(file_system, host, clock)),
        fast_receiver_(file_system, clock),
        fast_factory_(RegisterFastTransfer(fast_receiver_, host)) {}

 private:
  std::unique_ptr<TROClassFactory> factory_;
  FastTransferReceiver fast_receiver_;
  std::unique_ptr<TROClassFactory> fast_factory_;
  VantryLibraryRegistration library_;
};

}  // namespace vantry
