#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/os_error.h"
#include "platform/service_process.h"

extern char** environ;

namespace vantry {

namespace {

std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = RetryOnEintr([&] { return ::read(fd, buffer, sizeof buffer); });
    if (n <= 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

ServiceProcess::ServiceProcess(const std::string& executable,
                               const std::vector<std::string>& arguments) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) RaiseErrno(errno);
  if (::pipe2(err, O_CLOEXEC) != 0) {
    int error = errno;
    ::close(out[0]);
    ::close(out[1]);
    RaiseErrno(error);
  }
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  // The child starts with no signal blocked, whatever the caller's threads block.
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> words = {executable};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int error = ::posix_spawn(&pid_, executable.c_str(), &actions, &attributes, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  ::close(out[1]);
  ::close(err[1]);
  out_fd_ = out[0];
  err_fd_ = err[0];
  if (error != 0) {
    ::close(out_fd_);
    ::close(err_fd_);
    RaiseErrno(error, OsOperation::kOther, executable);
  }
}

ServiceProcess::~ServiceProcess() {
  if (!exit_code_) {
    ::kill(pid_, SIGKILL);
    int status;
    RetryOnEintr([&] { return static_cast<int>(::waitpid(pid_, &status, 0)); });
  }
  ::close(out_fd_);
  ::close(err_fd_);
}

void ServiceProcess::SendSignal(int signal_number) {
  if (::kill(pid_, signal_number) != 0) RaiseErrno(errno);
}

std::optional<std::string> ServiceProcess::ReadErrorLine(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t end = err_buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = err_buffer_.substr(0, end);
      err_buffer_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd fd = {err_fd_, POLLIN, 0};
    if (RetryOnEintr([&] { return ::poll(&fd, 1, static_cast<int>(left.count())); }) <= 0) {
      return std::nullopt;
    }
    char buffer[4096];
    ssize_t n = RetryOnEintr([&] { return ::read(err_fd_, buffer, sizeof buffer); });
    if (n <= 0) return std::nullopt;
    err_buffer_.append(buffer, static_cast<size_t>(n));
  }
}

int ServiceProcess::Wait() {
  if (exit_code_) return *exit_code_;
  int status = 0;
  if (RetryOnEintr([&] { return static_cast<int>(::waitpid(pid_, &status, 0)); }) < 0) {
    RaiseErrno(errno);
  }
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return *exit_code_;
}

std::string ServiceProcess::ReadRestOfOutput() { return ReadToEnd(out_fd_); }

std::string ServiceProcess::ReadRestOfErrors() {
  std::string rest = std::move(err_buffer_);
  err_buffer_.clear();
  return rest + ReadToEnd(err_fd_);
}

}  // namespace vantry
