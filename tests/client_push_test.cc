// The client's push against the real vantryd: a file of several chunks arrives whole, --resume
// (which ReceiveBackup cannot verify) starts again at offset 0, the fast transfer is used where
// offered, and a taken name fails clearly. Errors arrive as --json documents on stdout.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "platform/service_process.h"
#include "platform/temp_dir.h"
#include "tests/running_service.h"

namespace vantry::e2e {
namespace {

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

class ClientPushTest : public ::testing::Test {
 protected:
  ClientPushTest() {
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary)
        << "[Drives]\r\nT=" << data_.path() << "\r\n";
    service_ = std::make_unique<RunningService>(home_.path());
    server_ = "127.0.0.1:" + std::to_string(service_->port());
  }
  struct Run {
    int exit_code;
    nlohmann::json json;
    std::string err;
  };
  Run Client(std::vector<std::string> args) {
    args.insert(args.begin(), {"--server", server_, "--json"});
    ServiceProcess client(VANTRY_PATH, args);
    int code = client.Wait();
    std::string out = client.ReadRestOfOutput();
    return {code, out.empty() ? nlohmann::json() : nlohmann::json::parse(out),
            client.ReadRestOfErrors()};
  }
  std::string WriteLocal(const std::string& name, const std::string& content) {
    std::string path = local_.path() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::optional<std::string> ReadData(const std::string& relative) {
    std::string path = data_.path() + "/" + relative;
    if (!std::filesystem::is_regular_file(path)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TempDir home_, data_, local_;
  std::unique_ptr<RunningService> service_;
  std::string server_;
};

TEST_F(ClientPushTest, MultiChunkFileArrivesWhole) {
  const std::string content = RandomBytes(3 * 1048576 + 12345, 1);
  Run run = Client({"push", "--progress=never", WriteLocal("db.fbk", content), "T:\\in\\db.fbk"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.json, nlohmann::json::parse(R"({"Total": 3158073, "Path": "ReceiveBackup", "Verified": 0, "Chunks": 4})"));
  EXPECT_EQ(ReadData("in/db.fbk"), content);
  EXPECT_FALSE(std::filesystem::exists(data_.path() + "/in/db.fbk.l3158073.part_0"));
}

// A part on the receiver may hold another file of the same size: ReceiveBackup cannot show what
// it holds, so --resume starts again at offset 0, says so, and the result is this file, whether
// the part was broken off after a chunk or complete.
TEST_F(ClientPushTest, ResumeOverReceiveBackupStartsAgainAtZeroAndSaysSo) {
  const std::string content = RandomBytes(2 * 1048576 + 7, 2);
  const std::string other = RandomBytes(content.size(), 7);
  const std::string local = WriteLocal("db.fbk", content);
  const std::string total = std::to_string(content.size());
  for (size_t part_size : {size_t{1048576}, other.size()}) {
    std::string name = "db" + std::to_string(part_size) + ".fbk";
    std::ofstream(data_.path() + "/" + name + ".l" + total + ".part_0", std::ios::binary)
        << other.substr(0, part_size);
    Run resumed = Client({"push", "--resume", local, "T:\\" + name});
    ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
    EXPECT_THAT(resumed.err, testing::HasSubstr("cannot be verified over ReceiveBackup"));
    EXPECT_EQ(resumed.json["Path"], "ReceiveBackup");
    EXPECT_EQ(resumed.json["Chunks"], 3);
    EXPECT_EQ(ReadData(name), content) << part_size;
    EXPECT_EQ(ReadData(name + ".l" + total + ".part_0"), std::nullopt);
  }
}

// An instance with the fast transfer on gets the file over it; a file of another content of the
// same size then goes whole again (nothing of the first is taken as verified), and `parts`
// finds no file left behind, and a push onto the file is refused. --compat keeps to ReceiveBackup.
TEST_F(ClientPushTest, PushUsesTheFastTransferWhereOfferedAndCompatKeepsToReceiveBackup) {
  service_.reset();
  std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary)
      << "[Drives]\r\nT=" << data_.path() << "\r\n[Transfer]\r\nFastTransfer=1\r\n";
  service_ = std::make_unique<RunningService>(home_.path());
  server_ = "127.0.0.1:" + std::to_string(service_->port());
  const std::string content = RandomBytes(5 * 1048576 + 3, 4);
  Run fast = Client({"push", WriteLocal("a.fbk", content), "T:\\a.fbk"});
  ASSERT_EQ(fast.exit_code, 0) << fast.err;
  EXPECT_EQ(fast.json["Path"], "fast");
  EXPECT_EQ(fast.json["Chunks"], 3);
  EXPECT_EQ(ReadData("a.fbk"), content);
  // The receiver's refusal reads as the service's own text, without the runtime's prefix.
  Run again = Client({"push", WriteLocal("a2.fbk", content), "T:\\a.fbk"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_EQ(again.json["error"]["class"], "EAssertionFailed");
  EXPECT_THAT(again.json["error"]["message"].get<std::string>(),
              testing::StartsWith("Backup File 'T:\\a.fbk' already exists, cannot replace!"));

  Run compat = Client({"push", "--compat", WriteLocal("b.fbk", content), "T:\\b.fbk"});
  ASSERT_EQ(compat.exit_code, 0) << compat.err;
  EXPECT_EQ(compat.json["Path"], "ReceiveBackup");
  EXPECT_EQ(compat.json["Chunks"], 6);
  EXPECT_EQ(ReadData("b.fbk"), content);

  Run parts = Client({"parts", data_.path()});
  ASSERT_EQ(parts.exit_code, 0) << parts.err;
  EXPECT_EQ(parts.json, nlohmann::json::array());
}

TEST_F(ClientPushTest, ExistingTargetFailsWithTheReceiversAssertion) {
  const std::string local = WriteLocal("db.fbk", "12345");
  std::ofstream(data_.path() + "/db.fbk") << "old";
  Run run = Client({"push", local, "T:\\db.fbk"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.json["error"]["class"], "EAssertionFailed");
  EXPECT_THAT(run.json["error"]["message"].get<std::string>(),
              testing::HasSubstr("Backup File 'T:\\db.fbk' already exists, cannot replace!"));
  EXPECT_EQ(ReadData("db.fbk"), "old");
}

}  // namespace
}  // namespace vantry::e2e
