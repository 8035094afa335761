#pragma once
#include <QMainWindow>
#include <functional>
#include <string>

class QAction;
class QFrame;
class QTreeWidget;
class TkoDeviceVX310;
class TkoParValue;
class TkoUserInterfaceUtils;

// The remote control window: the engineer runs the motor by hand. The drive is enabled,
// its counter reset, zero search and synchronisation commands fired, and its speed or
// position reference stepped, inverted or cleared.
//
// The window only changes parameters of the connected drive; the supervisor's change
// handlers on those parameters write them to the drive at once. The drive comes and goes
// with the connection: before each use the window compares `Device` with the drive it was
// bound to, and lets go of its parameters when they differ.
class TControlForm : public QMainWindow {
 public:
  explicit TControlForm(QWidget* parent = nullptr);
  ~TControlForm() override;

  // --- Links to the rest of the application --------------------------------------------
  // The connected drive, null when there is none (the supervisor's Device).
  std::function<TkoDeviceVX310*()> Device;
  // Refreshes the setup window's binder, so that its pages show what was changed here.
  std::function<void()> RefreshSetup;
  // Appends one line to the main window's message log (refused entries say why there).
  std::function<void(const std::string& line)> Log;
  // The settings file (StartDirectory + "VX310_ConfigTerm.ini"); setting it reads the
  // window position from section "ControlForm" and moves the window there.
  void SetSettingsFile(const std::string& path);
  const std::string& SettingsFile() const { return settingsFile_; }

  // --- Operations of the supervisor and the main window -------------------------------
  // Binds the list and the commands to the drive's parameters; called after each
  // identification.
  void BuildControls();
  // The binder of the list and the commands; the supervisor refreshes it after every
  // completed actual-state read.
  TkoUserInterfaceUtils* koInterface() const { return koInterface_; }
  // The drive is going (disconnect, or a drive of another kind): lets go of its
  // parameters; the window shows no drive until the next BuildControls.
  void ReleaseDrive();
  // Re-evaluates the actions' enabled and checked states (there is no idle update).
  void UpdateActions();

  // --- Actions -------------------------------------------------------------------------
  QAction* acClose = nullptr;
  QAction* acDriveEnable = nullptr;
  QAction* acResetCounter = nullptr;
  QAction* acExecuteZero = nullptr;
  QAction* acSyncSignal = nullptr;
  QAction* acRefUp = nullptr;
  QAction* acRefDwn = nullptr;
  QAction* acRefInvert = nullptr;
  QAction* acRefZero = nullptr;

  void acRefUpExecute();
  void acRefDwnExecute();
  void acRefInvertExecute();
  void acRefZeroExecute();

  // --- For the tests and pictures ------------------------------------------------------
  QTreeWidget* lvControl() const { return lvControl_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateActions();
  void koInterfaceBeforeRefresh();
  void koInterfaceAfterRefresh();
  void koInterfaceEdited(TkoParValue* par);
  // Unbinds everything; the bound actions show their own captions again.
  void ResetBindings();
  // The list's height fitted to its rows, the frame and the window to the list.
  void FitHeight();
  // The controls were bound to a drive that is no longer the supervisor's.
  bool BindingsStale() const;
  void UpdateRefActions();
  // The bound drive when it is still the supervisor's and connected and ready.
  TkoDeviceVX310* ReadyDrive() const;
  bool RefEnabled() const;
  // Steps the reference of the present mode; `step` is +1 or -1.
  void StepReference(int step);
  void AfterReferenceChange(TkoParValue* par);
  void SavePosition();

  TkoUserInterfaceUtils* koInterface_ = nullptr;
  // The drive the controls are bound to; compared with the supervisor's, never used
  // once it differs (it may have been destroyed).
  TkoDeviceVX310* boundDrive_ = nullptr;
  QFrame* frame_ = nullptr;
  QTreeWidget* lvControl_ = nullptr;
  std::string settingsFile_;
};
