#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

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
