// IniFile: the in-memory reader of the settings file syntax (Vantry.ini), and the value readers
// the settings use: text, integer, Boolean and comma list. The file is only ever read.
//
// Syntax: lines end at CR, LF or CR LF and are stripped of leading and trailing characters with
// codes up to 32; empty lines and lines beginning with ";" are skipped; "[name]" opens a section;
// lines before the first section are skipped; other lines split at their first "=" into key and
// value. Sections and keys match without regard to case; when a section header or a key occurs
// more than once the last occurrence is the one read.
//
// Thread safety: an IniFile is immutable after Parse; concurrent readers are safe.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantry {

class IniFile {
 public:
  IniFile() = default;  // an empty file: every key takes its default

  // Parses the whole file text (8-bit bytes, passed through unchanged).
  static IniFile Parse(std::string_view text);

  // The value of `key` in `section` exactly as read, or nullopt when the key is missing.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;

  // The value, or `default_value` when the key is missing. A key present with an empty value
  // gives the empty text.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;
  // The value read as an integer (see TryParseInteger), or `default_value` when the key is
  // missing, empty or not a valid integer.
  int32_t ReadInteger(std::string_view section, std::string_view key,
                      int32_t default_value) const;
  // The value read as an integer with 1 (true) or 0 (false) as default; 0 is false, any other
  // integer is true. A value that is not an integer (the word true, say) gives the default.
  bool ReadBool(std::string_view section, std::string_view key, bool default_value) const;
  // The value split as a comma list (see SplitCommaList); a missing key gives the empty list.
  std::vector<std::string> ReadCommaList(std::string_view section, std::string_view key) const;

  // The keys of `section` with their values, in key order (upper-cased keys); empty when the
  // section is missing.
  std::vector<std::pair<std::string, std::string>> ReadSection(std::string_view section) const;
  // The names of the sections present, upper-cased, sorted.
  std::vector<std::string> SectionNames() const;

 private:
  // Keyed by the upper-cased section name, then by the upper-cased key.
  using Section = std::map<std::string, std::string>;
  std::map<std::string, Section> sections_;
};

// An optional sign followed either by decimal digits within the signed 32-bit range, or by at
// most eight hexadecimal digits behind "$", "x", "X", "0x" or "0X", read as a 32-bit pattern
// ("$FFFFFFFF" is -1). nullopt for anything else, the empty text included.
std::optional<int32_t> TryParseInteger(std::string_view text);

// Splits a comma list: items separated by a comma or by characters with codes up to 32 (or
// both); an item beginning with a double quote runs to the matching quote, with "" standing for
// one quote. A comma at the very end adds one empty item; the empty text gives no item. Order
// and duplicates are kept.
std::vector<std::string> SplitCommaList(std::string_view text);

// `text` without leading and trailing characters with codes up to 32 (blanks and controls).
std::string_view StripControls(std::string_view text);

}  // namespace vantry
