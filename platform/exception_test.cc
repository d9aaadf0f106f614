#include "platform/exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vantry {
namespace {

TEST(ExceptionTest, ClassNamesTravelWithTheDynamicType) {
  std::unique_ptr<Exception> e = std::make_unique<EReadError>(kStreamReadError);
  EXPECT_STREQ(e->ClassName(), "EReadError");
  EXPECT_THROW(e->Raise(), EStreamError);
  EXPECT_STREQ(e->Clone()->ClassName(), "EReadError");
  EOSError os(5, "System Error.  Code: 5.\r\nAccess is denied.");
  EXPECT_EQ(os.Clone()->Message(), os.Message());
}

TEST(ExceptionTest, AssertionTextNamesUnitAndLine) {
  EXPECT_NO_THROW(Assert(true, "x", "Unit", 1));
  EXPECT_THAT([] { Assert(false, "Size > 0", "VantryService_Impl", 42); },
              testing::ThrowsMessage<EAssertionFailed>(
                  testing::StrEq("Size > 0 (VantryService_Impl, line 42)")));
}

TEST(ExceptionTest, FormatFollowsPrintfTemplates) {
  EXPECT_EQ(Format("File \"%s\" does not exist", "C:\\a.fbk"), "File \"C:\\a.fbk\" does not exist");
  EXPECT_EQ(Format("Socket Error # %d\r\n%s", 10061, "Connection refused."),
            "Socket Error # 10061\r\nConnection refused.");
}

}  // namespace
}  // namespace vantry
