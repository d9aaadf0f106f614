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

void TSortedTextList::Delete(size_t index) { items_.erase(items_.begin() + index); }

}  // namespace vantry
