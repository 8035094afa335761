#include "regmodel/textresource.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/koexception.h"

namespace {

struct IntCase {
  const char* text;
  bool ok;
  std::int32_t value;
};

TEST(NumberSyntax, TextToInteger) {
  const IntCase cases[] = {
      {"0x1F", true, 31},
      {"1Fh", true, 31},
      {"0b101", true, 5},
      {"101b", true, 5},
      {"0FFh", true, 0},
      {"12", true, 12},
      {"12.5", false, 0},
      {"", false, 0},
      {"0", true, 0},
      {"-3", true, -3},
      {"5.", true, 5},
      {"1e3", true, 1},
      {"abc", false, 0},
      {"700h", true, 1792},
      {"  0X10  ", true, 16},
      {"ffffffffh", true, -1},
      {"0xFFFFFFFF", true, -1},
      {"0b", true, 0},
      // More than 32 bits or outside the signed range is not a number.
      {"0x1FFFFFFFF", false, 0},
      {"99999999999", false, 0},
      {"2147483648", false, 0},
      {"-2147483648", true, INT32_MIN},
      {"0b12", true, 0},
      {"0xzz", true, 0},
      {"0b111111111111111111111111111111111", false, 0},
      {"100000000h", false, 0},
      // Only a sign and hex digits may stand before the "h": names that end in "h" are no
      // numbers, whatever hex letters they begin with.
      {"ActualPosH", false, 0},
      {"EncoderExtH", false, 0},
      {"1fzzh", true, 1},
      {"-10h", true, -16},
      {"h", false, 0},
  };
  for (const auto& c : cases) {
    std::int32_t v = 777;
    EXPECT_EQ(TextToInteger(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 777) << c.text;  // untouched on failure
  }
}

TEST(NumberSyntax, TextToFloat) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  } const cases[] = {
      {"ffffffffh", true, -1},  {"1.0", true, 1},      {"abc", false, 0},    {"700h", true, 1792},
      {"0.5556", true, 0.5556}, {"-0.5", true, -0.5},  {"12.5", true, 12.5}, {"+2.5", true, 2.5},
      {"1.5e3", true, 1500},    {".5", true, 0.5},     {"inf", false, 0},    {"nan", false, 0},
      {"1e999", true, 1},       {"1.5e999", false, 0}, {"", false, 0},
  };
  for (const auto& c : cases) {
    double v = 777;
    EXPECT_EQ(TextToFloat(c.text, v), c.ok) << c.text;
    EXPECT_DOUBLE_EQ(v, c.ok ? c.value : 777) << c.text;
  }
  double v = 777;
  EXPECT_FALSE(TextToFloat("ActualPosH", v));  // a register name, not hex digits and "h"
}

TEST(NumberSyntax, BinaryToInteger) {
  std::int32_t v = 9;
  EXPECT_TRUE(BinaryToInteger("", v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(BinaryToInteger("1101", v));
  EXPECT_EQ(v, 13);
  v = 9;
  EXPECT_FALSE(BinaryToInteger("10201", v));
  EXPECT_EQ(v, 9);
  EXPECT_TRUE(BinaryToInteger(std::string(32, '1'), v));
  EXPECT_EQ(v, -1);
  EXPECT_FALSE(BinaryToInteger("1" + std::string(32, '0'), v));
}

TEST(LineRules, SectionKeyAndValue) {
  struct Case {
    const char* line;
    const char* section;
    const char* key;
    const char* value;
  } const cases[] = {
      {"[100]", "100", "", ""},
      {"  [ 100 ]  ", "100", "", ""},
      {"[]", "", "", ""},
      {";Name=x", "", "", "x"},  // comment: no key, but GetKeyValue does not test comments
      {" ;Name=x", "", ";Name", "x"},
      {"Type=\"signed short\"", "", "Type", "signed short"},
      {"Descr[0m0v3]=38400bps", "", "Descr[0m0v3]", "38400bps"},
      {"K=a=b", "", "K", "a=b"},
      {"K=\"\"", "", "K", ""},
      {"K=\"", "", "K", "\""},
      {"K=\"\"1500\"\"", "", "K", "\"1500\""},
      {"=x", "", "", ""},
      {" =x", "", "", "x"},
      {"K= spaced \\", "", "K", "spaced \\"},
  };
  TkoTextResource r;
  for (const auto& c : cases) r.Add(c.line);
  for (std::int32_t i = 0; i < r.Count(); ++i) {
    EXPECT_EQ(r.GetSectionName(i), cases[i].section) << cases[i].line;
    EXPECT_EQ(r.GetKeyName(i), cases[i].key) << cases[i].line;
    EXPECT_EQ(r.GetKeyValue(i), cases[i].value) << cases[i].line;
  }
}

class LookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    r.SetText(
        "[Top]\n"
        "Name=first\n"
        "Name=second\n"
        ";Hidden=1\n"
        "[100] \n"
        "Trail=1\n"
        "  [100]\n"
        "Lead=1\n"
        "[ 100 ]\n"
        "Inner=1\n"
        "[100] ;comment\n"
        "Comment=1\n"
        "[100]\n"
        "Real=1\n"
        "[@Frac16]\n"
        "Key=v\n"
        "[100]\n"
        "Real=2\n");
  }
  TkoTextResource r;
};

TEST_F(LookupTest, SectionsMatchWholeLineIgnoringCaseAndFirstWins) {
  EXPECT_TRUE(r.FindSection("100"));
  EXPECT_EQ(r.CurrentLine, 12);
  EXPECT_EQ(r.ReadString("100", "Real", "-"), "1");
  EXPECT_TRUE(r.FindSection("@frac16"));
  EXPECT_EQ(r.CurrentLine, 14);
  EXPECT_FALSE(r.FindSection("Missing"));
  EXPECT_EQ(r.CurrentLine, -1);
}

TEST_F(LookupTest, HeaderVariantsEndTheSectionAbove) {
  // "[100] ", "  [100]" and "[ 100 ]" are headers by the trimmed rule, never found by name.
  EXPECT_EQ(r.ReadString("Top", "Trail", "-"), "-");
  // "[100] ;comment" is no header, so "Comment" belongs to the section "[ 100 ]" above it.
  EXPECT_EQ(r.GetSectionName(10), "");
  EXPECT_FALSE(r.FindKey("100", "Comment"));
}

TEST_F(LookupTest, KeysAreCaseSensitiveAndFirstWins) {
  EXPECT_EQ(r.ReadString("Top", "Name", "-"), "first");
  EXPECT_EQ(r.ReadString("top", "Name", "-"), "first");
  EXPECT_EQ(r.ReadString("Top", "name", "-"), "-");
  EXPECT_EQ(r.ReadString("Top", "Hidden", "-"), "-");
  EXPECT_TRUE(r.FindKey("Top", "Name"));
  EXPECT_EQ(r.CurrentLine, 1);
  EXPECT_FALSE(r.FindKey("Top", "Missing"));
  EXPECT_EQ(r.CurrentLine, 4);  // stopped on the next header
}

TEST_F(LookupTest, ReadSectionValuesAndListSections) {
  std::vector<std::string> v;
  r.ReadSectionValues("Top", &v);
  EXPECT_EQ(v, (std::vector<std::string>{"Name=first", "Name=second"}));
  std::vector<std::string> s;
  r.ListSections(&s);
  EXPECT_EQ(s, (std::vector<std::string>{"Top", "100", "100", "100", "100", "@Frac16", "100"}));
  r.ReadSectionValues("Missing", &v);
  EXPECT_EQ(v.size(), 2u);
}

TEST(TextResource, HeaderThatLooksLikeAKeyEndsTheSection) {
  TkoTextResource r;
  r.SetText("[A]\nx=1\n[B=C]\ny=2\n");
  EXPECT_EQ(r.ReadString("A", "[B", "-"), "-");
  EXPECT_EQ(r.ReadString("A", "y", "-"), "-");
}

// A bracketed line with nothing but blanks inside is a header without a name: it is found
// by no name, yet the keys after it no longer belong to the section above.
TEST(TextResource, HeaderWithoutNameEndsTheSection) {
  for (const char* header : {"[ ]", "  [   ]"}) {
    TkoTextResource r;
    r.SetText(std::string("[A]\nx=1\n") + header + "\ny=2\n");
    EXPECT_EQ(r.ReadString("A", "x", "-"), "1") << header;
    EXPECT_EQ(r.ReadString("A", "y", "-"), "-") << header;
    std::vector<std::string> values;
    r.ReadSectionValues("A", &values);
    EXPECT_EQ(values, std::vector<std::string>{"x=1"}) << header;
    EXPECT_FALSE(r.FindSection(" ")) << header;
    EXPECT_FALSE(r.FindSection("")) << header;
  }
}

TEST(TextResource, ReadNumbers) {
  TkoTextResource r;
  r.SetText("[S]\nHex=0x10\nBad=abc\nF=0.5556\nPlus=+5\nMinus=-5\nAbs=2100\nMinusZero=-0\n");
  EXPECT_EQ(r.ReadInteger("S", "Hex", 1), 16);
  EXPECT_EQ(r.ReadInteger("S", "Bad", 1), 1);
  EXPECT_EQ(r.ReadInteger("S", "None", 1), 1);
  EXPECT_DOUBLE_EQ(r.ReadFloat("S", "F", 1), 0.5556);
  EXPECT_DOUBLE_EQ(r.ReadFloat("S", "Bad", 1.5), 1.5);
  struct Case {
    const char* key;
    std::int32_t expected;
  } const rel[] = {{"Plus", 105}, {"Minus", 95},      {"Abs", 2100}, {"Bad", 100},
                   {"None", 100}, {"MinusZero", 100}, {"Hex", 0}};
  for (const auto& c : rel) EXPECT_EQ(r.ReadRelInteger("S", c.key, 100), c.expected) << c.key;
}

TEST(TextResource, WriteString) {
  TkoTextResource r;
  r.WriteString("Sec", "A", "1");
  EXPECT_EQ(r.Lines(), (std::vector<std::string>{"[Sec]", "A=\"1\""}));
  r.WriteString("Sec", "A", "2");
  r.WriteString("Sec", "B", "x");
  EXPECT_EQ(r.Lines(), (std::vector<std::string>{"[Sec]", "B=\"x\"", "A=\"2\""}));
  EXPECT_EQ(r.CurrentLine, 1);
  EXPECT_EQ(r.ReadString("Sec", "A", ""), "2");
  r.WriteInteger("Other", "N", -7);
  EXPECT_EQ(r.ReadInteger("Other", "N", 0), -7);
}

TEST(TextResource, IsBlank) {
  TkoTextResource r;
  EXPECT_TRUE(r.IsBlank());
  r.SetText("\n\n\n");
  EXPECT_EQ(r.Count(), 3);
  EXPECT_TRUE(r.IsBlank());
  r.Add(" ");
  EXPECT_FALSE(r.IsBlank());
}

TEST(TextResource, LineBreaksAndStreams) {
  TkoTextResource r;
  std::istringstream in("a\r\nb\rc\nd");
  r.LoadFromStream(in);
  EXPECT_EQ(r.Lines(), (std::vector<std::string>{"a", "b", "c", "d"}));
  r.SetText(std::string("x\0y\n", 4));  // a zero byte stays inside its line
  ASSERT_EQ(r.Count(), 1);
  EXPECT_EQ(r.Line(0).size(), 3u);
}

TEST(TextResource, FilesRoundTripAndErrors) {
  const std::string path =
      testing::TempDir() + "vx_textresource_" + std::to_string(::getpid()) + ".par";
  TkoTextResource w;
  w.WriteString("Sec", "Temp",
                "\xB0"
                "C");
  w.SaveToFile(path);
  TkoTextResource r(path);
  EXPECT_EQ(r.FileName, path);
  EXPECT_EQ(r.ReadString("Sec", "Temp", ""),
            "\xB0"
            "C");
  r.AppendFile(path);
  EXPECT_EQ(r.Count(), 4);
  r.AppendFile("");
  EXPECT_EQ(r.Count(), 4);
  r.OpenFile("");
  EXPECT_EQ(r.Count(), 0);
  EXPECT_EQ(r.FileName, "");
  std::remove(path.c_str());
  EXPECT_THROW(TkoTextResource{path}, EkoException);
  EXPECT_THROW(r.OpenFile(path), EkoException);
  EXPECT_THROW(r.AppendFile(path), EkoException);
  EXPECT_THROW(w.SaveToFile("/nonexistent-dir/x.310"), EkoException);
}

TEST(TextResource, BuiltinTexts) {
  TkoTextResource r;
  r.SetText("keep");
  r.LoadResource(1234);  // unknown: swallowed, lines kept
  EXPECT_EQ(r.Count(), 1);
  EXPECT_THROW(r.AppendResource(1234), EkoException);
  EXPECT_THROW(r.AppendResource(std::string("nothing")), EkoException);
  r.AppendResource(std::string("28674"));
  EXPECT_EQ(r.Lines(), (std::vector<std::string>{"keep", ";" + std::string(30, '-'), ";empty",
                                                 ";" + std::string(30, '-')}));
  TkoTextResource fmt(TkoTextResource::kStdFormats);
  EXPECT_EQ(fmt.ReadString("@Temp_F", "FormatString", ""),
            "#0'\xB0"
            "F'");
  EXPECT_DOUBLE_EQ(fmt.ReadFloat("@Temp_F", "FormatNorm", 0), 0.5556);
  EXPECT_EQ(fmt.ReadString("@Bool_TF", "FormatString", ""), "True;True;False");
  EXPECT_EQ(fmt.ReadString("@Step_8", "FormatString", ""), "00000' stp/8'");
  EXPECT_DOUBLE_EQ(fmt.ReadFloat("@Frac16", "FormatNorm", 0), 32768);
  std::vector<std::string> sections;
  fmt.ListSections(&sections);
  EXPECT_EQ(sections.size(), 37u);
  TkoTextResource defs(TkoTextResource::kStdDefinitions);
  EXPECT_EQ(defs.ReadString("@Frac16Mantissa", "Type", ""), "signed short");
  EXPECT_EQ(defs.ReadFloat("@CanBusAddress", "DfltValue", 0), 1792);
  EXPECT_EQ(defs.ReadString("@ModBusBaudrate", "Descr[0m0v5]", ""), "115200bps");
  TkoTextResource header(TkoTextResource::kSyntaxHeader);
  std::vector<std::string> hs;
  header.ListSections(&hs);
  EXPECT_EQ(hs, std::vector<std::string>{"Parameters"});
}

TEST(TextResource, ChainResource) {
  TkoTextResource a, b, c;
  a.ChainResource(&c);
  a.ChainResource(&b);
  EXPECT_EQ(a.NextResource, &b);
  EXPECT_EQ(b.NextResource, &c);
  a.ChainResource(nullptr);
  EXPECT_EQ(a.NextResource, &b);
}

TEST(TextResource, IndexFollowsEdits) {
  TkoTextResource r;
  r.SetText("[A]\nk=1\n");
  EXPECT_TRUE(r.FindSection("A"));
  r.Insert(0, "[A]");
  r.Insert(1, "k=0");
  EXPECT_EQ(r.ReadString("A", "k", ""), "0");
  r.Delete(0);
  r.Delete(0);
  EXPECT_EQ(r.ReadString("A", "k", ""), "1");
  r.SetLine(0, "[B]");
  EXPECT_FALSE(r.FindSection("A"));
  EXPECT_EQ(r.ReadString("b", "k", ""), "1");
}

TEST(CommaList, Split) {
  struct Case {
    const char* text;
    std::vector<std::string> items;
  } const cases[] = {
      {"a, b ,c", {"a", "b", "c"}},
      {"\"1\",\"2\"", {"1", "2"}},
      {"\"a \"\"q\"\" b\", x", {"a \"q\" b", "x"}},
      {"VX310v2*,VX310-VEv*", {"VX310v2*", "VX310-VEv*"}},
      {"a,,b", {"a", "", "b"}},
      {"  ", {}},
      {"\"open", {"open"}},
  };
  for (const auto& c : cases) EXPECT_EQ(vx::SplitCommaList(c.text), c.items) << c.text;
}

TEST(CaseFolding, Windows1252Letters) {
  EXPECT_TRUE(
      vx::EqualsIgnoreCase("[\xC4"
                           "BC]",
                           "[\xE4"
                           "bc]"));
  EXPECT_FALSE(vx::EqualsIgnoreCase("\xD7", "\xF7"));  // multiplication and division signs
  TkoTextResource r;
  r.SetText("[\xC4rger]\nk=1\n");
  EXPECT_EQ(r.ReadString("\xE4rger", "k", ""), "1");
}

}  // namespace
