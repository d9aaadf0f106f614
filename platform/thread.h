// Threads with a stack of a chosen size. A std::thread gets the process default (8 MiB of
// address space on Linux); a server that keeps a thread per connection sizes its stacks for what
// a connection needs, so thousands of idle connections stay cheap in address space and in the
// memory of their touched stack pages.
//
// Thread safety: may be called from any thread.
#pragma once

#include <cstddef>
#include <functional>

namespace vantry {

// Starts `body` on a new detached thread whose stack holds `stack_size` bytes (rounded up to
// what the system allows). Throws std::system_error when no thread can be started; `body` is
// then not run.
void StartDetachedThread(std::function<void()> body, size_t stack_size);

}  // namespace vantry
