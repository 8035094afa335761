// The supervisor against the drive simulator, served from a thread of this process over
// Modbus TCP on loopback or RTU on a pseudo-terminal: connecting and identifying the
// drive, a drive of another class, a silent line, losing the line, faults, and the main
// window's lists and actions as the connection goes. The test thread plays the
// user-interface thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "apptest.h"
#include "devices/devicesetup.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbserial.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"
#include "supervisorsim.h"

namespace {

const std::string kModel = vxtest::kSupervisorModel;

using vxtest::Drive;
using vxtest::Line;
using vxtest::SupervisorOnSim;

TEST_F(SupervisorOnSim, ConnectsIdentifiesFillsWindowsAndDisconnects) {
  for (Line line : {Line::kTcp, Line::kRtu}) {
    SCOPED_TRACE(line == Line::kTcp ? "TCP" : "RTU");
    TearDown();
    std::filesystem::remove(dir.File("VX310v220.par"));
    calls.clear();
    Drive d;
    d.line = line;
    Start(d);
    EXPECT_TRUE(DriveActionsDisabled());
    ASSERT_TRUE(ConnectAndWaitForSetup());

    // The log tells the story in order, without errors.
    const int started = IndexOf("Connection started.");
    const int found = IndexOf("Device found. Communication running.");
    ASSERT_GE(started, 0);
    EXPECT_GT(found, started);
    EXPECT_GT(IndexOf("Setup dowloaded, data refreshed."), found);
    EXPECT_EQ(CountStarting("Transaction Error: "), 0);
    EXPECT_FALSE(Logged("Device is of the wrong type!"));
    EXPECT_EQ(calls, (std::vector<std::string>{"BuildControls", "BuildPages", "SetupRead"}));
    EXPECT_EQ(form->ConnectAction(), form->acCloseConnection);
    ASSERT_NE(net->Device(), nullptr);
    EXPECT_EQ(net->Device()->GetVersion().ToString(), "VX310v220");
    EXPECT_TRUE(DriveActionsEnabled());

    // Live values and the fault pages arrive with the periodic reads.
    ASSERT_TRUE(Pump(
        [&] { return actStates >= 3 && !form->Controls().ActFaultMemo->toPlainText().isEmpty(); }));
    EXPECT_GT(lastStamp, 0.0);
    EXPECT_EQ(form->Controls().lvActState->topLevelItemCount(), 13);
    EXPECT_EQ(form->Controls().lvHwInfo->topLevelItemCount(), 4);
    EXPECT_FALSE(form->Controls().lvActState->topLevelItem(0)->text(1).isEmpty());
    EXPECT_EQ(form->Controls().lvHwInfo->topLevelItem(0)->text(1).toStdString(),
              net->Device()->ParHWLimitVolt->GetValueString());
    EXPECT_EQ(form->Controls().ActFaultMemo->toPlainText(), "- NO ERROR -");
    EXPECT_EQ(form->Controls().PrevFaultMemo->toPlainText(), "- NO ERROR -");

    // The window toggles show and hide their windows.
    form->acSetupForm->trigger();
    form->acViewScope->trigger();
    form->acRemoteCtrl->trigger();
    EXPECT_TRUE(setupWin.isVisible() && scopeWin.isVisible() && controlWin.isVisible());
    EXPECT_TRUE(form->acSetupForm->isChecked());
    form->acRemoteCtrl->trigger();
    EXPECT_FALSE(controlWin.isVisible());
    EXPECT_FALSE(form->acRemoteCtrl->isChecked());
    form->acRemoteCtrl->trigger();

    // Disconnect: everything goes but the oscilloscope window.
    form->acCloseConnection->trigger();
    EXPECT_TRUE(Logged("Connection closed."));
    EXPECT_EQ(form->ConnectAction(), form->acOpenConnection);
    EXPECT_EQ(net->DeviceSetup(), nullptr);
    EXPECT_EQ(net->Device(), nullptr);
    EXPECT_TRUE(DriveActionsDisabled());
    EXPECT_FALSE(setupWin.isVisible());
    EXPECT_FALSE(controlWin.isVisible());
    EXPECT_TRUE(scopeWin.isVisible());
    EXPECT_EQ(form->Controls().lvActState->topLevelItemCount(), 0);
    scopeWin.hide();
    EXPECT_TRUE(dialogs.messages.empty());
  }
}

TEST_F(SupervisorOnSim, ConnectingAgainReplacesTheConnection) {
  Start(Drive{});
  ASSERT_TRUE(ConnectAndWaitForSetup());
  form->Controls().Memo->clear();
  ASSERT_TRUE(ConnectAndWaitForSetup());
  EXPECT_NE(net->DeviceSetup(), nullptr);
  EXPECT_EQ(net->koMBNetwork()->GetDevCount(), 1);
  EXPECT_TRUE(net->DeviceReady());
  EXPECT_EQ(IndexOf("Connection closed."), 0);
}

TEST_F(SupervisorOnSim, DriveOfAnotherClassIsRefused) {
  // A data model of the sibling drive, so that its version finds one.
  std::ifstream in(kModel, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string model = text.str();
  const std::string from = "Versions=\"VX310v2*\"";
  model.replace(model.find(from), from.size(), "Versions=\"VX220v2*\"");
  dir.Write("VX220v220.par", model);
  Drive d;
  d.version = "VX220v220";
  Start(d);
  form->acOpenConnection->trigger();
  ASSERT_TRUE(Pump([&] { return Logged("Device is of the wrong type!"); }));
  EXPECT_GT(IndexOf("Device is of the wrong type!"),
            IndexOf("Device found. Communication running."));
  EXPECT_EQ(net->Device(), nullptr);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(form->Controls().lvActState->topLevelItemCount(), 0);
  // Drive windows need the served drive.
  EXPECT_TRUE(DriveActionsDisabled());
}

TEST_F(SupervisorOnSim, SilentLineLogsTheTimeoutOnce) {
  Drive d;
  d.silentAfter = 0;
  Start(d);
  form->acOpenConnection->trigger();
  const std::string timeout =
      "Transaction Error: " + TkoMBThread::GetErrorText(vx::mbresult::kTimeout);
  ASSERT_TRUE(Pump([&] { return Logged(timeout); }));
  EXPECT_TRUE(Logged("Connection started."));
  // Two more identification attempts fail the same way and say nothing new.
  TkoMBThread* thread = net->koMBNetwork()->FindMBThread("COM1")->GetThread();
  const uint64_t target = thread->GetCycleCount() + 2 * TkoDeviceSetup::kIdentifyRepeat + 5;
  ASSERT_TRUE(Pump([&] { return thread->GetCycleCount() >= target; }));
  EXPECT_EQ(CountStarting("Transaction Error: "), 1);
  EXPECT_FALSE(Logged("Device found. Communication running."));
  EXPECT_EQ(net->DeviceSetup()->GetState(), TkoDeviceSetup::dsNotIdentified);
  EXPECT_TRUE(DriveActionsDisabled());
}

TEST_F(SupervisorOnSim, LosingTheLineIsReportedAndDisablesTheDriveWindows) {
  Start(Drive{});
  ASSERT_TRUE(ConnectAndWaitForSetup());
  ASSERT_TRUE(DriveActionsEnabled());
  sim->Stop();
  ASSERT_TRUE(Pump([&] {
    return Logged("Device is not responding!") && CountStarting("Transaction Error: ") >= 1;
  })) << form->Controls().Memo->toPlainText().toStdString()
      << "\nstate " << int(net->DeviceSetup()->GetState());
  EXPECT_FALSE(net->DeviceReady());
  EXPECT_TRUE(DriveActionsDisabled());
  form->acCloseConnection->trigger();
  EXPECT_TRUE(Logged("Connection closed."));
}

TEST_F(SupervisorOnSim, PresentAndPreviousFaultsAreListed) {
  Drive d;
  d.faults = {{"ActFault2", 7}, {"ActFault2", 0}};
  Start(d);
  ASSERT_TRUE(ConnectAndWaitForSetup());
  ASSERT_TRUE(Pump([&] { return !form->Controls().ActFaultMemo->toPlainText().isEmpty(); }));
  const QString expected =
      QStringLiteral("F2.00 ModBus communication timeout\nF2.07 Motor stall detected");
  EXPECT_EQ(form->Controls().ActFaultMemo->toPlainText(), expected);
  EXPECT_EQ(form->Controls().PrevFaultMemo->toPlainText(), expected);
}

TEST_F(SupervisorOnSim, ChangedCommandIsWrittenToTheDriveAtOnce) {
  Start(Drive{});
  ASSERT_TRUE(ConnectAndWaitForSetup());
  TkoDeviceVX310* drive = net->Device();
  ASSERT_NE(drive->CmdDriveEnable, nullptr);
  ASSERT_TRUE(drive->CmdDriveEnable->OnChange);
  drive->CmdDriveEnable->SetBool(true);
  // Read back from the drive: the write reached it.
  ASSERT_EQ(drive->CmdDriveEnable->ReadNow(), 0);
  EXPECT_TRUE(drive->CmdDriveEnable->GetBool());
}

}  // namespace
