#include "graph/graph.h"

#include <QBuffer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPalette>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "graph/graphcanvas.h"
#include "platform/atomicfile.h"
#include "platform/koexception.h"

namespace {

QColor ButtonFace() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    return QGuiApplication::palette().color(QPalette::Button);
  }
  return QColor(240, 240, 240);
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
  if (w > 0 && h > 0) {
    const double dpr = DevicePixelRatio > 0.0 ? DevicePixelRatio : 1.0;
    const QSize pixels(qRound(w * dpr), qRound(h * dpr));
    if (bitmap_.size() != pixels || bitmap_.devicePixelRatio() != dpr) {
      bitmap_ = QImage(pixels, QImage::Format_RGB32);
      bitmap_.setDevicePixelRatio(dpr);
    }
    // Whatever no diagram covers shows the window's own face, never stale pixels.
    bitmap_.fill(ButtonFace());
    vx::GraphCanvas c(bitmap_);
    for (const auto& d : diagrams_) d->Draw(&c);
  } else {
    bitmap_ = QImage();
  }
  if (OnRefreshed) OnRefreshed(this, bitmap_);
  if (canvas != nullptr && !bitmap_.isNull()) canvas->drawImage(Bounds.Left, Bounds.Top, bitmap_);
  return true;
}

void TkoGraph::SaveToFile(const std::string& fileName) {
  RenderTo(nullptr);
  const QString name = QString::fromLocal8Bit(fileName.c_str());
  const QByteArray suffix = QFileInfo(name).suffix().toLower().toLatin1();
  const QByteArray format =
      QImageWriter::supportedImageFormats().contains(suffix) ? suffix : QByteArray("BMP");
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  if (bitmap_.isNull() || !bitmap_.save(&buffer, format.constData())) {
    throw EkoException("SaveToFile: the graph could not be encoded for " + fileName);
  }
  const char* step = nullptr;
  const int err = vx::WriteFileAtomically(
      fileName, std::string_view(data.constData(), static_cast<size_t>(data.size())), &step);
  if (err != 0) {
    throw EkoException("SaveToFile: cannot " + std::string(step != nullptr ? step : "write") + " " +
                       fileName + ": " + std::strerror(err));
  }
}
