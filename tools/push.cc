#include "tools/push.h"

#include <charconv>
#include <memory>
#include <optional>

#include "contract/backup_chunk_sender.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "transfer/fast_sender.h"
#include "transfer/rate_limiter.h"
#include "tools/error_report.h"
#include "tools/usage_error.h"

namespace vantry::client {

PushResult PushFile(Session& session, const std::string& local_path,
                    const std::string& remote_path, const PushOptions& options) {
  std::unique_ptr<File> file;
  try {
    file = OpenHostFileForReading(local_path);
  } catch (const EOSError&) {
    throw UsageError("cannot read the local file \"" + local_path + "\"");
  }
  PushResult result;
  result.total = file->Size();
  // The receiver takes no chunk of an empty file, so nothing would arrive.
  if (result.total == 0)
    throw CommandRefused(local_path + " is empty, and an empty file never arrives");
  if (options.progress) options.progress(0, result.total);
  try {
    if (!options.compat && result.total > 0) {
      FastSendOptions fast;
      fast.tls = session.Tls();
      fast.rate_limit = options.rate_limit;
      fast.progress = options.progress;
      fast.server_exception_prefix = false;
      if (std::optional<FastSendResult> sent =
              SendFast(session.Target(), *file, result.total, remote_path, fast)) {
        result.fast = true;
        result.verified = sent->skipped;
        result.chunks = sent->chunks;
        return result;
      }
    }
    // The cap holds between chunks: each waits for the time its bytes take at the rate.
    RateLimiter limit(options.rate_limit);
    int64_t last = 0;
    result.chunks = SendBackupChunks(session.Service(), *file, remote_path, 0, result.total,
                                     [&](int64_t done, int64_t total) {
                                       limit.Acquire(done - last);
                                       last = done;
                                       if (options.progress) options.progress(done, total);
                                     });
  } catch (const EReadError&) {
    throw UsageError("reading the local file \"" + local_path + "\" failed");
  }
  return result;
}

int64_t ParseRate(const std::string& text) {
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  std::string_view unit(end, text.data() + text.size() - end);
  int shift = unit.empty() ? 0 : unit == "k" || unit == "K" ? 10 : unit == "M" ? 20
                                                                   : unit == "G" ? 30 : -1;
  if (error != std::errc() || end == text.data() || value < 0 || shift < 0 ||
      value > (INT64_MAX >> shift)) {
    throw UsageError("--limit-rate \"" + text + "\" must be a count of bytes per second, "
                     "optionally followed by k, M or G");
  }
  return value << shift;
}

}  // namespace vantry::client
