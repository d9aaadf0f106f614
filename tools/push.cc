#include "tools/push.h"

#include <memory>

#include "contract/backup_chunk_sender.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "tools/usage_error.h"

namespace vantry::client {

PushResult PushFile(IVantryService& service, const std::string& local_path,
                    const std::string& remote_path,
                    const std::function<void(int64_t, int64_t)>& progress) {
  std::unique_ptr<File> file;
  try {
    file = OpenHostFileForReading(local_path);
  } catch (const EOSError&) {
    throw UsageError("cannot read the local file \"" + local_path + "\"");
  }
  PushResult result;
  result.total = file->Size();
  if (progress) progress(0, result.total);
  try {
    result.chunks = SendBackupChunks(service, *file, remote_path, 0, result.total, progress);
  } catch (const EReadError&) {
    throw UsageError("reading the local file \"" + local_path + "\" failed");
  }
  return result;
}

}  // namespace vantry::client
