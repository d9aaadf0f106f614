// Variants, Decimal, Guid and XML values of the stream serializer.
#include <charconv>
#include <cstring>
#include <sstream>

#include "platform/exception.h"
#include "platform/identity.h"
#include "remoting/serializer.h"

namespace vantry {

namespace {

constexpr int kGuidBytes = 16;
constexpr int kDecimalBytes = 16;
constexpr int kBcdBytes = 34;
constexpr int kMaxDecimalPlaces = 28;

[[noreturn]] void RaiseUnexpectedEnd() { throw EROException("Unexpected end of stream."); }

[[noreturn]] void RaiseUnsupportedVariant(int32_t code) {
  throw EROException(Format("Unsupported variant type \"%d\"", code) + " Not Supported");
}

[[noreturn]] void RaiseUnsupportedElement(int32_t code) {
  if (code == kVarDispatch) {
    throw EROBinaryConversionException(
        Format("Marshaling of IDispatch (%d) type variants is not supported.", code));
  }
  throw EROBinaryConversionException(Format("Unsupported variant type \"%d\"", code));
}

// The fewest bytes one element of a variant array of `code` occupies (at least 1, so that a
// count is always bounded by the bytes that remain); 0 when arrays of `code` are not supported.
size_t VariantElementMinSize(uint16_t code) {
  switch (code) {
    case kVarEmpty:
    case kVarNull:
    case kVarError:
    case kVarBoolean:
    case kVarInt8:
    case kVarUInt8:
      return 1;
    case kVarInt16:
    case kVarUInt16:
      return 2;
    case kVarInt32:
    case kVarUInt32:
    case kVarSingle:
    case kVarWideText:
    case kVarUnicodeText:
    case kVarText:
      return 4;
    case kVarDouble:
    case kVarDate:
    case kVarCurrency:
    case kVarInt64:
      return 8;
    default:
      return 0;
  }
}

template <typename T>
void WriteRaw(TROBinaryMemoryStream& stream, T value) {
  stream.Write(&value, sizeof(T));
}

template <typename T>
T ReadRaw(TROBinaryMemoryStream& stream) {
  T value{};
  stream.ReadBuffer(&value, sizeof(T));
  return value;
}

// --- Decimal text conversion ---

std::string FixedText(double value) {
  char buffer[400];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed);
  return std::string(buffer, result.ptr);
}

std::string CurrencyText(int64_t scaled) {
  unsigned __int128 magnitude = scaled < 0 ? -static_cast<__int128>(scaled) : scaled;
  auto whole = static_cast<uint64_t>(magnitude / 10000);
  auto fraction = static_cast<unsigned>(magnitude % 10000);
  return Format("%s%llu.%04u", scaled < 0 ? "-" : "", static_cast<unsigned long long>(whole),
                fraction);
}

// The decimal text form of a variant, as the Decimal encoding converts it.
std::string DecimalText(const Variant& value) {
  switch (value.type) {
    case kVarInt8:
    case kVarUInt8:
    case kVarInt16:
    case kVarUInt16:
    case kVarInt32:
    case kVarUInt32:
    case kVarInt64:
    case kVarBoolean:
      return std::to_string(value.integer);
    case kVarCurrency:
      return CurrencyText(value.integer);
    case kVarSingle:
    case kVarDouble:
    case kVarDate:
      return FixedText(value.real);
    case kVarText:
    case kVarWideText:
    case kVarUnicodeText:
      return value.text;
    default:
      throw EConvertError("Invalid variant type conversion");
  }
}

// Digits make the magnitude, a minus sign anywhere makes it negative, the digits after the
// decimal separator give the places (beyond 28 they are dropped).
std::string DecimalBytesFromText(const std::string& text) {
  unsigned __int128 magnitude = 0;
  bool negative = false;
  bool after_point = false;
  uint32_t places = 0;
  for (char c : text) {
    if (c == '-') {
      negative = true;
    } else if (c == '.') {
      after_point = true;
    } else if (c >= '0' && c <= '9') {
      if (after_point && places == kMaxDecimalPlaces) continue;
      magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
      if (magnitude >> 96) throw EConvertError(Format("'%s' is not a valid decimal value", text));
      if (after_point) ++places;
    }
  }
  uint32_t words[4] = {static_cast<uint32_t>(magnitude), static_cast<uint32_t>(magnitude >> 32),
                       static_cast<uint32_t>(magnitude >> 64),
                       (negative ? 0x80000000u : 0u) | (places << 16)};
  return std::string(reinterpret_cast<const char*>(words), kDecimalBytes);
}

}  // namespace

// --- Guid ---------------------------------------------------------------------------------------

void TROStreamSerializer::WriteGuid(std::string_view /*name*/, std::string_view text, int /*index*/) {
  Guid guid;
  if (!text.empty()) guid = StringToGuid(text);
  auto bytes = GuidToBytes(guid);
  stream().Write(bytes.data(), bytes.size());
}

void TROStreamSerializer::ReadGuid(std::string_view /*name*/, std::string& text, int /*index*/) {
  uint8_t bytes[kGuidBytes];
  if (stream().Remaining() < kGuidBytes) RaiseUnexpectedEnd();
  stream().ReadBuffer(bytes, kGuidBytes);
  text = GuidToString(GuidFromBytes(bytes));
}

// --- Decimal ------------------------------------------------------------------------------------

void TROStreamSerializer::WriteDecimal(std::string_view /*name*/, const Variant& value, int /*index*/) {
  if (value.type == kVarEmpty || value.type == kVarNull) {
    const char zeros[kDecimalBytes] = {};
    stream().Write(zeros, kDecimalBytes);
  } else if (value.type == kVarByteArray && value.bytes.size() == kDecimalBytes) {
    stream().Write(value.bytes);
  } else {
    stream().Write(DecimalBytesFromText(DecimalText(value)));
  }
}

void TROStreamSerializer::ReadDecimal(std::string_view /*name*/, Variant& value, int /*index*/) {
  if (stream().Remaining() < kDecimalBytes) RaiseUnexpectedEnd();
  std::string bytes(kDecimalBytes, '\0');
  stream().ReadBuffer(bytes.data(), kDecimalBytes);
  value = Variant::ByteArray(std::move(bytes));
}

// --- Variant ------------------------------------------------------------------------------------

bool TROStreamSerializer::WriteVariantPayload(uint16_t code, const Variant& value, bool in_array) {
  TROBinaryMemoryStream& out = stream();
  switch (code) {
    case kVarEmpty:
    case kVarNull:
    case kVarError:
      return true;
    case kVarInt8:
    case kVarUInt8:
      WriteRaw(out, static_cast<uint8_t>(value.integer));
      return true;
    case kVarInt16:
    case kVarUInt16:
      WriteRaw(out, static_cast<uint16_t>(value.integer));
      return true;
    case kVarInt32:
    case kVarUInt32:
      WriteRaw(out, static_cast<uint32_t>(value.integer));
      return true;
    case kVarInt64:
    case kVarCurrency:
      WriteRaw(out, value.integer);
      return true;
    case kVarSingle:
      WriteRaw(out, static_cast<float>(value.real));
      return true;
    case kVarDouble:
    case kVarDate:
      WriteRaw(out, value.real);
      return true;
    case kVarBoolean:
      if (in_array) {
        WriteRaw(out, static_cast<uint8_t>(value.integer != 0));
      } else {
        WriteRaw(out, static_cast<int32_t>(value.integer != 0));
      }
      return true;
    case kVarWideText:
    case kVarUnicodeText:
    case kVarText:
      WriteLengthPrefixedString(out, value.text);
      return true;
    case kVarBcd: {
      if (in_array) return false;
      std::string record = value.bytes;
      record.resize(kBcdBytes);
      out.Write(record);
      return true;
    }
    default:
      return false;
  }
}

bool TROStreamSerializer::ReadVariantPayload(uint16_t code, Variant& value, bool in_array) {
  TROBinaryMemoryStream& in = stream();
  value = Variant::Of(code);
  switch (code) {
    case kVarEmpty:
    case kVarNull:
      return true;
    case kVarError:
      value.integer = kVarErrorParamNotFound;
      return true;
    case kVarInt8:
      value.integer = ReadRaw<int8_t>(in);
      return true;
    case kVarUInt8:
      value.integer = ReadRaw<uint8_t>(in);
      return true;
    case kVarInt16:
      value.integer = ReadRaw<int16_t>(in);
      return true;
    case kVarUInt16:
      value.integer = ReadRaw<uint16_t>(in);
      return true;
    case kVarInt32:
    case kVarUInt32:
      value.type = kVarInt32;
      value.integer = ReadRaw<int32_t>(in);
      return true;
    case kVarInt64:
    case kVarCurrency:
      value.integer = ReadRaw<int64_t>(in);
      return true;
    case kVarSingle:
      value.type = kVarDouble;
      value.real = ReadRaw<float>(in);
      return true;
    case kVarDouble:
    case kVarDate:
      value.real = ReadRaw<double>(in);
      return true;
    case kVarBoolean:
      value.integer = ((in_array ? ReadRaw<uint8_t>(in) : ReadRaw<uint32_t>(in)) & 0xFF) != 0;
      return true;
    case kVarWideText:
    case kVarUnicodeText:
      value.type = kVarWideText;
      ReadAnsiString("", value.text);
      return true;
    case kVarText:
      ReadAnsiString("", value.text);
      return true;
    case kVarBcd:
      if (in_array) return false;
      value.bytes.resize(kBcdBytes);
      in.ReadBuffer(value.bytes.data(), kBcdBytes);
      return true;
    default:
      return false;
  }
}

void TROStreamSerializer::WriteVariant(std::string_view /*name*/, const Variant& value, int /*index*/) {
  if (value.IsArray()) return WriteVariantArray(value);
  WriteInt32(stream(), value.type);
  if (!WriteVariantPayload(value.type, value, false)) RaiseUnsupportedVariant(value.type);
}

void TROStreamSerializer::ReadVariant(std::string_view /*name*/, Variant& value, int /*index*/) {
  int32_t code = ReadInt32(stream());
  if (code < 0 || code > 0xFFFF) RaiseUnsupportedVariant(code);
  if ((code & kVarArray) != 0) return ReadVariantArray(static_cast<uint16_t>(code), value);
  if (!ReadVariantPayload(static_cast<uint16_t>(code), value, false)) RaiseUnsupportedVariant(code);
}

void TROStreamSerializer::WriteVariantArray(const Variant& value) {
  WriteInt32(stream(), value.type);
  if (value.type == kVarByteArray) {
    WriteLengthPrefixedString(stream(), value.bytes);
    return;
  }
  uint16_t element_code = value.type & ~kVarArray;
  if (VariantElementMinSize(element_code) == 0) RaiseUnsupportedElement(element_code);
  int32_t count = static_cast<int32_t>(value.elements.size());
  WriteInt32(stream(), value.low_bound);
  WriteInt32(stream(), value.low_bound + count - 1);
  for (const Variant& element : value.elements) WriteVariantPayload(element_code, element, true);
}

void TROStreamSerializer::ReadVariantArray(uint16_t type, Variant& value) {
  if (type == kVarByteArray) {
    Variant bytes = Variant::ByteArray({});
    ReadAnsiString("", bytes.bytes);
    value = std::move(bytes);
    return;
  }
  uint16_t element_code = type & ~kVarArray;
  if (element_code > 0x0FFF) RaiseUnsupportedVariant(type);
  size_t min_size = VariantElementMinSize(element_code);
  if (min_size == 0) RaiseUnsupportedElement(element_code);
  int32_t low = ReadInt32(stream());
  int32_t high = ReadInt32(stream());
  int64_t count = std::max<int64_t>(0, int64_t{high} - low + 1);
  if (static_cast<uint64_t>(count) > stream().Remaining() / min_size) {
    throw EROException(
        Format("Stream read error: Invalid string length \"%d\"", static_cast<int32_t>(count)));
  }
  Variant array = Variant::Of(type);
  array.low_bound = low;
  array.elements.resize(count);
  for (Variant& element : array.elements) ReadVariantPayload(element_code, element, true);
  value = std::move(array);
}

// --- XML ----------------------------------------------------------------------------------------

void TROStreamSerializer::WriteXml(std::string_view name, const XmlNode& value, int index) {
  std::string text;
  if (value) {
    std::ostringstream out;
    value.node.print(out, "", pugi::format_raw | pugi::format_no_declaration);
    text = out.str();
  }
  WriteUtf8String(name, text, index);
}

void TROStreamSerializer::ReadXml(std::string_view name, XmlNode& value, int index) {
  std::string text;
  ReadUtf8String(name, text, index);
  value = XmlNode{};
  if (text.empty()) return;
  auto document = std::make_shared<pugi::xml_document>();
  pugi::xml_parse_result result =
      document->load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result) throw EROException("Invalid input");
  value.node = document->document_element();
  value.document = std::move(document);
}

}  // namespace vantry
