#include "contract/contract_document.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "contract/vantry_operations.h"
#include "remoting/service_description.h"

namespace vantry {
namespace {

// One operation as the contract names it: its name and its In and Out parameters in order.
struct OperationShape {
  std::string name;
  std::vector<std::string> params;
  friend bool operator==(const OperationShape&, const OperationShape&) = default;
  friend std::ostream& operator<<(std::ostream& out, const OperationShape& op) {
    out << op.name << "(";
    for (const std::string& param : op.params) out << param << " ";
    return out << ")";
  }
};

// The one operation the service implements that the stored document has never listed.
constexpr char kKnownAbsence[] = "MigrateUsingClone";

// The operation table that generates the invoker and the proxy, less the known absence.
std::vector<OperationShape> DeclaredOperations() {
  std::vector<OperationShape> ops;
  std::apply(
      [&](const auto&... op) {
        (ops.push_back({op.name, std::vector<std::string>(op.params.begin(), op.params.end())}),
         ...);
      },
      kVantryOperations);
  EXPECT_EQ(1,
            std::erase_if(ops, [](const OperationShape& op) { return op.name == kKnownAbsence; }));
  return ops;
}

std::vector<OperationShape> DocumentOperations(std::string_view xml) {
  pugi::xml_document document;
  EXPECT_TRUE(document.load_buffer(xml.data(), xml.size()));
  std::vector<OperationShape> ops;
  for (pugi::xpath_node node : document.select_nodes("/Library/Services/Service/Interfaces/"
                                                     "Interface/Operations/Operation")) {
    OperationShape op{node.node().attribute("Name").value(), {}};
    for (pugi::xml_node param : node.node().child("Parameters").children("Parameter")) {
      if (std::string_view(param.attribute("Flag").value()) != "Result") {
        op.params.push_back(param.attribute("Name").value());
      }
    }
    ops.push_back(std::move(op));
  }
  return ops;
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

TEST(ContractDocumentTest, ListsTheDeclaredOperationsAndParametersInContractOrder) {
  EXPECT_EQ(DeclaredOperations(), DocumentOperations(StoredContractDocument()));
}

TEST(ContractDocumentTest, ServedDocumentKeepsNamesAndOrder) {
  SetServiceDescription(StoredContractDocument());
  TROBinaryMemoryStream served;
  WriteServiceDescription(served);
  SetServiceDescription("");
  std::string text = served.ToString();
  EXPECT_EQ(DeclaredOperations(), DocumentOperations(text));
  EXPECT_THAT(text, testing::Not(testing::HasSubstr(kKnownAbsence)));
  EXPECT_THAT(
      text, testing::HasSubstr("<Parameter Name=\"Result\" DataType=\"FileList\" Flag=\"Result\""));
  EXPECT_THAT(text, testing::HasSubstr("<EnumValue Name=\"vantrydsAgressive\""));
  EXPECT_THAT(text, testing::HasSubstr("Service VantryService. This service has been "
                                       "automatically generated using the contract template "
                                       "you can find in the Templates directory."));
}

}  // namespace
}  // namespace vantry
