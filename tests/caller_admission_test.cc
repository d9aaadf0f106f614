// The real vantryd as a TCP service: which callers it admits by "AllowedSourceIPs.txt" (read at
// start and at continue, not in between), its answers to a probe and to a metadata request,
// and its port being free again once it has stopped. Callers from 127.0.0.2 are made by binding
// the client socket to that address.
#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file_system.h"
#include "platform/temp_dir.h"
#include "tests/running_service.h"

namespace vantry::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

class CallerAdmissionTest : public ::testing::Test {
 protected:
  void WriteAllowList(const std::string& text) {
    std::ofstream(home_.path() + "/AllowedSourceIPs.txt", std::ios::binary) << text;
  }
  // Whether a remote call from 127.0.0.1 gets through (a refused one sees the connection close).
  static bool CallFromLoopback(int port) {
    Caller caller(port);
    try {
      return !caller.service().FileExists("Z:\\no-such-file");
    } catch (const ENetError&) {
      // Closed in order, or reset when our request was still unread: either way refused.
      return false;
    }
  }

  VantryLibraryRegistration registrations_;
  TempDir home_;
};

TEST_F(CallerAdmissionTest, WithoutAnAddressEveryCallerIsAdmitted) {
  for (const char* file : {"", "# nobody yet\r\n#127.0.0.1\r\n"}) {
    SCOPED_TRACE(file);
    if (*file) WriteAllowList(file);
    RunningService service(home_.path());
    EXPECT_TRUE(CallFromLoopback(service.port()));
    EXPECT_EQ(ProbeFrom("127.0.0.2", service.port()), "PROBEDOK");
  }
}

TEST_F(CallerAdmissionTest, OnlyListedAddressesAreServedAndChangesWaitForContinue) {
  WriteAllowList("127.0.0.1\n");
  RunningService service(home_.path());
  EXPECT_TRUE(CallFromLoopback(service.port()));
  EXPECT_EQ(ProbeFrom("127.0.0.1", service.port()), "PROBEDOK");
  EXPECT_EQ(ProbeFrom("127.0.0.2", service.port()), kClosed);

  // A refused caller sees an orderly close before it has sent anything.
  Socket refused = Socket::Create();
  refused.Bind("127.0.0.2", 0);
  refused.Connect("127.0.0.1", service.port());
  ASSERT_TRUE(refused.WaitReadable(kLineTimeoutMs));
  char byte;
  EXPECT_EQ(refused.Receive(&byte, 1), 0u);

  // The file is read at continue, not before.
  WriteAllowList("127.0.0.2\n");
  EXPECT_EQ(ProbeFrom("127.0.0.2", service.port()), kClosed);
  service.Continue(SIGUSR2);
  // Three refusals of one address within the minute: one warning.
  EXPECT_EQ(std::count(service.warnings().begin(), service.warnings().end(),
                       "refused a caller from 127.0.0.2: not in AllowedSourceIPs.txt"),
            1);
  EXPECT_EQ(ProbeFrom("127.0.0.2", service.port()), "PROBEDOK");
  EXPECT_FALSE(CallFromLoopback(service.port()));

  // A reload of the running service re-reads it as well; without the file all are admitted.
  std::filesystem::remove(home_.path() + "/AllowedSourceIPs.txt");
  EXPECT_FALSE(CallFromLoopback(service.port()));
  service.Continue(SIGHUP);
  EXPECT_TRUE(CallFromLoopback(service.port()));
}

TEST_F(CallerAdmissionTest, UnreadableAllowListFailsTheStart) {
  std::filesystem::create_directory(home_.path() + "/AllowedSourceIPs.txt");
  {
    RunningService service(home_.path());  // a directory is no file: every caller admitted
    EXPECT_TRUE(CallFromLoopback(service.port()));
  }
  std::filesystem::remove(home_.path() + "/AllowedSourceIPs.txt");
  WriteAllowList("127.0.0.1\n");
  std::string path = "Z:" + home_.path() + "/AllowedSourceIPs.txt";
  for (char& c : path) c = c == '/' ? '\\' : c;
  // Held open sharing nothing, as another program holding it exclusively would.
  DriveMap drives;
  PosixFileSystem files(drives);
  std::unique_ptr<File> held =
      files.OpenFile(path, FileAccess::kRead, FileShare::kNone, FileDisposition::kOpenExisting);
  ServiceProcess process(VANTRYD_PATH, {"--home", home_.path(), "--port", "0", "--verbose"});
  EXPECT_EQ(process.Wait(), 1);
  EXPECT_EQ(process.ReadRestOfErrors(),
            "Service failed on start: Cannot open file \"" + path +
                "\". The process cannot access the file because it is being used by another "
                "process.\n");
}

TEST_F(CallerAdmissionTest, ProbeAndMetadataRequestsAreAnswered) {
  RunningService service(home_.path());
  Caller caller(service.port());
  EXPECT_EQ(caller.Exchange(kProbeRequest), "PROBEDOK");
  std::string contract = caller.Exchange("");
  EXPECT_THAT(contract, StartsWith("<?xml"));
  EXPECT_THAT(contract, HasSubstr("<Service Name=\"VantryService\""));
  EXPECT_THAT(contract, HasSubstr("GetBackupFileNames"));
}

TEST_F(CallerAdmissionTest, PortIsFreeAgainAfterTheServiceStopped) {
  int port = 0;
  {
    RunningService service(home_.path());
    port = service.port();
    service.Stop();
  }
  EXPECT_THAT([&] { Caller(port).service().FileExists("Z:\\x"); },
              ThrowsMessage<ESocketError>(StrEq("Socket Error # 10061\r\nConnection refused.")));
  Socket again = Socket::Create();
  again.SetReuseAddress(true);  // as any server does, tolerating closed connections in wait
  again.Bind("0.0.0.0", port);
  again.Listen(1);
}

}  // namespace
}  // namespace vantry::e2e
