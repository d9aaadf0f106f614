#include "host/string_lists.h"

#include <algorithm>

namespace vantry {

namespace {

unsigned char FoldCase(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A')
                                : static_cast<unsigned char>(c);
}

bool LessText(const std::string& a, std::string_view b) { return CompareText(a, b) < 0; }

}  // namespace

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(FoldCase(c));
  return result;
}

int CompareText(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int d = FoldCase(a[i]) - FoldCase(b[i]);
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool TSortedTextList::Add(std::string text) {
  auto it = std::lower_bound(items_.begin(), items_.end(), text, LessText);
  if (it != items_.end() && SameText(*it, text)) return false;
  items_.insert(it, std::move(text));
  return true;
}

std::optional<size_t> TSortedTextList::IndexOf(std::string_view text) const {
  auto it = std::lower_bound(items_.begin(), items_.end(), text, LessText);
  if (it == items_.end() || !SameText(*it, text)) return std::nullopt;
  return static_cast<size_t>(it - items_.begin());
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

void TSortedTextList::Delete(size_t index) { items_.erase(items_.begin() + index); }

TSortedTextList ParseAllowedSourceIPs(std::string_view text) {
  TSortedTextList list;
  for (std::string_view line : SplitLines(text)) {
    // An empty line has no first character to test for "#" and spells no address.
    if (!line.empty()) list.Add(std::string(line));
  }
  for (size_t i = list.Count(); i-- > 0;) {
    if (list[i].front() == '#') list.Delete(i);
  }
  return list;
}

}  // namespace vantry
