#pragma once
#include <QMainWindow>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/connectionstate.h"

class QAction;
class QFrame;
class QTreeWidget;
class TkoMBReadHoldRegisters;
class TkoRegister;
class TkoDeviceVX310;
class TkoParValue;
class TkoUserInterfaceUtils;
class TWholeToolBar;

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
  // The connection's state: while the drive does not answer the list is drawn as stale;
  // once it answers again the window reads back the command and reference it shows.
  void SetConnectionStatus(const TConnectionStatus& status);

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
  // Lets go of the read-back transactions of a drive that goes.
  void ForgetReadBack();
  // The list's height fitted to its rows, the frame and the window to the list.
  void FitHeight();
  // The window's fixed size from the list frame and the whole tool bar.
  void FitSize();
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
  // The drive enable command and the speed reference are written by this window and
  // never read cyclically: after a loss or an identification the image does not hold
  // the drive's values. They show "unknown" until read back from the drive; the values
  // of the setup (mode, position target) until the drive's setup has been read.
  void MarkUnknown();
  void StartReadBack();
  void ShowUnknown(TkoDeviceVX310* drive);
  [[nodiscard]] bool ReferenceKnown(TkoDeviceVX310* drive) const;

  TkoUserInterfaceUtils* koInterface_ = nullptr;
  // The drive the controls are bound to; compared with the supervisor's, never used
  // once it differs (it may have been destroyed).
  TkoDeviceVX310* boundDrive_ = nullptr;
  TWholeToolBar* bar_ = nullptr;
  QFrame* frame_ = nullptr;
  QTreeWidget* lvControl_ = nullptr;
  std::string settingsFile_;
  // One-shot reads of the registers read back, owned by the drive they were made for.
  struct ReadBack {
    TkoRegister* reg = nullptr;
    TkoMBReadHoldRegisters* transa = nullptr;
  };
  std::vector<ReadBack> readBack_;
  // Registers whose image holds the drive's value: read back, or sent by this window.
  std::set<const TkoRegister*> known_;
  TkoDeviceVX310* readBackDrive_ = nullptr;
  // The supervisor has told a state other than Connected: the values are stale.
  bool stale_ = false;
  bool connected_ = true;
  // The bound drive's commands must come from the drive (it has been on a line).
  bool fromDrive_ = false;
};
