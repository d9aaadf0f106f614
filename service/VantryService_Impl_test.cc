#include "service/VantryService_Impl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "contract/VantryLibrary_Invk.h"
#include "platform/testing/fake_file_system.h"
#include "remoting/dispatch.h"
#include "remoting/remote_service.h"
#include "remoting/tcp_channel.h"
#include "remoting/tcp_server.h"
#include "service/testing/fake_vantry_host.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

constexpr char kAlreadyExists[] =
    "System Error.  Code: 183.\r\nCannot create a file when that file already exists.";
constexpr char kPathNotFound[] =
    "System Error.  Code: 3.\r\nThe system cannot find the path specified.";

class VantryServiceTest : public testing::Test {
 protected:
  std::vector<std::string> BackupFileNames(const std::string& pattern) {
    std::unique_ptr<FileList> list = service_.GetBackupFileNames(pattern);
    EXPECT_NE(nullptr, list);
    return list ? list->ToVector() : std::vector<std::string>();
  }

  FakeFileSystem fs_;
  FakeVantryHost host_;
  FixedClock clock_{45000.5};
  TVantryService service_{fs_, host_, clock_};
};

TEST_F(VantryServiceTest, CopyFileCreatesDirectoriesAndReplacesTheTarget) {
  fs_.WriteFile("T:\\db\\a.fdb", "database");
  service_.CopyFile("T:\\db\\a.fdb", "T:\\new\\deeper\\a.fbk");
  EXPECT_EQ("database", fs_.ReadFile("T:\\new\\deeper\\a.fbk"));

  fs_.WriteFile("T:\\db\\b.fdb", "second");
  service_.CopyFile("T:\\db\\b.fdb", "T:\\new\\deeper\\a.fbk");
  EXPECT_EQ("second", fs_.ReadFile("T:\\new\\deeper\\a.fbk"));
  EXPECT_TRUE(service_.FileExists("T:\\db\\b.fdb"));
}

TEST_F(VantryServiceTest, MoveFileReplacesTheTargetAndRemovesTheSource) {
  fs_.WriteFile("T:\\a.fdb", "new");
  fs_.WriteFile("T:\\keep\\a.fdb", "old");
  service_.MoveFile("T:\\a.fdb", "T:\\keep\\a.fdb");
  EXPECT_EQ("new", fs_.ReadFile("T:\\keep\\a.fdb"));
  EXPECT_FALSE(service_.FileExists("T:\\a.fdb"));
}

// CopyFile and MoveFile share their checks; each row runs one of them.
struct TransferCase {
  const char* verb;
  std::function<void(TVantryService&, const std::string&, const std::string&)> transfer;
};

class TransferTest : public VantryServiceTest, public testing::WithParamInterface<TransferCase> {
 protected:
  void Transfer(const std::string& from, const std::string& to) {
    GetParam().transfer(service_, from, to);
  }
};

TEST_P(TransferTest, MissingSourceIsRefused) {
  fs_.CreateDirectory("T:\\dir");
  for (const char* from : {"T:\\nope.fdb", "T:\\dir"}) {
    EXPECT_THAT([&] { Transfer(from, "T:\\x.fdb"); },
                ThrowsMessage<Exception>(StrEq(Format("File \"%s\" does not exist", from))));
  }
}

TEST_P(TransferTest, TargetWithoutDirectoryPartFailsBeforeTheSpaceTest) {
  fs_.WriteFile("T:\\a.fdb", "0123456789");
  fs_.free_bytes = 0;
  EXPECT_THAT([&] { Transfer("T:\\a.fdb", "a-copy.fdb"); },
              ThrowsMessage<EInOutError>(StrEq("Unable to create directory")));
}

TEST_P(TransferTest, SpaceTestIsStrict) {
  fs_.WriteFile("T:\\a.fdb", "0123456789");
  fs_.free_bytes = 20;
  EXPECT_THAT([&] { Transfer("T:\\a.fdb", "T:\\out\\a.fdb"); },
              ThrowsMessage<Exception>(StrEq(Format(
                  "Not sufficient disk space for %s file \"T:\\a.fdb\" to \"T:\\out\\a.fdb\"",
                  GetParam().verb))));
  EXPECT_TRUE(fs_.DirectoryExists("T:\\out"));  // made before the space test
  EXPECT_FALSE(service_.FileExists("T:\\out\\a.fdb"));
  fs_.free_bytes = 21;
  Transfer("T:\\a.fdb", "T:\\out\\a.fdb");
  EXPECT_EQ("0123456789", fs_.ReadFile("T:\\out\\a.fdb"));
}

TEST_P(TransferTest, UnreachableTargetFailsWithTheSystemError) {
  fs_.WriteFile("T:\\a.fdb", "x");
  EXPECT_THAT([&] { Transfer("T:\\a.fdb", "Q:\\out\\a.fdb"); },
              ThrowsMessage<EOSError>(StrEq(kPathNotFound)));
}

TEST_P(TransferTest, NamesAboveAsciiPassThrough) {
  fs_.WriteFile("T:\\caf\xE9.fdb", "\xE9t\xE9");
  Transfer("T:\\caf\xE9.fdb", "T:\\\xC5rhus\\caf\xE9.fbk");
  EXPECT_EQ("\xE9t\xE9", fs_.ReadFile("T:\\\xC5rhus\\caf\xE9.fbk"));
  EXPECT_THAT(BackupFileNames("T:\\\xC5rhus\\*.fbk"), ElementsAre("T:\\\xC5rhus\\caf\xE9.fbk"));
}

INSTANTIATE_TEST_SUITE_P(
    CopyAndMove, TransferTest,
    testing::Values(TransferCase{"copying", [](TVantryService& s, const std::string& from,
                                               const std::string& to) { s.CopyFile(from, to); }},
                    TransferCase{"moving", [](TVantryService& s, const std::string& from,
                                              const std::string& to) { s.MoveFile(from, to); }}),
    [](const testing::TestParamInfo<TransferCase>& info) { return std::string(info.param.verb); });

TEST_F(VantryServiceTest, RenameFileNeverReplaces) {
  fs_.WriteFile("T:\\a.fdb", "a");
  fs_.WriteFile("T:\\b.fdb", "b");
  EXPECT_THAT([&] { service_.RenameFile("T:\\a.fdb", "T:\\b.fdb"); },
              ThrowsMessage<EOSError>(StrEq(kAlreadyExists)));
  EXPECT_EQ("b", fs_.ReadFile("T:\\b.fdb"));
  EXPECT_TRUE(service_.RenameFile("T:\\a.fdb", "T:\\c.fdb"));
  EXPECT_EQ("a", fs_.ReadFile("T:\\c.fdb"));
  // No directory creation: the target's directory must exist.
  EXPECT_THAT([&] { service_.RenameFile("T:\\c.fdb", "T:\\none\\c.fdb"); },
              ThrowsMessage<EOSError>(StrEq(kPathNotFound)));
}

TEST_F(VantryServiceTest, DeleteFileLeavesDirectoriesAloneAndToleratesMissingFiles) {
  fs_.WriteFile("T:\\a.fdb", "a");
  fs_.CreateDirectory("T:\\dir");
  EXPECT_TRUE(service_.DeleteFile("T:\\a.fdb"));
  EXPECT_FALSE(service_.FileExists("T:\\a.fdb"));
  EXPECT_TRUE(service_.DeleteFile("T:\\a.fdb"));
  EXPECT_TRUE(service_.DeleteFile("T:\\dir"));
  EXPECT_TRUE(fs_.DirectoryExists("T:\\dir"));
}

TEST_F(VantryServiceTest, SizesCountFilesOnly) {
  fs_.WriteFile("T:\\a.fdb", std::string(1000, 'x'));
  fs_.CreateDirectory("T:\\dir");
  EXPECT_EQ(1000, service_.GetFileSize("T:\\a.fdb"));
  EXPECT_EQ(2000, service_.GetRequiredDiskSpace("T:\\A.FDB"));
  for (const char* path : {"T:\\dir", "T:\\missing.fdb"}) {
    EXPECT_EQ(0, service_.GetFileSize(path)) << path;
    EXPECT_EQ(0, service_.GetRequiredDiskSpace(path)) << path;
  }
}

TEST_F(VantryServiceTest, FreeDiskSpaceNeedsAnExistingDirectory) {
  EXPECT_GT(service_.GetFreeDiskSpace("T:\\"), 0);
  fs_.free_bytes = 12345;
  EXPECT_EQ(12345, service_.GetFreeDiskSpace("T:\\"));
  EXPECT_THAT([&] { service_.GetFreeDiskSpace("T:\\missing"); },
              ThrowsMessage<EOSError>(testing::StartsWith("System Error.  Code: ")));
}

TEST_F(VantryServiceTest, CreateDirectoryMakesThePathAndReportsNoFailure) {
  service_.CreateDirectory("T:\\a\\b\\c");
  EXPECT_TRUE(fs_.DirectoryExists("T:\\a\\b\\c"));
  service_.CreateDirectory("T:\\a\\b\\c");
  fs_.WriteFile("T:\\file", "");
  service_.CreateDirectory("T:\\file\\sub");
  EXPECT_FALSE(fs_.DirectoryExists("T:\\file\\sub"));
  EXPECT_THAT([&] { service_.CreateDirectory(""); },
              ThrowsMessage<EInOutError>(StrEq("Unable to create directory")));
}

TEST_F(VantryServiceTest, BackupFileNamesPrefixTheDirectoryPart) {
  fs_.WriteFile("T:\\bak\\db1.fbk", "");
  fs_.WriteFile("T:\\bak\\DB2.FBK", "");
  fs_.WriteFile("T:\\bak\\db3.txt", "");
  fs_.CreateDirectory("T:\\bak\\old.fbk");
  EXPECT_THAT(BackupFileNames("T:\\bak\\*"),
              ElementsAre("T:\\bak\\.", "T:\\bak\\..", "T:\\bak\\db1.fbk", "T:\\bak\\DB2.FBK",
                          "T:\\bak\\db3.txt", "T:\\bak\\old.fbk"));
  EXPECT_THAT(BackupFileNames("T:\\bak\\*.fbk"),
              ElementsAre("T:\\bak\\db1.fbk", "T:\\bak\\DB2.FBK", "T:\\bak\\old.fbk"));
  EXPECT_THAT(BackupFileNames("T:\\missing\\*"), ElementsAre());
  // Relative to the current directory (T:\): each name starts with "\".
  EXPECT_THAT(BackupFileNames("bak"), ElementsAre("\\bak"));
}

TEST(VantryServiceRegistrationTest, DispatchFindsTheServiceWhileRegistered) {
  FakeFileSystem fs;
  FakeVantryHost host;
  FixedClock clock(45000.5);
  {
    VantryServiceRegistration registration(fs, host, clock);
    IROClassFactory& factory = LookupClassFactory("vantryservice");
    EXPECT_NE(nullptr, dynamic_cast<TVantryService_Invoker*>(&factory.GetInvoker()));
    std::shared_ptr<TRORemotable> instance = factory.CreateInstance(Guid());
    EXPECT_NE(nullptr, dynamic_cast<TVantryService*>(instance.get()));
    EXPECT_NE(nullptr, FindComplexTypeClass("FileList"));
  }
  EXPECT_THAT(
      [] { LookupClassFactory("VantryService"); },
      ThrowsMessage<EROException>(StrEq("Class factory for interface VantryService not found")));
  EXPECT_EQ(nullptr, FindComplexTypeClass("FileList"));
}

// The whole road of a call: proxy, channel, TCP server, dispatch, invoker, TVantryService.
TEST(VantryServiceRemoteTest, CallerReceivesResultsAndErrorsWithThePrefix) {
  FakeFileSystem fs;
  FakeVantryHost host;
  FixedClock clock(45000.5);
  VantryServiceRegistration registration(fs, host, clock);
  TROBinMessage server_message;
  TROTCPServer server;
  server.SetBindAddress("127.0.0.1");
  server.SetPort(0);
  server.Dispatchers().Add("ROMessage").SetMessage(&server_message);
  server.SetActive(true);
  TROBinMessage client_message;
  TROTCPChannel channel;
  channel.SetPort(server.GetPort());
  TRORemoteService holder;
  holder.SetMessage(&client_message);
  holder.SetChannel(&channel);
  std::shared_ptr<IVantryService> service = holder.GetService<IVantryService>(kIVantryServiceGuid);
  ASSERT_NE(nullptr, service);

  fs.WriteFile("T:\\bak\\caf\xE9.fbk", "12345");
  service->CopyFile("T:\\bak\\caf\xE9.fbk", "T:\\copy\\caf\xE9.fbk");
  EXPECT_EQ(5, service->GetFileSize("T:\\copy\\caf\xE9.fbk"));
  std::unique_ptr<FileList> names = service->GetBackupFileNames("T:\\copy\\*.fbk");
  ASSERT_NE(nullptr, names);
  ASSERT_EQ(1, names->Count());
  EXPECT_EQ("T:\\copy\\caf\xE9.fbk", names->Items(0));
  EXPECT_THAT([&] { service->CopyFile("T:\\none.fdb", "T:\\x.fdb"); },
              ThrowsMessage<EROUnregisteredServerException>(StrEq(
                  "An exception was raised on the server: File \"T:\\none.fdb\" does not exist")));
  EXPECT_THAT([&] { service->RenameFile("T:\\copy\\caf\xE9.fbk", "T:\\bak\\caf\xE9.fbk"); },
              ThrowsMessage<EROUnregisteredServerException>(
                  StrEq(std::string("An exception was raised on the server: ") + kAlreadyExists)));
  service.reset();
  server.SetActive(false);
}

}  // namespace
}  // namespace vantry
