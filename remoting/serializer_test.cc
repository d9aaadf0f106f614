#include "remoting/serializer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "remoting/testing/test_types.h"
#include "remoting/testing/test_util.h"

namespace vantry {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;
using testing_types::TTestDerived;
using testing_types::TTestIntList;
using testing_types::TTestStringList;
using testing_types::TTestStruct;
using testing_util::Hex;
using testing_util::ToHex;

enum class TWide : uint16_t { kLow = 0x0102 };
enum class TNarrow : uint8_t { kA, kB, kC };

// The bytes `value` is written as.
template <typename T>
std::string Encode(const T& value) {
  TROBinaryMemoryStream stream;
  TROStreamSerializer serializer(&stream);
  serializer.Write("Value", value);
  return ToHex(stream.View());
}

// The value read from `hex`; the read must consume every byte.
template <typename T>
T Decode(std::string_view hex) {
  TROBinaryMemoryStream stream(Hex(hex));
  TROStreamSerializer serializer(&stream);
  T value{};
  serializer.Read("Value", value);
  EXPECT_EQ(stream.Remaining(), 0u) << hex;
  return value;
}

// A call that reads a T from `hex`, for EXPECT_THAT(..., ThrowsMessage<...>).
template <typename T>
std::function<void()> ReadFrom(std::string hex) {
  return [hex] {
    TROBinaryMemoryStream stream(Hex(hex));
    TROStreamSerializer serializer(&stream);
    T value{};
    serializer.Read("Value", value);
  };
}

std::unique_ptr<TROBinaryMemoryStream> BinaryOf(std::string_view bytes) {
  return std::make_unique<TROBinaryMemoryStream>(bytes);
}

Variant DecimalOf(std::string text) { return Variant::Text(std::move(text)); }

TEST(SerializerTest, EncodesEachValueType) {
  auto list = std::make_unique<TTestStringList>();
  list->Add("a");
  list->Add("");
  auto whole = BinaryOf("xy");
  whole->SetPosition(2);  // written whole although the position is at the end
  Variant ints = Variant::Of(kVarArray | kVarInt16);
  ints.low_bound = 1;
  ints.elements = {Variant::Of(kVarInt16, 5), Variant::Of(kVarInt16, -1)};
  Variant flags = Variant::Of(kVarArray | kVarBoolean);
  flags.elements = {Variant::Of(kVarBoolean, 1), Variant::Of(kVarBoolean, 0)};

  struct Row {
    std::string actual;
    std::string expected;
  } rows[] = {
      {Encode(int8_t{-1}), "FF"},
      {Encode(uint16_t{0x1234}), "34 12"},
      {Encode(int32_t{-2}), "FE FF FF FF"},
      {Encode(uint32_t{0x80000000}), "00 00 00 80"},
      {Encode(int64_t{-2}), "FE FF FF FF FF FF FF FF"},
      {Encode(false), "00 00 00 00"},
      {Encode(true), "01 00 00 00"},
      {Encode(TNarrow::kC), "02 00 00 00"},
      {Encode(TWide::kLow), "02 01 00 00"},
      {Encode(1.0f), "00 00 80 3F"},
      {Encode(1.0), "00 00 00 00 00 00 F0 3F"},
      {Encode(1.0L), "00 00 00 00 00 00 00 80 FF 3F"},
      {Encode(TRODateTime{1.5}), "00 00 00 00 00 00 F8 3F"},
      {Encode(std::string()), "00 00 00 00"},
      {Encode(std::string("ab\xE9")), "03 00 00 00 61 62 E9"},
      {Encode(Utf8String{"\xC3\xA9"}), "02 00 00 00 C3 A9"},
      {Encode(std::u16string(u"A\u20AC")), "02 00 00 00 41 00 AC 20"},
      {Encode(GuidString{""}), "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {Encode(GuidString{"{00112233-4455-6677-8899-aabbccddeeff}"}),
       "33 22 11 00 55 44 77 66 88 99 AA BB CC DD EE FF"},
      {Encode(std::unique_ptr<TROBinaryMemoryStream>()), "00"},
      {Encode(BinaryOf("")), "01 00 00 00 00"},
      {Encode(whole), "01 02 00 00 00 78 79"},
      {Encode(std::unique_ptr<TTestStringList>()), "00"},
      {Encode(std::make_unique<TTestStringList>()), "01 00 00 00 00"},
      {Encode(list), "01 02 00 00 00 01 00 00 00 61 00 00 00 00"},
      {Encode(Variant()), "00 00 00 00"},
      {Encode(Variant::Of(kVarNull)), "01 00 00 00"},
      {Encode(Variant::Of(kVarInt32, -1)), "03 00 00 00 FF FF FF FF"},
      {Encode(Variant::Of(kVarBoolean, 1)), "0B 00 00 00 01 00 00 00"},
      {Encode(Variant::Of(kVarUInt8, 0xAB)), "11 00 00 00 AB"},
      {Encode(Variant::Of(kVarInt64, 1)), "14 00 00 00 01 00 00 00 00 00 00 00"},
      {Encode(Variant::Of(kVarCurrency, 15000)), "06 00 00 00 98 3A 00 00 00 00 00 00"},
      {Encode(Variant::Real(kVarSingle, 1.0)), "04 00 00 00 00 00 80 3F"},
      {Encode(Variant::Text("hi")), "00 01 00 00 02 00 00 00 68 69"},
      {Encode(Variant::Text("\xC3\xA9", kVarWideText)), "08 00 00 00 02 00 00 00 C3 A9"},
      {Encode(Variant::ByteArray("\xAA\xBB")), "11 20 00 00 02 00 00 00 AA BB"},
      {Encode(ints), "02 20 00 00 01 00 00 00 02 00 00 00 05 00 FF FF"},
      {Encode(flags), "0B 20 00 00 00 00 00 00 01 00 00 00 01 00"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.actual, row.expected);
}

TEST(SerializerTest, EncodesDecimals) {
  auto encode = [](const Variant& value) {
    TROBinaryMemoryStream stream;
    TROStreamSerializer(&stream).Write("Value", DecimalTypeInfo(), &value);
    return ToHex(stream.View());
  };
  struct Row {
    Variant value;
    std::string expected;
  } rows[] = {
      {Variant::Of(kVarNull), "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {DecimalOf("-12.5"), "7D 00 00 00 00 00 00 00 00 00 00 00 00 00 01 80"},
      {DecimalOf("1-0.25"), "01 04 00 00 00 00 00 00 00 00 00 00 00 00 02 80"},
      {Variant::Of(kVarInt32, 7), "07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {Variant::Of(kVarCurrency, -15000), "98 3A 00 00 00 00 00 00 00 00 00 00 00 00 04 80"},
      {Variant::Real(kVarDouble, 0.5), "05 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00"},
      {DecimalOf("79228162514264337593543950335"),
       "FF FF FF FF FF FF FF FF FF FF FF FF 00 00 00 00"},
      {Variant::ByteArray(Hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10")),
       "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"},
  };
  for (const Row& row : rows) EXPECT_EQ(encode(row.value), row.expected);
  EXPECT_THROW(encode(DecimalOf("79228162514264337593543950336")), EConvertError);
}

TEST(SerializerTest, DecodesEdgeCases) {
  EXPECT_FALSE(Decode<bool>("00 01 00 00"));  // only the low byte counts
  EXPECT_TRUE(Decode<bool>("02 00 00 00"));
  EXPECT_EQ(static_cast<int>(Decode<TNarrow>("07 01 00 00")), 7);  // no range test
  EXPECT_EQ(Decode<std::string>("00 00 00 00"), "");
  EXPECT_EQ(Decode<std::string>("FF FF FF FF"), "");  // negative: empty, nothing more read
  EXPECT_EQ(Decode<std::u16string>("01 00 00 00 41 00"), u"A");
  EXPECT_EQ(Decode<GuidString>("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00").value,
            "{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(Decode<GuidString>("33 22 11 00 55 44 77 66 88 99 AA BB CC DD EE FF").value,
            "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(Decode<long double>("00 00 00 00 00 00 00 80 FF 3F"), 1.0L);
  EXPECT_EQ(Decode<std::unique_ptr<TROBinaryMemoryStream>>("00"), nullptr);
  auto binary = Decode<std::unique_ptr<TROBinaryMemoryStream>>("01 02 00 00 00 78 79");
  ASSERT_NE(binary, nullptr);
  EXPECT_EQ(binary->ToString(), "xy");
  EXPECT_EQ(binary->Position(), 0);
  EXPECT_EQ(Decode<std::unique_ptr<TTestStringList>>("00"), nullptr);
  auto empty = Decode<std::unique_ptr<TTestStringList>>("05 00 00 00 00");  // any non-zero flag
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->Count(), 0);
}

TEST(SerializerTest, DecodesVariantsAsTheirReadBackType) {
  struct Row {
    std::string hex;
    Variant expected;
  } rows[] = {
      {"0A 00 00 00", Variant::Of(kVarError, kVarErrorParamNotFound)},
      {"13 00 00 00 FF FF FF FF", Variant::Of(kVarInt32, -1)},
      {"04 00 00 00 00 00 80 3F", Variant::Real(kVarDouble, 1.0)},
      {"02 01 00 00 01 00 00 00 41", Variant::Text("A", kVarWideText)},
      {"0B 00 00 00 00 01 00 00", Variant::Of(kVarBoolean, 0)},
      {"12 00 00 00 FF FF", Variant::Of(kVarUInt16, 0xFFFF)},
      {"10 00 00 00 FF", Variant::Of(kVarInt8, -1)},
      {"11 20 00 00 00 00 00 00", Variant::ByteArray("")},
  };
  for (const Row& row : rows) EXPECT_EQ(Decode<Variant>(row.hex), row.expected) << row.hex;

  Variant texts = Decode<Variant>("00 21 00 00 FE FF FF FF FF FF FF FF 01 00 00 00 61 FF FF FF FF");
  EXPECT_EQ(texts.type, kVarArray | kVarText);
  EXPECT_EQ(texts.low_bound, -2);
  ASSERT_EQ(texts.elements.size(), 2u);
  EXPECT_EQ(texts.elements[0].text, "a");
  EXPECT_EQ(texts.elements[1].text, "");

  TROBinaryMemoryStream stream(Hex("0E 00 00 00 01 00 00 00 00 00 00 00 00 00 01 80"));
  Variant decimal;
  TROStreamSerializer(&stream).Read("Value", DecimalTypeInfo(), &decimal);
  EXPECT_EQ(decimal, Variant::ByteArray(Hex("0E 00 00 00 01 00 00 00 00 00 00 00 00 00 01 80")));
}

TEST(SerializerTest, ReadFailuresHaveTheirTexts) {
  auto read_error = StrEq("Stream read error");
  auto length_error = [](int n) {
    return StrEq(Format("Stream read error: Invalid string length \"%d\"", n));
  };
  using Binary = std::unique_ptr<TROBinaryMemoryStream>;
  EXPECT_THAT(ReadFrom<int32_t>("01 02 03"), ThrowsMessage<EReadError>(read_error));
  EXPECT_THAT(ReadFrom<bool>(""), ThrowsMessage<EReadError>(read_error));
  // Longer than what remains but not than the whole stream: passes the length test first.
  EXPECT_THAT(ReadFrom<std::string>("06 00 00 00 61 62"), ThrowsMessage<EReadError>(read_error));
  EXPECT_THAT(ReadFrom<std::string>("07 00 00 00 61 62"),
              ThrowsMessage<EROException>(length_error(7)));
  EXPECT_THAT(ReadFrom<std::u16string>("05 00 00 00 41 00 42 00"),
              ThrowsMessage<EROException>(length_error(5)));
  EXPECT_THAT(ReadFrom<Binary>("01 FF FF FF FF"), ThrowsMessage<EROException>(length_error(-1)));
  EXPECT_THAT(ReadFrom<Binary>("01 05 00 00 00 61"), ThrowsMessage<EReadError>(read_error));
  EXPECT_THAT(ReadFrom<Binary>("01 05 00"), ThrowsMessage<EReadError>(read_error));
  // Each string element needs 4 bytes: a count the rest cannot hold is refused up front.
  EXPECT_THAT(ReadFrom<std::unique_ptr<TTestStringList>>("01 02 00 00 00 00 00 00 00"),
              ThrowsMessage<EROException>(length_error(2)));
  EXPECT_THAT(ReadFrom<std::unique_ptr<TTestIntList>>("01 FF FF FF 7F"),
              ThrowsMessage<EROException>(length_error(0x7FFFFFFF)));
  EXPECT_THAT(ReadFrom<std::unique_ptr<TTestIntList>>("01 FF FF FF FF"),
              ThrowsMessage<EROException>(length_error(-1)));
  EXPECT_THAT(ReadFrom<GuidString>("00 11 22"),
              ThrowsMessage<EROException>(StrEq("Unexpected end of stream.")));
  EXPECT_THAT(ReadFrom<GuidString>(""),
              ThrowsMessage<EROException>(StrEq("Unexpected end of stream.")));
  EXPECT_THAT(ReadFrom<Variant>("0C 00 00 00"),
              ThrowsMessage<EROException>(StrEq("Unsupported variant type \"12\" Not Supported")));
  EXPECT_THAT(ReadFrom<Variant>("09 20 00 00 00 00 00 00 00 00 00 00"),
              ThrowsMessage<EROBinaryConversionException>(
                  StrEq("Marshaling of IDispatch (9) type variants is not supported.")));
  EXPECT_THAT(
      ReadFrom<Variant>("0C 20 00 00 00 00 00 00 00 00 00 00"),
      ThrowsMessage<EROBinaryConversionException>(StrEq("Unsupported variant type \"12\"")));
  EXPECT_THAT(ReadFrom<Variant>("02 20 00 00 00 00 00 00 FF FF FF 7F 01 00"),
              ThrowsMessage<EROException>(length_error(-2147483648)));
  EXPECT_THAT(ReadFrom<XmlNode>("03 00 00 00 3C 61 3E"),
              ThrowsMessage<EROException>(StrEq("Invalid input")));
}

TEST(SerializerTest, WriteFailuresHaveTheirTexts) {
  EXPECT_THAT([] { Encode(GuidString{"nonsense"}); },
              ThrowsMessage<EConvertError>(StrEq("'nonsense' is not a valid GUID value")));
  EXPECT_THAT([] { Encode(Variant::Of(kVarDispatch)); },
              ThrowsMessage<EROException>(StrEq("Unsupported variant type \"9\" Not Supported")));
  Variant dispatches = Variant::Of(kVarArray | kVarDispatch);
  EXPECT_THAT([&] { Encode(dispatches); },
              ThrowsMessage<EROBinaryConversionException>(
                  StrEq("Marshaling of IDispatch (9) type variants is not supported.")));
  TROBinaryMemoryStream stream;
  TROStreamSerializer serializer(&stream);
  int32_t value = 0;
  EXPECT_THAT([&] { serializer.Write("Value", SimpleTypeInfo("TSet", TypeKind::kSet), &value); },
              ThrowsMessage<EROUnknownType>(StrEq("Type \"Set\" not supported")));
  EXPECT_THAT(
      [&] { serializer.Read("Value", SimpleTypeInfo("IFoo", TypeKind::kInterface), &value); },
      ThrowsMessage<EROUnknownType>(StrEq("Type \"Interface\" not supported")));
}

TEST(SerializerTest, RoundTripsValues) {
  Variant reals = Variant::Of(kVarArray | kVarDouble);
  reals.low_bound = 3;
  reals.elements = {Variant::Real(kVarDouble, 0.25), Variant::Real(kVarDouble, -8)};
  for (const Variant& v : {Variant::Of(kVarInt16, -3), Variant::Real(kVarDate, 45000.5),
                           Variant::Of(kVarInt64, INT64_MIN), Variant::Text(""), reals}) {
    TROBinaryMemoryStream stream;
    TROStreamSerializer serializer(&stream);
    serializer.Write("Value", v);
    stream.Rewind();
    Variant back;
    serializer.Read("Value", back);
    EXPECT_EQ(back, v);
  }
}

TEST(SerializerTest, XmlNodeTravelsAsItsText) {
  XmlNode node;
  node.document = std::make_shared<pugi::xml_document>();
  node.document->load_string("<root><item a=\"1\">\xC3\xA9</item></root>");
  node.node = node.document->document_element().first_child();
  std::string text = "<item a=\"1\">\xC3\xA9</item>";
  EXPECT_EQ(Encode(node), ToHex(Hex(Format("%02X 00 00 00", text.size())) + text));
  EXPECT_EQ(Encode(XmlNode{}), "00 00 00 00");

  XmlNode back = Decode<XmlNode>(Encode(node));
  ASSERT_TRUE(back);
  EXPECT_STREQ(back.node.name(), "item");
  EXPECT_STREQ(back.node.child_value(), "\xC3\xA9");
  EXPECT_FALSE(Decode<XmlNode>("00 00 00 00"));
}

class StructTest : public testing::Test {
 protected:
  void SetUp() override { testing_types::RegisterTestTypes(); }
};

TEST_F(StructTest, FieldsTravelInCaseFoldedNameOrder) {
  auto value = std::make_unique<TTestStruct>();
  value->b = 2;
  value->A = "x";
  value->a1 = true;
  EXPECT_EQ(Encode(value),
            ToHex(Hex("01 0B 00 00 00") + "TTestStruct" +
                  Hex("01 00 00 00 78"  // A
                      "01 00 00 00"     // a1
                      "00"              // ab (absent)
                      "02 00 00 00"     // b
                      "00")));          // _x (absent)
}

TEST_F(StructTest, ReadsTheActualClassInAnyLetterCase) {
  std::string bytes = Hex("01 0C 00 00 00") + "ttestderived" +
                      Hex("00 00 00 00"                    // A
                          "00 00 00 00"                    // a1
                          "01 01 00 00 00 01 00 00 00 02"  // ab
                          "03 00 00 00"                    // b
                          "05 00 00 00 00 00 00 00"        // c
                          "01 01 00 00 00 7A");            // _x
  auto value = Decode<std::unique_ptr<TTestStruct>>(ToHex(bytes));
  auto* derived = dynamic_cast<TTestDerived*>(value.get());
  ASSERT_NE(derived, nullptr);
  EXPECT_EQ(derived->A, "");
  EXPECT_FALSE(derived->a1);
  ASSERT_NE(derived->ab, nullptr);
  EXPECT_EQ(derived->ab->Count(), 1);
  EXPECT_EQ(derived->ab->Items(0), "\x02");
  EXPECT_EQ(derived->b, 3);
  EXPECT_EQ(derived->c, 5);
  ASSERT_NE(derived->_x, nullptr);
  EXPECT_EQ(derived->_x->ToString(), "z");
  EXPECT_EQ(Encode(value), ToHex(Hex("01 0C 00 00 00") + "TTestDerived" + bytes.substr(17)));
}

TEST_F(StructTest, RefusesUnknownAndUnrelatedClasses) {
  auto read_struct = [](std::string_view class_name) {
    TROBinaryMemoryStream stream(Hex("01") + Hex(Format("%02X 00 00 00", class_name.size())) +
                                 std::string(class_name));
    TROStreamSerializer serializer(&stream);
    std::unique_ptr<TTestDerived> value = std::make_unique<TTestDerived>();
    try {
      serializer.Read("Value", value);
    } catch (...) {
      EXPECT_EQ(value, nullptr);  // a failed read leaves no object
      throw;
    }
  };
  EXPECT_THAT([&] { read_struct("TNothing"); },
              ThrowsMessage<EROException>(StrEq("Unknown class \"TNothing\" found in stream.")));
  EXPECT_THAT([&] { read_struct("TTestStruct"); },
              ThrowsMessage<EROException>(StrEq(
                  "Unexpected class found in stream; class \"TTestStruct\" does not descend from "
                  "\"TTestDerived\".")));
  EXPECT_THAT([&] { read_struct("ttestintlist"); },
              ThrowsMessage<EROException>(StrEq(
                  "Unexpected class found in stream; class \"ttestintlist\" does not descend from "
                  "\"TTestDerived\".")));
}

TEST_F(StructTest, ClassNameLimitIs256Bytes) {
  auto read_named = [](size_t length) {
    std::string name(length, 'N');
    uint32_t n = static_cast<uint32_t>(length);
    TROBinaryMemoryStream stream(Hex("01") + std::string(reinterpret_cast<char*>(&n), 4) + name);
    std::unique_ptr<TTestStruct> value;
    TROStreamSerializer(&stream).Read("Value", value);
  };
  EXPECT_THAT(
      [&] { read_named(257); },
      ThrowsMessage<EROException>(StrEq("Stream read error: Invalid string length \"257\"")));
  EXPECT_THAT([&] { read_named(256); },
              ThrowsMessage<EROException>(testing::StartsWith("Unknown class \"NNN")));
}

TEST(EnvelopeStringTest, LengthPrefixedStrings) {
  TROBinaryMemoryStream stream;
  WriteUtf8LengthPrefixedString(stream, "caf\xE9");
  WriteLengthPrefixedString(stream, "caf\xE9");
  EXPECT_EQ(ToHex(stream.View()), "05 00 00 00 63 61 66 C3 A9 04 00 00 00 63 61 66 E9");
  stream.Rewind();
  EXPECT_EQ(ReadUtf8LengthPrefixedString(stream), "caf\xE9");
  EXPECT_EQ(ReadLengthPrefixedString(stream), "caf\xE9");

  TROBinaryMemoryStream euro(Hex("03 00 00 00 E2 82 AC 04 00 00 00 F0 9F 98 80"));
  EXPECT_EQ(ReadUtf8LengthPrefixedString(euro), "\x80");
  EXPECT_EQ(ReadUtf8LengthPrefixedString(euro), "?");  // not in the code page
}

TEST(EnvelopeStringTest, ReadFailures) {
  auto read = [](std::string_view hex, int max) {
    TROBinaryMemoryStream stream(Hex(hex));
    return ReadLengthPrefixedString(stream, max);
  };
  auto unexpected_end = ThrowsMessage<EROException>(StrEq("Unexpected end of stream."));
  EXPECT_THAT([&] { read("01 00 00", -1); }, unexpected_end);
  EXPECT_THAT([&] { read("03 00 00 00 61 62", -1); }, unexpected_end);
  EXPECT_THAT([&] { read("03 00 00 00 61 62 63", 2); },
              ThrowsMessage<EROException>(StrEq("Stream read error: Invalid string length \"3\"")));
  EXPECT_EQ(read("03 00 00 00 61 62 63", 3), "abc");
  EXPECT_EQ(read("F0 FF FF FF", 2), "");
}

TEST(EnvelopeStringTest, OptionalTrailingString) {
  struct Row {
    std::string hex;
    std::string expected;
    int64_t position_after;
  } rows[] = {
      {"02 00 00 00 61 62", "ab", 6}, {"02 00 00 00 61 62 63", "", 0},  // does not end at the end
      {"03 00 00 00 61 62", "", 0},                                     // runs past the end
      {"01 00 00 00", "", 0},                                           // not more than 4 bytes
      {"FF FF FF FF 61", "", 0},
  };
  for (const Row& row : rows) {
    TROBinaryMemoryStream stream(Hex(row.hex));
    EXPECT_EQ(ReadOptionalTrailingString(stream), row.expected) << row.hex;
    EXPECT_EQ(stream.Position(), row.position_after) << row.hex;
  }
}

}  // namespace
}  // namespace vantry
