// The command line of a service program: switches first, then options through CLI11.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "platform/cli_manual.h"
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

// The one line that a bad command line gets after its reason.
constexpr char kUsageLine[] =
    "usage: vantryd [INSTALL|UNINSTALL [SILENT]] [--home DIR] [--port N] [--tls-port N] "
    "[--unit-dir DIR] [--verbose] (vantryd --help explains them)";
constexpr int kUsageExitCode = 2;

// The facts of vantryd(8) beyond its options.
ManualInfo ServiceManual() {
  ManualInfo info;
  info.name = "vantryd";
  info.section = "8";
  info.summary = "the Vantry service: database backup files for remote callers";
  info.synopsis =
      "[INSTALL|UNINSTALL [SILENT]] [--home DIR] [--port N] [--tls-port N] [--unit-dir DIR] "
      "[--verbose]";
  info.sections = {
      {"Switches",
       "INSTALL writes the systemd unit WindowsService.service into --unit-dir (default "
       "/etc/systemd/system) with the options given, and enables it. UNINSTALL "
       "disables and removes it. SILENT prints nothing on success. A switch may be written "
       "INSTALL, /install or -Install."},
      {"Signals",
       "SIGTERM or SIGINT stop the service; SIGUSR1 pauses it (permissions stop expiring); "
       "SIGUSR2 or SIGHUP continue it and read Vantry.ini and AllowedSourceIPs.txt again."},
      {"Files",
       "Vantry.ini in the home directory holds the settings (sections [Vantry], [Migration] and "
       "[Drives], which maps drive letters to host directories). AllowedSourceIPs.txt in the "
       "home directory lists the IPv4 addresses of the callers admitted, one a line; without "
       "it, or when it lists none, every caller is served. A [TLS] section in Vantry.ini opens "
       "a second port for callers with client certificates; the package makes its "
       "certificates in /etc/vantry/tls at install. The package's home directory is "
       "/etc/vantry."},
      {"Exit status",
       "0 after an orderly stop; 1 when the service failed (the reason goes to syslog and "
       "stderr); 2 for a bad command line, with one line of usage on stderr."},
      {"See also", "vantry(1), /usr/share/doc/vantry/README.md"},
  };
  return info;
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
  CLI::App app(
      "Runs the Vantry service in the foreground, as systemd starts it. Switches: "
      "INSTALL or UNINSTALL (optionally SILENT) register or remove the systemd unit.",
      argc > 0 ? argv[0] : "vantryd");
  app.add_option("--home", o.home_dir,
                 "Directory standing for the executable's directory (Vantry.ini, "
                 "AllowedSourceIPs.txt, default base directory); default: the executable's")
      ->type_name("DIR");
  int port = 0;
  app.add_option("--port", port, "TCP port to listen on, default 8090 (0: any free port)")
      ->check(CLI::Range(0, 65535))
      ->type_name("N");
  app.add_option("--tls-port", o.tls_port,
                 "TCP port of the TLS listener, in place of [TLS] Port (0: any free port)")
      ->check(CLI::Range(0, 65535))
      ->type_name("N");
  app.add_option("--unit-dir", o.unit_dir, "Where INSTALL and UNINSTALL put the systemd unit")
      ->type_name("DIR");
  app.add_flag("--check-config", o.check_config,
               "Check Vantry.ini and AllowedSourceIPs.txt in the home directory, print one line "
               "per finding and end (exit code 1 when there is any)");
  app.add_flag("--verbose", o.verbose,
               "Print one diagnostic line per handled control request on stderr");
  // The build writes the manual page from the same table as --help.
  if (options.size() == 1 && options.front() == "--manual-page") {
    std::string page = ManualPage(app, ServiceManual());
    std::fwrite(page.data(), 1, page.size(), stdout);
    *exit_code = 0;
    return std::nullopt;
  }
  std::reverse(options.begin(), options.end());  // CLI11 takes a vector back to front
  try {
    app.parse(options);
  } catch (const CLI::CallForHelp& e) {
    *exit_code = app.exit(e);
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "vantryd: %s; %s\n", e.what(), kUsageLine);
    *exit_code = kUsageExitCode;
    return std::nullopt;
  }
  o.home_given = app.count("--home") > 0;
  if (app.count("--port") > 0) o.port = port;
  o.home_dir = AbsoluteDirectory(o.home_given ? o.home_dir : HostDirectoryOf(ExecutableHostPath()));
  return command;
}

}  // namespace vantry
