// The client's dry run of disk-space reclamation on the server machine itself: every backup of a
// database in a host directory with its last-write time, age and age bucket, and whether the
// strategy keeps or deletes it. It runs the reclamation library's own planning step, the one
// MakeSpaceOnDiskForBackup runs before it deletes, so it shows what that call will delete; it
// deletes nothing.
//
// Thread safety: pure apart from reading the directory.
#pragma once

#include <string>
#include <vector>

#include "contract/VantryLibrary_Intf.h"
#include "platform/clock.h"

namespace vantry::client {

struct PlannedBackup {
  std::string path;      // host path, UTF-8
  TDateTime last_write;  // as the backup list keeps it (two-second resolution)
  double age_days;       // at the time of the plan
  std::string bucket;    // "week", "month", "year" or "older"
  bool deleted;          // the strategy deletes it
};

// The backups of `database_file` (its file name counts, not its directory) in the host directory
// `directory`, oldest first. Throws UsageError for a directory that does not exist, and
// EAssertionFailed as reclamation does.
std::vector<PlannedBackup> PlanReclamation(const std::string& directory,
                                           const std::string& database_file,
                                           TVantry_DeleteStrategyType strategy, const Clock& clock);

// "2026-12-10 05:41:02".
std::string FormatLocalTime(TDateTime value);

}  // namespace vantry::client
