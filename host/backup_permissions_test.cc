#include "host/backup_permissions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <fstream>
#include <thread>
#include <vector>

#include "host/windows_service.h"
#include "platform/exception.h"
#include "platform/temp_dir.h"

namespace vantry {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr char kTwice[] = "You can't ask for the same permission twice";
constexpr double kMinute = 1.0 / 1440;

TDateTime At(int hour, int minute, int second = 0) {
  return EncodeDateTime({2026, 12, 10, hour, minute, second});
}

TEST(BackupPeriodTest, EndHourBelongsToThePeriodAsAWholeHour) {
  struct Case {
    int hour, start, end;
    bool inside;
  };
  for (const Case& c :
       {Case{22, 23, 5, false}, Case{23, 23, 5, true}, Case{0, 23, 5, true}, Case{5, 23, 5, true},
        Case{6, 23, 5, false}, Case{12, 23, 5, false}, Case{0, 1, 4, false}, Case{1, 1, 4, true},
        Case{4, 1, 4, true}, Case{5, 1, 4, false}, Case{7, 7, 7, true}, Case{8, 7, 7, false}}) {
    EXPECT_EQ(IsHourInBackupPeriod(c.hour, c.start, c.end), c.inside)
        << c.hour << " in " << c.start << ".." << c.end;
  }
}

TEST(PermissionTimeTest, FifteenDigitsWithAPointWhateverTheLocale) {
  // A locale with a decimal comma, where one is installed, must not change the text.
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous ? previous : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_EQ(FormatPermissionTime(46366.512345678912), "46366.5123456789");
  EXPECT_EQ(FormatPermissionTime(46366.5), "46366.5");
  EXPECT_EQ(FormatPermissionTime(46366), "46366");
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(ParsePermissionTime("46366.5123456789"), 46366.5123456789);
  EXPECT_EQ(ParsePermissionTime("-2.25"), -2.25);
  for (const char* bad : {"", "x", "46366,5", "46366.5 ", "1e999", "nan"}) {
    EXPECT_EQ(ParsePermissionTime(bad), std::nullopt) << bad;
  }
}

TEST(PermissionRegistryTest, NamesMatchWithoutRegardToCaseInWindows1252) {
  TBackupPermissionRegistry registry;
  registry.Add("D:\\Bak\\caf\xE9.fbk", At(23, 0));
  EXPECT_THAT([&] { registry.Add("d:\\BAK\\CAF\xC9.FBK", At(23, 1)); },
              ThrowsMessage<Exception>(StrEq(kTwice)));
  EXPECT_THAT(registry.Entries(),
              ElementsAre("D:\\Bak\\caf\xE9.fbk=" + FormatPermissionTime(At(23, 0))));
  EXPECT_FALSE(registry.Remove("D:\\Bak\\cafe.fbk"));
  EXPECT_TRUE(registry.Remove("D:\\BAK\\CAF\xC9.FBK"));
  EXPECT_EQ(registry.Count(), 0u);
}

// A name holding "=" is matched up to the last "=" of its entry, so it behaves like any other.
TEST(PermissionRegistryTest, NameWithEqualsSignIsFoundRefusedCompletedAndExpired) {
  TBackupPermissionRegistry registry;
  registry.Add("a=b", At(23, 0));
  registry.Add("a", At(23, 0));  // a different name
  EXPECT_TRUE(registry.Contains("A=B"));
  EXPECT_THAT([&] { registry.Add("a=b", At(23, 1)); }, ThrowsMessage<Exception>(StrEq(kTwice)));
  registry.Expire(60, At(23, 30));
  EXPECT_EQ(registry.Count(), 2u);  // still young: kept
  EXPECT_TRUE(registry.Remove("a=b"));
  EXPECT_TRUE(registry.Contains("a"));
  registry.Add("x=y=z", At(23, 0));
  registry.Expire(60, At(23, 0) + 61.02 * kMinute);
  EXPECT_EQ(registry.Count(), 0u);
}

// Elapsed times sit a little past whole minutes: day fractions do not hold minutes exactly.
TEST(PermissionRegistryTest, ExpiryCountsWholeMinutesAgainstTheMaximum) {
  struct Case {
    int32_t max_minutes;
    double elapsed_minutes;
    bool kept;
  };
  for (const Case& c :
       {Case{60, 60.99, true}, Case{60, 61.01, false}, Case{60, -61.01, false}, Case{0, 0.99, true},
        Case{0, 1.01, false}, Case{-1, 0.0, false}, Case{60, 0.0, true}}) {
    TBackupPermissionRegistry registry;
    registry.Add("db.fbk", At(23, 0));
    registry.Expire(c.max_minutes, At(23, 0) + c.elapsed_minutes * kMinute);
    EXPECT_EQ(registry.Count(), c.kept ? 1u : 0u)
        << c.max_minutes << " max, " << c.elapsed_minutes << " elapsed";
  }
}

// The host's operations, with settings from Vantry.ini and the clock where a test puts it.
class HostPermissionTest : public ::testing::Test {
 protected:
  HostPermissionTest()
      : file_system_(drives_),
        clock_(At(23, 30)),
        host_(THostOptions{home_.path(), 0, "127.0.0.1"}, drives_, file_system_, clock_) {}
  ~HostPermissionTest() override { host_.ServiceStop(); }

  void Start(const std::string& ini) {
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary) << ini;
    host_.ServiceStart();
  }
  std::pair<int32_t, int32_t> Granted() {
    int32_t granted = -1, max_limit = -1;
    EXPECT_TRUE(host_.BackupPermissionGranted(granted, max_limit));
    return {granted, max_limit};
  }

  TempDir home_;
  DriveMap drives_;
  PosixFileSystem file_system_;
  FixedClock clock_;
  TWindowsService host_;
};

TEST_F(HostPermissionTest, ScheduledRequestsOnlyInsideTheDefaultPeriod) {
  Start("[Vantry]\nAllowedBackups=5\n");
  struct Case {
    int hour, minute;
    bool granted;
  };
  for (const Case& c : {Case{22, 59, false}, Case{23, 0, true}, Case{5, 59, true},
                        Case{6, 0, false}, Case{12, 0, false}}) {
    clock_.Set(At(c.hour, c.minute, c.minute == 59 ? 59 : 0));
    EXPECT_EQ(host_.RequestBackupPermission(Format("db%d%d.fbk", c.hour, c.minute)), c.granted)
        << c.hour << ":" << c.minute;
  }
  EXPECT_EQ(Granted(), std::make_pair(2, 5));
}

TEST_F(HostPermissionTest, ConfiguredPeriodOnTheSameNight) {
  Start("[Vantry]\nAllowedBackups=5\nBackupPeriodStartHour=1\nBackupPeriodEndHour=4\n");
  clock_.Set(At(0, 59, 59));
  EXPECT_FALSE(host_.RequestBackupPermission("a"));
  clock_.Set(At(4, 59, 59));
  EXPECT_TRUE(host_.RequestBackupPermission("a"));
  clock_.Set(At(5, 0));
  EXPECT_FALSE(host_.RequestBackupPermission("b"));
}

TEST_F(HostPermissionTest, LimitIsTestedBeforeTheDuplicateAndFreedByCompletion) {
  Start("");  // AllowedBackups=1
  EXPECT_TRUE(host_.RequestBackupPermission("first.fbk"));
  EXPECT_FALSE(host_.RequestBackupPermission("second.fbk"));
  EXPECT_FALSE(host_.RequestBackupPermission("FIRST.FBK"));  // at the limit: false, no error
  EXPECT_THAT([&] { host_.RequestManualBackupPermission("First.fbk"); },
              ThrowsMessage<Exception>(StrEq(kTwice)));
  EXPECT_FALSE(host_.RequestBackupPermissionCompleted("unknown.fbk"));
  EXPECT_TRUE(host_.RequestBackupPermissionCompleted("first.FBK"));
  EXPECT_TRUE(host_.RequestBackupPermission("second.fbk"));
  EXPECT_THAT(host_.GetBackupPermissions(),
              ElementsAre("second.fbk=" + FormatPermissionTime(At(23, 30))));
}

TEST_F(HostPermissionTest, DuplicateInsideThePeriodBelowTheLimitFails) {
  Start("[Vantry]\nAllowedBackups=2\n");
  EXPECT_TRUE(host_.RequestBackupPermission("db.fbk"));
  EXPECT_THAT([&] { host_.RequestBackupPermission("DB.fbk"); },
              ThrowsMessage<Exception>(StrEq(kTwice)));
  EXPECT_EQ(Granted(), std::make_pair(1, 2));
}

TEST_F(HostPermissionTest, ManualRequestsIgnoreLimitAndPeriodButCountTowardsTheLimit) {
  Start("");
  clock_.Set(At(12, 0));
  EXPECT_TRUE(host_.RequestManualBackupPermission("a"));
  EXPECT_TRUE(host_.RequestManualBackupPermission("b"));
  EXPECT_EQ(Granted(), std::make_pair(2, 1));
  clock_.Set(At(23, 0));
  EXPECT_FALSE(host_.RequestBackupPermission("c"));
}

TEST_F(HostPermissionTest, NoScheduledPlaceWithALimitOfZeroOrLess) {
  for (const char* limit : {"0", "-1"}) {
    Start(std::string("[Vantry]\nAllowedBackups=") + limit + "\n");
    EXPECT_FALSE(host_.RequestBackupPermission("a")) << limit;
    EXPECT_TRUE(host_.RequestManualBackupPermission("a")) << limit;
    host_.ServiceStop();
  }
}

TEST_F(HostPermissionTest, TimerExpiresByTheSettingsOfTheLastContinue) {
  Start("");  // MaxBackupTimeMinutes=60
  EXPECT_TRUE(host_.RequestBackupPermission("a"));
  clock_.Set(At(23, 30) + 60.5 * kMinute);
  host_.timCleanUpTimer();
  EXPECT_EQ(Granted().first, 1);
  clock_.Set(At(23, 30) + 61.02 * kMinute);
  host_.timCleanUpTimer();
  EXPECT_EQ(Granted().first, 0);

  EXPECT_TRUE(host_.RequestManualBackupPermission("b"));
  std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary)
      << "[Vantry]\nMaxBackupTimeMinutes=-5\n";
  host_.ServicePause();
  EXPECT_FALSE(host_.CleanUpTimer().Enabled());  // paused: nothing expires
  host_.ServiceContinue();
  host_.timCleanUpTimer();
  EXPECT_THAT(host_.GetBackupPermissions(), IsEmpty());
}

TEST_F(HostPermissionTest, SixteenCallersRaceForTheLastPlaceAndOneWins) {
  Start("[Vantry]\nAllowedBackups=3\n");
  ASSERT_TRUE(host_.RequestManualBackupPermission("held1"));
  ASSERT_TRUE(host_.RequestManualBackupPermission("held2"));
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> winners{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> callers;
    for (int i = 0; i < 16; ++i) {
      callers.emplace_back([&, i] {
        while (!go.load()) std::this_thread::yield();
        if (host_.RequestBackupPermission(Format("r%d-%d.fbk", round, i))) ++winners;
      });
    }
    go = true;
    for (std::thread& caller : callers) caller.join();
    ASSERT_EQ(winners.load(), 1) << "round " << round;
    ASSERT_EQ(Granted().first, 3);
    std::vector<std::string> entries = host_.GetBackupPermissions();
    for (const std::string& entry : entries) {
      if (entry.starts_with("r"))
        host_.RequestBackupPermissionCompleted(entry.substr(0, entry.rfind('=')));
    }
  }
}

}  // namespace
}  // namespace vantry
