#include "platform/file_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/background_flush.h"
#include "platform/os_error.h"

namespace vantry {
namespace {

int OpenFlags(FileAccess access, FileDisposition disposition) {
  int flags = O_CLOEXEC;
  switch (access) {
    case FileAccess::kNone:
      // Attribute queries need no data access; a create still needs a real open.
      flags |= (disposition == FileDisposition::kOpenExisting) ? O_PATH : O_RDONLY;
      break;
    case FileAccess::kRead:
      flags |= O_RDONLY;
      break;
    case FileAccess::kWrite:
      flags |= O_WRONLY;
      break;
    case FileAccess::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  switch (disposition) {
    case FileDisposition::kCreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case FileDisposition::kCreateAlways:
    case FileDisposition::kOpenAlways:
      flags |= O_CREAT;
      break;
    case FileDisposition::kOpenExisting:
    case FileDisposition::kTruncateExisting:
      break;
  }
  return flags;
}

}  // namespace

PosixFile::PosixFile(int fd, FileAccess access, ShareLease lease)
    : fd_(fd), access_(access), lease_(std::move(lease)) {}

PosixFile::~PosixFile() {
  lease_.Release();
  if (fd_ >= 0) ::close(fd_);
}

void PosixFile::CheckOpen() const {
  if (fd_ < 0) RaiseOSError(kErrorInvalidHandle);
}

int64_t PosixFile::Read(void* buffer, int64_t count) {
  CheckOpen();
  if ((static_cast<int>(access_) & 1) == 0) RaiseOSError(kErrorAccessDenied);
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = RetryOnEintr([&] { return ::read(fd_, out + done, count - done); });
    if (n < 0) RaiseErrno(errno);
    if (n == 0) break;
    done += n;
  }
  return done;
}

void PosixFile::Write(const void* buffer, int64_t count) {
  CheckOpen();
  if ((static_cast<int>(access_) & 2) == 0) RaiseOSError(kErrorAccessDenied);
  const char* in = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = RetryOnEintr([&] { return ::write(fd_, in + done, count - done); });
    if (n < 0) RaiseErrno(errno);
    if (n == 0) RaiseOSError(kErrorDiskFull);
    done += n;
    written_ += n;
  }
}

int64_t PosixFile::Seek(int64_t offset, SeekOrigin origin) {
  CheckOpen();
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  off_t position = ::lseek(fd_, offset, kWhence[static_cast<int>(origin)]);
  if (position < 0) {
    if (errno == EINVAL) RaiseOSError(kErrorNegativeSeek);
    RaiseErrno(errno);
  }
  return position;
}

int64_t PosixFile::Size() {
  CheckOpen();
  struct stat st;
  if (::fstat(fd_, &st) != 0) RaiseErrno(errno);
  return st.st_size;
}

void PosixFile::SetSize(int64_t size) {
  CheckOpen();
  if ((static_cast<int>(access_) & 2) == 0) RaiseOSError(kErrorAccessDenied);
  if (size < 0) RaiseOSError(kErrorNegativeSeek);
  if (RetryOnEintr([&] { return ::ftruncate(fd_, size); }) != 0) RaiseErrno(errno);
}

void PosixFile::Flush() {
  CheckOpen();
  if (access_ == FileAccess::kNone) return;
  if (::fsync(fd_) != 0) RaiseErrno(errno);
  // A background flush that failed took the error the kernel had kept for this flush.
  if (int error = TakeBackgroundFlushError(fd_); error != 0) RaiseErrno(error);
}

void PosixFile::StartWriteBack() {
  if (fd_ < 0 || (static_cast<int>(access_) & 2) == 0) return;
  ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  // Once per kBackgroundFlushSpan of the file, however many objects wrote it: a write that
  // crossed a multiple of it asks for a flush of all written so far.
  off_t end = ::lseek(fd_, 0, SEEK_CUR);
  if (end > 0 && end / kBackgroundFlushSpan != (end - written_) / kBackgroundFlushSpan) {
    FlushInBackground(fd_);
  }
}

void PosixFile::Close() {
  if (fd_ < 0) return;
  lease_.Release();
  int fd = std::exchange(fd_, -1);
  // The descriptor is gone even when close reports an error (Linux never reuses it for a retry).
  if (::close(fd) != 0 && errno != EINTR) RaiseErrno(errno);
}

std::unique_ptr<PosixFile> OpenHostFile(const std::string& host_path, FileAccess access,
                                        FileShare share, FileDisposition disposition) {
  bool creates = disposition == FileDisposition::kCreateNew;
  int fd =
      RetryOnEintr([&] { return ::open(host_path.c_str(), OpenFlags(access, disposition), 0666); });
  if (fd < 0) {
    RaiseErrno(errno, creates ? OsOperation::kCreateFile : OsOperation::kOther, host_path);
  }
  struct stat st;
  // A directory is no file to open, and a read-only file takes no writers, whoever we are.
  int error = ::fstat(fd, &st) != 0                                       ? errno
              : S_ISDIR(st.st_mode)                                       ? EISDIR
              : (static_cast<int>(access) & 2) && !(st.st_mode & S_IWUSR) ? EACCES
                                                                          : 0;
  if (error != 0) {
    ::close(fd);
    RaiseErrno(error);
  }
  ShareLease lease;
  try {
    lease = AcquireShare(fd, access, share);
  } catch (...) {
    ::close(fd);
    throw;
  }
  auto file = std::make_unique<PosixFile>(fd, access, std::move(lease));
  // Truncate only once the share modes admitted this open, never under another's feet.
  bool truncates = disposition == FileDisposition::kTruncateExisting ||
                   (disposition == FileDisposition::kCreateAlways && access != FileAccess::kNone);
  if (truncates) {
    file->SetSize(0);
  }
  return file;
}

}  // namespace vantry
