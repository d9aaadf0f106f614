// The client's checks around the operations whose answer cannot show that nothing was done:
// DeleteFile answers true for a missing file, GetFileSize 0, SendBackup returns at once for a
// missing or empty source, CreateDirectory says nothing when it fails, CopyFile and MoveFile
// replace what they find, MakeSpaceOnDiskForBackup says nothing of what it deleted and
// RequestBackupPermission answers false for two different rules. Each check asks the service
// first (FileExists and the like) and raises CommandRefused with the reason, so the operator
// learns what did not happen. The wire answers stay as they are: `vantry call` runs without
// these checks.
//
// Thread safety: one thread; the service proxy is used for one call at a time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/operation_commands.h"

namespace vantry::client {

// Whether the command of `wire_name` takes --force (replace an existing target).
bool TakesForce(std::string_view wire_name);

// Runs `command` with `args` (UTF-8, one per input) and the checks its operation has; throws
// CommandRefused when a check fails, UsageError for bad arguments, and what the service raises.
std::vector<NamedValue> RunCheckedCommand(const OperationCommand& command, IVantryService& service,
                                          const std::vector<std::string>& args, bool force);

}  // namespace vantry::client
