#include "regmodel/versionrecord.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionRecord, EmptyRecord) {
  TkoVersionRecord r;
  EXPECT_EQ(r.GetVersionWord(), 65426);
  EXPECT_EQ(r.ToString(), "VX0v65426");
}

TEST(VersionRecord, TextForms) {
  TkoVersionRecord r;
  r.Board = 410;
  r.Model = 150;
  r.SetVersionWord(120);
  r.Suffix[0] = 'S';
  r.Suffix[1] = 'T';
  EXPECT_EQ(r.ToString(), "VXP410_VX150v120-ST");
  r.Variant[0] = 'V';
  EXPECT_EQ(r.GetModelText(), "VX150-V");
  r.Variant[0] = ' ';  // printable: the blank is trimmed away with the trailing side
  r.Variant[1] = '\0';
  EXPECT_EQ(r.GetModelText(), "VX150-");
  TkoVersionRecord p("VX310v220");
  EXPECT_EQ(p.ToString(), "VX310v220");
  EXPECT_EQ(p.GetBoardText(), "");
}

TEST(VersionRecord, Parse) {
  struct Case {
    const char* text;
    bool ok;
    int board, model, major, minor, release;
    char variant0, suffix0;
  } const cases[] = {
      {"VX310V220", true, 0, 310, 2, 2, 0, '\xFF', '\xFF'},
      {"vx310v22", true, 0, 310, 2, 2, -1, '\xFF', '\xFF'},
      {"VX310V2*", true, 0, 310, 2, -1, -1, '\xFF', '\xFF'},
      {"VX310V*", true, 0, 310, -1, -1, -1, '\xFF', '\xFF'},
      {"VX160- 2v*", false, 0, 160, -1, -1, 0, '\xFF', '\xFF'},
      {"VX160-2v*", true, 0, 160, -1, -1, -1, '2', '\xFF'},
      {"VXP410_VX150v120-ST", true, 410, 150, 1, 2, 0, '\xFF', 'S'},
      {"VX160- v1", true, 0, 160, 1, -1, -1, '\xFF', '\xFF'},
      {"", true, 0, 0, -1, -1, 0, '\xFF', '\xFF'},
      {"  model VX310", true, 0, 310, -1, -1, 0, '\xFF', '\xFF'},
      {"VY310", false, 0, 0, -1, -1, 0, '\xFF', '\xFF'},
      {"VX310V22**", false, 0, 310, 2, 2, -1, '\xFF', '\xFF'},
      {"VXP1_VXP2", false, 1, 0, -1, -1, 0, '\xFF', '\xFF'},
  };
  for (const auto& c : cases) {
    TkoVersionRecord r;
    EXPECT_EQ(r.Parse(c.text), c.ok) << c.text;
    EXPECT_EQ(r.Board, c.board) << c.text;
    EXPECT_EQ(r.Model, c.model) << c.text;
    EXPECT_EQ(r.VerMajor, c.major) << c.text;
    EXPECT_EQ(r.VerMinor, c.minor) << c.text;
    EXPECT_EQ(r.VerRelease, c.release) << c.text;
    EXPECT_EQ(r.Variant[0], c.variant0) << c.text;
    EXPECT_EQ(r.Suffix[0], c.suffix0) << c.text;
  }
}

TEST(VersionRecord, Matches) {
  struct Case {
    const char* record;
    const char* pattern;
    bool match;
  } const cases[] = {
      {"VX310v220", "VX310v2*", true},
      {"VX310v299", "VX310v2*", true},
      {"VX310v320", "VX310v2*", false},
      {"VX311v220", "VX310v2*", false},
      {"VX310v220", "VX310v220", true},
      {"VX310v221", "VX310v220", false},
      {"VX310v220", "VX310v22", true},
      {"VX310v220", "VX310v*", true},
      {"VXP4_VX310v220", "VXP4_VX310v*", true},
      {"VXP5_VX310v220", "VXP4_VX310v*", false},
      {"VXP5_VX310v220", "VX310v*", true},
      {"VX310v220", "VXP4_VX310v*", false},
      {"VX310-VEv220", "VX310-V*v*", true},
      {"VX310-VEv220", "VX310-VFv*", false},
      {"VX310-VEv220", "VX310-*v*", true},
      {"VX310v220", "VX310-VEv*", true},
      {"VX310v220-ST", "VX310v220-S*", true},
      {"VX310v220-ST", "VX310v220-SX", false},
      {"VX310v220-ST", "VX310v220-*", true},
      {"VX310v220-ST", "VX310v220-T*", false},
      {"VX310v220", "VX310v220-ST", true},
      {"VX310v220", "VY310", false},
      {"", "bad pattern VY", false},
  };
  for (const auto& c : cases) {
    TkoVersionRecord r;
    r.Parse(c.record);
    EXPECT_EQ(r.Matches(c.pattern), c.match) << c.record << " ~ " << c.pattern;
  }
}

}  // namespace
