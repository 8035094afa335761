#include "app/wholetoolbar.h"

#include <QAction>
#include <QActionEvent>
#include <QLayout>
#include <QStyle>
#include <algorithm>

TWholeToolBar::TWholeToolBar(const QString& title, QWidget* parent) : QToolBar(title, parent) {
  setMovable(false);
  setFloatable(false);
}

int TWholeToolBar::FullWidth() const {
  const QStyle* st = style();
  const int spacing = layout() != nullptr ? layout()->spacing() : 0;
  int width = 0;
  int items = 0;
  for (QAction* a : actions()) {
    QWidget* w = widgetForAction(a);
    if (w == nullptr || !a->isVisible()) continue;
    // A button not shown yet has not taken its style's sizes.
    w->ensurePolished();
    width += std::max(w->sizeHint().width(), w->minimumWidth());
    ++items;
  }
  const QMargins m = contentsMargins();
  // One spacing more than the gaps between the buttons: the bar's layout decides on
  // overflow with its own rounding, and a few pixels of air cost nothing.
  return width + items * spacing + m.left() + m.right() +
         2 * (st->pixelMetric(QStyle::PM_ToolBarItemMargin, nullptr, this) +
              st->pixelMetric(QStyle::PM_ToolBarFrameWidth, nullptr, this));
}

QSize TWholeToolBar::minimumSizeHint() const {
  const QSize base = QToolBar::minimumSizeHint();
  if (orientation() != Qt::Horizontal) return base;
  return QSize(std::max(base.width(), FullWidth()), base.height());
}

QSize TWholeToolBar::sizeHint() const {
  return QToolBar::sizeHint().expandedTo(minimumSizeHint());
}

void TWholeToolBar::actionEvent(QActionEvent* event) {
  QToolBar::actionEvent(event);
  updateGeometry();
  // The bar hears of a changed action before the action's button does: the width is
  // measured once the button has its new caption.
  if (fitPending_) return;
  fitPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        fitPending_ = false;
        updateGeometry();
        if (OnFullWidthChanged) OnFullWidthChanged();
      },
      Qt::QueuedConnection);
}
