#include "platform/path_helpers.h"

#include <gtest/gtest.h>

namespace vantry {
namespace {

struct PathCase {
  const char* path;
  const char* file_path;
  const char* file_dir;
  const char* file_name;
};

TEST(PathHelpersTest, SplitsWindowsPaths) {
  const PathCase cases[] = {
      {"C:\\Backup\\db.fbk", "C:\\Backup\\", "C:\\Backup", "db.fbk"},
      {"C:\\db.fbk", "C:\\", "C:\\", "db.fbk"},
      {"C:db.fbk", "C:", "C:", "db.fbk"},
      {"db.fbk", "", "", "db.fbk"},
      {"\\db.fbk", "\\", "\\", "db.fbk"},
      {"\\\\server\\share", "\\\\server\\", "\\\\server", "share"},
      {"C:\\Backup\\", "C:\\Backup\\", "C:\\Backup", ""},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractFilePath(c.path), c.file_path) << c.path;
    EXPECT_EQ(ExtractFileDir(c.path), c.file_dir) << c.path;
    EXPECT_EQ(ExtractFileName(c.path), c.file_name) << c.path;
  }
}

TEST(PathHelpersTest, ChangeFileExtReplacesOnlyARealExtension) {
  EXPECT_EQ(ChangeFileExt("D:\\Backups\\db.fbk", ".zip"), "D:\\Backups\\db.zip");
  EXPECT_EQ(ChangeFileExt("D:\\Old.set\\db", ".zip"), "D:\\Old.set\\db.zip");
  EXPECT_EQ(ChangeFileExt("D:db", ".zip"), "D:db.zip");
  EXPECT_EQ(ChangeFileExt("db.tar.gz", ".zip"), "db.tar.zip");
  EXPECT_EQ(ChangeFileExt("D:\\db.zip", ".zip"), "D:\\db.zip");
}

TEST(PathHelpersTest, TrailingBackslash) {
  EXPECT_EQ(IncludeTrailingBackslash(""), "\\");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\a"), "C:\\a\\");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\a\\"), "C:\\a\\");
  EXPECT_EQ(ExcludeTrailingBackslash("C:\\a\\"), "C:\\a");
  EXPECT_EQ(ExcludeTrailingBackslash("C:\\a"), "C:\\a");
}

}  // namespace
}  // namespace vantry
