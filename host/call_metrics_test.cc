#include "host/call_metrics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/testing/exposition.h"

namespace vantry {
namespace {

using testing_exposition::ParseExposition;

TEST(CallMetricsTest, CountsByOperationAndOutcomeWithAHistogramOfDurations) {
  TCallMetrics calls;
  calls.Record({"GetFreeDiskSpace", "ok", 0.0005});
  calls.Record({"getfreediskspace", "ok", 0.02});
  calls.Record({"DeleteFile", "EOSError", 2});
  // Names a caller made up do not become labels.
  calls.Record({"NoSuchOperation", "EMadeUp", 0.001});
  MetricsText text;
  calls.Write(text);
  auto e = ParseExposition(text.Text());
  EXPECT_EQ(e.types["vantry_calls_total"], "counter");
  EXPECT_EQ(e.types["vantry_call_duration_seconds"], "histogram");
  EXPECT_EQ(e.samples["vantry_calls_total{operation=\"GetFreeDiskSpace\",outcome=\"ok\"}"], 2);
  EXPECT_EQ(e.samples["vantry_calls_total{operation=\"DeleteFile\",outcome=\"EOSError\"}"], 1);
  EXPECT_EQ(e.samples["vantry_calls_total{operation=\"other\",outcome=\"other\"}"], 1);
  EXPECT_EQ(e.samples.size(), 3u + 3 * (TCallMetrics::kBuckets.size() + 3));
  // Buckets are cumulative: 0.0005 is under 0.001, 0.02 only under 0.05 and above.
  EXPECT_EQ(e.samples["vantry_call_duration_seconds_bucket{operation=\"GetFreeDiskSpace\",le=\"0.001\"}"], 1);
  EXPECT_EQ(e.samples["vantry_call_duration_seconds_bucket{operation=\"GetFreeDiskSpace\",le=\"0.05\"}"], 2);
  EXPECT_EQ(e.samples["vantry_call_duration_seconds_bucket{operation=\"DeleteFile\",le=\"1\"}"], 0);
  EXPECT_EQ(e.samples["vantry_call_duration_seconds_bucket{operation=\"DeleteFile\",le=\"+Inf\"}"], 1);
  EXPECT_EQ(e.samples["vantry_call_duration_seconds_count{operation=\"DeleteFile\"}"], 1);
  EXPECT_NEAR(e.samples["vantry_call_duration_seconds_sum{operation=\"GetFreeDiskSpace\"}"], 0.0205, 1e-6);
}

}  // namespace
}  // namespace vantry
