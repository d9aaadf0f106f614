#include "host/call_metrics.h"

#include <cstdio>
#include <tuple>

#include "contract/vantry_operations.h"
#include "host/string_lists.h"

namespace vantry {

namespace {

// The classes an error reaching a caller can have: the service's own and the runtime's.
constexpr const char* kKnownOutcomes[] = {
    "ok",          "Exception",        "EOSError",           "EInOutError",     "EFOpenError",
    "EFCreateError", "EConvertError",  "EAssertionFailed",   "EVantryException", "EROException",
    "EROServerException", "ESocketError", "ECouldNotConnect", "ETlsError",     "EConnClosedGracefully",
};

}  // namespace

TCallMetrics::TCallMetrics() {
  std::apply([&](const auto&... op) { (operations_.emplace_back(op.name), ...); },
             kVantryOperations);
  operations_.emplace_back("other");
  for (const char* outcome : kKnownOutcomes) outcomes_.emplace_back(outcome);
  outcomes_.emplace_back("other");
  slots_ = std::vector<PerOperation>(operations_.size());
  for (PerOperation& slot : slots_) {
    slot.by_outcome = std::vector<std::atomic<uint64_t>>(outcomes_.size());
  }
}

size_t TCallMetrics::OperationSlot(std::string_view operation) const {
  for (size_t i = 0; i + 1 < operations_.size(); ++i) {
    if (SameText(operations_[i], operation)) return i;
  }
  return operations_.size() - 1;
}

size_t TCallMetrics::OutcomeSlot(std::string_view outcome) const {
  for (size_t i = 0; i + 1 < outcomes_.size(); ++i) {
    if (outcomes_[i] == outcome) return i;
  }
  return outcomes_.size() - 1;
}

void TCallMetrics::Record(const TROCallRecord& call) {
  PerOperation& slot = slots_[OperationSlot(call.operation)];
  slot.by_outcome[OutcomeSlot(call.outcome)].fetch_add(1, std::memory_order_relaxed);
  size_t bucket = 0;
  while (bucket < kBuckets.size() && call.seconds > kBuckets[bucket]) ++bucket;
  slot.buckets[bucket].fetch_add(1, std::memory_order_relaxed);
  slot.micros.fetch_add(static_cast<uint64_t>(call.seconds * 1e6), std::memory_order_relaxed);
}

void TCallMetrics::Write(MetricsText& out) const {
  out.Family("vantry_calls_total", "counter",
             "Remote calls answered, by operation and outcome (ok or the error's class).");
  for (size_t op = 0; op < operations_.size(); ++op) {
    for (size_t oc = 0; oc < outcomes_.size(); ++oc) {
      uint64_t n = slots_[op].by_outcome[oc].load(std::memory_order_relaxed);
      // Never-seen pairs stay out; a pair once seen stays, so the counter only grows.
      if (n == 0) continue;
      out.Sample("vantry_calls_total", static_cast<double>(n),
                 {{"operation", operations_[op]}, {"outcome", outcomes_[oc]}});
    }
  }
  out.Family("vantry_call_duration_seconds", "histogram",
             "Time from a request's parsing to its response, by operation.");
  for (size_t op = 0; op < operations_.size(); ++op) {
    const PerOperation& slot = slots_[op];
    uint64_t cumulative = 0;
    for (size_t b = 0; b <= kBuckets.size(); ++b) cumulative += slot.buckets[b].load(std::memory_order_relaxed);
    if (cumulative == 0) continue;
    cumulative = 0;
    for (size_t b = 0; b <= kBuckets.size(); ++b) {
      cumulative += slot.buckets[b].load(std::memory_order_relaxed);
      char le[32];
      if (b < kBuckets.size()) {
        std::snprintf(le, sizeof le, "%g", kBuckets[b]);
      } else {
        std::snprintf(le, sizeof le, "+Inf");
      }
      out.Sample("vantry_call_duration_seconds_bucket", static_cast<double>(cumulative),
                 {{"operation", operations_[op]}, {"le", le}});
    }
    out.Sample("vantry_call_duration_seconds_sum",
               static_cast<double>(slot.micros.load(std::memory_order_relaxed)) / 1e6,
               {{"operation", operations_[op]}});
    out.Sample("vantry_call_duration_seconds_count", static_cast<double>(cumulative),
               {{"operation", operations_[op]}});
  }
}

}  // namespace vantry
