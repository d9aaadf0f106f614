// The sending half of a backup transfer, shared by SendBackup and the client's push: a file's
// bytes go to the receiver as ReceiveBackup calls of one chunk each (kBackupChunkSize, the last
// holding the rest), in file order, one call at a time, each with TotalFileSize the file's size.
// While a call is in flight the next chunk is already read from the file on a thread of its own,
// so disk, network and receiver work at the same time; a chunk goes from its read buffer to the
// proxy without a copy.
//
// Thread safety: one thread calls; the reader thread lives only inside the call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "contract/VantryLibrary_Intf.h"
#include "platform/file_system.h"

namespace vantry {

// Sends bytes [start, size) of `file` (its size `size`; read from its current position, which
// must be `start`) to `target_file_name` through `target`. When `start` equals a non-zero `size`,
// one empty chunk at the end is sent instead: on it the receiver completes a part that has all
// the bytes but has not taken the final name, or fails with its own error. `progress`(bytes
// done, size), when given, is called after every chunk. `before_call`(another follows), when
// given, is called before every call with whether a further call will come after it, so that a
// channel opens a connection ahead only when one will carry a call. Returns the number of calls
// made.
// Throws EReadError "Stream read error" when the file ends early (once every chunk read before
// has been sent), what the file raises, and what the target raises.
int64_t SendBackupChunks(IVantryService& target, File& file, const std::string& target_file_name,
                         int64_t start, int64_t size,
                         const std::function<void(int64_t, int64_t)>& progress = nullptr,
                         const std::function<void(bool)>& before_call = nullptr);

}  // namespace vantry
