#include "platform/background_flush.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "platform/os_error.h"

namespace vantry {
namespace {

using FileKey = std::pair<dev_t, ino_t>;

std::optional<FileKey> KeyOf(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return FileKey{st.st_dev, st.st_ino};
}

// One thread, started with the first request, flushing queued files one after the other.
class Flusher {
 public:
  ~Flusher() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    for (const Request& request : queue_) ::close(request.fd);
  }

  void Add(int fd) {
    std::optional<FileKey> key = KeyOf(fd);
    if (!key) return;
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_ || queue_.size() >= kMaxQueued) return;
    if (owner_ != 0 && owner_ != ::getpid()) return;  // a forked child has no flusher thread
    for (const Request& request : queue_) {
      if (request.key == *key) return;
    }
    // A description of its own: a duplicate of `fd` would keep the writer's share locks alive.
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    int own = RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (own < 0) return;
    queue_.push_back({*key, own});
    if (owner_ == 0) {
      owner_ = ::getpid();
      thread_ = std::thread(&Flusher::Run, this);
    }
    wake_.notify_one();
  }

  int TakeError(int fd) {
    std::optional<FileKey> key = KeyOf(fd);
    if (!key) return 0;
    std::unique_lock<std::mutex> lock(mu_);
    if (owner_ == ::getpid()) {  // a forked child has no flusher thread to wait for
      // A flush still queued is covered by the caller's own; one under way may yet fail.
      for (auto it = queue_.begin() + (flushing_ ? 1 : 0); it != queue_.end();) {
        if (it->key == *key) {
          ::close(it->fd);
          it = queue_.erase(it);
        } else {
          ++it;
        }
      }
      flushed_.wait(lock, [&] { return !flushing_ || queue_.front().key != *key; });
    }
    auto it = errors_.find(*key);
    if (it == errors_.end()) return 0;
    int error = it->second;
    errors_.erase(it);
    return error;
  }

  void SetSync(std::function<int(int)> sync) {
    std::lock_guard<std::mutex> lock(mu_);
    sync_ = std::move(sync);
  }

 private:
  struct Request {
    FileKey key;
    int fd;
  };
  static constexpr size_t kMaxQueued = 4;
  // Errors of files nobody flushes again are forgotten beyond this many.
  static constexpr size_t kMaxErrors = 256;

  void Run() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      Request request = queue_.front();
      std::function<int(int)> sync = sync_;
      flushing_ = true;
      lock.unlock();
      int error = sync ? sync(request.fd)
                       : RetryOnEintr([&] { return ::fdatasync(request.fd); }) == 0 ? 0 : errno;
      ::close(request.fd);
      lock.lock();
      // Removed only now: a file being flushed is not queued a second time.
      queue_.pop_front();
      flushing_ = false;
      if (error != 0 && errors_.size() < kMaxErrors) errors_[request.key] = error;
      flushed_.notify_all();
    }
  }

  std::mutex mu_;
  std::condition_variable wake_;      // work was queued, or stopping_
  std::condition_variable flushed_;   // a flush ended
  std::deque<Request> queue_;         // guarded by mu_
  bool flushing_ = false;             // guarded by mu_: the front of queue_ is being flushed
  std::function<int(int)> sync_;      // guarded by mu_; empty: fdatasync
  std::map<FileKey, int> errors_;     // guarded by mu_
  bool stopping_ = false;             // guarded by mu_
  pid_t owner_ = 0;                   // guarded by mu_: the process that runs thread_
  std::thread thread_;
};

Flusher& TheFlusher() {
  static Flusher flusher;
  return flusher;
}

}  // namespace

void FlushInBackground(int fd) { TheFlusher().Add(fd); }

int TakeBackgroundFlushError(int fd) { return TheFlusher().TakeError(fd); }

void SetBackgroundSyncForTesting(std::function<int(int fd)> sync) {
  TheFlusher().SetSync(std::move(sync));
}

}  // namespace vantry
