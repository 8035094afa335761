#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fixtures.h"
#include "platform/threadbuffer.h"
#include "regmodel/register.h"

namespace {

// A writer stores whole blocks under the write lock while readers go through registers;
// a register never sees half of a long written by the block copy.
TEST(ThreadBufferMt, RegisterReadsNeverSeeTornBlocks) {
  vxtest::Model model("[0]\nName=L\nType=long\n[2]\nName=S\n");
  TkoThreadBuffer image(model.list.BufferBytes());
  TkoRegister l(nullptr, model.list.FindByName("L"), image, model.list);
  std::atomic<bool> stop{false};
  std::atomic<bool> reading{false};
  std::atomic<int> torn{0};
  std::atomic<int> reads{0};
  std::thread writer([&] {
    // Start only once the reader runs, so that the two overlap however they are scheduled.
    while (!reading) std::this_thread::yield();
    for (std::uint32_t n = 0; n < 20000; ++n) {
      const std::uint8_t b = static_cast<std::uint8_t>(n & 1 ? 0xFF : 0x00);
      TkoThreadBuffer::WriteAccess w(image);
      for (int i = 0; i < 4; ++i) w.data()[i] = b;
    }
    stop = true;
  });
  std::thread reader([&] {
    do {
      const std::int32_t v = l.GetValueInteger(0);
      if (v != 0 && v != -1) ++torn;
      ++reads;
      reading = true;
    } while (!stop);
  });
  writer.join();
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(torn.load(), 0);
}

TEST(ThreadBufferMt, ConcurrentRegisterWritersAndReaders) {
  vxtest::Model model("[0]\nName=A\n[1]\nName=B\n");
  TkoThreadBuffer image(model.list.BufferBytes());
  TkoRegister a(nullptr, model.list.FindByName("A"), image, model.list);
  TkoRegister b(nullptr, model.list.FindByName("B"), image, model.list);
  std::thread wa([&] {
    for (int i = 0; i < 5000; ++i) a.SetValueInteger(0, i);
  });
  std::thread wb([&] {
    for (int i = 0; i < 5000; ++i) b.SetValueBit(0, i % 16, true);
  });
  std::thread r([&] {
    for (int i = 0; i < 5000; ++i) EXPECT_LE(a.GetValueInteger(0), 4999);
  });
  wa.join();
  wb.join();
  r.join();
  EXPECT_EQ(a.GetValueInteger(0), 4999);
  EXPECT_EQ(b.GetValueInteger(0), 0xFFFF);
}

}  // namespace
