// The Prometheus text exposition of the service's figures: families with their HELP and TYPE
// lines, then one sample per label set. Label values are escaped; names are the caller's.
//
// Thread safety: one writer per thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantry {

class MetricsText {
 public:
  using Labels = std::vector<std::pair<std::string, std::string>>;
  // Starts a family: `type` is "counter" or "gauge".
  void Family(std::string_view name, std::string_view type, std::string_view help);
  // One sample of the family begun last.
  void Sample(std::string_view name, double value, const Labels& labels = {});
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace vantry
