// Backup transfer between two real vantryd: a caller asks the sender to push a file to the
// receiver, which assembles it from part files; the content is compared by hash, and the
// failures reach the caller with the classes and texts a remote caller sees.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/socket.h"
#include "platform/temp_dir.h"
#include "remoting/ro_exception.h"
#include "tests/running_service.h"

namespace vantry::e2e {
namespace {

using ::testing::IsEmpty;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr char kPrefix[] = "An exception was raised on the server: ";

// FNV-1a, 64 bits: enough to tell two multi-megabyte contents apart.
uint64_t Hash(const std::string& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A vantryd whose drive D is a directory of its own.
struct Instance {
  Instance() {
    std::ofstream(home.path() + "/Vantry.ini", std::ios::binary)
        << "[Drives]\r\nD=" << data.path() << "\r\n";
    service = std::make_unique<RunningService>(home.path());
  }
  std::string Host(const std::string& relative) const { return data.path() + "/" + relative; }

  TempDir home;
  TempDir data;
  std::unique_ptr<RunningService> service;
};

class BackupTransferTest : public ::testing::Test {
 protected:
  BackupTransferTest() : caller_(sender_.service->port()) {}

  std::string ReceiverAddress() const {
    return "127.0.0.1:" + std::to_string(receiver_.service->port());
  }
  std::string WriteSource(const std::string& name, size_t size) {
    std::string bytes(size, '\0');
    std::mt19937_64 random(size);
    for (char& c : bytes) c = static_cast<char>(random());
    std::filesystem::create_directories(sender_.Host("src"));
    std::ofstream(sender_.Host("src/" + name), std::ios::binary) << bytes;
    return bytes;
  }
  std::vector<std::string> ReceiverEntries(const std::string& relative_dir) const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(receiver_.Host(relative_dir))) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }

  VantryLibraryRegistration registrations_;
  Instance sender_;
  Instance receiver_;
  Caller caller_;
};

TEST_F(BackupTransferTest, SendBackupAssemblesTheFileOnTheOtherInstance) {
  // Five full chunks and a short one; the target's directory does not exist yet.
  std::string content = WriteSource("db.fbk", 5 * 1048576 + 12345);
  caller_.service().SendBackup("D:\\src\\db.fbk", ReceiverAddress(), "D:\\in\\new\\db.fbk");
  EXPECT_EQ(Hash(ReadAll(receiver_.Host("in/new/db.fbk"))), Hash(content));
  EXPECT_THAT(ReceiverEntries("in/new"), testing::ElementsAre("db.fbk"));
  EXPECT_EQ(Hash(ReadAll(sender_.Host("src/db.fbk"))), Hash(content));

  // A second push to the same name finds the final file there: the assertion comes back through
  // both instances, and the complete data waits in the part file.
  EXPECT_THAT(
      [&] {
        caller_.service().SendBackup("D:\\src\\db.fbk", ReceiverAddress(), "D:\\in\\new\\db.fbk");
      },
      ThrowsMessage<EROUnregisteredServerException>(
          StrEq(std::string(kPrefix) + kPrefix +
                "Backup File 'D:\\in\\new\\db.fbk' already exists, cannot replace! "
                "(VantryService_Impl, line 355)")));
  EXPECT_EQ(Hash(ReadAll(receiver_.Host("in/new/db.fbk.l5255225.part_0"))), Hash(content));
}

TEST_F(BackupTransferTest, EmptyAndMissingSourcesSendNothing) {
  WriteSource("empty.fbk", 0);
  caller_.service().SendBackup("D:\\src\\empty.fbk", ReceiverAddress(), "D:\\in\\empty.fbk");
  caller_.service().SendBackup("D:\\src\\none.fbk", ReceiverAddress(), "D:\\in\\none.fbk");
  EXPECT_FALSE(std::filesystem::exists(receiver_.Host("in")));
}

TEST_F(BackupTransferTest, FailuresOnTheWayReachTheCaller) {
  WriteSource("db.fbk", 1000);
  Socket unused = Socket::Create();
  unused.Bind("127.0.0.1", 0);  // bound, never listening
  struct Case {
    std::string target_server;
    std::string target_file;
    std::string message;  // after the prefix
  };
  const Case kCases[] = {
      {"", "D:\\in\\db.fbk", ".Host must be set."},
      {"127.0.0.1:" + std::to_string(unused.LocalPort()), "D:\\in\\db.fbk",
       "Socket Error # 10061\r\nConnection refused."},
      // The receiver's own failure, passed on by the sender.
      {ReceiverAddress(), "db.fbk", std::string(kPrefix) + "Unable to create directory"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.target_server);
    EXPECT_THAT(
        [&] { caller_.service().SendBackup("D:\\src\\db.fbk", c.target_server, c.target_file); },
        ThrowsMessage<EROException>(StrEq(kPrefix + c.message)));
  }
  EXPECT_FALSE(std::filesystem::exists(receiver_.Host("in")));
}

}  // namespace
}  // namespace vantry::e2e
