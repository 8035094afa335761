#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/lockedlist.h"

namespace {

using namespace std::chrono_literals;

TEST(LockedListThreads, PassesExcludeEachOther) {
  vx::LockedList<int> list;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  constexpr int kPasses = 2000;

  auto work = [&](int id) {
    for (int n = 0; n < kPasses; ++n) {
      auto pass = list.Lock();
      if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
      // Two entries per pass: another pass slipping in would split the pair. The yield
      // invites the other threads in.
      pass.Items().push_back(id);
      std::this_thread::yield();
      pass.Items().push_back(id);
      inside.fetch_sub(1);
    }
  };
  std::thread a(work, 1);
  std::thread b(work, 2);
  std::thread c([&] {
    for (int n = 0; n < 2 * kPasses; ++n) list.Add(3);
  });
  a.join();
  b.join();
  c.join();

  EXPECT_EQ(overlaps.load(), 0);
  auto items = list.Snapshot();
  ASSERT_EQ(items.size(), 6u * kPasses);
  int splitPairs = 0;
  for (std::size_t i = 0; i < items.size();) {
    if (items[i] == 3) {
      ++i;
      continue;
    }
    if (i + 1 == items.size() || items[i + 1] != items[i]) ++splitPairs;
    i += 2;
  }
  EXPECT_EQ(splitPairs, 0);
}

TEST(LockedListThreads, OtherThreadCannotLockDuringPass) {
  vx::LockedList<int> list;
  vx::ManualResetEvent holding;
  vx::ManualResetEvent release;
  std::thread holder([&] {
    auto pass = list.Lock();
    holding.Set();
    release.Wait();
  });
  ASSERT_TRUE(holding.WaitFor(60s));
  EXPECT_FALSE(list.TryLock().has_value());
  release.Set();
  holder.join();
  EXPECT_TRUE(list.TryLock().has_value());
}

// A walk in turn holds the list only between items: another thread reads it, adds to it
// and removes other items while the walk works on one; removing the item in work waits
// for that work. Items added meanwhile are reached in the same walk.
TEST(LockedListThreads, WalkInTurnLetsOthersAtTheListExceptTheItemInWork) {
  vx::LockedList<int> list;
  for (int i = 0; i < 3; ++i) list.Add(i);
  vx::ManualResetEvent inWork;
  vx::ManualResetEvent goOn;
  std::vector<int> visited;
  std::thread walker([&] {
    list.ForEachInTurn([&](int item) {
      visited.push_back(item);
      if (item == 1) {
        inWork.Set();
        (void)goOn.WaitFor(60s);
      }
      return true;
    });
  });
  ASSERT_TRUE(inWork.WaitFor(60s));
  EXPECT_TRUE(list.Contains(1));
  EXPECT_TRUE(list.TryLock().has_value());
  list.Add(7);
  EXPECT_TRUE(list.Remove(0));
  EXPECT_FALSE(goOn.IsSet()) << "nothing above waited for the item in work";
  std::thread releaser([&] {
    while (!list.RemovalWaiting()) std::this_thread::yield();
    goOn.Set();
  });
  EXPECT_TRUE(list.Remove(1));  // waits until the walk is done with it
  releaser.join();
  walker.join();
  EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 7}));
  EXPECT_EQ(list.Snapshot(), (std::vector<int>{2, 7}));
}

}  // namespace
