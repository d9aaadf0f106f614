// Registration of a service program as a systemd unit: the INSTALL and UNINSTALL switches.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "platform/exception.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/service_host.h"

extern char** environ;

namespace vantry {

namespace {

// Quotes one ExecStart word for systemd when it needs it: "\" and """ escaped, "%" and "$"
// doubled so that systemd takes them literally.
std::string UnitWord(const std::string& word) {
  bool plain = !word.empty();
  for (char c : word) {
    bool safe = std::isalnum(static_cast<unsigned char>(c)) ||
                std::string_view("/._+-:=,@").find(c) != std::string_view::npos;
    plain = plain && safe;
  }
  if (plain) return word;
  std::string quoted = "\"";
  for (char c : word) {
    if (c == '\\' || c == '"') quoted += '\\';
    if (c == '%' || c == '$') quoted += c;
    quoted += c;
  }
  return quoted + "\"";
}

std::string UnitName(const ServiceRegistration& registration) {
  const std::string& package = registration.package_unit_name;
  if (!package.empty()) {
    for (const char* dir : {"/lib/systemd/system/", "/usr/lib/systemd/system/"}) {
      if (::access((dir + package + ".service").c_str(), F_OK) == 0) return package;
    }
  }
  return registration.name;
}

std::string UnitFilePath(const ServiceRegistration& registration, const std::string& unit_dir) {
  return unit_dir + "/" + UnitName(registration) + ".service";
}

void WriteWholeFile(const std::string& host_path, const std::string& text) {
  int fd = RetryOnEintr(
      [&] { return ::open(host_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); });
  if (fd < 0) RaiseErrno(errno, OsOperation::kOther, host_path);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = RetryOnEintr([&] { return ::write(fd, text.data() + done, text.size() - done); });
    if (n < 0) {
      int error = errno;
      ::close(fd);
      RaiseErrno(error, OsOperation::kOther, host_path);
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) RaiseErrno(errno, OsOperation::kOther, host_path);
}

// systemctl is only asked about units in systemd's own directory, and only when systemd runs:
// a unit written elsewhere (a package staging directory, a test) is left to whoever placed it.
bool ManagesUnits(const std::string& unit_dir) {
  return ::sd_booted() > 0 && std::filesystem::path(unit_dir).lexically_normal() ==
                                  std::filesystem::path(kDefaultUnitDirectory);
}

void RunSystemctl(const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {"systemctl"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid;
  int error = ::posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv.data(), environ);
  if (error != 0) RaiseErrno(error);
  int status = 0;
  if (RetryOnEintr([&] { return static_cast<int>(::waitpid(pid, &status, 0)); }) < 0) {
    RaiseErrno(errno);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string command;
    for (const std::string& w : words) command += (command.empty() ? "" : " ") + w;
    throw Exception(Format("\"%s\" failed with exit status %d", command,
                           WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)));
  }
}

int Report(const ServiceRegistration& registration, const ServiceCommandLine& command,
           const char* verb, const char* success_text, const std::function<void()>& work) {
  try {
    work();
  } catch (const Exception& e) {
    std::string text = Format("Service \"%s\" failed to %s with error: \"%s\"\n",
                              registration.display_name, verb, e.Message());
    std::fputs(text.c_str(), stderr);
    return 1;
  }
  if (!command.silent) {
    std::puts(success_text);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

std::string ServiceUnitText(const ServiceRegistration& registration, const std::string& executable,
                            const std::vector<std::string>& arguments) {
  std::string exec_start = UnitWord(executable);
  for (const std::string& a : arguments) exec_start += " " + UnitWord(a);
  if (!registration.unit_template.empty()) {
    std::string text = registration.unit_template;
    size_t line = text.find("\nExecStart=");
    if (line != std::string::npos) {
      size_t end = text.find('\n', line + 1);
      text.replace(line + 1, end - line - 1, "ExecStart=" + exec_start);
    }
    return text;
  }
  return "[Unit]\n"
         "Description=" +
         registration.display_name +
         "\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" +
         exec_start +
         "\n"
         "ExecReload=/bin/kill -HUP $MAINPID\n"
         "Restart=on-failure\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

int InstallService(const ServiceRegistration& registration, const ServiceCommandLine& command) {
  const ServiceOptions& o = command.options;
  return Report(registration, command, "install", "Service installed successfully", [&] {
    std::string executable = ExecutableHostPath();
    if (executable.empty()) RaiseOSError(kErrorFileNotFound);
    std::vector<std::string> arguments;
    if (o.home_given) arguments.insert(arguments.end(), {"--home", o.home_dir});
    if (o.port) arguments.insert(arguments.end(), {"--port", std::to_string(*o.port)});
    if (o.tls_port) {
      arguments.insert(arguments.end(), {"--tls-port", std::to_string(*o.tls_port)});
    }
    WriteWholeFile(UnitFilePath(registration, o.unit_dir),
                   ServiceUnitText(registration, executable, arguments));
    if (ManagesUnits(o.unit_dir)) {
      RunSystemctl({"daemon-reload"});
      RunSystemctl({"enable", UnitName(registration) + ".service"});
    }
  });
}

int UninstallService(const ServiceRegistration& registration, const ServiceCommandLine& command) {
  const ServiceOptions& o = command.options;
  return Report(registration, command, "uninstall", "Service uninstalled successfully", [&] {
    std::string path = UnitFilePath(registration, o.unit_dir);
    bool manages = ManagesUnits(o.unit_dir);
    if (::access(path.c_str(), F_OK) != 0) RaiseErrno(errno, OsOperation::kOther, path);
    if (manages) RunSystemctl({"disable", UnitName(registration) + ".service"});
    if (::unlink(path.c_str()) != 0) RaiseErrno(errno, OsOperation::kOther, path);
    if (manages) RunSystemctl({"daemon-reload"});
  });
}

}  // namespace vantry
