#include "zip/zip_records.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "zip/zip_format.h"
#include "zip/testing/zip_test_helpers.h"

namespace vantry {
namespace {

ZipEntry NewEntry(uint64_t uncompressed, uint64_t compressed, uint64_t offset) {
  ZipEntry e;
  e.stored_name = "Backups/db.fbk";
  e.method = kMethodDeflate;
  e.dos_date_time = 0x58B16DAF;
  e.crc32 = 0x12345678;
  e.uncompressed_size = uncompressed;
  e.compressed_size = compressed;
  e.local_header_offset = offset;
  e.external_attributes = 0x20;
  FinishEntryRecords(&e);
  return e;
}

TEST(ZipRecordsTest, LocalAndCentralHeaderOfANewEntryFieldByField) {
  ZipEntry e = NewEntry(1000, 400, 77);
  std::string local = EncodeLocalHeader(e);
  ASSERT_EQ(local.size(), 30u + 14);
  struct Field { size_t offset; int size; uint64_t value; };
  for (Field f : std::vector<Field>{{0, 4, 0x04034B50}, {4, 2, 20}, {6, 2, 0}, {8, 2, 8},
                                    {10, 2, 0x6DAF}, {12, 2, 0x58B1}, {14, 4, 0x12345678},
                                    {18, 4, 400}, {22, 4, 1000}, {26, 2, 14}, {28, 2, 0}}) {
    EXPECT_EQ(f.size == 2 ? U16(local, f.offset) : U32(local, f.offset), f.value) << f.offset;
  }
  EXPECT_EQ(local.substr(30), "Backups/db.fbk");
  std::string central = EncodeCentralHeader(e);
  ASSERT_EQ(central.size(), 46u + 14);
  for (Field f : std::vector<Field>{{0, 4, 0x02014B50}, {4, 2, 0x0014}, {6, 2, 20}, {8, 2, 0},
                                    {10, 2, 8}, {12, 2, 0x6DAF}, {14, 2, 0x58B1},
                                    {16, 4, 0x12345678}, {20, 4, 400}, {24, 4, 1000}, {28, 2, 14},
                                    {30, 2, 0}, {32, 2, 0}, {34, 2, 0}, {36, 2, 0}, {38, 4, 0x20},
                                    {42, 4, 77}}) {
    EXPECT_EQ(f.size == 2 ? U16(central, f.offset) : U32(central, f.offset), f.value) << f.offset;
  }
}

TEST(ZipRecordsTest, VersionsFollowMethodAndZip64) {
  ZipEntry stored = NewEntry(10, 10, 0);
  stored.method = kMethodStored;
  FinishEntryRecords(&stored);
  EXPECT_EQ(stored.version_needed, 10);
  EXPECT_EQ(stored.version_made_by, 0x0014);
  ZipEntry big = NewEntry(uint64_t{5} << 30, 100, 0);
  EXPECT_EQ(big.version_needed, 45);
  EXPECT_EQ(big.version_made_by, 45);
  ZipEntry ntfs = NewEntry(10, 5, 0);
  ntfs.host_system = kHostNtfs;
  FinishEntryRecords(&ntfs);
  EXPECT_EQ(ntfs.version_made_by, 0x0B14);
}

TEST(ZipRecordsTest, Zip64FieldsHoldExactlyTheValuesThatOverflow) {
  const uint64_t k5G = uint64_t{5} << 30, k4G = 0xFFFFFFFF;
  struct Row {
    uint64_t uncompressed, compressed, offset;
    std::vector<uint64_t> central_values;  // in the ZIP64 field, in order
    uint32_t central_u, central_c, central_o;
    bool local_zip64;
  };
  std::vector<Row> rows = {
      {1000, 400, 77, {}, 1000, 400, 77, false},
      {k5G, k5G, 0, {k5G, k5G}, k4G, k4G, 0, true},            // stored 5 GiB
      {k5G, 3000000000, 0, {k5G}, k4G, 3000000000, 0, true},   // deflated below 4 GiB
      {100, 50, k5G, {k5G}, 100, 50, k4G, false},              // entry beyond 4 GiB
      {k4G, 10, k4G, {k4G, k4G}, k4G, 10, k4G, true},          // exactly the marker overflows
  };
  for (const Row& r : rows) {
    ZipEntry e = NewEntry(r.uncompressed, r.compressed, r.offset);
    std::string central = EncodeCentralHeader(e);
    EXPECT_EQ(U32(central, 20), r.central_c);
    EXPECT_EQ(U32(central, 24), r.central_u);
    EXPECT_EQ(U32(central, 42), r.central_o);
    std::string extra = central.substr(46 + 14);
    if (r.central_values.empty()) {
      EXPECT_EQ(extra, "");
      EXPECT_EQ(e.version_needed, 20);
    } else {
      ASSERT_EQ(extra.size(), 4 + 8 * r.central_values.size());
      EXPECT_EQ(U16(extra, 0), 0x0001);
      EXPECT_EQ(U16(extra, 2), 8 * r.central_values.size());
      for (size_t i = 0; i < r.central_values.size(); ++i) {
        EXPECT_EQ(U64(extra, 4 + 8 * i), r.central_values[i]);
      }
      EXPECT_EQ(e.version_needed, 45);
    }
    std::string local = EncodeLocalHeader(e);
    EXPECT_EQ(static_cast<int64_t>(local.size()), LocalHeaderSize(e));
    if (r.local_zip64) {
      EXPECT_EQ(U32(local, 18), k4G);
      EXPECT_EQ(U32(local, 22), k4G);
      std::string local_extra = local.substr(30 + 14);
      ASSERT_EQ(local_extra.size(), 20u);
      EXPECT_EQ(U16(local_extra, 0), 0x0001);
      EXPECT_EQ(U16(local_extra, 2), 16);
      EXPECT_EQ(U64(local_extra, 4), r.uncompressed);
      EXPECT_EQ(U64(local_extra, 12), r.compressed);
    } else {
      EXPECT_EQ(local.size(), 30u + 14);
    }
  }
}

TEST(ZipRecordsTest, EndRecordsWithAndWithoutZip64) {
  std::string plain = EncodeEndRecords(2, 120, 5000, 5120);
  ASSERT_EQ(plain.size(), 22u);
  EXPECT_EQ(U32(plain, 0), 0x06054B50);
  EXPECT_EQ(U16(plain, 8), 2);
  EXPECT_EQ(U16(plain, 10), 2);
  EXPECT_EQ(U32(plain, 12), 120);
  EXPECT_EQ(U32(plain, 16), 5000);
  EXPECT_EQ(U16(plain, 20), 0);

  const uint64_t offset = uint64_t{5} << 30;
  std::string big = EncodeEndRecords(3, 200, offset, offset + 200);
  ASSERT_EQ(big.size(), 56u + 20 + 22);
  struct Field { size_t at; int size; uint64_t value; };
  for (Field f : std::vector<Field>{{0, 4, 0x06064B50}, {4, 8, 44}, {12, 2, 45}, {14, 2, 45},
                                    {16, 4, 0}, {20, 4, 0}, {24, 8, 3}, {32, 8, 3}, {40, 8, 200},
                                    {48, 8, offset}, {56, 4, 0x07064B50}, {60, 4, 0},
                                    {64, 8, offset + 200}, {72, 4, 1}, {76, 4, 0x06054B50},
                                    {84, 2, 3}, {86, 2, 3}, {88, 4, 200}, {92, 4, 0xFFFFFFFF}}) {
    uint64_t got = f.size == 2 ? U16(big, f.at) : f.size == 4 ? U32(big, f.at) : U64(big, f.at);
    EXPECT_EQ(got, f.value) << f.at;
  }
  std::string many = EncodeEndRecords(70000, 100, 100, 200);
  EXPECT_EQ(many.size(), 98u);
  EXPECT_EQ(U16(many, 56 + 20 + 8), 0xFFFF);
}

// A descriptor in each of its four forms, as readers expect them: [signature] CRC-32, sizes.
std::string Descriptor(const ZipEntry& e, bool signature, bool zip64_sizes) {
  std::string d;
  auto put = [&d](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) d.push_back(static_cast<char>(v >> (8 * i)));
  };
  if (signature) put(0x08074B50, 4);
  put(e.crc32, 4);
  put(e.compressed_size, zip64_sizes ? 8 : 4);
  put(e.uncompressed_size, zip64_sizes ? 8 : 4);
  return d;
}

// The descriptor after an entry's data is found in whatever form it has, whichever form the old
// local header announces; where none follows (or one whose values are not the entry's), the one
// to write is made in the announced form, or with 64-bit sizes when they overflow.
TEST(ZipRecordsTest, DataDescriptorsAreFoundInEveryFormOrMade) {
  FakeFileSystem fs;
  ZipEntry e = NewEntry(9, 4, 0);
  ZipEntry other = e;
  other.crc32 = 0x87654321;
  ZipEntry big = NewEntry(uint64_t{5} << 30, 4, 0);
  const std::string next_header = "PK\x01\x02 and the rest of the directory";
  struct Row {
    const char* what;
    const ZipEntry& entry;
    std::string after_data;
    bool zip64_announced;
    std::string expected;
  };
  std::vector<Row> rows;
  for (bool signature : {true, false}) {
    for (bool wide : {false, true}) {
      for (bool announced : {false, true}) {
        rows.push_back({"present", e, Descriptor(e, signature, wide) + next_header, announced,
                        Descriptor(e, signature, wide)});
      }
      rows.push_back({"last in the file", e, Descriptor(e, signature, wide), !wide,
                      Descriptor(e, signature, wide)});
    }
  }
  rows.push_back({"missing", e, next_header, false, Descriptor(e, true, false)});
  rows.push_back({"missing, ZIP64 announced", e, next_header, true, Descriptor(e, true, true)});
  rows.push_back({"missing at the end of the file", e, "", false, Descriptor(e, true, false)});
  rows.push_back({"another entry's", e, Descriptor(other, true, false) + next_header, false,
                  Descriptor(e, true, false)});
  rows.push_back({"missing, sizes overflow", big, next_header, false, Descriptor(big, true, true)});
  for (const Row& r : rows) {
    fs.WriteFile("T:\\entry", "DATA" + r.after_data);
    auto file = fs.OpenFile("T:\\entry", FileAccess::kRead, FileShare::kRead,
                            FileDisposition::kOpenExisting);
    std::string found = ReadDataDescriptor(*file, r.entry, 4, r.zip64_announced);
    EXPECT_TRUE(found == r.expected) << r.what << " " << r.after_data.size();
  }
}

// An entry taken over with a descriptor of 64-bit sizes keeps a ZIP64 field in its local header,
// from which readers take the descriptor's form; one with 32-bit sizes has none.
TEST(ZipRecordsTest, TheLocalZip64FieldFollowsTheDescriptorsForm) {
  for (bool wide : {false, true}) {
    ZipEntry e = NewEntry(9, 4, 0);
    e.action = ZipAction::kUnchanged;
    e.flags = kFlagDataDescriptor;
    e.version_needed = 20;
    e.data_descriptor = Descriptor(e, true, wide);
    FinishEntryRecords(&e);
    std::string local = EncodeLocalHeader(e);
    EXPECT_EQ(U16(local, 6), kFlagDataDescriptor);
    EXPECT_EQ(U32(local, 14), e.crc32);
    EXPECT_EQ(e.version_needed, wide ? 45 : 20);
    EXPECT_EQ(EncodeCentralHeader(e).size(), 46u + 14);  // no central ZIP64 field
    if (wide) {
      EXPECT_EQ(U32(local, 18), 0xFFFFFFFFu);
      EXPECT_EQ(U32(local, 22), 0xFFFFFFFFu);
      ASSERT_EQ(local.size(), 30u + 14 + 20);
      EXPECT_EQ(U16(local, 44), 0x0001);
      EXPECT_EQ(U64(local, 48), 9u);
      EXPECT_EQ(U64(local, 56), 4u);
    } else {
      EXPECT_EQ(U32(local, 18), 4u);
      EXPECT_EQ(U32(local, 22), 9u);
      EXPECT_EQ(local.size(), 30u + 14);
    }
  }
}

// Each value of the end record moves to the ZIP64 records exactly when its field would hold
// the marker: a count of 65,535 entries needs them as much as one of 70,000.
TEST(ZipRecordsTest, Zip64EndRecordsStartWhereAFieldReachesItsMarker) {
  struct Row {
    uint64_t count, size, offset;
    bool zip64;
  };
  for (Row r : {Row{65534, 100, 100, false}, Row{65535, 100, 100, true},
                Row{1, 0xFFFFFFFE, 100, false}, Row{1, 0xFFFFFFFF, 100, true},
                Row{1, 100, 0xFFFFFFFE, false}, Row{1, 100, 0xFFFFFFFF, true}}) {
    SCOPED_TRACE(testing::Message() << r.count << " entries, " << r.size << " bytes at "
                                    << r.offset);
    std::string end = EncodeEndRecords(r.count, r.size, r.offset, r.offset + r.size);
    ASSERT_EQ(end.size(), r.zip64 ? 56u + 20 + 22 : 22u);
    size_t record = end.size() - 22;
    EXPECT_EQ(U32(end, record), 0x06054B50u);
    EXPECT_EQ(U16(end, record + 8), std::min<uint64_t>(r.count, 0xFFFF));
    EXPECT_EQ(U16(end, record + 10), std::min<uint64_t>(r.count, 0xFFFF));
    EXPECT_EQ(U32(end, record + 12), std::min<uint64_t>(r.size, 0xFFFFFFFF));
    EXPECT_EQ(U32(end, record + 16), std::min<uint64_t>(r.offset, 0xFFFFFFFF));
    if (r.zip64) {
      EXPECT_EQ(U32(end, 0), 0x06064B50u);
      EXPECT_EQ(U64(end, 24), r.count);
      EXPECT_EQ(U64(end, 32), r.count);
      EXPECT_EQ(U64(end, 40), r.size);
      EXPECT_EQ(U64(end, 48), r.offset);
      EXPECT_EQ(U32(end, 56), 0x07064B50u);
      EXPECT_EQ(U64(end, 64), r.offset + r.size);
    }
  }
}

TEST(ZipRecordsTest, ExtraFieldsKeepTheirPlace) {
  std::string extra = SetExtraField("", 0x5455, "abc");
  extra = SetExtraField(extra, 0x0001, "12345678");
  extra = SetExtraField(extra, 0x5455, "xy");  // replaced where it stood
  EXPECT_EQ(extra, std::string("\x55\x54\x02\x00xy\x01\x00\x08\x00" "12345678", 18));
  EXPECT_EQ(FindExtraField(extra, 0x0001), "12345678");
  EXPECT_EQ(RemoveExtraField(extra, 0x5455), std::string("\x01\x00\x08\x00" "12345678", 12));
  EXPECT_EQ(FindExtraField(extra, 0x7075), std::nullopt);
}

}  // namespace
}  // namespace vantry
