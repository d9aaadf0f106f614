// WorkerPool: threads that are reused for one task after another. A task goes to an idle thread
// when there is one and to a new thread otherwise, so a task never waits for another (no limit,
// no queue of waiting work); threads that stay idle for `idle_timeout` end. Starting a thread
// costs more than serving a small call, which is why the TCP server does not start one per
// connection, but what a connection sees is the same as with a thread of its own.
//
// Thread safety: Run() and the counters may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace vantry {

class WorkerPool {
 public:
  explicit WorkerPool(std::chrono::milliseconds idle_timeout = std::chrono::seconds(10));
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  // Ends the idle threads and waits until every running task has returned.
  ~WorkerPool();

  // Runs `task` on an idle thread or on a new one. Throws std::system_error when no thread can
  // be started; the task is then not run. Tasks must not throw.
  void Run(std::function<void()> task);
  // Tells the threads that are idle now to end (the pool stays usable).
  void EndIdleThreads();

  size_t ThreadCount() const;
  size_t IdleCount() const;

  // The stack of each thread. Every call of the service runs within 96 KiB (the end-to-end
  // tests, archives and transfers included, pass with that; copies use 64 KiB buffers on the
  // stack): 512 KiB leaves a wide margin while thousands of connections cost little.
  static constexpr size_t kStackSize = 512 * 1024;

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable work;             // a task was queued or idle threads must end
    std::condition_variable drained;          // a thread ended
    std::deque<std::function<void()>> tasks;  // GUARDED_BY(mutex)
    size_t threads = 0;                       // GUARDED_BY(mutex)
    size_t idle = 0;                          // GUARDED_BY(mutex)
    uint64_t end_idle_generation = 0;         // GUARDED_BY(mutex)
    bool stopping = false;                    // GUARDED_BY(mutex)
  };
  static void Work(std::shared_ptr<State> state, std::chrono::milliseconds idle_timeout);

  const std::chrono::milliseconds idle_timeout_;
  std::shared_ptr<State> state_;  // shared with the threads, which may outlive a wait
};

}  // namespace vantry
