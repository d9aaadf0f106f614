#include "platform/directory_cache.h"

#include <algorithm>

namespace vantry {

bool ListingMayBeKept(const DirectoryTimes& times, int64_t read_start, int64_t coarse_tick) {
  constexpr int64_t kSecond = 1000000000;
  // How long after a change its timestamp may still be handed out again: a tick of the coarse
  // clock twice over, plus the file system's own granularity, which shows in whole-second times
  // (1 s on small-inode ext, 2 s on FAT-like systems).
  bool whole_seconds = times.change % kSecond == 0 && times.modification % kSecond == 0;
  int64_t window = 2 * std::max<int64_t>(coarse_tick, 1000000) +
                   (whole_seconds ? 2 * kSecond : int64_t{1000000});
  return read_start - times.change > window && read_start - times.modification > window;
}

}  // namespace vantry
