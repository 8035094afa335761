#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "graph/graphtraccia.h"

namespace {

using vx::DataRange;

TEST(Traccia, RangesFollowThePoints) {
  struct Case {
    const char* what;
    std::vector<Tko2DPoint> points;
    DataRange x, y;
  };
  const Case cases[] = {
      {"one point", {{3, -4}}, {3, 3}, {-4, -4}},
      {"all equal", {{2, 2}, {2, 2}, {2, 2}}, {2, 2}, {2, 2}},
      {"negative", {{-5, -1}, {-9, -3}, {-7, -2}}, {-9, -5}, {-3, -1}},
      {"max then min", {{0, 0}, {10, 5}, {-10, -5}}, {-10, 10}, {-5, 5}},
      // A point that is not finite is a gap in the drawing and counts in no range.
      {"nan first", {{std::numeric_limits<double>::quiet_NaN(), 1}, {4, 2}}, {4, 4}, {1, 2}},
      {"infinite", {{1, 1}, {std::numeric_limits<double>::infinity(), 7}}, {1, 1}, {1, 7}},
  };
  for (const Case& c : cases) {
    TkoGraphTraccia t("t");
    for (const Tko2DPoint& p : c.points) t.AddPoint(p.X, p.Y, false);
    EXPECT_EQ(t.RangeX(), c.x) << c.what;
    EXPECT_EQ(t.RangeY(), c.y) << c.what;
    // Recomputing from the points agrees with the running ranges.
    t.CalcRange();
    EXPECT_EQ(t.RangeX(), c.x) << c.what;
    EXPECT_EQ(t.RangeY(), c.y) << c.what;
  }
}

TEST(Traccia, DroppingTheOldestBoundsTheListAndNarrowsTheRange) {
  TkoGraphTraccia t("t");
  constexpr int kLimit = 320;
  for (int i = 0; i < kLimit + 80; ++i) t.AddPoint(i, i % 2 == 0 ? i : -i, t.Count() >= kLimit);
  ASSERT_EQ(t.Count(), kLimit);
  EXPECT_EQ(t.Points().front().X, 80);  // the 80 oldest went first
  EXPECT_EQ(t.Points().back().X, kLimit + 79);
  EXPECT_EQ(t.RangeX(), (DataRange{80, kLimit + 79}));
  EXPECT_EQ(t.RangeY(), (DataRange{-(kLimit + 79), kLimit + 78}));
}

TEST(Traccia, DropFlagNeverEmptiesTheTrace) {
  TkoGraphTraccia t("t");
  t.AddPoint(1, 1, true);  // nothing to drop
  t.AddPoint(2, 2, true);  // a trace of one point keeps it
  ASSERT_EQ(t.Count(), 2);
  t.AddPoint(3, 3, true);
  ASSERT_EQ(t.Count(), 2);
  EXPECT_EQ(t.Points().front().X, 2);
}

TEST(Traccia, DeleteFirstKeepsAtLeastOnePoint) {
  struct Case {
    int n;
    int left;
  };
  const Case cases[] = {{0, 4}, {-2, 4}, {1, 3}, {3, 1}, {4, 4}, {9, 4}};
  for (const Case& c : cases) {
    TkoGraphTraccia t("t");
    for (int i = 1; i <= 4; ++i) t.AddPoint(i, 10 * i, false);
    t.DeleteFirst(c.n);
    EXPECT_EQ(t.Count(), c.left) << c.n;
    EXPECT_EQ(t.RangeX().Min, 5 - c.left) << c.n;
    EXPECT_EQ(t.RangeY().Max, 40) << c.n;
  }
}

TEST(Traccia, ClearKeepsTheRangesUntilTheNextPoint) {
  TkoGraphTraccia t("t");
  t.AddPoint(-3, 8, false);
  t.AddPoint(5, 9, false);
  t.Clear();
  EXPECT_EQ(t.Count(), 0);
  EXPECT_EQ(t.RangeX(), (DataRange{-3, 5}));
  EXPECT_EQ(t.RangeY(), (DataRange{8, 9}));
  t.AddPoint(100, 200, false);
  EXPECT_EQ(t.RangeX(), (DataRange{100, 100}));
  EXPECT_EQ(t.RangeY(), (DataRange{200, 200}));
  t.AddPoint(50, 300, false);
  EXPECT_EQ(t.RangeX(), (DataRange{50, 100}));
  EXPECT_EQ(t.RangeY(), (DataRange{200, 300}));
}

}  // namespace
