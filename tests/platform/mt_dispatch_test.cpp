#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/koexception.h"
#include "platform/queuedispatcher.h"
#include "platform/workerthread.h"
#include "watchdog.h"

namespace {

using namespace std::chrono_literals;
constexpr auto kLong = std::chrono::milliseconds(vxtest::kGenerous);

// The test thread plays the user-interface thread.
class DispatchThreads : public ::testing::Test {
 protected:
  void AwaitBlockedHandOver() { ASSERT_TRUE(dispatcher_.WaitForHandOver(kLong)); }

  vx::QueueDispatcher dispatcher_;
  vx::ScopedDispatcher installed_{dispatcher_};
  const std::thread::id uiThread_ = std::this_thread::get_id();
};

TEST_F(DispatchThreads, HandOverRunsOnPumpingThreadWhileWorkerWaits) {
  std::thread::id ranOn;
  int value = 0;  // written on the user-interface thread, read by the worker afterwards
  int seenByWorker = -1;
  std::atomic<bool> returned{false};
  vx::WorkerThread worker;
  worker.Start([&] {
    vx::HandOver([&] {
      ranOn = std::this_thread::get_id();
      value = 42;
    });
    returned = true;
    seenByWorker = value;
  });

  AwaitBlockedHandOver();
  EXPECT_FALSE(returned.load());  // nothing pumped yet: the worker is still waiting
  EXPECT_TRUE(dispatcher_.PumpOne(kLong));
  ASSERT_TRUE(worker.WaitFinished(kLong));
  worker.Join();
  EXPECT_EQ(ranOn, uiThread_);
  EXPECT_EQ(seenByWorker, 42);
}

TEST_F(DispatchThreads, HandOverExceptionIsRethrownInWorker) {
  std::string caught;
  vx::WorkerThread worker;
  worker.Start([&] {
    try {
      vx::HandOver([] { throw EkoException("Refresh: no data!"); });
    } catch (const EkoException& e) {
      caught = e.what();
    }
  });
  ASSERT_TRUE(dispatcher_.PumpUntil([&] { return worker.Finished(); }, kLong));
  worker.Join();
  EXPECT_EQ(caught, "Refresh: no data!");
}

TEST_F(DispatchThreads, ConcurrentHandOversAllRunOnUiThread) {
  constexpr int kWorkers = 4;
  constexpr int kEach = 200;
  int count = 0;  // only ever touched on the user-interface thread
  int offThread = 0;
  std::vector<std::unique_ptr<vx::WorkerThread>> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.push_back(std::make_unique<vx::WorkerThread>());
    workers.back()->Start([&] {
      for (int i = 0; i < kEach; ++i)
        vx::HandOver([&] {
          ++count;
          if (std::this_thread::get_id() != uiThread_) ++offThread;
        });
    });
  }
  auto allFinished = [&] {
    for (auto& w : workers)
      if (!w->Finished()) return false;
    return true;
  };
  ASSERT_TRUE(dispatcher_.PumpUntil(allFinished, kLong));
  workers.clear();
  EXPECT_EQ(count, kWorkers * kEach);
  EXPECT_EQ(offThread, 0);
}

TEST_F(DispatchThreads, PumpingOffTheUiThreadIsRefused) {
  std::string error;
  std::thread other([&] {
    try {
      dispatcher_.PumpOne(0ms);
    } catch (const EkoException& e) {
      error = e.what();
    }
  });
  other.join();
  EXPECT_EQ(error, "PumpOne: not called on the user-interface thread!");
}

// The user-interface thread waits for a worker that is itself blocked in a hand-over.
// The wait must run the hand-over, and only hand-overs: posted messages stay queued.
TEST_F(DispatchThreads, UiWaitForBlockedWorkerRunsHandOversOnly) {
  struct Case {
    const char* name;
    // Waits on the user-interface thread until the worker has got past its hand-over.
    std::function<bool(vx::WorkerThread&, vx::ManualResetEvent&)> wait;
  };
  const Case cases[] = {
      {"join",
       [](vx::WorkerThread& w, vx::ManualResetEvent&) {
         w.Join();
         return true;
       }},
      {"finished with timeout",
       [](vx::WorkerThread& w, vx::ManualResetEvent&) { return w.WaitFinished(kLong); }},
      {"event with timeout",
       [](vx::WorkerThread&, vx::ManualResetEvent& e) { return e.WaitFor(kLong); }},
      {"event without limit",
       [](vx::WorkerThread&, vx::ManualResetEvent& e) {
         e.Wait();
         return true;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int delivered = 0;
    bool handedOver = false;
    vx::MessageReceiver receiver([&](const vx::Message&) { ++delivered; });
    vx::ManualResetEvent passed;
    vx::WorkerThread worker;
    worker.Start([&] {
      receiver.Post({1, 0, 0});
      vx::HandOver([&] { handedOver = true; });
      passed.Set();
    });
    AwaitBlockedHandOver();
    {
      vxtest::Watchdog watchdog(vxtest::kGenerous, c.name);
      EXPECT_TRUE(c.wait(worker, passed));
    }
    EXPECT_TRUE(handedOver);
    EXPECT_EQ(delivered, 0);
    worker.Join();
    EXPECT_EQ(dispatcher_.PumpPending(), 1u);
    EXPECT_EQ(delivered, 1);
  }
}

TEST_F(DispatchThreads, UiWaitThatTimesOutLeavesMessagesQueued) {
  int delivered = 0;
  vx::MessageReceiver receiver([&](const vx::Message&) { ++delivered; });
  vx::ManualResetEvent never;
  vx::WorkerThread worker;
  worker.Start([&] { receiver.Post({1, 0, 0}); });
  ASSERT_TRUE(worker.WaitFinished(kLong));
  EXPECT_FALSE(never.WaitFor(10ms));
  EXPECT_EQ(delivered, 0);
  EXPECT_EQ(dispatcher_.PendingMessages(), 1u);
}

TEST_F(DispatchThreads, PostReturnsWithoutPumping) {
  std::vector<std::int64_t> got;
  vx::MessageReceiver receiver([&](const vx::Message& m) { got.push_back(m.First); });
  vx::WorkerThread worker;
  worker.Start([&] {
    for (int i = 0; i < 3; ++i) receiver.Post({1, i, 0});
  });
  worker.Join();  // would never return if a post waited for delivery
  dispatcher_.PumpPending();
  EXPECT_EQ(got, (std::vector<std::int64_t>{0, 1, 2}));
}

// A worker keeps posting while the user-interface thread destroys the receiver, whose
// handler writes into the object that dies with it.
TEST_F(DispatchThreads, ReceiverDestroyedWhileWorkerPosts) {
  int total = 0;
  struct Target {
    explicit Target(int& total) : total(total) {}
    int& total;
    int count = 0;
    vx::MessageReceiver receiver{[this](const vx::Message&) { ++count, ++total; }};
  };
  auto target = std::make_unique<Target>(total);
  vx::ReceiverRef ref = target->receiver.Ref();
  vx::WorkerThread worker;
  worker.Start([&] {
    while (!worker.TerminateRequested()) ref.Post({1, 0, 0});
  });
  // Destroy it with messages of the worker still queued.
  ASSERT_TRUE(dispatcher_.PumpUntil(
      [&] { return target->count >= 50 && dispatcher_.PendingMessages() > 0; }, kLong));
  const int atDeath = total;
  target.reset();
  EXPECT_FALSE(ref.Post({1, 0, 0}));
  worker.RequestTerminate();
  worker.Join();
  EXPECT_GT(dispatcher_.PumpPending(), 0u);
  EXPECT_EQ(total, atDeath);
  EXPECT_EQ(dispatcher_.PendingMessages(), 0u);
}

}  // namespace
