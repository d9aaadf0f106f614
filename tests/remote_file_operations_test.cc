// The file operations of VantryService called remotely against the real vantryd: results as
// the caller receives them, effects on the disk behind the drive map, and every failure with
// the class the caller sees and its text, "An exception was raised on the server: " included.
// Exception, EInOutError and EOSError are not registered exception classes, so a caller gets
// them as EROUnregisteredServerException with the server's text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/file_system.h"
#include "platform/temp_dir.h"
#include "remoting/ro_exception.h"
#include "tests/running_service.h"

namespace vantry::e2e {
namespace {

using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using ::testing::UnorderedElementsAre;

constexpr char kPrefix[] = "An exception was raised on the server: ";

// vantryd whose Vantry.ini maps drive T onto a fresh data directory.
class RemoteFileOperationsTest : public ::testing::Test {
 protected:
  RemoteFileOperationsTest() : local_files_(local_drives_) {
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary)
        << "[Drives]\r\nT=" << data_.path() << "\r\n";
    local_drives_.Set('T', data_.path());
    service_ = std::make_unique<RunningService>(home_.path());
    caller_ = std::make_unique<Caller>(service_->port());
  }

  // Host paths below the data directory, "/" separated, UTF-8.
  std::string HostPath(const std::string& relative) const { return data_.path() + "/" + relative; }
  void WriteHostFile(const std::string& relative, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(HostPath(relative)).parent_path());
    std::ofstream(HostPath(relative), std::ios::binary) << content;
  }
  std::optional<std::string> ReadHostFile(const std::string& relative) const {
    if (!std::filesystem::is_regular_file(HostPath(relative))) return std::nullopt;
    std::ifstream in(HostPath(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool IsHostDirectory(const std::string& relative) const {
    return std::filesystem::is_directory(HostPath(relative));
  }
  std::vector<std::string> List(const std::string& pattern) {
    std::unique_ptr<FileList> list = caller_->service().GetBackupFileNames(pattern);
    EXPECT_NE(list, nullptr) << pattern;
    std::vector<std::string> names;
    for (int i = 0; list && i < list->Count(); ++i) names.push_back(list->Items(i));
    return names;
  }

  VantryLibraryRegistration registrations_;
  TempDir home_;
  TempDir data_;
  DriveMap local_drives_;  // the test's own view of drive T, for the platform's answers
  PosixFileSystem local_files_;
  std::unique_ptr<RunningService> service_;
  std::unique_ptr<Caller> caller_;
};

TEST_F(RemoteFileOperationsTest, CopyMoveRenameAndDeleteChangeTheRealFiles) {
  IVantryService& service = caller_->service();
  WriteHostFile("bak/db.fdb", std::string(1000, 'd'));

  // Copy into directories that do not exist yet; the source stays.
  service.CopyFile("T:\\bak\\db.fdb", "T:\\new\\deep\\db.fbk");
  EXPECT_EQ(ReadHostFile("new/deep/db.fbk"), std::string(1000, 'd'));
  EXPECT_TRUE(ReadHostFile("bak/db.fdb").has_value());
  // Copy onto an existing file replaces it.
  WriteHostFile("bak/old.fbk", "old");
  service.CopyFile("T:\\bak\\db.fdb", "T:\\bak\\old.fbk");
  EXPECT_EQ(ReadHostFile("bak/old.fbk"), std::string(1000, 'd'));

  // Move into a new directory, then onto an existing file, which it replaces.
  service.MoveFile("T:\\new\\deep\\db.fbk", "T:\\moved\\db.fbk");
  EXPECT_FALSE(ReadHostFile("new/deep/db.fbk").has_value());
  EXPECT_EQ(ReadHostFile("moved/db.fbk"), std::string(1000, 'd'));
  WriteHostFile("moved/other.fbk", "other");
  service.MoveFile("T:\\moved\\other.fbk", "T:\\moved\\db.fbk");
  EXPECT_EQ(ReadHostFile("moved/db.fbk"), "other");
  EXPECT_FALSE(ReadHostFile("moved/other.fbk").has_value());

  EXPECT_TRUE(service.RenameFile("T:\\moved\\db.fbk", "T:\\moved\\renamed.fbk"));
  EXPECT_EQ(ReadHostFile("moved/renamed.fbk"), "other");
  EXPECT_FALSE(ReadHostFile("moved/db.fbk").has_value());

  EXPECT_TRUE(service.DeleteFile("T:\\moved\\renamed.fbk"));
  EXPECT_FALSE(ReadHostFile("moved/renamed.fbk").has_value());
  EXPECT_TRUE(service.DeleteFile("T:\\moved\\renamed.fbk"));  // missing: nothing to do
  EXPECT_TRUE(service.DeleteFile("T:\\moved"));               // a directory counts as missing
  EXPECT_TRUE(IsHostDirectory("moved"));
}

TEST_F(RemoteFileOperationsTest, ExistenceAndSizesOfFilesAndDirectories) {
  IVantryService& service = caller_->service();
  WriteHostFile("bak/db.fdb", std::string(1234, 'd'));
  EXPECT_TRUE(service.FileExists("T:\\bak\\db.fdb"));
  EXPECT_FALSE(service.FileExists("T:\\bak"));
  EXPECT_FALSE(service.FileExists("T:\\bak\\none.fdb"));
  EXPECT_EQ(service.GetFileSize("T:\\bak\\db.fdb"), 1234);
  EXPECT_EQ(service.GetRequiredDiskSpace("T:\\bak\\db.fdb"), 2468);
  EXPECT_EQ(service.GetFileSize("T:\\bak"), 0);
  EXPECT_EQ(service.GetFileSize("T:\\bak\\none.fdb"), 0);
  EXPECT_EQ(service.GetRequiredDiskSpace("T:\\bak\\none.fdb"), 0);

  // A size beyond 32 bits travels whole (the file is sparse).
  WriteHostFile("bak/big.fdb", "");
  std::filesystem::resize_file(HostPath("bak/big.fdb"), int64_t{5} << 30);
  EXPECT_EQ(service.GetFileSize("T:\\bak\\big.fdb"), int64_t{5} << 30);
}

TEST_F(RemoteFileOperationsTest, FreeDiskSpaceIsTheVolumesAsThePlatformReportsIt) {
  int64_t remote = caller_->service().GetFreeDiskSpace("T:\\");
  int64_t local = local_files_.GetFreeBytesAvailable("T:\\");
  // Other processes write to the same volume meanwhile; a wrong unit or volume is far off.
  EXPECT_GT(remote, 0);
  EXPECT_NEAR(static_cast<double>(remote), static_cast<double>(local), 512.0 * 1024 * 1024);
}

TEST_F(RemoteFileOperationsTest, CreateDirectoryMakesTheWholePath) {
  caller_->service().CreateDirectory("T:\\a\\b\\c");
  EXPECT_TRUE(IsHostDirectory("a/b/c"));
  caller_->service().CreateDirectory("T:\\a\\b\\c\\");  // exists: nothing to do
  EXPECT_TRUE(IsHostDirectory("a/b/c"));
}

TEST_F(RemoteFileOperationsTest, ListingsCarryThePatternsDirectoryPartAndTheDotEntries) {
  WriteHostFile("bak/a.fbk", "a");
  WriteHostFile("bak/B.FBK", "b");
  WriteHostFile("bak/c.txt", "c");
  std::filesystem::create_directory(HostPath("bak/sub.fbk"));

  EXPECT_THAT(List("T:\\bak\\*"),
              UnorderedElementsAre("T:\\bak\\.", "T:\\bak\\..", "T:\\bak\\a.fbk", "T:\\bak\\B.FBK",
                                   "T:\\bak\\c.txt", "T:\\bak\\sub.fbk"));
  EXPECT_THAT(List("t:\\BAK\\*.fbk"),
              UnorderedElementsAre("t:\\BAK\\a.fbk", "t:\\BAK\\B.FBK", "t:\\BAK\\sub.fbk"));
  EXPECT_THAT(List("T:\\bak\\?.txt"), ElementsAre("T:\\bak\\c.txt"));
  EXPECT_THAT(List("T:\\bak\\*.none"), IsEmpty());
  EXPECT_THAT(List("T:\\missing\\*"), IsEmpty());
  // Without a directory part the names start with "\" (the service's current directory).
  std::vector<std::string> relative = List("*");
  EXPECT_THAT(relative, Contains("\\."));
  EXPECT_THAT(relative, Each(StartsWith("\\")));
}

TEST_F(RemoteFileOperationsTest, NamesWithBytesAbove127AreWindows1252OnTheWireAndUtf8OnDisk) {
  IVantryService& service = caller_->service();
  WriteHostFile("bak/caf\xC3\xA9.fdb", "12345");  // café.fdb
  EXPECT_THAT(List("T:\\bak\\*.fdb"), ElementsAre("T:\\bak\\caf\xE9.fdb"));
  service.CopyFile("T:\\bak\\caf\xE9.fdb", "T:\\\xC5ngstr\xF6m\\caf\xE9.fbk");
  EXPECT_EQ(ReadHostFile("\xC3\x85ngstr\xC3\xB6m/caf\xC3\xA9.fbk"), "12345");  // Ångström/café
  EXPECT_EQ(service.GetFileSize("T:\\\xC5ngstr\xF6m\\caf\xE9.fbk"), 5);
}

TEST_F(RemoteFileOperationsTest, WindowsPathsReachOnlyMappedDrives) {
  IVantryService& service = caller_->service();
  WriteHostFile("db.fdb", "x");
  EXPECT_TRUE(service.FileExists("T:\\db.fdb"));
  EXPECT_TRUE(service.FileExists("t:\\DB.FDB"));  // names match without regard to case
  EXPECT_TRUE(service.FileExists("T:\\sub\\..\\db.fdb"));
  EXPECT_FALSE(service.FileExists("Q:\\db.fdb"));  // no such drive
  // Z: stands for "/" unless mapped.
  std::string z_path = "Z:" + HostPath("db.fdb");
  for (char& c : z_path) c = c == '/' ? '\\' : c;
  EXPECT_TRUE(service.FileExists(z_path));
}

struct FailureCase {
  const char* what;
  std::function<void(IVantryService&)> call;
  std::string message;  // after the prefix
};

TEST_F(RemoteFileOperationsTest, FailuresReachTheCallerWithTheirTexts) {
  WriteHostFile("bak/db.fdb", "12345");
  WriteHostFile("bak/other.fdb", "1");
  std::filesystem::create_directory(HostPath("dir"));
  // A sparse file as large as the free space: copying or moving it needs twice that.
  WriteHostFile("bak/huge.fdb", "");
  std::filesystem::resize_file(HostPath("bak/huge.fdb"),
                               local_files_.GetFreeBytesAvailable("T:\\"));

  const FailureCase kCases[] = {
      {"copy of a missing file", [](IVantryService& s) { s.CopyFile("T:\\none.fdb", "T:\\x"); },
       "File \"T:\\none.fdb\" does not exist"},
      {"move of a missing file", [](IVantryService& s) { s.MoveFile("T:\\none.fdb", "T:\\x"); },
       "File \"T:\\none.fdb\" does not exist"},
      {"copy without room",
       [](IVantryService& s) { s.CopyFile("T:\\bak\\huge.fdb", "T:\\copy\\huge.fbk"); },
       "Not sufficient disk space for copying file \"T:\\bak\\huge.fdb\" to "
       "\"T:\\copy\\huge.fbk\""},
      {"move without room",
       [](IVantryService& s) { s.MoveFile("T:\\bak\\huge.fdb", "T:\\copy\\huge.fbk"); },
       "Not sufficient disk space for moving file \"T:\\bak\\huge.fdb\" to "
       "\"T:\\copy\\huge.fbk\""},
      {"copy to a name without directory part",
       [](IVantryService& s) { s.CopyFile("T:\\bak\\db.fdb", "db.fbk"); },
       "Unable to create directory"},
      {"move to a name without directory part",
       [](IVantryService& s) { s.MoveFile("T:\\bak\\huge.fdb", "db.fbk"); },  // before space
       "Unable to create directory"},
      {"empty directory name", [](IVantryService& s) { s.CreateDirectory(""); },
       "Unable to create directory"},
      {"rename onto an existing file",
       [](IVantryService& s) { s.RenameFile("T:\\bak\\db.fdb", "T:\\bak\\other.fdb"); },
       "System Error.  Code: 183.\r\nCannot create a file when that file already exists."},
      {"rename of a missing file",
       [](IVantryService& s) { s.RenameFile("T:\\bak\\none.fdb", "T:\\bak\\x.fdb"); },
       "System Error.  Code: 2.\r\nThe system cannot find the file specified."},
      {"copy onto a directory", [](IVantryService& s) { s.CopyFile("T:\\bak\\db.fdb", "T:\\dir"); },
       "System Error.  Code: 5.\r\nAccess is denied."},
      {"move onto a directory", [](IVantryService& s) { s.MoveFile("T:\\bak\\db.fdb", "T:\\dir"); },
       "System Error.  Code: 5.\r\nAccess is denied."},
      {"free space of a missing directory",
       [](IVantryService& s) { s.GetFreeDiskSpace("T:\\missing\\"); },
       "System Error.  Code: 3.\r\nThe system cannot find the path specified."},
  };
  for (const FailureCase& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_THAT([&] { c.call(caller_->service()); },
                ThrowsMessage<EROUnregisteredServerException>(StrEq(kPrefix + c.message)));
  }
  // The target's directory is made before the space test; the sources are untouched.
  EXPECT_TRUE(IsHostDirectory("copy"));
  EXPECT_FALSE(ReadHostFile("copy/huge.fbk").has_value());
  EXPECT_EQ(ReadHostFile("bak/db.fdb"), "12345");
  EXPECT_EQ(ReadHostFile("bak/other.fdb"), "1");
  EXPECT_TRUE(IsHostDirectory("dir"));
}

}  // namespace
}  // namespace vantry::e2e
