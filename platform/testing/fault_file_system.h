// A FileSystem that fails on purpose, for tests of every operation that writes: it wraps any
// FileSystem (and every File that one opens) and passes each call through, except that an armed
// fault makes a chosen kind of call fail with a chosen error, optionally only after N calls of
// that kind have succeeded and only for paths that contain a given text. The failure is the
// EOSError the platform raises for the real thing (112 for a full disk, 1117 for an I/O error,
// 5 for access denied); a short write first writes half of the bytes, as a disk that fills
// up in the middle of a write does, then fails with 112.
//
// Thread safety: as the wrapped FileSystem; arming, disarming and the call counts are guarded
// by a mutex, so faults may be armed while calls run. Files keep the one-thread rule.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/os_error.h"

namespace vantry {

// The calls a fault can hit: FileSystem operations and the writing calls of open Files.
enum class FaultCall {
  kCopyFile,
  kMoveFile,
  kDeleteFile,
  kCreateDirectory,
  kRemoveDirectory,
  kOpenFile,
  kFileRead,
  kFileWrite,
  kFileSetSize,
  kFileFlush,
  kFileClose,
};

enum class FaultKind {
  kDiskFull,      // EOSError 112
  kIoError,       // EOSError 1117
  kAccessDenied,  // EOSError 5
  kShortWrite,    // half of the bytes are written, then EOSError 112 (other calls: as kDiskFull)
};

class FaultFileSystem : public FileSystem {
 public:
  // `base` must outlive this object and the Files it opens.
  explicit FaultFileSystem(FileSystem& base) : base_(base) {}
  FaultFileSystem(const FaultFileSystem&) = delete;
  FaultFileSystem& operator=(const FaultFileSystem&) = delete;

  // Arms a fault for `call`: the next `successes` matching calls go through, then every matching
  // call fails with `kind` (just one of them when `once`). A call matches when its path (for File
  // calls: the path the File was opened with; for copies and moves: either path) contains
  // `path_part`; the empty text matches every path. Replaces an earlier fault for `call`.
  void Fail(FaultCall call, FaultKind kind, int successes = 0, std::string path_part = "",
            bool once = false) {
    std::lock_guard<std::mutex> lock(mu_);
    faults_[call] = Fault{kind, successes, std::move(path_part), once};
  }
  // Disarms the fault for `call`, or every fault.
  void Heal(FaultCall call) {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.erase(call);
  }
  void HealAll() {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.clear();
  }
  // How many calls of this kind were made, failed ones included.
  int Calls(FaultCall call) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
  }
  // How many calls failed by an armed fault.
  int Injected() const {
    std::lock_guard<std::mutex> lock(mu_);
    return injected_;
  }

  void CopyFile(const std::string& from, const std::string& to) override {
    Check(FaultCall::kCopyFile, from, to);
    base_.CopyFile(from, to);
  }
  void MoveFile(const std::string& from, const std::string& to, uint32_t flags) override {
    Check(FaultCall::kMoveFile, from, to);
    base_.MoveFile(from, to, flags);
  }
  void DeleteFile(const std::string& path) override {
    Check(FaultCall::kDeleteFile, path);
    base_.DeleteFile(path);
  }
  void CreateDirectory(const std::string& path) override {
    Check(FaultCall::kCreateDirectory, path);
    base_.CreateDirectory(path);
  }
  void RemoveDirectory(const std::string& path) override {
    Check(FaultCall::kRemoveDirectory, path);
    base_.RemoveDirectory(path);
  }
  bool FileExists(const std::string& path) override { return base_.FileExists(path); }
  bool DirectoryExists(const std::string& path) override { return base_.DirectoryExists(path); }
  std::optional<FileEntry> GetFileInfo(const std::string& path) override {
    return base_.GetFileInfo(path);
  }
  int64_t GetFileSize(const std::string& path) override { return base_.GetFileSize(path); }
  int64_t GetFreeBytesAvailable(const std::string& directory) override {
    return base_.GetFreeBytesAvailable(directory);
  }
  std::vector<FileEntry> FindFiles(const std::string& pattern) override {
    return base_.FindFiles(pattern);
  }
  std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access, FileShare share,
                                 FileDisposition disposition) override {
    Check(FaultCall::kOpenFile, path);
    return std::make_unique<FaultFile>(*this, path, base_.OpenFile(path, access, share, disposition));
  }

 private:
  struct Fault {
    FaultKind kind;
    int successes;  // matching calls still to let through
    std::string path_part;
    bool once;
  };

  // A File of the wrapped file system whose calls pass the faults first.
  class FaultFile : public File {
   public:
    FaultFile(FaultFileSystem& owner, std::string path, std::unique_ptr<File> base)
        : owner_(owner), path_(std::move(path)), base_(std::move(base)) {}

    int64_t Read(void* buffer, int64_t count) override {
      owner_.Check(FaultCall::kFileRead, path_);
      return base_->Read(buffer, count);
    }
    void Write(const void* buffer, int64_t count) override {
      std::optional<FaultKind> kind = owner_.Hit(FaultCall::kFileWrite, path_, "");
      if (kind == FaultKind::kShortWrite) base_->Write(buffer, count / 2);
      if (kind) RaiseOSError(ErrorCode(*kind));
      base_->Write(buffer, count);
    }
    int64_t Seek(int64_t offset, SeekOrigin origin) override {
      return base_->Seek(offset, origin);
    }
    int64_t Size() override { return base_->Size(); }
    void SetSize(int64_t size) override {
      owner_.Check(FaultCall::kFileSetSize, path_);
      base_->SetSize(size);
    }
    void Flush() override {
      owner_.Check(FaultCall::kFileFlush, path_);
      base_->Flush();
    }
    void StartWriteBack() override { base_->StartWriteBack(); }
    void Close() override {
      // The wrapped file is closed in any case: a failed close leaves no descriptor behind.
      std::optional<FaultKind> kind = owner_.Hit(FaultCall::kFileClose, path_, "");
      base_->Close();
      if (kind) RaiseOSError(ErrorCode(*kind));
    }

   private:
    FaultFileSystem& owner_;
    const std::string path_;
    std::unique_ptr<File> base_;
  };

  static int ErrorCode(FaultKind kind) {
    switch (kind) {
      case FaultKind::kIoError:
        return kErrorIoDevice;
      case FaultKind::kAccessDenied:
        return kErrorAccessDenied;
      default:
        return kErrorDiskFull;
    }
  }

  // Counts the call; returns the fault it must fail with, if any.
  std::optional<FaultKind> Hit(FaultCall call, const std::string& path,
                               const std::string& other_path) {
    std::lock_guard<std::mutex> lock(mu_);
    ++calls_[call];
    auto it = faults_.find(call);
    if (it == faults_.end()) return std::nullopt;
    Fault& fault = it->second;
    bool matches = fault.path_part.empty() || path.find(fault.path_part) != std::string::npos ||
                   (!other_path.empty() && other_path.find(fault.path_part) != std::string::npos);
    if (!matches) return std::nullopt;
    if (fault.successes > 0) {
      --fault.successes;
      return std::nullopt;
    }
    FaultKind kind = fault.kind;
    if (fault.once) faults_.erase(it);
    ++injected_;
    return kind;
  }
  void Check(FaultCall call, const std::string& path, const std::string& other_path = "") {
    if (std::optional<FaultKind> kind = Hit(call, path, other_path)) RaiseOSError(ErrorCode(*kind));
  }

  FileSystem& base_;
  mutable std::mutex mu_;
  std::map<FaultCall, Fault> faults_;  // guarded by mu_
  std::map<FaultCall, int> calls_;     // guarded by mu_
  int injected_ = 0;                   // guarded by mu_
};

}  // namespace vantry
