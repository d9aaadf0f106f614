// The identity of this instance and of messages: random GUIDs in their text and 16-byte binary
// forms, and the computer name.
//
// Thread safety: all functions are safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantry {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  bool IsNull() const;
  friend bool operator==(const Guid&, const Guid&) = default;
};

// Binary layout: data1 as 4 bytes little-endian, data2 and data3 as 2 bytes little-endian each,
// then the 8 bytes of data4 in order (the order they appear in the text form).
inline constexpr int kGuidSize = 16;
std::array<uint8_t, kGuidSize> GuidToBytes(const Guid& guid);
Guid GuidFromBytes(const uint8_t* bytes);  // reads kGuidSize bytes

// A new random GUID (version 4, variant 10xx), from the kernel's random source.
Guid NewGuid();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": 38 characters, upper-case hex.
std::string GuidToString(const Guid& guid);
// Parses the text form (hex digits in either case); nullopt for any other text.
std::optional<Guid> TryStringToGuid(std::string_view text);
// As TryStringToGuid; throws EConvertError "'%s' is not a valid GUID value" with the text.
Guid StringToGuid(std::string_view text);

// The computer name: the first label of the host name, upper case, at most 15 characters;
// the empty text when the host name cannot be read.
std::string ComputerName();

}  // namespace vantry
