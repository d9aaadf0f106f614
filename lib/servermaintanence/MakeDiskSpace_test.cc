#include "lib/servermaintanence/MakeDiskSpace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/testing/fake_file_system.h"
#include "platform/path_helpers.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;
using testing::StrEq;
using testing::ThrowsMessage;

constexpr double kHour = 1.0 / 24;
constexpr int kCareful = 0, kModerate = 1, kAggressive = 2;
const char kDir[] = "T:\\bak";

// The fake file system with a pretended last-write time per entry name.
class DatedFileSystem : public FakeFileSystem {
 public:
  std::map<std::string, TDateTime> times;

  std::optional<FileEntry> GetFileInfo(const std::string& path) override {
    std::optional<FileEntry> entry = FakeFileSystem::GetFileInfo(path);
    if (entry) {
      if (auto it = times.find(entry->name); it != times.end()) entry->last_write = it->second;
    }
    return entry;
  }
};

std::string AssertionText(const char* text, int line) {
  return Format("%s (lib\\servermaintanence\\MakeDiskSpace, line %d)", text, line);
}

TDateTime At(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
  return EncodeDateTime({year, month, day, hour, minute, second});
}

class MakeDiskSpaceTest : public testing::Test {
 protected:
  // A backup of "db.fdb" last written `age` days before the clock's now.
  void Backup(const std::string& name, double age) {
    fs_.WriteFile(Path(name), "backup");
    fs_.times[name] = clock_.Now() - age;
  }
  static std::string Path(const std::string& name) { return std::string(kDir) + "\\" + name; }

  std::vector<std::string> Remaining() {
    std::vector<std::string> names;
    for (const FileEntry& e : FindFiles(fs_, std::string(kDir) + "\\*", 0)) names.push_back(e.name);
    return names;
  }
  std::vector<std::string> Planned(int strategy) {
    std::vector<std::string> names;
    for (const std::string& path :
         PlanBackupDeletion(fs_, clock_, "D:\\data\\db.fdb", kDir, strategy).delete_list) {
      names.push_back(ExtractFileName(path));
    }
    return names;
  }
  void MakeSpace(int strategy) {
    MakeSpaceOnDiskForBackup(fs_, clock_, "D:\\data\\db.fdb", kDir, strategy);
  }

  DatedFileSystem fs_;
  FixedClock clock_{At(2026, 12, 12, 12)};  // a Saturday
};

TEST_F(MakeDiskSpaceTest, AgeLimitsBelongToTheLowerBucket) {
  clock_.Set(At(2026, 12, 12, 13, 37, 42));  // a time of day whose day counts do not add exactly
  struct Case {
    double age;
    TBackupBucket bucket;
  } cases[] = {
      {6 + 23 * kHour, TBackupBucket::kWeek}, {7, TBackupBucket::kWeek},
      {7 + kHour, TBackupBucket::kMonth},     {31, TBackupBucket::kMonth},
      {31 + kHour, TBackupBucket::kYear},     {365, TBackupBucket::kYear},
      {365 + kHour, TBackupBucket::kOlder},   {400, TBackupBucket::kOlder},
      {-8, TBackupBucket::kMonth},  // future: by distance
  };
  TBackupList list(fs_, clock_, kDir);
  for (const Case& c : cases) {
    std::string name = Format("db.fdb.%g", c.age);
    Backup(name, c.age);
    const TBackupFile& file = list.Item(list.AddFile(Path(name)));
    EXPECT_THAT(list.Bucket(c.bucket), testing::Contains(&file)) << c.age;
  }
  // Less than a millisecond past a limit is still at the limit.
  Backup("db.fdb.edge", 7);
  clock_.Set(clock_.Now() + 0.5 * kOneMillisecond);
  EXPECT_THAT(list.Bucket(TBackupBucket::kWeek),
              testing::Contains(&list.Item(list.AddFile(Path("db.fdb.edge")))));
  int filed = 0;
  for (auto bucket :
       {TBackupBucket::kWeek, TBackupBucket::kMonth, TBackupBucket::kYear, TBackupBucket::kOlder}) {
    filed += static_cast<int>(list.Bucket(bucket).size());
  }
  EXPECT_EQ(filed, list.Count());  // each file in exactly one bucket
}

TEST_F(MakeDiskSpaceTest, StrategiesDeleteWhatTheyDoNotKeepAndASecondRunNothingMore) {
  struct Case {
    const char* what;
    int strategy;
    TDateTime now;
    std::vector<std::pair<std::string, double>> backups;  // name, age in days
    std::vector<std::string> deleted;                     // in order of deletion
  } cases[] = {
      {"aggressive keeps the newest two",
       kAggressive,
       At(2026, 12, 12),
       {{"db.fdb.1", 1}, {"db.fdb.2", 2}, {"db.fdb.3", 3}},
       {"db.fdb.3"}},
      {"aggressive with two",
       kAggressive,
       At(2026, 12, 12),
       {{"db.fdb.1", 1}, {"db.fdb.900", 900}},
       {}},
      {"aggressive ignores age",
       kAggressive,
       At(2026, 12, 12),
       {{"db.fdb.a", 500}, {"db.fdb.b", 400}, {"db.fdb.c", 0.5}, {"db.fdb.d", 600}},
       {"db.fdb.d", "db.fdb.a"}},
      {"moderate",
       kModerate,
       At(2026, 12, 12),
       {{"db.fdb.01", 1},
        {"db.fdb.02", 2},
        {"db.fdb.03", 3},
        {"db.fdb.10", 10},
        {"db.fdb.20", 20},
        {"db.fdb.40", 40},
        {"db.fdb.400", 400}},
       {"db.fdb.400", "db.fdb.40", "db.fdb.20", "db.fdb.03"}},
      {"careful, two a day",
       kCareful,
       At(2026, 12, 12),
       {{"db.fdb.0a", 0.1},
        {"db.fdb.0b", 0.2},
        {"db.fdb.1a", 1.1},
        {"db.fdb.1b", 1.2},
        {"db.fdb.2a", 2.1},
        {"db.fdb.2b", 2.2}},
       {"db.fdb.0b", "db.fdb.1b", "db.fdb.2b"}},
      {"careful, one ISO week",
       kCareful,
       At(2026, 12, 12),
       {{"db.fdb.10", 10}, {"db.fdb.11", 11}},
       {"db.fdb.11"}},
      {"careful, by month, older newest first",
       kCareful,
       At(2026, 12, 12),
       {{"db.fdb.035", 35},
        {"db.fdb.040", 40},
        {"db.fdb.070", 70},
        {"db.fdb.075", 75},
        {"db.fdb.100", 100},
        {"db.fdb.400", 400},
        {"db.fdb.500", 500}},
       {"db.fdb.400", "db.fdb.500", "db.fdb.040", "db.fdb.100"}},
      {"careful, every bucket starts afresh",
       kCareful,
       At(2026, 12, 12),
       {{"db.fdb.31", 31}, {"db.fdb.32", 32}, {"db.fdb.6", 6.9}, {"db.fdb.7", 7.1}},
       {}},
      // 28 December 2026 and 2 January 2027 are both in week 53 of 2026; 4 January is week 1.
      {"careful, ISO weeks across a year end",
       kCareful,
       At(2027, 1, 20),
       {{"db.fdb.16", 16}, {"db.fdb.18", 18}, {"db.fdb.23", 23}},
       {"db.fdb.23"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs_.times.clear();
    for (const std::string& name : Remaining()) fs_.DeleteFile(Path(name));
    clock_.Set(c.now);
    std::vector<std::string> expected_remaining;
    for (const auto& [name, age] : c.backups) {
      Backup(name, age);
      if (std::find(c.deleted.begin(), c.deleted.end(), name) == c.deleted.end()) {
        expected_remaining.push_back(name);
      }
    }
    Backup("other.fdb.1", 900);  // another database's backup is never touched
    expected_remaining.push_back("other.fdb.1");
    std::sort(expected_remaining.begin(), expected_remaining.end());

    EXPECT_THAT(Planned(c.strategy), ElementsAreArray(c.deleted));
    MakeSpace(c.strategy);
    EXPECT_THAT(Remaining(), ElementsAreArray(expected_remaining));
    EXPECT_THAT(Planned(c.strategy), IsEmpty());
  }
}

TEST_F(MakeDiskSpaceTest, SortByDatePutsTheOldestFirstInEveryList) {
  TBackupList list(fs_, clock_, kDir);
  for (double age : {3.0, 400.0, 10.0, 1.0, 500.0, 20.0, 2.0}) {
    Backup(Format("db.fdb.%g", age), age);
    list.AddFile(Path(Format("db.fdb.%g", age)));
  }
  list.SortByDate();
  auto names = [](const std::vector<const TBackupFile*>& files) {
    std::vector<std::string> result;
    for (const TBackupFile* f : files) result.push_back(f->FileName());
    return result;
  };
  EXPECT_THAT(names(list.Bucket(TBackupBucket::kWeek)),
              ElementsAre("db.fdb.3", "db.fdb.2", "db.fdb.1"));
  EXPECT_THAT(names(list.Bucket(TBackupBucket::kMonth)), ElementsAre("db.fdb.20", "db.fdb.10"));
  EXPECT_THAT(names(list.Bucket(TBackupBucket::kOlder)), ElementsAre("db.fdb.500", "db.fdb.400"));
  EXPECT_EQ(list.Item(0).FileName(), "db.fdb.500");
  EXPECT_EQ(list.Item(6).FileName(), "db.fdb.1");
  // The index follows the new order.
  EXPECT_EQ(list.FindFile("X:\\elsewhere\\DB.FDB.500"), 0);
  EXPECT_EQ(list.FindFile(Path("db.fdb.1")), 6);
  EXPECT_EQ(list.FindFile(Path("db.fdb.missing")), -1);
}

TEST_F(MakeDiskSpaceTest, NamesDifferingOnlyInLetterCaseAreOneBackup) {
  // The host keeps these apart; Windows and the list do not. 0xE9/0xC9 are e/E acute in 1252.
  // Windows paths would reach the first of each pair, so the host names are written directly.
  fs_.CreateDirectory(kDir);
  for (const char* name : {"db.fdb.x", "DB.FDB.X", "db.fdb.\xE9", "db.fdb.\xC9"}) {
    std::ofstream(fs_.HostRoot() + "/bak/" + AnsiToUtf8(name)) << "backup";
  }
  TBackupList list(fs_, clock_, kDir);
  list.FillFromDirectory("db.fdb*.*");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(0).FileName(), "DB.FDB.X");  // the first the search delivers
  EXPECT_EQ(list.AddFile(Path("Db.Fdb.X")), 0);
  EXPECT_EQ(list.FindFile(Path("db.fdb.\xE9")), list.FindFile(Path("DB.FDB.\xC9")));
  EXPECT_EQ(list.Count(), 2);
}

TEST_F(MakeDiskSpaceTest, DirectoriesNamedLikeBackupsArePassedOver) {
  Backup("db.fdb.1", 1);
  Backup("db.fdb.2", 2);
  Backup("db.fdb.3", 3);
  fs_.CreateDirectory(Path("db.fdb.old"));
  TBackupList list(fs_, clock_, kDir);
  list.FillFromDirectory("*");  // also matches "." and ".."
  EXPECT_EQ(list.Count(), 3);

  MakeSpace(kAggressive);
  EXPECT_THAT(Remaining(), ElementsAre("db.fdb.1", "db.fdb.2"));
  EXPECT_TRUE(fs_.DirectoryExists(Path("db.fdb.old")));
}

TEST_F(MakeDiskSpaceTest, NothingToDoIsNoError) {
  MakeSpaceOnDiskForBackup(fs_, clock_, "db.fdb", "T:\\nowhere", kCareful);
  Backup("other.fdb", 100);
  MakeSpace(kAggressive);
  EXPECT_THAT(Remaining(), ElementsAre("other.fdb"));
}

TEST_F(MakeDiskSpaceTest, UnknownStrategyFailsAndDeletesNothing) {
  for (double age : {1, 2, 3, 400}) Backup(Format("db.fdb.%g", age), age);
  for (int strategy : {3, -1}) {
    EXPECT_THAT(
        [&] { MakeSpace(strategy); },
        ThrowsMessage<EAssertionFailed>(StrEq(AssertionText("No delete strategy provided", 304))))
        << strategy;
  }
  EXPECT_EQ(Remaining().size(), 4u);
}

TEST_F(MakeDiskSpaceTest, AssertionTexts) {
  Backup("db.fdb.1", 1);
  fs_.WriteFile("T:\\other\\db.fdb.1", "");
  TBackupList list(fs_, clock_, kDir);
  std::vector<std::string> delete_list;
  struct Case {
    std::function<void()> call;
    const char* text;
    int line;
  } cases[] = {
      {[&] { list.AddFile(Path("db.fdb.9")); }, "File does not exist", 225},
      {[&] { list.AddFile(Path("")); }, "File does not exist", 225},  // the directory itself
      {[&] { list.AddFile("T:\\other\\db.fdb.1"); }, "File is not in the backup path", 227},
      {[&] { list.AddFile("T:\\BAK\\db.fdb.1"); }, "File is not in the backup path", 227},
      {[&] { list.BuildDeleteList(nullptr); }, "No delete strategy provided", 304},
      {[&] {
         list.SetStrategy(std::make_unique<TCarefulDeleteStrategy>(&list));
         list.BuildDeleteList(nullptr);
       },
       "No delete list provided", 305},
      {[&] { TAggressiveDeleteStrategy(nullptr).FillDeleteList(delete_list); },
       "Strategy requires backup list", 319},
      {[&] { TModerateDeleteStrategy(nullptr).FillDeleteList(delete_list); },
       "Strategy requires backup list", 333},
      {[&] { TCarefulDeleteStrategy(nullptr).FillDeleteList(delete_list); },
       "Strategy requires backup list", 354},
  };
  for (const Case& c : cases) {
    EXPECT_THAT(c.call, ThrowsMessage<EAssertionFailed>(StrEq(AssertionText(c.text, c.line))));
  }
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.AddFile(Path("db.fdb.1")), 0);
}

TEST(MakeDiskSpaceFunctionsTest, StrategyByContractValue) {
  TBackupList* none = nullptr;
  EXPECT_NE(dynamic_cast<TCarefulDeleteStrategy*>(CreateDeleteStrategy(0, none).get()), nullptr);
  EXPECT_NE(dynamic_cast<TModerateDeleteStrategy*>(CreateDeleteStrategy(1, none).get()), nullptr);
  EXPECT_NE(dynamic_cast<TAggressiveDeleteStrategy*>(CreateDeleteStrategy(2, none).get()), nullptr);
  for (int value : {-1, 3, 1000}) EXPECT_EQ(CreateDeleteStrategy(value, none), nullptr) << value;
}

TEST(MakeDiskSpaceFunctionsTest, FileTimesHaveTwoSecondResolution) {
  struct Case {
    TDateTime last_write, kept;
  } cases[] = {
      {EncodeDateTime({2026, 12, 31, 23, 59, 59, 999}), At(2026, 12, 31, 23, 59, 58)},
      {EncodeDateTime({2026, 6, 1, 8, 0, 1, 500}), At(2026, 6, 1, 8, 0, 0)},
      {At(2026, 6, 1, 8, 0, 2), At(2026, 6, 1, 8, 0, 2)},
      // Outside the MS-DOS years the time is kept, rounded the same way.
      {EncodeDateTime({1970, 1, 1, 0, 0, 1, 250}), At(1970, 1, 1, 0, 0, 0)},
      {EncodeDateTime({2150, 3, 4, 5, 6, 7, 8}), At(2150, 3, 4, 5, 6, 6)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BackupFileTime(c.last_write), c.kept) << c.last_write;
    if (std::optional<uint32_t> dos = DateTimeToDosDateTime(c.last_write)) {
      EXPECT_EQ(BackupFileTime(c.last_write), DosDateTimeToDateTime(*dos)) << c.last_write;
    }
  }
}

TEST(MakeDiskSpaceFunctionsTest, CalendarKeys) {
  struct Case {
    TDateTime date;
    int iso_week, day_of_year;
  } cases[] = {
      {At(2026, 12, 10), 50, 344}, {At(2026, 12, 28, 0), 53, 362}, {At(2027, 1, 3, 23), 53, 3},
      {At(2027, 1, 4, 0), 1, 4},   {At(2024, 12, 30), 1, 365},     {At(2024, 12, 31), 1, 366},
      {At(2021, 1, 3), 53, 3},     {At(2026, 1, 1, 0), 1, 1},      {At(2022, 1, 2), 52, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsoWeekOfYear(c.date), c.iso_week) << DecodeDateTime(c.date).year;
    EXPECT_EQ(DayOfTheYear(c.date), c.day_of_year) << DecodeDateTime(c.date).year;
  }
}

}  // namespace
}  // namespace vantry
