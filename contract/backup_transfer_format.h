// The shape of a backup transfer between a sender (SendBackup, or the client's push) and the
// receiving instance (ReceiveBackup): the chunk size, the names of the part files the
// receiver assembles, and the refusal to replace an existing file. Both sides must agree on them, so they live here once.
//
// Thread safety: constants and pure functions.
#pragma once

#include <cstdint>
#include <string>

#include "platform/exception.h"

namespace vantry {

// Every chunk but the last holds exactly this many bytes.
inline constexpr int64_t kBackupChunkSize = 1048576;

// The prefix of every part of a transfer of `total_file_size` bytes to `file_name`:
// "%s.l%d.part_"; a part's name is the prefix followed by its start offset.
inline std::string BackupPartPrefix(const std::string& file_name, int64_t total_file_size) {
  return Format("%s.l%d.part_", file_name, total_file_size);
}

// A received file never replaces one of its name: EAssertionFailed "Backup File '%s' already
// exists, cannot replace!" at the line of the receiver that operators know from the field.
inline void AssertBackupFileAbsent(bool exists, const std::string& file_name) {
  constexpr int kAlreadyExistsAssertionLine = 355;
  Assert(!exists, Format("Backup File '%s' already exists, cannot replace!", file_name),
         "VantryService_Impl", kAlreadyExistsAssertionLine);
}

}  // namespace vantry
