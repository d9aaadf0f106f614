#include "transfer/rate_limiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace vantry {
namespace {

using Clock = RateLimiter::Clock;
using std::chrono::duration;
using std::chrono::seconds;

constexpr int64_t kChunk = int64_t{2} << 20;

// Senders that each send a chunk as soon as the limiter lets it go, on a made-up clock: the bytes
// that went within each whole second of `span`.
std::vector<double> BytesPerSecond(RateLimiter& limiter, int senders, seconds span) {
  const Clock::time_point start{};
  std::vector<Clock::time_point> ready(static_cast<size_t>(senders), start);
  std::vector<double> per_second(static_cast<size_t>(span.count()), 0);
  while (true) {
    auto next = std::min_element(ready.begin(), ready.end());
    Clock::time_point go = limiter.Book(kChunk, *next);
    if (go - start >= span) break;
    per_second[static_cast<size_t>(std::chrono::duration_cast<seconds>(go - start).count())] +=
        static_cast<double>(kChunk);
    *next = go;
  }
  return per_second;
}

TEST(RateLimiterTest, TheCapHoldsWithinTenPercentOverFiveSecondsForOneOrManySenders) {
  constexpr int64_t kRate = 20 << 20;
  for (int senders : {1, 8}) {
    RateLimiter limiter(kRate);
    std::vector<double> per_second = BytesPerSecond(limiter, senders, seconds(6));
    double total = 0;
    // The first second may carry the one second's worth an idle limiter lends.
    for (size_t s = 1; s < per_second.size(); ++s) total += per_second[s];
    EXPECT_NEAR(total / 5, kRate, kRate * 0.1) << senders << " senders";
    EXPECT_LE(per_second[0], 2.0 * kRate + kChunk) << senders << " senders";
  }
}

TEST(RateLimiterTest, WithoutARateEverythingGoesAtOnceAndANewRateTakesOver) {
  RateLimiter limiter;
  const Clock::time_point now{seconds(100)};
  EXPECT_EQ(limiter.Book(int64_t{1} << 40, now), now);
  limiter.SetRate(kChunk);  // one chunk a second
  Clock::time_point last = now;
  for (int i = 0; i < 4; ++i) last = limiter.Book(kChunk, now);
  // The idle second lent lets the first go a second early; then one a second.
  EXPECT_EQ(last - now, seconds(2));
}

}  // namespace
}  // namespace vantry
