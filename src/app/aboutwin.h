#pragma once
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QEvent;
class QFrame;
class QPlainTextEdit;
class QShowEvent;
class TkoDeviceSetup;
class TkoDeviceVX310;

namespace vx {
class TIniFile;
}

// A borderless window, centred on the screen and sized to its content: the texts of the
// settings file's "AboutForm" section above, and the identity and properties of the
// connected drive below. Esc or a click on the upper box closes it.
class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  // Reads the configured texts once, from the settings file (a missing or unreadable file
  // gives the defaults).
  explicit TAboutForm(const std::string& settingsFile, QWidget* parent = nullptr);

  // Where the window finds the supervisor's device setup when it is shown; may return
  // none. Without a source the window reports no connection.
  using DeviceSource = std::function<TkoDeviceSetup*()>;
  void SetDeviceSource(DeviceSource source) { deviceSource_ = std::move(source); }

  // Rebuilds the lower box from the device (done on every show).
  void FillDeviceMemo();

  QFrame* Panel = nullptr;
  QPlainTextEdit* Memo = nullptr;
  QPlainTextEdit* DeviceMemo = nullptr;
  QAction* acExit = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AdaptHeights();

  DeviceSource deviceSource_;
};

namespace vx {

// The lines of the upper box from the "AboutForm" section of the settings text.
std::vector<std::string> AboutLines(const TIniFile& settings);

// The lines of the lower box: the drive's identity and properties when the setup's device
// is connected and ready and is a VX310, "Not connected! (or unknown device)" otherwise.
std::vector<std::string> DeviceLines(TkoDeviceSetup* setup);
// The identity and property lines of a drive, whatever its state.
std::vector<std::string> DriveLines(TkoDeviceVX310& drive);

// Items of a comma text: separated by commas or blanks; an item in double quotes may hold
// both, and a doubled quote inside it stands for one quote.
std::vector<std::string> SplitCommaText(const std::string& text);

}  // namespace vx
