// Conversions between the system's single-byte code page (Windows-1252, "ANSI") and UTF-8, the
// encoding of host file names and of names carried in messages; the OEM code page (437) that ZIP
// archives store names in; and upper-casing of ANSI text as Windows does for file names.
//
// Thread safety: pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantry {

// Windows-1252 bytes -> UTF-8. The five bytes 1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the C1 controls U+0081.. as Windows does, so every byte string round-trips.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 -> Windows-1252. A character 1252 cannot represent, and every byte of malformed UTF-8,
// becomes "?".
std::string Utf8ToAnsi(std::string_view utf8);

// Windows-1252 -> OEM code page 437, or nullopt when a character has no place in 437 (no
// best-fit substitutes: a name either converts without loss or not at all).
std::optional<std::string> AnsiToOem(std::string_view ansi);
// OEM code page 437 bytes -> UTF-8; every byte has a character.
std::string OemToUtf8(std::string_view oem);

// Upper case of one Windows-1252 character (a-z, the accented letters, s/z/oe with caron and
// y with diaeresis); other bytes are returned unchanged.
char AnsiUpperChar(char c);
// Upper case of Windows-1252 text, character by character.
std::string AnsiUpperCase(std::string_view ansi);
// True when `a` and `b` are equal without regard to letter case, in Windows-1252.
bool AnsiSameText(std::string_view a, std::string_view b);

}  // namespace vantry
