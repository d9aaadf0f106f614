#include "zip/parallel_deflate.h"

#include <zlib.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/exception.h"
#include "zip/zip_format.h"

namespace vantry {
namespace {

// One block: the dictionary (up to 32 KiB of the input before it) followed by its own input.
struct Block {
  std::vector<unsigned char> input;
  size_t dictionary_size = 0;
  size_t data_size = 0;
  bool last = false;
  // Not zero-filled: only the pages deflate writes become resident.
  std::unique_ptr<unsigned char[]> output;
  size_t output_capacity = 0;
  size_t output_size = 0;
  uint32_t crc32 = 0;
  bool done = false;
};

// A raw-Deflate compressor at the normal level, reused for every block a worker takes.
class BlockCompressor {
 public:
  BlockCompressor() {
    if (deflateInit2(&stream_, kDeflateLevel, Z_DEFLATED, -kDeflateWindowBits, kDeflateMemLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      throw Exception("Deflate could not be started: not enough memory");
    }
  }
  BlockCompressor(const BlockCompressor&) = delete;
  BlockCompressor& operator=(const BlockCompressor&) = delete;
  ~BlockCompressor() { deflateEnd(&stream_); }

  // Every block but the last ends on a sync flush (an empty stored block, byte aligned, not
  // final), so the next block's bits start on a byte; the last one finishes the stream.
  void Compress(Block* block) {
    deflateReset(&stream_);
    if (block->dictionary_size > 0) {
      deflateSetDictionary(&stream_, block->input.data(), block->dictionary_size);
    }
    unsigned char* data = block->input.data() + block->dictionary_size;
    block->crc32 = ::crc32(0, data, block->data_size);
    size_t bound = deflateBound(&stream_, block->data_size) + 16;
    if (block->output_capacity < bound) {
      block->output.reset(new unsigned char[bound]);
      block->output_capacity = bound;
    }
    stream_.next_in = data;
    stream_.avail_in = static_cast<uInt>(block->data_size);
    stream_.next_out = block->output.get();
    stream_.avail_out = static_cast<uInt>(block->output_capacity);
    int flush = block->last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
      int result = deflate(&stream_, flush);
      bool finished = block->last ? result == Z_STREAM_END
                                  : stream_.avail_in == 0 && stream_.avail_out != 0;
      if (finished) break;
      if (result != Z_OK && result != Z_BUF_ERROR) throw Exception("Deflate failed");
      size_t used = block->output_capacity - stream_.avail_out;
      std::unique_ptr<unsigned char[]> larger(new unsigned char[block->output_capacity * 2]);
      std::memcpy(larger.get(), block->output.get(), used);
      block->output = std::move(larger);
      block->output_capacity *= 2;
      stream_.next_out = block->output.get() + used;
      stream_.avail_out = static_cast<uInt>(block->output_capacity - used);
    }
    block->output_size = block->output_capacity - stream_.avail_out;
  }

 private:
  z_stream stream_{};
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
    std::vector<unsigned char> tail;  // the last 32 KiB of input read so far
    for (bool last = false; !last;) {
      Block* block = TakeFreeBlock();
      if (block == nullptr) return;  // stopped by a failure
      block->dictionary_size = tail.size();
      block->input.resize(tail.size() + kDeflateBlockSize);
      if (!tail.empty()) std::memcpy(block->input.data(), tail.data(), tail.size());
      unsigned char* data = block->input.data() + tail.size();
      block->data_size = source_.Read(data, kDeflateBlockSize);
      block->last = last = block->data_size < static_cast<size_t>(kDeflateBlockSize);
      block->done = false;
      if (block->data_size >= static_cast<size_t>(kDeflateWindowSize)) {
        tail.assign(data + block->data_size - kDeflateWindowSize, data + block->data_size);
      } else {
        tail.insert(tail.end(), data, data + block->data_size);
        if (tail.size() > static_cast<size_t>(kDeflateWindowSize)) {
          tail.erase(tail.begin(), tail.end() - kDeflateWindowSize);
        }
      }
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
      BlockCompressor compressor;
      for (;;) {
        Block* block;
        {
          std::unique_lock lock(mu_);
          cv_.wait(lock, [&] { return stopping_ || error_ || !work_.empty(); });
          if (stopping_ || error_) return;
          block = work_.front();
          work_.pop_front();
        }
        compressor.Compress(block);
        std::lock_guard lock(mu_);
        block->done = true;
        cv_.notify_all();
      }
    } catch (...) {
      Fail(std::current_exception());
    }
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

DeflateResult DeflateFile(File& source, File& sink, int threads) {
  Pipeline pipeline(source, sink, threads);
  return pipeline.Run();
}

}  // namespace vantry
