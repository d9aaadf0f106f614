// The fast transfer over loopback into an in-process receiver: many chunks in flight reassembled
// exactly, resume after the sender or the receiver stopped, a chunk damaged in transit sent
// again, a work file damaged between attempts caught before the final name, a full disk, a taken
// name refused before any byte travels, two transfers to one name, and the record's format.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/testing/fake_file_system.h"
#include "platform/testing/fault_file_system.h"
#include "remoting/dispatch.h"
#include "remoting/message.h"
#include "remoting/ro_exception.h"
#include "remoting/tcp_channel.h"
#include "remoting/tcp_server.h"
#include "transfer/fast_receiver.h"
#include "transfer/fast_sender.h"
#include "transfer/transfer_hash.h"
#include "transfer/transfer_record.h"

namespace vantry {
namespace {

using testing::HasSubstr;

constexpr int64_t kChunk = 64 * 1024;
constexpr char kSource[] = "T:\\src\\db.fbk";
constexpr char kTarget[] = "T:\\dst\\db.fbk";
// A clock before every file's date: nothing counts as abandoned.
const FixedClock kNoAge(0);

std::string Content(int64_t size, uint32_t seed = 12345) {
  std::string bytes(static_cast<size_t>(size), '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(seed >> 16);
  }
  return bytes;
}

// A receiving instance on 127.0.0.1: the fast transfer's service over `file_system`. Destroying
// it is a stop of the receiving instance; its files stay.
class Receiver {
 public:
  explicit Receiver(FileSystem& file_system, const Clock& clock = kNoAge)
      : receiver_(file_system, clock),
        factory_(CreateFastTransferFactory([this] {
          return std::make_shared<TFastTransferService>(receiver_, kAbandonedWorkDays);
        })) {
    server_.SetBindAddress("127.0.0.1");
    server_.SetPort(0);
    server_.Dispatchers().Add("ROMessage").SetMessage(&message_);
    server_.SetActive(true);
  }
  ~Receiver() { server_.SetActive(false); }
  std::string Address() const { return Format("127.0.0.1:%d", server_.GetPort()); }
  FastTransferReceiver& receiver() { return receiver_; }

 private:
  FastTransferReceiver receiver_;
  std::unique_ptr<TROClassFactory> factory_;
  TROBinMessage message_;
  TROTCPServer server_;
};

class FastTransferTest : public testing::Test {
 protected:
  FastSendResult Send(const std::string& address, const std::string& target = kTarget) {
    std::unique_ptr<File> source = fs_.OpenFileStream(kSource, FileAccess::kRead,
                                                      FileShare::kRead, FileDisposition::kOpenExisting);
    FastSendOptions options;
    options.chunk_size = kChunk;
    options.connections = 4;
    std::optional<FastSendResult> result =
        SendFast(address, *source, source->Size(), target, options);
    if (!result) throw Exception("not offered");
    return *result;
  }
  // Sends and expects a failure; returns once the receiver has let go of the transfer, which
  // it does when it sees the sender's connections end.
  void SendAndFail(Receiver& receiver) {
    EXPECT_THROW(Send(receiver.Address()), std::exception);
    receiver.receiver().WaitUntilIdle();
  }
  // The bytes the receiver's record holds verified.
  int64_t RecordedBytes(int64_t total) {
    std::string path = RecordFileName(kTarget, total);
    if (!fs_.FileExists(path)) return 0;
    int64_t bytes = 0;
    for (const VerifiedChunk& chunk : ParseRecord(fs_.ReadFile(path), total)) bytes += chunk.length;
    return bytes;
  }
  bool Exists(const std::string& path) { return fs_.FileExists(path); }

  FakeFileSystem fs_;
};

TEST_F(FastTransferTest, ManyChunksInFlightArriveExactlyAndLeaveNoWorkFile) {
  for (int64_t size : {int64_t{1}, kChunk, kChunk + 1, 37 * kChunk + 4321}) {
    Receiver receiver(fs_);
    std::string content = Content(size, static_cast<uint32_t>(size));
    fs_.WriteFile(kSource, content);
    FastSendResult result = Send(receiver.Address());
    EXPECT_EQ(result.skipped, 0);
    EXPECT_EQ(result.chunks, (size + kChunk - 1) / kChunk);
    EXPECT_EQ(ChunkHash(fs_.ReadFile(kTarget).data(), size), ChunkHash(content.data(), size));
    EXPECT_FALSE(Exists(WorkFileName(kTarget, size)));
    EXPECT_FALSE(Exists(RecordFileName(kTarget, size)));
    fs_.DeleteFile(kTarget);
  }
}

// The first attempt ends when the receiver refuses the chunk at `stop` (the sender gives up,
// as when it is stopped), or the receiving instance stops there. The next attempt sends only
// what the record does not hold, and the file arrives whole.
TEST_F(FastTransferTest, AnInterruptedTransferContinuesFromTheVerifiedChunks) {
  const int64_t size = 20 * kChunk + 99;
  const std::string content = Content(size);
  fs_.WriteFile(kSource, content);
  for (bool receiver_restarts : {false, true}) {
    for (int64_t stop : {int64_t{0}, 1 * kChunk, 7 * kChunk, 13 * kChunk, 20 * kChunk}) {
      SCOPED_TRACE(Format("stop at %d, receiver restarts %d", stop, receiver_restarts ? 1 : 0));
      auto first = std::make_unique<Receiver>(fs_);
      first->receiver().on_chunk_arrived = [stop](int64_t offset, TROBinaryMemoryStream&) {
        if (offset == stop) throw Exception("stopped");
      };
      SendAndFail(*first);
      std::unique_ptr<Receiver> second;
      if (receiver_restarts) {
        first.reset();
        second = std::make_unique<Receiver>(fs_);
      }
      Receiver& receiver = receiver_restarts ? *second : *first;
      receiver.receiver().on_chunk_arrived = nullptr;
      const int64_t recorded = RecordedBytes(size);
      EXPECT_LT(recorded, size);
      FastSendResult result = Send(receiver.Address());
      EXPECT_EQ(result.skipped, recorded);
      EXPECT_TRUE(fs_.ReadFile(kTarget) == content);
      EXPECT_FALSE(Exists(RecordFileName(kTarget, size)));
      fs_.DeleteFile(kTarget);
    }
  }
}

TEST_F(FastTransferTest, AChunkDamagedInTransitIsSentAgain) {
  Receiver receiver(fs_);
  const std::string content = Content(9 * kChunk);
  fs_.WriteFile(kSource, content);
  std::atomic<int> damaged{0};
  receiver.receiver().on_chunk_arrived = [&](int64_t offset, TROBinaryMemoryStream& data) {
    if (offset == 4 * kChunk && damaged++ == 0) data.Data()[100] ^= 0x20;
  };
  FastSendResult result = Send(receiver.Address());
  EXPECT_EQ(damaged.load(), 2);
  EXPECT_EQ(result.chunks, 10);
  EXPECT_TRUE(fs_.ReadFile(kTarget) == content);
}

// Damage that the chunk checks cannot see (the disk changed a chunk recorded earlier) is found
// when the work file is read back: the transfer fails clearly, and no final file appears.
TEST_F(FastTransferTest, AWorkFileDamagedBetweenAttemptsFailsBeforeTheFinalName) {
  Receiver receiver(fs_);
  const int64_t size = 6 * kChunk;
  fs_.WriteFile(kSource, Content(size));
  receiver.receiver().on_chunk_arrived = [](int64_t offset, TROBinaryMemoryStream&) {
    if (offset == 5 * kChunk) throw Exception("stopped");
  };
  SendAndFail(receiver);
  receiver.receiver().on_chunk_arrived = nullptr;
  ASSERT_GT(RecordedBytes(size), kChunk);
  {
    std::unique_ptr<File> work = fs_.OpenFile(WorkFileName(kTarget, size), FileAccess::kReadWrite,
                                              FileShare::kNone, FileDisposition::kOpenExisting);
    work->Seek(10, SeekOrigin::kBegin);
    work->Write("X", 1);
    work->Close();
  }
  EXPECT_THAT([&] { Send(receiver.Address()); },
              testing::ThrowsMessage<std::exception>(HasSubstr(
                  "Backup File 'T:\\dst\\db.fbk' failed verification: the bytes received do not "
                  "match the sender's; the work file was removed")));
  EXPECT_FALSE(Exists(kTarget));
  EXPECT_FALSE(Exists(WorkFileName(kTarget, size)));
  EXPECT_FALSE(Exists(RecordFileName(kTarget, size)));
  // Removed with its record, the next attempt starts afresh and succeeds.
  EXPECT_EQ(Send(receiver.Address()).skipped, 0);
}

TEST_F(FastTransferTest, AFullDiskOnTheReceiverReachesTheSender) {
  FaultFileSystem receiving(fs_);
  Receiver receiver(receiving);
  fs_.WriteFile(kSource, Content(8 * kChunk));
  receiving.Fail(FaultCall::kFileWrite, FaultKind::kDiskFull, 3, ".work");
  EXPECT_THAT([&] { Send(receiver.Address()); },
              testing::ThrowsMessage<EROUnregisteredServerException>(testing::StrEq(
                  "An exception was raised on the server: System Error.  Code: 112.\r\nThere is "
                  "not enough space on the disk.")));
  EXPECT_FALSE(Exists(kTarget));
  receiver.receiver().WaitUntilIdle();
  receiving.HealAll();
  EXPECT_GT(Send(receiver.Address()).skipped, 0);
  EXPECT_TRUE(Exists(kTarget));
}

// A taken name fails with the receiver's assertion when the transfer opens: no chunk travels
// and no work file is made.
TEST_F(FastTransferTest, AnExistingFinalFileIsRefusedBeforeAnyByteTravels) {
  Receiver receiver(fs_);
  fs_.WriteFile(kSource, Content(3 * kChunk));
  fs_.WriteFile(kTarget, "old");
  int chunks = 0;
  receiver.receiver().on_chunk_arrived = [&](int64_t, TROBinaryMemoryStream&) { ++chunks; };
  EXPECT_THAT([&] { Send(receiver.Address()); },
              testing::ThrowsMessage<EROUnregisteredServerException>(testing::StrEq(
                  "An exception was raised on the server: Backup File 'T:\\dst\\db.fbk' already exists, cannot replace! "
                  "(VantryService_Impl, line 355)")));
  EXPECT_EQ(chunks, 0);
  EXPECT_EQ(fs_.ReadFile(kTarget), "old");
  EXPECT_FALSE(Exists(WorkFileName(kTarget, 3 * kChunk)));
}

// While one transfer to a name is open, a second fails at once and the first completes.
TEST_F(FastTransferTest, ASecondTransferToOneNameFailsAtOnce) {
  Receiver receiver(fs_);
  const std::string content = Content(4 * kChunk);
  fs_.WriteFile(kSource, content);
  bool second_failed = false;
  receiver.receiver().on_chunk_arrived = [&](int64_t offset, TROBinaryMemoryStream&) {
    if (offset != 2 * kChunk || second_failed) return;
    try {
      Send(receiver.Address(), "t:\\DST\\db.fbk");
    } catch (const std::exception& error) {
      second_failed = std::string(error.what()).find(
                          "Backup File 't:\\DST\\db.fbk' is being received by another "
                          "transfer") != std::string::npos;
    }
  };
  Send(receiver.Address());
  EXPECT_TRUE(second_failed);
  EXPECT_TRUE(fs_.ReadFile(kTarget) == content);
}

// Work files and records that no open transfer uses are removed when a transfer opens in their
// directory once they were last written more than the days ago, and not before.
TEST_F(FastTransferTest, WorkFilesAbandonedForDaysGoWhenATransferOpens) {
  const std::string work = "T:\\dst\\old.fbk.l5.work";
  fs_.WriteFile(work, "12345");
  fs_.WriteFile(work + ".record", "");
  const TDateTime written = fs_.GetFileInfo(work)->last_write;
  fs_.WriteFile(kSource, Content(kChunk));
  for (double days : {kAbandonedWorkDays - 0.5, kAbandonedWorkDays + 0.5}) {
    FixedClock clock(written + days);
    Receiver receiver(fs_, clock);
    if (fs_.FileExists(kTarget)) fs_.DeleteFile(kTarget);
    Send(receiver.Address());
    EXPECT_EQ(Exists(work), days < kAbandonedWorkDays) << days;
    EXPECT_EQ(Exists(work + ".record"), days < kAbandonedWorkDays) << days;
  }
  EXPECT_TRUE(Exists(kTarget));
}

TEST(TransferRecordTest, EntriesRoundTripAndADamagedTailEndsTheRecord) {
  std::vector<VerifiedChunk> chunks = {{0, 100, 0x1234}, {100, 50, ~uint64_t{0}}};
  std::string bytes = RecordEntry(chunks[0]) + RecordEntry(chunks[1]);
  EXPECT_EQ(ParseRecord(bytes, 150), chunks);
  EXPECT_EQ(ParseRecord(bytes.substr(0, 40), 150).size(), 1u);  // cut short
  std::string damaged = bytes;
  damaged[40] ^= 1;
  EXPECT_EQ(ParseRecord(damaged, 150).size(), 1u);
  EXPECT_EQ(ParseRecord(bytes, 120).size(), 1u);  // the second lies beyond the file

  std::string token;
  std::vector<VerifiedChunk> parsed;
  ParseOpenAnswer(FormatOpenAnswer("{T}", chunks), &token, &parsed);
  EXPECT_EQ(token, "{T}");
  EXPECT_EQ(parsed, chunks);
  EXPECT_THROW(ParseOpenAnswer("{T}\n1 2\n", &token, &parsed), Exception);
}

}  // namespace
}  // namespace vantry
