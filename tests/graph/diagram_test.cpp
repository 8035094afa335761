#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>

#include "graph/graphcanvas.h"
#include "graph/graphdiagram.h"
#include "graphtest.h"

namespace {

using vx::DataRange;
using vx::Rect;

class DiagramLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { vxtest::EnsureGuiApp(); }

  // Text height of "0" and width of "0" in a font, as the layout measures them.
  int HeightOf(const vx::GraphFont& f) {
    canvas.Font = f;
    return canvas.TextHeight("0");
  }
  int WidthOf(const vx::GraphFont& f) {
    canvas.Font = f;
    return canvas.TextWidth("0");
  }

  QImage image{400, 300, QImage::Format_RGB32};
  vx::GraphCanvas canvas{image};
  TkoGraphDiagram d{"Current"};
};

TEST_F(DiagramLayoutTest, HiddenTitleTakesNoRoom) {
  d.OuterRect = {10, 20, 310, 220};
  d.CalcLayout(canvas);
  EXPECT_EQ(d.TitleRect.Top, 20);
  EXPECT_EQ(d.TitleRect.Bottom, 20);
  EXPECT_EQ(d.PlotRect.Top, 21);
  EXPECT_EQ(d.PlotRect.Right, 309);
  EXPECT_EQ(d.TitleRect.Left, d.PlotRect.Left);
}

TEST_F(DiagramLayoutTest, VisibleTitleSitsAboveThePlot) {
  d.OuterRect = {10, 20, 310, 220};
  d.Title.SetVisible(true);
  d.Title.Font.Size = -12;
  d.CalcLayout(canvas);
  EXPECT_EQ(d.TitleRect.Bottom, 20 + HeightOf(d.Title.Font) + 2);
  EXPECT_EQ(d.PlotRect.Top, d.TitleRect.Bottom + 1);
}

TEST_F(DiagramLayoutTest, ScalesTakeRoomForTheirLabelsAndTitles) {
  struct Case {
    bool labels, xTitle, yTitle, dateAndTime;
    const char* picture;
  };
  const Case cases[] = {
      {true, true, true, false, "0.00"},   {true, false, false, false, "#,##0"},
      {false, false, true, false, "00.0"}, {true, true, false, true, "#0.0#"},
      {false, true, true, true, "000.0"},
  };
  for (const Case& c : cases) {
    TkoGraphDiagram g("g");
    g.OuterRect = {0, 0, 300, 200};
    TkoGraphScala& x = *g.ScaleX();
    TkoGraphScala& y = *g.ScaleY();
    x.LabelFormat.SetVisible(c.labels);
    y.LabelFormat.SetVisible(c.labels);  // does not count across a Y scale
    x.TextFormat.SetVisible(c.xTitle);
    y.TextFormat.SetVisible(c.yTitle);
    x.DateLabels = x.TimeLabels = c.dateAndTime;
    y.LabelFormat.SetText(c.picture);
    g.CalcLayout(canvas);

    const int h = HeightOf(x.LabelFormat.Font);
    const int depth = 5 + (c.labels ? h : 0) + (c.dateAndTime ? h : 0) +
                      (c.xTitle ? HeightOf(x.TextFormat.Font) + 2 : 0);
    // The Y labels get the room of their picture, or of the wider of the two end labels
    // they print (and a little air) when the font draws those wider: which one wins
    // depends on the machine's fonts, so both are measured.
    const int w = WidthOf(y.LabelFormat.Font);
    int labels = w * static_cast<int>(std::string(c.picture).size());
    canvas.Font = y.LabelFormat.Font;
    for (double v : {y.Min, y.Max})
      labels = std::max({labels, canvas.TextWidth(y.LabelText(v)) + 2,
                         canvas.TextWidth(y.LabelSecondLine(v)) + 2});
    const int width = 5 + labels + (c.yTitle ? HeightOf(y.TextFormat.Font) + 2 : 0);
    const Rect& p = g.PlotRect;
    EXPECT_EQ(x.Bounds, (Rect{p.Left - 1, 200 - depth, p.Right + 1, 200})) << c.picture;
    EXPECT_EQ(y.Bounds, (Rect{0, p.Top - 1, width, p.Bottom + 1})) << c.picture;
    EXPECT_EQ(p, (Rect{width + 1, 1, 299, 200 - depth - 1})) << c.picture;
    EXPECT_EQ(x.PlotRect, p);
    EXPECT_EQ(y.PlotRect, p);
  }
}

TEST_F(DiagramLayoutTest, YLabelsWiderThanTheirPictureStayClearOfTheTitle) {
  TkoGraphScala& y = *d.ScaleY();
  y.TextFormat.SetText("Speed");
  y.LabelFormat.SetText("0.00");
  for (double max : {1.0, 1500.0, -98765.4321}) {
    y.Min = -max;
    y.Max = max;
    d.OuterRect = {10, 20, 310, 220};
    d.CalcLayout(canvas);
    const int titleRoom = HeightOf(y.TextFormat.Font) + 2;
    canvas.Font = y.LabelFormat.Font;
    for (double v : {y.Min, y.Max}) {
      // Labels are right-aligned 6 pixels left of the scale's right edge.
      const int labelLeft = y.Bounds.Right - 6 - canvas.TextWidth(y.LabelText(v));
      EXPECT_GE(labelLeft, 10 + titleRoom) << v;
    }
  }
}

TEST_F(DiagramLayoutTest, ScalesAboveAndRightMirrorTheLayout) {
  TkoGraphDiagram g("g");
  g.OuterRect = {50, 40, 350, 240};
  g.Title.SetVisible(true);
  // Orientation is fixed at creation; a diagram with scales on the other sides replaces them.
  g.ScaleX()->Orientation = TkoGraphScala::kAbove;
  g.ScaleY()->Orientation = TkoGraphScala::kRight;
  g.ScaleY()->DateLabels = true;
  TkoGraphTraccia* t = g.AddTraccia("t");
  TkoGraphMarker* m = g.AddMarker("m");
  g.CalcLayout(canvas);
  const Rect& p = g.PlotRect;
  const Rect& x = g.ScaleX()->Bounds;
  const Rect& y = g.ScaleY()->Bounds;
  EXPECT_EQ(x.Top, g.TitleRect.Bottom + 1);
  EXPECT_EQ(p.Top, x.Bottom + 1);
  EXPECT_EQ(p.Bottom, 239);
  EXPECT_EQ(y.Right, 350);
  EXPECT_EQ(y.Left, 350 - 5 - 10 * WidthOf(g.ScaleY()->LabelFormat.Font) -
                        (HeightOf(g.ScaleY()->TextFormat.Font) + 2));
  EXPECT_EQ(p.Right, y.Left - 1);
  EXPECT_EQ(p.Left, 51);
  EXPECT_EQ(t->Bounds, p);
  EXPECT_EQ(m->Bounds, p);
}

struct RangeCase {
  const char* what;
  std::vector<std::vector<Tko2DPoint>> traces;  // one entry a trace
  std::vector<bool> visible;                    // empty: all visible
  std::vector<std::pair<Tko2DPoint, std::uint8_t>> markers;
  DataRange x, y;
};

TEST(DiagramRange, ComesFromVisibleTracesAndMarkers) {
  const RangeCase cases[] = {
      {"no trace", {}, {}, {}, {0, 0}, {0, 0}},
      {"empty trace", {{}}, {}, {}, {0, 0}, {0, 0}},
      {"one point", {{{5, 7}}}, {}, {}, {0, 0}, {0, 0}},
      {"all equal", {{{5, 7}, {5, 7}, {5, 7}}}, {}, {}, {0, 0}, {0, 0}},
      {"equal X only", {{{5, 1}, {5, 3}}}, {}, {}, {0, 0}, {1, 3}},
      {"negative", {{{-9, -700}, {-2, -10}}}, {}, {}, {-9, -2}, {-700, -10}},
      {"two traces join", {{{0, 0}, {1, 1}}, {{-4, 2}, {-3, 9}}}, {}, {}, {-4, 1}, {0, 9}},
      {"hidden trace left out",
       {{{0, 0}, {100, 100}}, {{2, 2}, {3, 3}}},
       {true, false},
       {},
       {0, 100},
       {0, 100}},
      // A hidden first trace does not pull 0 into the range of the others.
      {"hidden first trace",
       {{{0, 0}, {1, 1}}, {{2, 5}, {3, 6}}},
       {false, true},
       {},
       {2, 3},
       {5, 6}},
      {"marker widens its axes", {{{0, 0}, {1, 1}}}, {}, {{{5, -2}, 3}}, {0, 5}, {-2, 1}},
      {"marker on Y only", {{{0, 0}, {1, 1}}}, {}, {{{5, -2}, 2}}, {0, 1}, {-2, 1}},
      {"marker on X only", {{{0, 0}, {1, 1}}}, {}, {{{-5, 20}, 1}}, {-5, 1}, {0, 1}},
      {"unplaced marker", {{{0, 0}, {1, 1}}}, {}, {{{1e99, 1e99}, 3}}, {0, 1}, {0, 1}},
      {"marker alone", {}, {}, {{{4, 4}, 3}}, {0, 4}, {0, 4}},
  };
  for (const RangeCase& c : cases) {
    TkoGraphDiagram d("d");
    for (std::size_t i = 0; i < c.traces.size(); ++i) {
      TkoGraphTraccia* t = d.AddTraccia("t");
      for (const Tko2DPoint& p : c.traces[i]) t->AddPoint(p.X, p.Y, false);
      if (!c.visible.empty()) t->Visible = c.visible[i];
    }
    for (const auto& [pos, axes] : c.markers) {
      TkoGraphMarker* m = d.AddMarker("m");
      m->Position = pos;
      m->Axes = axes;
    }
    d.CalcRangeX();
    d.CalcRangeY();
    EXPECT_EQ((DataRange{d.ScaleX()->Min, d.ScaleX()->Max}), c.x) << c.what;
    EXPECT_EQ((DataRange{d.ScaleY()->Min, d.ScaleY()->Max}), c.y) << c.what;
  }
}

TEST(DiagramRange, HiddenMarkerTakesNoPart) {
  TkoGraphDiagram d("d");
  TkoGraphTraccia* t = d.AddTraccia("t");
  t->AddPoint(0, 0, false);
  t->AddPoint(1, 1, false);
  TkoGraphMarker* m = d.AddMarker("m");
  m->Position = {10, 10};
  m->Visible = false;
  d.CalcRangeX();
  EXPECT_EQ(d.ScaleX()->Max, 1);
}

TEST(DiagramCoord, ReadsBackTheDrawnValueWithinTheRange) {
  vxtest::EnsureGuiApp();
  QImage image(400, 300, QImage::Format_RGB32);
  vx::GraphCanvas canvas(image);
  TkoGraphDiagram d("d");
  d.OuterRect = {0, 0, 400, 300};
  TkoGraphTraccia* t = d.AddTraccia("t");
  t->AddPoint(-50, 2, false);
  t->AddPoint(150, 4, false);
  d.CalcLayout(canvas);
  d.CalcRangeX();
  d.CalcRangeY();
  const Rect& p = d.PlotRect;
  const TkoGraphScala& x = *d.ScaleX();
  const TkoGraphScala& y = *d.ScaleY();
  for (double v : {-50.0, -10.0, 0.0, 33.3, 150.0}) {
    Tko2DPoint c;
    d.CoordAtPos(QPoint(x.ToPixelX(v, p), y.ToPixelY(3.0, p)), c);
    EXPECT_NEAR(c.X, v, 1 / x.PixelsPerUnit()) << v;
    EXPECT_NEAR(c.Y, 3.0, 1 / y.PixelsPerUnit());
  }
  // Outside the plot the coordinates stop at the ends of the ranges.
  Tko2DPoint c;
  d.CoordAtPos(QPoint(0, 299), c);
  EXPECT_EQ(c.X, -50);
  EXPECT_EQ(c.Y, 2);
  d.CoordAtPos(QPoint(399, 0), c);
  EXPECT_EQ(c.X, 150);
  EXPECT_EQ(c.Y, 4);
}

}  // namespace
