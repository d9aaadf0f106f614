#include "transfer/transfer_record.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/exception.h"
#include "transfer/transfer_hash.h"

namespace vantry {
namespace {

constexpr size_t kEntrySize = 32;

void PutLittleEndian(char* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(value >> (8 * i));
}

uint64_t GetLittleEndian(const char* in) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[i]);
  return value;
}

}  // namespace

std::string WorkFileName(const std::string& file_name, int64_t total_file_size) {
  return Format("%s.l%d.work", file_name, total_file_size);
}

std::string RecordFileName(const std::string& file_name, int64_t total_file_size) {
  return WorkFileName(file_name, total_file_size) + ".record";
}

std::string RecordEntry(const VerifiedChunk& chunk) {
  std::string entry(kEntrySize, '\0');
  PutLittleEndian(&entry[0], static_cast<uint64_t>(chunk.offset));
  PutLittleEndian(&entry[8], static_cast<uint64_t>(chunk.length));
  PutLittleEndian(&entry[16], chunk.hash);
  PutLittleEndian(&entry[24], ChunkHash(entry.data(), 24));
  return entry;
}

std::vector<VerifiedChunk> ParseRecord(std::string_view bytes, int64_t total_file_size) {
  std::vector<VerifiedChunk> chunks;
  for (size_t at = 0; at + kEntrySize <= bytes.size(); at += kEntrySize) {
    const char* entry = bytes.data() + at;
    if (GetLittleEndian(entry + 24) != ChunkHash(entry, 24)) break;
    VerifiedChunk chunk{static_cast<int64_t>(GetLittleEndian(entry)),
                        static_cast<int64_t>(GetLittleEndian(entry + 8)), GetLittleEndian(entry + 16)};
    if (chunk.offset < 0 || chunk.length <= 0 || chunk.length > total_file_size - chunk.offset) {
      break;
    }
    chunks.push_back(chunk);
  }
  return chunks;
}

std::string FormatOpenAnswer(const std::string& token, const std::vector<VerifiedChunk>& chunks) {
  std::string answer = token + "\n";
  char line[64];
  for (const VerifiedChunk& chunk : chunks) {
    std::snprintf(line, sizeof line, "%" PRId64 " %" PRId64 " %016" PRIx64 "\n", chunk.offset,
                  chunk.length, chunk.hash);
    answer += line;
  }
  return answer;
}

void ParseOpenAnswer(const std::string& answer, std::string* token,
                     std::vector<VerifiedChunk>* chunks) {
  size_t end = answer.find('\n');
  if (end == std::string::npos || end == 0) throw Exception("Malformed answer of OpenTransfer");
  *token = answer.substr(0, end);
  chunks->clear();
  for (size_t at = end + 1; at < answer.size();) {
    size_t next = answer.find('\n', at);
    if (next == std::string::npos) throw Exception("Malformed answer of OpenTransfer");
    std::string line = answer.substr(at, next - at);
    VerifiedChunk chunk;
    int used = 0;
    if (std::sscanf(line.c_str(), "%" SCNd64 " %" SCNd64 " %" SCNx64 "%n", &chunk.offset,
                    &chunk.length, &chunk.hash, &used) != 3 ||
        used != static_cast<int>(line.size())) {
      throw Exception("Malformed answer of OpenTransfer");
    }
    chunks->push_back(chunk);
    at = next + 1;
  }
}

}  // namespace vantry
