#include "contract/backup_chunk_sender.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "contract/backup_transfer_format.h"
#include "platform/exception.h"
#include "remoting/binary_stream.h"

namespace vantry {
namespace {

// Reads `file` from `start` to `size` in chunks of kBackupChunkSize on a thread of its own, one
// chunk ahead of the caller. The file is touched only by that thread while the reader lives.
class ChunkReader {
 public:
  ChunkReader(File& file, int64_t start, int64_t size) : file_(file), start_(start), size_(size) {
    thread_ = std::thread(&ChunkReader::Run, this);
  }
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;
  ~ChunkReader() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // The next chunk, positioned at 0; valid until the following call. Rethrows a failed read
  // (EReadError "Stream read error" when the file ends early) once every chunk read before it
  // has been handed out.
  TROBinaryMemoryStream& Next() {
    std::unique_lock<std::mutex> lock(mu_);
    // The caller is done with the chunk it had: the reader may fill that buffer now.
    if (handed_out_ >= 0) free_[handed_out_] = true;
    int index = next_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return ready_[index] || error_; });
    // A chunk read before the failure still goes out: the receiver keeps all that was read.
    if (!ready_[index]) std::rethrow_exception(error_);
    ready_[index] = false;
    handed_out_ = index;
    next_ = 1 - index;
    buffers_[index].Rewind();
    return buffers_[index];
  }

 private:
  void Run() {
    int64_t position = start_;
    for (int index = 0; position < size_; index = 1 - index) {
      {
        std::unique_lock<std::mutex> lock(mu_);
        changed_.wait(lock, [&] { return free_[index] || stopping_; });
        if (stopping_) return;
        free_[index] = false;
      }
      int64_t n = std::min(kBackupChunkSize, size_ - position);
      try {
        TROBinaryMemoryStream& buffer = buffers_[index];
        buffer.SetSize(n);
        if (file_.Read(buffer.Data(), n) != n) RaiseStreamReadError();
      } catch (...) {
        std::lock_guard<std::mutex> lock(mu_);
        error_ = std::current_exception();
        changed_.notify_all();
        return;
      }
      position += n;
      std::lock_guard<std::mutex> lock(mu_);
      ready_[index] = true;
      changed_.notify_all();
    }
  }

  File& file_;
  const int64_t start_;
  const int64_t size_;
  TROBinaryMemoryStream buffers_[2];
  std::mutex mu_;
  std::condition_variable changed_;
  bool free_[2] = {true, true};     // guarded by mu_: the reader may fill the buffer
  bool ready_[2] = {false, false};  // guarded by mu_: filled, not yet handed out
  int next_ = 0;                    // guarded by mu_: the buffer Next() hands out
  int handed_out_ = -1;             // guarded by mu_: the buffer the caller holds
  bool stopping_ = false;           // guarded by mu_
  std::exception_ptr error_;        // guarded by mu_
  std::thread thread_;
};

}  // namespace

int64_t SendBackupChunks(IVantryService& target, File& file, const std::string& target_file_name,
                         int64_t start, int64_t size,
                         const std::function<void(int64_t, int64_t)>& progress,
                         const std::function<void(bool)>& before_call) {
  int64_t calls = 0;
  if (start == size && size > 0) {
    TROBinaryMemoryStream empty;
    if (before_call) before_call(false);
    target.ReceiveBackup(target_file_name, size, size, &empty);
    if (progress) progress(size, size);
    return 1;
  }
  ChunkReader reader(file, start, size);
  for (int64_t position = start; position < size; ++calls) {
    TROBinaryMemoryStream& chunk = reader.Next();
    if (before_call) before_call(position + chunk.Size() < size);
    target.ReceiveBackup(target_file_name, size, position, &chunk);
    position += chunk.Size();
    if (progress) progress(position, size);
  }
  return calls;
}

}  // namespace vantry
