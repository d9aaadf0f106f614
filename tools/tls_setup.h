// The client's TLS: the files an operator connects with (--cert, --key, --ca or the same keys in
// ~/.config/vantry/client.ini), and the certificate commands "tls init" and "tls issue", which
// make a small CA and the certificates it signs through the TLS library.
//
// Thread safety: plain functions.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/tls.h"

namespace vantry::client {

// What the operator's client presents and trusts.
struct ClientTlsFiles {
  std::string cert;
  std::string key;
  std::string ca;
};

// The defaults from the client's settings file: "server", "cert", "key" and "ca" as key=value
// lines ("#" and ";" start comments, section headers are ignored). `path` defaults to
// $HOME/.config/vantry/client.ini; a missing file gives nothing.
struct ClientDefaults {
  std::optional<std::string> server;
  ClientTlsFiles tls;
};
ClientDefaults ReadClientDefaults(const std::string& path = "");

// The client context for a "tls://" server. Throws UsageError when no CA is given, ETlsError when
// a file cannot be loaded.
std::shared_ptr<const TlsContext> MakeClientTlsContext(const ClientTlsFiles& files);

// "tls init": makes `dir` (if needed) with ca.crt/ca.key, server.crt/server.key (names
// `server_name`, localhost and 127.0.0.1) and operator.crt/operator.key, all signed by the CA.
// Refuses (UsageError) when `dir` holds a CA already. Returns the lines to paste into Vantry.ini.
std::string InitCertificates(const std::string& dir, const std::string& server_name);
// "tls issue": signs `dir`/`name`.crt and .key with the CA in `dir`, for a second server or
// operator called `name` (its only alternative name). Returns what to do with them.
std::string IssueNamedCertificate(const std::string& dir, const std::string& name);

}  // namespace vantry::client
