#include "host/windows_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <sstream>

#include "host/testing/exposition.h"
#include "platform/exception.h"
#include "platform/identity.h"
#include "platform/socket.h"
#include "platform/temp_dir.h"
#include "remoting/dispatch.h"
#include "remoting/tcp_channel.h"

namespace vantry {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// Records, for every file opened, whether the host lock was held by the opening thread (another
// thread then cannot take it).
class LockCheckingFileSystem : public PosixFileSystem {
 public:
  using PosixFileSystem::PosixFileSystem;
  std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access, FileShare share,
                                 FileDisposition disposition) override {
    if (host_lock != nullptr) {
      bool free = std::async(std::launch::async, [this] {
                    bool taken = host_lock->try_lock();
                    if (taken) host_lock->unlock();
                    return taken;
                  }).get();
      opened_under_lock.push_back(!free);
    }
    return PosixFileSystem::OpenFile(path, access, share, disposition);
  }
  std::recursive_mutex* host_lock = nullptr;
  std::vector<bool> opened_under_lock;
};

class WindowsServiceTest : public ::testing::Test {
 protected:
  WindowsServiceTest()
      : file_system_(drives_),
        clock_(45000.5),
        host_(CapturingWarnings(THostOptions{home_.path(), 0, "127.0.0.1"}), drives_,
              file_system_, clock_) {}

  THostOptions CapturingWarnings(THostOptions options) {
    options.warn = [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(warnings_lock_);
      warnings_.push_back(text);
    };
    return options;
  }
  std::vector<std::string> Warnings() {
    std::lock_guard<std::mutex> lock(warnings_lock_);
    return warnings_;
  }
  // Connects from `address` and waits until the host closes the connection unanswered.
  void ConnectRefused(const char* address) {
    Socket refused = Socket::Create();
    refused.Bind(address, 0);
    refused.Connect("127.0.0.1", host_.ROServer().GetPort());
    ASSERT_TRUE(refused.WaitReadable(10000));
    char byte;
    EXPECT_EQ(refused.Receive(&byte, 1), 0u);  // an orderly close, nothing sent
  }

  // The home directory as callers see it: "Z:\tmp\vantry-XXXXXX\".
  std::string ExecutableDir() const {
    std::string dir = "Z:" + home_.path() + "\\";
    for (char& c : dir) c = c == '/' ? '\\' : c;
    return dir;
  }
  void WriteIni(const std::string& text) {
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary) << text;
  }
  void WriteAllowList(const std::string& text) {
    std::ofstream(home_.path() + "/AllowedSourceIPs.txt", std::ios::binary) << text;
  }
  // Sends `request` as one frame to the host's server from 127.0.0.1 and returns the answer.
  std::string Exchange(const std::string& request) {
    TROTCPChannel channel;
    channel.SetPort(host_.ROServer().GetPort());
    TROBinaryMemoryStream out(request), in;
    channel.DispatchStreams(out, in);
    return in.ToString();
  }
  // Opens Vantry.ini sharing nothing, as another program holding it exclusively would.
  std::unique_ptr<File> HoldIniExclusively() {
    return file_system_.OpenFile(ExecutableDir() + "Vantry.ini", FileAccess::kRead,
                                 FileShare::kNone, FileDisposition::kOpenExisting);
  }
  std::string HeldIniMessage() {
    return "Cannot open file \"" + ExecutableDir() +
           "Vantry.ini\". The process cannot access the file because it is being used by "
           "another process.";
  }
  std::string Guid() {
    std::string computer, guid;
    host_.GetInstanceIdentifier(computer, guid);
    return guid;
  }
  std::vector<std::string> OtherTargetServers() {
    std::vector<std::string> servers = {"stale"};
    host_.GetOtherTargetServers(servers);
    return servers;
  }

  TempDir home_;
  DriveMap drives_;
  LockCheckingFileSystem file_system_;
  FixedClock clock_;
  std::mutex warnings_lock_;
  std::vector<std::string> warnings_;  // guarded by warnings_lock_
  TWindowsService host_;
};

TEST_F(WindowsServiceTest, StartWithoutIniServesDefaultsBelowTheHomeDirectory) {
  host_.ServiceStart();
  EXPECT_EQ(host_.GetExecutableDirectory(), ExecutableDir());
  EXPECT_EQ(host_.GetSettings().DefaultBackupPath, ExecutableDir() + "DefaultBackup");
  EXPECT_EQ(host_.GetSettings().AlternateRestorePath, ExecutableDir() + "DefaultAlternateRestorePath");
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 1);
  EXPECT_EQ(host_.GetSettings().DefaultDeleteStrategy, "CAREFUL");
  EXPECT_THAT(OtherTargetServers(), IsEmpty());
  EXPECT_TRUE(host_.CleanUpTimer().Enabled());
  EXPECT_EQ(host_.CleanUpTimer().Interval(), 20000);
}

TEST_F(WindowsServiceTest, TimerIsCreatedDisabledAndOnlyPauseAndStopSwitchItOff) {
  EXPECT_FALSE(host_.CleanUpTimer().Enabled());
  host_.ServiceStart();
  host_.ServicePause();
  EXPECT_FALSE(host_.CleanUpTimer().Enabled());
  host_.ServiceContinue();
  EXPECT_TRUE(host_.CleanUpTimer().Enabled());
  host_.ServiceStop();
  EXPECT_FALSE(host_.CleanUpTimer().Enabled());
}

TEST_F(WindowsServiceTest, GuidIsNewWithEachStartAndKeptByContinue) {
  host_.ServiceStart();
  std::string first = Guid();
  ASSERT_EQ(first.size(), 38u);
  ASSERT_TRUE(TryStringToGuid(first).has_value());
  EXPECT_EQ(first, GuidToString(*TryStringToGuid(first)));  // upper case, registry form
  host_.ServicePause();
  host_.ServiceContinue();
  EXPECT_EQ(Guid(), first);
  host_.ServiceStop();
  host_.ServiceStart();
  EXPECT_NE(Guid(), first);
}

TEST_F(WindowsServiceTest, InstanceIdentifierCarriesTheComputerName) {
  host_.ServiceStart();
  std::string computer, guid;
  host_.GetInstanceIdentifier(computer, guid);
  EXPECT_EQ(computer, ComputerName());
  EXPECT_EQ(guid.size(), 38u);
}

TEST_F(WindowsServiceTest, ContinueRereadsTheSettingsFile) {
  WriteIni("[Vantry]\nAllowedBackups=2\nOtherTargetServers=A,B\n");
  host_.ServiceStart();
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 2);
  EXPECT_EQ(host_.GetSettings().MigrationTargetServer, "A");
  WriteIni("[vantry]\nallowedbackups=5\nothertargetservers=C\n");
  host_.ServiceContinue();
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 5);
  EXPECT_THAT(OtherTargetServers(), ElementsAre("C"));
  EXPECT_EQ(host_.GetSettings().MigrationTargetServer, "C");
}

TEST_F(WindowsServiceTest, StopForgetsTheListsAndStartBeginsEmpty) {
  WriteIni("[Vantry]\nOtherTargetServers=A,B\n");
  host_.ServiceStart();
  host_.RequestManualBackupPermission("D:\\bak\\db.fbk");
  host_.ServiceStop();
  EXPECT_THAT(OtherTargetServers(), IsEmpty());
  EXPECT_THAT(host_.GetAllowedSourceIPs(), IsEmpty());
  EXPECT_THAT(host_.GetBackupPermissions(), IsEmpty());
  host_.ServiceStart();
  EXPECT_THAT(OtherTargetServers(), ElementsAre("A", "B"));
  EXPECT_THAT(host_.GetBackupPermissions(), IsEmpty());
}

TEST_F(WindowsServiceTest, UnreadableIniFailsStartBeforeTheTimerIsSwitchedOn) {
  WriteIni("[Vantry]\nAllowedBackups=2\n");
  std::unique_ptr<File> held = HoldIniExclusively();
  EXPECT_THAT([&] { host_.ServiceStart(); }, ThrowsMessage<EFOpenError>(StrEq(HeldIniMessage())));
  EXPECT_FALSE(host_.CleanUpTimer().Enabled());
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 1);
}

TEST_F(WindowsServiceTest, FailedContinueLeavesSettingsAndPauseAsTheyWere) {
  WriteIni("[Vantry]\nAllowedBackups=2\n");
  host_.ServiceStart();
  host_.ServicePause();
  WriteIni("[Vantry]\nAllowedBackups=7\n");
  std::unique_ptr<File> held = HoldIniExclusively();
  EXPECT_THAT([&] { host_.ServiceContinue(); },
              ThrowsMessage<EFOpenError>(StrEq(HeldIniMessage())));
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 2);
  EXPECT_FALSE(host_.CleanUpTimer().Enabled());
  held.reset();
  host_.ServiceContinue();
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 7);
}

TEST_F(WindowsServiceTest, AllowListAndSettingsFileAreReadUnderTheHostLock) {
  WriteAllowList("127.0.0.1\n");
  WriteIni("[Vantry]\nAllowedBackups=2\n");
  file_system_.host_lock = &host_.HostLock();
  host_.ServiceStart();
  EXPECT_THAT(file_system_.opened_under_lock, ElementsAre(true, true));
}

TEST_F(WindowsServiceTest, GettersTakeTheLockReentrantly) {
  host_.ServiceStart();
  std::lock_guard<std::recursive_mutex> lock(host_.HostLock());
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 1);
  host_.ReadSettings();
}

TEST_F(WindowsServiceTest, DrivesSectionReplacesTheDriveMapAndTheBaseDirectory) {
  WriteIni("[Drives]\nh=" + home_.path() + "\nD=/srv/firebird\n");
  host_.ServiceStart();
  EXPECT_EQ(drives_.Root('H'), home_.path());
  EXPECT_EQ(drives_.Root('d'), "/srv/firebird");
  EXPECT_EQ(drives_.Root('Z'), "/");
  EXPECT_EQ(host_.GetExecutableDirectory(), "H:\\");
  EXPECT_EQ(host_.GetSettings().DefaultBackupPath, "H:\\DefaultBackup");
  WriteIni("[Vantry]\nAllowedBackups=3\n");  // read back through H:
  host_.ServiceContinue();
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 3);
  EXPECT_EQ(drives_.Root('H'), std::nullopt);
  EXPECT_EQ(host_.GetExecutableDirectory(), ExecutableDir());
}

TEST_F(WindowsServiceTest, ADriveMapThatLeavesOutTheHomeStillLetsTheServiceReadItsFiles) {
  WriteIni("[Vantry]\nAllowedBackups=2\n");
  host_.ServiceStart();
  // Callers get one drive; Vantry.ini and the allow-list are out of their reach, not the host's.
  WriteIni("[Vantry]\nAllowedBackups=9\n[Drives]\nD=/srv/backup\nZ=\n");
  host_.ServiceContinue();
  EXPECT_EQ(drives_.Root('Z'), std::nullopt);
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 9);
  EXPECT_EQ(host_.GetExecutableDirectory(), "");
  EXPECT_EQ(host_.GetSettings().DefaultBackupPath, "DefaultBackup");
  WriteIni("[Vantry]\nAllowedBackups=3\n[Drives]\nD=/srv/backup\nZ=\n");
  WriteAllowList("10.0.0.5\n");
  host_.ServiceContinue();
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 3);
  EXPECT_THAT(host_.GetAllowedSourceIPs(), ElementsAre("10.0.0.5"));
}

TEST_F(WindowsServiceTest, AllowListKeepsEachLineAsWrittenAndDropsComments) {
  const struct {
    std::string file;
    std::vector<std::string> list;
  } kCases[] = {
      {"", {}},
      {"# office\r\n#10.0.0.5\n", {}},
      // CR, LF and CR LF end lines; empty lines are skipped; duplicates collapse; sorted.
      {"10.0.0.6\r\n10.0.0.5\n#10.0.0.7\r\n\n\n10.0.0.5\r10.0.0.8 ",
       {"10.0.0.5", "10.0.0.6", "10.0.0.8 "}},
      // Only a "#" in the first place makes a comment.
      {" #10.0.0.5\n10.0.0.5 # office\n", {" #10.0.0.5", "10.0.0.5 # office"}},
      {"host-a\nHOST-A\n", {"host-a"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    WriteAllowList(c.file);
    host_.LoadAllowedSourceIPs();
    EXPECT_EQ(host_.GetAllowedSourceIPs(), c.list);
    EXPECT_EQ(host_.IsSourceIPCheckActive(), !c.list.empty());
  }
}

TEST_F(WindowsServiceTest, AllowListThatIsMissingOrADirectoryAdmitsEveryone) {
  WriteAllowList("10.0.0.5\n");
  host_.LoadAllowedSourceIPs();
  ASSERT_TRUE(host_.IsSourceIPCheckActive());
  std::filesystem::remove(home_.path() + "/AllowedSourceIPs.txt");
  host_.LoadAllowedSourceIPs();
  EXPECT_FALSE(host_.IsSourceIPCheckActive());
  std::filesystem::create_directory(home_.path() + "/AllowedSourceIPs.txt");
  host_.LoadAllowedSourceIPs();
  EXPECT_FALSE(host_.IsSourceIPCheckActive());
}

TEST_F(WindowsServiceTest, OnlyAnAddressSpelledExactlyIsAdmitted) {
  WriteAllowList("10.0.0.5\n10.0.0.6 \n");
  host_.LoadAllowedSourceIPs();
  EXPECT_TRUE(host_.IsSourceIPCheckActive());
  EXPECT_FALSE(host_.IsSourceIPRefused("10.0.0.5"));
  EXPECT_TRUE(host_.IsSourceIPRefused("10.0.0.6"));  // the entry has a trailing blank
  EXPECT_TRUE(host_.IsSourceIPRefused("10.0.0.50"));
  EXPECT_TRUE(host_.IsSourceIPRefused(""));
}

TEST_F(WindowsServiceTest, UnreadableAllowListFailsContinueAndLeavesTheListEmpty) {
  WriteAllowList("10.0.0.5\n");
  host_.ServiceStart();
  ASSERT_TRUE(host_.IsSourceIPCheckActive());
  std::unique_ptr<File> held =
      file_system_.OpenFile(ExecutableDir() + "AllowedSourceIPs.txt", FileAccess::kRead,
                            FileShare::kNone, FileDisposition::kOpenExisting);
  EXPECT_THAT([&] { host_.ServiceContinue(); },
              ThrowsMessage<EFOpenError>(
                  StrEq("Cannot open file \"" + ExecutableDir() +
                        "AllowedSourceIPs.txt\". The process cannot access the file because it is "
                        "being used by another process.")));
  EXPECT_FALSE(host_.IsSourceIPCheckActive());
}

TEST_F(WindowsServiceTest, ServerAnswersFromTheEndOfStartToTheBeginningOfStop) {
  EXPECT_EQ(host_.ROMessage().Name(), "ROMessage");
  ASSERT_EQ(host_.ROServer().Dispatchers().Count(), 1u);
  TROMessageDispatcher& dispatcher = host_.ROServer().Dispatchers()[0];
  EXPECT_EQ(dispatcher.Name(), "ROMessage");
  EXPECT_EQ(dispatcher.Message(), &host_.ROMessage());
  EXPECT_TRUE(dispatcher.Enabled());
  EXPECT_FALSE(host_.ROServer().Active());

  host_.ServiceStart();
  ASSERT_TRUE(host_.ROServer().Active());
  const int port = host_.ROServer().GetPort();
  EXPECT_EQ(Exchange("12345"), "PROBEDOK");
  host_.ServicePause();  // remote calls are still served
  EXPECT_EQ(Exchange("12345"), "PROBEDOK");
  host_.ServiceStop();
  EXPECT_FALSE(host_.ROServer().Active());
  // The port is free for another server (which, like ours, tolerates the closed connections
  // still waiting out their time on it).
  Socket again = Socket::Create();
  again.SetReuseAddress(true);
  again.Bind("127.0.0.1", port);
  again.Listen(1);
}

TEST_F(WindowsServiceTest, PortInUseFailsTheStart) {
  Socket taken = Socket::Create();
  taken.Bind("127.0.0.1", 0);
  taken.Listen(1);
  TWindowsService host(THostOptions{home_.path(), taken.LocalPort(), "127.0.0.1"}, drives_,
                       file_system_, clock_);
  EXPECT_THAT([&] { host.ServiceStart(); },
              ThrowsMessage<ECouldNotBindSocket>(
                  StrEq("Could not bind socket. Address and port are already in use.")));
  EXPECT_FALSE(host.ROServer().Active());
}

TEST_F(WindowsServiceTest, ConnectHookClosesRefusedCallersBeforeReadingAByte) {
  WriteAllowList("127.0.0.1\n");
  host_.ServiceStart();
  EXPECT_EQ(Exchange("12345"), "PROBEDOK");

  ConnectRefused("127.0.0.2");

  WriteAllowList("127.0.0.2\n");
  host_.ServiceContinue();
  // Closed in order, or reset when the request was still unread: no answer either way.
  EXPECT_THROW(Exchange("12345"), ENetError);
}

TEST_F(WindowsServiceTest, ARefusedCallerIsReportedOncePerAddressAndMinute) {
  WriteAllowList("127.0.0.1\n");
  host_.ServiceStart();
  ConnectRefused("127.0.0.2");
  ConnectRefused("127.0.0.2");
  ConnectRefused("127.0.0.3");
  clock_.Set(45000.5 + 59.0 / 86400);
  ConnectRefused("127.0.0.2");
  clock_.Set(45000.5 + 61.0 / 86400);
  ConnectRefused("127.0.0.2");
  EXPECT_THAT(Warnings(),
              ElementsAre("refused a caller from 127.0.0.2: not in AllowedSourceIPs.txt",
                          "refused a caller from 127.0.0.3: not in AllowedSourceIPs.txt",
                          "refused a caller from 127.0.0.2: not in AllowedSourceIPs.txt"));
}

TEST_F(WindowsServiceTest, StartAndContinueWarnAboutWhatTheSettingsCheckFinds) {
  WriteIni("[Vantry]\nAllowedBackups=two\nDefaultDeleteStrategy=sometimes\n");
  host_.ServiceStart();
  // The values are still the ones the service has always taken for such a file.
  EXPECT_EQ(host_.GetSettings().AllowedBackups, 1);
  EXPECT_EQ(host_.GetSettings().DefaultDeleteStrategy, "SOMETIMES");
  EXPECT_EQ(Warnings().size(), 2u);
  WriteIni("[Vantry]\nAllowedBackups=2\n");
  WriteAllowList("127.0.0.0/8\n");
  host_.ServiceContinue();
  EXPECT_THAT(Warnings(), ElementsAre(testing::_, testing::_, testing::HasSubstr("127.0.0.0/8")));
}

using testing_exposition::Exposition;
using testing_exposition::ParseExposition;

struct HttpAnswer {
  int status = 0;
  std::string body;
};

// One GET over a fresh connection, read to the server's close.
HttpAnswer HttpGet(int port, const std::string& path) {
  Socket socket = Socket::Create();
  socket.Connect("127.0.0.1", port);
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  for (size_t sent = 0; sent < request.size();) {
    sent += socket.Send(request.data() + sent, request.size() - sent);
  }
  std::string reply;
  char buffer[4096];
  while (size_t n = socket.Receive(buffer, sizeof buffer)) reply.append(buffer, n);
  HttpAnswer answer;
  if (reply.size() > 12) answer.status = std::stoi(reply.substr(9, 3));
  size_t body = reply.find("\r\n\r\n");
  if (body != std::string::npos) answer.body = reply.substr(body + 4);
  return answer;
}

class MetricsTest : public WindowsServiceTest {
 protected:
  MetricsTest()
      : metrics_host_(Options(), drives_, file_system_, clock_) {}
  THostOptions Options() {
    THostOptions options = CapturingWarnings(THostOptions{home_.path(), 0, "127.0.0.1"});
    options.metrics_port = 0;
    return options;
  }
  int Port() { return metrics_host_.MetricsPort(); }
  TWindowsService metrics_host_;
};

TEST_F(MetricsTest, MetricsParseBackAndCountersOnlyGrow) {
  WriteAllowList("127.0.0.1\n");
  metrics_host_.ServiceStart();
  ASSERT_GT(Port(), 0);
  HttpAnswer first = HttpGet(Port(), "/metrics");
  EXPECT_EQ(first.status, 200);
  Exposition before = ParseExposition(first.body);
  EXPECT_EQ(before.samples["vantry_up"], 1);
  EXPECT_GT(before.samples["process_threads"], 1);
  EXPECT_GT(before.samples["process_resident_memory_bytes"], 0);
  EXPECT_EQ(before.samples["vantry_backup_permissions_limit"], 1);

  Socket refused = Socket::Create();
  refused.Bind("127.0.0.2", 0);
  refused.Connect("127.0.0.1", metrics_host_.ROServer().GetPort());
  ASSERT_TRUE(refused.WaitReadable(10000));
  char byte;
  EXPECT_EQ(refused.Receive(&byte, 1), 0u);
  metrics_host_.RequestManualBackupPermission("db.fbk");

  Exposition after = ParseExposition(HttpGet(Port(), "/metrics").body);
  EXPECT_EQ(after.samples["vantry_connections_refused_total"],
            before.samples["vantry_connections_refused_total"] + 1);
  EXPECT_EQ(after.samples["vantry_backup_permissions_in_use"], 1);
  for (const auto& [sample, value] : before.samples) {
    std::string family = sample.substr(0, sample.find('{'));
    if (after.types[family] == "counter") {
      EXPECT_GE(after.samples[sample], value) << sample;
    }
  }
  EXPECT_EQ(HttpGet(Port(), "/nothing").status, 404);
}

TEST_F(MetricsTest, HealthzAnswers503WhilePausedAnd200AfterContinue) {
  metrics_host_.ServiceStart();
  EXPECT_EQ(HttpGet(Port(), "/healthz").status, 200);
  metrics_host_.ServicePause();
  HttpAnswer paused = HttpGet(Port(), "/healthz");
  EXPECT_EQ(paused.status, 503);
  EXPECT_EQ(paused.body, "paused: backup permissions do not expire\n");
  metrics_host_.ServiceContinue();
  EXPECT_EQ(HttpGet(Port(), "/healthz").status, 200);
  metrics_host_.ServiceStop();
  EXPECT_EQ(Port(), 0);  // the listener goes with the service
}

TEST_F(WindowsServiceTest, WithoutAMetricsPortNothingMoreListens) {
  host_.ServiceStart();
  EXPECT_EQ(host_.MetricsPort(), 0);
}

}  // namespace
}  // namespace vantry
