// Deflate of one file on every core: the input is cut into blocks that are compressed at the same
// time, each on its own with an empty window, and joined in order into one raw Deflate stream
// (RFC 1951) that any inflater reads as a whole (see zip/deflate_join.h for how). Reading,
// compressing and writing overlap; a bounded number of blocks is in flight, so memory stays the
// same for a file of any size. The CRC-32 of the input is computed on the way.
//
// Thread safety: one DeflateFile call uses `source` and `sink` from its own threads until it
// returns; neither may be touched by anyone else meanwhile. A DeflateBlockCompressor belongs to
// one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/file_system.h"

struct libdeflate_compressor;

namespace vantry {

struct DeflateResult {
  uint32_t crc32 = 0;             // of the input
  int64_t uncompressed_size = 0;  // bytes read
  int64_t compressed_size = 0;    // bytes written
};

// Bytes of input per block, and how many blocks may wait or be worked on at once per thread. A
// block starts with an empty window, which costs about 0.2% of the size at 1 MiB (0.5% at
// 512 KiB) on database backups; more in flight lets a thread held up by other work on the
// machine catch up, and the blocks in flight (input and output) stay near 14 MiB for two threads.
inline constexpr int64_t kDeflateBlockSize = int64_t{1} << 20;
inline constexpr int kBlocksInFlightPerThread = 3;

// Compresses the blocks of one stream one at a time, each without reference to the others, at
// the normal level. A block that looks incompressible (its bytes spread almost evenly over
// 64 KiB taken from all over it, and its first 64 KiB not smaller even at the fast level) is
// stored within the stream instead, at the cost of copying it: Deflate would store it too, after
// searching it for repeats in vain. Owns its compressors' memory.
class DeflateBlockCompressor {
 public:
  // Throws Exception when the compressor's memory cannot be had.
  DeflateBlockCompressor();
  DeflateBlockCompressor(const DeflateBlockCompressor&) = delete;
  DeflateBlockCompressor& operator=(const DeflateBlockCompressor&) = delete;
  ~DeflateBlockCompressor();

  // Room that Compress needs for `input_size` bytes of input.
  static size_t OutputBound(size_t input_size);

  // Writes the raw Deflate data of `input[0, size)` to `output`, which has OutputBound(size)
  // bytes, and returns its length. The last block of a stream ends it; any other ends on a byte
  // boundary with no final block, so that the next block's data can follow it directly.
  size_t Compress(const unsigned char* input, size_t size, bool last, unsigned char* output);

 private:
  static constexpr int kProbeLevel = 1;
  static constexpr size_t kProbeSize = size_t{64} << 10;
  static constexpr size_t kSpreadPieces = 16;
  // Entropy of the bytes, at or above which a block is probed: Huffman coding alone would gain
  // less than 1%.
  static constexpr double kIncompressibleBitsPerByte = 7.92;

  bool LooksIncompressible(const unsigned char* input, size_t size);

  libdeflate_compressor* compressor_;
  libdeflate_compressor* probe_;
  std::unique_ptr<unsigned char[]> probe_output_;
};

// Reads `source` from its position to its end and writes the raw Deflate stream of it at
// `sink`'s position, compressing on `threads` threads (0: one per core). Rethrows the first
// failure of a read or write (EOSError) after every thread has stopped; what was written to
// `sink` by then is the caller's to discard.
DeflateResult DeflateFile(File& source, File& sink, int threads = 0);

}  // namespace vantry
