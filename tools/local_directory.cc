#include "tools/local_directory.h"

#include <filesystem>
#include <optional>

#include "tools/usage_error.h"

namespace vantry::client {

LocalDirectory::LocalDirectory(const std::string& directory) {
  std::error_code error;
  std::filesystem::path host = std::filesystem::absolute(directory, error);
  if (error || !std::filesystem::is_directory(host, error)) {
    throw UsageError("no directory \"" + directory + "\"");
  }
  std::optional<std::string> windows_path =
      HostToWindowsDirectory(drives_, host.lexically_normal().string());
  if (!windows_path) throw UsageError("cannot name the directory \"" + directory + "\"");
  windows_path_ = *windows_path;
}

}  // namespace vantry::client
