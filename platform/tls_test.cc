#include "platform/tls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <future>
#include <thread>

#include "platform/temp_dir.h"
#include "platform/tls_certificates.h"

namespace vantry {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// A CA with a server certificate ("server", localhost, 127.0.0.1) and client certificates, and a
// second CA that nobody trusts.
class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    MakeCertificateAuthority(Path("ca.crt"), Path("ca.key"), "Test CA");
    MakeCertificateAuthority(Path("other-ca.crt"), Path("other-ca.key"), "Other CA");
    Issue("ca", "server", {"localhost", "127.0.0.1"});
    Issue("ca", "operator", {"operator"});
    Issue("ca", "intruder", {"intruder"});
    Issue("other-ca", "stranger", {"operator"});
    Issue("ca", "expired", {"operator"}, {.start = -7200, .lifetime = 3600});
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string Path(const std::string& name) { return dir_->path() + "/" + name; }
  static void Issue(const std::string& ca, const std::string& name,
                    const std::vector<std::string>& alt, CertificateValidity validity = {}) {
    IssueCertificate(Path(ca + ".crt"), Path(ca + ".key"), Path(name + ".crt"), Path(name + ".key"),
                     name, alt, validity);
  }
  static std::shared_ptr<const TlsContext> Server(std::vector<std::string> allowed = {}) {
    return std::make_shared<TlsContext>(TlsRole::kServer,
                                        TlsConfig{.certificate_file = Path("server.crt"),
                                                  .key_file = Path("server.key"),
                                                  .ca_file = Path("ca.crt"),
                                                  .allowed_peer_names = std::move(allowed)});
  }
  static std::shared_ptr<const TlsContext> Client(const std::string& name,
                                                  const std::string& ca = "ca") {
    TlsConfig config{.certificate_file = name.empty() ? "" : Path(name + ".crt"),
                     .key_file = name.empty() ? "" : Path(name + ".key"),
                     .ca_file = Path(ca + ".crt")};
    return std::make_shared<TlsContext>(TlsRole::kClient, config);
  }

  // One exchange over a socket pair: the client connects to `host`, writes "ping", the server
  // answers "pong". Returns what the server and the client saw ("ok" or the error text).
  struct Outcome {
    std::string server;
    std::string client;
    bool resumed = false;
  };
  static Outcome Exchange(std::shared_ptr<const TlsContext> server,
                          std::shared_ptr<const TlsContext> client,
                          const std::string& host = "localhost") {
    auto [server_socket, client_socket] = Socket::Pair();
    Outcome outcome;
    std::promise<void> client_done;
    std::thread server_thread([&, s = std::move(server_socket)]() mutable {
      try {
        auto stream = TlsStream::Accept(server, s, 5000);
        char request[4];
        if (stream->ReceiveAll(request, 4) != 4) throw ETlsError("short request");
        stream->Send(std::array<std::string_view, 1>{"pong"});
        stream->Close();
        outcome.server = "ok";
      } catch (const ENetError& e) {
        outcome.server = e.what();
      }
      // The server transport lets a refused client read the alert before it closes.
      client_done.get_future().wait();
      s.Close();
    });
    try {
      auto stream = TlsStream::Connect(client, client_socket, host, 8091, 5000);
      outcome.resumed = stream->Resumed();
      stream->Send(std::array<std::string_view, 1>{"ping"});
      char answer[4];
      if (stream->ReceiveAll(answer, 4) != 4) throw ETlsError("short answer");
      outcome.client = "ok";
    } catch (const ENetError& e) {
      outcome.client = e.what();
    }
    client_socket.Close();
    client_done.set_value();
    server_thread.join();
    return outcome;
  }

  static TempDir* dir_;
};

TempDir* TlsTest::dir_ = nullptr;

TEST_F(TlsTest, KeysAreReadableByTheirOwnerOnly) {
  struct stat key, certificate;
  ASSERT_EQ(stat(Path("server.key").c_str(), &key), 0);
  ASSERT_EQ(stat(Path("server.crt").c_str(), &certificate), 0);
  EXPECT_EQ(key.st_mode & 0777, 0600u);
  EXPECT_EQ(certificate.st_mode & 0777, 0644u);
}

TEST_F(TlsTest, AGoodCertificateOnAnAllowedNameGetsThroughAndResumesLater) {
  auto server = Server({"operator"});
  auto client = Client("operator");
  Outcome first = Exchange(server, client);
  EXPECT_EQ(first.server, "ok");
  EXPECT_EQ(first.client, "ok");
  EXPECT_FALSE(first.resumed);
  Outcome second = Exchange(server, client);
  EXPECT_EQ(second.client, "ok");
  EXPECT_TRUE(second.resumed);
  // A server made anew (a reload) has new ticket keys: the old session does not resume.
  Outcome after_reload = Exchange(Server({"operator"}), client);
  EXPECT_EQ(after_reload.client, "ok");
  EXPECT_FALSE(after_reload.resumed);
  // The server's certificate names 127.0.0.1 as well.
  EXPECT_EQ(Exchange(server, client, "127.0.0.1").client, "ok");
}

TEST_F(TlsTest, RefusedCallersLearnWhy) {
  struct Case {
    std::string client;
    std::string ca;
    std::string reason;
  };
  const Case cases[] = {
      {"", "ca", "no certificate"},
      {"stranger", "ca", "unknown CA"},
      {"expired", "ca", "expired"},
      {"intruder", "ca", "name not allowed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.client);
    Outcome outcome = Exchange(Server({"operator"}), Client(c.client, c.ca));
    EXPECT_THAT(outcome.server, StartsWith("TLS handshake failed: "));
    EXPECT_THAT(outcome.server, HasSubstr(c.reason));
    EXPECT_EQ(outcome.client,
              "TLS handshake with localhost:8091 failed: the server refused "
              "this client's certificate: " +
                  c.reason);
  }
}

TEST_F(TlsTest, ClientsCheckTheServersCertificate) {
  Outcome wrong_name = Exchange(Server(), Client("operator"), "dbserver.example");
  EXPECT_EQ(wrong_name.client,
            "TLS handshake with dbserver.example:8091 failed: the server's certificate was "
            "refused: name not allowed");
  Outcome unknown_ca = Exchange(Server(), Client("operator", "other-ca"));
  EXPECT_EQ(unknown_ca.client,
            "TLS handshake with localhost:8091 failed: the server's certificate was refused: "
            "unknown CA");
}

TEST_F(TlsTest, AHandshakeThatStallsTimesOut) {
  auto [server_socket, client_socket] = Socket::Pair();
  client_socket.Send("\x16\x03\x01\x02\x00", 5);  // a record header, then nothing
  EXPECT_THAT([&] { TlsStream::Accept(Server(), server_socket, 200); },
              ::testing::ThrowsMessage<ETlsError>(HasSubstr("timed out")));
}

TEST_F(TlsTest, FilesThatCannotBeLoadedAreNamed) {
  TlsConfig config{.certificate_file = Path("missing.crt"),
                   .key_file = Path("server.key"),
                   .ca_file = Path("ca.crt")};
  EXPECT_THAT([&] { TlsContext(TlsRole::kServer, config); },
              ::testing::ThrowsMessage<ETlsError>(
                  StartsWith("Cannot load TLS certificate \"" + Path("missing.crt") + "\": ")));
  config.certificate_file = Path("server.crt");
  config.key_file = Path("operator.key");
  EXPECT_THAT([&] { TlsContext(TlsRole::kServer, config); },
              ::testing::ThrowsMessage<ETlsError>(
                  StartsWith("Cannot load TLS key \"" + Path("operator.key") + "\": ")));
}

}  // namespace
}  // namespace vantry
