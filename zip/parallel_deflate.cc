#include "zip/parallel_deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/exception.h"
#include "zip/deflate_join.h"
#include "zip/zip_format.h"

namespace vantry {
namespace {

// One block of input and its Deflate data.
struct Block {
  std::vector<unsigned char> input;
  size_t data_size = 0;
  bool last = false;
  // Not zero-filled: only the pages the compressor writes become resident.
  std::unique_ptr<unsigned char[]> output;
  size_t output_capacity = 0;
  size_t output_size = 0;
  uint32_t crc32 = 0;
  bool done = false;
};

class Pipeline {
 public:
  Pipeline(File& source, File& sink, int threads) : source_(source), sink_(sink) {
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    max_in_flight_ = threads * kBlocksInFlightPerThread + 1;
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    writer_ = std::thread([this] { Write(); });
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;
  ~Pipeline() { Stop(); }

  DeflateResult Run() {
    try {
      Read();
    } catch (...) {
      Fail(std::current_exception());
    }
    {
      std::unique_lock lock(mu_);
      cv_.wait(lock, [&] { return (finished_writing_ || error_); });
    }
    Stop();
    if (error_) std::rethrow_exception(error_);
    return result_;
  }

 private:
  void Read() {
    for (bool last = false; !last;) {
      Block* block = TakeFreeBlock();
      if (block == nullptr) return;  // stopped by a failure
      block->input.resize(kDeflateBlockSize);
      block->data_size = source_.Read(block->input.data(), kDeflateBlockSize);
      block->last = last = block->data_size < static_cast<size_t>(kDeflateBlockSize);
      block->done = false;
      std::lock_guard lock(mu_);
      work_.push_back(block);
      order_.push_back(block);
      cv_.notify_all();
    }
  }

  // A block to fill: a recycled one, or a new one while fewer than the limit exist.
  Block* TakeFreeBlock() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [&] {
      return stopping_ || error_ || !free_.empty() || static_cast<int>(blocks_.size()) < max_in_flight_;
    });
    if (stopping_ || error_) return nullptr;
    if (!free_.empty()) {
      Block* block = free_.back();
      free_.pop_back();
      return block;
    }
    blocks_.push_back(std::make_unique<Block>());
    return blocks_.back().get();
  }

  void Work() {
    try {
      DeflateBlockCompressor compressor;
      for (;;) {
        Block* block;
        {
          std::unique_lock lock(mu_);
          cv_.wait(lock, [&] { return stopping_ || error_ || !work_.empty(); });
          if (stopping_ || error_) return;
          block = work_.front();
          work_.pop_front();
        }
        Compress(compressor, block);
        std::lock_guard lock(mu_);
        block->done = true;
        cv_.notify_all();
      }
    } catch (...) {
      Fail(std::current_exception());
    }
  }

  static void Compress(DeflateBlockCompressor& compressor, Block* block) {
    block->crc32 = libdeflate_crc32(0, block->input.data(), block->data_size);
    size_t bound = DeflateBlockCompressor::OutputBound(block->data_size);
    if (block->output_capacity < bound) {
      block->output.reset(new unsigned char[bound]);
      block->output_capacity = bound;
    }
    block->output_size = compressor.Compress(block->input.data(), block->data_size, block->last,
                                             block->output.get());
  }

  // Writes the blocks in input order as they are done, and combines their CRC-32 values.
  void Write() {
    try {
      for (;;) {
        Block* block;
        {
          std::unique_lock lock(mu_);
          cv_.wait(lock, [&] { return stopping_ || error_ || (!order_.empty() && order_.front()->done); });
          if (stopping_ || error_) return;
          block = order_.front();
          order_.pop_front();
        }
        sink_.Write(block->output.get(), static_cast<int64_t>(block->output_size));
        result_.crc32 = static_cast<uint32_t>(
            crc32_combine(result_.crc32, block->crc32, static_cast<z_off_t>(block->data_size)));
        result_.uncompressed_size += static_cast<int64_t>(block->data_size);
        result_.compressed_size += static_cast<int64_t>(block->output_size);
        std::lock_guard lock(mu_);
        if (block->last) {
          finished_writing_ = true;
        } else {
          free_.push_back(block);
        }
        cv_.notify_all();
        if (block->last) return;
      }
    } catch (...) {
      Fail(std::current_exception());
    }
  }

  void Fail(std::exception_ptr error) {
    std::lock_guard lock(mu_);
    if (!error_) error_ = error;
    cv_.notify_all();
  }

  void Stop() {
    {
      std::lock_guard lock(mu_);
      stopping_ = true;
      cv_.notify_all();
    }
    for (std::thread& t : workers_) {
      if (t.joinable()) t.join();
    }
    if (writer_.joinable()) writer_.join();
  }

  File& source_;
  File& sink_;
  int max_in_flight_;
  std::vector<std::thread> workers_;
  std::thread writer_;

  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::unique_ptr<Block>> blocks_;  // GUARDED_BY(mu_); every block made
  std::vector<Block*> free_;                    // GUARDED_BY(mu_)
  std::deque<Block*> work_;                     // GUARDED_BY(mu_); to compress
  std::deque<Block*> order_;                    // GUARDED_BY(mu_); to write, in input order
  bool stopping_ = false;                       // GUARDED_BY(mu_)
  bool finished_writing_ = false;               // GUARDED_BY(mu_)
  std::exception_ptr error_;                    // GUARDED_BY(mu_)
  DeflateResult result_;                        // written by the writer thread only
};

}  // namespace

DeflateBlockCompressor::DeflateBlockCompressor()
    : compressor_(libdeflate_alloc_compressor(kDeflateLevel)),
      probe_(libdeflate_alloc_compressor(kProbeLevel)) {
  if (compressor_ == nullptr || probe_ == nullptr) {
    libdeflate_free_compressor(compressor_);
    libdeflate_free_compressor(probe_);
    throw Exception("Deflate could not be started: not enough memory");
  }
  probe_output_.reset(new unsigned char[kProbeSize]);
}

DeflateBlockCompressor::~DeflateBlockCompressor() {
  libdeflate_free_compressor(compressor_);
  libdeflate_free_compressor(probe_);
}

size_t DeflateBlockCompressor::OutputBound(size_t input_size) {
  return std::max(libdeflate_deflate_compress_bound(nullptr, input_size),
                  StoredBlocksSize(input_size)) +
         kDeflateContinuationBytes;
}

bool DeflateBlockCompressor::LooksIncompressible(const unsigned char* input, size_t size) {
  // Bytes spread this evenly leave Huffman codes nothing to gain; the fast level then tells
  // whether repeats would, on the block's start. The bytes are counted in pieces spread over the
  // block, which is as telling as counting them all and much cheaper.
  std::array<std::array<uint32_t, 256>, 4> counts{};
  size_t pieces = size <= kProbeSize ? 1 : kSpreadPieces;
  size_t piece = size <= kProbeSize ? size : kProbeSize / kSpreadPieces;
  for (size_t p = 0; p < pieces; ++p) {
    const unsigned char* at = input + (pieces == 1 ? 0 : p * (size - piece) / (pieces - 1));
    size_t i = 0;
    for (; i + 4 <= piece; i += 4) {
      ++counts[0][at[i]];
      ++counts[1][at[i + 1]];
      ++counts[2][at[i + 2]];
      ++counts[3][at[i + 3]];
    }
    for (; i < piece; ++i) ++counts[0][at[i]];
  }
  double sum = 0;
  for (int byte = 0; byte < 256; ++byte) {
    double c = counts[0][byte] + counts[1][byte] + counts[2][byte] + counts[3][byte];
    if (c > 0) sum += c * std::log2(c);
  }
  size_t counted = pieces * piece;
  double n = static_cast<double>(counted);
  double bits_per_byte = counted == 0 ? 0 : std::log2(n) - sum / n;
  if (bits_per_byte < kIncompressibleBitsPerByte) return false;
  size_t probe = std::min(size, kProbeSize);
  // Zero: the data did not fit in fewer bytes than it has.
  return libdeflate_deflate_compress(probe_, input, probe, probe_output_.get(), probe - 1) == 0;
}

size_t DeflateBlockCompressor::Compress(const unsigned char* input, size_t size, bool last,
                                        unsigned char* output) {
  if (LooksIncompressible(input, size)) return WriteStoredBlocks(input, size, last, output);
  size_t room = OutputBound(size) - kDeflateContinuationBytes;
  size_t written = libdeflate_deflate_compress(compressor_, input, size, output, room);
  if (written == 0) throw Exception("Deflate failed: its output outgrew its bound");
  if (last) return written;
  DeflateStreamShape shape = ScanDeflateStream(output, written);
  if (shape.uncompressed_size != size) {
    throw Exception(Format("Deflate failed: a block of %d bytes inflates to %d", size,
                           shape.uncompressed_size));
  }
  return ContinueDeflateStream(output, written, shape);
}

DeflateResult DeflateFile(File& source, File& sink, int threads) {
  Pipeline pipeline(source, sink, threads);
  return pipeline.Run();
}

}  // namespace vantry
