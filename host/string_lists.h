// The host's text lists, the case rules they compare by, and the splitting of its text files
// into lines. TSortedTextList keeps its entries sorted without regard to case and drops an entry
// already present (the caller allow-list and the backup-permission registry); the
// other-target-server list is a plain std::vector in the order of the configuration.
//
// Case rules: only the letters "a" to "z" and "A" to "Z" fold; other bytes compare as they are.
//
// Thread safety: none of its own; the host guards its lists with the host lock.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantry {

// `text` with "a" to "z" changed to upper case; every other byte unchanged.
std::string UpperCase(std::string_view text);
// <0, 0 or >0 as `a` sorts before, with or after `b` without regard to case.
int CompareText(std::string_view a, std::string_view b);
inline bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

// The lines of an 8-bit text file, each without its line end; CR, LF and CR LF all end a line,
// and a last line without one counts too. The views point into `text`.
std::vector<std::string_view> SplitLines(std::string_view text);

class TSortedTextList {
 public:
  // Inserts `text` in sorted position. Returns false, leaving the list unchanged, when an entry
  // equal to it without regard to case is already present.
  bool Add(std::string text);
  // The index of the entry equal to `text` without regard to case, or nullopt.
  std::optional<size_t> IndexOf(std::string_view text) const;
  void Delete(size_t index);
  void Clear() { items_.clear(); }

  size_t Count() const { return items_.size(); }
  const std::string& operator[](size_t index) const { return items_[index]; }
  const std::vector<std::string>& Items() const { return items_; }

 private:
  std::vector<std::string> items_;  // sorted by CompareText, no two entries SameText
};

// The caller allow-list from the text of "AllowedSourceIPs.txt": each line taken as written,
// empty lines skipped, duplicates (ignoring case) collapsed, then every entry beginning with "#"
// removed.
TSortedTextList ParseAllowedSourceIPs(std::string_view text);

}  // namespace vantry
