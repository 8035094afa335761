#include "graph/graphdiagram.h"

#include <algorithm>
#include <cmath>

#include "graph/graphcanvas.h"

TkoGraphDiagram::TkoGraphDiagram(const std::string& name)
    : legend_(std::make_unique<TkoGraphLegenda>("", &traces_)),
      scaleX_(std::make_unique<TkoGraphScala>("", TkoGraphScala::kBelow)),
      scaleY_(std::make_unique<TkoGraphScala>("", TkoGraphScala::kLeft)) {
  Title.SetText(name);
  Title.Pen = {QColor(255, 255, 255), Qt::SolidLine, 1, vx::PenMode::Copy};
  Title.Brush = {QColor(0, 0, 0), Qt::NoBrush};
  Title.Font.Name = QStringLiteral("Arial");
  Title.Font.Size = -10;
  Title.Font.Color = QColor(255, 255, 255);
  Title.Font.Bold = true;
  Title.SetVisible(false);
}

TkoGraphDiagram::~TkoGraphDiagram() = default;

TkoGraphTraccia* TkoGraphDiagram::AddTraccia(const std::string& name) {
  traces_.push_back(std::make_unique<TkoGraphTraccia>(name));
  return traces_.back().get();
}

TkoGraphMarker* TkoGraphDiagram::AddMarker(const std::string& name) {
  markers_.push_back(std::make_unique<TkoGraphMarker>(name));
  return markers_.back().get();
}

void TkoGraphDiagram::CalcLayout(vx::GraphCanvas& canvas) {
  const vx::Rect& o = OuterRect;
  TitleRect = o;
  if (Title.Visible()) {
    canvas.Font = Title.Font;
    TitleRect.Bottom = TitleRect.Top + canvas.TextHeight(Title.Text()) + 2;
  } else {
    TitleRect.Bottom = TitleRect.Top;
  }

  // Room of a scale's title across the scale.
  const auto titleRoom = [&canvas](const TkoGraphScala& s) {
    if (!s.TextFormat.Visible()) return 0;
    canvas.Font = s.TextFormat.Font;
    return canvas.TextHeight("0") + 2;
  };

  TkoGraphScala& x = *scaleX_;
  canvas.Font = x.LabelFormat.Font;
  const int h = canvas.TextHeight("0");
  int depth = 5;
  if (x.LabelFormat.Visible()) depth += h;
  if (x.DateLabels && x.TimeLabels) depth += h;
  depth += titleRoom(x);
  x.Bounds = o;
  if (x.Orientation == TkoGraphScala::kAbove) {
    x.Bounds.Top = TitleRect.Bottom + 1;
    x.Bounds.Bottom = x.Bounds.Top + depth;
  } else {
    x.Bounds.Top = x.Bounds.Bottom - depth;
  }

  TkoGraphScala& y = *scaleY_;
  canvas.Font = y.LabelFormat.Font;
  const int w = canvas.TextWidth("0");
  int labelWidth = 0;
  if (y.DateLabels) {
    labelWidth = 10 * w;
  } else if (y.TimeLabels) {
    labelWidth = 8 * w;
  } else {
    labelWidth = w * static_cast<int>(y.LabelFormat.Text().size());
  }
  // A picture shorter than the values it prints ("0.00" for a speed of 1500.00, or a sign)
  // would push the labels out of the diagram and over the scale title: the room grows to
  // the widest end label, with a little space before the title.
  for (double v : {y.Min, y.Max}) {
    labelWidth = std::max(labelWidth, canvas.TextWidth(y.LabelText(v)) + 2);
    labelWidth = std::max(labelWidth, canvas.TextWidth(y.LabelSecondLine(v)) + 2);
  }
  // The markers' value boxes share that room and must not reach the title either.
  for (auto& m : markers_) {
    if (const int box = m->BoxWidthY(canvas, y); box > 0)
      labelWidth = std::max(labelWidth, box + 1);
  }
  const int width = 5 + labelWidth + titleRoom(y);
  y.Bounds = o;
  if (y.Orientation == TkoGraphScala::kLeft) {
    y.Bounds.Right = o.Left + width;
  } else {
    y.Bounds.Left = o.Right - width;
  }

  vx::Rect p{o.Left + 1, TitleRect.Bottom + 1, o.Right - 1, o.Bottom - 1};
  if (x.Orientation == TkoGraphScala::kAbove) {
    p.Top = x.Bounds.Bottom + 1;
  } else {
    p.Bottom = x.Bounds.Top - 1;
  }
  y.Bounds.Top = p.Top - 1;
  y.Bounds.Bottom = p.Bottom + 1;
  if (y.Orientation == TkoGraphScala::kLeft) {
    p.Left = y.Bounds.Right + 1;
  } else {
    p.Right = y.Bounds.Left - 1;
  }
  x.Bounds.Left = p.Left - 1;
  x.Bounds.Right = p.Right + 1;

  PlotRect = p;
  x.PlotRect = p;
  y.PlotRect = p;
  for (auto& t : traces_) t->Bounds = p;
  for (auto& m : markers_) m->Bounds = p;
  TitleRect.Left = p.Left;
}

namespace {

// The range of one axis: the visible traces' ranges joined, widened by the placed markers
// on that axis.
template <typename TraceRange, typename MarkerValue>
vx::DataRange AutoRange(const TkoGraphDiagram::TraceList& traces,
                        const TkoGraphDiagram::MarkerList& markers, std::uint8_t axis,
                        TraceRange traceRange, MarkerValue markerValue) {
  vx::DataRange r;
  bool first = true;
  for (const auto& t : traces) {
    if (!t->Visible) continue;
    const vx::DataRange& tr = traceRange(*t);
    if (first) {
      r = tr;
      first = false;
    } else {
      r.Min = std::min(r.Min, tr.Min);
      r.Max = std::max(r.Max, tr.Max);
    }
  }
  for (const auto& m : markers) {
    const double v = markerValue(*m);
    if (!m->Visible || !m->WidensRange || !m->HasAxis(axis) || !TkoGraphMarker::IsPlaced(v))
      continue;
    if (v > r.Max) {
      r.Max = v;
    } else if (v < r.Min) {
      r.Min = v;
    }
  }
  if (r.Max - r.Min == 0.0) r = {};
  return r;
}

}  // namespace

void TkoGraphDiagram::CalcRangeX() {
  const vx::DataRange r = AutoRange(
      traces_, markers_, TkoGraphMarker::kAxisX,
      [](const TkoGraphTraccia& t) -> const vx::DataRange& { return t.RangeX(); },
      [](const TkoGraphMarker& m) { return m.Position.X; });
  scaleX_->Min = r.Min;
  scaleX_->Max = r.Max;
}

void TkoGraphDiagram::CalcRangeY() {
  const vx::DataRange r = AutoRange(
      traces_, markers_, TkoGraphMarker::kAxisY,
      [](const TkoGraphTraccia& t) -> const vx::DataRange& { return t.RangeY(); },
      [](const TkoGraphMarker& m) { return m.Position.Y; });
  scaleY_->Min = r.Min;
  scaleY_->Max = r.Max;
}

bool TkoGraphDiagram::Draw(vx::GraphCanvas* canvas) {
  if (!Visible || canvas == nullptr) return false;
  // Ranges first: the room of the Y labels depends on the values they show.
  if (AutoRangeX) CalcRangeX();
  if (AutoRangeY) CalcRangeY();
  CalcLayout(*canvas);
  const vx::Rect& o = OuterRect;
  const vx::Rect& p = PlotRect;

  canvas->Pen = {BackColor, Qt::SolidLine, 1, vx::PenMode::Copy};
  canvas->Brush = {BackColor, Qt::SolidPattern};
  canvas->Rectangle(o.Left, o.Top, o.Right + 1, o.Bottom + 1);
  canvas->Pen.Color = PlotColor;
  canvas->Brush.Color = PlotColor;
  canvas->Rectangle(p.Left, p.Top, p.Right + 1, p.Bottom + 1);

  for (auto& t : traces_) t->Draw(canvas, scaleX_.get(), scaleY_.get());

  // The markers' value boxes are placed first, clear of each other, and the scales' labels
  // keep clear of them: a live value outranks a tick label.
  std::vector<vx::Rect> boxes;
  for (auto& m : markers_) {
    if (m->Visible) m->PlaceBoxes(*canvas, *scaleX_, *scaleY_, boxes);
  }
  scaleX_->Reserved = boxes;
  scaleY_->Reserved = boxes;

  canvas->SetClip(o);
  // The plot's frame takes the pen the scale drew with last.
  scaleX_->Draw(canvas);
  canvas->MoveTo(p.Left - 1, p.Top - 1);
  canvas->LineTo(p.Right + 2, p.Top - 1);
  canvas->MoveTo(p.Left - 1, p.Bottom + 1);
  canvas->LineTo(p.Right + 2, p.Bottom + 1);
  scaleY_->Draw(canvas);
  canvas->MoveTo(p.Left - 1, p.Top - 1);
  canvas->LineTo(p.Left - 1, p.Bottom + 2);
  canvas->MoveTo(p.Right + 1, p.Top - 1);
  canvas->LineTo(p.Right + 1, p.Bottom + 2);

  for (auto& m : markers_) m->Draw(canvas, scaleX_.get(), scaleY_.get());

  if (Title.Visible()) {
    vx::UseFormat(*canvas, Title);
    canvas->TextOut(TitleRect.Left, TitleRect.Top + 1, Title.Text());
    if (selected_ != nullptr) {
      // Two boxes after the title: the first filled for a selected trace, the second
      // for a selected marker, in the element's colour.
      const int w = canvas->TextWidth(Title.Text());
      const int h = canvas->TextHeight(Title.Text());
      const int l = TitleRect.Left, t = TitleRect.Top, b = TitleRect.Bottom;
      const vx::Rect a{l + w + 5, t + 2, l + w + h + 5, b - 2};
      const vx::Rect m{l + w + h + 6, t + 2, l + w + 2 * h + 6, b - 2};
      canvas->Brush.Style = Qt::NoBrush;
      canvas->RoundRect(a.Left, a.Top, a.Right, a.Bottom, 10, 10);
      canvas->RoundRect(m.Left, m.Top, m.Right, m.Bottom, 10, 10);
      canvas->Brush.SetColor(selected_->LineFormat.Pen.Color);
      if (dynamic_cast<TkoGraphTraccia*>(selected_) != nullptr) {
        canvas->RoundRect(a.Left, a.Top, a.Right, a.Bottom, 10, 10);
      } else if (dynamic_cast<TkoGraphMarker*>(selected_) != nullptr) {
        canvas->RoundRect(m.Left, m.Top, m.Right, m.Bottom, 10, 10);
      }
    }
  }

  legend_->Draw(canvas);
  canvas->ClearClip();
  return true;
}

void TkoGraphDiagram::SetSelected(TkoGraphElement* element) {
  if (element == selected_) return;
  if (selected_ != nullptr) selected_->Selected = false;
  selected_ = element;
  if (selected_ != nullptr) selected_->Selected = true;
}

void TkoGraphDiagram::SelectElementAt(const QPoint& point) {
  if (legend_->Visible && legend_->Bounds.ContainsStrictly(point.x(), point.y())) {
    SetSelected(legend_->TraceAt(point));
  }
  for (auto it = markers_.rbegin(); it != markers_.rend() && selected_ == nullptr; ++it) {
    if ((*it)->Visible) SetSelected((*it)->HitTest(point));
  }
  for (auto it = traces_.rbegin(); it != traces_.rend() && selected_ == nullptr; ++it) {
    if ((*it)->Visible) SetSelected((*it)->HitTest(point, scaleX_.get(), scaleY_.get()));
  }
}

void TkoGraphDiagram::CoordAtPos(const QPoint& point, Tko2DPoint& coord) const {
  const auto limit = [](double v, const TkoGraphScala& s) {
    if (v > s.Max) return s.Max;
    if (v < s.Min) return s.Min;
    return v;
  };
  coord.X = limit(scaleX_->FromPixelX(point.x(), PlotRect), *scaleX_);
  coord.Y = limit(scaleY_->FromPixelY(point.y(), PlotRect), *scaleY_);
}
