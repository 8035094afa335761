// The program's windows as start-up wires them, against the drive simulator served from
// a thread of this process over Modbus TCP: a connect reaches every window (setup pages
// shown by the first setup read, remote control list, oscilloscope fed), the main
// window's switches open them, a disconnect hides the drive windows, and the program can
// end while connected. The test thread plays the user-interface thread.
#include <gtest/gtest.h>

#include <QAction>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/aboutwin.h"
#include "app/controlwin.h"
#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "app/setupwin.h"
#include "app/startup.h"
#include "apptest.h"
#include "graph/graphtraccia.h"
#include "graph/scopewin.h"
#include "modbus/mbserial.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"

namespace {

const std::string kModel = std::string(VX_SOURCE_DIR) + "/models/VX310v220.par";

class StartupOnSim : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<vxtest::ServedDrive>(vxtest::Line::kTcp, vx::SimServerOptions{},
                                                "startup");
    std::filesystem::copy_file(kModel, dir.File("VX310v220.par"));
    dir.Write("VX310_ConfigTerm.ini",
              "[Ports]\r\nCOM1=tcp:127.0.0.1:" + std::to_string(sim->TcpPort()) + "\r\n");
    windows = std::make_unique<TApplicationWindows>(dir.Path());
    windows->MainForm()->show();
  }
  void TearDown() override {
    windows.reset();
    sim.reset();
    vx::ResetComPortPaths();
  }
  bool Pump(const std::function<bool()>& done) {
    return ui.PumpUntil(done, std::chrono::seconds(60));
  }
  bool Connect() {
    windows->MainForm()->acOpenConnection->trigger();
    return Pump([&] { return windows->SetupForm()->isVisible(); });
  }

  bool appReady = (vxtest::App(), true);
  vxtest::ScratchDir dir{"startup"};
  vxtest::FakeDialogs dialogs;
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::unique_ptr<vxtest::ServedDrive> sim;
  std::unique_ptr<TApplicationWindows> windows;
};

TEST_F(StartupOnSim, ConnectReachesEveryWindowAndDisconnectHidesTheDriveWindows) {
  TMainForm* main = windows->MainForm();
  // Only the main window at start, and no drive window to open.
  EXPECT_FALSE(windows->SetupForm()->isVisible());
  EXPECT_FALSE(windows->ControlForm()->isVisible());
  EXPECT_FALSE(windows->ScopeForm()->isVisible());
  EXPECT_FALSE(windows->AboutForm()->isVisible());
  EXPECT_FALSE(main->acSetupForm->isEnabled());
  // Without stored positions the drive windows do not open right over the main window.
  for (QWidget* w : std::initializer_list<QWidget*>{windows->SetupForm(), windows->ControlForm(),
                                                    windows->ScopeForm()})
    EXPECT_NE(w->pos(), main->pos()) << w->windowTitle().toStdString();

  // The first setup read shows the setup pages by itself.
  ASSERT_TRUE(Connect());
  EXPECT_TRUE(main->acSetupForm->isChecked());
  EXPECT_GT(windows->ControlForm()->lvControl()->topLevelItemCount(), 0);
  ASSERT_TRUE(Pump([&] { return windows->ScopeForm()->VoltTrace()->Count() >= 3; }));

  main->acRemoteCtrl->trigger();
  main->acViewScope->trigger();
  EXPECT_TRUE(windows->ControlForm()->isVisible());
  EXPECT_TRUE(windows->ScopeForm()->isVisible());
  main->acSetupForm->trigger();
  EXPECT_FALSE(windows->SetupForm()->isVisible());
  main->acSetupForm->trigger();

  main->acCloseConnection->trigger();
  EXPECT_FALSE(windows->SetupForm()->isVisible());
  EXPECT_FALSE(windows->ControlForm()->isVisible());
  EXPECT_TRUE(windows->ScopeForm()->isVisible());
  EXPECT_FALSE(main->acSetupForm->isEnabled());
  EXPECT_EQ(windows->Network()->Device(), nullptr);
}

TEST_F(StartupOnSim, ProgramEndsWhileConnected) {
  ASSERT_TRUE(Connect());
  windows->MainForm()->acRemoteCtrl->trigger();
  ASSERT_TRUE(Pump([&] { return windows->ScopeForm()->VoltTrace()->Count() >= 2; }));
  windows->MainForm()->close();
  // Everything goes down with the connection running; the settings were stored.
  windows.reset();
  const std::string settings = dir.Read("VX310_ConfigTerm.ini");
  EXPECT_NE(settings.find("LastPort=1"), std::string::npos) << settings;
  EXPECT_NE(settings.find("COM1=tcp:"), std::string::npos) << settings;
}

}  // namespace
