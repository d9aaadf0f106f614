#include "remoting/worker_pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <thread>

namespace vantry {
namespace {

// Waits (briefly) until `predicate` holds; the pool's counters change on other threads.
template <typename P>
bool Eventually(P predicate) {
  for (int i = 0; i < 2000 && !predicate(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return predicate();
}

TEST(WorkerPoolTest, IdleThreadTakesTheNextTask) {
  WorkerPool pool;
  for (int i = 0; i < 5; ++i) {
    std::latch done(1);
    pool.Run([&] { done.count_down(); });
    done.wait();
    ASSERT_TRUE(Eventually([&] { return pool.IdleCount() == 1; }));
  }
  EXPECT_EQ(1u, pool.ThreadCount());
}

TEST(WorkerPoolTest, BusyThreadsNeverHoldUpANewTask) {
  WorkerPool pool;
  std::latch all_running(4);
  std::latch release(1);
  for (int i = 0; i < 4; ++i) {
    pool.Run([&] {
      all_running.count_down();
      release.wait();
    });
  }
  all_running.wait();  // would hang if a task waited for another
  EXPECT_EQ(4u, pool.ThreadCount());
  release.count_down();
}

TEST(WorkerPoolTest, IdleThreadsEnd) {
  WorkerPool pool(std::chrono::milliseconds(20));
  pool.Run([] {});
  EXPECT_TRUE(Eventually([&] { return pool.ThreadCount() == 0; }));
  pool.Run([] {});
  EXPECT_TRUE(Eventually([&] { return pool.IdleCount() == 1; }));
  pool.EndIdleThreads();
  EXPECT_TRUE(Eventually([&] { return pool.ThreadCount() == 0; }));
}

TEST(WorkerPoolTest, DestructionWaitsForRunningTasks) {
  std::atomic<bool> finished{false};
  {
    WorkerPool pool;
    pool.Run([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      finished = true;
    });
  }
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace vantry
