#include "remoting/tcp_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "remoting/frame_format.h"
#include "remoting/testing/loopback_test_util.h"

namespace vantry {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;
using namespace testing_util;

// A connected pair: `peer` is a raw socket, `connection` the frame side.
class FrameTest : public testing::Test {
 protected:
  FrameTest() {
    Socket listener = Socket::Create();
    listener.Bind("127.0.0.1", 0);
    listener.Listen(1);
    peer_ = Socket::Create();
    peer_.Connect("127.0.0.1", listener.LocalPort());
    connection_ = std::make_unique<TROTCPConnection>(listener.Accept());
  }

  std::string ReadFrame() {
    TROBinaryMemoryStream payload;
    connection_->ReadFrame(payload);
    EXPECT_EQ(payload.Size(), payload.Position());
    return payload.ToString();
  }

  Socket peer_;
  std::unique_ptr<TROTCPConnection> connection_;
};

TEST_F(FrameTest, PeerAddressIsDotted) { EXPECT_EQ("127.0.0.1", connection_->PeerAddress()); }

// A local pair has no IPv4 peer: the connection still reads frames up to the end of stream.
TEST(FramePairTest, LocalPairReadsFramesUntilEndOfStream) {
  auto [peer, local] = Socket::Pair();
  TROTCPConnection connection(std::move(local));
  EXPECT_EQ("", connection.PeerAddress());
  SendAll(peer, Frame("first") + Frame("second"));
  peer.ShutdownSend();
  for (const char* expected : {"first", "second"}) {
    TROBinaryMemoryStream payload;
    connection.ReadFrame(payload);
    EXPECT_EQ(expected, payload.ToString());
  }
  TROBinaryMemoryStream rest;
  EXPECT_THAT([&] { connection.ReadFrame(rest); },
              ThrowsMessage<EConnClosedGracefully>(StrEq("Connection Closed Gracefully.")));
}

TEST_F(FrameTest, SingleByteSegmentsMakeOneFrame) {
  SendBytewise(peer_, Frame("split into pieces"));
  EXPECT_EQ("split into pieces", ReadFrame());
}

TEST_F(FrameTest, SurplusBytesStayForTheNextFrame) {
  SendAll(peer_, Frame("first") + Frame("") + Frame("third") + std::string("\0\0", 2));
  EXPECT_EQ("first", ReadFrame());
  EXPECT_EQ("", ReadFrame());
  EXPECT_EQ("third", ReadFrame());
  SendAll(peer_, std::string("\0\1x", 3));
  EXPECT_EQ("x", ReadFrame());
}

TEST_F(FrameTest, NegativeLengthReadsNoPayload) {
  SendAll(peer_, "\xFF\xFF\xFF\xFE" + Frame("next"));
  EXPECT_EQ("", ReadFrame());
  EXPECT_EQ("next", ReadFrame());
}

TEST_F(FrameTest, PayloadLargerThanOnePieceArrivesWhole) {
  std::string payload(3 * kFramePieceSize + 17, 'p');
  for (size_t i = 0; i < payload.size(); i += 101) payload[i] = static_cast<char>(i);
  std::thread sender([&] { SendAll(peer_, Frame(payload)); });
  EXPECT_EQ(payload, ReadFrame());
  sender.join();
}

TEST_F(FrameTest, PeerClosingMidFrameFails) {
  SendAll(peer_, std::string("\0\0\0\x64", 4) + "only ten b");
  peer_.ShutdownSend();
  EXPECT_THAT([&] { ReadFrame(); },
              ThrowsMessage<EConnClosedGracefully>(StrEq("Connection Closed Gracefully.")));
}

TEST_F(FrameTest, LengthSplitAndPeerClosingInsideIt) {
  SendAll(peer_, std::string("\0\0", 2));
  peer_.ShutdownSend();
  EXPECT_THAT([&] { ReadFrame(); },
              ThrowsMessage<EConnClosedGracefully>(StrEq("Connection Closed Gracefully.")));
}

TEST_F(FrameTest, HugeAnnouncedLengthClosesTheConnection) {
  SendAll(peer_, std::string("\x40\x00\x00\x01", 4));
  EXPECT_THAT([&] { ReadFrame(); },
              ThrowsMessage<EFrameTooLarge>(
                  StrEq("Frame of 1073741825 bytes exceeds the limit of 1073741824 bytes")));
  EXPECT_FALSE(connection_->Connected());
  EXPECT_EQ("", ReceiveAll(peer_));
}

TEST_F(FrameTest, AnnouncedGigabyteWithFewBytesFailsWhenPeerLeaves) {
  SendAll(peer_, std::string("\x40\x00\x00\x00", 4) + std::string(100, 'x'));
  peer_.ShutdownSend();
  TROBinaryMemoryStream payload;
  EXPECT_THROW(connection_->ReadFrame(payload), EConnClosedGracefully);
  EXPECT_EQ(100, payload.Size());
}

TEST_F(FrameTest, WrittenFramesAreLengthThenPayload) {
  struct Row {
    std::string payload;
    std::string expected;
  };
  const Row rows[] = {
      {"", std::string(4, '\0')},
      {"PROBEDOK", std::string("\0\0\0\x08PROBEDOK", 12)},
      {std::string(70000, 'z'), std::string("\0\x01\x11\x70", 4) + std::string(70000, 'z')},
  };
  std::string expected;
  for (const Row& row : rows) {
    TROBinaryMemoryStream source(row.payload);
    source.SetPosition(source.Size());
    connection_->WriteFrame(source);
    EXPECT_EQ(0, source.Position());
    expected += row.expected;
  }
  connection_->Close();
  EXPECT_EQ(expected, ReceiveAll(peer_));
}

TEST_F(FrameTest, WritingToAClosedPeerFails) {
  peer_.Close();
  TROBinaryMemoryStream source(std::string(1 << 20, 'a'));
  EXPECT_THROW(
      {
        for (int i = 0; i < 16; ++i) connection_->WriteFrame(source);
      },
      ENetError);
  EXPECT_FALSE(connection_->Connected());
}

TEST_F(FrameTest, AbortWakesABlockedReader) {
  std::thread reader([&] { EXPECT_THROW(ReadFrame(), EConnClosedGracefully); });
  connection_->Abort();
  reader.join();
}

}  // namespace
}  // namespace vantry
