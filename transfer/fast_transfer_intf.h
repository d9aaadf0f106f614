// VantryFastTransfer: the remote interface of the fast transfer between two instances, beside
// VantryService and independent of it. A sender opens a transfer once (the answer names the
// chunks the receiver holds verified already), sends the chunks it still needs over a few
// connections that stay open, several at once and in any order, each with its checksum, and
// finishes with the checksum of the whole file; only then does the receiver give the file its
// final name. An instance that does not offer the interface answers the first call with the
// runtime's "Class factory for interface VantryFastTransfer not found".
//
// Wire: interface "VantryFastTransfer" of library "VantryFastTransferLibrary"; operations
//   OpenTransfer(FileName: AnsiString, TotalFileSize: Int64, ChunkSize: Int64): AnsiString
//   PutChunk(Token: AnsiString, Offset: Int64, Hash: Int64, Data: Binary)
//   FinishTransfer(Token: AnsiString, FileHash: Int64)
// Hashes are the 64 bits of XXH3 carried as Int64; FileHash is the whole file's checksum as
// transfer/transfer_hash.h defines it. The answer of
// OpenTransfer is the transfer's token, then one line "offset length hash" (decimal, decimal,
// 16 hex digits) per chunk the receiver holds verified, each line ended by "\n".
//
// Thread safety: a proxy serves one thread at a time; the invoker serves any number at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "remoting/binary_stream.h"
#include "remoting/class_factory.h"
#include "remoting/proxy.h"

namespace vantry {

inline constexpr char kFastTransferLibraryName[] = "VantryFastTransferLibrary";
inline constexpr char kFastTransferServiceName[] = "VantryFastTransfer";

class IFastTransfer {
 public:
  virtual ~IFastTransfer() = default;
  virtual std::string OpenTransfer(const std::string& file_name, int64_t total_file_size,
                                   int64_t chunk_size) = 0;
  virtual void PutChunk(const std::string& token, int64_t offset, int64_t hash,
                        TROBinaryMemoryStream* data) = 0;
  virtual void FinishTransfer(const std::string& token, int64_t file_hash) = 0;
};

class TFastTransfer_Proxy : public TROProxy, public IFastTransfer {
 public:
  using TROProxy::TROProxy;
  std::string OpenTransfer(const std::string& file_name, int64_t total_file_size,
                           int64_t chunk_size) override;
  void PutChunk(const std::string& token, int64_t offset, int64_t hash,
                TROBinaryMemoryStream* data) override;
  void FinishTransfer(const std::string& token, int64_t file_hash) override;

 protected:
  const char* ProxyInterfaceName() const override { return kFastTransferServiceName; }

 private:
  template <auto Method, typename... Args>
  auto Remote(Args&&... args);
};

// The transport of the call that runs on this thread, while an invoker of this interface runs
// it; nullptr otherwise. The receiving service ties a transfer to the connection that opened it.
IROTransport* CurrentFastTransferTransport();

// Registers the class factory of VantryFastTransfer; its invoker keeps every connection that
// carries one of its calls open for the next call (IROTransport::KeepConnection).
std::unique_ptr<TROClassFactory> CreateFastTransferFactory(TROClassFactory::Creator creator);

}  // namespace vantry
