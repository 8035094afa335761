#include "graph/graphmarker.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "graph/graphcanvas.h"
#include "graph/graphscala.h"
#include "graph/graphtraccia.h"
#include "regmodel/numberformat.h"

namespace {

// Draws a head symbol at `anchor`; `turn` maps each offset of the symbol (drawn for a
// vertical line ending below the plot) to the side the scale lies on. Circle and square
// heads fill `box`.
template <typename Turn>
void DrawHead(vx::GraphCanvas& canvas, std::uint8_t style, QPoint anchor, Turn turn,
              const vx::Rect& box) {
  std::vector<QPoint> offsets;
  switch (style) {
    case TkoGraphMarker::kHeadArrow:
      offsets = {{0, 0}, {5, 5}, {-5, 5}};
      break;
    case TkoGraphMarker::kHeadLeftHalfArrow:
      offsets = {{0, 0}, {-5, 5}, {0, 5}};
      break;
    case TkoGraphMarker::kHeadRightHalfArrow:
      offsets = {{0, 0}, {5, 5}, {0, 5}};
      break;
    case TkoGraphMarker::kHeadCircle:
      canvas.Ellipse(box.Left, box.Top, box.Right, box.Bottom);
      return;
    case TkoGraphMarker::kHeadSquare:
      canvas.Rectangle(box.Left, box.Top, box.Right, box.Bottom);
      return;
    default:
      return;
  }
  for (QPoint& p : offsets) p = anchor + turn(p);
  canvas.Polygon(offsets);
}

bool InRange(double v, const TkoGraphScala& scale) {
  return TkoGraphMarker::IsPlaced(v) && scale.Min <= v && v <= scale.Max;
}

// The value texts of a box: t1, and t2 for a date above or below its time.
struct BoxTexts {
  std::string t1, t2;
  int w = 0, w1 = 0, w2 = 0, h1 = 0, q = 0;
};

BoxTexts TextsOf(vx::GraphCanvas& canvas, double v, const TkoGraphScala& scale,
                 const std::string& picture) {
  BoxTexts b;
  if (scale.TimeLabels) {
    b.t1 = vx::TimeText(v);
  } else if (scale.DateLabels) {
    b.t1 = vx::DateText(v);
  } else {
    b.t1 = vx::FormatFloat(picture, v);
  }
  if (scale.DateLabels && scale.TimeLabels) b.t2 = vx::DateText(v);
  b.w1 = canvas.TextWidth(b.t1);
  b.w2 = canvas.TextWidth(b.t2);
  b.w = std::max(b.w1, b.w2);
  b.h1 = canvas.TextHeight(b.t1);
  b.q = 3 * (canvas.TextHeight(b.t2) / 4);
  return b;
}

}  // namespace

TkoGraphMarker::TkoGraphMarker(const std::string& name) : TkoGraphElement(name) {
  LabelFormat.SetText("0.00");
  LabelFormat.Pen = {QColor(255, 255, 255), Qt::SolidLine, 1, vx::PenMode::Copy};
  LabelFormat.Brush = {QColor(0, 0, 0), Qt::SolidPattern};
  LabelFormat.Font.Name = QStringLiteral("Arial Narrow");
  LabelFormat.Font.Size = -10;
  LabelFormat.Font.Color = QColor(255, 255, 255);
  LineFormat.Brush.SetColor(LineFormat.Pen.Color);
  LineFormat.Brush.Style = Qt::SolidPattern;
}

bool TkoGraphMarker::IsPlaced(double v) {
  return std::isfinite(v) && std::fabs(v) < kUnplaced;
}

namespace {

bool Apart(const vx::Rect& a, const vx::Rect& b) {
  return a.Right <= b.Left || b.Right <= a.Left || a.Bottom <= b.Top || b.Bottom <= a.Top;
}

// The place nearest `want` for a box of `box` moved along one axis (x when `alongX`) within
// [low, high] where it keeps clear of every rectangle of `taken`; nullopt when there is none.
// The candidates are the wanted place and the places just beside each box in the way.
std::optional<vx::Rect> FreePlace(const vx::Rect& box, bool alongX, int low, int high,
                                  const std::vector<vx::Rect>& taken) {
  const int from = alongX ? box.Left : box.Top;
  const int length = alongX ? box.Width() : box.Height();
  const auto moved = [&](int start) {
    vx::Rect r = box;
    if (alongX) {
      r.Left = start;
      r.Right = start + length;
    } else {
      r.Top = start;
      r.Bottom = start + length;
    }
    return r;
  };
  std::vector<int> starts{std::clamp(from, low, std::max(low, high - length))};
  for (const vx::Rect& t : taken) {
    starts.push_back(alongX ? t.Right + 1 : t.Bottom + 1);
    starts.push_back((alongX ? t.Left : t.Top) - 1 - length);
  }
  std::optional<vx::Rect> best;
  int bestDistance = 0;
  for (int start : starts) {
    if (start < low || start + length > high) continue;
    const vx::Rect r = moved(start);
    if (!std::all_of(taken.begin(), taken.end(), [&](const vx::Rect& t) { return Apart(r, t); }))
      continue;
    const int distance = std::abs(start - from);
    if (!best || distance < bestDistance) {
      best = r;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace

int TkoGraphMarker::BoxWidthY(vx::GraphCanvas& canvas, const TkoGraphScala& scaleY) {
  if (!Visible || !HasAxis(kAxisY) || !LabelFormat.Visible() || !InRange(Position.Y, scaleY))
    return 0;
  vx::UseFormat(canvas, LabelFormat);
  return TextsOf(canvas, Position.Y, scaleY, LabelFormat.Text()).w + 4;
}

void TkoGraphMarker::PlaceBoxes(vx::GraphCanvas& canvas, const TkoGraphScala& scaleX,
                                const TkoGraphScala& scaleY, std::vector<vx::Rect>& taken) {
  LabelRectX = {};
  LabelRectY = {};
  placed_ = true;
  if (!Visible || !LabelFormat.Visible()) return;
  const vx::Rect& p = Bounds;
  vx::UseFormat(canvas, LabelFormat);
  if (HasAxis(kAxisX) && InRange(Position.X, scaleX)) {
    const int px = scaleX.ToPixelX(Position.X, p);
    const BoxTexts t = TextsOf(canvas, Position.X, scaleX, LabelFormat.Text());
    // In the row of the scale's labels, just past the ticks.
    vx::Rect box;
    if (scaleX.Orientation == TkoGraphScala::kAbove) {
      box.Bottom = p.Top - 6;
      box.Top = box.Bottom - t.h1 - t.q;
    } else {
      box.Top = p.Bottom + 6;
      box.Bottom = box.Top + t.h1 + t.q;
    }
    box.Left = px - t.w / 2 - 2;
    box.Right = box.Left + t.w + 4;
    if (auto at = FreePlace(box, true, scaleX.Bounds.Left, scaleX.Bounds.Right, taken)) {
      LabelRectX = *at;
      taken.push_back(*at);
    }
  }
  if (HasAxis(kAxisY) && InRange(Position.Y, scaleY)) {
    const int py = scaleY.ToPixelY(Position.Y, p);
    const BoxTexts t = TextsOf(canvas, Position.Y, scaleY, LabelFormat.Text());
    vx::Rect box;
    box.Top = py - t.q;
    box.Bottom = py + t.h1;
    if (scaleY.Orientation == TkoGraphScala::kLeft) {
      box.Right = p.Left - 7;
      box.Left = box.Right - t.w - 4;
    } else {
      box.Left = p.Right + 8;
      box.Right = box.Left + t.w + 4;
    }
    if (auto at = FreePlace(box, false, scaleY.Bounds.Top, scaleY.Bounds.Bottom, taken)) {
      LabelRectY = *at;
      taken.push_back(*at);
    }
  }
}

bool TkoGraphMarker::Draw(vx::GraphCanvas* canvas, const TkoGraphScala* scaleX,
                          const TkoGraphScala* scaleY) {
  const bool placed = placed_;
  placed_ = false;
  if (!Visible || canvas == nullptr || scaleX == nullptr || scaleY == nullptr) {
    LabelRectX = {};
    LabelRectY = {};
    return false;
  }
  if (!placed) {
    std::vector<vx::Rect> taken;
    PlaceBoxes(*canvas, *scaleX, *scaleY, taken);
  }
  const bool xIn = InRange(Position.X, *scaleX);
  const bool yIn = InRange(Position.Y, *scaleY);
  const int px = xIn ? scaleX->ToPixelX(Position.X, Bounds) : 0;
  const int py = yIn ? scaleY->ToPixelY(Position.Y, Bounds) : 0;

  if (HasAxis(kAxisX) && xIn) {
    const bool above = scaleX->Orientation == TkoGraphScala::kAbove;
    if (LineFormat.Visible()) DrawLineX(*canvas, px, above);
    if (LabelRectX.Width() > 0) DrawBoxX(*canvas, *scaleX);
  }
  if (HasAxis(kAxisY) && yIn) {
    const bool left = scaleY->Orientation == TkoGraphScala::kLeft;
    if (LineFormat.Visible()) DrawLineY(*canvas, py, left);
    if (LabelRectY.Width() > 0) DrawBoxY(*canvas, *scaleY);
  }
  if (xIn && yIn) {
    vx::UseFormat(*canvas, LineFormat);
    vx::DrawPointStyle(*canvas, PointStyle, px, py);
  }
  return true;
}

void TkoGraphMarker::DrawLineX(vx::GraphCanvas& canvas, int px, bool above) const {
  const vx::Rect& p = Bounds;
  canvas.Pen = LineFormat.Pen;
  canvas.Brush.Style = Qt::NoBrush;
  canvas.MoveTo(px, p.Top);
  canvas.LineTo(px, p.Bottom + 1);
  canvas.Brush = LineFormat.Brush;
  if (above) {
    DrawHead(canvas, HeadStyle, QPoint(px, p.Top - 2),
             [](QPoint o) { return QPoint(o.x(), -o.y()); },
             {px - 2, p.Top - 6, px + 3, p.Top - 1});
  } else {
    DrawHead(canvas, HeadStyle, QPoint(px, p.Bottom + 2), [](QPoint o) { return o; },
             {px - 2, p.Bottom + 2, px + 3, p.Bottom + 7});
  }
}

void TkoGraphMarker::DrawLineY(vx::GraphCanvas& canvas, int py, bool left) const {
  const vx::Rect& p = Bounds;
  canvas.Pen = LineFormat.Pen;
  canvas.Brush.Style = Qt::NoBrush;
  canvas.MoveTo(p.Left, py);
  canvas.LineTo(p.Right + 1, py);
  canvas.Brush = LineFormat.Brush;
  if (left) {
    DrawHead(canvas, HeadStyle, QPoint(p.Left - 2, py),
             [](QPoint o) { return QPoint(-o.y(), -o.x()); },
             {p.Left - 6, py - 2, p.Left - 1, py + 3});
  } else {
    DrawHead(canvas, HeadStyle, QPoint(p.Right + 2, py),
             [](QPoint o) { return QPoint(o.y(), -o.x()); },
             {p.Right + 2, py - 2, p.Right + 7, py + 3});
  }
}

void TkoGraphMarker::DrawBoxX(vx::GraphCanvas& canvas, const TkoGraphScala& scaleX) const {
  vx::UseFormat(canvas, LabelFormat);
  const BoxTexts t = TextsOf(canvas, Position.X, scaleX, LabelFormat.Text());
  const vx::Rect& box = LabelRectX;
  const int cx = (box.Left + box.Right) / 2;
  canvas.Rectangle(box.Left, box.Top, box.Right, box.Bottom);
  canvas.Brush.Style = Qt::NoBrush;
  if (scaleX.Orientation == TkoGraphScala::kAbove) {
    canvas.TextOut(cx - t.w2 / 2, box.Top, t.t2);
    canvas.TextOut(cx - t.w1 / 2, box.Top + t.q, t.t1);
  } else {
    canvas.TextOut(cx - t.w1 / 2, box.Top, t.t1);
    canvas.TextOut(cx - t.w2 / 2, box.Top + t.q, t.t2);
  }
}

void TkoGraphMarker::DrawBoxY(vx::GraphCanvas& canvas, const TkoGraphScala& scaleY) const {
  vx::UseFormat(canvas, LabelFormat);
  const BoxTexts t = TextsOf(canvas, Position.Y, scaleY, LabelFormat.Text());
  const vx::Rect& box = LabelRectY;
  canvas.Rectangle(box.Left, box.Top, box.Right, box.Bottom);
  canvas.Brush.Style = Qt::NoBrush;
  if (scaleY.Orientation == TkoGraphScala::kLeft) {
    canvas.TextOut(box.Right - t.w1 - 2, box.Top + t.q, t.t1);
    canvas.TextOut(box.Right - t.w2 - 2, box.Top, t.t2);
  } else {
    canvas.TextOut(box.Left + 2, box.Top + t.q, t.t1);
    canvas.TextOut(box.Left + 2, box.Top, t.t2);
  }
}

TkoGraphMarker* TkoGraphMarker::HitTest(const QPoint& point) {
  SelectedPart = 0;
  if (HasAxis(kAxisX) && LabelRectX.ContainsStrictly(point.x(), point.y())) {
    SelectedPart = 1;
  } else if (HasAxis(kAxisY) && LabelRectY.ContainsStrictly(point.x(), point.y())) {
    SelectedPart = 2;
  }
  return SelectedPart != 0 ? this : nullptr;
}
