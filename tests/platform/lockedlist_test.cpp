#include "platform/lockedlist.h"

#include <gtest/gtest.h>

namespace {

TEST(LockedList, AddUniqueRemoveAndContains) {
  vx::LockedList<int> list;
  EXPECT_TRUE(list.AddUnique(1));
  EXPECT_TRUE(list.AddUnique(2));
  EXPECT_FALSE(list.AddUnique(1));
  list.Add(1);  // plain Add keeps duplicates
  EXPECT_EQ(list.Snapshot(), (std::vector<int>{1, 2, 1}));

  EXPECT_TRUE(list.Remove(1));  // first occurrence only
  EXPECT_EQ(list.Snapshot(), (std::vector<int>{2, 1}));
  EXPECT_TRUE(list.Contains(1));
  EXPECT_FALSE(list.Remove(7));
  EXPECT_EQ(list.Size(), 2u);
}

// Items that remove themselves from the list while a pass walks it, as owned objects do
// when the owner destroys them under its lock.
TEST(LockedList, PassReentersOnSameThreadAndSurvivesSelfRemoval) {
  vx::LockedList<int> list;
  for (int i = 0; i < 5; ++i) list.Add(i);

  auto pass = list.Lock();
  ASSERT_TRUE(list.TryLock().has_value());  // the holder may lock again
  int visited = 0;
  while (pass.Size() > 0) {
    int item = pass[pass.Size() - 1];
    EXPECT_TRUE(list.Remove(item));
    ++visited;
  }
  EXPECT_EQ(visited, 5);
  EXPECT_EQ(list.Size(), 0u);
}

}  // namespace
