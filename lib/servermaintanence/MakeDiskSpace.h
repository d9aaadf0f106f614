// Disk-space reclamation for backups: TBackupList gathers the backups of one database from a
// backup directory, files each by age into the week, month, year or older bucket, and lets a
// TDeleteStrategy pick the ones to delete. MakeSpaceOnDiskForBackup is the whole operation; it is
// split into PlanBackupDeletion (reads the directory, decides, deletes nothing) and
// DeleteBackupFiles so that a dry run shows exactly what the operation would delete.
//
// Failed assertions raise EAssertionFailed "%s (%s, line %d)" with kMakeDiskSpaceUnit and a fixed
// line number; callers see both, so neither changes with this file.
//
// Thread safety: a TBackupList and its strategy belong to one thread (one call). The free
// functions are safe from any thread as long as the FileSystem and Clock are.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace vantry {

// The source location named in this unit's assertion messages.
inline constexpr char kMakeDiskSpaceUnit[] = "lib\\servermaintanence\\MakeDiskSpace";

// The upper age limit of each bucket in days; a file exactly at a limit is in the lower bucket.
inline constexpr double kWeekBucketDays = 7;
inline constexpr double kMonthBucketDays = 31;
inline constexpr double kYearBucketDays = 365;

enum class TBackupBucket { kWeek, kMonth, kYear, kOlder };

// The age in days of a file written at `file_time`, as the list files it: the distance from
// `now`, so that a file dated in the future is as old as it is far ahead.
double BackupAge(TDateTime now, TDateTime file_time);
// The bucket of a file of that age.
TBackupBucket BucketForAge(double age);

// The printable name of a bucket: "week", "month", "year", "older".
const char* BackupBucketName(TBackupBucket bucket);

// One backup file: its last-write time (local, to two seconds), name and directory.
class TBackupFile {
 public:
  TBackupFile(TDateTime file_time, std::string file_name, std::string directory)
      : file_time_(file_time), file_name_(std::move(file_name)), directory_(std::move(directory)) {}

  TDateTime FileTime() const { return file_time_; }
  // The name without directory.
  const std::string& FileName() const { return file_name_; }
  // The directory the file was added with, ending in "\".
  const std::string& Directory() const { return directory_; }
  // Directory, trailing backslash, name: the path the file is deleted by.
  std::string FullName() const;

 private:
  TDateTime file_time_;
  std::string file_name_;
  std::string directory_;
};

class TBackupList;

// Decides which files of a TBackupList to delete. The list owns its strategy; the strategy only
// refers to the list, which must outlive it.
class TDeleteStrategy {
 public:
  // `backup_list` may be null; FillDeleteList then fails.
  explicit TDeleteStrategy(TBackupList* backup_list) : backup_list_(backup_list) {}
  virtual ~TDeleteStrategy() = default;
  TDeleteStrategy(const TDeleteStrategy&) = delete;
  TDeleteStrategy& operator=(const TDeleteStrategy&) = delete;

  // Replaces the content of `delete_list` with the full names of the files to delete, in the
  // order they are to be deleted; sorts the backup list by date on the way. Throws
  // EAssertionFailed "Strategy requires backup list" without a list.
  virtual void FillDeleteList(std::vector<std::string>& delete_list) = 0;

 protected:
  // The common start of every FillDeleteList: the assertion (at `assertion_line`), an empty
  // delete list and a sorted backup list, which is returned.
  TBackupList& Prepare(std::vector<std::string>& delete_list, int assertion_line);

 private:
  TBackupList* const backup_list_;
};

// Keeps the two newest backups, whatever their age.
class TAggressiveDeleteStrategy : public TDeleteStrategy {
 public:
  using TDeleteStrategy::TDeleteStrategy;
  void FillDeleteList(std::vector<std::string>& delete_list) override;
};

// Keeps the two newest of the week bucket and the newest of the month bucket; nothing older.
class TModerateDeleteStrategy : public TDeleteStrategy {
 public:
  using TDeleteStrategy::TDeleteStrategy;
  void FillDeleteList(std::vector<std::string>& delete_list) override;
};

// Keeps the newest backup of each calendar day in the week bucket, of each ISO 8601 week in the
// month bucket and of each calendar month in the year bucket; nothing of the older bucket.
class TCarefulDeleteStrategy : public TDeleteStrategy {
 public:
  using TDeleteStrategy::TDeleteStrategy;
  void FillDeleteList(std::vector<std::string>& delete_list) override;
};

// The backups of one directory, all of them in order of addition (or of date once sorted) and
// each in one age bucket. Owns its files and its strategy. Reads the directory; deletes nothing.
class TBackupList {
 public:
  // `file_system` and `clock` must outlive the list. `backup_directory` is used as given.
  TBackupList(FileSystem& file_system, const Clock& clock, std::string backup_directory);
  ~TBackupList();
  TBackupList(const TBackupList&) = delete;
  TBackupList& operator=(const TBackupList&) = delete;

  // Empties the list, then adds every file of the backup directory whose name matches `mask` (a
  // name pattern without directory). Directories that match are not backups and are passed over.
  // A missing directory or no match leaves the list empty. Throws as AddFile.
  void FillFromDirectory(const std::string& mask);
  // Adds the file at `path` and returns its index in the list of all files; a file whose name
  // (without regard to case) is already in the list is not added again and its index returned.
  // Throws EAssertionFailed "File does not exist" when `path` fails the file existence test and
  // "File is not in the backup path" when its directory part is not exactly the backup directory
  // with a trailing "\".
  int AddFile(const std::string& path);
  // The index of the first file whose name equals the name of `path` without regard to case, or
  // -1.
  int FindFile(const std::string& path) const;
  // Orders every list oldest first. Files less than a millisecond apart keep their order.
  void SortByDate();

  // The list of all files.
  int Count() const { return static_cast<int>(files_.size()); }
  const TBackupFile& Item(int index) const { return *files_.at(static_cast<size_t>(index)); }
  // The files of one bucket.
  const std::vector<const TBackupFile*>& Bucket(TBackupBucket bucket) const;

  // Sets the strategy (null for none); the list owns it.
  void SetStrategy(std::unique_ptr<TDeleteStrategy> strategy) { strategy_ = std::move(strategy); }
  TDeleteStrategy* Strategy() const { return strategy_.get(); }
  // Lets the strategy fill `delete_list`. Throws EAssertionFailed "No delete strategy provided"
  // without a strategy, "No delete list provided" when `delete_list` is null, and whatever the
  // strategy throws.
  void BuildDeleteList(std::vector<std::string>* delete_list);

  const std::string& BackupDirectory() const { return backup_directory_; }

 private:
  void Clear();
  void RebuildIndex();
  std::vector<const TBackupFile*>& MutableBucket(TBackupBucket bucket);

  FileSystem& file_system_;
  const Clock& clock_;
  std::unique_ptr<TDeleteStrategy> strategy_;
  std::vector<std::unique_ptr<TBackupFile>> files_;
  std::vector<const TBackupFile*> buckets_[4];  // by TBackupBucket; files_ owns the files
  const std::string backup_directory_;
  // Upper-cased file name -> index in files_, so that adding stays linear in big directories.
  std::unordered_map<std::string, int> index_;
};

// The strategy for a delete strategy value of the contract: 0 careful, 1 moderate, 2 aggressive;
// null for any other value. The strategy refers to `backup_list`.
std::unique_ptr<TDeleteStrategy> CreateDeleteStrategy(int delete_strategy_type,
                                                      TBackupList* backup_list);

// What reclamation would do: the backups found (with the strategy set) and the full names of
// those to delete, in order.
struct BackupDeletionPlan {
  std::unique_ptr<TBackupList> backup_list;
  std::vector<std::string> delete_list;
};

// Gathers the backups of `database_file_name` (entries of `backup_directory` whose names begin
// with its file name) and lets the strategy of `delete_strategy_type` choose the ones to delete.
// Deletes nothing. Throws EAssertionFailed as TBackupList does ("No delete strategy provided" for
// a value outside 0 to 2).
BackupDeletionPlan PlanBackupDeletion(FileSystem& file_system, const Clock& clock,
                                      const std::string& database_file_name,
                                      const std::string& backup_directory,
                                      int delete_strategy_type);

// Deletes each listed file that exists, in order; a file that cannot be deleted is passed over.
void DeleteBackupFiles(FileSystem& file_system, const std::vector<std::string>& delete_list);

// The whole reclamation: PlanBackupDeletion, then DeleteBackupFiles. Nothing is deleted when the
// plan fails.
void MakeSpaceOnDiskForBackup(FileSystem& file_system, const Clock& clock,
                              const std::string& database_file_name,
                              const std::string& backup_directory, int delete_strategy_type);

// A last-write time as the backup list keeps it: milliseconds dropped and odd seconds rounded
// down, the two-second resolution of a directory entry's time. Times outside the years MS-DOS can
// hold (1980 to 2107) are rounded the same way rather than lost.
TDateTime BackupFileTime(TDateTime last_write);

// The ISO 8601 week number (1 to 53) of the date of `value`.
int IsoWeekOfYear(TDateTime value);
// The day of the year (1 for 1 January) of the date of `value`.
int DayOfTheYear(TDateTime value);

}  // namespace vantry
