#pragma once
#include <QToolBar>
#include <functional>

// A tool bar that never folds a button away behind its extension arrow: its minimum size
// is the width of every visible button side by side, so no resize of its window, by the
// engineer or by code, can hide a command (a hidden "Ref Zero" is a motor that cannot be
// stopped from this window). Windows with a fixed width take it from MinimumFullWidth and
// fit again on OnFullWidthChanged.
class TWholeToolBar : public QToolBar {
 public:
  explicit TWholeToolBar(const QString& title, QWidget* parent = nullptr);

  // The width that shows every visible action's button, separators and margins included.
  [[nodiscard]] int FullWidth() const;

  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

  // After an action has been added, removed, shown, hidden or recaptioned, once its
  // button has taken the change.
  std::function<void()> OnFullWidthChanged;

 protected:
  void actionEvent(QActionEvent* event) override;

 private:
  bool fitPending_ = false;
};
