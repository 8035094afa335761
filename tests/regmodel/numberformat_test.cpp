#include "regmodel/numberformat.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(FormatFloat, Pictures) {
  struct Case {
    const char* picture;
    double value;
    const char* text;
  } const cases[] = {
      {"#0.0's'", 12.345, "12.3s"},
      {"000'V'", 7, "007V"},
      {"##0'%'", 0.4, "0%"},
      {"True;True;False", 5, "True"},
      {"True;True;False", -5, "True"},
      {"True;True;False", 0, "False"},
      {"On;On;Off", 1, "On"},
      {"#0.0###", 0.5, "0.5"},
      {"#0.0###", 0.123456, "0.1235"},
      {"#0.0###", 2, "2.0"},
      {"#0'\xB0"
       "F'",
       100 / 0.5556 + 32,
       "212\xB0"
       "F"},
      {"0.000'V'", 1.2345,
       "1.235"
       "V"},  // half away from zero on the shortest digits
      {"0.00", 2.675, "2.68"},
      {"0.00", -2.675, "-2.68"},
      {"#0", -0.4, "0"},  // rounds to zero: no minus sign
      {"#,##0", 1234567, "1'234'567"},
      {"#,##0.00", -1234.5, "-1'234.50"},
      {"0,000", 12, "0'012"},
      {"#", 0, ""},
      {"#.##", 0.5, ".5"},
      {"0.00E+00", 1234.5, "1.23E+03"},
      {"0.00E-00", 0.000123, "1.23E-04"},
      {"0.0E+0", 9.96, "1.0E+1"},
      {"0.0E-0", 5, "5.0E0"},
      {"00000' stp/8'", 42, "00042 stp/8"},
      {"\"#\"0", 3, "#3"},  // double-quoted literal
      {"0;(0);'zero'", -3, "(3)"},
      {"0;(0);'zero'", 0, "zero"},
      {"0;(0);'zero'", 0.2, "zero"},
      {"0;;'zero'", -3, "-3"},  // empty negative section: positive one with "-"
      {"x0y", 12, "x12y"},
      {"0#", 123, "123"},
      {"00", 123, "123"},
      {"#0.00's'", 1e6, "1000000.00s"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(vx::FormatFloat(c.picture, c.value), c.text) << c.picture << " " << c.value;
}

TEST(FormatFloat, GeneralForm) {
  struct Case {
    double value;
    const char* text;
  } const cases[] = {
      {0, "0"},           {12.5, "12.5"},
      {-3, "-3"},         {0.1 + 0.2, "0.3"},
      {1e15, "1E15"},     {123456789012345.0, "123456789012345"},
      {1.5e-7, "1.5E-7"}, {NAN, "NAN"},
      {INFINITY, "INF"},  {-INFINITY, "-INF"},
  };
  for (const auto& c : cases) EXPECT_EQ(vx::FormatFloat("", c.value), c.text) << c.value;
}

// The process-wide separators, never the C locale, decide the text.
TEST(FormatFloat, UsesProcessSeparators) {
  const vx::FormatSettings saved = vx::Formats();
  vx::FormatSettings f = saved;
  f.DecimalSeparator = ',';
  f.ThousandSeparator = '.';
  f.DateSeparator = '-';
  vx::SetFormats(f);
  EXPECT_EQ(vx::FormatFloat("#,##0.00", 1234.5), "1.234,50");
  EXPECT_EQ(vx::FormatDateTime("dd/mm/yy", vx::EncodeDate(2049, 12, 31)), "31-12-49");
  double dt = 0;
  EXPECT_TRUE(vx::TextToDateTime("31-12-49", dt));
  vx::SetFormats(saved);
  EXPECT_EQ(dt, vx::EncodeDate(2049, 12, 31));
}

TEST(DateTime, EncodeDecode) {
  EXPECT_EQ(vx::EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(vx::EncodeDate(1900, 1, 1), 2);
  EXPECT_TRUE(std::isnan(vx::EncodeDate(2023, 2, 29)));
  EXPECT_FALSE(std::isnan(vx::EncodeDate(2024, 2, 29)));
  EXPECT_TRUE(std::isnan(vx::EncodeDate(2024, 13, 1)));
  EXPECT_TRUE(std::isnan(vx::EncodeTime(24, 0, 0, 0)));
  int y, mo, d, h, mi, s, ms;
  ASSERT_TRUE(vx::DecodeDateTime(vx::EncodeDate(2049, 12, 31) + vx::EncodeTime(23, 59, 58, 0), y,
                                 mo, d, h, mi, s, ms));
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}),
            (std::vector<int>{2049, 12, 31, 23, 59, 58, 0}));
  EXPECT_FALSE(vx::DecodeDateTime(NAN, y, mo, d, h, mi, s, ms));
  EXPECT_FALSE(vx::DecodeDateTime(1e12, y, mo, d, h, mi, s, ms));
}

TEST(DateTime, Pictures) {
  const double dt = vx::EncodeDate(2007, 3, 4) + vx::EncodeTime(5, 6, 7, 0);
  struct Case {
    const char* picture;
    const char* text;
  } const cases[] = {
      {"dd/mm/yy", "04/03/07"},    {"hh:mm:ss", "05:06:07"}, {"d/m/yyyy", "4/3/2007"},
      {"hh:nn", "05:06"},          {"h:m:s", "5:6:7"},       {"'at' hh", "at 05"},
      {"", "04/03/2007 05:06:07"},
  };
  for (const auto& c : cases) EXPECT_EQ(vx::FormatDateTime(c.picture, dt), c.text) << c.picture;
  EXPECT_EQ(vx::FormatDateTime("", vx::EncodeDate(2007, 3, 4)), "04/03/2007");
}

TEST(DateTime, TextToDateTime) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  } const cases[] = {
      {"31/12/49", true, vx::EncodeDate(2049, 12, 31)},
      {"1/1/51", true, vx::EncodeDate(1951, 1, 1)},
      {"04/03/2007 05:06:07", true, vx::EncodeDate(2007, 3, 4) + vx::EncodeTime(5, 6, 7, 0)},
      {" 12:30 ", true, vx::EncodeTime(12, 30, 0, 0)},
      {"23:59:59", true, vx::EncodeTime(23, 59, 59, 0)},
      {"31/02/20", false, 0},
      {"24:00", false, 0},
      {"12", false, 0},
      {"", false, 0},
      {"1/2/3", false, 0},
      {"1/2/2003 x", false, 0},
      {"abc", false, 0},
  };
  for (const auto& c : cases) {
    double dt = -1;
    EXPECT_EQ(vx::TextToDateTime(c.text, dt), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(dt, c.value) << c.text;
    }
  }
}

}  // namespace
