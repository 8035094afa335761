#include <gtest/gtest.h>

#include "mbwire/mbframe.h"
#include "mbwire/mblisten.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbtap.h"
#include "mbwire/mbtest_hex.h"
#include "mbwire/mbtransport.h"

// The frame tap: what the RTU transport records of each exchange, how a record decodes,
// the ring's bound, and listening to another master's traffic.
namespace {

using namespace std::chrono_literals;
using vxtest::Hex;
using vxtest::ToHex;
namespace mbr = vx::mbresult;
using vx::MBFailure;

std::vector<uint8_t> Rtu(const char* adu) {
  return vx::EncodeRtu(Hex(adu));
}

// The checksum of a good frame, spoilt.
std::vector<uint8_t> BadCrc(const char* adu) {
  auto f = Rtu(adu);
  f.back() ^= 0x5A;
  return f;
}

struct Burst {
  std::chrono::microseconds delay;
  std::vector<uint8_t> bytes;
};

// An RTU transport on an in-memory line whose far end answers each request with the
// bursts of the case; the tap watched throughout.
class TapFixture : public ::testing::Test {
 protected:
  TapFixture() : watch_(tap_) {
    auto [ours, peer] = vx::MBMemoryChannel::Pair();
    peer_ = std::move(peer);
    transport_ = std::make_unique<vx::MBRtuTransport>(
        std::move(ours), vx::MBSerialSettings{},
        vx::MBTiming{std::chrono::milliseconds(120), std::chrono::milliseconds(20)});
    transport_->SetTap(&tap_, "COM1");
    peer_->OnData([this](vx::MBMemoryChannel& self, std::span<const uint8_t>) {
      for (const Burst& b : answer_) self.WriteAfter(b.delay, b.bytes);
    });
  }

  vx::MBTapRecord Last() {
    std::vector<vx::MBTapRecord> all;
    tap_.CopySince(0, all);
    if (all.empty()) return {};
    return all.back();
  }

  vx::MBFrameTap tap_{100};
  vx::MBTapWatch watch_;
  std::unique_ptr<vx::MBMemoryChannel> peer_;
  std::unique_ptr<vx::MBRtuTransport> transport_;
  std::vector<Burst> answer_;
};

struct DecodeCase {
  const char* name;
  const char* request;  // ADU
  std::vector<Burst> answer;
  int32_t result;
  MBFailure failure;
  int function;
  int address;
  int count;
  std::vector<uint16_t> values;
  int exception;
};

TEST_F(TapFixture, EachFunctionAndFailureDecodesFromTheRecordedBytes) {
  const DecodeCase cases[] = {
      {"read holding registers",
       "01 03 00 10 00 02",
       {{0us, Rtu("01 03 04 00 0A 01 F4")}},
       mbr::kOk,
       MBFailure::kNone,
       0x03,
       0x10,
       2,
       {10, 500},
       -1},
      {"write single register",
       "01 06 00 20 12 34",
       {{0us, Rtu("01 06 00 20 12 34")}},
       mbr::kOk,
       MBFailure::kNone,
       0x06,
       0x20,
       1,
       {0x1234},
       -1},
      {"write multiple registers",
       "01 10 00 30 00 02 04 00 01 FF FF",
       {{0us, Rtu("01 10 00 30 00 02")}},
       mbr::kOk,
       MBFailure::kNone,
       0x10,
       0x30,
       2,
       {1, 0xFFFF},
       -1},
      {"device version",
       "01 41",
       {{0us, Rtu("01 41 00 03 01 36 56 58 00 DC 00 00")}},
       mbr::kOk,
       MBFailure::kNone,
       0x41,
       -1,
       0,
       {3, 0x136, 0x5658, 220, 0},
       -1},
      {"exception",
       "01 03 70 00 00 01",
       {{0us, Rtu("01 83 02")}},
       mbr::FromException(2),
       MBFailure::kException,
       0x03,
       0x7000,
       1,
       {},
       2},
      {"time-out",
       "01 03 00 10 00 02",
       {},
       mbr::kTimeout,
       MBFailure::kTimeout,
       0x03,
       0x10,
       2,
       {},
       -1},
      {"CRC error",
       "01 03 00 10 00 01",
       {{0us, BadCrc("01 03 02 00 07")}},
       mbr::kInvalidCrc,
       MBFailure::kCrc,
       0x03,
       0x10,
       1,
       {},
       -1},
      {"wrong slave",
       "01 03 00 10 00 01",
       {{0us, Rtu("02 03 02 00 07")}},
       mbr::kInvalidResponse,
       MBFailure::kWrongSlave,
       0x03,
       0x10,
       1,
       {},
       -1},
      {"truncated",
       "01 03 00 10 00 02",
       {{0us, Hex("01 03 04 00 0A")}},
       mbr::kInvalidResponse,
       MBFailure::kTruncated,
       0x03,
       0x10,
       2,
       {},
       -1},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    answer_ = c.answer;
    std::vector<uint8_t> response;
    EXPECT_EQ(transport_->Transact(Hex(c.request), response), c.result);
    const vx::MBTapRecord r = Last();
    EXPECT_EQ(r.port, "COM1");
    EXPECT_EQ(r.origin, vx::MBTapOrigin::kExchange);
    EXPECT_EQ(ToHex(r.request), ToHex(Rtu(c.request)));
    std::vector<uint8_t> sent;
    for (const Burst& b : c.answer) sent.insert(sent.end(), b.bytes.begin(), b.bytes.end());
    EXPECT_EQ(ToHex(r.answer), ToHex(sent)) << "the bytes as they came";
    EXPECT_EQ(r.result, c.result);
    const vx::MBDecoded d = vx::MBDecode(r);
    EXPECT_EQ(d.failure, c.failure) << vx::MBFailureText(d.failure);
    EXPECT_EQ(d.slave, 1);
    EXPECT_EQ(d.function, c.function);
    EXPECT_EQ(d.address, c.address);
    EXPECT_EQ(d.count, c.count);
    EXPECT_EQ(d.values, c.values);
    EXPECT_EQ(d.exception, c.exception);
  }
}

TEST_F(TapFixture, AnAnswerAfterItsTimeOutIsRecordedAsLateBeforeTheNextRequest) {
  std::vector<uint8_t> response;
  EXPECT_EQ(transport_->Transact(Hex("01 03 00 10 00 01"), response), mbr::kTimeout);
  // The slave answers after all; the bytes wait on the line for the next exchange.
  peer_->WriteAfter(0us, Rtu("01 03 02 00 07"));
  answer_ = {{0us, Rtu("01 03 02 00 08")}};
  EXPECT_EQ(transport_->Transact(Hex("01 03 00 10 00 01"), response), mbr::kOk);

  std::vector<vx::MBTapRecord> all;
  tap_.CopySince(0, all);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(vx::MBDecode(all[0]).failure, MBFailure::kTimeout);
  EXPECT_EQ(all[1].origin, vx::MBTapOrigin::kLateAnswer);
  EXPECT_EQ(vx::MBDecode(all[1]).failure, MBFailure::kLateAnswer);
  EXPECT_EQ(ToHex(all[1].answer), ToHex(Rtu("01 03 02 00 07")));
  EXPECT_EQ(vx::MBDecode(all[2]).values, std::vector<uint16_t>{8});
}

TEST_F(TapFixture, TimingOfTheAnswerIsRecorded) {
  // The answer comes in two bursts, the second 30 ms after the request.
  const auto frame = Rtu("01 03 04 00 0A 01 F4");
  answer_ = {{2ms, {frame.begin(), frame.begin() + 4}}, {30ms, {frame.begin() + 4, frame.end()}}};
  std::vector<uint8_t> response;
  ASSERT_EQ(transport_->Transact(Hex("01 03 00 10 00 02"), response), mbr::kOk);
  ASSERT_EQ(transport_->Transact(Hex("01 03 00 10 00 02"), response), mbr::kOk);
  std::vector<vx::MBTapRecord> all;
  tap_.CopySince(0, all);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].silenceUs, -1) << "nothing was on the line before the first request";
  for (const auto& r : all) {
    EXPECT_EQ(ToHex(r.answer), ToHex(frame)) << "both bursts are the one answer";
    // How the reads fell between the bursts depends on the scheduler; the bounds do not.
    EXPECT_GE(r.maxGapUs, 0);
    EXPECT_GE(r.roundTripUs, 30000);
    EXPECT_LE(r.maxGapUs, r.roundTripUs);
    EXPECT_GT(r.timeUs, 1600000000000000) << "wall-clock microseconds";
  }
  // The transport keeps 3.5 characters (about 2 ms at 19200 baud) of silence.
  EXPECT_GE(all[1].silenceUs, 1500);
}

// The timing a capture makes of the chunks it is given.
TEST(MBTapCapture, MeasuresSilenceRoundTripAndTheLongestGap) {
  vx::MBFrameTap tap(4);
  vx::MBTapWatch watch(tap);
  vx::MBTapCapture capture(&tap, "COM1", vx::MBFraming::kRtu);
  const auto t0 = vx::MBClock::now();
  const auto frame = Rtu("01 03 04 00 0A 01 F4");
  capture.Begin(Rtu("01 03 00 10 00 02"), t0, t0 - 7ms);
  capture.Chunk(std::span(frame).first(3), t0 + 5ms);
  capture.Chunk(std::span(frame).subspan(3, 2), t0 + 6ms);
  capture.Chunk(std::span(frame).subspan(5), t0 + 26ms);
  capture.End(mbr::kOk);
  std::vector<vx::MBTapRecord> out;
  ASSERT_EQ(tap.CopySince(0, out), 1u);
  EXPECT_EQ(out[0].silenceUs, 7000);
  EXPECT_EQ(out[0].roundTripUs, 26000);
  EXPECT_EQ(out[0].maxGapUs, 20000);
  EXPECT_EQ(ToHex(out[0].answer), ToHex(frame));
  // No answer: neither round trip nor gap.
  capture.Begin(Rtu("01 03 00 10 00 02"), t0 + 1s, {});
  capture.End(mbr::kTimeout);
  out.clear();
  ASSERT_EQ(tap.CopySince(1, out), 1u);
  EXPECT_EQ(out[0].silenceUs, -1);
  EXPECT_EQ(out[0].roundTripUs, -1);
  EXPECT_EQ(out[0].maxGapUs, -1);
}

TEST_F(TapFixture, NothingIsRecordedWhileNobodyWatches) {
  vx::MBFrameTap unwatched(10);
  transport_->SetTap(&unwatched, "COM2");
  answer_ = {{0us, Rtu("01 06 00 20 12 34")}};
  std::vector<uint8_t> response;
  ASSERT_EQ(transport_->Transact(Hex("01 06 00 20 12 34"), response), mbr::kOk);
  EXPECT_EQ(unwatched.LastSeq(), 0u);
  {
    vx::MBTapWatch w(unwatched);
    ASSERT_EQ(transport_->Transact(Hex("01 06 00 20 12 34"), response), mbr::kOk);
  }
  ASSERT_EQ(transport_->Transact(Hex("01 06 00 20 12 34"), response), mbr::kOk);
  EXPECT_EQ(unwatched.LastSeq(), 1u);
}

TEST(MBFrameTap, KeepsTheNewestRecordsUpToItsCapacity) {
  vx::MBFrameTap tap(5);
  vx::MBTapRecord r;
  for (int i = 1; i <= 12; ++i) {
    r.request = {static_cast<uint8_t>(i)};
    tap.Record(r);
  }
  EXPECT_EQ(tap.Size(), 5u);
  EXPECT_EQ(tap.LastSeq(), 12u);
  std::vector<vx::MBTapRecord> out;
  EXPECT_EQ(tap.CopySince(0, out), 5u);
  ASSERT_EQ(out.size(), 5u);
  for (std::size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].seq, 8 + i);
    EXPECT_EQ(out[i].request, std::vector<uint8_t>{static_cast<uint8_t>(8 + i)});
  }
  out.clear();
  EXPECT_EQ(tap.CopySince(10, out), 2u);
  EXPECT_EQ(out.front().seq, 11u);
  out.clear();
  EXPECT_EQ(tap.CopySince(0, out, 3), 3u) << "a bounded batch";
  EXPECT_EQ(out.back().seq, 10u);
  tap.Clear();
  out.clear();
  EXPECT_EQ(tap.CopySince(0, out), 0u);
  tap.Record(r);
  EXPECT_EQ(tap.CopySince(0, out), 1u);
  EXPECT_EQ(out.front().seq, 13u) << "numbers go on after a clear";
}

// TCP and ASCII records decode from their own framing.
TEST(MBDecode, TcpAndAsciiFramesDecode) {
  const struct {
    const char* name;
    vx::MBFraming framing;
    std::vector<uint8_t> request, answer;
    int32_t result;
    MBFailure failure;
    std::vector<uint16_t> values;
  } cases[] = {
      {"tcp read",
       vx::MBFraming::kTcp,
       vx::EncodeMbap(7, Hex("01 03 00 10 00 01")),
       vx::EncodeMbap(7, Hex("01 03 02 01 2C")),
       mbr::kOk,
       MBFailure::kNone,
       {300}},
      {"tcp exception",
       vx::MBFraming::kTcp,
       vx::EncodeMbap(8, Hex("01 03 00 10 00 01")),
       vx::EncodeMbap(8, Hex("01 83 02")),
       mbr::FromException(2),
       MBFailure::kException,
       {}},
      {"tcp spoilt header",
       vx::MBFraming::kTcp,
       vx::EncodeMbap(9, Hex("01 03 00 10 00 01")),
       Hex("00 09 FF 00 00 05 01 03 02 01 2C"),
       mbr::kInvalidResponse,
       MBFailure::kInvalid,
       {}},
      {"tcp other unit",
       vx::MBFraming::kTcp,
       vx::EncodeMbap(10, Hex("01 03 00 10 00 01")),
       vx::EncodeMbap(10, Hex("04 03 02 01 2C")),
       mbr::kInvalidResponse,
       MBFailure::kWrongSlave,
       {}},
      {"ascii read",
       vx::MBFraming::kAscii,
       vx::EncodeAscii(Hex("01 03 00 10 00 01")),
       vx::EncodeAscii(Hex("01 03 02 01 2C")),
       mbr::kOk,
       MBFailure::kNone,
       {300}},
      {"ascii LRC error",
       vx::MBFraming::kAscii,
       vx::EncodeAscii(Hex("01 03 00 10 00 01")),
       vxtest::Bytes(":010302012CFF\r\n"),
       mbr::kInvalidCrc,
       MBFailure::kCrc,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vx::MBTapRecord r;
    r.framing = c.framing;
    r.request = c.request;
    r.answer = c.answer;
    r.result = c.result;
    const vx::MBDecoded d = vx::MBDecode(r);
    EXPECT_EQ(d.slave, 1);
    EXPECT_EQ(d.function, 0x03);
    EXPECT_EQ(d.address, 0x10);
    EXPECT_EQ(d.count, 1);
    EXPECT_EQ(d.failure, c.failure) << vx::MBFailureText(d.failure);
    EXPECT_EQ(d.values, c.values);
  }
}

// ---- listening ----

struct Heard {
  std::chrono::milliseconds at;
  std::vector<uint8_t> bytes;
};

std::vector<vx::MBTapRecord> Listen(const std::vector<Heard>& line) {
  std::vector<vx::MBTapRecord> out;
  vx::MBListenDecoder decoder("COM3", vx::MBListenDecoder::Timing{},
                              [&out](const vx::MBTapRecord& r) { out.push_back(r); });
  const auto t0 = vx::MBClock::now();
  for (const Heard& h : line) decoder.Feed(h.bytes, t0 + h.at);
  decoder.Idle(t0 + line.back().at + 5s);
  decoder.Flush();
  return out;
}

std::vector<uint8_t> Part(const std::vector<uint8_t>& f, std::size_t from, std::size_t to) {
  return {f.begin() + static_cast<std::ptrdiff_t>(from),
          f.begin() + static_cast<std::ptrdiff_t>(std::min(to, f.size()))};
}

TEST(MBListenDecoder, TellsRequestsFromAnswersInARecordedExchange) {
  const auto answer = Rtu("01 03 04 00 0A 01 F4");
  const auto writeMany = Rtu("02 10 00 30 00 02 04 00 01 00 02");
  std::vector<uint8_t> both = Rtu("01 06 00 20 00 05");
  const auto echo = Rtu("01 06 00 20 00 05");
  both.insert(both.end(), echo.begin(), echo.end());
  const std::vector<Heard> line = {
      // A read whose answer comes in two pieces with a 6 ms pause inside.
      {0ms, Rtu("01 03 00 10 00 02")},
      {12ms, Part(answer, 0, 5)},
      {18ms, Part(answer, 5, 99)},
      // A write and its echo in one burst: the same layout, told apart by order.
      {100ms, both},
      // A read answered with a spoilt checksum.
      {200ms, Rtu("01 03 00 10 00 01")},
      {210ms, BadCrc("01 03 02 00 07")},
      // A write to another slave, answered.
      {300ms, writeMany},
      {315ms, Rtu("02 10 00 30 00 02")},
      // A read nobody answers, then the next request.
      {400ms, Rtu("05 03 00 00 00 01")},
      {1600ms, Rtu("01 41")},
      {1610ms, Rtu("01 41 00 03 01 36 56 58 00 DC 00 00")},
  };
  const auto out = Listen(line);
  struct Expect {
    int slave, function, address;
    std::vector<uint16_t> values;
    MBFailure failure;
  };
  const Expect expected[] = {
      {1, 0x03, 0x10, {10, 500}, MBFailure::kNone},
      {1, 0x06, 0x20, {5}, MBFailure::kNone},
      {1, 0x03, 0x10, {}, MBFailure::kCrc},
      {2, 0x10, 0x30, {1, 2}, MBFailure::kNone},
      {5, 0x03, 0x00, {}, MBFailure::kTimeout},
      {1, 0x41, -1, {3, 0x136, 0x5658, 220, 0}, MBFailure::kNone},
  };
  ASSERT_EQ(out.size(), std::size(expected));
  for (std::size_t i = 0; i < out.size(); ++i) {
    SCOPED_TRACE(i);
    const vx::MBDecoded d = vx::MBDecode(out[i]);
    EXPECT_EQ(out[i].origin, vx::MBTapOrigin::kListened);
    EXPECT_EQ(out[i].port, "COM3");
    EXPECT_EQ(d.slave, expected[i].slave);
    EXPECT_EQ(d.function, expected[i].function);
    EXPECT_EQ(d.address, expected[i].address);
    EXPECT_EQ(d.values, expected[i].values);
    EXPECT_EQ(d.failure, expected[i].failure) << vx::MBFailureText(d.failure);
  }
  EXPECT_EQ(ToHex(out[0].answer), ToHex(answer)) << "the split answer is one frame";
  EXPECT_GE(out[0].maxGapUs, 6000);
  EXPECT_EQ(out[0].roundTripUs, 18000);
  EXPECT_EQ(ToHex(out[1].request), ToHex(Rtu("01 06 00 20 00 05")));
  EXPECT_EQ(ToHex(out[1].answer), ToHex(echo));
  EXPECT_EQ(ToHex(out[2].answer), ToHex(BadCrc("01 03 02 00 07")));
  EXPECT_TRUE(out[4].answer.empty());
}

TEST(MBListenDecoder, AFrameCutShortIsToldApartFromTheNextRequest) {
  const std::vector<Heard> line = {
      {0ms, Rtu("01 03 00 10 00 02")},
      {10ms, Hex("01 03 04 00")},  // the rest never comes
      {40ms, Rtu("01 03 00 10 00 02")},
      {50ms, Rtu("01 03 04 00 0A 01 F4")},
  };
  const auto out = Listen(line);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(vx::MBDecode(out[0]).failure, MBFailure::kTruncated);
  EXPECT_EQ(ToHex(out[0].answer), "01 03 04 00");
  EXPECT_EQ(vx::MBDecode(out[1]).failure, MBFailure::kNone);
  EXPECT_EQ(vx::MBDecode(out[1]).values, (std::vector<uint16_t>{10, 500}));
}

// ---- names ----

class Names final : public vx::MBRegisterNames {
 public:
  std::string RegisterName(uint8_t slave, uint16_t address) const override {
    if (slave != 1) return {};
    if (address == 0x10) return "ParU_Dc_BusV";
    if (address == 0x12) return "ParI_MotorA";
    return {};
  }
};

TEST(MBRangeNames, NamesTheRegistersOfTheRangeThatHaveNames) {
  vx::MBDecoded d;
  d.slave = 1;
  d.address = 0x10;
  d.count = 3;
  EXPECT_EQ(vx::MBRangeNames(d, Names()), "ParU_Dc_BusV, ParI_MotorA");
  d.slave = 2;
  EXPECT_EQ(vx::MBRangeNames(d, Names()), "");
  d.slave = 1;
  d.address = -1;  // the version request names no register
  EXPECT_EQ(vx::MBRangeNames(d, Names()), "");
}

}  // namespace
