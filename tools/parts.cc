#include "tools/parts.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <optional>

#include "platform/file_system.h"
#include "platform/path_helpers.h"
#include "tools/local_directory.h"
#include "transfer/transfer_record.h"

namespace vantry::client {
namespace {

std::optional<int64_t> Number(std::string_view text) {
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

// Reads ".l<total>" + `suffix` + rest at the end of `name`: the total, and the rest (the start
// offset of a part, empty otherwise).
std::optional<std::pair<int64_t, std::string>> SplitName(const std::string& name,
                                                         const std::string& suffix) {
  size_t at = name.rfind(suffix);
  size_t l = at == std::string::npos ? std::string::npos : name.rfind(".l", at);
  if (l == std::string::npos) return std::nullopt;
  std::optional<int64_t> total = Number(std::string_view(name).substr(l + 2, at - l - 2));
  if (!total) return std::nullopt;
  return std::pair{*total, name.substr(at + suffix.size())};
}

}  // namespace

std::vector<TransferFile> ListTransferFiles(const std::string& directory, const Clock& clock) {
  LocalDirectory local(directory);
  PosixFileSystem& file_system = local.Files();
  const std::string dir = IncludeTrailingBackslash(local.WindowsPath());
  std::vector<TransferFile> files;
  for (const char* pattern : {"*.part_*", "*.work", "*.work.record"}) {
    for (const FileEntry& entry : file_system.FindFiles(dir + pattern)) {
      if ((entry.attributes & kFileAttributeDirectory) != 0) continue;
      TransferFile file;
      file.size = entry.size;
      file.age_days = std::max(0.0, clock.Now() - entry.last_write);
      file.path = file_system.HostPath(dir + entry.name);
      const std::string name = entry.name;
      if (auto part = SplitName(name, ".part_")) {
        std::optional<int64_t> start = Number(part->second);
        if (!start) continue;
        file.kind = "part";
        file.total = part->first;
        file.held = entry.size;
        file.complete = *start == 0 && entry.size == file.total;
      } else if (auto work = SplitName(name, ".work")) {
        if (!work->second.empty() && work->second != ".record") continue;
        file.kind = work->second.empty() ? "work" : "record";
        file.total = work->first;
        std::string record = dir + name.substr(0, name.size() - work->second.size()) + ".record";
        if (file_system.FileExists(record)) {
          for (const VerifiedChunk& chunk :
               ParseRecord(file_system.ReadWholeFile(record), file.total)) {
            file.held += chunk.length;
          }
        }
        file.complete = file.held == file.total;
      } else {
        continue;
      }
      files.push_back(file);
    }
  }
  std::sort(files.begin(), files.end(),
            [](const TransferFile& a, const TransferFile& b) { return a.path < b.path; });
  return files;
}

int RemoveTransferFiles(const std::vector<TransferFile>& files) {
  int removed = 0;
  for (const TransferFile& file : files) {
    std::error_code error;
    removed += std::filesystem::remove(file.path, error) ? 1 : 0;
  }
  return removed;
}

}  // namespace vantry::client
