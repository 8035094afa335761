// The drive-family base on a small data model written here; the test plays the
// connection thread by running the device's transactions against a scripted line and
// then pumps the user-interface queue where their results are handled.
#include "devices/vxslave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "devices/devicesetup.h"
#include "devices/vxdrive.h"
#include "mbwire/mbresult.h"
#include "modbus/mbenginekit.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace {

using vxtest::Bytes;
using vxtest::FakeLine;

// RAM setup 0..3 with EEPROM copies at 100..103 (Flags has none), the actual state at
// 10..11, the fault word at 20, the bus address outside every category at 30.
const char* const kModel = R"([DataModel]
MaxBufferSize=100
[Categories]
ActState="10/11"
FaultState="20"
RamSetup="0/3"
EEPromSetup="100/102"
ImportExport="0/1"
[0]
Name=Speed
MinValue=0
MaxValue=3000
DfltValue=100
EEPromCopy=+100
[1]
Name=Accel
MaxValue=500
DfltValue=7
EEPromCopy=+100
[2]
Name=Mode
EEPromCopy=+100
[3]
Name=Flags
[10]
Name=State
[11]
Name=Volt
[20]
Name=Fault
[30]
Name=BusAddr
[31]
Name=HWLimitVolt
[32]
Name=Pair
Length=2
[Parameters]
ParEEModBusAddress="BusAddr,0"
ParEECanBusAddress="Nowhere,0"
ParEEModBusBaudrate="Mode"
ParHWLimitVolt="HWLimitVolt,0"
ParU_MotorV="Volt,0"
ParMotorUrV="Speed,0"
CfgUseRamp="Flags,0,1"
CfgRefSource="Flags,0,0x30"
)";

// Counts the hook calls the family leaves to its classes.
class CountingSlave : public TkoDeviceVXSlave {
 public:
  using TkoDeviceVXSlave::TkoDeviceVXSlave;
  void DoSetupModified() override { ++modified; }
  void DoSetupRead() override { ++setupReads; }
  void DoFaultState() override { ++faultReads; }
  int modified = 0;
  int setupReads = 0;
  int faultReads = 0;
};

// Answers every read with `fill` in each word and every write with its echo.
FakeLine::Answer Answer(const Bytes& q, uint8_t fill) {
  if (q[1] == 0x03) return {0, vxtest::ReadAnswer(q[0], Bytes(q[5] * 2u, fill))};
  return {0, Bytes(q.begin(), q.begin() + 6)};
}

class VXSlaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model.SetText(kModel);
    model.BuildDefinitions();
    setup.SetDeviceAddr(5);
    setup.SetEnabled(true);
    device = std::make_unique<CountingSlave>(&setup, &version, &model);
    line->responder = [](const Bytes& q) { return Answer(q, 0); };
  }

  // One run of the transaction as the connection thread would make it, then its result
  // handled on the user-interface side; the run's result code.
  int32_t RunOnce(TkoMBTransaction* t) {
    const int32_t r = t->Run(&server);
    ui.PumpPending();
    return r;
  }
  TkoRegister* Reg(const char* name) { return device->FindRegister(name); }
  // The function codes and first addresses of the requests sent since the last call.
  std::vector<std::pair<int, int>> Sent() {
    std::vector<std::pair<int, int>> out;
    const std::vector<Bytes> q = line->Queries();
    for (std::size_t i = seen; i < q.size(); ++i)
      out.emplace_back(q[i][1], q[i][2] * 256 + q[i][3]);
    seen = q.size();
    return out;
  }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
  vxtest::FakeServer server{line};
  TkoRegDefsList model;
  TkoVersionRecord version{"VX999v100"};
  TkoDeviceSetup setup;
  std::unique_ptr<CountingSlave> device;
  std::size_t seen = 0;
};

TEST_F(VXSlaveTest, CreateParameterBuildsTheKindItsEntryAndClassAllow) {
  enum class Is { None, Value, Pair, Encoded, BitField, BoolField, Long, Frac16, Point };
  struct Case {
    TkoParKind kind;
    const char* text;
    Is built;
  } cases[] = {
      {TkoParKind::Value, "Speed,0", Is::Value},
      {TkoParKind::Encoded, "Mode,0", Is::Encoded},
      {TkoParKind::Value, "", Is::None},
      {TkoParKind::Value, "Speed", Is::None},
      {TkoParKind::Value, "Speed,0,1,2", Is::None},
      {TkoParKind::Value, "Nowhere,0", Is::None},
      {TkoParKind::Value, "Speed,x", Is::None},
      {TkoParKind::Value, "Speed,Accel,0", Is::None},
      {TkoParKind::Encoded, "Flags,0,3", Is::None},
      {TkoParKind::BitField, "Flags,0,0x30", Is::BitField},
      {TkoParKind::BoolField, "Flags,0,3", Is::BoolField},
      {TkoParKind::BoolField, "Flags,0", Is::None},
      {TkoParKind::BoolField, "Flags,0,3,4", Is::None},
      {TkoParKind::BoolField, "Nowhere,0,3", Is::None},
      {TkoParKind::BitField, "Flags,x,3", Is::None},
      {TkoParKind::Long, "Speed,Accel,0", Is::Long},
      {TkoParKind::Long, "Speed,,0", Is::Long},
      {TkoParKind::Long, "Nowhere,Accel,0", Is::None},
      {TkoParKind::Long, "Speed,Accel", Is::None},
      {TkoParKind::Frac16, "Speed,Accel,0", Is::Frac16},
      {TkoParKind::Frac16, "Speed,Accel,y", Is::None},
      {TkoParKind::Point2D, "Nowhere,Nothing,0", Is::Point},
      {TkoParKind::Point2D, "Speed,Accel,0,1", Is::None},
      // An element the register does not have: every access to it would throw.
      {TkoParKind::Value, "Speed,1", Is::None},
      {TkoParKind::Value, "Pair,1", Is::Pair},
      {TkoParKind::BoolField, "Flags,2,3", Is::None},
      {TkoParKind::Long, "Pair,Speed,1", Is::None},
      {TkoParKind::Frac16, "Pair,Accel,1", Is::None},
      {TkoParKind::Point2D, "Nowhere,Speed,1", Is::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::unique_ptr<TkoParValue> p = device->CreateParameter(c.kind, c.text);
    const TkoParValue* raw = p.get();
    switch (c.built) {
      case Is::None:
        EXPECT_EQ(raw, nullptr);
        break;
      case Is::Value:
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(dynamic_cast<const TkoParEncoded*>(raw), nullptr);
        EXPECT_EQ(raw->Register, Reg("Speed"));
        break;
      case Is::Pair:
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(raw->Register, Reg("Pair"));
        EXPECT_EQ(raw->Index, 1);
        break;
      case Is::Encoded:
        EXPECT_NE(dynamic_cast<const TkoParEncoded*>(raw), nullptr);
        EXPECT_EQ(dynamic_cast<const TkoParBitField*>(raw), nullptr);
        break;
      case Is::BitField: {
        auto* f = dynamic_cast<const TkoParBitField*>(raw);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(dynamic_cast<const TkoParBoolField*>(raw), nullptr);
        EXPECT_EQ(f->Mask, 0x30u);
        break;
      }
      case Is::BoolField: {
        auto* f = dynamic_cast<const TkoParBoolField*>(raw);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->Mask, 0x08u);
        break;
      }
      case Is::Long: {
        auto* l = dynamic_cast<const TkoParLong*>(raw);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->Register, Reg("Speed"));
        EXPECT_EQ(l->HighRegister,
                  std::string(c.text).find("Accel") != std::string::npos ? Reg("Accel") : nullptr);
        break;
      }
      case Is::Frac16: {
        auto* f = dynamic_cast<const TkoParFrac16*>(raw);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->ExpRegister, Reg("Accel"));
        break;
      }
      case Is::Point: {
        auto* pt = dynamic_cast<const TkoPar2DPoint*>(raw);
        ASSERT_NE(pt, nullptr);
        EXPECT_EQ(pt->Register, nullptr);
        EXPECT_EQ(pt->YRegister, nullptr);
        break;
      }
    }
  }
}

TEST_F(VXSlaveTest, SlotsWithoutAUsableEntryStayEmpty) {
  ASSERT_NE(device->ParEEModBusAddress, nullptr);
  EXPECT_EQ(device->ParEEModBusAddress->Register, Reg("BusAddr"));
  EXPECT_EQ(device->ParEECanBusAddress, nullptr) << "entry names no register";
  EXPECT_EQ(device->ParEEModBusBaudrate, nullptr) << "entry of one item";
  EXPECT_EQ(device->ParEECanBusBaudrate, nullptr) << "no entry";

  device->ReleaseSlots();
  EXPECT_EQ(device->ParEEModBusAddress, nullptr);
}

TEST_F(VXSlaveTest, TheDriveBindsRegistersByNameAndMarksMeasuredValuesReadOnly) {
  TkoRegDefsList driveModel;
  driveModel.SetText(std::string(kModel) +
                     "[40]\nName=ActFault1\n[41]\nName=PreFault2\n[42]\nName=CurrRange\n");
  driveModel.WriteString("Parameters", "ParCurrRangeMax", "CurrRange,0");
  driveModel.BuildDefinitions();
  TkoDeviceSetup driveSetup;
  TkoDeviceVXDrive drive(&driveSetup, &version, &driveModel);
  EXPECT_EQ(drive.RegActFault1, drive.FindRegister("ActFault1"));
  EXPECT_EQ(drive.RegPreFault2, drive.FindRegister("PreFault2"));
  EXPECT_NE(drive.RegActFault1, nullptr);
  EXPECT_EQ(drive.RegPreFault1, nullptr);
  ASSERT_NE(drive.ParHWLimitVolt, nullptr);
  ASSERT_NE(drive.ParU_MotorV, nullptr);
  ASSERT_NE(drive.ParMotorUrV, nullptr);
  EXPECT_TRUE(drive.ParHWLimitVolt->ReadOnly);
  EXPECT_TRUE(drive.ParU_MotorV->ReadOnly);
  EXPECT_FALSE(drive.ParMotorUrV->ReadOnly);
  ASSERT_NE(drive.CfgRefSource, nullptr);
  EXPECT_EQ(drive.CfgRefSource->Mask, 0x30u);
  ASSERT_NE(drive.CfgUseRamp, nullptr);
  EXPECT_EQ(drive.CfgUseRamp->Bit, 1);

  // Without an EEPROM copy of the range the report lists the range itself.
  ASSERT_EQ(drive.ParEECurrRangeMax, nullptr);
  ASSERT_NE(drive.ParCurrRangeMax, nullptr);
  std::vector<std::string> lines, expected;
  drive.ReportDevice(&lines);
  for (const TkoParValue* p :
       {drive.ParEEModBusAddress, drive.ParHWLimitVolt, drive.ParCurrRangeMax})
    p->Report(&expected);
  EXPECT_EQ(lines, expected);
}

TEST_F(VXSlaveTest, TheStandardTransactionsAreSetUpAsTheWindowsExpectThem) {
  struct Case {
    TkoMBChainedTransa* t;
    const char* name;
    const char* comment;
    int repeat;
    uint16_t reasons;
    bool enabled;
    const char* reads;
    const char* writes;
  } cases[] = {
      {device->ReadActState, "ReadActState", "Periodic read of actual state.", 1, 0, true, "10/11",
       ""},
      {device->ReadFaultState, "ReadFaultState", "Periodic read of fault condition.", 10, 0, true,
       "20", ""},
      {device->ReadRamSetup, "ReadRamSetup", "Load actual setup from device.", 10,
       TkoMBTransaction::trResponse, true, "0/3", ""},
      {device->SendRamSetup, "SendRamSetup", "Send new setup to device.", 5,
       TkoMBTransaction::trAlways, false, "", "0/3"},
      {device->SaveEEPromSetup, "SaveEEPromSetup", "Save setup to EEProm.", 5,
       TkoMBTransaction::trAlways, false, "", "100/102"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.t, nullptr);
    EXPECT_TRUE(device->HasTransa(c.t));
    EXPECT_TRUE(c.t->IsSystem());
    EXPECT_EQ(c.t->GetTransaName(), c.name);
    EXPECT_EQ(c.t->GetComment(), c.comment);
    EXPECT_EQ(c.t->GetRepeatTime(), c.repeat);
    EXPECT_EQ(c.t->GetTermReasons(), c.reasons);
    EXPECT_EQ(c.t->GetEnabled(), c.enabled);
    EXPECT_EQ(c.t->GetReadBlocks() ? c.t->GetReadBlocks()->ToText() : "", c.reads);
    EXPECT_EQ(c.t->GetWriteBlocks() ? c.t->GetWriteBlocks()->ToText() : "", c.writes);
  }
}

// A transaction whose category the model lacks would exchange nothing and report
// success ("Setup sent." for a send that sent nothing): it is never started.
TEST_F(VXSlaveTest, ATransactionWithoutItsCategoryIsNeverStarted) {
  TkoRegDefsList bare;
  bare.SetText("[DataModel]\nMaxBufferSize=100\n[0]\nName=Speed\n");
  bare.BuildDefinitions();
  TkoDeviceSetup bareSetup;
  TkoDeviceVXSlave d(&bareSetup, &version, &bare);
  d.StartSetupRead();
  d.StartSetupSendAndSave();
  EXPECT_FALSE(d.GetSaveAfterSend());
  d.SaveSetup();
  for (TkoMBChainedTransa* t :
       {d.ReadActState, d.ReadFaultState, d.ReadRamSetup, d.SendRamSetup, d.SaveEEPromSetup}) {
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->GetEnabled()) << t->GetTransaName();
  }
  EXPECT_EQ(d.GetSetupState(), TkoDeviceVXSlave::ssNotRead);
}

TEST_F(VXSlaveTest, PeriodicReadsRaiseTheirNotificationsAfterTheirHooks) {
  std::vector<std::string> events;
  device->OnActState = [&](TkoDeviceVXSlave* d, TkoMBTransaction* t) {
    EXPECT_EQ(d, device.get());
    EXPECT_EQ(t, device->ReadActState);
    events.push_back("act");
  };
  device->OnFaultState = [&](TkoDeviceVXSlave*, TkoMBTransaction* t) {
    EXPECT_EQ(t, device->ReadFaultState);
    EXPECT_EQ(device->faultReads, 1) << "hook first";
    events.push_back("fault");
  };
  line->responder = [](const Bytes& q) { return Answer(q, 0x11); };
  EXPECT_EQ(RunOnce(device->ReadActState), 0);
  EXPECT_EQ(RunOnce(device->ReadFaultState), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"act", "fault"}));
  EXPECT_EQ(Reg("Volt")->GetValueInteger(0), 0x1111);
  EXPECT_EQ(Reg("Fault")->GetValueInteger(0), 0x1111);
  EXPECT_TRUE(device->ReadActState->GetEnabled()) << "periodic";
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssNotRead) << "no setup read yet";
}

// The setup state through read, local edit, send, read again and save.
TEST_F(VXSlaveTest, SetupStateFollowsTheSetupThroughReadEditSendAndSave) {
  int reads = 0, sent = 0, saved = 0;
  device->OnSetupRead = [&](TkoDeviceVXSlave*, TkoMBTransaction*) { ++reads; };
  device->OnSetupSent = [&](TkoDeviceVXSlave*, TkoMBTransaction*) { ++sent; };
  device->OnSetupSaved = [&](TkoDeviceVXSlave*, TkoMBTransaction*) { ++saved; };
  line->responder = [](const Bytes& q) { return Answer(q, 0); };

  EXPECT_EQ(RunOnce(device->ReadRamSetup), 0);
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssInStep);
  EXPECT_EQ(device->setupReads, 1);
  EXPECT_EQ(reads, 1);
  EXPECT_FALSE(device->ReadRamSetup->GetEnabled()) << "ends once answered";
  const int hookCallsOfTheRead = device->modified;
  EXPECT_EQ(hookCallsOfTheRead, 0) << "data from the line fires no register event";

  // An unchanged value keeps the state but still reaches the hook.
  Reg("Speed")->SetValueInteger(0, 0);
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssInStep);
  EXPECT_EQ(device->modified, 1);
  // A register outside the RAM setup is no setup change.
  Reg("BusAddr")->SetValueInteger(0, 9);
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssInStep);
  EXPECT_EQ(device->modified, 1);
  Reg("Flags")->SetValueBit(0, 2, true);
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssModified);
  EXPECT_EQ(device->modified, 2);

  device->StartSetupSend();
  EXPECT_FALSE(device->GetSaveAfterSend());
  EXPECT_EQ(RunOnce(device->SendRamSetup), 0);
  EXPECT_EQ(Sent().back(), std::make_pair(0x10, 0));
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssSentNotSaved);
  EXPECT_EQ(sent, 1);
  EXPECT_FALSE(device->SaveEEPromSetup->GetEnabled()) << "a send alone does not save";

  // The drive's RAM holds the sent setup but its EEPROM does not: a read keeps saying so.
  device->StartSetupRead();
  EXPECT_EQ(RunOnce(device->ReadRamSetup), 0);
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssSentNotSaved);
  EXPECT_EQ(reads, 2);

  device->SaveSetup();
  EXPECT_EQ(RunOnce(device->SaveEEPromSetup), 0);
  EXPECT_EQ(Sent().back(), std::make_pair(0x10, 100));
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssInStep);
  EXPECT_EQ(saved, 1);
}

// A setup read copies the drive's whole RAM setup into the image, however it was started:
// values edited here and not sent survive it, and the read tells which it kept.
TEST_F(VXSlaveTest, ASetupReadKeepsTheValuesEditedHereUntilTheyAreSent) {
  RunOnce(device->ReadRamSetup);
  ASSERT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssInStep);
  EXPECT_TRUE(device->KeptByLastRead().empty());
  Reg("Speed")->SetValueInteger(0, 1500);
  Reg("Accel")->SetValueInteger(0, 0);  // unchanged: no edit

  line->responder = [](const Bytes& q) { return Answer(q, 0x01); };  // every word 257
  device->StartSetupRead();
  EXPECT_EQ(RunOnce(device->ReadRamSetup), 0);
  EXPECT_EQ(Reg("Speed")->GetValueInteger(0), 1500) << "the edit is kept";
  EXPECT_EQ(Reg("Accel")->GetValueInteger(0), 257) << "the rest is the drive's";
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssModified);
  ASSERT_EQ(device->KeptByLastRead().size(), 1u);
  EXPECT_EQ(device->KeptByLastRead()[0].Name, "Speed");
  EXPECT_EQ(device->KeptByLastRead()[0].Kept, "1500");
  EXPECT_EQ(device->KeptByLastRead()[0].Drive, "257");

  // Edited again over the kept value, then sent: the next read brings the drive's values.
  Reg("Speed")->SetValueInteger(0, 1600);
  device->StartSetupSend();
  EXPECT_EQ(RunOnce(device->SendRamSetup), 0);
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssSentNotSaved);
  EXPECT_FALSE(device->HasLocalEdits());
  device->StartSetupRead();
  EXPECT_EQ(RunOnce(device->ReadRamSetup), 0);
  EXPECT_EQ(Reg("Speed")->GetValueInteger(0), 257);
  EXPECT_TRUE(device->KeptByLastRead().empty());

  // An edit made after the send was started may have missed it: it stays an edit.
  device->StartSetupSend();
  Reg("Mode")->SetValueInteger(0, 3);
  EXPECT_EQ(RunOnce(device->SendRamSetup), 0);
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssModified);
  EXPECT_TRUE(device->HasLocalEdits());

  // Edits the engineer agreed to lose: the read brings the drive's values and is in step.
  device->DiscardLocalEdits();
  device->StartSetupRead();
  EXPECT_EQ(RunOnce(device->ReadRamSetup), 0);
  EXPECT_EQ(Reg("Mode")->GetValueInteger(0), 257);
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssInStep);
}

TEST_F(VXSlaveTest, SendAndSaveSavesOnlyAfterTheSendIsAnswered) {
  RunOnce(device->ReadRamSetup);
  Reg("Speed")->SetValueInteger(0, 1500);
  ASSERT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssModified);
  Sent();

  line->responder = nullptr;  // every exchange times out
  device->StartSetupSendAndSave();
  EXPECT_TRUE(device->GetSaveAfterSend());
  EXPECT_EQ(RunOnce(device->SendRamSetup), vx::mbresult::kTimeout);
  EXPECT_FALSE(device->SaveEEPromSetup->GetEnabled());
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssModified);
  EXPECT_EQ(Reg("EESpeed")->GetValueInteger(0), 0) << "nothing copied to the EEPROM mirror";

  line->responder = [](const Bytes& q) { return Answer(q, 0); };
  device->StartSetupSendAndSave();
  EXPECT_EQ(RunOnce(device->SendRamSetup), 0);
  EXPECT_FALSE(device->GetSaveAfterSend());
  ASSERT_TRUE(device->SaveEEPromSetup->GetEnabled()) << "the answered send starts the save";
  EXPECT_EQ(Reg("EESpeed")->GetValueInteger(0), 1500);
  EXPECT_EQ(RunOnce(device->SaveEEPromSetup), 0);
  EXPECT_EQ(Sent(), (std::vector<std::pair<int, int>>{{0x10, 0}, {0x10, 0}, {0x10, 100}}));
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssInStep);
}

TEST_F(VXSlaveTest, SaveSetupCopiesTheSentRegistersIntoTheirEepromMirrors) {
  Reg("Speed")->SetValueInteger(0, 2500);
  Reg("Accel")->SetValueInteger(0, 321);
  Reg("EEMode")->SetValueInteger(0, 77);  // Mode is 0: its copy takes that
  device->SaveSetup();
  EXPECT_EQ(Reg("EESpeed")->GetValueInteger(0), 2500);
  EXPECT_EQ(Reg("EEAccel")->GetValueInteger(0), 321);
  EXPECT_EQ(Reg("EEMode")->GetValueInteger(0), 0);
  EXPECT_TRUE(device->SaveEEPromSetup->GetEnabled());
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssModified) << "copying is no save";
}

TEST_F(VXSlaveTest, ExportAndImportRoundTripTheImportExportRegistersOnly) {
  Reg("Speed")->SetValueInteger(0, 1234);
  Reg("Accel")->SetValueInteger(0, 56);
  Reg("Mode")->SetValueInteger(0, 3);
  TkoTextResource file;
  device->ExportSetup("Setup", &file);
  EXPECT_EQ(file.ReadString("Setup", "Speed", ""), "\"1234\"");
  EXPECT_FALSE(file.FindKey("Setup", "Mode")) << "outside ImportExport";

  Reg("Speed")->SetValueInteger(0, 9);
  Reg("Accel")->SetValueInteger(0, 9);
  file.WriteString("Setup", "Mode", "\"2\"");
  file.WriteString("Setup", "Bogus", "\"1\"");
  const std::string report = device->ImportSetup("Setup", &file);
  EXPECT_EQ(Reg("Speed")->GetValueInteger(0), 1234);
  EXPECT_EQ(Reg("Accel")->GetValueInteger(0), 56);
  EXPECT_EQ(Reg("Mode")->GetValueInteger(0), 3) << "excluded by the category";
  // One line per key, in the file's order (which the writes above chose).
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = report.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(report.substr(at, end - at));
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"Accel=Found.", "Bogus=UNKNOWN!", "Mode=Excluded!",
                                             "Speed=Found."}));
  EXPECT_EQ(device->GetSetupState(), TkoDeviceVXSlave::ssModified) << "an import is a local change";

  EXPECT_EQ(device->ImportSetup("Setup", nullptr), "");
  TkoTextResource untouched;
  device->ExportSetup("Setup", nullptr);
  model.WriteString("Categories", "ImportExport", "");
  device->ExportSetup("Setup", &untouched);
  EXPECT_EQ(untouched.Count(), 0) << "without the category nothing is written";
  EXPECT_EQ(device->ImportSetup("Setup", &file), "");
}

TEST_F(VXSlaveTest, ReportsTheBusParametersThatAreBoundVisibleAndEnabled) {
  std::vector<std::string> lines;
  device->ReportDevice(&lines);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(Reg("BusAddr")->Definition()->GetDescr(0, 0)), std::string::npos);
  lines.clear();
  device->ParEEModBusAddress->Visible = false;
  device->ReportDevice(&lines);
  EXPECT_TRUE(lines.empty());
  device->ParEEModBusAddress->Visible = true;
  device->ParEEModBusAddress->Enabled = false;
  device->ReportDevice(&lines);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
