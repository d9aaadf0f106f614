// The records of a ZIP archive as values: one archive entry (ZipEntry), the encoders of its local
// and central headers and of the end records (with their ZIP64 forms worked out from the values),
// the editing of extra-field lists, and the reader of an existing archive's central directory.
// Layouts and constants are in zip/zip_format.h.
//
// Thread safety: pure functions on values, except ReadCentralDirectory, which uses the File it is
// given (one thread at a time, as every File).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace vantry {

enum class ZipAction { kUnchanged, kAdd, kDelete };

// One entry of an archive. Names and extra fields are the bytes as stored.
struct ZipEntry {
  std::string stored_name;
  std::string disk_name;  // the source file of a new entry
  ZipAction action = ZipAction::kAdd;
  uint16_t version_made_by = 0;  // as read; new entries get theirs from FinishEntryVersions
  uint16_t version_needed = 0;
  uint8_t host_system = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dos_date_time = 0;  // (date << 16) | time
  uint32_t crc32 = 0;
  uint64_t compressed_size = 0;
  uint64_t uncompressed_size = 0;
  uint32_t disk_number_start = 0;
  uint16_t internal_attributes = 0;
  uint32_t external_attributes = 0;
  uint64_t local_header_offset = 0;
  std::string local_extra;    // the entry's own local extra fields
  std::string central_extra;  // the central header's extra fields, ZIP64 field included
  std::string comment;        // kept for entries read from an archive; empty for new ones
  // An entry taken over with flag bit 3 (as streaming writers and encrypting ones make them):
  // the data descriptor written after its data, as its old archive had it. Empty for all others:
  // this writer's own entries never carry one.
  std::string data_descriptor;
};

// Extra-field lists: the data of field `id`, or nullopt; setting keeps a present field's place
// and appends a new one; removing drops every field `id`. A list whose last field runs past its
// end is kept as it is after that point (it is not ours to repair).
std::optional<std::string> FindExtraField(std::string_view extra, uint16_t id);
std::string SetExtraField(std::string_view extra, uint16_t id, std::string_view data);
std::string RemoveExtraField(std::string_view extra, uint16_t id);

// The Unicode path field's data for `stored_name` with the UTF-8 form `utf8_name`.
std::string UnicodePathFieldData(std::string_view stored_name, std::string_view utf8_name);

// The central ZIP64 field's data for the entry's values: those that do not fit their header
// field, in the order uncompressed, compressed, offset, disk. Empty when all fit.
std::string CentralZip64Data(const ZipEntry& entry);
// True when the local header must send both sizes to its ZIP64 field: a size overflows, or the
// entry's data descriptor has 64-bit sizes (readers take the descriptor's form from the field).
bool LocalNeedsZip64(const ZipEntry& entry);

// Brings the entry's central extra fields (ZIP64 field worked out again from its values) and its
// version needed / made by up to date; call once the sizes and the offset are final.
void FinishEntryRecords(ZipEntry* entry);

// The local header: fixed part, name and the local extra fields (the entry's own, with the
// Unicode fields as the central header has them and the ZIP64 sizes when needed).
std::string EncodeLocalHeader(const ZipEntry& entry);
// The length EncodeLocalHeader will produce.
int64_t LocalHeaderSize(const ZipEntry& entry);
std::string EncodeCentralHeader(const ZipEntry& entry);

// What ends the archive: the ZIP64 end record and locator when a value overflows, then the end
// record. `end_offset` is where the result starts (just after the central directory).
std::string EncodeEndRecords(uint64_t entry_count, uint64_t directory_size,
                             uint64_t directory_offset, uint64_t end_offset);

// The entries of the archive open as `file` (positioned anywhere), in directory order, each
// marked unchanged. `file`'s size must be above 0. Throws Exception "Unhandled Archive Type" when
// no end record is found (and the file does not begin with the spanned-archive marker), and
// "Invalid file - not a PKZip file" when the directory cannot be read; EOSError from the file.
std::vector<ZipEntry> ReadCentralDirectory(File& file);

// The local extra fields of `entry` as its old local header holds them, and the offset where its
// data starts. Throws Exception "Invalid file - not a PKZip file" for a damaged header.
std::string ReadLocalExtra(File& file, const ZipEntry& entry, int64_t* data_offset);

// The data descriptor of `entry` (flag bit 3) that follows its data in `file` at `data_end`: the
// first of its forms whose CRC and sizes are the entry's, with the signature before without it,
// and the sizes as `zip64_sizes` says (the old local header holds a ZIP64 field) before the other
// width. When none follows (an earlier copy may have left it out), the one to write instead:
// with the signature, the sizes in the width `zip64_sizes` says, or 64 bits when they overflow.
// EOSError from the file.
std::string ReadDataDescriptor(File& file, const ZipEntry& entry, int64_t data_end,
                               bool zip64_sizes);

inline constexpr char kUnhandledArchiveType[] = "Unhandled Archive Type";
inline constexpr char kNotAPkZipFile[] = "Invalid file - not a PKZip file";

}  // namespace vantry
