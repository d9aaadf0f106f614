#include "zip/ab_zipper.h"

#include <libdeflate.h>

#include <algorithm>

#include "platform/codepage.h"
#include "platform/event_log.h"
#include "platform/exception.h"
#include "platform/file_helpers.h"
#include "platform/os_error.h"
#include "platform/path_helpers.h"
#include "platform/temporary_files.h"
#include "zip/parallel_deflate.h"
#include "zip/zip_format.h"
#include "zip/zip_names.h"

namespace vantry {
namespace {

constexpr int64_t kCopyBlockSize = int64_t{1} << 20;
// Copies `count` bytes from `from` (at its position) to `to`, computing their CRC-32 when `crc` is
// given. Fails as a damaged archive when `from` ends early.
void CopyBytes(File& from, File& to, uint64_t count, uint32_t* crc) {
  std::vector<unsigned char> buffer(std::min<uint64_t>(count, kCopyBlockSize));
  while (count > 0) {
    int64_t want = static_cast<int64_t>(std::min<uint64_t>(count, buffer.size()));
    int64_t got = from.Read(buffer.data(), want);
    if (got != want) throw Exception(kNotAPkZipFile);
    if (crc != nullptr) *crc = libdeflate_crc32(*crc, buffer.data(), static_cast<size_t>(got));
    to.Write(buffer.data(), got);
    count -= got;
  }
}

std::string Trim(const std::string& s) {
  size_t begin = s.find_first_not_of(' ');
  if (begin == std::string::npos) return std::string();
  return s.substr(begin, s.find_last_not_of(' ') - begin + 1);
}

}  // namespace

TAbZipper::TAbZipper(FileSystem& file_system) : file_system_(file_system) {}

TAbZipper::~TAbZipper() { Release(); }

void TAbZipper::SetFileName(const std::string& file_name) {
  Close();
  file_name_ = file_name;
  try {
    if (file_system_.FileExists(file_name)) {
      // Write access with read-only sharing: a second writer of this archive is refused.
      archive_ = file_system_.OpenFile(file_name, FileAccess::kReadWrite, FileShare::kRead,
                                       FileDisposition::kOpenExisting);
      if (archive_->Size() > 0) {
        std::string name = ExtractFileName(file_name);
        if (name.size() < 4 || !AnsiSameText(name.substr(name.size() - 4), ".zip")) {
          throw Exception(kUnhandledArchiveType);
        }
        entries_ = ReadCentralDirectory(*archive_);
      }
    } else {
      archive_ = file_system_.OpenFile(file_name, FileAccess::kReadWrite, FileShare::kRead,
                                       FileDisposition::kCreateNew);
      created_archive_ = true;
    }
  } catch (...) {
    Release();
    throw;
  }
}

void TAbZipper::AddFiles(const std::string& file_mask, uint32_t search_attributes) {
  if (file_name_.empty()) throw Exception("No archive is open to add files to");
  size_t begin = 0;
  while (begin <= file_mask.size()) {
    size_t end = std::min(file_mask.find(';', begin), file_mask.size());
    std::string mask = Trim(file_mask.substr(begin, end - begin));
    begin = end + 1;
    if (mask.empty()) continue;
    std::replace(mask.begin(), mask.end(), '/', '\\');
    std::string directory = ExtractFilePath(mask);
    for (const FileEntry& found : FindFiles(file_system_, mask, search_attributes)) {
      if (found.name == "." || found.name == "..") continue;
      std::string disk_name = directory + found.name;
      if ((found.attributes & kFileAttributeDirectory) != 0) disk_name += '\\';
      if (AnsiSameText(disk_name, file_name_)) {
        ItemFailed(disk_name, "it is the archive file itself");
        continue;
      }
      AddEntry(disk_name);
    }
  }
}

void TAbZipper::AddEntry(const std::string& disk_name) {
  std::string name = StoredNameOf(disk_name);
  for (const ZipEntry& entry : entries_) {
    if (entry.action == ZipAction::kDelete) continue;
    std::string existing = AnsiNameOf(entry);
    if (AnsiSameText(existing, name)) {
      ItemFailed(disk_name, Format("the archive already holds an entry named \"%s\"", existing));
      return;
    }
  }
  ZipEntry entry;
  entry.action = ZipAction::kAdd;
  entry.method = kMethodDeflate;
  entry.disk_name = disk_name;
  SetEncodedName(name, &entry);
  entries_.push_back(std::move(entry));
  dirty_ = true;
}

void TAbZipper::Close() {
  if (file_name_.empty()) return;
  try {
    // Only the holder of the archive writes its temporary files, and we hold it: whatever is
    // there was left by a save that died.
    RemoveLeftoverTemporaryFiles(file_system_, file_name_);
    added_files_.clear();
    if (dirty_) Save();
  } catch (...) {
    Release();
    throw;
  }
  Release();
}

void TAbZipper::Save() {
  std::unique_ptr<File> out;
  std::string temporary_name = CreateUnderFreshName(
      [&](uint32_t number) { return TemporaryNameFor(file_name_, number); },
      [&](const std::string& name) {
        out = file_system_.OpenFile(name, FileAccess::kReadWrite, FileShare::kNone,
                                    FileDisposition::kCreateNew);
      });
  bool any_added = false;
  try {
    WriteArchive(*out);
    any_added = std::any_of(entries_.begin(), entries_.end(),
                            [](const ZipEntry& e) { return e.action == ZipAction::kAdd; });
    if (any_added) {
      // The data must be on the disk before the name points at it; the old archive must be
      // closed before it can be replaced.
      out->Flush();
      out->Close();
      archive_.reset();
      file_system_.MoveFile(temporary_name, file_name_,
                            kMoveFileReplaceExisting | kMoveFileWriteThrough);
      created_archive_ = false;  // the name now holds the saved archive
    }
  } catch (...) {
    out.reset();
    file_system_.TryDeleteFile(temporary_name);
    throw;
  }
  if (!any_added) {
    // Every new entry failed: the old archive stays exactly as it was.
    out.reset();
    file_system_.TryDeleteFile(temporary_name);
  }
  std::erase_if(entries_, [](const ZipEntry& e) { return e.action == ZipAction::kDelete; });
  for (ZipEntry& entry : entries_) {
    if (entry.action == ZipAction::kAdd) added_files_.push_back(entry.disk_name);
    entry.action = ZipAction::kUnchanged;
  }
  dirty_ = false;
}

void TAbZipper::WriteArchive(File& out) {
  for (ZipEntry& entry : entries_) {
    if (entry.action == ZipAction::kUnchanged) {
      CopyUnchangedEntry(&entry, out);
    } else if (entry.action == ZipAction::kAdd) {
      int64_t start = out.Seek(0, SeekOrigin::kCurrent);
      try {
        WriteNewEntry(&entry, out);
      } catch (const std::exception& e) {
        // Left out; the rest of the archive is still written.
        out.SetSize(start);
        out.Seek(start, SeekOrigin::kBegin);
        entry.action = ZipAction::kDelete;
        ItemFailed(entry.disk_name, e.what());
      }
    }
  }
  uint64_t directory_offset = out.Seek(0, SeekOrigin::kCurrent);
  uint64_t directory_size = 0;
  uint64_t count = 0;
  std::string pending;
  for (const ZipEntry& entry : entries_) {
    if (entry.action == ZipAction::kDelete) continue;
    pending += EncodeCentralHeader(entry);
    ++count;
    if (pending.size() >= static_cast<size_t>(kCopyBlockSize)) {
      out.Write(pending.data(), pending.size());
      directory_size += pending.size();
      pending.clear();
    }
  }
  out.Write(pending.data(), pending.size());
  directory_size += pending.size();
  std::string end = EncodeEndRecords(count, directory_size, directory_offset,
                                     directory_offset + directory_size);
  out.Write(end.data(), end.size());
}

void TAbZipper::WriteNewEntry(ZipEntry* entry, File& out) {
  bool directory = entry->disk_name.ends_with('\\');
  std::string path = directory ? ExcludeTrailingBackslash(entry->disk_name) : entry->disk_name;
  std::unique_ptr<File> source;
  if (!directory) {
    source = file_system_.OpenFile(path, FileAccess::kRead, FileShare::kRead,
                                   FileDisposition::kOpenExisting);
  }
  std::optional<FileEntry> info = file_system_.GetFileInfo(path);
  if (!info) RaiseOSError(kErrorFileNotFound);
  entry->external_attributes = info->attributes;
  entry->dos_date_time = DateTimeToDosDateTime(info->last_write).value_or(kEarliestDosDateTime);
  entry->flags &= kFlagUtf8Name;
  entry->internal_attributes = 0;
  entry->uncompressed_size = source ? source->Size() : 0;
  // The final sizes are at most the file's (larger deflate output is stored instead), so the
  // header's length is known before the data and it is rewritten in place afterwards.
  entry->compressed_size = entry->uncompressed_size;
  entry->local_header_offset = out.Seek(0, SeekOrigin::kCurrent);
  std::string placeholder(LocalHeaderSize(*entry), '\0');
  out.Write(placeholder.data(), placeholder.size());
  int64_t data_offset = out.Seek(0, SeekOrigin::kCurrent);

  entry->method = kMethodStored;
  entry->crc32 = 0;
  entry->compressed_size = 0;
  if (entry->uncompressed_size > 0) {
    DeflateResult deflated = DeflateFile(*source, out);
    if (deflated.uncompressed_size != static_cast<int64_t>(entry->uncompressed_size)) {
      throw Exception(Format("File \"%s\" changed its size while it was compressed", path));
    }
    if (deflated.compressed_size > deflated.uncompressed_size) {
      out.SetSize(data_offset);
      out.Seek(data_offset, SeekOrigin::kBegin);
      source->Seek(0, SeekOrigin::kBegin);
      uint32_t crc = 0;
      CopyBytes(*source, out, entry->uncompressed_size, &crc);
      entry->crc32 = crc;
      entry->compressed_size = entry->uncompressed_size;
    } else {
      entry->method = kMethodDeflate;
      entry->crc32 = deflated.crc32;
      entry->compressed_size = deflated.compressed_size;
    }
  }
  if (source) source->Close();
  FinishEntryRecords(entry);
  std::string header = EncodeLocalHeader(*entry);
  Assert(header.size() == placeholder.size(), "local header keeps its length", "ab_zipper",
         __LINE__);
  int64_t end = out.Seek(0, SeekOrigin::kCurrent);
  out.Seek(entry->local_header_offset, SeekOrigin::kBegin);
  out.Write(header.data(), header.size());
  out.Seek(end, SeekOrigin::kBegin);
}

void TAbZipper::CopyUnchangedEntry(ZipEntry* entry, File& out) {
  int64_t data_offset;
  entry->local_extra = ReadLocalExtra(*archive_, *entry, &data_offset);
  if ((entry->flags & kFlagDataDescriptor) != 0) {
    // The entry keeps its flag and its descriptor: readers look for the descriptor after the
    // data, and an encrypted entry's header is checked against the time, not the CRC, while the
    // flag is set. The local header keeps a ZIP64 field exactly when the descriptor has 64-bit
    // sizes, since readers take the descriptor's form from it.
    bool zip64_sizes = FindExtraField(entry->local_extra, kExtraZip64).has_value();
    entry->data_descriptor = ReadDataDescriptor(
        *archive_, *entry, data_offset + static_cast<int64_t>(entry->compressed_size), zip64_sizes);
  }
  entry->local_header_offset = out.Seek(0, SeekOrigin::kCurrent);
  FinishEntryRecords(entry);
  std::string header = EncodeLocalHeader(*entry);
  out.Write(header.data(), header.size());
  archive_->Seek(data_offset, SeekOrigin::kBegin);
  CopyBytes(*archive_, out, entry->compressed_size, nullptr);
  if (!entry->data_descriptor.empty()) {
    out.Write(entry->data_descriptor.data(), entry->data_descriptor.size());
  }
}

void TAbZipper::ItemFailed(const std::string& disk_name, const std::string& reason) {
  if (on_item_failure_) on_item_failure_(disk_name, reason);
}

void TAbZipper::Release() noexcept {
  archive_.reset();
  try {
    if (created_archive_) file_system_.TryDeleteFile(file_name_);
  } catch (...) {
    // Release must not throw; the empty file stays and is taken as an empty archive next time.
    WriteDebugLog("Removing the unsaved archive " + file_name_ + " failed: " +
                  CurrentExceptionText());
  }
  created_archive_ = false;
  file_name_.clear();
  entries_.clear();
  dirty_ = false;
}

}  // namespace vantry
