#include "graph/graph.h"

#include <QBuffer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPalette>
#include <QSvgGenerator>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <type_traits>

#include "graph/graphcanvas.h"
#include "graph/graphscala.h"
#include "platform/atomicfile.h"
#include "platform/koexception.h"
#include "regmodel/numberformat.h"

namespace {

QColor ButtonFace() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    return QGuiApplication::palette().color(QPalette::Button);
  }
  return QColor(240, 240, 240);
}

// FNV-1a over everything a diagram's drawing is made from.
class Fingerprint {
 public:
  template <typename T>
  void Add(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    for (std::size_t i = 0; i < sizeof(T); ++i) Byte(bytes[i]);
  }
  void Add(const std::string& text) {
    Add(text.size());
    for (char c : text) Byte(static_cast<unsigned char>(c));
  }
  void Add(const QString& text) {
    Add(text.size());
    for (QChar c : text) Add(c.unicode());
  }
  void Add(const QColor& c) { Add(c.rgba()); }
  void Add(const vx::GraphPen& p) {
    Add(p.Color);
    Add(static_cast<int>(p.Style));
    Add(p.Width);
    Add(static_cast<int>(p.Mode));
  }
  void Add(const vx::GraphBrush& b) {
    Add(b.Color);
    Add(static_cast<int>(b.Style));
  }
  void Add(const vx::GraphFont& f) {
    Add(f.Name);
    Add(f.Size);
    Add(f.Color);
    Add(f.Bold), Add(f.Italic), Add(f.Underline), Add(f.StrikeOut);
  }
  void Add(const TkoLineFormat& f) {
    Add(f.Pen);
    Add(f.Brush);
    Add(f.Visible());
  }
  void Add(const TkoTextFormat& f) {
    Add(f.Pen);
    Add(f.Brush);
    Add(f.Font);
    Add(f.Text());
    Add(f.Visible());
  }
  void Add(const vx::Rect& r) { Add(r.Left), Add(r.Top), Add(r.Right), Add(r.Bottom); }
  void AddElement(const TkoGraphElement& e) {
    Add(e.LineFormat);
    Add(e.TextFormat);
    Add(e.Visible);
    Add(e.Selected);
  }
  std::uint64_t Value() const { return hash_; }

 private:
  void Byte(unsigned char b) {
    hash_ ^= b;
    hash_ *= 1099511628211ULL;
  }
  std::uint64_t hash_ = 14695981039346656037ULL;
};

std::uint64_t FingerprintOf(const TkoGraphDiagram& d, double dpr) {
  Fingerprint f;
  f.Add(dpr);
  f.Add(d.Visible), f.Add(d.AutoRangeX), f.Add(d.AutoRangeY);
  f.Add(d.Title);
  f.Add(d.OuterRect);
  f.Add(d.PlotColor), f.Add(d.BackColor);
  f.Add(reinterpret_cast<std::uintptr_t>(d.SelectedElement()));
  for (const TkoGraphScala* s : {d.ScaleX(), d.ScaleY()}) {
    f.AddElement(*s);
    f.Add(s->Orientation), f.Add(s->Min), f.Add(s->Max), f.Add(s->Step);
    f.Add(s->DateLabels), f.Add(s->TimeLabels);
    f.Add(s->GridFormat), f.Add(s->LabelFormat);
  }
  for (const auto& t : d.Traces()) {
    f.AddElement(*t);
    f.Add(t->LineStyle), f.Add(t->PointStyle);
    // The points themselves, not a count of changes: a drive standing still sends the
    // same values again and again, and its diagram need not be drawn again.
    f.Add(t->Points().size());
    for (const Tko2DPoint& p : t->Points()) f.Add(p.X), f.Add(p.Y);
  }
  for (const auto& m : d.Markers()) {
    f.AddElement(*m);
    f.Add(m->LabelFormat);
    f.Add(m->Position.X), f.Add(m->Position.Y);
    f.Add(m->HeadStyle), f.Add(m->PointStyle), f.Add(m->Axes), f.Add(m->WidensRange);
  }
  const TkoGraphLegenda& l = *d.Legend();
  f.AddElement(l);
  f.Add(l.Columns), f.Add(l.OffsetX), f.Add(l.OffsetY), f.Add(l.OnlyVisible);
  // Date and time labels measure the time of day for their spacing.
  if (d.ScaleX()->DateLabels || d.ScaleX()->TimeLabels || d.ScaleY()->DateLabels ||
      d.ScaleY()->TimeLabels)
    f.Add(vx::TimeText(vx::Now()).size());
  return f.Value();
}

vx::Rect Unite(const vx::Rect& a, const vx::Rect& b) {
  if (a.Width() <= 0 || a.Height() <= 0) return b;
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
          std::max(a.Bottom, b.Bottom)};
}

}  // namespace

TkoGraph::TkoGraph(QObject* owner) : QObject(owner) {}

TkoGraph::~TkoGraph() = default;

TkoGraphDiagram* TkoGraph::AddDgr(const std::string& name) {
  diagrams_.push_back(std::make_unique<TkoGraphDiagram>(name));
  return diagrams_.back().get();
}

TkoGraphDiagram* TkoGraph::GetDgr(const std::string& name) const {
  for (const auto& d : diagrams_) {
    if (d->Name() == name) return d.get();
  }
  return nullptr;
}

TkoGraphDiagram* TkoGraph::GetDgr(int index) const {
  if (index < 0 || index >= DgrCount()) return nullptr;
  return diagrams_[static_cast<std::size_t>(index)].get();
}

void TkoGraph::BringToFront(TkoGraphDiagram* diagram) {
  const auto it = std::find_if(diagrams_.begin(), diagrams_.end(),
                               [diagram](const auto& d) { return d.get() == diagram; });
  if (diagram == nullptr || it == diagrams_.end()) return;
  std::rotate(it, it + 1, diagrams_.end());
}

void TkoGraph::ClearAll() {
  selected_ = nullptr;
  diagrams_.clear();
}

void TkoGraph::SetSelectedDgr(TkoGraphDiagram* diagram) {
  if (diagram == selected_) return;
  if (selected_ != nullptr) selected_->SetSelected(nullptr);
  selected_ = diagram;
  if (selected_ != nullptr) selected_->SetSelected(nullptr);
}

TkoGraphDiagram* TkoGraph::FrontmostAt(const QPoint& point) const {
  for (auto it = diagrams_.rbegin(); it != diagrams_.rend(); ++it) {
    if ((*it)->Visible && (*it)->OuterRect.ContainsStrictly(point.x(), point.y())) {
      return it->get();
    }
  }
  return nullptr;
}

void TkoGraph::SelectAtPos(const QPoint& point) {
  SetSelectedDgr(FrontmostAt(point));
  if (selected_ != nullptr) selected_->SelectElementAt(point);
}

TkoGraphDiagram* TkoGraph::DgrAtPos(const QPoint& point) const {
  for (const auto& d : diagrams_) {
    if (d->OuterRect.ContainsStrictly(point.x(), point.y())) return d.get();
  }
  return nullptr;
}

int TkoGraph::CoordAtCurPos(const QPoint& point, Tko2DPoint& coord) const {
  TkoGraphDiagram* d = FrontmostAt(point);
  if (d == nullptr) return -1;
  d->CoordAtPos(point, coord);
  for (int i = 0; i < DgrCount(); ++i) {
    if (diagrams_[static_cast<std::size_t>(i)].get() == d) return i;
  }
  return -1;
}

bool TkoGraph::RenderTo(QPainter* canvas) {
  const int w = Bounds.Width();
  const int h = Bounds.Height();
  changed_ = {};
  changedRects_.clear();
  if (w > 0 && h > 0) {
    const double dpr = DevicePixelRatio > 0.0 ? DevicePixelRatio : 1.0;
    const QSize pixels(qRound(w * dpr), qRound(h * dpr));
    if (bitmap_.size() != pixels || bitmap_.devicePixelRatio() != dpr) {
      bitmap_ = QImage(pixels, QImage::Format_RGB32);
      bitmap_.setDevicePixelRatio(dpr);
      Invalidate();
    }
    std::vector<std::uint64_t> now;
    now.reserve(diagrams_.size());
    for (const auto& d : diagrams_) now.push_back(FingerprintOf(*d, dpr));
    // Diagrams moved, resized, hidden or shown leave pixels no drawing of theirs covers.
    Fingerprint layout;
    for (const auto& d : diagrams_) {
      layout.Add(reinterpret_cast<std::uintptr_t>(d.get()));
      layout.Add(d->OuterRect);
      layout.Add(d->Visible);
    }
    if (layout.Value() != layout_) Invalidate();
    layout_ = layout.Value();
    vx::GraphCanvas c(bitmap_);
    if (!drawn_ || now.size() != fingerprints_.size()) {
      drawn_ = true;
      // Whatever no diagram covers shows the window's own face, never stale pixels.
      bitmap_.fill(ButtonFace());
      DrawAll(c);
      changed_ = {0, 0, w, h};
      changedRects_.push_back(changed_);
    } else {
      // A diagram drawn again paints over those below it where they overlap; those above
      // it are drawn again too, so that the stacking stays as it was.
      std::vector<bool> dirty(diagrams_.size());
      for (std::size_t i = 0; i < diagrams_.size(); ++i) {
        if (now[i] != fingerprints_[i]) dirty[i] = true;
        if (!dirty[i]) continue;
        const vx::Rect& a = diagrams_[i]->OuterRect;
        for (std::size_t j = i + 1; j < diagrams_.size(); ++j) {
          const vx::Rect& b = diagrams_[j]->OuterRect;
          // Each diagram fills up to and including its Right and Bottom.
          if (!(a.Right < b.Left || b.Right < a.Left || a.Bottom < b.Top || b.Bottom < a.Top))
            dirty[j] = true;
        }
      }
      for (std::size_t i = 0; i < diagrams_.size(); ++i) {
        if (!dirty[i]) continue;
        TkoGraphDiagram& d = *diagrams_[i];
        d.Draw(&c);
        const vx::Rect& o = d.OuterRect;
        changedRects_.push_back({o.Left, o.Top, o.Right + 1, o.Bottom + 1});
        changed_ = Unite(changed_, changedRects_.back());
      }
    }
    // The drawing may have changed what the fingerprint sees (automatic ranges).
    fingerprints_.clear();
    for (const auto& d : diagrams_) fingerprints_.push_back(FingerprintOf(*d, dpr));
  } else {
    bitmap_ = QImage();
    Invalidate();
  }
  if (OnRefreshed) OnRefreshed(this, bitmap_);
  if (canvas != nullptr && !bitmap_.isNull()) canvas->drawImage(Bounds.Left, Bounds.Top, bitmap_);
  return true;
}

void TkoGraph::DrawAll(vx::GraphCanvas& canvas) {
  for (const auto& d : diagrams_) d->Draw(&canvas);
}

void TkoGraph::RenderOn(QPaintDevice& device, const std::function<void(QPainter&)>& over) {
  vx::GraphCanvas c(device);
  c.Painter().fillRect(QRect(Bounds.Left, Bounds.Top, Bounds.Width(), Bounds.Height()),
                       ButtonFace());
  DrawAll(c);
  if (over) {
    c.Painter().save();
    c.Painter().setClipping(false);
    c.Painter().setCompositionMode(QPainter::CompositionMode_SourceOver);
    over(c.Painter());
    c.Painter().restore();
  }
}

void TkoGraph::SaveToFile(const std::string& fileName) {
  const QString name = QString::fromLocal8Bit(fileName.c_str());
  const QByteArray suffix = QFileInfo(name).suffix().toLower().toLatin1();
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  if (suffix == "svg") {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(Bounds.Width(), Bounds.Height()));
    svg.setViewBox(QRect(0, 0, Bounds.Width(), Bounds.Height()));
    svg.setTitle(QStringLiteral("VX310 graph"));
    if (Bounds.Width() <= 0 || Bounds.Height() <= 0)
      throw EkoException("SaveToFile: the graph has no area to draw for " + fileName);
    RenderOn(svg);
  } else {
    RenderTo(nullptr);
    const QByteArray format =
        QImageWriter::supportedImageFormats().contains(suffix) ? suffix : QByteArray("BMP");
    if (bitmap_.isNull() || !bitmap_.save(&buffer, format.constData())) {
      throw EkoException("SaveToFile: the graph could not be encoded for " + fileName);
    }
  }
  const char* step = nullptr;
  const int err = vx::WriteFileAtomically(
      fileName, std::string_view(data.constData(), static_cast<size_t>(data.size())), &step);
  if (err != 0) {
    throw EkoException("SaveToFile: cannot " + std::string(step != nullptr ? step : "write") + " " +
                       fileName + ": " + std::strerror(err));
  }
}
