// Deflate of one file on every core: the input is cut into blocks that are compressed at the same
// time, each primed with the 32 KiB before it so matches reach back as far as in one stream, and
// joined in order into one raw Deflate stream (RFC 1951) that any inflater reads as a whole.
// Reading, compressing and writing overlap; a bounded number of blocks is in flight, so memory
// stays the same for a file of any size. The CRC-32 of the input is computed on the way.
//
// Thread safety: one call uses `source` and `sink` from its own threads until it returns; neither
// may be touched by anyone else meanwhile.
#pragma once

#include <cstdint>

#include "platform/file_system.h"

namespace vantry {

struct DeflateResult {
  uint32_t crc32 = 0;             // of the input
  int64_t uncompressed_size = 0;  // bytes read
  int64_t compressed_size = 0;    // bytes written
};

// Bytes of input per block, and how many blocks may wait or be worked on at once per thread: enough
// that a thread held up by other work on the machine does not stall the others, few enough that
// the blocks in flight stay near 16 MiB (input and output) for two threads.
inline constexpr int64_t kDeflateBlockSize = int64_t{512} << 10;
inline constexpr int kBlocksInFlightPerThread = 6;

// Reads `source` from its position to its end and writes the raw Deflate stream of it at
// `sink`'s position, compressing on `threads` threads (0: one per core). Rethrows the first
// failure of a read or write (EOSError) after every thread has stopped; what was written to
// `sink` by then is the caller's to discard.
DeflateResult DeflateFile(File& source, File& sink, int threads = 0);

}  // namespace vantry
