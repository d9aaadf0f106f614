// The real service program driven as systemd drives it: control signals in, exit code and
// stderr out. The program runs with --verbose, which writes one line per handled control
// request ("vantryd: running; instance {GUID}; home ...; AllowedBackups=2; ...").
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>

#include "platform/file_system.h"
#include "platform/service_process.h"
#include "platform/temp_dir.h"

namespace vantry {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr int kLineTimeoutMs = 10000;  // only bounds a hang; never reached when all is well

class ServiceLifecycleTest : public ::testing::Test {
 protected:
  ServiceLifecycleTest() : file_system_(drives_) {}

  std::unique_ptr<ServiceProcess> StartService() {
    return std::make_unique<ServiceProcess>(
        VANTRYD_PATH, std::vector<std::string>{"--home", home_.path(), "--port", "0", "--verbose"});
  }
  // The next stderr line; fails the test when none arrives.
  static std::string NextLine(ServiceProcess& service) {
    std::optional<std::string> line = service.ReadErrorLine(kLineTimeoutMs);
    EXPECT_TRUE(line.has_value()) << "the service wrote no further line";
    return line.value_or("");
  }
  static std::string GuidOf(const std::string& line) {
    std::smatch match;
    EXPECT_TRUE(std::regex_search(line, match, std::regex("instance (\\{[0-9A-F-]{36}\\})")))
        << line;
    return match.empty() ? "" : match[1].str();
  }
  void WriteIni(const std::string& text) {
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary) << text;
  }
  std::string IniWindowsPath() const {
    std::string path = "Z:" + home_.path() + "\\Vantry.ini";
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
  }
  // Holds Vantry.ini open sharing nothing, as another program holding it exclusively would.
  std::unique_ptr<File> HoldIniExclusively() {
    return file_system_.OpenFile(IniWindowsPath(), FileAccess::kRead, FileShare::kNone,
                                 FileDisposition::kOpenExisting);
  }
  std::string HeldIniText() const {
    return "Cannot open file \"" + IniWindowsPath() +
           "\". The process cannot access the file because it is being used by another "
           "process.";
  }

  TempDir home_;
  DriveMap drives_;
  PosixFileSystem file_system_;
};

TEST_F(ServiceLifecycleTest, ControlSignalsPauseContinueReloadAndStop) {
  WriteIni("[Vantry]\nAllowedBackups=2\n");
  auto service = StartService();
  std::string started = NextLine(*service);
  EXPECT_THAT(started, StartsWith("vantryd: running; instance {"));
  EXPECT_THAT(started, HasSubstr("; AllowedBackups=2;"));
  const std::string guid = GuidOf(started);

  service->SendSignal(SIGUSR1);
  std::string paused = NextLine(*service);
  EXPECT_THAT(paused, StartsWith("vantryd: paused; "));
  EXPECT_EQ(GuidOf(paused), guid);

  WriteIni("[Vantry]\nAllowedBackups=7\n");
  service->SendSignal(SIGUSR2);
  std::string continued = NextLine(*service);
  EXPECT_THAT(continued, StartsWith("vantryd: running; "));
  EXPECT_THAT(continued, HasSubstr("; AllowedBackups=7;"));
  EXPECT_EQ(GuidOf(continued), guid);

  // A reload of the running service re-reads the settings as well.
  WriteIni("[vantry]\nallowedbackups=9\nOtherTargetServers=SRV1, SRV2\n");
  service->SendSignal(SIGHUP);
  std::string reloaded = NextLine(*service);
  EXPECT_THAT(reloaded, HasSubstr("; AllowedBackups=9;"));
  EXPECT_THAT(reloaded, HasSubstr("; MigrationTargetServer=SRV1;"));
  EXPECT_EQ(GuidOf(reloaded), guid);

  service->SendSignal(SIGTERM);
  EXPECT_EQ(NextLine(*service), "vantryd: stopped");
  EXPECT_EQ(service->Wait(), 0);

  auto restarted = StartService();
  EXPECT_NE(GuidOf(NextLine(*restarted)), guid);
  restarted->SendSignal(SIGINT);
  EXPECT_EQ(NextLine(*restarted), "vantryd: stopped");
  EXPECT_EQ(restarted->Wait(), 0);
}

TEST_F(ServiceLifecycleTest, FailedStartIsLoggedAndEndsTheProcess) {
  WriteIni("[Vantry]\nAllowedBackups=2\n");
  std::unique_ptr<File> held = HoldIniExclusively();
  auto service = StartService();
  EXPECT_EQ(service->Wait(), 1);
  EXPECT_EQ(service->ReadRestOfErrors(), "Service failed on start: " + HeldIniText() + "\n");
}

TEST_F(ServiceLifecycleTest, FailedContinueKeepsTheServiceAndItsSettings) {
  WriteIni("[Vantry]\nAllowedBackups=2\n");
  auto service = StartService();
  const std::string guid = GuidOf(NextLine(*service));
  service->SendSignal(SIGUSR1);
  EXPECT_THAT(NextLine(*service), StartsWith("vantryd: paused; "));

  WriteIni("[Vantry]\nAllowedBackups=5\n");
  std::unique_ptr<File> held = HoldIniExclusively();
  service->SendSignal(SIGUSR2);
  EXPECT_EQ(NextLine(*service), "Service failed on continue: " + HeldIniText());
  held.reset();

  service->SendSignal(SIGUSR2);
  std::string continued = NextLine(*service);
  EXPECT_THAT(continued, HasSubstr("; AllowedBackups=5;"));
  EXPECT_EQ(GuidOf(continued), guid);
  service->SendSignal(SIGTERM);
  EXPECT_EQ(NextLine(*service), "vantryd: stopped");
  EXPECT_EQ(service->Wait(), 0);
}

class ServiceInstallTest : public ::testing::Test {
 protected:
  struct Outcome {
    int exit_code;
    std::string out;
    std::string err;
  };
  static Outcome Run(const std::vector<std::string>& arguments) {
    ServiceProcess process(VANTRYD_PATH, arguments);
    int exit_code = process.Wait();
    return {exit_code, process.ReadRestOfOutput(), process.ReadRestOfErrors()};
  }
  // The service's own unit name, or the package's where the package is installed.
  std::string UnitPath() const {
    bool packaged = std::filesystem::exists("/lib/systemd/system/vantry.service") ||
                    std::filesystem::exists("/usr/lib/systemd/system/vantry.service");
    return units_.path() + (packaged ? "/vantry.service" : "/WindowsService.service");
  }
  std::string ReadUnit() const {
    std::ifstream in(UnitPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TempDir units_;
};

TEST_F(ServiceInstallTest, InstallWritesTheUnitAndUninstallRemovesIt) {
  Outcome installed =
      Run({"/INSTALL", "--unit-dir", units_.path(), "--home", "/srv/vantry", "--port", "8091"});
  EXPECT_EQ(installed.exit_code, 0);
  EXPECT_EQ(installed.out, "Service installed successfully\n");
  EXPECT_EQ(installed.err, "");
  // The package's hardened unit, started as this program with the options given.
  std::ifstream package(VANTRY_UNIT_TEMPLATE, std::ios::binary);
  std::string unit(std::istreambuf_iterator<char>(package), {});
  const std::string packaged_start = "ExecStart=/usr/sbin/vantryd --home /etc/vantry\n";
  ASSERT_NE(unit.find(packaged_start), std::string::npos);
  unit.replace(unit.find(packaged_start), packaged_start.size(),
               "ExecStart=" VANTRYD_PATH " --home /srv/vantry --port 8091\n");
  EXPECT_EQ(ReadUnit(), unit);
  EXPECT_THAT(unit, ::testing::HasSubstr("\nUser=vantry\n"));
  EXPECT_THAT(unit, ::testing::HasSubstr("\nCapabilityBoundingSet=\n"));

  Outcome removed = Run({"-uninstall", "silent", "--unit-dir", units_.path()});
  EXPECT_EQ(removed.exit_code, 0);
  EXPECT_EQ(removed.out, "");
  EXPECT_EQ(ReadUnit(), "");
}

TEST_F(ServiceInstallTest, FailuresNameTheServiceAndTheSystemError) {
  Outcome not_installed = Run({"UNINSTALL", "SILENT", "--unit-dir", units_.path()});
  EXPECT_NE(not_installed.exit_code, 0);
  EXPECT_EQ(not_installed.out, "");
  EXPECT_EQ(not_installed.err,
            "Service \"Vantry Service\" failed to uninstall with error: \"System Error.  Code: "
            "2.\r\nThe system cannot find the file specified.\"\n");

  Outcome no_directory = Run({"install", "--unit-dir", units_.path() + "/missing/dir"});
  EXPECT_NE(no_directory.exit_code, 0);
  EXPECT_EQ(no_directory.err,
            "Service \"Vantry Service\" failed to install with error: \"System Error.  Code: "
            "3.\r\nThe system cannot find the path specified.\"\n");
}

}  // namespace
}  // namespace vantry
