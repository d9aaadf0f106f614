#include <sys/stat.h>

#include <cerrno>

#include "platform/os_error.h"

namespace vantry {
namespace {

// ENOENT means "file not found" when only the last component is missing, "path not found"
// when a directory on the way is.
int MissingEntryCode(const std::string& host_path) {
  if (host_path.empty()) return kErrorFileNotFound;
  std::string parent = host_path;
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  size_t slash = parent.rfind('/');
  if (slash == std::string::npos) return kErrorFileNotFound;  // relative to the cwd
  parent.resize(slash == 0 ? 1 : slash);
  struct stat st;
  if (::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kErrorFileNotFound;
  return kErrorPathNotFound;
}

}  // namespace

bool LastCallWasInterrupted() { return errno == EINTR; }

int Win32FromErrno(int error_number, OsOperation operation, const std::string& host_path) {
  switch (error_number) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      if (operation == OsOperation::kMakeDirectory) return kErrorPathNotFound;
      return MissingEntryCode(host_path);
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EEXIST:
      return operation == OsOperation::kCreateFile ? kErrorFileExists : kErrorAlreadyExists;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case EXDEV:
      return kErrorNotSameDevice;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case EAGAIN:
      return kErrorLockViolation;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EBADF:
      return kErrorInvalidHandle;
    case EROFS:
      return kErrorWriteProtect;
    case EINVAL:
      return kErrorInvalidParameter;
    case EFBIG:
      return kErrorFileTooLarge;
    case ELOOP:
      return kErrorCantResolveFilename;
    case ENOSYS:
    case EOPNOTSUPP:
      return kErrorNotSupported;
    case EIO:
      return kErrorIoDevice;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace vantry
