#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "graph/graphcanvas.h"
#include "graph/graphscala.h"
#include "graphtest.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(TickStep, FollowsTheOneTwoFiveProgression) {
  struct Case {
    double step, span, k, d, want;
  };
  const Case cases[] = {
      {5, 20, 10, 26, 5},       // 50 px per step cover a 26 px label
      {1000, 1, 200, 10, 0.1},  // shrinks below half the span first
      {1, 100, 2, 26, 20},      // 2 px grows to 10 (20 px), then to 20 (40 px)
      {1, 100, 2, 9, 5},        // 2 px: x2 gives 4, x5 gives 10 >= 9
      {1, 100, 2, 3, 2},        // x2 is enough
      {0.1, 1, 1000, 26, 0.1},  // already wide enough
      {-1, 100, 2, 10, 0},      // no step set
      {0, 100, 2, 10, 0},
      {5, 0, 1, 10, 0},  // empty span: no intermediate ticks
      {5, -10, 1, 10, 0},
      {5, kInf, 0, 10, 0},  // infinite range: scale factor 0, must not loop forever
      {5, kNaN, 1, 10, 0},
      {kNaN, 10, 1, 10, 0},
      {5, 20, -3, 10, 0},       // a plot with negative size
      {1e-9, 1, 100, 0, 0.01},  // an empty label picture still keeps ticks a pixel apart
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(vx::ChooseTickStep(c.step, c.span, c.k, c.d), c.want)
        << "step " << c.step << " span " << c.span << " k " << c.k << " d " << c.d;
  }
}

TEST(TickStep, ChosenStepCoversTheLabelAndStaysInTheProgression) {
  for (double span : {0.003, 1.0, 7.5, 20.0, 1234.0, 86400.0}) {
    for (double d : {1.0, 13.0, 26.0, 60.0}) {
      const double k = 300 / span;
      const double s = vx::ChooseTickStep(1, span, k, d);
      ASSERT_GT(s, 0);
      EXPECT_GE(s * k, d) << span << " " << d;
      const double mantissa = s / std::pow(10.0, std::floor(std::log10(s) + 1e-9));
      EXPECT_TRUE(std::abs(mantissa - 1) < 1e-6 || std::abs(mantissa - 2) < 1e-6 ||
                  std::abs(mantissa - 5) < 1e-6)
          << "step " << s << " for span " << span << " and " << d << " px";
    }
  }
}

TEST(TickValues, AreTheMultiplesInsideTheRangeExcludingTheMinimum) {
  struct Case {
    double min, max, step;
    std::vector<double> want;
  };
  const Case cases[] = {
      {0, 20, 5, {5, 10, 15, 20}},
      {-7, 7, 5, {-5, 0, 5}},
      {-20, -4, 5, {-15, -10, -5}},
      {0.5, 2.2, 1, {1, 2}},
      {3, 3, 1, {}},
      {0, 10, 0, {}},
      {0, 10, -2, {}},
      {kNaN, 10, 1, {}},
  };
  for (const Case& c : cases) {
    const std::vector<double> got = vx::TickValues(c.min, c.max, c.step);
    ASSERT_EQ(got.size(), c.want.size()) << c.min << ".." << c.max << " / " << c.step;
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.want[i], 1e-9);
  }
}

TEST(TickValues, DoNotDriftOnALongAxis) {
  // A time axis a few days after the date origin with a 10 s step.
  const double s = 10.0 / 86400.0;
  const double min = 46000.25;
  const std::vector<double> v = vx::TickValues(min, min + 30 * s + 1e-12, s);
  ASSERT_EQ(v.size(), 30u);
  EXPECT_NEAR(v.back() - v.front(), 29 * s, 1e-9);
}

// A scale laid out as in a diagram: a plot of `pixels` along the axis.
std::unique_ptr<TkoGraphScala> MakeScale(std::uint8_t orientation, const vx::Rect& plot, double min,
                                         double max) {
  auto made = std::make_unique<TkoGraphScala>("", orientation);
  TkoGraphScala& s = *made;
  s.PlotRect = plot;
  if (orientation == TkoGraphScala::kBelow || orientation == TkoGraphScala::kAbove) {
    s.Bounds = {plot.Left - 1, plot.Bottom + 1, plot.Right + 1, plot.Bottom + 20};
  } else {
    s.Bounds = {plot.Left - 40, plot.Top - 1, plot.Left - 1, plot.Bottom + 1};
  }
  s.Min = min;
  s.Max = max;
  return made;
}

TEST(ScaleConversion, PixelsPerUnitUsesThePlotSize) {
  const vx::Rect plot{30, 10, 230, 110};  // 200 wide, 100 high
  EXPECT_DOUBLE_EQ(MakeScale(TkoGraphScala::kBelow, plot, 0, 20)->PixelsPerUnit(), 10.0);
  EXPECT_DOUBLE_EQ(MakeScale(TkoGraphScala::kLeft, plot, -50, 50)->PixelsPerUnit(), 1.0);
  EXPECT_DOUBLE_EQ(MakeScale(TkoGraphScala::kLeft, plot, 5, 5)->PixelsPerUnit(), 1.0);
}

TEST(ScaleConversion, EndsOfTheRangeLandOnThePlotEdges) {
  const vx::Rect plot{30, 10, 230, 110};
  const auto xOwned = MakeScale(TkoGraphScala::kBelow, plot, -3, 17);
  const TkoGraphScala& x = *xOwned;
  const auto yOwned = MakeScale(TkoGraphScala::kLeft, plot, 100, 600);
  const TkoGraphScala& y = *yOwned;
  EXPECT_EQ(x.ToPixelX(-3, plot), plot.Left);
  EXPECT_EQ(x.ToPixelX(17, plot), plot.Right);
  EXPECT_EQ(y.ToPixelY(100, plot), plot.Bottom);
  EXPECT_EQ(y.ToPixelY(600, plot), plot.Top);
  // Truncation goes toward zero on both sides of the minimum.
  EXPECT_EQ(x.ToPixelX(-3.05, plot), plot.Left);
  EXPECT_EQ(x.ToPixelX(-3.15, plot), plot.Left - 1);
}

TEST(ScaleConversion, RoundTripsBothWays) {
  struct Case {
    std::uint8_t orientation;
    vx::Rect plot;
    double min, max;
  };
  const Case cases[] = {
      {TkoGraphScala::kBelow, {30, 10, 230, 110}, 0, 20},
      {TkoGraphScala::kBelow, {0, 0, 317, 50}, -1234.5, 98765.25},
      {TkoGraphScala::kBelow, {5, 5, 77, 40}, 46000.1, 46000.1 + 30.0 / 86400},
      {TkoGraphScala::kLeft, {30, 10, 230, 110}, -0.1, 13},
      {TkoGraphScala::kLeft, {40, 3, 400, 260}, -700, -10},
      {TkoGraphScala::kRight, {2, 2, 100, 99}, 0.001, 0.002},
  };
  for (const Case& c : cases) {
    const auto made = MakeScale(c.orientation, c.plot, c.min, c.max);
    const TkoGraphScala& s = *made;
    const bool horizontal = s.Horizontal();
    const int first = horizontal ? c.plot.Left : c.plot.Top;
    const int last = horizontal ? c.plot.Right : c.plot.Bottom;
    const double unit = 1.0 / s.PixelsPerUnit();
    for (int px = first; px <= last; ++px) {
      // Pixel to data and back gives the same pixel.
      const double v = horizontal ? s.FromPixelX(px, c.plot) : s.FromPixelY(px, c.plot);
      const int back = horizontal ? s.ToPixelX(v, c.plot) : s.ToPixelY(v, c.plot);
      ASSERT_EQ(back, px) << c.min << ".." << c.max << " at " << px;
    }
    for (int i = 0; i <= 50; ++i) {
      // Data to pixel and back lands within one pixel's worth of data.
      const double v = c.min + (c.max - c.min) * i / 50.0;
      const int px = horizontal ? s.ToPixelX(v, c.plot) : s.ToPixelY(v, c.plot);
      const double back = horizontal ? s.FromPixelX(px, c.plot) : s.FromPixelY(px, c.plot);
      ASSERT_NEAR(back, v, unit * 1.000001) << c.min << ".." << c.max << " value " << v;
    }
  }
}

TEST(ScaleConversion, ValuesFarOutsideTheRangeStayFinitePixels) {
  const vx::Rect plot{30, 10, 230, 110};
  const auto xOwned = MakeScale(TkoGraphScala::kBelow, plot, 0, 1e-300);
  const TkoGraphScala& x = *xOwned;
  for (double v : {1e300, -1e300, kInf, -kInf, kNaN}) {
    const int px = x.ToPixelX(v, plot);
    EXPECT_LT(std::abs(px), 1 << 25) << v;
  }
}

class ScaleDrawTest : public ::testing::Test {
 protected:
  void SetUp() override { vxtest::EnsureGuiApp(); }
};

TEST_F(ScaleDrawTest, DrawsGridLinesOnlyAtIntermediateTicks) {
  QImage image(300, 200, QImage::Format_RGB32);
  image.fill(Qt::black);
  const vx::Rect plot{40, 10, 290, 160};
  const auto xOwned = MakeScale(TkoGraphScala::kBelow, plot, 0, 20);
  TkoGraphScala& x = *xOwned;
  x.Bounds = {plot.Left - 1, plot.Bottom + 1, plot.Right + 1, 199};
  x.Step = 5;
  x.GridFormat.Pen = {QColor(255, 0, 0), Qt::SolidLine, 1, vx::PenMode::Copy};
  x.LabelFormat.SetVisible(false);
  {
    vx::GraphCanvas canvas(image);
    ASSERT_TRUE(x.Draw(&canvas));
  }
  const QColor red(255, 0, 0);
  const double k = x.PixelsPerUnit();  // 12.5 px a unit: 5 fits any label
  for (double v : {5.0, 10.0, 15.0, 20.0}) {
    const int px = static_cast<int>(k * v + plot.Left);
    EXPECT_EQ(vxtest::CountColor(image, {px, plot.Top, px + 1, plot.Bottom}, red),
              plot.Bottom - plot.Top)
        << v;
  }
  EXPECT_EQ(vxtest::CountColor(image, {0, 0, 300, 200}, red), 4 * (plot.Bottom - plot.Top));

  // Without a step only the end ticks remain, and no grid.
  image.fill(Qt::black);
  x.Step = -1;
  {
    vx::GraphCanvas canvas(image);
    ASSERT_TRUE(x.Draw(&canvas));
  }
  EXPECT_EQ(vxtest::CountColor(image, {0, 0, 300, 200}, red), 0);
  const QColor white(255, 255, 255);
  EXPECT_EQ(vxtest::CountColor(image, {0, 0, 300, 200}, white), 2 * 5);
}

TEST_F(ScaleDrawTest, InvisibleScaleOrNoCanvasDrawsNothing) {
  QImage image(100, 100, QImage::Format_RGB32);
  image.fill(Qt::black);
  const auto xOwned = MakeScale(TkoGraphScala::kBelow, {10, 10, 90, 60}, 0, 1);
  TkoGraphScala& x = *xOwned;
  EXPECT_FALSE(x.Draw(nullptr));
  x.Visible = false;
  {
    vx::GraphCanvas canvas(image);
    EXPECT_FALSE(x.Draw(&canvas));
  }
  EXPECT_EQ(vxtest::CountColor(image, {0, 0, 100, 100}, Qt::black), 100 * 100);
}

TEST_F(ScaleDrawTest, TimeAxisMeasuresTicksWithTheTimeText) {
  QImage image(400, 100, QImage::Format_RGB32);
  const vx::Rect plot{10, 10, 310, 60};
  const auto xOwned = MakeScale(TkoGraphScala::kBelow, plot, 46000.0, 46000.0 + 60.0 / 86400);
  TkoGraphScala& x = *xOwned;
  x.Step = 1.0 / 86400;  // one second, 5 px apart
  vx::GraphCanvas canvas(image);
  const double plain = x.TickStep(canvas);
  x.TimeLabels = true;
  const double timed = x.TickStep(canvas);
  canvas.Font = x.LabelFormat.Font;
  const int timeWidth = canvas.TextWidth(vx::TimeText(46000.5));
  const int pictureWidth = canvas.TextWidth(x.LabelFormat.Text());
  ASSERT_GT(timeWidth, pictureWidth);
  EXPECT_GE(timed * x.PixelsPerUnit(), timeWidth);
  EXPECT_GT(timed, plain);
}

}  // namespace
