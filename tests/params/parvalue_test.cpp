#include "params/parvalue.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "params/parbuild.h"
#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "parfixture.h"
#include "platform/koexception.h"

namespace {

using vxtest::ParModel;
using vxtest::StandInDevice;

const char* kModel =
    "[Parameters]\n"
    "ParSpeed=\"Speed,0\"\n"
    "ParPos=\"PosLo,PosHi,0\"\n"
    "[1]\nName=Speed\nDescr=Motor speed\nDfltValue=3\nMinValue=0\nMaxValue=5\n"
    "FormatNorm=10\nFormatString=\"#0.0's'\"\n"
    "[2]\nName=PosLo\nDfltValue=2\nMaxValue=65535\nMinValue=0\n"
    "[3]\nName=PosHi\nDfltValue=1\nMaxValue=65535\nMinValue=0\n"
    "[4]\nName=Free\n"
    "[5]\nName=Arr\nLength=2\nType=signed short\n";

class ParValueTest : public ::testing::Test {
 protected:
  ParModel m{kModel};
  TkoRegister* Speed = m.R("Speed");
  TkoRegister* Lo = m.R("PosLo");
  TkoRegister* Hi = m.R("PosHi");
};

TEST_F(ParValueTest, PlainParameterShowsTheRegisterInDisplayUnits) {
  TkoParValue p(Speed, 0);
  int changes = 0;
  p.OnChange = [&](TkoParValue* s) {
    EXPECT_EQ(s, &p);
    ++changes;
  };
  p.SetValue(1.25);
  EXPECT_EQ(Speed->GetValueInteger(0), 12);
  EXPECT_DOUBLE_EQ(p.GetValue(), 1.2);
  EXPECT_EQ(p.GetValueString(), "1.2s");
  EXPECT_TRUE(p.IsChanged());
  p.SetValueString("9");  // clamped to the maximum of 5.0
  EXPECT_EQ(p.GetValueString(), "5.0s");
  p.SetValueString("abc");  // ignored by the register, still a change notice
  EXPECT_EQ(p.GetValueString(), "5.0s");
  p.AssignDefault();
  EXPECT_EQ(p.GetValueString(), "3.0s");
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(p.GetDescr(), "Motor speed");
  EXPECT_EQ(p.GetDevice(), m.device.get());
}

TEST_F(ParValueTest, LimitsAndTheirTexts) {
  TkoParValue p(Speed, 0);
  EXPECT_TRUE(p.HasMax() && p.HasMin() && p.HasDflt());
  EXPECT_EQ(p.GetMax(), 5);
  EXPECT_EQ(p.GetMaxString(), "5.0s");
  EXPECT_EQ(p.GetMinString(), "0.0s");
  EXPECT_EQ(p.GetDfltString(), "3.0s");
  TkoParValue free(m.R("Free"), 0);
  EXPECT_FALSE(free.HasMax() || free.HasMin() || free.HasDflt());
  EXPECT_EQ(free.GetMax(), 0);
  EXPECT_EQ(free.GetMaxString(), "");
}

TEST_F(ParValueTest, ValueListOffersTheLimitsWithTheirTags) {
  TkoParValue p(Speed, 0);
  TkoParChoiceList list{{"old", 1}};
  p.GetValueList(&list, true);
  EXPECT_EQ(list, (TkoParChoiceList{{"3.0s (dflt)", kParTagDflt},
                                    {"0.0s (min)", kParTagMin},
                                    {"5.0s (max)", kParTagMax}}));
  p.GetValueList(&list, false);
  EXPECT_TRUE(list.empty());
  p.GetValueList(nullptr, true);
}

TEST_F(ParValueTest, ElementOutsideTheRegisterRaisesTheRegistersError) {
  TkoParValue p(Speed, 1);
  try {
    p.GetValue();
    FAIL() << "no exception";
  } catch (const EkoException& e) {
    EXPECT_STREQ(e.what(), "GetValueDouble: Index out of range!");
  }
  TkoParValue wrapped(m.R("Arr"), 257);  // the element index keeps its low 8 bits
  EXPECT_EQ(wrapped.Index, 1);
}

TEST_F(ParValueTest, ReportPadsTheDescriptionTo40Characters) {
  Speed->SetValueInteger(0, 20);
  TkoParValue p(Speed, 0);
  std::vector<std::string> lines{"first"};
  p.Report(&lines);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], std::string(29, ' ') + "Motor speed: 2.0s");
}

// ---------------------------------------------------------------------------------------

TEST_F(ParValueTest, LongCombinesTwoRawHalves) {
  TkoParLong p(Lo, 0, Hi);
  Lo->SetValueInteger(0, 2);
  Hi->SetValueInteger(0, 1);
  EXPECT_EQ(p.GetLong(), 65538u);
  EXPECT_EQ(p.GetValue(), 65538);
  p.SetLong(65536 + 65535);
  EXPECT_EQ(Lo->GetValueInteger(0), 65535);
  EXPECT_EQ(Hi->GetValueInteger(0), 1);
  Hi->SetValueInteger(0, 0x8000);
  EXPECT_LT(p.GetValue(), 0);
  EXPECT_EQ(p.GetValueString(), std::to_string(static_cast<int32_t>(0x8000FFFFu)));
  // Bounds: both halves have them, and the 32-bit bound stays unsigned.
  EXPECT_TRUE(p.HasMax());
  EXPECT_EQ(p.GetMax(), 4294967295.0);
  EXPECT_EQ(p.GetDflt(), 65538);
  EXPECT_EQ(p.GetDfltString(), "65538");
}

TEST_F(ParValueTest, LongTextsAndValues) {
  TkoParLong p(Lo, 0, Hi);
  p.SetValueString("700h");
  EXPECT_EQ(p.GetLong(), 1792u);
  p.SetValueString("abc");
  EXPECT_EQ(p.GetLong(), 1792u);
  p.SetValue(-1.9);  // truncated to -1: every bit set
  EXPECT_EQ(p.GetLong(), 0xFFFFFFFFu);
  p.SetValue(1e30);  // far outside: no undefined conversion, some 32-bit pattern
  p.AssignDefault();
  EXPECT_EQ(p.GetLong(), 65538u);
  EXPECT_TRUE(p.IsChanged());
}

TEST_F(ParValueTest, LongWithoutHighRegisterIsAnUnscaled16BitValue) {
  TkoParLong p(Speed, 0, nullptr);  // Speed has FormatNorm 10
  Speed->SetValueInteger(0, 40);
  EXPECT_EQ(p.GetValue(), 40);
  EXPECT_EQ(p.GetValueString(), "40.0s");
  EXPECT_TRUE(p.HasMax());
  EXPECT_EQ(p.GetMax(), 5);  // the bound in display units, taken as raw
  TkoParLong noBoth(Lo, 0, m.R("Free"));
  EXPECT_FALSE(noBoth.HasMax());
  EXPECT_EQ(noBoth.GetMax(), 65535);  // low half only; the text shows it anyway
  EXPECT_EQ(noBoth.GetMaxString(), "65535");
}

// ---------------------------------------------------------------------------------------
// Every kind without a register: neutral answers, writes ignored.

struct KindCase {
  const char* name;
  std::function<std::unique_ptr<TkoParValue>()> make;
  const char* setStringError;  // nullptr: ignored quietly
};

TEST(ParWithoutRegister, EveryKindAnswersNeutrally) {
  const KindCase kinds[] = {
      {"value", [] { return std::make_unique<TkoParValue>(nullptr, 0); }, nullptr},
      {"long", [] { return std::make_unique<TkoParLong>(nullptr, 0, nullptr); }, nullptr},
      {"frac16", [] { return std::make_unique<TkoParFrac16>(nullptr, 0, nullptr); }, nullptr},
      {"encoded", [] { return std::make_unique<TkoParEncoded>(nullptr, 0); },
       "TkoParEncoded::SetValueString operation not allowed."},
      {"bitfield", [] { return std::make_unique<TkoParBitField>(nullptr, 0x30, 0); },
       "TkoParBitField::SetValueString operation not allowed."},
      {"boolfield", [] { return std::make_unique<TkoParBoolField>(nullptr, 3, 0); },
       "TkoParBoolField::SetValueString operation not allowed."},
  };
  for (const KindCase& k : kinds) {
    SCOPED_TRACE(k.name);
    auto p = k.make();
    int changes = 0;
    p->OnChange = [&](TkoParValue*) { ++changes; };
    EXPECT_FALSE(p->HasMax() || p->HasMin() || p->HasDflt());
    EXPECT_EQ(p->GetMax() + p->GetMin() + p->GetDflt() + p->GetValue(), 0);
    EXPECT_EQ(p->GetMaxString() + p->GetMinString() + p->GetDfltString() + p->GetDescr() +
                  p->GetValueString(),
              "");
    EXPECT_FALSE(p->IsChanged());
    p->SetValue(3);
    p->AssignDefault();
    TkoParChoiceList list{{"kept", 0}};
    p->GetValueList(&list, true);
    EXPECT_EQ(list.size(), 1u);
    std::vector<std::string> lines;
    p->Report(&lines);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(p->ReadNow(), 0);
    EXPECT_EQ(p->WriteNow(), 0);
    EXPECT_EQ(p->GetDevice(), nullptr);
    if (k.setStringError) {
      try {
        p->SetValueString("1");
        ADD_FAILURE() << "no exception";
      } catch (const EkoException& e) {
        EXPECT_STREQ(e.what(), k.setStringError);
      }
    } else {
      p->SetValueString("1");
    }
    EXPECT_EQ(changes, 0);
  }
}

// ---------------------------------------------------------------------------------------

TEST_F(ParValueTest, ReadAndWriteNowGoThroughTheDevice) {
  StandInDevice& dev = *m.device;
  using Call = StandInDevice::Call;
  struct Case {
    const char* name;
    std::function<std::unique_ptr<TkoParValue>()> make;
    std::map<int, int32_t> codes;
    int32_t result;
    std::vector<int> addresses;  // registers transferred, in order
  };
  TkoRegister* free = m.R("Free");
  const Case cases[] = {
      {"plain", [&] { return std::make_unique<TkoParValue>(Speed, 0); }, {{1, -5}}, -5, {1}},
      {"long both", [&] { return std::make_unique<TkoParLong>(Lo, 0, Hi); }, {}, 0, {2, 3}},
      {"long high fails",
       [&] { return std::make_unique<TkoParLong>(Lo, 0, Hi); },
       {{3, -11}},
       -11,
       {2, 3}},
      {"long low fails",
       [&] { return std::make_unique<TkoParLong>(Lo, 0, Hi); },
       {{2, int32_t(0x80040201)}},
       int32_t(0x80040201),
       {2}},
      {"long alone", [&] { return std::make_unique<TkoParLong>(Lo, 0, nullptr); }, {}, 0, {2}},
      {"frac16", [&] { return std::make_unique<TkoParFrac16>(Lo, 0, Hi); }, {{3, -2}}, -2, {2, 3}},
      {"point", [&] { return std::make_unique<TkoPar2DPoint>(Lo, 0, free); }, {}, 0, {2, 4}},
      {"point x fails",
       [&] { return std::make_unique<TkoPar2DPoint>(Lo, 0, free); },
       {{2, -1}},
       -1,
       {2}},
      {"point y alone",
       [&] { return std::make_unique<TkoPar2DPoint>(nullptr, 0, free); },
       {{4, -3}},
       -3,
       {4}},
      {"encoded", [&] { return std::make_unique<TkoParEncoded>(free, 0); }, {}, 0, {4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = c.make();
    for (char op : {'R', 'W'}) {
      dev.calls.clear();
      dev.codes = c.codes;
      EXPECT_EQ(op == 'R' ? p->ReadNow() : p->WriteNow(), c.result);
      std::vector<Call> want;
      for (int a : c.addresses) want.push_back({op, a, true});
      EXPECT_EQ(dev.calls, want);
    }
  }
}

// ---------------------------------------------------------------------------------------

TEST_F(ParValueTest, BuildingFromParameterEntries) {
  struct Case {
    TkoParKind kind;
    const char* entry;
    bool built;
    const char* reg;  // expected Register name, nullptr for none
    int index;
  };
  const Case cases[] = {
      {TkoParKind::Value, "Speed,0", true, "Speed", 0},
      {TkoParKind::Value, "\"Speed\", 0x1", true, "Speed", 1},
      {TkoParKind::Encoded, "Free,0", true, "Free", 0},
      {TkoParKind::Value, "Nobody,0", false, nullptr, 0},
      {TkoParKind::Value, "Speed,x", false, nullptr, 0},
      {TkoParKind::Value, "Speed", false, nullptr, 0},
      {TkoParKind::Value, "Speed,0,1", false, nullptr, 0},
      {TkoParKind::Long, "PosLo,PosHi,0", true, "PosLo", 0},
      {TkoParKind::Long, "PosLo,Nobody,0", true, "PosLo", 0},
      {TkoParKind::Long, "Nobody,PosHi,0", false, nullptr, 0},
      {TkoParKind::Frac16, "PosLo,PosHi,1", true, "PosLo", 1},
      {TkoParKind::Point2D, "Nobody,Nobody,0", true, nullptr, 0},
      {TkoParKind::Point2D, "Nobody,Nobody,z", false, nullptr, 0},
      {TkoParKind::BitField, "Free,0,30h", true, "Free", 0},
      {TkoParKind::BitField, "Free,0,x", false, nullptr, 0},
      {TkoParKind::BoolField, "Free,0,15", true, "Free", 0},
      {TkoParKind::BoolField, "Free,0,32", false, nullptr, 0},
      {TkoParKind::BoolField, "Nobody,0,3", false, nullptr, 0},
      {TkoParKind::Long, "PosLo,PosHi,0,1", false, nullptr, 0},
      {TkoParKind::Value, "", false, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    auto p = vx::BuildParameter(c.kind, std::string_view(c.entry), *m.device);
    ASSERT_EQ(p != nullptr, c.built);
    if (!p) continue;
    EXPECT_EQ(p->Register, c.reg ? m.R(c.reg) : nullptr);
    EXPECT_EQ(p->Index, c.index);
  }
  // The built objects are of the kind asked for, with their second register or mask.
  auto l = vx::BuildParameter(TkoParKind::Long, std::string_view("PosLo,PosHi,0"), *m.device);
  ASSERT_NE(dynamic_cast<TkoParLong*>(l.get()), nullptr);
  EXPECT_EQ(static_cast<TkoParLong*>(l.get())->HighRegister, Hi);
  auto b = vx::BuildParameter(TkoParKind::BitField, std::string_view("Free,0,30h"), *m.device);
  ASSERT_NE(dynamic_cast<TkoParBitField*>(b.get()), nullptr);
  EXPECT_EQ(static_cast<TkoParBitField*>(b.get())->Mask, 0x30u);
  auto f = vx::BuildParameter(TkoParKind::BoolField, std::string_view("Free,0,15"), *m.device);
  ASSERT_NE(dynamic_cast<TkoParBoolField*>(f.get()), nullptr);
  EXPECT_EQ(static_cast<TkoParBoolField*>(f.get())->Mask, 0x8000u);
}

TEST_F(ParValueTest, BuildingReadsTheParametersSection) {
  TkoRegDefsList& model = *m.device->DefsList();
  auto p = vx::BuildParameter(TkoParKind::Long, std::string("ParPos"), model, *m.device);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Register, Lo);
  EXPECT_EQ(
      vx::BuildParameter(TkoParKind::Value, std::string("ParSpeed"), model, *m.device)->Register,
      Speed);
  EXPECT_EQ(vx::BuildParameter(TkoParKind::Value, std::string("ParNone"), model, *m.device),
            nullptr);
}

}  // namespace
