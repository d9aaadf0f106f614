// The command-line client vantry against the real vantryd: one test per command family, text and
// --json output read back, the exit codes (0 done, 1 the service's error, 2 usage, 3 not
// reached) and the messages for bad input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/service_process.h"
#include "platform/temp_dir.h"
#include "tests/running_service.h"

namespace vantry::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

struct ClientRun {
  int exit_code;
  std::string out;
  std::string err;
  nlohmann::json Json() const { return nlohmann::json::parse(out); }
};

ClientRun RunClient(const std::vector<std::string>& args) {
  ServiceProcess client(VANTRY_PATH, args);
  int code = client.Wait();
  return {code, client.ReadRestOfOutput(), client.ReadRestOfErrors()};
}

// vantryd with drive T on a fresh data directory, and the client's --server for it.
class ClientTest : public ::testing::Test {
 protected:
  ClientTest() {
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary)
        << "[Vantry]\r\nAllowedBackups=2\r\nBackupPeriodStartHour=0\r\nBackupPeriodEndHour=23\r\n"
           "DefaultDeleteStrategy=Moderate\r\nOtherTargetServers=SRV2,SRV3\r\n"
           "[Drives]\r\nT="
        << data_.path() << "\r\n";
    service_ = std::make_unique<RunningService>(home_.path());
    server_ = "127.0.0.1:" + std::to_string(service_->port());
  }
  ClientRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--server", server_});
    return RunClient(args);
  }
  ClientRun RunJson(std::vector<std::string> args) {
    args.insert(args.begin(), "--json");
    return Run(std::move(args));
  }
  void WriteHostFile(const std::string& relative, const std::string& content) {
    std::filesystem::create_directories(
        std::filesystem::path(data_.path() + "/" + relative).parent_path());
    std::ofstream(data_.path() + "/" + relative, std::ios::binary) << content;
  }

  TempDir home_;
  TempDir data_;
  std::unique_ptr<RunningService> service_;
  std::string server_;
};

TEST_F(ClientTest, FileCommandsWorkOnTheServersFiles) {
  WriteHostFile("bak/db.fdb", std::string(1000, 'x'));
  EXPECT_EQ(Run({"mkdir", "T:\\new\\deep"}).exit_code, 0);
  EXPECT_EQ(Run({"cp", "T:\\bak\\db.fdb", "T:\\new\\deep\\db.fbk"}).out, "");
  EXPECT_EQ(Run({"exists", "T:\\new\\deep\\db.fbk"}).out, "true\n");
  EXPECT_EQ(RunJson({"size", "T:\\new\\deep\\db.fbk"}).Json(), 1000);
  EXPECT_EQ(RunJson({"required-space", "T:\\bak\\db.fdb"}).Json(), 2000);
  EXPECT_EQ(Run({"mv", "T:\\new\\deep\\db.fbk", "T:\\bak\\db.fbk"}).exit_code, 0);
  EXPECT_EQ(Run({"rename", "T:\\bak\\db.fbk", "T:\\bak\\caf\xC3\xA9.fbk"}).out, "true\n");
  EXPECT_EQ(Run({"ls", "T:\\bak\\*.fbk"}).out, "T:\\bak\\caf\xC3\xA9.fbk\n");  // UTF-8 again
  EXPECT_EQ(RunJson({"ls", "T:\\bak\\*.f*"}).Json(),
            nlohmann::json({"T:\\bak\\caf\xC3\xA9.fbk", "T:\\bak\\db.fdb"}));
  EXPECT_EQ(Run({"rm", "T:\\bak\\caf\xC3\xA9.fbk"}).out, "true\n");
  EXPECT_EQ(RunJson({"ls", "T:\\bak\\*.fbk"}).Json(), nlohmann::json::array());
  EXPECT_GT(RunJson({"df", "T:\\bak"}).Json().get<int64_t>(), 0);
}

TEST_F(ClientTest, SettingsIdentityAndPermissions) {
  nlohmann::json settings = RunJson({"settings"}).Json();
  EXPECT_EQ(settings["DefaultDeleteStrategy"], "moderate");
  EXPECT_EQ(settings["OtherTargetServers"], nlohmann::json({"SRV2", "SRV3"}));
  EXPECT_EQ(settings["MigrateToServer"], "SRV2");
  EXPECT_EQ(settings["BackupPeriodEndHour"], 23);
  EXPECT_EQ(settings["IsFBClassicServer"], true);
  EXPECT_EQ(settings.size(), 11u);
  EXPECT_THAT(Run({"settings"}).out, HasSubstr("DefaultDeleteStrategy:"));

  nlohmann::json id = RunJson({"id"}).Json();
  EXPECT_THAT(id["GUID"].get<std::string>(), MatchesRegex(R"(\{[0-9A-F-]{36}\})"));

  EXPECT_EQ(Run({"permission", "request", "T:\\bak\\db.fbk"}).out, "true\n");
  EXPECT_EQ(Run({"permission", "manual", "T:\\bak\\other.fbk"}).out, "true\n");
  EXPECT_EQ(RunJson({"permission", "status"}).Json(),
            nlohmann::json::parse(R"({"Result": true, "Granted": 2, "MaxLimit": 2})"));
  ClientRun twice = Run({"permission", "request", "T:\\BAK\\DB.FBK"});
  EXPECT_EQ(twice.out, "false\n");  // at the limit: refused before the duplicate test
  EXPECT_EQ(Run({"permission", "complete", "T:\\bak\\db.fbk"}).out, "true\n");
  EXPECT_EQ(Run({"permission", "complete", "T:\\bak\\db.fbk"}).out, "false\n");
}

TEST_F(ClientTest, CallPingAndContract) {
  EXPECT_EQ(Run({"call", "getbackupperiodendhour"}).out, "23\n");
  EXPECT_EQ(RunJson({"call", "FileExists", "T:\\none"}).Json(), false);
  nlohmann::json ping = RunJson({"ping"}).Json();
  EXPECT_EQ(ping["Answer"], "PROBEDOK");
  EXPECT_GE(ping["RoundTripMs"].get<double>(), 0.0);
  EXPECT_THAT(Run({"contract"}).out, StartsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>"));
}

TEST_F(ClientTest, ServiceErrorsShowClassAndTextWithExitCode1) {
  ClientRun run = Run({"cp", "T:\\none.fdb", "T:\\x.fdb"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "EROUnregisteredServerException: An exception was raised on the server: File "
            "\"T:\\none.fdb\" does not exist\n");
}

TEST_F(ClientTest, BadInputIsAUsageErrorWithAClearMessage) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  for (const Case& c : std::vector<Case>{
           {{"frobnicate"}, "frobnicate"},
           {{"rm"}, "FileName is required"},
           {{"reclaim", "T:\\db.fdb", "T:\\bak", "gentle"}, "no delete strategy \"gentle\""},
           {{"call", "NoSuchOperation"}, "no operation \"NoSuchOperation\""},
           {{"call", "GetFileSize"}, "missing argument FileName"},
           {{"exists", "T:\\\xE2\x82\xAC\xE2\x84\xA2\xD0\x96"}, "cannot represent"},
       }) {
    ClientRun run = Run(c.args);
    EXPECT_EQ(run.exit_code, 2) << c.args[0];
    EXPECT_THAT(run.err, HasSubstr(c.message)) << c.args[0];
    EXPECT_THAT(run.err, testing::Not(HasSubstr("terminate"))) << c.args[0];
  }
  ClientRun port = RunClient({"--server", "127.0.0.1:99999", "ping"});
  EXPECT_EQ(port.exit_code, 2);
  EXPECT_THAT(port.err, HasSubstr("must be a number from 1 to 65535"));
}

// Help is asked for, not a usage error: it goes to standard output with exit code 0, for the
// client and for each command.
TEST(ClientHelpTest, HelpGoesToStandardOutputWithExitCode0) {
  struct Case {
    std::vector<std::string> args;
    const char* shows;
  };
  for (const Case& c : std::vector<Case>{{{"--help"}, "push"},
                                         {{"-h"}, "reclaim"},
                                         {{"push", "--help"}, "--resume"}}) {
    ClientRun run = RunClient(c.args);
    EXPECT_EQ(run.exit_code, 0) << c.args[0];
    EXPECT_THAT(run.out, HasSubstr(c.shows)) << c.args[0];
    EXPECT_EQ(run.err, "") << c.args[0];
  }
}

TEST(ClientUnreachableTest, NoServiceGivesExitCode3) {
  // A port that was free a moment ago: nothing listens there.
  Socket probe = Socket::Create();
  probe.Bind("127.0.0.1", 0);
  int port = probe.LocalPort();
  probe.Close();
  ClientRun run = RunClient({"--server", "127.0.0.1:" + std::to_string(port), "settings"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_THAT(run.err, StartsWith("ESocketError: Socket Error # 10061"));
}

}  // namespace
}  // namespace vantry::e2e
