#include "platform/background_flush.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
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
    std::lock_guard<std::mutex> lock(mu_);
    auto it = errors_.find(*key);
    if (it == errors_.end()) return 0;
    int error = it->second;
    errors_.erase(it);
    return error;
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
      lock.unlock();
      int error = RetryOnEintr([&] { return ::fdatasync(request.fd); }) == 0 ? 0 : errno;
      ::close(request.fd);
      lock.lock();
      // Removed only now: a file being flushed is not queued a second time.
      queue_.pop_front();
      if (error != 0 && errors_.size() < kMaxErrors) errors_[request.key] = error;
    }
  }

  std::mutex mu_;
  std::condition_variable wake_;
  std::deque<Request> queue_;         // guarded by mu_; the front one is being flushed
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

}  // namespace vantry
