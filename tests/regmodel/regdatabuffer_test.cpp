#include "regmodel/regdatabuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/koexception.h"
#include "platform/threadbuffer.h"
#include "regmodel/regblock.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace {

// Registers: 0 Speed (short), 1 Pos (long), 2 Arr (3 shorts), 5 Mode (short, default 3),
// 7 Ratio (signed), 9 Dup, 10 Dup (two registers of one name).
const char* kModel =
    "[0]\nName=Speed\n"
    "[1]\nName=Pos\nType=unsigned long\n"
    "[2]\nName=Arr\nLength=3\n"
    "[5]\nName=Mode\nDfltValue=3\n"
    "[7]\nName=Ratio\nType=signed short\n"
    "[9]\nName=Dup\n"
    "[10]\nName=Dup\n";

class RegDataBufferTest : public ::testing::Test {
 protected:
  RegDataBufferTest() {
    list.SetText(kModel);
    list.BuildDefinitions();
    buf = std::make_unique<TkoRegDataBuffer>(&list);
  }
  TkoRegister& R(const char* name) { return *buf->FindRegister(name); }
  std::vector<uint8_t> Bytes() const {
    TkoThreadBuffer::ReadAccess a(*buf->Image());
    return std::vector<uint8_t>(a.data(), a.data() + buf->Image()->Size());
  }

  TkoRegDefsList list;
  std::unique_ptr<TkoRegDataBuffer> buf;
};

TEST(RegDataBuffer, NullListIsRejected) {
  try {
    TkoRegDataBuffer b(nullptr);
    FAIL() << "no exception";
  } catch (const EkoException& e) {
    EXPECT_STREQ(e.what(),
                 "You must specify a valid TkoRegDefsList reference to allocate registers buffer!");
  }
}

TEST(RegDataBuffer, ListWithoutDefinitionsGivesAnEmptyBuffer) {
  TkoRegDefsList empty;
  empty.SetText("[Versions]\nVersions=VX310v2*\n");
  empty.BuildDefinitions();
  TkoRegDataBuffer b(&empty);
  EXPECT_EQ(b.Image(), nullptr);
  EXPECT_EQ(b.RegisterCount(), 0);
  EXPECT_EQ(b.RegisterAt(0), nullptr);
  EXPECT_EQ(b.FindRegister("x"), nullptr);
  EXPECT_EQ(b.CreateView(0, 1), nullptr);
  EXPECT_EQ(b.LoadBlocks("S", &empty, nullptr), "");
}

TEST_F(RegDataBufferTest, ImageAndLookups) {
  // 11 words, plus 2 bytes for the long and 4 for the array.
  EXPECT_EQ(buf->Image()->Size(), 28);
  EXPECT_EQ(buf->RegisterCount(), 7);
  EXPECT_EQ(buf->RegisterAt(5)->Name(), "Mode");
  EXPECT_EQ(buf->RegisterAt(3), nullptr);  // the image has bytes for 3, but no register
  EXPECT_EQ(buf->FindRegister("  Pos "), buf->RegisterAt(1));
  EXPECT_EQ(buf->FindRegister("pos"), nullptr);
  EXPECT_EQ(buf->FindRegister("Dup"), buf->RegisterAt(10));  // the last of that name
  EXPECT_EQ(buf->RegisterByIndex(7), nullptr);
  EXPECT_EQ(buf->RegisterByIndex(-1), nullptr);
  EXPECT_EQ(buf->RegisterAt(1)->Buffer(), buf.get());
}

TEST_F(RegDataBufferTest, ViewsLieInsideTheImage) {
  struct Case {
    int first, count, size;  // size -1: no view
  };
  const Case cases[] = {
      {0, 1, 2},      {1, 1, 4},      {1, 2, 10},     {0, 11, 28}, {10, 1, 2},
      {10, 2, -1},    {11, 1, -1},    {0, 0, -1},     {0, -3, -1}, {-1, 1, -1},
      {65535, 1, -1}, {65536, 1, -1}, {0, 70000, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << "+" << c.count);
    auto v = buf->CreateView(c.first, c.count);
    EXPECT_EQ(v ? v->Size() : -1, c.size);
  }
  // A view writes the very bytes the register reads.
  auto v = buf->CreateView(5, 1);
  {
    TkoThreadBuffer::WriteAccess w(*v);
    w.data()[0] = 0x01;
    w.data()[1] = 0x02;
  }
  EXPECT_EQ(R("Mode").GetValueInteger(0), 0x0102);
}

TEST_F(RegDataBufferTest, SaveThenLoadRestoresTheChainsRegisters) {
  R("Speed").SetValueInteger(0, 1500);
  R("Pos").SetValueInteger(0, 70000);
  R("Arr").SetValueInteger(0, 1);
  R("Arr").SetValueInteger(2, 3);
  R("Ratio").SetValueInteger(0, -7);
  TkoTextResource file;
  TkoRegBlock chain("0/2,7");
  buf->SaveBlocks(&chain, "Setup", &file);
  EXPECT_EQ(file.ReadString("Setup", "Speed", ""), "\"1500\"");
  EXPECT_EQ(file.ReadString("Setup", "Mode", "missing"), "missing");  // not in the chain

  const auto saved = Bytes();
  for (const char* n : {"Speed", "Pos", "Ratio"}) R(n).SetValueInteger(0, 9);
  R("Arr").SetValueInteger(2, 9);
  const std::string report = buf->LoadBlocks("Setup", &file, nullptr);
  EXPECT_EQ(Bytes(), saved);
  // Each saved line went in under the header, so the file lists the chain backwards.
  EXPECT_EQ(report, "Arr=Found.\r\nPos=Found.\r\nSpeed=Found.\r\nRatio=Found.\r\n");
}

TEST_F(RegDataBufferTest, LoadReportsEveryLineAndTouchesNothingOutsideTheFilter) {
  R("Speed").SetValueInteger(0, 11);
  R("Ratio").SetValueInteger(0, 22);
  R("Dup").SetValueInteger(0, 33);
  TkoTextResource file;
  file.SetText(
      "[Setup]\n"
      "Speed=\"\"100\"\"\n"
      "Nobody=\"\"5\"\"\n"
      ";Speed=\"\"1\"\"\n"  // comment, blank and junk lines are no key lines
      "\n"
      "junk\n"
      "Ratio=\"\"-3\"\"\n"                  // outside the filter
      "Mode=\"\"abc\"\"\n"                  // wrong shape: found, keeps the default
      "Speed=\"\"200\"\"\n"                 // duplicate: loaded from the first line again
      "Pos=\"\"99999999999999999999\"\"\n"  // too big for any register
      "Dup=\"\"1\"\"\n"                     // the register of this name lies outside the filter
      "EESpeed=\"\"1\"\"\n"
      "[Other]\nSpeed=\"\"7\"\"\n"
      "[setup]\nSpeed=\"\"8\"\"\n");  // a later section of the same name is never read
  TkoRegBlock filter("0/5,9");
  auto before = Bytes();
  const std::string report = buf->LoadBlocks("Setup", &file, &filter);
  EXPECT_EQ(report,
            "Speed=Found.\r\nNobody=UNKNOWN!\r\nRatio=Excluded!\r\nMode=Found.\r\n"
            "Speed=Found.\r\nPos=Found.\r\nDup=Excluded!\r\nEESpeed=UNKNOWN!\r\n");
  EXPECT_EQ(R("Speed").GetValueInteger(0), 100);
  EXPECT_EQ(R("Mode").GetValueInteger(0), 3);
  EXPECT_EQ(R("Ratio").GetValueInteger(0), 22);
  EXPECT_EQ(buf->RegisterAt(10)->GetValueInteger(0), 33);
  // Outside the filter nothing moved: only Speed (bytes 0..1), Pos (2..5, whatever the
  // register makes of the huge number) and Mode (16..17) may differ.
  auto after = Bytes();
  for (size_t i = 0; i < after.size(); ++i) {
    if (i <= 5 || i == 16 || i == 17) continue;
    EXPECT_EQ(after[i], before[i]) << "byte " << i;
  }
}

// Every value a register could not take as written is named: clamped to the type's range,
// not a number, an element the file does not give. Values taken as written are not.
TEST_F(RegDataBufferTest, LoadNamesTheValuesNotTakenAsWritten) {
  TkoTextResource file;
  file.SetText(
      "[Setup]\nSpeed=\"\"70000\"\"\nRatio=\"\"-40000\"\"\nMode=\"\"fast\"\"\n"
      "Arr=\"\"\"1\",\"2\"\"\"\nPos=\"\"123456\"\"\n");
  std::vector<TkoLoadIssue> issues;
  (void)buf->LoadBlocks("Setup", &file, nullptr, &issues);
  const auto text = [](const TkoLoadIssue& i) {
    return i.Name + "[" + std::to_string(i.Element) + "]: " + i.FileValue + " -> " + i.Kept + " (" +
           i.Why + ")";
  };
  std::vector<std::string> got;
  for (const TkoLoadIssue& i : issues) got.push_back(text(i));
  EXPECT_EQ(
      got,
      (std::vector<std::string>{
          "Speed[0]: 70000 -> " + R("Speed").GetValueString(0, 0) + " (above the maximum)",
          "Ratio[0]: -40000 -> " + R("Ratio").GetValueString(0, 0) + " (below the minimum)",
          "Mode[0]: fast -> " + R("Mode").GetValueString(0, 0) + " (not a number, default kept)",
          "Arr[2]:  -> " + R("Arr").GetValueString(2, 0) + " (not in the file, default kept)"}));
  EXPECT_EQ(R("Speed").GetValueInteger(0), 65535);
  EXPECT_EQ(R("Ratio").GetValueInteger(0), -32768);
  EXPECT_EQ(R("Mode").GetValueInteger(0), 3);
  EXPECT_EQ(R("Pos").GetValueInteger(0), 123456);
}

TEST_F(RegDataBufferTest, LoadWithoutResourceOrSection) {
  EXPECT_EQ(buf->LoadBlocks("Setup", nullptr, nullptr), "Source file not defined!");
  TkoTextResource file;
  file.SetText("[Other]\nSpeed=1\n");
  EXPECT_EQ(buf->LoadBlocks("Setup", &file, nullptr), "");
  buf->SaveBlocks(nullptr, "Setup", &file);  // an empty chain writes nothing
  EXPECT_EQ(file.Count(), 2);
}

TEST_F(RegDataBufferTest, PlainBufferReachesNoDevice) {
  EXPECT_EQ(buf->ReadReg(&R("Speed"), true), kRegBufferNotReady);
  EXPECT_EQ(buf->WriteReg(&R("Speed"), false), kRegBufferNotReady);
}

TEST_F(RegDataBufferTest, ReleaseLeavesAnEmptyBufferAndAllocateRebuildsIt) {
  buf->Release();
  EXPECT_EQ(buf->RegisterCount(), 0);
  EXPECT_EQ(buf->FindRegister("Speed"), nullptr);
  buf->Allocate(&list);
  EXPECT_EQ(buf->RegisterCount(), 7);
  EXPECT_NE(buf->FindRegister("Speed"), nullptr);
}

}  // namespace
