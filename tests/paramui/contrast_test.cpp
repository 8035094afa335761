// Colours the windows draw themselves, fitted to light and dark palettes.
#include "paramui/contrast.h"

#include <gtest/gtest.h>

#include <QColor>

namespace {

TEST(ContrastTest, RatioFollowsTheLuminanceOfBothColours) {
  EXPECT_NEAR(vx::ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
  EXPECT_NEAR(vx::ContrastRatio(Qt::white, Qt::black), 21.0, 1e-9);
  EXPECT_NEAR(vx::ContrastRatio(QColor(90, 90, 90), QColor(90, 90, 90)), 1.0, 1e-9);
  // A mid grey on white: just readable.
  EXPECT_NEAR(vx::ContrastRatio(QColor(118, 118, 118), Qt::white), 4.54, 0.01);
}

TEST(ContrastTest, RowColoursGiveWayWhereThePalettesTextWouldNotRead) {
  const QColor lightBlue(192, 201, 255);
  const struct {
    const char* palette;
    QColor base, text;
    bool designKept;
  } cases[] = {
      {"light", Qt::white, Qt::black, true},
      {"dark", QColor(35, 35, 35), QColor(230, 230, 230), false},
      {"dark, white text", QColor(0, 0, 0), Qt::white, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.palette);
    const QColor row = vx::FitBackground(lightBlue, c.base, c.text);
    EXPECT_GE(vx::ContrastRatio(row, c.text), vx::kMinTextContrast);
    EXPECT_EQ(row == lightBlue, c.designKept);
    if (!c.designKept) {
      // Still tinted towards the design where the palette allows: bluer than grey.
      EXPECT_GE(row.blue(), row.red());
    }
  }
  // A base that the text itself does not read on is all that is left.
  EXPECT_EQ(vx::FitBackground(lightBlue, QColor(128, 128, 128), QColor(120, 120, 120)),
            QColor(128, 128, 128));
}

TEST(ContrastTest, TextKeepsItsColourWhereItReads) {
  const struct {
    QColor designed, background, expected;
  } cases[] = {
      {Qt::white, QColor(4, 81, 208), Qt::white},     // white on dark blue reads
      {Qt::white, QColor(172, 203, 253), Qt::black},  // not on light blue
      {Qt::black, QColor(20, 20, 20), Qt::white},     // black on a dark ground
      {QColor(0, 0, 192), Qt::white, QColor(0, 0, 192)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(vx::FitText(c.designed, c.background), c.expected)
        << c.designed.name().toStdString() << " on " << c.background.name().toStdString();
  }
}

}  // namespace
