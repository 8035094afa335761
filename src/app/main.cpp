// The terminal's entry: fixed formats, the Qt dispatcher of the engine, the windows in
// their start-up order, the event loop.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "app/aboutwin.h"
#include "app/controlwin.h"
#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "app/setupwin.h"
#include "devices/mbnetwork.h"
#include "graph/scopewin.h"
#include "paramui/qtdispatcher.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"
#include "paramui/userinterfaceutils.h"
#include "regmodel/numberformat.h"
#include "tools/supporteddevicelist.h"

namespace {

// Numbers and dates look the same on every machine; the system's regional settings are
// never consulted, now or later.
void FixFormats() {
  vx::FormatSettings formats;
  formats.DecimalSeparator = '.';
  formats.ThousandSeparator = '\'';
  formats.DateSeparator = '/';
  formats.TimeSeparator = ':';
  vx::SetFormats(formats);
}

// The windows of the program, created in this order and destroyed in the reverse one.
// The supervisor reaches the others through hooks, and they reach the drive through the
// supervisor, which goes first at the end.
struct Windows {
  std::unique_ptr<TMainForm> MainForm;
  std::unique_ptr<TNetwork> Network;
  std::unique_ptr<TSetupForm> SetupForm;
  std::unique_ptr<TScopeForm> ScopeForm;
  std::unique_ptr<TControlForm> ControlForm;
  std::unique_ptr<TAboutForm> AboutForm;

  void Create() {
    MainForm = std::make_unique<TMainForm>();
    Network = std::make_unique<TNetwork>(MainForm.get());
    MainForm->SetNetwork(Network.get());
    const std::string settings = MainForm->SettingsFile();
    const auto device = [this] { return Network ? Network->Device() : nullptr; };

    SetupForm = std::make_unique<TSetupForm>();
    SetupForm->Device = device;
    SetupForm->Log = [this](const std::string& line) { MainForm->AddMessage(line); };
    SetupForm->SetSettingsFile(settings);

    ScopeForm = std::make_unique<TScopeForm>(settings);

    ControlForm = std::make_unique<TControlForm>();
    ControlForm->Device = device;
    ControlForm->RefreshSetup = [this] { SetupForm->RefreshData(); };
    ControlForm->SetSettingsFile(settings);

    AboutForm = std::make_unique<TAboutForm>(settings);
    AboutForm->SetDeviceSource([this] { return Network ? Network->DeviceSetup() : nullptr; });

    MainForm->SetDriveWindows(SetupForm.get(), ControlForm.get(), ScopeForm.get());
    MainForm->SetAboutWindow(AboutForm.get());
    vx::InstallSupportedDeviceList(Network->koMBNetwork(), MainForm.get());

    TNetworkWindows w;
    w.BuildControls = [this] { ControlForm->BuildControls(); };
    w.BuildPages = [this] { SetupForm->BuildPages(); };
    w.ReleaseDrive = [this] {
      ControlForm->ReleaseDrive();
      SetupForm->ReleaseDrive();
    };
    w.RefreshControls = [this] { ControlForm->koInterface()->RefreshData(); };
    w.FeedScope = [this](double t) { ScopeForm->FeedActState(Network->Device(), t); };
    w.SetupRead = [this] { SetupForm->SetupRead(); };
    w.HideDriveWindows = [this] {
      SetupForm->hide();
      ControlForm->hide();
    };
    w.UpdateActions = [this] {
      SetupForm->UpdateActions();
      ControlForm->UpdateActions();
    };
    Network->SetWindows(std::move(w));
  }

  void Destroy() {
    // The connection goes first: its thread hands its last work to the dispatcher, and
    // the windows it feeds must still be there.
    Network.reset();
    if (MainForm) MainForm->SetNetwork(nullptr);
    AboutForm.reset();
    ControlForm.reset();
    ScopeForm.reset();
    SetupForm.reset();
    MainForm.reset();
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  FixFormats();
  QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
  // The main window's close ends the program even while other windows are shown.
  QApplication::setQuitOnLastWindowClosed(false);

  vx::QtDispatcher dispatcher;
  vx::ScopedDispatcher installed(dispatcher);

  Windows windows;
  try {
    windows.Create();
    QObject::connect(windows.MainForm.get(), &TMainForm::Closed, &app, &QApplication::quit);
    windows.MainForm->show();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QString::fromLatin1(kAppTitle), vx::ToQString(e.what()));
    windows.Destroy();
    return 1;
  }

  const int rc = app.exec();
  windows.Destroy();
  return rc;
}
