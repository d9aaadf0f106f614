#include "zip/zip_records.h"

#include <zlib.h>

#include <algorithm>

#include "platform/exception.h"
#include "zip/zip_format.h"

namespace vantry {
namespace {

void Put16(std::string* out, uint32_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string* out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put64(std::string* out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

uint32_t Get16(std::string_view s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8;
}
uint32_t Get32(std::string_view s, size_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }
uint64_t Get64(std::string_view s, size_t at) {
  return Get32(s, at) | static_cast<uint64_t>(Get32(s, at + 4)) << 32;
}

uint32_t Clamp32(uint64_t v) { return v >= kZip64Marker ? kZip64Marker : static_cast<uint32_t>(v); }

bool SizesOverflow(const ZipEntry& entry) {
  return entry.uncompressed_size >= kZip64Marker || entry.compressed_size >= kZip64Marker;
}

std::string EncodeDataDescriptor(const ZipEntry& entry, bool signature, bool zip64_sizes) {
  std::string out;
  if (signature) Put32(&out, kDataDescriptorSignature);
  Put32(&out, entry.crc32);
  if (zip64_sizes) {
    Put64(&out, entry.compressed_size);
    Put64(&out, entry.uncompressed_size);
  } else {
    Put32(&out, static_cast<uint32_t>(entry.compressed_size));
    Put32(&out, static_cast<uint32_t>(entry.uncompressed_size));
  }
  return out;
}

[[noreturn]] void RaiseDamaged() { throw Exception(kNotAPkZipFile); }

// Reads exactly `count` bytes at `offset`, or fails as a damaged archive.
std::string ReadAt(File& file, int64_t offset, int64_t count) {
  std::string bytes(count, '\0');
  file.Seek(offset, SeekOrigin::kBegin);
  if (file.Read(bytes.data(), count) != count) RaiseDamaged();
  return bytes;
}

// Visits every well-formed field of an extra-field list: f(id, data, whole field); returns the
// offset where the walk stopped (the list's length unless its tail is malformed).
template <typename F>
size_t ForEachExtraField(std::string_view extra, F f) {
  size_t at = 0;
  while (at + kExtraHeaderSize <= extra.size()) {
    uint32_t id = Get16(extra, at);
    size_t length = Get16(extra, at + 2);
    if (at + kExtraHeaderSize + length > extra.size()) break;
    f(id, extra.substr(at + kExtraHeaderSize, length), extra.substr(at, kExtraHeaderSize + length));
    at += kExtraHeaderSize + length;
  }
  return at;
}

std::string ExtraField(uint16_t id, std::string_view data) {
  std::string out;
  Put16(&out, id);
  Put16(&out, static_cast<uint32_t>(data.size()));
  out.append(data);
  return out;
}

// The local extra fields as they are written: the entry's own, the Unicode fields in step with
// the central header, the ZIP64 sizes exactly when the local sizes overflow.
std::string LocalExtraToWrite(const ZipEntry& entry) {
  std::string extra = entry.local_extra;
  for (uint16_t id : {kExtraUnicodePath, kExtraUnicodeName2}) {
    std::optional<std::string> central = FindExtraField(entry.central_extra, id);
    extra = central ? SetExtraField(extra, id, *central) : RemoveExtraField(extra, id);
  }
  if (LocalNeedsZip64(entry)) {
    std::string sizes;
    Put64(&sizes, entry.uncompressed_size);
    Put64(&sizes, entry.compressed_size);
    extra = SetExtraField(extra, kExtraZip64, sizes);
  } else {
    extra = RemoveExtraField(extra, kExtraZip64);
  }
  return extra;
}

// Takes the values that the central header sent to its ZIP64 field.
void ApplyZip64Field(std::string_view extra, ZipEntry* entry) {
  std::optional<std::string> data = FindExtraField(extra, kExtraZip64);
  size_t at = 0;
  auto next64 = [&](uint64_t* value) {
    if (*value != kZip64Marker) return;
    if (!data || at + 8 > data->size()) RaiseDamaged();
    *value = Get64(*data, at);
    at += 8;
  };
  next64(&entry->uncompressed_size);
  next64(&entry->compressed_size);
  next64(&entry->local_header_offset);
  if (entry->disk_number_start == kZip64Count) {
    if (!data || at + 4 > data->size()) RaiseDamaged();
    entry->disk_number_start = Get32(*data, at);
  }
}

struct DirectoryLocation {
  uint64_t entry_count = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
  uint64_t end = 0;  // where the records after the directory begin
};

// Finds the end record (the last one whose comment fits the file) and, through the locator, the
// ZIP64 end record. nullopt when there is no end record at all.
std::optional<DirectoryLocation> LocateDirectory(File& file, int64_t file_size) {
  int64_t tail_size = std::min<int64_t>(file_size, kMaxEndRecordSearch);
  std::string tail = ReadAt(file, file_size - tail_size, tail_size);
  for (int64_t at = tail_size - kEndRecordSize; at >= 0; --at) {
    if (Get32(tail, at) != kEndRecordSignature) continue;
    if (at + kEndRecordSize + static_cast<int64_t>(Get16(tail, at + 20)) > tail_size) continue;
    DirectoryLocation where;
    uint64_t end_offset = file_size - tail_size + at;
    if (Get16(tail, at + 4) != 0 || Get16(tail, at + 6) != 0) RaiseDamaged();  // spanned
    where.entry_count = Get16(tail, at + 10);
    where.size = Get32(tail, at + 12);
    where.offset = Get32(tail, at + 16);
    where.end = end_offset;
    if (end_offset >= kZip64LocatorSize) {
      std::string locator = ReadAt(file, end_offset - kZip64LocatorSize, kZip64LocatorSize);
      if (Get32(locator, 0) == kZip64LocatorSignature) {
        uint64_t record_offset = Get64(locator, 8);
        if (record_offset > end_offset - kZip64LocatorSize - kZip64EndRecordSize) RaiseDamaged();
        std::string record = ReadAt(file, record_offset, kZip64EndRecordSize);
        if (Get32(record, 0) != kZip64EndRecordSignature) RaiseDamaged();
        where.entry_count = Get64(record, 32);
        where.size = Get64(record, 40);
        where.offset = Get64(record, 48);
        where.end = record_offset;
      }
    }
    return where;
  }
  return std::nullopt;
}

// Parses one central header at `*at` of `directory`, advancing past it.
ZipEntry ParseCentralHeader(std::string_view directory, size_t* at) {
  size_t p = *at;
  if (p + kCentralHeaderSize > directory.size() || Get32(directory, p) != kCentralHeaderSignature) {
    RaiseDamaged();
  }
  size_t name_length = Get16(directory, p + 28);
  size_t extra_length = Get16(directory, p + 30);
  size_t comment_length = Get16(directory, p + 32);
  size_t end = p + kCentralHeaderSize + name_length + extra_length + comment_length;
  if (end > directory.size()) RaiseDamaged();
  ZipEntry entry;
  entry.action = ZipAction::kUnchanged;
  entry.version_made_by = static_cast<uint16_t>(Get16(directory, p + 4));
  entry.host_system = static_cast<uint8_t>(entry.version_made_by >> 8);
  entry.version_needed = static_cast<uint16_t>(Get16(directory, p + 6));
  entry.flags = static_cast<uint16_t>(Get16(directory, p + 8));
  entry.method = static_cast<uint16_t>(Get16(directory, p + 10));
  entry.dos_date_time = Get16(directory, p + 14) << 16 | Get16(directory, p + 12);
  entry.crc32 = Get32(directory, p + 16);
  entry.compressed_size = Get32(directory, p + 20);
  entry.uncompressed_size = Get32(directory, p + 24);
  entry.disk_number_start = Get16(directory, p + 34);
  entry.internal_attributes = static_cast<uint16_t>(Get16(directory, p + 36));
  entry.external_attributes = Get32(directory, p + 38);
  entry.local_header_offset = Get32(directory, p + 42);
  size_t name_at = p + kCentralHeaderSize;
  entry.stored_name = std::string(directory.substr(name_at, name_length));
  entry.central_extra = std::string(directory.substr(name_at + name_length, extra_length));
  entry.comment = std::string(directory.substr(name_at + name_length + extra_length, comment_length));
  ApplyZip64Field(entry.central_extra, &entry);
  if (entry.disk_number_start != 0) RaiseDamaged();
  *at = end;
  return entry;
}

}  // namespace

std::optional<std::string> FindExtraField(std::string_view extra, uint16_t id) {
  std::optional<std::string> found;
  ForEachExtraField(extra, [&](uint32_t field_id, std::string_view data, std::string_view) {
    if (field_id == id && !found) found = std::string(data);
  });
  return found;
}

std::string SetExtraField(std::string_view extra, uint16_t id, std::string_view data) {
  std::string out;
  bool placed = false;
  size_t end = ForEachExtraField(extra, [&](uint32_t field_id, std::string_view, std::string_view whole) {
    if (field_id != id) {
      out.append(whole);
    } else if (!placed) {
      out += ExtraField(id, data);
      placed = true;
    }
  });
  if (!placed) out += ExtraField(id, data);
  out.append(extra.substr(end));
  return out;
}

std::string RemoveExtraField(std::string_view extra, uint16_t id) {
  std::string out;
  size_t end = ForEachExtraField(extra, [&](uint32_t field_id, std::string_view, std::string_view whole) {
    if (field_id != id) out.append(whole);
  });
  out.append(extra.substr(end));
  return out;
}

std::string UnicodePathFieldData(std::string_view stored_name, std::string_view utf8_name) {
  std::string data(1, static_cast<char>(kUnicodePathVersion));
  Put32(&data, static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(stored_name.data()),
                                             static_cast<uInt>(stored_name.size()))));
  data.append(utf8_name);
  return data;
}

std::string CentralZip64Data(const ZipEntry& entry) {
  std::string data;
  if (entry.uncompressed_size >= kZip64Marker) Put64(&data, entry.uncompressed_size);
  if (entry.compressed_size >= kZip64Marker) Put64(&data, entry.compressed_size);
  if (entry.local_header_offset >= kZip64Marker) Put64(&data, entry.local_header_offset);
  if (entry.disk_number_start >= kZip64Count) Put32(&data, entry.disk_number_start);
  return data;
}

bool LocalNeedsZip64(const ZipEntry& entry) {
  return SizesOverflow(entry) || entry.data_descriptor.size() >= kDataDescriptorZip64Size;
}

void FinishEntryRecords(ZipEntry* entry) {
  std::string zip64 = CentralZip64Data(*entry);
  entry->central_extra = zip64.empty() ? RemoveExtraField(entry->central_extra, kExtraZip64)
                                       : SetExtraField(entry->central_extra, kExtraZip64, zip64);
  bool has_zip64 = FindExtraField(entry->central_extra, kExtraZip64).has_value();
  if (entry->action == ZipAction::kUnchanged) {
    // Taken over from an archive: its versions stand, raised only for a ZIP64 field it gained.
    if (has_zip64 || LocalNeedsZip64(*entry)) {
      entry->version_needed = std::max(entry->version_needed, kVersionZip64);
    }
    return;
  }
  bool directory = entry->stored_name.ends_with('/');
  if (has_zip64) {
    entry->version_needed = kVersionZip64;
  } else if (entry->method == kMethodDeflate || directory) {
    entry->version_needed = kVersionDeflate;
  } else {
    entry->version_needed = kVersionStored;
  }
  entry->version_made_by = static_cast<uint16_t>(
      entry->host_system << 8 | std::max(kVersionDeflate, entry->version_needed));
}

std::string EncodeLocalHeader(const ZipEntry& entry) {
  std::string extra = LocalExtraToWrite(entry);
  bool zip64 = LocalNeedsZip64(entry);
  std::string out;
  out.reserve(kLocalHeaderSize + entry.stored_name.size() + extra.size());
  Put32(&out, kLocalHeaderSignature);
  Put16(&out, entry.version_needed);
  Put16(&out, entry.flags);
  Put16(&out, entry.method);
  Put16(&out, entry.dos_date_time & 0xFFFF);
  Put16(&out, entry.dos_date_time >> 16);
  Put32(&out, entry.crc32);
  Put32(&out, zip64 ? kZip64Marker : static_cast<uint32_t>(entry.compressed_size));
  Put32(&out, zip64 ? kZip64Marker : static_cast<uint32_t>(entry.uncompressed_size));
  Put16(&out, static_cast<uint32_t>(entry.stored_name.size()));
  Put16(&out, static_cast<uint32_t>(extra.size()));
  out += entry.stored_name;
  out += extra;
  return out;
}

int64_t LocalHeaderSize(const ZipEntry& entry) {
  return kLocalHeaderSize + entry.stored_name.size() + LocalExtraToWrite(entry).size();
}

std::string EncodeCentralHeader(const ZipEntry& entry) {
  std::string out;
  Put32(&out, kCentralHeaderSignature);
  Put16(&out, entry.version_made_by);
  Put16(&out, entry.version_needed);
  Put16(&out, entry.flags);
  Put16(&out, entry.method);
  Put16(&out, entry.dos_date_time & 0xFFFF);
  Put16(&out, entry.dos_date_time >> 16);
  Put32(&out, entry.crc32);
  Put32(&out, Clamp32(entry.compressed_size));
  Put32(&out, Clamp32(entry.uncompressed_size));
  Put16(&out, static_cast<uint32_t>(entry.stored_name.size()));
  Put16(&out, static_cast<uint32_t>(entry.central_extra.size()));
  Put16(&out, static_cast<uint32_t>(entry.comment.size()));
  Put16(&out, std::min<uint32_t>(entry.disk_number_start, kZip64Count));
  Put16(&out, entry.internal_attributes);
  Put32(&out, entry.external_attributes);
  Put32(&out, Clamp32(entry.local_header_offset));
  out += entry.stored_name;
  out += entry.central_extra;
  out += entry.comment;
  return out;
}

std::string EncodeEndRecords(uint64_t entry_count, uint64_t directory_size,
                             uint64_t directory_offset, uint64_t end_offset) {
  std::string out;
  bool zip64 = entry_count >= kZip64Count || directory_size >= kZip64Marker ||
               directory_offset >= kZip64Marker;
  if (zip64) {
    Put32(&out, kZip64EndRecordSignature);
    Put64(&out, kZip64EndRecordRestSize);
    Put16(&out, kVersionZip64);
    Put16(&out, kVersionZip64);
    Put32(&out, 0);
    Put32(&out, 0);
    Put64(&out, entry_count);
    Put64(&out, entry_count);
    Put64(&out, directory_size);
    Put64(&out, directory_offset);
    Put32(&out, kZip64LocatorSignature);
    Put32(&out, 0);
    Put64(&out, end_offset);
    Put32(&out, 1);
  }
  uint32_t count = entry_count >= kZip64Count ? kZip64Count : static_cast<uint32_t>(entry_count);
  Put32(&out, kEndRecordSignature);
  Put16(&out, 0);
  Put16(&out, 0);
  Put16(&out, count);
  Put16(&out, count);
  Put32(&out, Clamp32(directory_size));
  Put32(&out, Clamp32(directory_offset));
  Put16(&out, 0);
  return out;
}

std::vector<ZipEntry> ReadCentralDirectory(File& file) {
  int64_t file_size = file.Size();
  std::optional<DirectoryLocation> where = LocateDirectory(file, file_size);
  if (!where) {
    std::string head = ReadAt(file, 0, std::min<int64_t>(file_size, 4));
    if (head.size() < 4 || Get32(head, 0) != kSpannedArchiveMarker) {
      throw Exception(kUnhandledArchiveType);
    }
    RaiseDamaged();  // a spanned archive without its last volume
  }
  if (where->size > kMaxCentralDirectorySize || where->offset > where->end ||
      where->size > where->end - where->offset ||
      where->entry_count > where->size / kCentralHeaderSize) {
    RaiseDamaged();
  }
  std::string directory = ReadAt(file, where->offset, where->size);
  std::vector<ZipEntry> entries;
  size_t at = 0;
  for (uint64_t i = 0; i < where->entry_count; ++i) {
    ZipEntry entry = ParseCentralHeader(directory, &at);
    if (entry.local_header_offset > where->offset ||
        entry.compressed_size > where->offset - entry.local_header_offset) {
      RaiseDamaged();
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string ReadLocalExtra(File& file, const ZipEntry& entry, int64_t* data_offset) {
  int64_t offset = static_cast<int64_t>(entry.local_header_offset);
  std::string header = ReadAt(file, offset, kLocalHeaderSize);
  if (Get32(header, 0) != kLocalHeaderSignature) RaiseDamaged();
  int64_t name_length = Get16(header, kLocalNameLengthOffset);
  int64_t extra_length = Get16(header, kLocalExtraLengthOffset);
  *data_offset = offset + kLocalHeaderSize + name_length + extra_length;
  return ReadAt(file, offset + kLocalHeaderSize + name_length, extra_length);
}

std::string ReadDataDescriptor(File& file, const ZipEntry& entry, int64_t data_end,
                               bool zip64_sizes) {
  int64_t available = std::clamp<int64_t>(file.Size() - data_end, 0, kDataDescriptorMaxSize);
  std::string found = ReadAt(file, data_end, available);
  for (bool signature : {true, false}) {
    for (bool zip64 : {zip64_sizes, !zip64_sizes}) {
      if (!zip64 && SizesOverflow(entry)) continue;
      std::string candidate = EncodeDataDescriptor(entry, signature, zip64);
      if (found.starts_with(candidate)) return candidate;
    }
  }
  return EncodeDataDescriptor(entry, true, zip64_sizes || SizesOverflow(entry));
}

}  // namespace vantry
