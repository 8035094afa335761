// The request kinds on a device with a small register image (one word per address,
// maximum message size 100 bytes); the test plays the worker by calling Run.
#include "modbus/mbtransakinds.h"

#include <gtest/gtest.h>

#include <string>

#include "mbenginekit.h"
#include "platform/queuedispatcher.h"
#include "platform/threadbuffer.h"

namespace {

using vxtest::Bytes;
using vxtest::FakeLine;
using vxtest::ReadAnswer;
namespace mbr = vx::mbresult;

class KindsTest : public ::testing::Test {
 protected:
  int32_t RunOnce(TkoMBTransaction& t) {
    t.SetTermReasons(TkoMBTransaction::trAlways);
    t.SetEnabled(true);
    const int32_t r = t.Run(&server);
    ui.PumpPending();
    return r;
  }
  std::vector<std::pair<int, int>> Blocks(const TkoRegBlock* b) {
    std::vector<std::pair<int, int>> out;
    for (; b; b = b->Next()) out.emplace_back(b->First(), b->Count());
    return out;
  }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
  vxtest::FakeServer server{line};
  std::unique_ptr<TkoRegDefsList> model = vxtest::SmallModel(100);
  vxtest::StandInDevice device{model.get(), 7};
};

TEST_F(KindsTest, ReadHoldRegistersStoresTheAnswerAndTellsWhetherItChanged) {
  auto* read = new TkoMBReadHoldRegisters(&device, true, 2, 10);
  EXPECT_EQ(read->GetTransaName(), "TkoMBReadHoldRegisters[7](10r2)");
  const Bytes data = {0x12, 0x34, 0xAB, 0xCD};
  line->responder = [&](const Bytes&) { return FakeLine::Answer{0, ReadAnswer(7, data)}; };

  EXPECT_EQ(RunOnce(*read), 0);
  EXPECT_EQ(line->Queries().back(), (Bytes{7, 0x03, 0, 10, 0, 2}));
  EXPECT_EQ(device.ImageBytes(10, 2), data);
  EXPECT_TRUE(read->GetDataChanged());

  EXPECT_EQ(RunOnce(*read), 0);
  EXPECT_FALSE(read->GetDataChanged()) << "identical data read twice";
}

TEST_F(KindsTest, AReadAnsweredWithTheWrongSizeLeavesTheImageUnchanged) {
  auto* read = new TkoMBReadHoldRegisters(&device, true, 10, 0);
  const Bytes before(20, 0x5A);
  device.SetImageBytes(0, before);
  struct Case {
    const char* what;
    Bytes answer;
  } cases[] = {
      {"byte count 18 for 10 registers", ReadAnswer(7, Bytes(18, 1))},
      {"byte count 22", ReadAnswer(7, Bytes(22, 1))},
      {"count 20 but only 4 data bytes",
       [] {
         Bytes b = ReadAnswer(7, Bytes(4, 1));
         b[2] = 20;
         return b;
       }()},
      {"no byte count at all", Bytes{7, 0x03}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    line->Script({{0, c.answer}});
    EXPECT_EQ(RunOnce(*read), mbr::kUnexpectedDataSize);
    EXPECT_EQ(device.ImageBytes(0, 10), before);
  }
}

TEST_F(KindsTest, BlocksWithoutARegisterImageGiveMinusThree) {
  vxtest::StandInDevice bare;  // no register image to bind to
  auto* read = new TkoMBReadHoldRegisters(&bare, true, 1, 0);
  auto* write = new TkoMBWriteSingleRegister(&bare, true, 0);
  EXPECT_EQ(RunOnce(*read), mbr::kNoDataBuffer);
  EXPECT_EQ(RunOnce(*write), mbr::kNoDataBuffer);
  EXPECT_EQ(line->QueryCount(), 0u);
}

TEST_F(KindsTest, WriteSingleRegisterSendsTheImageBytes) {
  auto* write = new TkoMBWriteSingleRegister(&device, true, 5);
  EXPECT_EQ(write->GetTransaName(), "TkoMBWriteSingleRegister[7](5w1)");
  device.SetImageBytes(5, {0x12, 0x34});
  line->Script({{0, Bytes{7, 0x06, 0, 5, 0x12, 0x34}}});
  EXPECT_EQ(RunOnce(*write), 0);
  EXPECT_EQ(line->Queries(), (std::vector<Bytes>{{7, 0x06, 0, 5, 0x12, 0x34}}));
}

TEST_F(KindsTest, ChainedReadsEveryBlockThenWritesEachWithTheFittingFunction) {
  auto* chained = new TkoMBChainedTransa(&device, true);
  chained->SetReadBlocks(new TkoRegBlock("10/11,20"));
  chained->SetWriteBlocks(new TkoRegBlock("30,40/42"));
  device.SetImageBytes(30, {0xA0, 0xA1});
  device.SetImageBytes(40, {1, 2, 3, 4, 5, 6});
  line->responder = [](const Bytes& q) {
    if (q[1] == 0x03) return FakeLine::Answer{0, ReadAnswer(7, Bytes(q[5] * 2, 0x77))};
    return FakeLine::Answer{0, Bytes(q.begin(), q.begin() + 6)};
  };
  EXPECT_EQ(RunOnce(*chained), 0);
  // Chains hold their items in reverse text order.
  EXPECT_EQ(line->Queries(), (std::vector<Bytes>{
                                 {7, 0x03, 0, 20, 0, 1},
                                 {7, 0x03, 0, 10, 0, 2},
                                 {7, 0x10, 0, 40, 0, 3, 6, 1, 2, 3, 4, 5, 6},
                                 {7, 0x06, 0, 30, 0xA0, 0xA1},
                             }));
  EXPECT_EQ(device.ImageBytes(10, 2), Bytes(4, 0x77));
  EXPECT_TRUE(chained->GetDataChanged());
}

TEST_F(KindsTest, ChainedStopsAtATimeoutButGoesOnAfterOtherFailures) {
  auto* chained = new TkoMBChainedTransa(&device, true);
  chained->SetReadBlocks(new TkoRegBlock("10,20,30"));  // runs 30, 20, 10
  chained->SetWriteBlocks(new TkoRegBlock("40"));

  line->Script({{mbr::kTimeout, {}}});
  EXPECT_EQ(RunOnce(*chained), mbr::kTimeout);
  EXPECT_EQ(line->QueryCount(), 1u) << "a time-out on the first read block sends nothing else";

  // An invalid CRC on one block does not stop the others; the last exchange decides.
  line->Script({{mbr::kInvalidCrc, {}},
                {0, ReadAnswer(7, {0, 1})},
                {0, ReadAnswer(7, {0, 2})},
                {0, Bytes{7, 0x06, 0, 40, 0, 0}}});
  EXPECT_EQ(RunOnce(*chained), 0);
  EXPECT_EQ(line->QueryCount(), 5u);

  // A time-out on a later read block also stops the writes.
  line->Script({{0, ReadAnswer(7, {0, 1})}, {mbr::kTimeout, {}}});
  EXPECT_EQ(RunOnce(*chained), mbr::kTimeout);
  EXPECT_EQ(line->QueryCount(), 7u);
}

TEST_F(KindsTest, BlocksAreSplitToFitOneMessage) {
  auto* chained = new TkoMBChainedTransa(&device, true);
  // 60 registers are 120 bytes: at least 100 - 5 for a read, 100 - 8 for a write.
  chained->SetReadBlocks(new TkoRegBlock("0/59"));
  chained->SetWriteBlocks(new TkoRegBlock("0/59"));
  EXPECT_EQ(Blocks(chained->GetReadBlocks()),
            (std::vector<std::pair<int, int>>{{0, 30}, {30, 30}}));
  EXPECT_EQ(Blocks(chained->GetWriteBlocks()),
            (std::vector<std::pair<int, int>>{{0, 30}, {30, 30}}));
  for (const TkoRegBlock* b = chained->GetReadBlocks(); b; b = b->Next()) {
    ASSERT_NE(b->View(), nullptr);
    EXPECT_EQ(b->View()->Size(), 60);
  }
  EXPECT_EQ(chained->GetValue("setup", "readblocks", ""), "0/29,30/59");

  // 47 registers (94 bytes) fit a read answer but not a write request.
  chained->SetReadBlocks(new TkoRegBlock("0/46"));
  chained->SetWriteBlocks(new TkoRegBlock("0/46"));
  EXPECT_EQ(Blocks(chained->GetReadBlocks()), (std::vector<std::pair<int, int>>{{0, 47}}));
  EXPECT_EQ(Blocks(chained->GetWriteBlocks()),
            (std::vector<std::pair<int, int>>{{0, 23}, {23, 24}}));
  chained->SetReadBlocks(nullptr);
  EXPECT_EQ(chained->GetValue("setup", "readblocks", "none"), "none");
}

TEST_F(KindsTest, MovingTheFirstBlockRebindsItToTheNewAddress) {
  auto* read = new TkoMBReadHoldRegisters(&device, true, 1, 3);
  read->SetReadAddress(8);
  device.SetImageBytes(8, {0, 0});
  line->Script({{0, ReadAnswer(7, {0xBE, 0xEF})}});
  EXPECT_EQ(RunOnce(*read), 0);
  EXPECT_EQ(line->Queries().back(), (Bytes{7, 0x03, 0, 8, 0, 1}));
  EXPECT_EQ(device.ImageBytes(8, 1), (Bytes{0xBE, 0xEF}));
}

}  // namespace
