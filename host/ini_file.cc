#include "host/ini_file.h"

#include "host/string_lists.h"

namespace vantry {

namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) <= 32; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<uint32_t> ParseHexPattern(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = value << 4 | static_cast<uint32_t>(d);
  }
  return value;
}

// Decimal digits as a magnitude; nullopt beyond what a negated 32-bit value can hold.
std::optional<uint64_t> ParseDecimalMagnitude(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 2147483648u) return std::nullopt;
  }
  return value;
}

// Reads one quoted item starting at text[*pos] == '"'; "" inside stands for one quote. An item
// whose closing quote is missing runs to the end of the text.
std::string ReadQuotedItem(std::string_view text, size_t* pos) {
  std::string item;
  size_t p = *pos + 1;
  while (p < text.size()) {
    if (text[p] == '"') {
      if (p + 1 < text.size() && text[p + 1] == '"') {
        item += '"';
        p += 2;
        continue;
      }
      ++p;
      break;
    }
    item += text[p++];
  }
  *pos = p;
  return item;
}

}  // namespace

std::string_view StripControls(std::string_view text) {
  while (!text.empty() && IsControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsControl(text.back())) text.remove_suffix(1);
  return text;
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  Section* current = nullptr;
  for (std::string_view raw : SplitLines(text)) {
    std::string_view line = StripControls(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      // A repeated header starts its section afresh: the last occurrence is the one read.
      current = &ini.sections_[UpperCase(StripControls(line.substr(1, line.size() - 2)))];
      current->clear();
      continue;
    }
    if (current == nullptr) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = UpperCase(StripControls(line.substr(0, eq)));
    (*current)[key] = std::string(StripControls(line.substr(eq + 1)));
  }
  return ini;
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
  auto s = sections_.find(UpperCase(section));
  if (s == sections_.end()) return std::nullopt;
  auto k = s->second.find(UpperCase(key));
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  std::optional<std::string> value = Find(section, key);
  return value ? *value : std::string(default_value);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                             int32_t default_value) const {
  std::optional<std::string> value = Find(section, key);
  if (!value) return default_value;
  return TryParseInteger(*value).value_or(default_value);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

std::vector<std::string> IniFile::ReadCommaList(std::string_view section,
                                                std::string_view key) const {
  return SplitCommaList(ReadString(section, key, ""));
}

std::vector<std::pair<std::string, std::string>> IniFile::ReadSection(
    std::string_view section) const {
  auto s = sections_.find(UpperCase(section));
  if (s == sections_.end()) return {};
  return {s->second.begin(), s->second.end()};
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const auto& [name, keys] : sections_) names.push_back(name);
  return names;
}

std::optional<int32_t> TryParseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  uint32_t pattern;
  if (text.starts_with("0x") || text.starts_with("0X") || text.starts_with('$') ||
      text.starts_with('x') || text.starts_with('X')) {
    text.remove_prefix(text.front() == '0' ? 2 : 1);
    std::optional<uint32_t> hex = ParseHexPattern(text);
    if (!hex) return std::nullopt;
    pattern = *hex;
  } else {
    std::optional<uint64_t> magnitude = ParseDecimalMagnitude(text);
    if (!magnitude || (!negative && *magnitude > 2147483647u)) return std::nullopt;
    pattern = static_cast<uint32_t>(*magnitude);
  }
  // Two's complement negation of the 32-bit pattern: "-$FFFFFFFF" reads as 1.
  if (negative) pattern = 0u - pattern;
  return static_cast<int32_t>(pattern);
}

std::vector<std::string> SplitCommaList(std::string_view text) {
  std::vector<std::string> items;
  auto skip_controls = [&](size_t p) {
    while (p < text.size() && IsControl(text[p])) ++p;
    return p;
  };
  size_t p = skip_controls(0);
  while (p < text.size()) {
    if (text[p] == '"') {
      items.push_back(ReadQuotedItem(text, &p));
    } else {
      size_t start = p;
      while (p < text.size() && text[p] != ',' && !IsControl(text[p])) ++p;
      items.emplace_back(text.substr(start, p - start));
    }
    p = skip_controls(p);
    if (p < text.size() && text[p] == ',') {
      p = skip_controls(p + 1);
      if (p == text.size()) items.emplace_back();
    }
  }
  return items;
}

}  // namespace vantry
