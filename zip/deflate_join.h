// Joining complete raw Deflate streams (RFC 1951) into one. A compressor that works on whole
// buffers ends each with a final block and pads its last byte; to let another stream follow it,
// the final block's BFINAL bit is cleared and an empty stored block (not final) is added after its
// end-of-block code, which brings the stream to a byte boundary: the next stream's first block
// then starts on a byte of its own, exactly as after a sync flush. Finding both bit positions
// takes a walk through every block of the stream, since Huffman blocks have no length; the walk
// checks the stream as strictly as zlib's inflater does, so data that zlib would refuse is never
// joined.
//
// Each stream joined this way must not refer back into the one before it (every stream was made
// with an empty window), and only the last stream of an entry keeps its final block.
//
// Thread safety: plain functions on the caller's bytes; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantry {

// Where the blocks of one complete raw Deflate stream lie, in bits from the first byte's lowest
// bit (Deflate fills each byte from its lowest bit up).
struct DeflateStreamShape {
  uint64_t final_block_bit = 0;    // the BFINAL bit of the final block's header
  uint64_t end_bit = 0;            // just after the final block's last code
  uint64_t uncompressed_size = 0;  // bytes the stream inflates to
};

// Walks the stream in `data[0, size)`. Throws Exception "Invalid Deflate data: <what>" when it is
// not one complete stream that zlib inflates, or when bytes follow its end.
DeflateStreamShape ScanDeflateStream(const unsigned char* data, size_t size);

// Bytes that ContinueDeflateStream may add: the empty stored block's header bits (a byte at
// most) and its lengths.
inline constexpr size_t kDeflateContinuationBytes = 5;

// Turns the complete stream in `data[0, size)`, whose shape ScanDeflateStream gave, into one that
// goes on: the final block is marked not final and an empty stored block follows its end, so the
// stream ends on a byte boundary and has no final block. `data` must have room for
// kDeflateContinuationBytes more bytes; returns the new size.
size_t ContinueDeflateStream(unsigned char* data, size_t size, const DeflateStreamShape& shape);

// Bytes that WriteStoredBlocks writes for `size` bytes of input: 5 per block of at most 65535.
size_t StoredBlocksSize(size_t size);

// Writes `input[0, size)` as stored blocks (at least one, so also for no input) to `output`,
// which has StoredBlocksSize(size) bytes, and returns their length. The data starts and ends on a
// byte boundary; the last block is final when `last`, so the blocks join like any other stream
// made continuable above.
size_t WriteStoredBlocks(const unsigned char* input, size_t size, bool last, unsigned char* output);

}  // namespace vantry
