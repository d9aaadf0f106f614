#include "contract/contract_document.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "remoting/service_description.h"

namespace vantry {
namespace {

const std::vector<std::string> kOperations = {
    "CopyFile",
    "GetVantryInstanceIdentifier",
    "FileExists",
    "DeleteFile",
    "RenameFile",
    "MoveFile",
    "ArchiveFile",
    "CreateDirectory",
    "MakeSpaceOnDiskForBackup",
    "GetFreeDiskSpace",
    "GetRequiredDiskSpace",
    "GetBackupFileNames",
    "GetFileSize",
    "GetDefaultBackupPath",
    "GetDefaultDatabasePath",
    "GetAlternateBackupPathForRestoreFromAnotherServer",
    "GetAlternateRestorePathForRestoreFromAnotherServer",
    "ReceiveBackup",
    "SendBackup",
    "GetIsFBClassicServer",
    "GetDefaultDeleteStrategy",
    "GetOtherTargetServers",
    "RequestBackupPermission",
    "RequestManualBackupPermission",
    "BackupPermissionGranted",
    "RequestBackupPermissionCompleted",
    "MigrateToServer",
    "MigrateAllDatabases",
    "GetBackupPeriodEndHour",
};

std::vector<std::string> OperationNames(std::string_view xml) {
  pugi::xml_document document;
  EXPECT_TRUE(document.load_buffer(xml.data(), xml.size()));
  std::vector<std::string> names;
  for (pugi::xpath_node node : document.select_nodes("/Library/Services/Service/Interfaces/"
                                                     "Interface/Operations/Operation")) {
    names.push_back(node.node().attribute("Name").value());
  }
  return names;
}

TEST(ContractDocumentTest, StoredBytesAreUtf8WithCrlfLines) {
  std::string_view stored = StoredContractDocument();
  EXPECT_TRUE(
      stored.starts_with("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Library "
                         "Name=\"VantryLibrary\" UID=\"{AF611680-6565-4272-9889-"
                         "3FC00EEB3933}\" Version=\"3.0\">\r\n"));
  EXPECT_TRUE(stored.ends_with("</Library>\r\n"));
  for (size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '\n') {
      ASSERT_EQ('\r', stored[i - 1]) << "at " << i;
    }
  }
}

TEST(ContractDocumentTest, ListsTheOperationsInContractOrder) {
  EXPECT_EQ(kOperations, OperationNames(StoredContractDocument()));
}

TEST(ContractDocumentTest, ServedDocumentKeepsNamesAndOrder) {
  SetServiceDescription(StoredContractDocument());
  TROBinaryMemoryStream served;
  WriteServiceDescription(served);
  SetServiceDescription("");
  std::string text = served.ToString();
  EXPECT_EQ(kOperations, OperationNames(text));
  EXPECT_THAT(text, testing::Not(testing::HasSubstr("MigrateUsingClone")));
  EXPECT_THAT(
      text, testing::HasSubstr("<Parameter Name=\"Result\" DataType=\"FileList\" Flag=\"Result\""));
  EXPECT_THAT(text, testing::HasSubstr("<EnumValue Name=\"vantrydsAgressive\""));
  EXPECT_THAT(text, testing::HasSubstr("Service VantryService. This service has been "
                                       "automatically generated using the contract template "
                                       "you can find in the Templates directory."));
}

}  // namespace
}  // namespace vantry
