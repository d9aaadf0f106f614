// The command-line client vantry against the real vantryd: one test per command family, text and
// --json output read back, the exit codes (0 done, 1 the service's error or the client's check,
// 2 usage, 3 not reached) with their one-line errors, and the manual pages and bash completion
// that the build writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
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
  ClientRun duplicate = Run({"permission", "manual", "T:\\BAK\\DB.FBK"});
  EXPECT_EQ(duplicate.exit_code, 1);
  EXPECT_EQ(duplicate.err,
            "vantry: permission manual: get a manual permission for T:\\BAK\\DB.FBK: duplicate: "
            "a permission for this name is held already\n");
  EXPECT_EQ(Run({"permission", "manual", "T:\\bak\\other.fbk"}).out, "true\n");
  EXPECT_EQ(RunJson({"permission", "status"}).Json(),
            nlohmann::json::parse(R"({"Result": true, "Granted": 2, "MaxLimit": 2})"));
  // At the limit a scheduled request is refused before the duplicate test; the client says so.
  ClientRun twice = Run({"permission", "request", "T:\\BAK\\DB.FBK"});
  EXPECT_EQ(twice.exit_code, 1);
  EXPECT_EQ(twice.out, "");
  EXPECT_EQ(twice.err,
            "vantry: permission request: get a permission for T:\\BAK\\DB.FBK: limit reached: 2 "
            "of 2 permissions are held (AllowedBackups)\n");
  EXPECT_EQ(RunJson({"call", "RequestBackupPermission", "T:\\x.fbk"}).Json(), false);  // raw
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

// Every answer says what happened: the client's checks where the operation's answer would hide
// that nothing was done, one line naming the paths for each failure, the Windows code only with
// --verbose, and --json errors as documents on stdout with the same exit code.
TEST_F(ClientTest, EveryFailureSaysWhatFailedAndWhy) {
  WriteHostFile("bak/db.fdb", std::string(1000, 'x'));
  WriteHostFile("bak/empty.fbk", "");
  std::filesystem::create_directories(data_.path() + "/bak/sub");
  const std::string empty_local = home_.path() + "/empty.fbk";
  std::ofstream(empty_local, std::ios::binary).flush();
  const std::string self = server_;

  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string err;  // exact stderr
    std::string out;  // exact stdout (a JSON document under --json)
  };
  const std::string none = "T:\\bak\\none.fbk";
  const std::string sub = "T:\\bak\\sub";
  for (const Case& c : std::vector<Case>{
           {{"rm", none}, 1, "vantry: rm: delete " + none + ": " + none + " does not exist\n", ""},
           {{"rm", sub},
            1,
            "vantry: rm: delete " + sub + ": " + sub + " is a directory, not a file\n",
            ""},
           {{"size", none},
            1,
            "vantry: size: read the size of " + none + ": " + none + " does not exist\n",
            ""},
           {{"size", sub},
            1,
            "vantry: size: read the size of " + sub + ": " + sub + " is a directory, not a file\n",
            ""},
           {{"archive", none},
            1,
            "vantry: archive: archive " + none + ": " + none + " does not exist\n",
            ""},
           {{"mkdir", "T:\\bak\\db.fdb"},
            1,
            "vantry: mkdir: create the directory T:\\bak\\db.fdb: T:\\bak\\db.fdb is a file\n",
            ""},
           {{"send", none, "SRV2", "T:\\in\\x.fbk"},
            1,
            "vantry: send: send " + none + " to SRV2 as T:\\in\\x.fbk: " + none +
                " does not exist\n",
            ""},
           {{"send", "T:\\bak\\empty.fbk", self, "T:\\in\\x.fbk"},
            1,
            "vantry: send: send T:\\bak\\empty.fbk to " + self +
                " as T:\\in\\x.fbk: T:\\bak\\empty.fbk is empty, and an empty file never arrives\n",
            ""},
           {{"push", empty_local, "T:\\in\\e.fbk"},
            1,
            "vantry: push: push " + empty_local + " to T:\\in\\e.fbk: " + empty_local +
                " is empty, and an empty file never arrives\n",
            ""},
           {{"cp", none, "T:\\x.fbk"},
            1,
            "vantry: cp: copy " + none + " to T:\\x.fbk: " + none + " does not exist\n",
            ""},
           {{"cp", "T:\\bak\\db.fdb", "T:\\bak\\empty.fbk"},
            1,
            "vantry: cp: copy T:\\bak\\db.fdb to T:\\bak\\empty.fbk: T:\\bak\\empty.fbk exists "
            "(--force replaces it)\n",
            ""},
           {{"mv", "T:\\bak\\db.fdb", sub},
            1,
            "vantry: mv: move T:\\bak\\db.fdb to " + sub + ": " + sub + " is a directory\n",
            ""},
           {{"mv", "T:\\bak\\db.fdb", "T:\\bak\\empty.fbk"},
            1,
            "vantry: mv: move T:\\bak\\db.fdb to T:\\bak\\empty.fbk: T:\\bak\\empty.fbk exists "
            "(--force replaces it)\n",
            ""},
           // `call` is the wire's answer, unchecked.
           {{"call", "DeleteFile", none}, 0, "", "true\n"},
           {{"call", "GetFileSize", none}, 0, "", "0\n"},
           // The service's errors: the system's text without its code, the code with --verbose.
           {{"rename", none, "T:\\y.fbk"},
            1,
            "vantry: rename: rename " + none +
                " to T:\\y.fbk: The system cannot find the file specified.\n",
            ""},
           {{"rename", none, "T:\\y.fbk", "--verbose"},
            1,
            "vantry: rename: rename " + none +
                " to T:\\y.fbk: The system cannot find the file specified. [EOSError, Windows "
                "code 2]\n",
            ""},
           {{"--json", "rename", none, "T:\\y.fbk"},
            1,
            "",
            R"({"error":{"class":"EOSError","message":"System Error.  Code: 2.\r\nThe system )"
            R"(cannot find the file specified.","code":2}})"
            "\n"},
           {{"size", none, "--json"},
            1,
            "",
            R"({"error":{"class":"Refused","message":"T:\\bak\\none.fbk does not exist",)"
            R"("code":null}})"
            "\n"},
           // An error of the instance that SendBackup called arrives with the runtime's prefix
           // once; the line gives the reason alone.
           {{"send", "T:\\bak\\db.fdb", self, "T:\\bak\\empty.fbk"},
            1,
            "vantry: send: send T:\\bak\\db.fdb to " + self +
                " as T:\\bak\\empty.fbk: Backup File 'T:\\bak\\empty.fbk' already exists, cannot "
                "replace! (VantryService_Impl, line 355)\n",
            ""},
           {{"rm", "--json"},
            2,
            "",
            R"j({"error":{"class":"Usage","message":"FileName is required (vantry --help shows )j"
            R"j(the usage)","code":null}})j"
            "\n"},
           {{"ping", "--server", "[::1]:" + std::to_string(service_->port())},
            2,
            "vantry: ping: --server \"[::1]:" + std::to_string(service_->port()) +
                "\": IPv4 only: give an IPv4 address or a host name, HOST[:PORT]\n",
            ""},
       }) {
    ClientRun run = Run(c.args);
    std::string line;
    for (const std::string& arg : c.args) line += arg + " ";
    EXPECT_EQ(run.exit_code, c.exit_code) << line;
    EXPECT_EQ(run.err, c.err) << line;
    EXPECT_EQ(run.out, c.out) << line;
  }
  // Nothing of the refused commands happened.
  EXPECT_TRUE(std::filesystem::is_directory(data_.path() + "/bak/sub"));
  EXPECT_EQ(std::filesystem::file_size(data_.path() + "/bak/empty.fbk"), 0u);
  EXPECT_EQ(std::filesystem::file_size(data_.path() + "/bak/db.fdb"), 1000u);
  EXPECT_FALSE(std::filesystem::exists(data_.path() + "/in"));

  // With --force an existing target is replaced.
  EXPECT_EQ(Run({"cp", "--force", "T:\\bak\\db.fdb", "T:\\bak\\empty.fbk"}).exit_code, 0);
  EXPECT_EQ(std::filesystem::file_size(data_.path() + "/bak/empty.fbk"), 1000u);
}

// reclaim lists exactly the backups it deleted: files whose names begin with the database's
// file name, and nothing else in the directory.
TEST_F(ClientTest, ReclaimListsWhatItDeleted) {
  const auto now = std::filesystem::file_time_type::clock::now();
  std::vector<std::string> names;
  for (int years : {5, 4, 3, 2, 0}) {
    std::string name = "db.fdb." + std::to_string(years) + ".fbk";
    WriteHostFile("bak/" + name, "backup");
    std::filesystem::last_write_time(data_.path() + "/bak/" + name,
                                     now - std::chrono::hours(24 * 366 * years));
    names.push_back(name);
  }
  WriteHostFile("bak/db_1.fbk", "not a backup of db.fdb by its name");
  nlohmann::json deleted =
      RunJson({"reclaim", "T:\\data\\db.fdb", "T:\\bak", "aggressive"}).Json()["Deleted"];
  ASSERT_FALSE(deleted.empty());
  for (const std::string& name : names) {
    bool listed = std::find(deleted.begin(), deleted.end(), "T:\\bak\\" + name) != deleted.end();
    EXPECT_EQ(listed, !std::filesystem::exists(data_.path() + "/bak/" + name)) << name;
  }
  EXPECT_TRUE(std::filesystem::exists(data_.path() + "/bak/db_1.fbk"));

  // plan in a directory of only db_1.fbk finds no backup and says by which rule.
  WriteHostFile("other/db_1.fbk", "");
  EXPECT_EQ(RunClient({"plan", data_.path() + "/other", "T:\\data\\db.fdb"}).out,
            "0 backups, 0 to delete, 0 to keep (careful strategy)\n"
            "(backups of db.fdb are the files whose names begin with \"db.fdb\")\n");
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
                                         {{"push", "--help"}, "--resume"},
                                         {{"cp", "--help"}, "Example: vantry cp 'D:\\backup"},
                                         {{"rm", "--help"}, "FileName PATH"}}) {
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
  const std::string server = "127.0.0.1:" + std::to_string(port);
  ClientRun run = RunClient({"settings", "--server", server});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.err, "vantry: settings: cannot reach " + server + ": Connection refused.\n");
  ClientRun verbose = RunClient({"--verbose", "--server", server, "settings"});
  EXPECT_EQ(verbose.err, "vantry: settings: cannot reach " + server +
                             ": Connection refused. [ESocketError, Windows code 10061]\n");
}

// A caller that the allow-list does not admit finds the connection closed before any answer;
// the client names the likely reason.
TEST(ClientAdmissionTest, ClosedBeforeAnswerPointsToTheAllowList) {
  TempDir home;
  std::ofstream(home.path() + "/AllowedSourceIPs.txt") << "10.9.9.9\n";
  RunningService service(home.path());
  const std::string server = "127.0.0.1:" + std::to_string(service.port());
  ClientRun run = RunClient({"--server", server, "ls", "T:\\*"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.err, "vantry: ls: " + server +
                         " closed the connection before answering: the server may not admit "
                         "this address: see AllowedSourceIPs.txt on the server\n");
  ClientRun json = RunClient({"--server", server, "ls", "T:\\*", "--json"});
  EXPECT_EQ(json.exit_code, 3);
  EXPECT_EQ(json.Json()["error"]["class"], "EConnClosedGracefully");
}

// Outside the nightly backup period a scheduled request is refused, and the client says so; a
// period of one hour twelve hours away holds no moment of the test.
TEST(ClientPermissionTest, RefusalOutsideTheNightlyPeriodSaysSo) {
  std::time_t now = std::time(nullptr);
  const int hour = (std::localtime(&now)->tm_hour + 12) % 24;
  TempDir home;
  std::ofstream(home.path() + "/Vantry.ini", std::ios::binary)
      << "[Vantry]\r\nBackupPeriodStartHour=" << hour << "\r\nBackupPeriodEndHour=" << hour
      << "\r\n";
  RunningService service(home.path());
  ClientRun run = RunClient({"--server", "127.0.0.1:" + std::to_string(service.port()),
                             "permission", "request", "D:\\db.fbk"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "vantry: permission request: get a permission for D:\\db.fbk: outside the "
            "nightly backup period, which ends at " +
                std::to_string(hour) + ":59 (BackupPeriodStartHour, BackupPeriodEndHour)\n");
}

// vantryd refuses a bad command line with exit code 2 and one line: the reason and the usage.
TEST(ServiceCommandLineTest, BadCommandLinesGiveOneLineOfUsageAndExitCode2) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--port", "70000"}, {"--port", "x"}, {"--bogus"}, {"--port"}}) {
    ServiceProcess vantryd(VANTRYD_PATH, args);
    int code = vantryd.Wait();
    std::string err = vantryd.ReadRestOfErrors();
    EXPECT_EQ(code, 2) << args[0];
    EXPECT_THAT(err, MatchesRegex("vantryd: [^\n]+; usage: vantryd \\[INSTALL[^\n]*\n")) << args[0];
  }
}

// The manual pages that the build wrote from the programs' own tables render without a
// complaint and hold every command; `man` may be missing on a build machine.
TEST(ClientManualTest, ManualPagesRender) {
  if (!std::filesystem::exists("/usr/bin/man")) GTEST_SKIP() << "man is not installed";
  for (const auto& [page, shows] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {VANTRY_MANUAL,
            {"vantry - ", "permission request", "reclaim", "EXIT STATUS", "AllowedSourceIPs.txt",
             "whose name begins with the database"}},
           {VANTRYD_MANUAL, {"vantryd - ", "--port N", "SIGHUP", "EXIT STATUS"}}}) {
    ServiceProcess man("/usr/bin/man", {"-l", page});
    int code = man.Wait();
    std::string out = man.ReadRestOfOutput();
    EXPECT_EQ(code, 0) << page;
    EXPECT_EQ(man.ReadRestOfErrors(), "") << page;
    for (const std::string& text : shows) EXPECT_THAT(out, HasSubstr(text)) << page;
  }
}

// The completion script completes command names, nested commands and a command's options in a
// bash of its own.
TEST(ClientCompletionTest, BashCompletesCommandNames) {
  struct Case {
    std::string words;
    int current;
    std::string expected;
  };
  for (const Case& c : std::vector<Case>{{"vantry perm", 1, "permission"},
                                         {"vantry --server x permission re", 4, "request"},
                                         {"vantry --json recl", 2, "reclaim"},
                                         {"vantry mv a --f", 3, "--force"}}) {
    ServiceProcess bash(
        "/bin/bash",
        {"--norc", "-c",
         std::string("source '") + VANTRY_COMPLETION + "'; COMP_WORDS=(" + c.words +
             "); COMP_CWORD=" + std::to_string(c.current) + "; _vantry; echo \"${COMPREPLY[*]}\""});
    EXPECT_EQ(bash.Wait(), 0) << c.words;
    EXPECT_EQ(bash.ReadRestOfOutput(), c.expected + "\n") << c.words;
    EXPECT_EQ(bash.ReadRestOfErrors(), "") << c.words;
  }
}

}  // namespace
}  // namespace vantry::e2e
