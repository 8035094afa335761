#include "app/setupwin.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QTime>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <variant>

#include "app/appdialogs.h"
#include "app/comparedlg.h"
#include "app/reportprinter.h"
#include "app/wholetoolbar.h"
#include "config/inifile.h"
#include "config/setupcompare.h"
#include "config/setupfile.h"
#include "devices/devicesetup.h"
#include "devices/vx310.h"
#include "modbus/mbthread.h"
#include "params/parencoded.h"
#include "paramui/kocheckbox.h"
#include "paramui/koradiogroup.h"
#include "paramui/parrows.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"
#include "paramui/userinterfaceutils.h"
#include "platform/koexception.h"
#include "regmodel/numberformat.h"
#include "regmodel/regblock.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefinition.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/versionrecord.h"

namespace vx {

// The zero switch's signal over the position axis: which side of zero is active and at
// which level.
class ZeroingPicture : public QWidget {
 public:
  explicit ZeroingPicture(QWidget* parent) : QWidget(parent) { setFixedSize(170, 70); }
  void SetVariant(bool activeHigh, bool activeLeft) {
    if (activeHigh == activeHigh_ && activeLeft == activeLeft_) return;
    activeHigh_ = activeHigh;
    activeLeft_ = activeLeft;
    update();
  }
  bool ActiveHigh() const { return activeHigh_; }
  bool ActiveLeft() const { return activeLeft_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(rect(), palette().base());
    QFont f = font();
    f.setPixelSize(10);
    p.setFont(f);
    const int axisX = 14, axisY = 56, zeroX = 90, right = 160;
    const int high = 16, low = 44;
    p.setPen(palette().color(QPalette::Text));
    // Level axis with H and L, position axis with its arrow.
    p.drawLine(axisX, 6, axisX, axisY);
    p.drawText(2, high + 4, QStringLiteral("H"));
    p.drawText(2, low + 4, QStringLiteral("L"));
    p.drawLine(axisX, axisY, right, axisY);
    p.drawLine(right, axisY, right - 5, axisY - 3);
    p.drawLine(right, axisY, right - 5, axisY + 3);
    p.drawText(right - 22, axisY + 12, QStringLiteral("Pos"));
    p.drawLine(zeroX, axisY - 2, zeroX, axisY + 2);
    p.drawText(zeroX - 3, axisY + 12, QStringLiteral("0"));
    // The signal: the active level on the active side.
    const int activeY = activeHigh_ ? high : low;
    const int inactiveY = activeHigh_ ? low : high;
    const int leftY = activeLeft_ ? activeY : inactiveY;
    const int rightY = activeLeft_ ? inactiveY : activeY;
    QPen signal(QColor(0, 0, 192));
    signal.setWidth(2);
    p.setPen(signal);
    p.drawLine(axisX + 2, leftY, zeroX, leftY);
    p.drawLine(zeroX, leftY, zeroX, rightY);
    p.drawLine(zeroX, rightY, right - 8, rightY);
    p.setPen(palette().color(QPalette::Text));
    const QString leftText = activeLeft_ ? QStringLiteral("Active") : QStringLiteral("Inactive");
    const QString rightText = activeLeft_ ? QStringLiteral("Inactive") : QStringLiteral("Active");
    // Labels on the side of the signal away from the other level, so they never cross it.
    auto label = [&](int x0, int x1, int y, const QString& text) {
      const int ty = y == high ? y + 13 : y - 4;
      p.drawText(QRect(x0, ty - 10, x1 - x0, 12), Qt::AlignCenter, text);
    };
    label(axisX + 2, zeroX, leftY, leftText);
    label(zeroX, right - 8, rightY, rightText);
  }

 private:
  bool activeHigh_ = true;
  bool activeLeft_ = true;
};

}  // namespace vx

namespace {

// A page that scrolls when the screen is lower than the page; it asks for the room of its
// whole content, so that the window is as high as its tallest page where the screen allows.
class PageScroll : public QScrollArea {
 public:
  explicit PageScroll(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  QSize sizeHint() const override {
    return widget() != nullptr ? widget()->sizeHint() : QScrollArea::sizeHint();
  }
  QSize minimumSizeHint() const override { return QSize(0, 0); }
};

const std::string kUnderscores(74, '_');
constexpr int kWindowWidth = 660;
constexpr int kMinHeight = 360;

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, again);
  va_end(again);
  return out;
}

// A heading " caption ----...", cut to 100 characters.
std::string Heading(const std::string& caption) {
  return (" " + caption + " " + std::string(100, '-')).substr(0, 100);
}

void SetEnabled(std::initializer_list<TkoParValue*> pars, bool enabled) {
  for (TkoParValue* p : pars)
    if (p != nullptr) p->Enabled = enabled;
}

bool GetBool(const TkoParBoolField* par) {
  return par != nullptr && par->GetBool();
}

QTreeWidget* NewList(QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setRootIsDecorated(false);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return list;
}

TkoRadioGroup* NewRadio(QWidget* parent, int columns, const char* hint = nullptr) {
  auto* group = new TkoRadioGroup(parent);
  group->SetColumns(columns);
  group->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  if (hint != nullptr) group->setToolTip(QString::fromLatin1(hint));
  return group;
}

QGroupBox* NewGroup(QWidget* parent, const char* caption, QWidget* content) {
  auto* group = new QGroupBox(QString::fromLatin1(caption), parent);
  auto* layout = new QHBoxLayout(group);
  layout->setContentsMargins(6, 4, 6, 6);
  layout->addWidget(content);
  group->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return group;
}

// The report lines of the controls of a layout, in layout order.
void CollectLines(const QLayout* layout, std::vector<std::string>* lines);

void ParLine(TkoParValue* par, std::vector<std::string>* lines) {
  if (par != nullptr && par->Visible && par->Enabled) par->Report(lines);
}

void CollectWidget(QWidget* w, std::vector<std::string>* lines) {
  if (w == nullptr) return;
  if (auto* radio = dynamic_cast<TkoRadioGroup*>(w)) {
    ParLine(radio->Par(), lines);
  } else if (auto* box = dynamic_cast<TkoCheckBox*>(w)) {
    ParLine(box->Par(), lines);
  } else if (auto* list = dynamic_cast<QTreeWidget*>(w)) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      ParLine(vx::RowPar(list->topLevelItem(i)), lines);
  } else if (auto* group = dynamic_cast<QGroupBox*>(w)) {
    std::vector<std::string> inner;
    CollectLines(group->layout(), &inner);
    if (!inner.empty()) {
      lines->push_back("\t" + vx::FromQString(group->title()) + ":");
      lines->insert(lines->end(), inner.begin(), inner.end());
    }
  } else if (auto* tabs = dynamic_cast<QTabWidget*>(w)) {
    for (int i = 0; i < tabs->count(); ++i)
      if (tabs->widget(i) != nullptr) CollectLines(tabs->widget(i)->layout(), lines);
  } else if (w->layout() != nullptr && dynamic_cast<QPushButton*>(w) == nullptr) {
    // A plain container (a panel of the page) holds controls of the same level.
    CollectLines(w->layout(), lines);
  }
}

void CollectLines(const QLayout* layout, std::vector<std::string>* lines) {
  if (layout == nullptr) return;
  for (int i = 0; i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (item->widget() != nullptr)
      CollectWidget(item->widget(), lines);
    else if (item->layout() != nullptr)
      CollectLines(item->layout(), lines);
  }
}

}  // namespace

// The page controls, named as the pages show them.
struct TSetupForm::Frames {
  // Options
  TkoRadioGroup* rgCmdFromBus = nullptr;
  TkoRadioGroup* rgRefSource = nullptr;
  TkoRadioGroup* rgUseSyncSignal = nullptr;
  // Motor
  QTreeWidget* lvMotor = nullptr;
  // Encoder
  TkoRadioGroup* rgEncoderEnable = nullptr;
  TkoRadioGroup* rgControlMode = nullptr;
  QTreeWidget* lvEncoder = nullptr;
  // Speed
  TkoRadioGroup* rgRampStopMode = nullptr;
  QTreeWidget* lvSpeed = nullptr;
  // Positioning
  TkoRadioGroup* rgUsePosLimits = nullptr;
  QGroupBox* gbPosLimits = nullptr;
  QTreeWidget* lvPosLimits = nullptr;
  TkoRadioGroup* rgPositionMode = nullptr;
  QGroupBox* gbPosPid = nullptr;
  QTreeWidget* lvPosPid = nullptr;
  QGroupBox* gbPosTarget = nullptr;
  QTreeWidget* lvPosTarget = nullptr;
  // Zeroing
  TkoRadioGroup* rgZeroActiveLevel = nullptr;
  TkoRadioGroup* rgZeroDirection = nullptr;
  vx::ZeroingPicture* imgZeroing = nullptr;
  QTreeWidget* lvZeroing = nullptr;
  // Field Bus
  QTreeWidget* lvModBusAddress = nullptr;
  QPushButton* btnModBusAddress = nullptr;
  QTreeWidget* lvCanBaudrate = nullptr;
  QPushButton* btnCanBaudrate = nullptr;
  QGroupBox* gbCanRx = nullptr;
  QTreeWidget* lvCanRx = nullptr;
  QGroupBox* gbCanTx = nullptr;
  QTreeWidget* lvCanTx = nullptr;
};

TSetupForm::TSetupForm(QWidget* parent) : QMainWindow(parent), f_(std::make_unique<Frames>()) {
  setWindowTitle(QStringLiteral("VX310 Setup"));
  koInterface_ = new TkoUserInterfaceUtils(this);
  koInterface_->OnBeforeRefresh = [this](TkoUserInterfaceUtils*) { koInterfaceBeforeRefresh(); };
  koInterface_->OnAfterRefresh = [this](TkoUserInterfaceUtils*) { koInterfaceAfterRefresh(); };
  koInterface_->OnEdited = [this](TkoParValue* par) { koInterfaceEdited(par); };
  koInterface_->OnRefused = [this](TkoParValue* par, const std::string& text,
                                   const std::string& why) {
    WriteLog(vx::RefusedEntryLine(par, text, why));
  };
  koInterface_->DeviceReady = [](TkoRegDataBuffer* device) {
    auto* slave = dynamic_cast<TkoDeviceSlave*>(device);
    return slave != nullptr && slave->GetState() == TkoDeviceSetup::dsReady;
  };
  koPrintDoc_ = new TkoPrintRtfDoc(this);
  koPrintDoc_->PixToTwips = 1440;
  koPrintDoc_->L_Margin = 2;
  koPrintDoc_->R_Margin = 1;
  koPrintDoc_->T_Margin = 1;
  koPrintDoc_->B_Margin = 1;
  CreateActions();
  CreatePages();
  FitWidth();
  UpdateActions();
}

TSetupForm::~TSetupForm() = default;

void TSetupForm::CreateActions() {
  auto make = [this](const char* caption, const char* hint, QStyle::StandardPixmap icon) {
    auto* a = new QAction(style()->standardIcon(icon), QString::fromLatin1(caption), this);
    a->setToolTip(QString::fromLatin1(hint));
    a->setStatusTip(QString::fromLatin1(hint));
    return a;
  };
  acClose = make("Close", "Exit from setup window", QStyle::SP_DialogCloseButton);
  acClose->setShortcut(QKeySequence(QStringLiteral("Ctrl+X")));
  acReload = make("Reload", "Refresh data from VX150", QStyle::SP_BrowserReload);
  acSend = make("Send", "Send setup to VX150", QStyle::SP_ArrowRight);
  acSend->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
  acSave =
      make("Save", "Send and Save the setup to VX150 pemanently", QStyle::SP_DialogApplyButton);
  acSave->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
  acImport = make("From File ...", "Load setup from file", QStyle::SP_DialogOpenButton);
  acExport = make("To File ...", "Save setup to file", QStyle::SP_DialogSaveButton);
  acPrint = make("Print", "Print setup", QStyle::SP_FileDialogDetailedView);
  acCompareFile = make("Compare with file...", "List the values that differ from a setup file",
                       QStyle::SP_FileDialogContentsView);
  acCompareDrive = make("Compare with drive", "List the values that differ from the drive's",
                        QStyle::SP_BrowserReload);

  auto run = [this](void (TSetupForm::*handler)()) {
    return [this, handler] {
      vx::RunReportingErrors([&] { (this->*handler)(); });
      UpdateActions();
    };
  };
  connect(acClose, &QAction::triggered, this, [this] { close(); });
  connect(acReload, &QAction::triggered, this, run(&TSetupForm::acReloadExecute));
  connect(acSend, &QAction::triggered, this, run(&TSetupForm::acSendExecute));
  connect(acSave, &QAction::triggered, this, run(&TSetupForm::acSaveExecute));
  connect(acImport, &QAction::triggered, this, run(&TSetupForm::acImportExecute));
  connect(acExport, &QAction::triggered, this, run(&TSetupForm::acExportExecute));
  connect(acPrint, &QAction::triggered, this, run(&TSetupForm::acPrintExecute));
  connect(acCompareFile, &QAction::triggered, this, run(&TSetupForm::acCompareFileExecute));
  connect(acCompareDrive, &QAction::triggered, this, run(&TSetupForm::acCompareDriveExecute));

  auto* bar = new TWholeToolBar(QStringLiteral("Setup"), this);
  addToolBar(bar);
  bar->OnFullWidthChanged = [this] { FitWidth(); };
  bar_ = bar;
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->addAction(acClose);
  bar->addSeparator();
  bar->addAction(acReload);
  bar->addSeparator();
  bar->addAction(acSend);
  bar->addAction(acSave);
  bar->addSeparator();
  bar->addAction(acImport);
  bar->addAction(acExport);
  bar->addSeparator();
  bar->addAction(acPrint);
  // Both comparisons behind one button: the tool bar keeps the window's width.
  auto* compareMenu = new QMenu(this);
  compareMenu->addAction(acCompareFile);
  compareMenu->addAction(acCompareDrive);
  QAction* compare = compareMenu->menuAction();
  compare->setText(QStringLiteral("Compare"));
  compare->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
  compare->setToolTip(QStringLiteral("Compare the setup with a file or with the drive"));
  compare->setStatusTip(compare->toolTip());
  bar->addAction(compare);
  if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(compare)))
    button->setPopupMode(QToolButton::InstantPopup);
}

void TSetupForm::CreatePages() {
  pages_ = new QTabWidget(this);
  pages_->setUsesScrollButtons(false);
  setCentralWidget(pages_);
  const std::pair<const char*, void (TSetupForm::*)(QWidget*, QVBoxLayout*)> kPages[] = {
      {"Options", &TSetupForm::CreateOptionsPage},
      {"Motor", &TSetupForm::CreateMotorPage},
      {"Encoder", &TSetupForm::CreateEncoderPage},
      {"Speed", &TSetupForm::CreateSpeedPage},
      {"Positioning", &TSetupForm::CreatePositioningPage},
      {"Zeroing", &TSetupForm::CreateZeroingPage},
      {"Field Bus", &TSetupForm::CreateFieldBusPage},
  };
  for (const auto& [caption, create] : kPages) {
    auto* scroll = new PageScroll(pages_);
    auto* page = new QWidget(scroll);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(6);
    scroll->setWidget(page);
    pages_->addTab(scroll, QString::fromLatin1(caption));
    (this->*create)(page, layout);
  }
}

void TSetupForm::CreateOptionsPage(QWidget* w, QVBoxLayout* l) {
  Frames& f = *f_;
  f.rgCmdFromBus = NewRadio(w, 2);
  f.rgRefSource = NewRadio(w, 2);
  f.rgUseSyncSignal = NewRadio(w, 2);
  l->addWidget(f.rgCmdFromBus);
  l->addWidget(f.rgRefSource);
  l->addWidget(f.rgUseSyncSignal);
  l->addStretch();
}

void TSetupForm::CreateMotorPage(QWidget* w, QVBoxLayout* l) {
  Frames& f = *f_;
  f.lvMotor = NewList(w);
  l->addWidget(f.lvMotor);
  l->addStretch();
}

void TSetupForm::CreateEncoderPage(QWidget* w, QVBoxLayout* l) {
  Frames& f = *f_;
  // The encoder's own switch: the page's settings apply only with the encoder enabled,
  // so the page offers the bit that enables them.
  f.rgEncoderEnable = NewRadio(w, 2);
  f.rgControlMode = NewRadio(w, 3, "Select stepper mode the driving way.");
  f.lvEncoder = NewList(w);
  l->addWidget(f.rgEncoderEnable);
  l->addWidget(f.rgControlMode);
  l->addWidget(f.lvEncoder);
  l->addStretch();
}

void TSetupForm::CreateSpeedPage(QWidget* w, QVBoxLayout* l) {
  Frames& f = *f_;
  f.rgRampStopMode = NewRadio(w, 4);
  f.lvSpeed = NewList(w);
  l->addWidget(f.rgRampStopMode);
  l->addWidget(f.lvSpeed);
  l->addStretch();
}

void TSetupForm::CreatePositioningPage(QWidget* w, QVBoxLayout* l) {
  Frames& f = *f_;
  f.rgUsePosLimits = NewRadio(w, 2);
  f.lvPosLimits = NewList(w);
  f.gbPosLimits = NewGroup(w, "Position limits", f.lvPosLimits);
  f.rgPositionMode =
      NewRadio(w, 2, "Enable positioning features, else it works in speed mode only.");
  f.lvPosPid = NewList(w);
  f.gbPosPid = NewGroup(w, "Position PID regulator", f.lvPosPid);
  f.lvPosTarget = NewList(w);
  f.gbPosTarget = NewGroup(w, "Position target", f.lvPosTarget);
  l->addWidget(f.rgUsePosLimits);
  l->addWidget(f.gbPosLimits);
  l->addWidget(f.rgPositionMode);
  l->addWidget(f.gbPosPid);
  l->addWidget(f.gbPosTarget);
  l->addStretch();
}

void TSetupForm::CreateZeroingPage(QWidget* w, QVBoxLayout* l) {
  Frames& f = *f_;
  auto* top = new QHBoxLayout();
  auto* radios = new QVBoxLayout();
  f.rgZeroActiveLevel = NewRadio(w, 2);
  f.rgZeroDirection = NewRadio(w, 2);
  radios->addWidget(f.rgZeroActiveLevel);
  radios->addWidget(f.rgZeroDirection);
  f.imgZeroing = new vx::ZeroingPicture(w);
  top->addLayout(radios, 1);
  top->addWidget(f.imgZeroing, 0, Qt::AlignTop);
  f.lvZeroing = NewList(w);
  l->addLayout(top);
  l->addWidget(f.lvZeroing);
  l->addStretch();
}

void TSetupForm::CreateFieldBusPage(QWidget* w, QVBoxLayout* l) {
  Frames& f = *f_;
  auto direct = [&](const char* caption, const char* hint, QTreeWidget** list,
                    QPushButton** button) {
    auto* group = new QGroupBox(QString::fromLatin1(caption), w);
    auto* row = new QHBoxLayout(group);
    row->setContentsMargins(6, 4, 6, 6);
    *list = NewList(group);
    (*list)->setHeaderHidden(true);
    *button = new QPushButton(QStringLiteral("<=Save"), group);
    (*button)->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (hint != nullptr) (*button)->setToolTip(QString::fromLatin1(hint));
    row->addWidget(*list, 1);
    row->addWidget(*button, 0, Qt::AlignVCenter);
    group->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    l->addWidget(group);
  };
  direct("ModBus Address", "Save this value as new slave address for ModBus", &f.lvModBusAddress,
         &f.btnModBusAddress);
  direct("CanBus Baudrate", nullptr, &f.lvCanBaudrate, &f.btnCanBaudrate);
  auto frames = [&](const char* caption, QTreeWidget** list, QGroupBox** group) {
    *list = NewList(w);
    (*list)->setHeaderHidden(true);
    QFont mono(QStringLiteral("Courier New"), 8);
    mono.setStyleHint(QFont::TypeWriter);
    mono.setFixedPitch(true);
    (*list)->setFont(mono);
    *group = NewGroup(w, caption, *list);
    l->addWidget(*group);
  };
  frames("CAN-bus RX Frames", &f.lvCanRx, &f.gbCanRx);
  frames("CAN-bus TX Frames", &f.lvCanTx, &f.gbCanTx);
  l->addStretch();
  connect(f.btnModBusAddress, &QPushButton::clicked, this, [this] {
    TkoDeviceVX310* d = Drive();
    vx::RunReportingErrors([&] {
      if (d != nullptr) SaveDirect(d->ParEEModBusAddress, "ModBus Slave Address");
    });
  });
  connect(f.btnCanBaudrate, &QPushButton::clicked, this, [this] {
    TkoDeviceVX310* d = Drive();
    vx::RunReportingErrors([&] {
      if (d != nullptr) SaveDirect(d->ParEECanBusBaudrate, "CanBus BaudRate");
    });
  });
}

void TSetupForm::SetSettingsFile(const std::string& path) {
  settingsFile_ = path;
  const vx::TIniFile ini(path);
  move(ini.ReadInteger("SetupForm", "Left", 0), ini.ReadInteger("SetupForm", "Top", 0));
}

void TSetupForm::SavePosition() {
  if (settingsFile_.empty()) return;
  vx::TIniFile ini(settingsFile_);
  ini.WriteInteger("SetupForm", "Top", y());
  ini.WriteInteger("SetupForm", "Left", x());
  ini.WriteInteger("SetupForm", "Width", width());
  ini.WriteInteger("SetupForm", "Height", height());
  // Losing the window position must not keep the window from closing.
  if (!ini.UpdateFile() && !ini.KeptReadOnly()) vx::ReportUiError(ini.LastError());
}

void TSetupForm::WriteLog(const std::string& line) {
  if (Log) Log(line);
}

void TSetupForm::AppendWarning(const std::vector<std::string>& lines) {
  WriteLog(kUnderscores);
  for (const std::string& l : lines) WriteLog(l);
  WriteLog(kUnderscores);
}

bool TSetupForm::BindingsStale() const {
  TkoDeviceVX310* d = Device ? Device() : nullptr;
  return d != boundDrive_;
}

TkoDeviceVX310* TSetupForm::Drive() const {
  return BindingsStale() ? nullptr : boundDrive_;
}

bool TSetupForm::DriveReady() const {
  TkoDeviceVX310* d = Drive();
  return d != nullptr && d->GetState() == TkoDeviceSetup::dsReady;
}

void TSetupForm::ReleaseDrive() {
  BindPages(nullptr);
}

void TSetupForm::RefreshData() {
  if (BindingsStale()) ReleaseDrive();
  koInterface_->RefreshData();
  UpdateActions();
}

void TSetupForm::SetupRead() {
  LogKeptEdits();
  RefreshData();
  if (isVisible()) {
    raise();
    return;
  }
  // The window opens by itself after a connect or a send; the keyboard stays where the
  // engineer was typing. Platforms that activate every new window anyway get the previous
  // window activated back.
  QWidget* active = QApplication::activeWindow();
  QPointer<QWidget> focus = QApplication::focusWidget();
  setAttribute(Qt::WA_ShowWithoutActivating);
  show();
  raise();
  setAttribute(Qt::WA_ShowWithoutActivating, false);
  if (active != nullptr && active != this) {
    active->activateWindow();
    if (focus) focus->setFocus(Qt::OtherFocusReason);
  }
}

void TSetupForm::UpdateActions() {
  if (BindingsStale()) {
    // The drive the pages were bound to has gone: its parameters must not be touched.
    koInterface_->Reset();
    boundDrive_ = nullptr;
  }
  TkoDeviceVX310* d = Drive();
  const bool ready = DriveReady();
  acClose->setEnabled(true);
  acReload->setEnabled(ready);
  acSend->setEnabled(ready);
  acSave->setEnabled(ready && d->GetSetupState() != TkoDeviceVXSlave::ssInStep);
  acImport->setEnabled(d != nullptr);
  acExport->setEnabled(d != nullptr);
  acPrint->setEnabled(d != nullptr);
  // Comparing with the drive while it does not answer says so.
  acCompareFile->setEnabled(d != nullptr);
  acCompareDrive->setEnabled(d != nullptr);
  f_->btnModBusAddress->setEnabled(d != nullptr && d->ParEEModBusAddress != nullptr);
  f_->btnCanBaudrate->setEnabled(d != nullptr && d->ParEECanBusBaudrate != nullptr);
  UpdateCaption();
}

void TSetupForm::BuildPages() {
  BindPages(Device ? Device() : nullptr);
}

void TSetupForm::BindPages(TkoDeviceVX310* d) {
  Frames& f = *f_;
  TkoUserInterfaceUtils& ui = *koInterface_;
  // The rows of the previous drive go with Reset; without a drive the pages stay empty.
  ui.Reset();
  boundDrive_ = d;
  const TkoLvColumnSet columns{lvcValue, lvcMin, lvcMax};
  auto radio = [&](TkoRadioGroup* group, TkoParEncoded* par) {
    ui.With(group, par);
    ui.AdaptHeight();
  };
  // A list's rows: parameters, and Sep{} for a separator row (a missing parameter adds
  // no row).
  struct Sep {};
  auto rows = [&](QTreeWidget* lv, std::initializer_list<std::variant<TkoParValue*, Sep>> items,
                  const TkoLvColumnSet& set) {
    ui.With(lv, set);
    for (const auto& item : items) {
      if (std::holds_alternative<Sep>(item))
        ui.ListSep();
      else
        ui.List(std::get<TkoParValue*>(item));
    }
    ui.AdaptHeight();
  };
  if (d == nullptr) {
    // Controls bound to nothing show "-empty-"; lists stay empty.
    for (TkoRadioGroup* g : {f.rgCmdFromBus, f.rgRefSource, f.rgUseSyncSignal, f.rgEncoderEnable,
                             f.rgControlMode, f.rgZeroActiveLevel, f.rgZeroDirection,
                             f.rgRampStopMode, f.rgPositionMode, f.rgUsePosLimits})
      radio(g, nullptr);
    for (QTreeWidget* lv : {f.lvMotor, f.lvEncoder, f.lvZeroing, f.lvSpeed, f.lvPosPid,
                            f.lvPosLimits, f.lvPosTarget, f.lvCanRx, f.lvCanTx}) {
      ui.With(lv, lv->isHeaderHidden() ? TkoLvColumnSet{lvcValue} : columns);
      ui.AdaptHeight();
    }
    for (QTreeWidget* lv : {f.lvModBusAddress, f.lvCanBaudrate}) {
      ui.With(lv, {lvcValue});
      lv->setFixedHeight(lv->fontMetrics().height() + 6 + 2 * lv->frameWidth());
    }
    FitHeight();
    UpdateActions();
    return;
  }
  // The bindings are made in this order so that the controls refresh in it too.
  radio(f.rgCmdFromBus, d->CfgCmdFromBus);
  radio(f.rgRefSource, d->CfgRefSource);
  radio(f.rgUseSyncSignal, d->CfgUseSyncSignal);
  rows(f.lvMotor,
       {d->ParMotorStepRev, d->ParMotorStepDiv, d->ParMotorSrRPM, Sep{}, d->ParMotorIpA,
        d->ParMotorIrA, d->ParMotorIrTimer},
       columns);
  radio(f.rgEncoderEnable, d->CfgEncoderEnable);
  radio(f.rgControlMode, d->CfgControlMode);
  rows(f.lvEncoder,
       {d->ParEncoderPulseRev, d->ParEncoderGear, Sep{}, d->ParUseEncoderReverse,
        d->ParUseEncoderSource},
       columns);
  radio(f.rgZeroActiveLevel, d->CfgZeroActiveLevel);
  radio(f.rgZeroDirection, d->CfgZeroDirection);
  rows(f.lvZeroing, {d->ParZeroSpeedMax, d->ParZeroSpeedMin, d->ParZeroTimeout}, columns);
  radio(f.rgRampStopMode, d->CfgRampStopMode);
  rows(f.lvSpeed, {d->ParSpeedWin, Sep{}, d->ParMotorAccel, d->ParMotorDecel}, columns);
  radio(f.rgPositionMode, d->CfgPositionMode);
  rows(f.lvPosPid, {d->ParPosWindow, d->ParPosPGain, d->ParPosIGain}, columns);
  radio(f.rgUsePosLimits, d->CfgUsePosLimits);
  rows(f.lvPosLimits, {d->ParPosMaxLimit, d->ParPosMinLimit}, columns);
  rows(f.lvPosTarget, {d->ParPosPktAccel, d->ParPosPktDecel, d->ParPosPktSpeed, d->ParPosPktTarget},
       columns);
  // The two direct-write lists keep their one-row design height.
  for (auto [lv, par] :
       {std::pair<QTreeWidget*, TkoParValue*>{f.lvModBusAddress, d->ParEEModBusAddress},
        {f.lvCanBaudrate, d->ParEECanBusBaudrate}}) {
    ui.With(lv, {lvcValue});
    ui.List(par);
    const int row =
        lv->topLevelItemCount() > 0 ? lv->sizeHintForRow(0) : lv->fontMetrics().height() + 6;
    lv->setFixedHeight(row + 2 * lv->frameWidth());
  }
  SetupCanChoices(d);
  rows(f.lvCanRx, {d->ParCyclicRx1, d->ParCyclicRx2, d->ParCyclicRx3, d->ParCyclicRx4}, {lvcValue});
  rows(f.lvCanTx, {d->ParCyclicTx1, d->ParCyclicTx2, d->ParCyclicTx3, d->ParCyclicTx4}, {lvcValue});
  FitHeight();
  UpdateActions();
}

void TSetupForm::FitWidth() {
  // A fixed border: wide enough for every page caption, the CAN frame texts and the
  // whole tool bar; the height follows the tallest page.
  setFixedWidth(std::max(
      {kWindowWidth, pages_->tabBar()->sizeHint().width() + 16, bar_->minimumSizeHint().width()}));
}

void TSetupForm::FitHeight() {
  // The tallest page sets the height; the lists have their fitted heights by now. The
  // layouts of a hidden window keep the sizes they computed for the previous binding
  // until the event loop gets to them, so they are dropped before measuring.
  setMinimumHeight(0);
  setMaximumHeight(QWIDGETSIZE_MAX);
  const QList<QWidget*> all = pages_->findChildren<QWidget*>();
  for (QWidget* w : all)
    if (w->layout() != nullptr) w->layout()->invalidate();
  for (QWidget* w : all) w->updateGeometry();
  pages_->updateGeometry();
  if (layout() != nullptr) layout()->invalidate();
  const int wanted = std::max(kMinHeight, sizeHint().height());
  // A fixed border where the screen has room for the tallest page; on a lower screen (or
  // a larger scale) the window fits the screen, may grow up to the page, and the pages
  // scroll.
  int room = wanted;
  if (const QScreen* s = screen()) {
    const int frame = isVisible() ? frameGeometry().height() - height() : 40;
    room = s->availableGeometry().height() - frame;
  }
  if (wanted <= room) {
    setFixedHeight(wanted);
  } else {
    setMinimumHeight(std::min(kMinHeight, room));
    setMaximumHeight(wanted);
    resize(width(), room);
  }
}

void TSetupForm::SetupCanChoices(TkoDeviceVX310* d) {
  if (d == nullptr || d->DefsList() == nullptr) return;
  TkoRegDefsList& model = *d->DefsList();
  const std::vector<TkoParEncoded*> rx{d->ParCyclicRx1, d->ParCyclicRx2, d->ParCyclicRx3,
                                       d->ParCyclicRx4};
  const std::vector<TkoParEncoded*> tx{d->ParCyclicTx1, d->ParCyclicTx2, d->ParCyclicTx3,
                                       d->ParCyclicTx4};
  // The definition a selector's choices are described in.
  auto definition = [&](TkoParEncoded* par) -> TkoRegDefinition* {
    if (par == nullptr || par->Register == nullptr) return nullptr;
    return model.FindByName(par->Register->Name());
  };
  const std::string none = Format("%03d %-20s | %s", 0, "-none-", "Disabled field");
  for (const auto* group : {&rx, &tx})
    for (TkoParEncoded* par : *group)
      if (TkoRegDefinition* def = definition(par)) def->SetDescr("Descr[0m0v0]", none);

  auto fill = [&](const char* category, const std::vector<TkoParEncoded*>& selectors) {
    int highest = 0;
    if (std::unique_ptr<TkoRegBlock> chain = vx::GetCategory(model, category)) {
      for (const TkoRegBlock* b = chain.get(); b != nullptr && b->Valid(); b = b->Next()) {
        for (int a = b->First(); a < b->First() + b->Count(); ++a) {
          const TkoRegDefinition* reg = model.FindByAddress(static_cast<uint16_t>(a));
          if (reg == nullptr) continue;
          const std::string text =
              Format("%03d %-20s | %s", a, reg->Name.c_str(), reg->GetDescr(-1, 0).c_str());
          const std::string key = Format("Descr[0m0v%d]", a);
          for (TkoParEncoded* par : selectors)
            if (TkoRegDefinition* def = definition(par)) def->SetDescr(key, text);
          if (a > highest) highest = a;
        }
      }
    }
    for (TkoParEncoded* par : selectors)
      if (par != nullptr && par->Register != nullptr) par->Register->SetLimits(0, highest, 0, 0);
  };
  fill("CanRxRegs", rx);
  fill("CanTxRegs", tx);
}

void TSetupForm::koInterfaceBeforeRefresh() {
  TkoDeviceVX310* d = Drive();
  if (d == nullptr) return;
  const int64_t refSource = d->CfgRefSource != nullptr ? d->CfgRefSource->GetField() : 0;
  const bool bySource = refSource != 0;
  const bool positionMode = GetBool(d->CfgPositionMode);
  SetEnabled({d->CfgUseSyncSignal, d->CfgZeroActiveLevel, d->CfgZeroDirection, d->ParZeroSpeedMax,
              d->ParZeroSpeedMin, d->ParZeroTimeout, d->CfgPositionMode},
             bySource);
  SetEnabled(
      {d->ParEncoderPulseRev, d->ParEncoderGear, d->ParUseEncoderReverse, d->ParUseEncoderSource},
      GetBool(d->CfgEncoderEnable));
  SetEnabled({d->CfgRampStopMode}, bySource && !positionMode);
  SetEnabled({d->ParMotorAccel, d->ParMotorDecel},
             bySource && (GetBool(d->CfgUseRamp) || positionMode));
  SetEnabled({d->ParPosMaxLimit, d->ParPosMinLimit}, GetBool(d->CfgUsePosLimits));
  SetEnabled({d->ParPosWindow, d->ParPosPGain, d->ParPosIGain, d->ParPosPktAccel, d->ParPosPktDecel,
              d->ParPosPktSpeed, d->ParPosPktTarget},
             positionMode);
}

void TSetupForm::koInterfaceAfterRefresh() {
  TkoDeviceVX310* d = Drive();
  if (d != nullptr)
    f_->imgZeroing->SetVariant(GetBool(d->CfgZeroActiveLevel), GetBool(d->CfgZeroDirection));
  UpdateActions();
}

void TSetupForm::koInterfaceEdited(TkoParValue* par) {
  TkoDeviceVX310* d = Drive();
  if (d != nullptr && par != nullptr) {
    const char* name = nullptr;
    if (par == d->ParEncoderPulseRev)
      name = "Encoder step per revolution";
    else if (par == d->ParUseEncoderReverse)
      name = "Encoder counter mode";
    if (name != nullptr)
      AppendWarning({"!RESERVED PARAMETER!", Format("\"%s\" has been modified.", name),
                     " Warning: This modification takes effect only after restart."});
  }
  UpdateActions();
}

void TSetupForm::SaveDirect(TkoParValue* par, const char* caption) {
  if (par == nullptr) return;
  // The result is not judged here: a failed write is reported by the supervisor's
  // transaction error line, and the warning holds either way.
  (void)par->WriteNow();
  AppendWarning({Format("\"%s\" has been modified.", caption),
                 " Warning: This modification takes effect only after restart."});
}

void TSetupForm::acReloadExecute() {
  if (!DriveReady()) return;
  TkoDeviceVX310* d = Drive();
  // A read keeps the values edited here; Reload is the engineer asking for the drive's.
  if (d->GetSetupState() == TkoDeviceVXSlave::ssModified || d->HasLocalEdits()) {
    if (!AskLoseEdits(QStringLiteral("Reload the setup from the drive and lose the changes?")))
      return;
    d->DiscardLocalEdits();
    WriteLog("Changes not sent discarded: reloading the setup from the drive.");
  }
  d->StartSetupRead();
}

void TSetupForm::acSendExecute() {
  if (!DriveReady()) return;
  WriteLog("Sending setup...");
  Drive()->StartSetupSend();
}

void TSetupForm::acSaveExecute() {
  if (!DriveReady() || Drive()->GetSetupState() == TkoDeviceVXSlave::ssInStep) return;
  WriteLog("Saving setup...");
  Drive()->StartSetupSendAndSave();
}

namespace {

const char* const kFilter = "VX310 Cfg Files (*.310);;Text Files (*.txt);;All Files (*)";

}  // namespace

void TSetupForm::acExportExecute() {
  TkoDeviceVX310* d = Drive();
  if (d == nullptr) return;
  QString file;
  if (AskFileName) {
    file = AskFileName(true);
  } else {
    QFileDialog dialog(this, QStringLiteral("Export configuration to file"), QString(),
                       QString::fromLatin1(kFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("310"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      file = dialog.selectedFiles().first();
  }
  if (file.isEmpty()) return;
  const std::string name = file.toLocal8Bit().toStdString();
  WriteLog("Export setup to file: " + vx::FromQString(file));
  vx::ExportSetupFile(*d, vx::ReadSetupFileHeader(settingsFile_), name);
  WriteLog("Setup exported!");
}

QString TSetupForm::AskOpenFileName(const QString& title) {
  if (AskFileName) return AskFileName(false);
  QFileDialog dialog(this, title, QString(), QString::fromLatin1(kFilter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(QStringLiteral("310"));
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    return dialog.selectedFiles().first();
  return QString();
}

void TSetupForm::acImportExecute() {
  TkoDeviceVX310* d = Drive();
  if (d == nullptr) return;
  const QString file = AskOpenFileName(QStringLiteral("Import configuration from file"));
  if (file.isEmpty()) return;
  WriteLog("Import setup from file: " + vx::FromQString(file));
  vx::SetupImport result;
  try {
    result = vx::ImportSetupFile(*d, file.toLocal8Bit().toStdString());
  } catch (const EkoException& e) {
    WriteLog(std::string("Import failed: ") + e.what());
    throw;
  }
  WriteLog(" -> Creator: " + result.Creator);
  WriteLog(" -> Version: " + result.Version);
  if (!result.HasSetup) {
    // Saying "imported" here would have the engineer send a setup that never changed.
    WriteLog(Format("No \"%s\" section in the file: nothing imported.", vx::kSetupSection));
    return;
  }
  LogImportChecks(*d, result);
  if (!result.Skipped.empty()) {
    std::string names;
    for (const auto& [key, why] : result.Skipped) {
      if (names.size() > 200) {
        names += ", ...";
        break;
      }
      names += (names.empty() ? "" : ", ") + key + " (" + why + ")";
    }
    WriteLog(Format(" -> %d value(s) imported, %d ignored: ", result.Loaded,
                    static_cast<int>(result.Skipped.size())) +
             names);
  }
  WriteLog("Setup imported! Please verify before send or save it.");
  koInterface_->RefreshData();
}

void TSetupForm::LogImportChecks(TkoDeviceVX310& d, const vx::SetupImport& result) {
  if (result.OtherModel) {
    if (!result.FileDrive.empty())
      WriteLog(" -> The file was written for another drive model: " + result.FileDrive +
               " (this drive: " + d.GetVersion().ToString() + ").");
    else
      WriteLog(
          " -> The file names registers this drive has not got: it comes from another "
          "drive model.");
  }
  if (result.Issues.empty()) return;
  WriteLog(Format(" -> %d value(s) not taken as written:", static_cast<int>(result.Issues.size())));
  for (const TkoLoadIssue& i : result.Issues) {
    const TkoRegister* reg = d.FindRegister(i.Name);
    std::string name = reg != nullptr ? reg->Definition()->GetDescr(-1, 0) : std::string();
    name = name.empty() || name == i.Name ? i.Name : name + " (" + i.Name + ")";
    if (reg != nullptr && reg->Definition()->Length > 1) name += Format("[%d]", i.Element);
    const std::string file = i.FileValue.empty() ? "-" : i.FileValue;
    WriteLog("    " + name + ": file " + file + ", kept " + i.Kept + " (" + i.Why + ")");
  }
}

void TSetupForm::acCompareFileExecute() {
  TkoDeviceVX310* d = Drive();
  if (d == nullptr) return;
  const QString file = AskOpenFileName(QStringLiteral("Compare setup with file"));
  if (file.isEmpty()) return;
  vx::SetupComparison c;
  try {
    c = vx::CompareSetupFile(*d, file.toLocal8Bit().toStdString());
  } catch (const EkoException& e) {
    vx::ShowMessage(this, QStringLiteral("The file cannot be read: ") + vx::ToQString(e.what()));
    return;
  }
  const QString nothing = QStringLiteral("\n\rNothing compared.");
  if (!c.HasSetup) {
    vx::ShowMessage(this, QStringLiteral("The file has no \"%1\" section: it is no setup file.")
                                  .arg(QString::fromLatin1(vx::kSetupSection)) +
                              nothing);
    return;
  }
  // Names alike may mean other things on another model: such a list would mislead.
  if (c.OtherModel) {
    const QString why =
        c.FileDrive.empty()
            ? QStringLiteral(
                  "The file names registers this drive has not got: it comes from "
                  "another drive model.")
            : QStringLiteral("The file was written for another drive model: %1 (this drive: %2).")
                  .arg(vx::ToQString(c.FileDrive), vx::ToQString(d->GetVersion().ToString()));
    vx::ShowMessage(this, why + nothing);
    return;
  }
  WriteLog(Format("Setup compared with file %s: %d difference(s).", vx::FromQString(file).c_str(),
                  static_cast<int>(c.Differences.size())));
  ShowComparison(*d, QStringLiteral("The values of this window compared with the file ") + file,
                 QStringLiteral("File"), c.Differences);
}

void TSetupForm::acCompareDriveExecute() {
  TkoDeviceVX310* d = Drive();
  if (d == nullptr) return;
  const QString notAnswering = QStringLiteral(
      "The drive is not connected or does not answer: its setup cannot be read.\n\rNothing "
      "compared.");
  if (!DriveReady()) {
    vx::ShowMessage(this, notAnswering);
    return;
  }
  int32_t result = 0;
  std::vector<vx::SetupDifference> differences;
  {
    // The read waits for the drive, running only the connection's hand-overs meanwhile.
    struct WaitCursor {
      WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
      ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    } waiting;
    differences = vx::CompareWithDrive(*d, result);
  }
  // The drive may have gone while its setup was read (a hand-over of the connection).
  if (Drive() != d) {
    vx::ShowMessage(this, QStringLiteral("The drive went away while its setup was read.\n\rNothing "
                                         "compared."));
    return;
  }
  if (result == kRegBufferNotReady) {
    vx::ShowMessage(this, notAnswering);
    return;
  }
  if (result != 0) {
    vx::ShowMessage(this, QStringLiteral("The drive's setup could not be read: ") +
                              vx::ToQString(TkoMBThread::GetErrorText(result)) +
                              QStringLiteral("\n\rNothing compared."));
    return;
  }
  const std::string drive = d->GetVersion().ToString();
  WriteLog(Format("Setup compared with drive %s: %d difference(s).", drive.c_str(),
                  static_cast<int>(differences.size())));
  ShowComparison(
      *d,
      QStringLiteral("The values of this window compared with those of the drive %1, "
                     "read at %2")
          .arg(vx::ToQString(drive), QTime::currentTime().toString(QStringLiteral("hh:mm:ss"))),
      QStringLiteral("Drive"), differences);
}

TCompareDialog* TSetupForm::CompareDialog() const {
  return compare_;
}

void TSetupForm::ShowComparison(TkoDeviceVX310& d, const QString& heading,
                                const QString& otherCaption,
                                const std::vector<vx::SetupDifference>& differences) {
  std::vector<TCompareDialog::Row> rows;
  for (const vx::SetupDifference& diff : differences) {
    // Named as the pages and the log name them: the description, with the name beside it.
    std::string descr;
    if (const TkoParValue* p = d.FindParameter(diff.Name))
      descr = p->GetDescr();
    else if (const TkoRegister* reg = d.FindRegister(diff.Name))
      descr = reg->Definition()->GetDescr(-1, 0);
    const std::string name =
        descr.empty() || descr == diff.Name ? diff.Name : descr + " (" + diff.Name + ")";
    rows.push_back({vx::ToQString(name), vx::ToQString(diff.Mine), vx::ToQString(diff.Other)});
  }
  if (compare_ == nullptr) compare_ = new TCompareDialog(this);
  compare_->SetComparison(heading, otherCaption, rows);
  compare_->show();
  compare_->raise();
  compare_->activateWindow();
}

std::vector<std::string> TSetupForm::PageReportLines(int page) const {
  std::vector<std::string> lines;
  if (page < 0 || page >= pages_->count()) return lines;
  // A page is its scroll area's content.
  QWidget* content = pages_->widget(page);
  if (auto* scroll = qobject_cast<QScrollArea*>(content); scroll && scroll->widget())
    content = scroll->widget();
  CollectLines(content->layout(), &lines);
  return lines;
}

namespace {

std::vector<vx::ReportLine> BuildReport(TkoDeviceVX310& d, const TSetupForm& form) {
  const std::string underscores(100, '_');
  std::vector<vx::ReportLine> r;
  auto add = [&r](std::string text, int size = 8, bool bold = false, bool italic = false) {
    r.push_back(vx::ReportLine{std::move(text), size, bold, italic});
  };
  add(underscores);
  add(" VX310 Configuration Terminal 2.20", 12, true);
  add(underscores);
  const double now = vx::Now();
  const std::string date = vx::FormatDateTime(vx::Formats().ShortDateFormat, now) + " " +
                           vx::FormatDateTime(vx::Formats().LongTimeFormat, now);
  add(Format("\t%-20s %s", "Report date     ", date.c_str()), 8, false, true);
  add(Format("\t%-20s %s", "Firmware version", d.GetVersion().ToString().c_str()), 8, false, true);
  const std::string descr = d.DefsList() != nullptr ? d.DefsList()->GetVersionDescr() : "";
  add(Format("\t%-20s %s", "Description     ", descr.c_str()), 8, false, true);
  add(underscores);
  add("");
  add(Heading("Drive Properties"));
  std::vector<std::string> props;
  d.ReportDevice(&props);
  for (std::string& p : props) add(std::move(p));
  add("");
  for (int i = 0; i < form.Pages()->count(); ++i) {
    std::vector<std::string> lines = form.PageReportLines(i);
    if (lines.empty()) continue;
    add(Heading(vx::FromQString(form.Pages()->tabText(i))));
    for (std::string& l : lines) add(std::move(l));
    add("");
  }
  add(underscores);
  return r;
}

}  // namespace

std::vector<std::string> TSetupForm::ReportLines() const {
  std::vector<std::string> out;
  TkoDeviceVX310* d = Drive();
  if (d == nullptr) return out;
  for (vx::ReportLine& l : BuildReport(*d, *this)) out.push_back(std::move(l.Text));
  return out;
}

void TSetupForm::acPrintExecute() {
  TkoDeviceVX310* d = Drive();
  if (d == nullptr) return;
  WriteLog("Printing drive setup...");
  std::unique_ptr<QTextDocument> doc = vx::MakeReportDocument(BuildReport(*d, *this));
  koPrintDoc_->OnPrinterDialog = AskPrinter;
  koPrintDoc_->Doc = doc.get();
  koPrintDoc_->Title = QStringLiteral("VX310_CfgTrm_Report");
  const bool printed = koPrintDoc_->Execute(true);
  koPrintDoc_->Doc = nullptr;
  if (printed)
    WriteLog("Drive setup printed.");
  else if (!koPrintDoc_->LastError().isEmpty())
    WriteLog("Printing failed: " + vx::FromQString(koPrintDoc_->LastError()));
}

bool TSetupForm::CloseQuery() {
  TkoDeviceVX310* d = Drive();
  if (d == nullptr || d->GetState() != TkoDeviceSetup::dsReady) return true;
  QString text;
  switch (d->GetSetupState()) {
    case TkoDeviceVXSlave::ssModified:
      text = QStringLiteral(
          "Setup has been modified but not sent nor saved.\n\rAre you sure to close without "
          "update and save?");
      break;
    case TkoDeviceVXSlave::ssSentNotSaved:
      text = QStringLiteral(
          "Program has been modified and sent but not saved permanently.\n\rAre you sure to "
          "close without save?");
      break;
    default:
      return true;
  }
  // The caption may carry the setup's state; the box is titled with the window's name.
  const QString title = QStringLiteral("VX310 Setup");
  if (vx::Dialogs().AskYesNo) return vx::Dialogs().AskYesNo(this, title, text);
  // A warning rather than a plain question: closing here loses the changes.
  return QMessageBox::warning(this, title, vx::MessageText(text),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) == QMessageBox::Yes;
}

bool TSetupForm::AskLoseEdits(const QString& question) {
  const QString text =
      QStringLiteral("Setup has been modified but not sent nor saved.\n\r") + question;
  const QString title = QStringLiteral("VX310 Setup");
  if (vx::Dialogs().AskYesNo) return vx::Dialogs().AskYesNo(this, title, text);
  return QMessageBox::warning(this, title, vx::MessageText(text),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) == QMessageBox::Yes;
}

bool TSetupForm::DropDriveQuery() {
  TkoDeviceVX310* d = Drive();
  if (d == nullptr) return true;
  if (d->GetSetupState() != TkoDeviceVXSlave::ssModified && !d->HasLocalEdits()) return true;
  return AskLoseEdits(QStringLiteral("Are you sure to disconnect without update and save?"));
}

bool TSetupForm::ExitQuery() {
  if (DriveReady()) return CloseQuery();
  TkoDeviceVX310* d = Drive();
  if (d == nullptr) return true;
  if (d->GetSetupState() != TkoDeviceVXSlave::ssModified && !d->HasLocalEdits()) return true;
  return AskLoseEdits(QStringLiteral("Are you sure to exit without update and save?"));
}

void TSetupForm::LogKeptEdits() {
  TkoDeviceVX310* d = Drive();
  if (d == nullptr || d->KeptByLastRead().empty()) return;
  const auto& kept = d->KeptByLastRead();
  WriteLog(Format("Setup read: %d value(s) changed here and not sent are kept:",
                  static_cast<int>(kept.size())));
  for (const TkoDeviceVXSlave::KeptEdit& k : kept) {
    const std::string name = k.Descr.empty() ? k.Name : k.Descr;
    WriteLog(" -> " + name + " = " + k.Kept + " (drive: " + k.Drive + ")");
  }
}

void TSetupForm::UpdateCaption() {
  TkoDeviceVX310* d = Drive();
  QString caption = QStringLiteral("VX310 Setup");
  if (d != nullptr && d->GetSetupState() == TkoDeviceVXSlave::ssModified)
    caption += QStringLiteral(" - modified, not sent");
  else if (d != nullptr && d->GetSetupState() == TkoDeviceVXSlave::ssSentNotSaved)
    caption += QStringLiteral(" - sent, not saved");
  if (windowTitle() != caption) setWindowTitle(caption);
}

void TSetupForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Restoring a minimised window is no new showing: no fresh read then.
  if (event->spontaneous()) return;
  pages_->setCurrentIndex(0);
  if (TkoDeviceVX310* d = Drive()) d->StartSetupRead();
  UpdateActions();
}

void TSetupForm::closeEvent(QCloseEvent* event) {
  koInterface_->EndEdit();
  if (!CloseQuery()) {
    event->ignore();
    return;
  }
  SavePosition();
  event->accept();
}
