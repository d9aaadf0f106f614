// Parses the Prometheus text exposition back, for tests of what the monitoring endpoint serves:
// it fails the running test for any sample whose family was not announced by HELP and TYPE.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

namespace vantry::testing_exposition {

// Parses an exposition back: every sample's family must have been announced by HELP and TYPE
// before it. Returns the samples (name with labels -> value) and the type of each family.
struct Exposition {
  std::map<std::string, double> samples;
  std::map<std::string, std::string> types;
};
inline Exposition ParseExposition(const std::string& text) {
  Exposition e;
  std::set<std::string> helped;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first, name, rest;
    words >> first;
    if (first == "#") {
      words >> rest >> name;
      if (rest == "HELP") helped.insert(name);
      if (rest == "TYPE") words >> e.types[name];
      continue;
    }
    std::string family = first.substr(0, first.find('{'));
    // A histogram's samples belong to the family without their suffix.
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
      std::string base = family.substr(0, family.size() - std::string(suffix).size());
      if (family.ends_with(suffix) && e.types[base] == "histogram") family = base;
    }
    EXPECT_TRUE(helped.count(family) && e.types.count(family)) << "no HELP/TYPE: " << line;
    double value = 0;
    EXPECT_TRUE(static_cast<bool>(words >> value)) << line;
    e.samples[first] = value;
  }
  return e;
}


}  // namespace vantry::testing_exposition
