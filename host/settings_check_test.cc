#include "host/settings_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/settings.h"
#include "host/settings_keys.h"

namespace vantry {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> Check(const std::string& ini_text,
                               std::optional<std::string> allow_list = std::nullopt,
                               std::string home = "/home") {
  IniFile ini = IniFile::Parse(ini_text);
  TConfigurationToCheck config;
  config.ini = &ini;
  config.allowed_source_ips = std::move(allow_list);
  config.home_dir = std::move(home);
  config.directory_exists = [](const std::string& dir) { return dir == "/home" || dir == "/srv"; };
  return CheckConfiguration(config);
}

TEST(SettingsCheckTest, TheShippedKindsOfValueAreQuietWhenReadable) {
  EXPECT_THAT(Check("[vantry]\nallowedbackups=0x10\nFBIsClassic=0\nDefaultDeleteStrategy=moderate\n"
                    "ListenAddress=127.0.0.1\nBaseDefaultDirectory=D:\\\n"
                    "[TLS]\nPort=8091\nMinVersion=1.2\n[Metrics]\nPort=9690\nDatabases=a.fdb,b.fdb\n"
                    "[Drives]\nD=/srv\nZ=\n",
                    "# comment\n127.0.0.1\n10.0.0.5\n"),
              IsEmpty());
}

TEST(SettingsCheckTest, EachFindingIsOneLine) {
  struct Case {
    std::string ini;
    std::string warning;
  };
  const Case cases[] = {
      {"[Vantry]\nAllowedBackups=two\n",
       "Vantry.ini: [Vantry] AllowedBackups=two is not an integer; the default is used"},
      {"[Migration]\nMigrateAllDatabases=true\n",
       "Vantry.ini: [Migration] MigrateAllDatabases=true is not an integer (0 is off, 1 is on); "
       "the default is used"},
      {"[Vantry]\nDefaultDeleteStrategy=sometimes\n",
       "Vantry.ini: [Vantry] DefaultDeleteStrategy=sometimes is not Careful, Moderate or "
       "Aggressive; callers are answered Careful"},
      {"[Vantry]\nMaxBackupMinutes=5\n", "Vantry.ini: unknown key MAXBACKUPMINUTES in [VANTRY]; ignored"},
      {"[Vantri]\nAllowedBackups=2\n", "Vantry.ini: unknown section [VANTRI]; ignored"},
      {"[TLS]\nPort=70000\n",
       "Vantry.ini: [TLS] Port=70000 is not a port from 0 to 65535; the listener stays off"},
      {"[Metrics]\nListenAddress=localhost\n",
       "Vantry.ini: [Metrics] ListenAddress=localhost is not a dotted IPv4 address; the default "
       "address is used"},
      {"[TLS]\nMinVersion=1.1\n", "Vantry.ini: [TLS] MinVersion=1.1 is neither 1.2 nor 1.3; 1.3 is used"},
      {"[Drives]\nD=backup\n",
       "Vantry.ini: [Drives] D=backup is a relative directory; the drive stays unmapped"},
      {"[Drives]\nD=/missing\n", "Vantry.ini: [Drives] D=/missing: the directory does not exist"},
      {"[Drives]\nDD=/srv\n", "Vantry.ini: [Drives] DD is not a drive letter; ignored"},
  };
  for (const Case& c : cases) {
    EXPECT_THAT(Check(c.ini), ElementsAre(c.warning)) << c.ini;
  }
}

TEST(SettingsCheckTest, AllowListEntriesThatNoPeerAddressCanEqual) {
  EXPECT_THAT(Check("", "10.0.0.5 \n127.0.0.0/8\nhost.example\n127.0.0.1\n#10.0.0.7/8\n"),
              ElementsAre(
                  "AllowedSourceIPs.txt: \"10.0.0.5 \" is not a dotted IPv4 address (no blanks, "
                  "ranges or names); no caller matches it",
                  "AllowedSourceIPs.txt: \"127.0.0.0/8\" is not a dotted IPv4 address (no blanks, "
                  "ranges or names); no caller matches it",
                  "AllowedSourceIPs.txt: \"host.example\" is not a dotted IPv4 address (no "
                  "blanks, ranges or names); no caller matches it"));
}

TEST(SettingsCheckTest, AMissingHomeDirectory) {
  EXPECT_THAT(Check("", std::nullopt, "/nowhere"),
              ElementsAre("home directory /nowhere does not exist"));
}

// The readers look every key up in the table whether or not the file has it, so one reading
// proves that the table holds every key they read (one missing from it throws).
TEST(SettingsCheckTest, EveryKeyTheReadersReadIsInTheTable) {
  EXPECT_NO_THROW(ParseSettings(IniFile(), "Z:\\"));
  EXPECT_NO_THROW(ParseServerSettings(IniFile(), "/home"));
  EXPECT_EQ(FindSettingKey("vantry", "DEFAULTBACKUPPATH")->kind, SettingKind::kText);
  EXPECT_EQ(FindSettingKey("Vantry", "NoSuchKey"), nullptr);
}

}  // namespace
}  // namespace vantry
