#include "transfer/fast_sender.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/exception.h"
#include "remoting/binary_stream.h"
#include "remoting/message.h"
#include "remoting/tcp_channel.h"
#include "transfer/fast_receiver.h"
#include "transfer/fast_transfer_intf.h"
#include "transfer/rate_limiter.h"
#include "transfer/transfer_hash.h"
#include "transfer/transfer_record.h"

namespace vantry {
namespace {

// One connection of a transfer with its message and proxy. Chunks travel uncompressed: backups
// are compressed already, if at all.
struct Link {
  Link(const std::string& target_server, const FastSendOptions& options) {
    message.SetUseCompression(false);
    message.SetAddServerExceptionPrefix(options.server_exception_prefix);
    channel.SetHost(target_server);
    channel.SetTlsContext(options.tls);
    channel.SetKeepAlive(true);
    channel.CheckProperties();
  }
  TROBinMessage message;
  TROTCPChannel channel;
  TFastTransfer_Proxy proxy{message, channel};
};

struct Job {
  int64_t offset;
  uint64_t hash;
  size_t buffer;
};

// What the reading thread and the connection threads share.
class Pipeline {
 public:
  Pipeline(size_t buffers, const FastSendOptions& options, int64_t total)
      : buffers_(buffers), options_(options), total_(total) {
    for (size_t i = 0; i < buffers; ++i) free_.push_back(i);
  }

  // The reader: a free buffer, or nullopt once a connection failed.
  std::optional<size_t> TakeFree() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !free_.empty() || error_; });
    if (error_) return std::nullopt;
    size_t index = free_.front();
    free_.pop_front();
    return index;
  }
  void GiveBack(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(index);
    changed_.notify_all();
  }
  void Post(Job job) {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(job);
    changed_.notify_all();
  }
  void Skip(int64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    Advance(bytes);
  }
  void EndOfFile() {
    std::lock_guard<std::mutex> lock(mutex_);
    reading_done_ = true;
    changed_.notify_all();
  }
  void Fail(std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!error_) error_ = error;
    changed_.notify_all();
  }
  std::exception_ptr Error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }
  TROBinaryMemoryStream& Buffer(size_t index) { return buffers_[index]; }

  // A connection thread: sends jobs until the file is read and every job is taken, or a
  // connection failed.
  void Send(IFastTransfer& target, const std::string& token, RateLimiter& own_limit) {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !jobs_.empty() || reading_done_ || error_; });
        if (error_ || jobs_.empty()) return;
        job = jobs_.front();
        jobs_.pop_front();
      }
      TROBinaryMemoryStream& chunk = buffers_[job.buffer];
      for (int attempt = 0;; ++attempt) {
        own_limit.Acquire(chunk.Size());
        if (options_.shared_rate_limit != nullptr) options_.shared_rate_limit->Acquire(chunk.Size());
        chunk.Rewind();
        try {
          target.PutChunk(token, job.offset, static_cast<int64_t>(job.hash), &chunk);
          break;
        } catch (const std::exception& error) {
          bool damaged = std::string(error.what()).find(kDamagedChunkText) != std::string::npos;
          if (!damaged || attempt >= kDamagedChunkRetries) throw;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ++chunks_;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      ++chunks_;
      Advance(chunk.Size());
      free_.push_back(job.buffer);
      changed_.notify_all();
    }
  }

  int64_t Chunks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return chunks_;
  }

 private:
  // Called with mutex_ held.
  void Advance(int64_t bytes) {
    done_ += bytes;
    if (options_.progress) options_.progress(done_, total_);
  }

  std::vector<TROBinaryMemoryStream> buffers_;
  const FastSendOptions& options_;
  const int64_t total_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<size_t> free_;     // guarded by mutex_
  std::deque<Job> jobs_;        // guarded by mutex_
  bool reading_done_ = false;   // guarded by mutex_
  std::exception_ptr error_;    // guarded by mutex_
  int64_t done_ = 0;            // guarded by mutex_
  int64_t chunks_ = 0;          // guarded by mutex_
};

// Reads the file in chunks, hashes it, and posts what the receiver does not hold. Returns the
// whole file's hash; stops early (the error is the pipeline's) when a connection failed.
uint64_t ReadAndPost(File& source, int64_t size, int64_t chunk_size,
                     const std::map<int64_t, VerifiedChunk>& held, Pipeline& pipeline,
                     int64_t* skipped) {
  FileHash whole;
  for (int64_t offset = 0; offset < size;) {
    std::optional<size_t> index = pipeline.TakeFree();
    if (!index) break;
    TROBinaryMemoryStream& buffer = pipeline.Buffer(*index);
    int64_t n = std::min(chunk_size, size - offset);
    buffer.SetSize(n);
    if (source.Read(buffer.Data(), n) != n) RaiseStreamReadError();
    uint64_t hash = ChunkHash(buffer.Data(), static_cast<size_t>(n));
    whole.AddChunk(hash);
    auto found = held.find(offset);
    if (found != held.end() && found->second == VerifiedChunk{offset, n, hash}) {
      *skipped += n;
      pipeline.Skip(n);
      pipeline.GiveBack(*index);
    } else {
      pipeline.Post({offset, hash, *index});
    }
    offset += n;
  }
  return whole.Digest();
}

}  // namespace

bool IsFastTransferNotOffered(const std::exception& error) {
  return std::string(error.what()).find(Format("Class factory for interface %s not found",
                                               kFastTransferServiceName)) != std::string::npos;
}

std::optional<FastSendResult> SendFast(const std::string& target_server, File& source,
                                       int64_t size, const std::string& target_file_name,
                                       const FastSendOptions& options) {
  Link control(target_server, options);
  std::string answer;
  try {
    answer = control.proxy.OpenTransfer(target_file_name, size, options.chunk_size);
  } catch (const std::exception& error) {
    if (IsFastTransferNotOffered(error)) return std::nullopt;
    throw;
  }
  std::string token;
  std::vector<VerifiedChunk> held_list;
  ParseOpenAnswer(answer, &token, &held_list);
  std::map<int64_t, VerifiedChunk> held;
  for (const VerifiedChunk& chunk : held_list) held[chunk.offset] = chunk;

  const int connections = std::max(1, options.connections);
  FastSendResult result;
  result.total = size;
  Pipeline pipeline(static_cast<size_t>(connections) + 2, options, size);
  RateLimiter own_limit(options.rate_limit);
  std::vector<std::thread> threads;
  uint64_t file_hash = 0;
  try {
    for (int i = 0; i < connections; ++i) {
      threads.emplace_back([&] {
        try {
          Link link(target_server, options);
          pipeline.Send(link.proxy, token, own_limit);
        } catch (...) {
          pipeline.Fail(std::current_exception());
        }
      });
    }
    file_hash = ReadAndPost(source, size, options.chunk_size, held, pipeline, &result.skipped);
  } catch (...) {
    pipeline.Fail(std::current_exception());
  }
  pipeline.EndOfFile();
  for (std::thread& thread : threads) thread.join();
  if (std::exception_ptr error = pipeline.Error()) std::rethrow_exception(error);
  control.proxy.FinishTransfer(token, static_cast<int64_t>(file_hash));
  result.chunks = pipeline.Chunks();
  return result;
}

}  // namespace vantry
