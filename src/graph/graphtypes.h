#pragma once
#include <QColor>
#include <QFont>
#include <QString>

// Data coordinates of a trace point or a marker.
struct Tko2DPoint {
  double X = 0.0;
  double Y = 0.0;
};

namespace vx {

// An integer pixel rectangle. Whether Right and Bottom belong to the area depends on the
// drawing operation that uses it, as with the canvas operations below.
struct Rect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  // Points on an edge are outside.
  bool ContainsStrictly(int x, int y) const {
    return Left < x && x < Right && Top < y && y < Bottom;
  }
  bool operator==(const Rect&) const = default;
};

struct DataRange {
  double Min = 0.0;
  double Max = 0.0;
  bool operator==(const DataRange&) const = default;
};

// How a pen combines with the pixels below it.
enum class PenMode { Copy, Xor, NotXor };

struct GraphPen {
  QColor Color = QColor(0, 0, 0);
  Qt::PenStyle Style = Qt::SolidLine;
  int Width = 1;
  PenMode Mode = PenMode::Copy;
  bool operator==(const GraphPen&) const = default;
};

struct GraphBrush {
  QColor Color = QColor(255, 255, 255);
  Qt::BrushStyle Style = Qt::SolidPattern;  // Qt::NoBrush: the brush fills nothing
  // Choosing a colour for a brush that fills nothing makes it fill solid: whoever picks a
  // colour means to see it.
  void SetColor(const QColor& color) {
    Color = color;
    if (Style == Qt::NoBrush) Style = Qt::SolidPattern;
  }
  bool operator==(const GraphBrush&) const = default;
};

struct GraphFont {
  QString Name;  // empty: the application's default family
  // Negative: the character height in pixels; positive: points.
  int Size = 8;
  QColor Color = QColor(0, 0, 0);
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;

  QFont ToQFont() const;
  bool operator==(const GraphFont&) const = default;
};

}  // namespace vx
