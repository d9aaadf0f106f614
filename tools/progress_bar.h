// The progress bar of long transfers on the terminal: bytes done and total, percent, rate and
// time left, redrawn in place on standard error at most ten times a second.
//
// Thread safety: one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vantry::client {

class ProgressBar {
 public:
  // `columns`: the width to fill.
  explicit ProgressBar(int columns);
  ~ProgressBar();  // ends the line when something was drawn

  // Redraws with `done` of `total` bytes (always for the last update, else rate-limited).
  void Update(int64_t done, int64_t total);

  // One line of the bar for the given figures, `columns` wide at most (for tests).
  static std::string Line(int64_t done, int64_t total, double seconds, int64_t start, int columns);

 private:
  using Clock = std::chrono::steady_clock;
  const int columns_;
  const Clock::time_point started_ = Clock::now();
  Clock::time_point last_draw_{};
  int64_t first_done_ = -1;  // the bytes done at the first update (a resumed push starts there)
  bool drawn_ = false;
};

// "1.5 GiB", "12.0 MiB", "512 B".
std::string HumanBytes(double bytes);

}  // namespace vantry::client
