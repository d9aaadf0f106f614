// In-memory forms of the value types that have no natural C++ counterpart: `Variant` (with the
// Decimal, which travels as a variant) and `XmlNode`. They are small on purpose: they hold exactly
// what the binary encoding can carry.
//
// Thread safety: plain values; share by copying.
#pragma once

#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

namespace vantry {

// Variant type codes as they travel on the wire.
inline constexpr uint16_t kVarEmpty = 0;
inline constexpr uint16_t kVarNull = 1;
inline constexpr uint16_t kVarInt16 = 2;
inline constexpr uint16_t kVarInt32 = 3;
inline constexpr uint16_t kVarSingle = 4;
inline constexpr uint16_t kVarDouble = 5;
inline constexpr uint16_t kVarCurrency = 6;
inline constexpr uint16_t kVarDate = 7;
inline constexpr uint16_t kVarWideText = 8;
inline constexpr uint16_t kVarDispatch = 9;
inline constexpr uint16_t kVarError = 10;
inline constexpr uint16_t kVarBoolean = 11;
inline constexpr uint16_t kVarVariant = 12;
inline constexpr uint16_t kVarInt8 = 16;
inline constexpr uint16_t kVarUInt8 = 17;
inline constexpr uint16_t kVarUInt16 = 18;
inline constexpr uint16_t kVarUInt32 = 19;
inline constexpr uint16_t kVarInt64 = 20;
inline constexpr uint16_t kVarText = 256;         // single-byte text, no conversion
inline constexpr uint16_t kVarUnicodeText = 258;  // read back as kVarWideText
// Binary-coded decimal: the 34-byte record. The code is this system's own choice.
inline constexpr uint16_t kVarBcd = 0x0110;
inline constexpr uint16_t kVarArray = 0x2000;  // flag: one-dimensional array of (code & 0x0FFF)
inline constexpr uint16_t kVarByteArray = kVarArray | kVarUInt8;
// The error value every error variant reads back as (parameter not found).
inline constexpr int64_t kVarErrorParamNotFound = 0x80020004;

// A variant value. Which member holds the value depends on `type`:
//   integer   kVarInt8..kVarInt64, kVarUInt*, kVarBoolean (0/1), kVarError (the code),
//             kVarCurrency (the value times 10000)
//   real      kVarSingle, kVarDouble, kVarDate
//   text      kVarText (bytes), kVarWideText and kVarUnicodeText (UTF-8)
//   bytes     kVarByteArray (the bytes, bounds 0..n-1), kVarBcd (the 34-byte record)
//   elements  other arrays (type = kVarArray | element code), bounds low_bound..+size-1
// A Decimal is a kVarByteArray of 16 bytes (low, middle, high 32-bit words of the magnitude, then
// the flags word: bit 31 sign, bits 16..23 decimal places).
struct Variant {
  uint16_t type = kVarEmpty;
  int64_t integer = 0;
  double real = 0;
  std::string text;
  std::string bytes;
  int32_t low_bound = 0;
  std::vector<Variant> elements;

  static Variant Of(uint16_t type, int64_t integer = 0) {
    Variant v;
    v.type = type;
    v.integer = integer;
    return v;
  }
  static Variant Real(uint16_t type, double real) {
    Variant v;
    v.type = type;
    v.real = real;
    return v;
  }
  static Variant Text(std::string text, uint16_t type = kVarText) {
    Variant v;
    v.type = type;
    v.text = std::move(text);
    return v;
  }
  static Variant ByteArray(std::string bytes) {
    Variant v;
    v.type = kVarByteArray;
    v.bytes = std::move(bytes);
    return v;
  }
  bool IsArray() const { return (type & kVarArray) != 0; }
  friend bool operator==(const Variant&, const Variant&) = default;
};

// An XML node value. `document` keeps the node's tree alive; a default object is "no node".
struct XmlNode {
  std::shared_ptr<pugi::xml_document> document;
  pugi::xml_node node;

  explicit operator bool() const { return static_cast<bool>(node); }
};

}  // namespace vantry
