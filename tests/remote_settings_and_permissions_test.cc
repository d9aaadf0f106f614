// The settings, identity and permission operations called remotely against the real vantryd:
// every getter's answer for the Vantry.ini in effect, the registry's results, and its one error
// as the caller receives it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>

#include "platform/identity.h"
#include "platform/temp_dir.h"
#include "remoting/ro_exception.h"
#include "tests/running_service.h"

namespace vantry::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

class RemoteSettingsTest : public ::testing::Test {
 protected:
  void Start(const std::string& ini) {
    WriteIni(ini);
    service_ = std::make_unique<RunningService>(home_.path());
    caller_ = std::make_unique<Caller>(service_->port());
  }
  void WriteIni(const std::string& ini) {
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary) << ini;
  }
  IVantryService& service() { return caller_->service(); }
  std::vector<std::string> OtherTargetServers() {
    std::unique_ptr<TargetServerList> list = service().GetOtherTargetServers();
    EXPECT_NE(list, nullptr);
    return list ? list->ToVector() : std::vector<std::string>();
  }
  std::pair<int32_t, int32_t> Granted() {
    int32_t granted = -1, max_limit = -1;
    EXPECT_TRUE(service().BackupPermissionGranted(granted, max_limit));
    return {granted, max_limit};
  }

  VantryLibraryRegistration registrations_;
  TempDir home_;
  std::unique_ptr<RunningService> service_;
  std::unique_ptr<Caller> caller_;
};

TEST_F(RemoteSettingsTest, GettersAnswerTheConfiguration) {
  Start(
      "[Vantry]\r\nDefaultBackupPath=D:\\Backups\r\nDefaultDatabasePath=D:\\Data\r\n"
      "AlternateBackupPath=E:\\AltBak\r\nAlternateRestorePath=E:\\AltRestore\r\n"
      "FBIsClassic=0\r\nDefaultDeleteStrategy=aggressive\r\n"
      "OtherTargetServers=SRV2, SRV3, SRV2\r\nBackupPeriodEndHour=4\r\n"
      "[Migration]\r\nMigrateAllDatabases=1\r\nMigrateUsingClone=1\r\n");
  EXPECT_EQ(service().GetDefaultBackupPath(), "D:\\Backups");
  EXPECT_EQ(service().GetDefaultDatabasePath(), "D:\\Data");
  EXPECT_EQ(service().GetAlternateBackupPathForRestoreFromAnotherServer(), "E:\\AltBak");
  EXPECT_EQ(service().GetAlternateRestorePathForRestoreFromAnotherServer(), "E:\\AltRestore");
  EXPECT_FALSE(service().GetIsFBClassicServer());
  EXPECT_EQ(service().GetDefaultDeleteStrategy(), vantrydsAgressive);
  EXPECT_THAT(OtherTargetServers(), ElementsAre("SRV2", "SRV3", "SRV2"));
  EXPECT_EQ(service().MigrateToServer(), "SRV2");  // no MigrationTargetServer key
  EXPECT_TRUE(service().MigrateAllDatabases());
  EXPECT_TRUE(service().MigrateUsingClone());
  EXPECT_EQ(service().GetBackupPeriodEndHour(), 4);
}

TEST_F(RemoteSettingsTest, DefaultsWithoutAConfigurationFile) {
  service_ = std::make_unique<RunningService>(home_.path());
  caller_ = std::make_unique<Caller>(service_->port());
  EXPECT_EQ(service().GetDefaultDeleteStrategy(), vantrydsCareful);
  EXPECT_TRUE(service().GetIsFBClassicServer());
  EXPECT_THAT(OtherTargetServers(), ElementsAre());
  EXPECT_EQ(service().MigrateToServer(), "");
  EXPECT_FALSE(service().MigrateAllDatabases());
  EXPECT_EQ(service().GetBackupPeriodEndHour(), 5);
  EXPECT_THAT(service().GetDefaultBackupPath(), MatchesRegex(R"(Z:\\.*\\DefaultBackup)"));
}

TEST_F(RemoteSettingsTest, IdentifierKeepsItsGuidUntilTheNextStart) {
  Start("");
  std::string name, guid;
  service().GetVantryInstanceIdentifier(name, guid);
  EXPECT_EQ(name, ComputerName());
  EXPECT_THAT(guid, MatchesRegex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-)"
                                 R"([0-9A-F]{12}\})"));
  service_->process().SendSignal(SIGUSR1);
  EXPECT_EQ(service_->NextLine().rfind("vantryd: paused", 0), 0u);
  service_->Continue(SIGUSR2);
  std::string again_name, again_guid;
  service().GetVantryInstanceIdentifier(again_name, again_guid);
  EXPECT_EQ(again_guid, guid);
  caller_.reset();
  service_->Stop();
  service_ = std::make_unique<RunningService>(home_.path());
  caller_ = std::make_unique<Caller>(service_->port());
  service().GetVantryInstanceIdentifier(again_name, again_guid);
  EXPECT_NE(again_guid, guid);
}

TEST_F(RemoteSettingsTest, PermissionsAreGrantedCountedAndReleased) {
  // A period of the whole day, so the test does not depend on the hour it runs at.
  Start("[Vantry]\r\nAllowedBackups=1\r\nBackupPeriodStartHour=0\r\nBackupPeriodEndHour=23\r\n");
  EXPECT_TRUE(service().RequestBackupPermission("D:\\Backups\\db.fbk"));
  EXPECT_FALSE(service().RequestBackupPermission("D:\\Backups\\other.fbk"));
  EXPECT_TRUE(service().RequestManualBackupPermission("D:\\Backups\\other.fbk"));
  EXPECT_EQ(Granted(), std::make_pair(2, 1));
  EXPECT_THAT([&] { service().RequestManualBackupPermission("d:\\backups\\DB.FBK"); },
              ThrowsMessage<EROUnregisteredServerException>(
                  StrEq("An exception was raised on the server: You can't ask for the same "
                        "permission twice")));
  EXPECT_FALSE(service().RequestBackupPermissionCompleted("D:\\Backups\\none.fbk"));
  EXPECT_TRUE(service().RequestBackupPermissionCompleted("D:\\BACKUPS\\DB.fbk"));
  EXPECT_TRUE(service().RequestBackupPermissionCompleted("D:\\Backups\\other.fbk"));
  EXPECT_EQ(Granted(), std::make_pair(0, 1));
  EXPECT_TRUE(service().RequestBackupPermission("D:\\Backups\\other.fbk"));
}

TEST_F(RemoteSettingsTest, ContinueAppliesNewLimitsToPermissionsHeld) {
  Start("[Vantry]\r\nAllowedBackups=2\r\nBackupPeriodStartHour=0\r\nBackupPeriodEndHour=23\r\n");
  EXPECT_TRUE(service().RequestBackupPermission("a.fbk"));
  WriteIni("[Vantry]\r\nAllowedBackups=1\r\nBackupPeriodStartHour=0\r\nBackupPeriodEndHour=23\r\n");
  service_->Continue(SIGHUP);
  EXPECT_EQ(Granted(), std::make_pair(1, 1));
  EXPECT_FALSE(service().RequestBackupPermission("b.fbk"));
}

}  // namespace
}  // namespace vantry::e2e
