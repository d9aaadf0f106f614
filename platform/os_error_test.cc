#include "platform/os_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/temp_dir.h"

namespace vantry {
namespace {

using testing::StrEq;

TEST(Win32ErrorTextTest, TextsAreTheSystemsOwn) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {5, "Access is denied."},
      {17, "The system cannot move the file to a different disk drive."},
      {32, "The process cannot access the file because it is being used by another process."},
      {53, "The network path was not found."},
      {80, "The file exists."},
      {112, "There is not enough space on the disk."},
      {145, "The directory is not empty."},
      {183, "Cannot create a file when that file already exists."},
      {206, "The filename or extension is too long."},
  };
  for (const Case& c : cases) EXPECT_EQ(Win32ErrorText(c.code), c.text) << c.code;
  EXPECT_EQ(Win32ErrorText(99999), "");
}

TEST(OSErrorTest, MessageCarriesCodeAndText) {
  EXPECT_THAT([] { RaiseOSError(183); },
              testing::ThrowsMessage<EOSError>(
                  StrEq("System Error.  Code: 183.\r\nCannot create a file when that file already "
                        "exists.")));
  EXPECT_EQ(OSError(32).ErrorCode(), 32);
  EXPECT_STREQ(OSError(32).ClassName(), "EOSError");
}

TEST(OSErrorTest, CodeZeroHasNoCode) {
  EXPECT_EQ(OSError(0).Message(), "A call to an OS function failed");
  EXPECT_EQ(OSError(99999).Message(), "System Error.  Code: 99999.\r\n");
}

TEST(Win32FromErrnoTest, MapsAsWindowsReportsTheSameFailure) {
  struct Case {
    int error_number;
    OsOperation operation;
    int expected;
  } cases[] = {
      {EACCES, OsOperation::kOther, 5},
      {EPERM, OsOperation::kOther, 5},
      {EEXIST, OsOperation::kCreateFile, 80},
      {EEXIST, OsOperation::kRename, 183},
      {EEXIST, OsOperation::kMakeDirectory, 183},
      {ENOSPC, OsOperation::kOther, 112},
      {EDQUOT, OsOperation::kOther, 112},
      {ENOTEMPTY, OsOperation::kOther, 145},
      {ENAMETOOLONG, OsOperation::kOther, 206},
      {EXDEV, OsOperation::kRename, 17},
      {ENOTDIR, OsOperation::kOther, 3},
      {ENOENT, OsOperation::kMakeDirectory, 3},
      {ENOENT, OsOperation::kOther, 2},  // no path given
      {EROFS, OsOperation::kOther, 19},
      {EHOSTDOWN, OsOperation::kOther, 31},  // nothing closer on Windows
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Win32FromErrno(c.error_number, c.operation), c.expected) << c.error_number;
  }
}

TEST(Win32FromErrnoTest, MissingFileOrMissingDirectoryOnTheWay) {
  TempDir dir;
  EXPECT_EQ(Win32FromErrno(ENOENT, OsOperation::kOther, dir.path() + "/missing.txt"), 2);
  EXPECT_EQ(Win32FromErrno(ENOENT, OsOperation::kOther, dir.path() + "/nodir/missing.txt"), 3);
  EXPECT_THAT([&] { RaiseErrno(ENOENT, OsOperation::kOther, dir.path() + "/a/b"); },
              testing::ThrowsMessage<EOSError>(
                  StrEq("System Error.  Code: 3.\r\nThe system cannot find the path specified.")));
}

TEST(RetryOnEintrTest, RetriesOnlyInterruptedCalls) {
  int calls = 0;
  int result = RetryOnEintr([&] {
    if (++calls < 3) {
      errno = EINTR;
      return -1;
    }
    return 7;
  });
  EXPECT_EQ(result, 7);
  EXPECT_EQ(calls, 3);

  calls = 0;
  result = RetryOnEintr([&] {
    ++calls;
    errno = EIO;
    return -1;
  });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace vantry
