// Byte layout of a binary message: the 28-byte header in front of every message, the type byte
// values, the envelope marker and the limits that readers apply.
//
//   offset 0   5 bytes  signature "RO107"
//          5   1 byte   flags: bit 0 = body compressed (zlib stream to the end of the message)
//          6   1 byte   message type (kMessageType*)
//          7   5 bytes  reserved, written as zero
//         12  16 bytes  client id, GUID binary layout; all zero = none
//   then the body: for types 0/2 the interface and message names (UTF-8, length-prefixed) and
//   the values; for type 1 the exception class name, its text and its published fields; for
//   0x80 one 32-bit poll value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantry {

inline constexpr char kMessageSignature[] = "RO107";
inline constexpr char kEncryptedSignature[] = "roroc";
inline constexpr int kSignatureSize = 5;
inline constexpr int kHeaderFlagsOffset = 5;
inline constexpr int kHeaderTypeOffset = 6;
inline constexpr int kHeaderClientIdOffset = 12;
inline constexpr int kMessageHeaderSize = 28;

inline constexpr uint8_t kFlagCompressed = 0x01;

inline constexpr uint8_t kMessageTypeMessage = 0x00;
inline constexpr uint8_t kMessageTypeException = 0x01;
inline constexpr uint8_t kMessageTypeEvent = 0x02;
inline constexpr uint8_t kMessageTypePoll = 0x80;
inline constexpr uint8_t kMessageTypePollResponse = 0x81;

// A message that starts with "ROENV" and a length byte is wrapped by the named envelope.
inline constexpr char kEnvelopeSignature[] = "ROENV";

// Read limits: names (interface, message, exception class) and exception message texts.
inline constexpr int kMaxNameLength = 256;
inline constexpr int kMaxExceptionTextLength = 65536;

// How many bytes of a rejected message the header error shows.
inline constexpr size_t kHeaderDumpSize = 500;

// Compression: bodies of at least this size are compressed by default; zlib works in pieces.
inline constexpr int kDefaultMinSizeForCompression = 4096;
inline constexpr size_t kZlibPieceSize = 32768;
// A compressed body that inflates beyond this is refused, so a few bytes cannot claim unbounded
// memory.
inline constexpr size_t kMaxInflatedBodySize = size_t{256} << 20;

}  // namespace vantry
