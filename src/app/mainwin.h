#pragma once
#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/connectionstate.h"
#include "app/logmemo.h"

class QAction;
class QLabel;
class QActionGroup;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QGroupBox;
class TkoUserInterfaceUtils;
class TNetwork;
struct TNetworkMainWindow;

namespace vx {
class TIniFile;
}

// Application title, also the main window's caption.
inline constexpr const char* kAppTitle = "VX310 - Configuration Terminal 2.20";
// Name of the settings file in the start directory.
inline constexpr const char* kSettingsFileName = "VX310_ConfigTerm.ini";

// The main window: port and slave address, connect and disconnect, the message log, the
// drive's hardware data and actual state, its present and previous faults, and the
// switches of the drive windows. The connection itself is the supervisor's (TNetwork).
class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // `startDirectory` empty: the process's current directory.
  explicit TMainForm(const std::string& startDirectory = std::string(), QWidget* parent = nullptr);
  ~TMainForm() override;

  // With a trailing "/".
  [[nodiscard]] const std::string& StartDirectory() const { return startDirectory_; }
  [[nodiscard]] std::string SettingsFile() const { return startDirectory_ + kSettingsFileName; }
  [[nodiscard]] int32_t SelPort() const { return selPort_; }
  [[nodiscard]] int32_t SelSlave() const { return selSlave_; }

  void SelectPort(int32_t n);
  void SelectSlave(int32_t n);

  // The supervisor, created right after this window; none until then.
  void SetNetwork(TNetwork* network);
  [[nodiscard]] TNetwork* Network() const { return network_; }
  // The windows the tool buttons show and hide (each may be none: its button is left
  // out); the about window is shown modally when it is a dialog.
  void SetDriveWindows(QWidget* setupForm, QWidget* controlForm, QWidget* scopeForm);
  void SetAboutWindow(QWidget* aboutForm);
  // The bus monitor, shown and hidden by acBusMonitor at any time (also without a drive:
  // a silent line is when it is wanted most).
  void SetMonitorWindow(QWidget* monitorForm);
  // Asked before the connected drive goes (Disconnect, a new Connect) and before the
  // program ends; false keeps everything as it is. Empty: nothing to lose. Start-up wires
  // them to the setup window, which knows of values edited and not sent.
  std::function<bool()> DropDriveQuery;
  std::function<bool()> ExitQuery;

  // What the supervisor asks of this window, wired to the operations below; the
  // supervisor is created with them, right after this window.
  [[nodiscard]] TNetworkMainWindow SupervisorHooks();

  // Binds the state lists to the connected drive's parameters; nothing without a drive.
  void BuildStateLists();
  // Unbinds and empties the state lists and fault pages (the drive they show is gone).
  void ClearStateLists();
  // After every completed actual-state read: the actual-state list.
  void RefreshActState();
  // After every completed setup read and current-range edit: the hardware-info list.
  void RefreshHwInfo();
  // Replaces the text of the two fault pages; "- NO ERROR -" on a page without lines.
  void SetFaults(const std::vector<std::string>& present, const std::vector<std::string>& previous);

  // Appends one line to the message log, stamped with the present moment (shown beside
  // it, and in front of it in a saved or mirrored log).
  void AddMessage(const std::string& line);
  // Asked for the name of a file to write; empty: cancelled. Unset: the standard dialog.
  std::function<QString(const QString& caption, const QString& filter)> AskSaveFileName;

  // A fault that was not present before has appeared: the fault indicator is red, the
  // present fault page in front and the window title marked, until the engineer has looked
  // (the page shown while the window becomes active, or a click on the page or indicator).
  [[nodiscard]] bool FaultNoticeShown() const { return faultNotice_; }
  void AcknowledgeFault();
  // The connect button carries Disconnect while a connection runs, Connect otherwise.
  void SetConnectionRunning(bool running);
  // The action the connect button carries now.
  [[nodiscard]] QAction* ConnectAction() const { return connectAction_; }
  // Re-evaluates the enabled and checked states of the actions.
  void UpdateActions();
  // Shows the connection's state in the status bar ("Connected", "Identifying...",
  // "Not responding since hh:mm:ss", "Offline") and draws the drive's live values (state
  // lists, fault pages) as stale while it does not answer.
  void SetConnectionStatus(const TConnectionStatus& status);
  [[nodiscard]] const TConnectionStatus& ConnectionStatus() const { return connectionStatus_; }
  // Whether the live values are drawn as stale now.
  [[nodiscard]] bool ValuesStale() const;

  QAction* acOpenConnection = nullptr;
  QAction* acCloseConnection = nullptr;
  QAction* acClose = nullptr;
  QAction* acAbout = nullptr;
  QAction* acSlaveAddr = nullptr;
  QAction* acSetupForm = nullptr;
  QAction* acRemoteCtrl = nullptr;
  QAction* acViewScope = nullptr;
  QAction* acSupportedDev = nullptr;
  QAction* acEditCurRange = nullptr;
  // "Save log..." (Ctrl+S, and in the log's popup menu).
  QAction* acSaveLog = nullptr;
  QAction* acBusMonitor = nullptr;

  // Whether the current-range edit can run now: a drive, the hardware list focused and
  // its maximum-current-range row selected.
  [[nodiscard]] bool CanEditCurRange() const;

  // --- For the tests and pictures ------------------------------------------------------
  // The window's controls and binders; the rest of the program uses the operations above.
  struct TControls {
    vx::TLogMemo* Memo;
    QPlainTextEdit* ActFaultMemo;
    QPlainTextEdit* PrevFaultMemo;
    QTreeWidget* lvHwInfo;
    QTreeWidget* lvActState;
    TkoUserInterfaceUtils* koFastInterface;
    TkoUserInterfaceUtils* koSlowInterface;
    QToolButton* PortButton;
    QToolButton* SlaveButton;
    QMenu* PortMenu;
    QLabel* ConnectionLabel;
    QLabel* FaultLabel;
  };
  [[nodiscard]] TControls Controls() const;

 signals:
  // The window has been closed, every other window having agreed: the program ends.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void CreateActions();
  void CreateControls();
  void CreateToolBar();
  void CreatePanes();
  void CreateInterfaces();
  void FormCreate();
  void FormClose();
  // Once the exit has been agreed: the drive windows go with the main window.
  void CloseDriveWindows();
  void ToggleWindow(QWidget* window);
  void acSlaveAddrExecute();
  void acEditCurRangeExecute();
  void koFastInterfaceBeforeRefresh();
  bool DriveReady() const;
  void FitToContent();
  void ShowConnectionStatus(const TConnectionStatus& status);
  void ShowStale();
  void ColourLog();
  void acSaveLogExecute();
  void ShowFaultNotice(const std::vector<std::string>& fresh);
  // Replaces a fault page's text; "- NO ERROR -" when there are no lines.
  void SetFaultLines(QPlainTextEdit* page, const std::vector<std::string>& lines);

  // Controls and binders.
  vx::TLogMemo* Memo = nullptr;
  QPlainTextEdit* ActFaultMemo = nullptr;
  QPlainTextEdit* PrevFaultMemo = nullptr;
  QTreeWidget* lvHwInfo = nullptr;
  QTreeWidget* lvActState = nullptr;
  TkoUserInterfaceUtils* koFastInterface = nullptr;
  TkoUserInterfaceUtils* koSlowInterface = nullptr;
  QToolButton* PortButton = nullptr;
  QToolButton* SlaveButton = nullptr;
  QToolButton* ConnectButton = nullptr;
  QMenu* PortMenu = nullptr;
  // The connection-state indicator in the status bar.
  QLabel* ConnectionLabel = nullptr;
  // The new-fault indicator beside it, shown while a new fault has not been looked at.
  QLabel* FaultLabel = nullptr;

  std::string startDirectory_;
  int32_t selPort_ = 1;
  int32_t selSlave_ = 0;
  TNetwork* network_ = nullptr;
  QPointer<QWidget> setupForm_;
  QPointer<QWidget> controlForm_;
  QPointer<QWidget> scopeForm_;
  QPointer<QWidget> aboutForm_;
  QPointer<QWidget> monitorForm_;
  QMenu* toolsMenu_ = nullptr;
  QActionGroup* portGroup_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QAction* connectAction_ = nullptr;
  QSplitter* mainSplitter_ = nullptr;
  QSplitter* lowerSplitter_ = nullptr;
  QTabWidget* faultPages_ = nullptr;
  QGroupBox* stateGroup_ = nullptr;
  bool splitApplied_ = false;
  TConnectionStatus connectionStatus_;
  // The supervisor has told a state: until then nothing is drawn as stale.
  bool statusTold_ = false;
  // The present faults last shown, to tell a new one.
  std::vector<std::string> presentFaults_;
  bool faultNotice_ = false;
};
