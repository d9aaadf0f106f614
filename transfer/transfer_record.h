// The files a fast transfer keeps beside its final file while it runs: the work file, into which
// every chunk is written at its offset, and the record of the chunks verified so far, which lets
// a later transfer of the same name and size continue after either instance stopped.
//
//   work file  "<FileName>.l<TotalFileSize>.work"
//   record     "<FileName>.l<TotalFileSize>.work.record"
//
// The record is a run of 32-byte entries, one per verified chunk: offset, length, chunk hash and
// a check over those three (little-endian 64-bit values). An entry that is cut short or whose
// check fails (a stop in the middle of a write, a damaged record) ends the record: what follows
// it is sent again.
//
// Thread safety: pure functions; a record file is written by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace vantry {

struct VerifiedChunk {
  int64_t offset = 0;
  int64_t length = 0;
  uint64_t hash = 0;
  bool operator==(const VerifiedChunk&) const = default;
};

std::string WorkFileName(const std::string& file_name, int64_t total_file_size);
std::string RecordFileName(const std::string& file_name, int64_t total_file_size);

// The entries of a record's bytes, up to the first that is cut short, fails its check or lies
// outside a file of `total_file_size` bytes.
std::vector<VerifiedChunk> ParseRecord(std::string_view bytes, int64_t total_file_size);
// The 32 bytes of one entry.
std::string RecordEntry(const VerifiedChunk& chunk);

// The answer of OpenTransfer: the token, then a line per verified chunk (fast_transfer_intf.h).
std::string FormatOpenAnswer(const std::string& token, const std::vector<VerifiedChunk>& chunks);
// Reads an answer of OpenTransfer; throws Exception "Malformed answer of OpenTransfer" when it
// is not one.
void ParseOpenAnswer(const std::string& answer, std::string* token,
                     std::vector<VerifiedChunk>* chunks);

}  // namespace vantry
