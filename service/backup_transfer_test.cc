// ReceiveBackup on part files, SendBackup over loopback into an in-process server, and both
// with a file system that fails on purpose.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "contract/VantryLibrary_Invk.h"
#include "contract/testing/mock_vantry_service.h"
#include "platform/testing/fake_file_system.h"
#include "platform/testing/fault_file_system.h"
#include "platform/socket.h"
#include "remoting/dispatch.h"
#include "remoting/message_format.h"
#include "remoting/tcp_connection.h"
#include "remoting/tcp_server.h"
#include "remoting/transport.h"
#include "service/VantryService_Impl.h"
#include "service/testing/fake_vantry_host.h"
#include "transfer/fast_receiver.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing::StrEq;
using testing::ThrowsMessage;

constexpr int64_t kMiB = 1048576;
constexpr char kFile[] = "T:\\bak\\db.fbk";
constexpr char kDiskFull[] = "System Error.  Code: 112.\r\nThere is not enough space on the disk.";
constexpr char kIoError[] =
    "System Error.  Code: 1117.\r\nThe request could not be performed because of an I/O device "
    "error.";
constexpr char kInUse[] =
    "The process cannot access the file because it is being used by another process.";

// Bytes that differ from chunk to chunk, so that a chunk in the wrong place shows.
std::string Content(int64_t size) {
  std::string bytes(static_cast<size_t>(size), '\0');
  uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245 + 12345;
    c = static_cast<char>(x >> 16);
  }
  return bytes;
}

class ReceiveBackupTest : public testing::Test {
 protected:
  // Sends the bytes [offset, offset + length) of `content` to `file`.
  void Send(const std::string& content, int64_t offset, int64_t length,
            const std::string& file = kFile) {
    TROBinaryMemoryStream chunk(std::string_view(content).substr(offset, length));
    service_.ReceiveBackup(file, static_cast<int64_t>(content.size()), offset, &chunk);
  }
  // Names of the entries of T:\bak that are not the final file.
  std::vector<std::string> Parts() {
    std::vector<std::string> names;
    for (const FileEntry& e : fs_.FindFiles("T:\\bak\\*.part_*")) names.push_back(e.name);
    return names;
  }

  FakeFileSystem fs_;
  FaultFileSystem faults_{fs_};
  FakeVantryHost host_;
  FixedClock clock_{45000.5};
  TVantryService service_{faults_, host_, clock_};
  const std::string content_ = Content(2500000);
};

TEST_F(ReceiveBackupTest, ChunksInOrderEndAsTheFileWithNoPartLeft) {
  Send(content_, 0, kMiB);
  Send(content_, kMiB, kMiB);
  EXPECT_THAT(Parts(), ElementsAre("db.fbk.l2500000.part_0"));
  EXPECT_EQ(2 * kMiB, fs_.GetFileSize("T:\\bak\\db.fbk.l2500000.part_0"));
  EXPECT_FALSE(fs_.FileExists(kFile));
  Send(content_, 2 * kMiB, 402848);
  EXPECT_THAT(Parts(), IsEmpty());
  EXPECT_TRUE(fs_.ReadFile(kFile) == content_);
  // The part reached the disk once, before it took the final name.
  EXPECT_EQ(1, faults_.Calls(FaultCall::kFileFlush));
  EXPECT_EQ(host_.activity[THostActivity::kBackupBytesReceived], 2500000);
}

TEST_F(ReceiveBackupTest, SizesAroundOneChunk) {
  struct Case {
    int64_t size;
    std::vector<int64_t> chunk_lengths;
  };
  for (const Case& c : {Case{kMiB, {kMiB}}, Case{kMiB + 1, {kMiB, 1}}, Case{0, {0}}}) {
    std::string content = Content(c.size);
    std::string file = Format("T:\\bak\\size%d.fbk", c.size);
    int64_t offset = 0;
    for (int64_t length : c.chunk_lengths) {
      EXPECT_FALSE(fs_.FileExists(file)) << c.size;
      Send(content, offset, length, file);
      offset += length;
    }
    EXPECT_TRUE(fs_.ReadFile(file) == content) << c.size;
  }
  EXPECT_THAT(Parts(), IsEmpty());
}

TEST_F(ReceiveBackupTest, ChunkAtOffsetZeroRestartsTheTransfer) {
  Send(content_, 0, kMiB);
  Send(content_, kMiB, kMiB);
  Send(content_, 0, kMiB);
  EXPECT_EQ(kMiB, fs_.GetFileSize("T:\\bak\\db.fbk.l2500000.part_0"));
  Send(content_, kMiB, kMiB);
  Send(content_, 2 * kMiB, 402848);
  EXPECT_TRUE(fs_.ReadFile(kFile) == content_);
  EXPECT_THAT(Parts(), IsEmpty());
}

TEST_F(ReceiveBackupTest, SameMiddleChunkTwiceLeavesASecondPart) {
  Send(content_, 0, kMiB);
  Send(content_, kMiB, kMiB);
  Send(content_, kMiB, kMiB);
  EXPECT_THAT(Parts(), ElementsAre("db.fbk.l2500000.part_0", "db.fbk.l2500000.part_1048576"));
  // Both parts end at 2 MiB; the search finds the part starting at 0 first, so it completes.
  Send(content_, 2 * kMiB, 402848);
  EXPECT_TRUE(fs_.ReadFile(kFile) == content_);
  EXPECT_THAT(Parts(), ElementsAre("db.fbk.l2500000.part_1048576"));
}

TEST_F(ReceiveBackupTest, ExistingFinalFileIsNeverReplaced) {
  fs_.WriteFile(kFile, "older backup");
  Send(content_, 0, kMiB);
  Send(content_, kMiB, kMiB);
  EXPECT_THAT([&] { Send(content_, 2 * kMiB, 402848); },
              ThrowsMessage<EAssertionFailed>(
                  StrEq("Backup File 'T:\\bak\\db.fbk' already exists, cannot replace! "
                        "(VantryService_Impl, line 355)")));
  EXPECT_EQ("older backup", fs_.ReadFile(kFile));
  EXPECT_TRUE(fs_.ReadFile("T:\\bak\\db.fbk.l2500000.part_0") == content_);
}

// A part named as a chunk's new part, left by an earlier transfer of the same size, goes when
// that chunk arrives, and the transfer ends as the file with no part left. Kept, it would stay
// beside the file (a middle chunk sent twice), or hold the new first chunk under its own
// spelling, which the exact comparison of the completion test never takes for the final name.
TEST_F(ReceiveBackupTest, AChunkDeletesAnOldPartOfItsName) {
  struct Case {
    int64_t size;
    const char* old_part;
  };
  for (const Case& c : {Case{2500000, "db.fbk.l2500000.part_1048576"},
                        Case{1000, "DB.FBK.l1000.part_0"}}) {
    SCOPED_TRACE(c.old_part);
    fs_.WriteFile(std::string("T:\\bak\\") + c.old_part, "from an earlier transfer");
    const std::string content = Content(c.size);
    for (int64_t offset = 0; offset < c.size; offset += kMiB) {
      Send(content, offset, std::min(kMiB, c.size - offset));
    }
    EXPECT_TRUE(fs_.FileExists(kFile) && fs_.ReadFile(kFile) == content);
    EXPECT_THAT(Parts(), IsEmpty());
    fs_.TryDeleteFile(kFile);
    for (const std::string& part : Parts()) fs_.DeleteFile("T:\\bak\\" + part);
  }
}

TEST_F(ReceiveBackupTest, FirstChunkCreatesTheDirectory) {
  Send(content_, 0, kMiB, "T:\\new\\deeper\\db.fbk");
  EXPECT_EQ(kMiB, fs_.GetFileSize("T:\\new\\deeper\\db.fbk.l2500000.part_0"));
}

TEST_F(ReceiveBackupTest, TransfersOfOtherSizesKeepTheirOwnParts) {
  std::string shorter = Content(1500000);
  Send(content_, 0, kMiB);
  Send(shorter, 0, kMiB);
  Send(shorter, kMiB, 1500000 - kMiB);
  EXPECT_TRUE(fs_.ReadFile(kFile) == shorter);
  EXPECT_THAT(Parts(), ElementsAre("db.fbk.l2500000.part_0"));
}

TEST_F(ReceiveBackupTest, AbsentChunkFailsBeforeAnythingIsTouched) {
  EXPECT_THAT([&] { service_.ReceiveBackup("T:\\new\\db.fbk", 10, 0, nullptr); },
              ThrowsMessage<Exception>(
                  StrEq("ReceiveBackup of \"T:\\new\\db.fbk\" at offset 0 carries no DataChunk")));
  EXPECT_FALSE(fs_.DirectoryExists("T:\\new"));
}

TEST_F(ReceiveBackupTest, FailuresNameTheirClassAndText) {
  TROBinaryMemoryStream chunk(std::string_view("0123456789"));
  EXPECT_THAT([&] { service_.ReceiveBackup("db.fbk", 20, 0, &chunk); },
              ThrowsMessage<EInOutError>(StrEq("Unable to create directory")));

  fs_.WriteFile("T:\\bak\\db.fbk.l20.part_0.old", "");
  EXPECT_THAT([&] { service_.ReceiveBackup(kFile, 20, 10, &chunk); },
              ThrowsMessage<EConvertError>(StrEq("'0.old' is not a valid integer value")));
  fs_.DeleteFile("T:\\bak\\db.fbk.l20.part_0.old");

  // The part to append to is held by another open: no interleaved data.
  service_.ReceiveBackup(kFile, 20, 0, &chunk);
  {
    auto held = fs_.OpenFile("T:\\bak\\db.fbk.l20.part_0", FileAccess::kRead, FileShare::kRead,
                             FileDisposition::kOpenExisting);
    EXPECT_THAT([&] { service_.ReceiveBackup(kFile, 20, 10, &chunk); },
                ThrowsMessage<EFOpenError>(
                    StrEq(Format("Cannot open file \"T:\\bak\\db.fbk.l20.part_0\". %s", kInUse))));
  }
  // A directory named as the new part is found as a part of length 0 that ends there.
  fs_.CreateDirectory("T:\\bak\\db.fbk.l20.part_15");
  EXPECT_THAT([&] { service_.ReceiveBackup(kFile, 20, 15, &chunk); },
              ThrowsMessage<EFOpenError>(
                  StrEq("Cannot open file \"T:\\bak\\db.fbk.l20.part_15\". Access is denied.")));
  faults_.Fail(FaultCall::kOpenFile, FaultKind::kAccessDenied, 0, "part_17", true);
  EXPECT_THAT([&] { service_.ReceiveBackup(kFile, 20, 17, &chunk); },
              ThrowsMessage<EFCreateError>(
                  StrEq("Cannot create file \"T:\\bak\\db.fbk.l20.part_17\". Access is denied.")));

  faults_.Fail(FaultCall::kMoveFile, FaultKind::kAccessDenied);
  EXPECT_THAT([&] { service_.ReceiveBackup(kFile, 20, 10, &chunk); },
              ThrowsMessage<EOSError>(StrEq("System Error.  Code: 5.\r\nAccess is denied.")));
  // Flushed before the rename was tried; the complete data stays in the part.
  EXPECT_EQ(1, faults_.Calls(FaultCall::kFileFlush));
  EXPECT_EQ("01234567890123456789", fs_.ReadFile("T:\\bak\\db.fbk.l20.part_0"));
}

// A chunk that fails half-written ends the call with the system's error; the sender's restart
// from offset 0 then completes the file cleanly.
TEST_F(ReceiveBackupTest, FailedWriteEndsTheCallAndARestartRecovers) {
  struct Case {
    FaultKind kind;
    const char* text;
  };
  for (const Case& c :
       {Case{FaultKind::kShortWrite, kDiskFull}, Case{FaultKind::kIoError, kIoError}}) {
    faults_.Fail(FaultCall::kFileWrite, c.kind, 1);
    Send(content_, 0, kMiB);
    EXPECT_THAT([&] { Send(content_, kMiB, kMiB); }, ThrowsMessage<EOSError>(StrEq(c.text)));
    int64_t written = c.kind == FaultKind::kShortWrite ? kMiB + kMiB / 2 : kMiB;
    EXPECT_EQ(written, fs_.GetFileSize("T:\\bak\\db.fbk.l2500000.part_0"));
    faults_.HealAll();
    for (int64_t offset = 0; offset < 2500000; offset += kMiB) {
      Send(content_, offset, std::min(kMiB, 2500000 - offset));
    }
    EXPECT_TRUE(fs_.ReadFile(kFile) == content_);
    EXPECT_THAT(Parts(), IsEmpty());
    fs_.DeleteFile(kFile);
  }
}

// A server on 127.0.0.1 that answers VantryService calls with objects made by `creator`.
class LoopbackServer {
 public:
  // `on_request`, when given, sees every request's bytes as they came off the wire.
  explicit LoopbackServer(TROClassFactory::Creator creator,
                          std::function<void(TROBinaryMemoryStream&)> on_request = nullptr)
      : factory_(CreateVantryServiceFactory(std::move(creator))) {
    server_.on_read_from_stream = std::move(on_request);
    server_.SetBindAddress("127.0.0.1");
    server_.SetPort(0);
    server_.Dispatchers().Add("ROMessage").SetMessage(&message_);
    server_.SetActive(true);
  }
  ~LoopbackServer() { server_.SetActive(false); }
  std::string Address() const { return Format("127.0.0.1:%d", server_.GetPort()); }

 private:
  VantryLibraryRegistration library_;
  std::unique_ptr<TROClassFactory> factory_;
  TROBinMessage message_;
  TROTCPServer server_;
};

// A target that accepts its connections one at a time, in the order they were made, and counts
// them exactly: Count() makes a marker connection of its own, and every connection the sender
// opened before it has been accepted and counted when the marker is reached.
class CountingTarget : public TROServer {
 public:
  explicit CountingTarget(TROClassFactory::Creator creator)
      : factory_(CreateVantryServiceFactory(std::move(creator))) {
    Dispatchers().Add("ROMessage").SetMessage(&message_);
    listener_.Bind("127.0.0.1", 0);
    listener_.Listen(16);
    thread_ = std::thread([this] { Run(); });
  }
  ~CountingTarget() override { Count(); }
  std::string Address() const { return Format("127.0.0.1:%d", listener_.LocalPort()); }
  // The connections made to the target so far; the target accepts no more afterwards.
  int Count() {
    if (thread_.joinable()) {
      TROBinaryMemoryStream marker;
      marker.Write(kMarker);
      TROTCPConnection::Connect("127.0.0.1", listener_.LocalPort())->WriteFrame(marker);
      thread_.join();
    }
    return connections_;
  }

 protected:
  void IntSetActive(bool /*active*/) override {}
  bool IntGetActive() const override { return true; }

 private:
  static constexpr char kMarker[] = "marker";
  class Transport : public IROTransport {
    std::string GetClientAddress() const override { return "127.0.0.1"; }
  };

  void Run() {
    for (;;) {
      TROTCPConnection connection(listener_.Accept());
      TROBinaryMemoryStream request, response;
      try {
        connection.ReadFrame(request);
      } catch (const std::exception&) {
        ++connections_;  // closed by the sender without a call on it
        continue;
      }
      if (request.ToString() == kMarker) return;
      ++connections_;
      try {
        for (Transport transport;; request.Clear(), response.Clear()) {
          request.Rewind();
          DispatchRequest(transport, request, response);
          connection.WriteFrame(response);
          connection.ReadFrame(request);
        }
      } catch (const std::exception&) {
        // The sender closed the connection after its call.
      }
    }
  }

  VantryLibraryRegistration library_;
  std::unique_ptr<TROClassFactory> factory_;
  TROBinMessage message_;
  Socket listener_ = Socket::Create();
  int connections_ = 0;  // written by the target's thread until Count() has joined it
  std::thread thread_;
};

// One ReceiveBackup call as the target saw it.
struct ReceivedChunk {
  std::string file_name;
  int64_t total;
  int64_t offset;
  std::string bytes;
  bool operator==(const ReceivedChunk&) const = default;
};

class SendBackupTest : public testing::Test {
 protected:
  SendBackupTest()
      : receiver_(std::make_shared<testing::NiceMock<MockVantryService>>()),
        server_([this] { return receiver_; }) {
    ON_CALL(*receiver_, ReceiveBackup)
        .WillByDefault([this](const std::string& file, int64_t total, int64_t offset,
                              TROBinaryMemoryStream* chunk) {
          std::lock_guard<std::mutex> lock(mu_);
          received_.push_back({file, total, offset, chunk->ToString()});
        });
  }

  FakeFileSystem fs_;
  FakeVantryHost host_;
  FixedClock clock_{45000.5};
  TVantryService service_{fs_, host_, clock_};
  std::shared_ptr<testing::NiceMock<MockVantryService>> receiver_;
  LoopbackServer server_;
  std::mutex mu_;
  std::vector<ReceivedChunk> received_;
};

TEST_F(SendBackupTest, ChunksGoInFileOrderOneCallEach) {
  struct Case {
    int64_t size;
    std::vector<int64_t> lengths;
  };
  for (const Case& c : {Case{2500000, {kMiB, kMiB, 402848}}, Case{kMiB, {kMiB}},
                        Case{kMiB + 1, {kMiB, 1}}, Case{0, {}}}) {
    std::string content = Content(c.size);
    fs_.WriteFile("T:\\src.fbk", content);
    received_.clear();
    service_.SendBackup("T:\\src.fbk", server_.Address(), "E:\\dst.fbk");
    std::vector<ReceivedChunk> expected;
    int64_t offset = 0;
    for (int64_t length : c.lengths) {
      expected.push_back({"E:\\dst.fbk", c.size, offset, content.substr(offset, length)});
      offset += length;
    }
    EXPECT_TRUE(received_ == expected) << c.size << ": " << received_.size() << " calls";
  }
}

TEST_F(SendBackupTest, MissingSourceReturnsWithoutContactingTheTarget) {
  Socket unused = Socket::Create();
  unused.Bind("127.0.0.1", 0);  // bound, never listening: a connect would be refused
  service_.SendBackup("T:\\none.fbk", Format("127.0.0.1:%d", unused.LocalPort()), "E:\\d.fbk");
  EXPECT_THAT(received_, IsEmpty());
}

TEST_F(SendBackupTest, FailuresReachTheCallerUnchanged) {
  fs_.WriteFile("T:\\src.fbk", Content(10));
  {
    // The empty host fails before the source is opened: the exclusive open would fail here.
    auto held = fs_.OpenFile("T:\\src.fbk", FileAccess::kRead, FileShare::kNone,
                             FileDisposition::kOpenExisting);
    EXPECT_THAT([&] { service_.SendBackup("T:\\src.fbk", "", "E:\\d.fbk"); },
                ThrowsMessage<EROException>(StrEq(".Host must be set.")));
    EXPECT_THAT(
        [&] { service_.SendBackup("T:\\src.fbk", server_.Address(), "E:\\d.fbk"); },
        ThrowsMessage<EFOpenError>(StrEq(Format("Cannot open file \"T:\\src.fbk\". %s", kInUse))));
  }
  Socket unused = Socket::Create();
  unused.Bind("127.0.0.1", 0);
  EXPECT_THAT(
      [&] {
        service_.SendBackup("T:\\src.fbk", Format("127.0.0.1:%d", unused.LocalPort()), "E:\\d");
      },
      ThrowsMessage<ESocketError>(StrEq("Socket Error # 10061\r\nConnection refused.")));
  EXPECT_CALL(*receiver_, ReceiveBackup)
      .WillOnce(testing::Throw(EAssertionFailed("Backup File 'E:\\d' already exists")));
  EXPECT_THAT([&] { service_.SendBackup("T:\\src.fbk", server_.Address(), "E:\\d"); },
              ThrowsMessage<EROUnregisteredServerException>(StrEq(
                  "An exception was raised on the server: Backup File 'E:\\d' already exists")));
}

// The whole transfer into a real receiver, with the source read through a failing file system:
// the read error ends the call and a later send starts again at offset 0.
TEST(SendBackupIntoReceiverTest, ReadFailureEndsTheTransferAndASecondSendCompletesIt) {
  FakeFileSystem fs;
  FaultFileSystem faults(fs);
  FakeVantryHost host;
  FixedClock clock(45000.5);
  TVantryService sender(faults, host, clock);
  LoopbackServer server([&] { return std::make_shared<TVantryService>(fs, host, clock); });
  std::string content = Content(3 * kMiB + 7);
  fs.WriteFile("T:\\src\\db.fbk", content);

  faults.Fail(FaultCall::kFileRead, FaultKind::kIoError, 2, "src");
  EXPECT_THAT([&] { sender.SendBackup("T:\\src\\db.fbk", server.Address(), "T:\\dst\\db.fbk"); },
              ThrowsMessage<EOSError>(StrEq(kIoError)));
  EXPECT_EQ(2 * kMiB, fs.GetFileSize(Format("T:\\dst\\db.fbk.l%d.part_0", content.size())));
  faults.HealAll();
  sender.SendBackup("T:\\src\\db.fbk", server.Address(), "T:\\dst\\db.fbk");
  EXPECT_TRUE(fs.ReadFile("T:\\dst\\db.fbk") == content);
  EXPECT_TRUE(fs.ReadFile("T:\\src\\db.fbk") == content);
  EXPECT_THAT(fs.FindFiles("T:\\dst\\*.part_*"), IsEmpty());
}

// Backups are compressed already, if at all: the chunks travel in messages that are not
// compressed, even when their bytes would shrink to nothing, and arrive whole.
TEST(SendBackupIntoReceiverTest, ChunksTravelUncompressed) {
  FakeFileSystem fs;
  FakeVantryHost host;
  FixedClock clock(45000.5);
  TVantryService sender(fs, host, clock);
  std::mutex mu;
  std::vector<std::string> requests;
  LoopbackServer server([&] { return std::make_shared<TVantryService>(fs, host, clock); },
                        [&](TROBinaryMemoryStream& request) {
                          std::lock_guard<std::mutex> lock(mu);
                          requests.push_back(request.ToString());
                        });
  std::string content(kMiB + 100, 'z');
  fs.WriteFile("T:\\src\\db.fbk", content);
  sender.SendBackup("T:\\src\\db.fbk", server.Address(), "T:\\dst\\db.fbk");
  EXPECT_TRUE(fs.ReadFile("T:\\dst\\db.fbk") == content);
  ASSERT_EQ(requests.size(), 2u);
  const size_t chunk_lengths[] = {kMiB, 100};
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].at(kHeaderFlagsOffset) & kFlagCompressed, 0) << i;
    // The chunk's bytes are in the message as they are.
    EXPECT_NE(requests[i].find(std::string(chunk_lengths[i], 'z')), std::string::npos) << i;
  }
}

// One connection per chunk and not one more: the connection opened ahead of a call is opened
// only when another chunk follows.
TEST(SendBackupIntoReceiverTest, TheTargetSeesOneConnectionPerChunk) {
  FakeFileSystem fs;
  FakeVantryHost host;
  FixedClock clock(45000.5);
  TVantryService sender(fs, host, clock);
  for (auto [size, chunks] :
       {std::pair<int64_t, int>{2500000, 3}, {kMiB, 1}, {kMiB + 1, 2}, {0, 0}}) {
    CountingTarget target([&] { return std::make_shared<TVantryService>(fs, host, clock); });
    fs.WriteFile("T:\\src\\db.fbk", Content(size));
    sender.SendBackup("T:\\src\\db.fbk", target.Address(), Format("T:\\dst\\%d.fbk", size));
    EXPECT_EQ(target.Count(), chunks) << size;
  }
}

// The operation a request calls, found by its name in the request's bytes.
std::string OperationOf(const std::string& request) {
  for (const char* name : {"OpenTransfer", "PutChunk", "FinishTransfer", "ReceiveBackup"}) {
    if (request.find(name) != std::string::npos) return name;
  }
  return "?";
}

// With FastTransfer on, SendBackup asks the target once. A target that does not offer the fast
// transfer (here one whose own FastTransfer is off, which answers as an instance that does not
// know the interface) then gets exactly the ReceiveBackup calls; one that offers it gets the
// file over it, with no ReceiveBackup call.
TEST(SendBackupIntoReceiverTest, TheFastTransferIsUsedWhereOfferedAndReceiveBackupElsewhere) {
  FakeFileSystem fs;
  FakeVantryHost sending_host;
  sending_host.settings.FastTransfer = true;
  FixedClock clock(45000.5);
  TVantryService sender(fs, sending_host, clock);
  const std::string content = Content(5 * kMiB + 3);
  fs.WriteFile("T:\\src\\db.fbk", content);
  for (bool offered : {false, true}) {
    FakeVantryHost receiving_host;
    receiving_host.settings.FastTransfer = offered;
    FastTransferReceiver receiver(fs, clock);
    std::unique_ptr<TROClassFactory> fast = RegisterFastTransfer(receiver, receiving_host);
    std::mutex mu;
    std::vector<std::string> operations;
    LoopbackServer server(
        [&] { return std::make_shared<TVantryService>(fs, receiving_host, clock); },
        [&](TROBinaryMemoryStream& request) {
          std::lock_guard<std::mutex> lock(mu);
          operations.push_back(OperationOf(request.ToString()));
        });
    const std::string target = Format("T:\\dst\\%d.fbk", offered ? 1 : 0);
    sender.SendBackup("T:\\src\\db.fbk", server.Address(), target);
    EXPECT_TRUE(fs.ReadFile(target) == content) << offered;
    std::lock_guard<std::mutex> lock(mu);
    if (offered) {
      // 2 MiB chunks, sent several at once: their order is open.
      std::sort(operations.begin() + 1, operations.end() - 1);
      EXPECT_THAT(operations, ElementsAre("OpenTransfer", "PutChunk", "PutChunk", "PutChunk",
                                          "FinishTransfer"));
    } else {
      EXPECT_THAT(operations, ElementsAre("OpenTransfer", "ReceiveBackup", "ReceiveBackup",
                                          "ReceiveBackup", "ReceiveBackup", "ReceiveBackup",
                                          "ReceiveBackup"));
    }
  }
}

// The receiver's disk fills up in the middle of a chunk: the sender's caller gets the
// receiver's error through the wire, and a later send starts again at offset 0 and completes.
TEST(SendBackupIntoReceiverTest, FullDiskOnTheReceiverReachesTheSenderAndARestartRecovers) {
  FakeFileSystem fs;
  FaultFileSystem receiving(fs);
  FakeVantryHost host;
  FixedClock clock(45000.5);
  TVantryService sender(fs, host, clock);
  LoopbackServer server([&] { return std::make_shared<TVantryService>(receiving, host, clock); });
  std::string content = Content(3 * kMiB + 7);
  fs.WriteFile("T:\\src\\db.fbk", content);

  receiving.Fail(FaultCall::kFileWrite, FaultKind::kShortWrite, 2, "dst");
  EXPECT_THAT([&] { sender.SendBackup("T:\\src\\db.fbk", server.Address(), "T:\\dst\\db.fbk"); },
              ThrowsMessage<EROUnregisteredServerException>(
                  StrEq(std::string("An exception was raised on the server: ") + kDiskFull)));
  EXPECT_EQ(2 * kMiB + kMiB / 2,
            fs.GetFileSize(Format("T:\\dst\\db.fbk.l%d.part_0", content.size())));
  receiving.HealAll();
  sender.SendBackup("T:\\src\\db.fbk", server.Address(), "T:\\dst\\db.fbk");
  EXPECT_TRUE(fs.ReadFile("T:\\dst\\db.fbk") == content);
  EXPECT_THAT(fs.FindFiles("T:\\dst\\*.part_*"), IsEmpty());
}

}  // namespace
}  // namespace vantry
