#include "zip/zip_names.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "zip/zip_format.h"

namespace vantry {
namespace {

TEST(ZipNamesTest, StoredNamesLoseDriveShareAndLeadingDots) {
  struct Row { const char* disk; const char* stored; };
  for (Row r : std::vector<Row>{
           {"D:\\Backups\\db.fbk", "Backups/db.fbk"},
           {"D:db.fbk", "db.fbk"},
           {"\\Backups\\db.fbk", "Backups/db.fbk"},
           {"Backups\\db.fbk", "Backups/db.fbk"},
           {"db.fbk", "db.fbk"},
           {"\\\\server\\share\\dir\\db.fbk", "dir/db.fbk"},
           {"..\\..\\old\\db.fbk", "old/db.fbk"},
           {"D:\\..\\x\\db.fbk", "x/db.fbk"},
           {"D:\\Backups\\", "Backups/"},
       }) {
    EXPECT_EQ(StoredNameOf(r.disk), r.stored) << r.disk;
  }
}

uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), s.size()));
}

TEST(ZipNamesTest, AsciiNamesAreStoredAsTheyAre) {
  ZipEntry e;
  SetEncodedName("Backups/db.fbk", &e);
  EXPECT_EQ(e.stored_name, "Backups/db.fbk");
  EXPECT_EQ(e.host_system, kHostMsDos);
  EXPECT_EQ(e.flags, 0);
  EXPECT_EQ(e.central_extra, "");
}

TEST(ZipNamesTest, OemNameCarriesItsUnicodePath) {
  ZipEntry e;
  SetEncodedName("M\xFC" "ller/\xC4rger.fbk", &e);  // Müller/Ärger.fbk in 1252
  EXPECT_EQ(e.stored_name, "M\x81ller/\x8Erger.fbk");  // in 437
  EXPECT_EQ(e.host_system, kHostMsDos);
  EXPECT_EQ(e.flags, 0);
  std::string data = "\x01";
  uint32_t crc = Crc(e.stored_name);
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>(crc >> (8 * i)));
  data += "M\xC3\xBCller/\xC3\x84rger.fbk";
  EXPECT_EQ(FindExtraField(e.central_extra, 0x7075), data);
  EXPECT_EQ(AnsiNameOf(e), "M\xFC" "ller/\xC4rger.fbk");
}

TEST(ZipNamesTest, NameOutside437IsStoredInAnsiWithHostNtfs) {
  ZipEntry e;
  SetEncodedName("Gr\xFE\xF0i.fbk", &e);  // thorn and eth: in 1252, not in 437
  EXPECT_EQ(e.stored_name, "Gr\xFE\xF0i.fbk");
  EXPECT_EQ(e.host_system, kHostNtfs);
  std::optional<std::string> field = FindExtraField(e.central_extra, 0x7075);
  ASSERT_TRUE(field);
  EXPECT_EQ(field->substr(5), "Gr\xC3\xBE\xC3\xB0i.fbk");
  EXPECT_EQ(AnsiNameOf(e), "Gr\xFE\xF0i.fbk");
}

TEST(ZipNamesTest, NamesOfOtherWritersReadBack) {
  ZipEntry utf8;
  utf8.stored_name = "\xC3\xA9t\xC3\xA9.fbk";
  utf8.flags = kFlagUtf8Name;
  EXPECT_EQ(AnsiNameOf(utf8), "\xE9t\xE9.fbk");
  ZipEntry oem;
  oem.stored_name = "\x82t\x82.fbk";  // 437 é
  EXPECT_EQ(AnsiNameOf(oem), "\xE9t\xE9.fbk");
  ZipEntry stale = oem;  // a Unicode path field whose CRC is not the name's is ignored
  stale.central_extra = SetExtraField("", 0x7075, std::string("\x01\0\0\0\0other", 10));
  EXPECT_EQ(AnsiNameOf(stale), "\xE9t\xE9.fbk");
}

}  // namespace
}  // namespace vantry
