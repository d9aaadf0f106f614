// ReceiveBackup: the receiving half of a backup transfer. The state of a transfer lives only in
// the part files beside the final file ("<name>.l<total>.part_<start>"), so a transfer survives
// a restart of this service and a sender may start again from offset 0 at any time.
#include <charconv>
#include <memory>

#include "contract/backup_transfer_format.h"
#include "platform/exception.h"
#include "platform/file_helpers.h"
#include "platform/os_error.h"
#include "platform/path_helpers.h"
#include "service/VantryService_Impl.h"

namespace vantry {
namespace {

// A 64-bit integer as the part names carry it: optional blanks and sign, then decimal digits or
// "$"/"0x" and hex digits. EConvertError "'%s' is not a valid integer value" for anything else.
int64_t StrToInt64(const std::string& text) {
  std::string_view rest = text;
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  bool negative = !rest.empty() && rest.front() == '-';
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) rest.remove_prefix(1);
  int base = 10;
  if (rest.starts_with("$")) {
    rest.remove_prefix(1);
    base = 16;
  } else if (rest.starts_with("0x") || rest.starts_with("0X")) {
    rest.remove_prefix(2);
    base = 16;
  }
  uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), magnitude, base);
  bool fits = negative ? magnitude <= uint64_t{1} << 63 : magnitude <= uint64_t{INT64_MAX};
  if (rest.empty() || error != std::errc() || end != rest.data() + rest.size() || !fits) {
    throw EConvertError(Format("'%s' is not a valid integer value", text));
  }
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

// Opens the part a chunk goes into, without sharing: a second call on the same part fails
// instead of interleaving its data with ours.
std::unique_ptr<File> OpenPart(FileSystem& file_system, const std::string& path, bool existing) {
  return file_system.OpenFileStream(
      path, FileAccess::kReadWrite, FileShare::kNone,
      existing ? FileDisposition::kOpenExisting : FileDisposition::kCreateAlways);
}

}  // namespace

void TVantryService::ReceiveBackup(const std::string& file_name, int64_t total_file_size,
                                   int64_t offset, TROBinaryMemoryStream* data_chunk) {
  if (data_chunk == nullptr) {
    throw Exception(
        Format("ReceiveBackup of \"%s\" at offset %d carries no DataChunk", file_name, offset));
  }
  const std::string prefix = BackupPartPrefix(file_name, total_file_size);
  const std::string new_part = Format("%s%d", prefix, offset);
  const std::string directory = ExtractFilePath(file_name);
  // Not checked: a directory that could not be made fails the create below.
  ForceDirectories(file_system_, ExtractFilePath(new_part));
  if (file_system_.FileExists(new_part)) file_system_.TryDeleteFile(new_part);

  // The part to append to is the one that ends where this chunk begins.
  const size_t prefix_name_length = ExtractFileName(prefix).size();
  std::string target;
  for (const FileEntry& entry : FindFiles(file_system_, prefix + "*", kFindAllAttributes)) {
    int64_t start = StrToInt64(entry.name.substr(prefix_name_length));
    std::string path = directory + entry.name;
    if (start + GetFileSize(path) == offset) {
      target = std::move(path);
      break;
    }
  }
  bool appending = !target.empty();
  if (!appending) target = new_part;

  int64_t size = 0;
  {
    std::unique_ptr<File> part = OpenPart(file_system_, target, appending);
    size = part->Seek(0, SeekOrigin::kEnd) + data_chunk->Size();
    part->Write(data_chunk->Data(), data_chunk->Size());
    host_.CountActivity(THostActivity::kBackupBytesReceived, data_chunk->Size());
    // A complete part reaches the disk before it takes the final name, so that a power failure
    // never leaves a final file whose content is not all there. Once per transfer, not per chunk.
    if (size == total_file_size) {
      part->Flush();
    } else {
      // The disk writes while the next chunk travels; the one flush at the end waits for less.
      part->StartWriteBack();
    }
    part->Close();
  }
  data_chunk->SetPosition(data_chunk->Size());
  // Only a part that has just reached the full size can complete; smaller and larger ones are
  // left as they are without searching the directory again.
  if (size != total_file_size) return;

  const std::string target_name = ExtractFileName(target);
  for (const FileEntry& entry : FindFiles(file_system_, prefix + "*", kFindAllAttributes)) {
    if (entry.name != target_name || GetFileSize(target) != total_file_size) continue;
    AssertBackupFileAbsent(file_system_.FileExists(file_name), file_name);
    // The plain rename of RenameFile, written through: the new name is on the disk when the
    // call returns.
    file_system_.MoveFile(target, file_name, kMoveFileWriteThrough);
    return;
  }
}

}  // namespace vantry
