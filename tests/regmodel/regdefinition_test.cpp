#include "regmodel/regdefinition.h"

#include <gtest/gtest.h>

#include "fixtures.h"
#include "platform/koexception.h"

namespace {

using vxtest::MakePredefined;

// A data-model text chained to the predefined resource, and one definition loaded from it.
struct Loaded {
  std::unique_ptr<TkoTextResource> predefined = MakePredefined();
  TkoTextResource file;
  TkoRegDefinition def;
  Loaded(const std::string& text, std::uint16_t address) {
    file.SetText(text);
    file.ChainResource(predefined.get());
    def.Load(address, &file);
  }
};

TEST(RegDefinition, ParseTypeAndTypeText) {
  struct Case {
    const char* text;
    std::uint16_t type;
  } const cases[] = {
      {"unsigned short", 0x02}, {"short", 0x02},         {"none", 0x02},      {"", 0x02},
      {"signed", 0x12},         {"bool", 0x22},          {"bool byte", 0x21}, {"signed long", 0x14},
      {"  SIGNED Byte ", 0x11}, {"unsigned long", 0x04}, {"date", 0x41},      {"time", 0x81},
      {"string", 0xC1},         {"long date", 0x41},     {"datetime", 0x41},
  };
  for (const auto& c : cases) {
    TkoRegDefinition d;
    d.ParseType(c.text);
    EXPECT_EQ(d.Type(), c.type) << c.text;
    TkoRegDefinition back;
    back.ParseType(d.TypeText());
    EXPECT_EQ(back.Type(), d.Type()) << d.TypeText();
  }
  TkoRegDefinition d;
  EXPECT_EQ(d.TypeText(), "none");
  d.SetType(0x44);  // a date is always size code 1
  EXPECT_EQ(d.Type(), 0x41);
  EXPECT_EQ(d.ElementBytes(), 6);
}

TEST(RegDefinition, ElementBytes) {
  struct Case {
    const char* type;
    std::int32_t elementBytes;
  } const cases[] = {{"byte", 2}, {"short", 2},  {"long", 4},     {"date", 6},
                     {"time", 6}, {"string", 2}, {"bool long", 4}};
  for (const auto& c : cases) {
    TkoRegDefinition d;
    d.ParseType(c.type);
    d.Length = 3;
    EXPECT_EQ(d.ElementBytes(), c.elementBytes) << c.type;
    EXPECT_EQ(d.TotalBytes(), 3 * c.elementBytes) << c.type;
  }
}

TEST(RegDefinition, UseDefinitionInheritsFromBuiltins) {
  Loaded l("[100]\nUseDefinition=@ModBusBaudrate\n", 100);
  const TkoRegDefinition& d = l.def;
  EXPECT_EQ(d.Name, "ModBusBaudrate");
  EXPECT_EQ(d.Type(), 0x02);
  EXPECT_EQ(d.Length, 1);
  EXPECT_TRUE(d.HasMin && d.HasMax && d.HasDflt);
  EXPECT_EQ(d.MinValue, 0);
  EXPECT_EQ(d.MaxValue, 5);
  EXPECT_EQ(d.DfltValue, 3);
  EXPECT_EQ(d.UseDefinition, "@ModBusBaudrate");
  EXPECT_EQ(d.GetValueDescr(3, 0, false, 0), "38400bps");
  EXPECT_EQ(d.GetValueDescr(5, 0, false, 0), "115200bps");
  EXPECT_EQ(d.GetDescr(-1, 0), "Serial port baudrate");
  EXPECT_EQ(d.EEPromCopy, 100);
}

TEST(RegDefinition, OwnKeysOverrideRedirection) {
  Loaded l("[100]\nUseDefinition=@ModBusBaudrate\nName=Baud\nMaxValue=4\n", 100);
  EXPECT_EQ(l.def.Name, "Baud");
  EXPECT_EQ(l.def.MaxValue, 4);
  EXPECT_EQ(l.def.MinValue, 0);
  EXPECT_EQ(l.def.DfltValue, 3);
  EXPECT_EQ(l.def.GetValueDescr(0, 0, false, 0), "4800bps");
}

TEST(RegDefinition, UseFormatFallsBackToBuiltinFormats) {
  Loaded l("[101]\nType=signed short\nUseFormat=@Frac16\n", 101);
  EXPECT_TRUE(l.def.IsSigned());
  EXPECT_EQ(l.def.FormatNorm, 32768);
  EXPECT_EQ(l.def.FormatOffset, 0);
  EXPECT_EQ(l.def.FormatString, "#0.0###");
  EXPECT_EQ(l.def.UseFormat, "@Frac16");
  // The file's own section wins over the built-in one.
  Loaded own("[101]\nUseFormat=@Frac16\n[@Frac16]\nFormatNorm=10\n", 101);
  EXPECT_EQ(own.def.FormatNorm, 10);
  EXPECT_EQ(own.def.FormatString, "");
}

TEST(RegDefinition, FormatPrintfOnlyInheritedThroughUseFormat) {
  Loaded none("[5]\nFormatString=0\n", 5);
  EXPECT_EQ(none.def.FormatPrintf, "%d");
  Loaded str("[5]\nType=string\n", 5);
  EXPECT_EQ(str.def.FormatPrintf, "%s");
  Loaded via("[5]\nUseFormat=@F\n[@F]\nFormatPrintf=%04d\n", 5);
  EXPECT_EQ(via.def.FormatPrintf, "%04d");
}

TEST(RegDefinition, SectionNotFoundUnderDecimalName) {
  Loaded l("[0100]\nName=Speed\nType=long\nLength=4\n", 100);
  EXPECT_EQ(l.def.Name, "Reg100");
  EXPECT_EQ(l.def.SizeCode(), 0);
  EXPECT_EQ(l.def.Length, 1);
  EXPECT_EQ(l.def.ElementBytes(), 2);
}

TEST(RegDefinition, EEPromCopyAndLength) {
  struct Case {
    const char* lines;
    std::uint16_t eeprom;
    std::uint8_t length;
  } const cases[] = {
      {"EEPromCopy=+1000\n", 1100, 1}, {"EEPromCopy=2100\n", 2100, 1},
      {"EEPromCopy=-50\n", 50, 1},     {"", 100, 1},
      {"Length=300\n", 100, 44},       {"Length=0\n", 100, 0},
      {"Length=abc\n", 100, 1},
  };
  for (const auto& c : cases) {
    Loaded l(std::string("[100]\n") + c.lines, 100);
    EXPECT_EQ(l.def.EEPromCopy, c.eeprom) << c.lines;
    EXPECT_EQ(l.def.Length, c.length) << c.lines;
  }
  Loaded zero("[100]\nLength=0\nDescr=x\n", 100);
  EXPECT_THROW(zero.def.GetDescr(0, 0), EkoException);
  EXPECT_THROW(zero.def.GetValueDescr(0, 0, true, 0), EkoException);
}

TEST(RegDefinition, LimitsOnlyForNumericTypes) {
  Loaded num("[1]\nMaxValue=abc\n", 1);
  EXPECT_TRUE(num.def.HasMax);  // present, though unparsable: the value stays 0
  EXPECT_EQ(num.def.MaxValue, 0);
  Loaded date("[1]\nType=date\nMaxValue=5\nMinValue=1\nDfltValue=2\n", 1);
  EXPECT_FALSE(date.def.HasMax || date.def.HasMin || date.def.HasDflt);
}

TEST(RegDefinition, Descriptions) {
  Loaded l(
      "[7]\nType=signed short\nLength=2\nDescr=General\nDescr[0]=First\nDescr[0m7ff]=Field\n"
      "Descr[0m0v-1]=MinusOne\nDescr[0m0v*]=Other\nDescr[0m0v2]=(null)\nDescr[1m0v1]=One\n"
      "Descr[0]=Repeated\n",
      7);
  const TkoRegDefinition& d = l.def;
  EXPECT_EQ(d.GetDescr(0, 0), "First");
  EXPECT_EQ(d.GetDescr(0, 0x7FF), "Field");  // lower-case hex in the file
  EXPECT_EQ(d.GetDescr(1, 0), "General");
  EXPECT_EQ(d.GetDescr(-1, 0), "General");
  EXPECT_EQ(d.GetDescr(0, 0x10), "General");
  EXPECT_EQ(d.GetValueDescr(-1, 0, false, 0), "MinusOne");
  EXPECT_EQ(d.GetValueDescr(5, 0, false, 0), "Other");
  EXPECT_EQ(d.GetValueDescr(2, 0, false, 0), "Other");  // "(null)" falls to the wildcard
  EXPECT_EQ(d.GetValueDescr(1, 1, false, 0), "One");
  EXPECT_EQ(d.GetValueDescr(9, 1, false, 0), "");
  EXPECT_EQ(d.GetValueDescr(-2, 1, true, 0), "-2 (FFFFFFFEh)");
  EXPECT_THROW(d.GetDescr(2, 0), EkoException);
  EXPECT_THROW(d.GetValueDescr(0, -1, true, 0), EkoException);
  try {
    d.GetValueDescr(0, 2, true, 0);
    ADD_FAILURE() << "no exception";
  } catch (const EkoException& e) {
    EXPECT_STREQ(e.what(), "SetValueDescr: Index out of range!");
  }
  Loaded u("[8]\nDescr[0m0v4294967295]=AllOnes\nDescr[0m700]=Mask\n", 8);
  EXPECT_EQ(u.def.GetValueDescr(-1, 0, false, 0), "AllOnes");
  EXPECT_EQ(u.def.GetValueDescr(255, 0, true, 0), "255 (FFh)");
  EXPECT_EQ(u.def.GetDescr(0, 0x700), "Mask");
  EXPECT_EQ(u.def.GetDescr(0, 0), "Reg8");  // no Descr at all: the name
}

TEST(RegDefinition, EmptyDescriptionRemovesInheritedOne) {
  Loaded l("[9]\nUseDescr=@D\nDescr[0]=\n[@D]\nDescr=Base\nDescr[0]=Inherited\n", 9);
  EXPECT_EQ(l.def.UseDescr, "@D");
  EXPECT_EQ(l.def.GetDescr(0, 0), "Base");
  Loaded v("[9]\nUseDefinition=@ModBusAddress\nDescr[0]=\n", 9);
  EXPECT_EQ(v.def.GetDescr(0, 0), "ModBus slave address");
}

TEST(RegDefinition, Assign) {
  Loaded l("[100]\nUseDefinition=@ModBusBaudrate\n", 100);
  TkoRegDefinition copy;
  EXPECT_FALSE(copy.Assign(nullptr, 5, "X"));
  EXPECT_EQ(copy.Name, "");
  ASSERT_TRUE(copy.Assign(&l.def, 1100, "EEBaud"));
  EXPECT_EQ(copy.Address, 1100);
  EXPECT_EQ(copy.Name, "EEBaud");
  EXPECT_EQ(copy.Type(), l.def.Type());
  EXPECT_EQ(copy.GetValueDescr(3, 0, false, 0), "38400bps");
  ASSERT_TRUE(copy.Assign(&l.def));
  EXPECT_EQ(copy.Address, 100);
  EXPECT_EQ(copy.Name, "ModBusBaudrate");
}

// Redirections that come back to a section being loaded stop there; what was read stays.
TEST(RegDefinition, RedirectionCyclesTerminate) {
  struct Case {
    const char* text;
    const char* name;
  } const cases[] = {
      {"[1]\nUseDefinition=1\nName=Self\n", "Self"},
      {"[1]\nUseDefinition=@A\n[@A]\nUseDefinition=@B\nType=long\n[@B]\nUseDefinition=@A\n"
       "Name=FromB\n",
       "FromB"},
      {"[1]\nUseFormat=@F\nUseDescr=@D\nName=N\n[@F]\nUseFormat=@F\nFormatNorm=10\n"
       "[@D]\nUseDescr=@E\n[@E]\nUseDescr=@D\nDescr=Loop\n",
       "N"},
  };
  for (const auto& c : cases) {
    Loaded l(c.text, 1);
    EXPECT_EQ(l.def.Name, c.name) << c.text;
  }
  Loaded ab(cases[1].text, 1);
  EXPECT_EQ(ab.def.SizeCode(), TkoRegDefinition::kSizeLong);
  Loaded fd(cases[2].text, 1);
  EXPECT_EQ(fd.def.FormatNorm, 10);
  EXPECT_EQ(fd.def.GetDescr(-1, 0), "Loop");
}

// A file section that redirects to its own name reaches the built-in section of that name.
TEST(RegDefinition, SelfRedirectFallsThroughToNextResource) {
  Loaded l("[1]\nUseFormat=@Frac16\n[@Frac16]\nUseFormat=@Frac16\nFormatString=0.00\n", 1);
  EXPECT_EQ(l.def.FormatNorm, 32768);
  EXPECT_EQ(l.def.FormatString, "0.00");
}

TEST(RegDefinition, LongAcyclicChainStopsAtDepthLimit) {
  std::string text = "[1]\nUseDefinition=@0\n";
  const int n = 200;
  for (int i = 0; i < n; ++i)
    text += "[@" + std::to_string(i) + "]\nUseDefinition=@" + std::to_string(i + 1) + "\n";
  text += "[@" + std::to_string(n) + "]\nName=Deepest\n";
  Loaded l(text, 1);
  EXPECT_EQ(l.def.Name, "Reg1");  // the end of the chain is out of reach
  // A chain within the limit is followed to its end.
  std::string shortText = "[1]\nUseDefinition=@0\n[@0]\nUseDefinition=@1\n[@1]\nName=End\n";
  Loaded s(shortText, 1);
  EXPECT_EQ(s.def.Name, "End");
  EXPECT_EQ(s.def.UseDefinition, "@0");
}

TEST(RegDefinition, NullResource) {
  TkoRegDefinition d(42, nullptr);
  EXPECT_EQ(d.Name, "Reg42");
  EXPECT_EQ(d.Type(), 0);
  EXPECT_EQ(d.Length, 1);
  EXPECT_FALSE(d.LoadDefinition("42", nullptr));
  EXPECT_FALSE(d.LoadFormat("42", nullptr));
  EXPECT_FALSE(d.LoadDescr("42", nullptr));
}

}  // namespace
