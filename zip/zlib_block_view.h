// For tests and the fuzz target: what zlib's raw inflater makes of a Deflate stream, as the
// reference that the block walk (zip/deflate_join.h) and every joined stream are held to. It
// yields the inflated bytes and, told by zlib itself, where the final block begins and where the
// stream ends, in bits.
//
// Thread safety: a plain function; any thread.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

namespace vantry {

struct ZlibBlockView {
  bool complete = false;  // zlib reached the end of the final block without an error
  std::string output;
  uint64_t final_block_bit = 0;
  uint64_t end_bit = 0;
  size_t bytes_used = 0;  // bytes of input zlib took, up to the end's byte
};

inline ZlibBlockView InflateWithZlib(const void* data, size_t size) {
  ZlibBlockView view;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return view;
  z.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  z.avail_in = static_cast<uInt>(size);
  std::string chunk(1 << 16, '\0');
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(chunk.data());
    z.avail_out = static_cast<uInt>(chunk.size());
    // Z_BLOCK returns at every block boundary, also right after the final block's end-of-block
    // code; data_type then holds 128, plus 64 after the final block, plus the bits of the last
    // byte taken that are still unused. The end of the stream comes after the padding.
    int result = inflate(&z, Z_BLOCK);
    view.output.append(chunk.data(), chunk.size() - z.avail_out);
    uint64_t position = uint64_t{z.total_in} * 8 - (z.data_type & 7);
    if (result == Z_STREAM_END) {
      view.complete = true;
      break;
    }
    if (result != Z_OK) break;  // an error, or nothing more to read
    if ((z.data_type & 128) != 0) {
      ((z.data_type & 64) != 0 ? view.end_bit : view.final_block_bit) = position;
    }
  }
  view.bytes_used = z.total_in;
  inflateEnd(&z);
  return view;
}

}  // namespace vantry
