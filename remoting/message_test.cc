#include "remoting/message.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "remoting/message_format.h"
#include "remoting/testing/test_util.h"
#include "remoting/zlib_codec.h"

namespace vantry {
namespace {

using testing::EndsWith;
using testing::StartsWith;
using testing::StrEq;
using testing::ThrowsMessage;
using testing_util::Hex;
using testing_util::ToHex;

VANTRY_EXCEPTION(ETestServiceError, EROException);

const Guid kClientId = StringToGuid("{00112233-4455-6677-8899-AABBCCDDEEFF}");
const char kClientIdHex[] = "33 22 11 00 55 44 77 66 88 99 AA BB CC DD EE FF";

std::string Header(std::string_view flags_and_type) {
  return Hex(std::string("52 4F 31 30 37 ") + std::string(flags_and_type) + " 00 00 00 00 00 " +
             kClientIdHex);
}

// A name string: 4-byte length and the bytes.
std::string Name(std::string_view text) {
  uint32_t n = static_cast<uint32_t>(text.size());
  return std::string(reinterpret_cast<const char*>(&n), 4) + std::string(text);
}

class MessageTest : public testing::Test {
 protected:
  MessageTest() { message_.SetClientID(kClientId); }

  // The bytes of the message as written now.
  std::string Written() {
    TROBinaryMemoryStream out;
    message_.WriteToStream(out);
    EXPECT_EQ(out.Position(), 0);
    return out.ToString();
  }

  void ReadBytes(std::string_view bytes) {
    TROBinaryMemoryStream in(bytes);
    reader_.ReadFromStream(in);
  }

  TROBinMessage message_;
  TROBinMessage reader_;
};

TEST_F(MessageTest, WritesHeaderNamesAndValues) {
  message_.InitializeRequestMessage(nullptr, "VantryLibrary", "VantryService", "GetFileSize");
  message_.Write("FileName", std::string("C:\\x"));
  EXPECT_EQ(ToHex(Written()),
            ToHex(Header("00 00") + Name("VantryService") + Name("GetFileSize") + Name("C:\\x")));

  struct Row {
    TMessageKind kind;
    std::string expected;
  } rows[] = {
      {TMessageKind::kResponse, Header("00 00") + Name("I") + Name("M")},
      {TMessageKind::kEvent, Header("00 02") + Name("I") + Name("M")},
      {TMessageKind::kPoll, Header("00 80")},
      {TMessageKind::kPollResponse, Header("00 81")},
  };
  for (const Row& row : rows) {
    message_.Initialize(nullptr, "I", "M", row.kind);
    EXPECT_EQ(ToHex(Written()), ToHex(row.expected));
  }
}

TEST_F(MessageTest, ReadsWhatWasWritten) {
  message_.InitializeResponseMessage(nullptr, "VantryLibrary", "VantryService", "CopyFileResponse");
  message_.Write("Result", int64_t{1} << 40);
  reader_.Initialize(nullptr, "x", "y", TMessageKind::kPoll);
  ReadBytes(Written());
  EXPECT_EQ(reader_.GetMessageKind(), TMessageKind::kRequest);  // type 0 reads as request
  EXPECT_EQ(reader_.GetInterfaceName(), "VantryService");
  EXPECT_EQ(reader_.GetMessageName(), "CopyFileResponse");
  EXPECT_EQ(reader_.GetClientID(), kClientId);
  int64_t result = 0;
  reader_.Read("Result", result);
  EXPECT_EQ(result, int64_t{1} << 40);
}

TEST_F(MessageTest, IgnoresOtherFlagBitsAndReservedBytes) {
  std::string bytes = Header("FE 02") + Name("I") + Name("M");
  std::fill(bytes.begin() + 7, bytes.begin() + 12, '\x5A');
  ReadBytes(bytes);
  EXPECT_EQ(reader_.GetMessageName(), "M");
}

TEST_F(MessageTest, ClientIdIsRandomAndReplacedByEveryRead) {
  TROBinMessage a, b;
  EXPECT_FALSE(a.GetClientID().IsNull());
  EXPECT_NE(a.GetClientID(), b.GetClientID());
  std::string bytes =
      Hex("52 4F 31 30 37 00 00 00 00 00 00 00") + std::string(16, '\0') + Name("I") + Name("M");
  ReadBytes(bytes);
  EXPECT_TRUE(reader_.GetClientID().IsNull());
}

TEST_F(MessageTest, HeaderErrors) {
  auto read = [this](std::string bytes) { return [this, bytes] { ReadBytes(bytes); }; };
  EXPECT_THAT(read(Header("00 00").substr(0, 27)),
              ThrowsMessage<EReadError>(StrEq("Stream read error")));
  EXPECT_THAT(read(Header("00 00")),
              ThrowsMessage<EROException>(StrEq("Unexpected end of stream.")));
  EXPECT_THAT(
      read(Header("00 00") + Name(std::string(257, 'i')) + Name("M")),
      ThrowsMessage<EROException>(StrEq("Stream read error: Invalid string length \"257\"")));
  ReadBytes(Header("00 00") + Name(std::string(256, 'i')) + Name("M"));
  EXPECT_EQ(reader_.GetInterfaceName().size(), 256u);

  std::string garbage = "roroc\x01\x02\r\n x\x7F\x80" + std::string(20, 'z');
  EXPECT_THAT(read(garbage),
              ThrowsMessage<EROInvalidStream>(StrEq(
                  "Invalid binary header. It seems that encryption is active on the other side of "
                  "the communication, but not locally?\r\rroroc..\r. x\x7F." +
                  std::string(20, 'z'))));
  std::string long_garbage = "RO106" + std::string(600, 'q');
  EXPECT_THAT(read(long_garbage),
              ThrowsMessage<EROInvalidStream>(
                  StrEq("Invalid binary header. Either incompatible or not a binary message.\r\r" +
                        long_garbage.substr(0, 500))));
  EXPECT_THAT(read("ROENV\x03"
                   "abc" +
                   Header("00 00")),
              ThrowsMessage<EROException>(StrEq("abc envelope isn't found")));
  // A marker longer than what follows is no envelope: the header check reports it.
  EXPECT_THAT(read("ROENV\x7F"
                   "abc" +
                   std::string(30, 'x')),
              ThrowsMessage<EROInvalidStream>(StartsWith("Invalid binary header. Either")));
}

TEST_F(MessageTest, CompressesBodiesFromMinSize) {
  auto body_of_size = [this](size_t size) {
    // names "I", "M": 10 bytes; an AnsiString of n bytes: 4 + n.
    message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
    message_.Write("Text", std::string(size - 14, 'a'));
    return Written();
  };
  std::string plain = body_of_size(4095);
  EXPECT_EQ(plain.size(), 28u + 4095);
  EXPECT_EQ(plain[5], 0);
  std::string packed = body_of_size(4096);
  EXPECT_EQ(packed[5], 1);
  EXPECT_LT(packed.size(), 200u);
  EXPECT_EQ(ToHex(packed.substr(28, 2)), "78 9C");  // zlib header, default level, window 15

  ReadBytes(packed);
  std::string text;
  reader_.Read("Text", text);
  EXPECT_EQ(text, std::string(4082, 'a'));

  message_.SetUseCompression(false);
  EXPECT_EQ(body_of_size(100000)[5], 0);
  reader_.SetUseCompression(false);
  ReadBytes(packed);  // still reads compressed messages
  EXPECT_EQ(reader_.GetMessageName(), "M");
}

TEST_F(MessageTest, CorruptCompressedBodies) {
  EXPECT_THAT([&] { ReadBytes(Header("01 00") + "garbage!"); },
              ThrowsMessage<EZDecompressionError>(StrEq("Data error")));
  // A stream cut short yields what it held; here not even the names.
  message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
  message_.Write("Text", std::string(5000, 'b'));
  std::string packed = Written();
  EXPECT_THAT([&] { ReadBytes(packed.substr(0, 30)); },
              ThrowsMessage<EROException>(StrEq("Unexpected end of stream.")));
}

TEST(ZlibCodecTest, InflatingIsBounded) {
  TROBinaryMemoryStream packed;
  ZlibCompress(std::string(100000, 'z'), packed);
  TROBinaryMemoryStream out;
  EXPECT_THAT([&] { ZlibDecompress(packed.View(), out, 65536); },
              ThrowsMessage<EZDecompressionError>(StrEq("Insufficient memory")));
  out.Clear();
  ZlibDecompress(std::string(packed.View()) + "trailing", out, 100000);
  EXPECT_EQ(out.ToString(), std::string(100000, 'z'));
  EXPECT_STREQ(ZlibResultText(2), "Need dictionary");
  EXPECT_STREQ(ZlibResultText(-6), "Incompatible version");
}

TEST_F(MessageTest, PollMessages) {
  ReadBytes(Header("00 80") + Hex("2A 00 00 00"));
  EXPECT_EQ(reader_.GetMessageKind(), TMessageKind::kPoll);
  EXPECT_EQ(reader_.PollValue(), 42);
  ReadBytes(Header("00 80") + Hex("2B 00"));  // too short: no error, value kept
  EXPECT_EQ(reader_.PollValue(), 42);
  reader_.Initialize(nullptr, "I", "M", TMessageKind::kResponse);
  ReadBytes(Header("00 81") + Name("X"));
  EXPECT_EQ(reader_.GetMessageKind(), TMessageKind::kResponse);  // kept
  ReadBytes(Header("00 33"));
  EXPECT_EQ(reader_.GetMessageKind(), TMessageKind::kResponse);
}

TEST_F(MessageTest, ReadErrorsNameTheParameter) {
  message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
  message_.Write("Count", int32_t{1});
  ReadBytes(Written() + Hex("01 09 00 00 00 61"));
  int32_t count = 0;
  reader_.Read("Count", count);
  auto chunk = std::make_unique<TROBinaryMemoryStream>("old");
  EXPECT_THAT(
      [&] { reader_.Read("DataChunk", chunk); },
      ThrowsMessage<EROException>(StrEq("Error reading parameter DataChunk: Stream read error")));
  EXPECT_EQ(chunk, nullptr);
  EXPECT_EQ(count, 1);
}

TEST_F(MessageTest, WritesErrorMessages) {
  TROBinaryMemoryStream out;
  out.Write(std::string(100, '-'));
  message_.WriteException(out, EROException("caf\xE9"));
  // Written from position 0, left after the last byte written.
  EXPECT_EQ(out.Position(), 28 + 16 + 8);
  EXPECT_EQ(out.Size(), 100);
  EXPECT_EQ(ToHex(out.View().substr(0, out.Position())),
            ToHex(Header("00 01") + Name("EROException") + Name("caf\xE9")));
}

class ErrorMessageTest : public MessageTest {
 protected:
  static void SetUpTestSuite() { RegisterExceptionClass(ExceptionClassOf<ETestServiceError>()); }

  // Reads an error message naming `class_name` with `text` (and `extra` bytes after them).
  void ReadError(std::string_view class_name, std::string_view text, std::string extra = "") {
    ReadBytes(Header("00 01") + Name(class_name) + Name(text) + extra);
  }
};

TEST_F(ErrorMessageTest, RecreatesRegisteredClassesInAnyLetterCase) {
  EXPECT_THAT(
      [&] { ReadError("etestserviceERROR", "disk full"); },
      ThrowsMessage<ETestServiceError>(StrEq("An exception was raised on the server: disk full")));
  EXPECT_EQ(reader_.GetMessageKind(), TMessageKind::kException);
  EXPECT_THAT([&] { ReadError("EROSessionExpired", "x"); },
              ThrowsMessage<EROSessionExpired>(StrEq("An exception was raised on the server: x")));
}

TEST_F(ErrorMessageTest, UnknownClassesBecomeUnregisteredServerExceptions) {
  EXPECT_THAT([&] { ReadError("EFOpenError", "Cannot open file \"a\". \xE9%s"); },
              ThrowsMessage<EROUnregisteredServerException>(
                  StrEq("An exception was raised on the server: Cannot open file \"a\". \xE9%s")));
  reader_.SetAddServerExceptionPrefix(false);
  EXPECT_THAT([&] { ReadError("Exception", "plain"); },
              ThrowsMessage<EROUnregisteredServerException>(StrEq("plain")));
}

TEST_F(ErrorMessageTest, TrailingStringBecomesTheServerText) {
  try {
    ReadError("ENope", "t", Name("caf\xC3\xA9"));
    FAIL();
  } catch (const EROUnregisteredServerException& e) {
    EXPECT_EQ(e.ServerExceptionText(), "caf\xE9");
  }
  try {
    ReadError("ENope", "t", Name("caf\xC3\xA9") + "x");  // does not end at the end
    FAIL();
  } catch (const EROUnregisteredServerException& e) {
    EXPECT_EQ(e.ServerExceptionText(), "");
  }
}

TEST_F(ErrorMessageTest, ErrorMessagesRoundTrip) {
  TROBinaryMemoryStream out;
  message_.WriteException(out, ETestServiceError(std::string(70000, 'e')));
  out.SetSize(out.Position());
  EXPECT_EQ(out.Data()[5], 1);  // compressed like any large body
  EXPECT_THAT(
      [&] { ReadBytes(out.ToString()); },
      ThrowsMessage<EROException>(StrEq("Stream read error: Invalid string length \"70000\"")));

  out.Clear();
  message_.WriteException(out, EOSError(5, "Access is denied"));
  EXPECT_THAT([&] { ReadBytes(out.ToString()); },
              ThrowsMessage<EROUnregisteredServerException>(
                  StrEq("An exception was raised on the server: Access is denied")));
}

TEST(ExceptionRegistryTest, FindsInRegistrationOrderIgnoringCase) {
  EXPECT_STREQ(FindExceptionClass("erounknowntype").name, "EROUnknownType");
  EXPECT_STREQ(FindExceptionClass("SESSIONNOTFOUNDEXCEPTION").name, "SessionNotFoundException");
  EXPECT_STREQ(FindExceptionClass("EROChannelBusy").name, "EROUnregisteredServerException");
  EXPECT_STREQ(FindExceptionClass("").name, "EROUnregisteredServerException");
  auto error = FindExceptionClass("EROSendNoResponse").create("m");
  EXPECT_NE(dynamic_cast<EROSendNoResponse*>(error.get()), nullptr);
}

TEST_F(MessageTest, CloneCopiesSettingsNotContent) {
  message_.SetUseCompression(false);
  message_.SetMinSizeForCompression(10);
  message_.SetAddServerExceptionPrefix(false);
  message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
  std::shared_ptr<TROMessage> clone = message_.Clone();
  EXPECT_NE(dynamic_cast<TROBinMessage*>(clone.get()), nullptr);
  EXPECT_FALSE(clone->UseCompression());
  EXPECT_EQ(clone->MinSizeForCompression(), 10);
  EXPECT_FALSE(clone->AddServerExceptionPrefix());
  EXPECT_NE(clone->GetClientID(), message_.GetClientID());
  EXPECT_EQ(clone->GetInterfaceName(), "");
  EXPECT_EQ(clone->Body(), nullptr);
}

TEST_F(MessageTest, OwnershipVariantTakesTheBufferOnlyOnSuccess) {
  message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
  message_.Write("Value", int32_t{7});
  auto source = std::make_unique<TROBinaryMemoryStream>(Written());
  const TROBinaryMemoryStream* raw = source.get();
  EXPECT_FALSE(reader_.ReadFromStream(source));
  EXPECT_EQ(source, nullptr);
  EXPECT_EQ(reader_.Body(), raw);  // used in place, not copied
  int32_t value = 0;
  reader_.Read("Value", value);
  EXPECT_EQ(value, 7);

  auto bad = std::make_unique<TROBinaryMemoryStream>(Header("00 00"));
  EXPECT_THROW(reader_.ReadFromStream(bad), EROException);
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(bad->Size(), 28);

  auto error = std::make_unique<TROBinaryMemoryStream>(Header("00 01") + Name("E") + Name("t"));
  EXPECT_THROW(reader_.ReadFromStream(error), EROUnregisteredServerException);
  EXPECT_NE(error, nullptr);
}

TEST_F(MessageTest, FreeStreamReleasesTheBody) {
  message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
  ASSERT_NE(message_.Body(), nullptr);
  message_.FreeStream();
  EXPECT_EQ(message_.Body(), nullptr);
  int32_t value;
  EXPECT_THAT(
      [&] { message_.Read("Value", value); },
      ThrowsMessage<EROException>(StrEq("Error reading parameter Value: Stream read error")));
}

// Large Binary values travel without a copy: lent from the caller's buffer when written, and
// taking the body's buffer over when they end it. The bytes must be those of a plain copy.
class LargeBinaryTest : public MessageTest {
 protected:
  static constexpr size_t kLarge = TROStreamSerializer::kMinMovedBinarySize;

  // The whole message as sent in parts (head, body, lent) and as written in one piece.
  std::pair<std::string, std::string> BothWays() {
    TROBinaryMemoryStream head;
    TROMessageBodyParts parts = message_.WriteToStreamParts(head);
    std::string sent = head.ToString() + std::string(parts.body) + std::string(parts.lent);
    return {sent, Written()};
  }

  std::unique_ptr<TROBinaryMemoryStream> chunk_ =
      std::make_unique<TROBinaryMemoryStream>(std::string(kLarge + 5, 'c'));
};

TEST_F(LargeBinaryTest, LentBytesGoOutAsTheirOwnPartInTheirPlace) {
  std::string plain;
  for (bool lend : {false, true}) {
    message_.SetUseCompression(false);
    message_.SetLendBinaries(lend);
    message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
    message_.Write("Name", std::string("n"));
    message_.Write("Data", chunk_);
    TROBinaryMemoryStream head;
    TROMessageBodyParts parts = message_.WriteToStreamParts(head);
    if (lend) {
      EXPECT_EQ(parts.lent.data(), chunk_->Data());  // sent from the caller's buffer
      EXPECT_EQ(parts.lent.size(), chunk_->View().size());
    } else {
      EXPECT_TRUE(parts.lent.empty());
      plain = head.ToString() + std::string(parts.body);
    }
    EXPECT_EQ(head.ToString() + std::string(parts.body) + std::string(parts.lent), plain);
  }
}

TEST_F(LargeBinaryTest, LentBytesAreSettledBeforeAnythingElseTouchesTheBody) {
  auto write = [&](bool lend, bool compress, bool more) {
    message_.SetUseCompression(compress);
    message_.SetLendBinaries(lend);
    message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
    message_.Write("Data", chunk_);
    if (more) message_.Write("After", int32_t{9});  // after the lent bytes, not before them
  };
  for (bool compress : {false, true}) {
    for (bool more : {false, true}) {
      write(false, compress, more);
      std::string plain = Written();
      write(true, compress, more);
      auto [sent, joined] = BothWays();
      EXPECT_EQ(sent, plain) << compress << more;
      EXPECT_EQ(joined, plain) << compress << more;
    }
  }
  // Whoever looks at the body sees the lent bytes in it.
  write(true, false, false);
  EXPECT_EQ(message_.Body()->Size(), int64_t(4 + 1 + 4 + 1 + 1 + 4 + chunk_->View().size()));
  TROBinaryMemoryStream parts_head;
  EXPECT_TRUE(message_.WriteToStreamParts(parts_head).lent.empty());
  // A message started anew forgets bytes lent to the one before.
  write(true, false, false);
  message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
  TROBinaryMemoryStream head;
  EXPECT_TRUE(message_.WriteToStreamParts(head).lent.empty());
}

TEST_F(LargeBinaryTest, TrailingBinaryTakesTheBodyBufferOver) {
  for (bool last : {true, false}) {
    message_.SetUseCompression(false);
    message_.Initialize(nullptr, "I", "M", TMessageKind::kRequest);
    message_.Write("Data", chunk_);
    if (!last) message_.Write("After", int32_t{9});
    auto source = std::make_unique<TROBinaryMemoryStream>(Written());
    const char* begin = source->Data();
    const char* end = begin + source->Size();
    reader_.ReadFromStream(source);
    std::unique_ptr<TROBinaryMemoryStream> data;
    reader_.Read("Data", data);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->ToString(), chunk_->ToString());
    EXPECT_EQ(data->Position(), 0);
    bool in_place = data->Data() >= begin && data->Data() < end;
    EXPECT_EQ(in_place, last);
    if (!last) {
      int32_t after = 0;
      reader_.Read("After", after);
      EXPECT_EQ(after, 9);
    }
    data->SetPosition(data->Size());
    data->Write("more", 4);  // the adopted buffer is the Binary's own to grow
    EXPECT_EQ(data->ToString(), chunk_->ToString() + "more");
  }
}

TEST(BinaryStreamTest, TakeRestMovesTheBytesAfterThePosition) {
  TROBinaryMemoryStream whole(std::string_view("headerpayload"));
  whole.SetPosition(6);
  const char* payload = whole.Data() + 6;
  TROBinaryMemoryStream rest = whole.TakeRest();
  EXPECT_EQ(rest.ToString(), "payload");
  EXPECT_EQ(rest.Data(), payload);
  EXPECT_EQ(rest.Position(), 0);
  EXPECT_EQ(whole.Size(), 0);
  rest.SetPosition(rest.Size());
  rest.Write(std::string(1000, 'x'));  // grows into a new block, content kept
  EXPECT_EQ(rest.ToString().substr(0, 8), "payloadx");
  TROBinaryMemoryStream moved(std::move(rest));
  EXPECT_EQ(moved.Size(), 1007);
  whole.SetPosition(50);  // beyond the end: nothing to take
  EXPECT_EQ(whole.TakeRest().Size(), 0);
}

}  // namespace
}  // namespace vantry
