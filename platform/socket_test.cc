#include "platform/socket.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantry {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

TEST(SocketErrorTest, ErrnoMapsOntoWinsockCodes) {
  struct Row {
    int errno_value;
    int code;
  };
  const Row rows[] = {
      {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},    {ECONNRESET, 10054},  {EHOSTUNREACH, 10065},
      {EADDRINUSE, 10048},   {ECONNABORTED, 10053}, {ENOBUFS, 10055},     {EPIPE, 10058},
      {EINTR, 10004},        {ENOTSOCK, 10038},     {ENETUNREACH, 10051}, {EAGAIN, 10035},
  };
  for (const Row& row : rows) EXPECT_EQ(row.code, WinsockCodeFromErrno(row.errno_value));
}

TEST(SocketErrorTest, TextCarriesCodeAndDescription) {
  struct Row {
    int code;
    const char* text;
  };
  const Row rows[] = {
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {10035, "Socket Error # 10035\r\nOperation would block. "},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      {11001, "Socket Error # 11001\r\nHost not found."},
      {10054, "Socket Error # 10054\r\nConnection reset by peer."},
      {12345, "Socket Error # 12345\r\n"},
  };
  for (const Row& row : rows) {
    ESocketError error(row.code);
    EXPECT_EQ(row.text, error.Message());
    EXPECT_STREQ("ESocketError", error.ClassName());
  }
}

TEST(SocketAddressTest, DottedAndResolved) {
  EXPECT_TRUE(IsDottedIPv4("192.168.1.20"));
  EXPECT_FALSE(IsDottedIPv4("localhost"));
  EXPECT_FALSE(IsDottedIPv4("1.2.3"));
  EXPECT_EQ("10.1.2.3", TryResolveIPv4("10.1.2.3"));
  EXPECT_EQ("127.0.0.1", TryResolveIPv4("localhost"));
  EXPECT_EQ(std::nullopt, TryResolveIPv4("no-such-host.invalid"));
}

// A listening socket on a free loopback port.
Socket Listening() {
  Socket s = Socket::Create();
  s.Bind("127.0.0.1", 0);
  s.Listen(15);
  return s;
}

TEST(SocketTest, ExchangeAndOrderlyClose) {
  Socket listener = Listening();
  Socket client = Socket::Create();
  client.Connect("127.0.0.1", listener.LocalPort());
  ASSERT_TRUE(listener.WaitReadable(5000));
  Socket server = listener.Accept();
  EXPECT_EQ("127.0.0.1", server.PeerAddress());
  EXPECT_EQ(client.LocalPort(), server.PeerPort());

  EXPECT_EQ(3u, client.Send("abc", 3));
  char buffer[8] = {};
  EXPECT_EQ(3u, server.Receive(buffer, sizeof(buffer)));
  EXPECT_STREQ("abc", buffer);
  client.ShutdownSend();
  EXPECT_EQ(0u, server.Receive(buffer, sizeof(buffer)));
}

TEST(SocketTest, PairExchangesAndHasNoAddress) {
  auto [one, other] = Socket::Pair();
  EXPECT_EQ(3u, one.Send("abc", 3, true));
  char buffer[8] = {};
  EXPECT_EQ(3u, other.ReceiveAll(buffer, 3));
  EXPECT_STREQ("abc", buffer);
  one.ShutdownSend();
  EXPECT_EQ(0u, other.Receive(buffer, sizeof(buffer)));
  // Not IPv4: nothing that could be mistaken for an address such as "0.0.0.0".
  EXPECT_EQ("", other.PeerAddress());
  EXPECT_EQ(0, other.PeerPort());
  EXPECT_EQ(0, other.LocalPort());
}

TEST(SocketTest, ShutdownBothWakesBlockedReader) {
  Socket listener = Listening();
  Socket client = Socket::Create();
  client.Connect("127.0.0.1", listener.LocalPort());
  Socket server = listener.Accept();
  std::thread reader([&] {
    char c;
    EXPECT_EQ(0u, server.Receive(&c, 1));
  });
  // The reader may or may not be blocked yet; either way it sees the shutdown.
  server.ShutdownBoth();
  reader.join();
}

TEST(SocketTest, AcceptGivesThePeerAddressWithTheConnection) {
  Socket listener = Listening();
  Socket client = Socket::Create();
  // Any 127.x.y.z reaches loopback: one-, two- and three-digit parts, and a zero.
  client.Bind("127.0.45.255", 0);
  client.Connect("127.0.0.1", listener.LocalPort());
  std::string peer;
  Socket server = listener.Accept(&peer);
  EXPECT_EQ("127.0.45.255", peer);
  EXPECT_EQ(peer, server.PeerAddress());
}

TEST(SocketTest, ShutdownBothEndsEveryAccept) {
  Socket listener = Listening();
  std::vector<std::thread> accepting;
  for (int i = 0; i < 3; ++i) {
    // Blocked in accept() or not yet there: either way the accept fails.
    accepting.emplace_back([&] { EXPECT_THROW(listener.Accept(), ESocketError); });
  }
  listener.ShutdownBoth();
  for (std::thread& t : accepting) t.join();
  EXPECT_THROW(listener.Accept(), ESocketError);
}

TEST(SocketTest, PartsGoOutInOrderInOneSend) {
  auto [one, other] = Socket::Pair();
  const std::string_view parts[] = {"ab", "", "cde", "f"};
  EXPECT_EQ(6u, one.Send(parts));
  char buffer[8] = {};
  EXPECT_EQ(6u, other.ReceiveAll(buffer, 6));
  EXPECT_STREQ("abcdef", buffer);
}

TEST(SocketTest, PortInUseRefusesBind) {
  Socket first = Listening();
  Socket second = Socket::Create();
  second.SetReuseAddress(true);
  EXPECT_THAT([&] { second.Bind("127.0.0.1", first.LocalPort()); },
              ThrowsMessage<ECouldNotBindSocket>(
                  StrEq("Could not bind socket. Address and port are already in use.")));
}

TEST(SocketTest, ConnectToClosedPortIsRefused) {
  int port;
  {
    Socket probe = Listening();
    port = probe.LocalPort();
  }
  Socket client = Socket::Create();
  EXPECT_THAT([&] { client.Connect("127.0.0.1", port); },
              ThrowsMessage<ESocketError>(StrEq("Socket Error # 10061\r\nConnection refused.")));
}

TEST(SocketTest, KeepAliveNoticesADeadPeerWithinMinutes) {
  // A new socket takes the lowest free descriptor, which is what the probe just released.
  int fd = ::dup(0);
  ASSERT_GE(fd, 0);
  ::close(fd);
  Socket s = Socket::Create();
  s.SetKeepAlive(true);
  auto option = [&](int level, int name) {
    int value = -1;
    socklen_t length = sizeof(value);
    EXPECT_EQ(0, ::getsockopt(fd, level, name, &value, &length));
    return value;
  };
  EXPECT_EQ(1, option(SOL_SOCKET, SO_KEEPALIVE));
  EXPECT_EQ(kKeepAliveIdleSeconds, option(IPPROTO_TCP, TCP_KEEPIDLE));
  EXPECT_EQ(kKeepAliveIntervalSeconds, option(IPPROTO_TCP, TCP_KEEPINTVL));
  EXPECT_EQ(kKeepAliveProbes, option(IPPROTO_TCP, TCP_KEEPCNT));
  EXPECT_LE(kKeepAliveIdleSeconds + kKeepAliveIntervalSeconds * kKeepAliveProbes, 180);
}

TEST(SocketTest, ClosedSocketRefusesUse) {
  Socket s = Socket::Create();
  s.Close();
  char c = 0;
  EXPECT_THAT([&] { s.Receive(&c, 1); }, ThrowsMessage<EDisconnected>(StrEq("Disconnected.")));
  EXPECT_THAT([&] { s.Send(&c, 1); }, ThrowsMessage<EDisconnected>(StrEq("Not Connected")));
}

}  // namespace
}  // namespace vantry
