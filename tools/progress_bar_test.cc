#include "tools/progress_bar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace vantry::client {
namespace {

TEST(ProgressBarTest, LineShowsBytesPercentRateAndTimeLeftWithinTheWidth) {
  struct Case {
    int64_t done, total;
    double seconds;
    int64_t start;
    const char* figures;
  };
  const int64_t kMiB = 1 << 20;
  for (const Case& c : {
           Case{0, 40 * kMiB, 0, 0, " 0 B / 40.0 MiB   0% 0 B/s --:-- left"},
           Case{10 * kMiB, 40 * kMiB, 1, 0, " 10.0 MiB / 40.0 MiB  25% 10.0 MiB/s 0m03s left"},
           // A resumed push measures its rate from where it resumed.
           Case{30 * kMiB, 40 * kMiB, 2, 20 * kMiB,
                " 30.0 MiB / 40.0 MiB  75% 5.0 MiB/s 0m02s left"},
           Case{kMiB, 40LL << 30, 1, 0, " 1.0 MiB / 40.0 GiB   0% 1.0 MiB/s 11h22m left"},
           Case{0, 0, 1, 0, " 0 B / 0 B 100% 0 B/s --:-- left"},
       }) {
    std::string line = ProgressBar::Line(c.done, c.total, c.seconds, c.start, 80);
    EXPECT_LE(line.size(), 80u) << line;
    EXPECT_TRUE(line.ends_with(c.figures)) << line;
    EXPECT_EQ(line.front(), '[');
  }
  std::string half = ProgressBar::Line(1, 2, 1, 0, 60);
  auto filled = std::count(half.begin(), half.end(), '#');
  auto empty = std::count(half.begin(), half.end(), '-');
  EXPECT_GT(filled, 0);
  EXPECT_LE(std::abs(filled - empty), 1) << half;
}

}  // namespace
}  // namespace vantry::client
