#include "host/backup_permissions.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/codepage.h"
#include "platform/exception.h"

namespace vantry {
namespace {

constexpr double kMinutesPerDay = 1440.0;

// The name part of an entry: the text before its last "=".
std::string_view EntryName(std::string_view entry) {
  size_t equals = entry.rfind('=');
  return equals == std::string_view::npos ? entry : entry.substr(0, equals);
}

std::string_view EntryValue(std::string_view entry) {
  size_t equals = entry.rfind('=');
  return equals == std::string_view::npos ? std::string_view() : entry.substr(equals + 1);
}

}  // namespace

bool IsHourInBackupPeriod(int hour, int32_t start_hour, int32_t end_hour) {
  if (start_hour > end_hour) return hour >= start_hour || hour <= end_hour;
  return start_hour <= hour && hour <= end_hour;
}

std::string FormatPermissionTime(TDateTime time) {
  // fmt never consults the locale unless asked to, so the separator is always ".".
  return fmt::format("{:.15g}", time);
}

std::optional<TDateTime> ParsePermissionTime(std::string_view text) {
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<size_t> TBackupPermissionRegistry::Find(std::string_view name) const {
  for (size_t i = 0; i < entries_.Count(); ++i) {
    if (AnsiSameText(EntryName(entries_[i]), name)) return i;
  }
  return std::nullopt;
}

void TBackupPermissionRegistry::Add(const std::string& name, TDateTime now) {
  if (Find(name)) throw Exception("You can't ask for the same permission twice");
  entries_.Add(name + "=" + FormatPermissionTime(now));
}

bool TBackupPermissionRegistry::Remove(std::string_view name) {
  std::optional<size_t> index = Find(name);
  if (!index) return false;
  entries_.Delete(*index);
  return true;
}

void TBackupPermissionRegistry::Expire(int32_t max_minutes, TDateTime now) {
  for (size_t i = entries_.Count(); i-- > 0;) {
    std::optional<TDateTime> granted = ParsePermissionTime(EntryValue(entries_[i]));
    double minutes = granted ? std::trunc(std::fabs(now - *granted) * kMinutesPerDay) : NAN;
    // A time that does not read back, or lies too far off to count in minutes, cannot be
    // judged; such an entry would otherwise hold its place for ever.
    bool unreadable = !(minutes < static_cast<double>(std::numeric_limits<int64_t>::max()));
    if (unreadable || static_cast<int64_t>(minutes) > max_minutes) entries_.Delete(i);
  }
}

}  // namespace vantry
