#include "contract/VantryLibrary_Invk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

#include "contract/testing/mock_vantry_service.h"
#include "platform/os_error.h"

// Watches one address: tells whether the object there has been freed, so the tests can see that
// the invoker disposes of what it read or received. The replacements pair malloc with free on
// purpose, which the compiler cannot see through inlined new expressions.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<const void*> g_watched{nullptr};
std::atomic<bool> g_watched_freed{false};
void NoteFree(void* p) {
  if (p != nullptr && p == g_watched.load()) g_watched_freed = true;
}
}  // namespace

void* operator new(std::size_t size) {
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  NoteFree(p);
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  NoteFree(p);
  std::free(p);
}

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

void Watch(const void* object) {
  g_watched_freed = false;
  g_watched = object;
}
bool WatchedFreed() { return g_watched_freed.load(); }

class NullTransport : public IROTransport {
 public:
  std::string GetClientAddress() const override { return "127.0.0.1"; }
};

std::string Hex(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) out += Format("%s%02X", out.empty() ? "" : " ", c);
  return out;
}

class InvokerTest : public testing::Test {
 protected:
  using Writer = std::function<void(IROMessage&)>;

  // A request `message_name` whose body `write` fills, as dispatch reads it off the wire: the
  // returned message is positioned at the first value.
  static std::unique_ptr<TROBinMessage> Request(const std::string& message_name,
                                                const Writer& write = nullptr) {
    TROBinMessage client;
    client.InitializeRequestMessage(nullptr, kVantryLibraryName, kVantryServiceName, message_name);
    if (write) write(client);
    TROBinaryMemoryStream bytes;
    client.WriteToStream(bytes);
    auto server = std::make_unique<TROBinMessage>();
    server->ReadFromStream(bytes);
    return server;
  }

  // Runs the call as dispatch does; returns the response options.
  TROResponseOptions Run(IROMessage& message) {
    TROResponseOptions options = 0;
    factory_->GetInvoker().InvokeOperation(*factory_, message, transport_, options);
    return options;
  }

  // The response in `message` as a client reads it back: positioned at the first value.
  static std::unique_ptr<TROBinMessage> Response(IROMessage& message) {
    TROBinaryMemoryStream bytes;
    message.WriteToStream(bytes);
    auto client = std::make_unique<TROBinMessage>();
    client->ReadFromStream(bytes);
    return client;
  }

  // The values of the response to `request`, in hex.
  std::string ResponseValues(const std::string& message_name, const Writer& write = nullptr) {
    auto message = Request(message_name, write);
    Run(*message);
    auto response = Response(*message);
    EXPECT_EQ(kVantryServiceName, response->GetInterfaceName());
    EXPECT_EQ(message_name + "Response", response->GetMessageName());
    TROBinaryMemoryStream& body = *response->Body();
    return Hex(body.View().substr(body.Position()));
  }

  VantryLibraryRegistration registration_;
  std::shared_ptr<StrictMock<MockVantryService>> mock_ =
      std::make_shared<StrictMock<MockVantryService>>();
  std::unique_ptr<TROClassFactory> factory_ = CreateVantryServiceFactory([this] { return mock_; });
  NullTransport transport_;
};

TEST_F(InvokerTest, LowerCaseNameRunsCopyFileAndAnswersWithEmptyResponse) {
  EXPECT_CALL(*mock_, CopyFile("C:\\db\\a.fdb", "D:\\b.fdb"));
  auto message = Request("copyfile", [](IROMessage& m) {
    m.Write("FromFileName", std::string("C:\\db\\a.fdb"));
    m.Write("ToFileName", std::string("D:\\b.fdb"));
  });
  EXPECT_EQ(kResponseNoResponse, Run(*message));
  auto response = Response(*message);
  EXPECT_EQ("CopyFileResponse", response->GetMessageName());
  EXPECT_EQ(0u, response->Body()->Remaining());
}

TEST_F(InvokerTest, ResultThenOutValuesInContractOrder) {
  EXPECT_CALL(*mock_, BackupPermissionGranted(_, _))
      .WillOnce(DoAll(SetArgReferee<0>(3), SetArgReferee<1>(5), Return(true)));
  EXPECT_EQ("01 00 00 00 03 00 00 00 05 00 00 00", ResponseValues("BackupPermissionGranted"));

  EXPECT_CALL(*mock_, GetVantryInstanceIdentifier(_, _))
      .WillOnce(DoAll(SetArgReferee<0>("PC"), SetArgReferee<1>("{G}")));
  EXPECT_EQ("02 00 00 00 50 43 03 00 00 00 7B 47 7D",
            ResponseValues("GetVantryInstanceIdentifier"));
}

TEST_F(InvokerTest, ResultEncodings) {
  EXPECT_CALL(*mock_, FileExists("x")).WillOnce(Return(true));
  EXPECT_CALL(*mock_, GetFileSize("x")).WillOnce(Return(int64_t{0x0102030405060708}));
  EXPECT_CALL(*mock_, GetDefaultDeleteStrategy()).WillOnce(Return(vantrydsAgressive));
  EXPECT_CALL(*mock_, GetBackupPeriodEndHour()).WillOnce(Return(-1));
  EXPECT_CALL(*mock_, MigrateToServer()).WillOnce(Return("\xE9"));
  EXPECT_CALL(*mock_, GetOtherTargetServers()).WillOnce(Return(ByMove(nullptr)));
  EXPECT_CALL(*mock_, GetBackupFileNames("*"))
      .WillOnce(Return(ByMove(std::make_unique<FileList>())))
      .WillOnce(Return(ByMove(MakeFileList({"a", ""}))));
  auto name = [](const char* text) {
    return [text](IROMessage& m) { m.Write("FileName", std::string(text)); };
  };
  auto pattern = [](IROMessage& m) { m.Write("SearchPath", std::string("*")); };

  EXPECT_EQ("01 00 00 00", ResponseValues("FileExists", name("x")));
  EXPECT_EQ("08 07 06 05 04 03 02 01", ResponseValues("GetFileSize", name("x")));
  EXPECT_EQ("02 00 00 00", ResponseValues("GetDefaultDeleteStrategy"));
  EXPECT_EQ("FF FF FF FF", ResponseValues("GetBackupPeriodEndHour"));
  EXPECT_EQ("01 00 00 00 E9", ResponseValues("MigrateToServer"));
  EXPECT_EQ("00", ResponseValues("GetOtherTargetServers"));
  EXPECT_EQ("01 00 00 00 00", ResponseValues("GetBackupFileNames", pattern));
  EXPECT_EQ("01 02 00 00 00 01 00 00 00 61 00 00 00 00",
            ResponseValues("GetBackupFileNames", pattern));
}

TEST_F(InvokerTest, InValuesReachTheOperationUnchanged) {
  EXPECT_CALL(*mock_, MakeSpaceOnDiskForBackup("C:\\db.fdb", "E:\\bak",
                                               static_cast<TVantry_DeleteStrategyType>(7)));
  auto message = Request("MakeSpaceOnDiskForBackup", [](IROMessage& m) {
    m.Write("DatabaseFileName", std::string("C:\\db.fdb"));
    m.Write("BackupDirectory", std::string("E:\\bak"));
    auto ordinal = static_cast<TVantry_DeleteStrategyType>(7);
    m.Write("DeleteStrategyType", DeleteStrategyTypeInfo(), &ordinal);
  });
  EXPECT_EQ(kResponseNoResponse, Run(*message));
}

TEST_F(InvokerTest, DataChunkIsReadAndFreedAfterTheCall) {
  EXPECT_CALL(*mock_, ReceiveBackup("F:\\b.fbk", 10, 4, _))
      .WillOnce(Invoke([](auto&, auto, auto, TROBinaryMemoryStream* chunk) {
        ASSERT_NE(nullptr, chunk);
        EXPECT_EQ("chunk", chunk->ToString());
        Watch(chunk);
      }));
  auto message = Request("ReceiveBackup", [](IROMessage& m) {
    m.Write("FileName", std::string("F:\\b.fbk"));
    m.Write("TotalFileSize", int64_t{10});
    m.Write("Offset", int64_t{4});
    auto chunk = std::make_unique<TROBinaryMemoryStream>("chunk");
    m.Write("DataChunk", chunk);
  });
  Run(*message);
  EXPECT_TRUE(WatchedFreed());
}

TEST_F(InvokerTest, AbsentDataChunkReachesTheOperationAsNull) {
  EXPECT_CALL(*mock_, ReceiveBackup("f", 0, 0, IsNull()));
  auto message = Request("ReceiveBackup", [](IROMessage& m) {
    m.Write("FileName", std::string("f"));
    m.Write("TotalFileSize", int64_t{0});
    m.Write("Offset", int64_t{0});
    m.Write("DataChunk", std::unique_ptr<TROBinaryMemoryStream>());
  });
  Run(*message);
}

TEST_F(InvokerTest, DataChunkIsFreedWhenTheOperationThrows) {
  EXPECT_CALL(*mock_, ReceiveBackup(_, _, _, _))
      .WillOnce(Invoke([](auto&, auto, auto, TROBinaryMemoryStream* chunk) {
        Watch(chunk);
        throw EVantryException("disk full");
      }));
  auto message = Request("ReceiveBackup", [](IROMessage& m) {
    m.Write("FileName", std::string("f"));
    m.Write("TotalFileSize", int64_t{3});
    m.Write("Offset", int64_t{0});
    m.Write("DataChunk", std::make_unique<TROBinaryMemoryStream>("abc"));
  });
  EXPECT_THAT([&] { Run(*message); }, ThrowsMessage<EVantryException>(StrEq("disk full")));
  EXPECT_TRUE(WatchedFreed());
}

TEST_F(InvokerTest, RetainedDataChunkIsLeftToTheImplementation) {
  TROBinaryMemoryStream* kept = nullptr;
  EXPECT_CALL(*mock_, ReceiveBackup(_, _, _, _))
      .WillOnce(Invoke([&](auto&, auto, auto, TROBinaryMemoryStream* chunk) {
        mock_->RetainObject(chunk);
        kept = chunk;
        Watch(chunk);
      }));
  auto message = Request("ReceiveBackup", [](IROMessage& m) {
    m.Write("FileName", std::string("f"));
    m.Write("TotalFileSize", int64_t{3});
    m.Write("Offset", int64_t{0});
    m.Write("DataChunk", std::make_unique<TROBinaryMemoryStream>("abc"));
  });
  Run(*message);
  EXPECT_FALSE(WatchedFreed());
  EXPECT_EQ("abc", kept->ToString());
  mock_->ReleaseObject(kept);
  delete kept;
}

TEST_F(InvokerTest, ResultArrayIsFreedAfterTheResponseIsWritten) {
  auto list = MakeFileList({"a"});
  Watch(list.get());
  EXPECT_CALL(*mock_, GetBackupFileNames("*")).WillOnce(Return(ByMove(std::move(list))));
  auto message =
      Request("GetBackupFileNames", [](IROMessage& m) { m.Write("SearchPath", std::string("*")); });
  Run(*message);
  EXPECT_TRUE(WatchedFreed());
}

TEST_F(InvokerTest, TrailingBytesAreIgnored) {
  EXPECT_CALL(*mock_, DeleteFile("x")).WillOnce(Return(false));
  EXPECT_EQ("00 00 00 00", ResponseValues("DeleteFile", [](IROMessage& m) {
              m.Write("FileName", std::string("x"));
              m.Write("Extra", std::string("ignored"));
            }));
}

TEST_F(InvokerTest, ShortBodyFailsWithTheReadErrorAndCallsNothing) {
  auto message =
      Request("RenameFile", [](IROMessage& m) { m.Write("FromFileName", std::string("a")); });
  EXPECT_THAT(
      [&] { Run(*message); },
      ThrowsMessage<EROException>(StrEq("Error reading parameter ToFileName: Stream read error")));
}

TEST_F(InvokerTest, OperationErrorsPassThroughWithTheirClass) {
  EXPECT_CALL(*mock_, GetFreeDiskSpace("Q:\\")).WillOnce(Throw(OSError(kErrorPathNotFound)));
  auto message = Request("GetFreeDiskSpace",
                         [](IROMessage& m) { m.Write("BackupDirectory", std::string("Q:\\")); });
  EXPECT_THAT([&] { Run(*message); },
              ThrowsMessage<EOSError>(
                  StrEq("System Error.  Code: 3.\r\nThe system cannot find the path specified.")));
}

TEST_F(InvokerTest, ObjectWithoutTheServiceInterfaceIsRefused) {
  auto factory = CreateVantryServiceFactory([] { return std::make_shared<TRORemotable>(); });
  auto message = Request("GetIsFBClassicServer");
  TROResponseOptions options = 0;
  EXPECT_THAT(
      [&] { factory->GetInvoker().InvokeOperation(*factory, *message, transport_, options); },
      ThrowsMessage<EIntfCastError>(StrEq("Interface not supported")));
}

TEST_F(InvokerTest, HandlersAreNamedAfterTheOperations) {
  TROInvoker& invoker = factory_->GetInvoker();
  for (const char* name : {"Invoke_CopyFile", "Invoke_GetVantryInstanceIdentifier",
                           "Invoke_ReceiveBackup", "invoke_getbackupperiodendhour",
                           "Invoke_GetAlternateRestorePathForRestoreFromAnotherServer"}) {
    EXPECT_NE(nullptr, invoker.FindHandler(name)) << name;
  }
  EXPECT_EQ(nullptr, invoker.FindHandler("Invoke_CopyFileResponse"));
  EXPECT_NE(nullptr, invoker.FindHandler("Invoke_RegisterEventClient"));
}

}  // namespace
}  // namespace vantry
