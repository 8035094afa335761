#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "mbwire/mbframe.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbtap.h"
#include "mbwire/mbtest_hex.h"
#include "mbwire/mbtransport.h"

// The frame tap between the connection's thread, which records, and viewers on others.
namespace {

using namespace std::chrono_literals;
using vxtest::Hex;
namespace mbr = vx::mbresult;

// The line goes on at full speed while one viewer never reads (paused) and another copies
// the whole ring over and over (slow): every exchange is recorded, the ring stays bounded,
// and each copy is a gap-free run of records.
TEST(MBFrameTap, TheLineNeverWaitsForAViewer) {
  vx::MBFrameTap tap(500);
  vx::MBTapWatch paused(tap);
  auto [ours, peer] = vx::MBMemoryChannel::Pair();
  peer->OnData([](vx::MBMemoryChannel& self, std::span<const uint8_t>) {
    self.WriteAfter(0us, vx::EncodeRtu(Hex("01 03 02 00 07")));
  });
  vx::MBSerialSettings fast;
  fast.baudRate = 4000000;  // the frame gap is the fixed 1.75 ms above 19200 baud
  vx::MBRtuTransport transport(std::move(ours), fast, vx::MBTiming{1000ms, 20ms});
  transport.SetTap(&tap, "COM1");

  std::atomic<bool> done{false};
  std::atomic<int> copies{0};
  std::atomic<bool> consistent{true};
  std::thread slow([&] {
    std::vector<vx::MBTapRecord> out;
    while (!done.load()) {
      out.clear();
      tap.CopySince(0, out);
      for (std::size_t i = 1; i < out.size(); ++i)
        if (out[i].seq <= out[i - 1].seq) consistent = false;
      ++copies;
    }
  });
  constexpr int kExchanges = 1500;
  const auto request = Hex("01 03 00 10 00 01");
  std::vector<uint8_t> response;
  int ok = 0;
  for (int i = 0; i < kExchanges; ++i) ok += transport.Transact(request, response) == mbr::kOk;
  done = true;
  slow.join();
  EXPECT_EQ(ok, kExchanges);
  EXPECT_EQ(tap.LastSeq(), static_cast<uint64_t>(kExchanges));
  EXPECT_EQ(tap.Size(), 500u);
  EXPECT_GT(copies.load(), 0);
  EXPECT_TRUE(consistent.load());
}

}  // namespace
