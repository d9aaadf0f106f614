// Feeds arbitrary bytes as "AllowedSourceIPs.txt": the list must hold no comment and no empty
// entry, stay sorted without duplicates, and answer lookups, whatever the lines hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/string_lists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vantry::TSortedTextList list = vantry::ParseAllowedSourceIPs(text);
  for (size_t i = 0; i < list.Count(); ++i) {
    if (list[i].empty() || list[i].front() == '#') std::abort();
    if (i > 0 && vantry::CompareText(list[i - 1], list[i]) >= 0) std::abort();
    if (list.IndexOf(list[i]) != i) std::abort();
  }
  (void)list.IndexOf("127.0.0.1");
  return 0;
}
