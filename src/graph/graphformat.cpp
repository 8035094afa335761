#include "graph/graphformat.h"

void TkoLineFormat::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (OnChange) OnChange(this);
}

void TkoTextFormat::SetText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  if (OnChange) OnChange(this);
}

void TkoTextFormat::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (OnChange) OnChange(this);
}
