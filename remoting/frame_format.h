// The frame that carries one message over a TCP connection, in both directions:
//
//   offset 0, 4 bytes: length N, a signed 32-bit integer in network byte order (big-endian),
//                      not counting itself
//   offset 4, N bytes: the payload, one message, byte for byte
//
// No magic, version or terminator: the next frame starts right after the last payload byte.
// A negative N carries no payload (the frame is read as an empty payload).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantry {

// The TCP port a server listens on and a channel connects to unless told otherwise.
inline constexpr int kDefaultPort = 8090;

inline constexpr size_t kFrameLengthSize = 4;
// The input buffer of a connection, which the frame lengths and short frames pass through;
// longer payloads are read straight into their destination.
inline constexpr size_t kFramePieceSize = 32768;
// A reader reserves at most this much for an announced payload before its bytes arrive; the
// buffer grows as they do, so a peer that announces gigabytes and sends nothing costs nothing.
// A backup chunk (1 MiB) and the message around it fit, so it is never moved to a larger block.
inline constexpr size_t kFrameFirstBlock = (size_t{1} << 20) + 64 * 1024;
// Announced payloads above this are refused by closing the connection.
inline constexpr int64_t kMaxFramePayload = int64_t{1} << 30;
// Socket buffers of both sides: a whole backup chunk (1 MiB) and its frame fit, so that a chunk
// goes out in one window on a connection that is new for every call.
inline constexpr int kFrameSocketBufferSize = 2 << 20;
// A send that finds no buffer space waits this long for the socket to become writable.
inline constexpr int kFrameSendRetryMs = 10000;

}  // namespace vantry
