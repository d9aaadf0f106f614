// Local time as the system counts it: a TDateTime is the fractional number of days since
// 1899-12-30 00:00 local time (the fraction is the time of day; before that day the integer part
// is negative and the fraction still counts forward from midnight, as -1.25 = 1899-12-29 06:00).
// Local time follows TZ. Also MS-DOS packed date/time (2-second resolution) and the injectable
// Clock.
//
// Thread safety: free functions are pure or use the reentrant C time functions; SystemClock is
// stateless. A fake clock's thread safety is its own business.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace vantry {

using TDateTime = double;

// 1/86 400 000 of a day: two date-times closer than this are the same moment.
inline constexpr double kOneMillisecond = 1.0 / 86400000.0;

struct DateTimeParts {
  int year = 1899;
  int month = 12;  // 1..12
  int day = 30;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Date-time of the given parts; the parts must be a valid date and time (not checked).
TDateTime EncodeDateTime(const DateTimeParts& parts);
// The parts of `value`, rounded to the nearest millisecond.
DateTimeParts DecodeDateTime(TDateTime value);

// Local date-time of an instant given as seconds and nanoseconds since the Unix epoch (UTC),
// with the offset TZ gives for that instant.
TDateTime UnixToLocalDateTime(int64_t unix_seconds, int32_t nanoseconds = 0);
// Seconds since the Unix epoch of a local date-time (the inverse, milliseconds dropped).
int64_t LocalDateTimeToUnix(TDateTime value);

// MS-DOS date and time packed as (date << 16) | time: date = (year-1980)<<9 | month<<5 | day,
// time = hour<<11 | minute<<5 | second/2 (odd seconds round down). nullopt when the year is
// outside 1980..2107.
std::optional<uint32_t> DateTimeToDosDateTime(TDateTime value);
// The date-time of a packed MS-DOS date and time.
TDateTime DosDateTimeToDateTime(uint32_t dos_date_time);

// The source of "now". Pass a Clock& to code that reads the time so tests can set it.
class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date-time.
  virtual TDateTime Now() const = 0;
};

// The real clock: CLOCK_REALTIME in local time.
class SystemClock : public Clock {
 public:
  TDateTime Now() const override;
};

// A clock that says what it was told; for tests. A test may set it while server threads read it.
class FixedClock : public Clock {
 public:
  explicit FixedClock(TDateTime now) : now_(now) {}
  TDateTime Now() const override { return now_.load(std::memory_order_relaxed); }
  void Set(TDateTime now) { now_.store(now, std::memory_order_relaxed); }

 private:
  std::atomic<TDateTime> now_;
};

}  // namespace vantry
