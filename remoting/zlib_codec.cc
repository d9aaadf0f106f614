#include "remoting/zlib_codec.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

#include "remoting/message_format.h"
#include "remoting/ro_exception.h"

namespace vantry {

namespace {

// Ends a zlib stream on every exit path.
struct DeflateStream {
  z_stream z{};
  ~DeflateStream() { deflateEnd(&z); }
};
struct InflateStream {
  z_stream z{};
  ~InflateStream() { inflateEnd(&z); }
};

}  // namespace

void ZlibCompress(std::string_view source, TROBinaryMemoryStream& dest) {
  DeflateStream stream;
  int result =
      deflateInit2(&stream.z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  if (result != Z_OK) throw EZCompressionError(ZlibResultText(result));
  auto piece = std::make_unique_for_overwrite<unsigned char[]>(kZlibPieceSize);
  size_t offset = 0;
  int flush = Z_NO_FLUSH;
  do {
    size_t take = std::min(kZlibPieceSize, source.size() - offset);
    stream.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(source.data() + offset));
    stream.z.avail_in = static_cast<uInt>(take);
    offset += take;
    flush = offset == source.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      stream.z.next_out = piece.get();
      stream.z.avail_out = static_cast<uInt>(kZlibPieceSize);
      result = deflate(&stream.z, flush);
      if (result == Z_STREAM_ERROR) throw EZCompressionError(ZlibResultText(result));
      dest.Write(piece.get(), kZlibPieceSize - stream.z.avail_out);
    } while (stream.z.avail_out == 0);
  } while (flush != Z_FINISH);
}

void ZlibDecompress(std::string_view source, TROBinaryMemoryStream& dest, size_t max_output) {
  InflateStream stream;
  int result = inflateInit2(&stream.z, 15);
  if (result != Z_OK) throw EZDecompressionError(ZlibResultText(result));
  auto piece = std::make_unique_for_overwrite<unsigned char[]>(kZlibPieceSize);
  size_t offset = 0;
  size_t produced = 0;
  while (offset < source.size() && result != Z_STREAM_END) {
    size_t take = std::min(kZlibPieceSize, source.size() - offset);
    stream.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(source.data() + offset));
    stream.z.avail_in = static_cast<uInt>(take);
    offset += take;
    do {
      stream.z.next_out = piece.get();
      stream.z.avail_out = static_cast<uInt>(kZlibPieceSize);
      result = inflate(&stream.z, Z_NO_FLUSH);
      // A buffer error only says that no progress was possible with this piece; more input
      // follows or the stream was cut short, and neither is a failure here.
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
        throw EZDecompressionError(ZlibResultText(result));
      }
      size_t have = kZlibPieceSize - stream.z.avail_out;
      produced += have;
      if (produced > max_output) throw EZDecompressionError(ZlibResultText(Z_MEM_ERROR));
      dest.Write(piece.get(), have);
    } while (stream.z.avail_out == 0 && result != Z_STREAM_END);
  }
}

}  // namespace vantry
