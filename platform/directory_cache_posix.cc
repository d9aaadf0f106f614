#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/directory_cache.h"

namespace vantry {
namespace {

// Bounds of the cache: a few dozen backup directories, and not more names than a few tens of
// megabytes hold; a directory above the bound is read every time, as before.
constexpr size_t kMaxCachedDirectories = 64;
constexpr size_t kMaxCachedNames = 200000;

// File systems whose directory times change with every change of an entry, on this machine.
constexpr long kReliableFileSystems[] = {
    0xEF53,      // ext2, ext3, ext4
    0x58465342,  // xfs
    0x9123683E,  // btrfs
    0x01021994,  // tmpfs
    0xF2F52010,  // f2fs
    0x2FC12FC1,  // zfs
    0x794C7630,  // overlayfs (changes go through it to the upper layer)
};

std::atomic<uint64_t> read_count{0};

int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The resolution of the kernel's coarse clock, which stamps changes.
int64_t CoarseClockTick() {
  static const int64_t tick = [] {
    struct timespec res = {0, 10000000};
    clock_getres(CLOCK_REALTIME_COARSE, &res);
    return Nanoseconds(res);
  }();
  return tick;
}

bool Reliable(int dir_fd) {
  struct statfs fs;
  if (fstatfs(dir_fd, &fs) != 0) return false;
  return std::find(std::begin(kReliableFileSystems), std::end(kReliableFileSystems),
                   static_cast<long>(fs.f_type)) != std::end(kReliableFileSystems);
}

struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec ctime = {};
  struct timespec mtime = {};

  static Stamp Of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_ctim, st.st_mtim}; }
  bool operator==(const Stamp& o) const {
    return device == o.device && inode == o.inode && SameTime(ctime, o.ctime) &&
           SameTime(mtime, o.mtime);
  }
};

class DirectoryCache {
 public:
  static DirectoryCache& Instance() {
    static DirectoryCache* cache = new DirectoryCache;  // lives until the process ends
    return *cache;
  }

  std::shared_ptr<const DirectoryListing> Find(const std::string& host_dir, const Stamp& stamp) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = entries_.find(host_dir);
    if (it == entries_.end()) return nullptr;
    if (!(it->second.stamp == stamp)) {
      Erase(it);
      return nullptr;
    }
    order_.splice(order_.begin(), order_, it->second.position);  // most recently used first
    return it->second.listing;
  }

  void Store(const std::string& host_dir, const Stamp& stamp,
             std::shared_ptr<const DirectoryListing> listing) {
    std::lock_guard<std::mutex> lock(mu_);
    if (auto it = entries_.find(host_dir); it != entries_.end()) Erase(it);
    if (listing->size() > kMaxCachedNames) return;
    while (!order_.empty() &&
           (entries_.size() >= kMaxCachedDirectories || names_ + listing->size() > kMaxCachedNames)) {
      Erase(entries_.find(order_.back()));
    }
    order_.push_front(host_dir);
    names_ += listing->size();
    entries_[host_dir] = Entry{stamp, std::move(listing), order_.begin()};
  }

  void Forget(const std::string& host_dir) {
    std::lock_guard<std::mutex> lock(mu_);
    if (auto it = entries_.find(host_dir); it != entries_.end()) Erase(it);
  }

 private:
  struct Entry {
    Stamp stamp;
    std::shared_ptr<const DirectoryListing> listing;
    std::list<std::string>::iterator position;
  };

  void Erase(std::unordered_map<std::string, Entry>::iterator it) {
    names_ -= it->second.listing->size();
    order_.erase(it->second.position);
    entries_.erase(it);
  }

  std::mutex mu_;
  std::unordered_map<std::string, Entry> entries_;  // guarded by mu_
  std::list<std::string> order_;                    // guarded by mu_: most recently used first
  size_t names_ = 0;                                // guarded by mu_: names in all listings
};

bool NameLess(const DirectoryListing::Name& a, const DirectoryListing::Name& b) {
  return a.upper != b.upper ? a.upper < b.upper : a.ansi < b.ansi;
}

// Reads the names of the open directory `dir_fd` (which it closes).
std::vector<DirectoryListing::Name> ReadNames(int dir_fd) {
  std::vector<DirectoryListing::Name> names;
  DIR* dir = ::fdopendir(dir_fd);
  if (dir == nullptr) {
    ::close(dir_fd);
    return names;
  }
  while (struct dirent* d = ::readdir(dir)) {
    std::string ansi = Utf8ToAnsi(d->d_name);
    std::string upper = AnsiUpperCase(ansi);
    names.push_back({std::move(upper), std::move(ansi), d->d_name});
  }
  ::closedir(dir);
  read_count.fetch_add(1, std::memory_order_relaxed);
  return names;
}

}  // namespace

DirectoryListing::DirectoryListing(std::vector<Name> names, bool sort)
    : names_(std::move(names)), sorted_(sort) {
  if (sorted_) std::sort(names_.begin(), names_.end(), NameLess);
}

std::vector<const DirectoryListing::Name*> DirectoryListing::WithPrefix(
    std::string_view upper_prefix) const {
  std::vector<const Name*> found;
  if (sorted_) {
    auto first = std::lower_bound(names_.begin(), names_.end(), upper_prefix,
                                  [](const Name& n, std::string_view p) { return n.upper < p; });
    for (auto it = first; it != names_.end() && it->upper.starts_with(upper_prefix); ++it) {
      found.push_back(&*it);
    }
    return found;
  }
  for (const Name& n : names_) {
    if (n.upper.starts_with(upper_prefix)) found.push_back(&n);
  }
  std::sort(found.begin(), found.end(), [](const Name* a, const Name* b) { return NameLess(*a, *b); });
  return found;
}

const DirectoryListing::Name* DirectoryListing::FindUpper(std::string_view upper) const {
  const Name* best = nullptr;
  auto consider = [&](const Name& n) {
    if (n.upper == upper && (best == nullptr || n.host < best->host)) best = &n;
  };
  if (sorted_) {
    auto it = std::lower_bound(names_.begin(), names_.end(), upper,
                               [](const Name& n, std::string_view p) { return n.upper < p; });
    for (; it != names_.end() && it->upper == upper; ++it) consider(*it);
  } else {
    for (const Name& n : names_) consider(n);
  }
  return best;
}

std::shared_ptr<const DirectoryListing> ListHostDirectory(const std::string& host_dir) {
  DirectoryCache& cache = DirectoryCache::Instance();
  struct stat before;
  if (::stat(host_dir.c_str(), &before) != 0 || !S_ISDIR(before.st_mode)) {
    cache.Forget(host_dir);
    return nullptr;
  }
  Stamp stamp = Stamp::Of(before);
  if (auto listing = cache.Find(host_dir, stamp)) return listing;

  // The clock is read before the directory: every change made after this moment is stamped with
  // a later time than `before` unless `before` lies within the racy window of it.
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  int dir_fd = ::open(host_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return nullptr;
  struct stat opened;
  DirectoryTimes times = {Nanoseconds(before.st_ctim), Nanoseconds(before.st_mtim)};
  bool cacheable = ::fstat(dir_fd, &opened) == 0 && Stamp::Of(opened) == stamp &&
                   ListingMayBeKept(times, Nanoseconds(now), CoarseClockTick()) &&
                   Reliable(dir_fd);
  auto listing = std::make_shared<const DirectoryListing>(ReadNames(dir_fd), cacheable);
  if (cacheable) cache.Store(host_dir, stamp, listing);
  return listing;
}

uint64_t DirectoryReadCount() { return read_count.load(std::memory_order_relaxed); }

}  // namespace vantry
