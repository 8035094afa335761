#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/lockedlist.h"
#include "platform/queuedispatcher.h"
#include "platform/workerthread.h"
#include "watchdog.h"

namespace {

using namespace std::chrono_literals;
constexpr auto kLong = std::chrono::milliseconds(vxtest::kGenerous);

// Shaped like a connection: it owns a worker that, every cycle, walks the item list
// under its lock, posts a result to its receiver and hands a state change over to the
// user-interface thread. The worker's last act hands over the clean-up that frees the
// items, so a clean-up that never runs shows up as a leak.
class CyclingOwner {
 public:
  explicit CyclingOwner(bool& cleanedUp)
      : cleanedUp_(cleanedUp), receiver_([this](const vx::Message& m) { lastResult_ = m.First; }) {
    for (int i = 0; i < 3; ++i) items_.Add(new Item);
    worker_.Start([this] { Body(); });
  }
  ~CyclingOwner() {
    worker_.RequestTerminate();
    worker_.Join();
  }
  CyclingOwner(const CyclingOwner&) = delete;
  CyclingOwner& operator=(const CyclingOwner&) = delete;

  int StateChanges() const { return stateChanges_; }
  void AddItem() { items_.Add(new Item); }

 private:
  struct Item {
    std::vector<char> data = std::vector<char>(256);
    int runs = 0;
  };

  void Body() {
    std::int64_t cycle = 0;
    while (!worker_.TerminateRequested()) {
      ++cycle;
      {
        auto pass = items_.Lock();
        for (Item* item : pass) ++item->runs;
      }
      receiver_.Post({1, cycle, 0});
      vx::HandOver([this, cycle] {
        ++stateChanges_;
        lastState_ = cycle;
      });
      worker_.SleepUnlessTerminated(1ms);
    }
    vx::HandOver([this] { EndOfThread(); });
  }

  void EndOfThread() {
    auto pass = items_.Lock();
    for (Item* item : pass) delete item;
    pass.Items().clear();
    cleanedUp_ = true;
  }

  bool& cleanedUp_;
  vx::LockedList<Item*> items_;
  vx::MessageReceiver receiver_;
  int stateChanges_ = 0;
  std::int64_t lastState_ = 0;
  std::int64_t lastResult_ = 0;
  vx::WorkerThread worker_;
};

TEST(OwnerWithWorker, DestroyedFromUiThreadMidCycleEndsCleanly) {
  vx::QueueDispatcher dispatcher;
  vx::ScopedDispatcher installed(dispatcher);
  struct Case {
    const char* name;
    bool blockedInHandOver;  // else: destroyed at once, wherever the worker is
    int repeats;
  };
  const Case cases[] = {
      {"worker blocked in a hand-over, results queued", true, 5},
      {"destroyed right after start", false, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int n = 0; n < c.repeats; ++n) {
      bool cleanedUp = false;
      auto owner = std::make_unique<CyclingOwner>(cleanedUp);
      if (c.blockedInHandOver) {
        ASSERT_TRUE(dispatcher.PumpUntil([&] { return owner->StateChanges() >= 3; }, kLong));
        owner->AddItem();
        ASSERT_TRUE(dispatcher.WaitForHandOver(kLong));
      }
      {
        vxtest::Watchdog watchdog(vxtest::kGenerous, c.name);
        owner.reset();
      }
      EXPECT_TRUE(cleanedUp);
      EXPECT_EQ(dispatcher.PendingHandOvers(), 0u);
      // Results of the dead owner are dropped, not delivered into freed memory.
      dispatcher.PumpPending();
      EXPECT_EQ(dispatcher.PendingMessages(), 0u);
    }
  }
}

}  // namespace
