#include "tools/push.h"

#include <fstream>
#include <vector>

#include "platform/exception.h"
#include "tools/usage_error.h"

namespace vantry::client {

std::string FirstPartName(const std::string& remote_path, int64_t total_size) {
  return BackupPartPrefix(remote_path, total_size) + "0";
}

PushResult PushFile(IVantryService& service, const std::string& local_path,
                    const std::string& remote_path, bool resume,
                    const std::function<void(int64_t, int64_t)>& progress) {
  std::ifstream file(local_path, std::ios::binary | std::ios::ate);
  if (!file) throw UsageError("cannot read the local file \"" + local_path + "\"");
  PushResult result;
  result.total = static_cast<int64_t>(file.tellg());
  if (resume && result.total > 0) {
    int64_t done = service.GetFileSize(FirstPartName(remote_path, result.total));
    if (done > 0 && done <= result.total) result.resumed_at = done;
  }
  file.seekg(result.resumed_at);
  std::vector<char> buffer(kBackupChunkSize);
  int64_t offset = result.resumed_at;
  // A part as long as the file got all its chunks but did not take the final name (the name
  // was taken, or the rename failed). An empty chunk at its end has the receiver try again: it
  // completes the file or fails with the receiver's error, and nothing is sent twice.
  bool closing = result.total > 0 && offset == result.total;
  if (progress) progress(offset, result.total);
  while (offset < result.total || closing) {
    int64_t n = std::min<int64_t>(kBackupChunkSize, result.total - offset);
    if (n > 0 && !file.read(buffer.data(), n)) {
      throw UsageError("reading the local file \"" + local_path + "\" failed");
    }
    TROBinaryMemoryStream chunk(std::string_view(buffer.data(), static_cast<size_t>(n)));
    service.ReceiveBackup(remote_path, result.total, offset, &chunk);
    offset += n;
    ++result.chunks;
    closing = false;
    if (progress) progress(offset, result.total);
  }
  return result;
}

}  // namespace vantry::client
