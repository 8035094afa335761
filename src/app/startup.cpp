#include "app/startup.h"

#include <QApplication>
#include <QScreen>
#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#endif
#include <QWidget>
#include <algorithm>
#include <string>

#include "app/aboutwin.h"
#include "app/controlwin.h"
#include "app/datapaths.h"
#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "app/monitorwin.h"
#include "app/scopewin.h"
#include "app/setupwin.h"
#include "config/inifile.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "paramui/userinterfaceutils.h"
#include "regmodel/dmcollection.h"
#include "regmodel/numberformat.h"
#include "regmodel/regdefinition.h"
#include "regmodel/regdefslist.h"
#include "tools/supporteddevicelist.h"

void UseTerminalFormats() {
  vx::FormatSettings formats;
  formats.DecimalSeparator = '.';
  formats.ThousandSeparator = '\'';
  formats.DateSeparator = '/';
  formats.TimeSeparator = ':';
  vx::SetFormats(formats);
}

TApplicationWindows::TApplicationWindows(const std::string& startDirectory) {
  mainForm_ = std::make_unique<TMainForm>(startDirectory);
  network_ = std::make_unique<TNetwork>(mainForm_->SupervisorHooks());
  mainForm_->SetNetwork(network_.get());
  // Data models: the start directory first, then the engineer's own folder, then those
  // installed with the program. The supported-device list shows the folder chosen.
  const vx::DataPaths paths = vx::ProcessDataPaths(mainForm_->StartDirectory());
  TkoMBNetwork* net = network_->koMBNetwork();
  net->SetFilePath(paths.ModelFolder(net->DMCollection()->FileExt));
  // Every later window finds its position in the settings file of the start directory.
  const std::string settings = mainForm_->SettingsFile();
  const auto device = [this] { return network_ ? network_->Device() : nullptr; };

  setupForm_ = std::make_unique<TSetupForm>();
  setupForm_->Device = device;
  setupForm_->Log = [this](const std::string& line) { mainForm_->AddMessage(line); };
  setupForm_->SetSettingsFile(settings);

  scopeForm_ = std::make_unique<TScopeForm>(settings);

  controlForm_ = std::make_unique<TControlForm>();
  controlForm_->Device = device;
  controlForm_->RefreshSetup = [this] { setupForm_->RefreshData(); };
  controlForm_->Log = [this](const std::string& line) { mainForm_->AddMessage(line); };
  controlForm_->SetSettingsFile(settings);

  // The about texts are the product's own, kept by hand in a settings file; a settings
  // file without them takes those shipped with the program.
  std::string aboutSettings = settings;
  if (!vx::TIniFile(settings).SectionExists("AboutForm") && !paths.ShippedSettings().empty())
    aboutSettings = paths.ShippedSettings();
  aboutForm_ = std::make_unique<TAboutForm>(aboutSettings);
  aboutForm_->SetDeviceSource([this] { return network_ ? network_->DeviceSetup() : nullptr; });

  // The bus monitor names registers from the data model of the drive connected now.
  monitorForm_ = std::make_unique<TMonitorForm>();
  monitorForm_->SetNames([this](uint8_t slave, uint16_t address) -> std::string {
    TkoDeviceVX310* drive = network_ ? network_->Device() : nullptr;
    if (drive == nullptr || drive->GetSlaveAddress() != slave || drive->DefsList() == nullptr)
      return std::string();
    const TkoRegDefinition* def = drive->DefsList()->FindByAddress(address);
    return def != nullptr ? def->Name : std::string();
  });

  PlaceNewWindows(settings);
  mainForm_->SetDriveWindows(setupForm_.get(), controlForm_.get(), scopeForm_.get());
  mainForm_->SetAboutWindow(aboutForm_.get());
  mainForm_->SetMonitorWindow(monitorForm_.get());
  mainForm_->DropDriveQuery = [this] { return setupForm_->DropDriveQuery(); };
  mainForm_->ExitQuery = [this] { return setupForm_->ExitQuery(); };
  vx::InstallSupportedDeviceList(network_->koMBNetwork(), mainForm_.get());

  TNetworkWindows w;
  w.BuildControls = [this] { controlForm_->BuildControls(); };
  w.BuildPages = [this] { setupForm_->BuildPages(); };
  w.ReleaseDrive = [this] {
    controlForm_->ReleaseDrive();
    setupForm_->ReleaseDrive();
  };
  w.RefreshControls = [this] { controlForm_->koInterface()->RefreshData(); };
  w.FeedScope = [this](double t) { scopeForm_->FeedActState(network_->Device(), t); };
  w.SetupRead = [this] { setupForm_->SetupRead(); };
  w.HideDriveWindows = [this] {
    setupForm_->hide();
    controlForm_->hide();
  };
  w.UpdateActions = [this] {
    setupForm_->UpdateActions();
    controlForm_->UpdateActions();
  };
  w.ConnectionState = [this](const TConnectionStatus& status) { ConnectionStateChanged(status); };
  network_->SetWindows(std::move(w));
}

void TApplicationWindows::ConnectionStateChanged(const TConnectionStatus& status) {
  mainForm_->SetConnectionStatus(status);
  controlForm_->SetConnectionStatus(status);
  if (status.State == TConnectionState::NotResponding || status.State == TConnectionState::Offline)
    scopeForm_->BreakTraces();
}

void TApplicationWindows::ConnectProgramEnd() {
  // exit, not quit: quit asks every window to close once more and ends the loop only if
  // all agree, so a second refusal would leave a process without its main window that
  // goes on polling the drive.
  QObject::connect(mainForm_.get(), &TMainForm::Closed, qApp, [] { QCoreApplication::exit(0); });
#ifndef QT_NO_SESSIONMANAGER
  QObject::connect(
      qApp, &QGuiApplication::commitDataRequest, mainForm_.get(),
      [this](QSessionManager& manager) {
        // Without leave to ask, the session ends the program as it stands.
        if (!manager.allowsInteraction()) return;
        const bool closed = mainForm_->close();
        manager.release();
        if (!closed) manager.cancel();
      },
      Qt::DirectConnection);
#endif
}

void TApplicationWindows::PlaceNewWindows(const std::string& settings) {
  // A window without a stored position would open at the screen's corner, right over the
  // main window: at the first start the drive windows go beside it instead, as far as
  // the screen allows. Once closed, each window keeps the place the engineer gave it.
  const vx::TIniFile ini(settings);
  const QRect mainRect = mainForm_->frameGeometry();
  QScreen* screen = mainForm_->screen();
  const QRect room = screen ? screen->availableGeometry() : QRect();
  const auto place = [&](QWidget* window, const char* section, QPoint at) {
    if (ini.SectionExists(section)) return;
    if (!room.isEmpty()) {
      at.setX(std::max(room.left(), std::min(at.x(), room.right() - window->width())));
      at.setY(std::max(room.top(), std::min(at.y(), room.bottom() - window->height())));
    }
    window->move(at);
  };
  place(setupForm_.get(), "SetupForm", QPoint(mainRect.right() + 1, mainRect.top()));
  place(controlForm_.get(), "ControlForm", QPoint(mainRect.left(), mainRect.bottom() + 1));
  place(scopeForm_.get(), "ScopeForm",
        QPoint(mainRect.left() + controlForm_->width(), mainRect.bottom() + 1));
}

TApplicationWindows::~TApplicationWindows() {
  // The connection goes first: its thread hands its last work to the dispatcher, and the
  // windows it feeds must still be there. Then the others in reverse order.
  network_.reset();
  mainForm_->SetNetwork(nullptr);
  monitorForm_.reset();
  aboutForm_.reset();
  controlForm_.reset();
  scopeForm_.reset();
  setupForm_.reset();
  mainForm_.reset();
}
