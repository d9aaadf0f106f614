#include "platform/codepage.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace vantry {
namespace {

// Code points of the bytes 0x80..0x9F; the bytes Windows-1252 leaves undefined keep the C1
// control of the same value, as the system's own converter does.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Code points of the bytes 0x80..0xFF of the OEM code page 437; the bytes below 0x80 are ASCII.
constexpr char32_t kOemHigh[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

char32_t AnsiToCodePoint(uint8_t b) {
  if (b >= 0x80 && b < 0xA0) return kHighControls[b - 0x80];
  return b;
}

// The 1252 byte of `cp`, or '?' when 1252 has none.
char CodePointToAnsi(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `*pos`, advancing past it. A malformed sequence (bad lead,
// missing continuation, overlong form, surrogate, beyond U+10FFFF) consumes one byte and yields
// 0xFFFFFFFF, which no character has.
char32_t DecodeUtf8(std::string_view s, size_t* pos) {
  constexpr char32_t kBad = 0xFFFFFFFF;
  uint8_t lead = static_cast<uint8_t>(s[*pos]);
  int length;
  char32_t cp;
  if (lead < 0x80) {
    ++*pos;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07;
  } else {
    ++*pos;
    return kBad;
  }
  if (*pos + length > s.size()) {
    ++*pos;
    return kBad;
  }
  for (int i = 1; i < length; ++i) {
    uint8_t b = static_cast<uint8_t>(s[*pos + i]);
    if ((b & 0xC0) != 0x80) {
      ++*pos;
      return kBad;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++*pos;
    return kBad;
  }
  *pos += length;
  return cp;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (char c : ansi) AppendUtf8(AnsiToCodePoint(static_cast<uint8_t>(c)), &out);
  return out;
}

std::optional<std::string> AnsiToOem(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (char c : ansi) {
    char32_t cp = AnsiToCodePoint(static_cast<uint8_t>(c));
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    const char32_t* found = std::find(std::begin(kOemHigh), std::end(kOemHigh), cp);
    if (found == std::end(kOemHigh)) return std::nullopt;
    out.push_back(static_cast<char>(0x80 + (found - std::begin(kOemHigh))));
  }
  return out;
}

std::string OemToUtf8(std::string_view oem) {
  std::string out;
  out.reserve(oem.size());
  for (char c : oem) {
    uint8_t b = static_cast<uint8_t>(c);
    AppendUtf8(b < 0x80 ? b : kOemHigh[b - 0x80], &out);
  }
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) out.push_back(CodePointToAnsi(DecodeUtf8(utf8, &pos)));
  return out;
}

char AnsiUpperChar(char c) {
  uint8_t b = static_cast<uint8_t>(c);
  if (b >= 'a' && b <= 'z') return static_cast<char>(b - 0x20);
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<char>(b - 0x20);
  switch (b) {
    case 0x9A:  // s with caron
    case 0x9C:  // oe
    case 0x9E:  // z with caron
      return static_cast<char>(b - 0x10);
    case 0xFF:  // y with diaeresis
      return static_cast<char>(0x9F);
    default:
      return c;
  }
}

std::string AnsiUpperCase(std::string_view ansi) {
  std::string out(ansi);
  for (char& c : out) c = AnsiUpperChar(c);
  return out;
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AnsiUpperChar(a[i]) != AnsiUpperChar(b[i])) return false;
  }
  return true;
}

}  // namespace vantry
