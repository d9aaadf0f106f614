#include "remoting/tcp_channel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "remoting/testing/loopback_test_util.h"
#include "remoting/proxy.h"
#include "remoting/remote_service.h"

namespace vantry {
namespace {

using testing::HasSubstr;
using testing::StrEq;
using testing::ThrowsMessage;
using namespace testing_util;

constexpr char kTestInterfaceId[] = "{11112222-3333-4444-5555-666677778888}";

// The client side of TestService.
class TTestService_Proxy : public TROProxy, public ITestService {
 public:
  using TROProxy::TROProxy;
  static std::shared_ptr<TROProxy> Create(TRORemoteService& holder) {
    return std::make_shared<TTestService_Proxy>(holder);
  }

  std::string Echo(const std::string& text) override {
    std::string result;
    Call(
        "TestLibrary", "Echo", [&](IROMessage& m) { m.Write("Text", text); },
        [&](IROMessage& m) { m.Read("Result", result); });
    return result;
  }

 protected:
  const char* ProxyInterfaceName() const override { return "TestService"; }
};

// A port on which nothing listens.
int ClosedPort() {
  Socket probe = Socket::Create();
  probe.Bind("127.0.0.1", 0);
  return probe.LocalPort();
}

std::string Call(TROTCPChannel& channel, std::string_view request) {
  TROBinaryMemoryStream in(request);
  TROBinaryMemoryStream out;
  channel.DispatchStreams(in, out);
  EXPECT_EQ(0, out.Position());
  return out.ToString();
}

class TCPChannelTest : public testing::Test {
 protected:
  TCPChannelTest() {
    loopback_.server().on_connect = [this](TROTCPConnection&) { ++connections_; };
    loopback_.Start();
    channel_.SetPort(loopback_.Port());
  }

  LoopbackServer loopback_;
  std::atomic<int> connections_{0};
  TROTCPChannel channel_;
};

TEST_F(TCPChannelTest, EveryCallUsesAConnectionOfItsOwn) {
  EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
  EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
  EXPECT_EQ(2, connections_);
}

TEST_F(TCPChannelTest, KeepAliveReusesTheConnection) {
  loopback_.server().SetKeepAlive(true);
  channel_.SetKeepAlive(true);
  EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
  EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
  EXPECT_EQ(1, connections_);
}

TEST_F(TCPChannelTest, HostForms) {
  const std::string port = std::to_string(loopback_.Port());
  for (const std::string& host :
       std::vector<std::string>{"127.0.0.1", "LocalHost", "localhost:" + port, "LOCALHOST:" + port,
                                "127.0.0.1:" + port}) {
    channel_.SetHost(host);
    channel_.SetPort(host.find(':') == std::string::npos ? loopback_.Port() : 1);
    EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE")) << host;
  }
}

TEST_F(TCPChannelTest, UnresolvableTargetsAreHostNotFound) {
  for (const char* host : {"no-such-host.invalid", "127.0.0.1:0", "127.0.0.1:65536",
                           "localhost:abc", "127.0.0.1:", ":8090"}) {
    channel_.SetHost(host);
    EXPECT_THAT([&] { Call(channel_, "PROBE"); },
                ThrowsMessage<ESocketError>(StrEq("Socket Error # 11001\r\nHost not found.")))
        << host;
  }
}

TEST_F(TCPChannelTest, RefusedCallLeavesChannelReady) {
  channel_.SetPort(ClosedPort());
  EXPECT_THAT([&] { Call(channel_, "PROBE"); },
              ThrowsMessage<ESocketError>(StrEq("Socket Error # 10061\r\nConnection refused.")));
  channel_.SetPort(loopback_.Port());
  EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
}

TEST_F(TCPChannelTest, ServerClosingWithoutAnswerFails) {
  loopback_.server().on_connect = [](TROTCPConnection& connection) { connection.Close(); };
  EXPECT_THAT([&] { Call(channel_, "PROBE"); },
              ThrowsMessage<EConnClosedGracefully>(StrEq("Connection Closed Gracefully.")));
}

TEST_F(TCPChannelTest, SecondCallWhileBusyFailsAtOnce) {
  Gate gate;
  TTestService_Invoker::gate = &gate;
  std::string first;
  std::thread caller([&] { first = Call(channel_, RequestBytes("TestService", "Block")); });
  gate.WaitForWaiter();
  EXPECT_THAT([&] { Call(channel_, "PROBE"); },
              ThrowsMessage<EROChannelBusy>(StrEq("Channel is busy. Try again later.")));
  gate.Open();
  caller.join();
  EXPECT_THAT(first, HasSubstr("BlockResponse"));
  EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
  TTestService_Invoker::gate = nullptr;
}

TEST_F(TCPChannelTest, ConnectAheadOpensTheNextConnectionDuringTheCall) {
  channel_.SetConnectAhead(true);
  for (int i = 0; i < 3; ++i) EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
  // A connection per call, and the spare for a fourth that the server has accepted meanwhile.
  for (int i = 0; i < 500 && connections_ < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(4, connections_);
}

TEST_F(TCPChannelTest, ConnectAheadReplacesASpareThePeerClosed) {
  // Connections reach the hook on server threads in no fixed order, so the spare is told apart
  // by what it carries: the first call's connection brings its request before that call can
  // end; the spare is still silent when it has ended.
  std::promise<void> spare_closed;
  std::atomic<bool> first_call_done{false};
  std::atomic<bool> closed_one{false};
  loopback_.server().on_connect = [&](TROTCPConnection& connection) {
    ++connections_;
    while (connection.Quiet() && !first_call_done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The second call connects only after it has found the spare closed.
    if (connection.Quiet() && !closed_one.exchange(true)) {
      connection.Close();
      spare_closed.set_value();
    }
  };
  channel_.SetConnectAhead(true);
  EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
  first_call_done = true;
  ASSERT_EQ(std::future_status::ready,
            spare_closed.get_future().wait_for(std::chrono::seconds(10)));
  EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
  EXPECT_GE(connections_, 3);
}

TEST_F(TCPChannelTest, ConnectAheadLeavesAFailedConnectToTheNextCall) {
  channel_.SetConnectAhead(true);
  EXPECT_EQ("PROBEDOK", Call(channel_, "PROBE"));
  loopback_.server().SetActive(false);  // the spare goes with the server; a connect now fails
  EXPECT_THAT([&] { Call(channel_, "PROBE"); },
              ThrowsMessage<ESocketError>(StrEq("Socket Error # 10061\r\nConnection refused.")));
}

class ProxyTest : public TCPChannelTest {
 protected:
  ProxyTest() {
    RegisterProxyClass(kTestInterfaceId, &TTestService_Proxy::Create);
    holder_.SetMessage(&message_);
    holder_.SetChannel(&channel_);
  }
  ~ProxyTest() override { UnregisterProxyClass(kTestInterfaceId); }

  TROBinMessage message_;
  TRORemoteService holder_;
};

TEST_F(ProxyTest, CallsReachTheServiceAndBack) {
  auto service = holder_.GetService<ITestService>("{11112222-3333-4444-5555-666677778888}");
  ASSERT_NE(nullptr, service);
  EXPECT_EQ("over the wire", service->Echo("over the wire"));
  EXPECT_EQ("twice", service->Echo("twice"));
  EXPECT_EQ(nullptr, message_.Body());
}

TEST_F(ProxyTest, ServerErrorsAreRaisedWithTheirText) {
  auto proxy = std::make_shared<TTestService_Proxy>("NoSuchService", message_, channel_);
  EXPECT_THAT([&] { proxy->Echo("x"); },
              ThrowsMessage<EROUnregisteredServerException>(
                  StrEq("An exception was raised on the server: Class factory for interface "
                        "NoSuchService not found")));
  // The failure left message and channel ready for the next call.
  auto good = std::make_shared<TTestService_Proxy>(message_, channel_);
  EXPECT_EQ("ok", good->Echo("ok"));
}

TEST_F(ProxyTest, HolderChecksItsParts) {
  TRORemoteService holder;
  holder.SetName("Holder");
  EXPECT_THAT([&] { holder.CreateProxy(kTestInterfaceId); },
              ThrowsMessage<EROException>(StrEq("Holder.Channel must be assigned.")));
  TROTCPChannel empty_host;
  empty_host.SetHost("");
  holder.SetChannel(&empty_host);
  EXPECT_THAT([&] { holder.CreateProxy(kTestInterfaceId); },
              ThrowsMessage<EROException>(StrEq(".Host must be set.")));
  holder.SetChannel(&channel_);
  EXPECT_THAT([&] { holder.CreateProxy(kTestInterfaceId); },
              ThrowsMessage<EROException>(StrEq("Holder.Message must be assigned.")));
  EXPECT_EQ(nullptr, holder.CreateProxy("{00000000-0000-0000-0000-000000000001}"));
}

TEST(ProxyRegistryTest, FindAndRegister) {
  const char* id = "{ABCDEF00-1111-2222-3333-444455556666}";
  EXPECT_EQ(nullptr, FindProxyClass(id, /*quiet=*/true));
  EXPECT_THAT([&] { FindProxyClass(id); },
              ThrowsMessage<EROException>(
                  StrEq("Unknown proxy interface \"{ABCDEF00-1111-2222-3333-444455556666}\"")));
  RegisterProxyClass(id, &TTestService_Proxy::Create);
  RegisterProxyClass(id, nullptr);  // the first registration stays
  EXPECT_EQ(&TTestService_Proxy::Create, FindProxyClass("{abcdef00-1111-2222-3333-444455556666}"));
  UnregisterProxyClass(id);
  EXPECT_EQ(nullptr, FindProxyClass(id, true));
}

}  // namespace
}  // namespace vantry
