#include "remoting/type_info.h"

#include <algorithm>

#include "platform/exception.h"
#include "remoting/ro_exception.h"
#include "remoting/value_types.h"

namespace vantry {

const char* TypeKindName(TypeKind kind) {
  switch (kind) {
    case TypeKind::kUnknown:
      return "Unknown";
    case TypeKind::kInteger:
      return "Integer";
    case TypeKind::kChar:
      return "Char";
    case TypeKind::kEnumeration:
      return "Enumeration";
    case TypeKind::kFloat:
      return "Float";
    case TypeKind::kString:
      return "String";
    case TypeKind::kSet:
      return "Set";
    case TypeKind::kClass:
      return "Class";
    case TypeKind::kMethod:
      return "Method";
    case TypeKind::kWideChar:
      return "WideChar";
    case TypeKind::kWideString:
      return "WideString";
    case TypeKind::kVariant:
      return "Variant";
    case TypeKind::kArray:
      return "Array";
    case TypeKind::kRecord:
      return "Record";
    case TypeKind::kInterface:
      return "Interface";
    case TypeKind::kInt64:
      return "Int64";
    case TypeKind::kDynArray:
      return "DynArray";
    case TypeKind::kPointer:
      return "Pointer";
  }
  return "Unknown";
}

bool ClassInfo::DescendsFrom(const ClassInfo& other) const {
  for (const ClassInfo* c = this; c != nullptr; c = c->parent) {
    if (c == &other) return true;
  }
  return false;
}

bool FieldNameLess(const char* a, const char* b) {
  // Clearing bit 5 folds ASCII letter case (and maps a few punctuation bytes together, which
  // the peers' ordering does as well).
  for (;; ++a, ++b) {
    if (*b == '\0') return false;
    if (*a == '\0') return true;
    unsigned char x = static_cast<unsigned char>(*a) & ~0x20u;
    unsigned char y = static_cast<unsigned char>(*b) & ~0x20u;
    if (x != y) return x < y;
  }
}

std::vector<FieldInfo> ClassInfo::SortedFields() const {
  std::vector<FieldInfo> fields;
  for (const ClassInfo* c = this; c != nullptr; c = c->parent) {
    fields.insert(fields.end(), c->fields.begin(), c->fields.end());
  }
  SortFieldsInWireOrder(fields);
  return fields;
}

void SortFieldsInWireOrder(std::vector<FieldInfo>& fields) {
  std::stable_sort(fields.begin(), fields.end(), [](const FieldInfo& a, const FieldInfo& b) {
    return FieldNameLess(a.name, b.name);
  });
}

const ClassInfo& BinaryClassInfo() {
  static const ClassInfo info{
      "TROBinaryMemoryStream", nullptr, ClassCategory::kBinary, nullptr, {}};
  return info;
}

const ClassInfo& ExceptionClassInfo() {
  static const ClassInfo info{"EROException", nullptr, ClassCategory::kException, nullptr, {}};
  return info;
}

const TypeInfo& DecimalTypeInfo() {
  static const TypeInfo info = [] {
    TypeInfo t = SimpleTypeInfo("Decimal", TypeKind::kVariant);
    t.is_decimal = true;
    return t;
  }();
  return info;
}

const TypeInfo& CurrencyTypeInfo() {
  static const TypeInfo info = FloatTypeInfo("Currency", FloatType::kCurrency);
  return info;
}

const TypeInfo& CompTypeInfo() {
  static const TypeInfo info = FloatTypeInfo("Comp", FloatType::kComp);
  return info;
}

namespace type_info_internal {

void RaiseWrongClass(const char* expected) {
  throw EROException(Format("Object is not of class \"%s\"", expected));
}

}  // namespace type_info_internal

}  // namespace vantry
