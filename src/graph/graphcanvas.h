#pragma once
#include <QImage>
#include <QPainter>
#include <string>
#include <vector>

#include "graph/graphtypes.h"
#include "paramui/textcodec.h"

namespace vx {

// Windows-1252 text as Qt text; the graph's names and value texts are engine text.
inline QString FromWin1252(const std::string& text) {
  return ToQString(text);
}

// Converts a pixel coordinate computed in floating point to int, truncating toward zero.
// Values far outside any bitmap, infinities and NaN are pinned to a large finite value
// (NaN to 0) instead of reaching an undefined conversion.
int TruncPixel(double value);

// The drawing canvas of the graph: a QPainter on a bitmap with the state the drawing code
// sets before each operation (pen, brush, font) and the pen position. Coordinates follow
// one convention throughout: a line covers its first point but not its last, and the
// boxes of Rectangle, Ellipse, RoundRect and FillRect cover Left..Right-1 and Top..Bottom-1.
// Painting is never antialiased, so that what the layout computes lands on exact pixels.
//
// On a bitmap with a device pixel ratio above 1 the drawing is done at that resolution
// (lines and text sharp, not an enlarged 1x picture) and texts are measured at both
// resolutions, the wider one counting, so that a text never outgrows the room the layout
// gave it. On a vector device (an SVG file) lines are drawn as lines, not pixel by pixel.
class GraphCanvas {
 public:
  explicit GraphCanvas(QImage& bitmap);
  explicit GraphCanvas(QPaintDevice& device);
  GraphCanvas(const GraphCanvas&) = delete;
  GraphCanvas& operator=(const GraphCanvas&) = delete;

  GraphPen Pen;
  GraphBrush Brush;
  GraphFont Font;

  void MoveTo(int x, int y);
  void LineTo(int x, int y);  // draws with Pen and moves the pen position to (x, y)
  // Lines from the pen position through every point, as LineTo to each would draw them,
  // but a wide pen strokes them as one line (joined, with ends only at the two ends),
  // which costs a fraction of the separate lines.
  void PolylineTo(const std::vector<QPoint>& points);
  int PenX() const { return penX_; }
  int PenY() const { return penY_; }

  // Filled with Brush, outlined with Pen.
  void Rectangle(int left, int top, int right, int bottom);
  void Ellipse(int left, int top, int right, int bottom);
  // Corners are arcs of an ellipse of cornerW by cornerH.
  void RoundRect(int left, int top, int right, int bottom, int cornerW, int cornerH);
  void Polygon(const std::vector<QPoint>& points);
  // Filled with Brush only.
  void FillRect(const Rect& r);
  void SetPixel(int x, int y, const QColor& color);

  // (x, y) is the top-left corner of the text cell. A brush that fills paints the cell
  // behind the text.
  void TextOut(int x, int y, const std::string& text);
  // Reads upward; (x, y) is the corner where the text starts, the cell lies to its right.
  void TextOutTurned(int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);

  // Right and bottom edges are outside the clipped area.
  void SetClip(const Rect& r);
  void ClearClip();

  QPainter& Painter() { return painter_; }

 private:
  void ApplyPen();
  void ThinLine(int x0, int y0, int x1, int y1);
  void ApplyBrush();
  QFontMetrics Metrics();
  // The text's width in layout pixels as drawn on this device.
  int MeasuredWidth(const QString& text);

  QPainter painter_;
  bool raster_ = true;
  double dpr_ = 1.0;
  QFont deviceFont_;  // the font at the device's resolution, for measuring only
  int penX_ = 0;
  int penY_ = 0;
  GraphFont metricsFont_;
  QFont qfont_;
  std::vector<QPoint> points_;  // reused by ThinLine
};

}  // namespace vx
