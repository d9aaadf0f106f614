#include "service/file_helpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/clock.h"
#include "service/fake_file_system.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

class FileHelpersTest : public testing::Test {
 protected:
  std::vector<std::string> Names(const std::string& pattern, uint32_t mask) {
    std::vector<std::string> names;
    for (const FileEntry& entry : FindFiles(fs_, pattern, mask)) names.push_back(entry.name);
    return names;
  }

  FakeFileSystem fs_;
};

TEST_F(FileHelpersTest, ExistenceNeedsAFileWhateverItsDate) {
  fs_.WriteFile("T:\\a.fdb", "x");
  fs_.CreateDirectory("T:\\dir");
  EXPECT_TRUE(FileExists(fs_, "T:\\A.FDB"));
  EXPECT_FALSE(FileExists(fs_, "T:\\dir"));
  EXPECT_FALSE(FileExists(fs_, "T:\\missing.fdb"));
  EXPECT_FALSE(FileExists(fs_, "Q:\\unmapped.fdb"));

  struct Case {
    DateTimeParts when;
    bool exists;
  };
  // Dates outside the packed MS-DOS range (1980-2107) do not hide a file.
  for (const Case& c : {Case{{1970, 1, 1}, true}, Case{{1979, 12, 31, 23, 59, 59}, true},
                        Case{{1980, 1, 1}, true}, Case{{2108, 1, 1}, true}}) {
    fs_.last_write = EncodeDateTime(c.when);
    EXPECT_EQ(c.exists, FileExists(fs_, "T:\\a.fdb")) << c.when.year;
  }
}

TEST_F(FileHelpersTest, MaskSelectsDirectoriesAndDotEntries) {
  fs_.WriteFile("T:\\b.fdb", "");
  fs_.CreateDirectory("T:\\sub");
  EXPECT_THAT(Names("T:\\*", kFindAllAttributes), ElementsAre(".", "..", "b.fdb", "sub"));
  EXPECT_THAT(Names("T:\\*", kFindAllAttributes & ~kFileAttributeDirectory), ElementsAre("b.fdb"));
  EXPECT_THAT(Names("T:\\nowhere\\*", kFindAllAttributes), ElementsAre());
}

TEST_F(FileHelpersTest, ForceDirectoriesCreatesEveryMissingLevel) {
  EXPECT_TRUE(ForceDirectories(fs_, "T:\\a\\b\\c\\"));
  EXPECT_TRUE(fs_.DirectoryExists("T:\\a\\b\\c"));
  EXPECT_TRUE(ForceDirectories(fs_, "T:\\a\\b"));  // existing: done
  EXPECT_TRUE(ForceDirectories(fs_, "T:"));        // fewer than 3 characters: done
  EXPECT_TRUE(ForceDirectories(fs_, "T:\\"));      // a root is its own directory part
}

TEST_F(FileHelpersTest, ForceDirectoriesReportsFailureWithoutThrowing) {
  fs_.WriteFile("T:\\file", "");
  EXPECT_FALSE(ForceDirectories(fs_, "T:\\file\\sub"));
  EXPECT_FALSE(ForceDirectories(fs_, "Q:\\unmapped\\dir"));
}

TEST_F(FileHelpersTest, EmptyPathOrEmptyDirectoryPartCannotBeCreated) {
  for (const char* path : {"", "relative"}) {
    EXPECT_THAT([&] { ForceDirectories(fs_, path); },
                ThrowsMessage<EInOutError>(StrEq("Unable to create directory")))
        << path;
  }
}

}  // namespace
}  // namespace vantry
