#include "regmodel/regblock.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/threadbuffer.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"

namespace {

struct Blk {
  int first;
  int count;
  bool valid;
  bool operator==(const Blk&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Blk& b) {
  return os << "{" << b.first << "," << b.count << (b.valid ? "" : ",invalid") << "}";
}

std::vector<Blk> Chain(const TkoRegBlock& head) {
  std::vector<Blk> out;
  for (const TkoRegBlock* b = &head; b; b = b->Next())
    out.push_back({b->First(), b->Count(), b->Valid()});
  return out;
}

TEST(RegBlockParse, BlockListTexts) {
  struct Case {
    const char* text;
    std::vector<Blk> chain;
    int total;
  };
  const Case cases[] = {
      {"100/119,200", {{200, 1, true}, {100, 20, true}}, 21},
      {"10,abc", {{0, 0, false}}, 0},
      {"abc,10", {{10, 1, true}, {0, 0, false}}, 1},
      {"", {{0, 0, false}}, 0},
      {" 7", {{7, 1, true}}, 1},
      {"+7", {{7, 1, true}}, 1},
      {"7 ", {{0, 0, false}}, 0},  // trailing text fails the conversion
      {"1,2,3", {{3, 1, true}, {2, 1, true}, {1, 1, true}}, 3},
      {"1,x,3", {{3, 1, true}, {0, 0, false}}, 1},
      {",10", {{10, 1, true}}, 1},  // nothing before the comma: the chain ends
      {"10,", {{0, 0, false}}, 0},
      {"5/5", {{5, 1, true}}, 1},
      {"65534/65535", {{65534, 2, true}}, 2},
      // Ranges that cannot name addresses are invalid items, never wrapped blocks.
      {"65535/0", {{0, 0, false}}, 0},
      {"10/5", {{0, 0, false}}, 0},
      {"0/65535", {{0, 0, false}}, 0},  // 65536 addresses do not fit a count
      {"-1", {{0, 0, false}}, 0},
      {"65536", {{0, 0, false}}, 0},
      {"99999999999999999999", {{0, 0, false}}, 0},
      {"1/2/3", {{0, 0, false}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TkoRegBlock b(c.text);
    EXPECT_EQ(Chain(b), c.chain);
    EXPECT_EQ(b.TotalCount(), c.total);
  }
}

TEST(RegBlockParse, ToTextReversesTheItems) {
  TkoRegBlock b("100/119,200");
  EXPECT_EQ(b.ToText(), "200,100/119");
  TkoRegBlock again(b.ToText());
  EXPECT_EQ(again.ToText(), "100/119,200");
}

// Printed and parsed again, a chain keeps its valid blocks (reversed) and gains none: an
// invalid block is not printed as an address.
TEST(RegBlockParse, ToTextRoundTripKeepsOnlyWhatWasValid) {
  struct Case {
    const char* text;
    const char* printed;
    std::vector<Blk> reparsed;
  };
  const Case cases[] = {
      {"abc,10", "10", {{10, 1, true}}},
      {"1,x,3/4", "3/4", {{3, 2, true}}},
      {"10,abc", "", {{0, 0, false}}},
      {"", "", {{0, 0, false}}},
      {"5,0/1", "0/1,5", {{5, 1, true}, {0, 2, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TkoRegBlock b(c.text);
    EXPECT_EQ(b.ToText(), c.printed);
    EXPECT_EQ(Chain(TkoRegBlock(b.ToText())), c.reparsed);
  }
  TkoRegBlock split(0, 0, new TkoRegBlock(7, 1, nullptr));  // an empty block leads the chain
  EXPECT_EQ(split.ToText(), "7");
}

TEST(RegBlockParse, TenThousandItemsParseAndFreeWithoutRecursion) {
  std::string text;
  for (int i = 0; i < 10000; ++i) text += (i ? "," : "") + std::to_string(i);
  auto* b = new TkoRegBlock(text);
  EXPECT_EQ(b->TotalCount(), 10000);
  EXPECT_EQ(b->First(), 9999);
  EXPECT_TRUE(b->Contains(0));
  EXPECT_FALSE(b->Contains(10000));
  delete b;
}

TEST(RegBlockSplit, Shares) {
  struct Case {
    int first, count, parts;
    bool split;
    std::vector<Blk> chain;
  };
  const Case cases[] = {
      {10, 5, 2, true, {{10, 2, true}, {12, 3, true}}},
      {10, 1, 2, false, {{10, 1, true}}},
      {0, 10, 3, true, {{0, 3, true}, {3, 3, true}, {6, 4, true}}},
      {0, 4, 4, true, {{0, 1, true}, {1, 1, true}, {2, 1, true}, {3, 1, true}}},
      {0, 4, 0, false, {{0, 4, true}}},
      {0, 4, 1, false, {{0, 4, true}}},  // no empty block that would cut the chain short
      {0, 4, -2, false, {{0, 4, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << "+" << c.count << "/" << c.parts);
    TkoRegBlock b(static_cast<uint16_t>(c.first), static_cast<uint16_t>(c.count), nullptr);
    EXPECT_EQ(b.Split(c.parts), c.split);
    EXPECT_EQ(Chain(b), c.chain);
  }
  TkoRegBlock invalid("x");
  EXPECT_FALSE(invalid.Split(2));
}

TEST(RegBlockSplit, KeepsTheRestOfTheChain) {
  TkoRegBlock b(0, 4, new TkoRegBlock(100, 1, nullptr));
  ASSERT_TRUE(b.Split(2));
  EXPECT_EQ(Chain(b), (std::vector<Blk>{{0, 2, true}, {2, 2, true}, {100, 1, true}}));
  EXPECT_FALSE(b.Split(1));
  EXPECT_EQ(b.TotalCount(), 5);
}

TEST(RegBlockContains, RangesOfTheWholeChain) {
  TkoRegBlock b("100/119,200,65535");
  for (int a : {100, 119, 200, 65535}) EXPECT_TRUE(b.Contains(a)) << a;
  for (int a : {99, 120, 199, 201, 65536, -1}) EXPECT_FALSE(b.Contains(a)) << a;
}

// A data model of `n` one-word registers at 0..n-1 plus optional extra sections.
struct Model {
  TkoRegDefsList list;
  explicit Model(int n, int maxBuffer, const std::string& extra = "") {
    std::string text = "[DataModel]\nMaxBufferSize=" + std::to_string(maxBuffer) + "\n";
    for (int i = 0; i < n; ++i)
      text += "[" + std::to_string(i) + "]\nName=R" + std::to_string(i) + "\n";
    text += extra;
    list.SetText(text);
    list.BuildDefinitions();
  }
};

int ViewSize(const TkoRegBlock* b) {
  return b->View() ? b->View()->Size() : -1;
}

TEST(RegBlockBind, SplitsToTheMessageSizeAndViewsEachBlock) {
  Model m(60, 100);
  TkoRegDataBuffer buf(&m.list);
  TkoRegBlock b("0/59");
  b.Bind(&buf);
  EXPECT_EQ(Chain(b), (std::vector<Blk>{{0, 30, true}, {30, 30, true}}));
  EXPECT_EQ(ViewSize(&b), 60);
  EXPECT_EQ(ViewSize(b.Next()), 60);
  EXPECT_EQ(b.Next()->Owner(), &buf);
  // The views are the image's bytes, under its lock.
  EXPECT_EQ(b.Next()->View()->Lock(), buf.Image()->Lock());
}

TEST(RegBlockBind, RegisterLargerThanAMessageStaysOneBlock) {
  Model m(2, 20, "[5]\nType=short\nLength=100\n");
  TkoRegDataBuffer buf(&m.list);
  TkoRegBlock b("5");
  b.Bind(&buf);
  EXPECT_EQ(Chain(b), (std::vector<Blk>{{5, 1, true}}));
  EXPECT_EQ(ViewSize(&b), 200);
}

TEST(RegBlockBind, RangesOutsideTheImageGetNoView) {
  Model m(10, 256);  // image of addresses 0..9
  TkoRegDataBuffer buf(&m.list);
  TkoRegBlock b("x,8/11,65534/65535,20");
  b.Bind(&buf);
  ASSERT_EQ(Chain(b).size(), 4u);
  for (const TkoRegBlock* p = &b; p; p = p->Next()) {
    SCOPED_TRACE(p->First());
    EXPECT_EQ(p->View(), nullptr);
  }
  TkoRegBlock inside("0/9");
  inside.Bind(&buf);
  EXPECT_EQ(ViewSize(&inside), 20);
}

TEST(RegBlockBind, HugeRangeSplitsAndViewsOnlyWhatLiesInTheImage) {
  Model m(10, 20);  // 20-byte image; 15 bytes a message
  TkoRegDataBuffer buf(&m.list);
  TkoRegBlock b("0/65534");
  b.Bind(&buf);
  int blocks = 0, viewed = 0;
  for (const TkoRegBlock* p = &b; p; p = p->Next()) {
    ++blocks;
    EXPECT_LE(m.list.BlockBytes(p->First(), p->Count()), 15);
    if (!p->View()) continue;
    ++viewed;
    EXPECT_LE(p->First() + p->Count(), 10);
    EXPECT_EQ(ViewSize(p), 2 * p->Count());
  }
  EXPECT_EQ(b.TotalCount(), 65535);
  EXPECT_GT(blocks, 8000);
  EXPECT_GE(viewed, 1);
}

TEST(RegBlockCategory, ChainOfACategory) {
  Model m(1, 20, "[Categories]\nRamSetup=\"100/119,200\"\nEmpty=\n");
  auto ram = vx::GetCategory(m.list, "RamSetup");
  ASSERT_NE(ram, nullptr);
  EXPECT_EQ(ram->ToText(), "200,100/119");
  EXPECT_EQ(vx::GetCategory(m.list, "Empty"), nullptr);
  EXPECT_EQ(vx::GetCategory(m.list, "ramsetup"), nullptr);  // category names are exact
}

TEST(RegBlockBind, MoveToRebindsAndUnbindDropsViews) {
  Model m(10, 256);
  TkoRegDataBuffer buf(&m.list);
  TkoRegBlock b(0, 2, nullptr);
  b.Bind(&buf);
  ASSERT_NE(b.View(), nullptr);
  b.MoveTo(9);  // 9..10 reaches past the image
  EXPECT_EQ(b.View(), nullptr);
  b.MoveTo(8);
  EXPECT_EQ(ViewSize(&b), 4);
  b.Bind(nullptr);
  EXPECT_EQ(b.View(), nullptr);
  EXPECT_EQ(b.Owner(), nullptr);
}

}  // namespace
