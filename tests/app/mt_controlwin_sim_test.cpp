// The remote control window end to end: the main window and the supervisor connect to the
// drive simulator (Modbus TCP on loopback, served from a thread of this process) and bind
// the window as the program does; every press goes through the supervisor's write
// handlers to the drive. The test thread plays the user-interface thread.
//
// With VX_SHOT_DIR set, the connected window is saved there: controlwin.png in speed mode,
// controlwin_position.png in position mode.
#include <gtest/gtest.h>

#include <QAction>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/controlwin.h"
#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "apptest.h"
#include "config/portsettings.h"
#include "devices/vx310.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "modbus/mbenginekit.h"
#include "modbus/mbseams.h"
#include "modbus/mbthread.h"
#include "modbus/mbtransakinds.h"
#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "paramui/textcodec.h"
#include "paramui/userinterfaceutils.h"
#include "platform/queuedispatcher.h"
#include "regmodel/register.h"
#include "sim/serveddrive.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr auto kLong = std::chrono::seconds(60);
const std::string kModel = std::string(VX_SOURCE_DIR) + "/models/VX310v220.par";

using vxtest::RecordingServer;

class ControlOnSim : public ::testing::Test {
 protected:
  void SetUp() override {
    TkoMBThread::SetServerFactory([log = log] { return std::make_unique<RecordingServer>(log); });
    std::filesystem::copy_file(kModel, dir.File("VX310v220.par"));
    sim = std::make_unique<vxtest::ServedDrive>(vxtest::Line::kTcp, vx::SimServerOptions{},
                                                "controlwin");
    dir.Write("VX310_ConfigTerm.ini",
              "[Ports]\r\nCOM1=tcp:127.0.0.1:" + std::to_string(sim->TcpPort()) + "\r\n");
    main = std::make_unique<TMainForm>(dir.Path());
    net = std::make_unique<TNetwork>(main->SupervisorHooks());
    main->SetNetwork(net.get());
    control = std::make_unique<TControlForm>();
    control->SetSettingsFile(dir.File("VX310_ConfigTerm.ini"));
    // The supervisor disconnects in its destructor, while `net` already reads null.
    control->Device = [supervisor = net.get()] { return supervisor->Device(); };
    main->SetDriveWindows(&setupWin, control.get(), &scopeWin);
    // The windows as the program wires them.
    TNetworkWindows w;
    w.BuildControls = [this] { control->BuildControls(); };
    w.ReleaseDrive = [this] { control->ReleaseDrive(); };
    w.RefreshControls = [this] {
      ++actStates;
      control->koInterface()->RefreshData();
    };
    w.HideDriveWindows = [this] {
      setupWin.hide();
      control->hide();
    };
    net->SetWindows(std::move(w));
  }
  void TearDown() override {
    net.reset();
    control.reset();
    main.reset();
    sim.reset();
    TkoMBThread::ResetServerFactory();
    vx::ResetComPortPaths();
  }
  bool Pump(const std::function<bool()>& done) { return ui.PumpUntil(done, kLong); }
  // Connected, identified, and the drive's setup read into the image.
  void ConnectAndWaitForSetup() {
    main->acOpenConnection->trigger();
    ASSERT_TRUE(Pump([&] {
      TkoDeviceVX310* d = net->Device();
      return d != nullptr && d->GetSetupState() == TkoDeviceVXSlave::ssInStep;
    }));
    drive = net->Device();
    // The window reads back the command and reference it shows before it steps them.
    ASSERT_TRUE(Pump([&] {
      return !control->koInterface()->IsUnknown(drive->ParSpeedRef) &&
             !control->koInterface()->IsUnknown(drive->CmdDriveEnable);
    }));
    control->UpdateActions();
  }
  // The configuration the setup window would have sent: commands and reference from the
  // field bus, and the mode asked for.
  void Configure(bool positionMode, int64_t refSource = 1) {
    drive->CfgCmdFromBus->SetBool(true);
    drive->CfgRefSource->SetField(refSource);
    drive->CfgPositionMode->SetBool(positionMode);  // the supervisor writes the register
    ASSERT_EQ(drive->CfgPositionMode->ReadNow(), 0);
    ASSERT_EQ(drive->CfgRefSource->GetField(), refSource) << "the drive holds the setting";
    control->koInterface()->RefreshData();
  }
  // Pumps until the next actual-state reads have refreshed the window.
  void WaitStates(int n) {
    const int target = actStates + n;
    ASSERT_TRUE(Pump([&] { return actStates >= target; }));
  }
  void Press(QAction* action) {
    ASSERT_TRUE(action->isEnabled()) << vx::FromQString(action->text());
    action->trigger();
  }
  std::vector<Bytes> WritesSince(std::size_t first) {
    std::lock_guard guard(log->mutex);
    std::vector<Bytes> writes;
    for (std::size_t i = first; i < log->queries.size(); ++i)
      if (log->queries[i].size() > 1 && (log->queries[i][1] == 0x10 || log->queries[i][1] == 0x06))
        writes.push_back(log->queries[i]);
    return writes;
  }
  std::size_t QueryCount() {
    std::lock_guard guard(log->mutex);
    return log->queries.size();
  }
  std::string Cell(int row, int column) const {
    return vx::FromQString(control->lvControl()->topLevelItem(row)->text(column));
  }
  void Shoot(const char* name) {
    const QString shots = qEnvironmentVariable("VX_SHOT_DIR");
    if (shots.isEmpty()) return;
    control->show();
    control->grab().save(shots + QLatin1Char('/') + QLatin1String(name));
  }

  bool appReady = (vxtest::App(), true);
  vxtest::ScratchDir dir{"controlwin"};
  vxtest::FakeDialogs dialogs;
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::shared_ptr<RecordingServer::Log> log = std::make_shared<RecordingServer::Log>();
  std::unique_ptr<vxtest::ServedDrive> sim;
  QWidget setupWin, scopeWin;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TNetwork> net;
  std::unique_ptr<TControlForm> control;
  TkoDeviceVX310* drive = nullptr;
  int actStates = 0;
};

TEST_F(ControlOnSim, ActionsFollowTheDriveState) {
  QAction* all[] = {control->acDriveEnable, control->acResetCounter, control->acExecuteZero,
                    control->acSyncSignal,  control->acRefUp,        control->acRefDwn,
                    control->acRefInvert,   control->acRefZero};
  for (QAction* a : all) EXPECT_FALSE(a->isEnabled()) << "before connecting";
  ConnectAndWaitForSetup();
  Configure(false, 1);
  for (QAction* a : all) EXPECT_TRUE(a->isEnabled()) << vx::FromQString(a->objectName());

  // No reference source: the references are not the window's to change.
  Configure(false, 0);
  for (QAction* a : {control->acRefUp, control->acRefDwn, control->acRefInvert, control->acRefZero})
    EXPECT_FALSE(a->isEnabled()) << vx::FromQString(a->objectName());
  EXPECT_FALSE(drive->ParSpeedRef->Enabled);
  EXPECT_TRUE(control->acResetCounter->isEnabled());

  // Disconnected: the window lets go of the drive and nothing is enabled.
  main->acCloseConnection->trigger();
  control->UpdateActions();
  for (QAction* a : all) EXPECT_FALSE(a->isEnabled()) << "after disconnecting";
  EXPECT_EQ(control->lvControl()->topLevelItemCount(), 0);
}

TEST_F(ControlOnSim, SpeedReferenceRunsTheMotorAndTheSpeedFollows) {
  ConnectAndWaitForSetup();
  Configure(false);
  ASSERT_NE(drive->ParS_MotorRPM, nullptr);
  const double range = drive->ParSpeedRangeMax->GetValue();
  ASSERT_GT(range, 0);

  Press(control->acDriveEnable);
  EXPECT_EQ(TkoUserInterfaceUtils::ActionPar(control->acDriveEnable), drive->CmdDriveEnable);
  EXPECT_TRUE(control->acDriveEnable->isChecked());
  for (int i = 0; i < 10; ++i) Press(control->acRefUp);
  const double ref = drive->ParSpeedRef->GetValue();
  EXPECT_NEAR(ref, 0.10, 10.0 / 32768);
  EXPECT_EQ(Cell(0, 1), drive->ParSpeedRef->GetValueString()) << "the list shows it at once";
  // The reference reached the drive: read back, it is the drive's and not the image's.
  drive->ParSpeedRef->Register->SetValueInteger(0, 0);
  ASSERT_EQ(drive->ParSpeedRef->ReadNow(), 0);
  EXPECT_DOUBLE_EQ(drive->ParSpeedRef->GetValue(), ref);

  // The motor runs up to the reference and the speed read every cycle follows.
  auto speedNear = [&](double rpm) {
    return Pump([&] { return std::fabs(drive->ParS_MotorRPM->GetValue() - rpm) < range * 0.01; });
  };
  ASSERT_TRUE(speedNear(ref * range)) << drive->ParS_MotorRPM->GetValue();
  WaitStates(1);
  Shoot("controlwin.png");

  Press(control->acRefInvert);
  ASSERT_TRUE(speedNear(-ref * range)) << drive->ParS_MotorRPM->GetValue();
  Press(control->acRefZero);
  ASSERT_TRUE(speedNear(0.0)) << drive->ParS_MotorRPM->GetValue();

  // Off again: the command is cleared on the drive.
  Press(control->acDriveEnable);
  EXPECT_FALSE(control->acDriveEnable->isChecked());
  ASSERT_EQ(drive->CmdDriveEnable->ReadNow(), 0);
  EXPECT_FALSE(drive->CmdDriveEnable->GetBool());
}

TEST_F(ControlOnSim, PositionTargetGoesOutInOneRequestAndTheCounterResets) {
  ConnectAndWaitForSetup();
  Configure(true);
  TkoParLong* target = drive->ParPosPktTarget;
  const uint16_t low = target->Register->Definition()->Address;
  auto oneWriteOf = [&](uint32_t value) {
    return Bytes{1,
                 0x10,
                 static_cast<uint8_t>(low >> 8),
                 static_cast<uint8_t>(low & 0xFF),
                 0,
                 2,
                 4,
                 static_cast<uint8_t>(value >> 8),
                 static_cast<uint8_t>(value),
                 static_cast<uint8_t>(value >> 24),
                 static_cast<uint8_t>(value >> 16)};
  };
  // Both halves change from 65535 to 65536, and from there to its negative.
  target->SetLong(65535);
  ASSERT_TRUE(
      Pump([&] { return !drive->WriteRefPos->GetEnabled() && !drive->WriteRefPos->GetBusy(); }));
  struct Step {
    QAction* action;
    uint32_t expected;
  };
  for (const Step& s : {Step{control->acRefUp, 65536u},
                        Step{control->acRefInvert, static_cast<uint32_t>(-65536)}}) {
    SCOPED_TRACE(vx::FromQString(s.action->objectName()));
    const int runs = drive->WriteRefPos->GetRunCount();
    const std::size_t before = QueryCount();
    Press(s.action);
    EXPECT_EQ(target->GetLong(), s.expected);
    ASSERT_TRUE(Pump([&] { return drive->WriteRefPos->GetRunCount() > runs; }));
    EXPECT_EQ(drive->WriteRefPos->GetLastError(), 0);
    EXPECT_EQ(WritesSince(before), std::vector<Bytes>{oneWriteOf(s.expected)});
  }

  // The motor moves to a near target, stops, and the counter is reset on the drive.
  Press(control->acRefZero);
  Press(control->acDriveEnable);
  target->SetLong(400);
  ASSERT_TRUE(Pump([&] { return drive->ParActualPos->GetLong() == 400u; }))
      << static_cast<int32_t>(drive->ParActualPos->GetLong());
  WaitStates(1);
  Shoot("controlwin_position.png");
  Press(control->acDriveEnable);  // off, so that the motor stays where the counter is reset
  const std::size_t before = QueryCount();
  Press(control->acResetCounter);
  EXPECT_FALSE(control->acResetCounter->isChecked()) << "a pulse, never shown pressed";
  ASSERT_TRUE(Pump([&] { return drive->ParActualPos->GetLong() == 0u; }))
      << static_cast<int32_t>(drive->ParActualPos->GetLong());
  const uint16_t reset = drive->CmdResetCounter->Register->Definition()->Address;
  const std::vector<Bytes> writes = WritesSince(before);
  EXPECT_TRUE(std::any_of(writes.begin(), writes.end(), [&](const Bytes& q) {
    return q[1] == 0x06 && q[2] == (reset >> 8) && q[3] == (reset & 0xFF) && q[5] == 1;
  })) << "the command was written as 1";
}

}  // namespace
