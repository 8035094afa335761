#include "params/parencoded.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "parfixture.h"

namespace {

using vxtest::ParModel;

const char* kModel =
    "[1]\nName=Baud\nUseDefinition=@ModBusBaudrate\n"
    "[2]\nName=Mode\nMinValue=0\nMaxValue=9\nDescr[0m0v1]=Run\nDescr[0m0v2]=(null)\n"
    "Descr[0m0v*]=Other\n"
    "[3]\nName=Flags\nType=unsigned short\nDfltValue=20h\n"
    "Descr[0m30]=Gear\nDescr[0m30v2]=High\nDescr[0m8v1]=Brake on\nDescr[0m8v0]=Brake off\n"
    "[4]\nName=Signed\nType=signed short\n"
    "[5]\nName=Wide\nType=unsigned long\nMinValue=0\nMaxValue=4294967295\n"
    "Descr[0m0v7]=Seven\nDescr[0m0v4000000000]=Big\nDescr[0m0v12]=(null)\n"
    "[6]\nName=Neg\nType=signed long\nMinValue=-2147483648\nMaxValue=2147483647\n"
    "Descr[0m0v-5]=Minus five\n"
    "[7]\nName=Huge\nType=signed long\nMinValue=-1.0e300\nMaxValue=1.0e300\nDescr[0m0v3]=Three\n"
    "[8]\nName=Top\nType=signed long\nMinValue=1.0e19\nMaxValue=1.0e19\nDescr[0m0v*]=Any\n";

class ParEncodedTest : public ::testing::Test {
 protected:
  ParModel m{kModel};
};

TEST_F(ParEncodedTest, BaudRateShowsAndOffersItsDescriptions) {
  TkoParEncoded p(m.R("Baud"), 0);
  p.SetValue(3.9);
  EXPECT_EQ(p.GetCode(), 3);
  EXPECT_EQ(p.GetValueString(), "38400bps");
  EXPECT_EQ(p.GetDescr(), "Baudrate");
  TkoParChoiceList list;
  p.GetValueList(&list, true);
  EXPECT_EQ(list, (TkoParChoiceList{{"38400bps (dflt)", -20},
                                    {"4800bps (min)", -30},
                                    {"115200bps (max)", -40},
                                    {"----------", -10},
                                    {"4800bps", 0},
                                    {"9600bps", 1},
                                    {"19200bps", 2},
                                    {"38400bps", 3},
                                    {"57600bps", 4},
                                    {"115200bps", 5}}));
  p.GetValueList(&list, false);
  EXPECT_EQ(list.size(), 6u);  // no limit lines, so no separator either
  EXPECT_EQ(list.front(), (TkoParChoice{"4800bps", 0}));
  p.SetCode(7);  // clamped by the register's maximum
  EXPECT_EQ(p.GetValue(), 5);
  p.AssignDefault();
  EXPECT_EQ(p.GetCode(), 3);
}

TEST_F(ParEncodedTest, ValueTextsFallBackToTheWildcardAndToTheNumber) {
  TkoParEncoded baud(m.R("Baud"), 0);
  m.R("Baud")->SetValueInteger(0, 5);
  m.R("Baud")->SetLimits(0, 9, 0, 0);
  baud.SetCode(7);
  EXPECT_EQ(baud.GetValueString(), "7 (7h)");
  TkoParEncoded mode(m.R("Mode"), 0);
  TkoParChoiceList list;
  mode.GetValueList(&list, false);
  // Codes 0..9: 1 has its own text, 2 is hidden by "(null)", the rest take the wildcard.
  ASSERT_EQ(list.size(), 10u);
  EXPECT_EQ(list[1], (TkoParChoice{"Run", 1}));
  EXPECT_EQ(list[2], (TkoParChoice{"Other", 2}));
  m.R("Mode")->SetValueInteger(0, 2);
  EXPECT_EQ(mode.GetValueString(), "Other");
}

TEST_F(ParEncodedTest, WithoutLimitsOnlyCodeZeroIsOffered) {
  TkoParEncoded p(m.R("Signed"), 0);
  TkoParChoiceList list;
  p.GetValueList(&list, true);
  EXPECT_TRUE(list.empty());  // code 0 has no description
  p.SetCode(-70000);
  EXPECT_EQ(p.GetCode(), -32768);
  EXPECT_EQ(p.GetValueString().rfind("-32768 (", 0), 0u);
}

TEST_F(ParEncodedTest, WideRangesOfferTheDescribedValuesWithoutWalkingThemAll) {
  TkoParEncoded wide(m.R("Wide"), 0);
  TkoParChoiceList list;
  wide.GetValueList(&list, false);
  EXPECT_EQ(list, (TkoParChoiceList{{"Seven", 7}, {"Big", 4000000000LL}}));
  wide.SetCode(4000000000LL);
  EXPECT_EQ(wide.GetCode(), 4000000000LL);
  EXPECT_EQ(wide.GetValueString(), "Big");
  TkoParEncoded neg(m.R("Neg"), 0);
  neg.GetValueList(&list, false);
  EXPECT_EQ(list, (TkoParChoiceList{{"Minus five", -5}}));
  TkoParEncoded huge(m.R("Huge"), 0);  // limits beyond any code
  huge.GetValueList(&list, false);
  EXPECT_EQ(list, (TkoParChoiceList{{"Three", 3}}));
  // Limits at the very top of the code range: one code, and the walk ends there.
  TkoParEncoded top(m.R("Top"), 0);
  top.GetValueList(&list, false);
  EXPECT_EQ(list, (TkoParChoiceList{{"Any", std::numeric_limits<int64_t>::max()}}));
  TkoParBitField all(m.R("Wide"), 0xFFFFFFFFu, 0);
  EXPECT_EQ(all.GetMaxField(), 4294967295LL);
  all.GetValueList(&list, false);
  EXPECT_TRUE(list.empty());  // no description under that mask
}

// ---------------------------------------------------------------------------------------

TEST(ParBitFieldCompact, MaskPositions) {
  struct Case {
    uint32_t mask, element, field;
  };
  const Case cases[] = {
      {0x30, 0x20, 2},
      {0x30, 0x2F, 2},
      {0x30, 0x30, 3},
      {0x81, 0x80, 2},
      {0x81, 0x01, 1},
      {0x81, 0x7E, 0},
      {0x0, 0xFFFF, 0},
      {0xFFFFFFFF, 0xDEADBEEF, 0xDEADBEEF},
      {0x80000001, 0x80000000, 2},
      {0xF0F0, 0xA5A5, 0xAA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.mask << " " << c.element);
    TkoParBitField f(nullptr, c.mask, 0);
    EXPECT_EQ(f.Compact(c.element), c.field);
    EXPECT_EQ(f.Expand(c.field), c.element & c.mask);
  }
}

TEST_F(ParEncodedTest, BitFieldReadsAndWritesItsBitsOnly) {
  TkoRegister* reg = m.R("Flags");
  TkoParBitField f(reg, 0x30, 0);
  reg->SetValueInteger(0, 0x2F);
  EXPECT_EQ(f.GetField(), 2);
  EXPECT_EQ(f.GetValueString(), "High");
  EXPECT_EQ(f.GetDescr(), "Gear");
  f.SetField(1);
  EXPECT_EQ(reg->GetValueInteger(0), 0x1F);
  f.SetValue(3.5);
  EXPECT_EQ(reg->GetValueInteger(0), 0x3F);
  EXPECT_EQ(f.GetValueString(), "3 (3h)");
  // Limits are those of the field; the default is the register's, compacted.
  EXPECT_TRUE(f.HasMax() && f.HasMin());
  EXPECT_EQ(f.GetMax(), 3);
  EXPECT_EQ(f.GetMin(), 0);
  EXPECT_EQ(f.GetDflt(), 2);
  EXPECT_EQ(f.GetDfltString(), "High");
  TkoParChoiceList list;
  f.GetValueList(&list, true);
  EXPECT_EQ(list, (TkoParChoiceList{{"High (dflt)", -20},
                                    {"0 (0h) (min)", -30},
                                    {"3 (3h) (max)", -40},
                                    {"----------", -10},
                                    {"High", 2}}));
  TkoParBitField odd(reg, 0x81, 0);
  EXPECT_EQ(odd.GetMaxField(), 3);
}

TEST_F(ParEncodedTest, BoolFieldIsOneBit) {
  TkoRegister* reg = m.R("Flags");
  TkoParBoolField b(reg, 3, 0);
  EXPECT_EQ(b.Mask, 0x8u);
  reg->SetValueInteger(0, 0);
  b.SetValue(2.7);
  EXPECT_EQ(reg->GetValueInteger(0), 0x8);
  EXPECT_TRUE(b.GetBool());
  EXPECT_EQ(b.GetValueString(), "Brake on");
  b.SetValue(0.4);
  EXPECT_EQ(reg->GetValueInteger(0), 0);
  EXPECT_EQ(b.GetValueString(), "Brake off");
  b.SetCode(5);
  EXPECT_EQ(b.GetCode(), 1);
  EXPECT_FALSE(b.GetDfltBool());  // default 20h has bit 3 clear
  TkoParChoiceList list;
  b.GetValueList(&list, true);
  EXPECT_EQ(
      list,
      (TkoParChoiceList{
          {"Brake off (dflt)", -20}, {"----------", -10}, {"Brake off", 0}, {"Brake on", 1}}));
  TkoParBoolField sign(m.R("Signed"), 15, 0);
  m.R("Signed")->SetValueInteger(0, -2);
  EXPECT_TRUE(sign.GetBool());
  sign.GetValueList(&list, true);  // no default: just the two states, as numbers
  EXPECT_EQ(list, (TkoParChoiceList{{"0 (0h)", 0}, {"1 (1h)", 1}}));
  m.R("Signed")->SetValueInteger(0, 2);
  EXPECT_FALSE(sign.GetBool());
}

TEST_F(ParEncodedTest, DefaultsOfFields) {
  TkoRegister* reg = m.R("Flags");
  reg->SetValueInteger(0, 0xFFFF);
  TkoParBitField f(reg, 0x30, 0);
  f.AssignDefault();  // not a bool register: the whole default value is written
  EXPECT_EQ(reg->GetValueInteger(0), 0x20);
  TkoParBoolField b(reg, 5, 0);
  EXPECT_TRUE(b.GetDfltBool());
  TkoParBitField none(m.R("Signed"), 0x3, 0);
  m.R("Signed")->SetValueInteger(0, 1);
  none.AssignDefault();  // no default: nothing happens
  EXPECT_EQ(m.R("Signed")->GetValueInteger(0), 1);
  EXPECT_EQ(none.GetDfltField(), 0);
}

}  // namespace
