#include "zip/zip_names.h"

#include <zlib.h>

#include <algorithm>
#include <optional>

#include "platform/codepage.h"
#include "zip/zip_format.h"

namespace vantry {
namespace {

bool HasNonAscii(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) > 0x7F; });
}

// The UTF-8 name of a Unicode path field, when the field is version 1 and its CRC-32 is that of
// the stored name (a field left behind by a tool that renamed the entry does not count).
std::optional<std::string> UnicodePathName(const ZipEntry& entry) {
  std::optional<std::string> data = FindExtraField(entry.central_extra, kExtraUnicodePath);
  if (!data || data->size() < 5 || static_cast<uint8_t>((*data)[0]) != kUnicodePathVersion) {
    return std::nullopt;
  }
  uint32_t stored_crc = 0;
  for (int i = 4; i >= 1; --i) stored_crc = stored_crc << 8 | static_cast<uint8_t>((*data)[i]);
  uint32_t crc = static_cast<uint32_t>(::crc32(
      0, reinterpret_cast<const Bytef*>(entry.stored_name.data()), entry.stored_name.size()));
  if (crc != stored_crc) return std::nullopt;
  return data->substr(5);
}

}  // namespace

std::string StoredNameOf(std::string_view disk_name) {
  std::string name(disk_name);
  if (name.starts_with("\\\\")) {
    // \\server\share\ : the fourth backslash ends the share.
    size_t at = 1;
    for (int i = 0; i < 2 && at != std::string::npos; ++i) at = name.find('\\', at + 1);
    name = at == std::string::npos ? std::string() : name.substr(at + 1);
  } else if (size_t colon = name.find(':'); colon != std::string::npos) {
    name.erase(0, colon + 1);
    if (name.starts_with('\\')) name.erase(0, 1);
  }
  if (name.size() > 1 && name.starts_with('\\')) name.erase(0, 1);
  while (name.starts_with("..\\")) name.erase(0, 3);
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

void SetEncodedName(std::string_view ansi_name, ZipEntry* entry) {
  // Names reach us as Windows-1252 text, so a name that 437 cannot hold always fits 1252 and the
  // best-fit and UTF-8 forms are never needed.
  std::optional<std::string> oem = AnsiToOem(ansi_name);
  entry->stored_name = oem ? *oem : std::string(ansi_name);
  entry->host_system = oem ? kHostMsDos : kHostNtfs;
  entry->flags &= static_cast<uint16_t>(~kFlagUtf8Name);
  entry->central_extra =
      HasNonAscii(ansi_name)
          ? SetExtraField(entry->central_extra, kExtraUnicodePath,
                          UnicodePathFieldData(entry->stored_name, AnsiToUtf8(ansi_name)))
          : RemoveExtraField(entry->central_extra, kExtraUnicodePath);
}

std::string AnsiNameOf(const ZipEntry& entry) {
  if ((entry.flags & kFlagUtf8Name) != 0) return Utf8ToAnsi(entry.stored_name);
  if (std::optional<std::string> unicode = UnicodePathName(entry)) return Utf8ToAnsi(*unicode);
  if (entry.host_system == kHostMsDos) return Utf8ToAnsi(OemToUtf8(entry.stored_name));
  return entry.stored_name;
}

}  // namespace vantry
