#include "transfer/transfer_hash.h"

#include <xxhash.h>

#include <new>

namespace vantry {

struct FileHash::State {
  XXH3_state_t* xxh = XXH3_createState();
  ~State() { XXH3_freeState(xxh); }
};

uint64_t ChunkHash(const void* data, size_t size) { return XXH3_64bits(data, size); }

FileHash::FileHash() : state_(std::make_unique<State>()) {
  if (state_->xxh == nullptr) throw std::bad_alloc();
  XXH3_64bits_reset(state_->xxh);
}

FileHash::~FileHash() = default;

void FileHash::AddChunk(uint64_t chunk_hash) {
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(chunk_hash >> (8 * i));
  XXH3_64bits_update(state_->xxh, bytes, sizeof bytes);
}

uint64_t FileHash::Digest() const { return XXH3_64bits_digest(state_->xxh); }

}  // namespace vantry
