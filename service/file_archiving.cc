// ArchiveFile: replaces a file by a ZIP archive beside it that holds it.
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/path_helpers.h"
#include "service/VantryService_Impl.h"
#include "zip/ab_zipper.h"

namespace vantry {

void TVantryService::ArchiveFile(const std::string& file_name) {
  if (!file_system_.FileExists(file_name)) {
    throw Exception(Format("File \"%s\" does not exist", file_name));
  }
  std::string archive_name = ChangeFileExt(file_name, ".zip");
  std::string reason = "no file of that name was found";
  bool added = false;
  {
    TAbZipper zipper(file_system_);
    zipper.SetItemFailureHandler([&](const std::string& disk_name, const std::string& why) {
      if (AnsiSameText(disk_name, file_name)) reason = why;
    });
    zipper.SetFileName(archive_name);
    zipper.AddFiles(file_name, kFindAllAttributes);
    zipper.Close();
    for (const std::string& disk_name : zipper.AddedFiles()) {
      added = added || AnsiSameText(disk_name, file_name);
    }
  }
  // The file goes only once the archive on disk holds it; a file that will not go away stays
  // beside its archive without an error.
  if (!added) {
    throw Exception(
        Format("File \"%s\" was not added to archive \"%s\": %s", file_name, archive_name, reason));
  }
  // Counting never fails the call: a file that cannot be sized counts nothing.
  if (std::optional<FileEntry> entry = file_system_.GetFileInfo(file_name)) {
    host_.CountActivity(THostActivity::kBytesArchived, entry->size);
  }
  file_system_.TryDeleteFile(file_name);
}

}  // namespace vantry
