// The client's push against the real vantryd: a file of several chunks arrives whole, a push
// interrupted after its first chunk continues with --resume from where the receiver stands, and
// --resume onto a complete part finishes it. Errors arrive as --json documents on stdout.
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
  EXPECT_EQ(run.json, nlohmann::json::parse(R"({"Total": 3158073, "ResumedAt": 0, "Chunks": 4})"));
  EXPECT_EQ(ReadData("in/db.fbk"), content);
  EXPECT_FALSE(std::filesystem::exists(data_.path() + "/in/db.fbk.l3158073.part_0"));
}

TEST_F(ClientPushTest, ResumeContinuesAfterTheFirstChunkAndPlainPushStartsAgain) {
  const std::string content = RandomBytes(2 * 1048576 + 7, 2);
  const std::string local = WriteLocal("db.fbk", content);
  const std::string total = std::to_string(content.size());
  // The first chunk alone, as a push broken off after one call leaves it.
  std::string first = WriteLocal("first", content.substr(0, 1048576));
  ASSERT_EQ(Client({"receive-chunk", "T:\\db.fbk", total, "0", first}).exit_code, 0);
  EXPECT_EQ(ReadData("db.fbk.l" + total + ".part_0")->size(), 1048576u);

  Run resumed = Client({"push", "--resume", local, "T:\\db.fbk"});
  ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
  EXPECT_EQ(resumed.json["ResumedAt"], 1048576);
  EXPECT_EQ(resumed.json["Chunks"], 2);
  EXPECT_EQ(ReadData("db.fbk"), content);

  // Without --resume the part is reset by the chunk at 0 and the whole file is sent again.
  ASSERT_EQ(Client({"receive-chunk", "T:\\again.fbk", total, "0", first}).exit_code, 0);
  Run plain = Client({"push", local, "T:\\again.fbk"});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_EQ(plain.json["ResumedAt"], 0);
  EXPECT_EQ(plain.json["Chunks"], 3);
  EXPECT_EQ(ReadData("again.fbk"), content);
}

// A part as long as the file is a push whose chunks all arrived but whose part could not take
// the final name. --resume onto it fails with the receiver's assertion while the name is taken
// and completes the file, sending no chunk twice, once it is free: it never reports success
// while there is no file.
TEST_F(ClientPushTest, ResumeOntoACompletePartCompletesTheFileOrFailsClearly) {
  const std::string content = RandomBytes(1048576 + 99, 3);
  const std::string local = WriteLocal("db.fbk", content);
  const std::string part = "db.fbk.l" + std::to_string(content.size()) + ".part_0";
  std::ofstream(data_.path() + "/db.fbk") << "old";
  ASSERT_EQ(Client({"push", local, "T:\\db.fbk"}).exit_code, 1);
  ASSERT_EQ(ReadData(part), content);

  Run taken = Client({"push", "--resume", local, "T:\\db.fbk"});
  EXPECT_EQ(taken.exit_code, 1);
  EXPECT_THAT(taken.json["error"]["message"].get<std::string>(),
              testing::HasSubstr("Backup File 'T:\\db.fbk' already exists, cannot replace!"));
  EXPECT_EQ(ReadData("db.fbk"), "old");
  EXPECT_EQ(ReadData(part), content);

  std::filesystem::remove(data_.path() + "/db.fbk");
  Run freed = Client({"push", "--resume", local, "T:\\db.fbk"});
  ASSERT_EQ(freed.exit_code, 0) << freed.err;
  EXPECT_EQ(freed.json["ResumedAt"], content.size());
  EXPECT_EQ(freed.json["Chunks"], 1);
  EXPECT_EQ(ReadData("db.fbk"), content);
  EXPECT_EQ(ReadData(part), std::nullopt);
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
