// Windows paths on a Linux host. Callers pass Windows paths: Windows-1252 bytes, "\" (or "/")
// separators, drive letters. A DriveMap says which host directory each drive letter stands for;
// ResolveHostPath turns a Windows path into the host path the operating system understands,
// finding existing components without regard to letter case; HostToWindowsPath goes back.
//
// Thread safety: DriveMap guards its letters with its own mutex, so one thread may Replace the
// map (a settings re-read) while others resolve paths; resolvers work on a copy of the map taken
// at the start of each call. The free functions are safe from any thread.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vantry {

// Drive letter -> host root directory. Letters are kept upper case and match without regard to
// case. Z maps to "/" unless an entry names Z; other letters are unmapped until set.
class DriveMap {
 public:
  using Roots = std::map<char, std::string>;  // upper-case letter -> host root

  DriveMap();                             // Z -> "/"
  explicit DriveMap(const Roots& roots);  // as Replace(roots)
  DriveMap(const DriveMap&) = delete;
  DriveMap& operator=(const DriveMap&) = delete;

  // Replaces the whole map with `roots` (letters in either case; a letter that is not A-Z is
  // ignored; a letter with an empty root stays unmapped), adding Z -> "/" when `roots` does not
  // name Z (so an empty root for Z leaves Z unmapped). Roots lose
  // trailing "/" (except "/"); they are host directories, absolute as the caller should give them.
  void Replace(const Roots& roots);
  // Maps one letter (either case) to `host_root`, keeping the others; an empty root is ignored.
  void Set(char letter, std::string host_root);
  // Removes the mapping of one letter; the letter is then unmapped (even Z).
  void Remove(char letter);

  // The host root of `letter` (either case), or nullopt when the letter is unmapped.
  std::optional<std::string> Root(char letter) const;
  // A copy of the whole map.
  Roots Snapshot() const;

 private:
  static std::string NormalizeRoot(std::string host_root);

  mutable std::mutex mu_;
  Roots roots_;  // guarded by mu_
};

// Resolves `windows_path` to a host path (UTF-8). "X:\a\b" resolves under the root of X; "\a\b"
// under the drive of the current directory; "a\b" and "X:a" (drive-relative) against the current
// directory (for another drive than the current one's, against that drive's root). "." and empty
// components are skipped, ".." never climbs above the drive root. Each existing component is
// found without regard to case: an exact match wins, otherwise the first case-insensitive match
// in sorted order of host names; a missing component keeps the caller's spelling.
// `host_current_dir` is the process's current directory (the resolver reads it when empty); it
// must be reachable through the map for rooted-without-drive and relative paths.
// Returns 0 and sets *host_path, or returns the Win32 error: 53 for a UNC path ("\\server\..."),
// 3 for an unmapped drive or a current directory that no drive reaches, 123 for an empty path.
// With `exists`, *exists tells whether the lookup found every component on disk; false means the
// path did not exist when it was looked up, which spares the caller a look of its own.
int TryResolveHostPath(const DriveMap& drives, std::string_view windows_path,
                       std::string* host_path, std::string_view host_current_dir = {},
                       bool* exists = nullptr);

// As TryResolveHostPath; throws EOSError with the error code instead.
std::string ResolveHostPath(const DriveMap& drives, std::string_view windows_path,
                            std::string_view host_current_dir = {});

// The Windows path (Windows-1252) that reaches `host_path` (absolute, UTF-8) through the drive
// whose root is the longest prefix of it (whole components only): "/opt/vantry" with Z -> "/"
// gives "Z:\opt\vantry"; a drive root itself gives "X:\". Names 1252 cannot represent come back
// with "?" in place of each such character. nullopt when no drive reaches the path.
std::optional<std::string> HostToWindowsPath(const DriveMap& drives, std::string_view host_path);

// As HostToWindowsPath, with a trailing "\": "/opt/vantry" -> "Z:\opt\vantry\". This is how the
// executable's directory is shown to callers.
std::optional<std::string> HostToWindowsDirectory(const DriveMap& drives,
                                                  std::string_view host_dir);

// The absolute host path of the running executable (/proc/self/exe); empty on failure.
std::string ExecutableHostPath();

// True when `host_path` names an existing directory (a host path, not a Windows one).
bool HostDirectoryExists(const std::string& host_path);

// The process's current directory as a host path; empty on failure.
std::string CurrentHostDirectory();

// The host's directory for temporary files: $TMPDIR when set, else "/tmp" (no trailing "/").
std::string HostTempDirectory();

// The directory part of a host path: "/opt/vantry/vantryd" -> "/opt/vantry"; "/x" -> "/".
std::string HostDirectoryOf(std::string_view host_path);

}  // namespace vantry
