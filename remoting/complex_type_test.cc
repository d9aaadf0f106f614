#include "remoting/complex_type.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "remoting/ro_exception.h"
#include "remoting/testing/test_types.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;
using testing_types::TTestStringList;
using testing_types::TTestStruct;

std::vector<std::string> ItemsOf(const TTestStringList& list) {
  std::vector<std::string> items;
  for (int i = 0; i < list.Count(); ++i) items.push_back(list.Items(i));
  return items;
}

TEST(ArrayTest, AddGrowsTheCapacityInSteps) {
  TTestStringList list;
  std::vector<int> capacities;
  for (int i = 0; i < 100; ++i) {
    int before = list.Capacity();
    list.Add("x");
    if (list.Capacity() != before) capacities.push_back(list.Capacity());
  }
  EXPECT_THAT(capacities, ElementsAre(4, 8, 12, 28, 44, 60, 76, 95, 118));
  EXPECT_EQ(list.Count(), 100);
}

TEST(ArrayTest, ResizeDeleteClearAssign) {
  TTestStringList list;
  for (const char* s : {"a", "b", "c"}) list.Add(s);
  list.Resize(3);  // same count: nothing changes
  EXPECT_EQ(list.Capacity(), 4);
  list.Delete(0);
  EXPECT_THAT(ItemsOf(list), ElementsAre("b", "c"));
  EXPECT_EQ(list.Capacity(), 2);
  list.Resize(4);
  EXPECT_THAT(ItemsOf(list), ElementsAre("b", "c", "", ""));
  list.Resize(1);
  list.Resize(2);
  EXPECT_THAT(ItemsOf(list), ElementsAre("b", ""));  // dropped elements do not come back
  TTestStringList copy;
  copy.Add("old");
  copy.Assign(list);
  EXPECT_THAT(ItemsOf(copy), ElementsAre("b", ""));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
}

TEST(ArrayTest, IndexErrors) {
  TTestStringList list;
  list.Add("a");
  EXPECT_THAT([&] { list.Items(1); },
              ThrowsMessage<EROException>(StrEq("Array index out of bounds (1).")));
  EXPECT_THAT([&] { list.Items(-1); },
              ThrowsMessage<EROException>(StrEq("Array index out of bounds (-1).")));
  EXPECT_THAT([&] { list.Delete(1); }, ThrowsMessage<EROException>(StrEq("Invalid index 1")));
}

class TOtherList : public TROTypedArray<std::string> {
  VANTRY_COMPLEX_CLASS(TOtherList)
};
const ClassInfo& TOtherList::StaticClass() {
  static const ClassInfo info = MakeClassInfo<TOtherList, TROArray>("TTESTSTRINGLIST");
  return info;
}

TEST(ComplexTypeRegistryTest, RegistersOnceAndFindsIgnoringCase) {
  testing_types::RegisterTestTypes();
  RegisterComplexTypeClass(TTestStringList::StaticClass());  // same class again: nothing
  EXPECT_EQ(FindComplexTypeClass("ttestSTRINGlist"), &TTestStringList::StaticClass());
  EXPECT_EQ(FindComplexTypeClass("TNoSuchClass"), nullptr);
  EXPECT_THAT(
      [] { RegisterComplexTypeClass(TOtherList::StaticClass()); },
      ThrowsMessage<EROException>(StrEq("Class \"TTESTSTRINGLIST\" is already registered")));
}

TEST(ComplexTypeRegistryTest, UnregisterRemoves) {
  static const ClassInfo info = MakeClassInfo<TTestStruct, TTestStruct>("TTemporary");
  RegisterComplexTypeClass(info);
  EXPECT_EQ(FindComplexTypeClass("TTemporary"), &info);
  UnregisterComplexTypeClass(info);
  EXPECT_EQ(FindComplexTypeClass("TTemporary"), nullptr);
}

TEST(FieldOrderTest, CaseFoldedBytesThenLength) {
  std::vector<FieldInfo> fields;
  for (const char* name : {"_x", "b", "ab", "a1", "A", "Ab"})
    fields.push_back({name, nullptr, nullptr});
  SortFieldsInWireOrder(fields);
  std::vector<std::string> names;
  for (const FieldInfo& f : fields) names.push_back(f.name);
  EXPECT_THAT(names, ElementsAre("A", "a1", "ab", "Ab", "b", "_x"));
}

}  // namespace
}  // namespace vantry
