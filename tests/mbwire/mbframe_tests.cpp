#include <gtest/gtest.h>

#include <random>

#include "mbwire/mbframe.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbtest_hex.h"

namespace {

using vxtest::Bytes;
using vxtest::Hex;
using vxtest::ToHex;
namespace mbr = vx::mbresult;

TEST(MBFrameChecksums, KnownVectors) {
  EXPECT_EQ(vx::Crc16(Bytes("123456789")), 0x4B37);  // CRC-16/MODBUS check value
  EXPECT_EQ(ToHex(vx::EncodeRtu(Hex("01 03 00 00 00 0A"))), "01 03 00 00 00 0A C5 CD");
  EXPECT_EQ(ToHex(vx::EncodeRtu(Hex("11 03 00 6B 00 03"))), "11 03 00 6B 00 03 76 87");
  EXPECT_TRUE(vx::RtuCrcOk(Hex("11 03 00 6B 00 03 76 87")));
  EXPECT_FALSE(vx::RtuCrcOk(Hex("11 03 00 6B 00 03 87 76")));
  EXPECT_FALSE(vx::RtuCrcOk(Hex("11 03")));

  EXPECT_EQ(vx::Lrc(Hex("11 03 00 6B 00 03")), 0x7E);
  EXPECT_EQ(vx::EncodeAscii(Hex("11 03 00 6B 00 03")), Bytes(":1103006B00037E\r\n"));
}

TEST(MBFrameMbap, EncodeAndDecodeHeader) {
  const auto f = vx::EncodeMbap(0x1234, Hex("11 03 00 6B 00 03"));
  EXPECT_EQ(ToHex(f), "12 34 00 00 00 06 11 03 00 6B 00 03");
  vx::MbapHeader h;
  ASSERT_TRUE(vx::DecodeMbapHeader(f, h));
  EXPECT_EQ(h.transactionId, 0x1234);
  EXPECT_EQ(h.protocolId, 0);
  EXPECT_EQ(h.length, 6);
  EXPECT_EQ(h.unit, 0x11);
  EXPECT_FALSE(vx::DecodeMbapHeader(Hex("12 34 00 00 00 06"), h));
}

TEST(MBFrameLength, ByFunctionCode) {
  using K = vx::MBAduLength::Kind;
  struct Case {
    vx::MBDirection dir;
    const char* bytes;
    K kind;
    std::size_t length;
  };
  const auto Rq = vx::MBDirection::kRequest;
  const auto Rs = vx::MBDirection::kResponse;
  const Case cases[] = {
      {Rs, "01", K::kNeedMore, 0},
      {Rs, "01 03", K::kNeedMore, 0},   // byte count still to come
      {Rs, "01 03 14", K::kKnown, 23},  // 3 + 20 data bytes
      {Rs, "01 06", K::kKnown, 6},
      {Rs, "01 10", K::kKnown, 6},
      {Rs, "01 41", K::kKnown, 12},  // device version: five words
      {Rs, "01 83", K::kKnown, 3},   // exception
      {Rs, "01 C1", K::kKnown, 3},   // exception to 0x41
      {Rs, "01 2B", K::kUnknown, 0},
      {Rq, "01 03", K::kKnown, 6},
      {Rq, "01 06", K::kKnown, 6},
      {Rq, "01 10 00 00 00 02", K::kNeedMore, 0},
      {Rq, "01 10 00 00 00 02 04", K::kKnown, 11},
      {Rq, "01 41", K::kKnown, 2},
      {Rq, "01 64", K::kUnknown, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const auto len = vx::AduLength(c.dir, Hex(c.bytes));
    EXPECT_EQ(len.kind, c.kind);
    if (c.kind == K::kKnown) {
      EXPECT_EQ(len.length, c.length);
    }
  }
}

// The receiver is fed chunk by chunk; then, if it has not completed, the line is taken
// to be quiet and Finish gives the verdict.
struct RtuCase {
  const char* name;
  std::vector<const char*> chunks;
  vx::MBRtuReceiver::Status lastStatus;
  int32_t verdict;
  const char* frame;  // expected ADU on success
};

TEST(MBRtuReceiver, ResponsesToReadOfSlave1) {
  using S = vx::MBRtuReceiver::Status;
  const std::string ok = ToHex(vx::EncodeRtu(Hex("01 03 04 00 0A 00 0B")));
  const std::string badCrc = ok.substr(0, ok.size() - 2) + "00";
  const std::string other = ToHex(vx::EncodeRtu(Hex("02 03 04 00 0A 00 0B")));
  const std::string exc = ToHex(vx::EncodeRtu(Hex("01 83 02")));
  const std::string wrongFn = ToHex(vx::EncodeRtu(Hex("01 04 02 00 01")));
  const RtuCase cases[] = {
      {"whole frame", {ok.c_str()}, S::kComplete, mbr::kOk, "01 03 04 00 0A 00 0B"},
      {"byte by byte",
       {"01", "03", "04", "00 0A", "00 0B", ok.c_str() + 21},
       S::kComplete,
       mbr::kOk,
       "01 03 04 00 0A 00 0B"},
      {"exception form", {exc.c_str()}, S::kComplete, mbr::kOk, "01 83 02"},
      {"garbage before the frame",
       {"FF 00 13 01", ok.c_str()},
       S::kComplete,
       mbr::kOk,
       "01 03 04 00 0A 00 0B"},
      {"garbage that looks like a long frame",
       {"01 03 FF", ok.c_str()},
       S::kComplete,
       mbr::kOk,
       "01 03 04 00 0A 00 0B"},
      {"bad CRC", {badCrc.c_str()}, S::kNeedSilence, mbr::kInvalidCrc, ""},
      {"other slave", {other.c_str()}, S::kNeedSilence, mbr::kInvalidResponse, ""},
      {"other function", {wrongFn.c_str()}, S::kNeedSilence, mbr::kInvalidResponse, ""},
      {"truncated", {"01 03 04 00 0A"}, S::kNeedMore, mbr::kInvalidResponse, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto rx = vx::MBRtuReceiver::ForResponse(0x01, 0x03);
    S status = S::kNeedMore;
    for (const char* chunk : c.chunks) status = rx.Feed(Hex(chunk));
    EXPECT_EQ(status, c.lastStatus);
    EXPECT_EQ(rx.Finish(), c.verdict);
    if (c.verdict == mbr::kOk) {
      EXPECT_EQ(ToHex({rx.Frame().begin(), rx.Frame().end()}), c.frame);
    }
  }
}

TEST(MBRtuReceiver, UnknownFunctionEndsAtSilenceWithValidCrc) {
  auto rx = vx::MBRtuReceiver::ForResponse(0x01, 0x2B);
  const auto f = vx::EncodeRtu(Hex("01 2B 0E 01 01 00 00 01 00 03 41 42 43"));
  EXPECT_EQ(rx.Feed(f), vx::MBRtuReceiver::Status::kNeedSilence);
  ASSERT_EQ(rx.Finish(), mbr::kOk);
  EXPECT_EQ(rx.Frame().size(), f.size() - 2);

  auto bad = vx::MBRtuReceiver::ForResponse(0x01, 0x2B);
  auto corrupt = f;
  corrupt[4] ^= 0x40;
  (void)bad.Feed(corrupt);
  EXPECT_EQ(bad.Finish(), mbr::kInvalidCrc);
}

TEST(MBRtuReceiver, NothingIsTimeoutAndEndlessGarbageOverflows) {
  auto rx = vx::MBRtuReceiver::ForResponse(0x01, 0x03);
  EXPECT_EQ(rx.Finish(), mbr::kTimeout);
  const std::vector<uint8_t> noise(300, 0x55);
  EXPECT_EQ(rx.Feed(noise), vx::MBRtuReceiver::Status::kNeedSilence);
  EXPECT_EQ(rx.Feed(noise), vx::MBRtuReceiver::Status::kOverflow);
  rx.Reset();
  EXPECT_EQ(rx.Feed(vx::EncodeRtu(Hex("01 06 00 01 00 03"))),
            vx::MBRtuReceiver::Status::kNeedSilence);
}

TEST(MBRtuReceiver, RequestSideFindsRequestsToAnyAddress) {
  auto rx = vx::MBRtuReceiver::ForRequest();
  const auto req = vx::EncodeRtu(Hex("07 10 00 20 00 02 04 00 01 00 02"));
  EXPECT_EQ(rx.Feed(std::span(req).first(7)), vx::MBRtuReceiver::Status::kNeedMore);
  EXPECT_EQ(rx.Feed(std::span(req).subspan(7)), vx::MBRtuReceiver::Status::kComplete);
  EXPECT_EQ(ToHex({rx.Frame().begin(), rx.Frame().end()}), "07 10 00 20 00 02 04 00 01 00 02");

  rx.Reset();
  EXPECT_EQ(rx.Feed(vx::EncodeRtu(Hex("00 06 00 01 00 05"))), vx::MBRtuReceiver::Status::kComplete);
}

TEST(MBAsciiReceiver, Responses) {
  using S = vx::MBAsciiReceiver::Status;
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    S lastStatus;
    int32_t verdict;
  };
  const Case cases[] = {
      {"whole frame", {":010304000A000BE3\r\n"}, S::kComplete, mbr::kOk},
      {"lower-case hex, in pieces", {":0103", "04000a000b", "e3\r", "\n"}, S::kComplete, mbr::kOk},
      {"garbage and an aborted frame first",
       {"xx\r\n:0103FF", ":010304000A000BE3\r\n"},
       S::kComplete,
       mbr::kOk},
      {"exception", {":018302", "7A\r\n"}, S::kComplete, mbr::kOk},
      {"bad LRC", {":010304000A000BE4\r\n"}, S::kComplete, mbr::kInvalidCrc},
      {"other slave", {":020304000A000BE2\r\n"}, S::kComplete, mbr::kInvalidResponse},
      {"byte count disagrees", {":010306000A000BE1\r\n"}, S::kComplete, mbr::kInvalidResponse},
      {"not hex", {":01030400GA000BE3\r\n"}, S::kComplete, mbr::kInvalidResponse},
      {"CR without LF", {":010304000A000BE3\rX"}, S::kComplete, mbr::kInvalidResponse},
      {"no end", {":010304000A"}, S::kNeedMore, mbr::kInvalidResponse},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto rx = vx::MBAsciiReceiver::ForResponse(0x01, 0x03);
    S status = S::kNeedMore;
    for (const auto& chunk : c.chunks) status = rx.Feed(Bytes(chunk));
    ASSERT_EQ(status, c.lastStatus);
    EXPECT_EQ(status == S::kComplete ? rx.Result() : rx.Finish(), c.verdict);
    if (c.verdict == mbr::kOk) {
      EXPECT_EQ(rx.Frame()[0], 0x01);
    }
  }
  auto quiet = vx::MBAsciiReceiver::ForResponse(0x01, 0x03);
  EXPECT_EQ(quiet.Finish(), mbr::kTimeout);
  // Noise without a frame start is bounded too, not only what sits inside a frame.
  const std::vector<uint8_t> noise(600, 'x');
  EXPECT_EQ(quiet.Feed(noise), S::kNeedMore);
  EXPECT_EQ(quiet.Feed(noise), S::kOverflow);
}

// Random line noise, sometimes with a valid frame buried in it, in random pieces: the
// receivers stay within their buffers (the sanitizer build watches) and never accept
// a frame that is not what they were asked for.
TEST(MBReceivers, NoiseNeverYieldsAWrongFrame) {
  std::mt19937 rng(4711);
  std::uniform_int_distribution<int> byte(0, 255);
  const auto good = vx::EncodeRtu(Hex("01 03 04 00 0A 00 0B"));
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> line(static_cast<std::size_t>(byte(rng) + 1));
    for (auto& b : line)
      b = static_cast<uint8_t>(round % 3 == 0 ? "0123:\r\nAF"[byte(rng) % 10] : byte(rng));
    if (round % 2 == 0)
      line.insert(line.begin() + static_cast<std::ptrdiff_t>(byte(rng) % line.size()), good.begin(),
                  good.end());

    auto rtu = vx::MBRtuReceiver::ForResponse(0x01, 0x03);
    auto ascii = vx::MBAsciiReceiver::ForResponse(0x01, 0x03);
    auto request = vx::MBRtuReceiver::ForRequest();
    bool rtuDone = false, asciiDone = false;
    for (std::size_t at = 0; at < line.size();) {
      const std::size_t n =
          std::min<std::size_t>(line.size() - at, static_cast<std::size_t>(byte(rng) % 40 + 1));
      const std::span<const uint8_t> piece(line.data() + at, n);
      at += n;
      if (!rtuDone)
        rtuDone = rtu.Feed(piece) != vx::MBRtuReceiver::Status::kNeedMore && rtu.Frame().size() > 0;
      if (!asciiDone) asciiDone = ascii.Feed(piece) != vx::MBAsciiReceiver::Status::kNeedMore;
      (void)request.Feed(piece);
    }
    if (!rtuDone) (void)rtu.Finish();
    const auto f = rtu.Frame();
    if (round % 2 == 0) {
      EXPECT_FALSE(f.empty()) << "buried frame not found in round " << round;
    }
    if (!f.empty()) {
      ASSERT_GE(f.size(), 3u);
      EXPECT_EQ(f[0], 0x01);
      EXPECT_TRUE(f[1] == 0x03 || f[1] == 0x83);
    }
    if (asciiDone && ascii.Result() == mbr::kOk) {
      ASSERT_GE(ascii.Frame().size(), 3u);
      EXPECT_EQ(ascii.Frame()[0], 0x01);
    }
    (void)request.Finish();
  }
}

TEST(MBResult, ExceptionCodesKeepTheirLowByte) {
  EXPECT_EQ(static_cast<uint32_t>(mbr::FromException(0x02)), 0x80048202u);
  EXPECT_TRUE(mbr::IsException(mbr::FromException(0x0B)));
  EXPECT_EQ(mbr::ExceptionCode(mbr::FromException(0x0B)), 0x0B);
  EXPECT_FALSE(mbr::IsException(mbr::kInvalidCrc));
  EXPECT_FALSE(mbr::IsException(mbr::kTimeout));
}

}  // namespace
