// The settings check: what in "Vantry.ini", "AllowedSourceIPs.txt" and the home directory the
// service will silently read otherwise than the operator probably meant. The service runs with
// such files all the same (every value as the readers take it); the check only says so, one
// line per finding, at every start and reload and from "vantryd --check-config".
//
// Thread safety: a pure function.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/ini_file.h"

namespace vantry {

struct TConfigurationToCheck {
  const IniFile* ini = nullptr;  // the parsed "Vantry.ini" (empty when there is none)
  // The text of "AllowedSourceIPs.txt"; nullopt when there is none.
  std::optional<std::string> allowed_source_ips;
  std::string home_dir;  // host path of the home directory
  // Whether a host directory exists (the drive map's directories and the home directory).
  std::function<bool(const std::string&)> directory_exists;
};

// One warning line per finding, in file order: unknown sections and keys, values the readers
// cannot take (and so replace by their defaults), mapped drives whose directory is relative or
// missing, allow-list entries that no caller's address can equal, a missing home directory.
std::vector<std::string> CheckConfiguration(const TConfigurationToCheck& config);

}  // namespace vantry
