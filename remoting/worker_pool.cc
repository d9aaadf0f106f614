#include "remoting/worker_pool.h"

#include "platform/thread.h"

namespace vantry {

WorkerPool::WorkerPool(std::chrono::milliseconds idle_timeout)
    : idle_timeout_(idle_timeout), state_(std::make_shared<State>()) {}

WorkerPool::~WorkerPool() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stopping = true;
  state_->work.notify_all();
  state_->drained.wait(lock, [&] { return state_->threads == 0; });
}

void WorkerPool::Run(std::function<void()> task) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->tasks.push_back(std::move(task));
  // Every queued task is matched by an idle thread that has not taken one yet, or a new thread.
  if (state_->idle >= state_->tasks.size()) {
    state_->work.notify_one();
    return;
  }
  try {
    StartDetachedThread([state = state_, timeout = idle_timeout_] { Work(state, timeout); },
                        kStackSize);
    ++state_->threads;
  } catch (...) {
    state_->tasks.pop_back();
    throw;
  }
}

void WorkerPool::EndIdleThreads() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  ++state_->end_idle_generation;
  state_->work.notify_all();
}

size_t WorkerPool::ThreadCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->threads;
}

size_t WorkerPool::IdleCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->idle;
}

void WorkerPool::Work(std::shared_ptr<State> state, std::chrono::milliseconds idle_timeout) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    if (state->tasks.empty()) {
      if (state->stopping) break;
      uint64_t generation = state->end_idle_generation;
      ++state->idle;
      bool woken = state->work.wait_for(lock, idle_timeout, [&] {
        return !state->tasks.empty() || state->stopping || state->end_idle_generation != generation;
      });
      --state->idle;
      if (!woken || state->tasks.empty()) break;
    }
    std::function<void()> task = std::move(state->tasks.front());
    state->tasks.pop_front();
    lock.unlock();
    task();
    task = nullptr;  // drop what the task holds before the thread counts as idle
    lock.lock();
  }
  --state->threads;
  state->drained.notify_all();
}

}  // namespace vantry
