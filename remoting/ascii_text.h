// ASCII-only case-insensitive comparison, the rule by which the runtime's registries match class
// and interface names.
//
// Thread safety: pure functions.
#pragma once

#include <algorithm>
#include <string_view>

namespace vantry {

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// True when `a` and `b` are equal ignoring the case of the letters A-Z.
inline bool AsciiSameText(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace vantry
