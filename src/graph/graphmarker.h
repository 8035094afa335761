#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "graph/graphelement.h"

class TkoGraphScala;
namespace vx {
class GraphCanvas;
}

// A value cursor: a vertical line at its X value and a horizontal line at its Y value
// across the plot, each ended by a head symbol at the scale and labelled with the value in
// a filled box. Clicking a value box selects the marker. LineFormat draws lines and heads.
class TkoGraphMarker : public TkoGraphElement {
 public:
  static constexpr std::uint8_t kHeadNone = 0, kHeadRightHalfArrow = 1, kHeadLeftHalfArrow = 2,
                                kHeadArrow = 3, kHeadCircle = 4, kHeadSquare = 5;
  // Axes is a set of these bits; their values are the axis numbers 1 (X) and 2 (Y).
  static constexpr std::uint8_t kAxisX = 1, kAxisY = 2;
  // The position of a marker not placed yet: it lies outside every range.
  static constexpr double kUnplaced = 1e99;

  explicit TkoGraphMarker(const std::string& name);

  // Whether a coordinate is a placed value: unplaced ones and values that are not finite
  // neither draw nor widen an automatic range.
  static bool IsPlaced(double v);
  bool HasAxis(std::uint8_t axis) const { return (Axes & axis) != 0; }

  // Places the value boxes for the next Draw: each beside its scale at its value, moved
  // along the scale as little as needed to keep clear of `taken` (the boxes of the markers
  // placed before it); a box that finds no free place within its scale is left out. The
  // boxes placed are added to `taken`.
  void PlaceBoxes(vx::GraphCanvas& canvas, const TkoGraphScala& scaleX, const TkoGraphScala& scaleY,
                  std::vector<vx::Rect>& taken);

  // The parts whose value lies in its scale's range, each when its format is visible. The
  // value boxes drawn become the hit areas; a box not drawn cannot be hit. Boxes go where
  // PlaceBoxes put them (placed now, alone, when it was not called). False, drawing
  // nothing, when the marker is invisible or a canvas or scale is missing.
  bool Draw(vx::GraphCanvas* canvas, const TkoGraphScala* scaleX, const TkoGraphScala* scaleY);

  // The width a Y value box takes beside the plot, for the layout (0 when it shows none).
  int BoxWidthY(vx::GraphCanvas& canvas, const TkoGraphScala& scaleY);

  // The marker when the point lies strictly inside a drawn value box of one of its axes
  // (SelectedPart 1 for the X box, 2 for the Y box), else null (SelectedPart 0).
  TkoGraphMarker* HitTest(const QPoint& point) override;

  TkoTextFormat LabelFormat;  // its text is the number picture of the value boxes
  Tko2DPoint Position{kUnplaced, kUnplaced};
  std::uint8_t HeadStyle = kHeadNone;
  std::uint8_t PointStyle = 0;  // as the trace point styles
  std::uint8_t Axes = kAxisX | kAxisY;
  // Whether the position takes part in the diagram's automatic ranges. A reading cursor
  // set by the engineer does not: it shows where it stands while that is in view.
  bool WidensRange = true;
  vx::Rect LabelRectY;
  vx::Rect LabelRectX;
  std::uint8_t SelectedPart = 0;

 private:
  // The line at pixel px (x) or py (y) across the plot, with its head beside the scale.
  void DrawLineX(vx::GraphCanvas& canvas, int px, bool above) const;
  void DrawLineY(vx::GraphCanvas& canvas, int py, bool left) const;
  // The value box at its placed rectangle, its text centred (X) or aligned to the plot (Y).
  void DrawBoxX(vx::GraphCanvas& canvas, const TkoGraphScala& scaleX) const;
  void DrawBoxY(vx::GraphCanvas& canvas, const TkoGraphScala& scaleY) const;

  bool placed_ = false;  // PlaceBoxes ran for the coming Draw
};
