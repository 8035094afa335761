#include "app/controlwin.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QKeySequence>
#include <QLayout>
#include <QShowEvent>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "app/wholetoolbar.h"
#include "config/inifile.h"
#include "devices/devicesetup.h"
#include "devices/vx310.h"
#include "modbus/mbtransakinds.h"
#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "params/parvalue.h"
#include "paramui/uierror.h"
#include "paramui/userinterfaceutils.h"
#include "regmodel/regdefinition.h"
#include "regmodel/register.h"

namespace {

constexpr int kClientWidth = 605;
// The list frame leaves this much room under the list.
constexpr int kFrameExtra = 25;
constexpr double kSpeedStep = 0.01;

const char* const kSection = "ControlForm";

struct ActionText {
  const char* caption;
  const char* hint;
};

// The captions shown until a bound action takes its parameter's description.
constexpr ActionText kDriveEnable{"Drive Enable", "Drive enable"};
constexpr ActionText kResetCounter{"Reset Count", "Reset position counter"};
constexpr ActionText kExecuteZero{"Exec.Zero", "Execute zero search"};
constexpr ActionText kSyncSignal{"Sinchronize", "Position sinchronization signal"};

bool GetBool(const TkoParBoolField* par) {
  return par != nullptr && par->GetBool();
}

void SetEnabledFlag(TkoParValue* par, bool enabled) {
  if (par != nullptr) par->Enabled = enabled;
}

// The position target as the drive reads it: a signed 32-bit step count.
int64_t SignedTarget(uint32_t raw) {
  return static_cast<int32_t>(raw);
}

// The range a position target may take: its own limits when the data model gives both,
// the signed 32-bit range otherwise. Stepping past the end must not wrap round to the
// far end of the axis.
void TargetRange(const TkoParLong* par, int64_t* lo, int64_t* hi) {
  *lo = std::numeric_limits<int32_t>::min();
  *hi = std::numeric_limits<int32_t>::max();
  if (par->HasMin()) *lo = SignedTarget(static_cast<uint32_t>(par->GetMin()));
  if (par->HasMax()) *hi = SignedTarget(static_cast<uint32_t>(par->GetMax()));
  if (*lo > *hi) {
    // Limits that contradict each other say nothing usable.
    *lo = std::numeric_limits<int32_t>::min();
    *hi = std::numeric_limits<int32_t>::max();
  }
}

// The speed reference one step further. The drive keeps it as a 16-bit fraction, which
// stores a little less than most hundredths; a value that sits on the hundredths within
// that error steps to the next hundredth exactly, so that ten steps make 0.10 and not
// 0.0998. A value off the grid moves by one step as it is.
double SpeedStep(double value, int step) {
  const double next = value + step * kSpeedStep;
  const double onGrid = std::round(next / kSpeedStep) * kSpeedStep;
  return std::fabs(onGrid - next) < kSpeedStep / 20 ? onGrid : next;
}

void SetTarget(TkoParLong* par, int64_t value) {
  int64_t lo = 0;
  int64_t hi = 0;
  TargetRange(par, &lo, &hi);
  par->SetLong(static_cast<uint32_t>(static_cast<int32_t>(std::clamp(value, lo, hi))));
}

}  // namespace

TControlForm::TControlForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("ControlForm"));
  setWindowTitle(QStringLiteral("Remote Control"));
  koInterface_ = new TkoUserInterfaceUtils(this);
  koInterface_->OnBeforeRefresh = [this](TkoUserInterfaceUtils*) { koInterfaceBeforeRefresh(); };
  koInterface_->OnAfterRefresh = [this](TkoUserInterfaceUtils*) { koInterfaceAfterRefresh(); };
  koInterface_->OnEdited = [this](TkoParValue* par) { koInterfaceEdited(par); };
  koInterface_->OnRefused = [this](TkoParValue* par, const std::string& text,
                                   const std::string& why) {
    if (Log) Log(vx::RefusedEntryLine(par, text, why));
  };
  koInterface_->DeviceReady = [this](TkoRegDataBuffer* device) {
    TkoDeviceVX310* drive = ReadyDrive();
    return drive != nullptr && static_cast<TkoRegDataBuffer*>(drive) == device;
  };

  CreateActions();

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  frame_ = new QFrame(central);
  frame_->setFrameShape(QFrame::StyledPanel);
  frame_->setFrameShadow(QFrame::Sunken);
  lvControl_ = new QTreeWidget(frame_);
  lvControl_->setObjectName(QStringLiteral("lvControl"));
  lvControl_->setRootIsDecorated(false);
  lvControl_->setUniformRowHeights(true);
  lvControl_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lvControl_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  lvControl_->setColumnCount(0);
  auto* frameLayout = new QVBoxLayout(frame_);
  frameLayout->setContentsMargins(4, 4, 4, 0);
  frameLayout->addWidget(lvControl_);
  frameLayout->addStretch(1);
  layout->addWidget(frame_);
  setCentralWidget(central);

  // The columns are there from the start, so that the empty window already shows what
  // it will list.
  koInterface_->With(lvControl_, {lvcValue, lvcMin, lvcMax});
  FitHeight();
  UpdateActions();
}

TControlForm::~TControlForm() {
  // The binder's handlers call into this window; none of them may run from here on.
  koInterface_->OnBeforeRefresh = nullptr;
  koInterface_->OnAfterRefresh = nullptr;
  koInterface_->OnEdited = nullptr;
  koInterface_->OnRefused = nullptr;
  koInterface_->Reset();
}

void TControlForm::CreateActions() {
  auto* bar = new TWholeToolBar(QStringLiteral("Remote control"), this);
  bar->setObjectName(QStringLiteral("ToolBar"));
  // Captions follow the drive's descriptions: the window widens with them.
  bar->OnFullWidthChanged = [this] { FitSize(); };
  bar_ = bar;
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->setIconSize(QSize(24, 24));
  bar->setContextMenuPolicy(Qt::PreventContextMenu);
  addToolBar(Qt::TopToolBarArea, bar);
  setContextMenuPolicy(Qt::NoContextMenu);

  auto make = [&](const char* name, const char* caption, const char* hint,
                  QStyle::StandardPixmap icon, const QKeySequence& shortcut) {
    auto* action = new QAction(style()->standardIcon(icon), QString::fromLatin1(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(QString::fromLatin1(hint));
    action->setStatusTip(QString::fromLatin1(hint));
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    bar->addAction(action);
    return action;
  };

  acClose = make("acClose", "Close", "Close control window", QStyle::SP_DialogCloseButton,
                 QKeySequence(Qt::CTRL | Qt::Key_X));
  bar->addSeparator();
  acDriveEnable = make("acDriveEnable", kDriveEnable.caption, kDriveEnable.hint,
                       QStyle::SP_MediaPlay, QKeySequence(Qt::Key_F1));
  bar->addSeparator();
  acResetCounter = make("acResetCounter", kResetCounter.caption, kResetCounter.hint,
                        QStyle::SP_DialogResetButton, QKeySequence());
  acExecuteZero = make("acExecuteZero", kExecuteZero.caption, kExecuteZero.hint,
                       QStyle::SP_MediaSkipBackward, QKeySequence());
  acSyncSignal = make("acSyncSignal", kSyncSignal.caption, kSyncSignal.hint,
                      QStyle::SP_MediaSeekForward, QKeySequence());
  bar->addSeparator();
  acRefUp = make("acRefUp", "Ref Up", "Reference increment", QStyle::SP_ArrowUp,
                 QKeySequence(Qt::CTRL | Qt::Key_P));
  acRefDwn = make("acRefDwn", "Ref Down", "Reference decrement", QStyle::SP_ArrowDown,
                  QKeySequence(Qt::CTRL | Qt::Key_M));
  acRefInvert = make("acRefInvert", "Ref Inv", "Change reference sign", QStyle::SP_BrowserReload,
                     QKeySequence(Qt::CTRL | Qt::Key_I));
  acRefZero = make("acRefZero", "Ref Zero", "Set reference to zero", QStyle::SP_MediaStop,
                   QKeySequence(Qt::CTRL | Qt::Key_Z));

  connect(acClose, &QAction::triggered, this, [this] { close(); });
  auto run = [this](QAction* action, void (TControlForm::*execute)()) {
    connect(action, &QAction::triggered, this,
            [this, execute] { vx::RunReportingErrors([&] { (this->*execute)(); }); });
  };
  run(acRefUp, &TControlForm::acRefUpExecute);
  run(acRefDwn, &TControlForm::acRefDwnExecute);
  run(acRefInvert, &TControlForm::acRefInvertExecute);
  run(acRefZero, &TControlForm::acRefZeroExecute);
}

void TControlForm::SetSettingsFile(const std::string& path) {
  settingsFile_ = path;
  if (path.empty()) return;
  const vx::TIniFile ini(path);
  move(ini.ReadInteger(kSection, "Left", 0), ini.ReadInteger(kSection, "Top", 0));
}

void TControlForm::SavePosition() {
  if (settingsFile_.empty()) return;
  vx::TIniFile ini(settingsFile_);
  ini.WriteInteger(kSection, "Top", y());
  ini.WriteInteger(kSection, "Left", x());
  ini.WriteInteger(kSection, "Width", width());
  ini.WriteInteger(kSection, "Height", height());
  if (!ini.UpdateFile() && !ini.KeptReadOnly()) vx::ReportUiError(ini.LastError());
}

void TControlForm::showEvent(QShowEvent* event) {
  // The captions may have changed with the drive's descriptions since the last fit.
  FitHeight();
  QMainWindow::showEvent(event);
}

void TControlForm::closeEvent(QCloseEvent* event) {
  SavePosition();
  QMainWindow::closeEvent(event);
}

// ---- binding ----

void TControlForm::ResetBindings() {
  koInterface_->Reset();
  boundDrive_ = nullptr;
  // Back to the captions of an unbound window: visible, and disabled by UpdateActions.
  const std::pair<QAction*, ActionText> bound[] = {{acDriveEnable, kDriveEnable},
                                                   {acResetCounter, kResetCounter},
                                                   {acExecuteZero, kExecuteZero},
                                                   {acSyncSignal, kSyncSignal}};
  for (const auto& [action, text] : bound) {
    action->setText(QString::fromLatin1(text.caption));
    action->setChecked(false);
    action->setCheckable(false);
    action->setVisible(true);
    action->setEnabled(false);
  }
}

void TControlForm::BuildControls() {
  ResetBindings();
  koInterface_->With(lvControl_, {lvcValue, lvcMin, lvcMax});
  TkoDeviceVX310* drive = Device ? Device() : nullptr;
  if (drive != nullptr) {
    boundDrive_ = drive;
    koInterface_->List(drive->ParSpeedRef);
    koInterface_->ListSep();
    koInterface_->List(drive->CfgPositionMode);
    koInterface_->ListSep();
    koInterface_->List(drive->ParPosPktAccel);
    koInterface_->List(drive->ParPosPktDecel);
    koInterface_->List(drive->ParPosPktSpeed);
    koInterface_->List(drive->ParPosPktTarget);

    // The drive enable command is bound again before every refresh (it follows where
    // the drive takes its commands from).
    koInterface_->With(acDriveEnable, drive->HwDriveEnable);
    koInterface_->With(acResetCounter, drive->CmdResetCounter);
    koInterface_->With(acExecuteZero, drive->CmdZeroing);
    koInterface_->With(acSyncSignal, drive->CmdSyncSignal);
  }
  FitHeight();
  // A drive identified anew holds nothing of the drive's commands yet.
  MarkUnknown();
  // Show the drive's values at once rather than at its next state read.
  if (drive != nullptr) koInterface_->RefreshData();
  UpdateActions();
}

void TControlForm::FitHeight() {
  koInterface_->With(lvControl_, {lvcValue, lvcMin, lvcMax});
  const int listHeight = koInterface_->AdaptHeight();
  lvControl_->setFixedHeight(listHeight);
  const QMargins m = frame_->layout()->contentsMargins();
  frame_->setFixedHeight(listHeight + kFrameExtra + m.top() + m.bottom());
  centralWidget()->adjustSize();
  FitSize();
}

void TControlForm::FitSize() {
  // A fixed border: the window is as large as its content and the engineer cannot drag
  // it bigger. Never narrower than the whole tool bar.
  setFixedSize(std::max(kClientWidth, bar_->minimumSizeHint().width()),
               bar_->sizeHint().height() + frame_->height());
}

void TControlForm::ReleaseDrive() {
  ForgetReadBack();
  ResetBindings();
  FitHeight();
  UpdateActions();
}

bool TControlForm::BindingsStale() const {
  TkoDeviceVX310* drive = Device ? Device() : nullptr;
  return drive != boundDrive_;
}

// ---- refresh cycle ----

void TControlForm::koInterfaceBeforeRefresh() {
  if (BindingsStale()) {
    // Unbound here, the refresh that follows finds no control to touch.
    ForgetReadBack();
    ResetBindings();
    FitHeight();
    return;
  }
  TkoDeviceVX310* drive = boundDrive_;
  if (drive == nullptr) return;
  // Every refresh follows a completed read: the drive answers, so what is not known yet
  // is asked for (again, after a failed read).
  if (connected_) StartReadBack();
  ShowUnknown(drive);
  const bool positionMode = GetBool(drive->CfgPositionMode);
  const bool refSource = drive->CfgRefSource != nullptr && drive->CfgRefSource->GetField() != 0;
  SetEnabledFlag(drive->ParSpeedRef, !positionMode && refSource);
  for (TkoParValue* par : {static_cast<TkoParValue*>(drive->ParPosPktAccel),
                           static_cast<TkoParValue*>(drive->ParPosPktDecel),
                           static_cast<TkoParValue*>(drive->ParPosPktSpeed),
                           static_cast<TkoParValue*>(drive->ParPosPktTarget)})
    SetEnabledFlag(par, positionMode);
  const bool fromBus = GetBool(drive->CfgCmdFromBus);
  SetEnabledFlag(drive->CmdDriveEnable, fromBus);
  SetEnabledFlag(drive->HwDriveEnable, !fromBus);
  // With commands from the bus the button switches the drive's enable command; otherwise
  // it shows the hardware enable input.
  koInterface_->With(acDriveEnable, fromBus ? drive->CmdDriveEnable : drive->HwDriveEnable);
}

void TControlForm::koInterfaceAfterRefresh() {
  // The commands are pulses: shown unchecked, each press sets its command to true.
  for (QAction* action : {acResetCounter, acExecuteZero, acSyncSignal}) action->setChecked(false);
  UpdateRefActions();
}

void TControlForm::koInterfaceEdited(TkoParValue* /*par*/) {
  if (RefreshSetup) RefreshSetup();
}

void TControlForm::UpdateActions() {
  if (BindingsStale()) {
    // The drive the controls were bound to has gone (or another took its place): its
    // parameters must not be touched again until the next BuildControls.
    ForgetReadBack();
    ResetBindings();
    FitHeight();
  }
  acClose->setEnabled(true);
  for (QAction* action : {acDriveEnable, acResetCounter, acExecuteZero, acSyncSignal}) {
    if (TkoUserInterfaceUtils::ActionPar(action) != nullptr)
      koInterface_->DoOnUpdate(action);
    else
      action->setEnabled(false);
  }
  UpdateRefActions();
}

void TControlForm::UpdateRefActions() {
  const bool enabled = RefEnabled();
  // Stepping and inverting start from the reference, which must be the drive's; clearing
  // does not, and stops the motor whatever is known.
  const bool known = enabled && ReferenceKnown(ReadyDrive());
  for (QAction* action : {acRefUp, acRefDwn, acRefInvert}) action->setEnabled(known);
  acRefZero->setEnabled(enabled);
}

TkoDeviceVX310* TControlForm::ReadyDrive() const {
  if (BindingsStale() || boundDrive_ == nullptr) return nullptr;
  return boundDrive_->GetState() == TkoDeviceSetup::dsReady ? boundDrive_ : nullptr;
}

bool TControlForm::RefEnabled() const {
  TkoDeviceVX310* drive = ReadyDrive();
  return drive != nullptr && drive->CfgRefSource != nullptr && drive->CfgRefSource->GetField() != 0;
}

bool TControlForm::ReferenceKnown(TkoDeviceVX310* drive) const {
  // The reference a step starts from: the target of position mode comes with the
  // setup, the speed reference is read back.
  if (drive == nullptr) return false;
  if (GetBool(drive->CfgPositionMode)) return !koInterface_->IsUnknown(drive->ParPosPktTarget);
  return !koInterface_->IsUnknown(drive->ParSpeedRef);
}

// ---- read back ----

void TControlForm::MarkUnknown() {
  known_.clear();
  // A drive without a line has nothing to read back from: its image is all there is.
  fromDrive_ = ReadyDrive() != nullptr || !connected_;
  if (boundDrive_ != nullptr && !BindingsStale()) ShowUnknown(boundDrive_);
}

void TControlForm::ShowUnknown(TkoDeviceVX310* drive) {
  const auto registerKnown = [this](const TkoRegister* reg) {
    return !fromDrive_ || known_.count(reg) != 0;
  };
  for (TkoParValue* par : {static_cast<TkoParValue*>(drive->ParSpeedRef),
                           static_cast<TkoParValue*>(drive->CmdDriveEnable)})
    if (par != nullptr) koInterface_->SetUnknown(par, !registerKnown(par->Register));
  // The setup's values are the drive's once its setup has been read.
  const bool setupRead = !fromDrive_ || drive->GetSetupState() != TkoDeviceVXSlave::ssNotRead;
  for (TkoParValue* par : {static_cast<TkoParValue*>(drive->CfgPositionMode),
                           static_cast<TkoParValue*>(drive->ParPosPktAccel),
                           static_cast<TkoParValue*>(drive->ParPosPktDecel),
                           static_cast<TkoParValue*>(drive->ParPosPktSpeed),
                           static_cast<TkoParValue*>(drive->ParPosPktTarget)})
    koInterface_->SetUnknown(par, !setupRead);
}

void TControlForm::ForgetReadBack() {
  // The read-back transactions go with their drive; a drive made later at the same
  // address must not be taken for it.
  readBack_.clear();
  readBackDrive_ = nullptr;
}

void TControlForm::StartReadBack() {
  TkoDeviceVX310* drive = ReadyDrive();
  if (drive == nullptr) return;
  if (readBackDrive_ != drive) {
    // The transactions of a previous drive went with it.
    readBack_.clear();
    readBackDrive_ = drive;
    for (TkoParValue* par : {static_cast<TkoParValue*>(drive->ParSpeedRef),
                             static_cast<TkoParValue*>(drive->CmdDriveEnable)}) {
      if (par == nullptr || par->Register == nullptr) continue;
      bool have = false;
      for (const ReadBack& r : readBack_) have = have || r.reg == par->Register;
      if (have) continue;
      auto* read = new TkoMBReadHoldRegisters(drive, true, 1, par->Register->Definition()->Address);
      read->SetTransaName("ReadBack" + par->Register->Name());
      read->SetComment("Reads back a command or reference the remote control window shows.");
      read->SetTermReasons(TkoMBTransaction::trAlways);
      TkoRegister* reg = par->Register;
      read->OnResponse = [this, drive, reg](TkoMBTransaction*) {
        if (readBackDrive_ != drive) return;
        known_.insert(reg);
        if (!BindingsStale() && boundDrive_ == drive) koInterface_->RefreshData();
        UpdateActions();
      };
      readBack_.push_back(ReadBack{reg, read});
    }
  }
  for (ReadBack& r : readBack_)
    if (known_.count(r.reg) == 0 && !r.transa->GetEnabled() && !r.transa->GetBusy())
      r.transa->SetEnabled(true);
}

void TControlForm::SetConnectionStatus(const TConnectionStatus& status) {
  const bool connected = status.State == TConnectionState::Connected;
  stale_ = !connected;
  koInterface_->SetStale(stale_);
  connected_ = connected;
  // Whatever the drive did while it was away, the image cannot tell.
  if (!connected) MarkUnknown();
  if (connected) StartReadBack();
  if (boundDrive_ != nullptr && !BindingsStale()) koInterface_->RefreshData();
  UpdateActions();
}

// ---- reference actions ----

void TControlForm::StepReference(int step) {
  TkoDeviceVX310* drive = boundDrive_;
  if (drive == nullptr || BindingsStale()) return;
  if (GetBool(drive->CfgPositionMode)) {
    TkoParLong* target = drive->ParPosPktTarget;
    if (target == nullptr) return;
    SetTarget(target, SignedTarget(target->GetLong()) + step);
    AfterReferenceChange(target);
  } else {
    TkoParFrac16* ref = drive->ParSpeedRef;
    if (ref == nullptr) return;
    ref->SetValue(SpeedStep(ref->GetValue(), step));
    AfterReferenceChange(ref);
  }
}

void TControlForm::acRefUpExecute() {
  StepReference(+1);
}

void TControlForm::acRefDwnExecute() {
  StepReference(-1);
}

void TControlForm::acRefInvertExecute() {
  TkoDeviceVX310* drive = boundDrive_;
  if (drive == nullptr || BindingsStale()) return;
  if (GetBool(drive->CfgPositionMode)) {
    TkoParLong* target = drive->ParPosPktTarget;
    if (target == nullptr) return;
    // In 64 bits: the most negative target has no positive counterpart in 32.
    SetTarget(target, -SignedTarget(target->GetLong()));
    AfterReferenceChange(target);
  } else {
    TkoParFrac16* ref = drive->ParSpeedRef;
    if (ref == nullptr) return;
    ref->SetValue(-ref->GetValue());
    AfterReferenceChange(ref);
  }
}

void TControlForm::acRefZeroExecute() {
  TkoDeviceVX310* drive = boundDrive_;
  if (drive == nullptr || BindingsStale()) return;
  // Clearing needs no known value, but a read back still on its way would put the
  // drive's old reference into the image just before the zero is sent: it lands first.
  if (readBackDrive_ == drive)
    for (ReadBack& r : readBack_)
      if (r.transa->GetEnabled() || r.transa->GetBusy()) (void)r.transa->WaitFor(-1);
  if (BindingsStale() || boundDrive_ != drive) return;
  // Both references, whatever the mode: the motor must stop in either.
  if (drive->ParPosPktTarget != nullptr) SetTarget(drive->ParPosPktTarget, 0);
  if (drive->ParSpeedRef != nullptr) drive->ParSpeedRef->SetValue(0.0);
  if (drive->ParPosPktTarget != nullptr || drive->ParSpeedRef != nullptr)
    AfterReferenceChange(drive->ParSpeedRef != nullptr
                             ? static_cast<TkoParValue*>(drive->ParSpeedRef)
                             : drive->ParPosPktTarget);
}

void TControlForm::AfterReferenceChange(TkoParValue* par) {
  // What the window has just sent is what the drive holds.
  if (par != nullptr) known_.insert(par->Register);
  koInterfaceEdited(par);
  koInterface_->RefreshData();
}
