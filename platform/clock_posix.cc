#include <time.h>

#include "platform/clock.h"

namespace vantry {

TDateTime UnixToLocalDateTime(int64_t unix_seconds, int32_t nanoseconds) {
  time_t seconds = static_cast<time_t>(unix_seconds);
  struct tm local;
  if (::localtime_r(&seconds, &local) == nullptr) return 0;
  DateTimeParts parts{local.tm_year + 1900,
                      local.tm_mon + 1,
                      local.tm_mday,
                      local.tm_hour,
                      local.tm_min,
                      local.tm_sec,
                      0};
  TDateTime whole = EncodeDateTime(parts);
  double fraction = nanoseconds / 1e9 / 86400.0;
  return whole >= 0 ? whole + fraction : whole - fraction;
}

int64_t LocalDateTimeToUnix(TDateTime value) {
  DateTimeParts parts = DecodeDateTime(value);
  struct tm local = {};
  local.tm_year = parts.year - 1900;
  local.tm_mon = parts.month - 1;
  local.tm_mday = parts.day;
  local.tm_hour = parts.hour;
  local.tm_min = parts.minute;
  local.tm_sec = parts.second;
  local.tm_isdst = -1;
  return static_cast<int64_t>(::mktime(&local));
}

TDateTime SystemClock::Now() const {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return UnixToLocalDateTime(now.tv_sec, static_cast<int32_t>(now.tv_nsec));
}

}  // namespace vantry
