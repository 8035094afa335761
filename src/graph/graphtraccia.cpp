#include "graph/graphtraccia.h"

#include <algorithm>
#include <cmath>

#include "graph/graphcanvas.h"
#include "graph/graphscala.h"

namespace vx {

void DrawPointStyle(GraphCanvas& canvas, std::uint8_t style, int px, int py) {
  switch (style) {
    case TkoGraphTraccia::kPointCircle:
      canvas.Ellipse(px - 2, py - 2, px + 3, py + 3);
      break;
    case TkoGraphTraccia::kPointSquare:
      canvas.Rectangle(px - 2, py - 2, px + 3, py + 3);
      break;
    case TkoGraphTraccia::kPointTriangle:
      canvas.Polygon({QPoint(px - 3, py + 2), QPoint(px + 3, py + 2), QPoint(px, py - 5)});
      break;
    case TkoGraphTraccia::kPointCross: {
      // The line through the points goes on from the point itself, not from the end of
      // the cross's last stroke.
      const int x = canvas.PenX(), y = canvas.PenY();
      canvas.MoveTo(px - 2, py - 2);
      canvas.LineTo(px + 3, py + 3);
      canvas.MoveTo(px - 2, py + 2);
      canvas.LineTo(px + 3, py - 3);
      canvas.MoveTo(x, y);
      break;
    }
    default:
      break;
  }
}

}  // namespace vx

TkoGraphTraccia::TkoGraphTraccia(const std::string& name) : TkoGraphElement(name) {}

void TkoGraphTraccia::Widen(const Tko2DPoint& p) {
  const auto widen = [](vx::DataRange& r, bool& have, double v) {
    if (!std::isfinite(v)) return;
    if (!have) {
      r = {v, v};
      have = true;
    } else if (v > r.Max) {
      r.Max = v;
    } else if (v < r.Min) {
      r.Min = v;
    }
  };
  widen(rangeX_, haveX_, p.X);
  widen(rangeY_, haveY_, p.Y);
}

void TkoGraphTraccia::AddPoint(double x, double y, bool dropOldest) {
  if (dropOldest) DeleteFirst(1);
  points_.push_back({x, y});
  if (points_.size() <= 1) haveX_ = haveY_ = false;
  Widen(points_.back());
}

void TkoGraphTraccia::DeleteFirst(int n) {
  if (n <= 0 || n >= Count()) return;
  points_.erase(points_.begin(), points_.begin() + n);
  points_.shrink_to_fit();
  CalcRange();
}

void TkoGraphTraccia::Clear() {
  points_.clear();
  points_.shrink_to_fit();
  CalcRange();
  haveX_ = haveY_ = false;
}

void TkoGraphTraccia::CalcRange() {
  if (points_.empty()) return;
  haveX_ = haveY_ = false;
  for (const Tko2DPoint& p : points_) Widen(p);
}

bool TkoGraphTraccia::Draw(vx::GraphCanvas* canvas, const TkoGraphScala* scaleX,
                           const TkoGraphScala* scaleY) {
  if (!Visible || canvas == nullptr || scaleX == nullptr || scaleY == nullptr) return false;
  const vx::Rect& b = Bounds;
  // The plot's right column and bottom row belong to it (the layout fills them), and a
  // point at the range's maximum lands there.
  canvas->SetClip({b.Left, b.Top, b.Right + 1, b.Bottom + 1});
  vx::UseFormat(*canvas, LineFormat);
  const int y0 = scaleY->ToPixelY(0.0, b);
  const auto valid = [](const Tko2DPoint& p) { return std::isfinite(p.X) && std::isfinite(p.Y); };
  bool penDown = false;  // false at the start and after a gap
  const std::size_t n = points_.size();
  if (LineStyle == kLineLine && PointStyle == kPointNone) {
    // The plain line, the oscilloscope's: each stretch between gaps in one stroke.
    std::vector<QPoint> run;
    const auto flush = [&] {
      if (run.empty()) return;
      canvas->MoveTo(run.front().x(), run.front().y());
      run.erase(run.begin());
      canvas->PolylineTo(run);
      run.clear();
    };
    for (const Tko2DPoint& p : points_) {
      if (!valid(p)) {
        flush();
        continue;
      }
      run.emplace_back(scaleX->ToPixelX(p.X, b), scaleY->ToPixelY(p.Y, b));
    }
    flush();
    canvas->ClearClip();
    return true;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const Tko2DPoint& p = points_[i];
    if (!valid(p)) {
      penDown = false;
      continue;
    }
    const int px = scaleX->ToPixelX(p.X, b);
    const int py = scaleY->ToPixelY(p.Y, b);
    // The next point, or the point itself for the last one and before a gap.
    const Tko2DPoint& next = i + 1 < n && valid(points_[i + 1]) ? points_[i + 1] : p;
    const int nx = scaleX->ToPixelX(next.X, b);
    const int ny = scaleY->ToPixelY(next.Y, b);
    switch (LineStyle) {
      case kLineLine:
        if (penDown) {
          canvas->LineTo(px, py);
        } else {
          canvas->MoveTo(px, py);
        }
        break;
      case kLineSteps:
        if (!penDown) canvas->MoveTo(px, py);
        canvas->LineTo(nx, py);
        canvas->LineTo(nx, ny);
        break;
      case kLineBars:
        // From the point to the zero line, up or down; the last bar is one pixel wide.
        canvas->Rectangle(std::min(px, nx), std::min(py, y0), std::max(px, nx) + 1,
                          std::max(py, y0) + 1);
        break;
      case kLinePixels:
        canvas->SetPixel(px, py, canvas->Pen.Color);
        break;
      default:
        break;
    }
    penDown = true;
    vx::DrawPointStyle(*canvas, PointStyle, px, py);
  }
  canvas->ClearClip();
  return true;
}

TkoGraphTraccia* TkoGraphTraccia::HitTest(const QPoint& point, const TkoGraphScala* scaleX,
                                          const TkoGraphScala* scaleY) {
  if (scaleX == nullptr || scaleY == nullptr || !Bounds.ContainsStrictly(point.x(), point.y())) {
    CursorPoint.reset();
    return nullptr;
  }
  CursorPoint =
      Tko2DPoint{scaleX->FromPixelX(point.x(), Bounds), scaleY->FromPixelY(point.y(), Bounds)};
  return this;
}
