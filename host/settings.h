// The settings of the service as read from "Vantry.ini": the values, their defaults, and the
// drive map section. Reading is a pure function of the parsed file and the executable's
// directory; TWindowsService::ReadSettings loads the file and installs the result under the host
// lock.
//
// Thread safety: plain values and pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/ini_file.h"
#include "platform/paths.h"
#include "service/vantry_host.h"

namespace vantry {

inline constexpr char kSettingsFileName[] = "Vantry.ini";

// Where the service listens, and its TLS: settings beside those that callers can read.
struct TServerSettings {
  std::string listen_address = "0.0.0.0";  // [Vantry] ListenAddress: the plaintext listener's
  int tls_port = 0;                         // [TLS] Port; 0: no TLS listener
  std::string tls_listen_address = "0.0.0.0";  // [TLS] ListenAddress
  // [TLS] CertificateFile, KeyFile, ClientCAFile (host paths, relative ones under the home
  // directory), AllowedClientNames (comma list) and MinVersion (1.2 or 1.3).
  TlsConfig tls;
  int metrics_port = 0;  // [Metrics] Port; 0: no metrics listener
  std::string metrics_listen_address = "127.0.0.1";  // [Metrics] ListenAddress
  // [Metrics] Databases: database file names whose newest backup the metrics report from the
  // start, beside those that callers name.
  std::vector<std::string> metrics_databases;

  bool HasCertificate() const { return !tls.certificate_file.empty(); }
};

// Everything one reading of the file yields.
struct TSettingsRead {
  THostSettings settings;
  std::vector<std::string> other_target_servers;  // in the order of the file
};

// Reads the settings from `ini`; `executable_dir` (Windows form, ending in "\") is the default
// base directory. Malformed values take their defaults; nothing is rejected.
TSettingsRead ParseSettings(const IniFile& ini, std::string_view executable_dir);

// The listeners and TLS from `ini`; relative file names are taken under `home_dir` (a host
// path). Malformed values take their defaults.
TServerSettings ParseServerSettings(const IniFile& ini, std::string_view home_dir);

// The "Drives" section: one key per drive letter, the value a host directory; an empty value
// leaves the letter unmapped (for Z, which is / otherwise). Keys that are not one letter and
// other values that are not absolute host paths are ignored.
DriveMap::Roots ParseDriveRoots(const IniFile& ini);
// Whether a key of the "Drives" section names a drive letter (upper-cased, as the file's keys
// are kept).
bool IsDriveLetterKey(std::string_view key);

// One line naming every setting and its value, for diagnostics.
std::string DescribeSettings(const TSettingsRead& read);

}  // namespace vantry
