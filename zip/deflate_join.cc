#include "zip/deflate_join.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/exception.h"

namespace vantry {
namespace {

constexpr int kMaxCodeLength = 15;
constexpr int kLitLenSymbols = 288;  // 286 and 287 have codes in the fixed code but are invalid
constexpr int kDistSymbols = 32;     // 30 and 31 likewise
constexpr int kMaxLitLenUsed = 286;
constexpr int kMaxDistUsed = 30;
constexpr int kEndOfBlock = 256;
constexpr int kCodeLengthSymbols = 19;
constexpr int kMaxWindow = 32768;
constexpr size_t kMaxStoredBlock = 0xFFFF;
constexpr size_t kStoredHeaderSize = 5;
// Codes up to this length are decoded by one table look-up; longer ones, rare by nature, bit by
// bit.
constexpr int kTableBits = 12;

constexpr std::array<uint8_t, kCodeLengthSymbols> kCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
// Length symbols 257..285: base and extra bits.
constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,
                                                  15, 17, 19, 23, 27, 31, 35, 43,  51,  59,
                                                  67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

[[noreturn]] void Invalid(const char* what) {
  throw Exception(Format("Invalid Deflate data: %s", what));
}

// Reads bits lowest first from a byte buffer. Reads past the end see zero bits; Check() tells
// whether any were consumed.
class BitReader {
 public:
  BitReader(const unsigned char* data, size_t size) : data_(data), size_(size) {}

  // The next 57 bits or more, lowest first, not consumed.
  uint64_t Word() const {
    size_t byte = static_cast<size_t>(position_ >> 3);
    uint64_t word = 0;
    if (byte + 8 <= size_) {
      std::memcpy(&word, data_ + byte, 8);  // little-endian host assumed, as everywhere here
    } else {
      for (size_t i = 0; byte + i < size_ && i < 8; ++i) {
        word |= static_cast<uint64_t>(data_[byte + i]) << (8 * i);
      }
    }
    return word >> (position_ & 7);
  }
  // The next `count` (at most 32) bits, not consumed.
  uint32_t Peek(int count) const {
    return static_cast<uint32_t>(Word() & ((uint64_t{1} << count) - 1));
  }
  void Skip(int count) { position_ += static_cast<uint64_t>(count); }
  uint32_t Take(int count) {
    uint32_t bits = Peek(count);
    Skip(count);
    return bits;
  }
  void AlignToByte() { position_ = (position_ + 7) & ~uint64_t{7}; }
  // Throws when the bits consumed run past the data.
  void Check() const {
    if (position_ > BitSize()) Invalid("the stream ends early");
  }
  uint64_t Position() const { return position_; }
  uint64_t BitSize() const { return static_cast<uint64_t>(size_) * 8; }

 private:
  const unsigned char* data_;
  size_t size_;
  uint64_t position_ = 0;
};

// A canonical Huffman code of one block, decoded as the stream's bits come (first code bit
// lowest).
class HuffmanCode {
 public:
  // Builds the code from the code lengths of symbols 0..count-1. Over-subscribed lengths are
  // refused; an incomplete code only as zlib takes it: a code-length code never, another code
  // when its one code has length 1 or it has no code at all (`what` names the code in errors).
  void Build(const uint8_t* lengths, int count, bool code_length_code, const char* what) {
    std::array<uint16_t, kMaxCodeLength + 1> per_length{};
    for (int s = 0; s < count; ++s) ++per_length[lengths[s]];
    per_length[0] = 0;
    int longest = 0;
    int left = 1;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
      left = (left << 1) - per_length[length];
      if (left < 0) Invalid(what);
      if (per_length[length] != 0) longest = length;
    }
    if (left > 0 && longest != 0 && (code_length_code || longest != 1)) Invalid(what);

    // Symbols in code order: by length, then by symbol.
    std::array<uint16_t, kMaxCodeLength + 2> offset{};
    for (int length = 1; length <= kMaxCodeLength; ++length) {
      offset[length + 1] = offset[length] + per_length[length];
    }
    first_index_ = offset;
    per_length_ = per_length;
    for (int s = 0; s < count; ++s) {
      if (lengths[s] != 0) symbols_[offset[lengths[s]]++] = static_cast<uint16_t>(s);
    }
    // One-look-up table for the short codes: each entry holds the symbol and its code length,
    // or length 0 where the code is longer (or does not exist).
    table_.fill(0);
    uint32_t code = 0;
    for (int length = 1; length <= kTableBits; ++length) {
      for (int i = 0; i < per_length[length]; ++i, ++code) {
        uint16_t symbol = symbols_[first_index_[length] + i];
        uint32_t reversed = Reverse(code, length);
        for (uint32_t fill = reversed; fill < (1u << kTableBits); fill += 1u << length) {
          table_[fill] = static_cast<uint16_t>(symbol << 4 | length);
        }
      }
      code <<= 1;
    }
  }

  // Decodes one symbol from the lowest bits of `bits`; returns it with its code length in the
  // lowest 4 bits (symbol << 4 | length). Throws for a code the code does not have.
  uint32_t Decode(uint64_t bits) const {
    uint16_t entry = table_[bits & ((1u << kTableBits) - 1)];
    if ((entry & 15) != 0) [[likely]] return entry;
    return DecodeLong(bits);
  }
  // Decodes and consumes one symbol.
  int Decode(BitReader& in) const {
    uint32_t entry = Decode(in.Word());
    in.Skip(entry & 15);
    return static_cast<int>(entry >> 4);
  }

 private:
  // Canonical decoding, one bit at a time, of the codes too long for the table (or missing).
  [[gnu::noinline]] uint32_t DecodeLong(uint64_t bits) const {
    int code = 0;
    int first = 0;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
      code |= static_cast<int>((bits >> (length - 1)) & 1);
      int count = per_length_[length];
      if (code - first < count) {
        return static_cast<uint32_t>(symbols_[first_index_[length] + (code - first)]) << 4 | length;
      }
      first = (first + count) << 1;
      code <<= 1;
    }
    Invalid("invalid code");
  }

  static uint32_t Reverse(uint32_t code, int length) {
    uint32_t reversed = 0;
    for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1) << (length - 1 - i);
    return reversed;
  }

  std::array<uint16_t, 1 << kTableBits> table_{};
  std::array<uint16_t, kMaxCodeLength + 1> per_length_{};
  std::array<uint16_t, kMaxCodeLength + 2> first_index_{};
  std::array<uint16_t, kLitLenSymbols> symbols_{};
};

struct FixedCodes {
  HuffmanCode literal_length;
  HuffmanCode distance;
  FixedCodes() {
    std::array<uint8_t, kLitLenSymbols> lengths{};
    std::fill(lengths.begin(), lengths.begin() + 144, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    std::fill(lengths.begin() + 280, lengths.end(), 8);
    literal_length.Build(lengths.data(), kLitLenSymbols, false, "fixed code");
    std::array<uint8_t, kDistSymbols> distances;
    distances.fill(5);
    distance.Build(distances.data(), kDistSymbols, false, "fixed code");
  }
};

// Reads the code lengths of a dynamic block's header and builds its two codes.
void ReadDynamicCodes(BitReader& in, HuffmanCode* literal_length, HuffmanCode* distance) {
  int literal_count = static_cast<int>(in.Take(5)) + 257;
  int distance_count = static_cast<int>(in.Take(5)) + 1;
  int code_length_count = static_cast<int>(in.Take(4)) + 4;
  if (literal_count > kMaxLitLenUsed || distance_count > kMaxDistUsed) {
    Invalid("too many length or distance symbols");
  }
  std::array<uint8_t, kCodeLengthSymbols> code_lengths{};
  for (int i = 0; i < code_length_count; ++i) code_lengths[kCodeLengthOrder[i]] = in.Take(3);
  HuffmanCode code_length_code;
  code_length_code.Build(code_lengths.data(), kCodeLengthSymbols, true, "invalid code lengths set");

  std::array<uint8_t, kMaxLitLenUsed + kMaxDistUsed> lengths{};
  int total = literal_count + distance_count;
  for (int i = 0; i < total;) {
    in.Check();
    int symbol = code_length_code.Decode(in);
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t repeated = 0;
    int times;
    if (symbol == 16) {
      if (i == 0) Invalid("invalid bit length repeat");
      repeated = lengths[i - 1];
      times = 3 + static_cast<int>(in.Take(2));
    } else if (symbol == 17) {
      times = 3 + static_cast<int>(in.Take(3));
    } else {
      times = 11 + static_cast<int>(in.Take(7));
    }
    if (i + times > total) Invalid("invalid bit length repeat");
    std::fill(lengths.begin() + i, lengths.begin() + i + times, repeated);
    i += times;
  }
  in.Check();
  if (lengths[kEndOfBlock] == 0) Invalid("missing end-of-block code");
  literal_length->Build(lengths.data(), literal_count, false, "invalid literal/lengths set");
  distance->Build(lengths.data() + literal_count, distance_count, false, "invalid distances set");
}

// Walks the codes of one Huffman block up to its end-of-block code; adds what it inflates to to
// `*produced`.
void SkipHuffmanData(BitReader& in, const HuffmanCode& literal_length, const HuffmanCode& distance,
                     uint64_t* produced) {
  constexpr int kWordBits = 57;        // what one BitReader::Word() holds at least
  constexpr int kMatchRestBits = 5 + 15 + 13;  // length extra bits, distance code and extra bits
  for (;;) {
    // Past the end the reader sees zeros, which decode to something; stop there.
    in.Check();
    uint64_t word = in.Word();
    int used = 0;
    // As many codes from this word as it surely holds.
    while (used <= kWordBits - kMaxCodeLength) {
      uint32_t entry = literal_length.Decode(word >> used);
      int code_length = static_cast<int>(entry & 15);
      int symbol = static_cast<int>(entry >> 4);
      if (symbol < kEndOfBlock) {
        used += code_length;
        ++*produced;
        continue;
      }
      if (symbol == kEndOfBlock) {
        in.Skip(used + code_length);
        in.Check();
        return;
      }
      if (used + code_length + kMatchRestBits > kWordBits) break;  // decoded again from a new word
      used += code_length;
      symbol -= kEndOfBlock + 1;
      if (symbol >= static_cast<int>(kLengthBase.size())) Invalid("invalid literal/length code");
      int extra = kLengthExtra[symbol];
      uint32_t length = kLengthBase[symbol] + static_cast<uint32_t>((word >> used) & ((1u << extra) - 1));
      used += extra;
      uint32_t dist_entry = distance.Decode(word >> used);
      used += static_cast<int>(dist_entry & 15);
      int dist_symbol = static_cast<int>(dist_entry >> 4);
      if (dist_symbol >= kMaxDistUsed) Invalid("invalid distance code");
      extra = kDistExtra[dist_symbol];
      uint32_t dist = kDistBase[dist_symbol] + static_cast<uint32_t>((word >> used) & ((1u << extra) - 1));
      used += extra;
      if (dist > *produced || dist > kMaxWindow) Invalid("invalid distance too far back");
      *produced += length;
    }
    in.Skip(used);
  }
}

}  // namespace

DeflateStreamShape ScanDeflateStream(const unsigned char* data, size_t size) {
  static const FixedCodes fixed;
  BitReader in(data, size);
  DeflateStreamShape shape;
  HuffmanCode literal_length;
  HuffmanCode distance;
  for (bool final = false; !final;) {
    shape.final_block_bit = in.Position();
    final = in.Take(1) != 0;
    uint32_t type = in.Take(2);
    in.Check();
    if (type == 0) {
      in.AlignToByte();
      uint32_t length = in.Take(16);
      uint32_t complement = in.Take(16);
      in.Check();
      if ((length ^ 0xFFFF) != complement) Invalid("invalid stored block lengths");
      in.Skip(static_cast<int>(length) * 8);
      in.Check();
      shape.uncompressed_size += length;
    } else if (type == 1) {
      SkipHuffmanData(in, fixed.literal_length, fixed.distance, &shape.uncompressed_size);
    } else if (type == 2) {
      ReadDynamicCodes(in, &literal_length, &distance);
      SkipHuffmanData(in, literal_length, distance, &shape.uncompressed_size);
    } else {
      Invalid("invalid block type");
    }
  }
  shape.end_bit = in.Position();
  if ((shape.end_bit + 7) / 8 != size) Invalid("bytes follow the end of the stream");
  return shape;
}

size_t ContinueDeflateStream(unsigned char* data, size_t size, const DeflateStreamShape& shape) {
  data[shape.final_block_bit >> 3] &= static_cast<unsigned char>(~(1u << (shape.final_block_bit & 7)));
  // The padding after the end-of-block code must read as the stored block's header: BFINAL 0,
  // type 00. It is zero already in what compressors write; make sure.
  if ((shape.end_bit & 7) != 0) {
    data[shape.end_bit >> 3] &= static_cast<unsigned char>((1u << (shape.end_bit & 7)) - 1);
  }
  size_t header_end = static_cast<size_t>((shape.end_bit + 3 + 7) / 8);
  std::fill(data + size, data + header_end, 0);
  static constexpr unsigned char kEmptyLengths[] = {0x00, 0x00, 0xFF, 0xFF};
  std::memcpy(data + header_end, kEmptyLengths, sizeof kEmptyLengths);
  return header_end + sizeof kEmptyLengths;
}

size_t StoredBlocksSize(size_t size) {
  size_t blocks = std::max<size_t>(1, (size + kMaxStoredBlock - 1) / kMaxStoredBlock);
  return size + blocks * kStoredHeaderSize;
}

size_t WriteStoredBlocks(const unsigned char* input, size_t size, bool last, unsigned char* output) {
  unsigned char* out = output;
  size_t at = 0;
  do {
    size_t length = std::min(size - at, kMaxStoredBlock);
    bool final = last && at + length == size;
    out[0] = final ? 1 : 0;  // BFINAL, type 00, the rest of the byte padding
    out[1] = static_cast<unsigned char>(length);
    out[2] = static_cast<unsigned char>(length >> 8);
    out[3] = static_cast<unsigned char>(~length);
    out[4] = static_cast<unsigned char>(~length >> 8);
    if (length > 0) std::memcpy(out + kStoredHeaderSize, input + at, length);
    out += kStoredHeaderSize + length;
    at += length;
  } while (at < size);
  return static_cast<size_t>(out - output);
}

}  // namespace vantry
