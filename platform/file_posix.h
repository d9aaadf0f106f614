// The host's open files behind PosixFileSystem: a File on a descriptor, with its share lease.
// Internal to the platform layer; everything else uses File through FileSystem::OpenFile.
//
// Thread safety: a PosixFile belongs to one thread at a time.
#pragma once

#include <memory>
#include <string>

#include "platform/file_share.h"
#include "platform/file_system.h"

namespace vantry {

class PosixFile : public File {
 public:
  // Takes ownership of `fd` and `lease`.
  PosixFile(int fd, FileAccess access, ShareLease lease);
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;
  ~PosixFile() override;  // closes, never throws

  int64_t Read(void* buffer, int64_t count) override;
  void Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;
  void Flush() override;
  void StartWriteBack() override;
  void Close() override;

  // The descriptor, for copying between host files; -1 once closed.
  int fd() const { return fd_; }

 private:
  void CheckOpen() const;

  // StartWriteBack also has the disk flush the file on the way, once per this many bytes: a
  // flush of a few megabytes is short, and one runs at a time per file, so the flushes follow
  // the writer closely without stalling it (measured on a virtual disk: 8 to 32 MiB alike).
  static constexpr int64_t kBackgroundFlushSpan = int64_t{16} << 20;

  int fd_;
  FileAccess access_;
  ShareLease lease_;
  int64_t written_ = 0;  // bytes written through this object
};

// Opens `host_path` as FileSystem::OpenFile describes. Throws EOSError.
std::unique_ptr<PosixFile> OpenHostFile(const std::string& host_path, FileAccess access,
                                        FileShare share, FileDisposition disposition);

}  // namespace vantry
