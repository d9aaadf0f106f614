// The backup-permission registry: the permissions held by running backups, as entries of the
// form name=time, where time is the local date-time of the grant written as a decimal day count.
// Entries are kept sorted by their text without regard to case; an entry is found by the text
// before its last "=" (the time never holds one, so a name that contains "=" is found too),
// compared without regard to case in Windows-1252. Nothing is stored on disk or sent to callers.
//
// Thread safety: none of its own. The host calls every method under the host lock, which makes
// the test of the limit and the addition one atomic step.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/string_lists.h"
#include "platform/clock.h"

namespace vantry {

// Whether `hour` (0..23) lies in the period from `start_hour` to `end_hour`, both whole hours
// included; a start after the end spans midnight.
bool IsHourInBackupPeriod(int hour, int32_t start_hour, int32_t end_hour);

// The entry's time text: 15 significant digits, "." as decimal separator whatever the locale.
std::string FormatPermissionTime(TDateTime time);
// The time of an entry's value; nullopt when the text is not a whole decimal number.
std::optional<TDateTime> ParsePermissionTime(std::string_view text);

class TBackupPermissionRegistry {
 public:
  // Adds name=`now` unless `name` already holds a permission: then throws Exception "You can't
  // ask for the same permission twice" and changes nothing.
  void Add(const std::string& name, TDateTime now);
  // Removes the permission of `name`; false when there is none.
  bool Remove(std::string_view name);
  // Whether `name` holds a permission.
  bool Contains(std::string_view name) const { return Find(name).has_value(); }
  // Removes, from the last entry to the first, every entry older than `max_minutes` whole
  // minutes at `now`, and every entry whose time cannot be read back.
  void Expire(int32_t max_minutes, TDateTime now);

  size_t Count() const { return entries_.Count(); }
  void Clear() { entries_.Clear(); }
  // The entry texts in list order, for diagnostics and tests.
  const std::vector<std::string>& Entries() const { return entries_.Items(); }

 private:
  std::optional<size_t> Find(std::string_view name) const;

  TSortedTextList entries_;
};

}  // namespace vantry
