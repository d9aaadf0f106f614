#include "contract/VantryLibrary_Intf.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "remoting/enum_registry.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

std::vector<std::string> Elements(const FileList& list) {
  std::vector<std::string> result;
  for (int i = 0; i < list.Count(); ++i) result.push_back(list.Items(i));
  return result;
}

TEST(FileListTest, AddGrowsCapacityByFourThenSixteenThenAQuarter) {
  FileList list;
  std::vector<int> capacities;
  for (int i = 0; i < 118; ++i) {
    EXPECT_EQ(i, list.Add("f" + std::to_string(i)));
    if (capacities.empty() || capacities.back() != list.Capacity()) {
      capacities.push_back(list.Capacity());
    }
  }
  EXPECT_THAT(capacities, ElementsAre(4, 8, 12, 28, 44, 60, 76, 95, 118));
  EXPECT_EQ("f117", list.Items(117));
}

TEST(FileListTest, ResizeSetsCountAndCapacity) {
  FileList list;
  list.Add("a");
  list.Add("b");
  list.Resize(2);  // the current count: nothing changes, not even the capacity
  EXPECT_EQ(4, list.Capacity());
  EXPECT_THAT(Elements(list), ElementsAre("a", "b"));

  list.Resize(1);
  EXPECT_EQ(1, list.Capacity());
  list.Resize(3);
  EXPECT_EQ(3, list.Capacity());
  EXPECT_THAT(Elements(list), ElementsAre("a", "", ""));  // dropped elements do not come back

  list.Resize(0);
  EXPECT_EQ(0, list.Count());
  EXPECT_EQ(0, list.Capacity());
}

TEST(FileListTest, DeleteShiftsLaterElementsAndCutsStorage) {
  FileList list;
  for (const char* name : {"a", "b", "c", "d", "e"}) list.Add(name);
  list.Delete(1);
  EXPECT_THAT(Elements(list), ElementsAre("a", "c", "d", "e"));
  EXPECT_EQ(4, list.Capacity());
  list.Delete(3);
  EXPECT_THAT(Elements(list), ElementsAre("a", "c", "d"));
}

TEST(FileListTest, IndexErrorsNameTheIndex) {
  FileList list;
  list.Add("a");
  list.Items(0) = "z";
  EXPECT_EQ("z", list.Items(0));
  EXPECT_THAT([&] { list.Items(1); },
              ThrowsMessage<EROException>(StrEq("Array index out of bounds (1).")));
  EXPECT_THAT([&] { list.Items(-1); },
              ThrowsMessage<EROException>(StrEq("Array index out of bounds (-1).")));
  EXPECT_THAT([&] { list.Delete(1); }, ThrowsMessage<EROException>(StrEq("Invalid index 1")));
  EXPECT_THAT([&] { list.Delete(-2); }, ThrowsMessage<EROException>(StrEq("Invalid index -2")));
  EXPECT_EQ(1, list.Count());
}

TEST(FileListTest, AssignCopiesEveryElementOverOldContent) {
  TargetServerList source;
  for (const char* name : {"alpha", "beta", "alpha"}) source.Add(name);
  TargetServerList target;
  for (int i = 0; i < 9; ++i) target.Add("old");
  target.Assign(source);
  EXPECT_EQ(3, target.Count());
  EXPECT_EQ(3, target.Capacity());
  EXPECT_EQ("beta", target.Items(1));
  EXPECT_EQ("alpha", target.Items(2));

  target.Clear();
  EXPECT_EQ(0, target.Count());
  EXPECT_EQ(0, target.Capacity());
}

TEST(FileListTest, ElementsAreAnsiStrings) {
  EXPECT_EQ(&TypeInfoOf<std::string>(), &FileList().ElementType());
  EXPECT_TRUE(FileList::StaticClass().DescendsFrom(TROArray::StaticClass()));
  EXPECT_FALSE(FileList::StaticClass().DescendsFrom(TargetServerList::StaticClass()));
}

TEST(VantryLibraryRegistrationTest, RegistersAtStartAndRemovesAtEnd) {
  {
    VantryLibraryRegistration registration;
    EXPECT_EQ(&FileList::StaticClass(), FindComplexTypeClass("filelist"));
    EXPECT_EQ(&TargetServerList::StaticClass(), FindComplexTypeClass("TARGETSERVERLIST"));
    ExceptionClass exception_class = FindExceptionClass("eVANTRYexception");
    EXPECT_STREQ("EVantryException", exception_class.name);
    EXPECT_NE(nullptr, dynamic_cast<EVantryException*>(exception_class.create("x").get()));
    EXPECT_NE(nullptr, FindProxyClass("{cef57005-f7b8-4ab7-845a-4553e9e10280}", true));
    EXPECT_EQ(&DeleteStrategyTypeInfo(), FindEnumeration(kDeleteStrategyTypeName));
    EXPECT_EQ("vantrydsAgressive", MappedValueName("vantrydsAgressive"));
  }
  EXPECT_EQ(nullptr, FindComplexTypeClass("FileList"));
  EXPECT_EQ(nullptr, FindComplexTypeClass("TargetServerList"));
  EXPECT_STREQ("EROUnregisteredServerException", FindExceptionClass("EVantryException").name);
  EXPECT_THAT([] { FindProxyClass(kIVantryServiceGuid); },
              ThrowsMessage<EROException>(
                  StrEq("Unknown proxy interface \"{CEF57005-F7B8-4AB7-845A-4553E9E10280}\"")));
  EXPECT_EQ(nullptr, FindEnumeration(kDeleteStrategyTypeName));
  EXPECT_EQ(std::nullopt, MappedValueName("vantrydsCareful"));
}

// Another array class that claims the name "FileList".
class ImpostorList : public TROTypedArray<std::string> {
  VANTRY_COMPLEX_CLASS(ImpostorList)
};
const ClassInfo& ImpostorList::StaticClass() {
  static const ClassInfo info = MakeClassInfo<ImpostorList, TROArray>("FILELIST");
  return info;
}

TEST(VantryLibraryRegistrationTest, TakenArrayNameFailsAndRegistersNothing) {
  RegisterComplexTypeClass(ImpostorList::StaticClass());
  EXPECT_THAT([] { VantryLibraryRegistration registration; },
              ThrowsMessage<EROException>(StrEq("Class \"FileList\" is already registered")));
  EXPECT_EQ(&ImpostorList::StaticClass(), FindComplexTypeClass("FileList"));
  EXPECT_EQ(nullptr, FindComplexTypeClass("TargetServerList"));
  EXPECT_EQ(nullptr, FindProxyClass(kIVantryServiceGuid, true));
  UnregisterComplexTypeClass(ImpostorList::StaticClass());
}

}  // namespace
}  // namespace vantry
