#include "regmodel/register.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fixtures.h"
#include "platform/koexception.h"
#include "regmodel/numberformat.h"

namespace {

// A device image for a data-model text, with one register per definition.
struct Device {
  vxtest::Model model;
  TkoThreadBuffer image;
  std::vector<std::unique_ptr<TkoRegister>> regs;
  explicit Device(const std::string& text) : model(text), image(model.list.BufferBytes()) {
    for (std::int32_t i = 0; i < model.list.Count(); ++i)
      regs.push_back(
          std::make_unique<TkoRegister>(nullptr, model.list.DefinitionAt(i), image, model.list));
  }
  TkoRegister& Reg(const std::string& name) {
    for (auto& r : regs)
      if (r->Name() == name) return *r;
    throw std::runtime_error("no register " + name);
  }
  std::vector<int> Bytes(const TkoRegister& r) {
    std::vector<int> b;
    TkoThreadBuffer::ReadAccess a(*r.View());
    for (std::int32_t i = 0; i < r.View()->Size(); ++i) b.push_back(a.data()[i]);
    return b;
  }
};

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const EkoException& e) {
    return e.what();
  }
  return "(no exception)";
}

TEST(Register, ViewsFollowTheImageLayout) {
  Device d("[0]\nName=A\n[1]\nName=L\nType=long\n[2]\nName=Arr\nLength=5\n[5]\nName=Z\n");
  EXPECT_EQ(d.image.Size(), 22);
  d.Reg("Z").SetValueInteger(0, 0x1234);
  TkoThreadBuffer::ReadAccess a(d.image);
  EXPECT_EQ(a.data()[20], 0x12);
  EXPECT_EQ(a.data()[21], 0x34);
}

TEST(Register, ConstructionErrors) {
  TkoThreadBuffer image(4);
  TkoRegDefinition def;
  def.ParseType("long");
  def.Length = 2;
  EXPECT_THROW(TkoRegister(nullptr, &def, image, 0), EkoException);
  EXPECT_THROW(TkoRegister(nullptr, nullptr, image, 0), EkoException);
  def.Length = 0;  // no bytes: no view, every access out of range
  TkoRegister empty(nullptr, &def, image, 4);
  EXPECT_EQ(empty.View(), nullptr);
  EXPECT_TRUE(empty.IsAllZero());
  EXPECT_THROW(empty.GetValueInteger(0), EkoException);
}

TEST(Register, IntegerClampingAndLayout) {
  Device d(
      "[1]\nName=SS\nType=signed short\n[2]\nName=US\n[3]\nName=UB\nType=byte\n"
      "[4]\nName=SB\nType=signed byte\n[5]\nName=SL\nType=signed long\n[6]\nName=UL\nType=long\n");
  struct Case {
    const char* reg;
    std::int32_t written;
    std::int32_t read;
    std::vector<int> bytes;
  } const cases[] = {
      {"SS", 40000, 32767, {0x7F, 0xFF}},
      {"SS", -40000, -32768, {0x80, 0x00}},
      {"SS", -2, -2, {0xFF, 0xFE}},
      {"US", 70000, 65535, {0xFF, 0xFF}},
      {"US", -5, 65535, {0xFF, 0xFF}},
      {"US", 1234, 1234, {0x04, 0xD2}},
      {"UB", 300, 44, {0x00, 0x2C}},
      {"SB", 0xFF, -1, {0x00, 0xFF}},
      {"SL", 0x12345678, 0x12345678, {0x12, 0x34, 0x56, 0x78}},
      {"UL", -1, -1, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    TkoRegister& r = d.Reg(c.reg);
    r.SetValueInteger(0, c.written);
    EXPECT_EQ(r.GetValueInteger(0), c.read) << c.reg << " " << c.written;
    EXPECT_EQ(d.Bytes(r), c.bytes) << c.reg << " " << c.written;
  }
  EXPECT_DOUBLE_EQ(d.Reg("UL").GetValueDouble(0), 4294967295.0);
}

TEST(Register, DisplayUnits) {
  Device d(
      "[1]\nName=T\nFormatNorm=10\nFormatString=\"#0.0's'\"\n"
      "[2]\nName=F\nUseFormat=@Temp_F\n"
      "[3]\nName=M\nUseDefinition=@Frac16Mantissa\n");
  TkoRegister& t = d.Reg("T");
  t.SetValueDouble(0, 12.5);
  EXPECT_EQ(t.GetValueInteger(0), 125);
  EXPECT_DOUBLE_EQ(t.GetValueDouble(0), 12.5);
  EXPECT_EQ(t.GetValueString(0, 0), "12.5s");
  t.SetValueDouble(0, 12.59);  // truncated toward zero
  EXPECT_EQ(t.GetValueInteger(0), 125);
  TkoRegister& f = d.Reg("F");
  f.SetValueInteger(0, 100);
  EXPECT_EQ(f.GetValueString(0, 0),
            "212\xB0"
            "F");
  // Frac16 mantissa: bounds 0..1 are raw 0..32768; the type clamp comes first.
  TkoRegister& m = d.Reg("M");
  EXPECT_TRUE(m.HasBounds());
  m.SetValueInteger(0, 40000);
  EXPECT_EQ(m.GetValueInteger(0), 32767);
  m.SetValueDouble(0, 0.5);
  EXPECT_EQ(m.GetValueInteger(0), 16384);
  EXPECT_EQ(m.GetValueString(0, 0), "0.5");
  m.SetValueInteger(0, -3);
  EXPECT_EQ(m.GetValueInteger(0), 0);
  m.SetValueString("2", 0, 0);  // display units, clamped to the maximum
  EXPECT_EQ(m.GetValueInteger(0), 32767);
  m.SetValueString("junk", 0, 0);
  EXPECT_EQ(m.GetValueInteger(0), 32767);
}

TEST(Register, BoundsFromDefinitionAndLimits) {
  Device d(
      "[1]\nName=B\nMinValue=10\nMaxValue=20\nDfltValue=15\nFormatNorm=2\n"
      "[2]\nName=Lo\n[3]\nName=Free\n[4]\nName=NegMin\nMinValue=-10\nMaxValue=100\n");
  TkoRegister& b = d.Reg("B");
  b.SetValueInteger(0, 5);
  EXPECT_EQ(b.GetValueInteger(0), 20);  // raw minimum = 10 x 2
  b.SetValueInteger(0, 100);
  EXPECT_EQ(b.GetValueInteger(0), 40);
  b.AssignDefault(-1, 0);
  EXPECT_EQ(b.GetValueInteger(0), 30);
  // A negative minimum on an unsigned register does not become a huge unsigned one.
  TkoRegister& neg = d.Reg("NegMin");
  neg.SetValueInteger(0, 50);
  EXPECT_EQ(neg.GetValueInteger(0), 50);
  // SetLimits on a register without bounds adds them, but writes stay unclamped.
  TkoRegister& free = d.Reg("Free");
  free.SetLimits(0, 5, 0, 0);
  EXPECT_DOUBLE_EQ(free.MaxBound()->GetBound(0), 5);
  free.SetValueInteger(0, 9);
  EXPECT_EQ(free.GetValueInteger(0), 9);
  // Linked limits follow another register, with offsets and modes.
  TkoRegister& lo = d.Reg("Lo");
  b.SetLinkedLimits(&lo, nullptr, 1, 0);
  lo.SetValueInteger(0, 12);
  EXPECT_DOUBLE_EQ(b.MinBound()->GetBound(0), 13);
  EXPECT_DOUBLE_EQ(b.MaxBound()->GetBound(0), 20);  // existing bound, null source: its Value
  b.MaxBound()->Source = &lo;
  b.MaxBound()->Value = 20;
  struct Case {
    std::uint8_t kind, mode;
    double source, expected;
  } const modes[] = {
      {TkoRegBound::kMaximum, TkoRegBound::kFollow, 12, 12},
      {TkoRegBound::kMaximum, TkoRegBound::kTighter, 12, 12},
      {TkoRegBound::kMaximum, TkoRegBound::kTighter, 30, 20},
      {TkoRegBound::kMaximum, TkoRegBound::kLooser, 12, 20},
      {TkoRegBound::kMaximum, TkoRegBound::kLooser, 30, 30},
      {TkoRegBound::kMinimum, TkoRegBound::kTighter, 12, 20},
      {TkoRegBound::kMinimum, TkoRegBound::kLooser, 12, 12},
      {TkoRegBound::kDefault, TkoRegBound::kTighter, 12, 12},
  };
  for (const auto& c : modes) {
    TkoRegBound bound(c.kind, 20);
    bound.Source = &lo;
    bound.Mode = c.mode;
    lo.SetValueInteger(0, static_cast<std::int32_t>(c.source));
    EXPECT_DOUBLE_EQ(bound.GetBound(0), c.expected) << int(c.kind) << "/" << int(c.mode);
  }
  TkoRegBound withOffset(TkoRegBound::kDefault, 7);
  withOffset.Offset = 3;  // counts for minimum and maximum only
  EXPECT_DOUBLE_EQ(withOffset.GetBound(0), 7);
}

TEST(Register, LinkedLimitWithoutMinimumIsZero) {
  Device d("[1]\nName=R\n");
  TkoRegister& r = d.Reg("R");
  r.SetLinkedLimits(nullptr, nullptr, 0, 0);
  ASSERT_NE(r.MinBound(), nullptr);
  EXPECT_DOUBLE_EQ(r.MinBound()->GetBound(0), 0);
  EXPECT_FALSE(r.HasBounds());
}

TEST(Register, BitsAndMasks) {
  Device d("[1]\nName=W\n[2]\nName=L\nType=long\n[3]\nName=B\nType=byte\n");
  TkoRegister& w = d.Reg("W");
  w.SetValueBit(0, 15, true);
  w.SetValueBit(0, 2, true);
  EXPECT_EQ(w.GetValueInteger(0), 0x8004);
  EXPECT_TRUE(w.GetValueBit(0, 15));
  EXPECT_FALSE(w.GetValueBit(0, 3));
  EXPECT_EQ(Message([&] { (void)w.GetValueBit(0, 16); }), "GetValueBit: Bit index out of range.");
  EXPECT_EQ(Message([&] { w.SetValueBit(0, -1, true); }), "SetValueBit: Bit index out of range.");
  w.SetValueMasked(0x0030, 0, 0x00F0);
  EXPECT_EQ(w.GetValueInteger(0), 0x8034);
  EXPECT_EQ(w.GetValueMasked(0, 0x00F0), 0x30);
  EXPECT_EQ(w.GetValueMasked(0, 0), 0x8034);
  w.SetValueBit(0, 2, false);
  EXPECT_EQ(w.GetValueInteger(0), 0x8030);
  d.Reg("L").SetValueBit(0, 31, true);
  EXPECT_EQ(d.Reg("L").GetValueInteger(0), INT32_MIN);
  d.Reg("B").SetValueBit(0, 9, true);  // beyond the byte: dropped
  EXPECT_EQ(d.Reg("B").GetValueInteger(0), 0);
  EXPECT_FALSE(d.Reg("B").Changed());
  // A high byte left by the drive is cleared by the write, and that is a change, even
  // though the bit was set already.
  {
    TkoThreadBuffer::WriteAccess a(*d.Reg("B").View());
    a.data()[0] = 0x01;
    a.data()[1] = 0x04;
  }
  d.Reg("B").SetValueBit(0, 2, true);
  EXPECT_EQ(d.Bytes(d.Reg("B")), (std::vector<int>{0x00, 0x04}));
  EXPECT_TRUE(d.Reg("B").Changed());
}

TEST(Register, ChangedAndOnAfterWrite) {
  Device d("[1]\nName=W\n");
  TkoRegister& w = d.Reg("W");
  std::vector<bool> events;
  w.OnAfterWrite = [&](TkoRegister* sender, bool changed) {
    EXPECT_EQ(sender, &w);
    // The lock is released before the event: reading here must not deadlock.
    EXPECT_GE(sender->GetValueInteger(0), 0);
    events.push_back(changed);
  };
  w.SetValueInteger(0, 5);
  w.SetValueInteger(0, 5);
  w.SetValueDouble(0, 6);
  EXPECT_EQ(events, (std::vector<bool>{true, false, true}));
  EXPECT_TRUE(w.Changed());
  EXPECT_THROW(w.SetValueInteger(1, 5), EkoException);
  EXPECT_EQ(events.size(), 3u);  // a rejected write fires nothing
}

TEST(Register, Dates) {
  Device d("[1]\nName=D\nType=date\nUseFormat=@Date\n[2]\nName=T\nType=time\nUseFormat=@Time\n");
  TkoRegister& r = d.Reg("D");
  r.SetValueDateTime(0, vx::EncodeDate(2049, 12, 31));
  EXPECT_EQ(d.Bytes(r), (std::vector<int>{0, 31, 0, 12, 0, 49}));
  EXPECT_EQ(r.GetValueDateTime(0), vx::EncodeDate(2049, 12, 31));
  EXPECT_EQ(r.GetValueString(0, 0), "31/12/49");
  {
    TkoThreadBuffer::WriteAccess w(*r.View());
    w.data()[5] = 51;
  }
  EXPECT_EQ(r.GetValueDateTime(0), vx::EncodeDate(1951, 12, 31));
  {
    TkoThreadBuffer::WriteAccess w(*r.View());
    w.data()[3] = 13;  // month 13: reads as the current moment
  }
  const double before = vx::Now();
  const double got = r.GetValueDateTime(0);
  EXPECT_GE(got, std::floor(before));
  EXPECT_LE(got, vx::Now());
  r.SetValueString("01/02/03", 0, 0);
  EXPECT_EQ(r.GetValueDateTime(0), vx::EncodeDate(2003, 2, 1));
  EXPECT_THROW(r.SetValueString("not a date", 0, 0), EkoException);
  TkoRegister& t = d.Reg("T");
  t.SetValueString("13:14:15", 0, 0);
  EXPECT_EQ(d.Bytes(t), (std::vector<int>{0, 15, 0, 14, 0, 13}));
  EXPECT_EQ(t.GetValueString(0, 0), "13:14:15");
  EXPECT_DOUBLE_EQ(t.GetValueDouble(0), vx::EncodeTime(13, 14, 15, 0));
  t.SetValueDateTime(0, NAN);  // not splittable: nothing written
  EXPECT_EQ(t.GetValueString(0, 0), "13:14:15");
}

TEST(Register, Strings) {
  Device d("[1]\nName=S\nType=string\nLength=4\n");
  TkoRegister& s = d.Reg("S");
  s.SetValueString("AB", 0, 0);
  EXPECT_EQ(d.Bytes(s), (std::vector<int>{0, 0x41, 0, 0x42, 0, 0, 0, 0}));
  s.SetValueString("AB", 0, 0);
  EXPECT_FALSE(s.Changed());
  s.SetValueString(" ABC ", 0, 0);
  EXPECT_TRUE(s.Changed());
  EXPECT_EQ(s.GetValueString(0, 0), std::string("ABC\0", 4));
  s.SetValueString("ABCDEFG", 0, 0);
  EXPECT_EQ(s.GetValueString(0, 0), "ABCD");
  EXPECT_EQ(s.GetValueInteger(3), 'D');
}

TEST(Register, Bools) {
  Device d(
      "[1]\nName=Flags\nType=bool short\nDfltValue=5\nDescr[0m4v4]=Ready\nDescr[0m4v0]=Idle\n"
      "[2]\nName=OnOff\nType=bool\nUseFormat=@Bool_OO\n");
  TkoRegister& f = d.Reg("Flags");
  f.SetValueInteger(0, 0x0C);
  EXPECT_EQ(f.GetValueString(0, 4), "Ready");
  EXPECT_EQ(f.GetValueString(0, 2), "0 (0h)");
  EXPECT_EQ(f.GetValueString(0, 0), "12 (Ch)");
  f.AssignDefault(-1, 0);  // mask 0: the value stays
  EXPECT_EQ(f.GetValueInteger(0), 0x0C);
  f.AssignDefault(-1, 0x03);
  EXPECT_EQ(f.GetValueInteger(0), 0x0D);
  f.SetValueString("0b0", 0, 4);
  EXPECT_EQ(f.GetValueString(0, 4), "Idle");
  f.SetValueString("x", 0, 0);  // not a number: ignored
  EXPECT_EQ(f.GetValueInteger(0), 0x09);
}

TEST(Register, WrongTypeAndIndexMessages) {
  Device d("[1]\nName=D\nType=date\n[2]\nName=S\nType=string\nLength=2\n[3]\nName=N\n");
  TkoRegister& date = d.Reg("D");
  TkoRegister& str = d.Reg("S");
  TkoRegister& num = d.Reg("N");
  struct Case {
    std::function<void()> call;
    const char* message;
  } const cases[] = {
      {[&] { (void)date.GetValueInteger(0); }, "GetValueInteger: Wrong data type!"},
      {[&] { (void)num.GetValueInteger(1); }, "GetValueInteger: Index out of range!"},
      {[&] { (void)num.GetValueInteger(-1); }, "GetValueInteger: Index out of range!"},
      {[&] { (void)str.GetValueDouble(0); }, "GetValueDouble: Wrong data type!"},
      {[&] { (void)num.GetValueDouble(1); }, "GetValueDouble: Index out of range!"},
      {[&] { (void)num.GetValueDateTime(0); }, "GetValueDateTime: Wrong data type!"},
      {[&] { (void)date.GetValueDateTime(1); }, "GetValueDateTime: Index out of range."},
      {[&] { (void)str.GetValueMasked(0, 0); }, "GetValueMasked: Wrong data type!"},
      {[&] { date.SetValueInteger(0, 1); }, "SetValueInteger: Wrong data type!"},
      {[&] { num.SetValueInteger(1, 1); }, "SetValueInteger: Index out of range!"},
      {[&] { str.SetValueDouble(0, 1); }, "SetValueDouble: Wrong data type!"},
      {[&] { num.SetValueDateTime(0, 1); }, "SetValueDateTime: Wrong data type!"},
      {[&] { date.SetValueDateTime(1, 1); }, "SetValueDateTime: Index out of range."},
      {[&] { date.SetValueBit(0, 1, true); }, "SetValueBit: Wrong data type!"},
      {[&] { num.SetValueBit(1, 1, true); }, "SetValueBit: Index out of range!"},
      {[&] { num.SetValueBit(0, 16, true); }, "SetValueBit: Bit index out of range."},
      {[&] { str.SetValueMasked(1, 0, 0); }, "SetValueMasked: Wrong data type!"},
      {[&] { str.AssignDefault(0, 0); }, "AssignDefault: Wrong data type!"},
  };
  for (const auto& c : cases) EXPECT_EQ(Message(c.call), c.message);
  EXPECT_TRUE(date.IsAllZero() && num.IsAllZero());  // rejected writes touched nothing
}

TEST(Register, Report) {
  Device d(
      "[1]\nName=Speed\nDescr=Motor speed\nLength=2\nDescr[1]=Second\n"
      "[2]\nName=Flags\nType=bool\nDescr[0]=Flags\nDescr[0m1]=Run\nDescr[0m4]=Fault\n"
      "[3]\nName=Txt\nType=string\nLength=3\n");
  d.Reg("Speed").SetValueInteger(1, 7);
  d.Reg("Flags").SetValueInteger(0, 5);
  d.Reg("Txt").SetValueString("ab", 0, 0);
  std::vector<std::string> lines;
  d.Reg("Speed").Report(&lines);
  d.Reg("Txt").Report(&lines);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Motor speed              : 0");
  EXPECT_EQ(lines[1], "Second                   : 7");
  EXPECT_EQ(lines[2], "Txt:");
  EXPECT_EQ(lines[3], std::string("\tab\0", 4));
  lines.clear();
  d.Reg("Flags").Report(&lines);
  // Bits without their own description fall back to the element's: all 16 are listed.
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], "Flags                    :");
  EXPECT_EQ(lines[1], "\t[00] Run                      : 1 (1h)");
  EXPECT_EQ(lines[3], "\t[02] Fault                    : 4 (4h)");
  EXPECT_EQ(lines[2], "\t[01] Flags                    : 0 (0h)");
  d.Reg("Flags").Report(nullptr);
}

TEST(Register, SaveAndLoad) {
  Device d(
      "[1]\nName=Offs\nType=signed short\n[2]\nName=Count\nDfltValue=9\n"
      "[3]\nName=Arr\nType=signed short\nLength=3\n[4]\nName=Dates\nType=date\nLength=2\n"
      "[5]\nName=Text\nType=string\nLength=6\n[6]\nName=Day\nType=date\nUseFormat=@Date\n"
      "[7]\nName=Clock\nType=time\n[8]\nName=Big\nType=long\n");
  TkoTextResource res;
  d.Reg("Offs").SetValueInteger(0, -7);
  d.Reg("Count").SetValueInteger(0, 1500);
  for (int i = 0; i < 3; ++i) d.Reg("Arr").SetValueInteger(i, (i - 1) * 1000);
  d.Reg("Dates").SetValueDateTime(0, vx::EncodeDate(2001, 2, 3));
  d.Reg("Dates").SetValueDateTime(1, vx::EncodeDate(2049, 12, 31));
  d.Reg("Text").SetValueString("Hi, \"x\"", 0, 0);
  d.Reg("Day").SetValueDateTime(0, vx::EncodeDate(2020, 5, 6));
  d.Reg("Clock").SetValueDateTime(0, vx::EncodeTime(12, 30, 5, 0));
  d.Reg("Big").SetValueInteger(0, -2);
  for (auto& r : d.regs) r->SaveToResource("VX310_Setup", &res);
  EXPECT_EQ(res.Line(res.Count() - 1), "Offs=\"\"-7\"\"");  // inserted under the header
  EXPECT_EQ(res.ReadString("VX310_Setup", "Count", ""), "\"1500\"");
  EXPECT_EQ(res.ReadString("VX310_Setup", "Day", ""), "06/05/20");
  EXPECT_EQ(res.ReadString("VX310_Setup", "Big", ""), "\"4294967294\"");

  Device back(
      "[1]\nName=Offs\nType=signed short\n[2]\nName=Count\nDfltValue=9\n"
      "[3]\nName=Arr\nType=signed short\nLength=3\n[4]\nName=Dates\nType=date\nLength=2\n"
      "[5]\nName=Text\nType=string\nLength=6\n[6]\nName=Day\nType=date\nUseFormat=@Date\n"
      "[7]\nName=Clock\nType=time\n[8]\nName=Big\nType=long\n");
  for (auto& r : back.regs) EXPECT_TRUE(r->LoadFromResource("VX310_Setup", &res)) << r->Name();
  for (std::size_t i = 0; i < d.regs.size(); ++i)
    EXPECT_EQ(back.Bytes(*back.regs[i]), d.Bytes(*d.regs[i])) << d.regs[i]->Name();
}

TEST(Register, LoadFromResourceEdgeCases) {
  Device d(
      "[1]\nName=Count\nDfltValue=9\n[2]\nName=Arr\nLength=3\nDfltValue=4\n"
      "[3]\nName=Day\nType=date\n");
  TkoTextResource res;
  res.SetText(
      "[S]\nArr=\"\"\"1\",\"x\"\"\"\nCount=\nDay=\"99/99/99\"\n[T]\nArr=\"5, 6, 7, 8\"\n"
      "[U]\nCount=\"-1\"\n");
  TkoRegister& count = d.Reg("Count");
  TkoRegister& arr = d.Reg("Arr");
  count.SetValueInteger(0, 1);
  EXPECT_FALSE(count.LoadFromResource("S", &res));  // empty value
  EXPECT_EQ(count.GetValueInteger(0), 9);           // but the default was taken
  count.SetValueInteger(0, 1);
  EXPECT_FALSE(count.LoadFromResource("Missing", &res));
  EXPECT_EQ(count.GetValueInteger(0), 9);
  EXPECT_FALSE(count.LoadFromResource("S", nullptr));
  // An array inside one more pair of quotes; the unreadable item keeps its default.
  EXPECT_TRUE(arr.LoadFromResource("S", &res));
  EXPECT_EQ(arr.GetValueInteger(0), 1);
  EXPECT_EQ(arr.GetValueInteger(1), 4);
  EXPECT_EQ(arr.GetValueInteger(2), 4);
  EXPECT_TRUE(arr.LoadFromResource("T", &res));  // extra items are ignored
  EXPECT_EQ(arr.GetValueInteger(2), 7);
  d.Reg("Day").SetValueDateTime(0, vx::EncodeDate(2001, 1, 1));
  EXPECT_TRUE(d.Reg("Day").LoadFromResource("S", &res));  // unreadable date: kept
  EXPECT_EQ(d.Reg("Day").GetValueDateTime(0), vx::EncodeDate(2001, 1, 1));
  EXPECT_TRUE(count.LoadFromResource("U", &res));  // "%lu" of -1
  EXPECT_EQ(count.GetValueInteger(0), 65535);
}

}  // namespace
