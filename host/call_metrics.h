// TCallMetrics: the counters of the remote calls, by operation and outcome, and their durations
// as a histogram by operation. The slots are fixed when it is made (the contract's operations
// and the error classes the service raises, each with a catch-all), so counting on a connection
// thread is a few relaxed atomic additions and never a lock, and a caller cannot grow the label
// space by sending made-up names.
//
// Thread safety: Record() from any number of threads at once; Write() from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/metrics_text.h"
#include "remoting/dispatch.h"

namespace vantry {

class TCallMetrics {
 public:
  TCallMetrics();
  void Record(const TROCallRecord& call);
  // Appends vantry_calls_total and vantry_call_duration_seconds.
  void Write(MetricsText& out) const;

  // Upper bounds of the duration buckets, in seconds (+Inf follows).
  static constexpr std::array<double, 10> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.05,
                                                       0.1,   0.5,    1,     5,    30};

 private:
  size_t OperationSlot(std::string_view operation) const;
  size_t OutcomeSlot(std::string_view outcome) const;

  std::vector<std::string> operations_;  // the contract's, then "other"
  std::vector<std::string> outcomes_;    // "ok", the known classes, then "other"
  struct PerOperation {
    std::vector<std::atomic<uint64_t>> by_outcome;
    std::array<std::atomic<uint64_t>, kBuckets.size() + 1> buckets{};
    std::atomic<uint64_t> micros{0};  // the sum of the durations
  };
  std::vector<PerOperation> slots_;
};

}  // namespace vantry
