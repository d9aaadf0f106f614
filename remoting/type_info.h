// Type descriptions: what the serializer needs to know about a value to write or read it, handed
// with every value (`TypeInfo`), plus the class descriptions of complex types, Binary and
// exceptions (`ClassInfo`) and the published fields of structs (`FieldInfo`).
//
// Declare a parameter list once with `TypeInfoOf<T>()`: it maps the C++ type of a variable to
// its description, so `message.Write("Name", TypeInfoOf<T>(), &value)` and the typed shortcut
// `message.Write("Name", value)` agree by construction. Mapped types:
//   int8_t uint8_t int16_t uint16_t int32_t uint32_t  integers of that width
//   int64_t                                            Int64
//   bool, enums (1, 2 or 4 bytes)                      enumerations (4 bytes on the wire)
//   float double long double                           single, double, extended
//   TRODateTime                                        date-time (double, days since 1899-12-30)
//   std::string                                        AnsiString (bytes, no conversion)
//   Utf8String, GuidString                             UTF-8 string, Guid (text form)
//   std::u16string                                     wide string
//   Variant, Decimal (remoting/variant.h)              variant, Decimal
//   XmlNode (remoting/variant.h)                       XML node
//   std::unique_ptr<T>, T a complex type, Binary or EROException descendant   class kind
// Other variants (comp, currency floats; explicit type names for enums) are built with the
// constexpr helpers below.
//
// Thread safety: descriptions are immutable after construction and may be shared freely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "remoting/binary_stream.h"
#include "remoting/ro_exception.h"
#include "remoting/value_types.h"

namespace vantry {

class TROComplexType;

enum class TypeKind : uint8_t {
  kUnknown,
  kInteger,
  kChar,
  kEnumeration,
  kFloat,
  kString,  // single-byte strings: AnsiString, UTF-8 string, Guid
  kSet,
  kClass,
  kMethod,
  kWideChar,
  kWideString,
  kVariant,
  kArray,
  kRecord,
  kInterface,
  kInt64,
  kDynArray,
  kPointer,
};

// The kind's name as it appears in "Type "%s" not supported", e.g. "Record".
const char* TypeKindName(TypeKind kind);

enum class OrdinalType : uint8_t { kS8, kU8, kS16, kU16, kS32, kU32 };
enum class FloatType : uint8_t { kSingle, kDouble, kExtended, kComp, kCurrency };
enum class StringType : uint8_t { kAnsi, kUtf8, kGuid };

// Which serializer family a class belongs to; decided by its ancestry.
enum class ClassCategory : uint8_t { kOther, kStruct, kArray, kBinary, kException };

// Publishes one field of a struct (or exception) to the serializer.
struct TypeInfo;
struct FieldInfo {
  const char* name;
  const TypeInfo* type;
  // The field's address inside `object`, given as its category root pointer
  // (TROComplexType* for structs, EROException* for exceptions).
  void* (*address)(void* object);
};

// A class known to the serializer: its wire name, its parent and, for complex types, how to make
// one and which fields it publishes.
struct ClassInfo {
  const char* name;
  const ClassInfo* parent;  // nullptr for a root class
  ClassCategory category;
  // A new default object of this class; nullptr for abstract classes and non-complex classes.
  std::unique_ptr<TROComplexType> (*create)();
  // Fields declared by this class itself (not its ancestors).
  std::vector<FieldInfo> fields;

  // True when this class is `other` or derives from it.
  bool DescendsFrom(const ClassInfo& other) const;
  // All published fields (ancestors' included), sorted in wire order: by name, bytes compared
  // with bit 5 cleared, a prefix before the longer name.
  std::vector<FieldInfo> SortedFields() const;
};

// The wire ordering of field names (see ClassInfo::SortedFields); true when a < b.
bool FieldNameLess(const char* a, const char* b);
// Sorts `fields` by FieldNameLess.
void SortFieldsInWireOrder(std::vector<FieldInfo>& fields);

// Root classes of the categories.
const ClassInfo& BinaryClassInfo();     // "TROBinaryMemoryStream"
const ClassInfo& ExceptionClassInfo();  // "EROException"

// Access to an object held by a `std::unique_ptr<T>` variable of a class-kind value. Object
// pointers are passed as the category root (TROComplexType*, TROBinaryMemoryStream*,
// EROException*) converted to void*.
struct ObjectSlot {
  void* (*get)(const void* slot);
  // Frees the held object and takes ownership of `object` (may be nullptr). Throws EROException
  // when `object` is not of the variable's class.
  void (*reset)(void* slot, void* object);
};

struct TypeInfo {
  TypeKind kind = TypeKind::kUnknown;
  const char* name = "";  // the type's name, e.g. "Integer", "AnsiString", "FileList"
  OrdinalType ordinal = OrdinalType::kS32;     // kInteger
  uint8_t enum_size = 1;                       // kEnumeration: width of the variable, 1, 2 or 4
  bool is_boolean = false;                     // kEnumeration: a C++ bool (stored as 0 or 1)
  FloatType float_type = FloatType::kDouble;   // kFloat
  bool is_date_time = false;                   // kFloat
  StringType string_type = StringType::kAnsi;  // kString
  bool is_decimal = false;                     // kVariant
  bool is_xml_node = false;                    // kInterface
  const ClassInfo& (*class_info)() = nullptr;  // kClass: the declared class
  ObjectSlot slot{};                           // kClass
};

// Date-time: days since 1899-12-30, the fraction is the time of day. A type of its own, unlike
// the plain double of platform/clock.h, so that a date-time parameter is told from a Double.
struct TRODateTime {
  double value = 0;
  friend bool operator==(const TRODateTime&, const TRODateTime&) = default;
};

// Distinct single-byte string types for the UTF-8 and Guid string kinds.
struct Utf8String {
  std::string value;
  friend bool operator==(const Utf8String&, const Utf8String&) = default;
};
struct GuidString {
  std::string value;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" or ""
  friend bool operator==(const GuidString&, const GuidString&) = default;
};

constexpr TypeInfo IntegerTypeInfo(const char* name, OrdinalType ordinal) {
  TypeInfo t;
  t.kind = TypeKind::kInteger;
  t.name = name;
  t.ordinal = ordinal;
  return t;
}
constexpr TypeInfo EnumTypeInfo(const char* name, uint8_t size) {
  TypeInfo t;
  t.kind = TypeKind::kEnumeration;
  t.name = name;
  t.enum_size = size;
  return t;
}
constexpr TypeInfo FloatTypeInfo(const char* name, FloatType type, bool is_date_time = false) {
  TypeInfo t;
  t.kind = TypeKind::kFloat;
  t.name = name;
  t.float_type = type;
  t.is_date_time = is_date_time;
  return t;
}
constexpr TypeInfo StringTypeInfo(const char* name, StringType type) {
  TypeInfo t;
  t.kind = TypeKind::kString;
  t.name = name;
  t.string_type = type;
  return t;
}
constexpr TypeInfo SimpleTypeInfo(const char* name, TypeKind kind) {
  TypeInfo t;
  t.kind = kind;
  t.name = name;
  return t;
}

namespace type_info_internal {

template <typename T>
struct IsUniquePtr : std::false_type {};
template <typename T>
struct IsUniquePtr<std::unique_ptr<T>> : std::true_type {
  using Element = T;
};

// The category root of class T.
template <typename T>
using RootOf = std::conditional_t<std::is_base_of_v<TROComplexType, T>, TROComplexType,
                                  std::conditional_t<std::is_base_of_v<TROBinaryMemoryStream, T>,
                                                     TROBinaryMemoryStream, EROException>>;

[[noreturn]] void RaiseWrongClass(const char* expected);

template <typename T>
const ClassInfo& StaticClassOf() {
  if constexpr (std::is_same_v<T, TROBinaryMemoryStream>) {
    return BinaryClassInfo();
  } else if constexpr (std::is_same_v<T, EROException>) {
    return ExceptionClassInfo();
  } else {
    return T::StaticClass();
  }
}

template <typename T>
constexpr ObjectSlot SlotOf() {
  using Root = RootOf<T>;
  return ObjectSlot{[](const void* slot) -> void* {
                      Root* root = static_cast<const std::unique_ptr<T>*>(slot)->get();
                      return root;
                    },
                    [](void* slot, void* object) {
                      auto* ptr = static_cast<std::unique_ptr<T>*>(slot);
                      Root* root = static_cast<Root*>(object);
                      if (root == nullptr) {
                        ptr->reset();
                        return;
                      }
                      T* typed = dynamic_cast<T*>(root);
                      if (typed == nullptr) {
                        delete root;
                        RaiseWrongClass(StaticClassOf<T>().name);
                      }
                      ptr->reset(typed);
                    }};
}

template <typename T>
TypeInfo ClassTypeInfo() {
  TypeInfo t;
  t.kind = TypeKind::kClass;
  t.name = StaticClassOf<T>().name;
  t.class_info = &StaticClassOf<T>;
  t.slot = SlotOf<T>();
  return t;
}

template <typename T>
TypeInfo MakeTypeInfo();

}  // namespace type_info_internal

// The description of a variable of C++ type T (see the table at the top).
template <typename T>
const TypeInfo& TypeInfoOf() {
  static const TypeInfo info = type_info_internal::MakeTypeInfo<T>();
  return info;
}

// Named descriptions of the basic types.
const TypeInfo& DecimalTypeInfo();   // a Variant holding a Decimal
const TypeInfo& CurrencyTypeInfo();  // int64_t: the value times 10000
const TypeInfo& CompTypeInfo();      // int64_t

namespace type_info_internal {

template <typename T>
TypeInfo MakeTypeInfo() {
  if constexpr (std::is_same_v<T, bool>) {
    TypeInfo t = EnumTypeInfo("Boolean", 1);
    t.is_boolean = true;
    return t;
  } else if constexpr (std::is_same_v<T, int8_t>) {
    return IntegerTypeInfo("Int8", OrdinalType::kS8);
  } else if constexpr (std::is_same_v<T, uint8_t>) {
    return IntegerTypeInfo("UInt8", OrdinalType::kU8);
  } else if constexpr (std::is_same_v<T, int16_t>) {
    return IntegerTypeInfo("Int16", OrdinalType::kS16);
  } else if constexpr (std::is_same_v<T, uint16_t>) {
    return IntegerTypeInfo("UInt16", OrdinalType::kU16);
  } else if constexpr (std::is_same_v<T, int32_t>) {
    return IntegerTypeInfo("Integer", OrdinalType::kS32);
  } else if constexpr (std::is_same_v<T, uint32_t>) {
    return IntegerTypeInfo("UInt32", OrdinalType::kU32);
  } else if constexpr (std::is_same_v<T, int64_t>) {
    return SimpleTypeInfo("Int64", TypeKind::kInt64);
  } else if constexpr (std::is_enum_v<T>) {
    static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4);
    return EnumTypeInfo("Enumeration", sizeof(T));
  } else if constexpr (std::is_same_v<T, float>) {
    return FloatTypeInfo("Single", FloatType::kSingle);
  } else if constexpr (std::is_same_v<T, double>) {
    return FloatTypeInfo("Double", FloatType::kDouble);
  } else if constexpr (std::is_same_v<T, long double>) {
    return FloatTypeInfo("Extended", FloatType::kExtended);
  } else if constexpr (std::is_same_v<T, TRODateTime>) {
    return FloatTypeInfo("DateTime", FloatType::kDouble, true);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return StringTypeInfo("AnsiString", StringType::kAnsi);
  } else if constexpr (std::is_same_v<T, Utf8String>) {
    return StringTypeInfo("Utf8String", StringType::kUtf8);
  } else if constexpr (std::is_same_v<T, GuidString>) {
    return StringTypeInfo("Guid", StringType::kGuid);
  } else if constexpr (std::is_same_v<T, std::u16string>) {
    return SimpleTypeInfo("WideString", TypeKind::kWideString);
  } else if constexpr (std::is_same_v<T, Variant>) {
    return SimpleTypeInfo("Variant", TypeKind::kVariant);
  } else if constexpr (std::is_same_v<T, XmlNode>) {
    TypeInfo t = SimpleTypeInfo("XmlNode", TypeKind::kInterface);
    t.is_xml_node = true;
    return t;
  } else if constexpr (IsUniquePtr<T>::value) {
    return ClassTypeInfo<typename IsUniquePtr<T>::Element>();
  } else {
    static_assert(sizeof(T) == 0, "no type description for this C++ type");
  }
}

}  // namespace type_info_internal

namespace type_info_internal {

template <typename M>
struct MemberTraits;
template <typename C, typename F>
struct MemberTraits<F C::*> {
  using Class = C;
  using Field = F;
};

template <auto Member>
void* FieldAddress(void* object) {
  using C = typename MemberTraits<decltype(Member)>::Class;
  C* self = static_cast<C*>(static_cast<RootOf<C>*>(object));
  return &(self->*Member);
}

}  // namespace type_info_internal

// Publishes field `Member` (a pointer to data member such as &TMyStruct::name) under `name`.
template <auto Member>
FieldInfo Field(const char* name) {
  using F = typename type_info_internal::MemberTraits<decltype(Member)>::Field;
  return FieldInfo{name, &TypeInfoOf<F>(), &type_info_internal::FieldAddress<Member>};
}

}  // namespace vantry
