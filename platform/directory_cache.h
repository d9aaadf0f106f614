// Listings of host directories for the lookups that cannot ask the operating system for one
// name: a name in another letter case (path resolution) and the directory search. Reading a
// directory of thousands of backups for every such lookup is what made them slow, so listings
// are kept in a process-wide cache. Other processes may create, rename or delete names at any
// moment; a cached listing is therefore used only while the directory's device, inode, change
// time and modification time are those seen when it was read, and only when that read came
// later than the file system's timestamp granularity after the directory's last change (the
// "racy timestamp" rule: a change within the same timestamp tick as the read would leave the
// change time as it was). Directories on file systems whose times cannot be relied on (network
// and user-space file systems) are never cached. Internal to the platform layer.
//
// Thread safety: all functions are safe from any thread; listings are immutable once made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantry {

class DirectoryListing {
 public:
  struct Name {
    std::string upper;  // the Windows-1252 name upper-cased: the order and the match key
    std::string ansi;   // the Windows-1252 name
    std::string host;   // the name on disk (UTF-8)
  };

  // `names` as read from the directory; sorted here when `sort` is set.
  DirectoryListing(std::vector<Name> names, bool sort);

  // The names whose upper-cased form starts with `upper_prefix`, in the order FindFiles
  // delivers (by upper-cased name, then by name). Only the matching names are sorted.
  std::vector<const Name*> WithPrefix(std::string_view upper_prefix) const;
  // All names in FindFiles order.
  std::vector<const Name*> All() const { return WithPrefix(""); }
  // The first host name in byte order whose upper-cased form is `upper`, or nullptr.
  const Name* FindUpper(std::string_view upper) const;

  size_t size() const { return names_.size(); }

 private:
  std::vector<Name> names_;
  bool sorted_;
};

// The times of a directory that its stamp carries, in nanoseconds since 1970 (UTC).
struct DirectoryTimes {
  int64_t change = 0;        // of the inode's status (ctime)
  int64_t modification = 0;  // of the names in it (mtime)
};

// Whether a listing of a directory with `times`, whose reading began at `read_start` on the
// same clock, may be kept: only when the reading began more than the racy window after both
// times. The window is two ticks of the coarse clock that stamps changes (`coarse_tick`, in
// nanoseconds, at least 1 ms), plus 1 ms, or plus 2 s for times in whole seconds (file systems
// that keep no finer times).
bool ListingMayBeKept(const DirectoryTimes& times, int64_t read_start, int64_t coarse_tick);

// The listing of the host directory `host_dir`: the cached one while it is valid, else a fresh
// read (cached when the rule above allows). nullptr when the directory cannot be read.
std::shared_ptr<const DirectoryListing> ListHostDirectory(const std::string& host_dir);

// How many listings were read from disk so far (for tests of the cache).
uint64_t DirectoryReadCount();

}  // namespace vantry
