// The real vantryd with its TLS listener beside the plaintext one: certificates made with
// "vantry tls init" in a temporary directory, callers admitted only with a certificate of the
// configured CA whose name is allowed, bad input on the TLS port closed unserved, the allow-list
// swapped by a reload, SendBackup over TLS and RestrictTargets, the client's texts and exit
// codes, the plaintext listener's address, and a drive map that leaves callers one drive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/temp_dir.h"
#include "platform/tls_certificates.h"
#include "tests/running_service.h"

namespace vantry::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

struct VantryRun {
  int exit_code;
  std::string out;
  std::string err;
};

VantryRun RunVantry(const std::vector<std::string>& arguments) {
  ServiceProcess process(VANTRY_PATH, arguments);
  int code = process.Wait();
  return {code, process.ReadRestOfOutput(), process.ReadRestOfErrors()};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Everything the service sends on a connection until it closes it (an orderly close or a reset).
std::string ReadUntilClosed(Socket& socket) {
  std::string received;
  char buffer[4096];
  try {
    while (socket.WaitReadable(3 * kLineTimeoutMs)) {
      size_t n = socket.Receive(buffer, sizeof(buffer));
      if (n == 0) return received;
      received.append(buffer, n);
    }
    received += "(still open)";
  } catch (const ESocketError&) {
    // A reset is a close too.
  }
  return received;
}

class TlsServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certs_ = new TempDir;
    other_ = new TempDir;
    VantryRun init = RunVantry({"tls", "init", Certs(), "--name", "dbserver"});
    ASSERT_EQ(init.exit_code, 0) << init.err;
    tls_lines_ = init.out;
    ASSERT_EQ(RunVantry({"tls", "issue", Certs(), "second"}).exit_code, 0);
    ASSERT_EQ(RunVantry({"tls", "init", other_->path(), "--name", "elsewhere"}).exit_code, 0);
    // Expired an hour ago; the client's command has no way to make one, the library has.
    IssueCertificate(Cert("ca.crt"), Cert("ca.key"), Cert("expired.crt"), Cert("expired.key"),
                     "operator", {"operator"}, {.start = -7200, .lifetime = 3600});
  }
  static void TearDownTestSuite() {
    delete certs_;
    delete other_;
  }
  static std::string Certs() { return certs_->path(); }
  static std::string Cert(const std::string& name) { return Certs() + "/" + name; }

  // Vantry.ini with the [TLS] lines "tls init" printed (the port comes from the command line)
  // and `extra` lines after them.
  void WriteIni(const std::string& allowed_names, const std::string& extra = "") {
    std::string text = tls_lines_;
    size_t at = text.find("AllowedClientNames=");
    text = text.substr(0, at) + "AllowedClientNames=" + allowed_names + "\n" + extra;
    std::ofstream(home_.path() + "/Vantry.ini", std::ios::binary) << text;
  }
  RunningService Start() { return RunningService(home_.path(), {"--tls-port", "0"}); }

  static std::shared_ptr<const TlsContext> Client(const std::string& name,
                                                  const std::string& ca = Cert("ca.crt")) {
    return std::make_shared<TlsContext>(TlsRole::kClient,
                                        TlsConfig{.certificate_file = Cert(name + ".crt"),
                                                  .key_file = Cert(name + ".key"),
                                                  .ca_file = ca});
  }
  // The probe over TLS as `name`: the answer, or the error's text.
  static std::string TlsProbe(int port, const std::string& name) {
    Caller caller(Format("tls://localhost:%d", port), 0, Client(name));
    try {
      return caller.Exchange(kProbeRequest);
    } catch (const ENetError& e) {
      return e.what();
    }
  }
  // "vantry ping" over TLS with `arguments` for the certificate.
  static VantryRun VantryPing(int port, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--server", Format("tls://localhost:%d", port)});
    arguments.push_back("ping");
    return RunVantry(arguments);
  }

  VantryLibraryRegistration registrations_;
  TempDir home_;
  static TempDir* certs_;
  static TempDir* other_;
  static std::string tls_lines_;
};

TempDir* TlsServiceTest::certs_ = nullptr;
TempDir* TlsServiceTest::other_ = nullptr;
std::string TlsServiceTest::tls_lines_;

TEST_F(TlsServiceTest, InitPrintsTheLinesToPasteAndKeepsKeysPrivate) {
  EXPECT_THAT(tls_lines_, HasSubstr("\n[TLS]\nPort=8091\nCertificateFile=" + Cert("server.crt") +
                                    "\nKeyFile=" + Cert("server.key") + "\nClientCAFile=" +
                                    Cert("ca.crt") + "\nAllowedClientNames=operator\n"));
  for (const char* key : {"ca.key", "server.key", "operator.key", "second.key"}) {
    auto permissions = std::filesystem::status(Cert(key)).permissions();
    EXPECT_EQ(permissions, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << key;
  }
  VantryRun again = RunVantry({"tls", "init", Certs()});
  EXPECT_EQ(again.exit_code, 2);
  EXPECT_THAT(again.err, HasSubstr("holds a CA already"));
}

TEST_F(TlsServiceTest, WithoutTheFileThereIsNoTlsListener) {
  RunningService service(home_.path());
  EXPECT_EQ(service.tls_port(), 0);
  EXPECT_EQ(ProbeFrom("127.0.0.1", service.port()), "PROBEDOK");
}

TEST_F(TlsServiceTest, AGoodCertificateIsServedBesideThePlaintextListener) {
  WriteIni("operator");
  RunningService service = Start();
  ASSERT_GT(service.tls_port(), 0);
  EXPECT_EQ(TlsProbe(service.tls_port(), "operator"), "PROBEDOK");
  Caller caller(Format("tls://localhost:%d", service.tls_port()), 0, Client("operator"));
  EXPECT_FALSE(caller.service().FileExists("Z:\\no-such-file"));
  EXPECT_EQ(ProbeFrom("127.0.0.1", service.port()), "PROBEDOK");

  VantryRun ping = VantryPing(service.tls_port(), {"--cert", Cert("operator.crt"), "--key",
                                                   Cert("operator.key"), "--ca", Cert("ca.crt")});
  EXPECT_EQ(ping.exit_code, 0) << ping.err;
  EXPECT_THAT(ping.out, HasSubstr("PROBEDOK"));

  // The same from the client's settings file, with no option on the command line.
  TempDir user;
  std::filesystem::create_directories(user.path() + "/.config/vantry");
  std::ofstream(user.path() + "/.config/vantry/client.ini")
      << "# the operator's defaults\nserver=tls://localhost:" << service.tls_port()
      << "\ncert=" << Cert("operator.crt") << "\nkey=" << Cert("operator.key")
      << "\nca=" << Cert("ca.crt") << "\n";
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", user.path().c_str(), 1);
  VantryRun from_file = RunVantry({"ping"});
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(from_file.exit_code, 0) << from_file.err;
  EXPECT_THAT(from_file.out, HasSubstr("tls://localhost:"));
}

TEST_F(TlsServiceTest, RefusedCertificatesGetOneLineAndExitCode3) {
  WriteIni("operator");
  RunningService service = Start();
  const std::string ca = Cert("ca.crt");
  struct Case {
    std::string what;
    std::vector<std::string> arguments;
    std::string reason;
  };
  const Case cases[] = {
      {"no certificate", {"--ca", ca}, "no certificate"},
      {"another CA's",
       {"--cert", other_->path() + "/operator.crt", "--key", other_->path() + "/operator.key",
        "--ca", ca},
       "unknown CA"},
      {"expired",
       {"--cert", Cert("expired.crt"), "--key", Cert("expired.key"), "--ca", ca},
       "expired"},
      {"a name not on the list",
       {"--cert", Cert("second.crt"), "--key", Cert("second.key"), "--ca", ca},
       "name not allowed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VantryRun ping = VantryPing(service.tls_port(), c.arguments);
    EXPECT_EQ(ping.exit_code, 3);
    EXPECT_EQ(ping.err, Format("vantry: ping: cannot reach tls://localhost:%d: TLS handshake with "
                               "localhost:%d failed: the server refused this client's "
                               "certificate: %s\n",
                               service.tls_port(), service.tls_port(), c.reason));
    EXPECT_EQ(ping.out, "");
  }
  // The client checks the server too: a CA it does not trust, a name the certificate lacks.
  VantryRun unknown =
      VantryPing(service.tls_port(), {"--cert", Cert("operator.crt"), "--key", Cert("operator.key"),
                                      "--ca", other_->path() + "/ca.crt"});
  EXPECT_EQ(unknown.exit_code, 3);
  EXPECT_THAT(unknown.err, HasSubstr("the server's certificate was refused: unknown CA\n"));
  VantryRun usage = VantryPing(service.tls_port(), {});
  EXPECT_EQ(usage.exit_code, 2);
  EXPECT_THAT(usage.err, HasSubstr("needs --ca"));
}

TEST_F(TlsServiceTest, EachListenerRefusesTheOthersProtocol) {
  WriteIni("operator");
  RunningService service = Start();
  // A plaintext probe to the TLS port is never answered.
  Socket plain = Socket::Create();
  plain.Connect("127.0.0.1", service.tls_port());
  std::string frame = std::string("\0\0\0\5", 4) + kProbeRequest;
  plain.Send(frame.data(), frame.size());
  EXPECT_THAT(ReadUntilClosed(plain), Not(HasSubstr("PROBEDOK")));
  // TLS to the plaintext port: the frame reader waits for a payload that never comes, and the
  // handshake gives up at its time limit.
  VantryRun ping = VantryPing(service.port(), {"--cert", Cert("operator.crt"), "--key",
                                               Cert("operator.key"), "--ca", Cert("ca.crt")});
  EXPECT_EQ(ping.exit_code, 3);
  EXPECT_THAT(ping.err, HasSubstr("timed out"));
  EXPECT_EQ(ProbeFrom("127.0.0.1", service.port()), "PROBEDOK");
}

TEST_F(TlsServiceTest, BadInputOnTheTlsPortIsClosedUnserved) {
  WriteIni("operator");
  RunningService service = Start();
  std::mt19937 random(17);
  std::string garbage(2000, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  // A ClientHello record header announcing 512 bytes.
  const std::string header("\x16\x03\x01\x02\x00", 5);
  struct Case {
    std::string what;
    std::string bytes;
    bool then_close;
  };
  const Case cases[] = {
      {"garbage", garbage, false},
      {"a truncated handshake", header + garbage.substr(0, 100), true},
      {"a stalled handshake", header + garbage.substr(0, 100), false},
      {"a record header and silence", header, false},
  };
  // All at once, so the stalled ones share one wait for the handshake's time limit.
  std::vector<Socket> sockets;
  for (const Case& c : cases) {
    Socket& socket = sockets.emplace_back(Socket::Create());
    socket.Connect("127.0.0.1", service.tls_port());
    socket.Send(c.bytes.data(), c.bytes.size());
    if (c.then_close) socket.ShutdownSend();
  }
  for (size_t i = 0; i < sockets.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    std::string received = ReadUntilClosed(sockets[i]);
    // At most TLS's alert, never an answer.
    EXPECT_LE(received.size(), 7u) << received;
    EXPECT_THAT(received, Not(HasSubstr("PROBEDOK")));
  }
  EXPECT_EQ(TlsProbe(service.tls_port(), "operator"), "PROBEDOK");
}

TEST_F(TlsServiceTest, AReloadSwapsTheAllowedNamesAndOpenConnectionsGoOn) {
  WriteIni("operator");
  RunningService service = Start();
  EXPECT_EQ(TlsProbe(service.tls_port(), "operator"), "PROBEDOK");
  EXPECT_THAT(TlsProbe(service.tls_port(), "second"), HasSubstr("name not allowed"));

  // A connection made before the reload, its handshake done, is served after it.
  auto open = TROTCPConnection::Connect("127.0.0.1", service.tls_port());
  open->StartClientTls(Client("operator"), "localhost", service.tls_port());
  TROBinaryMemoryStream probe{std::string_view(kProbeRequest)}, answer;
  open->WriteFrame(probe);

  WriteIni("second");
  service.Continue(SIGHUP);
  EXPECT_EQ(TlsProbe(service.tls_port(), "second"), "PROBEDOK");
  EXPECT_THAT(TlsProbe(service.tls_port(), "operator"), HasSubstr("name not allowed"));
  open->ReadFrame(answer);
  EXPECT_EQ(answer.ToString(), "PROBEDOK");
}

TEST_F(TlsServiceTest, TheAllowListOfAddressesGuardsTheTlsListenerToo) {
  WriteIni("operator");
  std::ofstream(home_.path() + "/AllowedSourceIPs.txt") << "127.0.0.2\n";
  RunningService service = Start();
  EXPECT_THAT(TlsProbe(service.tls_port(), "operator"),
              HasSubstr("the peer closed the connection"));
}

TEST_F(TlsServiceTest, ThePlaintextListenerKeepsToItsAddress) {
  WriteIni("operator", "[Vantry]\nListenAddress=127.0.0.1\n");
  RunningService service = Start();
  EXPECT_EQ(ProbeFrom("127.0.0.1", service.port()), "PROBEDOK");
  Socket other = Socket::Create();
  EXPECT_THAT([&] { other.Connect("127.0.0.2", service.port()); },
              ::testing::ThrowsMessage<ESocketError>(HasSubstr("Connection refused.")));
  // The TLS listener listens on every address.
  Socket tls = Socket::Create();
  tls.Connect("127.0.0.2", service.tls_port());
}

TEST_F(TlsServiceTest, SendBackupGoesOverTlsAndRestrictTargetsLimitsWhere) {
  TempDir data;
  std::string content(2500000, 'x');
  std::ofstream(data.path() + "/db.fbk", std::ios::binary) << content;
  auto windows = [](std::string path) {
    for (char& c : path) c = c == '/' ? '\\' : c;
    return "Z:" + path;
  };
  // The service sends to itself: its own certificate ("dbserver") is its client certificate.
  WriteIni("operator,dbserver");
  RunningService service = Start();
  const std::string target = Format("tls://localhost:%d", service.tls_port());
  Caller caller(service.port());
  caller.service().SendBackup(windows(data.path() + "/db.fbk"), target,
                              windows(data.path() + "/copy.fbk"));
  EXPECT_EQ(ReadFile(data.path() + "/copy.fbk"), content);

  // Only OtherTargetServers, once RestrictTargets is on (read at the reload).
  WriteIni("operator,dbserver", "[Vantry]\nRestrictTargets=1\nOtherTargetServers=" + target + "\n");
  service.Continue(SIGHUP);
  const std::string plain_target = Format("127.0.0.1:%d", service.port());
  EXPECT_THAT(
      [&] {
        caller.service().SendBackup(windows(data.path() + "/db.fbk"), plain_target,
                                    windows(data.path() + "/other.fbk"));
      },
      ::testing::ThrowsMessage<EVantryException>(
          HasSubstr("SendBackup to \"" + plain_target +
                    "\" refused: RestrictTargets allows only the servers in OtherTargetServers")));
  EXPECT_FALSE(std::filesystem::exists(data.path() + "/other.fbk"));
  caller.service().SendBackup(windows(data.path() + "/db.fbk"), target,
                              windows(data.path() + "/again.fbk"));
  EXPECT_EQ(ReadFile(data.path() + "/again.fbk"), content);

  // A target that does not know the service's certificate refuses it, and the caller hears why.
  WriteIni("operator", "[Vantry]\nOtherTargetServers=" + target + "\n");
  service.Continue(SIGHUP);
  EXPECT_THAT(
      [&] {
        caller.service().SendBackup(windows(data.path() + "/db.fbk"), target,
                                    windows(data.path() + "/refused.fbk"));
      },
      ::testing::ThrowsMessage<Exception>(HasSubstr("name not allowed")));
}

// With the fast transfer on, SendBackup to a tls:// target opens its transfer and its chunk
// connections over TLS with the service's certificate; the file arrives whole.
TEST_F(TlsServiceTest, TheFastTransferGoesOverTlsToo) {
  TempDir data;
  std::string content(5 * 1048576 + 17, 'y');
  std::ofstream(data.path() + "/db.fbk", std::ios::binary) << content;
  auto windows = [](std::string path) {
    for (char& c : path) c = c == '/' ? '\\' : c;
    return "Z:" + path;
  };
  WriteIni("operator,dbserver", "[Transfer]\nFastTransfer=1\n");
  RunningService service = Start();
  Caller caller(service.port());
  caller.service().SendBackup(windows(data.path() + "/db.fbk"),
                              Format("tls://localhost:%d", service.tls_port()),
                              windows(data.path() + "/copy.fbk"));
  EXPECT_EQ(ReadFile(data.path() + "/copy.fbk"), content);
  EXPECT_FALSE(std::filesystem::exists(data.path() + "/copy.fbk.l5242897.work"));
}

TEST_F(TlsServiceTest, AnEmptyDriveValueLeavesCallersOneDrive) {
  TempDir backup;
  std::ofstream(backup.path() + "/db.fbk") << "backup";
  std::ofstream(home_.path() + "/Vantry.ini")
      << "[Vantry]\nBaseDefaultDirectory=D:\\\n[Drives]\nD=" << backup.path() << "\nZ=\n";
  RunningService service(home_.path());
  Caller caller(service.port());
  EXPECT_TRUE(caller.service().FileExists("D:\\db.fbk"));
  EXPECT_FALSE(caller.service().FileExists("Z:\\etc\\hostname"));
  EXPECT_FALSE(caller.service().FileExists("Z:" + home_.path() + "\\Vantry.ini"));
  EXPECT_EQ(caller.service().GetDefaultBackupPath(), "D:\\DefaultBackup");
}

}  // namespace
}  // namespace vantry::e2e
