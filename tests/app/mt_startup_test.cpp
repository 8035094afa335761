// The program's windows as start-up wires them, against the drive simulator served from
// a thread of this process over Modbus TCP: a connect reaches every window (setup pages
// shown by the first setup read, remote control list, oscilloscope fed), the main
// window's switches open them, a disconnect hides the drive windows, and the program can
// end while connected. The test thread plays the user-interface thread.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
#include "app/scopewin.h"
#include "app/setupwin.h"
#include "app/startup.h"
#include "apptest.h"
#include "devices/vx310.h"
#include "graph/graphtraccia.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "paramui/userinterfaceutils.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"
#include "terminalsim.h"

namespace {

class StartupOnSim : public vxtest::TerminalOnSim<> {
 protected:
  StartupOnSim() : TerminalOnSim("startup") {}
  void SetUp() override { StartTerminal(); }
  void TearDown() override { StopTerminal(); }
  bool Connect() {
    windows->MainForm()->acOpenConnection->trigger();
    return Pump([&] { return windows->SetupForm()->isVisible(); });
  }
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

// The owner made the settings file read-only to keep it: the terminal says once that the
// settings will not be kept, and no window's close writes it or complains.
TEST_F(StartupOnSim, ReadOnlySettingsFileStaysAsItIs) {
  windows.reset();
  const std::string file = dir.File("VX310_ConfigTerm.ini");
  dir.Write("VX310_ConfigTerm.ini",
            dir.Read("VX310_ConfigTerm.ini") + "[Setup]\r\nLastPort=1\r\nLastSlave=5\r\n");
  const std::string before = dir.Read("VX310_ConfigTerm.ini");
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  windows = std::make_unique<TApplicationWindows>(dir.Path());
  windows->MainForm()->show();
  windows->MainForm()->SelectSlave(1);  // would be written at exit
  ASSERT_TRUE(Connect());
  windows->MainForm()->acRemoteCtrl->trigger();
  windows->MainForm()->acViewScope->trigger();
  for (QWidget* w : std::initializer_list<QWidget*>{windows->SetupForm(), windows->ControlForm(),
                                                    windows->ScopeForm()})
    w->close();
  windows->MainForm()->close();
  const QString log = windows->MainForm()->Controls().Memo->toPlainText();
  windows.reset();
  EXPECT_EQ(log.count(QStringLiteral("is read-only: the settings will not be kept.")), 1)
      << log.toStdString();
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front();
  EXPECT_EQ(dir.Read("VX310_ConfigTerm.ini"), before);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  ::chmod(file.c_str(), 0644);
}

// Values edited in the setup window and not sent go with the drive object: Disconnect, a
// new Connect and the program's exit ask first, and No keeps everything as it is.
TEST_F(StartupOnSim, DisconnectConnectAndExitAskBeforeUnsentEditsGo) {
  TMainForm* main = windows->MainForm();
  ASSERT_TRUE(Connect());
  TkoDeviceVX310* drive = windows->Network()->Device();
  ASSERT_NE(drive, nullptr);
  ASSERT_TRUE(Pump([&] { return drive->GetSetupState() == TkoDeviceVXSlave::ssInStep; }));
  drive->ParMotorDecel->SetValue(drive->ParMotorDecel->GetValue() + 10);
  windows->SetupForm()->koInterface()->DoOnEdited(drive->ParMotorDecel);
  ASSERT_EQ(drive->GetSetupState(), TkoDeviceVXSlave::ssModified);

  const std::string unsent =
      "VX310 Setup|Setup has been modified but not sent nor saved.\n\rAre you sure to "
      "disconnect without update and save?";
  dialogs.yes = false;
  main->acCloseConnection->trigger();
  main->acOpenConnection->trigger();
  main->close();
  EXPECT_EQ(dialogs.questions,
            (std::vector<std::string>{
                unsent, unsent,
                "VX310 Setup|Setup has been modified but not sent nor saved.\n\rAre you sure to "
                "close without update and save?"}));
  EXPECT_TRUE(main->isVisible()) << "the exit was called off";
  EXPECT_EQ(windows->Network()->Device(), drive) << "still connected to the same drive";
  EXPECT_TRUE(windows->SetupForm()->isVisible());

  dialogs.yes = true;
  main->acCloseConnection->trigger();
  EXPECT_EQ(windows->Network()->Device(), nullptr);
  EXPECT_EQ(dialogs.questions.size(), 4u);
  main->close();
  EXPECT_FALSE(main->isVisible());
  EXPECT_EQ(dialogs.questions.size(), 4u) << "nothing left to lose";
}

// Damaged data models are named in the log with the reason and never used; with none
// left, the terminal says that the drive cannot be served.
TEST_F(StartupOnSim, DamagedDataModelsAreNamedAndNotUsed) {
  windows.reset();
  const std::string whole = dir.Read("VX310v220.par");
  std::filesystem::remove(dir.File("VX310v220.par"));
  dir.Write("a_cut.par", whole.substr(0, whole.size() * 3 / 5));
  std::string noise = "[Versions]\r\nVersions=VX310v2*\r\n";
  for (int i = 0; i < 2000; ++i) noise.push_back(static_cast<char>((i * 37 + 11) % 256));
  dir.Write("b_noise.par", noise);
  windows = std::make_unique<TApplicationWindows>(dir.Path());
  TMainForm* main = windows->MainForm();
  main->show();
  main->acOpenConnection->trigger();
  const auto logHas = [&](const QString& text) {
    return main->Controls().Memo->toPlainText().contains(text);
  };
  ASSERT_TRUE(Pump([&] { return logHas(QStringLiteral("No usable data model for VX310v220")); }))
      << main->Controls().Memo->toPlainText().toStdString();
  EXPECT_TRUE(
      logHas(QString::fromStdString("Data model " + dir.File("a_cut.par") + " not used: it ")));
  EXPECT_TRUE(logHas(QString::fromStdString("Data model " + dir.File("b_noise.par") +
                                            " not used: it is not a text file")));
  EXPECT_EQ(windows->Network()->Device(), nullptr);
  EXPECT_FALSE(main->acSetupForm->isEnabled());

  // A whole model put beside them is found at the next connection.
  main->acCloseConnection->trigger();
  dir.Write("c_whole.par", whole);
  main->acOpenConnection->trigger();
  ASSERT_TRUE(Pump([&] { return windows->SetupForm()->isVisible(); }));
  EXPECT_NE(windows->Network()->Device(), nullptr);
}

}  // namespace
