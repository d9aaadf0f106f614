#include "transfer/fast_transfer_intf.h"

#include <tuple>

#include "remoting/operation_binding.h"

namespace vantry {
namespace {

inline constexpr ServiceNames kFastTransferNames{kFastTransferLibraryName,
                                                 kFastTransferServiceName};

inline constexpr auto kFastTransferOperations = std::make_tuple(
    DeclareOperation<&IFastTransfer::OpenTransfer>("OpenTransfer", "FileName", "TotalFileSize",
                                                   "ChunkSize"),
    DeclareOperation<&IFastTransfer::PutChunk>("PutChunk", "Token", "Offset", "Hash", "Data"),
    DeclareOperation<&IFastTransfer::FinishTransfer>("FinishTransfer", "Token", "FileHash"));

thread_local IROTransport* current_transport = nullptr;

class TFastTransfer_Invoker : public TROInvoker {
 public:
  TFastTransfer_Invoker() {
    PublishHandlers(HandlerTable<kFastTransferOperations, kFastTransferNames>());
  }

  bool InvokeOperation(IROClassFactory& factory, IROMessage& message, IROTransport& transport,
                       TROResponseOptions& options) override {
    // The callers of this interface make many calls back to back: the connection stays.
    transport.KeepConnection(nullptr);
    IROTransport* outer = current_transport;
    current_transport = &transport;
    try {
      bool result = TROInvoker::InvokeOperation(factory, message, transport, options);
      current_transport = outer;
      return result;
    } catch (...) {
      current_transport = outer;
      throw;
    }
  }
};

}  // namespace

template <auto Method, typename... Args>
auto TFastTransfer_Proxy::Remote(Args&&... args) {
  auto send = [this](std::string_view operation, const auto& write_in, const auto& read_out) {
    Call(kFastTransferLibraryName, operation, write_in, read_out);
  };
  return CallOperation<kFastTransferOperations, Method>(send, std::forward<Args>(args)...);
}

std::string TFastTransfer_Proxy::OpenTransfer(const std::string& file_name,
                                              int64_t total_file_size, int64_t chunk_size) {
  return Remote<&IFastTransfer::OpenTransfer>(file_name, total_file_size, chunk_size);
}

void TFastTransfer_Proxy::PutChunk(const std::string& token, int64_t offset, int64_t hash,
                                   TROBinaryMemoryStream* data) {
  Remote<&IFastTransfer::PutChunk>(token, offset, hash, data);
}

void TFastTransfer_Proxy::FinishTransfer(const std::string& token, int64_t file_hash) {
  Remote<&IFastTransfer::FinishTransfer>(token, file_hash);
}

IROTransport* CurrentFastTransferTransport() { return current_transport; }

std::unique_ptr<TROClassFactory> CreateFastTransferFactory(TROClassFactory::Creator creator) {
  return TROClassFactory::Create<TFastTransfer_Invoker>(kFastTransferServiceName,
                                                        std::move(creator));
}

}  // namespace vantry
