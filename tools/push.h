// The client's own push of a local file to an instance. Where the instance offers the fast
// transfer (transfer/fast_sender.h) the file goes over it: several chunks at once, each checked,
// and a push broken off earlier continues from the chunks the instance holds verified. Otherwise,
// or with `compat`, it goes as the ReceiveBackup calls that SendBackup makes (chunks of
// 1 048 576 bytes in file order, one call each, TotalFileSize the file's size), always from
// offset 0: ReceiveBackup offers no way to read back what a part holds, so a part left by an
// earlier push of another file of the same size would be completed with this file's tail.
//
// Thread safety: one thread (the fast transfer runs connection threads of its own).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/client_session.h"

namespace vantry::client {

struct PushOptions {
  bool compat = false;     // ReceiveBackup calls only
  int64_t rate_limit = 0;  // bytes per second, 0 for no cap
  std::function<void(int64_t, int64_t)> progress;  // (bytes done, total)
};

struct PushResult {
  bool fast = false;       // went over the fast transfer
  int64_t total = 0;       // the file's size
  int64_t verified = 0;    // fast: bytes the instance held verified and were not sent again
  int64_t chunks = 0;      // chunks sent
};

// What the client says when --resume meets the ReceiveBackup calls.
inline constexpr char kUnverifiedResumeNote[] =
    "--resume: the part on the instance cannot be verified over ReceiveBackup; the file was sent "
    "from offset 0";

// Sends the host file `local_path` to `remote_path` (Windows-1252) on the session's instance.
// `progress` is called before the first chunk and as chunks are done. Throws UsageError when the
// local file cannot be read, and what the service or channel raises.
PushResult PushFile(Session& session, const std::string& local_path,
                    const std::string& remote_path, const PushOptions& options);

// "10M", "512k", "1G" or a plain count of bytes per second (k, M, G: powers of 1024); throws
// UsageError otherwise.
int64_t ParseRate(const std::string& text);

}  // namespace vantry::client
