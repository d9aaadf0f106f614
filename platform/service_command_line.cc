// The command line of a service program: switches first, then options through CLI11.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/service_host.h"

namespace vantry {

namespace {

enum class Switch { kNone, kInstall, kUninstall, kSilent };

// A switch may be written "INSTALL", "/install", "-Install" and so on.
Switch MatchSwitch(std::string_view arg) {
  if (!arg.empty() && (arg.front() == '/' || arg.front() == '-')) arg.remove_prefix(1);
  if (AnsiSameText(arg, "INSTALL")) return Switch::kInstall;
  if (AnsiSameText(arg, "UNINSTALL")) return Switch::kUninstall;
  if (AnsiSameText(arg, "SILENT")) return Switch::kSilent;
  return Switch::kNone;
}

bool TakesValue(std::string_view arg) {
  return arg == "--home" || arg == "--port" || arg == "--tls-port" || arg == "--unit-dir";
}

// An absolute, lexically normal host path without a trailing "/" (except the root itself).
std::string AbsoluteDirectory(const std::string& dir) {
  std::filesystem::path path(dir);
  if (path.is_relative()) path = std::filesystem::path(CurrentHostDirectory()) / path;
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

std::optional<ServiceCommandLine> ParseServiceCommandLine(int argc, const char* const* argv,
                                                          int* exit_code) {
  ServiceCommandLine command;
  std::vector<std::string> options;
  bool value_expected = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    Switch s = value_expected ? Switch::kNone : MatchSwitch(arg);
    value_expected = s == Switch::kNone && TakesValue(arg);
    if (s == Switch::kInstall) command.action = ServiceCommandLine::Action::kInstall;
    if (s == Switch::kUninstall) command.action = ServiceCommandLine::Action::kUninstall;
    if (s == Switch::kSilent) command.silent = true;
    if (s == Switch::kNone) options.emplace_back(arg);
  }

  ServiceOptions& o = command.options;
  CLI::App app("Runs the Vantry service in the foreground, as systemd starts it. Switches: "
               "INSTALL or UNINSTALL (optionally SILENT) register or remove the systemd unit.",
               argc > 0 ? argv[0] : "vantryd");
  app.add_option("--home", o.home_dir,
                 "Directory standing for the executable's directory (Vantry.ini, "
                 "AllowedSourceIPs.txt, default base directory); default: the executable's");
  int port = 0;
  app.add_option("--port", port, "TCP port to listen on (0: any free port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--tls-port", o.tls_port,
                 "TCP port of the TLS listener, in place of [TLS] Port (0: any free port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--unit-dir", o.unit_dir, "Where INSTALL and UNINSTALL put the systemd unit");
  app.add_flag("--check-config", o.check_config,
               "Check Vantry.ini and AllowedSourceIPs.txt in the home directory, print one line "
               "per finding and end (exit code 1 when there is any)");
  app.add_flag("--verbose", o.verbose,
               "Print one diagnostic line per handled control request on stderr");
  std::reverse(options.begin(), options.end());  // CLI11 takes a vector back to front
  try {
    app.parse(options);
  } catch (const CLI::ParseError& e) {
    *exit_code = app.exit(e);
    return std::nullopt;
  }
  o.home_given = app.count("--home") > 0;
  if (app.count("--port") > 0) o.port = port;
  o.home_dir = AbsoluteDirectory(o.home_given ? o.home_dir
                                              : HostDirectoryOf(ExecutableHostPath()));
  return command;
}

}  // namespace vantry
