#include "remoting/complex_type.h"

#include <algorithm>
#include <vector>

#include "remoting/ascii_text.h"
#include "remoting/process_registry.h"
#include "remoting/ro_exception.h"
#include "remoting/serializer.h"

namespace vantry {

const ClassInfo& TROComplexType::StaticClass() {
  static const ClassInfo info{"TROComplexType", nullptr, ClassCategory::kStruct, nullptr, {}};
  return info;
}

void TROComplexType::WriteComplex(TROStreamSerializer& serializer) {
  for (const FieldInfo& field : GetClass().SortedFields()) {
    serializer.Write(field.name, *field.type, field.address(this));
  }
}

void TROComplexType::ReadComplex(TROStreamSerializer& serializer) {
  for (const FieldInfo& field : GetClass().SortedFields()) {
    serializer.Read(field.name, *field.type, field.address(this));
  }
}

const ClassInfo& TROArray::StaticClass() {
  static const ClassInfo info{
      "TROArray", &TROComplexType::StaticClass(), ClassCategory::kArray, nullptr, {}};
  return info;
}

void TROArray::WriteComplex(TROStreamSerializer& serializer) {
  const TypeInfo& type = ElementType();
  for (int i = 0; i < Count(); ++i) {
    void* element = ElementAddress(i);
    serializer.Write(TROStreamSerializer::GetArrayElementName(type, element), type, element, i);
  }
}

void TROArray::ReadComplex(TROStreamSerializer& serializer) {
  const TypeInfo& type = ElementType();
  for (int i = 0; i < Count(); ++i) {
    void* element = ElementAddress(i);
    serializer.Read(TROStreamSerializer::GetArrayElementName(type, element), type, element, i);
  }
}

void RaiseArrayIndexOutOfBounds(int index) {
  throw EROException(Format("Array index out of bounds (%d).", index));
}

void RaiseArrayInvalidIndex(int index) { throw EROException(Format("Invalid index %d", index)); }

namespace {

struct ComplexTypeClasses {
  std::vector<const ClassInfo*> classes;
};
using Registry = ProcessRegistry<ComplexTypeClasses>;

}  // namespace

void RegisterComplexTypeClass(const ClassInfo& cls) {
  Registry::Update([&](ComplexTypeClasses& registry) {
    for (const ClassInfo* known : registry.classes) {
      if (known == &cls) return;
      if (AsciiSameText(known->name, cls.name)) {
        throw EROException(Format("Class \"%s\" is already registered", cls.name));
      }
    }
    registry.classes.push_back(&cls);
  });
}

void UnregisterComplexTypeClass(const ClassInfo& cls) {
  Registry::Update([&](ComplexTypeClasses& registry) { std::erase(registry.classes, &cls); });
}

const ClassInfo* FindComplexTypeClass(std::string_view name) {
  return Registry::Read([&](const ComplexTypeClasses& registry) -> const ClassInfo* {
    for (const ClassInfo* cls : registry.classes) {
      if (AsciiSameText(cls->name, name)) return cls;
    }
    return nullptr;
  });
}

}  // namespace vantry
