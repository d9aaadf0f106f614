// TAbZipper, the ZIP archive writer of file archiving: set the archive's name (an existing
// archive is opened and its entries kept), add files by mask, close to save. A save writes the
// whole new archive into a temporary file beside the archive (named "<archive>.~XXXX.tmp", XXXX
// four hex digits), flushes it, and renames it over the archive with the directory written
// through; the old archive is never written to, so a failure or a kill at any point leaves it as
// it was. Leftover temporary files of a killed save are removed by the next close of that
// archive. New entries are deflated on every core while the file streams through (see
// zip/parallel_deflate.h); memory does not grow with the file's size.
//
// The archive file is held open from SetFileName until Close, readable but not writable by other
// opens, so a second writer of the same archive fails (EOSError 32) instead of losing entries.
//
// Thread safety: a TAbZipper belongs to one thread. It uses the FileSystem it was given, which
// must outlive it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "zip/zip_records.h"

namespace vantry {

class TAbZipper {
 public:
  // Told of every file that AddFiles named but the archive did not take, with the reason: its
  // stored name is already there, it is the archive itself, or it failed while it was compressed
  // or copied (then the rest of the archive is still saved).
  using ItemFailureHandler =
      std::function<void(const std::string& disk_name, const std::string& reason)>;

  explicit TAbZipper(FileSystem& file_system);
  TAbZipper(const TAbZipper&) = delete;
  TAbZipper& operator=(const TAbZipper&) = delete;
  // Releases the archive without saving; an archive file this writer created and never saved is
  // removed again. Never throws.
  ~TAbZipper();

  // Saves and closes an archive already open, then opens `file_name`: an existing ZIP archive
  // with its entries (a file of 0 bytes is an archive without entries), or a new, empty file,
  // created at once and held. Throws Exception "Unhandled Archive Type" for a file that is not a
  // ZIP archive, "Invalid file - not a PKZip file" for a damaged one; EOSError when the file
  // cannot be opened or created (32 while another writer holds it).
  void SetFileName(const std::string& file_name);
  const std::string& FileName() const { return file_name_; }

  // Adds every file that `file_mask` names (masks separated by ";", "*" and "?" in the last
  // component) among the directory entries whose attributes `search_attributes` admits.
  // Throws Exception when no archive is open.
  void AddFiles(const std::string& file_mask, uint32_t search_attributes);

  // Saves the archive when an entry was added, then releases it. A save that fails leaves the
  // old archive as it was and no temporary file; its error is raised (EOSError from the file
  // system, Exception "Invalid file - not a PKZip file" when an old entry cannot be read). When
  // no entry could be added, nothing is written and an archive file created by this writer is
  // removed. Harmless when no archive is open.
  void Close();

  void SetItemFailureHandler(ItemFailureHandler handler) { on_item_failure_ = std::move(handler); }
  // The disk names of the files that the last save stored.
  const std::vector<std::string>& AddedFiles() const { return added_files_; }
  const std::vector<ZipEntry>& Entries() const { return entries_; }

 private:
  void AddEntry(const std::string& disk_name);
  void Save();
  void WriteArchive(File& out);
  void WriteNewEntry(ZipEntry* entry, File& out);
  void CopyUnchangedEntry(ZipEntry* entry, File& out);
  void ItemFailed(const std::string& disk_name, const std::string& reason);
  // Closes the archive file and forgets the archive; removes a created, unsaved archive file.
  void Release() noexcept;

  FileSystem& file_system_;
  std::string file_name_;          // empty: no archive open
  std::unique_ptr<File> archive_;  // held from SetFileName until the save or Release
  bool created_archive_ = false;   // the file did not exist before SetFileName
  bool dirty_ = false;
  std::vector<ZipEntry> entries_;
  std::vector<std::string> added_files_;
  ItemFailureHandler on_item_failure_;
};

}  // namespace vantry
