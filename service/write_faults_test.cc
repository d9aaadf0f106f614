// Every operation that writes, driven through a file system that fails on purpose: for each
// fault point the caller gets the class and text the platform maps, the sources are intact, no
// final file appears with partial content, an existing archive stays as it was, and the same
// call succeeds once the fault is gone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/testing/fake_file_system.h"
#include "platform/testing/fault_file_system.h"
#include "service/VantryService_Impl.h"
#include "service/testing/fake_vantry_host.h"

namespace vantry {
namespace {

using testing::HasSubstr;

constexpr int64_t kMiB = 1048576;
constexpr char kDiskFull[] = "System Error.  Code: 112.\r\nThere is not enough space on the disk.";
constexpr char kIoError[] =
    "System Error.  Code: 1117.\r\nThe request could not be performed because of an I/O device "
    "error.";
constexpr char kAccessDenied[] = "System Error.  Code: 5.\r\nAccess is denied.";

std::string Content(size_t size) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) text += "page " + std::to_string(i * 7 % 9973) + ";";
  text.resize(size);
  return text;
}

class WriteFaultsTest : public testing::Test {
 protected:
  WriteFaultsTest() {
    fs_.WriteFile("T:\\src\\db.fbk", source_);
    fs_.WriteFile("T:\\arc\\db.fbk", source_);
  }
  void Receive(const std::string& target) {
    for (int64_t offset = 0; offset < static_cast<int64_t>(source_.size()); offset += kMiB) {
      TROBinaryMemoryStream chunk(std::string_view(source_).substr(offset, kMiB));
      service_.ReceiveBackup(target, static_cast<int64_t>(source_.size()), offset, &chunk);
    }
  }
  // The file's content, or "(none)" when it does not exist.
  std::string Content(const std::string& path) {
    return fs_.FileExists(path) ? fs_.ReadFile(path) : "(none)";
  }

  FakeFileSystem fs_;
  FaultFileSystem faults_{fs_};
  FakeVantryHost host_;
  FixedClock clock_{45000.5};
  TVantryService service_{faults_, host_, clock_};
  const std::string source_ = vantry::Content(2 * kMiB + 12345);
};

struct FaultCase {
  const char* name;
  FaultCall call;
  FaultKind kind;
  int successes;
  const char* path_part;
  const char* text;  // the platform's text the caller must see
};

// Copy, move and reception: the source is intact, the target absent until the retry makes it.
TEST_F(WriteFaultsTest, TransfersFailWithThePlatformsErrorAndSucceedOnRetry) {
  struct Op {
    const char* name;
    std::function<void()> run;
    std::string target;
    std::vector<FaultCase> faults;
  };
  const std::vector<Op> ops = {
      {"copy",
       [&] { service_.CopyFile("T:\\src\\db.fbk", "T:\\dst\\copy.fbk"); },
       "T:\\dst\\copy.fbk",
       {{"copy, disk full", FaultCall::kCopyFile, FaultKind::kDiskFull, 0, "", kDiskFull},
        {"copy, I/O error", FaultCall::kCopyFile, FaultKind::kIoError, 0, "", kIoError}}},
      {"move",
       [&] { service_.MoveFile("T:\\src\\db.fbk", "T:\\dst\\moved.fbk"); },
       "T:\\dst\\moved.fbk",
       {{"move, access denied", FaultCall::kMoveFile, FaultKind::kAccessDenied, 0, "",
         kAccessDenied}}},
      {"reception",
       [&] { Receive("T:\\dst\\recv.fbk"); },
       "T:\\dst\\recv.fbk",
       {{"second chunk half written", FaultCall::kFileWrite, FaultKind::kShortWrite, 1, "recv",
         kDiskFull},
        {"first chunk, I/O error", FaultCall::kFileWrite, FaultKind::kIoError, 0, "recv", kIoError},
        {"flush before the rename", FaultCall::kFileFlush, FaultKind::kIoError, 0, "recv",
         kIoError},
        {"rename to the final name", FaultCall::kMoveFile, FaultKind::kAccessDenied, 0, "recv",
         kAccessDenied},
        {"new part cannot be created", FaultCall::kOpenFile, FaultKind::kAccessDenied, 0, "recv",
         "Access is denied."}}},
  };
  for (const Op& op : ops) {
    for (const FaultCase& f : op.faults) {
      fs_.TryDeleteFile(op.target);
      fs_.WriteFile("T:\\src\\db.fbk", source_);
      faults_.Fail(f.call, f.kind, f.successes, f.path_part);
      try {
        op.run();
        ADD_FAILURE() << f.name << ": no error";
      } catch (const Exception& e) {
        EXPECT_THAT(e.what(), HasSubstr(f.text)) << f.name;
      }
      faults_.HealAll();
      EXPECT_EQ(Content("T:\\src\\db.fbk"), source_) << f.name << ": source changed";
      EXPECT_EQ(Content(op.target), "(none)") << f.name << ": final name after a failure";
      op.run();
      EXPECT_TRUE(Content(op.target) == source_) << f.name << ": retry";
    }
  }
}

// Archiving into an existing archive: the archive stays byte for byte, the file stays, no
// temporary file is left, and the retry adds the file.
TEST_F(WriteFaultsTest, ArchivingLeavesTheOldArchiveAndSucceedsOnRetry) {
  fs_.WriteFile("T:\\arc\\db.gbk", "first entry");
  service_.ArchiveFile("T:\\arc\\db.gbk");
  const std::string archive = fs_.ReadFile("T:\\arc\\db.zip");
  for (const FaultCase& f :
       std::vector<FaultCase>{{"archive data, disk full", FaultCall::kFileWrite,
                               FaultKind::kDiskFull, 0, ".tmp", kDiskFull},
                              {"archive data, short write", FaultCall::kFileWrite,
                               FaultKind::kShortWrite, 1, ".tmp", kDiskFull},
                              {"flush of the new archive", FaultCall::kFileFlush,
                               FaultKind::kIoError, 0, "", kIoError},
                              {"rename over the old archive", FaultCall::kMoveFile,
                               FaultKind::kAccessDenied, 0, "", kAccessDenied},
                              {"reading the file", FaultCall::kFileRead, FaultKind::kIoError, 0,
                               "db.fbk", kIoError}}) {
    faults_.Fail(f.call, f.kind, f.successes, f.path_part);
    try {
      service_.ArchiveFile("T:\\arc\\db.fbk");
      ADD_FAILURE() << f.name << ": no error";
    } catch (const Exception& e) {
      EXPECT_THAT(e.what(), HasSubstr(f.text)) << f.name;
    }
    faults_.HealAll();
    EXPECT_TRUE(fs_.ReadFile("T:\\arc\\db.zip") == archive) << f.name << ": archive changed";
    EXPECT_TRUE(Content("T:\\arc\\db.fbk") == source_) << f.name << ": file gone";
    EXPECT_TRUE(fs_.FindFiles("T:\\arc\\*.tmp").empty()) << f.name << ": temporary file left";
  }
  service_.ArchiveFile("T:\\arc\\db.fbk");
  EXPECT_EQ(Content("T:\\arc\\db.fbk"), "(none)");
  EXPECT_GT(fs_.GetFileSize("T:\\arc\\db.zip"), static_cast<int64_t>(archive.size()));
}

// Reclamation skips a backup it cannot delete and still succeeds; the next call deletes it.
TEST_F(WriteFaultsTest, ReclamationPassesOverUndeletableBackups) {
  for (int i = 1; i <= 4; ++i) fs_.WriteFile(Format("T:\\bak\\db.fdb.%d", i), "b");
  faults_.Fail(FaultCall::kDeleteFile, FaultKind::kAccessDenied, 0, "db.fdb.");
  service_.MakeSpaceOnDiskForBackup("T:\\db.fdb", "T:\\bak", vantrydsAgressive);
  EXPECT_EQ(fs_.FindFiles("T:\\bak\\db.fdb.*").size(), 4u);
  faults_.HealAll();
  service_.MakeSpaceOnDiskForBackup("T:\\db.fdb", "T:\\bak", vantrydsAgressive);
  EXPECT_EQ(fs_.FindFiles("T:\\bak\\db.fdb.*").size(), 2u);
}

}  // namespace
}  // namespace vantry
