#include "paramui/contrast.h"

#include <QPalette>
#include <algorithm>
#include <cmath>

namespace vx {

namespace {

double Channel(double c) {
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
  return 0.2126 * Channel(c.redF()) + 0.7152 * Channel(c.greenF()) + 0.0722 * Channel(c.blueF());
}

}  // namespace

QColor MixColours(const QColor& from, const QColor& to, double f) {
  return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * f),
                          static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * f),
                          static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * f));
}

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor FitBackground(const QColor& designed, const QColor& base, const QColor& text) {
  // From the designed colour towards the base, in small steps: the first that the text
  // reads on keeps as much of the design's tint as the palette allows.
  for (int step = 10; step > 0; --step) {
    const QColor c = MixColours(base, designed, step / 10.0);
    if (ContrastRatio(c, text) >= kMinTextContrast) return c;
  }
  return base;
}

QColor FitText(const QColor& designed, const QColor& background) {
  if (ContrastRatio(designed, background) >= kMinTextContrast) return designed;
  return TextOn(background);
}

QColor TextOn(const QColor& background) {
  const QColor black(0, 0, 0);
  const QColor white(255, 255, 255);
  return ContrastRatio(black, background) >= ContrastRatio(white, background) ? black : white;
}

bool IsDark(const QPalette& palette) {
  return Luminance(palette.color(QPalette::Window)) <
         Luminance(palette.color(QPalette::WindowText));
}

}  // namespace vx
