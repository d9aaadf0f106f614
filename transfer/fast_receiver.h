// The receiving side of the fast transfer: FastTransferReceiver holds the transfers that are
// open on this instance, and TFastTransferService is the per-call implementation object of
// VantryFastTransfer that forwards to it.
//
// A transfer is opened by name and size. Opening checks, before any byte travels, that the
// final file does not exist (the receiver's "already exists" assertion) and that no other
// transfer to the same name is open (Exception "Backup File '%s' is being received by another
// transfer"). It lasts as long as the connection that opened it, so a sender that died leaves
// the name free at once, while its work file and record stay for the next attempt. Chunks are
// checked against their hashes as they arrive (Exception "Chunk at offset %d of '%s' arrived
// damaged", which the sender answers by sending the chunk again), written at their offsets and
// recorded. Finishing flushes the work file, reads back and checks the chunks recorded by an
// earlier attempt, and compares the whole file's checksum with the sender's; only a file that
// matches takes the final name, written through (file, then directory). A file that does not
// match is removed with its record, and the transfer fails.
//
// Ownership: the receiver owns the open transfers and their files; `file_system` must outlive it.
// Thread safety: every operation may be called from any number of connection threads at once.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "remoting/remotable.h"
#include "remoting/transport.h"
#include "transfer/fast_transfer_intf.h"

namespace vantry {

// After how many days without a write the work file of a transfer that is not open counts as
// abandoned, unless the settings say otherwise.
inline constexpr int kAbandonedWorkDays = 7;

// The text by which a sender recognises a chunk that must be sent again.
inline constexpr char kDamagedChunkText[] = "arrived damaged";

class FastTransferReceiver {
 public:
  // `clock` dates the work files that were abandoned (see Open).
  FastTransferReceiver(FileSystem& file_system, const Clock& clock);
  FastTransferReceiver(const FastTransferReceiver&) = delete;
  FastTransferReceiver& operator=(const FastTransferReceiver&) = delete;
  ~FastTransferReceiver();

  // The operations of VantryFastTransfer. `transport` (may be null: then the transfer stays
  // open until it finishes) is the connection the transfer is tied to. Opening also removes,
  // in the final file's directory, the work files and records of transfers that are not open
  // and were last written more than `abandoned_days` days ago (none when it is 0 or less).
  std::string Open(const std::string& file_name, int64_t total_file_size, int64_t chunk_size,
                   IROTransport* transport, int abandoned_days = kAbandonedWorkDays);
  void Put(const std::string& token, int64_t offset, uint64_t hash, TROBinaryMemoryStream& data);
  void Finish(const std::string& token, uint64_t file_hash);

  // Transfers open now.
  size_t OpenCount() const;
  // Returns once no transfer is open and none is still being written by a call that outlived
  // its transfer: the files of every transfer are closed then.
  void WaitUntilIdle();

  // Test hook: sees every chunk as it arrived, before its hash is checked. Set before use.
  std::function<void(int64_t offset, TROBinaryMemoryStream& data)> on_chunk_arrived;

 private:
  struct Transfer;
  std::shared_ptr<Transfer> Find(const std::string& token) const;
  void Close(const std::string& token);

  void RemoveAbandoned(const std::string& directory, int days);

  FileSystem& file_system_;
  const Clock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable idle_;  // a transfer was let go
  size_t alive_ = 0;              // guarded by mutex_: Transfer objects in existence
  std::map<std::string, std::shared_ptr<Transfer>> by_token_;  // guarded by mutex_
  std::map<std::string, std::string> token_by_name_;           // upper-cased name -> token
};

class TFastTransferService : public TRORemotable, public IFastTransfer {
 public:
  // `receiver` must outlive the object.
  // `receiver` must outlive the object; `abandoned_days` as for FastTransferReceiver::Open.
  TFastTransferService(FastTransferReceiver& receiver, int abandoned_days)
      : receiver_(receiver), abandoned_days_(abandoned_days) {}

  std::string OpenTransfer(const std::string& file_name, int64_t total_file_size,
                           int64_t chunk_size) override;
  void PutChunk(const std::string& token, int64_t offset, int64_t hash,
                TROBinaryMemoryStream* data) override;
  void FinishTransfer(const std::string& token, int64_t file_hash) override;

 private:
  FastTransferReceiver& receiver_;
  const int abandoned_days_;
};

}  // namespace vantry
