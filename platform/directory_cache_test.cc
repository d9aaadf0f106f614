#include "platform/directory_cache.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/temp_dir.h"

namespace vantry {
namespace {

using testing::ElementsAre;

// Longer than the racy window of a file system with sub-second times on any kernel tick.
constexpr auto kQuiet = std::chrono::milliseconds(60);

class DirectoryCacheTest : public testing::Test {
 protected:
  DirectoryCacheTest() : fs_(drives_, dir_.path()) {
    drives_.Set('T', dir_.path());
    ::mkdir(Host("big").c_str(), 0777);
    for (int i = 0; i < 2000; ++i) Touch(Format("big/other%04d.fbk", i));
  }
  std::string Host(const std::string& relative) { return dir_.path() + "/" + relative; }
  void Touch(const std::string& relative) {
    ::close(::open(Host(relative).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
  }
  std::vector<std::string> Names(const std::string& pattern) {
    std::vector<std::string> names;
    for (const FileEntry& e : fs_.FindFiles(pattern)) names.push_back(e.name);
    return names;
  }

  TempDir dir_;
  DriveMap drives_;
  PosixFileSystem fs_;
};

TEST_F(DirectoryCacheTest, QuietDirectoryIsReadOnceForManyLookups) {
  std::this_thread::sleep_for(kQuiet);
  auto lookups = [&] {
    EXPECT_FALSE(fs_.FileExists("T:\\big\\missing.fbk"));
    EXPECT_TRUE(fs_.FileExists("T:\\BIG\\OTHER0042.FBK"));
    EXPECT_THAT(Names("T:\\big\\OTHER004*"),
                ElementsAre("other0040.fbk", "other0041.fbk", "other0042.fbk", "other0043.fbk",
                            "other0044.fbk", "other0045.fbk", "other0046.fbk", "other0047.fbk",
                            "other0048.fbk", "other0049.fbk"));
  };
  lookups();  // reads T:\ and T:\big once each
  uint64_t reads = DirectoryReadCount();
  for (int i = 0; i < 100; ++i) lookups();
  EXPECT_EQ(reads, DirectoryReadCount());
  // A change is seen at once, and the directory is read again.
  Touch("big/Missing.fbk");
  EXPECT_TRUE(fs_.FileExists("T:\\big\\missing.fbk"));
  EXPECT_GT(DirectoryReadCount(), reads);
}

// The decision on stamps made up for it: a listing is kept only when its reading began beyond the
// racy window after the directory's last change, by either of its times. The window is two ticks
// of the coarse clock (at least 1 ms each) plus 1 ms, 9 ms with a tick of 4 ms; or plus 2 s
// for times in whole seconds.
TEST(DirectoryCacheDecisionTest, ListingsReadWithinTheRacyWindowOfAChangeAreNotKept) {
  constexpr int64_t kMs = 1000000, kSecond = 1000 * kMs;
  constexpr int64_t kRead = int64_t{1700000000} * kSecond + 123456789;  // sub-second times
  constexpr int64_t kWholeRead = int64_t{1700000000} * kSecond;
  struct Case {
    int64_t change_before, modification_before;  // how long before the read began
    int64_t read, tick;
    bool kept;
  };
  for (const Case& c : {
           Case{1 * kMs, 1 * kMs, kRead, 4 * kMs, false},  // changed in the read's own tick
           Case{9 * kMs, 9 * kMs, kRead, 4 * kMs, false},
           Case{9 * kMs + 1, 9 * kMs + 1, kRead, 4 * kMs, true},
           Case{kSecond, 1 * kMs, kRead, 4 * kMs, false},  // names changed just now
           Case{1 * kMs, kSecond, kRead, 4 * kMs, false},  // status changed just now
           Case{-kSecond, -kSecond, kRead, 4 * kMs, false},  // stamped after the read began
           Case{kSecond, kSecond, kWholeRead, 4 * kMs, false},
           Case{2 * kSecond, 3 * kSecond, kWholeRead, 4 * kMs, false},
           Case{3 * kSecond, 3 * kSecond, kWholeRead, 4 * kMs, true},
           Case{3 * kMs, 3 * kMs, kRead, 1, false},
           Case{3 * kMs + 1, 3 * kMs + 1, kRead, 1, true},
       }) {
    DirectoryTimes times = {c.read - c.change_before, c.read - c.modification_before};
    EXPECT_EQ(c.kept, ListingMayBeKept(times, c.read, c.tick))
        << c.change_before << " / " << c.modification_before << " ns before, tick " << c.tick;
  }
}

// Another process renames, creates and deletes names between our lookups, right after them
// (within the same timestamp tick as our last read) and after quiet spells (when our listing is
// cached). Every lookup must see the directory as it is.
TEST_F(DirectoryCacheTest, LookupsFollowAnotherProcessRenamingCreatingAndDeleting) {
  const char* kNames[] = {"a.fbk", "b.fbk", "c.fbk"};
  Touch("big/a.fbk");
  int to_child[2], to_parent[2];
  ASSERT_EQ(0, ::pipe(to_child));
  ASSERT_EQ(0, ::pipe(to_parent));
  constexpr int kRounds = 120;
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string big = Host("big/");
    std::string extra = big + "Extra.fbk";
    for (int i = 0; i < kRounds; ++i) {
      char go;
      if (::read(to_child[0], &go, 1) != 1) ::_exit(1);
      std::string from = big + kNames[i % 3], to = big + kNames[(i + 1) % 3];
      if (::rename(from.c_str(), to.c_str()) != 0) ::_exit(2);
      if (i % 2 == 0) {
        ::close(::open(extra.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
      } else {
        ::unlink(extra.c_str());
      }
      if (::write(to_parent[1], "x", 1) != 1) ::_exit(3);
    }
    ::_exit(0);
  }
  for (int i = 0; i <= kRounds; ++i) {
    SCOPED_TRACE(Format("round %d", i));
    if (i % 4 >= 2) std::this_thread::sleep_for(kQuiet);  // our listings become cacheable
    const char* present = kNames[i % 3];
    for (const char* name : kNames) {
      std::string upper = AnsiUpperCase(name);
      EXPECT_EQ(name == present, fs_.FileExists("T:\\big\\" + upper)) << upper;
    }
    EXPECT_THAT(Names("T:\\big\\?.FBK"), ElementsAre(present));
    EXPECT_EQ(i % 2 == 1, fs_.FileExists("T:\\BIG\\EXTRA.FBK"));
    EXPECT_EQ(i % 2 == 1 ? 1u : 0u, fs_.FindFiles("T:\\big\\extra*").size());
    if (i == kRounds) break;
    ASSERT_EQ(1, ::write(to_child[1], "x", 1));
    char done;
    ASSERT_EQ(1, ::read(to_parent[0], &done, 1));
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (int fd : {to_child[0], to_child[1], to_parent[0], to_parent[1]}) ::close(fd);
}

}  // namespace
}  // namespace vantry
