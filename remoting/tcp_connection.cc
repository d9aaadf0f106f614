#include "remoting/tcp_connection.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "remoting/frame_format.h"

namespace vantry {
namespace {

int32_t DecodeLength(const unsigned char* bytes) {
  uint32_t value = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                   (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
  return static_cast<int32_t>(value);
}

void EncodeLength(uint32_t value, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(value >> 24);
  bytes[1] = static_cast<unsigned char>(value >> 16);
  bytes[2] = static_cast<unsigned char>(value >> 8);
  bytes[3] = static_cast<unsigned char>(value);
}

}  // namespace

TROTCPConnection::TROTCPConnection(Socket socket)
    : socket_(std::move(socket)), peer_address_(socket_.PeerAddress()) {}

TROTCPConnection::TROTCPConnection(Socket socket, std::string peer_address)
    : socket_(std::move(socket)), peer_address_(std::move(peer_address)) {}

TROTCPConnection::~TROTCPConnection() { Close(); }

std::unique_ptr<TROTCPConnection> TROTCPConnection::Connect(const std::string& dotted_address,
                                                            int port) {
  Socket socket = Socket::Create();
  socket.SetBufferSizes(static_cast<int>(kFrameSocketBufferSize));
  socket.Connect(dotted_address, port);
  return std::make_unique<TROTCPConnection>(std::move(socket));
}

bool TROTCPConnection::Connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return socket_.IsOpen();
}

bool TROTCPConnection::Quiet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!socket_.IsOpen()) return false;
  // A TLS server sends its session tickets after the handshake; they are not the peer talking.
  return tls_ ? tls_->Quiet() : !socket_.WaitReadable(0);
}

void TROTCPConnection::StartServerTls(std::shared_ptr<const TlsContext> context, int timeout_ms) {
  try {
    tls_ = TlsStream::Accept(std::move(context), socket_, timeout_ms);
  } catch (const ETlsError&) {
    DrainBeforeClose();
    Close();
    throw;
  }
  stream_ = tls_.get();
}

void TROTCPConnection::StartClientTls(std::shared_ptr<const TlsContext> context,
                                      const std::string& host, int port, int timeout_ms) {
  try {
    tls_ = TlsStream::Connect(std::move(context), socket_, host, port, timeout_ms);
  } catch (...) {
    Close();
    throw;
  }
  stream_ = tls_.get();
}

std::string TROTCPConnection::PeerCertificateName() const {
  return tls_ ? tls_->PeerName() : "";
}

void TROTCPConnection::DrainBeforeClose() {
  constexpr auto kDrainTime = std::chrono::seconds(1);
  constexpr size_t kDrainBytes = 64 * 1024;
  try {
    socket_.ShutdownSend();
    auto deadline = std::chrono::steady_clock::now() + kDrainTime;
    char sink[4096];
    for (size_t total = 0; total < kDrainBytes;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !socket_.WaitReadable(static_cast<int>(left.count()))) return;
      size_t n = socket_.Receive(sink, sizeof(sink));
      if (n == 0) return;
      total += n;
    }
  } catch (const ENetError&) {
    // The peer is gone already: nothing left to wait for.
  }
}

void TROTCPConnection::SetNoDelay() { socket_.SetNoDelay(true); }

void TROTCPConnection::SetKeepAlive() { socket_.SetKeepAlive(true); }

void TROTCPConnection::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (tls_ && socket_.IsOpen()) tls_->Close();
  socket_.ShutdownSend();
  socket_.Close();
}

void TROTCPConnection::Abort() {
  std::lock_guard<std::mutex> lock(mutex_);
  socket_.ShutdownBoth();
}

void TROTCPConnection::Fill() {
  if (!input_) input_ = std::make_unique_for_overwrite<char[]>(kFramePieceSize);
  size_t n = stream_->Receive(input_.get(), kFramePieceSize);
  if (n == 0) throw EConnClosedGracefully(kConnClosedGracefully);
  input_begin_ = 0;
  input_end_ = n;
}

void TROTCPConnection::ReadFrame(TROBinaryMemoryStream& dest) {
  unsigned char length_bytes[kFrameLengthSize];
  for (size_t have = 0; have < kFrameLengthSize;) {
    if (input_begin_ == input_end_) Fill();
    size_t n = std::min(kFrameLengthSize - have, input_end_ - input_begin_);
    std::memcpy(length_bytes + have, input_.get() + input_begin_, n);
    input_begin_ += n;
    have += n;
  }
  int32_t length = DecodeLength(length_bytes);
  if (length <= 0) return;
  if (length > kMaxFramePayload) {
    Close();
    throw EFrameTooLarge(
        Format("Frame of %d bytes exceeds the limit of %d bytes", length, kMaxFramePayload));
  }
  size_t total = static_cast<size_t>(length);
  size_t start = static_cast<size_t>(dest.Position());
  dest.Reserve(start + std::min(total, kFrameFirstBlock));
  size_t have = std::min(total, input_end_ - input_begin_);
  dest.Write(input_.get() + input_begin_, have);
  input_begin_ += have;
  ReceivePayload(dest, start, have, total);
}

void TROTCPConnection::ReceivePayload(TROBinaryMemoryStream& dest, size_t start, size_t have,
                                      size_t total) {
  size_t reserved = start + std::min(total, kFrameFirstBlock);
  while (have < total) {
    if (start + have >= reserved) {
      // Grow with the bytes that actually arrive, doubling to keep the copying linear.
      reserved = std::min(start + total, std::max(start + have + kFramePieceSize, reserved * 2));
      dest.Reserve(reserved);
    }
    // As much as the reservation holds, in one read: a megabyte chunk costs one wake-up.
    size_t piece = std::min(total - have, reserved - start - have);
    dest.SetSize(start + have + piece);
    size_t n = stream_->ReceiveAll(dest.Data() + start + have, piece);
    have += n;
    dest.SetSize(start + have);
    if (n < piece) throw EConnClosedGracefully(kConnClosedGracefully);
  }
  dest.SetPosition(start + total);
}

void TROTCPConnection::WriteFrame(TROBinaryMemoryStream& source) {
  source.Rewind();
  WriteFrame({source.View()});
}

void TROTCPConnection::WriteFrame(std::initializer_list<std::string_view> parts) {
  if (parts.size() > kMaxFrameParts) throw std::length_error("Too many parts for one frame");
  std::string_view pieces[1 + kMaxFrameParts];
  size_t count = 1;
  size_t size = 0;
  for (std::string_view part : parts) {
    size += part.size();
    if (!part.empty()) pieces[count++] = part;
  }
  unsigned char length_bytes[kFrameLengthSize];
  EncodeLength(static_cast<uint32_t>(size), length_bytes);
  pieces[0] = {reinterpret_cast<const char*>(length_bytes), kFrameLengthSize};
  // Length and payload in one system call: a small call's response is then one segment, and a
  // backup chunk goes out from where it lies, without being joined to its header first.
  SendAll(std::span(pieces, count));
}

void TROTCPConnection::SendAll(std::span<std::string_view> parts) {
  try {
    while (!parts.empty()) {
      size_t n;
      try {
        n = stream_->Send(parts);
      } catch (const ESocketError& error) {
        bool no_space = error.Code() == kWsaNoBufferSpace;
        if (!no_space || !socket_.WaitWritable(kFrameSendRetryMs)) throw;
        continue;
      }
      if (n == 0) throw EConnClosedGracefully(kConnClosedGracefully);
      // Drops what went out: whole parts, then the start of the first one left.
      while (n > 0 && n >= parts.front().size()) {
        n -= parts.front().size();
        parts = parts.subspan(1);
      }
      if (n > 0) parts.front().remove_prefix(n);
    }
  } catch (...) {
    Close();
    throw;
  }
}

}  // namespace vantry
