#include "graph/graphscala.h"

#include <algorithm>
#include <cmath>

#include "graph/graphcanvas.h"
#include "regmodel/numberformat.h"

namespace vx {

double ChooseTickStep(double step, double span, double pixelsPerUnit, double minDistance) {
  const auto positive = [](double v) { return std::isfinite(v) && v > 0.0; };
  if (!positive(step) || !positive(span) || !positive(pixelsPerUnit)) return 0.0;
  double s = step;
  while (span * 0.5 < s) s *= 0.1;
  if (!positive(s)) return 0.0;
  // Ticks closer than a pixel would only smear the axis, and an empty label picture
  // would otherwise let a tiny step through.
  const double d = std::max(minDistance, 1.0);
  while (s * pixelsPerUnit < d) {
    double candidate = s * 2.0;
    if (candidate * pixelsPerUnit < d) candidate = s * 5.0;
    if (candidate * pixelsPerUnit < d) candidate = s * 10.0;
    s = candidate;
    if (!std::isfinite(s)) return 0.0;
  }
  return s;
}

std::vector<double> TickValues(double min, double max, double step) {
  std::vector<double> values;
  if (!(step > 0.0) || !std::isfinite(min) || !std::isfinite(max)) return values;
  const double first = std::floor(min / step) * step;
  // Computed from the base each time, so that rounding does not pile up along the axis;
  // the count is bounded for a step far too small for the range.
  constexpr int kMaxTicks = 1 << 16;
  for (int i = 1; i <= kMaxTicks; ++i) {
    const double v = first + i * step;
    if (v > max) break;
    if (v > min) values.push_back(v);
  }
  return values;
}

std::string DateText(double value) {
  return FormatDateTime(Formats().ShortDateFormat, value);
}

std::string TimeText(double value) {
  return FormatDateTime(Formats().LongTimeFormat, value);
}

}  // namespace vx

namespace {

// Labels closer than this are taken as running into each other.
constexpr int kLabelGap = 3;

bool Overlaps(const vx::Rect& a, const vx::Rect& b) {
  return a.Left < b.Right + kLabelGap && b.Left < a.Right + kLabelGap && a.Top < b.Bottom &&
         b.Top < a.Bottom;
}

}  // namespace

TkoGraphScala::TkoGraphScala(const std::string& name, std::uint8_t orientation)
    : TkoGraphElement(name), Orientation(orientation) {
  TextFormat.Font.Name = QStringLiteral("Arial");
  TextFormat.Font.Size = -10;
  GridFormat.Pen = {QColor(255, 255, 255), Qt::DotLine, 1, vx::PenMode::Copy};
  GridFormat.Brush = {QColor(0, 0, 0), Qt::NoBrush};
  LabelFormat.SetText("0.00");
  LabelFormat.Pen = {QColor(255, 255, 255), Qt::SolidLine, 1, vx::PenMode::Copy};
  LabelFormat.Brush = {QColor(0, 0, 0), Qt::NoBrush};
  LabelFormat.Font.Name = QStringLiteral("Arial Narrow");
  LabelFormat.Font.Size = -10;
  LabelFormat.Font.Color = QColor(255, 255, 255);
}

double TkoGraphScala::PixelsPerUnit() const {
  const int pixels = Horizontal() ? Bounds.Width() - 2 : Bounds.Height() - 2;
  const double span = Max - Min;
  if (span == 0.0) return 1.0;
  return pixels / span;
}

namespace {

// A value read back from a pixel may come out a rounding error short of that pixel; so
// little more than that is added before truncating, and the pixel is found again.
constexpr double kPixelTolerance = 1e-4;

}  // namespace

int TkoGraphScala::ToPixelX(double x, const vx::Rect& plot) const {
  return vx::TruncPixel((x - Min) * PixelsPerUnit() + kPixelTolerance) + plot.Left;
}

int TkoGraphScala::ToPixelY(double y, const vx::Rect& plot) const {
  return plot.Bottom - vx::TruncPixel((y - Min) * PixelsPerUnit() + kPixelTolerance);
}

double TkoGraphScala::FromPixelX(int px, const vx::Rect& plot) const {
  const double k = PixelsPerUnit();
  return k != 0.0 ? (px - plot.Left) / k + Min : Min;
}

double TkoGraphScala::FromPixelY(int py, const vx::Rect& plot) const {
  const double k = PixelsPerUnit();
  return k != 0.0 ? (plot.Bottom - py) / k + Min : Min;
}

double TkoGraphScala::TickStep(vx::GraphCanvas& canvas) const {
  const double step = Bounds.Width() > 2 && Bounds.Height() > 2 ? Step : 0.0;
  std::string sample;
  if (DateLabels) {
    sample = vx::DateText(vx::Now());
  } else if (TimeLabels) {
    sample = vx::TimeText(vx::Now());
  } else {
    sample = LabelFormat.Text();
  }
  canvas.Font = LabelFormat.Font;
  const double d = Horizontal() ? canvas.TextWidth(sample) : 2.0 * canvas.TextHeight(sample);
  return vx::ChooseTickStep(step, Max - Min, PixelsPerUnit(), d);
}

std::string TkoGraphScala::LabelText(double value) const {
  if (DateLabels) return vx::DateText(value);
  if (TimeLabels) return vx::TimeText(value);
  return vx::FormatFloat(LabelFormat.Text(), value);
}

std::string TkoGraphScala::LabelSecondLine(double value) const {
  return DateLabels && TimeLabels ? vx::TimeText(value) : std::string();
}

bool TkoGraphScala::Draw(vx::GraphCanvas* canvas) {
  labelRects_.clear();
  titleArea_ = {};
  if (!Visible || canvas == nullptr) return false;
  const std::vector<double> values = vx::TickValues(Min, Max, TickStep(*canvas));
  if (LineFormat.Visible()) DrawTicks(*canvas, values);
  if (GridFormat.Visible()) DrawGrid(*canvas, values);
  if (LabelFormat.Visible()) DrawLabels(*canvas, values);
  if (TextFormat.Visible()) DrawTitle(*canvas);
  return true;
}

int TkoGraphScala::PixelAt(double value) const {
  const double offset = PixelsPerUnit() * (value - Min);
  return Horizontal() ? vx::TruncPixel(offset + PlotRect.Left)
                      : vx::TruncPixel(PlotRect.Bottom - offset);
}

void TkoGraphScala::DrawTicks(vx::GraphCanvas& canvas, const std::vector<double>& values) const {
  const vx::Rect& b = Bounds;
  const vx::Rect& p = PlotRect;
  vx::UseFormat(canvas, LineFormat);
  // Ticks are 5 pixels long, from the edge of the scale that faces the plot.
  const auto tick = [&](int at) {
    switch (Orientation) {
      case kAbove:
        canvas.MoveTo(at, b.Bottom - 5);
        canvas.LineTo(at, b.Bottom);
        break;
      case kBelow:
        canvas.MoveTo(at, b.Top + 5);
        canvas.LineTo(at, b.Top);
        break;
      case kLeft:
        canvas.MoveTo(b.Right - 5, at);
        canvas.LineTo(b.Right, at);
        break;
      default:
        canvas.MoveTo(b.Left + 5, at);
        canvas.LineTo(b.Left, at);
        break;
    }
  };
  if (Horizontal()) {
    tick(p.Right);
    tick(p.Left);
  } else {
    tick(p.Top);
    tick(p.Bottom);
  }
  for (double v : values) tick(PixelAt(v));
}

void TkoGraphScala::DrawGrid(vx::GraphCanvas& canvas, const std::vector<double>& values) const {
  const vx::Rect& p = PlotRect;
  vx::UseFormat(canvas, GridFormat);
  for (double v : values) {
    const int at = PixelAt(v);
    if (Horizontal()) {
      canvas.MoveTo(at, p.Top);
      canvas.LineTo(at, p.Bottom);
    } else {
      canvas.MoveTo(p.Left, at);
      canvas.LineTo(p.Right, at);
    }
  }
}

void TkoGraphScala::DrawLabels(vx::GraphCanvas& canvas, const std::vector<double>& values) {
  vx::UseFormat(canvas, LabelFormat);
  const bool twoLines = DateLabels && TimeLabels;
  // A label that would run into a reserved area (a marker's value box) or a label
  // written before it (the end labels come first) is left out rather than printed over it.
  std::vector<vx::Rect>& written = labelRects_;
  const auto label = [&](double v, LabelKind kind) {
    const std::string first = LabelText(v);
    const std::string second = LabelSecondLine(v);
    const LabelPlace at = PlaceLabel(canvas, v, kind, first, second);
    for (const vx::Rect& r : Reserved)
      if (Overlaps(r, at.area)) return;
    for (const vx::Rect& r : written)
      if (Overlaps(r, at.area)) return;
    written.push_back(at.area);
    canvas.TextOut(at.x, at.y, first);
    if (twoLines) canvas.TextOut(at.x2, at.y2, second);
  };
  label(Max, LabelKind::kMax);
  label(Min, LabelKind::kMin);
  for (double v : values) label(v, LabelKind::kBetween);
}

TkoGraphScala::LabelPlace TkoGraphScala::PlaceLabel(vx::GraphCanvas& canvas, double v,
                                                    LabelKind kind, const std::string& first,
                                                    const std::string& second) const {
  const vx::Rect& b = Bounds;
  const double k = PixelsPerUnit();
  const bool twoLines = DateLabels && TimeLabels;
  const int w = canvas.TextWidth(first);
  const int h = canvas.TextHeight("0");
  const int w2 = canvas.TextWidth(second);
  LabelPlace at;
  if (Horizontal()) {
    at.y = Orientation == kAbove ? b.Bottom - h - 5 : b.Top + 5;
    at.y2 = Orientation == kAbove ? at.y - (3 * h) / 4 : at.y + (3 * h) / 4;
    if (kind == LabelKind::kMax) {
      // Right and bottom edges are clipped off: end one pixel before.
      at.x = b.Right - w - 1;
      at.x2 = b.Right - w2 - 1;
    } else if (kind == LabelKind::kMin) {
      at.x = at.x2 = b.Left + 1;
    } else {
      at.x = vx::TruncPixel(k * (v - Min) + b.Left - w / 2 + 1);
      at.x2 = vx::TruncPixel(k * (v - Min) + b.Left - w2 / 2 + 1);
    }
  } else {
    at.x = Orientation == kLeft ? b.Right - 6 - w : b.Left + 7;
    at.x2 = Orientation == kLeft ? b.Right - 6 - w2 : b.Left + 7;
    if (kind == LabelKind::kMax) {
      at.y = b.Top + h / 4;
      at.y2 = b.Top + h;
    } else if (kind == LabelKind::kMin) {
      at.y = b.Bottom - h - (twoLines ? (3 * h) / 4 : 0);
      at.y2 = b.Bottom - h;
    } else {
      at.y = vx::TruncPixel(b.Bottom - (3 * h) / 4 - k * (v - Min)) - (twoLines ? h / 4 : 0);
      at.y2 = vx::TruncPixel(b.Bottom - h / 4 - k * (v - Min));
    }
  }
  at.area = {at.x, at.y, at.x + w, at.y + h};
  if (twoLines) {
    at.area.Left = std::min(at.area.Left, at.x2);
    at.area.Right = std::max(at.area.Right, at.x2 + w2);
    at.area.Top = std::min(at.area.Top, at.y2);
    at.area.Bottom = std::max(at.area.Bottom, at.y2 + h);
  }
  return at;
}

void TkoGraphScala::DrawTitle(vx::GraphCanvas& canvas) {
  const vx::Rect& b = Bounds;
  vx::UseFormat(canvas, TextFormat);
  const std::string& title = TextFormat.Text();
  const int w = canvas.TextWidth(title);
  const int h = canvas.TextHeight(title);
  switch (Orientation) {
    case kAbove:
      titleArea_ = {b.Left + (b.Width() - w) / 2, b.Top + 1, 0, 0};
      break;
    case kBelow:
      titleArea_ = {b.Left + (b.Width() - w) / 2, b.Bottom - 1 - h, 0, 0};
      break;
    case kLeft:
      titleArea_ = {b.Left + 2, b.Bottom - (b.Height() - w) / 2 - w, 0, 0};
      break;
    default:
      titleArea_ = {b.Right - 2 - h, b.Bottom - (b.Height() - w) / 2 - w, 0, 0};
      break;
  }
  // Written upward, a turned title starts at the bottom of its area.
  const bool turned = !Horizontal();
  titleArea_.Right = titleArea_.Left + (turned ? h : w);
  titleArea_.Bottom = titleArea_.Top + (turned ? w : h);
  if (turned) {
    canvas.TextOutTurned(titleArea_.Left, titleArea_.Bottom, title);
  } else {
    canvas.TextOut(titleArea_.Left, titleArea_.Top, title);
  }
}
