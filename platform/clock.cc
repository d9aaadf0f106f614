#include "platform/clock.h"

#include <cmath>

namespace vantry {
namespace {

constexpr int64_t kMsPerDay = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (*month <= 2));
}

const int64_t kEpochDay = DaysFromCivil(1899, 12, 30);

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// A day count and a time of day joined the way date-times are: the fraction always counts
// forward from midnight, so for days before the epoch it is subtracted.
TDateTime Combine(int64_t days, double time_of_day) {
  return days >= 0 ? static_cast<double>(days) + time_of_day
                   : static_cast<double>(days) - time_of_day;
}

}  // namespace

TDateTime EncodeDateTime(const DateTimeParts& p) {
  int64_t days =
      DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) -
      kEpochDay;
  int64_t ms = ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond;
  return Combine(days, static_cast<double>(ms) / kMsPerDay);
}

DateTimeParts DecodeDateTime(TDateTime value) {
  double whole = std::trunc(value);
  int64_t time_ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  int64_t moment = static_cast<int64_t>(whole) * kMsPerDay + time_ms;
  int64_t day = FloorDiv(moment, kMsPerDay);
  int64_t ms = moment - day * kMsPerDay;
  DateTimeParts parts;
  CivilFromDays(day + kEpochDay, &parts.year, &parts.month, &parts.day);
  parts.hour = static_cast<int>(ms / 3600000);
  parts.minute = static_cast<int>(ms / 60000 % 60);
  parts.second = static_cast<int>(ms / 1000 % 60);
  parts.millisecond = static_cast<int>(ms % 1000);
  return parts;
}

std::optional<uint32_t> DateTimeToDosDateTime(TDateTime value) {
  DateTimeParts p = DecodeDateTime(value);
  if (p.year < 1980 || p.year > 2107) return std::nullopt;
  uint32_t date = static_cast<uint32_t>((p.year - 1980) << 9 | p.month << 5 | p.day);
  uint32_t time = static_cast<uint32_t>(p.hour << 11 | p.minute << 5 | p.second / 2);
  return date << 16 | time;
}

TDateTime DosDateTimeToDateTime(uint32_t dos_date_time) {
  uint32_t date = dos_date_time >> 16;
  uint32_t time = dos_date_time & 0xFFFF;
  DateTimeParts p;
  p.year = static_cast<int>(1980 + (date >> 9));
  p.month = static_cast<int>((date >> 5) & 0x0F);
  p.day = static_cast<int>(date & 0x1F);
  p.hour = static_cast<int>(time >> 11);
  p.minute = static_cast<int>((time >> 5) & 0x3F);
  p.second = static_cast<int>((time & 0x1F) * 2);
  return EncodeDateTime(p);
}

}  // namespace vantry
