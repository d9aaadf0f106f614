#include "platform/identity.h"

#include "platform/exception.h"

namespace vantry {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads `digits` hex digits at `*pos`; false when one is not a hex digit.
bool ReadHex(std::string_view text, size_t* pos, int digits, uint64_t* value) {
  *value = 0;
  for (int i = 0; i < digits; ++i) {
    int v = HexValue(text[*pos + i]);
    if (v < 0) return false;
    *value = *value << 4 | static_cast<uint64_t>(v);
  }
  *pos += digits;
  return true;
}

}  // namespace

bool Guid::IsNull() const { return *this == Guid{}; }

std::array<uint8_t, kGuidSize> GuidToBytes(const Guid& guid) {
  std::array<uint8_t, kGuidSize> bytes;
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(guid.data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<uint8_t>(guid.data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<uint8_t>(guid.data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) bytes[8 + i] = guid.data4[i];
  return bytes;
}

Guid GuidFromBytes(const uint8_t* bytes) {
  Guid guid;
  for (int i = 3; i >= 0; --i) guid.data1 = guid.data1 << 8 | bytes[i];
  guid.data2 = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
  guid.data3 = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
  for (int i = 0; i < 8; ++i) guid.data4[i] = bytes[8 + i];
  return guid;
}

std::string GuidToString(const Guid& g) {
  return Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                g.data4[7]);
}

std::optional<Guid> TryStringToGuid(std::string_view text) {
  if (text.size() != 38 || text[0] != '{' || text[37] != '}') return std::nullopt;
  if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') {
    return std::nullopt;
  }
  Guid guid;
  size_t pos = 1;
  uint64_t v;
  if (!ReadHex(text, &pos, 8, &v)) return std::nullopt;
  guid.data1 = static_cast<uint32_t>(v);
  ++pos;
  if (!ReadHex(text, &pos, 4, &v)) return std::nullopt;
  guid.data2 = static_cast<uint16_t>(v);
  ++pos;
  if (!ReadHex(text, &pos, 4, &v)) return std::nullopt;
  guid.data3 = static_cast<uint16_t>(v);
  ++pos;
  for (int i = 0; i < 8; ++i) {
    if (i == 2) ++pos;  // the hyphen after the fourth group
    if (!ReadHex(text, &pos, 2, &v)) return std::nullopt;
    guid.data4[i] = static_cast<uint8_t>(v);
  }
  return guid;
}

Guid StringToGuid(std::string_view text) {
  std::optional<Guid> guid = TryStringToGuid(text);
  if (!guid) throw EConvertError(Format("'%s' is not a valid GUID value", text));
  return *guid;
}

}  // namespace vantry
