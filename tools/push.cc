#include "tools/push.h"

#include <memory>

#include "contract/backup_chunk_sender.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "tools/error_report.h"
#include "tools/usage_error.h"

namespace vantry::client {

std::string FirstPartName(const std::string& remote_path, int64_t total_size) {
  return BackupPartPrefix(remote_path, total_size) + "0";
}

PushResult PushFile(IVantryService& service, const std::string& local_path,
                    const std::string& remote_path, bool resume,
                    const std::function<void(int64_t, int64_t)>& progress) {
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
  if (resume && result.total > 0) {
    int64_t done = service.GetFileSize(FirstPartName(remote_path, result.total));
    // A part as long as the file got all its chunks but did not take the final name (the name
    // was taken, or the rename failed): the empty chunk at its end has the receiver try again,
    // and nothing is sent twice.
    if (done > 0 && done <= result.total) result.resumed_at = done;
  }
  file->Seek(result.resumed_at, SeekOrigin::kBegin);
  if (progress) progress(result.resumed_at, result.total);
  try {
    result.chunks =
        SendBackupChunks(service, *file, remote_path, result.resumed_at, result.total, progress);
  } catch (const EReadError&) {
    throw UsageError("reading the local file \"" + local_path + "\" failed");
  }
  return result;
}

}  // namespace vantry::client
