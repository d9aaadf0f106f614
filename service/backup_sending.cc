// SendBackup: pushes a local file to another instance as ReceiveBackup calls of one chunk each,
// in file order, one call at a time. While a call is in flight the next chunk is already read
// from the file and the next connection opened, so disk, network and peer work at the same
// time; a chunk goes from the read buffer to the socket without a copy.
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "contract/backup_transfer_format.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/os_error.h"
#include "remoting/message.h"
#include "remoting/remote_service.h"
#include "remoting/tcp_channel.h"
#include "service/VantryService_Impl.h"

namespace vantry {
namespace {

// Reads `file` in chunks of kBackupChunkSize on a thread of its own, one chunk ahead of the caller.
// The file is touched only by that thread while the reader lives.
class ChunkReader {
 public:
  ChunkReader(File& file, int64_t size) : file_(file), size_(size) {
    thread_ = std::thread(&ChunkReader::Run, this);
  }
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;
  ~ChunkReader() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // The next chunk, positioned at 0; valid until the following call. Rethrows a failed read
  // (EReadError "Stream read error" when the file ends early).
  TROBinaryMemoryStream& Next() {
    std::unique_lock<std::mutex> lock(mu_);
    // The caller is done with the chunk it had: the reader may fill that buffer now.
    if (handed_out_ >= 0) free_[handed_out_] = true;
    int index = next_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return ready_[index] || error_; });
    if (error_) std::rethrow_exception(error_);
    ready_[index] = false;
    handed_out_ = index;
    next_ = 1 - index;
    buffers_[index].Rewind();
    return buffers_[index];
  }

 private:
  void Run() {
    int64_t position = 0;
    for (int index = 0; position < size_; index = 1 - index) {
      {
        std::unique_lock<std::mutex> lock(mu_);
        changed_.wait(lock, [&] { return free_[index] || stopping_; });
        if (stopping_) return;
        free_[index] = false;
      }
      int64_t n = std::min(kBackupChunkSize, size_ - position);
      try {
        TROBinaryMemoryStream& buffer = buffers_[index];
        buffer.SetSize(n);
        if (file_.Read(buffer.Data(), n) != n) RaiseStreamReadError();
      } catch (...) {
        std::lock_guard<std::mutex> lock(mu_);
        error_ = std::current_exception();
        changed_.notify_all();
        return;
      }
      position += n;
      std::lock_guard<std::mutex> lock(mu_);
      ready_[index] = true;
      changed_.notify_all();
    }
  }

  File& file_;
  const int64_t size_;
  TROBinaryMemoryStream buffers_[2];
  std::mutex mu_;
  std::condition_variable changed_;
  bool free_[2] = {true, true};     // guarded by mu_: the reader may fill the buffer
  bool ready_[2] = {false, false};  // guarded by mu_: filled, not yet handed out
  int next_ = 0;                    // guarded by mu_: the buffer Next() hands out
  int handed_out_ = -1;             // guarded by mu_: the buffer the caller holds
  bool stopping_ = false;           // guarded by mu_
  std::exception_ptr error_;        // guarded by mu_
  std::thread thread_;
};

std::unique_ptr<File> OpenSource(FileSystem& file_system, const std::string& path) {
  try {
    // Not shared: the file cannot change under the transfer.
    return file_system.OpenFile(path, FileAccess::kRead, FileShare::kNone,
                                FileDisposition::kOpenExisting);
  } catch (const EOSError& e) {
    throw EFOpenError(Format("Cannot open file \"%s\". %s", path, Win32ErrorText(e.ErrorCode())));
  }
}

// With RestrictTargets on, a caller cannot have the service send a file to a machine of its
// choosing: the target must be one of the configured OtherTargetServers, spelt as there (letter
// case aside). Tested before the source, so a refused call learns nothing of local files.
void CheckTargetAllowed(IVantryHost& host, const std::string& target_server) {
  if (!host.GetSettings().RestrictTargets) return;
  std::vector<std::string> servers;
  host.GetOtherTargetServers(servers);
  for (const std::string& server : servers) {
    if (AnsiSameText(server, target_server)) return;
  }
  throw EVantryException(
      Format("SendBackup to \"%s\" refused: RestrictTargets allows only the servers in "
             "OtherTargetServers",
             target_server));
}

}  // namespace

void TVantryService::SendBackup(const std::string& source_file_name,
                                const std::string& target_server,
                                const std::string& target_file_name) {
  CheckTargetAllowed(host_, target_server);
  if (!file_system_.FileExists(source_file_name)) return;
  // Declared in this order so that the proxy, which refers to message and channel, goes first.
  TRORemoteService holder;
  TROBinMessage message;
  message.SetUseCompression(false);  // backups are compressed already, if at all
  holder.SetMessage(&message);
  TROTCPChannel channel;
  channel.SetHost(target_server);
  channel.SetConnectAhead(true);  // a connection per chunk, each opened during the call before
  // A "tls://" target is reached with the service's own certificate; sessions resume across
  // the chunks' connections.
  channel.SetTlsContext(host_.GetTlsClientContext());
  holder.SetChannel(&channel);
  std::shared_ptr<IVantryService> target = holder.GetService<IVantryService>(kIVantryServiceGuid);
  if (target == nullptr) throw EIntfCastError("Interface not supported");

  std::unique_ptr<File> source = OpenSource(file_system_, source_file_name);
  int64_t size = source->Size();
  {
    ChunkReader reader(*source, size);
    for (int64_t position = 0; position < size;) {
      TROBinaryMemoryStream& chunk = reader.Next();
      target->ReceiveBackup(target_file_name, size, position, &chunk);
      position += chunk.Size();
    }
  }
  source->Close();
}

}  // namespace vantry
