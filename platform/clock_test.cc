#include "platform/clock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>

namespace vantry {
namespace {

TEST(DateTimeTest, EncodeAndDecodeTable) {
  struct Case {
    DateTimeParts parts;
    TDateTime value;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},    {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      {{2000, 1, 1, 12, 0, 0, 0}, 36526.5}, {{2024, 2, 29, 18, 0, 0, 0}, 45351.75},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // the fraction counts forward from midnight
      {{1899, 12, 28, 18, 0, 0, 0}, -2.75},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.parts), c.value) << c.value;
    DateTimeParts p = DecodeDateTime(c.value);
    EXPECT_EQ(p.year, c.parts.year) << c.value;
    EXPECT_EQ(p.month, c.parts.month) << c.value;
    EXPECT_EQ(p.day, c.parts.day) << c.value;
    EXPECT_EQ(p.hour, c.parts.hour) << c.value;
  }
  DateTimeParts ms = DecodeDateTime(EncodeDateTime({2023, 12, 31, 23, 59, 59, 999}));
  EXPECT_EQ(ms.second, 59);
  EXPECT_EQ(ms.millisecond, 999);
  EXPECT_EQ(ms.day, 31);
}

TEST(DateTimeTest, DosDateTimePacking) {
  struct Case {
    DateTimeParts parts;
    std::optional<uint32_t> packed;
  } cases[] = {
      {{1980, 1, 1, 0, 0, 0, 0}, 0x00210000},
      {{2107, 12, 31, 23, 59, 58, 0}, 0xFF9FBF7D},
      {{2024, 6, 15, 13, 45, 31, 0}, (44u << 9 | 6 << 5 | 15) << 16 | (13u << 11 | 45 << 5 | 15)},
      {{1979, 12, 31, 23, 59, 59, 0}, std::nullopt},
      {{2108, 1, 1, 0, 0, 0, 0}, std::nullopt},
      {{1970, 1, 1, 0, 0, 0, 0}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateTimeToDosDateTime(EncodeDateTime(c.parts)), c.packed) << c.parts.year;
  }
  // Two-second resolution: odd seconds round down.
  EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(0x00210000 | 15),
                   EncodeDateTime({1980, 1, 1, 0, 0, 30, 0}));
}

class TimeZoneTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* tz = ::getenv("TZ");
    saved_ = tz ? std::optional<std::string>(tz) : std::nullopt;
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  void Use(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  std::optional<std::string> saved_;
};

TEST_F(TimeZoneTest, LocalTimeFollowsTZ) {
  constexpr int64_t kMidsummerNoonUtc = 1718452800;  // 2024-06-15 12:00:00 UTC
  Use("UTC0");
  EXPECT_DOUBLE_EQ(UnixToLocalDateTime(kMidsummerNoonUtc),
                   EncodeDateTime({2024, 6, 15, 12, 0, 0, 0}));
  Use("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_DOUBLE_EQ(UnixToLocalDateTime(kMidsummerNoonUtc),
                   EncodeDateTime({2024, 6, 15, 14, 0, 0, 0}));
  EXPECT_EQ(LocalDateTimeToUnix(EncodeDateTime({2024, 6, 15, 14, 0, 0, 0})), kMidsummerNoonUtc);
  EXPECT_NEAR(
      UnixToLocalDateTime(kMidsummerNoonUtc, 500000000) - UnixToLocalDateTime(kMidsummerNoonUtc),
      0.5 / 86400, 1e-9);
}

TEST(ClockTest, SystemClockIsNowAndFixedClockIsSet) {
  SystemClock system;
  TDateTime now = system.Now();
  EXPECT_NEAR(now, UnixToLocalDateTime(::time(nullptr)), 5.0 / 86400);
  FixedClock fixed(EncodeDateTime({2024, 1, 1, 22, 59, 0, 0}));
  const Clock& clock = fixed;
  EXPECT_EQ(DecodeDateTime(clock.Now()).hour, 22);
  fixed.Set(0);
  EXPECT_EQ(clock.Now(), 0);
}

}  // namespace
}  // namespace vantry
