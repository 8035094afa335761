#pragma once
#include <QColor>
#include <QPoint>
#include <memory>
#include <string>
#include <vector>

#include "graph/graphformat.h"
#include "graph/graphlegenda.h"
#include "graph/graphmarker.h"
#include "graph/graphscala.h"
#include "graph/graphtraccia.h"
#include "graph/graphtypes.h"

namespace vx {
class GraphCanvas;
}

// One x/y diagram of the graph: a title, an X scale below the plot, a Y scale left of it,
// traces, markers and a legend. Layout and automatic ranges are recomputed at every Draw,
// so changing OuterRect, fonts or data needs no other call.
class TkoGraphDiagram {
 public:
  using TraceList = std::vector<std::unique_ptr<TkoGraphTraccia>>;
  using MarkerList = std::vector<std::unique_ptr<TkoGraphMarker>>;

  // The name becomes the title text; the title is hidden until the user shows it.
  explicit TkoGraphDiagram(const std::string& name);
  ~TkoGraphDiagram();
  TkoGraphDiagram(const TkoGraphDiagram&) = delete;
  TkoGraphDiagram& operator=(const TkoGraphDiagram&) = delete;

  const std::string& Name() const { return Title.Text(); }

  TkoGraphTraccia* AddTraccia(const std::string& name);
  TkoGraphMarker* AddMarker(const std::string& name);
  const TraceList& Traces() const { return traces_; }
  const MarkerList& Markers() const { return markers_; }
  TkoGraphScala* ScaleX() const { return scaleX_.get(); }
  TkoGraphScala* ScaleY() const { return scaleY_.get(); }
  TkoGraphLegenda* Legend() const { return legend_.get(); }

  // TitleRect, PlotRect and the bounds of scales, traces and markers from OuterRect and
  // the fonts in use.
  void CalcLayout(vx::GraphCanvas& canvas);
  // The X (Y) scale's range from the visible traces and the markers on that axis; an
  // empty span gives (0, 0).
  void CalcRangeX();
  void CalcRangeY();
  // False, drawing nothing, when the diagram is invisible or there is no canvas.
  bool Draw(vx::GraphCanvas* canvas);

  TkoGraphElement* SelectedElement() const { return selected_; }
  // Makes the element (a trace or marker of this diagram, or null) the selected one.
  void SetSelected(TkoGraphElement* element);
  // Selects by a click: the legend cell under the point, else a marker's value box, else
  // a trace when the point lies in the plot. A selection already made stays.
  void SelectElementAt(const QPoint& point);
  // Data coordinates at a pixel, limited to the scales' ranges.
  void CoordAtPos(const QPoint& point, Tko2DPoint& coord) const;

  bool AutoRangeX = true;
  bool AutoRangeY = true;
  bool Visible = true;
  TkoTextFormat Title;
  vx::Rect OuterRect;
  vx::Rect TitleRect;
  vx::Rect PlotRect;
  QColor PlotColor = QColor(0, 0, 0);
  QColor BackColor = QColor(0, 0, 0);

 private:
  TkoGraphElement* selected_ = nullptr;
  TraceList traces_;
  MarkerList markers_;
  std::unique_ptr<TkoGraphLegenda> legend_;
  std::unique_ptr<TkoGraphScala> scaleX_;
  std::unique_ptr<TkoGraphScala> scaleY_;
};
