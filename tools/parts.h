// `vantry parts`: the part files of ReceiveBackup and the work files and records of the fast
// transfer that lie in a directory of this machine, with size, age and how complete each is;
// optionally removes them. Works on this machine's files and reaches no service: run it where
// the receiving instance keeps its backups.
//
// Thread safety: one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace vantry::client {

struct TransferFile {
  std::string path;      // host path
  std::string kind;      // "part", "work" or "record"
  int64_t size = 0;      // bytes on disk
  int64_t total = 0;     // the size of the whole file, from the name
  int64_t held = 0;      // part: its bytes; work and record: bytes the record holds verified
  double age_days = 0;   // since the last write
  bool complete = false; // holds the whole file (a part from offset 0, a fully recorded work file)
};

// The transfer files of the host directory `directory`, sorted by name. Throws UsageError when
// it is not a directory.
std::vector<TransferFile> ListTransferFiles(const std::string& directory, const Clock& clock);

// Removes `files`; returns how many were removed.
int RemoveTransferFiles(const std::vector<TransferFile>& files);

}  // namespace vantry::client
