#include "tools/client_output.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>
#include <type_traits>

namespace vantry::client {
namespace {

std::string PlainText(const OutputValue& value) {
  struct Visitor {
    std::string operator()(std::monostate) const { return ""; }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(int64_t n) const { return std::to_string(n); }
    std::string operator()(double d) const { return fmt::format("{}", d); }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const std::vector<std::string>& items) const {
      std::string text;
      for (const std::string& item : items) text += item + "\n";
      return text;
    }
  };
  return std::visit(Visitor{}, value);
}

bool IsList(const OutputValue& value) {
  return std::holds_alternative<std::vector<std::string>>(value);
}

}  // namespace

std::string RenderJson(const std::vector<NamedValue>& values) {
  auto json_of = [](const OutputValue& value) {
    return std::visit(
        [](const auto& v) -> nlohmann::ordered_json {
          if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>) {
            return nullptr;
          } else {
            return v;
          }
        },
        value);
  };
  nlohmann::ordered_json document;
  if (values.size() == 1 && values[0].name == "Result") {
    document = json_of(values[0].value);
  } else {
    document = nlohmann::ordered_json::object();
    for (const NamedValue& v : values) document[v.name] = json_of(v.value);
  }
  // Text from the service is valid UTF-8 once converted; replacing keeps a stray byte harmless.
  return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string RenderText(const std::vector<NamedValue>& values) {
  if (values.size() == 1) {
    std::string text = PlainText(values[0].value);
    return IsList(values[0].value) ? text : text + "\n";
  }
  size_t width = 0;
  for (const NamedValue& v : values) width = std::max(width, v.name.size());
  std::string out;
  for (const NamedValue& v : values) {
    if (IsList(v.value)) {
      out += v.name + ":\n";
      for (const std::string& item : std::get<std::vector<std::string>>(v.value)) {
        out += "  " + item + "\n";
      }
    } else {
      out += fmt::format("{:<{}}  {}\n", v.name + ":", width + 1, PlainText(v.value));
    }
  }
  return out;
}

}  // namespace vantry::client
