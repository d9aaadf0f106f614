#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/child_process.h"
#include "platform/os_error.h"

namespace vantry {

int RunInChildProcess(const std::function<int()>& body) {
  pid_t child = ::fork();
  if (child < 0) RaiseErrno(errno);
  if (child == 0) {
    int code = 2;
    try {
      code = body();
    } catch (...) {
    }
    ::_exit(code);  // no destructors or atexit handlers of the parent's objects
  }
  int status = 0;
  if (RetryOnEintr([&] { return ::waitpid(child, &status, 0); }) < 0) RaiseErrno(errno);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

void KillThisProcess() {
  ::raise(SIGKILL);
  ::_exit(128 + SIGKILL);  // not reached: SIGKILL cannot be caught
}

static_assert(kKilledExitCode == 128 + SIGKILL);

}  // namespace vantry
