#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "platform/koexception.h"
#include "platform/queuedispatcher.h"
#include "watchdog.h"

namespace {

using namespace std::chrono_literals;

TEST(UiDispatcherInstall, InstallReplacesAndScopeRestores) {
  ASSERT_EQ(vx::UiDispatcher::Current(), nullptr);
  vx::QueueDispatcher outer;
  {
    vx::ScopedDispatcher a(outer);
    EXPECT_EQ(vx::UiDispatcher::Current(), &outer);
    {
      vx::QueueDispatcher inner;
      vx::ScopedDispatcher b(inner);
      EXPECT_EQ(vx::UiDispatcher::Current(), &inner);
    }
    EXPECT_EQ(vx::UiDispatcher::Current(), &outer);
  }
  EXPECT_EQ(vx::UiDispatcher::Current(), nullptr);

  // A dispatcher destroyed while installed does not stay installed.
  {
    vx::QueueDispatcher leaving;
    vx::UiDispatcher::Install(&leaving);
  }
  EXPECT_EQ(vx::UiDispatcher::Current(), nullptr);
}

TEST(UiDispatcherInstall, WithoutDispatcherHandOverFailsAndPostIsRefused) {
  ASSERT_EQ(vx::UiDispatcher::Current(), nullptr);
  bool ran = false;
  try {
    vx::HandOver([&] { ran = true; });
    FAIL() << "no exception";
  } catch (const EkoException& e) {
    EXPECT_STREQ(e.what(), "HandOver: no user-interface dispatcher installed!");
  }
  EXPECT_FALSE(ran);

  vx::MessageReceiver receiver([](const vx::Message&) {});
  EXPECT_FALSE(receiver.Post({1, 0, 0}));
}

class QueueFixture : public ::testing::Test {
 protected:
  vx::QueueDispatcher dispatcher_;
  vx::ScopedDispatcher installed_{dispatcher_};
};

TEST_F(QueueFixture, HandOverOnUiThreadRunsAtOnceAndNests) {
  std::vector<int> order;
  vx::HandOver([&] {
    order.push_back(1);
    vx::HandOver([&] { order.push_back(2); });
    order.push_back(3);
  });
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(dispatcher_.PendingHandOvers(), 0u);
}

TEST_F(QueueFixture, MessagesArriveInOrderWithTheirWords) {
  std::vector<vx::Message> got;
  vx::MessageReceiver receiver([&](const vx::Message& m) { got.push_back(m); });
  EXPECT_TRUE(receiver.Post({1, 10, -20}));
  EXPECT_TRUE(receiver.Post({2, INT64_MAX, INT64_MIN}));
  EXPECT_TRUE(got.empty());  // posting never delivers on the spot

  EXPECT_EQ(dispatcher_.PumpPending(), 2u);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Code, 1u);
  EXPECT_EQ(got[0].First, 10);
  EXPECT_EQ(got[0].Second, -20);
  EXPECT_EQ(got[1].Code, 2u);
  EXPECT_EQ(got[1].First, INT64_MAX);
  EXPECT_EQ(got[1].Second, INT64_MIN);
}

TEST_F(QueueFixture, MessagesForDestroyedReceiverAreDropped) {
  int delivered = 0;
  auto doomed = std::make_unique<vx::MessageReceiver>([&](const vx::Message&) { ++delivered; });
  vx::MessageReceiver survivor([&](const vx::Message&) { delivered += 100; });
  vx::ReceiverRef ref = doomed->Ref();
  EXPECT_TRUE(ref.Post({1, 0, 0}));
  EXPECT_TRUE(survivor.Post({1, 0, 0}));
  EXPECT_TRUE(ref.Post({2, 0, 0}));

  doomed.reset();
  EXPECT_FALSE(ref.Alive());
  EXPECT_FALSE(ref.Post({3, 0, 0}));
  EXPECT_FALSE(vx::ReceiverRef().Post({3, 0, 0}));

  EXPECT_EQ(dispatcher_.PumpPending(), 3u);
  EXPECT_EQ(delivered, 100);
  EXPECT_EQ(dispatcher_.PendingMessages(), 0u);
}

TEST_F(QueueFixture, ReceiverDestroyedByItsOwnHandlerGetsNothingMore) {
  int delivered = 0;
  std::unique_ptr<vx::MessageReceiver> receiver;
  receiver = std::make_unique<vx::MessageReceiver>([&](const vx::Message&) {
    ++delivered;
    receiver.reset();
  });
  receiver->Post({1, 0, 0});
  receiver->Post({2, 0, 0});
  dispatcher_.PumpPending();
  EXPECT_EQ(delivered, 1);
  EXPECT_EQ(receiver, nullptr);
}

TEST_F(QueueFixture, PumpGivesUpAtItsDeadline) {
  EXPECT_FALSE(dispatcher_.PumpOne(0ms));
  EXPECT_FALSE(dispatcher_.PumpOne(10ms));
  EXPECT_FALSE(dispatcher_.PumpUntil([] { return false; }, 10ms));
  EXPECT_TRUE(dispatcher_.PumpUntil([] { return true; }, 0ms));

  // Also when the queue never runs dry.
  vx::MessageReceiver* self = nullptr;
  int delivered = 0;
  vx::MessageReceiver echo([&](const vx::Message& m) {
    ++delivered;
    self->Post(m);
  });
  self = &echo;
  echo.Post({1, 0, 0});
  vxtest::Watchdog watchdog(vxtest::kGenerous, "pumping an endless queue for 10 ms");
  EXPECT_FALSE(dispatcher_.PumpUntil([] { return false; }, 10ms));
  EXPECT_GT(delivered, 0);
}

// A handler that posts again must not keep one round of processing going for ever.
TEST_F(QueueFixture, ProcessPendingHandlesOnlyWhatWasQueuedOnEntry) {
  int delivered = 0;
  vx::MessageReceiver* self = nullptr;
  vx::MessageReceiver echo([&](const vx::Message& m) {
    ++delivered;
    self->Post(m);
  });
  self = &echo;
  echo.Post({1, 0, 0});
  vxtest::Watchdog watchdog(vxtest::kGenerous, "processing a self-posting handler");
  EXPECT_EQ(dispatcher_.PumpPending(), 1u);
  EXPECT_EQ(dispatcher_.PumpPending(), 1u);
  EXPECT_EQ(delivered, 2);
  EXPECT_EQ(dispatcher_.PendingMessages(), 1u);
}

// A toolkit dispatcher turns WakeUi into one event: it must come once per round of
// work, and again after the round was processed.
class CountingDispatcher : public vx::UiDispatcher {
 public:
  int wakes = 0;

 protected:
  void WakeUi() override { ++wakes; }
};

TEST(UiDispatcherWake, OneWakePerOutstandingRound) {
  CountingDispatcher dispatcher;
  vx::ScopedDispatcher installed(dispatcher);
  int delivered = 0;
  vx::MessageReceiver receiver([&](const vx::Message&) { ++delivered; });

  receiver.Post({1, 0, 0});
  receiver.Post({2, 0, 0});
  EXPECT_EQ(dispatcher.wakes, 1);
  EXPECT_EQ(dispatcher.ProcessPending(), 2u);
  EXPECT_EQ(delivered, 2);

  receiver.Post({3, 0, 0});
  EXPECT_EQ(dispatcher.wakes, 2);
}

}  // namespace
