// deflate-blocks FILE: what compressing in blocks with an empty window costs in size. For each
// block size, the length of the entry's stream as the archive writer makes it (blocks compressed
// apart and joined) against one stream of the whole file at the same level, and the time the
// block walk takes against the compression (one thread).
#include <libdeflate.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "zip/deflate_join.h"
#include "zip/parallel_deflate.h"
#include "zip/zip_format.h"

int main(int argc, char** argv) {
  using namespace vantry;
  using Clock = std::chrono::steady_clock;
  if (argc != 2) {
    std::fprintf(stderr, "usage: deflate-blocks FILE\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::vector<unsigned char> data((std::istreambuf_iterator<char>(file)), {});
  libdeflate_compressor* whole = libdeflate_alloc_compressor(kDeflateLevel);
  std::vector<unsigned char> out(libdeflate_deflate_compress_bound(whole, data.size()));
  size_t one = libdeflate_deflate_compress(whole, data.data(), data.size(), out.data(), out.size());
  libdeflate_free_compressor(whole);
  std::printf("%s: %zu bytes, one stream %zu (%.4f)\n", argv[1], data.size(), one,
              static_cast<double>(one) / data.size());
  std::printf("%10s %12s %8s %10s %12s\n", "block KiB", "bytes", "ratio", "x one", "walk share");
  DeflateBlockCompressor compressor;
  for (size_t block : {size_t{256} << 10, size_t{512} << 10, size_t{1} << 20, size_t{2} << 20,
                       size_t{4} << 20, size_t{16} << 20}) {
    size_t total = 0;
    double compress_seconds = 0;
    double walk_seconds = 0;
    std::vector<unsigned char> piece(DeflateBlockCompressor::OutputBound(block));
    for (size_t at = 0; at < data.size() || at == 0; at += block) {
      size_t size = std::min(block, data.size() - at);
      bool last = at + size == data.size();
      auto t0 = Clock::now();
      size_t n = compressor.Compress(data.data() + at, size, true, piece.data());
      auto t1 = Clock::now();
      DeflateStreamShape shape = ScanDeflateStream(piece.data(), n);
      auto t2 = Clock::now();
      compress_seconds += std::chrono::duration<double>(t1 - t0).count();
      walk_seconds += std::chrono::duration<double>(t2 - t1).count();
      total += last ? n : ContinueDeflateStream(piece.data(), n, shape);
      if (last) break;
    }
    std::printf("%10zu %12zu %8.4f %10.4f %11.1f%%\n", block >> 10, total,
                static_cast<double>(total) / data.size(), static_cast<double>(total) / one,
                100 * walk_seconds / compress_seconds);
  }
  return 0;
}
