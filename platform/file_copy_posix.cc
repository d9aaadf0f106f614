#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_copy.h"
#include "platform/file_posix.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/temporary_files.h"

namespace vantry {
namespace {

// Copies the data of `from` into `to` from their current positions to the end of `from`.
void CopyData(int from, int to) {
  for (;;) {
    ssize_t n = RetryOnEintr(
        [&] { return ::copy_file_range(from, nullptr, to, nullptr, size_t{1} << 30, 0); });
    if (n == 0) return;
    if (n > 0) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
      RaiseErrno(errno);
    }
    break;  // the kernel cannot copy between these files: copy through a buffer
  }
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = RetryOnEintr([&] { return ::read(from, buffer, sizeof(buffer)); });
    if (n < 0) RaiseErrno(errno);
    if (n == 0) return;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = RetryOnEintr([&] { return ::write(to, buffer + done, n - done); });
      if (w < 0) RaiseErrno(errno);
      done += w;
    }
  }
}

// The existing target opened as a copy onto it opens it, for writing without sharing but not
// truncated: refused as that open is, and held so that no other open begins. nullptr when there
// is no such file (its directory missing is still an error, 3, as for that open).
std::unique_ptr<PosixFile> HoldExistingTarget(const std::string& host_path) {
  try {
    return OpenHostFile(host_path, FileAccess::kWrite, FileShare::kNone,
                        FileDisposition::kOpenExisting);
  } catch (const EOSError& e) {
    if (e.ErrorCode() == kErrorFileNotFound) return nullptr;
    throw;
  }
}

// A fresh temporary file for `to`, created without sharing; sets `*host_path` to its host path.
std::unique_ptr<PosixFile> CreateTemporaryFile(PosixFileSystem& file_system, const std::string& to,
                                               std::string* host_path) {
  std::unique_ptr<PosixFile> file;
  CreateUnderFreshName([&](uint32_t number) { return TemporaryNameFor(to, number); },
                       [&](const std::string& name) {
                         *host_path = file_system.HostPath(name);
                         file = OpenHostFile(*host_path, FileAccess::kWrite, FileShare::kNone,
                                             FileDisposition::kCreateNew);
                       });
  return file;
}

}  // namespace

void CopyHostFile(PosixFileSystem& file_system, const std::string& from_host,
                  const std::string& to, const std::string& to_host, bool replace) {
  // Only files are copied: reading a pipe would wait for a writer forever, and a device such as
  // /dev/zero never ends, filling the target's disk behind the back of the space test. Writing
  // onto a pipe would wait for a reader forever.
  for (const std::string* host_path : {&from_host, &to_host}) {
    struct stat st;
    if (::stat(host_path->c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
      RaiseOSError(kErrorAccessDenied);
    }
  }
  std::unique_ptr<PosixFile> source =
      OpenHostFile(from_host, FileAccess::kRead, FileShare::kRead, FileDisposition::kOpenExisting);
  std::unique_ptr<PosixFile> held = HoldExistingTarget(to_host);
  // A temporary file still open belongs to a copy to the same name under way, which holds the
  // name as this copy would.
  if (!RemoveLeftoverTemporaryFiles(file_system, to)) RaiseOSError(kErrorSharingViolation);
  std::string temporary_host;
  std::unique_ptr<PosixFile> temporary = CreateTemporaryFile(file_system, to, &temporary_host);
  bool renamed = false;
  try {
    CopyData(source->fd(), temporary->fd());
    struct stat st;
    if (::fstat(source->fd(), &st) != 0) RaiseErrno(errno);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(temporary->fd(), times) != 0) RaiseErrno(errno);
    temporary->Flush();
    // Read-only only now: a leftover that is read-only could not be removed by the next copy.
    ::fchmod(temporary->fd(), st.st_mode & 07777);
    // A target that appeared during the copy is refused or held as one there from the start.
    if (held == nullptr) held = HoldExistingTarget(to_host);
    int error = replace ? (::rename(temporary_host.c_str(), to_host.c_str()) == 0 ? 0 : errno)
                        : RenameNoReplace(temporary_host, to_host);
    if (error != 0) RaiseErrno(error, OsOperation::kRename, to_host);
    renamed = true;
    SyncHostDirectoryOf(to_host);
    temporary->Close();
  } catch (...) {
    temporary.reset();
    if (!renamed) ::unlink(temporary_host.c_str());
    throw;
  }
}

void SyncHostDirectoryOf(const std::string& host_path) {
  std::string dir = HostDirectoryOf(host_path);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) RaiseErrno(errno, OsOperation::kOther, dir);
  int result = ::fsync(fd);
  int error = errno;
  ::close(fd);
  if (result != 0 && error != EINVAL) RaiseErrno(error);  // EINVAL: no sync for directories here
}

// File systems without RENAME_NOREPLACE get link + unlink, which fails on an existing name just
// as atomically.
int RenameNoReplace(const std::string& from_host, const std::string& to_host) {
  if (::renameat2(AT_FDCWD, from_host.c_str(), AT_FDCWD, to_host.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;
  if (::lstat(from_host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    // Directories cannot be linked; the check and the rename are not atomic here.
    if (::lstat(to_host.c_str(), &st) == 0) return EEXIST;
    return ::rename(from_host.c_str(), to_host.c_str()) == 0 ? 0 : errno;
  }
  if (::link(from_host.c_str(), to_host.c_str()) != 0) return errno;
  if (::unlink(from_host.c_str()) != 0) {
    int error = errno;
    ::unlink(to_host.c_str());
    return error;
  }
  return 0;
}

}  // namespace vantry
