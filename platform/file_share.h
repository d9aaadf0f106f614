// Windows share modes on a Linux host, for the opens of PosixFileSystem. An open with data
// access (read and/or write) takes a share lease on its file; a later open of the same file
// conflicts when either open's access is not allowed by the other's share mode, and then fails
// with Win32 error 32. Leases are kept in a process-wide table keyed by device and inode (so
// threads of this process are ordered exactly) and published to other processes as
// open-file-description locks on marker bytes far beyond any real data, so two instances on one
// machine respect each other's modes too. Two processes that open the same file at the very
// same moment may both be refused; they are never both admitted against each other's modes.
//
// Thread safety: all functions are safe from any thread. A ShareLease belongs to its File.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace vantry {

class ShareLease {
 public:
  ShareLease() = default;  // holds nothing
  ShareLease(ShareLease&& other) noexcept;
  ShareLease& operator=(ShareLease&& other) noexcept;
  ShareLease(const ShareLease&) = delete;
  ShareLease& operator=(const ShareLease&) = delete;
  ~ShareLease() { Release(); }

  // Gives the lease up: other opens no longer see it. Never throws; harmless when empty.
  void Release() noexcept;

 private:
  friend ShareLease AcquireShare(int fd, FileAccess access, FileShare share);

  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  uint64_t id_ = 0;   // 0: empty lease
  int lock_fd_ = -1;  // descriptor that carries the marker locks; not owned unless below
  bool owns_lock_fd_ = false;
};

// The lease of a new open, with `access` and `share`, of the file open as `fd` (which must stay
// open while the lease lives). An open without data access (FileAccess::kNone) gets an empty
// lease and never conflicts. Throws EOSError 32 on a conflict.
ShareLease AcquireShare(int fd, FileAccess access, FileShare share);

// Whether new leases are also published as marker locks for other processes (the default), as
// on a file system with lock support. Tests switch it off to pin the in-process table's own
// rules, which the marker locks would otherwise enforce a second time.
void SetShareMarkerLocks(bool enabled);

// Throws EOSError 32 when the file at `host_path` is open with data access, here or in another
// process: Windows opens never share deletion, so such a file cannot be deleted or renamed.
// Does nothing when the file cannot be examined (the caller's own call reports that).
void CheckNotOpenForData(const std::string& host_path);

}  // namespace vantry
