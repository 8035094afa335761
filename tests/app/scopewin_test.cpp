// The oscilloscope window: what a drive's actual-state reads put into which series, in
// which units, how the limit markers and ranges follow, reset, clicks, the geometry kept
// in the settings file and a window that keeps collecting while closed. The drive is the
// VX310 class on the shipped data model, first answered by a scripted line, then once by
// the simulator over loopback.
#include "app/scopewin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "devices/devicesetup.h"
#include "devices/vx310.h"
#include "graph/graphtest.h"
#include "modbus/mbenginekit.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"
#include "qtapp.h"
#include "regmodel/dmcollection.h"
#include "regmodel/numberformat.h"
#include "regmodel/regdefslist.h"
#include "regmodel/textresource.h"
#if __has_include("sim/simserver.h")
#include "devices/devicekit.h"
#include "devices/mbnetwork.h"
#include "modbus/mbthreadsetup.h"
#include "platform/watchdog.h"
#include "sim/serveddrive.h"
#endif

namespace {

constexpr double kSecond = 1.0 / 86400;
const std::string kModelDir = std::string(VX_SOURCE_DIR) + "/models";

// The window needs a QApplication, made before any test of the program runs. (The
// program's leak suppressions are in qtleaks.cpp.)
class WidgetsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) vxtest::App();
  }
};
[[maybe_unused]] ::testing::Environment* const kWidgets =
    ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

// A folder of this test process, removed with the object.
class Scratch {
 public:
  Scratch()
      : path_(std::filesystem::path(::testing::TempDir()) /
              ("scopewin_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Names(const TkoGraph& graph) {
  std::vector<std::string> out;
  for (int i = 0; i < graph.DgrCount(); ++i) out.push_back(graph.GetDgr(i)->Name());
  return out;
}

// One actual-state read as the supervisor hands it to the window.
struct Sample {
  double t, volt, pos, rpm, amps, iMax, iNom;
};
void Feed(TScopeForm& scope, const Sample& s) {
  scope.AddDcBus(s.t, s.volt);
  scope.AddSpeedPos(s.pos, s.rpm);
  scope.AddCurrent(s.t, s.amps);
  scope.SetIMax(s.t, s.iMax);
  scope.SetINom(s.t, s.iNom);
}

Tko2DPoint Last(const TkoGraphTraccia* trace) {
  return trace->Points().back();
}

class ScopeTest : public ::testing::Test {
 protected:
  void SetUp() override { scope = std::make_unique<TScopeForm>(settings); }
  void Show() {
    scope->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(scope.get()));
  }

  Scratch scratch;
  std::string settings = scratch.File("VX310_ConfigTerm.ini");
  std::unique_ptr<TScopeForm> scope;
};

TEST_F(ScopeTest, BuildsTheThreeDiagramsHiddenWithTheirSeriesAndMarkers) {
  const double before = vx::Now();
  TScopeForm fresh(settings);
  const double after = vx::Now();
  EXPECT_FALSE(fresh.isVisible());
  EXPECT_EQ(fresh.objectName(), "ScopeForm");
  EXPECT_EQ(fresh.windowTitle(), "Oscilloscope");
  // "Reset / Restart" first, the engineer's tools after it.
  ASSERT_GE(fresh.pmnScope()->actions().size(), 1);
  EXPECT_EQ(fresh.pmnScope()->actions()[0]->text(), "Reset / Restart");
  for (QAction* tool : {fresh.acPause(), fresh.acMarkerA(), fresh.acMarkerB(),
                        fresh.acClearMarkers(), fresh.acExportData(), fresh.acExportPicture()})
    EXPECT_TRUE(fresh.pmnScope()->actions().contains(tool)) << tool->text().toStdString();
  // The tool tip says what becomes of the samples while paused.
  EXPECT_TRUE(fresh.acPause()->toolTip().contains("Acquisition goes on"));
  EXPECT_EQ(fresh.ResetStart1()->shortcut(), QKeySequence("Ctrl+R"));

  TkoGraph& g = *fresh.koGraph();
  EXPECT_EQ(Names(g), (std::vector<std::string>{"Speed vs Position", "Current", "DcBus"}));

  // Which series and markers sit in which diagram, and on which axes the markers count.
  const struct {
    TkoGraphDiagram* diagram;
    std::vector<std::string> traces;
    std::vector<std::pair<std::string, std::uint8_t>> markers;
    vx::DataRange y;
  } cases[] = {
      {fresh.SpeedPosDiagram(), {"SpeedPos"}, {{"SpeedPos", 3}, {"A", 1}, {"B", 1}}, {0, 0}},
      {fresh.CurrentDiagram(),
       {"IAct"},
       {{"IAct", 2}, {"IMax", 2}, {"INom", 2}, {"A", 1}, {"B", 1}},
       {0, 20}},
      {fresh.DcBusDiagram(), {"Volt"}, {{"Act", 2}, {"A", 1}, {"B", 1}}, {0, 700}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.diagram->Name());
    ASSERT_EQ(c.diagram->Traces().size(), c.traces.size());
    for (std::size_t i = 0; i < c.traces.size(); ++i)
      EXPECT_EQ(c.diagram->Traces()[i]->TextFormat.Text(), c.traces[i]);
    ASSERT_EQ(c.diagram->Markers().size(), c.markers.size());
    for (std::size_t i = 0; i < c.markers.size(); ++i) {
      const TkoGraphMarker& m = *c.diagram->Markers()[i];
      EXPECT_EQ(m.TextFormat.Text(), c.markers[i].first);
      EXPECT_EQ(m.Axes, c.markers[i].second);
      // The engineer's markers A and B wait unplaced and never stretch a range.
      const bool engineers = m.Name() == "A" || m.Name() == "B";
      EXPECT_EQ(fresh.MarkerOf(c.diagram, m.Name() == "A" ? 0 : 1) == &m, engineers);
      EXPECT_EQ(m.WidensRange, !engineers);
      EXPECT_EQ(m.Position.X, engineers ? TkoGraphMarker::kUnplaced : 0);
      EXPECT_EQ(m.Position.Y, engineers ? TkoGraphMarker::kUnplaced : 0);
    }
    EXPECT_EQ(c.diagram->ScaleY()->Min, c.y.Min);
    EXPECT_EQ(c.diagram->ScaleY()->Max, c.y.Max);
    EXPECT_FALSE(c.diagram->Legend()->Visible);
  }
  // The two time axes start at the moment of building and span 30 s.
  for (TkoGraphDiagram* d : {fresh.CurrentDiagram(), fresh.DcBusDiagram()}) {
    EXPECT_TRUE(d->ScaleX()->TimeLabels);
    EXPECT_GE(d->ScaleX()->Min, before);
    EXPECT_LE(d->ScaleX()->Min, after);
    EXPECT_NEAR((d->ScaleX()->Max - d->ScaleX()->Min) / kSecond, 30, 1e-3);
  }
  EXPECT_EQ(fresh.SpeedPosTrace()->LineFormat.Pen.Color, QColor(0, 0, 255));
  EXPECT_EQ(fresh.CurrentTrace()->LineFormat.Pen.Color, QColor(0, 255, 0));
  EXPECT_EQ(fresh.VoltTrace()->LineFormat.Pen.Color, QColor(255, 0, 255));
  EXPECT_EQ(fresh.IMaxMarker()->LineFormat.Pen.Color, QColor(255, 0, 0));
}

TEST_F(ScopeTest, EverySeriesKeepsOnlyItsLast320Samples) {
  const double t0 = vx::Now();
  // The first ten samples stand out, so that the ranges show when they are gone.
  for (int i = 0; i < 330; ++i) {
    const bool early = i < 10;
    Feed(*scope, {t0 + i * 0.1 * kSecond, early ? 900.0 : 500.0, 10.0 * i, early ? 3000.0 : 100.0,
                  early ? 9.0 : 2.0, 3.0, 1.0});
  }
  for (TkoGraphTraccia* t : {scope->SpeedPosTrace(), scope->CurrentTrace(), scope->VoltTrace()}) {
    SCOPED_TRACE(t->TextFormat.Text());
    EXPECT_EQ(t->Count(), 320);
  }
  EXPECT_EQ(scope->SpeedPosTrace()->Points().front().X, 100.0);
  EXPECT_NEAR(scope->VoltTrace()->Points().front().X, t0 + 10 * 0.1 * kSecond, 1e-12);
  // The ranges come from the samples kept.
  EXPECT_DOUBLE_EQ(scope->DcBusDiagram()->ScaleY()->Max, 550.0);
  EXPECT_DOUBLE_EQ(scope->CurrentDiagram()->ScaleY()->Max, 1.3 * 2.0);
  EXPECT_DOUBLE_EQ(scope->CurrentDiagram()->ScaleY()->Min, -0.1);
}

TEST_F(ScopeTest, TheDcBusRangeHoldsTheSamplesAndZeroWithTenPerCentToSpare) {
  const struct {
    std::vector<double> volts;
    double min, max;
  } cases[] = {
      {{560, 600, 580}, 0, 660},
      {{-20, 100}, -22, 110},
      {{-50, -10}, -55, 0},
      {{0}, 0, 0},
  };
  for (const auto& c : cases) {
    TScopeForm s(settings);
    double t = vx::Now();
    for (double v : c.volts) s.AddDcBus(t += 0.1 * kSecond, v);
    SCOPED_TRACE(c.volts.front());
    EXPECT_DOUBLE_EQ(s.DcBusDiagram()->ScaleY()->Min, c.min);
    EXPECT_DOUBLE_EQ(s.DcBusDiagram()->ScaleY()->Max, c.max);
    EXPECT_EQ(s.VoltMarker()->Position.X, t);
    EXPECT_EQ(s.VoltMarker()->Position.Y, c.volts.back());
  }
}

TEST_F(ScopeTest, ResetRestartClearsTheSeriesButLeavesMarkersAndRangesUntilTheNextSample) {
  Show();
  const double t0 = vx::Now();
  for (int i = 0; i < 5; ++i) Feed(*scope, {t0 + i * kSecond, 560.0 + i, 100.0 * i, 50, 4, 6, 3});
  const vx::DataRange dcBus{scope->DcBusDiagram()->ScaleY()->Min,
                            scope->DcBusDiagram()->ScaleY()->Max};
  const vx::DataRange current{scope->CurrentDiagram()->ScaleY()->Min,
                              scope->CurrentDiagram()->ScaleY()->Max};

  // Through the window's shortcut, as the engineer presses it.
  QApplication::setActiveWindow(scope.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(scope.get()));
  QTest::keyClick(scope.get(), Qt::Key_R, Qt::ControlModifier);
  for (TkoGraphTraccia* t : {scope->SpeedPosTrace(), scope->CurrentTrace(), scope->VoltTrace()})
    EXPECT_EQ(t->Count(), 0) << t->TextFormat.Text();
  EXPECT_EQ(scope->VoltMarker()->Position.Y, 564.0);
  EXPECT_EQ(scope->IMaxMarker()->Position.Y, 6.0);
  EXPECT_EQ(scope->DcBusDiagram()->ScaleY()->Min, dcBus.Min);
  EXPECT_EQ(scope->DcBusDiagram()->ScaleY()->Max, dcBus.Max);
  EXPECT_EQ(scope->CurrentDiagram()->ScaleY()->Max, current.Max);

  // The next sample starts the series afresh: the old values no longer count.
  scope->AddDcBus(t0 + 10 * kSecond, 300);
  EXPECT_EQ(scope->VoltTrace()->Count(), 1);
  EXPECT_DOUBLE_EQ(scope->DcBusDiagram()->ScaleY()->Max, 330.0);

  // The menu item does the same.
  scope->AddSpeedPos(1, 2);
  scope->pmnScope()->actions()[0]->trigger();
  EXPECT_EQ(scope->SpeedPosTrace()->Count(), 0);
  EXPECT_EQ(scope->VoltTrace()->Count(), 0);
}

TEST_F(ScopeTest, AClickMovesTheDiagramUnderItToTheLargeArea) {
  const int w = TScopeForm::kDesignWidth, h = TScopeForm::kDesignHeight;
  const std::string sp = "Speed vs Position", cur = "Current", dc = "DcBus";
  const struct {
    const char* what;
    std::vector<QPoint> clicks;
    std::vector<std::string> order;
  } cases[] = {
      {"top left", {{60, 50}}, {sp, dc, cur}},
      {"top right", {{w - 60, 50}}, {cur, dc, sp}},
      {"the large one", {{w / 2, 200}}, {sp, cur, dc}},
      {"top left twice", {{60, 50}, {60, 50}}, {sp, cur, dc}},
      {"the edge between the top two", {{w / 2, 50}}, {sp, cur, dc}},
      {"the edge above the large one", {{60, 100}}, {sp, cur, dc}},
      {"the left edge of the large one", {{0, 200}}, {sp, cur, dc}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TScopeForm s(settings);
    s.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
    ASSERT_EQ(s.width(), w);
    for (const QPoint& p : c.clicks) QTest::mouseClick(&s, Qt::LeftButton, {}, p);
    EXPECT_EQ(Names(*s.koGraph()), c.order);
    // The front diagram fills the area below, the others share the top.
    EXPECT_EQ(s.koGraph()->GetDgr(2)->OuterRect, (vx::Rect{0, 100, w, h}));
    EXPECT_EQ(s.koGraph()->GetDgr(1)->OuterRect, (vx::Rect{0, 0, w / 2, 100}));
    EXPECT_EQ(s.koGraph()->GetDgr(0)->OuterRect, (vx::Rect{w / 2, 0, w, 100}));
  }
}

TEST_F(ScopeTest, TheGeometryIsStoredOnCloseAndReadWhenTheWindowIsMade) {
  { std::ofstream(settings, std::ios::binary) << "[Setup]\r\nLastPort=3\r\n; a note\r\n"; }
  {
    TScopeForm s(settings);
    s.move(40, 30);
    s.resize(500, 400);
    s.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
    s.close();
    EXPECT_FALSE(s.isVisible());
  }
  const std::string text = ReadAll(settings);
  EXPECT_NE(text.find("LastPort=3"), std::string::npos) << text;
  EXPECT_NE(text.find("; a note"), std::string::npos) << text;
  TkoTextResource ini(settings);
  EXPECT_EQ(ini.ReadString("ScopeForm", "Top", ""), "30");
  EXPECT_EQ(ini.ReadString("ScopeForm", "Left", ""), "40");
  EXPECT_EQ(ini.ReadString("ScopeForm", "Width", ""), "500");
  EXPECT_EQ(ini.ReadString("ScopeForm", "Height", ""), "400");

  TScopeForm again(settings);
  EXPECT_EQ(again.pos(), QPoint(40, 30));
  EXPECT_EQ(again.size(), QSize(500, 400));
  // The diagrams take the size read.
  again.PaintScope();
  EXPECT_EQ(again.koGraph()->GetDgr(2)->OuterRect, (vx::Rect{0, 100, 500, 400}));

  // A maximised window stores the geometry it comes back to.
  again.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
  again.showMaximized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return again.isMaximized(); }));
  again.close();
  TkoTextResource stored(settings);
  EXPECT_EQ(stored.ReadInteger("ScopeForm", "Width", 0), 500);
  EXPECT_EQ(stored.ReadInteger("ScopeForm", "Height", 0), 400);
}

TEST_F(ScopeTest, ASettingsFileThatCannotBeReadIsNeitherUsedNorOverwritten) {
  // A folder where the file should be: reading fails, and writing must not replace it.
  std::filesystem::create_directories(settings);
  TScopeForm s(settings);
  EXPECT_EQ(s.size(), QSize(TScopeForm::kDesignWidth, TScopeForm::kDesignHeight));
  s.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
  s.close();
  EXPECT_TRUE(std::filesystem::is_directory(settings));

  // Nonsense values leave a usable window.
  std::filesystem::remove(settings);
  std::ofstream(settings) << "[ScopeForm]\nWidth=-5\nHeight=abc\n";
  TScopeForm odd(settings);
  EXPECT_GE(odd.width(), 100);
  EXPECT_GE(odd.height(), 100);
}

TEST_F(ScopeTest, RendersTheLiveSeriesInTheirDiagrams) {
  Show();
  const double t0 = vx::Now();
  for (int i = 0; i < 200; ++i) {
    const double phase = i / 40.0;
    Feed(*scope, {t0 + i * 0.1 * kSecond, 560 + 25 * std::sin(phase * 1.7), 180.0 * i,
                  1500 * std::sin(phase) + 200, 6 + 4 * std::sin(phase * 2.3), 12, 9.5});
  }
  int renders = 0;
  scope->koGraph()->OnRefreshed = [&](TkoGraph*, const QImage&) { ++renders; };
  scope->PaintScope();
  EXPECT_EQ(renders, 1);
  const QImage image = scope->grab().toImage().convertToFormat(QImage::Format_RGB32);
  if (const char* png = std::getenv("VX_SCOPE_PNG")) image.save(png);

  const int w = scope->width(), h = scope->height();
  const vx::Rect large{0, 100, w, h}, topLeft{0, 0, w / 2, 100};
  // Each trace is drawn, and only in its own diagram.
  EXPECT_GT(vxtest::CountColor(image, scope->DcBusDiagram()->PlotRect, QColor(255, 0, 255)), 200);
  EXPECT_GT(vxtest::CountColor(image, scope->CurrentDiagram()->PlotRect, QColor(0, 255, 0)), 100);
  EXPECT_GT(vxtest::CountColor(image, scope->SpeedPosDiagram()->PlotRect, QColor(0, 0, 255)), 50);
  EXPECT_EQ(vxtest::CountColorOutside(image, topLeft, QColor(0, 255, 0)), 0);
  EXPECT_EQ(vxtest::CountColorOutside(image, large, QColor(255, 0, 255)), 0);
  // The limit markers' dashed lines cross the current plot.
  const vx::Rect plot = scope->CurrentDiagram()->PlotRect;
  EXPECT_GT(vxtest::CountColor(image, plot, QColor(255, 0, 0)), plot.Width() / 4);

  // For a person's eye: the tools at work (markers A and B, the cursor, paused), then each
  // of the small diagrams in turn in the large area.
  if (const char* png = std::getenv("VX_SCOPE_PNG")) {
    const TkoGraphDiagram* d = scope->DcBusDiagram();
    const auto at = [&](int i) {
      const vx::Rect& p = d->PlotRect;
      return QPoint(d->ScaleX()->ToPixelX(t0 + i * 0.1 * kSecond, p), (p.Top + 2 * p.Bottom) / 3);
    };
    scope->SetMarkerAt(0, at(60));
    scope->SetMarkerAt(1, at(150));
    scope->SetCursorAt(at(110));
    scope->SetPaused(true);
    scope->grab().save(QString(png) + ".tools.png");
    scope->SetPaused(false);
    scope->ClearCursor();
    scope->ClearMarkers();
    for (const char* name : {"speedpos", "current"}) {
      scope->FormClick({w - 40, 50});
      scope->grab().save(QString(png) + "." + name + ".png");
    }
  }
}

// --- The engineer's tools ---------------------------------------------------------------

// Where a sample of the time diagram `d` is drawn, halfway up its plot.
QPoint PixelOf(const TkoGraphDiagram* d, double t) {
  const vx::Rect& p = d->PlotRect;
  return {d->ScaleX()->ToPixelX(t, p), (p.Top + p.Bottom) / 2};
}

TEST_F(ScopeTest, TheCursorReadsEveryTraceUnderTheMouseAndTheMarkersTheirDifference) {
  Show();
  const double t0 = vx::Now();
  const auto time = [&](int i) { return t0 + i * 0.1 * kSecond; };
  for (int i = 0; i < 100; ++i)
    Feed(*scope, {time(i), 500.0 + i, 10.0 * i, 20.0 * i, 1.0 + 0.1 * i, 12, 9});
  scope->PaintScope();
  const TkoGraphDiagram* volts = scope->DcBusDiagram();  // the large one
  const TkoGraphDiagram* amps = scope->CurrentDiagram();

  // On a time diagram: the moment, and both time traces there.
  scope->SetCursorAt(PixelOf(volts, time(40)));
  QStringList r = scope->CursorReadout();
  ASSERT_EQ(r.size(), 3) << r.join('|').toStdString();
  EXPECT_EQ(r[1], "IAct: 5.0 A");
  EXPECT_EQ(r[2], "Volt: 540.0 V");
  // The same moment read on the other time diagram.
  scope->SetCursorAt(PixelOf(amps, time(70)));
  r = scope->CursorReadout();
  ASSERT_EQ(r.size(), 3);
  EXPECT_EQ(r[1], "IAct: 8.0 A");
  EXPECT_EQ(r[2], "Volt: 570.0 V");
  // On speed over position: the point nearest the mouse.
  const TkoGraphDiagram* sp = scope->SpeedPosDiagram();
  scope->SetCursorAt(
      {sp->ScaleX()->ToPixelX(300, sp->PlotRect), sp->ScaleY()->ToPixelY(600, sp->PlotRect)});
  EXPECT_EQ(scope->CursorReadout(), (QStringList{"Position: 300 stp", "Speed: 600 rpm"}));
  // Outside every plot there is no cursor.
  scope->SetCursorAt({1, 1});
  EXPECT_TRUE(scope->CursorReadout().isEmpty());

  // Markers A and B on samples 20 and 70: their moments, the time between and what changed.
  EXPECT_TRUE(scope->MarkerReadout().isEmpty());
  ASSERT_TRUE(scope->SetMarkerAt(0, PixelOf(volts, time(20))));
  EXPECT_TRUE(scope->MarkerReadout().isEmpty());  // one marker alone tells no difference
  ASSERT_TRUE(scope->SetMarkerAt(1, PixelOf(amps, time(70))));
  const QStringList m = scope->MarkerReadout();
  ASSERT_EQ(m.size(), 4) << m.join('|').toStdString();
  EXPECT_EQ(m[1], QString::fromUtf8("\u0394t 5.000 s"));
  EXPECT_EQ(m[2], QString::fromUtf8("IAct: 3.0 \u2192 8.0 A  \u0394 +5.0 A"));
  EXPECT_EQ(m[3], QString::fromUtf8("Volt: 520.0 \u2192 570.0 V  \u0394 +50.0 V"));
  // Both stand in both time diagrams, drawn in their colours; not on speed over position.
  scope->PaintScope();
  for (const TkoGraphDiagram* d : {volts, amps}) {
    EXPECT_DOUBLE_EQ(scope->MarkerOf(d, 0)->Position.X, time(20));
    EXPECT_DOUBLE_EQ(scope->MarkerOf(d, 1)->Position.X, time(70));
  }
  EXPECT_FALSE(TkoGraphMarker::IsPlaced(scope->MarkerOf(sp, 0)->Position.X));
  const QImage image = scope->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const int ax = static_cast<int>(PixelOf(volts, time(20)).x() * image.devicePixelRatio());
  const vx::Rect column{ax, static_cast<int>(volts->PlotRect.Top * image.devicePixelRatio()),
                        ax + 1,
                        static_cast<int>(volts->PlotRect.Bottom * image.devicePixelRatio())};
  EXPECT_GT(vxtest::CountColor(image, column, QColor(176, 80, 0)), 10);
  // A marker put on the other quantity takes its partner away; clearing takes both.
  ASSERT_TRUE(scope->SetMarkerAt(
      1, {sp->ScaleX()->ToPixelX(500, sp->PlotRect), sp->ScaleY()->ToPixelY(0, sp->PlotRect)}));
  EXPECT_TRUE(scope->MarkerReadout().isEmpty());
  scope->PaintScope();
  EXPECT_FALSE(TkoGraphMarker::IsPlaced(scope->MarkerOf(volts, 0)->Position.X));
  EXPECT_DOUBLE_EQ(scope->MarkerOf(sp, 1)->Position.X, 500);
  scope->ClearMarkers();
  EXPECT_FALSE(TkoGraphMarker::IsPlaced(scope->MarkerOf(sp, 1)->Position.X));
  EXPECT_FALSE(scope->SetMarkerAt(0, {1, 1}));
}

TEST_F(ScopeTest, NoLineJoinsTheSamplesOfTwoConnections) {
  Show();
  const double t0 = vx::Now();
  const auto time = [&](int i) { return t0 + i * 0.1 * kSecond; };
  // A first connection, the drive lost (the supervisor breaks the series), a second one
  // ten seconds later at other values.
  for (int i = 0; i < 30; ++i) Feed(*scope, {time(i), 100, 10.0 * i, 100, 2, 12, 9});
  scope->BreakTraces();
  for (int i = 100; i < 130; ++i) Feed(*scope, {time(i), 600, 10.0 * i, 900, 8, 12, 9});
  scope->PaintScope();
  const QImage image = scope->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const double dpr = image.devicePixelRatio();
  const struct {
    const TkoGraphDiagram* d;
    QColor color;
  } cases[] = {{scope->DcBusDiagram(), QColor(255, 0, 255)},
               {scope->CurrentDiagram(), QColor(0, 255, 0)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.d->Name());
    const vx::Rect& p = c.d->PlotRect;
    const int before = PixelOf(c.d, time(29)).x(), after = PixelOf(c.d, time(100)).x();
    ASSERT_GT(after - before, 20);
    const auto device = [&](int l, int r) {
      return vx::Rect{static_cast<int>(l * dpr), static_cast<int>(p.Top * dpr),
                      static_cast<int>(r * dpr), static_cast<int>((p.Bottom + 1) * dpr)};
    };
    // Both stretches are there; between them (beyond the round ends of the wide pen) not a
    // single pixel of the trace.
    EXPECT_GT(vxtest::CountColor(image, device(p.Left, before), c.color), 20);
    EXPECT_GT(vxtest::CountColor(image, device(after, p.Right + 1), c.color), 20);
    // The last value's marker line crosses the whole plot in the trace's colour: its rows
    // are left out (a line joining the stretches would cross every row between them).
    const int marker = c.d->ScaleY()->ToPixelY(c.d == scope->DcBusDiagram() ? 600 : 8, p);
    const vx::Rect gap = device(before + 3, after - 2);
    const int markerTop = static_cast<int>((marker - 2) * dpr);
    const int markerBottom = static_cast<int>((marker + 3) * dpr);
    EXPECT_EQ(
        vxtest::CountColor(image, {gap.Left, gap.Top, gap.Right, markerTop}, c.color) +
            vxtest::CountColor(image, {gap.Left, markerBottom, gap.Right, gap.Bottom}, c.color),
        0);
    EXPECT_GT(markerTop - gap.Top + gap.Bottom - markerBottom, 20);
  }
}

TEST_F(ScopeTest, ExportsTheDataShownAsCsvAndThePictureAsPngAndSvg) {
  const double t0 = vx::EncodeDate(2026, 12, 10) + vx::EncodeTime(18, 30, 0, 0);
  const Sample samples[] = {
      {t0, 560.5, 1000, 1500, 3.5, 12, 9},
      {t0 + 0.1 * kSecond, 561, -2000, -1500, 0.25, 12, 9},
  };
  for (const Sample& s : samples) Feed(*scope, s);
  scope->BreakTraces();  // a gap: no row of its own
  Feed(*scope, {t0 + 10 * kSecond, 0, 123456, 0, 0, 12, 9});
  ASSERT_EQ(scope->ExportCsv(scratch.File("scope.csv")), "");
  std::istringstream csv(ReadAll(scratch.File("scope.csv")));
  std::vector<std::string> rows;
  for (std::string line; std::getline(csv, line);) rows.push_back(line);
  const std::vector<std::string> expected = {
      "Time,IAct [A],Volt [V],Position [stp],Speed [rpm]\r",
      "10/12/2026 18:30:00.000,3.5,560.5,1000,1500\r",
      "10/12/2026 18:30:00.100,0.25,561,-2000,-1500\r",
      "10/12/2026 18:30:10.000,0,0,123456,0\r",
  };
  EXPECT_EQ(rows, expected);
  // Paused, the file holds what is shown, not what came in meanwhile.
  scope->SetPaused(true);
  Feed(*scope, {t0 + 11 * kSecond, 1, 2, 3, 4, 12, 9});
  ASSERT_EQ(scope->ExportCsv(scratch.File("paused.csv")), "");
  EXPECT_EQ(ReadAll(scratch.File("paused.csv")), ReadAll(scratch.File("scope.csv")));
  scope->SetPaused(false);
  // A folder that is not there: said, and no file.
  const std::string bad = scratch.File("missing/scope.csv");
  EXPECT_NE(scope->ExportCsv(bad).find(bad), std::string::npos);

  Show();
  scope->PaintScope();
  ASSERT_EQ(scope->ExportPicture(scratch.File("scope.png")), "");
  QImage png(QString::fromStdString(scratch.File("scope.png")));
  ASSERT_FALSE(png.isNull());
  const double dpr = scope->devicePixelRatioF();
  EXPECT_EQ(png.size(), QSize(qRound(scope->width() * dpr), qRound(scope->height() * dpr)));
  EXPECT_GT(vxtest::CountColor(png, {0, 0, png.width(), png.height()}, QColor(255, 0, 255)), 10);
  ASSERT_EQ(scope->ExportPicture(scratch.File("scope.svg")), "");
  const std::string svg = ReadAll(scratch.File("scope.svg"));
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  EXPECT_NE(svg.find("DcBus"), std::string::npos);  // texts stay texts
  EXPECT_NE(scope->ExportPicture(scratch.File("missing/scope.svg")), "");
}

TEST_F(ScopeTest, DrawsOnlyTheDiagramsThatChanged) {
  Show();
  const double t0 = vx::Now();
  // A drive standing still: the same speed and position at every read.
  for (int i = 0; i < 330; ++i) Feed(*scope, {t0 + i * 0.1 * kSecond, 560, 1000, 0, 0.5, 12, 9});
  scope->PaintScope();
  const TkoGraph& g = *scope->koGraph();
  EXPECT_FALSE(g.ChangedRects().empty());
  // Nothing new: nothing drawn.
  scope->PaintScope();
  EXPECT_TRUE(g.ChangedRects().empty());
  // One more read: the time diagrams move on, speed over position stays as it is.
  Feed(*scope, {t0 + 330 * 0.1 * kSecond, 560, 1000, 0, 0.5, 12, 9});
  scope->PaintScope();
  const auto drawn = [&](const TkoGraphDiagram* d) {
    const vx::Rect& o = d->OuterRect;
    const vx::Rect area{o.Left, o.Top, o.Right + 1, o.Bottom + 1};
    return std::find(g.ChangedRects().begin(), g.ChangedRects().end(), area) !=
           g.ChangedRects().end();
  };
  EXPECT_TRUE(drawn(scope->CurrentDiagram()));
  EXPECT_TRUE(drawn(scope->DcBusDiagram()));
  EXPECT_FALSE(drawn(scope->SpeedPosDiagram()));
  // What was not drawn again is still right: a full drawing gives the same picture.
  const QImage partial = g.Bitmap().copy();
  scope->koGraph()->Invalidate();
  scope->PaintScope();
  EXPECT_TRUE(partial == g.Bitmap());
}

// --- The drive: its actual-state read answered by a scripted line --------------------

// The registers of the actual state on the shipped model, by address.
constexpr uint16_t kDcBus = 202, kCurrent = 204, kSpeed = 206, kPosLow = 207, kPosHigh = 208;

class ScopeDriveTest : public ScopeTest {
 protected:
  void SetUp() override {
    ScopeTest::SetUp();
    collection.SetFilePath(kModelDir);
    model = collection.FindRegDefsListFor(&version);
    ASSERT_NE(model, nullptr);
    setup.SetDeviceAddr(1);
    setup.SetEnabled(true);
    drive = std::make_unique<TkoDeviceVX310>(&setup, &version, model);
    AttachLikeTheSupervisor(*drive);
    line->responder = [this](const vxtest::Bytes& q) {
      if (q[1] != 0x03) return vxtest::FakeLine::Answer{0, vxtest::Bytes(q.begin(), q.begin() + 6)};
      const int first = q[2] * 256 + q[3], count = q[4] * 256 + q[5];
      vxtest::Bytes data;
      for (int a = first; a < first + count; ++a) {
        const uint16_t v = words.count(a) ? words[a] : 0;
        data.push_back(static_cast<uint8_t>(v >> 8));
        data.push_back(static_cast<uint8_t>(v));
      }
      return vxtest::FakeLine::Answer{0, vxtest::ReadAnswer(q[0], data)};
    };
  }
  // The supervisor's handler: every completed actual-state read feeds the window.
  void AttachLikeTheSupervisor(TkoDeviceVX310& d) {
    d.OnActState = [this](TkoDeviceVXSlave* sender, TkoMBTransaction* t) {
      scope->FeedActState(dynamic_cast<TkoDeviceVX310*>(sender), t->GetTimeStamp());
    };
  }
  // One actual-state read as the connection thread runs it; its time stamp.
  double Read(TkoDeviceVX310& d) {
    EXPECT_EQ(d.ReadActState->Run(&server), 0);
    ui.PumpPending();
    return d.ReadActState->GetTimeStamp();
  }
  void SetPosition(int32_t pos) {
    const auto u = static_cast<uint32_t>(pos);
    words[kPosLow] = static_cast<uint16_t>(u);
    words[kPosHigh] = static_cast<uint16_t>(u >> 16);
  }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scoped{ui};
  std::shared_ptr<vxtest::FakeLine> line = std::make_shared<vxtest::FakeLine>();
  vxtest::FakeServer server{line};
  std::map<int, uint16_t> words;
  TkoVersionRecord version{"VX310v220"};
  TkoDMCollection collection;
  TkoRegDefsList* model = nullptr;
  TkoDeviceSetup setup;
  std::unique_ptr<TkoDeviceVX310> drive;
};

TEST_F(ScopeDriveTest, EachActualStateReadAddsItsValuesInDisplayUnitsToTheirSeries) {
  // Raw words as the drive sends them: volts and amps in tenths, speed and position signed.
  const struct {
    uint16_t dcBus, current, speed;
    int32_t pos;
    double volt, amps, rpm;
  } cases[] = {
      {5600, 35, 1500, 1000, 560.0, 3.5, 1500},
      {5512, 0, static_cast<uint16_t>(-1500), -70000, 551.2, 0.0, -1500},
      {0, 71, 0, 65536, 0.0, 7.1, 0},
      {6553, 100, 3000, -1, 655.3, 10.0, 3000},
  };
  int n = 0;
  double prev = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pos);
    words[kDcBus] = c.dcBus;
    words[kCurrent] = c.current;
    words[kSpeed] = c.speed;
    SetPosition(c.pos);
    const double t = Read(*drive);
    ++n;
    EXPECT_GE(t, prev);
    prev = t;
    ASSERT_EQ(scope->VoltTrace()->Count(), n);
    ASSERT_EQ(scope->SpeedPosTrace()->Count(), n);
    ASSERT_EQ(scope->CurrentTrace()->Count(), n);
    EXPECT_EQ(Last(scope->VoltTrace()).X, t);
    EXPECT_NEAR(Last(scope->VoltTrace()).Y, c.volt, 1e-9);
    EXPECT_EQ(Last(scope->SpeedPosTrace()).X, c.pos);
    EXPECT_EQ(Last(scope->SpeedPosTrace()).Y, c.rpm);
    EXPECT_EQ(Last(scope->CurrentTrace()).X, t);
    EXPECT_NEAR(Last(scope->CurrentTrace()).Y, c.amps, 1e-9);
    // The markers show the last sample.
    EXPECT_EQ(scope->VoltMarker()->Position.X, t);
    EXPECT_NEAR(scope->VoltMarker()->Position.Y, c.volt, 1e-9);
    EXPECT_EQ(scope->SpeedPosMarker()->Position.X, c.pos);
    EXPECT_EQ(scope->SpeedPosMarker()->Position.Y, c.rpm);
    EXPECT_NEAR(scope->CurrentMarker()->Position.Y, c.amps, 1e-9);
    EXPECT_EQ(scope->IMaxMarker()->Position.X, t);
  }
  EXPECT_NEAR(scope->DcBusDiagram()->ScaleY()->Max, 1.1 * 655.3, 1e-9);
  EXPECT_EQ(scope->DcBusDiagram()->ScaleY()->Min, 0.0);
}

TEST_F(ScopeDriveTest, TheLimitMarkersAndTheCurrentRangeFollowTheDrivesCurrentLimits) {
  words[kCurrent] = 20;  // 2.0 A
  // The limits are capped by the hardware range, which a setup read would bring.
  drive->ParCurrRangeMax->SetValue(10.0);
  drive->ParMotorIrA->SetValue(2.8);
  drive->ParMotorIpA->SetValue(4.0);
  Read(*drive);
  EXPECT_NEAR(scope->IMaxMarker()->Position.Y, 2.8, 1e-9);
  EXPECT_NEAR(scope->INomMarker()->Position.Y, 4.0, 1e-9);
  // The first current sample comes before any nominal value: only the sample counts.
  EXPECT_NEAR(scope->CurrentDiagram()->ScaleY()->Max, 1.3 * 2.0, 1e-9);
  EXPECT_EQ(scope->CurrentDiagram()->ScaleY()->Min, -0.1);

  Read(*drive);
  EXPECT_NEAR(scope->CurrentDiagram()->ScaleY()->Max, 1.3 * 4.0, 1e-9);

  // New limits in the drive's setup show at the next read.
  drive->ParMotorIrA->SetValue(3.5);
  drive->ParMotorIpA->SetValue(6.0);
  const double t = Read(*drive);
  EXPECT_NEAR(scope->IMaxMarker()->Position.Y, 3.5, 1e-9);
  EXPECT_NEAR(scope->INomMarker()->Position.Y, 6.0, 1e-9);
  EXPECT_EQ(scope->INomMarker()->Position.X, t);
  // The hardware range caps the limits, and the markers show the capped values.
  drive->ParCurrRangeMax->SetValue(5.0);
  drive->ParMotorIpA->SetValue(9.0);
  Read(*drive);
  EXPECT_NEAR(scope->INomMarker()->Position.Y, 5.0, 1e-9);
  // A sample above the nominal current widens the range.
  words[kCurrent] = 80;
  Read(*drive);
  EXPECT_NEAR(scope->CurrentDiagram()->ScaleY()->Max, 1.3 * 8.0, 1e-9);
}

TEST_F(ScopeDriveTest, ADriveWithoutSomeMembersFeedsWhatItHas) {
  // The shipped model without the entries of the position and the nominal current.
  TkoTextResource file(kModelDir + "/VX310v220.par");
  std::string text;
  for (const std::string& l : file.Lines())
    if (l.rfind("ParActualPos", 0) != 0 && l.rfind("ParMotorIpA", 0) != 0) text += l + "\n";
  std::ofstream(scratch.File("VX310v220.par"), std::ios::binary) << text;
  TkoDMCollection found;
  found.SetFilePath(scratch.File(""));
  TkoRegDefsList* partial = found.FindRegDefsListFor(&version);
  ASSERT_NE(partial, nullptr);
  TkoDeviceSetup otherSetup;
  otherSetup.SetDeviceAddr(1);
  TkoDeviceVX310 lacking(&otherSetup, &version, partial);
  ASSERT_EQ(lacking.ParActualPos, nullptr);
  ASSERT_EQ(lacking.ParMotorIpA, nullptr);
  ASSERT_NE(lacking.ParU_Dc_BusV, nullptr);
  AttachLikeTheSupervisor(lacking);

  words[kDcBus] = 5000;
  words[kCurrent] = 30;
  Read(lacking);
  EXPECT_EQ(scope->VoltTrace()->Count(), 1);
  EXPECT_EQ(scope->CurrentTrace()->Count(), 1);
  EXPECT_EQ(scope->SpeedPosTrace()->Count(), 0);
  EXPECT_EQ(scope->INomMarker()->Position.Y, 0.0);
  EXPECT_NEAR(scope->CurrentDiagram()->ScaleY()->Max, 1.3 * 3.0, 1e-9);

  scope->FeedActState(nullptr, vx::Now());
  EXPECT_EQ(scope->VoltTrace()->Count(), 1);
}

TEST_F(ScopeDriveTest, AClosedWindowKeepsCollectingWithoutRenderingAndShowsItAllAgain) {
  Show();
  int renders = 0;
  scope->koGraph()->OnRefreshed = [&](TkoGraph*, const QImage&) { ++renders; };
  words[kDcBus] = 5600;
  Read(*drive);
  EXPECT_EQ(renders, 1);  // shown: every read renders

  scope->close();
  ASSERT_FALSE(scope->isVisible());
  for (int i = 0; i < 5; ++i) {
    words[kDcBus] = static_cast<uint16_t>(5000 + 100 * i);
    Read(*drive);
  }
  EXPECT_EQ(scope->VoltTrace()->Count(), 6);
  EXPECT_EQ(renders, 1);
  EXPECT_NEAR(Last(scope->VoltTrace()).Y, 540.0, 1e-9);

  // Shown again by the main window, it draws what it collected meanwhile.
  scope->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(scope.get()));
  EXPECT_GE(renders, 2);
  EXPECT_GT(vxtest::CountColor(scope->koGraph()->Bitmap(), scope->DcBusDiagram()->PlotRect,
                               QColor(255, 0, 255)),
            0);
}

TEST_F(ScopeDriveTest, PausedTheTracesStandStillWhileTheReadsGoOnInTheBackground) {
  Show();
  words[kDcBus] = 5000;
  for (int i = 0; i < 3; ++i) Read(*drive);
  int renders = 0;
  scope->koGraph()->OnRefreshed = [&](TkoGraph*, const QImage&) { ++renders; };
  scope->acPause()->trigger();
  ASSERT_TRUE(scope->Paused());
  EXPECT_EQ(scope->windowTitle(), "Oscilloscope (paused)");
  renders = 0;
  const std::vector<Tko2DPoint> frozen = scope->VoltTrace()->Points();
  std::vector<double> stamps;
  for (int i = 0; i < 400; ++i) {
    words[kDcBus] = static_cast<uint16_t>(5100 + i);
    stamps.push_back(Read(*drive));
  }
  scope->BreakTraces();  // the drive lost while paused
  words[kDcBus] = 6000;
  stamps.push_back(Read(*drive));
  // Nothing moved, nothing was drawn.
  ASSERT_EQ(scope->VoltTrace()->Points().size(), frozen.size());
  EXPECT_EQ(Last(scope->VoltTrace()).X, frozen.back().X);
  EXPECT_EQ(renders, 0);

  // Resumed: the newest samples of the pause, the gap, the last read.
  scope->acPause()->trigger();
  EXPECT_FALSE(scope->Paused());
  EXPECT_EQ(scope->windowTitle(), "Oscilloscope");
  const auto& p = scope->VoltTrace()->Points();
  ASSERT_EQ(p.size(), static_cast<std::size_t>(TScopeForm::kMaxPoints));
  EXPECT_EQ(p.back().X, stamps.back());
  EXPECT_NEAR(p.back().Y, 600.0, 1e-9);
  EXPECT_TRUE(std::isnan(p[p.size() - 2].X));
  EXPECT_EQ(p[p.size() - 3].X, stamps[399]);
  EXPECT_NEAR(p[p.size() - 3].Y, (5100 + 399) / 10.0, 1e-9);
  EXPECT_EQ(scope->VoltMarker()->Position.Y, p.back().Y);
  EXPECT_GE(renders, 1);
}

// --- End to end: the simulator's motor, read over loopback -----------------------------

#if __has_include("sim/simserver.h")

TEST_F(ScopeTest, FollowsTheSimulatedMotorReadByReadInDisplayUnits) {
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scoped{ui};
  vxtest::ServedDrive sim(vxtest::Line::kTcp, vx::SimServerOptions{}, "scopewin");
  const auto kLong = std::chrono::milliseconds(vxtest::kGenerous);

  auto net = std::make_unique<TkoMBNetwork>();
  net->SetFilePath(kModelDir);
  TkoMBThreadSetup* conn = nullptr;
  TkoDeviceSetup* dev = nullptr;
  ASSERT_TRUE(vxtest::AddSimConnection(*net, sim.TcpPort(), "drive", std::nullopt, conn, dev));
  net->SetOnLine(true);
  ASSERT_TRUE(vxtest::PumpUntilVX310(ui, *dev, kLong));
  auto* drive = static_cast<TkoDeviceVX310*>(dev->GetSlave());
  std::vector<double> stamps;
  // What the simulator sent at each read, in display units: amps, volts, position, speed.
  std::vector<std::array<double, 4>> sent;
  drive->OnActState = [&](TkoDeviceVXSlave* sender, TkoMBTransaction* t) {
    stamps.push_back(t->GetTimeStamp());
    auto* d = dynamic_cast<TkoDeviceVX310*>(sender);
    sent.push_back({d->ParI_MotorA->GetValue(), d->ParU_Dc_BusV->GetValue(),
                    static_cast<double>(static_cast<std::int32_t>(d->ParActualPos->GetLong())),
                    d->ParS_MotorRPM->GetValue()});
    scope->FeedActState(d, t->GetTimeStamp());
  };
  // The setup read brings the drive's current limits.
  ASSERT_TRUE(ui.PumpUntil([&] { return drive->GetSetupState() == 1; }, kLong));

  // Run the motor from the bus at a third of its speed range.
  drive->CmdDriveEnable->SetValue(1);
  ASSERT_EQ(drive->CmdDriveEnable->WriteNow(), 0);
  drive->ParSpeedRef->SetValue(0.3);
  ASSERT_EQ(drive->ParSpeedRef->WriteNow(), 0);

  const std::size_t from = stamps.size();
  ASSERT_TRUE(ui.PumpUntil(
      [&] {
        const auto& p = scope->SpeedPosTrace()->Points();
        return stamps.size() >= from + 20 && p.size() >= 2 && p.back().Y > 100 &&
               p.back().X != p[p.size() - 2].X;
      },
      kLong));
  net->SetOnLine(false);
  ui.PumpPending();

  // One point per read in each series, at the read's time stamp.
  // A read that came more than a second late on a loaded machine leaves a gap in the
  // series, which is no sample.
  const auto samples = [](const TkoGraphTraccia* t) {
    std::vector<Tko2DPoint> out;
    for (const Tko2DPoint& p : t->Points())
      if (!std::isnan(p.X)) out.push_back(p);
    return out;
  };
  const std::size_t n = stamps.size();
  ASSERT_EQ(samples(scope->VoltTrace()).size(), n);
  ASSERT_EQ(samples(scope->CurrentTrace()).size(), n);
  ASSERT_EQ(samples(scope->SpeedPosTrace()).size(), n);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(samples(scope->VoltTrace())[i].X, stamps[i]);
    EXPECT_EQ(samples(scope->CurrentTrace())[i].X, stamps[i]);
    if (i > 0) {
      EXPECT_GE(stamps[i], stamps[i - 1]);
    }
  }
  EXPECT_NEAR(stamps.back(), vx::Now(), 60 * kSecond);
  // Volts, amps and rpm, not raw tenths: a 230 V supply gives a bus of about 325 V.
  const Tko2DPoint volt = Last(scope->VoltTrace());
  EXPECT_GT(volt.Y, 250);
  EXPECT_LT(volt.Y, 400);
  EXPECT_NEAR(volt.Y, drive->ParU_Dc_BusV->GetValue(), 1e-9);
  EXPECT_NEAR(Last(scope->CurrentTrace()).Y, drive->ParI_MotorA->GetValue(), 1e-9);
  EXPECT_GT(Last(scope->CurrentTrace()).Y, 0);
  // The motor turns forward: the position grows with the speed.
  const std::vector<Tko2DPoint> sp = samples(scope->SpeedPosTrace());
  EXPECT_GT(sp.back().X, sp[from].X);
  EXPECT_EQ(sp.back().Y, drive->ParS_MotorRPM->GetValue());
  EXPECT_NEAR(scope->IMaxMarker()->Position.Y, drive->ParMotorIrA->GetValue(), 1e-9);
  EXPECT_NEAR(scope->INomMarker()->Position.Y, drive->ParMotorIpA->GetValue(), 1e-9);
  EXPECT_GT(scope->INomMarker()->Position.Y, 0);

  // The data exported read back: a row per read, in order, with the values sent.
  ASSERT_EQ(scope->ExportCsv(scratch.File("sim.csv")), "");
  std::istringstream csv(ReadAll(scratch.File("sim.csv")));
  std::string line;
  ASSERT_TRUE(std::getline(csv, line));
  EXPECT_EQ(line, "Time,IAct [A],Volt [V],Position [stp],Speed [rpm]\r");
  std::size_t row = 0;
  for (; std::getline(csv, line); ++row) {
    ASSERT_LT(row, n) << line;
    std::vector<std::string> fields;
    std::istringstream cells(line.substr(0, line.find('\r')));
    for (std::string f; std::getline(cells, f, ',');) fields.push_back(f);
    ASSERT_EQ(fields.size(), 5u) << line;
    // The time to the second (milliseconds after the point).
    double t = 0;
    ASSERT_TRUE(vx::TextToDateTime(fields[0].substr(0, fields[0].find('.')), t)) << fields[0];
    EXPECT_NEAR(t, stamps[row], 1.001 * kSecond) << line;
    for (std::size_t k = 0; k < 4; ++k)
      EXPECT_NEAR(std::strtod(fields[k + 1].c_str(), nullptr), sent[row][k], 1e-6) << line;
  }
  EXPECT_EQ(row, n);
  net.reset();
}

#endif

}  // namespace
