#include "host/metrics_text.h"

#include <cmath>
#include <cstdio>

namespace vantry {

namespace {

std::string Escaped(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace

void MetricsText::Family(std::string_view name, std::string_view type, std::string_view help) {
  text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
  text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void MetricsText::Sample(std::string_view name, double value, const Labels& labels) {
  text_.append(name);
  if (!labels.empty()) {
    text_ += '{';
    for (size_t i = 0; i < labels.size(); ++i) {
      if (i > 0) text_ += ',';
      text_.append(labels[i].first).append("=\"").append(Escaped(labels[i].second)).append("\"");
    }
    text_ += '}';
  }
  char number[32];
  // Whole numbers as integers: byte counts beyond 2^53 are not expected.
  if (std::floor(value) == value && std::fabs(value) < 1e15) {
    std::snprintf(number, sizeof number, " %.0f\n", value);
  } else {
    std::snprintf(number, sizeof number, " %.6g\n", value);
  }
  text_ += number;
}

}  // namespace vantry
