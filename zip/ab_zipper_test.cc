#include "zip/ab_zipper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/child_process.h"
#include "platform/clock.h"
#include "zip/parallel_deflate.h"
#include "zip/zip_format.h"
#include "zip/parallel_deflate.h"
#include "zip/testing/zip_test_helpers.h"
#include "zip/zlib_block_view.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

constexpr char kArchive[] = "T:\\B\\db.zip";

uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), s.size()));
}

class ZipperTest : public testing::Test {
 protected:
  ZipperTest() { fs_.last_write = EncodeDateTime({2024, 5, 17, 13, 45, 31}); }

  // Adds `file` to kArchive as file archiving does; returns the reasons of files not added.
  std::vector<std::string> Archive(const std::string& file) {
    std::vector<std::string> failures;
    TAbZipper zipper(fs_);
    zipper.SetItemFailureHandler(
        [&](const std::string&, const std::string& reason) { failures.push_back(reason); });
    zipper.SetFileName(kArchive);
    zipper.AddFiles(file, kFindAllAttributes);
    zipper.Close();
    return failures;
  }
  std::string HostPath(const std::string& windows_path) {
    std::string p = windows_path.substr(2);
    std::replace(p.begin(), p.end(), '\\', '/');
    return fs_.HostRoot() + p;
  }
  std::string ArchiveBytes() { return fs_.ReadFile(kArchive); }
  // The length of `data` deflated by the writer's compressor.
  int64_t DeflatedLength(const std::string& data) {
    fs_.WriteFile("T:\\probe", data);
    auto in = fs_.OpenFile("T:\\probe", FileAccess::kRead, FileShare::kNone,
                           FileDisposition::kOpenExisting);
    auto out = fs_.OpenFile("T:\\probe.deflated", FileAccess::kReadWrite, FileShare::kNone,
                            FileDisposition::kCreateAlways);
    return DeflateFile(*in, *out).compressed_size;
  }
  std::vector<std::string> NamesInB() {
    std::vector<std::string> names;
    for (const FileEntry& e : fs_.FindFiles("T:\\B\\*")) {
      if (e.name != "." && e.name != "..") names.push_back(e.name);
    }
    return names;
  }

  FaultyFileSystem fs_;
};

// 2024-05-17 13:45:30 (odd seconds round down).
constexpr uint32_t kDosTime = 13 << 11 | 45 << 5 | 15;
constexpr uint32_t kDosDate = 44 << 9 | 5 << 5 | 17;

TEST_F(ZipperTest, NewEntryFieldByField) {
  std::string data = Compressible(3'000'000);
  fs_.WriteFile("T:\\B\\db.fbk", data);
  EXPECT_THAT(Archive("T:\\B\\db.fbk"), ElementsAre());
  std::string zip = ArchiveBytes();
  struct Field {
    size_t at;
    int size;
    uint32_t value;
  };
  for (Field f : std::vector<Field>{{0, 4, 0x04034B50},
                                    {4, 2, 20},
                                    {6, 2, 0},
                                    {8, 2, 8},
                                    {10, 2, kDosTime},
                                    {12, 2, kDosDate},
                                    {14, 4, Crc(data)},
                                    {22, 4, 3'000'000},
                                    {26, 2, 8},
                                    {28, 2, 0}}) {
    EXPECT_EQ(f.size == 2 ? U16(zip, f.at) : U32(zip, f.at), f.value) << "local " << f.at;
  }
  EXPECT_EQ(zip.substr(30, 8), "B/db.fbk");
  uint32_t compressed = U32(zip, 18);
  std::string end = zip.substr(zip.size() - 22);
  EXPECT_EQ(U32(end, 0), 0x06054B50);
  EXPECT_EQ(U16(end, 8), 1);
  EXPECT_EQ(U16(end, 10), 1);
  EXPECT_EQ(U32(end, 12), 46u + 8);
  EXPECT_EQ(U32(end, 16), 30 + 8 + compressed);
  std::string central = zip.substr(30 + 8 + compressed, 46 + 8);
  for (Field f : std::vector<Field>{{0, 4, 0x02014B50},
                                    {4, 2, 0x0014},
                                    {6, 2, 20},
                                    {8, 2, 0},
                                    {10, 2, 8},
                                    {12, 2, kDosTime},
                                    {14, 2, kDosDate},
                                    {16, 4, Crc(data)},
                                    {20, 4, compressed},
                                    {24, 4, 3'000'000},
                                    {28, 2, 8},
                                    {30, 2, 0},
                                    {32, 2, 0},
                                    {34, 2, 0},
                                    {36, 2, 0},
                                    {38, 4, 0x20},
                                    {42, 4, 0}}) {
    EXPECT_EQ(f.size == 2 ? U16(central, f.at) : U32(central, f.at), f.value) << "central " << f.at;
  }
  EXPECT_LT(compressed, 3'000'000u / 5);
  ExpectArchiveAccepted(HostPath(kArchive));
  EXPECT_THAT(NamesInB(), ElementsAre("db.fbk", "db.zip"));  // no temporary file left
}

TEST_F(ZipperTest, EmptyAndIncompressibleFilesAreStored) {
  fs_.WriteFile("T:\\B\\empty.fbk", "");
  std::string noise = Random(200'000);
  fs_.WriteFile("T:\\B\\noise.fbk", noise);
  EXPECT_THAT(Archive("T:\\B\\empty.fbk"), ElementsAre());
  std::string zip = ArchiveBytes();
  EXPECT_EQ(U16(zip, 4), 10);   // version needed
  EXPECT_EQ(U16(zip, 8), 0);    // stored
  EXPECT_EQ(U32(zip, 14), 0u);  // CRC
  EXPECT_EQ(U32(zip, 18), 0u);
  EXPECT_EQ(U32(zip, 22), 0u);

  EXPECT_THAT(Archive("T:\\B\\noise.fbk"), ElementsAre());
  zip = ArchiveBytes();
  size_t second = 30 + 11;  // after the empty entry
  EXPECT_EQ(U16(zip, second + 4), 10);
  EXPECT_EQ(U16(zip, second + 8), 0);
  EXPECT_EQ(U32(zip, second + 14), Crc(noise));
  EXPECT_EQ(U32(zip, second + 18), noise.size());
  EXPECT_EQ(zip.substr(second + 30 + 11, noise.size()), noise);
  ExpectArchiveAccepted(HostPath(kArchive));
}

// Deflate is given up only when it makes the data larger: a file whose deflated form is exactly
// as long as the file stays deflated, one byte shorter (so deflate adds a byte) is stored.
TEST_F(ZipperTest, DeflatedDataAsLongAsTheFileIsKept) {
  // Random bytes, then zeros: each zero lengthens the file by a byte and its deflated form by
  // almost nothing, so some length of the run makes the two lengths equal.
  std::string data = Random(1000);
  while (DeflatedLength(data) > static_cast<int64_t>(data.size())) data += '\0';
  ASSERT_EQ(DeflatedLength(data), static_cast<int64_t>(data.size()));
  struct Case {
    std::string data;
    uint16_t method;
  };
  for (const Case& c : {Case{data.substr(0, data.size() - 1), kMethodStored},
                        Case{data, kMethodDeflate}}) {
    SCOPED_TRACE(c.method);
    fs_.TryDeleteFile(kArchive);
    fs_.WriteFile("T:\\B\\db.fbk", c.data);
    EXPECT_THAT(Archive("T:\\B\\db.fbk"), ElementsAre());
    std::string zip = ArchiveBytes();
    EXPECT_EQ(U16(zip, 8), c.method);
    EXPECT_EQ(U32(zip, 14), Crc(c.data));
    EXPECT_EQ(U32(zip, 18), c.data.size());  // compressed
    EXPECT_EQ(U32(zip, 22), c.data.size());
    ExpectArchiveAccepted(HostPath(kArchive));
  }
}

TEST_F(ZipperTest, BlocksCompressedApartAreOneStreamForEveryReader) {
  // Whole blocks only, so the last block is empty; the noise between becomes stored blocks among
  // compressed ones.
  const size_t block = kDeflateBlockSize;
  std::string data = Compressible(block) + Random(block, 3) + Compressible(block / 2) +
                     Random(block / 2, 4) + Compressible(block);
  fs_.WriteFile("T:\\B\\db.fbk", data);
  EXPECT_THAT(Archive("T:\\B\\db.fbk"), ElementsAre());
  std::string zip = ArchiveBytes();
  EXPECT_EQ(U16(zip, 8), 8);  // deflated
  EXPECT_EQ(U32(zip, 14), Crc(data));
  ZlibBlockView zlib = InflateWithZlib(zip.data() + 30 + 8, U32(zip, 18));
  EXPECT_TRUE(zlib.complete);
  EXPECT_EQ(zlib.bytes_used, U32(zip, 18));
  EXPECT_TRUE(zlib.output == data);
  ExpectArchiveAccepted(HostPath(kArchive));
}

TEST_F(ZipperTest, AddingKeepsTheOldEntriesByteForByte) {
  fs_.WriteFile("T:\\B\\db.fbk", Compressible(100'000));
  Archive("T:\\B\\db.fbk");
  std::string before = ArchiveBytes();
  size_t first_entry_size = U32(before, before.size() - 6);  // the directory's offset
  fs_.WriteFile("T:\\B\\db.gbk", Compressible(50'000));
  EXPECT_THAT(Archive("T:\\B\\db.gbk"), ElementsAre());
  std::string after = ArchiveBytes();
  EXPECT_EQ(after.substr(0, first_entry_size), before.substr(0, first_entry_size));
  EXPECT_EQ(U16(after, after.size() - 12), 2);  // entries
  EXPECT_EQ(after.substr(first_entry_size + 30, 8), "B/db.gbk");
  ExpectArchiveAccepted(HostPath(kArchive));
}

TEST_F(ZipperTest, FilesNotAddedLeaveTheArchiveAsItWas) {
  fs_.WriteFile("T:\\B\\db.fbk", Compressible(10'000));
  Archive("T:\\B\\db.fbk");
  std::string before = ArchiveBytes();
  fs_.WriteFile("T:\\B\\unreadable.fbk", Compressible(3'000'000));
  fs_.fail_reads_of = "unreadable";
  struct Row {
    const char* file;
    const char* reason;
  };
  for (Row r : std::vector<Row>{
           {"T:\\b\\DB.FBK", "the archive already holds an entry named \"B/db.fbk\""},
           {kArchive, "it is the archive file itself"},
           {"T:\\B\\unreadable.fbk", "System Error.  Code: 1117.\r\n"},
       }) {
    std::vector<std::string> failures = Archive(r.file);
    ASSERT_EQ(failures.size(), 1u) << r.file;
    EXPECT_THAT(failures[0], testing::StartsWith(r.reason)) << r.file;
    EXPECT_TRUE(ArchiveBytes() == before) << r.file;
  }
  EXPECT_THAT(NamesInB(), ElementsAre("db.fbk", "db.zip", "unreadable.fbk"));
}

TEST_F(ZipperTest, ANewArchiveThatGetsNothingIsRemoved) {
  fs_.WriteFile("T:\\B\\unreadable.fbk", Compressible(3'000'000));
  fs_.fail_reads_of = "unreadable";
  EXPECT_EQ(Archive("T:\\B\\unreadable.fbk").size(), 1u);
  EXPECT_FALSE(fs_.FileExists(kArchive));
  EXPECT_THAT(NamesInB(), ElementsAre("unreadable.fbk"));
}

TEST_F(ZipperTest, FilesThatAreNoArchivesAreRefused) {
  fs_.WriteFile(kArchive, "just some text, long enough to be looked at");
  TAbZipper zipper(fs_);
  EXPECT_THAT([&] { zipper.SetFileName(kArchive); },
              ThrowsMessage<Exception>(StrEq("Unhandled Archive Type")));
  fs_.DeleteFile(kArchive);
  fs_.WriteFile("T:\\B\\db.fbk", Compressible(1000));
  Archive("T:\\B\\db.fbk");
  std::string zip = ArchiveBytes();
  zip[U32(zip, zip.size() - 6)] = 'X';  // the central header's signature
  fs_.WriteFile(kArchive, zip);
  EXPECT_THAT([&] { zipper.SetFileName(kArchive); },
              ThrowsMessage<Exception>(StrEq("Invalid file - not a PKZip file")));
  EXPECT_TRUE(ArchiveBytes() == zip);
}

TEST_F(ZipperTest, ASecondWriterOfTheSameArchiveIsRefused) {
  fs_.CreateDirectory("T:\\B");
  TAbZipper first(fs_);
  first.SetFileName(kArchive);
  TAbZipper second(fs_);
  try {
    second.SetFileName(kArchive);
    ADD_FAILURE() << "second writer admitted";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), kErrorSharingViolation);
  }
}

TEST_F(ZipperTest, AFullDiskLeavesTheOldArchiveAndNoTemporaryFile) {
  fs_.WriteFile("T:\\B\\db.fbk", Compressible(100'000));
  Archive("T:\\B\\db.fbk");
  std::string before = ArchiveBytes();
  fs_.WriteFile("T:\\B\\db.gbk", Compressible(3'000'000));
  for (int64_t allowed : {0, 1, 2, 4}) {
    fs_.disk_full_after = fs_.writes + allowed;
    try {
      Archive("T:\\B\\db.gbk");
      ADD_FAILURE() << "no failure after " << allowed << " writes";
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode(), kErrorDiskFull);
    }
    fs_.disk_full_after = -1;
    EXPECT_TRUE(ArchiveBytes() == before) << allowed;
    EXPECT_THAT(NamesInB(), ElementsAre("db.fbk", "db.gbk", "db.zip")) << allowed;
  }
}

TEST_F(ZipperTest, LeftoversOfAKilledSaveGoWithTheNextSave) {
  fs_.WriteFile("T:\\B\\db.zip.~1A2B.tmp", "half an archive");
  fs_.WriteFile("T:\\B\\db.zip.~mine.tmp", "not ours");
  fs_.WriteFile("T:\\B\\db.fbk", Compressible(1000));
  Archive("T:\\B\\db.fbk");
  EXPECT_THAT(NamesInB(), ElementsAre("db.fbk", "db.zip", "db.zip.~mine.tmp"));
}

// A child process saves a second entry into the archive and is killed at one point of the save;
// the archive must then be the old one, byte for byte, or (killed after the rename) the complete
// new one, and the next save cleans up.
TEST_F(ZipperTest, AKilledSaveNeverDamagesTheArchive) {
  fs_.WriteFile("T:\\B\\db.fbk", Compressible(200'000));
  Archive("T:\\B\\db.fbk");
  const std::string before = ArchiveBytes();
  fs_.WriteFile("T:\\B\\db.gbk", Compressible(5'000'000));
  struct Point {
    const char* name;
    int64_t write;
    bool before_move, after_move;
  };
  for (Point p : std::vector<Point>{{"first write", 1, false, false},
                                    {"old entry copied", 3, false, false},
                                    {"new entry's data", 4, false, false},
                                    {"central directory", 6, false, false},
                                    {"before the rename", 0, true, false},
                                    {"after the rename", 0, false, true}}) {
    fs_.kill_at_write = p.write == 0 ? 0 : fs_.writes + p.write;
    fs_.kill_before_move = p.before_move;
    fs_.kill_after_move = p.after_move;
    int status = RunInChildProcess([&] {
      Archive("T:\\B\\db.gbk");
      return 0;
    });
    fs_.kill_at_write = 0;
    fs_.kill_before_move = fs_.kill_after_move = false;
    ASSERT_EQ(status, kKilledExitCode) << p.name;
    std::string now = ArchiveBytes();
    if (p.after_move) {
      EXPECT_EQ(U16(now, now.size() - 12), 2) << p.name;
      ExpectArchiveAccepted(HostPath(kArchive));
      fs_.WriteFile(kArchive, before);
    } else {
      EXPECT_TRUE(now == before) << p.name;
    }
  }
  EXPECT_THAT(Archive("T:\\B\\db.gbk"), ElementsAre());
  EXPECT_THAT(NamesInB(), ElementsAre("db.fbk", "db.gbk", "db.zip"));
  ExpectArchiveAccepted(HostPath(kArchive));
}

}  // namespace
}  // namespace vantry
