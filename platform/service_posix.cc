// The foreground run of a service: control signals, the service thread, the main-thread timer
// and the readiness protocol of systemd.
#include <poll.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <thread>

#include "platform/event_log.h"
#include "platform/exception.h"
#include "platform/os_error.h"
#include "platform/service_host.h"

namespace vantry {

namespace {

enum class Control { kStop, kPause, kContinue };

std::optional<Control> ControlOfSignal(int signal_number) {
  switch (signal_number) {
    case SIGTERM:
    case SIGINT:
      return Control::kStop;
    case SIGUSR1:
      return Control::kPause;
    case SIGUSR2:
    case SIGHUP:
      return Control::kContinue;
    default:
      return std::nullopt;
  }
}

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP}) sigaddset(&set, s);
  return set;
}

void WakeFd(int fd) {
  uint64_t one = 1;
  // A full counter already means "wake up"; nothing to do on failure.
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void Notify(const std::string& state) { ::sd_notify(0, state.c_str()); }

std::string ReloadingNotice() {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t usec = static_cast<uint64_t>(now.tv_sec) * 1000000u + now.tv_nsec / 1000;
  return Format("RELOADING=1\nMONOTONIC_USEC=%d", usec);
}

// Runs one handler; a failure is logged as the service framework does and reported as false.
bool RunHandler(const ServiceRegistration& registration, const char* what,
                const std::function<void()>& handler) {
  std::string message;
  try {
    if (handler) handler();
    return true;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown exception";
  }
  WriteEventLogError(registration.name, Format("Service failed on %s: %s", what, message));
  return false;
}

// The service thread's side: control requests in arrival order, one at a time.
class ServiceThread {
 public:
  ServiceThread(const ServiceRegistration& registration, const ServiceHandlers& handlers,
                int wake_fd)
      : registration_(registration), handlers_(handlers), wake_fd_(wake_fd) {}

  void Post(Control control) {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.push_back(control);
    cv_.notify_one();
  }
  bool Finished() {
    std::lock_guard<std::mutex> lock(mu_);
    return finished_;
  }
  int ExitCode() {
    std::lock_guard<std::mutex> lock(mu_);
    return exit_code_;
  }

  void Run() {
    if (!RunHandler(registration_, "start", handlers_.start)) return Finish(1);
    Notify("READY=1\nSTATUS=Running");
    bool paused = false;
    for (;;) {
      switch (Next()) {
        case Control::kStop:
          Notify("STOPPING=1");
          return Finish(RunHandler(registration_, "stop", handlers_.stop) ? 0 : 1);
        case Control::kPause:
          // As a service manager does, a paused service is not asked to pause again.
          if (!paused && RunHandler(registration_, "pause", handlers_.pause)) {
            paused = true;
            Notify("STATUS=Paused");
          }
          break;
        case Control::kContinue:
          Notify(ReloadingNotice());
          if (RunHandler(registration_, "continue", handlers_.resume)) paused = false;
          Notify(paused ? "READY=1\nSTATUS=Paused" : "READY=1\nSTATUS=Running");
          break;
      }
    }
  }

 private:
  Control Next() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return !queue_.empty(); });
    Control control = queue_.front();
    queue_.pop_front();
    return control;
  }

  void Finish(int exit_code) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      finished_ = true;
      exit_code_ = exit_code;
    }
    WakeFd(wake_fd_);
  }

  const ServiceRegistration& registration_;
  const ServiceHandlers& handlers_;
  const int wake_fd_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Control> queue_;  // guarded by mu_
  bool finished_ = false;      // guarded by mu_
  int exit_code_ = 0;          // guarded by mu_
};

// Milliseconds until the timer is due (0 when overdue), -1 (wait for ever) when it is off.
int PollTimeout(const ServiceTimer* timer) {
  if (timer == nullptr) return -1;
  std::optional<ServiceTimer::TimePoint> due = timer->NextDue();
  if (!due) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

// Reads every pending control signal and hands it to the service thread.
void DrainSignals(int signal_fd, ServiceThread* service) {
  signalfd_siginfo info;
  while (::read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    std::optional<Control> control = ControlOfSignal(static_cast<int>(info.ssi_signo));
    if (control && service != nullptr) service->Post(*control);
  }
}

void DrainWakeups(int wake_fd) {
  uint64_t count;
  while (::read(wake_fd, &count, sizeof count) > 0) {
  }
}

}  // namespace

int RunService(const ServiceRegistration& registration, const ServiceHandlers& handlers,
               ServiceTimer* timer) {
  // Connection threads come and go by the thousand, and the allocator gives threads arenas of
  // their own (up to eight per core), each keeping what it freed: the resident size of a long
  // run grows in steps. Two arenas serve the few threads that are busy at once.
  ::mallopt(M_ARENA_MAX, 2);
  sigset_t signals = ControlSignals();
  sigset_t previous;
  ::pthread_sigmask(SIG_BLOCK, &signals, &previous);
  int signal_fd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
  if (signal_fd < 0) RaiseErrno(errno);
  int wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd < 0) {
    int error = errno;
    ::close(signal_fd);
    RaiseErrno(error);
  }
  if (timer != nullptr) timer->SetWakeup([wake_fd] { WakeFd(wake_fd); });

  ServiceThread service(registration, handlers, wake_fd);
  std::thread thread([&service] { service.Run(); });
  while (!service.Finished()) {
    pollfd fds[2] = {{signal_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    ::poll(fds, 2, PollTimeout(timer));
    DrainSignals(signal_fd, &service);
    DrainWakeups(wake_fd);
    if (timer != nullptr && !service.Finished() &&
        timer->TakeIfDue(std::chrono::steady_clock::now())) {
      RunHandler(registration, "execute", timer->on_timer);
    }
  }
  thread.join();

  if (timer != nullptr) timer->SetWakeup(nullptr);
  DrainSignals(signal_fd, nullptr);  // requests that came too late must not kill the process
  ::close(wake_fd);
  ::close(signal_fd);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return service.ExitCode();
}

}  // namespace vantry
