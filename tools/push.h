// The client's own push of a local file to an instance over ReceiveBackup: ReceiveBackup
// calls exactly as the service's SendBackup makes them (chunks of 1 048 576 bytes in file order,
// one call each, TotalFileSize the file's size), always from offset 0. A part left on the
// receiver by an earlier push cannot be continued here: ReceiveBackup offers no way to read back
// what the part holds, so a part of another file of the same size would be completed with this
// file's tail. The first chunk resets the part instead.
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

// What the client says when --resume is asked of a push over ReceiveBackup.
inline constexpr char kUnverifiedResumeNote[] =
    "--resume: the part on the instance cannot be verified over ReceiveBackup; sending from "
    "offset 0";

// Sends the host file `local_path` to `remote_path` (Windows-1252) through `service`, from
// offset 0. `progress`(bytes done, total) is called before the first chunk and after each one.
// Throws UsageError when the local file cannot be read, and what the service or channel raises.
PushResult PushFile(IVantryService& service, const std::string& local_path,
                    const std::string& remote_path,
                    const std::function<void(int64_t, int64_t)>& progress);

}  // namespace vantry::client
