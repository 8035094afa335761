#pragma once
#include <QImage>
#include <QObject>
#include <QPainter>
#include <QPoint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "graph/graphdiagram.h"
#include "graph/graphtypes.h"

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
  // `canvas` at the top-left of Bounds when one is given.
  bool RenderTo(QPainter* canvas);
  // Renders and writes the bitmap; the format follows the file's suffix (BMP without a
  // known one). Throws EkoException when the file cannot be written.
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

  QImage bitmap_;
  TkoGraphDiagram* selected_ = nullptr;
  std::vector<std::unique_ptr<TkoGraphDiagram>> diagrams_;
};
