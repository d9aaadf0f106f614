#include "lib/servermaintanence/MakeDiskSpace.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/file_helpers.h"
#include "platform/path_helpers.h"

namespace vantry {
namespace {

// The line numbers of the assertion messages, as callers and their scripts know them.
constexpr int kLineFileDoesNotExist = 225;
constexpr int kLineFileNotInBackupPath = 227;
constexpr int kLineNoDeleteStrategy = 304;
constexpr int kLineNoDeleteList = 305;
constexpr int kLineAggressiveNeedsList = 319;
constexpr int kLineModerateNeedsList = 333;
constexpr int kLineCarefulNeedsList = 354;

// An age at a bucket limit, or less than a millisecond past it, still belongs to the bucket:
// date-times that close are the same moment.
bool WithinLimit(double age, double limit) { return age - limit < kOneMillisecond; }

// The whole milliseconds of a date-time: times in the same millisecond compare equal, and unlike
// a tolerant comparison this is a strict weak order that sorting can rely on.
int64_t MillisecondKey(TDateTime value) { return std::llround(value / kOneMillisecond); }

bool Older(const TBackupFile& a, const TBackupFile& b) {
  return MillisecondKey(a.FileTime()) < MillisecondKey(b.FileTime());
}

void SortOldestFirst(std::vector<const TBackupFile*>& files) {
  std::stable_sort(files.begin(), files.end(),
                   [](const TBackupFile* a, const TBackupFile* b) { return Older(*a, *b); });
}

// The date of `value` at midnight, as a whole day count.
int64_t DayNumber(const DateTimeParts& parts) {
  return std::llround(EncodeDateTime({parts.year, parts.month, parts.day}));
}

int64_t FirstOfJanuary(int year) { return std::llround(EncodeDateTime({year, 1, 1})); }

// Appends every file of `files` but the newest `keep`, oldest first. `files` is sorted.
void AppendAllButNewest(const std::vector<const TBackupFile*>& files, size_t keep,
                        std::vector<std::string>& delete_list) {
  for (size_t i = 0; i + keep < files.size(); ++i) delete_list.push_back(files[i]->FullName());
}

// Walks `files` (sorted) from the newest to the oldest and keeps a file only when its key differs
// from that of the last file kept: the newest of each key survives. Keys are never 0.
void AppendRepeatedKeys(const std::vector<const TBackupFile*>& files,
                        const std::function<int(TDateTime)>& key_of,
                        std::vector<std::string>& delete_list) {
  int kept_key = 0;
  for (auto it = files.rbegin(); it != files.rend(); ++it) {
    int key = key_of((*it)->FileTime());
    if (key == kept_key) {
      delete_list.push_back((*it)->FullName());
    } else {
      kept_key = key;
    }
  }
}

int MonthOfTheYear(TDateTime value) { return DecodeDateTime(value).month; }

}  // namespace

double BackupAge(TDateTime now, TDateTime file_time) { return std::fabs(now - file_time); }

TBackupBucket BucketForAge(double age) {
  if (WithinLimit(age, kWeekBucketDays)) return TBackupBucket::kWeek;
  if (WithinLimit(age, kMonthBucketDays)) return TBackupBucket::kMonth;
  if (WithinLimit(age, kYearBucketDays)) return TBackupBucket::kYear;
  return TBackupBucket::kOlder;
}

const char* BackupBucketName(TBackupBucket bucket) {
  switch (bucket) {
    case TBackupBucket::kWeek:
      return "week";
    case TBackupBucket::kMonth:
      return "month";
    case TBackupBucket::kYear:
      return "year";
    case TBackupBucket::kOlder:
      break;
  }
  return "older";
}

TDateTime BackupFileTime(TDateTime last_write) {
  DateTimeParts parts = DecodeDateTime(last_write);
  parts.second -= parts.second % 2;
  parts.millisecond = 0;
  return EncodeDateTime(parts);
}

int DayOfTheYear(TDateTime value) {
  DateTimeParts parts = DecodeDateTime(value);
  return static_cast<int>(DayNumber(parts) - FirstOfJanuary(parts.year) + 1);
}

int IsoWeekOfYear(TDateTime value) {
  // The week belongs to the year of its Thursday and counts from that year's first Thursday.
  int64_t day = DayNumber(DecodeDateTime(value));
  int64_t iso_weekday = ((day + 5) % 7 + 7) % 7 + 1;  // day 0, 30 December 1899, was a Saturday
  int64_t thursday = day - iso_weekday + 4;
  int thursday_year = DecodeDateTime(static_cast<TDateTime>(thursday)).year;
  return static_cast<int>((thursday - FirstOfJanuary(thursday_year)) / 7 + 1);
}

std::string TBackupFile::FullName() const {
  return IncludeTrailingBackslash(directory_) + file_name_;
}

// TDeleteStrategy and its subclasses.

TBackupList& TDeleteStrategy::Prepare(std::vector<std::string>& delete_list, int assertion_line) {
  Assert(backup_list_ != nullptr, "Strategy requires backup list", kMakeDiskSpaceUnit,
         assertion_line);
  delete_list.clear();
  backup_list_->SortByDate();
  return *backup_list_;
}

void TAggressiveDeleteStrategy::FillDeleteList(std::vector<std::string>& delete_list) {
  TBackupList& list = Prepare(delete_list, kLineAggressiveNeedsList);
  for (int i = 0; i + 2 < list.Count(); ++i) delete_list.push_back(list.Item(i).FullName());
}

void TModerateDeleteStrategy::FillDeleteList(std::vector<std::string>& delete_list) {
  TBackupList& list = Prepare(delete_list, kLineModerateNeedsList);
  AppendAllButNewest(list.Bucket(TBackupBucket::kOlder), 0, delete_list);
  AppendAllButNewest(list.Bucket(TBackupBucket::kYear), 0, delete_list);
  AppendAllButNewest(list.Bucket(TBackupBucket::kMonth), 1, delete_list);
  AppendAllButNewest(list.Bucket(TBackupBucket::kWeek), 2, delete_list);
}

void TCarefulDeleteStrategy::FillDeleteList(std::vector<std::string>& delete_list) {
  TBackupList& list = Prepare(delete_list, kLineCarefulNeedsList);
  const std::vector<const TBackupFile*>& older = list.Bucket(TBackupBucket::kOlder);
  for (auto it = older.rbegin(); it != older.rend(); ++it) delete_list.push_back((*it)->FullName());
  AppendRepeatedKeys(list.Bucket(TBackupBucket::kYear), MonthOfTheYear, delete_list);
  AppendRepeatedKeys(list.Bucket(TBackupBucket::kMonth), IsoWeekOfYear, delete_list);
  AppendRepeatedKeys(list.Bucket(TBackupBucket::kWeek), DayOfTheYear, delete_list);
}

// TBackupList.

TBackupList::TBackupList(FileSystem& file_system, const Clock& clock, std::string backup_directory)
    : file_system_(file_system), clock_(clock), backup_directory_(std::move(backup_directory)) {}

TBackupList::~TBackupList() {
  // The strategy goes first: it refers to the list.
  strategy_.reset();
}

void TBackupList::Clear() {
  for (auto& bucket : buckets_) bucket.clear();
  files_.clear();
  index_.clear();
}

void TBackupList::FillFromDirectory(const std::string& mask) {
  Clear();
  const std::string directory = IncludeTrailingBackslash(backup_directory_);
  for (const FileEntry& entry : FindFiles(file_system_, directory + mask, kFindAllAttributes)) {
    // ".", ".." and subdirectories named like the backups are no backups; AddFile would refuse
    // them as missing files and so fail the whole reclamation.
    if ((entry.attributes & kFileAttributeDirectory) != 0) continue;
    AddFile(directory + entry.name);
  }
}

int TBackupList::AddFile(const std::string& path) {
  Assert(file_system_.FileExists(path), "File does not exist", kMakeDiskSpaceUnit,
         kLineFileDoesNotExist);
  Assert(ExtractFilePath(path) == IncludeTrailingBackslash(backup_directory_),
         "File is not in the backup path", kMakeDiskSpaceUnit, kLineFileNotInBackupPath);
  std::string file_name = ExtractFileName(path);
  std::string key = AnsiUpperCase(file_name);
  if (auto found = index_.find(key); found != index_.end()) return found->second;

  // One stat of the path tells what a directory search on the path itself would; a file that
  // vanished since the existence test keeps the time zero.
  TDateTime file_time = 0;
  if (std::optional<FileEntry> entry = file_system_.GetFileInfo(path)) {
    file_time = BackupFileTime(entry->last_write);
  }
  files_.push_back(
      std::make_unique<TBackupFile>(file_time, std::move(file_name), ExtractFilePath(path)));
  const TBackupFile* file = files_.back().get();
  MutableBucket(BucketForAge(BackupAge(clock_.Now(), file_time))).push_back(file);
  const int index = Count() - 1;
  index_.emplace(std::move(key), index);
  return index;
}

int TBackupList::FindFile(const std::string& path) const {
  auto found = index_.find(AnsiUpperCase(ExtractFileName(path)));
  return found == index_.end() ? -1 : found->second;
}

void TBackupList::SortByDate() {
  std::stable_sort(files_.begin(), files_.end(),
                   [](const auto& a, const auto& b) { return Older(*a, *b); });
  for (auto& bucket : buckets_) SortOldestFirst(bucket);
  RebuildIndex();
}

void TBackupList::RebuildIndex() {
  // Names are unique in the list (AddFile never adds a second), so every name keeps one index.
  index_.clear();
  for (int i = 0; i < Count(); ++i) index_.emplace(AnsiUpperCase(files_[i]->FileName()), i);
}

const std::vector<const TBackupFile*>& TBackupList::Bucket(TBackupBucket bucket) const {
  return buckets_[static_cast<int>(bucket)];
}

std::vector<const TBackupFile*>& TBackupList::MutableBucket(TBackupBucket bucket) {
  return buckets_[static_cast<int>(bucket)];
}

void TBackupList::BuildDeleteList(std::vector<std::string>* delete_list) {
  Assert(strategy_ != nullptr, "No delete strategy provided", kMakeDiskSpaceUnit,
         kLineNoDeleteStrategy);
  Assert(delete_list != nullptr, "No delete list provided", kMakeDiskSpaceUnit, kLineNoDeleteList);
  strategy_->FillDeleteList(*delete_list);
}

// The operation.

std::unique_ptr<TDeleteStrategy> CreateDeleteStrategy(int delete_strategy_type,
                                                      TBackupList* backup_list) {
  switch (delete_strategy_type) {
    case 0:
      return std::make_unique<TCarefulDeleteStrategy>(backup_list);
    case 1:
      return std::make_unique<TModerateDeleteStrategy>(backup_list);
    case 2:
      return std::make_unique<TAggressiveDeleteStrategy>(backup_list);
    default:
      return nullptr;
  }
}

BackupDeletionPlan PlanBackupDeletion(FileSystem& file_system, const Clock& clock,
                                      const std::string& database_file_name,
                                      const std::string& backup_directory,
                                      int delete_strategy_type) {
  BackupDeletionPlan plan;
  plan.backup_list = std::make_unique<TBackupList>(file_system, clock, backup_directory);
  TBackupList& list = *plan.backup_list;
  // "*.*" matches any rest, with or without a dot: every entry named like the database and more.
  list.FillFromDirectory(ExtractFileName(database_file_name) + "*.*");
  list.SetStrategy(CreateDeleteStrategy(delete_strategy_type, &list));
  list.BuildDeleteList(&plan.delete_list);
  return plan;
}

void DeleteBackupFiles(FileSystem& file_system, const std::vector<std::string>& delete_list) {
  for (const std::string& name : delete_list) {
    // A backup that is in use or read-only stays; reclamation frees what it can.
    if (file_system.FileExists(name)) file_system.TryDeleteFile(name);
  }
}

void MakeSpaceOnDiskForBackup(FileSystem& file_system, const Clock& clock,
                              const std::string& database_file_name,
                              const std::string& backup_directory, int delete_strategy_type) {
  DeleteBackupFiles(file_system, PlanBackupDeletion(file_system, clock, database_file_name,
                                                    backup_directory, delete_strategy_type)
                                     .delete_list);
}

}  // namespace vantry
