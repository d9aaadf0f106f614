#include "host/ini_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <climits>

namespace vantry {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Optional;

struct LookupCase {
  const char* name;
  std::string_view text;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

class IniLookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(IniLookupTest, FindsWhatTheSyntaxDefines) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(IniFile::Parse(c.text).Find(c.section, c.key), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, IniLookupTest,
    ::testing::Values(
        LookupCase{"lf", "[S]\nA=1\nB=2\n", "S", "B", "2"},
        LookupCase{"cr", "[S]\rA=1\rB=2", "S", "B", "2"},
        LookupCase{"crlf", "[S]\r\nA=1\r\nB=2\r\n", "S", "A", "1"},
        LookupCase{"blank line between", "[S]\n\n\nA=1", "S", "A", "1"},
        LookupCase{"line stripped of controls", "\t [S] \x01\n \tA=1\t\x1f", "S", "A", "1"},
        LookupCase{"blanks around equals", "[S]\nA   =   x y  \n", "S", "A", "x y"},
        LookupCase{"first equals splits", "[S]\nA=b=c", "S", "A", "b=c"},
        LookupCase{"empty value is text", "[S]\nA=", "S", "A", ""},
        LookupCase{"comment line", "[S]\n;A=1", "S", "A", std::nullopt},
        LookupCase{"semicolon inside value", "[S]\nA=1;2", "S", "A", "1;2"},
        LookupCase{"comment after blanks", "[S]\n   ;A=1", "S", "A", std::nullopt},
        LookupCase{"line before any section", "A=1\n[S]\nB=2", "S", "A", std::nullopt},
        LookupCase{"line without equals", "[S]\nA\n", "S", "A", std::nullopt},
        LookupCase{"section name stripped", "[  S \t]\nA=1", "S", "A", "1"},
        LookupCase{"section any case", "[vantry]\nA=1", "VANTRY", "a", "1"},
        LookupCase{"key any case", "[S]\nallowedbackups=4", "s", "AllowedBackups", "4"},
        LookupCase{"last key wins", "[S]\nA=1\na=2", "S", "A", "2"},
        LookupCase{"last section wins", "[S]\nA=1\n[T]\n[s]\nB=2", "S", "A", std::nullopt},
        LookupCase{"last section read", "[S]\nA=1\n[T]\n[s]\nA=3", "S", "A", "3"},
        LookupCase{"other section", "[S]\nA=1\n[T]\nA=2", "T", "A", "2"},
        LookupCase{"missing section", "[S]\nA=1", "T", "A", std::nullopt},
        LookupCase{"open bracket only is a key line", "[S]\n[T=1", "S", "[T", "1"},
        LookupCase{"8-bit value passes through", "[S]\nP=C:\\Sicherungsb\xe4nde", "S", "P",
                   "C:\\Sicherungsb\xe4nde"}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

struct IntegerCase {
  std::string_view text;
  std::optional<int32_t> expected;
};

TEST(IniIntegerTest, ReadsDecimalAndHexadecimalForms) {
  const IntegerCase cases[] = {
      {"10", 10},
      {"-10", -10},
      {"+7", 7},
      {"007", 7},
      {"$10", 16},
      {"x10", 16},
      {"X1f", 31},
      {"0x10", 16},
      {"0XaB", 171},
      {"-$10", -16},
      {"+0x10", 16},
      {"$FFFFFFFF", -1},
      {"$80000000", INT_MIN},
      {"0x7fffffff", INT_MAX},
      {"-$FFFFFFFF", 1},
      {"$00000001", 1},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"$100000000", std::nullopt},
      {"$000000001", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"0xG", std::nullopt},
      {"1 2", std::nullopt},
      {" 5", std::nullopt},
      {"12abc", std::nullopt},
      {"1.5", std::nullopt},
      {"--1", std::nullopt},
      {"$-1", std::nullopt},
      {"true", std::nullopt},
  };
  for (const IntegerCase& c : cases) {
    EXPECT_EQ(TryParseInteger(c.text), c.expected) << "\"" << c.text << "\"";
  }
}

TEST(IniIntegerTest, InvalidOrMissingValueTakesTheDefault) {
  IniFile ini = IniFile::Parse("[Vantry]\nA=0x10\nB=word\nC=\nD=-3");
  EXPECT_EQ(ini.ReadInteger("Vantry", "A", 1), 16);
  EXPECT_EQ(ini.ReadInteger("Vantry", "B", 1), 1);
  EXPECT_EQ(ini.ReadInteger("Vantry", "C", 60), 60);
  EXPECT_EQ(ini.ReadInteger("Vantry", "D", 60), -3);
  EXPECT_EQ(ini.ReadInteger("Vantry", "Missing", 23), 23);
}

TEST(IniBoolTest, ReadsIntegersWithTheDefaultAsOneOrZero) {
  struct Case {
    std::string_view value;
    bool with_true_default;
    bool with_false_default;
  };
  const Case cases[] = {
      {"0", false, false}, {"1", true, true},     {"-1", true, true},  {"2", true, true},
      {"$0", false, false}, {"true", true, false}, {"false", true, false}, {"", true, false},
      {"yes", true, false},
  };
  for (const Case& c : cases) {
    IniFile ini = IniFile::Parse(std::string("[S]\nB=") + std::string(c.value));
    EXPECT_EQ(ini.ReadBool("S", "B", true), c.with_true_default) << c.value;
    EXPECT_EQ(ini.ReadBool("S", "B", false), c.with_false_default) << c.value;
  }
  EXPECT_TRUE(IniFile().ReadBool("S", "B", true));
  EXPECT_FALSE(IniFile().ReadBool("S", "B", false));
}

TEST(IniTextTest, PresentEmptyValueIsNotTheDefault) {
  IniFile ini = IniFile::Parse("[S]\nEmpty=\n");
  EXPECT_EQ(ini.ReadString("S", "Empty", "default"), "");
  EXPECT_EQ(ini.ReadString("S", "Missing", "default"), "default");
}

struct CommaCase {
  std::string_view text;
  std::vector<std::string> expected;
};

TEST(IniCommaListTest, SplitsItemsAtCommasAndBlanks) {
  const CommaCase cases[] = {
      {"", {}},
      {"   ", {}},
      {"a", {"a"}},
      {"a,b", {"a", "b"}},
      {"a, b", {"a", "b"}},
      {"a ,b", {"a", "b"}},
      {"a b", {"a", "b"}},
      {"a\tb", {"a", "b"}},
      {"  a", {"a"}},
      {"a,", {"a", ""}},
      {"a, ", {"a", ""}},
      {",a", {"", "a"}},
      {"a,,b", {"a", "", "b"}},
      {"a, ,", {"a", "", ""}},
      {"b,a,b", {"b", "a", "b"}},
      {"\"x y\",z", {"x y", "z"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"\"", {""}},
      {"\"a,b\" c", {"a,b", "c"}},
      {"\"open", {"open"}},
      {"\"a\"b", {"a", "b"}},
  };
  for (const CommaCase& c : cases) {
    EXPECT_EQ(SplitCommaList(c.text), c.expected) << "\"" << c.text << "\"";
  }
}

TEST(IniCommaListTest, MissingKeyGivesEmptyList) {
  EXPECT_THAT(IniFile().ReadCommaList("Vantry", "OtherTargetServers"), IsEmpty());
  EXPECT_THAT(IniFile::Parse("[Vantry]\nOtherTargetServers=SRV1, SRV2")
                  .ReadCommaList("vantry", "othertargetservers"),
              ElementsAre("SRV1", "SRV2"));
}

TEST(IniSectionTest, ReadSectionListsKeysOfTheLastOccurrence) {
  IniFile ini = IniFile::Parse("[Drives]\nQ=/old\n[drives]\nd=/srv/backup\nE = /mnt/e \n");
  EXPECT_THAT(ini.ReadSection("DRIVES"),
              ElementsAre(std::pair<std::string, std::string>("D", "/srv/backup"),
                          std::pair<std::string, std::string>("E", "/mnt/e")));
  EXPECT_THAT(ini.ReadSection("Missing"), IsEmpty());
  EXPECT_THAT(ini.Find("Drives", "d"), Optional(std::string("/srv/backup")));
}

}  // namespace
}  // namespace vantry
