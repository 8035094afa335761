// The sibling drive models on one small data model written here: each class, created by
// the factory under its class name, binds the members the model names, marks its
// read-only members and ties its limits to the registers it names.
#include "devices/vxsiblings.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "devices/devicefactory.h"
#include "devices/devicesetup.h"
#include "devices/quelta.h"
#include "devices/vx120.h"
#include "devices/vx150st.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"
#include "platform/threadbuffer.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"

namespace {

// One plain register per name with limits 0..60000, so that every tie has a bound to
// take over, and a [Parameters] entry "Par<name>" for each.
std::string SiblingModel() {
  const char* const plain[] = {
      "MainVoltage", "HWLimitVolt", "HWLimitAmp",       "MotorUrV",    "MotorUminV", "MotorUmaxV",
      "MotorIrA",    "MotorIpA",    "MotorFrHz",        "MotorFmaxHz", "MotorSrRPM", "MotorSmaxRPM",
      "SpeedJog",    "SpeedFast",   "HoldTorque",       "AnalogRef",   "UrV",        "IcA",
      "IpA",         "MaxCurrent",  "MaxDefluxCurrent", "PowerTemp",   "SpeedMin",   "SpeedMax",
      "SpeedRef",    "WorkedTime",  "NumFixedPos",      "NextFixedPos"};
  std::string regs = "[DataModel]\nMaxBufferSize=100\n[Categories]\nRefPosRegs=\"190/191\"\n";
  std::string pars = "[Parameters]\n";
  int address = 0;
  auto add = [&](const std::string& name) {
    regs += "[" + std::to_string(address++) + "]\nName=" + name + "\nMinValue=0\nMaxValue=60000\n";
  };
  for (const char* name : plain) {
    add(name);
    pars += std::string("Par") + name + "=\"" + name + ",0\"\n";
  }
  for (int i = 0; i < 4; ++i) {
    add("Thr" + std::to_string(i) + "X");
    add("Thr" + std::to_string(i) + "Y");
    pars += "ParThrottle" + std::to_string(i) + "=\"Thr" + std::to_string(i) + "X,Thr" +
            std::to_string(i) + "Y,0\"\n";
  }
  for (const char* pos : {"ActualPos", "PosMaxLimit", "PosMinLimit"}) {
    add(std::string(pos) + "L");
    add(std::string(pos) + "H");
    pars += std::string("Par") + pos + "=\"" + pos + "L," + pos + "H,0\"\n";
  }
  regs += "[100]\nName=Inputs\n[101]\nName=DriveState1\n";
  pars +=
      "HwGoForward=\"Inputs,0,0\"\nHwHoldBrake=\"Inputs,0,3\"\nCmdGoForward=\"Inputs,0,4\"\n"
      "HwEnable=\"Inputs,0,5\"\nHwStepperShort=\"Inputs,0,6\"\n";
  regs += "[190]\nName=PktTargetL\n[191]\nName=PktTargetH\n";
  pars += "ParPosPktTarget=\"PktTargetL,PktTargetH,0\"\n";
  return regs + pars;
}

class SiblingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model.SetText(SiblingModel());
    model.BuildDefinitions();
  }
  std::unique_ptr<TkoDeviceSlave> Make(const std::string& className) {
    return vx::CreateSlaveDevice(className, &setup, &version, &model);
  }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  TkoRegDefsList model;
  TkoVersionRecord version{"VX999v100"};
  TkoDeviceSetup setup;
};

// The limit of `par` follows `source`: whatever the source holds is the bound.
void ExpectMaxFollows(TkoParValue* par, TkoParValue* source, double value = 1234) {
  ASSERT_NE(par, nullptr);
  ASSERT_NE(source, nullptr);
  source->SetValue(value);
  EXPECT_DOUBLE_EQ(par->GetMax(), value);
}
void ExpectMinFollows(TkoParValue* par, TkoParValue* source, double value = 321) {
  ASSERT_NE(par, nullptr);
  ASSERT_NE(source, nullptr);
  source->SetValue(value);
  EXPECT_DOUBLE_EQ(par->GetMin(), value);
}
void ExpectFixedMax(TkoParValue* par) {
  ASSERT_NE(par, nullptr);
  EXPECT_EQ(par->Register->MaxBound()->Source, nullptr);
  EXPECT_DOUBLE_EQ(par->GetMax(), 60000);
}

TEST_F(SiblingsTest, EachModelBindsItsMembersMarksReadOnlyAndTiesItsLimits) {
  struct Case {
    const char* className;
    std::function<void(TkoDeviceSlave*)> check;
  } cases[] = {
      {"TkoDeviceVX160",
       [](TkoDeviceSlave* s) {
         auto* d = dynamic_cast<TkoDeviceVX160*>(s);
         ASSERT_NE(d, nullptr);
         EXPECT_FALSE(d->ParMainVoltage->ReadOnly);
         EXPECT_TRUE(d->ParHWLimitVolt->ReadOnly) << "the drive's marks stay";
         EXPECT_TRUE(d->ParAnalogRef->ReadOnly);
         EXPECT_TRUE(d->HwGoForward->ReadOnly);
         EXPECT_TRUE(d->HwHoldBrake->ReadOnly);
         EXPECT_EQ(d->HwGoReverse, nullptr);
         EXPECT_FALSE(d->CmdGoForward->ReadOnly);
         // Each source is set inside the limits the ties before it gave it.
         ExpectMaxFollows(d->ParMotorUmaxV, d->ParHWLimitVolt, 5000);
         ExpectMaxFollows(d->ParMotorUrV, d->ParMotorUmaxV, 4000);
         ExpectMaxFollows(d->ParMotorUminV, d->ParMotorUrV);
         ExpectMinFollows(d->ParMotorUrV, d->ParMotorUminV);
         ExpectMaxFollows(d->ParMotorIrA, d->ParMotorIpA);
         ExpectMinFollows(d->ParMotorIpA, d->ParMotorIrA);
         ExpectMaxFollows(d->ParSpeedJog, d->ParSpeedFast);
         ExpectMaxFollows(d->ParMotorFrHz, d->ParMotorFmaxHz);
         ExpectMinFollows(d->ParMotorFmaxHz, d->ParMotorFrHz);
         ExpectMaxFollows(d->ParHoldTorque, d->ParMotorUrV);
         // Throttle points: X of 1 below X of 2; Y of 1 and 2 between Y of 0 and 3.
         ASSERT_NE(d->ParThrottle2, nullptr);
         d->ParThrottle2->SetValueString("40|10");
         d->ParThrottle1->SetValueString("70|5");
         EXPECT_DOUBLE_EQ(d->ParThrottle1->GetValue(), 40) << "X clamped to the next point's X";
         d->ParThrottle0->SetValueString("0|2");
         d->ParThrottle3->SetValueString("100|8");
         EXPECT_EQ(d->ParThrottle1->YRegister->MinBound()->Source, d->ParThrottle0->YRegister);
         EXPECT_EQ(d->ParThrottle2->YRegister->MaxBound()->Source, d->ParThrottle3->YRegister);
         EXPECT_EQ(d->ParThrottle3->YRegister->MinBound()->Source, d->ParThrottle2->YRegister);
         EXPECT_EQ(d->ParThrottle0->Register->MaxBound()->Source, nullptr) << "X of 0 stays free";
         EXPECT_DOUBLE_EQ(d->ParThrottle3->LocalX, 100.0);
       }},
      {"TkoDeviceVX220",
       [](TkoDeviceSlave* s) {
         auto* d = dynamic_cast<TkoDeviceVX220*>(s);
         ASSERT_NE(d, nullptr);
         ExpectMaxFollows(d->ParUrV, d->ParHWLimitVolt);
         // The continuous current's maximum is the lower of the peak current and the
         // stage's own limit, which the hardware voltage limit selects after a read.
         d->ParHWLimitVolt->SetValue(1000);
         d->DoSetupRead();
         d->ParIpA->SetValue(6);
         EXPECT_DOUBLE_EQ(d->ParIcA->GetMax(), 6);
         d->ParIpA->SetValue(15);
         EXPECT_DOUBLE_EQ(d->ParIcA->GetMax(), 8);
         EXPECT_DOUBLE_EQ(d->ParIpA->GetMax(), 20);
         d->ParHWLimitVolt->SetValue(400);
         d->DoSetupRead();
         EXPECT_DOUBLE_EQ(d->ParIcA->GetMax(), 5);
         EXPECT_DOUBLE_EQ(d->ParIpA->GetMax(), 10);
         ExpectMinFollows(d->ParIpA, d->ParIcA, 3);
       }},
      {"TkoDeviceVX330",
       [](TkoDeviceSlave* s) {
         auto* d = dynamic_cast<TkoDeviceVX330*>(s);
         ASSERT_NE(d, nullptr);
         EXPECT_TRUE(d->ParMainVoltage->ReadOnly);
         EXPECT_TRUE(d->ParPowerTemp->ReadOnly);
         EXPECT_FALSE(d->ParMaxCurrent->ReadOnly);
         ExpectMaxFollows(d->ParMaxCurrent, d->ParHWLimitAmp);
         ExpectMaxFollows(d->ParMaxDefluxCurrent, d->ParMaxCurrent);
       }},
      {"TkoDeviceVX340",
       [](TkoDeviceSlave* s) {
         auto* d = dynamic_cast<TkoDeviceVX340*>(s);
         ASSERT_NE(d, nullptr);
         EXPECT_FALSE(d->ParMainVoltage->ReadOnly);
         EXPECT_TRUE(d->ParWorkedTime->ReadOnly);
         EXPECT_TRUE(d->HwStepperShort->ReadOnly);
         EXPECT_FALSE(d->CmdGoForward->ReadOnly);
         EXPECT_EQ(d->RegDriveState1, d->FindRegister("DriveState1"));
         EXPECT_EQ(d->RegDriveState2, nullptr);
         ExpectMaxFollows(d->ParMainVoltage, d->ParHWLimitVolt);
         d->ParMotorUmaxV->SetValue(5000);
         ExpectMinFollows(d->ParMotorUmaxV, d->ParMotorUrV);
         ExpectMaxFollows(d->ParMotorIpA, d->ParHWLimitAmp);
         d->ParMotorIpA->SetValue(1000);
         ExpectMinFollows(d->ParMotorIpA, d->ParMotorIrA);
         d->ParSpeedMax->SetValue(1234);
         ExpectMinFollows(d->ParSpeedRef, d->ParSpeedMin);
         ExpectMaxFollows(d->ParSpeedRef, d->ParSpeedMax);
         ExpectMaxFollows(d->ParMotorFrHz, d->ParMotorFmaxHz);
         std::vector<std::string> lines, expected;
         d->ReportDevice(&lines);
         d->ParWorkedTime->Report(&expected);
         ASSERT_FALSE(lines.empty());
         EXPECT_EQ(lines.back(), expected.back()) << "the worked time closes the report";
       }},
      {"TkoDeviceVX260",
       [](TkoDeviceSlave* s) {
         auto* d = dynamic_cast<TkoDeviceVX260*>(s);
         ASSERT_NE(d, nullptr);
         EXPECT_FALSE(d->ParMainVoltage->ReadOnly);
         EXPECT_TRUE(d->ParActualPos->ReadOnly);
         ExpectMaxFollows(d->ParMotorUrV, d->ParHWLimitVolt);
         ExpectMaxFollows(d->ParMotorSrRPM, d->ParMotorSmaxRPM);
         ExpectMinFollows(d->ParMotorSmaxRPM, d->ParMotorSrRPM);
         ASSERT_NE(d->WriteRefPos, nullptr);
         EXPECT_EQ(d->WriteRefPos->GetTransaName(), "WriteRefPos");
         EXPECT_EQ(d->WriteRefPos->GetWriteBlocks()->ToText(), "190/191");
         EXPECT_FALSE(d->WriteRefPos->GetEnabled());
       }},
      {"TkoDeviceVX160VE",
       [](TkoDeviceSlave* s) {
         auto* d = dynamic_cast<TkoDeviceVX160VE*>(s);
         ASSERT_NE(d, nullptr);
         EXPECT_FALSE(d->ParMainVoltage->ReadOnly);
         EXPECT_TRUE(d->ParAnalogRef->ReadOnly);
         EXPECT_TRUE(d->HwEnable->ReadOnly);
         EXPECT_TRUE(d->ParActualPos->ReadOnly);
         ExpectMaxFollows(d->ParNextFixedPos, d->ParNumFixedPos, 7);
         ExpectMaxFollows(d->ParMotorIrA, d->ParMotorIpA);
         EXPECT_EQ(d->ParPosMaxLimit->Register->MinBound()->Source, d->ParPosMinLimit->Register);
         EXPECT_EQ(d->ParPosMinLimit->Register->MaxBound()->Source, d->ParPosMaxLimit->Register);
         ASSERT_NE(d->WriteRefPos, nullptr);
         EXPECT_EQ(d->WriteRefPos->GetWriteBlocks()->ToText(), "190/191");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.className);
    std::unique_ptr<TkoDeviceSlave> device = Make(c.className);
    c.check(device.get());
  }
}

// A tie needs both members and the bound: a model that leaves one of them out leaves the
// limit as the definition gives it.
TEST_F(SiblingsTest, ATieWithoutItsSourceKeepsTheDefinitionsLimit) {
  model.WriteString("Parameters", "ParMotorUrV", "");
  model.WriteString("Parameters", "ParMotorFmaxHz", "");
  auto d = Make("TkoDeviceVX160");
  auto* vx160 = dynamic_cast<TkoDeviceVX160*>(d.get());
  ASSERT_NE(vx160, nullptr);
  EXPECT_EQ(vx160->ParMotorUrV, nullptr);
  ExpectFixedMax(vx160->ParMotorUminV);
  ExpectFixedMax(vx160->ParHoldTorque);
  ExpectFixedMax(vx160->ParMotorFrHz);
}

}  // namespace

namespace {

std::unique_ptr<TkoRegDefsList> Model(const std::string& text) {
  auto list = std::make_unique<TkoRegDefsList>();
  list->SetText(text);
  list->BuildDefinitions();
  return list;
}

class CodeBuiltTest : public ::testing::Test {
 protected:
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  TkoVersionRecord version{"VX140v100"};
  TkoDeviceSetup setup;
};

TEST_F(CodeBuiltTest, VX120BuildsItsParametersFromRegisterNamesAndFollowsItsPowerStage) {
  auto model = Model(
      "[DataModel]\nMaxBufferSize=100\n"
      "[0]\nName=Input\n[1]\nName=HardwareType\n"
      "[2]\nName=MotorINom\nMinValue=0\nMaxValue=100\n[3]\nName=MotorIMax\nMinValue=0\nMaxValue="
      "50\n"
      "[4]\nName=OmegaMinMotor\nMinValue=0\nMaxValue=1000\n"
      "[5]\nName=OmegaMaxMotor\nMinValue=50\nMaxValue=1000\n");
  auto device = vx::CreateSlaveDevice("TkoDeviceVX120", &setup, &version, model.get());
  auto* d = dynamic_cast<TkoDeviceVX120*>(device.get());
  ASSERT_NE(d, nullptr);
  ASSERT_NE(d->HwInput[2], nullptr);
  EXPECT_EQ(d->HwInput[2]->Bit, 2);
  ASSERT_NE(d->ParHardwareType[2], nullptr);
  EXPECT_EQ(d->ParHardwareType[2]->Mask, 0x0F00u);
  EXPECT_EQ(d->ParMainsVoltage, nullptr) << "no such register";
  ExpectMaxFollows(d->ParMotorINom, d->ParMotorIMax, 20);
  ExpectMinFollows(d->ParMotorIMax, d->ParMotorINom, 10);
  ExpectMaxFollows(d->ParOmegaMinMotor, d->ParOmegaMaxMotor, 600);

  // Index 1 of both tables, then an index beyond them, which keeps the last limits.
  struct Case {
    int hardware;
    double maxCurrent;
    double minTopSpeed;
  } cases[] = {{0x0110, 25.0, 400.0}, {0x0000, 12.0, 128.0}, {0x0220, 12.0, 128.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hardware);
    d->FindRegister("HardwareType")->SetValueInteger(0, c.hardware);
    d->DoSetupRead();
    EXPECT_DOUBLE_EQ(d->ParMotorIMax->Register->MaxBound()->Value, c.maxCurrent);
    EXPECT_DOUBLE_EQ(d->ParOmegaMaxMotor->Register->MinBound()->Value, c.minTopSpeed);
  }
}

TEST_F(CodeBuiltTest, VX150STSavesThroughItsCommandRegisterAndPollsItsCalibration) {
  auto model = Model(
      "[DataModel]\nMaxBufferSize=100\n[Categories]\nCalibCmd=\"10/11\"\nCalibState=\"12/13\"\n"
      "[0]\nName=MBSaveCmd\n[1]\nName=SpeedSetup.T_EndPos\n[2]\nName=DevAlarm[KBRD]\n"
      "[10]\nName=C0\n[11]\nName=C1\n[12]\nName=S0\n[13]\nName=S1\n");
  auto device = vx::CreateSlaveDevice("TkoDeviceVX150ST", &setup, &version, model.get());
  auto* d = dynamic_cast<TkoDeviceVX150ST*>(device.get());
  ASSERT_NE(d, nullptr);
  EXPECT_NE(d->ParSpeedT_EndPos, nullptr) << "found although its name is written with a blank";
  ASSERT_NE(d->ParDevAlarm[4], nullptr);
  EXPECT_EQ(d->ParDevAlarm[4]->Register->Name(), "DevAlarm[KBRD]");
  EXPECT_EQ(d->CmdMBSave[7], nullptr);
  ASSERT_NE(d->CmdMBSave[12], nullptr);
  EXPECT_EQ(d->CmdMBSave[12]->Bit, 12);

  ASSERT_NE(d->CalibCmd, nullptr);
  EXPECT_EQ(d->CalibCmd->GetComment(), "Calibration command.");
  EXPECT_EQ(d->CalibCmd->GetWriteBlocks()->ToText(), "10/11");
  EXPECT_EQ(d->CalibCmd->GetTermReasons(), TkoMBTransaction::trAlways);
  EXPECT_FALSE(d->CalibCmd->GetEnabled());
  ASSERT_NE(d->CalibState, nullptr);
  EXPECT_EQ(d->CalibState->GetComment(), "Calibration state polling.");
  EXPECT_EQ(d->CalibState->GetReadBlocks()->ToText(), "12/13");
  EXPECT_EQ(d->CalibState->GetRepeatTime(), 5);
  EXPECT_FALSE(d->CalibState->GetEnabled());

  TkoRegister* command = d->FindRegister("MBSaveCmd");
  command->SetValueInteger(0, 0x0100);
  d->SaveSetup();
  EXPECT_EQ(command->GetValueInteger(0), 0x017F) << "the save bits set, the others kept";
  EXPECT_FALSE(d->SaveEEPromSetup->GetEnabled()) << "no EEPROM image to send";
}

TEST_F(CodeBuiltTest, TheQueltaPanelOwnsItsUnitsAndReadsOnlyWhatEachHas) {
  auto model = Model(
      "[Versions]\nVersions=\"DeviceQueltaLcd\"\n[DataModel]\nMaxBufferSize=100\n"
      "[Categories]\nMasterState=\"0/1\"\nMasterSetup=\"2/"
      "6\"\nSlaveState=\"7\"\nBoilerState=\"8\"\n"
      "[AddOnInfo]\nMinFluxH2ODolceDflt=\"1.5,2.5,3.5\"\n"
      "[0]\nName=MasterHw\n[1]\nName=RmtHw\n"
      "[2]\nName=CoolLo\nMinValue=0\nMaxValue=100\n[3]\nName=CoolHi\nMinValue=0\nMaxValue=100\n"
      "[4]\nName=Cool\nMinValue=0\nMaxValue=100\n"
      "[5]\nName=MachineType\nMinValue=0\nMaxValue=2\nDfltValue=1\n[6]\nName=Spare\n[7]\nName=S\n["
      "8]\nName=B\n"
      "[Parameters]\nParMasterHwVersion=\"MasterHw,0\"\nParRmtHwVersion=\"RmtHw,0\"\n"
      "ParSetPointCoolLoLimitEEp=\"CoolLo,0\"\nParSetPointCoolHiLimitEEp=\"CoolHi,0\"\n"
      "ParSetPointCoolEEp=\"Cool,0\"\nParTipoMacchinaEEp=\"MachineType,0\"\n");
  TkoVersionRecord empty;
  auto device = vx::CreateSlaveDevice("TkoDeviceQueltaLcd", &setup, &empty, model.get());
  auto* lcd = dynamic_cast<TkoDeviceQueltaLcd*>(device.get());
  ASSERT_NE(lcd, nullptr);

  EXPECT_EQ(lcd->ReadState, lcd->ReadActState);
  EXPECT_EQ(lcd->ReadAlarm, lcd->ReadFaultState);
  EXPECT_EQ(lcd->ReadSetup, lcd->ReadRamSetup);
  EXPECT_EQ(lcd->SendSetup, lcd->SendRamSetup);
  EXPECT_EQ(lcd->ReadState->GetReadBlocks()->ToText(), "0/1");
  EXPECT_EQ(lcd->ReadState->GetRepeatTime(), 10);
  EXPECT_FALSE(lcd->ReadState->GetEnabled());
  EXPECT_TRUE(lcd->ReadSetup->GetEnabled()) << "the setup is read at creation";
  EXPECT_EQ(lcd->ReadAlarm->GetRepeatTime(), 10);
  EXPECT_FALSE(lcd->ReadAlarm->GetEnabled());
  for (TkoMBChainedTransa* t : {lcd->ReadRamSetup, lcd->SendRamSetup, lcd->SaveEEPromSetup}) {
    const TkoRegBlock* b = t->GetReadBlocks() ? t->GetReadBlocks() : t->GetWriteBlocks();
    ASSERT_NE(b, nullptr) << t->GetTransaName();
    EXPECT_EQ(b->ToText(), "2/6") << t->GetTransaName();
  }

  EXPECT_EQ(lcd->Slave(-1), nullptr);
  EXPECT_EQ(lcd->Slave(TkoDeviceQueltaLcd::kUnits), nullptr);
  for (int i = 0; i < TkoDeviceQueltaLcd::kUnits; ++i) {
    TkoDeviceQueltaCieco* unit = lcd->Slave(i);
    ASSERT_NE(unit, nullptr);
    EXPECT_NE(unit, lcd->Slave((i + 1) % TkoDeviceQueltaLcd::kUnits));
    EXPECT_EQ(unit->ReadState->GetReadBlocks()->ToText(), "7");
    EXPECT_EQ(unit->ReadState->GetRepeatTime(), 10);
    EXPECT_TRUE(unit->ReadState->GetEnabled());
    EXPECT_FALSE(unit->ReadFaultState->GetEnabled());
    EXPECT_FALSE(unit->ReadRamSetup->GetEnabled());
  }
  ASSERT_NE(lcd->Boiler(), nullptr);
  EXPECT_EQ(lcd->Boiler()->ReadState->GetReadBlocks()->ToText(), "8");

  TkoDeviceQueltaCieco* unit = lcd->Slave(3);
  for (const auto& [hw, inverter] :
       {std::pair{340, true}, {350, false}, {360, true}, {370, true}, {0, false}}) {
    unit->ParRmtHwVersion->SetValue(hw);
    EXPECT_EQ(unit->IsInverter(), inverter) << hw;
  }
  EXPECT_TRUE(unit->ParRmtHwVersion->ReadOnly);

  lcd->ParMasterHwVersion->SetValue(3);
  EXPECT_TRUE(lcd->IsMono());
  lcd->ParMasterHwVersion->SetValue(2);
  EXPECT_FALSE(lcd->IsMono());

  ExpectMinFollows(lcd->ParSetPointCoolEEp, lcd->ParSetPointCoolLoLimitEEp, 5);
  ExpectMaxFollows(lcd->ParSetPointCoolEEp, lcd->ParSetPointCoolHiLimitEEp, 30);

  // The machine type picks its entry; a type outside its limits takes the default type.
  lcd->ParTipoMacchinaEEp->SetValue(2);
  EXPECT_DOUBLE_EQ(lcd->MinFluxH2ODolceDflt(), 3.5);
  {  // as the drive may send it
    TkoThreadBuffer::WriteAccess raw(*lcd->FindRegister("MachineType")->View());
    raw.data()[1] = 9;
  }
  EXPECT_DOUBLE_EQ(lcd->MinFluxH2ODolceDflt(), 2.5);
}

}  // namespace
