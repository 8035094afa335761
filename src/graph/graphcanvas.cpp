#include "graph/graphcanvas.h"

#include <QFontMetrics>
#include <cmath>

namespace vx {

namespace {

// Unicode of the bytes 0x80..0x9F; the undefined ones stay at their Latin-1 value.
constexpr char16_t kWin1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

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

QString FromWin1252(const std::string& text) {
  QString out;
  out.reserve(static_cast<qsizetype>(text.size()));
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    out.append(QChar(b >= 0x80 && b < 0xA0 ? kWin1252High[b - 0x80] : char16_t(b)));
  }
  return out;
}

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

GraphCanvas::GraphCanvas(QImage& bitmap) : painter_(&bitmap) {
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setRenderHint(QPainter::TextAntialiasing, true);
  qfont_ = metricsFont_.ToQFont();
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

void GraphCanvas::ApplyBrush() { painter_.setBrush(QBrush(Brush.Color, Brush.Style)); }

QFontMetrics GraphCanvas::Metrics() {
  if (!(Font == metricsFont_)) {
    metricsFont_ = Font;
    qfont_ = Font.ToQFont();
  }
  return QFontMetrics(qfont_);
}

void GraphCanvas::MoveTo(int x, int y) {
  penX_ = x;
  penY_ = y;
}

void GraphCanvas::LineTo(int x, int y) {
  if (Pen.Style != Qt::NoPen && (x != penX_ || y != penY_)) {
    ApplyPen();
    painter_.drawLine(penX_, penY_, x, y);
  }
  MoveTo(x, y);
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
    painter_.fillRect(QRect(x, y, fm.horizontalAdvance(s), fm.height()),
                      QBrush(Brush.Color, Brush.Style));
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
  return Metrics().horizontalAdvance(FromWin1252(text));
}

int GraphCanvas::TextHeight(const std::string& text) {
  // An empty text takes no room: a value box without a second line is one line high.
  return text.empty() ? 0 : Metrics().height();
}

void GraphCanvas::SetClip(const Rect& r) {
  painter_.setClipRect(QRect(r.Left, r.Top, r.Width() > 0 ? r.Width() : 0,
                             r.Height() > 0 ? r.Height() : 0));
}

void GraphCanvas::ClearClip() { painter_.setClipping(false); }

}  // namespace vx
