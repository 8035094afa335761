#include "graph/graphelement.h"

#include "graph/graphcanvas.h"

TkoGraphElement::TkoGraphElement(const std::string& name) {
  const vx::GraphPen white{QColor(255, 255, 255), Qt::SolidLine, 1, vx::PenMode::Copy};
  const vx::GraphBrush clear{QColor(0, 0, 0), Qt::NoBrush};
  TextFormat.SetText(name);
  TextFormat.Pen = white;
  TextFormat.Brush = clear;
  TextFormat.Font.Name = QStringLiteral("Arial Narrow");
  TextFormat.Font.Size = -10;
  TextFormat.Font.Color = QColor(255, 255, 255);
  LineFormat.Pen = white;
  LineFormat.Brush = clear;
}

TkoGraphElement* TkoGraphElement::HitTest(const QPoint& point) {
  return Bounds.ContainsStrictly(point.x(), point.y()) ? this : nullptr;
}

namespace vx {

void UseFormat(GraphCanvas& canvas, const TkoLineFormat& format) {
  canvas.Pen = format.Pen;
  canvas.Brush = format.Brush;
}

void UseFormat(GraphCanvas& canvas, const TkoTextFormat& format) {
  canvas.Pen = format.Pen;
  canvas.Brush = format.Brush;
  canvas.Font = format.Font;
}

}  // namespace vx
