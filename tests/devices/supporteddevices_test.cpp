// The table of supported devices: which class an identified version gets.
#include "devices/supporteddevices.h"

#include <gtest/gtest.h>

#include <string>

#include "regmodel/versionrecord.h"

namespace {

TkoVersionRecord Record(uint16_t model, const char* variant, uint16_t board = 0,
                        uint16_t versionWord = 220, const char* suffix = "\xFF\xFF") {
  TkoVersionRecord r;
  r.Board = board;
  r.Model = model;
  r.Variant[0] = variant[0];
  r.Variant[1] = variant[1];
  r.SetVersionWord(versionWord);
  r.Suffix[0] = suffix[0];
  r.Suffix[1] = suffix[1];
  return r;
}

struct Case {
  TkoVersionRecord version;
  const char* className;
};

TEST(SupportedDevices, EachVersionGetsTheClassOfTheFirstGroupItMatches) {
  const char* none = "\xFF\xFF";
  const Case cases[] = {
      {Record(140, none), "TkoDeviceVX120"},
      {Record(120, none), "TkoDeviceVX120"},
      {Record(220, none), "TkoDeviceVX220"},
      {Record(310, none, 0, 220), "TkoDeviceVX310"},
      {Record(310, none, 0, 101), "TkoDeviceVX310"},
      {Record(150, none, 410, 120, "ST"), "TkoDeviceVX150ST"},
      // The suffix must be ST and the board 410.
      {Record(150, none, 410, 120, "SX"), "TkoDeviceSlave"},
      {Record(150, none, 0, 120, "ST"), "TkoDeviceSlave"},  // the pattern names board 410
      {Record(150, none, 411, 120, "ST"), "TkoDeviceSlave"},
      {Record(160, "2\xFF"), "TkoDeviceVX160VE"},
      {Record(160, "10"), "TkoDeviceVX160VE"},
      {Record(160, "VE"), "TkoDeviceVX160VE"},
      {Record(160, "IM"), "TkoDeviceVX160VE"},
      {Record(160, "MI"), "TkoDeviceVX160VE"},
      // Without variant characters every VX160 pattern that parses matches, the plain
      // "VX160v*" too: the first group with one decides.
      {Record(160, none), "TkoDeviceVX160VE"},
      // A variant that no pattern names matches none of them, "VX160v*" included.
      {Record(160, "XY"), "TkoDeviceSlave"},
      {Record(330, none, 420), "TkoDeviceVX330"},
      {Record(330, "A\xFF", 420), "TkoDeviceVX330"},
      {Record(330, none), "TkoDeviceVX330"},
      {Record(340, none), "TkoDeviceVX340"},
      {Record(360, none), "TkoDeviceVX340"},
      {Record(370, none), "TkoDeviceVX340"},
      {Record(260, "AB", 0, 100, "XY"), "TkoDeviceVX260"},
      {Record(999, none), "TkoDeviceSlave"},
      {TkoVersionRecord(), "TkoDeviceSlave"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vx::SupportedDeviceClass(c.version), c.className) << c.version.ToString();
}

TEST(SupportedDevices, TheVX160PatternsWithABlankNeverMatchButStayListed) {
  const auto& groups = vx::SupportedDevices();
  ASSERT_EQ(groups.size(), 11u);
  const auto& blanks = groups[4];
  EXPECT_EQ(blanks.ClassName, "TkoDeviceVX160VE");
  ASSERT_EQ(blanks.Patterns.size(), 5u);
  for (int i = 0; i < 4; ++i) {
    const std::string& pattern = blanks.Patterns[i];
    EXPECT_NE(pattern.find("- "), std::string::npos) << pattern;
    TkoVersionRecord parsed;
    EXPECT_FALSE(parsed.Parse(pattern)) << pattern;
    for (const char* variant : {"2\xFF", "4\xFF", "6\xFF", "8\xFF", "\xFF\xFF", "  "})
      EXPECT_FALSE(Record(160, variant).Matches(pattern)) << pattern;
  }
  // Its last pattern parses and is what a model 160 without variant meets first.
  EXPECT_EQ(blanks.Patterns[4], "VX160-10v*");
  EXPECT_TRUE(Record(160, "\xFF\xFF").Matches(blanks.Patterns[4]));
}

}  // namespace
