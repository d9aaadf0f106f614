// The checksums of a fast transfer: XXH3 (64 bits) of every chunk, and one over the whole file:
// XXH3 of the chunks' checksums in file order (each as 8 little-endian bytes), so that it covers
// every byte while each byte is hashed once. Both ends compute them from the bytes they hold; a
// transfer completes only when they agree.
//
// Thread safety: ChunkHash is a pure function; a FileHash belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vantry {

uint64_t ChunkHash(const void* data, size_t size);

class FileHash {
 public:
  FileHash();
  FileHash(const FileHash&) = delete;
  FileHash& operator=(const FileHash&) = delete;
  ~FileHash();

  // Adds the checksum of the next chunk of the file.
  void AddChunk(uint64_t chunk_hash);
  // The checksum of all bytes added so far.
  uint64_t Digest() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vantry
