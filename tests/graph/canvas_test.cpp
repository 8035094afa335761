#include <gtest/gtest.h>

#include "graph/graphcanvas.h"
#include "graph/graphformat.h"
#include "graphtest.h"

namespace {

class CanvasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vxtest::EnsureGuiApp();
    image.fill(Qt::black);
  }
  bool Lit(int x, int y) const { return QColor(image.pixel(x, y)) == QColor(Qt::white); }
  int LitCount() const { return vxtest::CountColor(image, {0, 0, 40, 40}, Qt::white); }

  QImage image{40, 40, QImage::Format_RGB32};
};

TEST_F(CanvasTest, ThinLinesCoverTheirFirstPointButNotTheirLast) {
  struct Case {
    int x0, y0, x1, y1;
  };
  const Case cases[] = {{10, 20, 30, 20}, {30, 20, 10, 20}, {20, 5, 20, 35}, {20, 35, 20, 5},
                        {5, 5, 25, 25},   {25, 25, 5, 5},   {5, 30, 35, 12}, {35, 12, 5, 30}};
  for (const Case& c : cases) {
    image.fill(Qt::black);
    {
      vx::GraphCanvas canvas(image);
      canvas.Pen.Color = Qt::white;
      canvas.MoveTo(c.x0, c.y0);
      canvas.LineTo(c.x1, c.y1);
      EXPECT_EQ(canvas.PenX(), c.x1);
      EXPECT_EQ(canvas.PenY(), c.y1);
    }
    EXPECT_TRUE(Lit(c.x0, c.y0)) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
    EXPECT_FALSE(Lit(c.x1, c.y1)) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
    EXPECT_EQ(LitCount(), std::max(std::abs(c.x1 - c.x0), std::abs(c.y1 - c.y0)))
        << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
  }
}

TEST_F(CanvasTest, DashPatternsLeaveGaps) {
  struct Case {
    Qt::PenStyle style;
    int lit;  // of 30 pixels
  };
  const Case cases[] = {{Qt::SolidLine, 30}, {Qt::DotLine, 10}, {Qt::DashLine, 20}, {Qt::NoPen, 0}};
  for (const Case& c : cases) {
    image.fill(Qt::black);
    {
      vx::GraphCanvas canvas(image);
      canvas.Pen = {QColor(Qt::white), c.style, 1, vx::PenMode::Copy};
      canvas.MoveTo(5, 10);
      canvas.LineTo(35, 10);
    }
    EXPECT_EQ(LitCount(), c.lit) << int(c.style);
  }
}

TEST_F(CanvasTest, RectangleCoversLeftTopButNotRightBottom) {
  {
    vx::GraphCanvas canvas(image);
    canvas.Pen.Color = Qt::white;
    canvas.Brush = {QColor(Qt::white), Qt::SolidPattern};
    canvas.Rectangle(5, 6, 15, 10);
    canvas.Rectangle(20, 20, 20, 30);  // empty: nothing
  }
  EXPECT_EQ(LitCount(), 10 * 4);
  EXPECT_TRUE(Lit(5, 6));
  EXPECT_TRUE(Lit(14, 9));
  EXPECT_FALSE(Lit(15, 9));
  EXPECT_FALSE(Lit(14, 10));
}

TEST_F(CanvasTest, ClipExcludesRightAndBottomEdges) {
  {
    vx::GraphCanvas canvas(image);
    canvas.SetClip({10, 10, 20, 20});
    canvas.Pen.Color = Qt::white;
    canvas.Brush = {QColor(Qt::white), Qt::SolidPattern};
    canvas.Rectangle(0, 0, 40, 40);
    canvas.ClearClip();
    canvas.SetPixel(30, 30, Qt::white);
  }
  EXPECT_EQ(LitCount(), 10 * 10 + 1);
  EXPECT_FALSE(Lit(20, 15));
  EXPECT_FALSE(Lit(15, 20));
}

TEST(Win1252, DecodesTheHighBytes) {
  struct Case {
    std::string in;
    QString out;
  };
  const Case cases[] = {
      {"abc", "abc"},
      {"\x80", QString(QChar(0x20AC))},
      {"\xE9t\xE9", QString::fromUtf8("\xC3\xA9t\xC3\xA9")},
      {"\x96\xB0", QString(QChar(0x2013)) + QChar(0xB0)},
      {"\x81", QString(QChar(0x81))},  // unassigned: kept as is
      {std::string("a\0b", 3), QString(QChar('a')) + QChar(0) + QChar('b')},
  };
  for (const Case& c : cases) EXPECT_EQ(vx::FromWin1252(c.in), c.out);
}

TEST(Formats, ChangeIsRaisedOnlyForRealChanges) {
  TkoTextFormat text;
  TkoLineFormat line;
  int textChanges = 0, lineChanges = 0;
  text.OnChange = [&](TkoTextFormat* sender) {
    EXPECT_EQ(sender, &text);
    ++textChanges;
  };
  line.OnChange = [&](TkoLineFormat* sender) {
    EXPECT_EQ(sender, &line);
    ++lineChanges;
  };
  text.SetText("");       // as created
  text.SetVisible(true);  // as created
  text.SetText("Speed");
  text.SetText("Speed");
  text.SetText("speed");  // letter case counts
  text.SetVisible(false);
  text.SetVisible(false);
  line.SetVisible(true);
  line.SetVisible(false);
  line.SetVisible(false);
  EXPECT_EQ(textChanges, 3);
  EXPECT_EQ(lineChanges, 1);
  EXPECT_EQ(text.Text(), "speed");
  EXPECT_FALSE(text.Visible());
  EXPECT_FALSE(line.Visible());
}

}  // namespace
