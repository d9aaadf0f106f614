#include "platform/file_share.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

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

// The rules hold with the marker locks and without them: the in-process table alone (as on a
// file system without lock support) must enforce every one of them too.
class FileShareRulesTest : public FileShareTest, public testing::WithParamInterface<bool> {
 protected:
  FileShareRulesTest() { SetShareMarkerLocks(GetParam()); }
  ~FileShareRulesTest() override { SetShareMarkerLocks(true); }
};

INSTANTIATE_TEST_SUITE_P(MarkerLocks, FileShareRulesTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "TableAndMarkers" : "TableOnly";
                         });

// Each open's access must be allowed by the other's share mode.
TEST_P(FileShareRulesTest, SecondOpenFollowsWindowsSharingRules) {
  struct Case {
    A first_access;
    S first_share;
    A second_access;
    S second_share;
    bool conflict;
  } cases[] = {
      {A::kRead, S::kRead, A::kRead, S::kRead, false},
      {A::kRead, S::kRead, A::kReadWrite, S::kReadWrite, true},  // first refuses writers
      {A::kRead, S::kReadWrite, A::kReadWrite, S::kRead, false},
      {A::kRead, S::kReadWrite, A::kRead, S::kNone, true},       // second refuses the reader
      {A::kReadWrite, S::kNone, A::kRead, S::kReadWrite, true},  // share nothing
      {A::kReadWrite, S::kNone, A::kNone, S::kRead, false},      // attribute query: no data
      {A::kWrite, S::kRead, A::kRead, S::kReadWrite, false},
      {A::kWrite, S::kRead, A::kWrite, S::kReadWrite, true},
      {A::kWrite, S::kReadWrite, A::kRead, S::kRead, true},  // second refuses the writer
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

// A copy onto the file fails as an open of it for writing without sharing would, and leaves it
// as it was: any open with data access keeps the copy out, an open for attribute queries does not.
TEST_P(FileShareRulesTest, CopyOntoAnOpenFileFailsAsAWriterWithoutSharing) {
  fs_.OpenFile("T:\\new.fbk", A::kWrite, S::kNone, FileDisposition::kCreateNew)->Write("new", 3);
  struct Case {
    A access;
    S share;
    bool refused;
  } cases[] = {
      {A::kRead, S::kReadWrite, true}, {A::kRead, S::kRead, true},
      {A::kWrite, S::kReadWrite, true}, {A::kReadWrite, S::kNone, true},
      {A::kNone, S::kNone, false},
  };
  for (const Case& c : cases) {
    fs_.OpenFile("T:\\db.fbk", A::kWrite, S::kNone, FileDisposition::kCreateAlways)->Write("old", 3);
    auto held = Open(c.access, c.share);
    if (c.refused) {
      EXPECT_THAT([&] { fs_.CopyFile("T:\\new.fbk", "T:\\db.fbk"); },
                  testing::ThrowsMessage<EOSError>(testing::StrEq(kInUse)))
          << static_cast<int>(c.access) << static_cast<int>(c.share);
    } else {
      EXPECT_NO_THROW(fs_.CopyFile("T:\\new.fbk", "T:\\db.fbk"));
    }
    held.reset();
    EXPECT_EQ(fs_.ReadWholeFile("T:\\db.fbk"), c.refused ? "old" : "new");
    EXPECT_EQ(fs_.FindFiles("T:\\*.tmp").size(), 0u);
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

// A child process that opens T:\db.fbk with the given modes and holds it until Release().
class HolderProcess {
 public:
  HolderProcess(const std::function<std::unique_ptr<File>()>& open) {
    if (::pipe(opened_) != 0 || ::pipe(release_) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      int status = 0;
      char c = 'o';
      try {
        auto held = open();
        (void)!::write(opened_[1], &c, 1);
        (void)!::read(release_[0], &c, 1);
      } catch (...) {
        status = 1;
      }
      ::_exit(status);
    }
    char c;
    holding_ = pid_ > 0 && ::read(opened_[0], &c, 1) == 1;
  }
  ~HolderProcess() {
    Release();
    for (int fd : {opened_[0], opened_[1], release_[0], release_[1]}) ::close(fd);
  }
  bool holding() const { return holding_; }
  // Lets the child close the file and end; returns its exit status.
  int Release() {
    if (pid_ <= 0) return -1;
    char c = 'r';
    (void)!::write(release_[1], &c, 1);
    int status = -1;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return status;
  }

 private:
  int opened_[2] = {-1, -1};
  int release_[2] = {-1, -1};
  pid_t pid_ = 0;
  bool holding_ = false;
};

// Another process that holds the file without sharing keeps this one out, and lets it in once
// it has closed.
TEST_F(FileShareTest, SharingHoldsAcrossProcesses) {
  HolderProcess holder([&] { return Open(A::kReadWrite, S::kNone); });
  ASSERT_TRUE(holder.holding());
  EXPECT_THAT([&] { Open(A::kRead, S::kReadWrite); },
              testing::ThrowsMessage<EOSError>(testing::StrEq(kInUse)));
  EXPECT_THAT([&] { fs_.ReadWholeFile("T:\\db.fbk"); }, testing::Throws<EFOpenError>());
  EXPECT_FALSE(fs_.TryDeleteFile("T:\\db.fbk"));
  EXPECT_NO_THROW(Open(A::kNone, S::kReadWrite));
  EXPECT_EQ(holder.Release(), 0);
  EXPECT_NO_THROW(Open(A::kRead, S::kRead));
}

// A file that another process reads keeps a copy onto it out, as a writer without sharing.
TEST_F(FileShareTest, CopyOntoAFileOpenInAnotherProcessFails) {
  fs_.OpenFile("T:\\new.fbk", A::kWrite, S::kNone, FileDisposition::kCreateNew)->Close();
  HolderProcess holder([&] { return Open(A::kRead, S::kReadWrite); });
  ASSERT_TRUE(holder.holding());
  EXPECT_THAT([&] { fs_.CopyFile("T:\\new.fbk", "T:\\db.fbk"); },
              testing::ThrowsMessage<EOSError>(testing::StrEq(kInUse)));
  EXPECT_EQ(holder.Release(), 0);
  EXPECT_NO_THROW(fs_.CopyFile("T:\\new.fbk", "T:\\db.fbk"));
}

// A copy under way holds the name it copies to (its temporary file is open): a second copy to
// that name is refused, whichever process makes it, until the first is done.
TEST_F(FileShareTest, ACopyUnderWayKeepsAnotherCopyToTheSameNameOut) {
  const std::string under_way = "T:\\copy.fbk.~1A2B.tmp";
  auto in_this_process = [&] {
    return fs_.OpenFile(under_way, A::kWrite, S::kNone, FileDisposition::kOpenAlways);
  };
  {
    auto held = in_this_process();
    EXPECT_THAT([&] { fs_.CopyFile("T:\\db.fbk", "T:\\copy.fbk"); },
                testing::ThrowsMessage<EOSError>(testing::StrEq(kInUse)));
  }
  {
    HolderProcess holder(in_this_process);
    ASSERT_TRUE(holder.holding());
    EXPECT_THAT([&] { fs_.CopyFile("T:\\db.fbk", "T:\\copy.fbk"); },
                testing::ThrowsMessage<EOSError>(testing::StrEq(kInUse)));
    EXPECT_FALSE(fs_.FileExists("T:\\copy.fbk"));
    EXPECT_EQ(holder.Release(), 0);
  }
  fs_.CopyFile("T:\\db.fbk", "T:\\copy.fbk");  // the holder is gone: a leftover now
  EXPECT_FALSE(fs_.FileExists(under_way));
  EXPECT_TRUE(fs_.FileExists("T:\\copy.fbk"));
}

// A process that reads while sharing reading lets another reader in but keeps writers out.
TEST_F(FileShareTest, ReadersShareAcrossProcesses) {
  HolderProcess holder([&] { return Open(A::kRead, S::kRead); });
  ASSERT_TRUE(holder.holding());
  EXPECT_NO_THROW(Open(A::kRead, S::kRead));
  EXPECT_THROW(Open(A::kWrite, S::kReadWrite), EOSError);
  EXPECT_EQ(holder.Release(), 0);
  EXPECT_NO_THROW(Open(A::kWrite, S::kReadWrite));
}

}  // namespace
}  // namespace vantry
