// SendBackup: pushes a local file to another instance as ReceiveBackup calls of one chunk each,
// in file order, one call at a time (contract/backup_chunk_sender.h). With FastTransfer on it
// asks the target once whether it offers the fast transfer (transfer/fast_sender.h) and uses it
// when it does; a target that does not gets the ReceiveBackup calls as before. While a call is
// in flight the next chunk is already read and, when another chunk follows, the next connection
// opened, so disk, network and peer work at the same time; a chunk goes from the read buffer to
// the socket without a copy.
#include <algorithm>
#include <memory>

#include "contract/backup_chunk_sender.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/os_error.h"
#include "remoting/message.h"
#include "remoting/remote_service.h"
#include "remoting/tcp_channel.h"
#include "service/VantryService_Impl.h"
#include "transfer/fast_sender.h"
#include "transfer/rate_limiter.h"

namespace vantry {
namespace {

std::unique_ptr<File> OpenSource(FileSystem& file_system, const std::string& path) {
  // Not shared: the file cannot change under the transfer.
  return file_system.OpenFileStream(path, FileAccess::kRead, FileShare::kNone,
                                    FileDisposition::kOpenExisting);
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
  // A "tls://" target is reached with the service's own certificate; sessions resume across
  // the chunks' connections.
  channel.SetTlsContext(host_.GetTlsClientContext());
  holder.SetChannel(&channel);
  std::shared_ptr<IVantryService> target = holder.GetService<IVantryService>(kIVantryServiceGuid);
  if (target == nullptr) throw EIntfCastError("Interface not supported");

  std::unique_ptr<File> source = OpenSource(file_system_, source_file_name);
  int64_t size = source->Size();
  // An empty file makes no call on either path: nothing arrives.
  const THostSettings settings = host_.GetSettings();
  if (settings.FastTransfer && size > 0) {
    FastSendOptions options;
    options.tls = host_.GetTlsClientContext();
    options.rate_limit = int64_t{std::max(settings.TransferRateLimitKiB, 0)} * 1024;
    ServiceRateLimiter().SetRate(int64_t{std::max(settings.ServiceRateLimitKiB, 0)} * 1024);
    options.shared_rate_limit = &ServiceRateLimiter();
    if (SendFast(target_server, *source, size, target_file_name, options)) {
      source->Close();
      return;
    }
  }
  // A connection per chunk, each opened during the call before it; none after the last chunk,
  // which would reach the target as a connection that carries nothing.
  SendBackupChunks(*target, *source, target_file_name, 0, size, nullptr,
                   [&channel](bool another_follows) { channel.SetConnectAhead(another_follows); });
  source->Close();
  host_.CountActivity(THostActivity::kBackupBytesSent, size);
}

}  // namespace vantry
