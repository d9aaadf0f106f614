// Byte layout of the ZIP archives the writer produces and reads back: record signatures, the
// offsets of the fields that readers look at, versions, methods, extra-field identifiers, the
// 32-bit markers that send a value to the ZIP64 field, and the limits against hostile archives.
// All numbers in the file are little-endian.
//
//   archive = { local header, entry data, [data descriptor] }*  central directory
//             [ZIP64 end record, locator]  end record
//
//   local header (30 + name + extra)     central header (46 + name + extra + comment)
//    0 signature 0x04034B50               0 signature 0x02014B50
//    4 version needed                     4 version made by (host << 8 | version)
//    6 flags                              6 version needed
//    8 method                             8 flags
//   10 DOS time, 12 DOS date             10 method, 12 DOS time, 14 DOS date
//   14 CRC-32                            16 CRC-32
//   18 compressed size                   20 compressed size, 24 uncompressed size
//   22 uncompressed size                 28 name length, 30 extra length, 32 comment length
//   26 name length, 28 extra length      34 disk number start, 36 internal, 38 external attrs
//   30 name, extra                       42 local header offset, 46 name, extra, comment
//
//   data descriptor, after the data when flag bit 3 is set (12, 16, 20 or 24):
//    [signature 0x08074B50] CRC-32, compressed size, uncompressed size (4 bytes each, or 8 each
//    when the local header holds a ZIP64 field)
//
//   end record (22 + comment): 0 signature, 4 this disk, 6 directory's disk, 8 entries here,
//   10 entries, 12 directory size, 16 directory offset, 20 comment length.
//   ZIP64 end record (56): 0 signature, 4 size of the rest (44), 12 made by, 14 needed, 16 disk,
//   20 directory's disk, 24 entries here, 32 entries, 40 directory size, 48 directory offset.
//   ZIP64 locator (20): 0 signature, 4 disk of the ZIP64 end record, 8 its offset, 16 disks.
#pragma once

#include <cstdint>

namespace vantry {

inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t kEndRecordSignature = 0x06054B50;
inline constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
// After the data of an entry with flag bit 3, optionally: the data descriptor's signature.
inline constexpr uint32_t kDataDescriptorSignature = 0x08074B50;
// At offset 0: a spanned archive's first volume. Such a file counts as a ZIP archive.
inline constexpr uint32_t kSpannedArchiveMarker = kDataDescriptorSignature;

inline constexpr int kLocalHeaderSize = 30;
inline constexpr int kCentralHeaderSize = 46;
inline constexpr int kEndRecordSize = 22;
inline constexpr int kZip64EndRecordSize = 56;
inline constexpr int kZip64LocatorSize = 20;
// Data descriptor: [signature], CRC-32, compressed size, uncompressed size; the sizes have 8 bytes
// each when the local header holds a ZIP64 field, else 4. So 12 or 16 bytes with 32-bit sizes, 20
// or 24 with 64-bit ones.
inline constexpr int kDataDescriptorZip64Size = 20;  // without the signature
inline constexpr int kDataDescriptorMaxSize = 4 + kDataDescriptorZip64Size;
inline constexpr uint64_t kZip64EndRecordRestSize = kZip64EndRecordSize - 12;

// Offsets inside the local header that the reader of an existing archive needs.
inline constexpr int kLocalNameLengthOffset = 26;
inline constexpr int kLocalExtraLengthOffset = 28;

// Versions (version needed, and the low byte of version made by).
inline constexpr uint16_t kVersionStored = 10;
inline constexpr uint16_t kVersionDeflate = 20;  // also directories, and the least "made by"
inline constexpr uint16_t kVersionZip64 = 45;

// Host systems (high byte of version made by).
inline constexpr uint8_t kHostMsDos = 0;  // name in the OEM code page
inline constexpr uint8_t kHostNtfs = 11;  // name in the ANSI code page

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflate = 8;

inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8Name = 0x0800;

// Extra fields: 2-byte identifier, 2-byte data length, data.
inline constexpr uint16_t kExtraZip64 = 0x0001;
inline constexpr uint16_t kExtraUnicodePath = 0x7075;  // version 1, CRC-32 of the name, UTF-8
inline constexpr uint16_t kExtraUnicodeName2 = 0x554E;  // kept in step with the central header
inline constexpr uint8_t kUnicodePathVersion = 1;
inline constexpr int kExtraHeaderSize = 4;

// A 32-bit field holding this (or a 16-bit field holding kZip64Count) sends its value to the
// ZIP64 field or ZIP64 end record.
inline constexpr uint32_t kZip64Marker = 0xFFFFFFFF;
inline constexpr uint16_t kZip64Count = 0xFFFF;

// The end record sits within this many bytes of the end of the file (its comment is at most
// 65535 bytes).
inline constexpr int kMaxEndRecordSearch = kEndRecordSize + 0xFFFF;
// A central directory larger than this is refused as damaged, so a few forged bytes cannot claim
// unbounded memory. Archives of backups hold a few hundred entries, far below it.
inline constexpr uint64_t kMaxCentralDirectorySize = uint64_t{16} << 20;

// Deflate: raw stream (no zlib header), 32 KiB window, the normal level.
inline constexpr int kDeflateLevel = 6;

// MS-DOS date 1980-01-01 00:00, for files whose time the DOS format cannot express.
inline constexpr uint32_t kEarliestDosDateTime = 0x00210000;

}  // namespace vantry
