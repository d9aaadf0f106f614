#include "platform/paths.h"

#include <vector>

#include "platform/codepage.h"
#include "platform/os_error.h"
#include "platform/path_lookup.h"

namespace vantry {
namespace {

std::optional<char> DriveLetter(char letter) {
  char upper = AnsiUpperChar(letter);
  if (upper < 'A' || upper > 'Z') return std::nullopt;
  return upper;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Splits at "\" and "/", dropping empty components.
std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      if (i > start) parts.emplace_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// Applies "." and ".." to `parts`; ".." stops at the drive root.
void AppendNormalized(const std::vector<std::string>& parts, std::vector<std::string>* out) {
  for (const std::string& part : parts) {
    if (part == ".") continue;
    if (part == "..") {
      if (!out->empty()) out->pop_back();
      continue;
    }
    out->push_back(part);
  }
}

struct WindowsLocation {
  char drive = 0;
  std::vector<std::string> components;  // below the drive root, normalized
};

// The drive and components of `host_path` as seen through `roots` (longest root wins).
std::optional<WindowsLocation> LocateHostPath(const DriveMap::Roots& roots,
                                              std::string_view host_path) {
  std::optional<WindowsLocation> best;
  size_t best_length = 0;
  for (const auto& [letter, root] : roots) {
    std::string_view rest;
    if (root == "/") {
      if (host_path.empty() || host_path[0] != '/') continue;
      rest = host_path;
    } else {
      if (host_path.substr(0, root.size()) != root) continue;
      rest = host_path.substr(root.size());
      if (!rest.empty() && rest[0] != '/') continue;  // "/srv/xy" is not under "/srv/x"
    }
    if (best && root.size() <= best_length) continue;
    best = WindowsLocation{letter, {}};
    best_length = root.size();
    AppendNormalized(SplitComponents(rest), &best->components);
  }
  return best;
}

// The drive and components a Windows path names before "." and ".." are applied to its own
// components: its drive (explicit, or the current directory's) and, for a relative path, the
// current directory's components. Returns 0 or the Win32 error.
int StartLocation(const DriveMap::Roots& roots, std::optional<char> drive, bool rooted,
                  std::string_view host_current_dir, WindowsLocation* location) {
  if (rooted && drive) {
    location->drive = *drive;
    return 0;
  }
  std::string cwd =
      host_current_dir.empty() ? CurrentHostDirectory() : std::string(host_current_dir);
  std::optional<WindowsLocation> current = LocateHostPath(roots, cwd);
  if (rooted) {  // "\a\b": the drive of the current directory
    if (!current) return kErrorPathNotFound;
    location->drive = current->drive;
  } else if (current && (!drive || *drive == current->drive)) {
    *location = std::move(*current);
  } else if (drive) {  // "X:a" for a drive that is not the current one: its root
    location->drive = *drive;
  } else {
    return kErrorPathNotFound;
  }
  return 0;
}

int ResolveAgainstRoots(const DriveMap::Roots& roots, std::string_view windows_path,
                        std::string_view host_current_dir, std::string* host_path, bool* exists) {
  if (windows_path.empty()) return kErrorInvalidName;
  if (windows_path.size() >= 2 && IsSeparator(windows_path[0]) && IsSeparator(windows_path[1])) {
    return kErrorBadNetpath;
  }
  std::optional<char> drive;
  std::string_view rest = windows_path;
  if (windows_path.size() >= 2 && windows_path[1] == ':') {
    drive = DriveLetter(windows_path[0]);
    if (!drive) return kErrorInvalidName;
    rest = windows_path.substr(2);
  }
  bool rooted = !rest.empty() && IsSeparator(rest[0]);
  WindowsLocation location;
  if (int error = StartLocation(roots, drive, rooted, host_current_dir, &location)) return error;
  AppendNormalized(SplitComponents(rest), &location.components);
  auto root = roots.find(location.drive);
  if (root == roots.end()) return kErrorPathNotFound;
  *host_path = LookUpHostPath(root->second, location.components, exists);
  return 0;
}

}  // namespace

DriveMap::DriveMap() : roots_{{'Z', std::string(1, '/')}} {}

DriveMap::DriveMap(const Roots& roots) { Replace(roots); }

std::string DriveMap::NormalizeRoot(std::string host_root) {
  while (host_root.size() > 1 && host_root.back() == '/') host_root.pop_back();
  return host_root;
}

void DriveMap::Replace(const Roots& roots) {
  Roots fresh;
  bool names_z = false;
  for (const auto& [letter, root] : roots) {
    std::optional<char> upper = DriveLetter(letter);
    if (!upper) continue;
    names_z = names_z || *upper == 'Z';
    if (!root.empty()) fresh[*upper] = NormalizeRoot(root);
  }
  if (!names_z) fresh.try_emplace('Z', "/");
  std::lock_guard<std::mutex> lock(mu_);
  roots_ = std::move(fresh);
}

void DriveMap::Set(char letter, std::string host_root) {
  std::optional<char> upper = DriveLetter(letter);
  if (!upper || host_root.empty()) return;
  std::string root = NormalizeRoot(std::move(host_root));
  std::lock_guard<std::mutex> lock(mu_);
  roots_[*upper] = std::move(root);
}

void DriveMap::Remove(char letter) {
  std::optional<char> upper = DriveLetter(letter);
  if (!upper) return;
  std::lock_guard<std::mutex> lock(mu_);
  roots_.erase(*upper);
}

std::optional<std::string> DriveMap::Root(char letter) const {
  std::optional<char> upper = DriveLetter(letter);
  if (!upper) return std::nullopt;
  std::lock_guard<std::mutex> lock(mu_);
  auto it = roots_.find(*upper);
  if (it == roots_.end()) return std::nullopt;
  return it->second;
}

DriveMap::Roots DriveMap::Snapshot() const {
  std::lock_guard<std::mutex> lock(mu_);
  return roots_;
}

int TryResolveHostPath(const DriveMap& drives, std::string_view windows_path,
                       std::string* host_path, std::string_view host_current_dir, bool* exists) {
  return ResolveAgainstRoots(drives.Snapshot(), windows_path, host_current_dir, host_path, exists);
}

std::string ResolveHostPath(const DriveMap& drives, std::string_view windows_path,
                            std::string_view host_current_dir) {
  std::string host_path;
  int error = TryResolveHostPath(drives, windows_path, &host_path, host_current_dir);
  if (error != 0) RaiseOSError(error);
  return host_path;
}

std::optional<std::string> HostToWindowsPath(const DriveMap& drives, std::string_view host_path) {
  std::optional<WindowsLocation> location = LocateHostPath(drives.Snapshot(), host_path);
  if (!location) return std::nullopt;
  std::string windows{location->drive, ':'};
  for (const std::string& component : location->components) {
    windows += '\\';
    windows += Utf8ToAnsi(component);
  }
  if (location->components.empty()) windows += '\\';
  return windows;
}

std::optional<std::string> HostToWindowsDirectory(const DriveMap& drives,
                                                  std::string_view host_dir) {
  std::optional<std::string> windows = HostToWindowsPath(drives, host_dir);
  if (windows && windows->back() != '\\') *windows += '\\';
  return windows;
}

std::string HostDirectoryOf(std::string_view host_path) {
  size_t slash = host_path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(host_path.substr(0, slash));
}

}  // namespace vantry
