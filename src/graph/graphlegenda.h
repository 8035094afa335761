#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graph/graphelement.h"

class TkoGraphTraccia;
namespace vx {
class GraphCanvas;
}

// The names of a diagram's traces in a grid of cells, each underlined in its trace's
// colour. The layout does not place it: the top-left of Bounds stays where the user puts
// it; the right and bottom follow from the names at each drawing.
class TkoGraphLegenda : public TkoGraphElement {
 public:
  using TraceList = std::vector<std::unique_ptr<TkoGraphTraccia>>;

  // `traces` is the diagram's trace list, not owned. Hidden after creation.
  TkoGraphLegenda(const std::string& name, const TraceList* traces);

  // False when the legend is invisible or there is no canvas or trace list. An empty list
  // shows "Empty". Traces beyond Rows x Columns are not listed.
  bool Draw(vx::GraphCanvas* canvas);
  // The trace whose cell holds the point, or null; the cells are those of the last drawing.
  TkoGraphTraccia* TraceAt(const QPoint& point) const;

  const TraceList* Traces;
  std::int32_t Columns = 1;  // at least 1
  std::int32_t CellWidth = 0;
  std::int32_t Rows = 1;
  std::int32_t CellHeight = 0;
  std::int32_t OffsetX = 0;
  std::int32_t OffsetY = 0;
  bool OnlyVisible = false;
};
