// The service framework on a Linux host: the command line of a service program (the switches
// "INSTALL", "UNINSTALL" and "SILENT", and the options --home, --port, --tls-port, --unit-dir,
// --verbose),
// registration as a systemd unit, and the foreground run that systemd starts.
//
// A run calls the program's lifecycle handlers one at a time on one service thread: start first,
// then stop, pause and continue as control requests arrive. Control requests are signals:
// SIGTERM and SIGINT stop, SIGUSR1 pauses, SIGUSR2 and SIGHUP continue (in either state, so a
// reload re-reads the configuration of a running service). The main thread waits for signals and
// fires the ServiceTimer. systemd learns of readiness, reloads and stopping through sd_notify.
// A handler that throws is logged as "Service failed on %s: %s" (platform/event_log.h).
//
// Thread safety: ServiceTimer may be switched from any thread; the rest is called by the
// program entry on the main thread.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantry {

// How the service presents itself to the system.
struct ServiceRegistration {
  std::string name;          // unit "<name>.service", syslog ident, event source
  std::string display_name;  // unit Description; named in install/uninstall failure texts
  // The unit INSTALL writes: this text with its ExecStart line replaced by the program's own;
  // empty: a minimal unit of its own.
  std::string unit_template = {};
  // The unit a package of the program installs (in /lib/systemd/system or
  // /usr/lib/systemd/system). Where it is installed, INSTALL and UNINSTALL use its name, so that
  // one machine never carries two units for one service.
  std::string package_unit_name = {};
};

inline constexpr char kDefaultUnitDirectory[] = "/etc/systemd/system";

// Options of a service program.
struct ServiceOptions {
  std::string home_dir;  // absolute host path standing for the executable's directory
  std::optional<int> port;  // --port, when given (the program has its own default)
  std::optional<int> tls_port;  // --tls-port: the TLS listener's port (0: any free one)
  std::string unit_dir = kDefaultUnitDirectory;
  bool verbose = false;           // one diagnostic line on stderr per handled control request
  bool home_given = false;        // --home was on the command line
  bool check_config = false;      // --check-config: check the settings files and end
};

struct ServiceCommandLine {
  enum class Action { kRun, kInstall, kUninstall };
  Action action = Action::kRun;
  bool silent = false;
  ServiceOptions options;
};

// Parses the command line. Switches are matched first, each written with a leading "/" or "-"
// or without one, in any case; the rest goes to the option parser. Returns nullopt when the
// program should end at once with *exit_code set: help or the manual page (--manual-page, for
// the build) shown, 0; a bad command line reported in one line on stderr, 2.
std::optional<ServiceCommandLine> ParseServiceCommandLine(int argc, const char* const* argv,
                                                          int* exit_code);

// Writes "<name>.service" (the package's unit name where the package is installed) into
// options.unit_dir (ExecStart: this executable with the --home, --port and --tls-port given),
// then enables it when systemd runs and the directory is systemd's own. Prints
// "Service installed successfully" on stdout unless `silent`; on failure prints
// "Service "%s" failed to install with error: "%s"" on stderr. Returns the exit code.
int InstallService(const ServiceRegistration& registration, const ServiceCommandLine& command);
// Disables the unit (when systemd runs and the directory is systemd's own) and removes it;
// texts as for InstallService with "uninstall(ed)". Returns the exit code.
int UninstallService(const ServiceRegistration& registration, const ServiceCommandLine& command);

// The unit file text for `executable` (absolute host path) started with `arguments`: the
// registration's template with its ExecStart line replaced, or a minimal unit without one.
std::string ServiceUnitText(const ServiceRegistration& registration, const std::string& executable,
                            const std::vector<std::string>& arguments);

// A periodic timer fired on the main thread of a running service. Created disabled; enabling it,
// or changing its interval while enabled, starts a full interval from that moment.
class ServiceTimer {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  explicit ServiceTimer(int interval_ms) : interval_ms_(interval_ms) {}
  ServiceTimer(const ServiceTimer&) = delete;
  ServiceTimer& operator=(const ServiceTimer&) = delete;

  void SetInterval(int interval_ms);
  void SetEnabled(bool enabled);
  bool Enabled() const;
  int Interval() const;

  // For the run loop: when the timer fires next (nullopt while disabled).
  std::optional<TimePoint> NextDue() const;
  // For the run loop: true when the timer is due at `now`; the next interval then starts.
  bool TakeIfDue(TimePoint now);
  // For the run loop: `wake` is called whenever NextDue changes (from any thread).
  void SetWakeup(std::function<void()> wake);

  std::function<void()> on_timer;  // set before the run; runs on the main thread

 private:
  void Reschedule();  // requires mu_ held

  mutable std::mutex mu_;
  int interval_ms_;                  // guarded by mu_
  std::optional<TimePoint> due_;     // guarded by mu_; empty while disabled
  std::function<void()> wake_;       // guarded by mu_
};

// The lifecycle handlers of a service; each may throw to report failure.
struct ServiceHandlers {
  std::function<void()> start;
  std::function<void()> stop;
  std::function<void()> pause;
  std::function<void()> resume;  // "continue"
};

// Runs the service in the foreground until it stops: `handlers.start` on the service thread,
// control requests from signals, `timer` (may be null) on this thread. Returns the process exit
// code: 0 after a stop, 1 when start or stop failed. Call from the main thread before any other
// thread exists, so every thread inherits the blocked control signals.
int RunService(const ServiceRegistration& registration, const ServiceHandlers& handlers,
               ServiceTimer* timer);

}  // namespace vantry
