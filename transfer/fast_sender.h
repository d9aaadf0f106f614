// The sending side of the fast transfer: a local file goes to another instance over
// VantryFastTransfer (transfer/fast_transfer_intf.h).
//
// How much is in flight: kFastConnections connections that stay open for the whole transfer,
// each carrying one chunk of kFastChunkSize at a time, so 8 x 2 MiB = 16 MiB are on the way at
// once. A link of 1 Gbit/s with a 40 ms round trip holds 5 MB: while one connection waits a
// round trip for its answer the other seven keep the link full, and every connection keeps its
// congestion window from chunk to chunk instead of starting each chunk from the initial window.
// Eight streams also share the link fairly with other traffic without needing large windows of
// their own (2 MiB socket buffers each). The memory stays bounded: the chunks in flight plus
// two being read, about 20 MiB on each side.
//
// The calling thread reads the file in order and computes every chunk's hash and the whole
// file's hash; a chunk that the receiver holds verified with the same offset, length and hash
// is not sent again. A chunk that arrives damaged is sent again, up to kDamagedChunkRetries
// times.
//
// Thread safety: one call runs on its caller's thread and its own connection threads.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/tls.h"
#include "transfer/rate_limiter.h"

namespace vantry {

inline constexpr int kFastConnections = 8;
inline constexpr int64_t kFastChunkSize = int64_t{2} << 20;
inline constexpr int kDamagedChunkRetries = 3;

struct FastSendOptions {
  int connections = kFastConnections;
  int64_t chunk_size = kFastChunkSize;
  // Bytes per second for this transfer; 0 for no cap. `shared_rate_limit`, when given, is
  // also held to (a cap for every transfer of the process together).
  int64_t rate_limit = 0;
  RateLimiter* shared_rate_limit = nullptr;
  // The client context for a "tls://" target (its connections resume one session).
  std::shared_ptr<const TlsContext> tls;
  // Whether the receiver's errors arrive with the runtime's "An exception was raised on the
  // server: " prefix, as the service passes them on to SendBackup's caller; a client that shows
  // them to a person leaves it off.
  bool server_exception_prefix = true;
  // (bytes the receiver holds, size), called from the connection threads one at a time.
  std::function<void(int64_t, int64_t)> progress;
};

struct FastSendResult {
  int64_t total = 0;    // the file's size
  int64_t skipped = 0;  // bytes the receiver held verified already
  int64_t chunks = 0;   // chunks sent, damaged ones sent again included
};

// Sends all of `source` (of `size` bytes, read from position 0 on) to `target_file_name` on
// `target_server`. Returns nullopt, with nothing read or sent, when the target does not offer
// VantryFastTransfer. Throws what the channel raises (target unreachable, ".Host must be set."),
// what the receiver raises (the "already exists" assertion, another transfer to the name, a
// failed verification, a full disk), and EReadError when the file ends early.
std::optional<FastSendResult> SendFast(const std::string& target_server, File& source,
                                       int64_t size, const std::string& target_file_name,
                                       const FastSendOptions& options = {});

// True when `error`, raised by a target's answer, says the target does not offer
// VantryFastTransfer.
bool IsFastTransferNotOffered(const std::exception& error);

}  // namespace vantry
