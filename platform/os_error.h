// Win32 error codes and their texts, and the translation of errno values into the code Windows
// would report for the same failure. This is the one place where codes and texts live; every
// failed system call of the platform layer becomes an EOSError built here.
//
// Thread safety: all functions are pure or use only thread-local errno; safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/exception.h"

namespace vantry {

// The Win32 codes the platform layer produces.
inline constexpr int kErrorSuccess = 0;
inline constexpr int kErrorInvalidFunction = 1;
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorTooManyOpenFiles = 4;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorInvalidHandle = 6;
inline constexpr int kErrorNotEnoughMemory = 8;
inline constexpr int kErrorNotSameDevice = 17;
inline constexpr int kErrorWriteProtect = 19;
inline constexpr int kErrorGenFailure = 31;
inline constexpr int kErrorSharingViolation = 32;
inline constexpr int kErrorLockViolation = 33;
inline constexpr int kErrorHandleEof = 38;
inline constexpr int kErrorNotSupported = 50;
inline constexpr int kErrorBadNetpath = 53;
inline constexpr int kErrorFileExists = 80;
inline constexpr int kErrorInvalidParameter = 87;
inline constexpr int kErrorDiskFull = 112;
inline constexpr int kErrorInvalidName = 123;
inline constexpr int kErrorNegativeSeek = 131;
inline constexpr int kErrorDirNotEmpty = 145;
inline constexpr int kErrorAlreadyExists = 183;
inline constexpr int kErrorFilenameExcedRange = 206;
inline constexpr int kErrorFileTooLarge = 223;
inline constexpr int kErrorDirectory = 267;
inline constexpr int kErrorIoDevice = 1117;
inline constexpr int kErrorCantResolveFilename = 1921;

// The system's English text for `code`, e.g. "Access is denied." for 5; the empty text for a
// code the table does not know (as the system answers for codes it has no message for).
std::string_view Win32ErrorText(int code);

// EOSError "System Error.  Code: %d.\r\n%s" with `code` and its text; for code 0 the message
// is "A call to an OS function failed".
EOSError OSError(int code);
[[noreturn]] void RaiseOSError(int code);

// What the failing call was trying to do; the same errno means different things to Windows
// depending on it (EEXIST is 80 for a file create but 183 for a rename or mkdir).
enum class OsOperation {
  kOther,       // stat, read, write, delete, ...
  kCreateFile,  // open with O_CREAT|O_EXCL
  kRename,      // rename / link onto a name
  kMakeDirectory,
};

// The Win32 code Windows reports for a failure that set `error_number`. For ENOENT the code is
// 2 (file not found) when the parent directory of `host_path` exists, else 3 (a directory on the
// way is missing); pass the host path the call was given, or leave it empty to get 2.
// Unknown errno values map to 31, the system's generic device failure.
int Win32FromErrno(int error_number, OsOperation operation = OsOperation::kOther,
                   const std::string& host_path = std::string());

// Throws OSError(Win32FromErrno(error_number, operation, host_path)).
[[noreturn]] void RaiseErrno(int error_number, OsOperation operation = OsOperation::kOther,
                             const std::string& host_path = std::string());

// Whether the last failed system call of this thread was interrupted by a signal (EINTR); kept
// out of line so this header needs no errno of its own.
bool LastCallWasInterrupted();

// Runs `call` until it does not fail with EINTR; returns its last result. Use for every system
// call that may be interrupted by a signal (the service host delivers control requests as
// signals), e.g. `RetryOnEintr([&] { return ::read(fd, buf, n); })`.
template <typename Call>
auto RetryOnEintr(Call call) -> decltype(call()) {
  for (;;) {
    auto result = call();
    if (result != -1 || !LastCallWasInterrupted()) return result;
  }
}

}  // namespace vantry
