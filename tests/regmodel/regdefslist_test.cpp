#include "regmodel/regdefslist.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "fixtures.h"
#include "platform/koexception.h"
#include "regmodel/versionrecord.h"

namespace {

using vxtest::Model;

std::vector<std::uint16_t> Addresses(const TkoRegDefsList& l) {
  std::vector<std::uint16_t> a;
  for (std::int32_t i = 0; i < l.Count(); ++i) a.push_back(l.DefinitionAt(i)->Address);
  return a;
}

TEST(RegDefsList, NumericSectionsSortedByAddress) {
  Model m("[5]\n[3]\n[Versions]\n[Categories]\n[DataModel]\n[Parameters]\n[@Frac16]\n[4]\n");
  EXPECT_EQ(Addresses(m.list), (std::vector<std::uint16_t>{3, 4, 5}));
  EXPECT_EQ(m.list.DefinitionAt(3), nullptr);
  EXPECT_EQ(m.list.DefinitionAt(-1), nullptr);
}

TEST(RegDefsList, EEPromCopies) {
  Model m(
      "[100]\nEEPromCopy=+1000\nName=Speed\nType=signed long\nUseFormat=@Time_S10\n"
      "[500]\n[1099]\n[1100]\nName=Ignored\n");
  EXPECT_EQ(Addresses(m.list), (std::vector<std::uint16_t>{100, 500, 1099, 1100, 1100}));
  const TkoRegDefinition* ee = m.list.FindByName("EESpeed");
  ASSERT_NE(ee, nullptr);
  EXPECT_EQ(ee->Address, 1100);
  EXPECT_EQ(ee->Type(), 0x14);
  EXPECT_EQ(ee->FormatNorm, 10);
  EXPECT_EQ(ee->EEPromCopy, 1100);
  EXPECT_EQ(m.list.FindByName("Speed")->Address, 100);
  EXPECT_EQ(m.list.IndexOfName("speed"), -1);
  EXPECT_EQ(m.list.IndexOfAddress(1100), 4);  // the last of the two
  EXPECT_EQ(m.list.IndexOfAddress(101), -1);
  EXPECT_EQ(m.list.FindByAddress(500)->Name, "Reg500");
}

TEST(RegDefsList, OddSectionNumbers) {
  // 0100 reads as 100 but its own lookup of "[100]" fails; 70000 and -1 keep their low
  // 16 bits and, since that differs from the number read, get an EE copy there too.
  Model m("[0100]\nName=X\n[70000]\nName=Wrapped\n[ 12abc]\n[-1]\n[99999999999]\n");
  EXPECT_EQ(Addresses(m.list), (std::vector<std::uint16_t>{12, 100, 4464, 4464, 65535, 65535}));
  EXPECT_EQ(m.list.FindByAddress(100)->Name, "Reg100");
}

TEST(RegDefsList, DuplicateSectionsLoadTheFirst) {
  Model m("[100]\nName=A\n[100]\nName=B\n");
  ASSERT_EQ(m.list.Count(), 2);
  EXPECT_EQ(m.list.DefinitionAt(0)->Name, "A");
  EXPECT_EQ(m.list.DefinitionAt(1)->Name, "A");
}

TEST(RegDefsList, ImageLayout) {
  Model m("[0]\n[1]\nType=long\n[2]\nLength=5\n[5]\n");
  const std::int32_t offsets[] = {0, 2, 6, 16, 18, 20};
  for (std::uint16_t a = 0; a < 6; ++a) EXPECT_EQ(m.list.ByteOffset(a), offsets[a]) << a;
  EXPECT_EQ(m.list.BlockBytes(1, 2), 14);
  EXPECT_EQ(m.list.BlockBytes(0, 6), 22);
  EXPECT_EQ(m.list.BlockBytes(3, 2), 4);
  EXPECT_EQ(m.list.BufferBytes(), 22);
  Model l("[10]\nType=long\n[11]\n[12]\nType=date\n");
  EXPECT_EQ(l.list.ByteOffset(11) - l.list.ByteOffset(10), 4);
  EXPECT_EQ(l.list.BufferBytes(), 2 * 13 + 2 + 4);
}

TEST(RegDefsList, EmptyListHasNoImage) {
  Model m("[Versions]\nVersions=VX310v*\n");
  EXPECT_EQ(m.list.Count(), 0);
  EXPECT_EQ(m.list.BufferBytes(), 0);
  EXPECT_EQ(m.list.ByteOffset(3), 6);
  EXPECT_EQ(m.list.BlockBytes(0, 4), 8);
}

TEST(RegDefsList, BuildOnlyOnce) {
  Model m("[1]\n");
  m.list.Add("[2]");
  m.list.BuildDefinitions();
  EXPECT_EQ(m.list.Count(), 1);
}

TEST(RegDefsList, MaxBufferSize) {
  struct Case {
    const char* text;
    std::int32_t size;
  } const cases[] = {{"", 20},
                     {"[DataModel]\nMaxBufferSize=10\n", 20},
                     {"[DataModel]\nMaxBufferSize=300\n", 256},
                     {"[DataModel]\nMaxBufferSize=100\n", 100},
                     {"[DataModel]\nMaxBufferSize=0x40\n", 64},
                     {"[DataModel]\nMaxBufferSize=-5\n", 20}};
  for (const auto& c : cases) {
    Model m(c.text);
    EXPECT_EQ(m.list.GetMaxBufferSize(), c.size) << c.text;
  }
}

TEST(RegDefsList, VersionsAndCategories) {
  Model m(
      "[Versions]\nVersions=\"VX310v2*, VX310-VEv3*\"\nVerDescr=Test model\n"
      "[Categories]\nActState=\"100,4\"\n");
  EXPECT_EQ(m.list.GetVersionDescr(), "Test model");
  EXPECT_EQ(m.list.GetCategoryText("ActState"), "100,4");
  EXPECT_EQ(m.list.GetCategoryText("FaultState"), "");
  struct Case {
    const char* version;
    bool match;
  } const cases[] = {
      {"VX310v220", true}, {"VX310v120", false}, {"VX310-VEv300", true}, {"VX310-VFv300", false}};
  for (const auto& c : cases) {
    TkoVersionRecord r(c.version);
    EXPECT_EQ(m.list.MatchesVersion(&r), c.match) << c.version;
  }
  EXPECT_FALSE(m.list.MatchesVersion(nullptr));
  Model none("[1]\n");
  TkoVersionRecord r("VX310v220");
  EXPECT_FALSE(none.list.MatchesVersion(&r));
}

// Damaged data-model files: each loads and builds without crash or hang, and what can be
// read from them is read.
class BadFiles : public ::testing::Test {
 protected:
  // ctest runs each test as its own process, in parallel: one file per test and process.
  std::string path = testing::TempDir() + "vx_badfile_" +
                     testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                     std::to_string(::getpid()) + ".par";
  void TearDown() override { std::remove(path.c_str()); }
  void Write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  void LoadAndBuild(Model& m) {
    m.list.LoadFromFile(path);
    m.list.BuildDefinitions();
    // Every definition fits the image it describes.
    for (std::int32_t i = 0; i < m.list.Count(); ++i) {
      const TkoRegDefinition* d = m.list.DefinitionAt(i);
      EXPECT_LE(m.list.ByteOffset(d->Address) + d->TotalBytes(), m.list.BufferBytes());
    }
  }
};

TEST_F(BadFiles, Truncated) {
  Write("[100]\nName=Speed\nType=signed long\n[101]\nName=Pos\nUseDefinition=@Mod");
  Model m("", false);
  LoadAndBuild(m);
  ASSERT_EQ(m.list.Count(), 2);
  EXPECT_EQ(m.list.FindByAddress(100)->Name, "Speed");
  EXPECT_EQ(m.list.FindByAddress(101)->Name, "Pos");
  Write("[100]\nName=Spe");
  Model cut("", false);
  LoadAndBuild(cut);
  EXPECT_EQ(cut.list.FindByAddress(100)->Name, "Spe");
  Write("[10");
  Model header("", false);
  LoadAndBuild(header);
  EXPECT_EQ(header.list.Count(), 0);
}

TEST_F(BadFiles, Binary) {
  std::mt19937 rng(12345);
  std::string bytes;
  for (int i = 0; i < 64 * 1024; ++i) bytes.push_back(static_cast<char>(rng() & 0xFF));
  // Sprinkle header and key fragments through the noise.
  static const char kSeven[] = "\n[7]\nType=bool long\x00\x01\nLength=\xff\xff\n";
  bytes.insert(1000, std::string(kSeven, sizeof kSeven - 1));
  bytes.insert(5000, "\n[8]\nUseDefinition=8\nDescr[0m\xff]=\x80\n");
  Write(bytes);
  Model m("", false);
  LoadAndBuild(m);
  const TkoRegDefinition* d = m.list.FindByAddress(7);
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->IsBool());
  EXPECT_EQ(m.list.FindByAddress(8)->Name, "Reg8");
}

TEST_F(BadFiles, AbsurdLengthsAndNumbers) {
  Write(
      "[1]\nLength=99999999999999999999\nType=long\n"
      "[2]\nLength=-1\n"
      "[3]\nMaxValue=1e999999\nMinValue=-1e400\nDfltValue=0x7FFFFFFFFFFFFFFF\n"
      "[4]\nEEPromCopy=+99999999999\n"
      "[5]\nEEPromCopy=-2147483648\n"
      "[6]\nFormatNorm=0\nLength=255\nType=date\n"
      "[65535]\nLength=255\nType=long\n"
      "[" +
      std::string(5000, '9') + "]\n" + "[7]\nName=" + std::string(100000, 'N') + "\n");
  Model m("", false);
  LoadAndBuild(m);
  EXPECT_EQ(m.list.FindByAddress(1)->Length, 1);    // not a number: the default stays
  EXPECT_EQ(m.list.FindByAddress(2)->Length, 255);  // low 8 bits of -1
  const TkoRegDefinition* three = m.list.FindByAddress(3);
  EXPECT_TRUE(three->HasMax);
  EXPECT_EQ(three->MaxValue, 1);  // "1e999999" reads as the integer 1, like "1e3"
  EXPECT_EQ(three->MinValue, -1);
  EXPECT_EQ(m.list.FindByAddress(4)->EEPromCopy, 4);
  EXPECT_EQ(m.list.FindByAddress(7)->Name.size(), 100000u);
  // The largest address with the largest element makes the largest image: still finite.
  EXPECT_EQ(m.list.BufferBytes() - m.list.ByteOffset(65535), 255 * 4);
}

TEST_F(BadFiles, RedirectCycles) {
  std::string text =
      "[1]\nUseDefinition=1\n"
      "[2]\nUseDefinition=@A\n[@A]\nUseDefinition=@B\n[@B]\nUseDefinition=@C\n[@C]\n"
      "UseDefinition=@A\nUseFormat=@C\nUseDescr=@C\nName=Loop\n"
      "[3]\nUseFormat=3\nUseDescr=3\nUseDefinition=2\n";
  // Many registers into one loop: bounded work each.
  for (int i = 10; i < 2010; ++i) text += "[" + std::to_string(i) + "]\nUseDefinition=@A\n";
  Write(text);
  Model m("", false);
  LoadAndBuild(m);
  EXPECT_EQ(m.list.Count(), 2003);
  EXPECT_EQ(m.list.FindByAddress(1)->Name, "Reg1");
  EXPECT_EQ(m.list.FindByAddress(2)->Name, "Loop");
  EXPECT_EQ(m.list.FindByAddress(3)->Name, "Loop");
  EXPECT_EQ(m.list.FindByAddress(2009)->Name, "Loop");
}

// Empty arrays repeated at one address take no bytes, but never negative ones: the
// addresses after them keep clear of the bytes of those before.
TEST_F(BadFiles, RepeatedEmptyArrays) {
  Write("[4]\n[5]\nLength=0\n[5]\nLength=0\n[5]\nLength=0\n[6]\n");
  Model m("", false);
  LoadAndBuild(m);
  ASSERT_EQ(m.list.Count(), 5);
  EXPECT_EQ(m.list.ByteOffset(4), 8);
  EXPECT_EQ(m.list.ByteOffset(5), 10);
  EXPECT_EQ(m.list.ByteOffset(6), 10);
  EXPECT_EQ(m.list.BlockBytes(4, 3), 4);
  EXPECT_EQ(m.list.BufferBytes(), 12);
  Write("[0]\nLength=0\n[0]\nLength=0\n");
  Model only("", false);
  LoadAndBuild(only);
  EXPECT_EQ(only.list.BufferBytes(), 0);
  // Beside a definition of one word (EEPROM copies of empty arrays here), they leave the
  // address its word.
  Write("[1]\n[2]\n[5]\nEEPromCopy=1\nLength=0\n[6]\nEEPromCopy=1\nLength=0\n");
  Model mixed("", false);
  LoadAndBuild(mixed);
  EXPECT_EQ(mixed.list.ByteOffset(2) - mixed.list.ByteOffset(1), 2);
}

TEST_F(BadFiles, EmptyAndMissing) {
  Write("");
  Model m("", false);
  LoadAndBuild(m);
  EXPECT_EQ(m.list.Count(), 0);
  EXPECT_EQ(m.list.BufferBytes(), 0);
  std::remove(path.c_str());
  Model missing("", false);
  EXPECT_THROW(missing.list.LoadFromFile(path), EkoException);
}

}  // namespace
