#include "zip/deflate_join.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <functional>
#include <set>
#include <vector>

#include "platform/exception.h"
#include "zip/parallel_deflate.h"
#include "zip/testing/zip_test_helpers.h"
#include "zip/zlib_block_view.h"

namespace vantry {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes ZlibDeflate(const std::string& input, int level, int strategy,
                  const std::vector<std::pair<size_t, int>>& flushes = {}) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
  Bytes out(deflateBound(&z, input.size()) + 64 * (flushes.size() + 1));
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  size_t at = 0;
  auto feed = [&](size_t until, int flush) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + at));
    z.avail_in = static_cast<uInt>(until - at);
    EXPECT_NE(deflate(&z, flush), Z_STREAM_ERROR);
    at = until;
  };
  for (auto [until, flush] : flushes) feed(until, flush);
  feed(input.size(), Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes Libdeflate(const std::string& input, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  Bytes out(libdeflate_deflate_compress_bound(c, input.size()));
  out.resize(libdeflate_deflate_compress(c, input.data(), input.size(), out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
}

// Text whose repeats reach across any boundary, noise, and both mixed.
const std::string kText = Compressible(150'000);
const std::string kNoise = Random(90'000, 5);
const std::string kMixed = Compressible(40'000) + Random(70'000, 6) + Compressible(40'000);

TEST(DeflateJoinTest, TheWalkFindsWhatZlibFinds) {
  struct Case {
    const char* name;
    Bytes stream;
  };
  std::vector<Case> cases;
  for (const std::string* input : {&kText, &kNoise, &kMixed}) {
    for (int level : {0, 1, 6, 9}) {
      for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
        cases.push_back({"zlib", ZlibDeflate(*input, level, strategy)});
      }
    }
    for (int level : {0, 1, 6, 12}) cases.push_back({"libdeflate", Libdeflate(*input, level)});
    // Blocks ended mid-stream, on a byte (sync, full) and off one (block, partial: empty fixed
    // blocks).
    for (int flush : {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_BLOCK, Z_PARTIAL_FLUSH}) {
      cases.push_back({"zlib flushed",
                       ZlibDeflate(*input, 6, Z_DEFAULT_STRATEGY,
                                   {{1, flush}, {1000, flush}, {1001, flush}, {70'000, flush}})});
    }
  }
  for (const std::string& small : {std::string(), std::string("a"), std::string(300, 'x'),
                                   Compressible(77)}) {
    cases.push_back({"zlib small", ZlibDeflate(small, 6, Z_DEFAULT_STRATEGY)});
    cases.push_back({"zlib small fixed", ZlibDeflate(small, 6, Z_FIXED)});
    cases.push_back({"libdeflate small", Libdeflate(small, 6)});
  }
  std::set<uint64_t> end_residues;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << ", " << c.stream.size() << " bytes");
    ZlibBlockView zlib = InflateWithZlib(c.stream.data(), c.stream.size());
    ASSERT_TRUE(zlib.complete);
    DeflateStreamShape shape = ScanDeflateStream(c.stream.data(), c.stream.size());
    EXPECT_EQ(shape.final_block_bit, zlib.final_block_bit);
    EXPECT_EQ(shape.end_bit, zlib.end_bit);
    EXPECT_EQ(shape.uncompressed_size, zlib.output.size());
    end_residues.insert(shape.end_bit % 8);
  }
  EXPECT_EQ(end_residues.size(), 8u) << "streams ending at every bit of a byte";
}

// Writes bits lowest first, and Huffman codes first bit first, as Deflate packs them.
class BitWriter {
 public:
  BitWriter& Bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
    return *this;
  }
  BitWriter& Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
    return *this;
  }
  BitWriter& Bytes(std::initializer_list<unsigned char> bytes) {
    while (bits_ % 8 != 0) Bit(0);
    for (unsigned char b : bytes) Bits(b, 8);
    return *this;
  }
  // A dynamic block's header whose code-length code says lengths 0, 1 and 2 (codes 0, 10, 11),
  // or, `with_repeat`, 0 and "repeat the last" (codes 0, 1, the repeat always 3 times); then
  // `lengths` of the literal/length symbols and `distances` of the distance symbols.
  BitWriter& DynamicHeader(bool final, const std::vector<int>& lengths,
                           const std::vector<int>& distances, bool with_repeat = false) {
    Bits(final, 1).Bits(2, 2).Bits(static_cast<uint32_t>(lengths.size() - 257), 5);
    Bits(static_cast<uint32_t>(distances.size() - 1), 5).Bits(18 - 4, 4);
    // Lengths in the order of symbols 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1.
    for (int i = 0; i < 18; ++i) {
      int length = i == 3 ? 1 : (i == 15 || i == 17) ? 2 : 0;
      if (with_repeat) length = (i == 0 || i == 3) ? 1 : 0;
      Bits(length, 3);
    }
    for (const std::vector<int>* list : {&lengths, &distances}) {
      for (int length : *list) {
        if (with_repeat) {
          Code(1, 1).Bits(0, 2);
        } else if (length == 0) {
          Code(0, 1);
        } else {
          Code(length == 1 ? 0b10 : 0b11, 2);
        }
      }
    }
    return *this;
  }
  std::vector<unsigned char> Done() {
    while (bits_ % 8 != 0) Bit(0);
    return out_;
  }

 private:
  void Bit(uint32_t bit) {
    if (bits_ % 8 == 0) out_.push_back(0);
    out_.back() |= static_cast<unsigned char>(bit << (bits_ % 8));
    ++bits_;
  }
  std::vector<unsigned char> out_;
  size_t bits_ = 0;
};

// Literal/length code lengths of 257 symbols with the given ones set.
std::vector<int> LiteralLengths(std::initializer_list<std::pair<int, int>> set, size_t count = 257) {
  std::vector<int> lengths(count, 0);
  for (auto [symbol, length] : set) lengths.at(symbol) = length;
  return lengths;
}

TEST(DeflateJoinTest, StreamsZlibRefusesAreRefused) {
  Bytes valid_dynamic = BitWriter()
                            .DynamicHeader(true, LiteralLengths({{0, 1}, {256, 1}}), {1})
                            .Code(0, 1).Code(0, 1).Code(1, 1)  // two zero bytes, end
                            .Done();
  ASSERT_TRUE(InflateWithZlib(valid_dynamic.data(), valid_dynamic.size()).complete);
  Bytes trailing = valid_dynamic;
  trailing.push_back(0);
  struct Case {
    const char* name;
    Bytes stream;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"nothing", {}, "the stream ends early"},
      {"block type 3", BitWriter().Bits(1, 1).Bits(3, 2).Done(), "invalid block type"},
      {"stored lengths that disagree", BitWriter().Bits(1, 1).Bits(0, 2).Bytes({5, 0, 0xFA, 0xFE}).Done(),
       "invalid stored block lengths"},
      {"stored data cut short", BitWriter().Bits(1, 1).Bits(0, 2).Bytes({5, 0, 0xFA, 0xFF, 'a'}).Done(),
       "the stream ends early"},
      {"no final block", BitWriter().Bits(0, 1).Bits(0, 2).Bytes({0, 0, 0xFF, 0xFF}).Done(),
       "the stream ends early"},
      {"bytes after the end", trailing, "bytes follow the end of the stream"},
      {"too many literal/length symbols",
       BitWriter().Bits(1, 1).Bits(2, 2).Bits(30, 5).Bits(0, 5).Bits(0, 4).Done(),
       "too many length or distance symbols"},
      {"no end-of-block code",
       BitWriter().DynamicHeader(true, LiteralLengths({{0, 1}, {1, 1}}), {1}).Done(),
       "missing end-of-block code"},
      {"over-subscribed literal/length code",
       BitWriter().DynamicHeader(true, LiteralLengths({{0, 1}, {1, 1}, {256, 1}}), {1}).Done(),
       "invalid literal/lengths set"},
      {"repeat with nothing to repeat",
       BitWriter().DynamicHeader(true, LiteralLengths({}), {0}, /*with_repeat=*/true).Done(),
       "invalid bit length repeat"},
      {"distance before the first byte",
       BitWriter()
           .DynamicHeader(true, LiteralLengths({{0, 1}, {256, 2}, {257, 2}}, 258), {1})
           .Code(0b11, 2).Code(0, 1)  // length 3, distance 1, with nothing inflated yet
           .Code(0b10, 2)
           .Done(),
       "invalid distance too far back"},
      {"fixed distance code 30",
       BitWriter().Bits(1, 1).Bits(1, 2).Code(0x30 + 'a', 8).Code(0b0000001, 7).Code(30, 5).Done(),
       "invalid distance code"},
      {"fixed length code 286",
       BitWriter().Bits(1, 1).Bits(1, 2).Code(0b11000110, 8).Done(), "invalid literal/length code"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(InflateWithZlib(c.stream.data(), c.stream.size()).complete &&
                 InflateWithZlib(c.stream.data(), c.stream.size()).bytes_used == c.stream.size())
        << "zlib takes it";
    EXPECT_THAT([&] { ScanDeflateStream(c.stream.data(), c.stream.size()); },
                testing::ThrowsMessage<Exception>(
                    testing::StrEq(std::string("Invalid Deflate data: ") + c.error)));
  }
}

// The entry's stream as the pipeline makes it: each block compressed on its own, joined in order.
std::string JoinBlocks(const std::string& input, const std::vector<size_t>& block_sizes) {
  DeflateBlockCompressor compressor;
  std::string joined;
  size_t at = 0;
  for (size_t i = 0; i < block_sizes.size(); ++i) {
    size_t size = block_sizes[i];
    std::vector<unsigned char> out(DeflateBlockCompressor::OutputBound(size));
    size_t n = compressor.Compress(reinterpret_cast<const unsigned char*>(input.data() + at), size,
                                   i + 1 == block_sizes.size(), out.data());
    joined.append(reinterpret_cast<const char*>(out.data()), n);
    at += size;
  }
  EXPECT_EQ(at, input.size()) << "the blocks cover the input";
  return joined;
}

TEST(DeflateJoinTest, JoinedBlocksInflateToTheInput) {
  // The text repeats itself with a period of 977 lines, so every boundary cuts a match that a
  // single stream would have made.
  const std::string text = Compressible(200'000);
  struct Case {
    const char* name;
    std::string input;
    std::vector<size_t> blocks;
  };
  const std::vector<Case> cases = {
      {"one block", text, {200'000}},
      {"empty last block", text, {100'000, 100'000, 0}},
      {"only an empty block", "", {0}},
      {"blocks of one byte", text.substr(0, 30'003), {1, 1, 30'000, 1}},
      {"a match across the boundary", text, {99'999, 100'001}},
      {"stored block among compressed ones", kMixed, {40'000, 70'000, 40'000}},
      {"stored block cut in two", kMixed, {60'000, 30'000, 60'000}},
      {"noise only", kNoise, {65'535, 1, 90'000 - 65'536}},
      {"empty block in the middle", text, {100'000, 0, 100'000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string joined = JoinBlocks(c.input, c.blocks);
    ZlibBlockView zlib = InflateWithZlib(joined.data(), joined.size());
    EXPECT_TRUE(zlib.complete);
    EXPECT_EQ(zlib.bytes_used, joined.size());
    EXPECT_TRUE(zlib.output == c.input);
  }
}

TEST(DeflateJoinTest, JoiningWorksWhereverTheLastCodeEnds) {
  // Short blocks of text end at every bit of their last byte, with from 0 to 7 bits of padding;
  // the empty stored block's header fits in the padding or needs a byte of its own.
  DeflateBlockCompressor compressor;
  std::set<uint64_t> residues;
  for (size_t size = 56; size < 400 || residues.size() < 8; ++size) {
    ASSERT_LT(size, 5000u) << "the ends did not cover every bit";
    std::string input = Compressible(size);
    std::vector<unsigned char> alone(DeflateBlockCompressor::OutputBound(size));
    size_t n = compressor.Compress(reinterpret_cast<const unsigned char*>(input.data()), size, true,
                                   alone.data());
    residues.insert(ScanDeflateStream(alone.data(), n).end_bit % 8);
    std::string joined = JoinBlocks(input + input, {size, size});
    ZlibBlockView zlib = InflateWithZlib(joined.data(), joined.size());
    ASSERT_TRUE(zlib.complete && zlib.output == input + input) << size;
  }
}

}  // namespace
}  // namespace vantry
