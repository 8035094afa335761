#include "platform/threadbuffer.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/koexception.h"

namespace {

TEST(ThreadBuffer, CreateViewRanges) {
  TkoThreadBuffer b(8);
  struct Case {
    std::int32_t offset, size;
    bool ok;
  } const cases[] = {{0, 8, true},   {8, 0, false},  {7, 1, true}, {7, 2, false},
                     {-1, 2, false}, {2, -1, false}, {0, 0, true}, {3, 5, true}};
  for (const auto& c : cases) {
    auto v = b.CreateView(c.offset, c.size);
    EXPECT_EQ(v != nullptr, c.ok) << c.offset << "+" << c.size;
    if (v) {
      EXPECT_FALSE(v->Owner());
      EXPECT_EQ(v->Lock(), b.Lock());
      EXPECT_EQ(v->Size(), c.size);
    }
  }
  TkoThreadBuffer empty(0);
  EXPECT_EQ(empty.Size(), 0);
  EXPECT_EQ(empty.CreateView(0, 0), nullptr);
  TkoThreadBuffer negative(-4);
  EXPECT_EQ(negative.Size(), 0);
}

TEST(ThreadBuffer, ViewsShareBytesAndLock) {
  TkoThreadBuffer b(4);
  {
    auto v = b.CreateView(2, 2);
    {
      TkoThreadBuffer::WriteAccess w(*v);
      w.data()[1] = 0xAB;
    }
    // Holding the view's write lock blocks the buffer's: the lock is the same.
    // Tried from another thread: try_lock_shared by the write-lock holder itself is undefined.
    std::uint8_t* d = v->BeginWrite();
    bool got = true;
    std::thread([&] {
      got = b.Lock()->try_lock_shared();
      if (got) b.Lock()->unlock_shared();
    }).join();
    EXPECT_FALSE(got);
    v->EndWrite();
    (void)d;
  }
  TkoThreadBuffer::ReadAccess r(b);
  EXPECT_EQ(r.data()[3], 0xAB);
  EXPECT_EQ(r.data()[0], 0);
}

TEST(ThreadBuffer, ViewNeedsDataAndLock) {
  std::uint8_t bytes[2] = {};
  std::shared_mutex m;
  try {
    TkoThreadBuffer v(2, nullptr, &m);
    ADD_FAILURE() << "no exception";
  } catch (const EkoException& e) {
    EXPECT_STREQ(e.what(), "You must specify access structure and buffer pointer!");
  }
  EXPECT_THROW(TkoThreadBuffer(2, bytes, nullptr), EkoException);
  TkoThreadBuffer v(2, bytes, &m);
  EXPECT_EQ(v.Lock(), &m);
}

}  // namespace
