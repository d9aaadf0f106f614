// What the client prints: the named values a command produced, as readable text (the default)
// or as one JSON document (--json) for scripts. Texts here are UTF-8; the commands convert the
// service's Windows-1252 text before they hand it over.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantry::client {

// A value of a result or Out parameter: Boolean, number, text or list of texts; null for none.
using OutputValue =
    std::variant<std::monostate, bool, int64_t, double, std::string, std::vector<std::string>>;

struct NamedValue {
  std::string name;
  OutputValue value;
};

// One JSON document: the bare value when `values` holds one value named "Result", else an
// object of every value by name (empty for none). Ends with a newline.
std::string RenderJson(const std::vector<NamedValue>& values);
// Readable text: a lone value on its own (a list one item per line), several values as
// "Name: value" lines with lists indented below their name. Empty for no values.
std::string RenderText(const std::vector<NamedValue>& values);

}  // namespace vantry::client
