// TVantryService_Proxy against a real TCP server on loopback with the real dispatch and invoker;
// a mock implementation object stands behind the invoker.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "contract/VantryLibrary_Intf.h"
#include "contract/VantryLibrary_Invk.h"
#include "contract/testing/mock_vantry_service.h"
#include "remoting/dispatch.h"
#include "remoting/remote_service.h"
#include "remoting/tcp_channel.h"
#include "remoting/tcp_server.h"

namespace vantry {
namespace {

using testing::_;
using testing::ByMove;
using testing::DoAll;
using testing::Invoke;
using testing::IsNull;
using testing::Return;
using testing::SetArgReferee;
using testing::StrEq;
using testing::StrictMock;
using testing::Throw;
using testing::ThrowsMessage;

constexpr char kPrefix[] = "An exception was raised on the server: ";

class ProxyTest : public testing::Test {
 protected:
  ProxyTest() {
    server_.SetBindAddress("127.0.0.1");
    server_.SetPort(0);
    server_.Dispatchers().Add("ROMessage").SetMessage(&server_message_);
    server_.SetActive(true);
    channel_.SetHost("127.0.0.1");
    channel_.SetPort(server_.GetPort());
    holder_.SetMessage(&client_message_);
    holder_.SetChannel(&channel_);
    proxy_ = holder_.GetService<IVantryService>(kIVantryServiceGuid);
  }
  ~ProxyTest() override {
    proxy_.reset();
    server_.SetActive(false);
  }

  VantryLibraryRegistration registration_;
  std::shared_ptr<StrictMock<MockVantryService>> mock_ =
      std::make_shared<StrictMock<MockVantryService>>();
  std::unique_ptr<TROClassFactory> factory_ = CreateVantryServiceFactory([this] { return mock_; });
  TROBinMessage server_message_;
  TROTCPServer server_;
  TROBinMessage client_message_;
  TROTCPChannel channel_;
  TRORemoteService holder_;
  std::shared_ptr<IVantryService> proxy_;
};

TEST_F(ProxyTest, HolderHandsOutTheRegisteredProxy) {
  ASSERT_NE(nullptr, proxy_);
  EXPECT_NE(nullptr, dynamic_cast<TVantryService_Proxy*>(proxy_.get()));
}

TEST_F(ProxyTest, CopyFileWaitsForItsEmptyResponse) {
  EXPECT_CALL(*mock_, CopyFile("C:\\db\\A.FDB", "\\\\host\\share\\\xE9.fdb"));
  proxy_->CopyFile("C:\\db\\A.FDB", "\\\\host\\share\\\xE9.fdb");
}

TEST_F(ProxyTest, ServerExceptionsAreRaisedAgainWithThePrefix) {
  EXPECT_CALL(*mock_, CopyFile(_, _))
      .WillOnce(Throw(EVantryException("Disk on fire")))
      .WillOnce(Throw(Exception("File \"C:\\a\" does not exist")));
  EXPECT_THAT([&] { proxy_->CopyFile("C:\\a", "D:\\b"); },
              ThrowsMessage<EVantryException>(StrEq(std::string(kPrefix) + "Disk on fire")));
  // Exception is not a registered class: the caller gets the stand-in class, text unchanged.
  EXPECT_THAT([&] { proxy_->CopyFile("C:\\a", "D:\\b"); },
              ThrowsMessage<EROUnregisteredServerException>(
                  StrEq(std::string(kPrefix) + "File \"C:\\a\" does not exist")));
}

TEST_F(ProxyTest, AbsentAndEmptyArrayResultsStayApart) {
  EXPECT_CALL(*mock_, GetBackupFileNames("T:\\*"))
      .WillOnce(Return(ByMove(nullptr)))
      .WillOnce(Return(ByMove(std::make_unique<FileList>())))
      .WillOnce(Return(ByMove(MakeFileList({"T:\\.", "T:\\caf\xE9.fbk"}))));
  EXPECT_EQ(nullptr, proxy_->GetBackupFileNames("T:\\*"));
  std::unique_ptr<FileList> empty = proxy_->GetBackupFileNames("T:\\*");
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ(0, empty->Count());
  std::unique_ptr<FileList> names = proxy_->GetBackupFileNames("T:\\*");
  ASSERT_NE(nullptr, names);
  ASSERT_EQ(2, names->Count());
  EXPECT_EQ("T:\\caf\xE9.fbk", names->Items(1));

  EXPECT_CALL(*mock_, GetOtherTargetServers())
      .WillOnce(Return(ByMove(std::make_unique<TargetServerList>())));
  std::unique_ptr<TargetServerList> servers = proxy_->GetOtherTargetServers();
  ASSERT_NE(nullptr, servers);
  EXPECT_EQ(0, servers->Count());
}

TEST_F(ProxyTest, OutValuesArriveAndOutTextsAreEmptiedOnFailure) {
  EXPECT_CALL(*mock_, GetVantryInstanceIdentifier(_, _))
      .WillOnce(DoAll(SetArgReferee<0>("DBSERVER"), SetArgReferee<1>("{GUID}")))
      .WillOnce(Throw(EVantryException("no identity")));
  std::string computer_name = "stale";
  std::string guid = "stale";
  proxy_->GetVantryInstanceIdentifier(computer_name, guid);
  EXPECT_EQ("DBSERVER", computer_name);
  EXPECT_EQ("{GUID}", guid);
  EXPECT_THROW(proxy_->GetVantryInstanceIdentifier(computer_name, guid), EVantryException);
  EXPECT_EQ("", computer_name);
  EXPECT_EQ("", guid);

  // The failed call left message and channel ready for the next one.
  EXPECT_CALL(*mock_, BackupPermissionGranted(_, _))
      .WillOnce(DoAll(SetArgReferee<0>(2), SetArgReferee<1>(4), Return(false)));
  int32_t granted = -7;
  int32_t max_limit = -7;
  EXPECT_FALSE(proxy_->BackupPermissionGranted(granted, max_limit));
  EXPECT_EQ(2, granted);
  EXPECT_EQ(4, max_limit);
}

TEST_F(ProxyTest, ScalarValuesTravelBothWays) {
  EXPECT_CALL(*mock_, GetFreeDiskSpace("E:\\bak")).WillOnce(Return(int64_t{1} << 40));
  EXPECT_CALL(*mock_, GetDefaultDeleteStrategy()).WillOnce(Return(vantrydsAgressive));
  EXPECT_CALL(*mock_, MakeSpaceOnDiskForBackup("C:\\db.fdb", "E:\\bak",
                                               static_cast<TVantry_DeleteStrategyType>(7)));
  EXPECT_CALL(*mock_, GetDefaultBackupPath()).WillOnce(Return("E:\\Backups\\"));
  EXPECT_CALL(*mock_, RenameFile("a", "b")).WillOnce(Return(true));
  EXPECT_EQ(int64_t{1} << 40, proxy_->GetFreeDiskSpace("E:\\bak"));
  EXPECT_EQ(vantrydsAgressive, proxy_->GetDefaultDeleteStrategy());
  proxy_->MakeSpaceOnDiskForBackup("C:\\db.fdb", "E:\\bak",
                                   static_cast<TVantry_DeleteStrategyType>(7));
  EXPECT_EQ("E:\\Backups\\", proxy_->GetDefaultBackupPath());
  EXPECT_TRUE(proxy_->RenameFile("a", "b"));
}

TEST_F(ProxyTest, BinaryIsSentWholeAndStaysTheCallers) {
  std::string received = "not called";
  EXPECT_CALL(*mock_, ReceiveBackup("F:\\b.fbk", 9, 3, _))
      .WillOnce(Invoke([&](auto&, auto, auto, TROBinaryMemoryStream* chunk) {
        received = chunk == nullptr ? "null" : chunk->ToString();
      }));
  EXPECT_CALL(*mock_, ReceiveBackup("F:\\b.fbk", 9, 9, IsNull()));
  TROBinaryMemoryStream chunk("abcdef");
  chunk.SetPosition(6);  // at the end: still sent from its first byte
  proxy_->ReceiveBackup("F:\\b.fbk", 9, 3, &chunk);
  EXPECT_EQ("abcdef", received);
  EXPECT_EQ("abcdef", chunk.ToString());
  proxy_->ReceiveBackup("F:\\b.fbk", 9, 9, nullptr);
}

TEST_F(ProxyTest, InterfaceNameOverrideIsSentInstead) {
  TVantryService_Proxy proxy("BackupService", client_message_, channel_);
  EXPECT_THAT([&] { proxy.FileExists("x"); },
              ThrowsMessage<EROUnregisteredServerException>(StrEq(
                  std::string(kPrefix) + "Class factory for interface BackupService not found")));

  TROClassFactory other(
      "BackupService", [this] { return mock_; },
      [] { return std::make_unique<TVantryService_Invoker>(); });
  EXPECT_CALL(*mock_, FileExists("x")).WillOnce(Return(true));
  EXPECT_TRUE(proxy.FileExists("x"));
}

}  // namespace
}  // namespace vantry
