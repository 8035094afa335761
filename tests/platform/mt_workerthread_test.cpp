#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/koexception.h"
#include "platform/workerthread.h"

namespace {

using namespace std::chrono_literals;

// A worker idling through a long cycle must leave it as soon as termination is asked,
// or every owner's destruction waits out the rest of the cycle.
TEST(WorkerThread, TerminationCutsTheIdleSleepShort) {
  vx::WorkerThread worker;
  vx::ManualResetEvent sleeping;
  std::atomic<bool> sawTerminate{false};
  worker.Start([&] {
    sleeping.Set();
    sawTerminate = worker.SleepUnlessTerminated(3600s);
  });
  ASSERT_TRUE(sleeping.WaitFor(60s));
  worker.RequestTerminate();
  ASSERT_TRUE(worker.WaitFinished(60s));
  worker.Join();
  EXPECT_TRUE(sawTerminate.load());
}

// An owner with work for the worker at once (a device attached to a connection) ends
// its idle time; a wake that comes while the worker is busy ends the next one, unless the
// worker drops it as it takes up that work. Hour-long idles end only so.
TEST(WorkerThread, AWakeEndsTheIdleTimeOnce) {
  using Idle = vx::WorkerThread::Idle;
  const auto hour = [] { return std::chrono::steady_clock::now() + 3600s; };
  vx::WorkerThread worker;
  vx::ManualResetEvent idling, busy1, go1, busy2, go2, cleared;
  std::vector<Idle> seen;
  worker.Start([&] {
    idling.Set();
    seen.push_back(worker.IdleUntil(hour()));
    busy1.Set();
    go1.Wait();
    seen.push_back(worker.IdleUntil(hour()));
    busy2.Set();
    go2.Wait();
    worker.ClearWake();
    seen.push_back(worker.IdleUntil(std::chrono::steady_clock::now() + 1ms));
    cleared.Set();
    seen.push_back(worker.IdleUntil(hour()));
  });
  ASSERT_TRUE(idling.WaitFor(60s));
  worker.Wake();
  ASSERT_TRUE(busy1.WaitFor(60s));
  worker.Wake();
  worker.Wake();  // one pending wake, however often asked
  go1.Set();
  ASSERT_TRUE(busy2.WaitFor(60s));
  worker.Wake();
  go2.Set();
  ASSERT_TRUE(cleared.WaitFor(60s));
  worker.RequestTerminate();
  ASSERT_TRUE(worker.WaitFinished(60s));
  worker.Join();
  EXPECT_EQ(seen,
            (std::vector<Idle>{Idle::kWoken, Idle::kWoken, Idle::kElapsed, Idle::kTerminate}));
}

TEST(WorkerThread, MisuseIsReported) {
  vx::WorkerThread worker;
  std::string joinError;
  vx::ManualResetEvent release;
  worker.Start([&] {
    try {
      worker.Join();
    } catch (const EkoException& e) {
      joinError = e.what();
    }
    release.Wait();
  });
  try {
    worker.Start([] {});
    ADD_FAILURE() << "second start accepted";
  } catch (const EkoException& e) {
    EXPECT_STREQ(e.what(), "Start: the thread is started already!");
  }
  release.Set();
  worker.Join();
  EXPECT_EQ(joinError, "Join: a thread cannot wait for itself!");

  // Joined: it may be started again, and a fresh run is not terminated.
  bool ran = false;
  worker.Start([&] { ran = !worker.TerminateRequested(); });
  worker.Join();
  EXPECT_TRUE(ran);
}

TEST(WorkerThread, NeverStartedIsFinishedAndJoinable) {
  vx::WorkerThread worker;
  EXPECT_FALSE(worker.Started());
  EXPECT_TRUE(worker.WaitFinished(0ms));
  worker.Join();
}

}  // namespace
