#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "mbwire/mbframe.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbtest_hex.h"
#include "mbwire/mbtransport.h"

// The three framings over an in-memory channel whose far end is a scripted peer: it
// decodes each request and answers with bursts of raw wire bytes, each after a delay,
// so line faults (bad checksum, bursts, silence) are played without a port or thread.
namespace {

using namespace std::chrono_literals;
using vxtest::Hex;
using vxtest::ToHex;
namespace mbr = vx::mbresult;

enum class Mode { kRtu, kAscii, kTcp };

std::string Name(Mode m) {
  return m == Mode::kRtu ? "Rtu" : m == Mode::kAscii ? "Ascii" : "Tcp";
}

struct Burst {
  std::chrono::microseconds delay;
  std::vector<uint8_t> bytes;
};

// What the peer saw: the request ADU and, for TCP, its transaction id.
struct Request {
  std::vector<uint8_t> adu;
  uint16_t tid = 0;
};

std::vector<uint8_t> Wire(Mode m, uint16_t tid, const std::vector<uint8_t>& adu) {
  switch (m) {
    case Mode::kRtu:
      return vx::EncodeRtu(adu);
    case Mode::kAscii:
      return vx::EncodeAscii(adu);
    case Mode::kTcp:
      return vx::EncodeMbap(tid, adu);
  }
  return {};
}

Request Decode(Mode m, std::span<const uint8_t> wire) {
  Request r;
  if (m == Mode::kRtu) {
    auto rx = vx::MBRtuReceiver::ForRequest();
    if (rx.Feed(wire) == vx::MBRtuReceiver::Status::kComplete)
      r.adu.assign(rx.Frame().begin(), rx.Frame().end());
  } else if (m == Mode::kAscii) {
    auto rx = vx::MBAsciiReceiver::ForRequest();
    if (rx.Feed(wire) == vx::MBAsciiReceiver::Status::kComplete && rx.Result() == mbr::kOk)
      r.adu.assign(rx.Frame().begin(), rx.Frame().end());
  } else {
    vx::MbapHeader h;
    if (vx::DecodeMbapHeader(wire, h)) {
      r.tid = h.transactionId;
      r.adu.assign(wire.begin() + 6, wire.end());
    }
  }
  return r;
}

using Script = std::function<std::vector<Burst>(Mode, const Request&)>;

class MBTransportTest : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    auto [ours, peer] = vx::MBMemoryChannel::Pair();
    peer_ = peer.get();
    peerOwner_ = std::move(peer);
    const vx::MBSerialSettings line{};  // 19200 8N1
    const vx::MBTiming timing{std::chrono::milliseconds(150), std::chrono::milliseconds(20)};
    switch (GetParam()) {
      case Mode::kRtu:
        transport_ = std::make_unique<vx::MBRtuTransport>(std::move(ours), line, timing);
        break;
      case Mode::kAscii:
        transport_ = std::make_unique<vx::MBAsciiTransport>(std::move(ours), line, timing);
        break;
      case Mode::kTcp:
        transport_ = std::make_unique<vx::MBTcpTransport>(std::move(ours), timing);
        break;
    }
    peer_->OnData([this](vx::MBMemoryChannel& self, std::span<const uint8_t> bytes) {
      const Request req = Decode(GetParam(), bytes);
      seen_.push_back(req.adu);
      if (!script_) return;
      for (const auto& b : script_(GetParam(), req)) self.WriteAfter(b.delay, b.bytes);
    });
  }

  // The ordinary answer of the peer: a read of two registers.
  static std::vector<Burst> Normal(Mode m, const Request& r) {
    return {{0us, Wire(m, r.tid, {r.adu[0], 0x03, 0x04, 0x12, 0x34, 0x56, 0x78})}};
  }

  int32_t Exchange(const char* requestHex, std::vector<uint8_t>& response) {
    return transport_->Transact(Hex(requestHex), response);
  }

  std::unique_ptr<vx::MBTransport> transport_;
  vx::MBMemoryChannel* peer_ = nullptr;
  std::unique_ptr<vx::MBMemoryChannel> peerOwner_;
  Script script_;
  std::vector<std::vector<uint8_t>> seen_;
};

struct FaultCase {
  const char* name;
  const char* request;
  Script script;
  int32_t result;
  const char* response;  // on success
  bool serialOnly;
};

std::vector<uint8_t> Cut(std::vector<uint8_t> v, std::size_t drop) {
  v.resize(v.size() - drop);
  return v;
}

TEST_P(MBTransportTest, EachAnswerGivesItsResultAndTheLinkStaysUsable) {
  const FaultCase cases[] = {
      {"read", "01 03 00 10 00 02", Normal, mbr::kOk, "01 03 04 12 34 56 78", false},
      {"write single", "01 06 00 10 00 2A",
       [](Mode m, const Request& r) {
         return std::vector<Burst>{{0us, Wire(m, r.tid, r.adu)}};
       },
       mbr::kOk, "01 06 00 10 00 2A", false},
      {"write multiple", "01 10 00 10 00 02 04 00 01 00 02",
       [](Mode m, const Request& r) {
         return std::vector<Burst>{{0us, Wire(m, r.tid, Hex("01 10 00 10 00 02"))}};
       },
       mbr::kOk, "01 10 00 10 00 02", false},
      {"device version", "01 41",
       [](Mode m, const Request& r) {
         return std::vector<Burst>{
             {0us, Wire(m, r.tid, Hex("01 41 00 03 01 36 41 42 00 DC 20 20"))}};
       },
       mbr::kOk, "01 41 00 03 01 36 41 42 00 DC 20 20", false},
      {"exception", "01 03 7F 00 00 02",
       [](Mode m, const Request& r) {
         return std::vector<Burst>{{0us, Wire(m, r.tid, Hex("01 83 02"))}};
       },
       mbr::FromException(2), "", false},
      {"silence", "01 03 00 10 00 02", [](Mode, const Request&) { return std::vector<Burst>{}; },
       mbr::kTimeout, "", false},
      {"other slave", "01 03 00 10 00 02",
       [](Mode m, const Request& r) {
         return std::vector<Burst>{{0us, Wire(m, r.tid, Hex("02 03 04 12 34 56 78"))}};
       },
       mbr::kInvalidResponse, "", false},
      {"other function", "01 03 00 10 00 02",
       [](Mode m, const Request& r) {
         return std::vector<Burst>{{0us, Wire(m, r.tid, Hex("01 04 04 12 34 56 78"))}};
       },
       mbr::kInvalidResponse, "", false},
      {"bad checksum", "01 03 00 10 00 02",
       [](Mode m, const Request& r) {
         auto w = Wire(m, r.tid, Hex("01 03 04 12 34 56 78"));
         w[w.size() - (m == Mode::kAscii ? 3 : 1)] ^= 0x01;
         return std::vector<Burst>{{0us, w}};
       },
       mbr::kInvalidCrc, "", true},
      {"truncated", "01 03 00 10 00 02",
       [](Mode m, const Request& r) {
         return std::vector<Burst>{{0us, Cut(Wire(m, r.tid, Hex("01 03 04 12 34 56 78")), 3)}};
       },
       mbr::kInvalidResponse, "", false},
      {"garbage before the frame", "01 03 00 10 00 02",
       [](Mode m, const Request& r) {
         return std::vector<Burst>{{0us, Hex("FF 00 13 01")},
                                   {0us, Wire(m, r.tid, Hex("01 03 04 12 34 56 78"))}};
       },
       mbr::kOk, "01 03 04 12 34 56 78", true},
      {"bursts with gaps", "01 03 00 10 00 02",
       [](Mode m, const Request& r) {
         const auto w = Wire(m, r.tid, Hex("01 03 04 12 34 56 78"));
         const auto half = static_cast<std::ptrdiff_t>(w.size() / 2);
         return std::vector<Burst>{{0us, {w.begin(), w.begin() + 3}},
                                   {30ms, {w.begin() + 3, w.begin() + half}},
                                   {60ms, {w.begin() + half, w.end()}}};
       },
       mbr::kOk, "01 03 04 12 34 56 78", false},
      {"late answer", "01 03 00 10 00 02",
       [](Mode m, const Request& r) {
         return std::vector<Burst>{{100ms, Wire(m, r.tid, Hex("01 03 04 12 34 56 78"))}};
       },
       mbr::kOk, "01 03 04 12 34 56 78", false},
  };
  for (const auto& c : cases) {
    if (c.serialOnly && GetParam() == Mode::kTcp) continue;
    SCOPED_TRACE(c.name);
    script_ = c.script;
    std::vector<uint8_t> response;
    EXPECT_EQ(Exchange(c.request, response), c.result);
    if (c.result == mbr::kOk) {
      EXPECT_EQ(ToHex(response), c.response);
    }
    // Whatever was left on the line, the next ordinary exchange works.
    script_ = Normal;
    EXPECT_EQ(Exchange("01 03 00 10 00 02", response), mbr::kOk);
    EXPECT_EQ(ToHex(response), "01 03 04 12 34 56 78");
  }
}

TEST_P(MBTransportTest, StaleInputIsDroppedBeforeTheRequest) {
  const auto stale = Wire(GetParam(), 1, Hex("01 03 04 AA AA AA AA"));
  peer_->WriteAfter(0us, stale);
  script_ = Normal;
  std::vector<uint8_t> response;
  EXPECT_EQ(Exchange("01 03 00 10 00 02", response), mbr::kOk);
  EXPECT_EQ(ToHex(response), "01 03 04 12 34 56 78");
}

TEST_P(MBTransportTest, RequestSizeIsChecked) {
  std::vector<uint8_t> response;
  EXPECT_EQ(Exchange("01", response), mbr::kUnexpectedDataSize);
  EXPECT_EQ(transport_->Transact(std::vector<uint8_t>(255, 0x01), response), mbr::kBufferOverflow);
  EXPECT_TRUE(seen_.empty());
}

// Address 0 is a broadcast on a serial line: sent, and a slave that (wrongly) answers is
// not waited for. Modbus TCP has no broadcast: unit 0 is answered and awaited.
TEST_P(MBTransportTest, AddressZeroIsABroadcastOnlyOnASerialLine) {
  script_ = [](Mode m, const Request& r) {
    return std::vector<Burst>{{20ms, Wire(m, r.tid, r.adu)}};
  };
  std::vector<uint8_t> response;
  EXPECT_EQ(Exchange("00 06 00 01 00 05", response), mbr::kOk);
  EXPECT_EQ(ToHex(response), GetParam() == Mode::kTcp ? "00 06 00 01 00 05" : "");
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(ToHex(seen_[0]), "00 06 00 01 00 05");
}

INSTANTIATE_TEST_SUITE_P(Framings, MBTransportTest,
                         ::testing::Values(Mode::kRtu, Mode::kAscii, Mode::kTcp),
                         [](const auto& info) { return Name(info.param); });

TEST(MBTcpTransport, TransactionIdIsChecked) {
  auto [ours, peer] = vx::MBMemoryChannel::Pair();
  vx::MBTcpTransport t(std::move(ours),
                       {std::chrono::milliseconds(100), std::chrono::milliseconds(20)});
  int tidShift = 0;
  bool lateFirst = false;
  bool onlyLate = false;
  peer->OnData([&](vx::MBMemoryChannel& self, std::span<const uint8_t> bytes) {
    const Request r = Decode(Mode::kTcp, bytes);
    const auto answer = Hex("01 03 02 00 07");
    if (lateFirst)
      self.WriteAfter(0us, vx::EncodeMbap(static_cast<uint16_t>(r.tid - 1), Hex("01 03 02 00 06")));
    if (!onlyLate)
      self.WriteAfter(0us, vx::EncodeMbap(static_cast<uint16_t>(r.tid + tidShift), answer));
  });
  std::vector<uint8_t> response;
  tidShift = 5;
  EXPECT_EQ(t.Transact(Hex("01 03 00 00 00 01"), response), mbr::kInvalidResponse);
  tidShift = 0;
  lateFirst = true;  // an answer to an earlier request arrives first and is passed over
  EXPECT_EQ(t.Transact(Hex("01 03 00 00 00 01"), response), mbr::kOk);
  EXPECT_EQ(ToHex(response), "01 03 02 00 07");
  onlyLate = true;  // a slow slave: the late answer comes, ours does not in time
  EXPECT_EQ(t.Transact(Hex("01 03 00 00 00 01"), response), mbr::kTimeout);
}

TEST(MBRtuTransport, UnknownFunctionEndsAtSilence) {
  auto [ours, peer] = vx::MBMemoryChannel::Pair();
  vx::MBRtuTransport t(std::move(ours), vx::MBSerialSettings{},
                       {std::chrono::milliseconds(100), std::chrono::milliseconds(5)});
  peer->OnData([](vx::MBMemoryChannel& self, std::span<const uint8_t>) {
    self.WriteAfter(0us, vx::EncodeRtu(Hex("01 2B 0E 01 01 00 00 01 00 03 41 42 43")));
  });
  std::vector<uint8_t> response;
  EXPECT_EQ(t.Transact(Hex("01 2B 0E 01 00"), response), mbr::kOk);
  EXPECT_EQ(ToHex(response), "01 2B 0E 01 01 00 00 01 00 03 41 42 43");
}

}  // namespace
