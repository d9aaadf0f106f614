// The checksums of a fast transfer: XXH3 (64 bits) of every chunk, and one over the whole file
// computed as the file's bytes go by, in file order. Both ends compute them from the bytes they
// hold; a transfer completes only when they agree.
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

  // Adds the next bytes of the file.
  void Update(const void* data, size_t size);
  // The checksum of all bytes added so far.
  uint64_t Digest() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vantry
