#include "host/settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace vantry {

void PrintTo(const THostSettings& s, std::ostream* os) { *os << DescribeSettings({s, {}}); }

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kExecutableDir[] = "Z:\\opt\\vantry\\";

THostSettings Defaults() {
  THostSettings s;
  s.DefaultBackupPath = "Z:\\opt\\vantry\\DefaultBackup";
  s.DefaultDatabasePath = "Z:\\opt\\vantry\\DefaultDatabase";
  s.AlternateBackupPath = "Z:\\opt\\vantry\\DefaultAlternateBackupPath";
  s.AlternateRestorePath = "Z:\\opt\\vantry\\DefaultAlternateRestorePath";
  return s;
}

TEST(SettingsTest, EmptyFileGivesEveryDefault) {
  TSettingsRead read = ParseSettings(IniFile(), kExecutableDir);
  EXPECT_EQ(read.settings, Defaults());
  EXPECT_EQ(read.settings.AllowedBackups, 1);
  EXPECT_EQ(read.settings.MaxBackupTimeMinutes, 60);
  EXPECT_EQ(read.settings.BackupPeriodStartHour, 23);
  EXPECT_EQ(read.settings.BackupPeriodEndHour, 5);
  EXPECT_TRUE(read.settings.FBIsClassic);
  EXPECT_FALSE(read.settings.MigrateAllDatabases);
  EXPECT_FALSE(read.settings.MigrateUsingClone);
  EXPECT_FALSE(read.settings.FastTransfer);
  EXPECT_EQ(read.settings.MigrationTargetServer, "");
  EXPECT_EQ(read.settings.DefaultDeleteStrategy, "CAREFUL");
  EXPECT_THAT(read.other_target_servers, IsEmpty());
}

struct SettingsCase {
  const char* name;
  const char* ini;
  std::function<void(THostSettings&)> expect;  // applied to the defaults
};

TEST(SettingsTest, ValuesAndTheirEdgeCases) {
  const SettingsCase cases[] = {
      {"base directory is the base of the path defaults",
       "[Vantry]\nBaseDefaultDirectory=D:\\Data",
       [](THostSettings& s) {
         s.DefaultBackupPath = "D:\\Data\\DefaultBackup";
         s.DefaultDatabasePath = "D:\\Data\\DefaultDatabase";
         s.AlternateBackupPath = "D:\\Data\\DefaultAlternateBackupPath";
         s.AlternateRestorePath = "D:\\Data\\DefaultAlternateRestorePath";
       }},
      {"base with its backslash gets no second one",
       "[Vantry]\nBaseDefaultDirectory=D:\\Data\\\nDefaultDatabasePath=E:\\Db",
       [](THostSettings& s) {
         s.DefaultBackupPath = "D:\\Data\\DefaultBackup";
         s.DefaultDatabasePath = "E:\\Db";
         s.AlternateBackupPath = "D:\\Data\\DefaultAlternateBackupPath";
         s.AlternateRestorePath = "D:\\Data\\DefaultAlternateRestorePath";
       }},
      {"empty base stays empty", "[Vantry]\nBaseDefaultDirectory=",
       [](THostSettings& s) {
         s.DefaultBackupPath = "DefaultBackup";
         s.DefaultDatabasePath = "DefaultDatabase";
         s.AlternateBackupPath = "DefaultAlternateBackupPath";
         s.AlternateRestorePath = "DefaultAlternateRestorePath";
       }},
      {"path with trailing backslash kept", "[Vantry]\nDefaultBackupPath=E:\\Backup\\",
       [](THostSettings& s) { s.DefaultBackupPath = "E:\\Backup\\"; }},
      {"path without trailing backslash kept", "[Vantry]\nAlternateRestorePath=E:\\Restore",
       [](THostSettings& s) { s.AlternateRestorePath = "E:\\Restore"; }},
      {"present empty path is empty", "[Vantry]\nDefaultBackupPath=",
       [](THostSettings& s) { s.DefaultBackupPath = ""; }},
      {"first other target server is the migration target",
       "[Vantry]\nOtherTargetServers=SRV1, SRV2",
       [](THostSettings& s) { s.MigrationTargetServer = "SRV1"; }},
      {"explicit empty migration target wins",
       "[Vantry]\nOtherTargetServers=SRV1\n[Migration]\nMigrationTargetServer=",
       [](THostSettings&) {}},
      {"explicit migration target", "[Migration]\nMigrationTargetServer=SRV9",
       [](THostSettings& s) { s.MigrationTargetServer = "SRV9"; }},
      {"Boolean as a word takes the default", "[Migration]\nMigrateAllDatabases=true",
       [](THostSettings&) {}},
      {"Boolean as 1", "[Migration]\nMigrateAllDatabases=1\nMigrateUsingClone=-1",
       [](THostSettings& s) { s.MigrateAllDatabases = s.MigrateUsingClone = true; }},
      {"fast transfer on, with caps",
       "[Transfer]\nFastTransfer=1\nTransferRateLimitKiB=1024\nServiceRateLimitKiB=4096",
       [](THostSettings& s) {
         s.FastTransfer = true;
         s.TransferRateLimitKiB = 1024;
         s.ServiceRateLimitKiB = 4096;
       }},
      {"FBIsClassic 0", "[Vantry]\nFBIsClassic=0",
       [](THostSettings& s) { s.FBIsClassic = false; }},
      {"hexadecimal count", "[Vantry]\nAllowedBackups=0x10",
       [](THostSettings& s) { s.AllowedBackups = 16; }},
      {"word count takes the default", "[Vantry]\nAllowedBackups=many", [](THostSettings&) {}},
      {"out-of-range values stored as read",
       "[Vantry]\nBackupPeriodStartHour=99\nBackupPeriodEndHour=-1\nMaxBackupTimeMinutes=-5",
       [](THostSettings& s) {
         s.BackupPeriodStartHour = 99;
         s.BackupPeriodEndHour = -1;
         s.MaxBackupTimeMinutes = -5;
       }},
      {"names in any case, strategy upper-cased",
       "[vantry]\nallowedbackups=3\ndefaultdeletestrategy=moderate\n[MIGRATION]\nmigrateusingclone=1",
       [](THostSettings& s) {
         s.AllowedBackups = 3;
         s.DefaultDeleteStrategy = "MODERATE";
         s.MigrateUsingClone = true;
       }},
      {"strategy upper-casing changes only a to z",
       "[Vantry]\nDefaultDeleteStrategy=aggr\xe9ssive",
       [](THostSettings& s) { s.DefaultDeleteStrategy = "AGGR\xe9SSIVE"; }},
      {"keys in the wrong section are not read", "[Migration]\nAllowedBackups=4",
       [](THostSettings&) {}},
  };
  for (const SettingsCase& c : cases) {
    THostSettings expected = Defaults();
    c.expect(expected);
    EXPECT_EQ(ParseSettings(IniFile::Parse(c.ini), kExecutableDir).settings, expected) << c.name;
  }
}

TEST(SettingsTest, OtherTargetServersKeepOrderAndDuplicates) {
  TSettingsRead read = ParseSettings(
      IniFile::Parse("[Vantry]\nOtherTargetServers=SRV2 SRV1,SRV2,\"NEW SRV\""), kExecutableDir);
  EXPECT_THAT(read.other_target_servers, ElementsAre("SRV2", "SRV1", "SRV2", "NEW SRV"));
  EXPECT_EQ(read.settings.MigrationTargetServer, "SRV2");
}

TEST(SettingsTest, DrivesSectionTakesOneLetterKeysWithAbsoluteDirectories) {
  IniFile ini = IniFile::Parse(
      "[Drives]\nD=/srv/firebird/backup\ne=/mnt/e\nXY=/ignored\nF=relative/dir\nG=\n");
  EXPECT_EQ(ParseDriveRoots(ini), (DriveMap::Roots{
                                      {'D', "/srv/firebird/backup"}, {'E', "/mnt/e"}, {'G', ""}}));
  EXPECT_THAT(ParseDriveRoots(IniFile()), IsEmpty());
}

TEST(SettingsTest, ServerSettingsDefaultToThePlainListenerOnEveryAddressAndNoTls) {
  TServerSettings none = ParseServerSettings(IniFile(), "/etc/vantry");
  EXPECT_EQ(none.listen_address, "0.0.0.0");
  EXPECT_EQ(none.tls_port, 0);
  EXPECT_FALSE(none.HasCertificate());

  TServerSettings s = ParseServerSettings(
      IniFile::Parse("[Vantry]\nListenAddress=127.0.0.1\n[TLS]\nPort=8091\n"
                     "CertificateFile=tls/server.crt\nKeyFile=/k/server.key\n"
                     "ClientCAFile=ca.crt\nAllowedClientNames=operator, srv2\nMinVersion=1.2\n"
                     "ListenAddress=10.0.0.1\n"),
      "/etc/vantry");
  EXPECT_EQ(s.listen_address, "127.0.0.1");
  EXPECT_EQ(s.tls_port, 8091);
  EXPECT_EQ(s.tls_listen_address, "10.0.0.1");
  EXPECT_EQ(s.tls.certificate_file, "/etc/vantry/tls/server.crt");
  EXPECT_EQ(s.tls.key_file, "/k/server.key");
  EXPECT_EQ(s.tls.ca_file, "/etc/vantry/ca.crt");
  EXPECT_THAT(s.tls.allowed_peer_names, ElementsAre("operator", "srv2"));
  EXPECT_TRUE(s.tls.allow_tls12);

  // Values that are no address, no port or no known version keep their defaults.
  TServerSettings bad = ParseServerSettings(
      IniFile::Parse("[Vantry]\nListenAddress=localhost\n[TLS]\nPort=70000\nMinVersion=1.0\n"),
      "/etc/vantry");
  EXPECT_EQ(bad.listen_address, "0.0.0.0");
  EXPECT_EQ(bad.tls_port, 0);
  EXPECT_FALSE(bad.tls.allow_tls12);
}

TEST(SettingsTest, RestrictTargetsIsOffUnlessSet) {
  EXPECT_FALSE(ParseSettings(IniFile(), kExecutableDir).settings.RestrictTargets);
  EXPECT_TRUE(ParseSettings(IniFile::Parse("[Vantry]\nRestrictTargets=1\n"), kExecutableDir)
                  .settings.RestrictTargets);
}

}  // namespace
}  // namespace vantry
