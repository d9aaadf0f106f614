// LocalDirectory: a directory of this machine as the service would name it, for the commands
// that read local backup directories without a service (plan, parts). The host's whole tree is
// drive Z:, as the service sees it without a [Drives] section, so the file code of the service
// (finding files, host paths) works on it unchanged.
//
// Ownership: owns its drive map and the file system over it. One thread.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/paths.h"

namespace vantry::client {

class LocalDirectory {
 public:
  // Throws UsageError "no directory \"DIR\"" when `directory` (absolute or relative to the
  // working directory) is not a directory.
  explicit LocalDirectory(const std::string& directory);
  LocalDirectory(const LocalDirectory&) = delete;
  LocalDirectory& operator=(const LocalDirectory&) = delete;

  PosixFileSystem& Files() { return file_system_; }
  // The directory as a Windows path on Z:, e.g. "Z:\srv\backup".
  const std::string& WindowsPath() const { return windows_path_; }

 private:
  DriveMap drives_;
  PosixFileSystem file_system_{drives_};
  std::string windows_path_;
};

}  // namespace vantry::client
