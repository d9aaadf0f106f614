#include "tools/progress_bar.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>

namespace vantry::client {

std::string HumanBytes(double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  return unit == 0 ? fmt::format("{:.0f} B", bytes) : fmt::format("{:.1f} {}", bytes, kUnits[unit]);
}

ProgressBar::ProgressBar(int columns) : columns_(columns) {}

ProgressBar::~ProgressBar() {
  if (drawn_) std::fputc('\n', stderr);
}

std::string ProgressBar::Line(int64_t done, int64_t total, double seconds, int64_t start,
                              int columns) {
  double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
  double rate = seconds > 0 ? static_cast<double>(done - start) / seconds : 0;
  std::string left = "--:--";
  if (rate > 0) {
    auto remaining = static_cast<int64_t>(static_cast<double>(total - done) / rate);
    left = remaining >= 3600 ? fmt::format("{}h{:02}m", remaining / 3600, remaining / 60 % 60)
                             : fmt::format("{}m{:02}s", remaining / 60, remaining % 60);
  }
  std::string figures = fmt::format(" {} / {} {:3.0f}% {}/s {} left", HumanBytes(done),
                                    HumanBytes(total), fraction * 100, HumanBytes(rate), left);
  int bar = std::max(0, columns - 3 - static_cast<int>(figures.size()));
  int filled = static_cast<int>(fraction * bar);
  return "[" + std::string(filled, '#') + std::string(bar - filled, '-') + "]" + figures;
}

void ProgressBar::Update(int64_t done, int64_t total) {
  Clock::time_point now = Clock::now();
  if (first_done_ < 0) first_done_ = done;
  if (done < total && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  double seconds = std::chrono::duration<double>(now - started_).count();
  std::string line = Line(done, total, seconds, first_done_, columns_);
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace vantry::client
