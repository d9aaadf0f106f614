// zlib compression of message bodies: one zlib stream (RFC 1950, default level, window bits 15,
// memory level 8), processed in 32 KiB pieces.
//
// Thread safety: pure functions.
#pragma once

#include <cstddef>
#include <string_view>

#include "remoting/binary_stream.h"

namespace vantry {

// Appends the zlib stream of `source` at `dest`'s position. Throws EZCompressionError.
void ZlibCompress(std::string_view source, TROBinaryMemoryStream& dest);

// Inflates the zlib stream at the start of `source` into `dest` (appended at its position);
// bytes after the end of the zlib stream are ignored, and a stream cut short yields what it held
// (zlib's buffer error while input runs out is not a failure). Throws EZDecompressionError with
// zlib's result text for corrupt data, and "Insufficient memory" when the output would exceed
// `max_output` bytes.
void ZlibDecompress(std::string_view source, TROBinaryMemoryStream& dest, size_t max_output);

}  // namespace vantry
