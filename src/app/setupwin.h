#pragma once
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QPrinter;
class QTabWidget;
class QVBoxLayout;
class TkoDeviceVX310;
class TkoParValue;
class TkoPrintRtfDoc;
class TkoUserInterfaceUtils;
class TCompareDialog;
class TWholeToolBar;
namespace vx {
struct SetupDifference;
struct SetupImport;
}  // namespace vx

// The drive setup window: the connected drive's configuration on seven pages, edited in
// place, reloaded from the drive, sent to its working memory and saved to its EEPROM;
// export to and import from setup files and the printed report.
//
// Everything shown lives in the drive object, which the window reaches through `Device`
// (the connection supervisor's). The drive comes and goes with the connection: the pages
// stay bound to the drive of the last BuildPages only while `Device` still answers that
// drive, and are let go before any use once it answers another or none. Messages go to
// the main window's log through `Log`.
//
// The close query goes through the application's dialog hooks (appdialogs.h); the file
// choosers and the printer dialog through the hooks below. Empty hooks show the
// toolkit's dialogs; tests answer them.
class TSetupForm : public QMainWindow {
 public:
  explicit TSetupForm(QWidget* parent = nullptr);
  ~TSetupForm() override;

  // --- Links to the rest of the application --------------------------------------------
  // The connected drive, null when there is none (the supervisor's Device).
  std::function<TkoDeviceVX310*()> Device;
  // Appends one line to the main window's message log.
  std::function<void(const std::string& line)> Log;
  // The settings file (StartDirectory + "VX310_ConfigTerm.ini"); setting it reads the
  // window position from section "SetupForm" and moves the window there.
  void SetSettingsFile(const std::string& path);
  const std::string& SettingsFile() const { return settingsFile_; }

  // --- Dialog hooks ----------------------------------------------------------------------
  // File choosers of export (save = true) and import; an empty answer cancels.
  std::function<QString(bool save)> AskFileName;
  // The printer dialog: configures the printer, false when cancelled.
  std::function<bool(QPrinter* printer)> AskPrinter;

  // --- Operations of the supervisor and the main window -------------------------------
  // Binds every page to the drive's parameters; called after each identification.
  void BuildPages();
  // The drive is going (disconnect, or a drive of another kind): lets go of its
  // parameters; the pages show no drive until the next BuildPages.
  void ReleaseDrive();
  // After each completed setup read: refreshes the pages, shows the window and brings it
  // to the front (showing a window already visible starts no new read).
  void SetupRead();
  // Refreshes the pages from the drive object (nothing is read from the drive).
  void RefreshData();
  // The binder of the pages. Refresh through RefreshData, which first lets go of a drive
  // that is no longer the supervisor's.
  TkoUserInterfaceUtils* koInterface() const { return koInterface_; }
  // Re-evaluates the actions' enabled states; the supervisor calls it after every engine
  // notification (there is no idle update).
  void UpdateActions();

  // --- Actions -------------------------------------------------------------------------
  QAction* acClose = nullptr;
  QAction* acReload = nullptr;
  QAction* acSend = nullptr;
  QAction* acSave = nullptr;
  QAction* acImport = nullptr;
  QAction* acExport = nullptr;
  QAction* acPrint = nullptr;
  // The window's values beside a setup file's, or beside the drive's own setup read
  // afresh; the window keeps its values either way.
  QAction* acCompareFile = nullptr;
  QAction* acCompareDrive = nullptr;

  void acReloadExecute();
  void acSendExecute();
  void acSaveExecute();
  void acExportExecute();
  void acImportExecute();
  void acPrintExecute();
  void acCompareFileExecute();
  void acCompareDriveExecute();

  // Whether the window may close now, asking the engineer when the drive holds changes
  // that are not saved. The program's exit asks it too, whether the window is shown or not.
  bool CloseQuery();
  // Whether the drive may go now (Disconnect, or a new Connect), asking the engineer when
  // values edited here have not been sent: they go with the drive object.
  bool DropDriveQuery();
  // Whether the program may end now: the close query while the drive answers, and the
  // same question for values not sent while it does not (they are lost all the same).
  bool ExitQuery();

  // --- For the report, the tests and pictures -----------------------------------------
  QTabWidget* Pages() const { return pages_; }
  TkoPrintRtfDoc* koPrintDoc() const { return koPrintDoc_; }
  // The comparison shown last; none before the first.
  TCompareDialog* CompareDialog() const;
  // The lines of one page of the report: its visible, enabled parameters in control
  // order, group frames with a heading line.
  std::vector<std::string> PageReportLines(int page) const;
  // The whole report as the printer gets it (plain lines; PrintDoc adds the attributes).
  std::vector<std::string> ReportLines() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Frames;
  void CreateActions();
  void CreatePages();
  // One function a page: it puts the page's frames into `layout` of `page`.
  void CreateOptionsPage(QWidget* page, QVBoxLayout* layout);
  void CreateMotorPage(QWidget* page, QVBoxLayout* layout);
  void CreateEncoderPage(QWidget* page, QVBoxLayout* layout);
  void CreateSpeedPage(QWidget* page, QVBoxLayout* layout);
  void CreatePositioningPage(QWidget* page, QVBoxLayout* layout);
  void CreateZeroingPage(QWidget* page, QVBoxLayout* layout);
  void CreateFieldBusPage(QWidget* page, QVBoxLayout* layout);
  // Binds the pages to the drive's parameters; none: every control shows no drive.
  void BindPages(TkoDeviceVX310* drive);
  void FitWidth();
  void FitHeight();
  void koInterfaceBeforeRefresh();
  void koInterfaceAfterRefresh();
  void koInterfaceEdited(TkoParValue* par);
  void SaveDirect(TkoParValue* par, const char* caption);
  void AppendWarning(const std::vector<std::string>& lines);
  void WriteLog(const std::string& line);
  void SetupCanChoices(TkoDeviceVX310* drive);
  // The drive the pages are bound to while it is still the supervisor's; null otherwise
  // (a drive that went may have been destroyed and is never touched).
  TkoDeviceVX310* Drive() const;
  bool BindingsStale() const;
  bool DriveReady() const;
  void SavePosition();
  // The caption marks a setup changed here and not sent, or sent and not saved.
  void UpdateCaption();
  // Whether values edited here and not sent may be lost, asking the engineer.
  bool AskLoseEdits(const QString& question);
  // The values a completed setup read found edited here and kept, in the log.
  void LogKeptEdits();
  // An import's values not taken as written, and a file of another drive model, in the log.
  void LogImportChecks(TkoDeviceVX310& d, const vx::SetupImport& result);
  // The file an import or a comparison reads; empty when cancelled.
  QString AskOpenFileName(const QString& title);
  // Shows the differences in the comparison dialog, one row a parameter.
  void ShowComparison(TkoDeviceVX310& d, const QString& heading, const QString& otherCaption,
                      const std::vector<vx::SetupDifference>& differences);

  TkoUserInterfaceUtils* koInterface_ = nullptr;
  TkoPrintRtfDoc* koPrintDoc_ = nullptr;
  QTabWidget* pages_ = nullptr;
  TWholeToolBar* bar_ = nullptr;
  TkoDeviceVX310* boundDrive_ = nullptr;
  std::unique_ptr<Frames> f_;  // the page controls (widgets are children of the window)
  QPointer<TCompareDialog> compare_;
  std::string settingsFile_;
};
