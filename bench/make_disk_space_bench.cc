// Disk-space reclamation over real directories of 1,000, 10,000 and 50,000 backups of one
// database beside as many of another. The figure to watch is per_file, the time of the whole
// MakeSpaceOnDiskForBackup per matching backup: it should stay flat as the directory grows (the
// 50,000 figure within twice the 1,000 one), which a name lookup against every earlier file
// would not allow.
//
// The careful strategy runs on files all written within the same day, so it deletes all but the
// newest backup; the deleted backups are written again, outside the timing, before each run.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "lib/servermaintanence/MakeDiskSpace.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/temp_dir.h"

namespace vantry {
namespace {

constexpr char kBackupDir[] = "T:\\bak";
constexpr int kCareful = 0;

// Writes the files that are missing, on host paths: a Windows path to a missing file is looked
// up without regard to case, which reads the whole directory each time.
void WriteMissing(const std::vector<std::string>& host_paths) {
  for (const std::string& path : host_paths) std::ofstream(path, std::ios::app);
}

void BM_MakeSpaceOnDiskForBackup(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  TempDir dir;
  DriveMap drives(DriveMap::Roots{{'T', dir.path()}});
  PosixFileSystem fs(drives, dir.path());
  SystemClock clock;
  fs.CreateDirectory(kBackupDir);
  std::vector<std::string> backups, others;
  for (int i = 0; i < count; ++i) {
    backups.push_back(Format("%s/bak/db.fdb.%06d.fbk", dir.path(), i));
    others.push_back(Format("%s/bak/other.fdb.%06d.fbk", dir.path(), i));
  }
  WriteMissing(others);

  for (auto _ : state) {
    state.PauseTiming();
    WriteMissing(backups);
    state.ResumeTiming();
    MakeSpaceOnDiskForBackup(fs, clock, "D:\\data\\db.fdb", kBackupDir, kCareful);
  }
  state.counters["per_file"] = benchmark::Counter(
      count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MakeSpaceOnDiskForBackup)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(50000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace vantry
