#include "remoting/tcp_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "remoting/testing/loopback_test_util.h"
#include "remoting/service_description.h"

namespace vantry {
namespace {

using testing::HasSubstr;
using testing::StrEq;
using testing::ThrowsMessage;
using namespace testing_util;

constexpr char kDocument[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Library />\r\n";

class TCPServerTest : public testing::Test {
 protected:
  TCPServerTest() { SetServiceDescription(kDocument); }
  ~TCPServerTest() override { SetServiceDescription(""); }

  // Sends `bytes` on a new connection and returns all the server sends until it closes.
  std::string Exchange(std::string_view bytes) {
    Socket client = loopback_.Connect();
    SendAll(client, bytes);
    return ReceiveAll(client);
  }

  // The payload of the single frame in `bytes`.
  static std::string Payload(const std::string& bytes) {
    EXPECT_GE(bytes.size(), 4u);
    if (bytes.size() < 4) return "";
    uint32_t n = (uint32_t{uint8_t(bytes[0])} << 24) | (uint32_t{uint8_t(bytes[1])} << 16) |
                 (uint32_t{uint8_t(bytes[2])} << 8) | uint8_t(bytes[3]);
    EXPECT_EQ(n + 4, bytes.size());
    return bytes.substr(4);
  }

  TROTCPServer& server() { return loopback_.server(); }

  LoopbackServer loopback_;
};

TEST_F(TCPServerTest, ProbeIsAnsweredByteForByte) {
  loopback_.Start();
  EXPECT_EQ(std::string("\0\0\0\x08PROBEDOK", 12), Exchange(Frame("PROBE")));
}

TEST_F(TCPServerTest, RequestInSingleByteSegmentsIsOneFrame) {
  loopback_.Start();
  Socket client = loopback_.Connect();
  SendBytewise(client, Frame(RequestBytes("TestService", "Echo", {"split"})));
  std::string response = Payload(ReceiveAll(client));
  EXPECT_THAT(response, HasSubstr(LengthPrefixed("EchoResponse") + LengthPrefixed("split")));
}

TEST_F(TCPServerTest, ZeroAndNegativeLengthsAreMetadataRequests) {
  loopback_.Start();
  std::string document = Payload(Exchange(Frame("")));
  EXPECT_THAT(document, HasSubstr("<Library />"));
  // The bytes after a negative length are not consumed by that request and never answered.
  EXPECT_EQ(Frame(document), Exchange(std::string("\x80\0\0\0", 4) + Frame("PROBE")));
}

TEST_F(TCPServerTest, SecondRequestOnAConnectionIsNotAnswered) {
  loopback_.Start();
  EXPECT_EQ(Frame("PROBEDOK"), Exchange(Frame("PROBE") + Frame("PROBE")));
}

TEST_F(TCPServerTest, KeepAliveAnswersEveryRequest) {
  server().SetKeepAlive(true);
  server().SetDisableNagle(true);
  loopback_.Start();
  Socket client = loopback_.Connect();
  SendAll(client, Frame("PROBE") + Frame("PROBE"));
  std::string expected = Frame("PROBEDOK") + Frame("PROBEDOK");
  std::string received;
  char buffer[64];
  while (received.size() < expected.size()) {
    size_t n = client.Receive(buffer, sizeof(buffer));
    ASSERT_GT(n, 0u);
    received.append(buffer, n);
  }
  EXPECT_EQ(expected, received);
}

TEST_F(TCPServerTest, TransportYieldsPeerAddress) {
  loopback_.Start();
  std::string response = Payload(Exchange(Frame(RequestBytes("TestService", "Peer"))));
  EXPECT_THAT(response, HasSubstr(LengthPrefixed("127.0.0.1")));
}

TEST_F(TCPServerTest, HookRefusalClosesWithoutAByte) {
  // Handed over through a promise: the closed socket orders the hook before the client's read
  // for the kernel, not for the memory model.
  std::promise<std::string> seen_address;
  server().on_connect = [&](TROTCPConnection& connection) {
    seen_address.set_value(connection.PeerAddress());
    connection.Close();
  };
  loopback_.Start();
  EXPECT_EQ("", Exchange(Frame("PROBE")));
  EXPECT_EQ("127.0.0.1", seen_address.get_future().get());
}

TEST_F(TCPServerTest, FailingHookClosesWithoutAByte) {
  server().on_connect = [](TROTCPConnection&) { throw Exception("refused"); };
  loopback_.Start();
  EXPECT_EQ("", Exchange(Frame("PROBE")));
}

TEST_F(TCPServerTest, IncompleteOrOversizedRequestIsNotAnswered) {
  loopback_.Start();
  {
    Socket client = loopback_.Connect();
    SendAll(client, std::string("\0\0\0\x20partial", 11));
    client.ShutdownSend();
    EXPECT_EQ("", ReceiveAll(client));
  }
  EXPECT_EQ("", Exchange("\x7F\xFF\xFF\xFF"));
}

TEST_F(TCPServerTest, LargeResponseArrivesWhole) {
  loopback_.Start();
  std::string text(3 << 20, 'v');
  for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 23);
  std::string response = Payload(Exchange(Frame(RequestBytes("TestService", "Echo", {text}))));
  TROBinMessage reader;
  TROBinaryMemoryStream stream(response);
  reader.ReadFromStream(stream);
  std::string echoed;
  reader.Read("Result", echoed);
  EXPECT_EQ(text, echoed);
}

TEST_F(TCPServerTest, PortReportsTheBoundPortWhileActive) {
  EXPECT_EQ(0, server().GetPort());
  loopback_.Start();
  EXPECT_GT(server().GetPort(), 0);
  server().SetActive(false);
  EXPECT_EQ(0, server().GetPort());
  TROTCPServer fresh;
  EXPECT_EQ(8090, fresh.GetPort());
}

TEST_F(TCPServerTest, ActivationEventsRunOnRealChangesOnly) {
  std::string events;
  server().on_before_server_activate = [&] { events += "A"; };
  server().on_after_server_activate = [&] { events += "a"; };
  server().on_before_server_deactivate = [&] { events += "D"; };
  server().on_after_server_deactivate = [&] { events += "d"; };
  server().SetActive(true);
  server().SetActive(true);
  server().SetActive(false);
  server().SetActive(false);
  EXPECT_EQ("AaDd", events);
}

TEST_F(TCPServerTest, PortInUseFailsAndLeavesServerInactive) {
  loopback_.Start();
  TROTCPServer second;
  second.SetBindAddress("127.0.0.1");
  second.SetPort(loopback_.Port());
  EXPECT_THAT([&] { second.SetActive(true); },
              ThrowsMessage<ECouldNotBindSocket>(
                  StrEq("Could not bind socket. Address and port are already in use.")));
  EXPECT_FALSE(second.Active());
  server().SetActive(false);
  second.SetActive(true);
  EXPECT_TRUE(second.Active());
}

TEST_F(TCPServerTest, ConnectionsBeyondTheAcceptingThreadsGetThreadsThatEndWithThem) {
  loopback_.Start();
  const size_t held = TROTCPServer::kAcceptingThreads + 4;
  std::vector<Socket> clients;
  for (size_t i = 0; i < held; ++i) {
    clients.push_back(loopback_.Connect());
    SendAll(clients.back(), std::string("\0\0", 2));  // half a length: its thread waits in a read
  }
  while (server().ConnectionCount() < held) std::this_thread::yield();
  // Every held connection has a thread, and one more still waits in accept().
  EXPECT_GT(server().ThreadCount(), held);
  EXPECT_EQ(std::string("\0\0\0\x08PROBEDOK", 12), Exchange(Frame("PROBE")));
  clients.clear();
  while (server().ConnectionCount() > 0) std::this_thread::yield();
  // The threads beyond those that wait in accept() end with their connections.
  while (server().ThreadCount() > TROTCPServer::kAcceptingThreads) std::this_thread::yield();
  EXPECT_EQ(std::string("\0\0\0\x08PROBEDOK", 12), Exchange(Frame("PROBE")));
  EXPECT_EQ(TROTCPServer::kAcceptingThreads, server().ThreadCount());
}

TEST_F(TCPServerTest, DeactivationEndsTheAcceptingThreadsAndActivationStartsThemAgain) {
  loopback_.Start();
  EXPECT_EQ(TROTCPServer::kAcceptingThreads, server().ThreadCount());
  server().SetActive(false);
  while (server().ThreadCount() > 0) std::this_thread::yield();
  loopback_.Start();
  EXPECT_EQ(std::string("\0\0\0\x08PROBEDOK", 12), Exchange(Frame("PROBE")));
}

TEST_F(TCPServerTest, DeactivationClosesWaitingConnections) {
  loopback_.Start();
  Socket client = loopback_.Connect();
  SendAll(client, std::string("\0\0", 2));  // half a length: the thread waits in a read
  while (server().ConnectionCount() == 0) std::this_thread::yield();
  server().SetActive(false);
  EXPECT_EQ(0u, server().ConnectionCount());
  EXPECT_EQ("", ReceiveAll(client));
}

TEST_F(TCPServerTest, DeactivationGivesUpOnALongDispatch) {
  Gate gate;
  TTestService_Invoker::gate = &gate;
  loopback_.Start();
  Socket client = loopback_.Connect();
  SendAll(client, Frame(RequestBytes("TestService", "Block")));
  gate.WaitForWaiter();
  EXPECT_THAT([&] { server().SetActive(false); },
              ThrowsMessage<ETerminateThreadTimeout>(StrEq("Terminate Thread Timeout")));
  EXPECT_FALSE(server().Active());
  gate.Open();
  // The dispatch ends and fails to write its response on the shut connection.
  EXPECT_EQ("", ReceiveAll(client));
  TTestService_Invoker::gate = nullptr;
}

}  // namespace
}  // namespace vantry
