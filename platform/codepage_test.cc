#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace vantry {
namespace {

TEST(CodePageTest, AnsiToUtf8Table) {
  struct Case {
    std::string ansi;
    std::string utf8;
  } cases[] = {
      {"plain.fbk", "plain.fbk"},
      {"Caf\xE9", "Caf\xC3\xA9"},        // e acute
      {"\x80", "\xE2\x82\xAC"},          // euro sign
      {"\x8A\x9A", "\xC5\xA0\xC5\xA1"},  // S and s with caron
      {"\x9F", "\xC5\xB8"},              // Y with diaeresis
      {"\x81", "\xC2\x81"},              // undefined byte keeps its C1 control
      {"\xFF", "\xC3\xBF"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8) << c.ansi;
    EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi) << c.ansi;
  }
}

TEST(CodePageTest, OemCodePage437) {
  EXPECT_EQ(AnsiToOem("db.fbk"), "db.fbk");
  EXPECT_EQ(AnsiToOem("\xE9\xFC\xC4\xDF\xA3"), "\x82\x81\x8E\xE1\x9C");  // e acute, u/A umlaut, sharp s, pound
  EXPECT_EQ(AnsiToOem("\xFE"), std::nullopt);  // thorn has no place in 437
  EXPECT_EQ(AnsiToOem("\x80"), std::nullopt);  // nor the euro sign
  EXPECT_EQ(OemToUtf8("\x82\xB0\xE4\xFF"), "\xC3\xA9\xE2\x96\x91\xCE\xA3\xC2\xA0");
}

TEST(CodePageTest, EveryAnsiByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
}

TEST(CodePageTest, UnrepresentableCharactersBecomeQuestionMarks) {
  struct Case {
    std::string utf8;
    std::string ansi;
  } cases[] = {
      {"\xE6\x97\xA5\xE6\x9C\xAC.fbk", "??.fbk"},  // two CJK characters
      {"\xF0\x9F\x98\x80", "?"},                   // emoji: one character, one "?"
      {"\xC2\x80", "?"},                           // C1 control that 1252 uses for the euro
      {"a\xFFz", "a?z"},                           // malformed byte
      {"\xC3", "?"},                               // truncated sequence
      {"\xC0\xAF", "??"},                          // overlong form
      {"\xED\xA0\x80", "???"},                     // surrogate
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi);
}

TEST(CodePageTest, UpperCaseAsWindowsFileNames) {
  EXPECT_EQ(AnsiUpperCase("backup_2024.fbk"), "BACKUP_2024.FBK");
  EXPECT_EQ(AnsiUpperCase("caf\xE9 \x9A\x9C\x9E\xFF"), "CAF\xC9 \x8A\x8C\x8E\x9F");
  EXPECT_EQ(AnsiUpperCase("\xF7\xDF\xB5"), "\xF7\xDF\xB5");  // division sign, sharp s, micro
  EXPECT_TRUE(AnsiSameText("Caf\xE9.FBK", "CAF\xC9.fbk"));
  EXPECT_FALSE(AnsiSameText("a", "ab"));
}

}  // namespace
}  // namespace vantry
