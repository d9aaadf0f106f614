#include "platform/file_helpers.h"

#include "platform/exception.h"
#include "platform/path_helpers.h"

namespace vantry {
namespace {

constexpr uint32_t kFileAttributeHidden = 0x02;
constexpr uint32_t kFileAttributeSystem = 0x04;
// Entries with these attributes are found only when the mask asks for them; other entries always.
constexpr uint32_t kSelectiveAttributes =
    kFileAttributeHidden | kFileAttributeSystem | kFileAttributeDirectory;

}  // namespace

std::vector<FileEntry> FindFiles(FileSystem& file_system, const std::string& pattern,
                                 uint32_t attribute_mask) {
  std::vector<FileEntry> entries = file_system.FindFiles(pattern);
  std::erase_if(entries, [&](const FileEntry& entry) {
    return (entry.attributes & kSelectiveAttributes & ~attribute_mask) != 0;
  });
  return entries;
}

bool ForceDirectories(FileSystem& file_system, const std::string& directory) {
  if (directory.empty()) throw EInOutError("Unable to create directory");
  std::string dir = ExcludeTrailingBackslash(directory);
  std::string parent = ExtractFilePath(dir);
  if (dir.size() < 3 || parent == dir || file_system.DirectoryExists(dir)) return true;
  return ForceDirectories(file_system, parent) && file_system.TryCreateDirectory(dir);
}

}  // namespace vantry
