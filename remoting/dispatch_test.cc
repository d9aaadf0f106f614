#include "remoting/dispatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "remoting/testing/loopback_test_util.h"
#include "remoting/server.h"
#include "remoting/service_description.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;
using testing::StrEq;
using testing::ThrowsMessage;
using namespace testing_util;

constexpr char kDocument[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Library Name=\"TestLibrary\">\r\n"
    "  <Services />\r\n</Library>\r\n";

class TestServer : public TROServer {
 public:
  TestServer() : TROServer("TTestServer") {}

 protected:
  void IntSetActive(bool active) override { active_ = active; }
  bool IntGetActive() const override { return active_; }

 private:
  bool active_ = false;
};

class TestTransport : public IROTransport {
 public:
  std::string GetClientAddress() const override { return "10.0.0.7"; }
};

class DispatchTest : public testing::Test {
 protected:
  DispatchTest() {
    server_.Dispatchers().Add("ROMessage").SetMessage(&message_);
    SetServiceDescription(kDocument);
  }
  ~DispatchTest() override { SetServiceDescription(""); }

  // The response to `request`; `result` receives DispatchRequest's result.
  std::string Dispatch(std::string_view request, bool* result = nullptr) {
    TROBinaryMemoryStream in(request);
    TROBinaryMemoryStream out;
    bool ok = server_.DispatchRequest(transport_, in, out);
    if (result != nullptr) *result = ok;
    EXPECT_EQ(0, out.Position());
    return out.ToString();
  }

  TestServices services_;
  TROBinMessage message_;
  TestServer server_;
  TestTransport transport_;
};

TEST_F(DispatchTest, ProbeIsAnsweredWhateverTheFiveBytes) {
  bool result = false;
  EXPECT_EQ("PROBEDOK", Dispatch("PROBE", &result));
  EXPECT_TRUE(result);
  EXPECT_EQ("PROBEDOK", Dispatch(std::string("\0\1\2\3\4", 5)));
}

TEST_F(DispatchTest, MetadataRequestsGetTheDocument) {
  bool result = false;
  std::string empty_answer = Dispatch("", &result);
  EXPECT_TRUE(result);
  EXPECT_THAT(empty_answer, StartsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"));
  EXPECT_THAT(empty_answer, HasSubstr("<Library Name=\"TestLibrary\">\r\n  <Services />\r\n"));
  EXPECT_EQ(empty_answer, Dispatch("abcd"));

  server_.serve_contract = false;
  EXPECT_EQ(empty_answer, Dispatch(""));
  ErrorParts error = DecodeError(Dispatch("abcd", &result));
  EXPECT_FALSE(result);
  EXPECT_EQ("EROException", error.class_name);
  EXPECT_EQ("Invalid request stream (4 bytes)", error.text);
}

TEST_F(DispatchTest, UnparsableDocumentIsSentAsStored) {
  constexpr char kBroken[] = "<Library><Unclosed></Library>\r\n";
  SetServiceDescription(kBroken);
  EXPECT_EQ(kBroken, Dispatch(""));
}

TEST_F(DispatchTest, MissingDocumentIsAnError) {
  SetServiceDescription("");
  ErrorParts error = DecodeError(Dispatch(""));
  EXPECT_EQ("EResNotFound", error.class_name);
  EXPECT_EQ("Resource CONTRACTFILE not found", error.text);
}

TEST_F(DispatchTest, CallIsAnsweredWithResponseAndEchoedClientId) {
  bool result = false;
  std::string response = Dispatch(RequestBytes("testservice", "eCHO", {"hello"}), &result);
  EXPECT_TRUE(result);
  std::string id_bytes(16, '\0');
  auto id = GuidToBytes(TestClientId());
  std::copy(id.begin(), id.end(), id_bytes.begin());
  std::string expected = std::string("RO107\0\0\0\0\0\0\0", 12) + id_bytes +
                         LengthPrefixed("TestService") + LengthPrefixed("EchoResponse") +
                         LengthPrefixed("hello");
  EXPECT_EQ(expected, response);
  EXPECT_EQ(0, TTestService::live);
}

TEST_F(DispatchTest, EveryCallIsRecordedWithItsOutcomeAndNothingElseIs) {
  std::vector<std::pair<std::string, std::string>> calls;
  server_.Dispatchers()[0].on_call = [&](const TROCallRecord& call) {
    EXPECT_GE(call.seconds, 0);
    calls.emplace_back(call.operation, call.outcome);
  };
  Dispatch(RequestBytes("TestService", "Echo", {"x"}));
  Dispatch(RequestBytes("TestService", "Unknown"));
  Dispatch("12345");   // a probe
  Dispatch("");        // metadata
  Dispatch("PROBE!");  // does not parse
  EXPECT_THAT(calls, ElementsAre(std::pair<std::string, std::string>("Echo", "ok"),
                                 std::pair<std::string, std::string>("Unknown", "EROException")));
}

TEST_F(DispatchTest, EmptyClientIdIsReplaced) {
  std::string response = Dispatch(RequestBytes("TestService", "Echo", {"x"}, Guid{}));
  ASSERT_GE(response.size(), 28u);
  Guid answered = GuidFromBytes(reinterpret_cast<const uint8_t*>(response.data()) + 12);
  EXPECT_FALSE(answered.IsNull());
  EXPECT_NE(answered, TestClientId());
}

TEST_F(DispatchTest, PollIsAnsweredWithNoMessages) {
  TROBinMessage poll;
  poll.SetClientID(TestClientId());
  poll.Initialize(nullptr, "", "", TMessageKind::kPoll);
  poll.Write("Value", int32_t{7});
  TROBinaryMemoryStream request;
  poll.WriteToStream(request);
  // A poll request's type byte is 0x80; the writer derives it from the kind.
  ASSERT_EQ(0x80, static_cast<uint8_t>(request.ToString()[6]));

  std::string response = Dispatch(request.ToString());
  auto id = GuidToBytes(TestClientId());
  std::string expected = std::string("RO107\0\x81\0\0\0\0\0", 12) +
                         std::string(id.begin(), id.end()) + std::string(8, '\0');
  EXPECT_EQ(expected, response);
}

TEST_F(DispatchTest, PollWithoutClientIdIsRefused) {
  std::string request =
      std::string("RO107\0\x80\0\0\0\0\0", 12) + std::string(16, '\0') + std::string("\7\0\0\0", 4);
  ErrorParts error = DecodeError(Dispatch(request));
  EXPECT_EQ("EROServerException", error.class_name);
  EXPECT_EQ("Poll messages may not be sent with empty Client ID.", error.text);
}

TEST_F(DispatchTest, EveryRequestErrorBecomesAnErrorMessage) {
  struct Row {
    std::string request;
    const char* class_name;
    std::string text;
  };
  const std::string header = std::string("RO107\0\0\0\0\0\0\0", 12) + std::string(16, '\1');
  const Row rows[] = {
      {"PROBE!", "EReadError", "Stream read error"},
      {RequestBytes("Nothing", "Echo"), "EROException",
       "Class factory for interface Nothing not found"},
      {RequestBytes("TestService", "Unknown"), "EROException",
       "Unknown method Unknown for interface TestService"},
      {RequestBytes("", "Echo"), "EROException", "The message does not have an interface name"},
      {RequestBytes("TestService", ""), "EROException", "The message does not have a name"},
      {RequestBytes("AbstractService", "Echo"), "EROException",
       "Interface \"AbstractService\" is declared as an abstract service."},
      {RequestBytes("noinstanceservice", "Echo"), "EROException",
       "Class factory did not return an instance of \"noinstanceservice\""},
      {RequestBytes("BareService", "Echo", {"x"}), "EIntfCastError", "Interface not supported"},
      {RequestBytes("TestService", "Echo"), "EROException",
       "Error reading parameter Text: Stream read error"},
      {RequestBytes("TestService", "RegisterEventClient", {"id", "types"}), "EIntfCastError",
       "Interface not supported"},
      {RequestBytes("TestService", "GetEventsData", {"id"}), "EIntfCastError",
       "Interface not supported"},
      {RequestBytes("TestService", "Fail"), "EConvertError", "'x' is not a valid integer value"},
      {"XXXXXXXXXXXXXXXXXXXXXXXXXXXXXX", "EROInvalidStream",
       "Invalid binary header. Either incompatible or not a binary message.\r\r"
       "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXX"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    bool result = true;
    ErrorParts error = DecodeError(Dispatch(row.request, &result));
    EXPECT_FALSE(result);
    EXPECT_EQ(row.class_name, error.class_name);
    EXPECT_EQ(row.text, error.text);
  }
  EXPECT_EQ(0, TTestService::live);
}

TEST_F(DispatchTest, ErrorMessageSentByCallerComesBackRecreated) {
  TROBinMessage sender;
  sender.SetClientID(TestClientId());
  TROBinaryMemoryStream request;
  sender.WriteException(request, EROSendNoResponse("stop"));
  ErrorParts error = DecodeError(Dispatch(request.ToString()));
  EXPECT_EQ("EROSendNoResponse", error.class_name);
  EXPECT_EQ("An exception was raised on the server: stop", error.text);
}

TEST_F(DispatchTest, ErrorMessageCarriesRequestClientId) {
  std::string response = Dispatch(RequestBytes("TestService", "Unknown"));
  ASSERT_GE(response.size(), 28u);
  EXPECT_EQ(TestClientId(), GuidFromBytes(reinterpret_cast<const uint8_t*>(response.data()) + 12));
}

// A message format whose writing fails halfway through the response.
class HalfWritingMessage : public TROBinMessage {
 public:
  std::shared_ptr<TROMessage> Clone() const override {
    return std::make_shared<HalfWritingMessage>();
  }
  void WriteToStream(TROBinaryMemoryStream& dest) override {
    dest.Write(std::string_view("RO107 half a response"));
    throw EROException("disk full");
  }
};

TEST_F(DispatchTest, HalfWrittenResponseIsDroppedBeforeTheError) {
  HalfWritingMessage message;
  TestServer server;
  server.Dispatchers().Add().SetMessage(&message);
  TROBinaryMemoryStream in(RequestBytes("TestService", "Echo", {"x"}));
  TROBinaryMemoryStream out;
  EXPECT_FALSE(server.DispatchRequest(transport_, in, out));
  ErrorParts error = DecodeError(out.ToString());
  EXPECT_EQ("disk full", error.text);
}

TEST_F(DispatchTest, ErrorsAroundTheDispatcherAreAnsweredAsBareText) {
  server_.Dispatchers()[0].SetEnabled(false);
  bool result = true;
  EXPECT_EQ(
      "Cannot find message dispatcher. Maybe there is no message component configured for the "
      "requested path?",
      Dispatch("PROBE", &result));
  EXPECT_FALSE(result);

  server_.Dispatchers()[0].SetEnabled(true);
  server_.on_read_from_stream = [](TROBinaryMemoryStream&) { throw Exception(""); };
  EXPECT_EQ("Unhandled exception", Dispatch("PROBE"));
}

TEST_F(DispatchTest, StreamHooksSeeBuffersAtPositionZero) {
  std::string seen_request;
  std::string seen_response;
  server_.on_read_from_stream = [&](TROBinaryMemoryStream& s) {
    EXPECT_EQ(0, s.Position());
    seen_request = s.ToString();
  };
  server_.on_write_to_stream = [&](TROBinaryMemoryStream& s) {
    EXPECT_EQ(0, s.Position());
    seen_response = s.ToString();
  };
  Dispatch("PROBE");
  EXPECT_EQ("PROBE", seen_request);
  EXPECT_EQ("PROBEDOK", seen_response);
}

TEST_F(DispatchTest, SecondDispatcherIsRefused) {
  EXPECT_THAT(
      [&] { server_.Dispatchers().Add("Second"); },
      ThrowsMessage<EROException>(StrEq("TTestServer servers only support one dispatcher")));
  EXPECT_EQ(1u, server_.Dispatchers().Count());
}

TEST_F(DispatchTest, DispatcherWithoutMessageAnswersWithBareText) {
  TestServer server;
  server.Dispatchers().Add();
  TROBinaryMemoryStream in("PROBE");
  TROBinaryMemoryStream out;
  EXPECT_FALSE(server.DispatchRequest(transport_, in, out));
  EXPECT_EQ("Message is NIL", out.ToString());
}

TEST(HandlerNameTest, BytesMayDifferInBitFiveOnly) {
  struct Row {
    const char* a;
    const char* b;
    bool same;
  };
  const Row rows[] = {
      {"Invoke_CopyFile", "invoke_copyfile", true},
      {"Invoke_CopyFile", "INVOKE_COPYFILE", true},
      {"Invoke_CopyFile", "Invoke_CopyFil", false},
      {"Invoke_A", "Invoke_B", false},
      {"Invoke_@", "Invoke_`", true},
      {"Invoke_1", "Invoke_\x11", true},
  };
  for (const Row& row : rows) EXPECT_EQ(row.same, SameHandlerName(row.a, row.b)) << row.b;
}

TEST(ClassFactoryTest, LookupIgnoresCaseAndFallsBackToAlternativeNames) {
  TestServices services;
  services.bare->alternative_names = {"Discovery"};
  EXPECT_EQ(services.test.get(), &LookupClassFactory("TESTSERVICE"));
  EXPECT_EQ(services.bare.get(), &LookupClassFactory("discovery"));
  EXPECT_THAT([] { LookupClassFactory("Gone"); },
              ThrowsMessage<EROException>(StrEq("Class factory for interface Gone not found")));
  EXPECT_EQ(&services.test->GetInvoker(), &services.test->GetInvoker());
}

TEST(ObjectDisposerTest, FreesAllButRetainedObjects) {
  struct Counted {
    explicit Counted(int* f) : freed(f) {}
    ~Counted() { ++*freed; }
    int* freed;
  };
  int freed = 0;
  TRORemotable instance;
  auto kept = std::make_unique<Counted>(&freed);
  Counted* kept_raw = kept.get();
  {
    TROObjectDisposer disposer(&instance);
    auto a = std::make_unique<Counted>(&freed);
    std::unique_ptr<Counted> none;
    instance.RetainObject(kept_raw);
    disposer.Add(a);
    disposer.Add(none);
    disposer.Add(kept);
  }
  EXPECT_EQ(1, freed);
  EXPECT_TRUE(instance.IsRetained(kept_raw));
  instance.ReleaseObject(kept_raw);
  EXPECT_FALSE(instance.IsRetained(kept_raw));
  delete kept_raw;
}

}  // namespace
}  // namespace vantry
