#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "platform/file_system.h"
#include "platform/temp_dir.h"

namespace vantry {
namespace {

std::vector<std::string> Names(const std::vector<FileEntry>& entries) {
  std::vector<std::string> names;
  for (const FileEntry& e : entries) names.push_back(e.name);
  return names;
}

// T:\ holds b.FBK, A.fbk, a.txt, noext, c.fbk.l5.part_0, Sub\ and Caf\xE9.fbk (UTF-8 on disk).
class FindFilesTest : public testing::Test {
 protected:
  FindFilesTest() : fs_(drives_, dir_.path()) {
    drives_.Set('T', dir_.path());
    for (const char* name :
         {"b.FBK", "A.fbk", "a.txt", "noext", "c.fbk.l5.part_0", "Caf\xE9.fbk"}) {
      fs_.OpenFile(std::string("T:\\") + name, FileAccess::kWrite, FileShare::kNone,
                   FileDisposition::kCreateNew)
          ->Write("12345", 5);
    }
    fs_.CreateDirectory("T:\\Sub");
  }

  std::vector<std::string> Find(const std::string& pattern) {
    return Names(fs_.FindFiles(pattern));
  }

  TempDir dir_;
  DriveMap drives_;
  PosixFileSystem fs_;
};

TEST_F(FindFilesTest, PatternsMatchWithoutCaseInUpperCasedNameOrder) {
  using V = std::vector<std::string>;
  const V everything = {".",           "..",    "A.fbk", "a.txt", "b.FBK", "c.fbk.l5.part_0",
                        "Caf\xE9.fbk", "noext", "Sub"};
  struct Case {
    std::string pattern;
    V names;
  } cases[] = {
      {"T:\\*", everything},
      {"T:\\*.*", everything},  // "*.*" also matches names without a dot
      {"t:/*", everything},
      {"T:\\*.fbk", {"A.fbk", "b.FBK", "Caf\xE9.fbk"}},
      {"T:\\?.FBK", {"A.fbk", "b.FBK"}},
      {"T:\\a*.*", {"A.fbk", "a.txt"}},
      {"T:\\N*.*", {"noext"}},
      {"T:\\*.FB?", {"A.fbk", "b.FBK", "Caf\xE9.fbk"}},
      {"T:\\CAF\xC9*", {"Caf\xE9.fbk"}},
      {"T:\\c.fbk.l5.part_*", {"c.fbk.l5.part_0"}},
      {"T:\\sub", {"Sub"}},
      {"T:\\x*", {}},
      {"*.txt", {"a.txt"}},  // no directory part: the current directory
      {"T:\\", {}},          // nothing to match
  };
  for (const Case& c : cases) EXPECT_EQ(Find(c.pattern), c.names) << c.pattern;
}

TEST_F(FindFilesTest, MissingDirectoryYieldsNothing) {
  EXPECT_TRUE(Find("T:\\missing\\*").empty());
  EXPECT_TRUE(Find("Q:\\*").empty());
  EXPECT_TRUE(Find("\\\\server\\share\\*").empty());
}

TEST_F(FindFilesTest, EntriesCarryAttributesSizeAndLocalTime) {
  ::chmod((dir_.path() + "/a.txt").c_str(), 0444);
  struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
  ::utimensat(AT_FDCWD, (dir_.path() + "/A.fbk").c_str(), times, 0);
  std::vector<FileEntry> entries = fs_.FindFiles("T:\\*");
  ASSERT_EQ(entries.size(), 9u);
  EXPECT_EQ(entries[0].attributes, kFileAttributeDirectory);  // "."
  EXPECT_EQ(entries[2].attributes, kFileAttributeArchive);    // A.fbk
  EXPECT_EQ(entries[2].size, 5);
  EXPECT_EQ(entries[2].last_write, UnixToLocalDateTime(1700000000));
  EXPECT_EQ(entries[3].attributes, kFileAttributeArchive | kFileAttributeReadOnly);  // a.txt
  EXPECT_EQ(entries[8].attributes, kFileAttributeDirectory);                         // Sub
  EXPECT_EQ(entries[8].size, 0);
}

TEST(MatchesFilePatternTest, Wildcards) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*", ".", true},
      {"*.*", "..", true},
      {"*.*", "noext", true},
      {"db*.fbk", "DB_1.FBK", true},
      {"db*.fbk", "db.fbk.tmp", false},
      {"?", "ab", false},
      {"a?c", "abc", true},
      {"*a*b", "xaxxb", true},
      {"*a*b", "xaxxbc", false},
      {"", "a", false},
      {"*.fbk", "x.fbk", true},
      {"**", "", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesFilePattern(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
  }
}

}  // namespace
}  // namespace vantry
