// A real entry above 4 GiB: a sparse file of 4.5 GiB of zeros, deflated far below 4 GiB, so the
// local header sends both sizes to its ZIP64 field and the central header only the uncompressed
// size; the directory stays below 4 GiB, so no ZIP64 end record. Slow: the standard tools inflate
// the whole entry.
#include <gtest/gtest.h>

#include "zip/ab_zipper.h"
#include "zip/testing/zip_test_helpers.h"

namespace vantry {
namespace {

TEST(Zip64Test, SparseFileAbove4GiB) {
  const int64_t kSize = (int64_t{9} << 29);  // 4.5 GiB
  FakeFileSystem fs;
  fs.CreateDirectory("T:\\B");
  auto file = fs.OpenFile("T:\\B\\big.fbk", FileAccess::kWrite, FileShare::kNone,
                          FileDisposition::kCreateNew);
  file->SetSize(kSize);
  file->Close();

  TAbZipper zipper(fs);
  zipper.SetFileName("T:\\B\\big.zip");
  zipper.AddFiles("T:\\B\\big.fbk", kFindAllAttributes);
  zipper.Close();
  ASSERT_EQ(zipper.AddedFiles().size(), 1u);

  std::string zip = fs.ReadFile("T:\\B\\big.zip");
  EXPECT_EQ(U16(zip, 4), 45);
  EXPECT_EQ(U32(zip, 18), 0xFFFFFFFFu);
  EXPECT_EQ(U32(zip, 22), 0xFFFFFFFFu);
  ASSERT_EQ(U16(zip, 28), 20);
  size_t extra = 30 + 9;
  EXPECT_EQ(U16(zip, extra), 0x0001);
  EXPECT_EQ(U16(zip, extra + 2), 16);
  EXPECT_EQ(U64(zip, extra + 4), static_cast<uint64_t>(kSize));
  uint64_t compressed = U64(zip, extra + 12);
  EXPECT_LT(compressed, uint64_t{1} << 32);

  std::string end = zip.substr(zip.size() - 22);
  EXPECT_EQ(U32(end, 0), 0x06054B50u);
  EXPECT_NE(U32(zip, zip.size() - 42), 0x07064B50u);  // no locator
  std::string central = zip.substr(U32(end, 16));
  EXPECT_EQ(U16(central, 6), 45);
  EXPECT_EQ(U32(central, 20), compressed);
  EXPECT_EQ(U32(central, 24), 0xFFFFFFFFu);
  ASSERT_EQ(U16(central, 30), 12);
  EXPECT_EQ(U16(central, 46 + 9), 0x0001);
  EXPECT_EQ(U16(central, 46 + 11), 8);
  EXPECT_EQ(U64(central, 46 + 13), static_cast<uint64_t>(kSize));
  ExpectArchiveAccepted(fs.HostRoot() + "/B/big.zip");
}

}  // namespace
}  // namespace vantry
