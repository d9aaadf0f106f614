#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/codepage.h"
#include "platform/directory_cache.h"
#include "platform/file_copy.h"
#include "platform/file_posix.h"
#include "platform/file_share.h"
#include "platform/file_system.h"
#include "platform/os_error.h"

namespace vantry {
namespace {

FileEntry EntryFromStat(std::string name, const struct stat& st) {
  FileEntry entry;
  entry.name = std::move(name);
  if (S_ISDIR(st.st_mode)) {
    entry.attributes = kFileAttributeDirectory;
  } else {
    entry.attributes = kFileAttributeArchive;
    entry.size = st.st_size;
  }
  if ((st.st_mode & S_IWUSR) == 0) entry.attributes |= kFileAttributeReadOnly;
  entry.last_write = UnixToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return entry;
}

// "abc*": the text before a single trailing "*" when the pattern has no other wildcard.
std::optional<std::string> PrefixOfPattern(const std::string& mask) {
  if (mask.empty() || mask.back() != '*') return std::nullopt;
  std::string prefix = mask.substr(0, mask.size() - 1);
  if (prefix.find_first_of("*?") != std::string::npos) return std::nullopt;
  return prefix;
}

// stat that follows links, falling back to the link itself when it dangles.
bool StatEntry(const std::string& host_path, struct stat* st) {
  return ::stat(host_path.c_str(), st) == 0 || ::lstat(host_path.c_str(), st) == 0;
}

std::string LastComponent(const std::string& host_path) {
  size_t slash = host_path.rfind('/');
  return slash == std::string::npos ? host_path : host_path.substr(slash + 1);
}

// Writes a finished move through to the disk: the file's data and both directories' entries.
void SyncMove(const std::string& from_host, const std::string& to_host, bool is_directory) {
  if (!is_directory) {
    int fd = ::open(to_host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) RaiseErrno(errno, OsOperation::kOther, to_host);
    int result = ::fsync(fd);
    int error = errno;
    ::close(fd);
    if (result != 0) RaiseErrno(error);
  }
  SyncHostDirectoryOf(to_host);
  if (HostDirectoryOf(from_host) != HostDirectoryOf(to_host)) SyncHostDirectoryOf(from_host);
}

}  // namespace

PosixFileSystem::PosixFileSystem(const DriveMap& drives) : drives_(drives) {}

PosixFileSystem::PosixFileSystem(const DriveMap& drives, std::string host_current_dir)
    : drives_(drives), host_current_dir_(std::move(host_current_dir)) {}

std::string PosixFileSystem::HostPath(const std::string& path) const {
  return ResolveHostPath(drives_, path, host_current_dir_);
}

void PosixFileSystem::CopyFile(const std::string& from, const std::string& to) {
  CopyHostFile(*this, HostPath(from), to, HostPath(to), true);
}

void PosixFileSystem::MoveFile(const std::string& from, const std::string& to, uint32_t flags) {
  std::string from_host = HostPath(from);
  std::string to_host = HostPath(to);
  if (to_host == from_host) {
    // The target found the source without regard to case: a change of case only, or nothing.
    to_host = HostDirectoryOf(to_host) + "/" + AnsiToUtf8(to.substr(to.find_last_of("\\/:") + 1));
    if (to_host == from_host) return;
  }
  bool replace = (flags & kMoveFileReplaceExisting) != 0;
  struct stat from_st, to_st;
  if (::lstat(from_host.c_str(), &from_st) != 0) RaiseErrno(errno, OsOperation::kOther, from_host);
  bool target_exists = ::lstat(to_host.c_str(), &to_st) == 0;
  if (target_exists && replace && S_ISDIR(to_st.st_mode)) RaiseOSError(kErrorAccessDenied);
  CheckNotOpenForData(from_host);
  if (target_exists && replace) CheckNotOpenForData(to_host);

  int error = replace ? (::rename(from_host.c_str(), to_host.c_str()) == 0 ? 0 : errno)
                      : RenameNoReplace(from_host, to_host);
  if (error == EXDEV && (flags & kMoveFileCopyAllowed) != 0 && !S_ISDIR(from_st.st_mode)) {
    // Another file system: copy and delete, as Windows does when it may copy. The copy is
    // complete and on the disk under its final name before the source goes.
    if (target_exists && !replace) RaiseOSError(kErrorAlreadyExists);
    CopyHostFile(*this, from_host, to, to_host, replace);
    if (::unlink(from_host.c_str()) != 0) RaiseErrno(errno, OsOperation::kOther, from_host);
    if ((flags & kMoveFileWriteThrough) != 0) SyncHostDirectoryOf(from_host);
    return;
  }
  if (error != 0) RaiseErrno(error, OsOperation::kRename, error == ENOENT ? to_host : from_host);
  if ((flags & kMoveFileWriteThrough) != 0) SyncMove(from_host, to_host, S_ISDIR(from_st.st_mode));
}

void PosixFileSystem::DeleteFile(const std::string& path) {
  std::string host = HostPath(path);
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) RaiseErrno(errno, OsOperation::kOther, host);
  // Windows refuses to delete directories and read-only files with this call.
  if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0)) {
    RaiseOSError(kErrorAccessDenied);
  }
  CheckNotOpenForData(host);
  if (::unlink(host.c_str()) != 0) RaiseErrno(errno, OsOperation::kOther, host);
}

void PosixFileSystem::CreateDirectory(const std::string& path) {
  std::string host = HostPath(path);
  if (::mkdir(host.c_str(), 0777) != 0) RaiseErrno(errno, OsOperation::kMakeDirectory, host);
}

void PosixFileSystem::RemoveDirectory(const std::string& path) {
  std::string host = HostPath(path);
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) RaiseErrno(errno, OsOperation::kOther, host);
  if (!S_ISDIR(st.st_mode)) RaiseOSError(kErrorDirectory);
  if (::rmdir(host.c_str()) != 0) RaiseErrno(errno, OsOperation::kOther, host);
}

bool PosixFileSystem::FileExists(const std::string& path) {
  std::string host;
  bool exists = false;
  if (TryResolveHostPath(drives_, path, &host, host_current_dir_, &exists) != 0 || !exists) {
    return false;
  }
  struct stat st;
  return StatEntry(host, &st) && !S_ISDIR(st.st_mode);
}

bool PosixFileSystem::DirectoryExists(const std::string& path) {
  std::string host;
  if (TryResolveHostPath(drives_, path, &host, host_current_dir_) != 0) return false;
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<FileEntry> PosixFileSystem::GetFileInfo(const std::string& path) {
  std::string host;
  if (TryResolveHostPath(drives_, path, &host, host_current_dir_) != 0) return std::nullopt;
  struct stat st;
  if (!StatEntry(host, &st)) return std::nullopt;
  return EntryFromStat(Utf8ToAnsi(LastComponent(host)), st);
}

int64_t PosixFileSystem::GetFileSize(const std::string& path) {
  return OpenFile(path, FileAccess::kNone, FileShare::kRead, FileDisposition::kOpenExisting)
      ->Size();
}

int64_t PosixFileSystem::GetFreeBytesAvailable(const std::string& directory) {
  std::string host = HostPath(directory);
  struct stat st;
  // Windows asks for a directory here: a missing one is a missing path.
  if (::stat(host.c_str(), &st) != 0) {
    RaiseOSError(errno == ENOENT ? kErrorPathNotFound : Win32FromErrno(errno));
  }
  if (!S_ISDIR(st.st_mode)) RaiseOSError(kErrorDirectory);
  struct statvfs vfs;
  if (RetryOnEintr([&] { return ::statvfs(host.c_str(), &vfs); }) != 0) RaiseErrno(errno);
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

std::vector<FileEntry> PosixFileSystem::FindFiles(const std::string& pattern) {
  size_t split = pattern.find_last_of("\\/:");
  std::string directory = split == std::string::npos ? "." : pattern.substr(0, split + 1);
  std::string mask = split == std::string::npos ? pattern : pattern.substr(split + 1);
  if (directory.ends_with(':')) directory += '.';  // "C:*.bak": the current directory of C
  std::vector<FileEntry> entries;
  std::string host;
  if (mask.empty() || TryResolveHostPath(drives_, directory, &host, host_current_dir_) != 0) {
    return entries;
  }
  std::shared_ptr<const DirectoryListing> listing = ListHostDirectory(host);
  if (listing == nullptr) return entries;
  // A pattern "name*" selects a range of the names in their search order; any other pattern
  // is matched name by name. Either way only the matches are sorted and examined.
  std::optional<std::string> prefix = PrefixOfPattern(mask);
  std::vector<const DirectoryListing::Name*> names =
      listing->WithPrefix(prefix ? AnsiUpperCase(*prefix) : "");
  int dir_fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return entries;
  for (const DirectoryListing::Name* name : names) {
    if (!prefix && !MatchesFilePattern(mask, name->ansi)) continue;
    struct stat st;
    if (::fstatat(dir_fd, name->host.c_str(), &st, 0) != 0 &&
        ::fstatat(dir_fd, name->host.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;  // vanished while we looked
    }
    entries.push_back(EntryFromStat(name->ansi, st));
  }
  ::close(dir_fd);
  return entries;
}

std::unique_ptr<File> OpenHostFileForReading(const std::string& host_path) {
  return OpenHostFile(host_path, FileAccess::kRead, FileShare::kRead,
                      FileDisposition::kOpenExisting);
}

std::unique_ptr<File> PosixFileSystem::OpenFile(const std::string& path, FileAccess access,
                                                FileShare share, FileDisposition disposition) {
  return OpenHostFile(HostPath(path), access, share, disposition);
}

}  // namespace vantry
