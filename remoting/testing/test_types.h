// Complex types for the runtime's own tests and fuzz target: a string array, an Int32 array, a
// struct with fields of several kinds, and a struct derived from it. Header only, so that tests
// and the fuzz target share them without putting them into the library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "remoting/complex_type.h"

namespace vantry::testing_types {

class TTestStringList : public TROTypedArray<std::string> {
  VANTRY_COMPLEX_CLASS(TTestStringList)
};

class TTestIntList : public TROTypedArray<int32_t> {
  VANTRY_COMPLEX_CLASS(TTestIntList)
};

// Field names chosen so that declaration order, plain byte order and wire order all differ.
class TTestStruct : public TROComplexType {
  VANTRY_COMPLEX_CLASS(TTestStruct)
  int32_t b = 0;
  std::string A;
  bool a1 = false;
  std::unique_ptr<TTestStringList> ab;
  std::unique_ptr<TROBinaryMemoryStream> _x;
};

class TTestDerived : public TTestStruct {
  VANTRY_COMPLEX_CLASS(TTestDerived)
  int64_t c = 0;
};

inline const ClassInfo& TTestStringList::StaticClass() {
  static const ClassInfo info = MakeClassInfo<TTestStringList, TROArray>("TTestStringList");
  return info;
}

inline const ClassInfo& TTestIntList::StaticClass() {
  static const ClassInfo info = MakeClassInfo<TTestIntList, TROArray>("TTestIntList");
  return info;
}

inline const ClassInfo& TTestStruct::StaticClass() {
  static const ClassInfo info = MakeClassInfo<TTestStruct, TROComplexType>(
      "TTestStruct",
      {Field<&TTestStruct::b>("b"), Field<&TTestStruct::A>("A"), Field<&TTestStruct::a1>("a1"),
       Field<&TTestStruct::ab>("ab"), Field<&TTestStruct::_x>("_x")});
  return info;
}

inline const ClassInfo& TTestDerived::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo<TTestDerived, TTestStruct>("TTestDerived", {Field<&TTestDerived::c>("c")});
  return info;
}

// Registers the classes above once per process.
inline void RegisterTestTypes() {
  static const bool done = [] {
    RegisterComplexTypeClass(TTestStringList::StaticClass());
    RegisterComplexTypeClass(TTestIntList::StaticClass());
    RegisterComplexTypeClass(TTestStruct::StaticClass());
    RegisterComplexTypeClass(TTestDerived::StaticClass());
    return true;
  }();
  (void)done;
}

}  // namespace vantry::testing_types
