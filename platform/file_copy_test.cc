// The copy of PosixFileSystem (CopyFile, and MoveFile to another file system): the target's name
// shows the old file or the complete new one, never part of it; failures keep their codes and
// texts and leave no temporary file; a killed copy's leftovers go with the next copy.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/temp_dir.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

std::string SystemError(int code, const char* text) {
  return Format("System Error.  Code: %d.\r\n%s", code, text);
}

class FileCopyTest : public testing::Test {
 protected:
  FileCopyTest() : fs_(drives_, dir_.path()) { drives_.Set('T', dir_.path()); }

  void Write(const std::string& path, const std::string& content) {
    auto file =
        fs_.OpenFile(path, FileAccess::kWrite, FileShare::kNone, FileDisposition::kCreateAlways);
    file->Write(content.data(), static_cast<int64_t>(content.size()));
    file->Close();
  }
  std::string Read(const std::string& path) {
    return fs_.FileExists(path) ? fs_.ReadWholeFile(path) : "(none)";
  }
  // The names in a host directory below the root, sorted.
  std::vector<std::string> Names(const std::string& below_root = "") {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path() + below_root)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // Runs `call` in a child process with files limited to `max_file_size` bytes; returns the
  // EOSError code it failed with, 0 when it succeeded, -1 for any other end.
  int CodeInChildWithFileSizeLimit(rlim_t max_file_size, const std::function<void()>& call) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      struct rlimit limit = {max_file_size, max_file_size};
      int code = 255;
      if (::setrlimit(RLIMIT_FSIZE, &limit) == 0) {
        try {
          call();
          code = 0;
        } catch (const EOSError& e) {
          code = e.ErrorCode() & 0xFF;
        } catch (...) {
        }
      }
      ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
  }

  TempDir dir_;
  DriveMap drives_;
  PosixFileSystem fs_;
};

// Each failure keeps the code and text of a direct copy, and leaves the target as it was and no
// temporary file beside it.
TEST_F(FileCopyTest, FailedCopiesLeaveTheTargetAsItWas) {
  Write("T:\\a.fbk", "new content");
  Write("T:\\b.fbk", "old content");
  Write("T:\\ro.fbk", "read-only");
  ::chmod((dir_.path() + "/ro.fbk").c_str(), 0444);
  fs_.CreateDirectory("T:\\dir");
  ASSERT_EQ(::mkfifo((dir_.path() + "/pipe").c_str(), 0600), 0);
  const std::string not_found = SystemError(2, "The system cannot find the file specified.");
  const std::string path_not_found = SystemError(3, "The system cannot find the path specified.");
  const std::string access_denied = SystemError(5, "Access is denied.");
  const std::string in_use = SystemError(
      32, "The process cannot access the file because it is being used by another process.");
  struct Case {
    const char* name;
    std::string from, to;
    std::string text;
    std::function<std::unique_ptr<File>()> hold = [] { return nullptr; };
  } cases[] = {
      {"missing source", "T:\\missing", "T:\\b.fbk", not_found},
      {"missing target directory", "T:\\a.fbk", "T:\\nodir\\b.fbk", path_not_found},
      {"read-only target", "T:\\a.fbk", "T:\\ro.fbk", access_denied},
      {"directory as target", "T:\\a.fbk", "T:\\dir", access_denied},
      {"pipe as target", "T:\\a.fbk", "T:\\pipe", access_denied},
      {"onto itself", "T:\\b.fbk", "T:\\B.FBK", in_use},
      {"source written without sharing reading", "T:\\a.fbk", "T:\\b.fbk", in_use,
       [&] {
         return fs_.OpenFile("T:\\a.fbk", FileAccess::kWrite, FileShare::kWrite,
                             FileDisposition::kOpenExisting);
       }},
  };
  const std::vector<std::string> names = Names();
  for (const Case& c : cases) {
    std::unique_ptr<File> held = c.hold();
    EXPECT_THAT([&] { fs_.CopyFile(c.from, c.to); }, ThrowsMessage<EOSError>(StrEq(c.text)))
        << c.name;
    held.reset();
    EXPECT_EQ(Read("T:\\b.fbk"), "old content") << c.name;
    EXPECT_EQ(Read("T:\\ro.fbk"), "read-only") << c.name;
    EXPECT_EQ(Names(), names) << c.name;
  }
}

// A copy that fails half way, as on a full disk, leaves the old target whole; a move to another
// file system that fails so keeps its source.
TEST_F(FileCopyTest, ACopyThatFailsHalfWayLeavesTheOldTarget) {
  const std::string content(1 << 20, 'n');
  Write("T:\\a.fbk", content);
  Write("T:\\b.fbk", "old content");
  EXPECT_EQ(CodeInChildWithFileSizeLimit(64 << 10, [&] { fs_.CopyFile("T:\\a.fbk", "T:\\b.fbk"); }),
            223);  // "The file size exceeds the limit allowed and cannot be saved."
  EXPECT_EQ(Read("T:\\b.fbk"), "old content");
  EXPECT_THAT(Names(), ElementsAre("a.fbk", "b.fbk"));

  struct stat tmp_st, shm_st;
  if (::stat(dir_.path().c_str(), &tmp_st) != 0 || ::stat("/dev/shm", &shm_st) != 0 ||
      tmp_st.st_dev == shm_st.st_dev) {
    GTEST_SKIP() << "no second file system";
  }
  const std::string other = "/dev/shm/vantry-copy-test-" + std::to_string(::getpid());
  ASSERT_TRUE(std::filesystem::create_directory(other));
  drives_.Set('S', other);
  constexpr uint32_t kFlags =
      kMoveFileReplaceExisting | kMoveFileCopyAllowed | kMoveFileWriteThrough;
  EXPECT_EQ(CodeInChildWithFileSizeLimit(
                64 << 10, [&] { fs_.MoveFile("T:\\a.fbk", "S:\\moved.fbk", kFlags); }),
            223);
  EXPECT_TRUE(Read("T:\\a.fbk") == content);
  EXPECT_TRUE(std::filesystem::is_empty(other));
  fs_.MoveFile("T:\\a.fbk", "S:\\moved.fbk", kFlags);
  EXPECT_TRUE(Read("S:\\moved.fbk") == content);
  EXPECT_EQ(Read("T:\\a.fbk"), "(none)");
  std::filesystem::remove_all(other);
}

// A killed copy leaves its temporary file beside the target; the next copy to that name removes
// it, and only it: other files' leftovers and names that merely look alike stay.
TEST_F(FileCopyTest, LeftoversOfAKilledCopyGoWithTheNextCopy) {
  Write("T:\\a.fbk", "content");
  fs_.CreateDirectory("T:\\bak");
  for (const char* name : {"b.fbk.~1A2B.tmp", "B.FBK.~00ff.TMP", "b.fbk.~mine.tmp",
                           "b.fbk.~1A2B.tmp.keep", "c.fbk.~1A2B.tmp"}) {
    Write(std::string("T:\\bak\\") + name, "half a copy");
  }
  fs_.CopyFile("T:\\a.fbk", "T:\\bak\\b.fbk");
  EXPECT_EQ(Read("T:\\bak\\b.fbk"), "content");
  EXPECT_THAT(Names("/bak"),
              ElementsAre("b.fbk", "b.fbk.~1A2B.tmp.keep", "b.fbk.~mine.tmp", "c.fbk.~1A2B.tmp"));
}

}  // namespace
}  // namespace vantry
