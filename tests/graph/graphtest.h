#pragma once
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cstdlib>

#include "graph/graphtypes.h"

namespace vxtest {

// Fonts need a GUI application; one lives for the whole test program, on the offscreen
// platform unless the caller chose another.
inline void EnsureGuiApp() {
  if (QCoreApplication::instance() != nullptr) return;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "graph_tests";
  static char* argv[] = {name, nullptr};
  static QGuiApplication app(argc, argv);
}

// Pixels of `color` inside the rectangle (Right and Bottom excluded); the rectangle is cut
// to the image.
inline int CountColor(const QImage& image, const vx::Rect& r, const QColor& color) {
  int n = 0;
  const QRgb want = color.rgb();
  for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, image.height()); ++y) {
    for (int x = std::max(r.Left, 0); x < std::min(r.Right, image.width()); ++x) {
      if ((image.pixel(x, y) | 0xFF000000u) == (want | 0xFF000000u)) ++n;
    }
  }
  return n;
}

// Pixels inside the rectangle that differ from `background` (text is antialiased, so
// its pixels are found this way rather than by its exact colour).
inline int CountOther(const QImage& image, const vx::Rect& r, const QColor& background) {
  const int all = (std::min(r.Bottom, image.height()) - std::max(r.Top, 0)) *
                  (std::min(r.Right, image.width()) - std::max(r.Left, 0));
  return all - CountColor(image, r, background);
}

// Pixels of `color` anywhere outside the rectangle.
inline int CountColorOutside(const QImage& image, const vx::Rect& r, const QColor& color) {
  return CountColor(image, {0, 0, image.width(), image.height()}, color) -
         CountColor(image, r, color);
}

}  // namespace vxtest
