#pragma once
#include <QImage>
#include <QObject>
#include <QPainter>
#include <QPoint>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "graph/graphdiagram.h"
#include "graph/graphtypes.h"

namespace vx {
class GraphCanvas;
}

// Renders a set of diagrams into an off-screen bitmap and copies it onto a window's
// canvas. The diagram list is the stacking order: the last diagram is painted on top and
// found first by a click.
class TkoGraph : public QObject {
 public:
  explicit TkoGraph(QObject* owner = nullptr);
  ~TkoGraph() override;

  // A new diagram, placed in front of the others.
  TkoGraphDiagram* AddDgr(const std::string& name);
  // The first diagram from the back whose title text equals `name` (letter case counts).
  TkoGraphDiagram* GetDgr(const std::string& name) const;
  // Null when the index is outside the list.
  TkoGraphDiagram* GetDgr(int index) const;
  int DgrCount() const { return static_cast<int>(diagrams_.size()); }
  // Moves a diagram of this graph to the front; null or a foreign diagram is ignored.
  void BringToFront(TkoGraphDiagram* diagram);
  // Deletes every diagram.
  void ClearAll();

  TkoGraphDiagram* SelectedDgr() const { return selected_; }
  // Clears the element selection of the diagram left and of the one chosen.
  void SetSelectedDgr(TkoGraphDiagram* diagram);
  // Selects the front-most visible diagram under the point (or none) and, in it, the
  // element under the point.
  void SelectAtPos(const QPoint& point);
  // The first diagram from the back whose OuterRect holds the point strictly, visible or not.
  TkoGraphDiagram* DgrAtPos(const QPoint& point) const;
  // Data coordinates under the point in the front-most visible diagram there; answers its
  // list position, or -1 when no diagram is there.
  int CoordAtCurPos(const QPoint& point, Tko2DPoint& coord) const;

  // Renders every diagram into the bitmap, raises OnRefreshed and copies the bitmap onto
  // `canvas` at the top-left of Bounds when one is given. A diagram that would come out
  // exactly as it stands in the bitmap (same place, data, ranges, formats and selection)
  // is not drawn again; ChangedArea tells what was.
  bool RenderTo(QPainter* canvas);
  // The part of the bitmap (layout pixels) the last RenderTo drew anew; empty when
  // nothing had changed.
  const vx::Rect& ChangedArea() const { return changed_; }
  // The areas of the diagrams drawn anew (each with its Right and Bottom), or the whole
  // bitmap after a full drawing.
  const std::vector<vx::Rect>& ChangedRects() const { return changedRects_; }
  // The next RenderTo draws everything (after a change the fingerprint cannot see, such
  // as the application palette).
  void Invalidate() {
    drawn_ = false;
    fingerprints_.clear();
  }
  // Draws every diagram on any paint device (an SVG generator, a printer), at Bounds'
  // size, with the same drawing code as the bitmap.
  // `over` draws on top, with the same painter, before the device is finished.
  void RenderOn(QPaintDevice& device, const std::function<void(QPainter&)>& over = {});
  // Renders and writes the picture; the format follows the file's suffix: SVG (drawn as
  // lines and text) or a bitmap format (BMP without a known suffix). Written atomically.
  // Throws EkoException when the file cannot be written.
  void SaveToFile(const std::string& fileName);

  const QImage& Bitmap() const { return bitmap_; }

  vx::Rect Bounds{0, 0, 319, 239};
  // Device pixels per layout pixel of the screen shown on: the bitmap has that many more
  // pixels, so that lines and text are drawn sharp at 2x rather than enlarged. Layout,
  // Bounds and coordinates stay in layout pixels.
  double DevicePixelRatio = 1.0;
  std::function<void(TkoGraph* sender, const QImage& grafico)> OnRefreshed;

 private:
  TkoGraphDiagram* FrontmostAt(const QPoint& point) const;
  void DrawAll(vx::GraphCanvas& canvas);

  QImage bitmap_;
  // Per diagram, in list order: what its last drawing in the bitmap was made from.
  std::vector<std::uint64_t> fingerprints_;
  std::uint64_t layout_ = 0;  // of the diagrams' order, places and visibility
  bool drawn_ = false;        // the bitmap holds a full drawing
  vx::Rect changed_;
  std::vector<vx::Rect> changedRects_;
  TkoGraphDiagram* selected_ = nullptr;
  std::vector<std::unique_ptr<TkoGraphDiagram>> diagrams_;
};
