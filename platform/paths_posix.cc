#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "platform/codepage.h"
#include "platform/directory_cache.h"
#include "platform/path_lookup.h"
#include "platform/paths.h"

namespace vantry {
namespace {

std::string JoinHost(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// The host name of `ansi_name` inside `host_dir`, or nullopt when no entry matches. A name in
// another letter case needs the whole directory, which the cache keeps between lookups.
std::optional<std::string> FindComponent(const std::string& host_dir,
                                         const std::string& ansi_name) {
  std::string exact = AnsiToUtf8(ansi_name);
  struct stat st;
  if (::lstat(JoinHost(host_dir, exact).c_str(), &st) == 0) return exact;
  std::shared_ptr<const DirectoryListing> listing = ListHostDirectory(host_dir);
  if (listing == nullptr) return std::nullopt;
  const DirectoryListing::Name* found = listing->FindUpper(AnsiUpperCase(ansi_name));
  if (found == nullptr || found->host == "." || found->host == "..") return std::nullopt;
  return found->host;
}

}  // namespace

std::string LookUpHostPath(const std::string& host_root, const std::vector<std::string>& components,
                           bool* all_exist) {
  std::string host = host_root;
  bool exists = true;
  for (const std::string& component : components) {
    std::optional<std::string> found;
    if (exists) found = FindComponent(host, component);
    exists = found.has_value();
    host = JoinHost(host, found ? *found : AnsiToUtf8(component));
  }
  if (all_exist != nullptr) *all_exist = exists;
  return host;
}

std::string ExecutableHostPath() {
  char buffer[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer));
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer)) return {};
  return std::string(buffer, static_cast<size_t>(length));
}

std::string HostTempDirectory() {
  const char* tmpdir = ::getenv("TMPDIR");
  std::string dir = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool HostDirectoryExists(const std::string& host_path) {
  struct stat st;
  return ::stat(host_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentHostDirectory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof(buffer)) == nullptr) return {};
  return buffer;
}

}  // namespace vantry
