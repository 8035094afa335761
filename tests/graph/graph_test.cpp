#include "graph/graph.h"

#include <gtest/gtest.h>

#include <QPainter>

#include "graph/graphcanvas.h"
#include "graphtest.h"

namespace {

class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vxtest::EnsureGuiApp();
    graph.Bounds = {0, 0, 400, 300};
    back = graph.AddDgr("Back");
    front = graph.AddDgr("Front");
    back->OuterRect = {0, 0, 300, 200};
    front->OuterRect = {100, 100, 400, 300};  // overlaps Back in (100..300, 100..200)
  }

  TkoGraph graph;
  TkoGraphDiagram* back = nullptr;
  TkoGraphDiagram* front = nullptr;
};

TEST_F(GraphTest, FindsDiagramsByNameAndPosition) {
  EXPECT_EQ(graph.GetDgr("Back"), back);
  EXPECT_EQ(graph.GetDgr("Front"), front);
  EXPECT_EQ(graph.GetDgr("front"), nullptr);  // letter case counts
  EXPECT_EQ(graph.GetDgr(""), nullptr);
  EXPECT_EQ(graph.GetDgr(0), back);
  EXPECT_EQ(graph.GetDgr(1), front);
  EXPECT_EQ(graph.GetDgr(2), nullptr);
  EXPECT_EQ(graph.GetDgr(-1), nullptr);
  TkoGraphDiagram* twin = graph.AddDgr("Back");
  EXPECT_EQ(graph.GetDgr("Back"), back);  // the first from the back
  EXPECT_NE(twin, back);
}

TEST_F(GraphTest, BringToFrontReordersPaintingAndClicks) {
  graph.BringToFront(back);
  EXPECT_EQ(graph.GetDgr(graph.DgrCount() - 1), back);
  EXPECT_EQ(graph.GetDgr(0), front);
  graph.BringToFront(nullptr);
  TkoGraphDiagram stranger("x");
  graph.BringToFront(&stranger);
  EXPECT_EQ(graph.DgrCount(), 2);
  EXPECT_EQ(graph.GetDgr(1), back);
  graph.SelectAtPos(QPoint(150, 150));
  EXPECT_EQ(graph.SelectedDgr(), back);
}

TEST_F(GraphTest, ClickSelectsTheFrontmostVisibleDiagramStrictlyInside) {
  struct Case {
    QPoint at;
    bool frontVisible;
    int want;  // 0 nothing, 1 Back, 2 Front
  };
  const Case cases[] = {
      {{150, 150}, true, 2}, {{150, 150}, false, 1}, {{50, 50}, true, 1},
      {{350, 250}, true, 2}, {{100, 150}, true, 1},  // on Front's left edge: inside Back only
      {{0, 50}, true, 0},                            // on Back's edge
      {{300, 50}, true, 0},  {{350, 250}, false, 0}, {{-5, -5}, true, 0},
  };
  for (const Case& c : cases) {
    front->Visible = c.frontVisible;
    graph.SetSelectedDgr(nullptr);
    graph.SelectAtPos(c.at);
    TkoGraphDiagram* want = c.want == 1 ? back : c.want == 2 ? front : nullptr;
    EXPECT_EQ(graph.SelectedDgr(), want) << c.at.x() << "," << c.at.y();
  }
}

TEST_F(GraphTest, DgrAtPosSearchesFromTheBackWhateverIsVisible) {
  back->Visible = false;
  EXPECT_EQ(graph.DgrAtPos(QPoint(150, 150)), back);
  EXPECT_EQ(graph.DgrAtPos(QPoint(350, 250)), front);
  EXPECT_EQ(graph.DgrAtPos(QPoint(300, 200)), front);
  EXPECT_EQ(graph.DgrAtPos(QPoint(400, 300)), nullptr);
}

TEST_F(GraphTest, CoordAtCurPosAnswersTheDiagramIndex) {
  graph.RenderTo(nullptr);  // lays the diagrams out
  Tko2DPoint c{-1, -1};
  EXPECT_EQ(graph.CoordAtCurPos(QPoint(150, 150), c), 1);
  EXPECT_EQ(graph.CoordAtCurPos(QPoint(50, 50), c), 0);
  EXPECT_EQ(graph.CoordAtCurPos(QPoint(0, 0), c), -1);
}

TEST_F(GraphTest, ClearAllForgetsTheSelection) {
  graph.SelectAtPos(QPoint(150, 150));
  ASSERT_EQ(graph.SelectedDgr(), front);
  graph.ClearAll();
  EXPECT_EQ(graph.SelectedDgr(), nullptr);
  EXPECT_EQ(graph.DgrCount(), 0);
  EXPECT_EQ(graph.GetDgr(0), nullptr);
  graph.SelectAtPos(QPoint(150, 150));
  EXPECT_EQ(graph.SelectedDgr(), nullptr);
}

// Element selection needs the value boxes drawn, so these tests render first.
class ElementSelectionTest : public GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    t1 = front->AddTraccia("first");
    t2 = front->AddTraccia("second");
    for (int i = 0; i < 10; ++i) {
      t1->AddPoint(i, i, false);
      t2->AddPoint(i, 9 - i, false);
    }
    marker = front->AddMarker("m");
    marker->Position = {4, 4};
    graph.RenderTo(nullptr);
  }

  QPoint Centre(const vx::Rect& r) { return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2}; }

  TkoGraphTraccia* t1 = nullptr;
  TkoGraphTraccia* t2 = nullptr;
  TkoGraphMarker* marker = nullptr;
};

TEST_F(ElementSelectionTest, MarkerValueBoxesSelectTheMarker) {
  ASSERT_GT(marker->LabelRectY.Width(), 0);
  ASSERT_GT(marker->LabelRectX.Width(), 0);
  graph.SelectAtPos(Centre(marker->LabelRectY));
  EXPECT_EQ(front->SelectedElement(), marker);
  EXPECT_TRUE(marker->Selected);
  EXPECT_EQ(marker->SelectedPart, 2);

  graph.SetSelectedDgr(nullptr);
  EXPECT_FALSE(marker->Selected);
  graph.SelectAtPos(Centre(marker->LabelRectX));
  EXPECT_EQ(front->SelectedElement(), marker);
  EXPECT_EQ(marker->SelectedPart, 1);
}

TEST_F(ElementSelectionTest, PlotClickSelectsTheLastVisibleTraceWithItsCursor) {
  const vx::Rect& p = front->PlotRect;
  const QPoint at{p.Left + p.Width() / 2, p.Top + p.Height() / 2};
  graph.SelectAtPos(at);
  EXPECT_EQ(front->SelectedElement(), t2);
  ASSERT_TRUE(t2->CursorPoint.has_value());
  EXPECT_NEAR(t2->CursorPoint->X, 4.5, 9.0 / p.Width());
  EXPECT_NEAR(t2->CursorPoint->Y, 4.5, 9.0 / p.Height());

  graph.SetSelectedDgr(nullptr);
  t2->Visible = false;
  graph.SelectAtPos(at);
  EXPECT_EQ(front->SelectedElement(), t1);
}

TEST_F(ElementSelectionTest, SelectionStaysWhileTheDiagramStaysSelected) {
  graph.SelectAtPos(Centre(marker->LabelRectY));
  ASSERT_EQ(front->SelectedElement(), marker);
  // Another click in the same diagram, now on the plot, keeps the marker.
  graph.SelectAtPos(QPoint(front->PlotRect.Left + 5, front->PlotRect.Top + 5));
  EXPECT_EQ(front->SelectedElement(), marker);
  // A click on another diagram clears it.
  graph.SelectAtPos(QPoint(50, 50));
  EXPECT_EQ(graph.SelectedDgr(), back);
  EXPECT_EQ(front->SelectedElement(), nullptr);
  EXPECT_FALSE(marker->Selected);
  // So does a click outside every diagram, after selecting again.
  graph.SelectAtPos(Centre(marker->LabelRectY));
  graph.SelectAtPos(QPoint(399, 10));
  EXPECT_EQ(graph.SelectedDgr(), nullptr);
  EXPECT_EQ(front->SelectedElement(), nullptr);
}

TEST_F(ElementSelectionTest, MarkerOutOfRangeCannotBeHit) {
  const vx::Rect oldBox = marker->LabelRectY;
  marker->Position = {1e99, 1e99};
  graph.RenderTo(nullptr);
  EXPECT_EQ(marker->LabelRectX, vx::Rect{});
  EXPECT_EQ(marker->LabelRectY, vx::Rect{});
  graph.SelectAtPos(Centre(oldBox));
  EXPECT_NE(front->SelectedElement(), marker);
}

TEST_F(ElementSelectionTest, LegendCellsSelectTheirTrace) {
  TkoGraphLegenda& legend = *front->Legend();
  legend.Bounds = {front->PlotRect.Left + 10, front->PlotRect.Top + 10, 0, 0};
  legend.Columns = 2;
  // A hidden legend is not hit: the click lands on the plot, which gives the last trace.
  graph.RenderTo(nullptr);
  graph.SelectAtPos(QPoint(legend.Bounds.Left + 5, legend.Bounds.Top + 5));
  EXPECT_EQ(front->SelectedElement(), t2);

  legend.Visible = true;
  graph.SetSelectedDgr(nullptr);
  graph.RenderTo(nullptr);
  ASSERT_EQ(legend.Rows, 1);
  ASSERT_GT(legend.CellWidth, 0);
  const int y = legend.Bounds.Top + legend.CellHeight / 2;
  graph.SelectAtPos(QPoint(legend.Bounds.Left + legend.CellWidth / 2, y));
  EXPECT_EQ(front->SelectedElement(), t1);
  graph.SelectAtPos(QPoint(legend.Bounds.Left + legend.CellWidth + legend.CellWidth / 2, y));
  EXPECT_EQ(front->SelectedElement(), t2);
}

TEST(Legend, ListsOnlyFullRowsAndShowsEmpty) {
  vxtest::EnsureGuiApp();
  QImage image(300, 200, QImage::Format_RGB32);
  image.fill(Qt::black);
  TkoGraphLegenda::TraceList traces;
  TkoGraphLegenda legend("", &traces);
  legend.Visible = true;
  legend.Bounds = {10, 10, 0, 0};
  {
    vx::GraphCanvas canvas(image);
    ASSERT_TRUE(legend.Draw(&canvas));
  }
  // "Empty" in the legend's white text, and no grid box.
  EXPECT_GT(vxtest::CountOther(image, {10, 10, 60, 30}, Qt::black), 0);

  for (const char* name : {"a", "b", "c"})
    traces.push_back(std::make_unique<TkoGraphTraccia>(name));
  legend.Columns = 2;
  {
    vx::GraphCanvas canvas(image);
    ASSERT_TRUE(legend.Draw(&canvas));
  }
  EXPECT_EQ(legend.Rows, 1);
  EXPECT_EQ(legend.Columns, 2);
  const QPoint third{legend.Bounds.Left + legend.CellWidth / 2,
                     legend.Bounds.Top + legend.CellHeight + legend.CellHeight / 2};
  EXPECT_EQ(legend.TraceAt(third), nullptr);
  EXPECT_EQ(
      legend.TraceAt(QPoint(legend.Bounds.Left + legend.CellWidth + 3, legend.Bounds.Top + 3)),
      traces[1].get());

  legend.Columns = 5;  // more columns than traces: one row of all three
  {
    vx::GraphCanvas canvas(image);
    ASSERT_TRUE(legend.Draw(&canvas));
  }
  EXPECT_EQ(legend.Columns, 3);
  EXPECT_EQ(legend.Rows, 1);

  legend.Columns = 0;  // not a usable count: treated as one column
  {
    vx::GraphCanvas canvas(image);
    ASSERT_TRUE(legend.Draw(&canvas));
  }
  EXPECT_EQ(legend.Columns, 1);
  EXPECT_EQ(legend.Rows, 3);
}

}  // namespace
