#include "transfer/fast_receiver.h"

#include <algorithm>
#include <set>
#include <vector>

#include "contract/backup_transfer_format.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/file_helpers.h"
#include "platform/identity.h"
#include "platform/path_helpers.h"
#include "transfer/transfer_hash.h"
#include "transfer/transfer_record.h"

namespace vantry {
namespace {

constexpr int64_t kMinChunkSize = 64 * 1024;
constexpr int64_t kMaxChunkSize = 64 << 20;

// Names that differ only in letter case name to one file on the receiver's disks.
std::string NameKey(const std::string& file_name) { return AnsiUpperCase(file_name); }

std::string ReadRecordBytes(FileSystem& file_system, const std::string& path) {
  if (!file_system.FileExists(path)) return "";
  return file_system.ReadWholeFile(path);
}

}  // namespace

// One open transfer. Its files are written under `mutex`, by whichever connection thread
// carries a chunk.
struct FastTransferReceiver::Transfer {
  explicit Transfer(FastTransferReceiver& owner) : owner(owner) {
    std::lock_guard<std::mutex> lock(owner.mutex_);
    ++owner.alive_;
  }
  ~Transfer() {
    work.reset();
    record.reset();
    std::lock_guard<std::mutex> lock(owner.mutex_);
    --owner.alive_;
    owner.idle_.notify_all();
  }
  FastTransferReceiver& owner;
  std::string file_name;
  int64_t total = 0;
  int64_t chunk_size = 0;
  std::string work_path;
  std::string record_path;
  std::mutex mutex;
  std::unique_ptr<File> work;    // guarded by mutex
  std::unique_ptr<File> record;  // guarded by mutex; positioned at its end
  std::map<int64_t, VerifiedChunk> verified;  // guarded by mutex, by offset
  std::set<int64_t> fresh;  // guarded by mutex: offsets whose bytes arrived in this attempt
};

FastTransferReceiver::FastTransferReceiver(FileSystem& file_system, const Clock& clock)
    : file_system_(file_system), clock_(clock) {}

void FastTransferReceiver::RemoveAbandoned(const std::string& directory, int days) {
  if (days <= 0) return;
  const TDateTime now = clock_.Now();
  for (const char* pattern : {"*.work", "*.work.record"}) {
    for (const FileEntry& entry : FindFiles(file_system_, directory + pattern, kFindAllAttributes)) {
      if ((entry.attributes & kFileAttributeDirectory) != 0 || now - entry.last_write <= days) {
        continue;
      }
      std::string path = directory + entry.name;
      bool open = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [token, transfer] : by_token_) {
          open = open || AnsiSameText(transfer->work_path, path) ||
                 AnsiSameText(transfer->record_path, path);
        }
      }
      if (!open) file_system_.TryDeleteFile(path);
    }
  }
}

FastTransferReceiver::~FastTransferReceiver() = default;

size_t FastTransferReceiver::OpenCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return by_token_.size();
}

std::string FastTransferReceiver::Open(const std::string& file_name, int64_t total_file_size,
                                       int64_t chunk_size, IROTransport* transport,
                                       int abandoned_days) {
  if (total_file_size < 0 || chunk_size < kMinChunkSize || chunk_size > kMaxChunkSize) {
    throw Exception(Format("Transfer of '%s' asks for %d bytes in chunks of %d", file_name,
                           total_file_size, chunk_size));
  }
  if (ExtractFilePath(file_name).empty()) throw EInOutError("Unable to create directory");
  ForceDirectories(file_system_, ExtractFilePath(file_name));
  RemoveAbandoned(ExtractFilePath(file_name), abandoned_days);
  AssertBackupFileAbsent(file_system_.FileExists(file_name), file_name);

  auto transfer = std::make_shared<Transfer>(*this);
  transfer->file_name = file_name;
  transfer->total = total_file_size;
  transfer->chunk_size = chunk_size;
  transfer->work_path = WorkFileName(file_name, total_file_size);
  transfer->record_path = RecordFileName(file_name, total_file_size);
  const std::string token = GuidToString(NewGuid());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (token_by_name_.count(NameKey(file_name)) != 0) {
      throw Exception(Format("Backup File '%s' is being received by another transfer", file_name));
    }
    token_by_name_[NameKey(file_name)] = token;
    by_token_[token] = transfer;
  }
  try {
    std::string bytes = ReadRecordBytes(file_system_, transfer->record_path);
    std::vector<VerifiedChunk> recorded = ParseRecord(bytes, total_file_size);
    transfer->work = file_system_.OpenFileStream(transfer->work_path, FileAccess::kReadWrite,
                                                 FileShare::kNone, FileDisposition::kOpenAlways);
    transfer->record = file_system_.OpenFileStream(
        transfer->record_path, FileAccess::kReadWrite, FileShare::kNone,
        FileDisposition::kOpenAlways);
    // A damaged tail is cut off, so that new entries follow the last good one.
    transfer->record->SetSize(static_cast<int64_t>(recorded.size()) * 32);
    transfer->record->Seek(0, SeekOrigin::kEnd);
    // Entries of an attempt with another chunk size do not line up with this one's chunks.
    for (const VerifiedChunk& chunk : recorded) {
      if (chunk.offset % chunk_size == 0 &&
          chunk.length == std::min(chunk_size, total_file_size - chunk.offset)) {
        transfer->verified[chunk.offset] = chunk;
      }
    }
  } catch (...) {
    Close(token);
    throw;
  }
  std::vector<VerifiedChunk> held;
  for (const auto& [offset, chunk] : transfer->verified) held.push_back(chunk);
  if (transport != nullptr) transport->KeepConnection([this, token] { Close(token); });
  return FormatOpenAnswer(token, held);
}

void FastTransferReceiver::WaitUntilIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [&] { return by_token_.empty() && alive_ == 0; });
}

std::shared_ptr<FastTransferReceiver::Transfer> FastTransferReceiver::Find(
    const std::string& token) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = by_token_.find(token);
  if (found == by_token_.end()) {
    throw Exception(Format("Transfer %s is not open (the connection that opened it ended)", token));
  }
  return found->second;
}

void FastTransferReceiver::Close(const std::string& token) {
  std::shared_ptr<Transfer> closed;  // let go outside the lock: its end takes the lock
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = by_token_.find(token);
  if (found == by_token_.end()) return;
  closed = std::move(found->second);
  token_by_name_.erase(NameKey(closed->file_name));
  by_token_.erase(found);
  idle_.notify_all();
}

void FastTransferReceiver::Put(const std::string& token, int64_t offset, uint64_t hash,
                               TROBinaryMemoryStream& data) {
  std::shared_ptr<Transfer> transfer = Find(token);
  const int64_t length = data.Size();
  if (offset < 0 || offset % transfer->chunk_size != 0 || offset >= transfer->total ||
      length != std::min(transfer->chunk_size, transfer->total - offset)) {
    throw Exception(Format("Chunk of %d bytes at offset %d does not belong to '%s'", length,
                           offset, transfer->file_name));
  }
  if (on_chunk_arrived) on_chunk_arrived(offset, data);
  if (ChunkHash(data.Data(), static_cast<size_t>(length)) != hash) {
    throw Exception(Format("Chunk at offset %d of '%s' %s", offset, transfer->file_name,
                           kDamagedChunkText));
  }
  VerifiedChunk chunk{offset, length, hash};
  std::string entry = RecordEntry(chunk);
  std::lock_guard<std::mutex> lock(transfer->mutex);
  transfer->work->Seek(offset, SeekOrigin::kBegin);
  transfer->work->Write(data.Data(), length);
  // The data goes before its entry: a stop in between leaves the chunk unrecorded, to be sent
  // again, never recorded and missing.
  transfer->record->Write(entry.data(), static_cast<int64_t>(entry.size()));
  transfer->verified[offset] = chunk;
  transfer->fresh.insert(offset);
  data.SetPosition(length);
}

void FastTransferReceiver::Finish(const std::string& token, uint64_t file_hash) {
  std::shared_ptr<Transfer> transfer = Find(token);
  std::lock_guard<std::mutex> lock(transfer->mutex);
  int64_t covered = 0;
  for (const auto& [offset, chunk] : transfer->verified) {
    if (offset != covered) break;
    covered += chunk.length;
  }
  if (covered != transfer->total) {
    throw Exception(Format("Transfer of '%s' is incomplete: %d of %d bytes received",
                           transfer->file_name, covered, transfer->total));
  }
  File& work = *transfer->work;
  work.SetSize(transfer->total);
  work.Flush();
  // The chunks of this attempt were hashed from the bytes as they arrived and written since;
  // those recorded by an earlier attempt are read back, for what counts is what the disk holds
  // after a stop.
  FileHash whole;
  bool intact = true;
  std::vector<char> piece;
  for (const auto& [offset, chunk] : transfer->verified) {
    if (transfer->fresh.count(offset) == 0) {
      piece.resize(static_cast<size_t>(chunk.length));
      work.Seek(offset, SeekOrigin::kBegin);
      intact = intact && work.Read(piece.data(), chunk.length) == chunk.length &&
               ChunkHash(piece.data(), piece.size()) == chunk.hash;
    }
    whole.AddChunk(chunk.hash);
  }
  work.Close();
  transfer->record->Close();
  if (!intact || whole.Digest() != file_hash) {
    file_system_.TryDeleteFile(transfer->work_path);
    file_system_.TryDeleteFile(transfer->record_path);
    Close(token);
    throw Exception(Format(
        "Backup File '%s' failed verification: the bytes received do not match the sender's; "
        "the work file was removed",
        transfer->file_name));
  }
  try {
    AssertBackupFileAbsent(file_system_.FileExists(transfer->file_name), transfer->file_name);
    // Never replaces: a file that appeared meanwhile makes the move fail instead.
    file_system_.MoveFile(transfer->work_path, transfer->file_name, kMoveFileWriteThrough);
  } catch (...) {
    Close(token);
    throw;
  }
  file_system_.TryDeleteFile(transfer->record_path);
  Close(token);
}

std::string TFastTransferService::OpenTransfer(const std::string& file_name,
                                               int64_t total_file_size, int64_t chunk_size) {
  return receiver_.Open(file_name, total_file_size, chunk_size, CurrentFastTransferTransport(),
                        abandoned_days_);
}

void TFastTransferService::PutChunk(const std::string& token, int64_t offset, int64_t hash,
                                    TROBinaryMemoryStream* data) {
  if (data == nullptr) throw Exception(Format("PutChunk at offset %d carries no Data", offset));
  receiver_.Put(token, offset, static_cast<uint64_t>(hash), *data);
}

void TFastTransferService::FinishTransfer(const std::string& token, int64_t file_hash) {
  receiver_.Finish(token, static_cast<uint64_t>(file_hash));
}

}  // namespace vantry
