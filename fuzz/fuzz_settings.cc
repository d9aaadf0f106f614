// Feeds arbitrary bytes as "Vantry.ini": parsing, every setting and the drive map must come out
// with defaults for whatever is malformed, never crash or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/ini_file.h"
#include "host/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vantry::IniFile ini = vantry::IniFile::Parse(text);
  vantry::TSettingsRead read = vantry::ParseSettings(ini, "Z:\\etc\\vantry\\");
  vantry::DriveMap::Roots roots = vantry::ParseDriveRoots(ini);
  std::string described = vantry::DescribeSettings(read);
  return described.empty() && roots.empty() ? 1 : 0;
}
