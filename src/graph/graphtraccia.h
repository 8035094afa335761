#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "graph/graphelement.h"

class TkoGraphScala;
namespace vx {
class GraphCanvas;
}

// A named series of data points drawn inside a diagram's plot area. It keeps the running
// minimum and maximum of its X and Y values for the diagram's automatic ranges. The
// LineFormat's pen and brush draw it.
class TkoGraphTraccia : public TkoGraphElement {
 public:
  static constexpr std::uint8_t kLineNone = 0, kLineLine = 1, kLineSteps = 2, kLineBars = 3,
                                kLinePixels = 4;
  static constexpr std::uint8_t kPointNone = 0, kPointCircle = 1, kPointSquare = 2,
                                kPointTriangle = 3, kPointCross = 4;

  explicit TkoGraphTraccia(const std::string& name);

  // Appends (x, y), first dropping the oldest point when `dropOldest` is set (a trace of
  // one point keeps it). The ranges start afresh at the first point and widen after.
  // A coordinate that is not finite is kept as a gap in the drawing but counts in no
  // range.
  void AddPoint(double x, double y, bool dropOldest);
  // Deletes the n oldest points and recomputes the ranges; nothing when n is not smaller
  // than the number of points, so the last point is never dropped this way.
  void DeleteFirst(int n);
  // Deletes every point; the ranges keep their last values until the next point.
  void Clear();
  int Count() const { return static_cast<int>(points_.size()); }
  const std::vector<Tko2DPoint>& Points() const { return points_; }
  // Ranges from the points; an empty list leaves them as they are.
  void CalcRange();

  const vx::DataRange& RangeX() const { return rangeX_; }
  const vx::DataRange& RangeY() const { return rangeY_; }

  // False, drawing nothing, when the trace is invisible or a canvas or scale is missing.
  bool Draw(vx::GraphCanvas* canvas, const TkoGraphScala* scaleX, const TkoGraphScala* scaleY);

  using TkoGraphElement::HitTest;
  // The trace when the point lies strictly inside Bounds (the plot), with CursorPoint set
  // to the data coordinates there; else null and CursorPoint cleared.
  TkoGraphTraccia* HitTest(const QPoint& point, const TkoGraphScala* scaleX,
                           const TkoGraphScala* scaleY);

  std::optional<Tko2DPoint> CursorPoint;  // data coordinates of the last click that hit
  std::uint8_t LineStyle = kLineLine;
  std::uint8_t PointStyle = kPointNone;

 private:
  void Widen(const Tko2DPoint& p);

  std::vector<Tko2DPoint> points_;
  vx::DataRange rangeX_;
  vx::DataRange rangeY_;
  // Whether the range holds a value of the present points yet (ranges survive a Clear).
  bool haveX_ = false;
  bool haveY_ = false;
};

namespace vx {

// The mark of a point style (circle, square, triangle, cross) at (px, py) with the
// canvas's pen and brush. The pen position is left where it was.
void DrawPointStyle(GraphCanvas& canvas, std::uint8_t style, int px, int py);

}  // namespace vx
