#pragma once
#include <QDialog>

class QEvent;
class QKeyEvent;
class QPlainTextEdit;
class QShowEvent;
class QWidget;
class TkoDMCollection;
class TkoMBNetwork;

// A read-only list of the data-model files the collection can find and the device
// versions each supports, so that an engineer sees which drives the terminal knows. The
// list is built again each time the dialog is shown: files added to the folder while the
// program runs appear the next time.
class TkoSupportedDeviceList : public QDialog {
  Q_OBJECT

 public:
  explicit TkoSupportedDeviceList(QWidget* owner = nullptr);

  // Stores the collection (not owned; none is allowed) and shows the dialog modally.
  int ShowModal(TkoDMCollection* collection);

  [[nodiscard]] TkoDMCollection* Collection() const { return collection_; }
  void SetCollection(TkoDMCollection* collection) { collection_ = collection; }

  // Fills the text box from the collection (done on every show).
  void FormShow();

  QPlainTextEdit* Memo = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Escape closes the window; any other key does nothing here. True when handled.
  bool ExitKeyPress(QKeyEvent* event);

  TkoDMCollection* collection_ = nullptr;
};

namespace vx {

// Sets the network's hook so that ShowSupportedDeviceList shows the dialog centred over
// `mainWindow` and deletes it when the modal display ends. The hook does nothing once
// the main window is gone.
void InstallSupportedDeviceList(TkoMBNetwork* network, QWidget* mainWindow);

}  // namespace vx
