#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace {

using namespace std::chrono_literals;

TEST(ManualResetEventThreads, SetWakesEveryWaiter) {
  vx::ManualResetEvent event;
  vx::ManualResetEvent allStarted;
  std::atomic<int> started{0};
  std::atomic<int> woken{0};
  constexpr int kWaiters = 4;
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i)
    waiters.emplace_back([&] {
      if (started.fetch_add(1) + 1 == kWaiters) allStarted.Set();
      if (event.WaitFor(60s)) woken.fetch_add(1);
    });
  ASSERT_TRUE(allStarted.WaitFor(60s));
  event.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), kWaiters);
  EXPECT_TRUE(event.IsSet());
}

// Data written before Set is visible to the thread whose wait it ends.
TEST(ManualResetEventThreads, TimedWaitEndsWhenAnotherThreadSets) {
  vx::ManualResetEvent event;
  int payload = 0;
  std::thread setter([&] {
    payload = 17;
    event.Set();
  });
  ASSERT_TRUE(event.WaitFor(60s));
  EXPECT_EQ(payload, 17);
  setter.join();

  event.Reset();
  EXPECT_FALSE(event.WaitFor(10ms));
}

}  // namespace
