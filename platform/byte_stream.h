// ByteStream: the reads and writes a frame connection makes, whatever carries the bytes: a plain
// socket or a TLS session over one. The connection code reads and writes frames through it, so
// framing, its limits against hostile peers and dispatch are one code path for both listeners.
//
// Thread safety: one owner thread, as for the socket underneath.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace vantry {

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Reads up to `count` bytes; returns 0 when the peer closed the connection in order.
  virtual size_t Receive(void* dest, size_t count) = 0;
  // Reads exactly `count` bytes; returns fewer only when the peer closed the connection.
  virtual size_t ReceiveAll(void* dest, size_t count) = 0;
  // Sends up to the whole of `parts`, one after the other, and returns how many bytes went out
  // (a plain socket may take fewer; TLS takes all). Throws ENetError (ESocketError, ETlsError).
  virtual size_t Send(std::span<const std::string_view> parts) = 0;
};

}  // namespace vantry
