#include "tools/plan.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>

#include "lib/servermaintanence/MakeDiskSpace.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/path_helpers.h"
#include "tools/local_directory.h"

namespace vantry::client {
namespace {

const char* BucketOf(const TBackupList& list, const TBackupFile* file) {
  for (TBackupBucket bucket :
       {TBackupBucket::kWeek, TBackupBucket::kMonth, TBackupBucket::kYear, TBackupBucket::kOlder}) {
    const std::vector<const TBackupFile*>& files = list.Bucket(bucket);
    if (std::find(files.begin(), files.end(), file) != files.end()) return BackupBucketName(bucket);
  }
  return "";
}

}  // namespace

std::string FormatLocalTime(TDateTime value) {
  DateTimeParts p = DecodeDateTime(value);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", p.year, p.month, p.day, p.hour,
                     p.minute, p.second);
}

std::vector<PlannedBackup> PlanReclamation(const std::string& directory,
                                           const std::string& database_file,
                                           TVantry_DeleteStrategyType strategy,
                                           const Clock& clock) {
  LocalDirectory local(directory);
  PosixFileSystem& file_system = local.Files();
  BackupDeletionPlan plan =
      PlanBackupDeletion(file_system, clock, ExtractFileName(Utf8ToAnsi(database_file)),
                         ExcludeTrailingBackslash(local.WindowsPath()), static_cast<int>(strategy));
  std::set<std::string> deleted(plan.delete_list.begin(), plan.delete_list.end());
  const TBackupList& list = *plan.backup_list;
  std::vector<PlannedBackup> backups;
  for (int i = 0; i < list.Count(); ++i) {
    const TBackupFile& file = list.Item(i);
    backups.push_back({file_system.HostPath(file.FullName()), file.FileTime(),
                       BackupAge(clock.Now(), file.FileTime()), BucketOf(list, &file),
                       deleted.count(file.FullName()) != 0});
  }
  return backups;
}

}  // namespace vantry::client
