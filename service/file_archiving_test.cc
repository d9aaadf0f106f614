#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/testing/fake_file_system.h"
#include "service/VantryService_Impl.h"
#include "service/testing/fake_vantry_host.h"
#include "zip/testing/zip_test_helpers.h"

namespace vantry {
namespace {

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

class FileArchivingTest : public testing::Test {
 protected:
  std::vector<std::string> Names(const std::string& pattern) {
    std::vector<std::string> names;
    for (const FileEntry& e : fs_.FindFiles(pattern)) {
      if (e.name != "." && e.name != "..") names.push_back(e.name);
    }
    return names;
  }
  std::string Host(const std::string& relative) { return fs_.HostRoot() + "/" + relative; }
  // The stored names of an archive, as Python's zipfile reads them.
  std::string Listing(const std::string& relative) {
    std::string command =
        "python3 -c 'import sys, zipfile; "
        "print(\",\".join(zipfile.ZipFile(sys.argv[1]).namelist()))' '" +
        Host(relative) + "'";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof(buffer), pipe)) out.append(buffer, n);
    ::pclose(pipe);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  FakeFileSystem fs_;
  FakeVantryHost host_;
  FixedClock clock_{45000.5};
  TVantryService service_{fs_, host_, clock_};
};

TEST_F(FileArchivingTest, ReplacesTheFileByItsArchive) {
  fs_.WriteFile("T:\\Backups\\db.fbk", std::string(100000, 'x'));
  service_.ArchiveFile("T:\\Backups\\db.fbk");
  EXPECT_THAT(Names("T:\\Backups\\*"), ElementsAre("db.zip"));
  EXPECT_EQ(Listing("Backups/db.zip"), "Backups/db.fbk");
  ExpectArchiveAccepted(Host("Backups/db.zip"));
  EXPECT_EQ(host_.activity[THostActivity::kBytesArchived], 100000);
}

TEST_F(FileArchivingTest, ArchiveNamesReplaceOnlyARealExtension) {
  fs_.WriteFile("T:\\Old.set\\db", "no extension");
  service_.ArchiveFile("T:\\Old.set\\db");
  EXPECT_THAT(Names("T:\\Old.set\\*"), ElementsAre("db.zip"));
  EXPECT_EQ(Listing("Old.set/db.zip"), "Old.set/db");
}

TEST_F(FileArchivingTest, TwoBackupsOfOneDatabaseShareOneArchive) {
  fs_.WriteFile("T:\\B\\db.fbk", "first");
  fs_.WriteFile("T:\\B\\db.gbk", "second");
  service_.ArchiveFile("T:\\B\\db.fbk");
  service_.ArchiveFile("T:\\B\\db.gbk");
  EXPECT_THAT(Names("T:\\B\\*"), ElementsAre("db.zip"));
  EXPECT_EQ(Listing("B/db.zip"), "B/db.fbk,B/db.gbk");
  ExpectArchiveAccepted(Host("B/db.zip"));
}

TEST_F(FileArchivingTest, AFileNotAddedStaysAndTheCallFails) {
  fs_.WriteFile("T:\\B\\db.fbk", "first");
  service_.ArchiveFile("T:\\B\\db.fbk");
  std::string archive = fs_.ReadFile("T:\\B\\db.zip");
  fs_.WriteFile("T:\\B\\db.fbk", "again");
  EXPECT_THAT([&] { service_.ArchiveFile("T:\\B\\db.fbk"); },
              ThrowsMessage<Exception>(StrEq(
                  "File \"T:\\B\\db.fbk\" was not added to archive \"T:\\B\\db.zip\": the archive "
                  "already holds an entry named \"B/db.fbk\"")));
  EXPECT_THAT([&] { service_.ArchiveFile("T:\\B\\db.zip"); },
              ThrowsMessage<Exception>(StrEq(
                  "File \"T:\\B\\db.zip\" was not added to archive \"T:\\B\\db.zip\": it is the "
                  "archive file itself")));
  EXPECT_THAT(Names("T:\\B\\*"), ElementsAre("db.fbk", "db.zip"));
  EXPECT_TRUE(fs_.ReadFile("T:\\B\\db.zip") == archive);
}

TEST_F(FileArchivingTest, MissingFilesAndForeignArchivesFail) {
  EXPECT_THAT([&] { service_.ArchiveFile("T:\\B\\none.fbk"); },
              ThrowsMessage<Exception>(StrEq("File \"T:\\B\\none.fbk\" does not exist")));
  fs_.WriteFile("T:\\B\\db.zip", "a text file, not an archive");
  fs_.WriteFile("T:\\B\\db.fbk", "data");
  EXPECT_THAT([&] { service_.ArchiveFile("T:\\B\\db.fbk"); },
              ThrowsMessage<Exception>(StrEq("Unhandled Archive Type")));
  EXPECT_THAT(Names("T:\\B\\*"), ElementsAre("db.fbk", "db.zip"));
  EXPECT_EQ(fs_.ReadFile("T:\\B\\db.zip"), "a text file, not an archive");
}

}  // namespace
}  // namespace vantry
