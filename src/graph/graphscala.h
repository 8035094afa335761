#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "graph/graphelement.h"

namespace vx {
class GraphCanvas;
}

// One axis of a diagram: the data range shown, the tick step and the label format. It
// converts data values to pixels for everything drawn in the plot and draws ticks, grid
// lines, value labels and its title on one side of the plot. TextFormat's text is the
// scale title; LineFormat draws the ticks.
class TkoGraphScala : public TkoGraphElement {
 public:
  static constexpr std::uint8_t kAbove = 1, kBelow = 2, kLeft = 3, kRight = 4;

  TkoGraphScala(const std::string& name, std::uint8_t orientation);

  // Pixels per data unit along the scale: the plot's width (above, below) or height
  // (left, right) over Max - Min; 1 when the range is empty.
  double PixelsPerUnit() const;
  bool Horizontal() const { return Orientation == kAbove || Orientation == kBelow; }

  // Data value to pixel inside `plot`, and back. A horizontal scale converts along x from
  // plot.Left, a vertical one along y upward from plot.Bottom; the way back undoes the way
  // there, so a value read at a drawn pixel lies within one pixel's worth of the value drawn.
  int ToPixelX(double x, const vx::Rect& plot) const;
  int ToPixelY(double y, const vx::Rect& plot) const;
  double FromPixelX(int px, const vx::Rect& plot) const;
  double FromPixelY(int py, const vx::Rect& plot) const;

  // The step between intermediate ticks for the present bounds, range and label font;
  // 0 when there are none.
  double TickStep(vx::GraphCanvas& canvas) const;

  // The label of a value: its date, its time or the number in LabelFormat's picture.
  // Second is the time line under a date when both date and time labels are on.
  std::string LabelText(double value) const;
  std::string LabelSecondLine(double value) const;

  // Ticks, grid, labels and title, each when its format is visible. False when the scale
  // is invisible or there is no canvas.
  bool Draw(vx::GraphCanvas* canvas);

  std::uint8_t Orientation;
  TkoLineFormat GridFormat;
  TkoTextFormat LabelFormat;  // its text is the number picture of the labels
  double Min = 0.0;
  double Max = 0.0;
  double Step = -1.0;  // not positive: no intermediate ticks
  bool DateLabels = false;
  bool TimeLabels = false;
  vx::Rect PlotRect;  // copied by the diagram layout
  // Areas the labels keep clear of (the diagram puts its markers' value boxes here); a
  // label that would run into one of them, or into a label written before it, is left out.
  std::vector<vx::Rect> Reserved;
  // What the last Draw wrote: the area of each label and that of the title.
  const std::vector<vx::Rect>& LabelRects() const { return labelRects_; }
  const vx::Rect& TitleArea() const { return titleArea_; }

 private:
  enum class LabelKind { kMax, kMin, kBetween };
  // Where the label of `value` goes: its first line at (x, y), the second at (x2, y2), and
  // the area both take.
  struct LabelPlace {
    int x = 0, y = 0, x2 = 0, y2 = 0;
    vx::Rect area;
  };

  // Pixel of a value along the scale, inside the plot.
  int PixelAt(double value) const;
  void DrawTicks(vx::GraphCanvas& canvas, const std::vector<double>& values) const;
  void DrawGrid(vx::GraphCanvas& canvas, const std::vector<double>& values) const;
  void DrawLabels(vx::GraphCanvas& canvas, const std::vector<double>& values);
  LabelPlace PlaceLabel(vx::GraphCanvas& canvas, double value, LabelKind kind,
                        const std::string& first, const std::string& second) const;
  void DrawTitle(vx::GraphCanvas& canvas);

  std::vector<vx::Rect> labelRects_;
  vx::Rect titleArea_;
};

namespace vx {

// The working tick step: `step` is first divided by 10 until it is at most half the
// span, then grown through the 1, 2, 5, 10 progression until one step covers
// `minDistance` pixels at `pixelsPerUnit` (never less than one pixel). 0 when the step,
// the span or the scale factor is not a positive finite number.
double ChooseTickStep(double step, double span, double pixelsPerUnit, double minDistance);

// Every multiple of `step` in (min, max], ascending.
std::vector<double> TickValues(double min, double max, double step);

// Date and time texts of a date-time value (days since 30 December 1899) in the
// process-wide short date and long time formats.
std::string DateText(double value);
std::string TimeText(double value);

}  // namespace vx
