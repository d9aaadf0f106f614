#include "platform/file_system.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>

#include "platform/background_flush.h"
#include "platform/exception.h"
#include "platform/temp_dir.h"

namespace vantry {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

std::string SystemError(int code, const char* text) {
  return Format("System Error.  Code: %d.\r\n%s", code, text);
}
const std::string kNotFound = SystemError(2, "The system cannot find the file specified.");
const std::string kPathNotFound = SystemError(3, "The system cannot find the path specified.");
const std::string kAccessDenied = SystemError(5, "Access is denied.");
const std::string kInUse = SystemError(
    32, "The process cannot access the file because it is being used by another process.");
const std::string kAlreadyExists =
    SystemError(183, "Cannot create a file when that file already exists.");

// T:\ is a fresh temporary directory, also the current directory.
class FileSystemTest : public testing::Test {
 protected:
  FileSystemTest() : fs_(drives_, dir_.path()) { drives_.Set('T', dir_.path()); }

  std::string Host(const std::string& below_root) { return dir_.path() + below_root; }

  void Write(const std::string& path, const std::string& content) {
    auto file =
        fs_.OpenFile(path, FileAccess::kWrite, FileShare::kNone, FileDisposition::kCreateAlways);
    file->Write(content.data(), static_cast<int64_t>(content.size()));
    file->Close();
  }
  std::string Read(const std::string& path) { return fs_.ReadWholeFile(path); }

  void SetMtime(const std::string& host_path, time_t seconds) {
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, host_path.c_str(), times, 0), 0);
  }
  time_t Mtime(const std::string& host_path) {
    struct stat st = {};
    ::stat(host_path.c_str(), &st);
    return st.st_mtim.tv_sec;
  }

  TempDir dir_;
  DriveMap drives_;
  PosixFileSystem fs_;
};

TEST_F(FileSystemTest, FileExistsIsTrueForAnyNonDirectoryEntry) {
  Write("T:\\old.fbk", "x");
  SetMtime(Host("/old.fbk"), 0);  // 1970: no MS-DOS date, still a file
  fs_.CreateDirectory("T:\\dir");
  EXPECT_TRUE(fs_.FileExists("T:\\old.fbk"));
  EXPECT_TRUE(fs_.FileExists("t:\\OLD.FBK"));
  EXPECT_FALSE(fs_.FileExists("T:\\dir"));
  EXPECT_FALSE(fs_.FileExists("T:\\missing"));
  EXPECT_FALSE(fs_.FileExists("Q:\\old.fbk"));
  EXPECT_FALSE(fs_.FileExists("\\\\server\\share\\old.fbk"));
  EXPECT_TRUE(fs_.DirectoryExists("T:\\DIR"));
  EXPECT_FALSE(fs_.DirectoryExists("T:\\old.fbk"));
}

TEST_F(FileSystemTest, CopyReplacesAndKeepsTheSourceDate) {
  Write("T:\\a.fbk", "new content");
  Write("T:\\b.fbk", "old content that is longer");
  SetMtime(Host("/a.fbk"), 1000000000);
  fs_.CopyFile("T:\\a.fbk", "T:\\b.fbk");
  EXPECT_EQ(Read("T:\\b.fbk"), "new content");
  EXPECT_EQ(Mtime(Host("/b.fbk")), 1000000000);
  EXPECT_EQ(Read("T:\\a.fbk"), "new content");
}

TEST_F(FileSystemTest, CopyFailures) {
  EXPECT_THAT([&] { fs_.CopyFile("T:\\missing", "T:\\b"); },
              ThrowsMessage<EOSError>(StrEq(kNotFound)));
  Write("T:\\a", "x");
  EXPECT_THAT([&] { fs_.CopyFile("T:\\a", "T:\\nodir\\b"); },
              ThrowsMessage<EOSError>(StrEq(kPathNotFound)));
  fs_.CreateDirectory("T:\\dir");
  EXPECT_THAT([&] { fs_.CopyFile("T:\\a", "T:\\dir"); },
              ThrowsMessage<EOSError>(StrEq(kAccessDenied)));
}

TEST_F(FileSystemTest, OnlyFilesAreCopied) {
  drives_.Set('D', "/dev");
  ASSERT_THAT([&] { fs_.CopyFile("D:\\null", "T:\\b"); },
              ThrowsMessage<EOSError>(StrEq(kAccessDenied)));
  ASSERT_EQ(::mkfifo(Host("/pipe").c_str(), 0600), 0);
  EXPECT_THAT([&] { fs_.CopyFile("T:\\pipe", "T:\\b"); },
              ThrowsMessage<EOSError>(StrEq(kAccessDenied)));
  EXPECT_FALSE(fs_.FileExists("T:\\b"));
  // A reader keeps a copy onto the pipe from waiting forever when the copy does not refuse it.
  int reader = ::open(Host("/pipe").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  Write("T:\\a", "x");
  EXPECT_THAT([&] { fs_.CopyFile("T:\\a", "T:\\pipe"); },
              ThrowsMessage<EOSError>(StrEq(kAccessDenied)));
  ::close(reader);
}

TEST_F(FileSystemTest, MoveWithoutReplaceNeverReplaces) {
  Write("T:\\a", "a");
  Write("T:\\b", "b");
  EXPECT_THAT([&] { fs_.MoveFile("T:\\a", "T:\\b", 0); },
              ThrowsMessage<EOSError>(StrEq(kAlreadyExists)));
  EXPECT_EQ(Read("T:\\a"), "a");
  EXPECT_EQ(Read("T:\\b"), "b");
  fs_.MoveFile("T:\\a", "T:\\c", 0);
  EXPECT_EQ(Read("T:\\c"), "a");
  EXPECT_FALSE(fs_.FileExists("T:\\a"));
  EXPECT_THAT([&] { fs_.MoveFile("T:\\a", "T:\\d", 0); },
              ThrowsMessage<EOSError>(StrEq(kNotFound)));
}

TEST_F(FileSystemTest, MoveCanChangeTheCaseOfAName) {
  Write("T:\\db.fbk", "a");
  fs_.MoveFile("T:\\db.fbk", "T:\\DB.FBK", 0);
  EXPECT_EQ(fs_.FindFiles("T:\\d*")[0].name, "DB.FBK");
  fs_.MoveFile("T:\\db.fbk", "T:\\DB.FBK", 0);  // the same name: nothing to do
  EXPECT_EQ(Read("T:\\DB.FBK"), "a");
}

TEST_F(FileSystemTest, ReadOnlyFilesTakeNoWriters) {
  Write("T:\\a", "a");
  Write("T:\\ro", "old");
  ::chmod(Host("/ro").c_str(), 0444);
  EXPECT_THAT([&] { fs_.CopyFile("T:\\a", "T:\\ro"); },
              ThrowsMessage<EOSError>(StrEq(kAccessDenied)));
  EXPECT_EQ(Read("T:\\ro"), "old");
  fs_.CopyFile("T:\\ro", "T:\\copy");
  EXPECT_EQ(fs_.GetFileInfo("T:\\copy")->attributes,
            kFileAttributeArchive | kFileAttributeReadOnly);
}

TEST_F(FileSystemTest, MoveWithFlagsReplacesAndWritesThrough) {
  Write("T:\\a", "a");
  Write("T:\\b", "b");
  fs_.MoveFile("T:\\a", "T:\\b", kMoveFileReplaceExisting);
  EXPECT_EQ(Read("T:\\b"), "a");
  fs_.CreateDirectory("T:\\sub");
  fs_.MoveFile("T:\\b", "T:\\sub\\c",
               kMoveFileReplaceExisting | kMoveFileCopyAllowed | kMoveFileWriteThrough);
  EXPECT_EQ(Read("T:\\sub\\c"), "a");
  EXPECT_FALSE(fs_.FileExists("T:\\b"));
}

TEST_F(FileSystemTest, MoveToAnotherFileSystemCopiesOnlyWhenAllowed) {
  struct stat tmp_st, shm_st;
  if (::stat(dir_.path().c_str(), &tmp_st) != 0 || ::stat("/dev/shm", &shm_st) != 0 ||
      tmp_st.st_dev == shm_st.st_dev) {
    GTEST_SKIP() << "no second file system";
  }
  std::string other = "/dev/shm/vantry-move-test-" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(other.c_str(), 0777), 0);
  drives_.Set('S', other);
  Write("T:\\a.fbk", "data");
  SetMtime(Host("/a.fbk"), 1200000000);
  EXPECT_THAT([&] { fs_.MoveFile("T:\\a.fbk", "S:\\a.fbk", kMoveFileReplaceExisting); },
              ThrowsMessage<EOSError>(StrEq(
                  SystemError(17, "The system cannot move the file to a different disk drive."))));
  Write("S:\\a.fbk", "old");
  fs_.MoveFile("T:\\a.fbk", "S:\\a.fbk",
               kMoveFileReplaceExisting | kMoveFileCopyAllowed | kMoveFileWriteThrough);
  EXPECT_EQ(Read("S:\\a.fbk"), "data");
  EXPECT_EQ(Mtime(other + "/a.fbk"), 1200000000);
  EXPECT_FALSE(fs_.FileExists("T:\\a.fbk"));
  ::unlink((other + "/a.fbk").c_str());
  ::rmdir(other.c_str());
}

TEST_F(FileSystemTest, DeleteFollowsWindowsRules) {
  EXPECT_THAT([&] { fs_.DeleteFile("T:\\missing"); }, ThrowsMessage<EOSError>(StrEq(kNotFound)));
  EXPECT_THAT([&] { fs_.DeleteFile("T:\\nodir\\missing"); },
              ThrowsMessage<EOSError>(StrEq(kPathNotFound)));
  fs_.CreateDirectory("T:\\dir");
  EXPECT_THAT([&] { fs_.DeleteFile("T:\\dir"); }, ThrowsMessage<EOSError>(StrEq(kAccessDenied)));
  Write("T:\\ro", "x");
  ::chmod(Host("/ro").c_str(), 0444);
  EXPECT_FALSE(fs_.TryDeleteFile("T:\\ro"));
  Write("T:\\open", "x");
  {
    auto held = fs_.OpenFile("T:\\open", FileAccess::kRead, FileShare::kReadWrite,
                             FileDisposition::kOpenExisting);
    EXPECT_THAT([&] { fs_.DeleteFile("T:\\open"); }, ThrowsMessage<EOSError>(StrEq(kInUse)));
    EXPECT_THAT([&] { fs_.MoveFile("T:\\open", "T:\\moved", 0); },
                ThrowsMessage<EOSError>(StrEq(kInUse)));
  }
  EXPECT_TRUE(fs_.TryDeleteFile("T:\\open"));
  EXPECT_FALSE(fs_.FileExists("T:\\open"));
}

TEST_F(FileSystemTest, DirectoriesOneLevelAtATime) {
  fs_.CreateDirectory("T:\\a");
  EXPECT_THAT([&] { fs_.CreateDirectory("T:\\A"); },
              ThrowsMessage<EOSError>(StrEq(kAlreadyExists)));
  EXPECT_THAT([&] { fs_.CreateDirectory("T:\\x\\y"); },
              ThrowsMessage<EOSError>(StrEq(kPathNotFound)));
  EXPECT_FALSE(fs_.TryCreateDirectory("T:\\x\\y"));
  fs_.CreateDirectory("T:\\a\\b");
  EXPECT_THAT([&] { fs_.RemoveDirectory("T:\\a"); },
              ThrowsMessage<EOSError>(StrEq(SystemError(145, "The directory is not empty."))));
  Write("T:\\f", "");
  EXPECT_THAT([&] { fs_.RemoveDirectory("T:\\f"); },
              ThrowsMessage<EOSError>(StrEq(SystemError(267, "The directory name is invalid."))));
  fs_.RemoveDirectory("T:\\A\\B");
  fs_.RemoveDirectory("T:\\a");
  EXPECT_FALSE(fs_.DirectoryExists("T:\\a"));
}

TEST_F(FileSystemTest, SizesAreSixtyFourBit) {
  constexpr int64_t kFiveGiB = int64_t{5} << 30;
  auto file = fs_.OpenFile("T:\\big.fbk", FileAccess::kReadWrite, FileShare::kNone,
                           FileDisposition::kCreateNew);
  file->SetSize(kFiveGiB);  // sparse
  EXPECT_EQ(file->Size(), kFiveGiB);
  file->Close();
  EXPECT_EQ(fs_.GetFileSize("T:\\big.fbk"), kFiveGiB);
  EXPECT_EQ(fs_.GetFileInfo("T:\\BIG.FBK")->size, kFiveGiB);
  EXPECT_THAT([&] { fs_.GetFileSize("T:\\missing"); }, ThrowsMessage<EOSError>(StrEq(kNotFound)));
  fs_.CreateDirectory("T:\\dir");
  EXPECT_THAT([&] { fs_.GetFileSize("T:\\dir"); }, ThrowsMessage<EOSError>(StrEq(kAccessDenied)));
}

TEST_F(FileSystemTest, FreeBytesNeedAnExistingDirectory) {
  EXPECT_GT(fs_.GetFreeBytesAvailable("T:\\"), 0);
  EXPECT_THAT([&] { fs_.GetFreeBytesAvailable("T:\\missing"); },
              ThrowsMessage<EOSError>(StrEq(kPathNotFound)));
}

TEST_F(FileSystemTest, FileHandleReadsWritesAndSeeks) {
  auto file =
      fs_.OpenFile("T:\\f", FileAccess::kReadWrite, FileShare::kNone, FileDisposition::kCreateNew);
  file->Write("hello world", 11);
  EXPECT_EQ(file->Seek(-5, SeekOrigin::kEnd), 6);
  char buffer[16] = {};
  EXPECT_EQ(file->Read(buffer, sizeof(buffer)), 5);
  EXPECT_STREQ(buffer, "world");
  EXPECT_EQ(file->Read(buffer, sizeof(buffer)), 0);
  EXPECT_THAT([&] { file->Seek(-1, SeekOrigin::kBegin); },
              ThrowsMessage<EOSError>(StrEq(SystemError(
                  131,
                  "An attempt was made to move the file pointer before the beginning of the "
                  "file."))));
  file->SetSize(5);
  EXPECT_EQ(file->Size(), 5);
  file->Close();
  file->Close();
  EXPECT_THAT([&] { file->Size(); },
              ThrowsMessage<EOSError>(StrEq(SystemError(6, "The handle is invalid."))));

  EXPECT_THAT(
      [&] {
        fs_.OpenFile("T:\\F", FileAccess::kWrite, FileShare::kNone, FileDisposition::kCreateNew);
      },
      ThrowsMessage<EOSError>(StrEq(SystemError(80, "The file exists."))));
  auto reader =
      fs_.OpenFile("T:\\f", FileAccess::kRead, FileShare::kRead, FileDisposition::kOpenExisting);
  EXPECT_THAT([&] { reader->Write("x", 1); }, ThrowsMessage<EOSError>(StrEq(kAccessDenied)));
}

// A long write, chunk by chunk through exclusive opens as a backup reception makes it: the
// flushes started on the way hold none of the writer's share locks, so each next exclusive open
// succeeds, and the content is complete after the final flush.
TEST_F(FileSystemTest, WriteBackOnTheWayKeepsNoShareLocks) {
  const std::string chunk(1 << 20, 'w');
  for (int i = 0; i < 40; ++i) {
    auto file = fs_.OpenFile("T:\\long.bin", FileAccess::kReadWrite, FileShare::kNone,
                             i == 0 ? FileDisposition::kCreateAlways
                                    : FileDisposition::kOpenExisting);
    file->Seek(0, SeekOrigin::kEnd);
    file->Write(chunk.data(), static_cast<int64_t>(chunk.size()));
    if (i < 39) {
      file->StartWriteBack();
    } else {
      file->Flush();
    }
    file->Close();
  }
  EXPECT_EQ(fs_.GetFileSize("T:\\long.bin"), 40 << 20);
}

// A flush on the way that fails (the disk lost the data it had acknowledged) is reported by the
// final Flush, although that goes through another open whose own sync sees no error; once.
TEST_F(FileSystemTest, AFailedFlushOnTheWayIsReportedByTheFinalFlush) {
  const std::string chunk(1 << 20, 'w');
  Write("T:\\long.bin", "");
  struct stat written = {};
  ASSERT_EQ(::stat(Host("/long.bin").c_str(), &written), 0);
  std::mutex mu;
  std::condition_variable changed;
  bool failed = false;
  SetBackgroundSyncForTesting([&](int fd) {
    struct stat st = {};
    ::fstat(fd, &st);
    if (st.st_ino != written.st_ino) return ::fdatasync(fd) == 0 ? 0 : errno;
    std::lock_guard<std::mutex> lock(mu);
    failed = true;
    changed.notify_all();
    return EIO;
  });
  auto append = [&] {
    auto file = fs_.OpenFile("T:\\long.bin", FileAccess::kReadWrite, FileShare::kNone,
                             FileDisposition::kOpenExisting);
    file->Seek(0, SeekOrigin::kEnd);
    file->Write(chunk.data(), static_cast<int64_t>(chunk.size()));
    return file;
  };
  for (int i = 0; i < 16; ++i) append()->StartWriteBack();  // the 16th starts a flush
  {
    std::unique_lock<std::mutex> lock(mu);
    changed.wait(lock, [&] { return failed; });
  }
  EXPECT_THAT([&] { append()->Flush(); },
              ThrowsMessage<EOSError>(StrEq(SystemError(
                  1117, "The request could not be performed because of an I/O device error."))));
  EXPECT_NO_THROW(append()->Flush());
  SetBackgroundSyncForTesting(nullptr);
  EXPECT_EQ(fs_.GetFileSize("T:\\long.bin"), 18 << 20);
}

TEST_F(FileSystemTest, WritingToAFullDiskIsError112) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  auto file = fs_.OpenFile("Z:\\dev\\full", FileAccess::kWrite, FileShare::kReadWrite,
                           FileDisposition::kOpenExisting);
  EXPECT_THAT(
      [&] { file->Write("x", 1); },
      ThrowsMessage<EOSError>(StrEq(SystemError(112, "There is not enough space on the disk."))));
}

TEST_F(FileSystemTest, ReadWholeFileReportsOpenFailuresAsFileOpenErrors) {
  Write("T:\\Vantry.ini", "[Vantry]\r\n");
  EXPECT_EQ(fs_.ReadWholeFile("t:\\vantry.ini"), "[Vantry]\r\n");
  EXPECT_THAT([&] { fs_.ReadWholeFile("T:\\missing.ini"); },
              ThrowsMessage<EFOpenError>(
                  StrEq("Cannot open file \"T:\\missing.ini\". The system cannot find the file "
                        "specified.")));
  auto held = fs_.OpenFile("T:\\Vantry.ini", FileAccess::kReadWrite, FileShare::kNone,
                           FileDisposition::kOpenExisting);
  EXPECT_THAT([&] { fs_.ReadWholeFile("T:\\Vantry.ini"); },
              ThrowsMessage<EFOpenError>(
                  StrEq("Cannot open file \"T:\\Vantry.ini\". The process cannot access the file "
                        "because it is being used by another process.")));
}

TEST_F(FileSystemTest, TempFilesGetFreshNames) {
  std::string first = fs_.CreateTempFile("T:\\", "VMSwap");
  std::string second = fs_.CreateTempFile("T:", "VMS");
  EXPECT_THAT(first, testing::MatchesRegex("T:\\\\VMS[0-9A-F]{4}\\.tmp"));
  EXPECT_NE(first, second);
  EXPECT_TRUE(fs_.FileExists(first));
  EXPECT_EQ(fs_.GetFileSize(second), 0);
  EXPECT_THAT([&] { fs_.CreateTempFile("T:\\missing", "VMS"); },
              ThrowsMessage<EOSError>(StrEq(kPathNotFound)));
}

}  // namespace
}  // namespace vantry
