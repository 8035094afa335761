// A block view and the registers it covers share the image's lock: a worker storing whole
// blocks never lets a register read see half of a long.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/threadbuffer.h"
#include "regmodel/regblock.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"

namespace {

TEST(RegBlockThreads, WholeBlockStoresAreAtomicForRegisterReads) {
  TkoRegDefsList list;
  list.SetText("[0]\nName=Pos\nType=unsigned long\n[1]\nName=Speed\n");
  list.BuildDefinitions();
  TkoRegDataBuffer buf(&list);
  TkoRegBlock block("0/1");
  block.Bind(&buf);
  ASSERT_NE(block.View(), nullptr);
  ASSERT_EQ(block.View()->Size(), 6);

  constexpr int kStores = 20000;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int k = 1; k <= kStores; ++k) {
      TkoThreadBuffer::WriteAccess w(*block.View());
      // Both words of the long and the short take the same value k.
      for (int word = 0; word < 3; ++word) {
        w.data()[2 * word] = static_cast<uint8_t>(k >> 8);
        w.data()[2 * word + 1] = static_cast<uint8_t>(k);
      }
    }
    done = true;
  });
  TkoRegister* pos = buf.FindRegister("Pos");
  int reads = 0;
  while (!done || reads == 0) {
    const uint32_t v = static_cast<uint32_t>(pos->GetValueInteger(0));
    ASSERT_EQ(v >> 16, v & 0xFFFF) << "torn read after " << reads << " reads";
    ++reads;
  }
  worker.join();
  EXPECT_EQ(static_cast<uint32_t>(pos->GetValueInteger(0)), (uint32_t{kStores} << 16) | kStores);
  EXPECT_EQ(buf.FindRegister("Speed")->GetValueInteger(0), kStores);
}

}  // namespace
