// A file system for the tests of the service: the host's file system under a fresh temporary
// directory mapped as drive T:, with two facts that tests may pretend: the free space of every
// volume and the last-write time of every entry.
//
// Thread safety: as PosixFileSystem; set the pretended facts before calls run.
#pragma once

#include <optional>
#include <string>

#include "platform/file_helpers.h"
#include "platform/file_system.h"
#include "platform/path_helpers.h"
#include "platform/temp_dir.h"

namespace vantry {

class FakeFileSystem : public FileSystem {
 public:
  // T:\ is the temporary directory, which is also the current directory for relative paths.
  FakeFileSystem() : drives_(DriveMap::Roots{{'T', dir_.path()}}), real_(drives_, dir_.path()) {}

  std::optional<int64_t> free_bytes;    // when set, every volume has this much free
  std::optional<TDateTime> last_write;  // when set, every entry was last written then

  const std::string& HostRoot() const { return dir_.path(); }

  void CopyFile(const std::string& from, const std::string& to) override {
    real_.CopyFile(from, to);
  }
  void MoveFile(const std::string& from, const std::string& to, uint32_t flags) override {
    real_.MoveFile(from, to, flags);
  }
  void DeleteFile(const std::string& path) override { real_.DeleteFile(path); }
  void CreateDirectory(const std::string& path) override { real_.CreateDirectory(path); }
  void RemoveDirectory(const std::string& path) override { real_.RemoveDirectory(path); }
  bool FileExists(const std::string& path) override { return real_.FileExists(path); }
  bool DirectoryExists(const std::string& path) override { return real_.DirectoryExists(path); }
  std::optional<FileEntry> GetFileInfo(const std::string& path) override {
    std::optional<FileEntry> entry = real_.GetFileInfo(path);
    if (entry && last_write) entry->last_write = *last_write;
    return entry;
  }
  int64_t GetFileSize(const std::string& path) override { return real_.GetFileSize(path); }
  int64_t GetFreeBytesAvailable(const std::string& directory) override {
    int64_t real = real_.GetFreeBytesAvailable(directory);  // fails as the real one would
    return free_bytes ? *free_bytes : real;
  }
  std::vector<FileEntry> FindFiles(const std::string& pattern) override {
    return real_.FindFiles(pattern);
  }
  std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access, FileShare share,
                                 FileDisposition disposition) override {
    return real_.OpenFile(path, access, share, disposition);
  }

  // Test conveniences on Windows paths. WriteFile makes the file's directories first.
  void WriteFile(const std::string& path, const std::string& content) {
    ForceDirectories(*this, ExtractFilePath(path));
    auto file =
        OpenFile(path, FileAccess::kWrite, FileShare::kNone, FileDisposition::kCreateAlways);
    file->Write(content.data(), static_cast<int64_t>(content.size()));
    file->Close();
  }
  std::string ReadFile(const std::string& path) { return ReadWholeFile(path); }

 private:
  TempDir dir_;
  DriveMap drives_;
  PosixFileSystem real_;
};

}  // namespace vantry
