#include "graph/graphlegenda.h"

#include <algorithm>

#include "graph/graphcanvas.h"
#include "graph/graphtraccia.h"

TkoGraphLegenda::TkoGraphLegenda(const std::string& name, const TraceList* traces)
    : TkoGraphElement(name), Traces(traces) {
  LineFormat.Pen = {QColor(255, 255, 255), Qt::SolidLine, 1, vx::PenMode::Copy};
  LineFormat.Brush = {QColor(0, 0, 0), Qt::SolidPattern};
  TextFormat.Font.Name = QStringLiteral("Arial");
  TextFormat.Font.Size = -10;
  Visible = false;
}

bool TkoGraphLegenda::Draw(vx::GraphCanvas* canvas) {
  if (!Visible || canvas == nullptr || Traces == nullptr) return false;
  const int left = Bounds.Left + OffsetX;
  const int top = Bounds.Top + OffsetY;
  const int count = static_cast<int>(Traces->size());
  if (count == 0) {
    vx::UseFormat(*canvas, TextFormat);
    canvas->TextOut(left, top, "Empty");
    return true;
  }
  if (Columns < 1) Columns = 1;
  if (count < Columns) Columns = count;
  Rows = count / Columns;

  canvas->Font = TextFormat.Font;
  int widest = 0;
  for (const auto& t : *Traces) widest = std::max(widest, canvas->TextWidth(t->Name()));
  Bounds.Right = (widest * 10 / 9) * Columns + left;
  Bounds.Bottom = (canvas->TextHeight("0") * 4 / 3) * Rows + top;
  // Cells divide the grid box, which starts at the offset.
  CellWidth = (Bounds.Right - left) / Columns;
  CellHeight = (Bounds.Bottom - top) / Rows;

  if (LineFormat.Visible()) {
    vx::UseFormat(*canvas, LineFormat);
    canvas->Rectangle(left, top, Bounds.Right + 1, Bounds.Bottom + 1);
    for (int r = 0; r < Rows; ++r) {
      canvas->MoveTo(left, top + CellHeight * r);
      canvas->LineTo(Bounds.Right, top + CellHeight * r);
    }
    for (int c = 0; c < Columns; ++c) {
      canvas->MoveTo(left + CellWidth * c, top);
      canvas->LineTo(left + CellWidth * c, Bounds.Bottom);
    }
  }

  for (int r = 0, y = top; r < Rows; ++r, y += CellHeight) {
    for (int c = 0, x = left + 2; c < Columns; ++c, x += CellWidth) {
      const TkoGraphTraccia* t = (*Traces)[r * Columns + c].get();
      if (!t->Visible && OnlyVisible) continue;
      vx::UseFormat(*canvas, t->LineFormat);
      canvas->Pen.Width = 3;
      canvas->Font = TextFormat.Font;
      const int under = y + canvas->TextHeight(t->Name());
      canvas->MoveTo(x, under);
      canvas->LineTo(x + canvas->TextWidth(t->Name()), under);
      vx::UseFormat(*canvas, TextFormat);
      if (t->Selected) {
        canvas->Font.Color = t->LineFormat.Pen.Color;
        canvas->Font.Italic = true;
      }
      canvas->TextOut(x, y, t->Name());
    }
  }
  return true;
}

TkoGraphTraccia* TkoGraphLegenda::TraceAt(const QPoint& point) const {
  if (Traces == nullptr || Columns < 1) return nullptr;
  // Cells past the last trace hold nothing, so the search stops at the trace count.
  const long long cells = std::min<long long>(static_cast<long long>(Rows) * Columns,
                                              static_cast<long long>(Traces->size()));
  for (long long index = 0; index < cells; ++index) {
    const int r = static_cast<int>(index / Columns);
    const int c = static_cast<int>(index % Columns);
    const int l = Bounds.Left + OffsetX + c * CellWidth + 1;
    const int t = Bounds.Top + OffsetY + r * CellHeight + 1;
    const vx::Rect cell{l, t, l + CellWidth + 1, t + CellHeight + 1};
    if (cell.ContainsStrictly(point.x(), point.y())) return (*Traces)[index].get();
  }
  return nullptr;
}
