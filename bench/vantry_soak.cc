// vantry-soak: drives a running vantryd with a mix of small calls, pushes, archives and
// reclamations from many clients for a set time, sampling the service's resident memory, open
// descriptors and threads (from /proc/PID), and checks that descriptors and threads return to
// their idle counts once the clients stop.
//
//   --port P --pid PID        the service
//   --data-dir DIR --drive D  a host directory the service sees as drive D: (its [Drives])
//   --clients N --seconds S   load (8 clients, 30 s)
//   --check                   exit 1 when a call failed or the counts do not return to idle
//
// Output: one "t=... rss_kib=... fds=... threads=..." line per sample, then a summary line
//   calls=<n> errors=<n> rss_warm_kib=<n> rss_end_kib=<n> rss_growth_pct=<x> rss_peak_kib=<n>
//   idle_fds=<n> end_fds=<n> idle_threads=<n> end_threads=<n>
// where warm and end are mean resident sizes over a tenth of the run each: right after its first
// fifth, and at its end.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "contract/VantryLibrary_Intf.h"
#include "remoting/message.h"
#include "remoting/remote_service.h"
#include "remoting/tcp_channel.h"

namespace vantry {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int port = vantry::kDefaultPort;
  int pid = 0;
  std::string data_dir;
  std::string drive = "T";
  int clients = 8;
  double seconds = 30;
  bool check = false;
};

struct Sample {
  double t = 0;
  long rss_kib = 0;
  long fds = 0;
  long threads = 0;
};

Sample Measure(int pid, double t) {
  Sample sample{t};
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") status >> sample.rss_kib;
    if (key == "Threads:") status >> sample.threads;
  }
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++sample.fds;
  }
  return sample;
}

std::string Compressible(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) text += "row " + std::to_string(random() % 1000) + " of a table;";
  text.resize(size);
  return text;
}

// One client: its own directory, its own channel, one call per connection.
class SoakClient {
 public:
  SoakClient(const Options& options, int index)
      : host_dir_(options.data_dir + "/soak/c" + std::to_string(index)),
        dir_(options.drive + ":\\soak\\c" + std::to_string(index) + "\\"),
        random_(index) {
    std::filesystem::create_directories(host_dir_ + "/r");
    channel_.SetHost("127.0.0.1");
    channel_.SetPort(options.port);
    holder_.SetMessage(&message_);
    holder_.SetChannel(&channel_);
    service_ = holder_.GetService<IVantryService>(kIVantryServiceGuid);
  }

  // One step of the mix; returns the calls made.
  int Step() {
    int pick = static_cast<int>(random_() % 100);
    if (pick < 70) return SmallCalls();
    if (pick < 85) return Push();
    if (pick < 95) return Archive();
    return Reclaim();
  }

 private:
  int SmallCalls() {
    IVantryService& s = *service_;
    s.FileExists(dir_ + "none.fbk");
    s.GetFileSize(dir_ + "none.fbk");
    s.GetDefaultBackupPath();
    int32_t granted = 0, limit = 0;
    s.BackupPermissionGranted(granted, limit);
    std::string name = dir_ + "permission" + std::to_string(step_++);
    s.RequestManualBackupPermission(name);
    s.RequestBackupPermissionCompleted(name);
    return 6;
  }
  int Push() {
    const int64_t chunk = 256 * 1024, total = 3 * chunk;
    std::string data = Compressible(static_cast<size_t>(total), step_);
    std::string target = dir_ + "push" + std::to_string(step_++) + ".fbk";
    for (int64_t offset = 0; offset < total; offset += chunk) {
      TROBinaryMemoryStream part(
          std::string_view(data).substr(static_cast<size_t>(offset), static_cast<size_t>(chunk)));
      service_->ReceiveBackup(target, total, offset, &part);
    }
    service_->DeleteFile(target);
    return 4;
  }
  int Archive() {
    std::string name = "a" + std::to_string(step_++);
    std::ofstream(host_dir_ + "/" + name + ".fbk", std::ios::binary)
        << Compressible(512 * 1024, step_);
    service_->ArchiveFile(dir_ + name + ".fbk");
    service_->DeleteFile(dir_ + name + ".zip");
    return 2;
  }
  int Reclaim() {
    for (int i = 0; i < 5; ++i) {
      std::ofstream(host_dir_ + "/r/db.fdb." + std::to_string(step_) + "." + std::to_string(i))
          << i;
    }
    ++step_;
    service_->MakeSpaceOnDiskForBackup(dir_ + "db.fdb", dir_ + "r", vantrydsAgressive);
    return 1;
  }

  std::string host_dir_;
  std::string dir_;
  std::mt19937 random_;
  int step_ = 0;
  TROBinMessage message_;
  TROTCPChannel channel_;
  TRORemoteService holder_;
  std::shared_ptr<IVantryService> service_;
};

int Run(const Options& options) {
  VantryLibraryRegistration registration;
  auto start = Clock::now();
  auto since = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  Sample idle = Measure(options.pid, 0);
  std::printf("idle rss_kib=%ld fds=%ld threads=%ld\n", idle.rss_kib, idle.fds, idle.threads);

  std::atomic<bool> stop{false};
  std::atomic<long> calls{0}, errors{0};
  std::mutex error_mutex;
  std::string first_error;
  std::vector<std::thread> clients;
  for (int i = 0; i < options.clients; ++i) {
    clients.emplace_back([&, i] {
      SoakClient client(options, i);
      while (!stop.load()) {
        try {
          calls += client.Step();
        } catch (const std::exception& e) {
          ++errors;
          std::lock_guard lock(error_mutex);
          if (first_error.empty()) first_error = e.what();
        }
      }
    });
  }
  std::vector<Sample> samples;
  while (since() < options.seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    samples.push_back(Measure(options.pid, since()));
    const Sample& s = samples.back();
    std::printf("t=%.0f rss_kib=%ld fds=%ld threads=%ld calls=%ld\n", s.t, s.rss_kib, s.fds,
                s.threads, calls.load());
    std::fflush(stdout);
  }
  stop = true;
  for (std::thread& client : clients) client.join();

  // Connection threads beyond those that wait in accept() end once their connections have.
  Sample end = Measure(options.pid, since());
  for (int i = 0; i < 30 && (end.fds != idle.fds || end.threads != idle.threads); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    end = Measure(options.pid, since());
  }
  // A single sample swings with the connection threads alive at that moment: the figures are
  // means over a tenth of the run, right after the first fifth (warm) and at its end.
  auto mean_rss = [&](size_t from, size_t to) -> long {
    to = std::min(to, samples.size());
    if (from >= to) return samples.empty() ? 0 : samples.back().rss_kib;
    long sum = 0;
    for (size_t i = from; i < to; ++i) sum += samples[i].rss_kib;
    return sum / static_cast<long>(to - from);
  };
  size_t tenth = std::max<size_t>(1, samples.size() / 10);
  long rss_warm = mean_rss(samples.size() / 5, samples.size() / 5 + tenth);
  long rss_end = mean_rss(samples.size() - std::min(tenth, samples.size()), samples.size());
  long rss_peak = 0;
  for (const Sample& sample : samples) rss_peak = std::max(rss_peak, sample.rss_kib);
  double growth = rss_warm > 0 ? 100.0 * (rss_end - rss_warm) / rss_warm : 0;
  std::printf(
      "calls=%ld errors=%ld rss_warm_kib=%ld rss_end_kib=%ld rss_growth_pct=%.1f "
      "rss_peak_kib=%ld idle_fds=%ld end_fds=%ld idle_threads=%ld end_threads=%ld\n",
      calls.load(), errors.load(), rss_warm, rss_end, growth, rss_peak, idle.fds, end.fds,
      idle.threads, end.threads);
  if (!first_error.empty()) std::printf("first error: %s\n", first_error.c_str());
  if (!options.check) return 0;
  bool ok = errors == 0 && calls > 0 && end.fds == idle.fds && end.threads == idle.threads;
  std::printf("%s\n", ok ? "soak check passed" : "soak check FAILED");
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace vantry

int main(int argc, char** argv) {
  vantry::Options options;
  CLI::App app("Drives a running vantryd with a mix of calls and samples its resources.");
  app.add_option("--port", options.port)->required();
  app.add_option("--pid", options.pid)->required();
  app.add_option("--data-dir", options.data_dir)->required();
  app.add_option("--drive", options.drive);
  app.add_option("--clients", options.clients)->check(CLI::PositiveNumber);
  app.add_option("--seconds", options.seconds);
  app.add_flag("--check", options.check);
  CLI11_PARSE(app, argc, argv);
  return vantry::Run(options);
}
