#include "platform/os_error.h"

#include <algorithm>
#include <iterator>

namespace vantry {
namespace {

struct ErrorText {
  int code;
  const char* text;
};

// Sorted by code. The texts are the system's own English messages, byte for byte.
constexpr ErrorText kErrorTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {14, "Not enough memory resources are available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {16, "The directory cannot be removed."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {67, "The network name cannot be found."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {267, "The directory name is invalid."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1921, "The name of the file cannot be resolved by the system."},
};

}  // namespace

std::string_view Win32ErrorText(int code) {
  auto it = std::lower_bound(std::begin(kErrorTexts), std::end(kErrorTexts), code,
                             [](const ErrorText& e, int c) { return e.code < c; });
  if (it == std::end(kErrorTexts) || it->code != code) return {};
  return it->text;
}

EOSError OSError(int code) {
  if (code == 0) return EOSError(0, "A call to an OS function failed");
  return EOSError(code, Format("System Error.  Code: %d.\r\n%s", code, Win32ErrorText(code)));
}

void RaiseOSError(int code) { throw OSError(code); }

void RaiseErrno(int error_number, OsOperation operation, const std::string& host_path) {
  RaiseOSError(Win32FromErrno(error_number, operation, host_path));
}

}  // namespace vantry
