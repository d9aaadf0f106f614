#include "platform/file_helpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/testing/fake_file_system.h"

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
