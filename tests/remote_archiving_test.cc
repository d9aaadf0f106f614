// ArchiveFile called remotely against the real vantryd: the archive beside the file, the file
// gone only once the archive holds it, every failure with the text the caller receives, and the
// archives accepted by the standard tools.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/temp_dir.h"
#include "tests/running_service.h"
#include "zip/testing/zip_test_helpers.h"

namespace vantry::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr char kPrefix[] = "An exception was raised on the server: ";

class RemoteArchivingTest : public ::testing::Test {
 protected:
  RemoteArchivingTest() {
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary)
        << "[Drives]\r\nD=" << data_.path() << "\r\n";
    service_ = std::make_unique<RunningService>(home_.path());
    caller_ = std::make_unique<Caller>(service_->port());
  }

  std::string HostPath(const std::string& relative) const { return data_.path() + "/" + relative; }
  void WriteHostFile(const std::string& relative, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(HostPath(relative)).parent_path());
    std::ofstream(HostPath(relative), std::ios::binary) << content;
  }
  std::string ReadHostFile(const std::string& relative) const {
    std::ifstream in(HostPath(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Names(const std::string& relative_dir) const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(HostPath(relative_dir))) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  VantryLibraryRegistration registrations_;
  TempDir home_;
  TempDir data_;
  std::unique_ptr<RunningService> service_;
  std::unique_ptr<Caller> caller_;
};

TEST_F(RemoteArchivingTest, BackupsGoIntoOneArchiveBesideThem) {
  std::string big;
  for (int i = 0; big.size() < 5'000'000; ++i) big += "page " + std::to_string(i % 5000) + "\n";
  WriteHostFile("Backups/db.fbk", big);
  WriteHostFile("Backups/db.gbk", "second backup");
  WriteHostFile("Old.set/db", "no extension");
  IVantryService& service = caller_->service();
  service.ArchiveFile("D:\\Backups\\db.fbk");
  service.ArchiveFile("D:\\Backups\\db.gbk");
  service.ArchiveFile("D:\\Old.set\\db");
  EXPECT_THAT(Names("Backups"), ElementsAre("db.zip"));
  EXPECT_THAT(Names("Old.set"), ElementsAre("db.zip"));
  ExpectArchiveAccepted(HostPath("Backups/db.zip"));
  ExpectArchiveAccepted(HostPath("Old.set/db.zip"));
  EXPECT_EQ(std::system(("unzip -p '" + HostPath("Backups/db.zip") + "' Backups/db.fbk > '" +
                         HostPath("out") + "'").c_str()), 0);
  EXPECT_TRUE(ReadHostFile("out") == big);
}

TEST_F(RemoteArchivingTest, FailuresReachTheCallerAndLeaveEverythingInPlace) {
  WriteHostFile("B/db.fbk", "first");
  IVantryService& service = caller_->service();
  service.ArchiveFile("D:\\B\\db.fbk");
  std::string archive = ReadHostFile("B/db.zip");
  WriteHostFile("B/db.fbk", "again");
  WriteHostFile("C/db.zip", "not an archive");
  WriteHostFile("C/db.fbk", "data");
  struct Case { const char* file; std::string text; };
  for (const Case& c : std::vector<Case>{
           {"D:\\B\\none.fbk", "File \"D:\\B\\none.fbk\" does not exist"},
           {"D:\\B\\db.fbk", "File \"D:\\B\\db.fbk\" was not added to archive \"D:\\B\\db.zip\": "
                             "the archive already holds an entry named \"B/db.fbk\""},
           {"D:\\B\\db.zip", "File \"D:\\B\\db.zip\" was not added to archive \"D:\\B\\db.zip\": "
                             "it is the archive file itself"},
           {"D:\\C\\db.fbk", "Unhandled Archive Type"},
       }) {
    EXPECT_THAT([&] { service.ArchiveFile(c.file); },
                ThrowsMessage<Exception>(StrEq(kPrefix + c.text)))
        << c.file;
  }
  EXPECT_THAT(Names("B"), ElementsAre("db.fbk", "db.zip"));
  EXPECT_THAT(Names("C"), ElementsAre("db.fbk", "db.zip"));
  EXPECT_TRUE(ReadHostFile("B/db.zip") == archive);
  EXPECT_EQ(ReadHostFile("C/db.zip"), "not an archive");
}

}  // namespace
}  // namespace vantry::e2e
