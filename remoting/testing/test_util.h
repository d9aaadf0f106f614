// Helpers for the runtime's tests: byte strings from hex text and back.
#pragma once

#include <string>
#include <string_view>

namespace vantry::testing_util {

// "01 0a FF" -> the three bytes; blanks are ignored.
inline std::string Hex(std::string_view hex) {
  std::string bytes;
  int high = -1;
  for (char c : hex) {
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) continue;
    if (high < 0) {
      high = digit;
    } else {
      bytes += static_cast<char>(high * 16 + digit);
      high = -1;
    }
  }
  return bytes;
}

// The bytes as upper-case hex pairs separated by blanks.
inline std::string ToHex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    if (!hex.empty()) hex += ' ';
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

}  // namespace vantry::testing_util
