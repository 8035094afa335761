#pragma once
#include <QPoint>
#include <string>

#include "graph/graphformat.h"
#include "graph/graphtypes.h"

// Base of everything drawn inside a diagram: traces, markers, scales and the legend.
class TkoGraphElement {
 public:
  // The name becomes TextFormat's text. Lines and texts start white on a clear brush, the
  // font "Arial Narrow" 10 pixels high.
  explicit TkoGraphElement(const std::string& name);
  virtual ~TkoGraphElement() = default;
  TkoGraphElement(const TkoGraphElement&) = delete;
  TkoGraphElement& operator=(const TkoGraphElement&) = delete;

  const std::string& Name() const { return TextFormat.Text(); }

  // The element when the point lies strictly inside Bounds (points on an edge are
  // outside), else null.
  virtual TkoGraphElement* HitTest(const QPoint& point);

  TkoLineFormat LineFormat;
  TkoTextFormat TextFormat;
  vx::Rect Bounds;  // set by the diagram layout
  bool Visible = true;
  bool Selected = false;  // set by the diagram
};

namespace vx {

// Pen and brush (and font) of a format become the canvas's.
class GraphCanvas;
void UseFormat(GraphCanvas& canvas, const TkoLineFormat& format);
void UseFormat(GraphCanvas& canvas, const TkoTextFormat& format);

}  // namespace vx
