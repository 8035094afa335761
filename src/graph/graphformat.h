#pragma once
#include <functional>
#include <string>

#include "graph/graphtypes.h"

// How a graph element draws its lines and fills.
class TkoLineFormat {
 public:
  vx::GraphPen Pen;
  vx::GraphBrush Brush;
  // Raised by SetVisible when the flag really changes.
  std::function<void(TkoLineFormat* sender)> OnChange;

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);

 private:
  bool visible_ = true;
};

// A text of a graph element (a title, a name or a number picture) and how it is drawn.
class TkoTextFormat {
 public:
  vx::GraphPen Pen;
  vx::GraphBrush Brush;
  vx::GraphFont Font;
  // Raised by SetText and SetVisible when the value really changes.
  std::function<void(TkoTextFormat* sender)> OnChange;

  const std::string& Text() const { return text_; }
  void SetText(const std::string& text);  // letter case counts
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);

 private:
  std::string text_;
  bool visible_ = true;
};
