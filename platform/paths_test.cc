#include "platform/paths.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "platform/exception.h"
#include "platform/temp_dir.h"

namespace vantry {
namespace {

using testing::StrEq;

void MakeDir(const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0777), 0) << path; }
void MakeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0666);
  ASSERT_GE(fd, 0) << path;
  ::close(fd);
}

// T:\ is a temporary directory holding
//   Backups\DB.FBK, Backups\db.fbk (exact spelling wins), Backups\Old\, Data\ (only one case),
//   Café\ (UTF-8 on disk), 日本\ (not representable in 1252).
class PathsTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path();
    MakeDir(root_ + "/Backups");
    MakeFile(root_ + "/Backups/DB.FBK");
    MakeFile(root_ + "/Backups/db.fbk");
    MakeDir(root_ + "/Backups/Old");
    MakeDir(root_ + "/Data");
    MakeDir(root_ + "/Caf\xC3\xA9");
    MakeDir(root_ + "/\xE6\x97\xA5\xE6\x9C\xAC");
    drives_.Set('t', root_);
  }

  TempDir dir_;
  std::string root_;
  DriveMap drives_;
};

TEST_F(PathsTest, ResolvesWindowsPathsToHostPaths) {
  struct Case {
    const char* windows;
    const char* cwd_below_root;  // current directory, below the root of T
    std::string host_below_root;
    bool exists;  // every component found
  } cases[] = {
      {"T:\\Backups\\db.fbk", "", "/Backups/db.fbk", true},          // exact match
      {"T:\\Backups\\DB.FBK", "", "/Backups/DB.FBK", true},          // exact match, other case
      {"t:\\backups\\Db.Fbk", "", "/Backups/DB.FBK", true},          // first in sorted order
      {"T:/data/new.fbk", "", "/Data/new.fbk", false},               // "/" separator, new file
      {"T:\\DATA\\NewDir\\x.fbk", "", "/Data/NewDir/x.fbk", false},  // caller's spelling kept
      {"T:\\Backups\\..\\..\\..\\Data", "", "/Data", true},          // ".." stops at the root
      {"T:\\.\\Backups\\.\\Old\\\\", "", "/Backups/Old", true},      // "." and empty components
      {"T:\\caf\xC9", "", "/Caf\xC3\xA9", true},                     // 1252 name, case-insensitive
      {"T:\\", "", "", true},
      {"\\Data", "/Backups/Old", "/Data", true},                // rooted: drive of the cwd
      {"Old\\x.fbk", "/Backups", "/Backups/Old/x.fbk", false},  // relative to the cwd
      {"..\\..\\..\\Data", "/Backups", "/Data", true},
      {"T:old", "/Backups", "/Backups/Old", true},  // drive-relative, same drive
  };
  for (const Case& c : cases) {
    std::string cwd = root_ + c.cwd_below_root;
    EXPECT_EQ(ResolveHostPath(drives_, c.windows, cwd), root_ + c.host_below_root) << c.windows;
    std::string host;
    bool exists = !c.exists;
    EXPECT_EQ(TryResolveHostPath(drives_, c.windows, &host, cwd, &exists), 0) << c.windows;
    EXPECT_EQ(exists, c.exists) << c.windows;
  }
}

TEST_F(PathsTest, DefaultZDriveReachesTheWholeHost) {
  EXPECT_EQ(ResolveHostPath(drives_, "Z:\\"), "/");
  EXPECT_EQ(ResolveHostPath(drives_, "z:" + root_ + "/backups/old"), root_ + "/Backups/Old");
}

TEST_F(PathsTest, FailuresAreWindowsErrors) {
  struct Case {
    const char* windows;
    int error;
  } cases[] = {
      {"\\\\server\\share\\db.fbk", 53},
      {"//server/share", 53},
      {"Q:\\Backups", 3},  // unmapped drive
      {"", 123},
  };
  for (const Case& c : cases) {
    std::string host;
    EXPECT_EQ(TryResolveHostPath(drives_, c.windows, &host, root_), c.error) << c.windows;
  }
  EXPECT_THAT([&] { ResolveHostPath(drives_, "\\\\server\\share"); },
              testing::ThrowsMessage<EOSError>(
                  StrEq("System Error.  Code: 53.\r\nThe network path was not found.")));
  EXPECT_THAT([&] { ResolveHostPath(drives_, "q:\\x"); },
              testing::ThrowsMessage<EOSError>(
                  StrEq("System Error.  Code: 3.\r\nThe system cannot find the path specified.")));
}

TEST_F(PathsTest, RelativePathNeedsAReachableCurrentDirectory) {
  DriveMap only_t({{'T', root_}});
  only_t.Remove('Z');
  std::string host;
  EXPECT_EQ(TryResolveHostPath(only_t, "x.fbk", &host, "/usr"), 3);
  EXPECT_EQ(TryResolveHostPath(only_t, "\\x.fbk", &host, "/usr"), 3);
  EXPECT_EQ(TryResolveHostPath(only_t, "x.fbk", &host, root_ + "/Data"), 0);
  EXPECT_EQ(host, root_ + "/Data/x.fbk");
}

TEST_F(PathsTest, ReverseMappingLongestRootWins) {
  drives_.Set('D', root_ + "/Backups/");  // trailing "/" is dropped
  struct Case {
    std::string host;
    std::optional<std::string> windows;
  } cases[] = {
      {"/opt/vantry", "Z:\\opt\\vantry"},
      {"/", "Z:\\"},
      {root_, "T:\\"},
      {root_ + "/Data/x.fbk", "T:\\Data\\x.fbk"},
      {root_ + "/Backups", "D:\\"},
      {root_ + "/Backups/Old", "D:\\Old"},
      {root_ + "/BackupsOld", "T:\\BackupsOld"},  // whole components only
      {root_ + "/Caf\xC3\xA9", "T:\\Caf\xE9"},
      {root_ + "/\xE6\x97\xA5\xE6\x9C\xAC", "T:\\??"},
  };
  for (const Case& c : cases) EXPECT_EQ(HostToWindowsPath(drives_, c.host), c.windows) << c.host;
  EXPECT_EQ(HostToWindowsDirectory(drives_, "/opt/vantry"), "Z:\\opt\\vantry\\");
  EXPECT_EQ(HostToWindowsDirectory(drives_, "/"), "Z:\\");

  drives_.Remove('Z');
  EXPECT_EQ(HostToWindowsPath(drives_, "/opt/vantry"), std::nullopt);
}

TEST(DriveMapTest, LettersMatchWithoutCaseAndZDefaultsToRoot) {
  DriveMap drives({{'d', "/srv/firebird/backup/"}, {'1', "/ignored"}});
  EXPECT_EQ(drives.Root('D'), "/srv/firebird/backup");
  EXPECT_EQ(drives.Root('d'), "/srv/firebird/backup");
  EXPECT_EQ(drives.Root('z'), "/");
  EXPECT_EQ(drives.Root('1'), std::nullopt);
  EXPECT_EQ(drives.Snapshot().size(), 2u);

  drives.Replace({{'z', "/srv"}});
  EXPECT_EQ(drives.Root('Z'), "/srv");
  EXPECT_EQ(drives.Root('D'), std::nullopt);

  // An empty root unmaps its letter, Z included: a map can leave callers one drive only.
  drives.Replace({{'D', "/srv/backup"}, {'z', ""}});
  EXPECT_EQ(drives.Root('Z'), std::nullopt);
  EXPECT_EQ(drives.Snapshot().size(), 1u);
  EXPECT_EQ(HostToWindowsPath(drives, "/etc/shadow"), std::nullopt);
}

TEST(DriveMapTest, ReplacingWhileOthersResolve) {
  DriveMap drives;
  std::thread resolver([&] {
    for (int i = 0; i < 2000; ++i) {
      std::string host;
      int error = TryResolveHostPath(drives, "D:\\x", &host, "/");
      ASSERT_TRUE(error == 3 || host == "/srv/a/x" || host == "/srv/b/x") << host;
    }
  });
  for (int i = 0; i < 2000; ++i) drives.Replace({{'D', i % 2 ? "/srv/a" : "/srv/b"}});
  resolver.join();
}

TEST(HostPathsTest, ExecutableAndDirectories) {
  std::string exe = ExecutableHostPath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe[0], '/');
  EXPECT_TRUE(exe.ends_with("/platform_test")) << exe;
  EXPECT_EQ(HostDirectoryOf("/opt/vantry/vantryd"), "/opt/vantry");
  EXPECT_EQ(HostDirectoryOf("/vantryd"), "/");
  EXPECT_FALSE(CurrentHostDirectory().empty());
}

}  // namespace
}  // namespace vantry
