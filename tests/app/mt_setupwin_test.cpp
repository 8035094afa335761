// The setup window against the drive simulator (Modbus TCP on loopback, served from a
// thread of this process, its EEPROM kept in a state file of this test process): the
// actions follow the drive's setup state, Save reaches the EEPROM, and the close query
// guards changes that are not saved. The test thread plays the user-interface thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/apptest.h"
#include "app/setupwin.h"
#include "devices/devicekit.h"
#include "devices/devicesetup.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "params/parencoded.h"
#include "paramui/userinterfaceutils.h"
#include "platform/queuedispatcher.h"
#include "regmodel/regdefinition.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"
#include "sim/serveddrive.h"
#include "sim/simdrive.h"

namespace {

constexpr auto kLong = std::chrono::seconds(60);
const std::string kModelDir = std::string(VX_SOURCE_DIR) + "/models";

class SetupOnSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vxtest::App();
    std::filesystem::remove(stateFile);
    sim = std::make_unique<vxtest::ServedDrive>(vxtest::Line::kTcp, vx::SimServerOptions{},
                                                "setupwin",
                                                vx::SimDriveOptions{.stateFile = stateFile});
    net = std::make_unique<TkoMBNetwork>();
    net->SetFilePath(kModelDir);
    TkoMBThreadSetup* conn = nullptr;
    ASSERT_TRUE(vxtest::AddSimConnection(*net, sim->TcpPort(), "VX310", 5, conn, dev));
    net->SetOnLine(true);
    ASSERT_TRUE(vxtest::PumpUntilVX310(ui, *dev, kLong));
    drive = static_cast<TkoDeviceVX310*>(dev->GetSlave());

    // The supervisor's part: the window reaches the drive through it, and is refreshed
    // after every setup read.
    form = std::make_unique<TSetupForm>();
    form->Device = [this]() -> TkoDeviceVX310* {
      return dev != nullptr ? dynamic_cast<TkoDeviceVX310*>(dev->GetSlave()) : nullptr;
    };
    form->Log = [this](const std::string& line) { log.push_back(line); };
    drive->OnSetupRead = [this](TkoDeviceVXSlave*, TkoMBTransaction*) {
      ++setupReads;
      form->RefreshData();
    };
    drive->OnSetupSent = [this](TkoDeviceVXSlave* d, TkoMBTransaction*) {
      log.push_back("Setup sent.");
      d->StartSetupRead();
    };
    drive->OnSetupSaved = [this](TkoDeviceVXSlave* d, TkoMBTransaction*) {
      log.push_back("Setup saved.");
      d->StartSetupRead();
    };
    form->BuildPages();
    ASSERT_TRUE(
        ui.PumpUntil([&] { return drive->GetSetupState() == TkoDeviceVXSlave::ssInStep; }, kLong));
    form->UpdateActions();
  }
  void TearDown() override {
    if (form) form->hide();
    form.reset();
    net.reset();
    std::filesystem::remove(stateFile);
  }
  // An EEPROM word of the simulator's state file; -1 when it has none (yet).
  int EepromWord(uint16_t address) const {
    if (!std::filesystem::exists(stateFile)) return -1;
    TkoTextResource state(stateFile);
    const std::string text = state.ReadString("EEPROM", std::to_string(address), "");
    return text.empty() ? -1 : static_cast<int>(std::stoul(text, nullptr, 16));
  }
  // What the in-place editor does.
  void Edit(TkoParValue* par, double value) {
    par->SetValue(value);
    form->koInterface()->DoOnEdited(par);
  }

  const std::string stateFile = (std::filesystem::path(::testing::TempDir()) /
                                 ("setupwin_eeprom_" + std::to_string(::getpid())))
                                    .string();
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  vxtest::FakeDialogs dialogs;
  std::unique_ptr<vxtest::ServedDrive> sim;
  std::unique_ptr<TkoMBNetwork> net;
  TkoDeviceSetup* dev = nullptr;
  TkoDeviceVX310* drive = nullptr;
  std::unique_ptr<TSetupForm> form;
  std::vector<std::string> log;
  int setupReads = 0;
};

TEST_F(SetupOnSimTest, SaveFollowsTheSetupStateAndReachesTheEeprom) {
  EXPECT_TRUE(form->acReload->isEnabled());
  EXPECT_TRUE(form->acSend->isEnabled());
  EXPECT_FALSE(form->acSave->isEnabled()) << "in step with the drive";

  const uint16_t eeAccel = drive->ParMotorAccel->Register->Definition()->EEPromCopy;
  drive->CfgRefSource->SetField(1);
  drive->CfgUseRamp->SetBool(true);
  Edit(drive->ParMotorAccel, 1234);
  EXPECT_EQ(drive->GetSetupState(), TkoDeviceVXSlave::ssModified);
  EXPECT_TRUE(form->acSave->isEnabled());

  form->acSave->trigger();
  EXPECT_EQ(log.front(), "Saving setup...");
  ASSERT_TRUE(ui.PumpUntil([&] { return EepromWord(eeAccel) == 1234; }, kLong));
  ASSERT_TRUE(ui.PumpUntil(
      [&] {
        return drive->GetSetupState() == TkoDeviceVXSlave::ssInStep &&
               !drive->ReadRamSetup->GetEnabled();
      },
      kLong));
  form->UpdateActions();
  EXPECT_FALSE(form->acSave->isEnabled()) << "saved: in step again";
  EXPECT_EQ(log, (std::vector<std::string>{"Saving setup...", "Setup sent.", "Setup saved."}));
  // Read back from the drive: the drive holds the value, not only the image.
  EXPECT_DOUBLE_EQ(drive->ParMotorAccel->GetValue(), 1234);
}

TEST_F(SetupOnSimTest, TheCloseQueryGuardsChangesNotSaved) {
  // Showing reads the setup; an edit before that read is answered would be overwritten.
  const int reads = setupReads;
  form->show();
  ASSERT_TRUE(ui.PumpUntil([&] { return setupReads > reads; }, kLong));
  struct Step {
    const char* name;
    bool send;  // send without save before closing
    const char* question;
  } steps[] = {
      {"modified", false,
       "VX310 Setup|Setup has been modified but not sent nor saved.\n\rAre you sure to close "
       "without update and save?"},
      {"sent, not saved", true,
       "VX310 Setup|Program has been modified and sent but not saved permanently.\n\rAre you "
       "sure to close without save?"},
  };
  double value = 2000;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    value += 100;
    Edit(drive->ParMotorDecel, value);
    if (s.send) {
      ASSERT_TRUE(form->acSend->isEnabled());
      form->acSend->trigger();
      ASSERT_FALSE(log.empty());
      EXPECT_EQ(log.back(), "Sending setup...");
      ASSERT_TRUE(ui.PumpUntil(
          [&] { return drive->GetSetupState() == TkoDeviceVXSlave::ssSentNotSaved; }, kLong))
          << "state " << int(drive->GetSetupState()) << ", send runs "
          << drive->SendRamSetup->GetRunCount() << ", error " << drive->SendRamSetup->GetLastError()
          << ", log " << log.size() << " last " << log.back();
      form->UpdateActions();
      EXPECT_TRUE(form->acSave->isEnabled()) << "sent but not saved";
    }
    dialogs.questions.clear();
    dialogs.yes = false;
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible()) << "No keeps the window open";
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0], s.question);
  }
  dialogs.yes = true;
  EXPECT_TRUE(form->close());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(dialogs.questions.size(), 2u);
}

TEST_F(SetupOnSimTest, ShowingTheWindowReadsTheSetupAgain) {
  const int before = setupReads;
  form->Pages()->setCurrentIndex(3);
  form->show();
  EXPECT_EQ(form->Pages()->currentIndex(), 0) << "opens on the first page";
  ASSERT_TRUE(ui.PumpUntil([&] { return setupReads > before; }, kLong));
  // A window already visible starts no new read; it is only brought to the front.
  const int reads = setupReads;
  const int runs = drive->ReadRamSetup->GetRunCount();
  form->SetupRead();
  EXPECT_FALSE(drive->ReadRamSetup->GetEnabled());
  EXPECT_EQ(drive->ReadRamSetup->GetRunCount(), runs);
  EXPECT_EQ(setupReads, reads);
}

// Values edited here and not sent survive every setup read, however it was started;
// Reload asks before it throws them away; the caption tells that they wait to be sent.
TEST_F(SetupOnSimTest, NoEditIsLostToASetupRead) {
  drive->OnSetupRead = [this](TkoDeviceVXSlave*, TkoMBTransaction*) {
    ++setupReads;
    form->SetupRead();  // as the supervisor does
  };
  const double driveValue = drive->ParMotorDecel->GetValue();
  const double edited = driveValue + 111;
  const std::string drivesText = drive->ParMotorDecel->GetValueString();
  EXPECT_EQ(form->windowTitle(), "VX310 Setup");
  Edit(drive->ParMotorDecel, edited);
  form->UpdateActions();
  EXPECT_EQ(form->windowTitle(), "VX310 Setup - modified, not sent");

  // Showing the window reads the setup after the edit.
  int reads = setupReads;
  form->show();
  ASSERT_TRUE(ui.PumpUntil([&] { return setupReads > reads; }, kLong));
  EXPECT_DOUBLE_EQ(drive->ParMotorDecel->GetValue(), edited);
  EXPECT_EQ(drive->GetSetupState(), TkoDeviceVXSlave::ssModified);
  const std::vector<std::string> said{
      "Setup read: 1 value(s) changed here and not sent are kept:",
      " -> " + drive->ParMotorDecel->Register->Definition()->GetDescr(-1, 0) + " = " +
          drive->ParMotorDecel->GetValueString() + " (drive: " + drivesText + ")"};
  EXPECT_EQ(log, said);

  // Hidden and shown again: another read, the edit still there.
  dialogs.yes = true;
  ASSERT_TRUE(form->close());
  reads = setupReads;
  form->show();
  ASSERT_TRUE(ui.PumpUntil([&] { return setupReads > reads; }, kLong));
  EXPECT_DOUBLE_EQ(drive->ParMotorDecel->GetValue(), edited);
  EXPECT_EQ(form->windowTitle(), "VX310 Setup - modified, not sent");

  // Reload asks first; No keeps the edit and starts no read.
  log.clear();
  dialogs.questions.clear();
  dialogs.yes = false;
  ASSERT_TRUE(form->acReload->isEnabled());
  form->acReload->trigger();
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(dialogs.questions[0],
            "VX310 Setup|Setup has been modified but not sent nor saved.\n\rReload the setup "
            "from the drive and lose the changes?");
  EXPECT_FALSE(drive->ReadRamSetup->GetEnabled());
  EXPECT_DOUBLE_EQ(drive->ParMotorDecel->GetValue(), edited);
  // Yes brings the drive's values back and the setup is in step again.
  dialogs.yes = true;
  reads = setupReads;
  form->acReload->trigger();
  ASSERT_TRUE(ui.PumpUntil([&] { return setupReads > reads; }, kLong));
  EXPECT_DOUBLE_EQ(drive->ParMotorDecel->GetValue(), driveValue);
  EXPECT_EQ(drive->GetSetupState(), TkoDeviceVXSlave::ssInStep);
  EXPECT_EQ(form->windowTitle(), "VX310 Setup");
  EXPECT_EQ(log, std::vector<std::string>{
                     "Changes not sent discarded: reloading the setup from the drive."});
  // In step, Reload asks nothing.
  dialogs.questions.clear();
  form->acReload->trigger();
  EXPECT_TRUE(dialogs.questions.empty());
}

}  // namespace
