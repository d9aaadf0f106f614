// The client's own push of a local file to an instance: ReceiveBackup calls exactly as the
// service's SendBackup makes them (chunks of 1 048 576 bytes in file order, one call each,
// TotalFileSize the file's size), optionally resumed from the end of the part file that starts
// at offset 0 on the receiver, so an interrupted push of a large file need not start again.
//
// Thread safety: one thread; the service proxy is used for one call at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "contract/VantryLibrary_Intf.h"
#include "contract/backup_transfer_format.h"

namespace vantry::client {

struct PushResult {
  int64_t total = 0;       // the file's size
  int64_t resumed_at = 0;  // the offset of the first chunk sent
  int64_t chunks = 0;      // ReceiveBackup calls made
};

// The receiver's name of the part that starts at 0: "%s.l%d.part_" + "0".
std::string FirstPartName(const std::string& remote_path, int64_t total_size);

// Sends the host file `local_path` to `remote_path` (Windows-1252) through `service`. With
// `resume`, asks for the size of the first part (GetFileSize) and starts at its end when that
// lies inside the file; a part as long as the file gets one empty chunk at its end, on which
// the receiver completes the file or fails. Otherwise, and without `resume`, starts at 0, which
// resets the part.
// `progress`(bytes done, total) is called before the first chunk and after each one. Throws
// UsageError when the local file cannot be read, CommandRefused when it is empty, and what the
// service or channel raises.
PushResult PushFile(IVantryService& service, const std::string& local_path,
                    const std::string& remote_path, bool resume,
                    const std::function<void(int64_t, int64_t)>& progress);

}  // namespace vantry::client
