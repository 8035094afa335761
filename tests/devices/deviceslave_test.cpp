// The slave device without a connection thread: construction, its transaction list and
// events, direct transfers refused while detached, and its report lines.
#include "devices/deviceslave.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devicekit.h"
#include "devices/devicesetup.h"
#include "modbus/mbenginekit.h"
#include "modbus/mbtransakinds.h"
#include "platform/koexception.h"
#include "regmodel/regblock.h"
#include "regmodel/register.h"

namespace {

// Three one-word registers at 0, 1 and 3 (nothing at 2), the first with bit texts.
const char* const kModel =
    "[DataModel]\nMaxBufferSize=100\n"
    "[0]\nName=Faults\nType=\"bool short\"\nDescr=\"Faults\"\n"
    "Descr[0m1]=\"Overvoltage\"\nDescr[0m8]=\"Overcurrent\"\nDescr[0m8000]=\"Supply\"\n"
    "[1]\nName=Speed\nType=\"unsigned short\"\n"
    "[3]\nName=Torque\nType=\"unsigned short\"\n";

class SlaveTest : public ::testing::Test {
 protected:
  SlaveTest() : model(vxtest::ModelFromText(kModel)) {
    setup.SetDeviceName("drive");
    setup.SetSlave(std::make_unique<TkoDeviceSlave>(&setup, &version, model.get()));
    slave = setup.GetSlave();
  }
  std::unique_ptr<TkoRegDefsList> model;
  const TkoVersionRecord version{"VX310v220"};
  vxtest::EventLog log;  // outlives the setup, whose slave reports while it goes
  TkoDeviceSetup setup;
  TkoDeviceSlave* slave = nullptr;
};

TEST(DeviceSlaveConstruction, NeedsADataModelAVersionAndASetup) {
  auto model = vxtest::ModelFromText(kModel);
  TkoDeviceSetup setup;
  const TkoVersionRecord version;
  struct Case {
    TkoDeviceSetup* setup;
    const TkoVersionRecord* version;
    TkoRegDefsList* model;
    const char* message;
  } const cases[] = {
      {&setup, &version, nullptr,
       "You must specify a valid TkoRegDefsList reference to allocate registers buffer!"},
      {&setup, nullptr, model.get(), "You must specify a valid TkoVersionRecord!"},
      {nullptr, &version, model.get(),
       "You must specify a valid TkoDeviceSetup to allocate a new device!"},
      {nullptr, nullptr, model.get(), "You must specify a valid TkoVersionRecord!"},
  };
  for (const Case& c : cases) {
    try {
      TkoDeviceSlave slave(c.setup, c.version, c.model);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const EkoException& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST_F(SlaveTest, CopiesItsVersionAndTakesItsSettingsFromTheSetup) {
  EXPECT_EQ(slave->GetVersion().ToString(), "VX310v220");
  EXPECT_EQ(slave->GetSetup(), &setup);
  EXPECT_EQ(slave->RegisterCount(), 3);
  setup.SetDeviceAddr(17);
  setup.SetMaxFault(4);
  setup.SetRepeatTime(9);
  EXPECT_EQ(slave->GetSlaveAddress(), 17);
  EXPECT_EQ(slave->GetMaxFault(), 4);
  EXPECT_EQ(slave->GetDefaultRepeatTime(), 9);
  EXPECT_FALSE(slave->IsSetupEnabled());
  setup.SetEnabled(true);
  EXPECT_TRUE(slave->IsSetupEnabled());
  EXPECT_EQ(slave->GetRegBuffer(), slave);
}

TEST_F(SlaveTest, KeepsItsTransactionsInCreationOrderAndReportsThem) {
  slave->OnTransaAdd = [&](TkoDeviceSlave*, TkoMBObject*) { log.Add("add"); };
  slave->OnTransaDel = [&](TkoDeviceSlave*, TkoMBObject*) { log.Add("del"); };
  setup.OnSetupAdd = [&](TkoDeviceSetup*, TkoMBObject*) { log.Add("setup:add"); };
  setup.OnSetupDel = [&](TkoDeviceSetup*, TkoMBObject*) { log.Add("setup:del"); };
  auto* a = new TkoMBReadHoldRegisters(slave, true, 1, 0);
  auto* b = new TkoMBChainedTransa(slave, true);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"add", "setup:add", "add", "setup:add"}));
  EXPECT_EQ(slave->GetTransactions().Snapshot(), (std::vector<TkoMBTransaction*>{a, b}));
  EXPECT_TRUE(slave->HasTransa(a));
  // A new transaction takes the setup's sample time, so it is periodic.
  EXPECT_EQ(a->GetRepeatTime(), 5);
  EXPECT_EQ(a->GetTermReasons() & TkoMBTransaction::trAlways, 0);
  log.lines.clear();
  delete a;
  EXPECT_EQ(log.lines, (std::vector<std::string>{"del", "setup:del"}));
  EXPECT_FALSE(slave->HasTransa(a));
  EXPECT_EQ(slave->GetTransactions().Snapshot(), (std::vector<TkoMBTransaction*>{b}));
}

TEST_F(SlaveTest, IsOfflineAndRefusesDirectTransfersWhileNotAttached) {
  setup.SetEnabled(true);
  EXPECT_EQ(slave->GetThread(), nullptr);
  EXPECT_EQ(slave->GetState(), TkoDeviceSetup::dsOffline);
  EXPECT_EQ(setup.GetState(), TkoDeviceSetup::dsOffline);
  for (bool wait : {false, true}) {
    EXPECT_EQ(slave->ReadRegister(1, wait), -11);
    EXPECT_EQ(slave->WriteRegister(1, wait), -11);
    EXPECT_EQ(slave->ReadReg(slave->FindRegister("Speed"), wait), -11);
    EXPECT_EQ(slave->WriteReg(slave->FindRegister("Speed"), wait), -11);
  }
  EXPECT_EQ(slave->GetReadTransa(), nullptr);
  EXPECT_EQ(slave->GetWriteTransa(), nullptr);
  EXPECT_EQ(slave->GetTransactions().Size(), 0u) << "no transaction is created";
}

TEST_F(SlaveTest, ARegisterOfAnotherImageIsNotTransferredIntoThisOne) {
  TkoRegDataBuffer other(model.get());
  EXPECT_EQ(slave->ReadReg(other.FindRegister("Speed"), true), vx::mbresult::kNoDataBuffer);
  EXPECT_EQ(slave->WriteReg(other.FindRegister("Speed"), true), vx::mbresult::kNoDataBuffer);
  EXPECT_EQ(slave->ReadReg(nullptr, true), vx::mbresult::kNoDataBuffer);
}

TEST_F(SlaveTest, ReportBitsDescribesEverySetBitOfEveryElement) {
  TkoRegister* faults = slave->FindRegister("Faults");
  std::vector<std::string> lines;
  slave->ReportBits(faults, &lines);
  EXPECT_TRUE(lines.empty());
  faults->SetValueInteger(0, 0x8009);
  slave->ReportBits(faults, &lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"Overvoltage", "Overcurrent", "Supply"}));
  // A bit without a text of its own falls back on the register's description.
  lines.clear();
  faults->SetValueInteger(0, 0x0002);
  slave->ReportBits(faults, &lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"Faults"}));
  slave->ReportBits(nullptr, &lines);
  EXPECT_EQ(lines.size(), 1u);
}

TEST_F(SlaveTest, ReportBlocksListsTheRegistersTheChainCovers) {
  slave->FindRegister("Speed")->SetValueInteger(0, 1500);
  std::vector<std::string> expected;
  slave->FindRegister("Speed")->Report(&expected);
  slave->FindRegister("Torque")->Report(&expected);
  ASSERT_FALSE(expected.empty());
  // 2 has no register; the chain holds 3 first, then 1 to 2.
  TkoRegBlock chain("1/2,3");
  std::vector<std::string> lines;
  slave->ReportBlocks(&chain, &lines);
  std::vector<std::string> torqueFirst;
  slave->FindRegister("Torque")->Report(&torqueFirst);
  slave->FindRegister("Speed")->Report(&torqueFirst);
  EXPECT_EQ(lines, torqueFirst);

  // The base device lists what its state transaction reads, and nothing without one.
  lines.clear();
  slave->ReportDevice(&lines);
  EXPECT_TRUE(lines.empty());
  auto* state = new TkoMBReadHoldRegisters(slave, true, 2, 0);
  slave->SetStateTransa(state);
  slave->ReportDevice(&lines);
  std::vector<std::string> firstTwo;
  slave->FindRegister("Faults")->Report(&firstTwo);
  slave->FindRegister("Speed")->Report(&firstTwo);
  EXPECT_EQ(lines, firstTwo);
  delete state;
  EXPECT_EQ(slave->GetStateTransa(), nullptr) << "a destroyed transaction is forgotten";
}

}  // namespace
