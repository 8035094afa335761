#include "app/mainwin.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "app/appdialogs.h"
#include "app/getstringdlg.h"
#include "app/logmemo.h"
#include "app/modulenetwork.h"
#include "app/wholetoolbar.h"
#include "config/inifile.h"
#include "config/portsettings.h"
#include "devices/devicesetup.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "params/parentry.h"
#include "paramui/contrast.h"
#include "paramui/parrows.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"
#include "paramui/userinterfaceutils.h"
#include "regmodel/numberformat.h"

namespace {

constexpr int kDesignWidth = 509;
constexpr int kDesignHeight = 390;
constexpr int kMemoHeight = 129;

QAction* MakeAction(QObject* owner, const QString& caption, const QKeySequence& shortcut,
                    const QString& hint, QStyle::StandardPixmap icon = QStyle::SP_CustomBase) {
  auto* a = new QAction(caption, owner);
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  if (!hint.isEmpty()) {
    a->setToolTip(hint);
    a->setStatusTip(hint);
  }
  if (icon != QStyle::SP_CustomBase) a->setIcon(QApplication::style()->standardIcon(icon));
  return a;
}

QTreeWidget* MakeStateList(QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setHeaderHidden(true);
  list->setRootIsDecorated(false);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setUniformRowHeights(true);
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(8);
  list->setFont(font);
  return list;
}

QString StateText(const TConnectionStatus& status) {
  switch (status.State) {
    case TConnectionState::Identifying:
      return QStringLiteral("Identifying...");
    case TConnectionState::Connected:
      return QStringLiteral("Connected");
    case TConnectionState::NotResponding: {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(status.Since.time_since_epoch())
              .count();
      return QStringLiteral("Not responding since ") +
             QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("hh:mm:ss"));
    }
    case TConnectionState::Offline:
    default:
      return QStringLiteral("Offline");
  }
}

QPlainTextEdit* MakeTextBox(QWidget* parent) {
  auto* box = new QPlainTextEdit(parent);
  box->setReadOnly(true);
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  return box;
}

}  // namespace

TMainForm::TMainForm(const std::string& startDirectory, QWidget* parent) : QMainWindow(parent) {
  // 1. The start directory, where the settings file and the data models are.
  startDirectory_ = startDirectory.empty() ? QDir::currentPath().toStdString() : startDirectory;
  if (startDirectory_.empty() || startDirectory_.back() != '/') startDirectory_ += '/';

  CreateActions();
  CreateControls();

  // 2.-4. Geometry, port and slave address from the settings file, which is let go at once.
  {
    const vx::TIniFile ini(SettingsFile());
    int left = ini.ReadInteger("MainForm", "Left", 0);
    int top = ini.ReadInteger("MainForm", "Top", 0);
    int width = ini.ReadInteger("MainForm", "Width", kDesignWidth);
    int height = ini.ReadInteger("MainForm", "Height", kDesignHeight);
    // A hand-edited or foreign file must not leave the window without size or off every
    // screen, where nobody could reach it.
    if (width < 200 || width > 10000) width = kDesignWidth;
    if (height < 150 || height > 10000) height = kDesignHeight;
    QRect screens;
    for (QScreen* s : QGuiApplication::screens()) screens = screens.united(s->availableGeometry());
    if (!screens.isEmpty() && !screens.intersects(QRect(left, top, width, height))) {
      left = 0;
      top = 0;
    }
    resize(width, height);
    move(left, top);
    std::string problems;
    vx::ApplyPortSettings(ini, &problems);
    // The log mirrored to a file as it is written; a name without a folder is in the
    // start directory.
    std::string logFile = ini.ReadString("MainForm", "LogFile", "");
    if (!logFile.empty() && logFile.front() != '/') logFile = startDirectory_ + logFile;
    if (const std::string why = Memo->MirrorTo(logFile); !why.empty()) problems += why + "\n";
    SelectPort(ini.ReadInteger("Setup", "LastPort", 1));
    SelectSlave(ini.ReadInteger("Setup", "LastSlave", 1));
    if (!ini.ReadError().empty()) problems += ini.ReadError() + "\n";
    // Said once here: no window writes a read-only file, and none complains when it closes.
    if (ini.IsReadOnly())
      problems += SettingsFile() + " is read-only: the settings will not be kept.\n";
    FormCreate();
    // Reported after FormCreate, which clears the log.
    if (!problems.empty()) {
      std::size_t from = 0;
      while (from < problems.size()) {
        const std::size_t nl = problems.find('\n', from);
        AddMessage(problems.substr(from, nl - from));
        from = nl == std::string::npos ? problems.size() : nl + 1;
      }
    }
  }
  const int client = width();
  lowerSplitter_->setSizes({client * 2 / 5, client * 3 / 5});
  UpdateActions();
}

TMainForm::~TMainForm() {
  // Focus and selection change while the children go; nothing of this window may answer.
  QObject::disconnect(qApp, nullptr, this, nullptr);
  lvHwInfo->disconnect(this);
  for (QWidget* w : {setupForm_.data(), controlForm_.data(), scopeForm_.data()})
    if (w) w->removeEventFilter(this);
}

void TMainForm::CreateActions() {
  acOpenConnection = MakeAction(this, tr("Connect"), QKeySequence(Qt::Key_F9),
                                tr("Open ModBus connection"), QStyle::SP_MediaPlay);
  acCloseConnection = MakeAction(this, tr("Disconnect"), QKeySequence(Qt::CTRL | Qt::Key_F9),
                                 tr("Close ModBus connection"), QStyle::SP_MediaStop);
  acClose = MakeAction(this, tr("Exit"), QKeySequence(Qt::ALT | Qt::Key_X), tr("Exit from program"),
                       QStyle::SP_DialogCloseButton);
  acAbout = MakeAction(this, tr("About"), QKeySequence(), tr("Information about this program"),
                       QStyle::SP_MessageBoxInformation);
  acSlaveAddr = MakeAction(this, tr("Slave#"), QKeySequence(), tr("Modify slave address"),
                           QStyle::SP_FileDialogInfoView);
  acSetupForm = MakeAction(this, tr("Drive Setup"), QKeySequence(Qt::Key_F7),
                           tr("Modify VX150 setup"), QStyle::SP_FileDialogDetailedView);
  acRemoteCtrl = MakeAction(this, tr("Remote Control"), QKeySequence(Qt::Key_F6),
                            tr("Remote drive control"), QStyle::SP_MediaSeekForward);
  acViewScope = MakeAction(this, tr("Oscilloscope"), QKeySequence(Qt::Key_F8),
                           tr("System calibration utility"), QStyle::SP_DesktopIcon);
  acSupportedDev =
      MakeAction(this, QString(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F11), QString());
  acEditCurRange =
      MakeAction(this, QString(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12), QString());
  acBusMonitor = MakeAction(this, tr("Bus Monitor"), QKeySequence(Qt::CTRL | Qt::Key_M),
                            tr("Frames on the line, decoded"), QStyle::SP_FileDialogContentsView);
  acBusMonitor->setVisible(false);
  acBusMonitor->setShortcutContext(Qt::ApplicationShortcut);
  for (QAction* a : {acSetupForm, acRemoteCtrl, acViewScope, acBusMonitor}) a->setCheckable(true);
  // The engineer works in the setup, remote control and scope windows as much as here:
  // connecting and toggling those windows answer from any window of the terminal (a modal
  // box still blocks them).
  for (QAction* a : {acOpenConnection, acCloseConnection, acSetupForm, acRemoteCtrl, acViewScope})
    a->setShortcutContext(Qt::ApplicationShortcut);
  // Actions without a button must belong to the window for their shortcuts to work.
  addActions({acOpenConnection, acCloseConnection, acClose, acAbout, acSlaveAddr, acSetupForm,
              acRemoteCtrl, acViewScope, acSupportedDev, acEditCurRange, acBusMonitor});

  const auto run = [this](QAction* a, std::function<void()> fn) {
    connect(a, &QAction::triggered, this, [this, fn = std::move(fn)] {
      vx::RunReportingErrors(fn);
      UpdateActions();
    });
  };
  run(acOpenConnection, [this] {
    if (network_ && (!DropDriveQuery || DropDriveQuery())) network_->Connect(selPort_, selSlave_);
  });
  run(acCloseConnection, [this] {
    if (network_ && (!DropDriveQuery || DropDriveQuery())) network_->Disconnect();
  });
  run(acClose, [this] { close(); });
  run(acAbout, [this] {
    if (!aboutForm_) return;
    if (auto* dialog = qobject_cast<QDialog*>(aboutForm_.data()))
      dialog->exec();
    else
      aboutForm_->show();
  });
  run(acSlaveAddr, [this] { acSlaveAddrExecute(); });
  // The toggles are checkable so that their buttons show the window's state; the state
  // itself is the window's visibility, set back by UpdateActions.
  run(acSetupForm, [this] { ToggleWindow(setupForm_); });
  run(acRemoteCtrl, [this] { ToggleWindow(controlForm_); });
  run(acViewScope, [this] { ToggleWindow(scopeForm_); });
  run(acBusMonitor, [this] {
    if (!monitorForm_) return;
    monitorForm_->setVisible(!monitorForm_->isVisible());
    if (monitorForm_->isVisible()) {
      monitorForm_->raise();
      monitorForm_->activateWindow();
    }
  });
  run(acSupportedDev, [this] {
    if (network_) network_->koMBNetwork()->ShowSupportedDeviceList();
  });
  run(acEditCurRange, [this] {
    if (CanEditCurRange()) acEditCurRangeExecute();
  });

  acSaveLog = MakeAction(this, tr("Save log..."), QKeySequence(Qt::CTRL | Qt::Key_S),
                         tr("Save the message log to a file"));
  addAction(acSaveLog);
  run(acSaveLog, [this] { acSaveLogExecute(); });
}

void TMainForm::CreateControls() {
  CreateToolBar();
  CreatePanes();
  CreateInterfaces();
}

void TMainForm::CreateToolBar() {
  // Never narrower than its tool bar: a button hidden in the tool bar's overflow is a
  // button the engineer does not find.
  auto* bar = new TWholeToolBar(tr("Main"), this);
  addToolBar(bar);
  bar->setObjectName(QStringLiteral("MainToolBar"));
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->setIconSize(QSize(20, 20));
  // Eight captioned buttons share the design width of the window.
  QFont barFont = bar->font();
  barFont.setPointSize(8);
  bar->setFont(barFont);
  bar->addAction(acClose);

  PortMenu = new QMenu(this);
  portGroup_ = new QActionGroup(this);
  portGroup_->setExclusive(true);
  for (int n = 1; n <= 8; ++n) {
    QAction* item = PortMenu->addAction(QStringLiteral("COM%1").arg(n));
    item->setCheckable(true);
    portGroup_->addAction(item);
    connect(item, &QAction::triggered, this, [this, n] {
      SelectPort(n);
      UpdateActions();
    });
  }
  PortButton = new QToolButton(bar);
  PortButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  PortButton->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
  PortButton->setToolTip(tr("Select serial communication port"));
  PortButton->setStatusTip(PortButton->toolTip());
  PortButton->setMenu(PortMenu);
  PortButton->setPopupMode(QToolButton::InstantPopup);
  bar->addWidget(PortButton);

  // Its caption shows the address, not the action's, so it only triggers the action.
  SlaveButton = new QToolButton(bar);
  SlaveButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  SlaveButton->setIcon(acSlaveAddr->icon());
  SlaveButton->setText(acSlaveAddr->text());
  SlaveButton->setToolTip(acSlaveAddr->toolTip());
  SlaveButton->setStatusTip(acSlaveAddr->statusTip());
  connect(SlaveButton, &QToolButton::clicked, acSlaveAddr, &QAction::trigger);
  bar->addWidget(SlaveButton);

  // One button for two actions: it shows and triggers whichever the connection state
  // gives it (a default action would draw a menu arrow on it).
  ConnectButton = new QToolButton(bar);
  ConnectButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  connect(ConnectButton, &QToolButton::clicked, this, [this] {
    if (connectAction_) connectAction_->trigger();
  });
  bar->addWidget(ConnectButton);
  // Buttons whose captions change keep the width of their widest caption, so that the
  // tool bar does not jump.
  const auto widest = [](QToolButton* button, const QString& caption) {
    button->setText(caption);
    button->ensurePolished();
    button->setMinimumWidth(button->sizeHint().width());
  };
  widest(PortButton, QStringLiteral("COM8"));
  widest(SlaveButton, QStringLiteral("Slave #32"));
  widest(ConnectButton, acCloseConnection->text());
  // Until an address has been accepted the button carries its action's caption.
  SlaveButton->setText(acSlaveAddr->text());
  bar->addSeparator();
  bar->addAction(acRemoteCtrl);
  bar->addAction(acSetupForm);
  bar->addAction(acViewScope);
  bar->addSeparator();
  bar->addAction(acAbout);
  toolBar_ = bar;
}

// The message log above, the fault pages and the state lists below.
void TMainForm::CreatePanes() {
  mainSplitter_ = new QSplitter(Qt::Vertical, this);
  mainSplitter_->setChildrenCollapsible(false);
  Memo = new vx::TLogMemo(mainSplitter_);
  Memo->setReadOnly(true);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->SaveAction = acSaveLog;
  Memo->setObjectName(QStringLiteral("Memo"));
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPointSize(8);
  Memo->setFont(fixed);
  ColourLog();
  Memo->setMinimumHeight(40);

  lowerSplitter_ = new QSplitter(Qt::Horizontal, mainSplitter_);
  lowerSplitter_->setChildrenCollapsible(false);
  faultPages_ = new QTabWidget(lowerSplitter_);
  QFont tabFont = faultPages_->tabBar()->font();
  tabFont.setPointSize(8);
  faultPages_->tabBar()->setFont(tabFont);
  faultPages_->setUsesScrollButtons(false);
  faultPages_->setElideMode(Qt::ElideRight);
  faultPages_->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 6px; }"));
  ActFaultMemo = MakeTextBox(faultPages_);
  ActFaultMemo->setObjectName(QStringLiteral("ActFaultMemo"));
  PrevFaultMemo = MakeTextBox(faultPages_);
  PrevFaultMemo->setObjectName(QStringLiteral("PrevFaultMemo"));
  QPalette tip = PrevFaultMemo->palette();
  tip.setColor(QPalette::Base, QApplication::palette().color(QPalette::ToolTipBase));
  tip.setColor(QPalette::Text, QApplication::palette().color(QPalette::ToolTipText));
  PrevFaultMemo->setPalette(tip);
  faultPages_->addTab(ActFaultMemo, tr("Present Fault List"));
  faultPages_->addTab(PrevFaultMemo, tr("Previous Fault List"));
  // Looking at the present faults (a click on the page or its tab) takes a fault notice.
  ActFaultMemo->viewport()->installEventFilter(this);
  faultPages_->tabBar()->installEventFilter(this);

  stateGroup_ = new QGroupBox(tr("System State"), lowerSplitter_);
  auto* stateLayout = new QVBoxLayout(stateGroup_);
  stateLayout->setContentsMargins(4, 4, 4, 4);
  lvHwInfo = MakeStateList(stateGroup_);
  lvHwInfo->setObjectName(QStringLiteral("lvHwInfo"));
  lvActState = MakeStateList(stateGroup_);
  lvActState->setObjectName(QStringLiteral("lvActState"));
  stateLayout->addWidget(lvHwInfo);
  stateLayout->addStretch(1);
  stateLayout->addWidget(lvActState);

  mainSplitter_->addWidget(Memo);
  mainSplitter_->addWidget(lowerSplitter_);
  mainSplitter_->setStretchFactor(0, 0);
  mainSplitter_->setStretchFactor(1, 1);
  mainSplitter_->setSizes({kMemoHeight, kDesignHeight});
  setCentralWidget(mainSplitter_);

  // The connection's state at a glance, never covered by the hints of the actions.
  ConnectionLabel = new QLabel(this);
  ConnectionLabel->setObjectName(QStringLiteral("ConnectionLabel"));
  ConnectionLabel->setAutoFillBackground(true);
  ConnectionLabel->setContentsMargins(6, 1, 6, 1);
  // A new fault, unmistakable until looked at; a click on it shows the faults.
  FaultLabel = new QLabel(this);
  FaultLabel->setObjectName(QStringLiteral("FaultLabel"));
  FaultLabel->setAutoFillBackground(true);
  FaultLabel->setContentsMargins(6, 1, 6, 1);
  QPalette alarm = FaultLabel->palette();
  alarm.setColor(QPalette::Window, QColor(198, 40, 40));
  alarm.setColor(QPalette::WindowText, vx::TextOn(QColor(198, 40, 40)));
  FaultLabel->setPalette(alarm);
  QFont alarmFont = FaultLabel->font();
  alarmFont.setBold(true);
  FaultLabel->setFont(alarmFont);
  FaultLabel->setCursor(Qt::PointingHandCursor);
  FaultLabel->installEventFilter(this);
  FaultLabel->hide();
  statusBar()->addPermanentWidget(FaultLabel);
  statusBar()->addPermanentWidget(ConnectionLabel);
  statusBar()->setSizeGripEnabled(true);
}

// The binders that refresh the state lists, and what makes the actions follow the lists.
void TMainForm::CreateInterfaces() {
  koFastInterface = new TkoUserInterfaceUtils(this);
  koSlowInterface = new TkoUserInterfaceUtils(this);
  koFastInterface->OnBeforeRefresh = [this](TkoUserInterfaceUtils*) {
    koFastInterfaceBeforeRefresh();
  };
  const auto ready = [this](TkoRegDataBuffer* device) {
    return network_ != nullptr && device != nullptr &&
           static_cast<TkoRegDataBuffer*>(network_->Device()) == device && network_->DeviceReady();
  };
  koFastInterface->DeviceReady = ready;
  koSlowInterface->DeviceReady = ready;

  // The current-range edit depends on focus and selection in the hardware list.
  connect(qApp, &QApplication::focusChanged, this, [this] { UpdateActions(); });
  connect(lvHwInfo, &QTreeWidget::currentItemChanged, this, [this] { UpdateActions(); });
  connect(lvHwInfo, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateActions(); });
}

void TMainForm::FormCreate() {
  setWindowTitle(QString::fromLatin1(kAppTitle));
  Memo->clear();
  SetConnectionRunning(false);
  ShowConnectionStatus(TConnectionStatus{});
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!splitApplied_) {
    // The client width is final once the window is shown.
    splitApplied_ = true;
    const int client = centralWidget()->width();
    lowerSplitter_->setSizes({client * 2 / 5, client * 3 / 5});
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // The program ends only when the engineer agrees to lose what is not saved: a refusal
  // cancels the whole exit and leaves every window as it was, this one included. Nothing
  // may be closed before that answer.
  if (ExitQuery && !ExitQuery()) {
    event->ignore();
    return;
  }
  CloseDriveWindows();
  FormClose();
  QMainWindow::closeEvent(event);
  emit Closed();
}

void TMainForm::CloseDriveWindows() {
  // The exit has been agreed: the setup window is not asked a second time, only hidden;
  // the others close as usual (and store their places).
  if (setupForm_ != nullptr) setupForm_->hide();
  for (QWidget* w : {controlForm_.data(), scopeForm_.data(), monitorForm_.data()})
    if (w != nullptr) w->close();
}

void TMainForm::FormClose() {
  vx::TIniFile ini(SettingsFile());
  ini.WriteInteger("MainForm", "Top", y());
  ini.WriteInteger("MainForm", "Left", x());
  ini.WriteInteger("MainForm", "Width", width());
  ini.WriteInteger("MainForm", "Height", height());
  ini.WriteInteger("Setup", "LastPort", selPort_);
  ini.WriteInteger("Setup", "LastSlave", selSlave_);
  // The program ends anyway; the engineer learns why the settings are not kept.
  // A read-only file was named at start; the owner keeps it as it is.
  if (!ini.UpdateFile() && !ini.KeptReadOnly())
    vx::ShowMessage(this, vx::ToQString(ini.LastError()));
}

void TMainForm::SelectPort(int32_t n) {
  if (n < 1 || n > 8) n = 1;
  selPort_ = n;
  PortButton->setText(QStringLiteral("COM%1").arg(n));
}

void TMainForm::SelectSlave(int32_t n) {
  if (n < 1 || n > 32) {
    vx::ShowMessage(this, tr("Invalid Address value."));
    return;
  }
  if (n == selSlave_) return;
  selSlave_ = n;
  SlaveButton->setText(QStringLiteral("Slave #%1").arg(n));
}

void TMainForm::acSlaveAddrExecute() {
  const std::optional<QString> text =
      vx::InputText(this, tr("Modify SlaveAddress"), tr("Insert a value from 1 to 32:"),
                    QString::number(selSlave_));
  if (!text) return;
  bool ok = false;
  const int n = text->trimmed().toInt(&ok, 10);
  if (!ok) {
    vx::ShowMessage(this, tr("Not a valid ModBus slave address!"));
    return;
  }
  SelectSlave(n);
}

void TMainForm::SetNetwork(TNetwork* network) {
  network_ = network;
  UpdateActions();
}

void TMainForm::SetDriveWindows(QWidget* setupForm, QWidget* controlForm, QWidget* scopeForm) {
  setupForm_ = setupForm;
  controlForm_ = controlForm;
  scopeForm_ = scopeForm;
  // A window the program has not got has no button either.
  acSetupForm->setVisible(setupForm != nullptr);
  acRemoteCtrl->setVisible(controlForm != nullptr);
  acViewScope->setVisible(scopeForm != nullptr);
  for (QWidget* w : {setupForm, controlForm, scopeForm})
    if (w) w->installEventFilter(this);
  UpdateActions();
}

void TMainForm::SetMonitorWindow(QWidget* monitorForm) {
  monitorForm_ = monitorForm;
  acBusMonitor->setVisible(monitorForm != nullptr);
  // A menu of its own: the tool bar keeps the buttons it has, and fits the design size.
  if (monitorForm != nullptr && toolsMenu_ == nullptr) {
    toolsMenu_ = menuBar()->addMenu(tr("&Tools"));
    toolsMenu_->addAction(acBusMonitor);
  }
  if (monitorForm) monitorForm->installEventFilter(this);
  UpdateActions();
}

void TMainForm::SetAboutWindow(QWidget* aboutForm) {
  aboutForm_ = aboutForm;
  acAbout->setVisible(aboutForm != nullptr);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (faultNotice_ && event->type() == QEvent::MouseButtonPress &&
      (watched == ActFaultMemo->viewport() || watched == FaultLabel ||
       watched == faultPages_->tabBar())) {
    faultPages_->setCurrentWidget(ActFaultMemo);
    // A click on the other page's tab is no look at the present faults.
    if (watched != faultPages_->tabBar() ||
        faultPages_->tabBar()->tabAt(static_cast<QMouseEvent*>(event)->position().toPoint()) ==
            faultPages_->indexOf(ActFaultMemo))
      AcknowledgeFault();
  }
  // The toggle buttons follow their windows, however a window was shown or hidden.
  if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) &&
      (watched == setupForm_ || watched == controlForm_ || watched == scopeForm_ ||
       watched == monitorForm_))
    UpdateActions();
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::ToggleWindow(QWidget* window) {
  if (window == nullptr || !DriveReady()) return;
  if (window->isVisible()) {
    window->hide();
  } else {
    window->show();
    window->raise();
    window->activateWindow();
  }
}

bool TMainForm::DriveReady() const {
  // The drive windows need the served drive: a drive of another class keeps them closed.
  return network_ != nullptr && network_->DeviceReady() && network_->Device() != nullptr;
}

bool TMainForm::CanEditCurRange() const {
  if (network_ == nullptr) return false;
  TkoDeviceVX310* drive = network_->Device();
  if (drive == nullptr || drive->ParEECurrRangeMax == nullptr) return false;
  if (!lvHwInfo->hasFocus()) return false;
  const QTreeWidgetItem* row = lvHwInfo->currentItem();
  if (row == nullptr || !row->isSelected()) return false;
  return vx::RowPar(row) == drive->ParEECurrRangeMax;
}

void TMainForm::UpdateActions() {
  const bool ready = DriveReady();
  const struct {
    QAction* action;
    QWidget* window;
  } toggles[] = {
      {acSetupForm, setupForm_}, {acRemoteCtrl, controlForm_}, {acViewScope, scopeForm_}};
  for (const auto& t : toggles) {
    t.action->setEnabled(ready && t.window != nullptr);
    t.action->setChecked(t.window != nullptr && t.window->isVisible());
  }
  acEditCurRange->setEnabled(CanEditCurRange());
  acBusMonitor->setChecked(monitorForm_ != nullptr && monitorForm_->isVisible());
}

bool TMainForm::ValuesStale() const {
  // Whatever the lists show was read before the drive went silent, or before it was
  // asked again who it is.
  return statusTold_ && connectionStatus_.State != TConnectionState::Connected;
}

void TMainForm::SetConnectionStatus(const TConnectionStatus& status) {
  ShowConnectionStatus(status);
  statusTold_ = true;
  ShowStale();
}

// The log's light blue, as far as the palette's text reads on it; under a dark palette a
// dark blue.
void TMainForm::ColourLog() {
  if (Memo == nullptr) return;  // a palette change while the window is being built
  const QPalette app = palette();
  QPalette pal = Memo->palette();
  const QColor text = app.color(QPalette::Text);
  pal.setColor(QPalette::Base,
               vx::FitBackground(QColor(144, 200, 255), app.color(QPalette::Base), text));
  pal.setColor(QPalette::Text, text);
  Memo->setPalette(pal);
}

void TMainForm::ShowConnectionStatus(const TConnectionStatus& status) {
  connectionStatus_ = status;
  ConnectionLabel->setText(StateText(status));
  // Fixed signal colours, each with the text colour that reads best on it; off line the
  // label takes the window's own colours.
  QPalette pal = QApplication::palette();
  QColor fill;
  switch (status.State) {
    case TConnectionState::Connected:
      fill = QColor(46, 125, 50);
      break;
    case TConnectionState::Identifying:
      fill = QColor(255, 193, 7);
      break;
    case TConnectionState::NotResponding:
      fill = QColor(198, 40, 40);
      break;
    case TConnectionState::Offline:
      break;
  }
  if (fill.isValid()) {
    pal.setColor(QPalette::Window, fill);
    pal.setColor(QPalette::WindowText, vx::TextOn(fill));
  }
  ConnectionLabel->setPalette(pal);
  QFont bold = ConnectionLabel->font();
  bold.setBold(status.State != TConnectionState::Offline);
  ConnectionLabel->setFont(bold);
}

void TMainForm::ShowStale() {
  const bool stale = ValuesStale();
  koFastInterface->SetStale(stale);
  koSlowInterface->SetStale(stale);
  // The fault pages: greyed towards their background and struck through.
  const QPalette app = QApplication::palette();
  const struct {
    QPlainTextEdit* page;
    QColor text;
    QColor base;
  } pages[] = {{ActFaultMemo, app.color(QPalette::Text), app.color(QPalette::Base)},
               {PrevFaultMemo, app.color(QPalette::ToolTipText), app.color(QPalette::ToolTipBase)}};
  for (const auto& p : pages) {
    QPalette pp = p.page->palette();
    pp.setColor(QPalette::Text, stale ? vx::MixColours(p.text, p.base, 0.45) : p.text);
    p.page->setPalette(pp);
    QFont f = p.page->font();
    f.setStrikeOut(stale);
    p.page->setFont(f);
  }
  UpdateActions();
}

void TMainForm::SetConnectionRunning(bool running) {
  connectAction_ = running ? acCloseConnection : acOpenConnection;
  ConnectButton->setText(connectAction_->text());
  ConnectButton->setIcon(connectAction_->icon());
  ConnectButton->setToolTip(connectAction_->toolTip());
  ConnectButton->setStatusTip(connectAction_->statusTip());
}

void TMainForm::FitToContent() {
  // The state lists have the height of their rows; the log above them keeps a few lines.
  // A window too small for both grows once, never beyond the screen.
  const int memoLines = 6;
  const int memoHeight = Memo->fontMetrics().lineSpacing() * memoLines + 2 * Memo->frameWidth() +
                         Memo->horizontalScrollBar()->sizeHint().height() + 4;
  const int lowerHeight =
      std::max(stateGroup_->sizeHint().height(), stateGroup_->minimumSizeHint().height());
  const int needed = memoHeight + mainSplitter_->handleWidth() + lowerHeight;
  const int have = centralWidget()->height();
  if (needed > have) {
    int grow = needed - have;
    if (QScreen* screen = this->screen()) {
      const int room = screen->availableGeometry().bottom() - frameGeometry().bottom();
      grow = std::max(0, std::min(grow, room));
    }
    resize(width(), height() + grow);
  }
  const int total = std::max(centralWidget()->height(), needed);
  mainSplitter_->setSizes(
      {std::max(memoHeight, total - lowerHeight - mainSplitter_->handleWidth()), lowerHeight});
}

void TMainForm::AddMessage(const std::string& line) {
  Memo->AddLine(line, vx::Now());
}

void TMainForm::acSaveLogExecute() {
  const QString caption = tr("Save log");
  const QString filter = tr("Log files (*.log);;Text files (*.txt);;All files (*)");
  const QString file = AskSaveFileName
                           ? AskSaveFileName(caption, filter)
                           : QFileDialog::getSaveFileName(this, caption, QString(), filter);
  if (file.isEmpty()) return;
  if (const std::string why = Memo->SaveTo(vx::FromQString(file)); !why.empty())
    vx::ShowMessage(this, vx::ToQString(why));
}

void TMainForm::ShowFaultNotice(const std::vector<std::string>& fresh) {
  faultNotice_ = true;
  FaultLabel->setText(tr("New fault: %1").arg(vx::ToQString(fresh.front())) +
                      (fresh.size() > 1 ? tr(" (+%1)").arg(fresh.size() - 1) : QString()));
  FaultLabel->setToolTip(tr("Click to acknowledge"));
  FaultLabel->show();
  const int page = faultPages_->indexOf(ActFaultMemo);
  faultPages_->tabBar()->setTabTextColor(page, QColor(198, 40, 40));
  faultPages_->setCurrentIndex(page);
  setWindowTitle(QStringLiteral("FAULT - ") + QString::fromLatin1(kAppTitle));
  // The desktop draws attention to a window in the background.
  QApplication::alert(this);
}

void TMainForm::AcknowledgeFault() {
  if (!faultNotice_) return;
  faultNotice_ = false;
  FaultLabel->hide();
  faultPages_->tabBar()->setTabTextColor(faultPages_->indexOf(ActFaultMemo), QColor());
  setWindowTitle(QString::fromLatin1(kAppTitle));
}

void TMainForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) ColourLog();
  // Coming to the window with the present faults in front is looking at them.
  if (event->type() == QEvent::ActivationChange && faultNotice_ && isActiveWindow() &&
      faultPages_->currentWidget() == ActFaultMemo)
    AcknowledgeFault();
}

void TMainForm::SetFaultLines(QPlainTextEdit* page, const std::vector<std::string>& lines) {
  if (page == ActFaultMemo) {
    std::vector<std::string> fresh;
    for (const std::string& l : lines)
      if (std::find(presentFaults_.begin(), presentFaults_.end(), l) == presentFaults_.end())
        fresh.push_back(l);
    presentFaults_ = lines;
    if (!fresh.empty()) ShowFaultNotice(fresh);
  }
  QString text = QStringLiteral("- NO ERROR -");
  if (!lines.empty()) {
    QStringList all;
    for (const std::string& l : lines) all << vx::ToQString(l);
    text = all.join(QLatin1Char('\n'));
  }
  // Read every second, the faults seldom change: the same text is not laid out and
  // painted again, and the engineer's scroll position and selection stay.
  if (page->toPlainText() == text) return;
  page->setUpdatesEnabled(false);
  page->setPlainText(text);
  page->setUpdatesEnabled(true);
}

void TMainForm::SetFaults(const std::vector<std::string>& present,
                          const std::vector<std::string>& previous) {
  SetFaultLines(ActFaultMemo, present);
  SetFaultLines(PrevFaultMemo, previous);
}

void TMainForm::RefreshActState() {
  koFastInterface->RefreshData();
}

void TMainForm::RefreshHwInfo() {
  koSlowInterface->RefreshData();
}

TNetworkMainWindow TMainForm::SupervisorHooks() {
  TNetworkMainWindow m;
  m.StartDirectory = StartDirectory();
  m.SettingsFile = SettingsFile();
  m.DialogParent = this;
  m.AddMessage = [this](const std::string& line) { AddMessage(line); };
  m.ConnectionRunning = [this](bool running) { SetConnectionRunning(running); };
  m.BuildStateLists = [this] { BuildStateLists(); };
  m.ClearStateLists = [this] { ClearStateLists(); };
  m.RefreshActState = [this] { RefreshActState(); };
  m.RefreshHwInfo = [this] { RefreshHwInfo(); };
  m.SetFaults = [this](const std::vector<std::string>& present,
                       const std::vector<std::string>& previous) { SetFaults(present, previous); };
  m.UpdateActions = [this] { UpdateActions(); };
  return m;
}

TMainForm::TControls TMainForm::Controls() const {
  return {Memo,        ActFaultMemo,    PrevFaultMemo,   lvHwInfo,
          lvActState,  koFastInterface, koSlowInterface, PortButton,
          SlaveButton, PortMenu,        ConnectionLabel, FaultLabel};
}

void TMainForm::ClearStateLists() {
  koSlowInterface->Reset();
  koFastInterface->Reset();
  lvHwInfo->clear();
  lvActState->clear();
  ActFaultMemo->clear();
  PrevFaultMemo->clear();
  // The next drive's faults are all new to the engineer.
  presentFaults_.clear();
  UpdateActions();
}

void TMainForm::BuildStateLists() {
  TkoDeviceVX310* d = network_ ? network_->Device() : nullptr;
  if (d == nullptr) {
    ClearStateLists();
    return;
  }
  koSlowInterface->Reset();
  koSlowInterface->With(lvHwInfo, {lvcValue});
  koSlowInterface->List(d->ParHWLimitVolt);
  if (!koSlowInterface->List(d->ParEECurrRangeMax)) koSlowInterface->List(d->ParCurrRangeMax);
  if (!koSlowInterface->List(d->ParEESpeedRangeMax)) koSlowInterface->List(d->ParSpeedRangeMax);
  if (!koSlowInterface->List(d->ParEEPwmFreq)) koSlowInterface->List(d->ParPwmFreq);
  koSlowInterface->AdaptHeight();

  koFastInterface->Reset();
  koFastInterface->With(lvActState, {lvcValue});
  for (TkoParValue* p : {d->ParU_Dc_BusV, d->ParU_MotorV, d->ParI_MotorA, d->ParF_MotorHz,
                         d->ParS_MotorRPM, static_cast<TkoParValue*>(d->ParActualPos)})
    koFastInterface->List(p);
  koFastInterface->ListSep();
  koFastInterface->List(d->ParEncoderExt);
  koFastInterface->ListSep();
  for (TkoParValue* p : {d->StateSpeedLoop, d->StateProfile, d->StatePosLoop, d->StateMotor})
    koFastInterface->List(p);
  koFastInterface->AdaptHeight();
  FitToContent();
  UpdateActions();
}

void TMainForm::koFastInterfaceBeforeRefresh() {
  TkoDeviceVX310* d = network_ ? network_->Device() : nullptr;
  if (d == nullptr) return;
  if (d->StatePosLoop)
    d->StatePosLoop->Enabled = d->CfgPositionMode != nullptr && d->CfgPositionMode->GetBool();
  if (d->ParEncoderExt)
    d->ParEncoderExt->Enabled = d->CfgEncoderEnable != nullptr && d->CfgEncoderEnable->GetBool() &&
                                d->ParUseEncoderSource != nullptr &&
                                d->ParUseEncoderSource->GetBool();
}

void TMainForm::acEditCurRangeExecute() {
  TkoDeviceVX310* d = network_ ? network_->Device() : nullptr;
  if (d == nullptr || d->ParEECurrRangeMax == nullptr) return;
  const QString caption = tr("Modify current range (!reserved parameter!)");
  const QString message = QStringLiteral(
      "Insert new maximum current range from 3A to 10A.\n\rNote that this value depends on "
      "the current sense shunt resistor value.");
  const QString initial = vx::ToQString(d->ParEECurrRangeMax->GetValueString());
  std::optional<QString> text;
  if (vx::Dialogs().InputText) {
    // Answered without a person (tests).
    text = vx::Dialogs().InputText(this, caption, vx::MessageText(message), initial);
  } else {
    TGetStringDlg dialog(this);
    dialog.ShowIgnore(false);
    dialog.SetKeyFiltering(true);
    dialog.AcceptKey('-', false);
    dialog.setWindowTitle(caption);
    dialog.SetMessage(message);
    dialog.SetString(initial);
    if (dialog.exec() == TGetStringDlg::OK) text = dialog.GetString();
  }
  if (!text) return;
  const std::string value = vx::FromQString(*text);
  // The parameter would ignore or clamp such a text without a word: refused, with why.
  if (const std::string why = vx::EntryRefusal(*d->ParEECurrRangeMax, value); !why.empty()) {
    AddMessage(vx::RefusedEntryLine(d->ParEECurrRangeMax, value, why));
    vx::ShowMessage(this, vx::ToQString("\"" + value + "\" " + why + "."));
    return;
  }
  d->ParEECurrRangeMax->SetValueString(value);
  if (d->ParCurrRangeMax) d->ParCurrRangeMax->SetValueString(value);
  const std::string rule(74, '_');
  AddMessage(rule);
  AddMessage("!RESERVED PARAMETER!");
  AddMessage("\"Maximum current range\" has been modified.");
  AddMessage(
      " Danger: Current range value depends on the sense shunt resistors. A wrong setup may "
      "result in an error on current supplied to the motor.");
  AddMessage(" Warning: This modification takes effect only after restart.");
  AddMessage(rule);
  koSlowInterface->RefreshData();
}
