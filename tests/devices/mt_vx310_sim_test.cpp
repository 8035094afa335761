// The VX310 class end to end: a network with one connection and one device setup is put
// on line against the drive simulator (Modbus TCP on loopback, served from a thread of
// this process, its EEPROM kept in a state file of this test process). Identification
// creates the drive object; the test thread plays the user-interface thread.
#if __has_include("sim/simserver.h")
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devicekit.h"
#include "devices/devicesetup.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "mbwire/mbresult.h"
#include "modbus/mbenginekit.h"
#include "modbus/mbseams.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"
#include "platform/watchdog.h"
#include "regmodel/dmcollection.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"
#include "sim/serveddrive.h"
#include "sim/simdrive.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr auto kLong = std::chrono::milliseconds(vxtest::kGenerous);
const std::string kModelDir = std::string(VX_SOURCE_DIR) + "/models";

using vxtest::RecordingServer;

class VX310OnSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove(stateFile);
    sim = std::make_unique<vxtest::ServedDrive>(vxtest::Line::kTcp, vx::SimServerOptions{},
                                                "vx310sim",
                                                vx::SimDriveOptions{.stateFile = stateFile});
    TkoMBThread::SetServerFactory([log = log] { return std::make_unique<RecordingServer>(log); });
    net = std::make_unique<TkoMBNetwork>();
    net->SetFilePath(kModelDir);
    ASSERT_TRUE(vxtest::AddSimConnection(*net, sim->TcpPort(), "drive", 5, conn, dev));
    net->SetOnLine(true);
    ASSERT_TRUE(vxtest::PumpUntilVX310(ui, *dev, kLong));
    drive = static_cast<TkoDeviceVX310*>(dev->GetSlave());
  }
  void TearDown() override {
    net.reset();
    TkoMBThread::ResetServerFactory();
    std::filesystem::remove(stateFile);
  }
  void WaitCycles(uint64_t n) {
    TkoMBThread* t = conn->GetThread();
    const uint64_t target = t->GetCycleCount() + n;
    ASSERT_TRUE(ui.PumpUntil([&] { return t->GetCycleCount() >= target; }, kLong));
    ui.PumpPending();
  }
  // An EEPROM word of the simulator's state file; -1 when it has none (yet).
  static int EepromWord(const std::string& file, uint16_t address) {
    if (!std::filesystem::exists(file)) return -1;
    TkoTextResource state(file);
    const std::string text = state.ReadString("EEPROM", std::to_string(address), "");
    return text.empty() ? -1 : static_cast<int>(std::stoul(text, nullptr, 16));
  }
  std::vector<Bytes> Queries() {
    std::lock_guard guard(log->mutex);
    return log->queries;
  }

  const std::string stateFile =
      (std::filesystem::path(::testing::TempDir()) / ("vx310_eeprom_" + std::to_string(::getpid())))
          .string();
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::shared_ptr<RecordingServer::Log> log = std::make_shared<RecordingServer::Log>();
  std::unique_ptr<vxtest::ServedDrive> sim;
  std::unique_ptr<TkoMBNetwork> net;
  TkoMBThreadSetup* conn = nullptr;
  TkoDeviceSetup* dev = nullptr;
  TkoDeviceVX310* drive = nullptr;
};

TEST_F(VX310OnSimTest, TheActualStateIsReadEveryCycleAndTheSetupOnce) {
  int states = 0, setupReads = 0;
  drive->OnActState = [&](TkoDeviceVXSlave*, TkoMBTransaction*) { ++states; };
  drive->OnSetupRead = [&](TkoDeviceVXSlave*, TkoMBTransaction*) { ++setupReads; };
  ASSERT_TRUE(
      ui.PumpUntil([&] { return drive->GetSetupState() == TkoDeviceVXSlave::ssInStep; }, kLong));
  const int setupRuns = drive->ReadRamSetup->GetRunCount();
  const int stateRuns = drive->ReadActState->GetRunCount();
  const int stateErrors = drive->ReadActState->GetErrorCount();
  states = 0;
  const uint64_t cycles0 = conn->GetThread()->GetCycleCount();
  WaitCycles(20);
  const uint64_t cycles = conn->GetThread()->GetCycleCount() - cycles0;
  const int reads = drive->ReadActState->GetRunCount() - stateRuns;
  // Each cycle reads the state once; a result may still be on its way at either end.
  EXPECT_GE(reads, static_cast<int>(cycles) - 2);
  EXPECT_LE(reads, static_cast<int>(cycles) + 2);
  EXPECT_EQ(states, reads - (drive->ReadActState->GetErrorCount() - stateErrors))
      << "every answered read is notified";
  // The setup read is repeated only until it is answered once (a loaded machine may time
  // an early one out).
  EXPECT_EQ(setupRuns - drive->ReadRamSetup->GetErrorCount(), 1);
  EXPECT_EQ(drive->ReadRamSetup->GetRunCount(), setupRuns) << "nothing after the answer";
  EXPECT_LE(setupReads, 1);
  EXPECT_FALSE(drive->ReadRamSetup->GetEnabled());
  // The values are the drive's: its default acceleration, not the image's zero.
  EXPECT_DOUBLE_EQ(drive->ParMotorAccel->GetValue(), 5000);
}

TEST_F(VX310OnSimTest, AChangedSetupIsSentThenSavedToTheDrivesEeprom) {
  ASSERT_TRUE(
      ui.PumpUntil([&] { return drive->GetSetupState() == TkoDeviceVXSlave::ssInStep; }, kLong));
  const uint16_t eeAccel = drive->ParMotorAccel->Register->Definition()->EEPromCopy;
  ASSERT_NE(eeAccel, drive->ParMotorAccel->Register->Definition()->Address);
  drive->ParMotorAccel->SetValue(1234);
  EXPECT_EQ(drive->GetSetupState(), TkoDeviceVXSlave::ssModified);

  int eepromWhenSent = -2;
  bool saved = false;
  drive->OnSetupSent = [&](TkoDeviceVXSlave*, TkoMBTransaction*) {
    eepromWhenSent = EepromWord(stateFile, eeAccel);
  };
  drive->OnSetupSaved = [&](TkoDeviceVXSlave*, TkoMBTransaction* t) {
    EXPECT_EQ(t->GetLastError(), 0);
    saved = true;
  };
  drive->StartSetupSendAndSave();
  ASSERT_TRUE(ui.PumpUntil([&] { return saved; }, kLong));
  EXPECT_NE(eepromWhenSent, 1234) << "the send reaches the RAM only";
  EXPECT_EQ(EepromWord(stateFile, eeAccel), 1234);
  EXPECT_EQ(drive->GetSetupState(), TkoDeviceVXSlave::ssInStep);

  // A fresh read finds the value in the drive: an image value changed here and given up
  // (as Reload does once the engineer agrees) is replaced by the drive's.
  drive->ParMotorAccel->SetValue(999);
  drive->DiscardLocalEdits();
  drive->StartSetupRead();
  ASSERT_TRUE(ui.PumpUntil(
      [&] { return !drive->ReadRamSetup->GetEnabled() && !drive->ReadRamSetup->GetBusy(); },
      kLong));
  EXPECT_DOUBLE_EQ(drive->ParMotorAccel->GetValue(), 1234);
}

TEST_F(VX310OnSimTest, ThePositionTargetReachesTheDriveInOneWrite) {
  TkoParLong* target = drive->ParPosPktTarget;
  ASSERT_NE(target, nullptr);
  // The first setup read would put the drive's target back into the image.
  ASSERT_TRUE(
      ui.PumpUntil([&] { return drive->GetSetupState() == TkoDeviceVXSlave::ssInStep; }, kLong));
  const uint16_t low = target->Register->Definition()->Address;
  target->SetValue(65535);
  target->SetValue(65536);
  const std::size_t before = Queries().size();
  drive->WriteRefPos->SetEnabled(true);
  ASSERT_TRUE(ui.PumpUntil([&] { return drive->WriteRefPos->GetRunCount() == 1; }, kLong));
  EXPECT_EQ(drive->WriteRefPos->GetLastError(), 0);
  const std::vector<Bytes> sent = Queries();
  std::vector<Bytes> writes;
  for (std::size_t i = before; i < sent.size(); ++i)
    if (sent[i][1] == 0x10 || sent[i][1] == 0x06) writes.push_back(sent[i]);
  const Bytes expected{
      1, 0x10, static_cast<uint8_t>(low >> 8), static_cast<uint8_t>(low & 0xFF), 0, 2, 4, 0, 0,
      0, 1};
  EXPECT_EQ(writes, std::vector<Bytes>{expected});

  // Read back from the drive, not from the image the write was sent from.
  target->SetLong(0);
  EXPECT_EQ(target->ReadNow(), 0);
  EXPECT_EQ(target->GetLong(), 65536u);
}

TEST_F(VX310OnSimTest, ASetupReadIntoACopyLeavesTheImageAsItIs) {
  ASSERT_TRUE(
      ui.PumpUntil([&] { return drive->GetSetupState() == TkoDeviceVXSlave::ssInStep; }, kLong));
  drive->ParMotorAccel->SetValue(1234);  // edited here, not sent
  const std::size_t transactions = drive->GetTransactions().Size();
  const uint16_t accel = drive->ParMotorAccel->Register->Definition()->Address;

  TkoRegDataBuffer copy(drive->DefsList());
  EXPECT_EQ(drive->ReadSetupInto(copy), 0);
  EXPECT_EQ(copy.RegisterAt(accel)->GetValueInteger(0), 5000) << "the drive's value";
  EXPECT_DOUBLE_EQ(drive->ParMotorAccel->GetValue(), 1234);
  EXPECT_EQ(drive->GetSetupState(), TkoDeviceVXSlave::ssModified);
  EXPECT_TRUE(drive->HasLocalEdits());
  EXPECT_EQ(drive->GetTransactions().Size(), transactions) << "the read's transaction is gone";

  // Refused without a transfer: a copy of another data model, a category the model lacks.
  TkoDMCollection again;
  again.SetFilePath(kModelDir);
  TkoRegDataBuffer foreign(again.FindRegDefsListFor(&drive->GetVersion()));
  const std::size_t queries = Queries().size();
  EXPECT_EQ(drive->ReadSetupInto(foreign), vx::mbresult::kNoDataBuffer);
  EXPECT_EQ(drive->ReadCategoryInto("NoSuchCategory", copy), vx::mbresult::kNoDataBuffer);
  EXPECT_EQ(Queries().size(), queries);

  // A drive gone from the line: an error, and the image still holds what was edited.
  sim.reset();
  copy.RegisterAt(accel)->SetValueInteger(0, 4321);
  EXPECT_NE(drive->ReadSetupInto(copy), 0);
  EXPECT_EQ(copy.RegisterAt(accel)->GetValueInteger(0), 4321);
  EXPECT_DOUBLE_EQ(drive->ParMotorAccel->GetValue(), 1234);
}

}  // namespace
#endif
