// A function run in a forked copy of this process, for tests that must watch a process die at a
// chosen point (a kill in the middle of a save) and then inspect what it left on disk.
//
// Thread safety: call from a process with one thread running, as fork requires.
#pragma once

#include <functional>

namespace vantry {

// Runs `body` in a child process, which exits with the code `body` returns (2 when it throws),
// and waits for it. Returns the exit code, or 128 + the signal that ended the child. Throws
// EOSError when no child can be made.
int RunInChildProcess(const std::function<int()>& body);

// Ends this process at once, as a crash would: SIGKILL to itself, so no handler, destructor or
// buffered write runs. RunInChildProcess reports such a child as kKilledExitCode.
[[noreturn]] void KillThisProcess();
inline constexpr int kKilledExitCode = 128 + 9;

}  // namespace vantry
