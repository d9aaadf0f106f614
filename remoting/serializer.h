// TROStreamSerializer: writes the values of a message body into a TROBinaryMemoryStream and reads
// them back, in the fixed little-endian encodings of the binary message format, plus the
// length-prefixed string routines of the message envelope.
//
// The format is a plain concatenation of values in call order: no names, no type tags (except
// inside variants), no alignment. Parameter names and array element indexes are accepted for the
// sake of textual formats and ignored.
//
// Every read is bounded by the stream: lengths and counts are checked against the stream before
// anything is allocated, and nothing is read past its end.
//
// Thread safety: none; a serializer belongs to the message that owns it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "remoting/binary_stream.h"
#include "remoting/complex_type.h"
#include "remoting/ro_exception.h"
#include "remoting/type_info.h"
#include "remoting/value_types.h"

namespace vantry {

// The longest struct class name a reader accepts.
inline constexpr int kMaxStructClassNameLength = 256;

class TROStreamSerializer {
 public:
  TROStreamSerializer() = default;
  // `stream` is not owned and must outlive its use by this serializer.
  explicit TROStreamSerializer(TROBinaryMemoryStream* stream) : stream_(stream) {}

  // Attaching a stream drops bytes lent to the one before (see SetLendBinaries).
  void SetStream(TROBinaryMemoryStream* stream) {
    stream_ = stream;
    lent_ = {};
  }
  // The stream with every lent byte in place.
  TROBinaryMemoryStream* Stream() {
    SettleLent();
    return stream_;
  }

  // Large Binary values (kMinMovedBinarySize and up) without a copy, for a message body that
  // goes to the wire as it is:
  // - Lending, when writing: the value's bytes are not copied behind their length but lent from
  //   the caller's buffer, which must stay unchanged until the stream is sent or detached.
  //   They are copied in (settled) before anything else touches the stream; a sender takes them
  //   with LentBytes() as the part that follows the stream's content.
  // - Adopting, when reading: a value that ends the stream takes over the stream's allocation
  //   instead of being copied out; the stream is left empty (nothing followed the value).
  // Both off by default; meant for a stream the caller owns wholly (a message body).
  void SetLendBinaries(bool on) { lend_binaries_ = on; }
  void SetAdoptTrailingBinary(bool on) { adopt_trailing_binary_ = on; }
  // Bytes lent after the stream's end, or an empty view.
  std::string_view LentBytes() const { return lent_; }
  // Copies lent bytes into the stream at its position.
  void SettleLent();
  static constexpr size_t kMinMovedBinarySize = 64 * 1024;

  // Generic entries: write the variable at `value` / read into the variable at `value`, whose
  // C++ type is the one `type` describes (see TypeInfoOf). Throw EROUnknownType
  // "Type "%s" not supported" for types outside the format; read errors as the per-type reads.
  // A failed read of an object-typed value leaves the variable holding no object.
  void Write(std::string_view name, const TypeInfo& type, const void* value, int index = -1);
  void Read(std::string_view name, const TypeInfo& type, void* value, int index = -1);

  template <typename T>
  void Write(std::string_view name, const T& value) {
    Write(name, TypeInfoOf<T>(), &value);
  }
  template <typename T>
  void Read(std::string_view name, T& value) {
    Read(name, TypeInfoOf<T>(), &value);
  }

  static const char* GetArrayElementName(const TypeInfo& /*type*/, const void* /*element*/) {
    return "item";
  }

  // Per-type operations. Reads of fixed-width values throw EReadError "Stream read error" when
  // fewer bytes remain. Variables are passed as in memory: `value` points at a variable of the
  // width the ordinal/enumeration/float type says.
  void WriteInteger(std::string_view name, OrdinalType type, const void* value, int index = -1);
  void ReadInteger(std::string_view name, OrdinalType type, void* value, int index = -1);
  void WriteInt64(std::string_view name, int64_t value, int index = -1);
  void ReadInt64(std::string_view name, int64_t& value, int index = -1);
  // 4 bytes on the wire: the ordinal zero-extended from the variable's width; reading stores the
  // low enum_size bytes.
  void WriteEnumerated(std::string_view name, const TypeInfo& type, const void* value,
                       int index = -1);
  void ReadEnumerated(std::string_view name, const TypeInfo& type, void* value, int index = -1);
  // Single 4, double 8, extended 10 (long double), comp and currency 8 (an int64_t variable).
  void WriteFloat(std::string_view name, FloatType type, const void* value, int index = -1);
  void ReadFloat(std::string_view name, FloatType type, void* value, int index = -1);
  void WriteDateTime(std::string_view name, double value, int index = -1);
  void ReadDateTime(std::string_view name, double& value, int index = -1);

  // Strings: 4-byte signed length n then n bytes (2n, UTF-16LE, for wide strings). Reads:
  // EReadError "Stream read error" when the length or the bytes are missing; EROException
  // "Stream read error: Invalid string length "%d"" when n exceeds `max_length` (when >= 0) or
  // the whole stream; n <= 0 gives the empty string.
  void WriteAnsiString(std::string_view name, std::string_view value, int index = -1);
  void ReadAnsiString(std::string_view name, std::string& value, int index = -1,
                      int max_length = -1);
  void WriteUtf8String(std::string_view name, std::string_view value, int index = -1);
  void ReadUtf8String(std::string_view name, std::string& value, int index = -1,
                      int max_length = -1);
  void WriteWideString(std::string_view name, std::u16string_view value, int index = -1);
  void ReadWideString(std::string_view name, std::u16string& value, int index = -1,
                      int max_length = -1);

  // Guid: 16 binary bytes from the text form; "" writes zeros; other non-GUID text throws
  // EConvertError. Reading gives the braced upper-case text; fewer than 16 bytes throw
  // EROException "Unexpected end of stream.".
  void WriteGuid(std::string_view name, std::string_view text, int index = -1);
  void ReadGuid(std::string_view name, std::string& text, int index = -1);
  // Decimal: 16 bytes (see Variant). Reading gives a 16-byte kVarByteArray.
  void WriteDecimal(std::string_view name, const Variant& value, int index = -1);
  void ReadDecimal(std::string_view name, Variant& value, int index = -1);
  void WriteVariant(std::string_view name, const Variant& value, int index = -1);
  void ReadVariant(std::string_view name, Variant& value, int index = -1);
  // XML: a UTF-8 string holding the node's XML text; "" is no node. Text that does not parse
  // throws EROException "Invalid input".
  void WriteXml(std::string_view name, const XmlNode& value, int index = -1);
  void ReadXml(std::string_view name, XmlNode& value, int index = -1);

  // Binary: presence flag, 4-byte unsigned length, bytes. The whole buffer is written whatever its
  // position (which ends at its end). Reading returns nullptr for an absent value; the new
  // buffer is positioned at 0.
  void WriteBinary(std::string_view name, TROBinaryMemoryStream* value, int index = -1);
  std::unique_ptr<TROBinaryMemoryStream> ReadBinary(std::string_view name, int index = -1);
  // Structs: presence flag, the actual class name (UTF-8 string), the fields. Reading finds the
  // class in the complex-type registry and checks that it descends from `declared`.
  void WriteStruct(std::string_view name, TROComplexType* value, const ClassInfo& declared,
                   int index = -1);
  std::unique_ptr<TROComplexType> ReadStruct(std::string_view name, const ClassInfo& declared,
                                             int index = -1);
  // Arrays: presence flag, 4-byte count, the elements. Reading makes an array of `declared`.
  void WriteArray(std::string_view name, TROArray* value, const ClassInfo& declared,
                  int index = -1);
  std::unique_ptr<TROComplexType> ReadArray(std::string_view name, const ClassInfo& declared,
                                            int index = -1);
  // The published fields of an exception, as for a struct; nothing for a null exception.
  void WriteException(std::string_view name, EROException* value, int index = -1);
  void ReadException(std::string_view name, EROException* value, int index = -1);

 private:
  TROBinaryMemoryStream& stream() {
    if (!lent_.empty()) SettleLent();
    return *stream_;
  }
  void WriteFields(const std::vector<FieldInfo>& fields, void* object);
  void ReadFields(const std::vector<FieldInfo>& fields, void* object);
  void WriteClass(std::string_view name, const TypeInfo& type, const void* value, int index);
  void ReadClass(std::string_view name, const TypeInfo& type, void* value, int index);
  // Reads a 4-byte string length and checks it against `max_length` and the stream size
  // (`unit` bytes per character).
  int32_t ReadStringLength(int max_length, int unit);
  // Variant payloads for `code`, shared by variants and variant array elements (whose Boolean is
  // 1 byte instead of 4). Return false for codes without a payload routine.
  bool WriteVariantPayload(uint16_t code, const Variant& value, bool in_array);
  bool ReadVariantPayload(uint16_t code, Variant& value, bool in_array);
  void WriteVariantArray(const Variant& value);
  void ReadVariantArray(uint16_t type, Variant& value);

  TROBinaryMemoryStream* stream_ = nullptr;  // not owned
  bool lend_binaries_ = false;
  bool adopt_trailing_binary_ = false;
  std::string_view lent_;  // a Binary's bytes that belong after the stream's end
};

// Raw little-endian helpers on a stream (EReadError "Stream read error" on short reads).
void WriteInt32(TROBinaryMemoryStream& stream, int32_t value);
int32_t ReadInt32(TROBinaryMemoryStream& stream);

// The envelope's string routines. Writes: 4-byte signed length then the bytes;
// WriteUtf8LengthPrefixedString converts from the system code page to UTF-8 first.
void WriteLengthPrefixedString(TROBinaryMemoryStream& stream, std::string_view value);
void WriteUtf8LengthPrefixedString(TROBinaryMemoryStream& stream, std::string_view ansi);
// Reads the length n and n bytes. Throws EROException "Unexpected end of stream." when the
// length or the bytes are missing, and "Stream read error: Invalid string length "%d"" when
// `max_length` >= 0 and n > max_length. n <= 0 gives "".
std::string ReadLengthPrefixedString(TROBinaryMemoryStream& stream, int max_length = -1);
// As ReadLengthPrefixedString, then UTF-8 to the system code page ("?" for what it lacks).
std::string ReadUtf8LengthPrefixedString(TROBinaryMemoryStream& stream, int max_length = -1);
// A length-prefixed string that ends exactly at the end of the stream, present only when more
// than 4 bytes remain; otherwise "" with the position unchanged. Returns the raw bytes.
std::string ReadOptionalTrailingString(TROBinaryMemoryStream& stream);

}  // namespace vantry
