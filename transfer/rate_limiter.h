// RateLimiter: holds the bytes that pass it to a rate, for the bandwidth caps of the fast
// transfer. Each Acquire books its bytes on a schedule and waits until the schedule reaches
// them, so callers on several threads share the rate; a burst of up to one second's bytes is
// let through when the limiter was idle.
//
// Thread safety: Acquire and SetRate may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace vantry {

class RateLimiter {
 public:
  // `bytes_per_second` 0 lets everything through at once.
  explicit RateLimiter(int64_t bytes_per_second = 0) : rate_(bytes_per_second) {}
  RateLimiter(const RateLimiter&) = delete;
  RateLimiter& operator=(const RateLimiter&) = delete;

  using Clock = std::chrono::steady_clock;

  void SetRate(int64_t bytes_per_second);
  // Returns when `bytes` may go.
  void Acquire(int64_t bytes);
  // Books `bytes` at `now` and returns when they may go (`now` itself without a cap): what
  // Acquire waits for.
  Clock::time_point Book(int64_t bytes, Clock::time_point now);

 private:
  std::mutex mutex_;
  int64_t rate_;                // guarded by mutex_
  Clock::time_point next_{};    // guarded by mutex_: when the booked bytes have gone
};

// The one limiter of this process for the cap on all its fast transfers together.
RateLimiter& ServiceRateLimiter();

}  // namespace vantry
