// The shipped VX310 data model, read with the engine's own classes: what the windows,
// the supervisor and the oscilloscope bind must be there in the form its class takes,
// the categories must be usable blocks that fit the line, and the setup must have its
// EEPROM copies.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "params/parbuild.h"
#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "params/parvalue.h"
#include "regmodel/dmcollection.h"
#include "regmodel/regblock.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"
#include "regmodel/versionrecord.h"

namespace {

enum class Form { kValue, kEncoded, kLong, kFrac16, kBitField, kBool };

struct Member {
  const char* name;
  Form form;
};

// Every parameter member of the drive classes that a window, the supervisor or the
// oscilloscope uses, with the class it is declared with.
const Member kMembers[] = {
    {"ParEEModBusBaudrate", Form::kEncoded},
    {"ParEEModBusAddress", Form::kValue},
    {"ParEECanBusBaudrate", Form::kEncoded},
    {"ParEECanBusAddress", Form::kValue},
    {"ParHWLimitVolt", Form::kValue},
    {"ParHWLimitAmp", Form::kValue},
    {"ParHWLimitAmpNom", Form::kValue},
    {"ParMainVoltage", Form::kValue},
    {"ParCurrRangeMax", Form::kValue},
    {"ParEECurrRangeMax", Form::kValue},
    {"ParSpeedRangeMax", Form::kValue},
    {"ParEESpeedRangeMax", Form::kValue},
    {"ParPwmFreq", Form::kEncoded},
    {"ParEEPwmFreq", Form::kEncoded},
    {"ParU_Dc_BusV", Form::kValue},
    {"ParU_MotorV", Form::kValue},
    {"ParI_MotorA", Form::kValue},
    {"ParF_MotorHz", Form::kValue},
    {"ParS_MotorRPM", Form::kValue},
    {"ParMotorIrA", Form::kValue},
    {"ParMotorIpA", Form::kValue},
    {"ParMotorSrRPM", Form::kValue},
    {"ParMotorAccel", Form::kValue},
    {"ParMotorDecel", Form::kValue},
    {"CfgUseRamp", Form::kBool},
    {"CfgRampStopMode", Form::kBitField},
    {"ParMotorIrTimer", Form::kValue},
    {"ParMotorStepRev", Form::kValue},
    {"ParMotorStepDiv", Form::kValue},
    {"ParEncoderPulseRev", Form::kValue},
    {"ParEncoderGear", Form::kValue},
    {"ParEncoderExt", Form::kLong},
    {"ParUseEncoderReverse", Form::kBool},
    {"ParUseEncoderSource", Form::kBool},
    {"ParSpeedRef", Form::kFrac16},
    {"ParSpeedWin", Form::kValue},
    {"ParZeroSpeedMax", Form::kFrac16},
    {"ParZeroSpeedMin", Form::kFrac16},
    {"ParZeroTimeout", Form::kValue},
    {"ParPosMaxLimit", Form::kLong},
    {"ParPosMinLimit", Form::kLong},
    {"ParPosWindow", Form::kValue},
    {"ParPosPktAccel", Form::kValue},
    {"ParPosPktDecel", Form::kValue},
    {"ParPosPktSpeed", Form::kFrac16},
    {"ParPosPktTarget", Form::kLong},
    {"ParPosPGain", Form::kFrac16},
    {"ParPosIGain", Form::kFrac16},
    {"ParCyclicRx1", Form::kEncoded},
    {"ParCyclicRx2", Form::kEncoded},
    {"ParCyclicRx3", Form::kEncoded},
    {"ParCyclicRx4", Form::kEncoded},
    {"ParCyclicTx1", Form::kEncoded},
    {"ParCyclicTx2", Form::kEncoded},
    {"ParCyclicTx3", Form::kEncoded},
    {"ParCyclicTx4", Form::kEncoded},
    {"CfgEncoderEnable", Form::kBool},
    {"CfgControlMode", Form::kBitField},
    {"CfgPositionMode", Form::kBool},
    {"CfgRefSource", Form::kBitField},
    {"CfgCmdFromBus", Form::kBool},
    {"CfgZeroActiveLevel", Form::kBool},
    {"CfgZeroDirection", Form::kBool},
    {"CfgUsePosLimits", Form::kBool},
    {"CfgUseSyncSignal", Form::kBool},
    {"CmdDriveEnable", Form::kBool},
    {"HwDriveEnable", Form::kBool},
    {"CmdResetCounter", Form::kBool},
    {"CmdZeroing", Form::kBool},
    {"CmdSyncSignal", Form::kBool},
    {"ParActualPos", Form::kLong},
    {"StateSpeedLoop", Form::kBool},
    {"StateProfile", Form::kBool},
    {"StatePosLoop", Form::kBool},
    {"StateMotor", Form::kBool},
};

const char* const kFaultRegisters[] = {"PreFault1", "PreFault2", "ActFault1", "ActFault2"};

const char* const kCategories[] = {"ActState",     "FaultState", "RamSetup",  "EEPromSetup",
                                   "ImportExport", "RefPosRegs", "CanRxRegs", "CanTxRegs"};

std::string MaskKey(unsigned mask) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Descr[0m%X]", mask);
  return buf;
}

std::string ValueKey(unsigned mask, long value) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "Descr[0m%Xv%ld]", mask, value);
  return buf;
}

class Vx310Model : public ::testing::Test {
 protected:
  void SetUp() override {
    collection_.SetFilePath(std::string(VX_SOURCE_DIR) + "/models");
    const TkoVersionRecord version("VX310v220");
    list_ = collection_.FindRegDefsListFor(&version);
    ASSERT_NE(list_, nullptr) << "no data model in models/ for VX310v220";
    buffer_ = std::make_unique<TkoRegDataBuffer>(list_);
    ASSERT_GT(buffer_->RegisterCount(), 0);
  }

  std::vector<std::string> Entry(const char* member) {
    return vx::SplitCommaList(list_->ReadString("Parameters", member, ""));
  }

  static bool Number(const std::string& text, int32_t& value) { return TextToInteger(text, value); }

  TkoDMCollection collection_;
  TkoRegDefsList* list_ = nullptr;
  std::unique_ptr<TkoRegDataBuffer> buffer_;
};

TEST_F(Vx310Model, IsFoundForEveryTwoPointFirmwareOnly) {
  for (const char* text : {"VX310v220", "VX310v200", "VX310v299"}) {
    const TkoVersionRecord v(text);
    EXPECT_TRUE(list_->MatchesVersion(&v)) << text;
  }
  for (const char* text : {"VX310v120", "VX320v220", "VX310v320"}) {
    const TkoVersionRecord v(text);
    EXPECT_FALSE(list_->MatchesVersion(&v)) << text;
  }
}

// Each member's entry has the form of its class, names registers that exist, and carries
// the descriptions its kind shows (values of encoded fields, the two states of a flag).
TEST_F(Vx310Model, BindsEveryMemberInTheFormOfItsClass) {
  std::map<const TkoRegister*, uint32_t> bitsInUse;
  for (const Member& m : kMembers) {
    SCOPED_TRACE(m.name);
    const std::vector<std::string> items = Entry(m.name);
    const bool twoItems = m.form == Form::kValue || m.form == Form::kEncoded;
    ASSERT_EQ(items.size(), twoItems ? 2u : 3u);
    TkoRegister* reg = buffer_->FindRegister(items[0]);
    ASSERT_NE(reg, nullptr) << "no register " << items[0];
    const TkoRegDefinition* def = reg->Definition();
    ASSERT_TRUE(def->IsNumeric());
    int32_t element = 0;
    const bool twoRegisters = m.form == Form::kLong || m.form == Form::kFrac16;
    ASSERT_TRUE(Number(items[twoRegisters ? 2 : 1], element));
    EXPECT_LT(element, def->Length);
    EXPECT_NE(def->GetDescr(element, 0), def->Name) << "no description";

    switch (m.form) {
      case Form::kValue:
        break;
      case Form::kEncoded: {
        // Every value between the limits is offered by its description. The CAN frame
        // selectors get theirs from the CAN categories when a drive is identified.
        ASSERT_TRUE(def->HasMin && def->HasMax);
        for (long v = static_cast<long>(def->MinValue); v <= static_cast<long>(def->MaxValue); ++v)
          EXPECT_FALSE(def->FindDescr(ValueKey(0, v)).empty()) << "value " << v;
        break;
      }
      case Form::kLong: {
        // Both 16-bit halves, unsigned so that the high half takes any bit pattern.
        TkoRegister* high = buffer_->FindRegister(items[1]);
        ASSERT_NE(high, nullptr) << "no high register " << items[1];
        EXPECT_FALSE(def->IsSigned());
        EXPECT_FALSE(high->Definition()->IsSigned());
        EXPECT_EQ(def->TotalBytes(), 2);
        break;
      }
      case Form::kFrac16: {
        EXPECT_TRUE(def->IsSigned());
        EXPECT_DOUBLE_EQ(def->FormatNorm, 32768.0);
        if (!items[1].empty()) {
          TkoRegister* exponent = buffer_->FindRegister(items[1]);
          ASSERT_NE(exponent, nullptr) << "no exponent register " << items[1];
          // A signed exponent clamped at 0 would turn gains below 0.5 into wrong values.
          EXPECT_FALSE(exponent->Definition()->IsSigned());
        }
        break;
      }
      case Form::kBitField:
      case Form::kBool: {
        int32_t third = 0;
        ASSERT_TRUE(Number(items[2], third));
        uint32_t mask = 0;
        if (m.form == Form::kBool) {
          ASSERT_GE(third, 0);
          ASSERT_LT(third, def->ElementBytes() * 8);
          mask = 1u << third;
        } else {
          mask = static_cast<uint32_t>(third);
        }
        ASSERT_NE(mask, 0u);
        EXPECT_FALSE(def->FindDescr(MaskKey(mask)).empty())
            << "no description of " << MaskKey(mask);
        EXPECT_FALSE(def->FindDescr(ValueKey(mask, 0)).empty());
        EXPECT_FALSE(def->FindDescr(ValueKey(mask, 1)).empty());
        EXPECT_EQ(bitsInUse[reg] & mask, 0u) << "bits shared with another member";
        bitsInUse[reg] |= mask;
        break;
      }
    }
  }
}

// The parameter builder the drive classes use makes each member a parameter of its
// declared class, which describes itself and offers its choices.
TEST_F(Vx310Model, BuildsEveryMemberAsAParameterOfItsClass) {
  for (const Member& m : kMembers) {
    SCOPED_TRACE(m.name);
    TkoParKind kind = TkoParKind::Value;
    switch (m.form) {
      case Form::kValue:
        kind = TkoParKind::Value;
        break;
      case Form::kEncoded:
        kind = TkoParKind::Encoded;
        break;
      case Form::kLong:
        kind = TkoParKind::Long;
        break;
      case Form::kFrac16:
        kind = TkoParKind::Frac16;
        break;
      case Form::kBitField:
        kind = TkoParKind::BitField;
        break;
      case Form::kBool:
        kind = TkoParKind::BoolField;
        break;
    }
    const std::unique_ptr<TkoParValue> p = vx::BuildParameter(kind, m.name, *list_, *buffer_);
    ASSERT_NE(p, nullptr);
    const TkoParValue* raw = p.get();
    switch (m.form) {
      case Form::kValue:
        EXPECT_EQ(dynamic_cast<const TkoParEncoded*>(raw), nullptr);
        break;
      case Form::kEncoded:
        EXPECT_NE(dynamic_cast<const TkoParEncoded*>(raw), nullptr);
        EXPECT_EQ(dynamic_cast<const TkoParBitField*>(raw), nullptr);
        break;
      case Form::kLong:
        EXPECT_NE(dynamic_cast<const TkoParLong*>(raw), nullptr);
        break;
      case Form::kFrac16:
        EXPECT_NE(dynamic_cast<const TkoParFrac16*>(raw), nullptr);
        break;
      case Form::kBitField:
        EXPECT_NE(dynamic_cast<const TkoParBitField*>(raw), nullptr);
        EXPECT_EQ(dynamic_cast<const TkoParBoolField*>(raw), nullptr);
        break;
      case Form::kBool:
        EXPECT_NE(dynamic_cast<const TkoParBoolField*>(raw), nullptr);
        break;
    }
    EXPECT_FALSE(p->GetDescr().empty());
    EXPECT_FALSE(p->GetValueString().empty());
    const bool choices =
        m.form == Form::kEncoded || m.form == Form::kBitField || m.form == Form::kBool;
    // The CAN frame selectors get their choices when a drive is identified.
    if (choices && std::string(m.name).rfind("ParCyclic", 0) != 0) {
      TkoParChoiceList list;
      p->GetValueList(&list, false);
      int codes = 0;
      for (const TkoParChoice& c : list) codes += c.Tag >= 0 && !c.Text.empty();
      EXPECT_GE(codes, 2) << "choices offered";
    }
  }
}

TEST_F(Vx310Model, DescribesEveryBitOfTheFourFaultRegisters) {
  for (const char* name : kFaultRegisters) {
    SCOPED_TRACE(name);
    TkoRegister* reg = buffer_->FindRegister(name);
    ASSERT_NE(reg, nullptr);
    const TkoRegDefinition* def = reg->Definition();
    const int bits = def->ElementBytes() * 8;
    EXPECT_EQ(bits, 16);
    for (int b = 0; b < bits; ++b)
      EXPECT_FALSE(def->FindDescr(MaskKey(1u << b)).empty()) << "bit " << b;
  }
  // A present and a previous fault of the same bit read the same text.
  const TkoRegDefinition* act = buffer_->FindRegister("ActFault2")->Definition();
  const TkoRegDefinition* pre = buffer_->FindRegister("PreFault2")->Definition();
  EXPECT_EQ(act->GetDescr(0, 0x8), pre->GetDescr(0, 0x8));
}

// The limits that the drive class ties to other registers need a maximum of their own,
// and every default lies within its register's limits.
TEST_F(Vx310Model, LimitsAndDefaultsAgree) {
  // A tied maximum is the other register's value in its display units, so both must
  // show in the same units.
  const std::pair<const char*, const char*> ties[] = {{"ParMotorIrA", "ParCurrRangeMax"},
                                                      {"ParMotorIpA", "ParCurrRangeMax"},
                                                      {"ParMotorSrRPM", "ParSpeedRangeMax"},
                                                      {"ParZeroSpeedMin", "ParZeroSpeedMax"}};
  for (const auto& [name, source] : ties) {
    TkoRegister* reg = buffer_->FindRegister(Entry(name).at(0));
    TkoRegister* from = buffer_->FindRegister(Entry(source).at(0));
    ASSERT_NE(reg, nullptr) << name;
    ASSERT_NE(from, nullptr) << source;
    EXPECT_TRUE(reg->Definition()->HasMax) << name;
    EXPECT_DOUBLE_EQ(reg->Definition()->FormatNorm, from->Definition()->FormatNorm)
        << name << " / " << source;
    EXPECT_DOUBLE_EQ(reg->Definition()->FormatOffset, from->Definition()->FormatOffset)
        << name << " / " << source;
  }
  for (int i = 0; i < list_->Count(); ++i) {
    const TkoRegDefinition* d = list_->DefinitionAt(i);
    if (!d->HasDflt) continue;
    if (d->HasMin) {
      EXPECT_GE(d->DfltValue, d->MinValue) << d->Name;
    }
    if (d->HasMax) {
      EXPECT_LE(d->DfltValue, d->MaxValue) << d->Name;
    }
  }
}

// Every category is a chain of valid blocks over defined registers, and each block fits
// one request and its answer: the position reference in particular must go out in one
// write, and the state read stays well inside the 100 ms cycle at 19200 baud.
TEST_F(Vx310Model, CategoriesAreValidBlocksThatFitTheLine) {
  const int maxBuffer = list_->GetMaxBufferSize();
  EXPECT_EQ(list_->ReadInteger("DataModel", "MaxBufferSize", 0), maxBuffer)
      << "MaxBufferSize out of 20..256";
  for (const char* category : kCategories) {
    SCOPED_TRACE(category);
    const std::string text = list_->GetCategoryText(category);
    ASSERT_FALSE(text.empty());
    TkoRegBlock chain(text);
    int blocks = 0;
    for (const TkoRegBlock* b = &chain; b != nullptr; b = b->Next(), ++blocks) {
      ASSERT_TRUE(b->Valid()) << "block " << blocks;
      for (int a = b->First(); a < b->First() + b->Count(); ++a)
        EXPECT_NE(list_->FindByAddress(static_cast<uint16_t>(a)), nullptr) << "register " << a;
      // The transactions split a block from this size on (the write limit is the tighter).
      EXPECT_LT(list_->BlockBytes(b->First(), b->Count()), maxBuffer - 8)
          << "block at " << b->First();
    }
  }
  TkoRegBlock state(list_->GetCategoryText("ActState"));
  int words = 0;
  for (const TkoRegBlock* b = &state; b != nullptr; b = b->Next())
    words += list_->BlockBytes(b->First(), b->Count()) / 2;
  EXPECT_LE(words, 30);
  // (13 + 2N) characters of 0.573 ms plus two 3.5-character gaps.
  EXPECT_LT((13 + 2 * words + 7) * 0.573, 50.0);

  TkoRegBlock refPos(list_->GetCategoryText("RefPosRegs"));
  const std::vector<std::string> target = Entry("ParPosPktTarget");
  ASSERT_EQ(target.size(), 3u);
  EXPECT_EQ(refPos.TotalCount(), 2) << "the two halves of the target, nothing else";
  for (const std::string& half : {target[0], target[1]}) {
    const TkoRegister* reg = buffer_->FindRegister(half);
    ASSERT_NE(reg, nullptr) << half;
    EXPECT_TRUE(refPos.Contains(reg->Definition()->Address)) << half;
  }
}

// What the terminal writes at once must not be read back by the periodic reads: the
// state read runs before a direct write in the same cycle and would put the drive's old
// value into the image just before the write sends it. A self-clearing command keeps a
// register of its own, since the terminal's image keeps its bit set and would send it
// again with any other member written through the same register.
TEST_F(Vx310Model, WhatTheTerminalWritesAtOnceIsNotReadCyclically) {
  TkoRegBlock actState(list_->GetCategoryText("ActState"));
  TkoRegBlock faultState(list_->GetCategoryText("FaultState"));
  const char* const writtenAtOnce[] = {
      "ParEECurrRangeMax",  "ParCurrRangeMax",    "CmdDriveEnable",  "CmdResetCounter",
      "CmdZeroing",         "CmdSyncSignal",      "CfgPositionMode", "ParSpeedRef",
      "ParPosPktAccel",     "ParPosPktDecel",     "ParPosPktSpeed",  "ParPosPktTarget",
      "ParEEModBusAddress", "ParEECanBusBaudrate"};
  for (const char* name : writtenAtOnce) {
    const std::vector<std::string> items = Entry(name);
    const bool twoRegisters = std::string(name) == "ParPosPktTarget";
    for (std::size_t i = 0; i < (twoRegisters ? 2u : 1u); ++i) {
      const TkoRegister* reg = buffer_->FindRegister(items.at(i));
      ASSERT_NE(reg, nullptr) << name;
      const uint16_t a = reg->Definition()->Address;
      EXPECT_FALSE(actState.Contains(a)) << name;
      EXPECT_FALSE(faultState.Contains(a)) << name;
    }
  }
  // Nor do the commands and the references travel with the setup: a send, a save or an
  // import would enable the drive, move it or fire a command.
  for (const char* category : {"RamSetup", "EEPromSetup", "ImportExport"}) {
    TkoRegBlock chain(list_->GetCategoryText(category));
    for (const char* name :
         {"CmdDriveEnable", "CmdResetCounter", "CmdZeroing", "CmdSyncSignal", "ParSpeedRef"}) {
      const TkoRegister* reg = buffer_->FindRegister(Entry(name).at(0));
      ASSERT_NE(reg, nullptr) << name;
      EXPECT_FALSE(chain.Contains(reg->Definition()->Address)) << name << " in " << category;
    }
  }
  for (const char* command : {"CmdResetCounter", "CmdZeroing", "CmdSyncSignal"}) {
    const std::string reg = Entry(command).at(0);
    for (const Member& m : kMembers)
      if (std::string(m.name) != command) {
        EXPECT_NE(Entry(m.name).at(0), reg) << command << " shares its register with " << m.name;
      }
  }
}

TEST_F(Vx310Model, EveryRamSetupRegisterHasItsEepromCopyInTheEepromSetup) {
  TkoRegBlock ram(list_->GetCategoryText("RamSetup"));
  TkoRegBlock eeprom(list_->GetCategoryText("EEPromSetup"));
  int checked = 0;
  for (const TkoRegBlock* b = &ram; b != nullptr; b = b->Next())
    for (int a = b->First(); a < b->First() + b->Count(); ++a, ++checked) {
      const TkoRegDefinition* d = list_->FindByAddress(static_cast<uint16_t>(a));
      ASSERT_NE(d, nullptr) << a;
      EXPECT_TRUE(eeprom.Contains(d->EEPromCopy)) << d->Name << " -> " << d->EEPromCopy;
      const TkoRegDefinition* copy = list_->FindByAddress(d->EEPromCopy);
      ASSERT_NE(copy, nullptr) << d->Name;
      EXPECT_EQ(copy->TotalBytes(), d->TotalBytes()) << d->Name;
    }
  EXPECT_GT(checked, 0);
  // The hardware list shows the EEPROM copies of the ranges, read with the setup.
  for (const char* name :
       {"ParEECurrRangeMax", "ParEESpeedRangeMax", "ParEEPwmFreq", "ParEEModBusAddress"})
    EXPECT_TRUE(ram.Contains(buffer_->FindRegister(Entry(name).at(0))->Definition()->Address))
        << name;
}

}  // namespace
