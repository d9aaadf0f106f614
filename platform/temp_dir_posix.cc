#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/temp_dir.h"

namespace vantry {

TempDir::TempDir() {
  std::string templ = HostTempDirectory() + "/vantry-XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) RaiseErrno(errno);
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Entries made read-only by a test must not keep their directory alive.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(
        it->path(), std::filesystem::perms::owner_all,
        std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace vantry
