// Arbitrary input cut into blocks of arbitrary sizes, each compressed on its own and joined as
// the archive writer joins them: zlib must inflate the joined stream to exactly the input, and
// the walk over each block's stream must find what zlib finds. The first bytes choose the cuts.
// The same bytes, taken as a Deflate stream, must be walked exactly when zlib inflates them whole.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "zip/deflate_join.h"
#include "zip/parallel_deflate.h"
#include "zip/zlib_block_view.h"

namespace {

// Cut points: each of the first `count` bytes (after the count itself) gives one block size,
// small or up to a few times the window, so that matches, stored blocks and every bit position of
// a block's end meet a boundary.
std::vector<size_t> BlockSizes(const uint8_t*& data, size_t& size) {
  std::vector<size_t> sizes;
  if (size == 0) return sizes;
  size_t count = data[0] % 8;
  ++data;
  --size;
  for (size_t i = 0; i < count && size >= 2; ++i) {
    size_t value = data[0] | static_cast<size_t>(data[1]) << 8;
    sizes.push_back(data[0] & 1 ? value % 64 : value * 2);
    data += 2;
    size -= 2;
  }
  return sizes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantry;
  {
    ZlibBlockView view = InflateWithZlib(data, size);
    bool zlib_takes_it = view.complete && view.bytes_used == size;
    try {
      DeflateStreamShape shape = ScanDeflateStream(data, size);
      if (!zlib_takes_it || shape.final_block_bit != view.final_block_bit ||
          shape.end_bit != view.end_bit || shape.uncompressed_size != view.output.size()) {
        std::abort();
      }
    } catch (const Exception&) {
      if (zlib_takes_it) std::abort();
    }
  }
  std::vector<size_t> cuts = BlockSizes(data, size);
  static DeflateBlockCompressor compressor;
  std::string joined;
  size_t at = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    bool last = i == cuts.size();
    size_t block = last ? size - at : std::min(cuts[i], size - at);
    std::vector<unsigned char> out(DeflateBlockCompressor::OutputBound(block));
    // Checked alone first: the walk must agree with zlib on where the stream's final block lies.
    size_t alone = compressor.Compress(data + at, block, true, out.data());
    DeflateStreamShape shape = ScanDeflateStream(out.data(), alone);
    ZlibBlockView view = InflateWithZlib(out.data(), alone);
    if (!view.complete || shape.final_block_bit != view.final_block_bit ||
        shape.end_bit != view.end_bit || shape.uncompressed_size != block) {
      std::abort();
    }
    size_t n = compressor.Compress(data + at, block, last, out.data());
    joined.append(reinterpret_cast<const char*>(out.data()), n);
    at += block;
  }
  ZlibBlockView whole = InflateWithZlib(joined.data(), joined.size());
  if (!whole.complete || whole.bytes_used != joined.size() ||
      whole.output != std::string(reinterpret_cast<const char*>(data), size)) {
    std::abort();
  }
  return 0;
}
