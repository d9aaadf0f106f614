#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/temp_dir.h"

namespace vantry {
namespace {

using A = FileAccess;
using S = FileShare;

const char kInUse[] =
    "System Error.  Code: 32.\r\nThe process cannot access the file because it is being used by "
    "another process.";

class FileShareTest : public testing::Test {
 protected:
  FileShareTest() : fs_(drives_) {
    drives_.Set('T', dir_.path());
    fs_.OpenFile("T:\\db.fbk", A::kWrite, S::kNone, FileDisposition::kCreateNew)->Close();
  }

  std::unique_ptr<File> Open(A access, S share) {
    return fs_.OpenFile("T:\\db.fbk", access, share, FileDisposition::kOpenExisting);
  }

  TempDir dir_;
  DriveMap drives_;
  PosixFileSystem fs_;
};

// Each open's access must be allowed by the other's share mode.
TEST_F(FileShareTest, SecondOpenFollowsWindowsSharingRules) {
  struct Case {
    A first_access;
    S first_share;
    A second_access;
    S second_share;
    bool conflict;
  } cases[] = {
      {A::kRead, S::kRead, A::kRead, S::kRead, false},
      {A::kRead, S::kRead, A::kReadWrite, S::kReadWrite, true},   // first refuses writers
      {A::kRead, S::kReadWrite, A::kReadWrite, S::kRead, false},
      {A::kRead, S::kReadWrite, A::kRead, S::kNone, true},        // second refuses the reader
      {A::kReadWrite, S::kNone, A::kRead, S::kReadWrite, true},   // share nothing
      {A::kReadWrite, S::kNone, A::kNone, S::kRead, false},       // attribute query: no data
      {A::kWrite, S::kRead, A::kRead, S::kReadWrite, false},
      {A::kWrite, S::kRead, A::kWrite, S::kReadWrite, true},
      {A::kWrite, S::kReadWrite, A::kRead, S::kRead, true},       // second refuses the writer
  };
  for (const Case& c : cases) {
    auto first = Open(c.first_access, c.first_share);
    if (c.conflict) {
      EXPECT_THAT([&] { Open(c.second_access, c.second_share); },
                  testing::ThrowsMessage<EOSError>(testing::StrEq(kInUse)))
          << static_cast<int>(c.first_access) << static_cast<int>(c.first_share)
          << static_cast<int>(c.second_access) << static_cast<int>(c.second_share);
    } else {
      EXPECT_NO_THROW(Open(c.second_access, c.second_share));
    }
    first->Close();
    EXPECT_NO_THROW(Open(c.second_access, c.second_share)) << "after the first closed";
  }
}

TEST_F(FileShareTest, RefusedCreateDoesNotTruncate) {
  auto first = Open(A::kReadWrite, S::kNone);
  first->Write("data", 4);
  EXPECT_THROW(fs_.OpenFile("T:\\db.fbk", A::kWrite, S::kNone, FileDisposition::kCreateAlways),
               EOSError);
  EXPECT_EQ(first->Size(), 4);
}

TEST_F(FileShareTest, DestroyedHandleReleasesItsShare) {
  { auto first = Open(A::kRead, S::kNone); }
  EXPECT_NO_THROW(Open(A::kReadWrite, S::kNone));
}

// Another process that holds the file without sharing keeps this one out, and lets it in once
// it has closed.
TEST_F(FileShareTest, SharingHoldsAcrossProcesses) {
  int opened[2], release[2];
  ASSERT_EQ(::pipe(opened), 0);
  ASSERT_EQ(::pipe(release), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int status = 0;
    try {
      auto held = Open(A::kReadWrite, S::kNone);
      char c = 'o';
      (void)!::write(opened[1], &c, 1);
      (void)!::read(release[0], &c, 1);
    } catch (...) {
      status = 1;
    }
    ::_exit(status);
  }
  char c;
  ASSERT_EQ(::read(opened[0], &c, 1), 1);
  EXPECT_THAT([&] { Open(A::kRead, S::kReadWrite); },
              testing::ThrowsMessage<EOSError>(testing::StrEq(kInUse)));
  EXPECT_THAT([&] { fs_.ReadWholeFile("T:\\db.fbk"); }, testing::Throws<EFOpenError>());
  EXPECT_FALSE(fs_.TryDeleteFile("T:\\db.fbk"));
  EXPECT_NO_THROW(Open(A::kNone, S::kReadWrite));
  (void)!::write(release[1], &c, 1);
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  EXPECT_NO_THROW(Open(A::kRead, S::kRead));
  for (int fd : {opened[0], opened[1], release[0], release[1]}) ::close(fd);
}

// A process that reads while sharing reading lets another reader in but keeps writers out.
TEST_F(FileShareTest, ReadersShareAcrossProcesses) {
  int opened[2], release[2];
  ASSERT_EQ(::pipe(opened), 0);
  ASSERT_EQ(::pipe(release), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto held = Open(A::kRead, S::kRead);
    char c = 'o';
    (void)!::write(opened[1], &c, 1);
    (void)!::read(release[0], &c, 1);
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(opened[0], &c, 1), 1);
  EXPECT_NO_THROW(Open(A::kRead, S::kRead));
  EXPECT_THROW(Open(A::kWrite, S::kReadWrite), EOSError);
  (void)!::write(release[1], &c, 1);
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_NO_THROW(Open(A::kWrite, S::kReadWrite));
  for (int fd : {opened[0], opened[1], release[0], release[1]}) ::close(fd);
}

}  // namespace
}  // namespace vantry
