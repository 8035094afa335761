#include "params/parfrac16.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "parfixture.h"

namespace {

using vxtest::ParModel;

const char* kModel =
    "[1]\nName=Mant\nUseDefinition=@Frac16Mantissa\n"
    "[2]\nName=Exp\nUseDefinition=@Frac16Exponential\n"
    "[3]\nName=MantS\nType=\"signed short\"\nUseFormat=@Frac16\n"
    "[4]\nName=ExpS\nType=\"signed short\"\n"
    "[5]\nName=ExpU\nType=\"unsigned short\"\n"
    "[6]\nName=ExpMinOnly\nType=\"signed short\"\nMinValue=-2\n"
    "[7]\nName=MantNeg\nType=\"signed short\"\nMinValue=-0.5\nMaxValue=0.5\nUseFormat=@Frac16\n"
    "[10]\nName=X\nDescr=Pos X\nMinValue=-10\nMaxValue=100\nDfltValue=5\nType=signed short\n"
    "[11]\nName=Y\nDescr=Pos Y\nType=signed short\n"
    "[12]\nName=When\nType=date\n";

class ParFrac16Test : public ::testing::Test {
 protected:
  ParModel m{kModel};
  TkoRegister* Mant = m.R("Mant");
  TkoRegister* Exp = m.R("Exp");
  TkoRegister* MantS = m.R("MantS");
  TkoRegister* ExpS = m.R("ExpS");
};

TEST_F(ParFrac16Test, ValueIsMantissaTimesPowerOfTwo) {
  TkoParFrac16 p(MantS, 0, ExpS);
  MantS->SetValueInteger(0, 16384);
  ExpS->SetValueInteger(0, 3);
  EXPECT_EQ(p.GetValue(), 4.0);
  EXPECT_EQ(p.GetValueString(), "4.0");
  ExpS->SetValueInteger(0, -2);
  EXPECT_EQ(p.GetValue(), 0.125);
  EXPECT_EQ(p.GetValueString(), "0.125");
  TkoParFrac16 alone(MantS, 0, nullptr);
  EXPECT_EQ(alone.GetValue(), 0.5);
  // An exponent that cannot be read as an integer leaves the mantissa part; an error of
  // the mantissa register itself reaches the caller.
  TkoParFrac16 badExp(MantS, 0, m.R("When"));
  EXPECT_EQ(badExp.GetValue(), 0.5);
  TkoParFrac16 outside(MantS, 1, ExpS);
  EXPECT_ANY_THROW(outside.GetValue());
}

TEST_F(ParFrac16Test, SetValueNormalises) {
  struct Case {
    double x;
    const char* exp;  // exponent register
    int mantissa, exponent;
  };
  // With the built-in exponent (0..8) the normalised exponent is clamped, and the mantissa
  // is scaled to the exponent held rather than left at its normalised value.
  const Case cases[] = {
      {4.0, "ExpS", 16384, 3},   {1.0, "ExpS", 16384, 1},    {0.75, "ExpS", 24576, 0},
      {-1.0, "ExpS", -32768, 0}, {0.0, "ExpS", 0, 0},        {0.1, "ExpS", 26214, -3},
      {-3.0, "ExpS", -24576, 2}, {0.1, "ExpU", 3276, 0},     {3.0, "ExpU", 24576, 2},
      {1.5, nullptr, 32767, 0},  {-0.25, nullptr, -8192, 0}, {1e300, "ExpS", 24464, 997},
      {0.1, "Exp", 3276, 0},     {-0.1, "Exp", -3276, 0},    {0.3, "Exp", 9830, 0},
      {1000.0, "Exp", 32767, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << " " << (c.exp ? c.exp : "none"));
    TkoRegister* e = c.exp ? m.R(c.exp) : nullptr;
    if (e) e->SetValueInteger(0, 77);
    TkoParFrac16 p(MantS, 0, e);
    int changes = 0;
    p.OnChange = [&](TkoParValue*) { ++changes; };
    p.SetValue(c.x);
    EXPECT_EQ(MantS->GetValueInteger(0), c.mantissa);
    if (e) {
      EXPECT_EQ(e->GetValueInteger(0), c.exponent);
    }
    EXPECT_EQ(changes, 1);
  }
}

TEST_F(ParFrac16Test, BuiltInLimitsClampBeforeNormalising) {
  TkoParFrac16 p(Mant, 0, Exp);
  EXPECT_EQ(p.GetMax(), 256);
  EXPECT_EQ(p.GetMin(), 0);
  EXPECT_EQ(p.GetDflt(), 0);
  EXPECT_EQ(p.GetMaxString(), "256.0");
  // 256 = 0.5 * 2^9, and the exponent register stops at 8: the mantissa takes the whole
  // 1.0 (its largest value) rather than leaving the pair at half the limit.
  p.SetValue(1000);
  EXPECT_EQ(Mant->GetValueInteger(0), 32767);
  EXPECT_EQ(Exp->GetValueInteger(0), 8);
  EXPECT_EQ(p.GetValue(), 32767.0 / 32768 * 256);
  p.SetValue(0.1);  // exponent -3 is below the minimum 0
  EXPECT_EQ(Exp->GetValueInteger(0), 0);
  EXPECT_NEAR(p.GetValue(), 0.1, 1.0 / 32768);
  p.SetValue(-1);
  EXPECT_EQ(Mant->GetValueInteger(0), 0);
  p.SetValueString("2.5");
  EXPECT_EQ(p.GetValue(), 2.5);
  p.SetValueString("x");
  EXPECT_EQ(p.GetValue(), 2.5);
  EXPECT_TRUE(p.IsChanged());
  p.AssignDefault();
  EXPECT_EQ(p.GetValue(), 0);
}

TEST_F(ParFrac16Test, MinimumTakesTheExponentBoundThatGivesTheLowestValue) {
  TkoRegister* neg = m.R("MantNeg");
  // Negative mantissa minimum: the largest exponent; this one has none, so the
  // mantissa minimum stands alone instead of failing.
  TkoParFrac16 noMax(neg, 0, m.R("ExpMinOnly"));
  EXPECT_TRUE(noMax.HasMin());
  EXPECT_EQ(noMax.GetMin(), -0.5);
  EXPECT_EQ(noMax.GetMinString(), "-0.5");
  // With the built-in exponent (0..8): -0.5 * 2^8.
  TkoParFrac16 withMax(neg, 0, Exp);
  EXPECT_EQ(withMax.GetMin(), -128);
  // A non-negative mantissa minimum is scaled by the smallest exponent.
  TkoParFrac16 pos(Mant, 0, m.R("ExpMinOnly"));
  EXPECT_EQ(pos.GetMin(), 0);
  EXPECT_EQ(pos.GetMax(), 1);  // no exponent maximum: the mantissa maximum alone
}

TEST_F(ParFrac16Test, NonFiniteValuesAreIgnored) {
  TkoParFrac16 p(MantS, 0, ExpS);
  p.SetValue(0.75);
  for (double bad :
       {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN()}) {
    p.SetValue(bad);
    EXPECT_EQ(p.GetValue(), 0.75);
  }
}

// ---------------------------------------------------------------------------------------

TEST_F(ParFrac16Test, PointWithoutRegistersKeepsItsOwnValues) {
  TkoPar2DPoint p(nullptr, 0, nullptr);
  p.SetValueString("1.5|-2");
  EXPECT_EQ(p.LocalX, 1.5);
  EXPECT_EQ(p.LocalY, -2);
  EXPECT_EQ(p.GetValueString(), "1.5000|-2.0000");
  EXPECT_EQ(p.GetDescr(), "xx|xx");
  const char* rejected[] = {"3", "3|", "|4", "3 |4", "a|b", "inf|1", "3;4"};
  for (const char* text : rejected) {
    p.SetValueString(text);
    EXPECT_EQ(p.GetValueString(), "1.5000|-2.0000") << text;
  }
  p.SetValueString(" +3e1| 4.25trailing");
  EXPECT_EQ(p.GetValueString(), "30.0000|4.2500");
  EXPECT_EQ(p.GetMaxString(), "30.0000|4.2500");  // the stand-ins stand in for bounds too
}

TEST_F(ParFrac16Test, PointOnRegisters) {
  TkoRegister* x = m.R("X");
  TkoRegister* y = m.R("Y");
  TkoPar2DPoint p(x, 0, y);
  int changes = 0;
  p.OnChange = [&](TkoParValue*) { ++changes; };
  p.SetValueString("500|-7.9");
  EXPECT_EQ(x->GetValueInteger(0), 100);  // X's maximum
  EXPECT_EQ(y->GetValueInteger(0), -7);
  EXPECT_EQ(p.GetValueString(), "100.0000|-7.0000");
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(p.GetDescr(), "Pos X|Pos Y");
  // Y has no bounds: its coordinate shows 0.
  EXPECT_TRUE(p.HasMax() && p.HasMin() && p.HasDflt());
  EXPECT_EQ(p.GetMaxString(), "100.0000|0.0000");
  EXPECT_EQ(p.GetMinString(), "-10.0000|0.0000");
  EXPECT_EQ(p.GetDfltString(), "5.0000|0.0000");
  EXPECT_EQ(p.GetMax(), 100);  // the number operations are X's
  p.SetValue(3);
  EXPECT_EQ(p.GetValue(), 3);
  EXPECT_TRUE(p.IsChanged());
  p.AssignDefault();
  EXPECT_EQ(p.GetValueString(), "5.0000|-7.0000");
  // Bounds on Y only are found through Y, and X without bounds shows 0.
  TkoPar2DPoint swapped(y, 0, x);
  EXPECT_TRUE(swapped.HasMax());
  EXPECT_EQ(swapped.GetMax(), 0);
  EXPECT_EQ(swapped.GetMaxString(), "0.0000|100.0000");
  TkoPar2DPoint halfMissing(x, 0, nullptr);
  EXPECT_EQ(halfMissing.GetDescr(), "Pos X|xx");
}

}  // namespace
