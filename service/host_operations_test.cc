// The operations that answer from the host: settings, identity and backup permissions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/testing/fake_file_system.h"
#include "service/VantryService_Impl.h"
#include "service/testing/fake_vantry_host.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

class HostOperationsTest : public testing::Test {
 protected:
  std::vector<std::string> OtherTargetServers() {
    std::unique_ptr<TargetServerList> list = service_.GetOtherTargetServers();
    EXPECT_NE(nullptr, list);
    return list ? list->ToVector() : std::vector<std::string>();
  }

  FakeFileSystem fs_;
  FakeVantryHost host_;
  FixedClock clock_{45000.5};
  TVantryService service_{fs_, host_, clock_};
};

TEST_F(HostOperationsTest, GettersAnswerTheSettingsInEffectAtTheCall) {
  host_.settings.DefaultBackupPath = "D:\\bak";
  host_.settings.DefaultDatabasePath = "D:\\db";
  host_.settings.AlternateBackupPath = "E:\\altbak";
  host_.settings.AlternateRestorePath = "E:\\altrestore";
  host_.settings.FBIsClassic = false;
  host_.settings.MigrationTargetServer = "SRV9";
  host_.settings.MigrateAllDatabases = true;
  host_.settings.MigrateUsingClone = true;
  host_.settings.BackupPeriodEndHour = 7;
  EXPECT_EQ(service_.GetDefaultBackupPath(), "D:\\bak");
  EXPECT_EQ(service_.GetDefaultDatabasePath(), "D:\\db");
  EXPECT_EQ(service_.GetAlternateBackupPathForRestoreFromAnotherServer(), "E:\\altbak");
  EXPECT_EQ(service_.GetAlternateRestorePathForRestoreFromAnotherServer(), "E:\\altrestore");
  EXPECT_FALSE(service_.GetIsFBClassicServer());
  EXPECT_EQ(service_.MigrateToServer(), "SRV9");
  EXPECT_TRUE(service_.MigrateAllDatabases());
  EXPECT_TRUE(service_.MigrateUsingClone());
  EXPECT_EQ(service_.GetBackupPeriodEndHour(), 7);
  host_.settings.BackupPeriodEndHour = 3;  // no copy is kept between calls
  EXPECT_EQ(service_.GetBackupPeriodEndHour(), 3);
}

TEST_F(HostOperationsTest, DeleteStrategyIsMappedFromTheUpperCaseSetting) {
  struct Case {
    const char* setting;
    TVantry_DeleteStrategyType expected;
  };
  for (const Case& c : {Case{"MODERATE", vantrydsModerate}, Case{"AGGRESSIVE", vantrydsAgressive},
                        Case{"CAREFUL", vantrydsCareful}, Case{"AGRESSIVE", vantrydsCareful},
                        Case{"Moderate", vantrydsCareful}, Case{"", vantrydsCareful}}) {
    host_.settings.DefaultDeleteStrategy = c.setting;
    EXPECT_EQ(service_.GetDefaultDeleteStrategy(), c.expected) << c.setting;
  }
}

TEST_F(HostOperationsTest, OtherTargetServersKeepOrderAndDuplicates) {
  EXPECT_THAT(OtherTargetServers(), ElementsAre());
  host_.other_target_servers = {"SRV3", "SRV1", "SRV3"};
  EXPECT_THAT(OtherTargetServers(), ElementsAre("SRV3", "SRV1", "SRV3"));
}

TEST_F(HostOperationsTest, IdentifierComesFromTheHost) {
  std::string name = "old", guid = "old";
  service_.GetVantryInstanceIdentifier(name, guid);
  EXPECT_EQ(name, "DBSERVER");
  EXPECT_EQ(guid, "{00000000-0000-4000-8000-000000000001}");
}

TEST_F(HostOperationsTest, PermissionOperationsPassNamesResultsAndErrorsThrough) {
  host_.answer = false;
  EXPECT_FALSE(service_.RequestBackupPermission("D:\\bak\\db.fbk"));
  host_.answer = true;
  EXPECT_TRUE(service_.RequestManualBackupPermission("D:\\bak\\Db.fbk"));
  EXPECT_TRUE(service_.RequestBackupPermissionCompleted("x=y"));
  int32_t granted = -1, max_limit = -1;
  EXPECT_TRUE(service_.BackupPermissionGranted(granted, max_limit));
  EXPECT_EQ(granted, 3);
  EXPECT_EQ(max_limit, 1);
  EXPECT_THAT(host_.calls,
              ElementsAre("Request:D:\\bak\\db.fbk", "Manual:D:\\bak\\Db.fbk", "Completed:x=y"));
  host_.refuse_as_duplicate = true;
  EXPECT_THAT([&] { service_.RequestBackupPermission("a"); },
              ThrowsMessage<Exception>(StrEq("You can't ask for the same permission twice")));
}

}  // namespace
}  // namespace vantry
