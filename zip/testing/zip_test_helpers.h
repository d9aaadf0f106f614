// Test helpers for archives: the standard tools that must accept every archive a test writes,
// sample contents, little-endian field reads, and a FileSystem whose files fail or kill the
// process on cue.
//
// Thread safety: FaultyFileSystem's cues are atomic; set them before the calls run.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "platform/child_process.h"
#include "platform/exception.h"
#include "platform/testing/fake_file_system.h"
#include "platform/os_error.h"

namespace vantry {

// unzip, 7z, bsdtar and Python's zipfile all list and test the archive at `host_path`.
inline void ExpectArchiveAccepted(const std::string& host_path) {
  const std::string quoted = "'" + host_path + "'";
  const std::string commands[] = {
      "unzip -tq " + quoted,
      "7z t -bso0 -bsp0 " + quoted,
      "bsdtar -tf " + quoted,
      "python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' " +
          quoted,
  };
  for (const std::string& command : commands) {
    std::string quiet = command + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(quiet.c_str()), 0) << command;
  }
}

// Backup-like text that deflates well, and noise that does not.
inline std::string Compressible(size_t size) {
  std::string s;
  for (int i = 0; s.size() < size; ++i) s += "line " + std::to_string(i % 977) + " of the backup\n";
  s.resize(size);
  return s;
}
inline std::string Random(size_t size, uint32_t seed = 1) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

inline uint32_t U16(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s.at(at)) | static_cast<uint32_t>(static_cast<uint8_t>(s.at(at + 1))) << 8;
}
inline uint32_t U32(const std::string& s, size_t at) { return U16(s, at) | U16(s, at + 2) << 16; }
inline uint64_t U64(const std::string& s, size_t at) {
  return U32(s, at) | static_cast<uint64_t>(U32(s, at + 4)) << 32;
}

// FakeFileSystem whose files can fail: reads of a file whose name contains `fail_reads_of` throw
// EOSError 1117 after the first read; the write numbered `kill_at_write` (counting every write of
// every file from 1) kills the process with SIGKILL before it happens, and likewise a move when
// `kill_before_move` / `kill_after_move` is set; writes fail with 112 once `disk_full_after`
// writes have been made.
class FaultyFileSystem : public FakeFileSystem {
 public:
  std::string fail_reads_of;
  std::atomic<int64_t> kill_at_write{0};
  std::atomic<int64_t> disk_full_after{-1};
  bool kill_before_move = false;
  bool kill_after_move = false;
  std::atomic<int64_t> writes{0};

  std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access, FileShare share,
                                 FileDisposition disposition) override {
    bool fail_reads = !fail_reads_of.empty() && path.find(fail_reads_of) != std::string::npos;
    return std::make_unique<FaultyFile>(
        FakeFileSystem::OpenFile(path, access, share, disposition), this, fail_reads);
  }
  void MoveFile(const std::string& from, const std::string& to, uint32_t flags) override {
    if (kill_before_move) KillThisProcess();
    FakeFileSystem::MoveFile(from, to, flags);
    if (kill_after_move) KillThisProcess();
  }

 private:
  class FaultyFile : public File {
   public:
    FaultyFile(std::unique_ptr<File> file, FaultyFileSystem* owner, bool fail_reads)
        : file_(std::move(file)), owner_(owner), fail_reads_(fail_reads) {}
    int64_t Read(void* buffer, int64_t count) override {
      if (fail_reads_ && reads_++ > 0) RaiseOSError(kErrorIoDevice);
      return file_->Read(buffer, count);
    }
    void Write(const void* buffer, int64_t count) override {
      int64_t n = ++owner_->writes;
      if (n == owner_->kill_at_write) KillThisProcess();
      if (owner_->disk_full_after >= 0 && n > owner_->disk_full_after) RaiseOSError(kErrorDiskFull);
      file_->Write(buffer, count);
    }
    int64_t Seek(int64_t offset, SeekOrigin origin) override { return file_->Seek(offset, origin); }
    int64_t Size() override { return file_->Size(); }
    void SetSize(int64_t size) override { file_->SetSize(size); }
    void Flush() override { file_->Flush(); }
    void Close() override { file_->Close(); }

   private:
    std::unique_ptr<File> file_;
    FaultyFileSystem* owner_;
    bool fail_reads_;
    int reads_ = 0;
  };
};

}  // namespace vantry
