#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>
#include <QPalette>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>

#include "graph/graph.h"
#include "graph/graphcanvas.h"
#include "graphtest.h"
#include "platform/koexception.h"
#include "samplescope.h"

namespace {

const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kPlot(0, 0, 64);

// The plot area with the pixels the layout fills (Right and Bottom included).
vx::Rect Inclusive(const vx::Rect& r) {
  return {r.Left, r.Top, r.Right + 1, r.Bottom + 1};
}

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vxtest::EnsureGuiApp();
    graph.Bounds = {0, 0, 320, 240};
    d = graph.AddDgr("Diagram");
    d->OuterRect = {0, 0, 320, 240};
    d->PlotColor = kPlot;
    trace = d->AddTraccia("Trace");
    trace->LineFormat.Pen.Color = kRed;
  }

  const QImage& Render() {
    graph.RenderTo(nullptr);
    return graph.Bitmap();
  }

  TkoGraph graph;
  TkoGraphDiagram* d = nullptr;
  TkoGraphTraccia* trace = nullptr;
};

TEST_F(RenderTest, EmptyGraphIsPlainButtonFace) {
  graph.ClearAll();
  graph.Bounds = {5, 7, 105, 57};
  const QImage& image = Render();
  ASSERT_EQ(image.size(), QSize(100, 50));
  const QColor face = QGuiApplication::palette().color(QPalette::Button);
  EXPECT_EQ(vxtest::CountColor(image, {0, 0, 100, 50}, face), 100 * 50);
}

TEST_F(RenderTest, EveryLineStyleStaysInsideThePlot) {
  // Fixed ranges that the points leave on every side.
  d->AutoRangeX = d->AutoRangeY = false;
  d->ScaleX()->Min = 0;
  d->ScaleX()->Max = 10;
  d->ScaleY()->Min = -5;
  d->ScaleY()->Max = 5;
  const Tko2DPoint points[] = {{-3, 0}, {1, 1}, {2, 9}, {4, -2}, {6, -40}, {8, 3}, {14, 4}};
  for (const Tko2DPoint& p : points) trace->AddPoint(p.X, p.Y, false);
  trace->LineFormat.Brush.SetColor(kRed);
  struct Case {
    std::uint8_t line, point;
  };
  const Case cases[] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {1, 1}, {0, 2}, {2, 3}, {1, 4}};
  for (const Case& c : cases) {
    trace->LineStyle = c.line;
    trace->PointStyle = c.point;
    const QImage& image = Render();
    const vx::Rect plot = Inclusive(d->PlotRect);
    EXPECT_EQ(vxtest::CountColorOutside(image, plot, kRed), 0)
        << "line " << int(c.line) << " point " << int(c.point);
    // The point (1, 1) lies inside the ranges and is drawn in the trace's colour.
    const int px = d->ScaleX()->ToPixelX(1, d->PlotRect);
    const int py = d->ScaleY()->ToPixelY(1, d->PlotRect);
    EXPECT_EQ(QColor(image.pixel(px, py)), kRed)
        << "line " << int(c.line) << " point " << int(c.point);
  }
}

TEST_F(RenderTest, BarsReachTheZeroLineFromBothSides) {
  d->AutoRangeX = d->AutoRangeY = false;
  d->ScaleX()->Max = 3;
  d->ScaleY()->Min = -10;
  d->ScaleY()->Max = 10;
  trace->LineStyle = TkoGraphTraccia::kLineBars;
  trace->LineFormat.Brush.SetColor(kRed);
  trace->AddPoint(0, 5, false);
  trace->AddPoint(1, -5, false);
  trace->AddPoint(2, 8, false);
  const QImage& image = Render();
  const TkoGraphScala& x = *d->ScaleX();
  const TkoGraphScala& y = *d->ScaleY();
  const vx::Rect& p = d->PlotRect;
  const int zero = y.ToPixelY(0, p);
  const int mid = (x.ToPixelX(0, p) + x.ToPixelX(1, p)) / 2;
  EXPECT_EQ(QColor(image.pixel(mid, (zero + y.ToPixelY(5, p)) / 2)), kRed);
  const int mid2 = (x.ToPixelX(1, p) + x.ToPixelX(2, p)) / 2;
  EXPECT_EQ(QColor(image.pixel(mid2, (zero + y.ToPixelY(-5, p)) / 2)), kRed);
  // The last bar is one pixel wide, at its point.
  const int last = x.ToPixelX(2, p);
  EXPECT_EQ(QColor(image.pixel(last, zero - 3)), kRed);
  EXPECT_EQ(QColor(image.pixel(last + 2, zero - 3)), kPlot);
}

TEST_F(RenderTest, MarkerLinesFollowTheirAxesAndRanges) {
  d->AutoRangeX = d->AutoRangeY = false;
  d->ScaleX()->Max = 100;
  d->ScaleY()->Max = 100;
  TkoGraphMarker* m = d->AddMarker("M");
  m->LineFormat.Pen.Color = kYellow;
  m->LabelFormat.SetVisible(false);
  struct Case {
    Tko2DPoint at;
    std::uint8_t axes;
    bool vertical, horizontal;
  };
  const Case cases[] = {
      {{30, 60}, 3, true, true},   {{30, 60}, 1, true, false},  {{30, 60}, 2, false, true},
      {{130, 60}, 3, false, true}, {{30, -60}, 3, true, false}, {{1e99, 1e99}, 3, false, false},
  };
  for (const Case& c : cases) {
    m->Position = c.at;
    m->Axes = c.axes;
    const QImage& image = Render();
    const vx::Rect& p = d->PlotRect;
    const int px = d->ScaleX()->ToPixelX(30, p);
    const int py = d->ScaleY()->ToPixelY(60, p);
    // Away from the crossing, along each line.
    const int onVertical = vxtest::CountColor(image, {px, p.Top, px + 1, py - 2}, kYellow);
    const int onHorizontal = vxtest::CountColor(image, {px + 2, py, p.Right + 1, py + 1}, kYellow);
    EXPECT_EQ(onVertical > 0, c.vertical) << c.at.X << "," << c.at.Y << " axes " << int(c.axes);
    EXPECT_EQ(onHorizontal > 0, c.horizontal) << c.at.X << "," << c.at.Y << " axes " << int(c.axes);
  }
}

TEST_F(RenderTest, SelectionBoxBesideTheTitleTakesTheTraceColour) {
  d->Title.SetVisible(true);
  trace->AddPoint(0, 0, false);
  trace->AddPoint(1, 1, false);
  Render();
  const vx::Rect title = d->TitleRect;
  const vx::Rect beside{title.Left + 40, title.Top, title.Right, title.Bottom};
  EXPECT_EQ(vxtest::CountColor(graph.Bitmap(), beside, kRed), 0);
  graph.SelectAtPos(QPoint(d->PlotRect.Left + 20, d->PlotRect.Top + 20));
  ASSERT_EQ(d->SelectedElement(), trace);
  const QImage& image = Render();
  EXPECT_GT(vxtest::CountColor(image, {title.Left, title.Top, title.Right, title.Bottom}, kRed),
            10);
}

TEST_F(RenderTest, LaterDiagramsPaintOverEarlierOnesAndHiddenOnesNotAtAll) {
  TkoGraphDiagram* top = graph.AddDgr("Top");
  top->OuterRect = {100, 100, 200, 200};
  top->BackColor = kYellow;
  top->PlotColor = kYellow;
  const QImage& image = Render();
  EXPECT_EQ(QColor(image.pixel(150, 105)), kYellow);
  top->Visible = false;
  const QImage& again = Render();
  EXPECT_EQ(vxtest::CountColor(again, {0, 0, 320, 240}, kYellow), 0);
}

TEST_F(RenderTest, RenderRaisesRefreshedAndCopiesAtTheBoundsCorner) {
  graph.Bounds = {30, 20, 130, 100};
  d->OuterRect = {0, 0, 100, 80};
  d->BackColor = kYellow;
  int refreshed = 0;
  QSize seen;
  graph.OnRefreshed = [&](TkoGraph* sender, const QImage& bitmap) {
    EXPECT_EQ(sender, &graph);
    seen = bitmap.size();
    ++refreshed;
  };
  QImage window(200, 150, QImage::Format_RGB32);
  window.fill(Qt::black);
  {
    QPainter painter(&window);
    EXPECT_TRUE(graph.RenderTo(&painter));
  }
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(seen, QSize(100, 80));
  EXPECT_EQ(QColor(window.pixel(30, 20)), kYellow);
  EXPECT_EQ(QColor(window.pixel(29, 20)), QColor(Qt::black));
  EXPECT_EQ(QColor(window.pixel(129, 99)), kYellow);
  EXPECT_EQ(QColor(window.pixel(130, 50)), QColor(Qt::black));
  EXPECT_EQ(QColor(window.pixel(50, 100)), QColor(Qt::black));
}

TEST_F(RenderTest, SaveToFileWritesTheImageOrThrows) {
  const std::string dir =
      std::filesystem::temp_directory_path() / ("vx_graph_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  for (const char* name : {"graph.png", "graph.bmp", "graph"}) {
    const std::string path = dir + "/" + name;
    graph.SaveToFile(path);
    QImage back;
    ASSERT_TRUE(back.load(QString::fromStdString(path))) << name;
    EXPECT_EQ(back.size(), QSize(320, 240)) << name;
    EXPECT_EQ(QColor(back.pixel(d->PlotRect.Left + 3, d->PlotRect.Top + 3)), kPlot) << name;
  }
  EXPECT_THROW(graph.SaveToFile(dir + "/missing/graph.png"), EkoException);
  std::filesystem::remove_all(dir);
}

TEST_F(RenderTest, OddSettingsRenderWithoutHarm) {
  // Each case spoils one thing; rendering must still finish with a bitmap of the bounds.
  struct Case {
    const char* what;
    std::function<void(TkoGraph&, TkoGraphDiagram&, TkoGraphTraccia&)> spoil;
  };
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"tiny diagram",
       [](TkoGraph&, TkoGraphDiagram& d, TkoGraphTraccia&) {
         d.OuterRect = {10, 10, 14, 13};
       }},
      {"inverted diagram",
       [](TkoGraph&, TkoGraphDiagram& d, TkoGraphTraccia&) {
         d.OuterRect = {200, 200, 10, 10};
       }},
      {"infinite range",
       [](TkoGraph&, TkoGraphDiagram& d, TkoGraphTraccia&) {
         d.AutoRangeY = false;
         d.ScaleY()->Min = -inf;
         d.ScaleY()->Max = inf;
         d.ScaleY()->Step = 1;
       }},
      {"huge range, tiny step",
       [](TkoGraph&, TkoGraphDiagram& d, TkoGraphTraccia&) {
         d.AutoRangeX = false;
         d.ScaleX()->Min = -1e308;
         d.ScaleX()->Max = 1e308;
         d.ScaleX()->Step = 1e-300;
       }},
      {"nan range",
       [](TkoGraph&, TkoGraphDiagram& d, TkoGraphTraccia&) {
         d.AutoRangeX = false;
         d.ScaleX()->Min = nan;
         d.ScaleX()->Max = 5;
         d.ScaleX()->Step = 1;
       }},
      {"points far out",
       [](TkoGraph&, TkoGraphDiagram& d, TkoGraphTraccia& t) {
         d.AutoRangeY = false;
         d.ScaleY()->Max = 1;
         t.AddPoint(0.5, 1e300, false);
         t.AddPoint(0.6, -1e300, false);
         t.LineStyle = TkoGraphTraccia::kLineBars;
       }},
      {"nan points",
       [](TkoGraph&, TkoGraphDiagram&, TkoGraphTraccia& t) {
         t.AddPoint(nan, 1, false);
         t.AddPoint(2, nan, false);
         t.PointStyle = TkoGraphTraccia::kPointCross;
       }},
      {"date and time labels",
       [](TkoGraph&, TkoGraphDiagram& d, TkoGraphTraccia& t) {
         for (TkoGraphScala* s : {d.ScaleX(), d.ScaleY()}) s->DateLabels = s->TimeLabels = true;
         TkoGraphMarker* m = d.AddMarker("m");
         m->Position = {46000.5, 46000.5};
         m->HeadStyle = TkoGraphMarker::kHeadCircle;
         m->PointStyle = TkoGraphTraccia::kPointTriangle;
         t.AddPoint(46000.0, 46000.0, false);
       }},
      {"scales on the far sides",
       [](TkoGraph&, TkoGraphDiagram& d, TkoGraphTraccia&) {
         d.ScaleX()->Orientation = TkoGraphScala::kAbove;
         d.ScaleY()->Orientation = TkoGraphScala::kRight;
         d.ScaleX()->Step = d.ScaleY()->Step = 0.5;
         TkoGraphMarker* m = d.AddMarker("m");
         m->Position = {4, 4};
         m->HeadStyle = TkoGraphMarker::kHeadLeftHalfArrow;
       }},
      {"crowded legend",
       [](TkoGraph&, TkoGraphDiagram& d, TkoGraphTraccia&) {
         for (int i = 0; i < 40; ++i) d.AddTraccia(std::string(i, 'x'));
         d.Legend()->Visible = true;
         d.Legend()->Columns = 1000;
       }},
      {"xor pen", [](TkoGraph&, TkoGraphDiagram&,
                     TkoGraphTraccia& t) { t.LineFormat.Pen.Mode = vx::PenMode::Xor; }},
  };
  for (const Case& c : cases) {
    TkoGraph g;
    g.Bounds = {0, 0, 320, 240};
    TkoGraphDiagram* dd = g.AddDgr("D");
    dd->OuterRect = {0, 0, 320, 240};
    TkoGraphTraccia* tt = dd->AddTraccia("T");
    for (int i = 0; i < 10; ++i) tt->AddPoint(i, i * i, false);
    c.spoil(g, *dd, *tt);
    EXPECT_TRUE(g.RenderTo(nullptr)) << c.what;
    EXPECT_EQ(g.Bitmap().size(), QSize(320, 240)) << c.what;
    Tko2DPoint coord;
    g.CoordAtCurPos(QPoint(100, 100), coord);
    g.SelectAtPos(QPoint(100, 100));
  }
}

TEST_F(RenderTest, EmptyBoundsGiveAnEmptyBitmapAndStillRefresh) {
  graph.Bounds = {10, 10, 10, 50};
  int refreshed = 0;
  graph.OnRefreshed = [&](TkoGraph*, const QImage& bitmap) {
    EXPECT_TRUE(bitmap.isNull());
    ++refreshed;
  };
  QImage window(20, 20, QImage::Format_RGB32);
  QPainter painter(&window);
  EXPECT_TRUE(graph.RenderTo(&painter));
  EXPECT_EQ(refreshed, 1);
  // Nothing to encode: refused before any file is made.
  const std::string path = std::filesystem::temp_directory_path() /
                           ("vx_graph_empty_" + std::to_string(getpid()) + ".png");
  EXPECT_THROW(graph.SaveToFile(path), EkoException);
  EXPECT_FALSE(std::filesystem::exists(path));
}

// The three oscilloscope diagrams, as arranged at the start and after a click on the
// speed diagram. VX_GRAPH_SAMPLE_PNG names a file to keep the pictures in for a person to
// look at (the second arrangement goes to the same name with ".front.png" added).
TEST(SampleScope, RendersAllThreeDiagramsReadably) {
  vxtest::EnsureGuiApp();
  vxtest::SampleScope scope(460, 340, 400);
  // The 400 samples were cut to the newest 320.
  EXPECT_EQ(scope.dcBus->Traces().front()->Count(), 320);
  for (int arrangement = 0; arrangement < 2; ++arrangement) {
    if (arrangement == 1) {
      scope.graph.SelectAtPos(QPoint(400, 50));
      ASSERT_EQ(scope.graph.SelectedDgr(), scope.speedPos);
      scope.graph.BringToFront(scope.graph.SelectedDgr());
      scope.Place(460, 340);
    }
    scope.graph.RenderTo(nullptr);
    const QImage& image = scope.graph.Bitmap();
    ASSERT_EQ(image.size(), QSize(460, 340));
    if (const char* path = std::getenv("VX_GRAPH_SAMPLE_PNG")) {
      const std::string file = std::string(path) + (arrangement == 1 ? ".front.png" : "");
      ASSERT_TRUE(image.save(QString::fromStdString(file), "PNG")) << file;
    }
    struct Expect {
      TkoGraphDiagram* diagram;
      QColor trace;
    };
    const Expect expects[] = {{scope.speedPos, QColor(0, 0, 255)},
                              {scope.current, QColor(0, 255, 0)},
                              {scope.dcBus, QColor(255, 0, 255)}};
    for (const Expect& e : expects) {
      const std::string what = e.diagram->Name() + " in arrangement " + std::to_string(arrangement);
      const vx::Rect& o = e.diagram->OuterRect;
      const vx::Rect& p = e.diagram->PlotRect;
      EXPECT_GT(p.Width(), 50) << what;
      EXPECT_GT(p.Height(), 30) << what;
      EXPECT_GT(vxtest::CountColor(image, Inclusive(p), e.trace), 20) << what;
      // Value boxes stay inside their diagram, where they can be read and clicked.
      for (const auto& m : e.diagram->Markers()) {
        for (const vx::Rect& box : {m->LabelRectX, m->LabelRectY}) {
          if (box == vx::Rect{}) continue;
          EXPECT_GE(box.Left, o.Left) << what << " " << m->Name();
          EXPECT_GE(box.Top, o.Top) << what << " " << m->Name();
          EXPECT_LE(box.Right, o.Right) << what << " " << m->Name();
          EXPECT_LE(box.Bottom, o.Bottom) << what << " " << m->Name();
        }
      }
    }
  }
}

}  // namespace
