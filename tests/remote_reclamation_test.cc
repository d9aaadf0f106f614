// MakeSpaceOnDiskForBackup called remotely against the real vantryd, and the client's plan of the
// same directory: plan names exactly the backups that the operation then deletes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/service_process.h"
#include "platform/temp_dir.h"
#include "remoting/ro_exception.h"
#include "tests/running_service.h"

namespace vantry::e2e {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using ::testing::UnorderedElementsAre;

class RemoteReclamationTest : public ::testing::Test {
 protected:
  RemoteReclamationTest() {
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary)
        << "[Drives]\r\nT=" << data_.path() << "\r\n";
    service_ = std::make_unique<RunningService>(home_.path());
    caller_ = std::make_unique<Caller>(service_->port());
  }
  // A backup file last written `days` ago (and a few minutes, so no limit is hit exactly).
  void WriteBackup(const std::string& name, double days) {
    std::string path = data_.path() + "/" + name;
    std::ofstream(path, std::ios::binary) << name;
    auto when =
        std::chrono::system_clock::now() -
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double, std::ratio<86400>>(days) + std::chrono::minutes(5));
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(when));
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(data_.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  nlohmann::json Plan(const std::string& strategy) {
    ServiceProcess client(
        VANTRY_PATH, {"--json", "plan", data_.path(), "D:\\data\\db.fdb", "--strategy", strategy});
    EXPECT_EQ(client.Wait(), 0) << client.ReadRestOfErrors();
    return nlohmann::json::parse(client.ReadRestOfOutput());
  }

  VantryLibraryRegistration registrations_;
  TempDir home_;
  TempDir data_;
  std::unique_ptr<RunningService> service_;
  std::unique_ptr<Caller> caller_;
};

TEST_F(RemoteReclamationTest, PlanPredictsExactlyWhatModerateDeletes) {
  for (int days : {1, 2, 3, 10, 20, 40, 400}) WriteBackup("db.fdb." + std::to_string(days), days);
  WriteBackup("other.fdb.1", 500);
  std::filesystem::create_directory(data_.path() + "/db.fdb.dir");  // passed over, no failure

  nlohmann::json plan = Plan("moderate");
  std::set<std::string> predicted;
  ASSERT_EQ(plan.size(), 7u);
  for (const nlohmann::json& backup : plan) {
    if (backup["Action"] == "delete") {
      predicted.insert(std::filesystem::path(backup["Path"].get<std::string>()).filename());
    }
  }
  EXPECT_THAT(predicted, UnorderedElementsAre("db.fdb.3", "db.fdb.20", "db.fdb.40", "db.fdb.400"));
  EXPECT_EQ(plan.back()["Bucket"], "week");
  EXPECT_EQ(plan.front()["Bucket"], "older");

  std::set<std::string> before = Names();
  caller_->service().MakeSpaceOnDiskForBackup("T:\\data\\db.fdb", "T:\\", vantrydsModerate);
  std::set<std::string> deleted;
  std::set<std::string> after = Names();
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                      std::inserter(deleted, deleted.begin()));
  EXPECT_EQ(deleted, predicted);
  // A second call keeps what the strategy kept.
  caller_->service().MakeSpaceOnDiskForBackup("T:\\data\\db.fdb", "T:\\", vantrydsModerate);
  EXPECT_EQ(Names(), after);
  for (const nlohmann::json& backup : Plan("moderate")) EXPECT_EQ(backup["Action"], "keep");
}

TEST_F(RemoteReclamationTest, UnknownStrategyFailsBeforeAnythingIsDeleted) {
  for (int days : {1, 2, 3}) WriteBackup("db.fdb." + std::to_string(days), days);
  EXPECT_THAT(
      [&] {
        caller_->service().MakeSpaceOnDiskForBackup("T:\\db.fdb", "T:\\",
                                                    static_cast<TVantry_DeleteStrategyType>(7));
      },
      ThrowsMessage<EROUnregisteredServerException>(
          StrEq("An exception was raised on the server: No delete strategy provided "
                "(lib\\servermaintanence\\MakeDiskSpace, line 304)")));
  EXPECT_EQ(Names().size(), 3u);
  caller_->service().MakeSpaceOnDiskForBackup("T:\\db.fdb", "T:\\", vantrydsAgressive);
  EXPECT_THAT(Names(), UnorderedElementsAre("db.fdb.1", "db.fdb.2"));
}

}  // namespace
}  // namespace vantry::e2e
