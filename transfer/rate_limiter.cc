#include "transfer/rate_limiter.h"

#include <algorithm>
#include <thread>

namespace vantry {

void RateLimiter::SetRate(int64_t bytes_per_second) {
  std::lock_guard<std::mutex> lock(mutex_);
  rate_ = bytes_per_second;
}

void RateLimiter::Acquire(int64_t bytes) {
  const Clock::time_point now = Clock::now();
  const Clock::time_point start = Book(bytes, now);
  if (start > now) std::this_thread::sleep_until(start);
}

RateLimiter::Clock::time_point RateLimiter::Book(int64_t bytes, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (rate_ <= 0) return now;
  // An idle limiter lends at most one second's worth: the cap holds over any few seconds.
  next_ = std::max(next_, now - std::chrono::seconds(1));
  const Clock::time_point start = next_;
  next_ += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
      static_cast<double>(bytes) / static_cast<double>(rate_)));
  return start;
}

RateLimiter& ServiceRateLimiter() {
  static RateLimiter limiter;
  return limiter;
}

}  // namespace vantry
