// The file functions the system assumes, with Windows semantics, on Windows paths. `FileSystem`
// is the interface the rest of the program calls (tests swap in fakes, e.g. one whose writes fail
// with "disk full"); `PosixFileSystem` resolves each path through a DriveMap and calls the host.
// Paths are Windows paths as callers give them (Windows-1252 bytes); names that come back are
// Windows-1252 too. Failures raise EOSError with the Win32 code Windows would report (see
// platform/os_error.h), except where a Try... form returns bool/optional instead.
//
// Thread safety: a FileSystem may be used from any number of threads at once. A File belongs to
// one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"

namespace vantry {

// Attributes as Windows reports them.
inline constexpr uint32_t kFileAttributeReadOnly = 0x01;  // the owner may not write
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;  // every regular file

// The attribute mask that selects every entry of a directory search.
inline constexpr uint32_t kFindAllAttributes = 63;

// Move flags.
inline constexpr uint32_t kMoveFileReplaceExisting = 1;
inline constexpr uint32_t kMoveFileCopyAllowed = 2;
inline constexpr uint32_t kMoveFileWriteThrough = 8;

// One entry of a directory search, or the facts of one file.
struct FileEntry {
  std::string name;  // the entry's name only, Windows-1252
  uint32_t attributes = 0;
  int64_t size = 0;          // 0 for directories
  TDateTime last_write = 0;  // local time, full precision
};

// What an open may do with the file. kNone opens for attribute queries only (Size()).
enum class FileAccess { kNone = 0, kRead = 1, kWrite = 2, kReadWrite = 3 };
// What later opens of the same file may do while this one is open.
enum class FileShare { kNone = 0, kRead = 1, kWrite = 2, kReadWrite = 3 };
enum class FileDisposition {
  kCreateNew = 1,         // fails with 80 when the file exists
  kCreateAlways = 2,      // creates, or truncates an existing file
  kOpenExisting = 3,      // fails with 2/3 when missing
  kOpenAlways = 4,        // opens, or creates when missing
  kTruncateExisting = 5,  // opens an existing file and truncates it (needs write access)
};
enum class SeekOrigin { kBegin = 0, kCurrent = 1, kEnd = 2 };

// An open file. The destructor closes without throwing; Close() reports a failure.
class File {
 public:
  virtual ~File() = default;

  // Reads up to `count` bytes at the current position; returns the number read, 0 at the end.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes all `count` bytes at the current position or throws (112 when the disk is full).
  virtual void Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position. A position before 0 fails with 131.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  // The current size in bytes.
  virtual int64_t Size() = 0;
  // Sets the size (truncating or extending with zeros); the position is kept.
  virtual void SetSize(int64_t size) = 0;
  // Writes the file's data through to the disk.
  virtual void Flush() = 0;
  // Starts writing the data written so far to the disk without waiting for it, so that a later
  // Flush() finds little left to do; a long sequential write is also flushed on the way, in the
  // background. Never fails: whatever goes wrong shows in Flush().
  virtual void StartWriteBack() {}
  // Closes the file; later calls fail with 6. Closing twice is harmless.
  virtual void Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Copies `from` onto `to`, replacing an existing `to`; `to` gets the source's last-write time.
  // `to` shows the old file or the complete copy, never part of it: the copy is written beside
  // it, flushed and renamed over it (see platform/file_copy.h). Fails as an open of `to` for
  // writing without sharing would (5 read-only or a directory, 32 open elsewhere).
  virtual void CopyFile(const std::string& from, const std::string& to) = 0;
  // Moves (renames) `from` to `to`. Without kMoveFileReplaceExisting an existing `to` is never
  // replaced (183); without kMoveFileCopyAllowed a move to another file system fails with 17,
  // with it the file is copied as CopyFile copies and the source deleted only once the copy is
  // on the disk under its final name; kMoveFileWriteThrough returns only when file and
  // directories are on the disk.
  virtual void MoveFile(const std::string& from, const std::string& to, uint32_t flags) = 0;
  // Deletes a file (not a directory: 5).
  virtual void DeleteFile(const std::string& path) = 0;
  // Creates one directory; its parent must exist (3), the name must be free (183).
  virtual void CreateDirectory(const std::string& path) = 0;
  // Removes an empty directory (145 when it is not empty).
  virtual void RemoveDirectory(const std::string& path) = 0;

  // The one file existence test: true for an existing entry that is not a directory, whatever
  // its date (host files dated 1970 or past 2107 exist all the same).
  virtual bool FileExists(const std::string& path) = 0;
  // True for an existing directory.
  virtual bool DirectoryExists(const std::string& path) = 0;
  // The facts of one entry (file or directory), nullopt when it does not exist or cannot be
  // reached. The entry's name is the last component as found on disk.
  virtual std::optional<FileEntry> GetFileInfo(const std::string& path) = 0;
  // The size of a file in bytes (64-bit).
  virtual int64_t GetFileSize(const std::string& path) = 0;
  // The free bytes available to this process's user on the volume of `directory`, which must
  // exist.
  virtual int64_t GetFreeBytesAvailable(const std::string& directory) = 0;

  // The entries of the directory of `pattern` whose names match its last component ("*" any run,
  // "?" one character, without regard to case; "*.*" at the end matches any rest, with or
  // without a dot), "." and ".." included, sorted by their upper-cased names. A directory that
  // does not exist or cannot be read yields an empty list.
  virtual std::vector<FileEntry> FindFiles(const std::string& pattern) = 0;

  // Opens a file with Windows share semantics: an open conflicts with an earlier open of the
  // same file (in this process or another) when either one's access is not allowed by the other's
  // share mode; a conflict fails with 32. Returns the owning handle.
  virtual std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access,
                                         FileShare share, FileDisposition disposition) = 0;

  // Non-throwing forms: the same calls, false on any EOSError.
  bool TryDeleteFile(const std::string& path);
  bool TryCreateDirectory(const std::string& path);

  // Creates a new, empty file in `directory` (a Windows path) named `prefix` (at most its first
  // three characters), four random upper-case hex digits and ".tmp", and returns its Windows
  // path; the caller deletes it. Throws EOSError (3 when the directory does not exist).
  std::string CreateTempFile(const std::string& directory, std::string_view prefix);

  // OpenFile as a file stream opens: a failure is raised as EFOpenError "Cannot open file "%s".
  // %s" when `disposition` opens an existing file, as EFCreateError "Cannot create file "%s". %s"
  // when it creates one, with `path` as given and the system text of the failure's code.
  std::unique_ptr<File> OpenFileStream(const std::string& path, FileAccess access, FileShare share,
                                       FileDisposition disposition);

  // The whole content of a file opened for reading, sharing reading only. Throws EFOpenError
  // "Cannot open file "%s". %s" with `path` as given and the system text when it cannot be
  // opened (missing, no permission, held by an open that does not share reading).
  std::string ReadWholeFile(const std::string& path);
};

// Opens a file of this machine by its host path (not a Windows path) for reading, sharing
// reading only: for programs that work on their own machine's files, such as the client's push.
// Throws EOSError.
std::unique_ptr<File> OpenHostFileForReading(const std::string& host_path);

// The host's file system, reached through `drives` (which must outlive it).
class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(const DriveMap& drives);
  // `host_current_dir` fixes the current directory used for relative paths (tests).
  PosixFileSystem(const DriveMap& drives, std::string host_current_dir);
  PosixFileSystem(const PosixFileSystem&) = delete;
  PosixFileSystem& operator=(const PosixFileSystem&) = delete;

  void CopyFile(const std::string& from, const std::string& to) override;
  void MoveFile(const std::string& from, const std::string& to, uint32_t flags) override;
  void DeleteFile(const std::string& path) override;
  void CreateDirectory(const std::string& path) override;
  void RemoveDirectory(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  std::optional<FileEntry> GetFileInfo(const std::string& path) override;
  int64_t GetFileSize(const std::string& path) override;
  int64_t GetFreeBytesAvailable(const std::string& directory) override;
  std::vector<FileEntry> FindFiles(const std::string& pattern) override;
  std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access, FileShare share,
                                 FileDisposition disposition) override;

  // The host path `path` resolves to; throws EOSError (53, 3) as ResolveHostPath does.
  std::string HostPath(const std::string& path) const;

 private:
  const DriveMap& drives_;
  const std::string host_current_dir_;  // empty: the process's current directory
};

// Matches `name` against a directory-search pattern (the last component only), as FindFiles
// does. Both in Windows-1252.
bool MatchesFilePattern(std::string_view pattern, std::string_view name);

}  // namespace vantry
