// vantryd: the Vantry service program. Without switches it runs the service in the foreground,
// as systemd starts it, answering remote calls of VantryService on --port (default 8090); "INSTALL"
// and "UNINSTALL" register and remove the systemd unit.
#include <cstdio>
#include <memory>

#include "host/package_unit.h"
#include "host/windows_service.h"
#include "platform/event_log.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/service_host.h"
#include "service/VantryService_Impl.h"

namespace vantry {
namespace {

// With --verbose each handled control request leaves one line on stderr, so an operator (or a
// test) sees which settings and which instance GUID a start or reload produced.
ServiceHandlers HostHandlers(TWindowsService& host, bool verbose) {
  auto handler = [&host, verbose](void (TWindowsService::*step)(), const char* state,
                                  bool describe) -> std::function<void()> {
    return [&host, verbose, step, state, describe] {
      (host.*step)();
      if (!verbose) return;
      std::string line = Format("vantryd: %s", state);
      if (describe) line += "; " + host.DescribeState();
      WriteDiagnosticLine(line);
    };
  };
  return ServiceHandlers{
      .start = handler(&TWindowsService::ServiceStart, "running", true),
      .stop = handler(&TWindowsService::ServiceStop, "stopped", false),
      .pause = handler(&TWindowsService::ServicePause, "paused", true),
      .resume = handler(&TWindowsService::ServiceContinue, "running", true),
  };
}

// --check-config: the warnings a start would write, on stdout; 1 when there is any.
int CheckConfig(const ServiceOptions& options) {
  DriveMap drives;
  PosixFileSystem file_system(drives);
  SystemClock clock;
  TWindowsService host(THostOptions{options.home_dir}, drives, file_system, clock);
  std::vector<std::string> warnings;
  try {
    // Reading first: it installs the drive map through which the files are found, and fails
    // as a start would on a file that cannot be read.
    host.LoadAllowedSourceIPs();
    host.ReadSettings();
    warnings = host.CheckConfiguration();
  } catch (const std::exception& e) {
    warnings.push_back(Format("a start would fail: %s", e.what()));
  }
  for (const std::string& warning : warnings) std::printf("warning: %s\n", warning.c_str());
  if (warnings.empty()) std::printf("%s: no warnings\n", options.home_dir.c_str());
  return warnings.empty() ? 0 : 1;
}

int RunHost(const ServiceRegistration& registration, const ServiceOptions& options) {
  DriveMap drives;
  PosixFileSystem file_system(drives);
  SystemClock clock;
  // The host's server stays off until ServiceStart, so dispatch cannot reach the registries
  // before they are filled below.
  THostOptions host_options{options.home_dir, options.port.value_or(kDefaultPort)};
  host_options.tls_port = options.tls_port;
  auto host = std::make_unique<TWindowsService>(host_options, drives, file_system, clock);
  // Dispatch finds VantryService and callers' types in the start-up registries; they are
  // emptied only once the server is off again.
  auto contract_registrations =
      std::make_unique<VantryServiceRegistration>(file_system, *host, clock);
  int exit_code =
      RunService(registration, HostHandlers(*host, options.verbose), &host->CleanUpTimer());
  host->ROServer().SetActive(false);  // already off unless the stop failed
  contract_registrations.reset();
  return exit_code;
}

}  // namespace
}  // namespace vantry

int main(int argc, char** argv) {
  using vantry::ServiceCommandLine;
  vantry::ServiceRegistration registration;
  registration.name = vantry::kServiceName;
  registration.display_name = vantry::kServiceDisplayName;
  registration.unit_template = vantry::PackageUnitText();
  registration.package_unit_name = vantry::kPackageUnitName;
  int exit_code = 0;
  std::optional<ServiceCommandLine> command =
      vantry::ParseServiceCommandLine(argc, argv, &exit_code);
  if (!command) return exit_code;
  switch (command->action) {
    case ServiceCommandLine::Action::kInstall:
      return vantry::InstallService(registration, *command);
    case ServiceCommandLine::Action::kUninstall:
      return vantry::UninstallService(registration, *command);
    case ServiceCommandLine::Action::kRun:
      break;
  }
  if (command->options.check_config) return vantry::CheckConfig(command->options);
  try {
    return vantry::RunHost(registration, command->options);
  } catch (const std::exception& e) {
    vantry::WriteEventLogError(registration.name,
                               vantry::Format("Service failed on execute: %s", e.what()));
    return 1;
  }
}
