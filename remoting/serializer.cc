// Scalars, strings, Binary, structs, arrays and the generic dispatch. Variants, Decimal, Guid and
// XML live in serializer_variant.cc.
#include "remoting/serializer.h"

#include <bit>
#include <cstring>

#include "platform/codepage.h"
#include "platform/exception.h"

namespace vantry {

static_assert(std::endian::native == std::endian::little,
              "values are copied between memory and the little-endian wire unchanged");

namespace {

[[noreturn]] void RaiseInvalidStringLength(int32_t length) {
  throw EROException(Format("Stream read error: Invalid string length \"%d\"", length));
}

[[noreturn]] void RaiseUnexpectedEnd() { throw EROException("Unexpected end of stream."); }

[[noreturn]] void RaiseNotSupported(TypeKind kind) {
  throw EROUnknownType(Format("Type \"%s\" not supported", TypeKindName(kind)));
}

size_t OrdinalSize(OrdinalType type) {
  switch (type) {
    case OrdinalType::kS8:
    case OrdinalType::kU8:
      return 1;
    case OrdinalType::kS16:
    case OrdinalType::kU16:
      return 2;
    case OrdinalType::kS32:
    case OrdinalType::kU32:
      return 4;
  }
  return 4;
}

size_t FloatSize(FloatType type) {
  switch (type) {
    case FloatType::kSingle:
      return 4;
    case FloatType::kExtended:
      return 10;
    default:
      return 8;
  }
}

// The fewest bytes one value of `type` occupies on the wire; bounds array counts before
// anything is allocated.
size_t MinWireSize(const TypeInfo& type) {
  switch (type.kind) {
    case TypeKind::kInteger:
      return OrdinalSize(type.ordinal);
    case TypeKind::kFloat:
      return FloatSize(type.float_type);
    case TypeKind::kString:
      return type.string_type == StringType::kGuid ? 16 : 4;
    case TypeKind::kVariant:
      return type.is_decimal ? 16 : 4;
    case TypeKind::kInt64:
      return 8;
    case TypeKind::kClass:
      return 1;
    default:
      return 4;
  }
}

std::vector<FieldInfo> SortedPublishedFields(const EROException& error) {
  std::vector<FieldInfo> fields = error.PublishedFields();
  SortFieldsInWireOrder(fields);
  return fields;
}

bool ReadPresenceFlag(TROBinaryMemoryStream& stream) {
  uint8_t flag = 0;
  stream.ReadBuffer(&flag, 1);
  return flag != 0;
}

void WritePresenceFlag(TROBinaryMemoryStream& stream, bool present) {
  uint8_t flag = present ? 1 : 0;
  stream.Write(&flag, 1);
}

}  // namespace

void WriteInt32(TROBinaryMemoryStream& stream, int32_t value) { stream.Write(&value, 4); }

int32_t ReadInt32(TROBinaryMemoryStream& stream) {
  int32_t value = 0;
  stream.ReadBuffer(&value, 4);
  return value;
}

// --- Generic dispatch ---------------------------------------------------------------------------

void TROStreamSerializer::Write(std::string_view name, const TypeInfo& type, const void* value,
                                int index) {
  switch (type.kind) {
    case TypeKind::kString: {
      auto text = static_cast<const std::string*>(value);
      if (type.string_type == StringType::kGuid) return WriteGuid(name, *text, index);
      if (type.string_type == StringType::kUtf8) return WriteUtf8String(name, *text, index);
      return WriteAnsiString(name, *text, index);
    }
    case TypeKind::kInteger:
      return WriteInteger(name, type.ordinal, value, index);
    case TypeKind::kEnumeration:
      return WriteEnumerated(name, type, value, index);
    case TypeKind::kFloat:
      if (type.is_date_time) {
        return WriteDateTime(name, static_cast<const TRODateTime*>(value)->value, index);
      }
      return WriteFloat(name, type.float_type, value, index);
    case TypeKind::kClass:
      return WriteClass(name, type, value, index);
    case TypeKind::kWideString:
      return WriteWideString(name, *static_cast<const std::u16string*>(value), index);
    case TypeKind::kVariant:
      if (type.is_decimal) return WriteDecimal(name, *static_cast<const Variant*>(value), index);
      return WriteVariant(name, *static_cast<const Variant*>(value), index);
    case TypeKind::kInterface:
      if (type.is_xml_node) return WriteXml(name, *static_cast<const XmlNode*>(value), index);
      RaiseNotSupported(type.kind);
    case TypeKind::kInt64:
      return WriteInt64(name, *static_cast<const int64_t*>(value), index);
    default:
      RaiseNotSupported(type.kind);
  }
}

void TROStreamSerializer::Read(std::string_view name, const TypeInfo& type, void* value,
                               int index) {
  switch (type.kind) {
    case TypeKind::kString: {
      auto text = static_cast<std::string*>(value);
      if (type.string_type == StringType::kGuid) return ReadGuid(name, *text, index);
      if (type.string_type == StringType::kUtf8) return ReadUtf8String(name, *text, index);
      return ReadAnsiString(name, *text, index);
    }
    case TypeKind::kInteger:
      return ReadInteger(name, type.ordinal, value, index);
    case TypeKind::kEnumeration:
      return ReadEnumerated(name, type, value, index);
    case TypeKind::kFloat:
      if (type.is_date_time)
        return ReadDateTime(name, static_cast<TRODateTime*>(value)->value, index);
      return ReadFloat(name, type.float_type, value, index);
    case TypeKind::kClass:
      return ReadClass(name, type, value, index);
    case TypeKind::kWideString:
      return ReadWideString(name, *static_cast<std::u16string*>(value), index);
    case TypeKind::kVariant:
      if (type.is_decimal) return ReadDecimal(name, *static_cast<Variant*>(value), index);
      return ReadVariant(name, *static_cast<Variant*>(value), index);
    case TypeKind::kInterface:
      if (type.is_xml_node) return ReadXml(name, *static_cast<XmlNode*>(value), index);
      RaiseNotSupported(type.kind);
    case TypeKind::kInt64:
      return ReadInt64(name, *static_cast<int64_t*>(value), index);
    default:
      RaiseNotSupported(type.kind);
  }
}

void TROStreamSerializer::WriteClass(std::string_view name, const TypeInfo& type, const void* value,
                                     int index) {
  const ClassInfo& declared = type.class_info();
  void* object = type.slot.get(value);
  switch (declared.category) {
    case ClassCategory::kArray:
      return WriteArray(name, static_cast<TROArray*>(static_cast<TROComplexType*>(object)),
                        declared, index);
    case ClassCategory::kStruct:
      return WriteStruct(name, static_cast<TROComplexType*>(object), declared, index);
    case ClassCategory::kBinary:
      return WriteBinary(name, static_cast<TROBinaryMemoryStream*>(object), index);
    case ClassCategory::kException:
      return WriteException(name, static_cast<EROException*>(object), index);
    default:
      RaiseNotSupported(type.kind);
  }
}

void TROStreamSerializer::ReadClass(std::string_view name, const TypeInfo& type, void* value,
                                    int index) {
  const ClassInfo& declared = type.class_info();
  if (declared.category == ClassCategory::kException) {
    // Exceptions are read into the object the envelope already made from the class name.
    return ReadException(name, static_cast<EROException*>(type.slot.get(value)), index);
  }
  try {
    switch (declared.category) {
      case ClassCategory::kArray:
        return type.slot.reset(value, ReadArray(name, declared, index).release());
      case ClassCategory::kStruct:
        return type.slot.reset(value, ReadStruct(name, declared, index).release());
      case ClassCategory::kBinary:
        return type.slot.reset(value, ReadBinary(name, index).release());
      default:
        RaiseNotSupported(type.kind);
    }
  } catch (...) {
    type.slot.reset(value, nullptr);
    throw;
  }
}

// --- Numbers ------------------------------------------------------------------------------------

void TROStreamSerializer::WriteInteger(std::string_view /*name*/, OrdinalType type, const void* value,
                                       int /*index*/) {
  stream().Write(value, OrdinalSize(type));
}

void TROStreamSerializer::ReadInteger(std::string_view /*name*/, OrdinalType type, void* value,
                                      int /*index*/) {
  stream().ReadBuffer(value, OrdinalSize(type));
}

void TROStreamSerializer::WriteInt64(std::string_view /*name*/, int64_t value, int /*index*/) {
  stream().Write(&value, 8);
}

void TROStreamSerializer::ReadInt64(std::string_view /*name*/, int64_t& value, int /*index*/) {
  stream().ReadBuffer(&value, 8);
}

void TROStreamSerializer::WriteEnumerated(std::string_view /*name*/, const TypeInfo& type,
                                          const void* value, int /*index*/) {
  uint32_t ordinal = 0;
  std::memcpy(&ordinal, value, type.enum_size);
  stream().Write(&ordinal, 4);
}

void TROStreamSerializer::ReadEnumerated(std::string_view /*name*/, const TypeInfo& type, void* value,
                                         int /*index*/) {
  uint32_t ordinal = 0;
  stream().ReadBuffer(&ordinal, 4);
  if (type.is_boolean) {
    // Only the low byte counts; a C++ bool must hold exactly 0 or 1.
    *static_cast<bool*>(value) = (ordinal & 0xFF) != 0;
    return;
  }
  std::memcpy(value, &ordinal, type.enum_size);  // the low bytes, no range test
}

void TROStreamSerializer::WriteFloat(std::string_view /*name*/, FloatType type, const void* value,
                                     int /*index*/) {
  if (type == FloatType::kExtended) {
    static_assert(sizeof(long double) >= 10 && std::numeric_limits<long double>::digits == 64,
                  "long double must be the 80-bit extended format");
  }
  stream().Write(value, FloatSize(type));
}

void TROStreamSerializer::ReadFloat(std::string_view /*name*/, FloatType type, void* value, int /*index*/) {
  if (type == FloatType::kExtended) *static_cast<long double*>(value) = 0;  // clears the padding
  stream().ReadBuffer(value, FloatSize(type));
}

void TROStreamSerializer::WriteDateTime(std::string_view /*name*/, double value, int /*index*/) {
  stream().Write(&value, 8);
}

void TROStreamSerializer::ReadDateTime(std::string_view /*name*/, double& value, int /*index*/) {
  stream().ReadBuffer(&value, 8);
}

// --- Strings ------------------------------------------------------------------------------------

int32_t TROStreamSerializer::ReadStringLength(int max_length, int unit) {
  int32_t length = ReadInt32(stream());
  if (max_length >= 0 && max_length < length) RaiseInvalidStringLength(length);
  if (length > 0 && int64_t{length} * unit > stream().Size()) RaiseInvalidStringLength(length);
  if (length > 0 && static_cast<size_t>(length) * unit > stream().Remaining()) {
    RaiseStreamReadError();
  }
  return length;
}

void TROStreamSerializer::WriteAnsiString(std::string_view /*name*/, std::string_view value,
                                          int /*index*/) {
  WriteLengthPrefixedString(stream(), value);
}

void TROStreamSerializer::ReadAnsiString(std::string_view /*name*/, std::string& value, int /*index*/,
                                         int max_length) {
  int32_t length = ReadStringLength(max_length, 1);
  value.clear();
  if (length <= 0) return;
  value.resize(length);
  stream().ReadBuffer(value.data(), length);
}

void TROStreamSerializer::WriteUtf8String(std::string_view name, std::string_view value,
                                          int index) {
  WriteAnsiString(name, value, index);
}

void TROStreamSerializer::ReadUtf8String(std::string_view name, std::string& value, int index,
                                         int max_length) {
  ReadAnsiString(name, value, index, max_length);
}

void TROStreamSerializer::WriteWideString(std::string_view /*name*/, std::u16string_view value,
                                          int /*index*/) {
  WriteInt32(stream(), static_cast<int32_t>(value.size()));
  stream().Write(value.data(), value.size() * 2);
}

void TROStreamSerializer::ReadWideString(std::string_view /*name*/, std::u16string& value, int /*index*/,
                                         int max_length) {
  int32_t length = ReadStringLength(max_length, 2);
  value.clear();
  if (length <= 0) return;
  value.resize(length);
  stream().ReadBuffer(value.data(), size_t{2} * length);
}

// --- Objects ------------------------------------------------------------------------------------

void TROStreamSerializer::WriteBinary(std::string_view /*name*/, TROBinaryMemoryStream* value,
                                      int /*index*/) {
  WritePresenceFlag(stream(), value != nullptr);
  if (value == nullptr) return;
  uint32_t size = static_cast<uint32_t>(value->Size());
  stream().Write(&size, 4);
  // The whole buffer travels whatever its position; one block copy, or none when lent.
  if (lend_binaries_ && size >= kMinMovedBinarySize) {
    lent_ = std::string_view(value->Data(), size);
  } else {
    stream().Write(value->Data(), size);
  }
  value->SetPosition(value->Size());
}

void TROStreamSerializer::SettleLent() {
  if (lent_.empty()) return;
  std::string_view lent = std::exchange(lent_, {});
  stream_->Write(lent);
}

std::unique_ptr<TROBinaryMemoryStream> TROStreamSerializer::ReadBinary(std::string_view /*name*/,
                                                                       int /*index*/) {
  if (!ReadPresenceFlag(stream())) return nullptr;
  uint32_t size = 0;
  stream().ReadBuffer(&size, 4);
  if (size > static_cast<uint64_t>(stream().Size())) {
    RaiseInvalidStringLength(static_cast<int32_t>(size));
  }
  // Refused before allocating: the bytes announced must be there.
  if (size > stream().Remaining()) RaiseStreamReadError();
  if (adopt_trailing_binary_ && size >= kMinMovedBinarySize && size == stream().Remaining()) {
    return std::make_unique<TROBinaryMemoryStream>(stream().TakeRest());
  }
  auto binary = std::make_unique<TROBinaryMemoryStream>();
  binary->SetSize(size);
  stream().ReadBuffer(binary->Data(), size);
  binary->SetPosition(0);
  return binary;
}

void TROStreamSerializer::WriteFields(const std::vector<FieldInfo>& fields, void* object) {
  for (const FieldInfo& field : fields) Write(field.name, *field.type, field.address(object));
}

void TROStreamSerializer::ReadFields(const std::vector<FieldInfo>& fields, void* object) {
  for (const FieldInfo& field : fields) Read(field.name, *field.type, field.address(object));
}

void TROStreamSerializer::WriteStruct(std::string_view name, TROComplexType* value,
                                      const ClassInfo& /*declared*/, int index) {
  WritePresenceFlag(stream(), value != nullptr);
  if (value == nullptr) return;
  WriteUtf8String(name, value->GetClass().name, index);
  value->WriteComplex(*this);
}

std::unique_ptr<TROComplexType> TROStreamSerializer::ReadStruct(std::string_view name,
                                                                const ClassInfo& declared,
                                                                int index) {
  if (!ReadPresenceFlag(stream())) return nullptr;
  std::string class_name;
  ReadUtf8String(name, class_name, index, kMaxStructClassNameLength);
  const ClassInfo* found = FindComplexTypeClass(class_name);
  if (found == nullptr || found->create == nullptr) {
    throw EROException(Format("Unknown class \"%s\" found in stream.", class_name));
  }
  if (!found->DescendsFrom(declared)) {
    throw EROException(
        Format("Unexpected class found in stream; class \"%s\" does not descend from \"%s\".",
               class_name, declared.name));
  }
  std::unique_ptr<TROComplexType> object = found->create();
  object->ReadComplex(*this);
  return object;
}

void TROStreamSerializer::WriteArray(std::string_view /*name*/, TROArray* value,
                                     const ClassInfo& /*declared*/, int /*index*/) {
  WritePresenceFlag(stream(), value != nullptr);
  if (value == nullptr) return;
  WriteInt32(stream(), value->Count());
  value->WriteComplex(*this);
}

std::unique_ptr<TROComplexType> TROStreamSerializer::ReadArray(std::string_view /*name*/,
                                                               const ClassInfo& declared,
                                                               int /*index*/) {
  if (!ReadPresenceFlag(stream())) return nullptr;
  if (declared.create == nullptr) {
    throw EROException(Format("Unknown class \"%s\" found in stream.", declared.name));
  }
  std::unique_ptr<TROComplexType> object = declared.create();
  auto* array = static_cast<TROArray*>(object.get());
  int32_t count = ReadInt32(stream());
  // A count the rest of the body cannot hold is refused before the array reserves memory for it.
  if (count < 0 ||
      static_cast<size_t>(count) > stream().Remaining() / MinWireSize(array->ElementType())) {
    RaiseInvalidStringLength(count);
  }
  array->Resize(count);
  array->ReadComplex(*this);
  return object;
}

void TROStreamSerializer::WriteException(std::string_view /*name*/, EROException* value, int /*index*/) {
  if (value != nullptr) WriteFields(SortedPublishedFields(*value), value);
}

void TROStreamSerializer::ReadException(std::string_view /*name*/, EROException* value, int /*index*/) {
  if (value != nullptr) ReadFields(SortedPublishedFields(*value), value);
}

// --- Envelope strings ---------------------------------------------------------------------------

void WriteLengthPrefixedString(TROBinaryMemoryStream& stream, std::string_view value) {
  WriteInt32(stream, static_cast<int32_t>(value.size()));
  stream.Write(value);
}

void WriteUtf8LengthPrefixedString(TROBinaryMemoryStream& stream, std::string_view ansi) {
  WriteLengthPrefixedString(stream, AnsiToUtf8(ansi));
}

std::string ReadLengthPrefixedString(TROBinaryMemoryStream& stream, int max_length) {
  if (stream.Remaining() < 4) RaiseUnexpectedEnd();
  int32_t length = ReadInt32(stream);
  if (max_length >= 0 && max_length < length) RaiseInvalidStringLength(length);
  if (length <= 0) return {};
  if (static_cast<size_t>(length) > stream.Remaining()) RaiseUnexpectedEnd();
  std::string value(length, '\0');
  stream.ReadBuffer(value.data(), length);
  return value;
}

std::string ReadUtf8LengthPrefixedString(TROBinaryMemoryStream& stream, int max_length) {
  return Utf8ToAnsi(ReadLengthPrefixedString(stream, max_length));
}

std::string ReadOptionalTrailingString(TROBinaryMemoryStream& stream) {
  if (stream.Remaining() <= 4) return {};
  int64_t start = stream.Position();
  int32_t length = ReadInt32(stream);
  if (length > 0 && static_cast<size_t>(length) == stream.Remaining()) {
    std::string value(length, '\0');
    stream.ReadBuffer(value.data(), length);
    return value;
  }
  stream.SetPosition(start);
  return {};
}

}  // namespace vantry
