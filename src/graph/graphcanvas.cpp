#include "graph/graphcanvas.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vx {

namespace {

// Far beyond any bitmap, yet small enough that adding a rectangle's coordinates to it
// cannot overflow an int.
constexpr double kPixelLimit = 1 << 24;

QPainter::CompositionMode ModeOf(PenMode mode) {
  switch (mode) {
    case PenMode::Xor:
      return QPainter::RasterOp_SourceXorDestination;
    case PenMode::NotXor:
      return QPainter::RasterOp_NotSourceXorDestination;
    case PenMode::Copy:
      break;
  }
  return QPainter::CompositionMode_SourceOver;
}

}  // namespace

int TruncPixel(double value) {
  if (std::isnan(value)) return 0;
  if (value > kPixelLimit) return static_cast<int>(kPixelLimit);
  if (value < -kPixelLimit) return -static_cast<int>(kPixelLimit);
  return static_cast<int>(value);
}

QFont GraphFont::ToQFont() const {
  QFont f;
  if (!Name.isEmpty()) f.setFamily(Name);
  if (Size < 0) {
    f.setPixelSize(-Size);
  } else if (Size > 0) {
    f.setPointSize(Size);
  }
  f.setBold(Bold);
  f.setItalic(Italic);
  f.setUnderline(Underline);
  f.setStrikeOut(StrikeOut);
  return f;
}

GraphCanvas::GraphCanvas(QImage& bitmap) : GraphCanvas(static_cast<QPaintDevice&>(bitmap)) {}

GraphCanvas::GraphCanvas(QPaintDevice& device)
    : painter_(&device),
      raster_(device.devType() == QInternal::Image),
      dpr_(device.devicePixelRatioF() > 1.0 ? device.devicePixelRatioF() : 1.0) {
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setRenderHint(QPainter::TextAntialiasing, true);
  qfont_ = metricsFont_.ToQFont();
  deviceFont_ = qfont_;
}

void GraphCanvas::ApplyPen() {
  QPen p(Pen.Color);
  p.setStyle(Pen.Style);
  p.setWidth(Pen.Width < 1 ? 1 : Pen.Width);
  // A thin line stops short of its last point; wide ones get round ends so that the
  // segments of a polyline join without notches.
  p.setCapStyle(Pen.Width > 1 ? Qt::RoundCap : Qt::FlatCap);
  p.setJoinStyle(Qt::MiterJoin);
  painter_.setPen(p);
  painter_.setCompositionMode(ModeOf(Pen.Mode));
}

void GraphCanvas::ApplyBrush() {
  painter_.setBrush(QBrush(Brush.Color, Brush.Style));
}

QFontMetrics GraphCanvas::Metrics() {
  if (!(Font == metricsFont_)) {
    metricsFont_ = Font;
    qfont_ = Font.ToQFont();
    deviceFont_ = qfont_;
    if (dpr_ > 1.0) {
      if (qfont_.pixelSize() > 0) {
        deviceFont_.setPixelSize(qRound(qfont_.pixelSize() * dpr_));
      } else {
        deviceFont_.setPointSizeF(qfont_.pointSizeF() * dpr_);
      }
    }
  }
  return QFontMetrics(qfont_);
}

int GraphCanvas::MeasuredWidth(const QString& text) {
  const int plain = Metrics().horizontalAdvance(text);
  if (dpr_ <= 1.0) return plain;
  // Glyphs hinted at twice the size are not exactly twice as wide.
  const int device = QFontMetrics(deviceFont_).horizontalAdvance(text);
  return std::max(plain, static_cast<int>(std::ceil(device / dpr_)));
}

void GraphCanvas::MoveTo(int x, int y) {
  penX_ = x;
  penY_ = y;
}

void GraphCanvas::LineTo(int x, int y) {
  if (Pen.Style != Qt::NoPen && (x != penX_ || y != penY_)) {
    ApplyPen();
    // A line reaching far beyond the bitmap (a value far outside the range) is left to
    // Qt, which clips it before rasterising; its far end is never seen anyway.
    const QPaintDevice* device = painter_.device();
    const long long reach = 4LL * (device->width() + device->height());
    const long long length = std::llabs(static_cast<long long>(x) - penX_) +
                             std::llabs(static_cast<long long>(y) - penY_);
    if (Pen.Width > 1 || length > reach || !raster_) {
      painter_.drawLine(penX_, penY_, x, y);
    } else {
      ThinLine(penX_, penY_, x, y);
    }
  }
  MoveTo(x, y);
}

void GraphCanvas::PolylineTo(const std::vector<QPoint>& points) {
  if (points.empty()) return;
  if (Pen.Style == Qt::NoPen || (Pen.Width <= 1 && raster_)) {
    for (const QPoint& p : points) LineTo(p.x(), p.y());
    return;
  }
  // Beyond the limits a wide line is left to Qt's clipping as in LineTo.
  std::vector<QPoint> line;
  line.reserve(points.size() + 1);
  line.emplace_back(penX_, penY_);
  for (const QPoint& p : points)
    if (p != line.back()) line.push_back(p);
  if (line.size() >= 2) {
    ApplyPen();
    painter_.drawPolyline(line.data(), static_cast<int>(line.size()));
  }
  MoveTo(points.back().x(), points.back().y());
}

void GraphCanvas::ThinLine(int x0, int y0, int x1, int y1) {
  // Qt leaves out the lower-right end of a thin line whichever way it runs; the drawing
  // code relies on a line covering its first point and not its last, so thin lines are
  // walked here, with the dash pattern counted from the first point.
  int onOff[6] = {1, 0, 0, 0, 0, 0};
  int parts = 1;
  switch (Pen.Style) {
    case Qt::DotLine:
      onOff[0] = 1, onOff[1] = 2, parts = 2;
      break;
    case Qt::DashLine:
      onOff[0] = 4, onOff[1] = 2, parts = 2;
      break;
    case Qt::DashDotLine:
      onOff[0] = 4, onOff[1] = 2, onOff[2] = 1, onOff[3] = 2, parts = 4;
      break;
    case Qt::DashDotDotLine:
      onOff[0] = 4, onOff[1] = 2, onOff[2] = 1, onOff[3] = 2, onOff[4] = 1, onOff[5] = 2;
      parts = 6;
      break;
    default:
      break;
  }
  const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  int part = 0, left = onOff[0];
  points_.clear();
  for (int x = x0, y = y0; x != x1 || y != y1;) {
    if (part % 2 == 0) points_.emplace_back(x, y);
    if (parts > 1 && --left == 0) {
      part = (part + 1) % parts;
      left = onOff[part];
    }
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  QPen dots(Pen.Color);
  dots.setWidth(1);
  painter_.setPen(dots);
  painter_.drawPoints(points_.data(), static_cast<int>(points_.size()));
}

void GraphCanvas::Rectangle(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  if (Brush.Style != Qt::NoBrush) {
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.fillRect(QRect(left, top, right - left, bottom - top),
                      QBrush(Brush.Color, Brush.Style));
  }
  if (Pen.Style == Qt::NoPen) return;
  ApplyPen();
  painter_.setBrush(Qt::NoBrush);
  const int w = Pen.Width < 1 ? 1 : Pen.Width;
  if (w == 1) {
    painter_.drawRect(QRect(left, top, right - left - 1, bottom - top - 1));
  } else {
    // Keep a wide outline inside the box, as the thin one is.
    painter_.drawRect(QRectF(left + w / 2.0, top + w / 2.0, right - left - w, bottom - top - w));
  }
}

void GraphCanvas::Ellipse(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  ApplyPen();
  ApplyBrush();
  painter_.drawEllipse(QRect(left, top, right - left - 1, bottom - top - 1));
}

void GraphCanvas::RoundRect(int left, int top, int right, int bottom, int cornerW, int cornerH) {
  if (right <= left || bottom <= top) return;
  ApplyPen();
  ApplyBrush();
  painter_.drawRoundedRect(QRect(left, top, right - left - 1, bottom - top - 1), cornerW / 2.0,
                           cornerH / 2.0, Qt::AbsoluteSize);
}

void GraphCanvas::Polygon(const std::vector<QPoint>& points) {
  if (points.empty()) return;
  ApplyPen();
  ApplyBrush();
  painter_.drawPolygon(points.data(), static_cast<int>(points.size()));
}

void GraphCanvas::FillRect(const Rect& r) {
  if (r.Width() <= 0 || r.Height() <= 0 || Brush.Style == Qt::NoBrush) return;
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), QBrush(Brush.Color, Brush.Style));
}

void GraphCanvas::SetPixel(int x, int y, const QColor& color) {
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.fillRect(QRect(x, y, 1, 1), color);
}

void GraphCanvas::TextOut(int x, int y, const std::string& text) {
  if (text.empty()) return;
  const QFontMetrics fm = Metrics();
  const QString s = FromWin1252(text);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (Brush.Style != Qt::NoBrush) {
    painter_.fillRect(QRect(x, y, MeasuredWidth(s), fm.height()), QBrush(Brush.Color, Brush.Style));
  }
  painter_.setFont(qfont_);
  painter_.setPen(Font.Color);
  painter_.drawText(x, y + fm.ascent(), s);
}

void GraphCanvas::TextOutTurned(int x, int y, const std::string& text) {
  if (text.empty()) return;
  const QFontMetrics fm = Metrics();
  const QString s = FromWin1252(text);
  painter_.save();
  painter_.translate(x, y);
  painter_.rotate(-90);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (Brush.Style != Qt::NoBrush) {
    painter_.fillRect(QRect(0, 0, fm.horizontalAdvance(s), fm.height()),
                      QBrush(Brush.Color, Brush.Style));
  }
  painter_.setFont(qfont_);
  painter_.setPen(Font.Color);
  painter_.drawText(0, fm.ascent(), s);
  painter_.restore();
}

int GraphCanvas::TextWidth(const std::string& text) {
  return MeasuredWidth(FromWin1252(text));
}

int GraphCanvas::TextHeight(const std::string& text) {
  // An empty text takes no room: a value box without a second line is one line high.
  return text.empty() ? 0 : Metrics().height();
}

void GraphCanvas::SetClip(const Rect& r) {
  painter_.setClipRect(
      QRect(r.Left, r.Top, r.Width() > 0 ? r.Width() : 0, r.Height() > 0 ? r.Height() : 0));
}

void GraphCanvas::ClearClip() {
  painter_.setClipping(false);
}

}  // namespace vx
