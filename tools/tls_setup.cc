#include "tools/tls_setup.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/exception.h"
#include "platform/identity.h"
#include "platform/tls_certificates.h"
#include "remoting/tcp_channel.h"
#include "tools/usage_error.h"

namespace vantry::client {
namespace {

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  size_t end = text.find_last_not_of(" \t\r");
  return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

std::string AbsoluteDirectory(const std::string& dir) {
  return std::filesystem::absolute(dir).lexically_normal().string();
}

std::string TlsLines(const std::string& dir, const std::string& name, const std::string& allowed) {
  return Format(
      "[TLS]\n"
      "Port=%d\n"
      "CertificateFile=%s/%s.crt\n"
      "KeyFile=%s/%s.key\n"
      "ClientCAFile=%s/ca.crt\n"
      "AllowedClientNames=%s\n",
      kDefaultTlsPort, dir, name, dir, name, dir, allowed);
}

}  // namespace

ClientDefaults ReadClientDefaults(const std::string& path) {
  std::string file = path;
  if (file.empty()) {
    const char* home = std::getenv("HOME");
    if (home == nullptr) return {};
    file = std::string(home) + "/.config/vantry/client.ini";
  }
  ClientDefaults defaults;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    line = Trim(line);
    size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || line[0] == ';' || equals == std::string::npos) continue;
    std::string key = Trim(line.substr(0, equals));
    std::string value = Trim(line.substr(equals + 1));
    if (key == "server") defaults.server = value;
    if (key == "cert") defaults.tls.cert = value;
    if (key == "key") defaults.tls.key = value;
    if (key == "ca") defaults.tls.ca = value;
  }
  return defaults;
}

std::shared_ptr<const TlsContext> MakeClientTlsContext(const ClientTlsFiles& files) {
  if (files.ca.empty()) {
    throw UsageError(
        "a tls:// server needs --ca (the CA its certificate is signed by), "
        "and --cert and --key for this client");
  }
  if (files.cert.empty() != files.key.empty()) throw UsageError("--cert and --key go together");
  TlsConfig config;
  config.certificate_file = files.cert;
  config.key_file = files.key;
  config.ca_file = files.ca;
  return std::make_shared<TlsContext>(TlsRole::kClient, config);
}

std::string InitCertificates(const std::string& dir_argument, const std::string& server_name) {
  const std::string dir = AbsoluteDirectory(dir_argument);
  if (std::filesystem::exists(dir + "/ca.key") || std::filesystem::exists(dir + "/ca.crt")) {
    throw UsageError("\"" + dir + "\" holds a CA already; \"vantry tls issue\" signs more");
  }
  std::filesystem::create_directories(dir);
  const std::string name = server_name.empty() ? ComputerName() : server_name;
  if (name.empty()) throw UsageError("the host name cannot be read: give --name SERVERNAME");
  MakeCertificateAuthority(dir + "/ca.crt", dir + "/ca.key", "Vantry CA " + name);
  IssueCertificate(dir + "/ca.crt", dir + "/ca.key", dir + "/server.crt", dir + "/server.key", name,
                   {name, "localhost", "127.0.0.1"});
  IssueCertificate(dir + "/ca.crt", dir + "/ca.key", dir + "/operator.crt", dir + "/operator.key",
                   "operator", {"operator"});
  return Format(
             "; Made in %s: a CA (ca.crt, ca.key: keep the key safe), the server's certificate "
             "for %s, localhost and 127.0.0.1, and the operator's.\n"
             "; Paste into Vantry.ini, then: systemctl reload vantry\n",
             dir, name) +
         TlsLines(dir, "server", "operator") +
         Format(
             "; Connect: vantry --server tls://%s:%d --cert %s/operator.crt "
             "--key %s/operator.key --ca %s/ca.crt ping\n",
             name, kDefaultTlsPort, dir, dir, dir);
}

std::string IssueNamedCertificate(const std::string& dir_argument, const std::string& name) {
  const std::string dir = AbsoluteDirectory(dir_argument);
  if (name.empty() || name.find_first_of("/\\ ") != std::string::npos) {
    throw UsageError("NAME must be a host or operator name without blanks or slashes");
  }
  if (std::filesystem::exists(dir + "/" + name + ".key")) {
    throw UsageError("\"" + dir + "/" + name + ".key\" exists already");
  }
  IssueCertificate(dir + "/ca.crt", dir + "/ca.key", dir + "/" + name + ".crt",
                   dir + "/" + name + ".key", name, {name});
  return Format(
             "; Made %s/%s.crt and %s.key, signed by %s/ca.crt.\n"
             "; For a second server: copy both and ca.crt to it, and give it these lines (with "
             "the directory it keeps them in);\n"
             "; add %s to AllowedClientNames of the servers it calls, and tls://%s:%d to their "
             "OtherTargetServers to send it backups.\n",
             dir, name, name, dir, name, name, kDefaultTlsPort) +
         TlsLines(dir, name, "operator");
}

}  // namespace vantry::client
