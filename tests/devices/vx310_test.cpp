// The VX310 class on the shipped data model: what the windows use is bound, measured
// values are read-only, the limits follow the hardware ranges, and the position target
// goes out in one request.
#include "devices/vx310.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devicekit.h"
#include "devices/devicefactory.h"
#include "devices/devicesetup.h"
#include "modbus/mbenginekit.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"
#include "regmodel/dmcollection.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace {

using vxtest::Bytes;

class VX310Test : public ::testing::Test, protected vxtest::ShippedVX310 {
 protected:
  void SetUp() override { ASSERT_NE(model, nullptr); }
  std::unique_ptr<TkoDeviceVX310> Make(TkoRegDefsList* list = nullptr) {
    return std::make_unique<TkoDeviceVX310>(&setup, &version, list ? list : model);
  }
  // The register an entry of "[Parameters]" names first.
  std::string EntryRegister(TkoRegDefsList& list, const std::string& member) {
    const std::vector<std::string> items =
        vx::SplitCommaList(list.ReadString("Parameters", member, ""));
    return items.empty() ? std::string() : items[0];
  }
};

// Every parameter member of the class and its bases that the windows, the supervisor and
// the oscilloscope use, and whether it is read-only.
std::vector<std::tuple<const char*, TkoParValue*, bool>> WindowMembers(TkoDeviceVX310& d) {
  return {
      {"ParEEModBusBaudrate", d.ParEEModBusBaudrate, false},
      {"ParEEModBusAddress", d.ParEEModBusAddress, false},
      {"ParEECanBusBaudrate", d.ParEECanBusBaudrate, false},
      {"ParEECanBusAddress", d.ParEECanBusAddress, false},
      {"ParHWLimitVolt", d.ParHWLimitVolt, true},
      {"ParHWLimitAmp", d.ParHWLimitAmp, true},
      {"ParHWLimitAmpNom", d.ParHWLimitAmpNom, true},
      {"ParMainVoltage", d.ParMainVoltage, true},
      {"ParCurrRangeMax", d.ParCurrRangeMax, true},
      {"ParEECurrRangeMax", d.ParEECurrRangeMax, true},
      {"ParSpeedRangeMax", d.ParSpeedRangeMax, true},
      {"ParEESpeedRangeMax", d.ParEESpeedRangeMax, true},
      {"ParPwmFreq", d.ParPwmFreq, true},
      {"ParEEPwmFreq", d.ParEEPwmFreq, true},
      {"ParU_Dc_BusV", d.ParU_Dc_BusV, true},
      {"ParU_MotorV", d.ParU_MotorV, true},
      {"ParI_MotorA", d.ParI_MotorA, true},
      {"ParF_MotorHz", d.ParF_MotorHz, true},
      {"ParS_MotorRPM", d.ParS_MotorRPM, true},
      {"ParMotorIrA", d.ParMotorIrA, false},
      {"ParMotorIpA", d.ParMotorIpA, false},
      {"ParMotorSrRPM", d.ParMotorSrRPM, false},
      {"ParMotorAccel", d.ParMotorAccel, false},
      {"ParMotorDecel", d.ParMotorDecel, false},
      {"CfgUseRamp", d.CfgUseRamp, false},
      {"CfgRampStopMode", d.CfgRampStopMode, false},
      {"ParMotorIrTimer", d.ParMotorIrTimer, false},
      {"ParMotorStepRev", d.ParMotorStepRev, false},
      {"ParMotorStepDiv", d.ParMotorStepDiv, false},
      {"ParEncoderPulseRev", d.ParEncoderPulseRev, false},
      {"ParEncoderGear", d.ParEncoderGear, false},
      {"ParEncoderExt", d.ParEncoderExt, true},
      {"ParUseEncoderReverse", d.ParUseEncoderReverse, false},
      {"ParUseEncoderSource", d.ParUseEncoderSource, false},
      {"ParSpeedRef", d.ParSpeedRef, false},
      {"ParSpeedWin", d.ParSpeedWin, false},
      {"ParZeroSpeedMax", d.ParZeroSpeedMax, false},
      {"ParZeroSpeedMin", d.ParZeroSpeedMin, false},
      {"ParZeroTimeout", d.ParZeroTimeout, false},
      {"ParPosMaxLimit", d.ParPosMaxLimit, false},
      {"ParPosMinLimit", d.ParPosMinLimit, false},
      {"ParPosWindow", d.ParPosWindow, false},
      {"ParPosPktAccel", d.ParPosPktAccel, false},
      {"ParPosPktDecel", d.ParPosPktDecel, false},
      {"ParPosPktSpeed", d.ParPosPktSpeed, false},
      {"ParPosPktTarget", d.ParPosPktTarget, false},
      {"ParPosPGain", d.ParPosPGain, false},
      {"ParPosIGain", d.ParPosIGain, false},
      {"ParCyclicRx1", d.ParCyclicRx1, false},
      {"ParCyclicRx2", d.ParCyclicRx2, false},
      {"ParCyclicRx3", d.ParCyclicRx3, false},
      {"ParCyclicRx4", d.ParCyclicRx4, false},
      {"ParCyclicTx1", d.ParCyclicTx1, false},
      {"ParCyclicTx2", d.ParCyclicTx2, false},
      {"ParCyclicTx3", d.ParCyclicTx3, false},
      {"ParCyclicTx4", d.ParCyclicTx4, false},
      {"CfgEncoderEnable", d.CfgEncoderEnable, false},
      {"CfgControlMode", d.CfgControlMode, false},
      {"CfgPositionMode", d.CfgPositionMode, false},
      {"CfgRefSource", d.CfgRefSource, false},
      {"CfgCmdFromBus", d.CfgCmdFromBus, false},
      {"CfgZeroActiveLevel", d.CfgZeroActiveLevel, false},
      {"CfgZeroDirection", d.CfgZeroDirection, false},
      {"CfgUsePosLimits", d.CfgUsePosLimits, false},
      {"CfgUseSyncSignal", d.CfgUseSyncSignal, false},
      {"CmdDriveEnable", d.CmdDriveEnable, false},
      {"HwDriveEnable", d.HwDriveEnable, false},
      {"CmdResetCounter", d.CmdResetCounter, false},
      {"CmdZeroing", d.CmdZeroing, false},
      {"CmdSyncSignal", d.CmdSyncSignal, false},
      {"ParActualPos", d.ParActualPos, true},
      {"StateSpeedLoop", d.StateSpeedLoop, true},
      {"StateProfile", d.StateProfile, true},
      {"StatePosLoop", d.StatePosLoop, true},
      {"StateMotor", d.StateMotor, true},
  };
}

TEST_F(VX310Test, BindsEveryMemberTheWindowsUseToTheRegisterItsEntryNames) {
  auto d = Make();
  for (const auto& [name, par, readOnly] : WindowMembers(*d)) {
    SCOPED_TRACE(name);
    ASSERT_NE(par, nullptr);
    ASSERT_NE(par->Register, nullptr);
    EXPECT_EQ(par->Register->Name(), EntryRegister(*model, name));
    EXPECT_EQ(par->ReadOnly, readOnly);
  }
  const std::pair<TkoRegister*, const char*> registers[] = {{d->RegPreFault1, "PreFault1"},
                                                            {d->RegPreFault2, "PreFault2"},
                                                            {d->RegActFault1, "ActFault1"},
                                                            {d->RegActFault2, "ActFault2"}};
  for (const auto& [reg, name] : registers) {
    ASSERT_NE(reg, nullptr) << name;
    EXPECT_EQ(reg->Name(), name);
  }
}

// The class declares CfgRefSource and CfgCmdFromBus again: the entries fill its own
// members, never the drive's of the same name.
TEST_F(VX310Test, ANameDeclaredAgainIsBoundOnceToTheMostDerivedMember) {
  auto d = Make();
  TkoDeviceVXDrive& drive = *d;
  EXPECT_NE(d->CfgRefSource, nullptr);
  EXPECT_NE(d->CfgCmdFromBus, nullptr);
  EXPECT_EQ(drive.CfgRefSource, nullptr);
  EXPECT_EQ(drive.CfgCmdFromBus, nullptr);
  EXPECT_NE(drive.CfgSecureEnable, nullptr) << "the other drive members stay bound";
}

TEST_F(VX310Test, CurrentAndSpeedLimitsFollowTheHardwareRanges) {
  auto d = Make();
  d->ParCurrRangeMax->SetValue(8.0);
  for (TkoParValue* p : {d->ParMotorIrA, d->ParMotorIpA}) {
    EXPECT_DOUBLE_EQ(p->GetMax(), 8.0);
    p->SetValue(9.5);
    EXPECT_DOUBLE_EQ(p->GetValue(), 8.0) << "clamped to the tied maximum";
  }
  d->ParCurrRangeMax->SetValue(5.0);
  EXPECT_DOUBLE_EQ(d->ParMotorIrA->GetMax(), 5.0);

  d->ParSpeedRangeMax->SetValue(1200);
  EXPECT_DOUBLE_EQ(d->ParMotorSrRPM->GetMax(), 1200);
  d->ParMotorSrRPM->SetValue(5000);
  EXPECT_DOUBLE_EQ(d->ParMotorSrRPM->GetValue(), 1200);

  d->ParZeroSpeedMax->SetValue(0.25);
  EXPECT_DOUBLE_EQ(d->ParZeroSpeedMin->GetMax(), 0.25);
  d->ParZeroSpeedMin->SetValue(0.5);
  EXPECT_DOUBLE_EQ(d->ParZeroSpeedMin->GetValue(), 0.25);
}

TEST_F(VX310Test, AModelWithoutSomeEntriesLeavesThoseMembersAndTheirTiesOut) {
  TkoRegDefsList partial;
  partial.LoadFromFile(std::string(VX_SOURCE_DIR) + "/models/VX310v220.par");
  partial.ChainResource(
      collection.Predefined());  // the built-in formats, as the collection chains them
  for (const char* name : {"ParCurrRangeMax", "ParSpeedRef", "StateMotor", "ParEncoderExt"})
    partial.WriteString("Parameters", name, "");
  partial.BuildDefinitions();
  auto d = Make(&partial);
  EXPECT_EQ(d->ParCurrRangeMax, nullptr);
  EXPECT_EQ(d->ParSpeedRef, nullptr);
  EXPECT_EQ(d->StateMotor, nullptr);
  EXPECT_EQ(d->ParEncoderExt, nullptr);
  ASSERT_NE(d->ParMotorIrA, nullptr);
  const TkoRegDefinition* def = d->ParMotorIrA->Register->Definition();
  EXPECT_EQ(d->ParMotorIrA->Register->MaxBound()->Source, nullptr);
  EXPECT_DOUBLE_EQ(d->ParMotorIrA->GetMax(), def->MaxValue) << "the definition's own maximum";
  EXPECT_NE(d->ParSpeedRangeMax, nullptr);
  EXPECT_EQ(d->ParMotorSrRPM->Register->MaxBound()->Source, d->ParSpeedRangeMax->Register);
  EXPECT_NE(d->ReadActState, nullptr) << "the device works without them";
}

TEST_F(VX310Test, WriteRefPosSendsBothHalvesOfTheTargetInOneRequest) {
  auto d = Make();
  TkoMBChainedTransa* t = d->WriteRefPos;
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(d->HasTransa(t));
  EXPECT_EQ(t->GetTransaName(), "WriteRefPos");
  EXPECT_EQ(t->GetComment(), "Write position reference in a single write operation.");
  EXPECT_EQ(t->GetTermReasons(), TkoMBTransaction::trAlways);
  EXPECT_FALSE(t->GetEnabled());

  auto line = std::make_shared<vxtest::FakeLine>();
  vxtest::FakeServer server(line);
  line->responder = [](const Bytes& q) {
    return vxtest::FakeLine::Answer{0, Bytes(q.begin(), q.begin() + 6)};
  };
  d->ParPosPktTarget->SetValue(65535);
  d->ParPosPktTarget->SetValue(65536);
  const uint16_t low = d->ParPosPktTarget->Register->Definition()->Address;
  ASSERT_EQ(d->ParPosPktTarget->HighRegister->Definition()->Address, low + 1);
  t->SetEnabled(true);
  EXPECT_EQ(t->Run(&server), 0);
  ui.PumpPending();
  EXPECT_EQ(line->Queries(),
            (std::vector<Bytes>{{1, 0x10, static_cast<uint8_t>(low >> 8),
                                 static_cast<uint8_t>(low & 0xFF), 0, 2, 4, 0, 0, 0, 1}}));
  EXPECT_FALSE(t->GetEnabled()) << "runs once each time it is enabled";
}

TEST_F(VX310Test, ReportListsTheBusAndHardwareParameters) {
  auto d = Make();
  std::vector<std::string> lines;
  d->ReportDevice(&lines);
  std::vector<std::string> expected;
  for (TkoParValue* p : std::initializer_list<TkoParValue*>{
           d->ParEEModBusBaudrate, d->ParEEModBusAddress, d->ParEECanBusBaudrate,
           d->ParEECanBusAddress, d->ParHWLimitVolt, d->ParHWLimitAmp, d->ParHWLimitAmpNom,
           d->ParEECurrRangeMax, d->ParEESpeedRangeMax, d->ParEEPwmFreq})
    p->Report(&expected);
  EXPECT_EQ(lines, expected);
}

TEST_F(VX310Test, TheFactoryCreatesTheClassOfTheNameAndAPlainSlaveOtherwise) {
  std::unique_ptr<TkoDeviceSlave> d =
      vx::CreateSlaveDevice("TkoDeviceVX310", &setup, &version, model);
  EXPECT_NE(dynamic_cast<TkoDeviceVX310*>(d.get()), nullptr);
  d.reset();
  for (const char* name : {"TkoDeviceSlave", "TkoDeviceNoSuchThing", ""}) {
    d = vx::CreateSlaveDevice(name, &setup, &version, model);
    ASSERT_NE(d, nullptr) << name;
    EXPECT_EQ(dynamic_cast<TkoDeviceVXSlave*>(d.get()), nullptr) << name;
  }
}

}  // namespace
