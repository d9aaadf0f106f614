// ServiceProcess: a service program run as a child process, controlled the way systemd controls
// it (signals) and observed through its exit code and its standard output and error. Used to
// drive the real service program end to end.
//
// Thread safety: one thread at a time. The destructor kills (SIGKILL) and reaps a child that
// is still running.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantry {

class ServiceProcess {
 public:
  // Starts `executable` with `arguments` (stdin from /dev/null, stdout and stderr captured).
  // Throws EOSError when the process cannot be started.
  ServiceProcess(const std::string& executable, const std::vector<std::string>& arguments);
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;
  ~ServiceProcess();

  // Sends `signal_number` (SIGTERM, SIGUSR1, ...) to the child.
  void SendSignal(int signal_number);
  // The next line the child wrote to stderr, without its line end; nullopt when stderr ended or
  // nothing complete arrived within `timeout_ms`.
  std::optional<std::string> ReadErrorLine(int timeout_ms);
  // Waits until the child ends and returns its exit code (128 + the signal when one ended it).
  int Wait();
  // Everything the child wrote to stdout / stderr and not read yet, up to the end of the stream;
  // call after Wait().
  std::string ReadRestOfOutput();
  std::string ReadRestOfErrors();

 private:
  int pid_ = -1;  // the child's process id
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string err_buffer_;  // stderr bytes read but not yet returned
  std::optional<int> exit_code_;
};

}  // namespace vantry
