#include "platform/identity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "platform/exception.h"

namespace vantry {
namespace {

TEST(GuidTest, TextAndBinaryLayout) {
  const char text[] = "{01234567-89AB-CDEF-0123-456789ABCDEF}";
  Guid guid = StringToGuid(text);
  EXPECT_EQ(guid.data1, 0x01234567u);
  EXPECT_EQ(guid.data2, 0x89ABu);
  EXPECT_EQ(guid.data3, 0xCDEFu);
  std::array<uint8_t, 16> expected = {0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD,
                                      0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(GuidToBytes(guid), expected);
  EXPECT_EQ(GuidFromBytes(expected.data()), guid);
  EXPECT_EQ(GuidToString(guid), text);
  EXPECT_EQ(TryStringToGuid("{cef57005-f7b8-4ab7-845a-4553e9e10280}").value(),
            StringToGuid("{CEF57005-F7B8-4AB7-845A-4553E9E10280}"));
  EXPECT_TRUE(Guid{}.IsNull());
  EXPECT_EQ(GuidToString(Guid{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(GuidTest, BadTextIsRejected) {
  for (const char* bad :
       {"", "01234567-89AB-CDEF-0123-456789ABCDEF", "{01234567-89AB-CDEF-0123-456789ABCDEG}",
        "{01234567-89AB-CDEF-01234-56789ABCDEF}", "{01234567-89AB-CDEF-0123-456789ABCDEF",
        "{01234567-89AB-CDEF-0123-456789ABCDEF}x"}) {
    EXPECT_EQ(TryStringToGuid(bad), std::nullopt) << bad;
  }
  EXPECT_THAT(
      [] { StringToGuid("{nope}"); },
      testing::ThrowsMessage<EConvertError>(testing::StrEq("'{nope}' is not a valid GUID value")));
}

TEST(GuidTest, NewGuidsAreRandomVersionFour) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    Guid guid = NewGuid();
    std::string text = GuidToString(guid);
    EXPECT_THAT(text,
                testing::MatchesRegex(
                    "\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}"));
    EXPECT_TRUE(seen.insert(text).second);
  }
}

TEST(ComputerNameTest, NetBiosForm) {
  std::string name = ComputerName();
  EXPECT_LE(name.size(), 15u);
  EXPECT_EQ(name.find('.'), std::string::npos);
  for (char c : name) EXPECT_FALSE(c >= 'a' && c <= 'z') << name;
}

}  // namespace
}  // namespace vantry
