#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/file_share.h"
#include "platform/os_error.h"

namespace vantry {
namespace {

std::atomic<bool> g_marker_locks{true};

// Marker bytes: this open reads / writes / refuses readers / refuses writers.
constexpr off_t kMarkerBase = 0x7FFFFFFFFFFFFF00;
enum Marker { kHasRead = 0, kHasWrite = 1, kDeniesRead = 2, kDeniesWrite = 3, kMarkerCount = 4 };

bool Has(FileAccess access, int bit) { return (static_cast<int>(access) & bit) != 0; }
bool Allows(FileShare share, int bit) { return (static_cast<int>(share) & bit) != 0; }
constexpr int kRead = 1;
constexpr int kWrite = 2;

struct OpenRecord {
  uint64_t id;
  FileAccess access;
  FileShare share;
};

// Windows' rule: each open's access must be allowed by every other open's share mode.
bool Conflicts(const OpenRecord& a, FileAccess access, FileShare share) {
  return (Has(access, kRead) && !Allows(a.share, kRead)) ||
         (Has(access, kWrite) && !Allows(a.share, kWrite)) ||
         (Has(a.access, kRead) && !Allows(share, kRead)) ||
         (Has(a.access, kWrite) && !Allows(share, kWrite));
}

class OpenTable {
 public:
  static OpenTable& Instance() {
    static OpenTable* table = new OpenTable;  // lives until the process ends
    return *table;
  }

  // Adds an open unless it conflicts; returns its id, or 0 on a conflict.
  uint64_t Add(uint64_t device, uint64_t inode, FileAccess access, FileShare share) {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<OpenRecord>& opens = opens_[{device, inode}];
    for (const OpenRecord& open : opens) {
      if (Conflicts(open, access, share)) return 0;
    }
    opens.push_back({++last_id_, access, share});
    return last_id_;
  }

  void Remove(uint64_t device, uint64_t inode, uint64_t id) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = opens_.find({device, inode});
    if (it == opens_.end()) return;
    std::erase_if(it->second, [id](const OpenRecord& r) { return r.id == id; });
    if (it->second.empty()) opens_.erase(it);
  }

  bool AnyOpen(uint64_t device, uint64_t inode) {
    std::lock_guard<std::mutex> lock(mu_);
    return opens_.count({device, inode}) != 0;
  }

 private:
  std::mutex mu_;
  std::map<std::pair<uint64_t, uint64_t>, std::vector<OpenRecord>> opens_;  // guarded by mu_
  uint64_t last_id_ = 0;                                                    // guarded by mu_
};

bool SetMarker(int fd, int marker, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkerBase + marker;
  lock.l_len = 1;
  return RetryOnEintr([&] { return ::fcntl(fd, F_OFD_SETLK, &lock); }) == 0;
}

// True when an open file description other than fd's holds a lock on the marker.
bool OthersHoldMarker(int fd, int marker) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkerBase + marker;
  lock.l_len = 1;
  if (RetryOnEintr([&] { return ::fcntl(fd, F_OFD_GETLK, &lock); }) != 0) return false;
  return lock.l_type != F_UNLCK;
}

void ClearMarkers(int fd) {
  struct flock lock = {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkerBase;
  lock.l_len = kMarkerCount;
  ::fcntl(fd, F_OFD_SETLK, &lock);
}

// Publishes this open's markers, then looks for other processes' opens it conflicts with.
// Marker locks are shared locks, so publishing never blocks; a file system without lock support
// leaves only the in-process table in force.
bool PublishMarkers(int fd, FileAccess access, FileShare share) {
  bool wants[kMarkerCount] = {Has(access, kRead), Has(access, kWrite), !Allows(share, kRead),
                              !Allows(share, kWrite)};
  for (int m = 0; m < kMarkerCount; ++m) {
    if (wants[m] && !SetMarker(fd, m, F_RDLCK)) return true;  // no locks here: nothing to see
  }
  bool conflict = (wants[kHasRead] && OthersHoldMarker(fd, kDeniesRead)) ||
                  (wants[kHasWrite] && OthersHoldMarker(fd, kDeniesWrite)) ||
                  (wants[kDeniesRead] && OthersHoldMarker(fd, kHasRead)) ||
                  (wants[kDeniesWrite] && OthersHoldMarker(fd, kHasWrite));
  if (conflict) ClearMarkers(fd);
  return !conflict;
}

// A readable descriptor of the same file for the shared marker locks (which need read access):
// `fd` itself when it can read, else a fresh read-only open; -1 when there is none.
int LockDescriptor(int fd, FileAccess access, bool* owned) {
  *owned = false;
  if (Has(access, kRead)) return fd;
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  int reopened = ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  *owned = reopened >= 0;
  return reopened;
}

}  // namespace

ShareLease::ShareLease(ShareLease&& other) noexcept { *this = std::move(other); }

ShareLease& ShareLease::operator=(ShareLease&& other) noexcept {
  if (this != &other) {
    Release();
    device_ = other.device_;
    inode_ = other.inode_;
    id_ = std::exchange(other.id_, 0);
    lock_fd_ = std::exchange(other.lock_fd_, -1);
    owns_lock_fd_ = std::exchange(other.owns_lock_fd_, false);
  }
  return *this;
}

void ShareLease::Release() noexcept {
  if (id_ == 0) return;
  if (lock_fd_ >= 0) {
    ClearMarkers(lock_fd_);
    if (owns_lock_fd_) ::close(lock_fd_);
  }
  OpenTable::Instance().Remove(device_, inode_, id_);
  id_ = 0;
  lock_fd_ = -1;
  owns_lock_fd_ = false;
}

ShareLease AcquireShare(int fd, FileAccess access, FileShare share) {
  ShareLease lease;
  if (access == FileAccess::kNone) return lease;
  struct stat st;
  if (::fstat(fd, &st) != 0) RaiseErrno(errno);
  lease.device_ = st.st_dev;
  lease.inode_ = st.st_ino;
  lease.id_ = OpenTable::Instance().Add(st.st_dev, st.st_ino, access, share);
  if (lease.id_ == 0) RaiseOSError(kErrorSharingViolation);
  if (!g_marker_locks.load()) return lease;
  lease.lock_fd_ = LockDescriptor(fd, access, &lease.owns_lock_fd_);
  if (lease.lock_fd_ >= 0 && !PublishMarkers(lease.lock_fd_, access, share)) {
    RaiseOSError(kErrorSharingViolation);  // the lease's destructor withdraws it
  }
  return lease;
}

void SetShareMarkerLocks(bool enabled) { g_marker_locks.store(enabled); }

void CheckNotOpenForData(const std::string& host_path) {
  struct stat st;
  if (::lstat(host_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (OpenTable::Instance().AnyOpen(st.st_dev, st.st_ino)) RaiseOSError(kErrorSharingViolation);
  int fd = ::open(host_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return;
  bool open_elsewhere = OthersHoldMarker(fd, kHasRead) || OthersHoldMarker(fd, kHasWrite);
  ::close(fd);
  if (open_elsewhere) RaiseOSError(kErrorSharingViolation);
}

}  // namespace vantry
