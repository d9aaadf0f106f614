#include "zip/parallel_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "platform/testing/fake_file_system.h"
#include "zip/deflate_join.h"
#include "zip/testing/zip_test_helpers.h"
#include "zip/zlib_block_view.h"

namespace vantry {
namespace {

// Text-like data with repeats that reach across block boundaries, and some noise.
std::string SampleData(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string data;
  while (data.size() < size) {
    if (random() % 4 == 0 && data.size() > 1000) {
      size_t from = random() % (data.size() - 500);
      data += data.substr(from, 200 + random() % 300);
    } else {
      data += "row " + std::to_string(random() % 100000) + " value " +
              std::to_string(random()) + "\n";
    }
  }
  data.resize(size);
  return data;
}

std::string Inflate(const std::string& deflated) {
  ZlibBlockView zlib = InflateWithZlib(deflated.data(), deflated.size());
  EXPECT_TRUE(zlib.complete);
  EXPECT_EQ(zlib.bytes_used, deflated.size()) << "bytes after the end of the stream";
  return zlib.output;
}

TEST(ParallelDeflateTest, BlocksJoinIntoOneStreamWithTheFilesCrc) {
  FakeFileSystem fs;
  const size_t kBlock = kDeflateBlockSize;
  for (size_t size : {size_t{0}, size_t{1}, size_t{32767}, size_t{40000}, kBlock, kBlock + 1, 2 * kBlock,
                      3 * kBlock + 12345}) {
    for (int threads : {1, 2, 3}) {
      std::string data = SampleData(size, static_cast<uint32_t>(size + threads));
      fs.WriteFile("T:\\in", data);
      auto in = fs.OpenFile("T:\\in", FileAccess::kRead, FileShare::kRead,
                            FileDisposition::kOpenExisting);
      auto out = fs.OpenFile("T:\\out", FileAccess::kWrite, FileShare::kNone,
                             FileDisposition::kCreateAlways);
      DeflateResult r = DeflateFile(*in, *out, threads);
      in->Close();
      out->Close();
      std::string deflated = fs.ReadFile("T:\\out");
      EXPECT_EQ(r.uncompressed_size, static_cast<int64_t>(size));
      EXPECT_EQ(r.compressed_size, static_cast<int64_t>(deflated.size()));
      EXPECT_EQ(r.crc32, crc32(0, reinterpret_cast<const Bytef*>(data.data()), size));
      EXPECT_TRUE(Inflate(deflated) == data) << size << " bytes, " << threads << " threads";
    }
  }
}

TEST(ParallelDeflateTest, CompressesAsWellAsOneStream) {
  FakeFileSystem fs;
  std::string data = SampleData(4 * kDeflateBlockSize, 7);
  fs.WriteFile("T:\\in", data);
  auto in = fs.OpenFile("T:\\in", FileAccess::kRead, FileShare::kRead, FileDisposition::kOpenExisting);
  auto out = fs.OpenFile("T:\\out", FileAccess::kWrite, FileShare::kNone, FileDisposition::kCreateAlways);
  DeflateResult r = DeflateFile(*in, *out, 2);
  uLongf one_size = compressBound(data.size());
  std::string one(one_size, '\0');
  compress2(reinterpret_cast<Bytef*>(one.data()), &one_size,
            reinterpret_cast<const Bytef*>(data.data()), data.size(), 6);
  EXPECT_LT(r.compressed_size, static_cast<int64_t>(one_size * 1.005));
}

TEST(ParallelDeflateTest, ABlockIsStoredOnlyWhenNothingInItShrinks) {
  const size_t block = kDeflateBlockSize;
  std::string noise = Random(block, 9);
  std::string repeated_noise;  // evenly spread bytes, yet every byte after the first 16 KiB repeats
  while (repeated_noise.size() < block) repeated_noise += noise.substr(0, 16 << 10);
  struct Case {
    const char* name;
    std::string input;
    bool stored;
  };
  const std::vector<Case> cases = {
      {"noise", noise, true},
      {"noise, then text", noise.substr(0, 64 << 10) + Compressible(block - (64 << 10)), false},
      {"text, then noise", Compressible(64 << 10) + noise.substr(0, block - (64 << 10)), false},
      {"noise that repeats", repeated_noise, false},
  };
  DeflateBlockCompressor compressor;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> out(DeflateBlockCompressor::OutputBound(c.input.size()));
    size_t n = compressor.Compress(reinterpret_cast<const unsigned char*>(c.input.data()),
                                   c.input.size(), true, out.data());
    std::string stream(reinterpret_cast<const char*>(out.data()), n);
    EXPECT_TRUE(Inflate(stream) == c.input);
    if (c.stored) {
      EXPECT_EQ(n, StoredBlocksSize(c.input.size()));
    } else {
      EXPECT_LT(n, c.input.size() * 95 / 100);
    }
  }
}

TEST(ParallelDeflateTest, AReadFailureStopsEveryThreadAndIsRaised) {
  FaultyFileSystem fs;
  fs.fail_reads_of = "in";
  fs.WriteFile("T:\\in", SampleData(3 * kDeflateBlockSize, 1));
  auto in = fs.OpenFile("T:\\in", FileAccess::kRead, FileShare::kRead, FileDisposition::kOpenExisting);
  auto out = fs.OpenFile("T:\\out", FileAccess::kWrite, FileShare::kNone, FileDisposition::kCreateAlways);
  EXPECT_THROW(DeflateFile(*in, *out, 2), EOSError);
}

}  // namespace
}  // namespace vantry
