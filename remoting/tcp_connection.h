// TROTCPConnection: one TCP connection of the runtime with its input buffer, and the reading and
// writing of frames (remoting/frame_format.h). The server transport gives one to every accepted
// connection (and to its OnConnect hook); the client channel opens one per call. A connection
// may be made a TLS one after it is established (StartServerTls, StartClientTls): the same
// frames then travel inside TLS, read and written by the same code.
//
// Thread safety: one owner thread reads, writes and closes. Abort() may be called from any other
// thread, to wake an owner blocked in ReadFrame(); Close() may race with Abort() safely.
#pragma once

#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "platform/byte_stream.h"
#include "platform/socket.h"
#include "platform/tls.h"
#include "remoting/binary_stream.h"

namespace vantry {

// An announced payload above kMaxFramePayload: "Frame of %d bytes exceeds the limit of %d bytes".
VANTRY_EXCEPTION(EFrameTooLarge, ENetError);

class TROTCPConnection {
 public:
  // Takes over a connected socket.
  explicit TROTCPConnection(Socket socket);
  // Takes over an accepted socket whose peer address is known already.
  TROTCPConnection(Socket socket, std::string peer_address);
  TROTCPConnection(const TROTCPConnection&) = delete;
  TROTCPConnection& operator=(const TROTCPConnection&) = delete;
  ~TROTCPConnection();  // Close()

  // Connects to `dotted_address`:`port`; throws ESocketError (for example 10061).
  static std::unique_ptr<TROTCPConnection> Connect(const std::string& dotted_address, int port);

  // The peer's IPv4 address as dotted text, e.g. "192.168.1.20" (taken when the connection was
  // made, so it stays readable after a close).
  const std::string& PeerAddress() const { return peer_address_; }
  bool Connected() const;
  // Open, and nothing has come from the peer: neither bytes nor a close. Does not wait.
  bool Quiet() const;

  // Reads one frame and writes its payload into `dest` at its position, leaving the position
  // after the payload; a negative length gives an empty payload. Bytes that arrive beyond the
  // frame stay in the input buffer for the next frame. Throws EConnClosedGracefully when the
  // peer closes before the frame is complete (a partial payload may then be in `dest`),
  // ESocketError, and EFrameTooLarge after closing the connection.
  void ReadFrame(TROBinaryMemoryStream& dest);
  // Writes the whole of `source` (from 0 to its size) as one frame; the position of `source` is
  // left at 0. On failure the connection is closed and ESocketError or EConnClosedGracefully is
  // raised.
  void WriteFrame(TROBinaryMemoryStream& source);
  // Writes `parts` one after the other as one frame, without joining them first (at most
  // kMaxFrameParts).
  void WriteFrame(std::initializer_list<std::string_view> parts);
  static constexpr size_t kMaxFrameParts = 4;

  void SetNoDelay();
  void SetKeepAlive();

  // Makes this a TLS connection as its server: the caller's handshake, within `timeout_ms`. On
  // failure the connection is closed, after a short wait that lets the caller read TLS's alert,
  // and ETlsError is raised with the reason.
  void StartServerTls(std::shared_ptr<const TlsContext> context,
                      int timeout_ms = kTlsHandshakeTimeoutMs);
  // Makes this a TLS connection as the client of `host` (as the caller named it; the server's
  // certificate must name it) at `port`. On failure closes and raises ETlsError.
  void StartClientTls(std::shared_ptr<const TlsContext> context, const std::string& host,
                      int port, int timeout_ms = kTlsHandshakeTimeoutMs);
  bool Secure() const { return tls_ != nullptr; }
  // The subject CN of a TLS peer's certificate; "" on a plain connection.
  std::string PeerCertificateName() const;
  // Whether the TLS handshake resumed an earlier session; false on a plain connection.
  bool TlsSessionResumed() const { return tls_ && tls_->Resumed(); }

  // Orderly close: shutdown of the sending direction, then close of the socket. Idempotent.
  void Close();
  // Shuts the socket down in both directions so that the owner's read ends; the owner closes.
  void Abort();

 private:
  // Refills the empty input buffer from the socket; throws EConnClosedGracefully at the end.
  void Fill();
  // Reads the rest of a payload straight from the socket into `dest`.
  void ReceivePayload(TROBinaryMemoryStream& dest, size_t start, size_t have, size_t total);
  // Sends all of `parts` (emptied on the way), waiting out a lack of buffer space.
  void SendAll(std::span<std::string_view> parts);
  // After a refused handshake: stops sending and reads what the peer still sends, for at most a
  // moment, so that closing does not reset the connection before the peer has read the alert.
  void DrainBeforeClose();

  // The plain socket as the connection's byte stream.
  class SocketStream : public ByteStream {
   public:
    explicit SocketStream(Socket& socket) : socket_(socket) {}
    size_t Receive(void* dest, size_t count) override { return socket_.Receive(dest, count); }
    size_t ReceiveAll(void* dest, size_t count) override {
      return socket_.ReceiveAll(dest, count);
    }
    size_t Send(std::span<const std::string_view> parts) override { return socket_.Send(parts); }

   private:
    Socket& socket_;
  };

  mutable std::mutex mutex_;  // guards the open/closed state of socket_ against Abort()
  Socket socket_;
  SocketStream plain_{socket_};
  std::unique_ptr<TlsStream> tls_;  // set once the connection is a TLS one
  ByteStream* stream_ = &plain_;    // what frames are read from and written to
  std::string peer_address_;
  std::unique_ptr<char[]> input_;  // kFramePieceSize bytes once used
  size_t input_begin_ = 0;
  size_t input_end_ = 0;
};

}  // namespace vantry
