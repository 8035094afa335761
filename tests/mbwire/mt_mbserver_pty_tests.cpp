// The server component on a pseudo-terminal against a scripted slave that misbehaves
// on cue: the register address of a read picks the fault ("magic addresses").
#include <gtest/gtest.h>

#include "mbwire/mbframe.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbserial.h"
#include "mbwire/mbserver.h"
#include "mbwire/mbtest_hex.h"
#include "mbwire/mbtest_pty.h"

namespace {

using namespace std::chrono_literals;
using vxtest::Burst;
using vxtest::Hex;
using vxtest::ToHex;
namespace mbr = vx::mbresult;

enum Magic : uint8_t {
  kNormal = 0x00,
  kWrongCrc = 0x01,
  kWrongSlave = 0x02,
  kTruncated = 0x03,
  kGarbageFirst = 0x04,
  kBursts = 0x05,
  kNothing = 0x06,
};

const std::vector<uint8_t> kAnswer = {0x01, 0x03, 0x04, 0x12, 0x34, 0x56, 0x78};

std::vector<Burst> Slave(const std::vector<uint8_t>& req) {
  if (req.size() >= 2 && req[1] == 0x41)
    return {{0ms, vx::EncodeRtu(Hex("01 41 00 03 01 36 41 42 00 DC 20 20"))}};
  if (req.size() < 6 || req[1] != 0x03)
    return {{0ms, vx::EncodeRtu(std::vector<uint8_t>{req[0], uint8_t(req[1] | 0x80), 0x01})}};
  auto good = vx::EncodeRtu(kAnswer);
  switch (req[3]) {
    case kWrongCrc:
      good.back() ^= 0x5A;
      return {{0ms, good}};
    case kWrongSlave: {
      auto other = kAnswer;
      other[0] = 0x07;
      return {{0ms, vx::EncodeRtu(other)}};
    }
    case kTruncated:
      good.resize(good.size() - 3);
      return {{0ms, good}};
    case kGarbageFirst: {  // one write: a stall between two writes would read as silence
      auto noisy = Hex("00 FF 13 37");
      noisy.insert(noisy.end(), good.begin(), good.end());
      return {{0ms, noisy}};
    }
    case kBursts:
      return {{0ms, {good.begin(), good.begin() + 2}},
              {15ms, {good.begin() + 2, good.begin() + 6}},
              {15ms, {good.begin() + 6, good.end()}}};
    case kNothing:
      return {};
    default:
      return {{0ms, good}};
  }
}

class MBServerPty : public ::testing::Test {
 protected:
  void SetUp() override {
    vx::SetComPortPath(3, pty_.Path());
    ASSERT_TRUE(server_.OpenConnection("pty", 1));
    server_.put_Retries(2);
    server_.put_RaiseError(false);
    server_.put_BaudRate(19200);
    server_.put_ComPort(3);
    server_.put_ByteSize(8);
    server_.put_FlowControl(8);  // RTS toggle: a pseudo-terminal has no RS-485 mode
    server_.put_Parity(2);       // and no parity: both fall back and the port still works
    server_.put_SilentInterval(20);
    server_.put_StopBits(0);
    server_.put_TimeOut(1000);  // generous: gaps inside a frame are tolerated up to this
    server_.put_TransmissionMode(0);
    ASSERT_TRUE(server_.Connect()) << server_.LastConnectError();
  }
  void TearDown() override {
    server_.CloseConnection();
    vx::ResetComPortPaths();
  }

  int32_t Read(uint8_t magic, std::vector<uint8_t>& response) {
    return server_.TxRxMessage({0x01, 0x03, 0x00, magic, 0x00, 0x02}, 6, 0, response);
  }

  vxtest::Pty pty_;
  vxtest::PtyPeer peer_{pty_, Slave};
  MBServer server_;
};

TEST_F(MBServerPty, EachMisbehaviourGivesItsResultAndTheNextExchangeWorks) {
  struct Case {
    const char* name;
    uint8_t magic;
    int32_t result;
  };
  const Case cases[] = {
      {"valid answer", kNormal, mbr::kOk},
      {"wrong CRC", kWrongCrc, mbr::kInvalidCrc},
      {"wrong slave address", kWrongSlave, mbr::kInvalidResponse},
      {"truncated frame", kTruncated, mbr::kInvalidResponse},
      {"garbage before the frame", kGarbageFirst, mbr::kOk},
      {"frame in bursts with gaps", kBursts, mbr::kOk},
      {"nothing at all", kNothing, mbr::kTimeout},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> response;
    EXPECT_EQ(Read(c.magic, response), c.result);
    if (c.result == mbr::kOk) {
      EXPECT_EQ(response, kAnswer);
    } else {
      EXPECT_EQ(server_.get_Retries(), 2);
    }
    EXPECT_EQ(Read(kNormal, response), mbr::kOk);
    EXPECT_EQ(response, kAnswer);
  }
}

TEST_F(MBServerPty, DeviceVersionAndExceptionAnswers) {
  std::vector<uint8_t> response;
  ASSERT_EQ(server_.TxRxMessage({0x01, 0x41}, 2, 0, response), mbr::kOk);
  EXPECT_EQ(ToHex(response), "01 41 00 03 01 36 41 42 00 DC 20 20");
  EXPECT_EQ(server_.TxRxMessage({0x01, 0x2B, 0x0E, 0x01, 0x00}, 5, 0, response),
            mbr::FromException(1));
}

TEST_F(MBServerPty, BroadcastDoesNotWaitForAnAnswer) {
  std::vector<uint8_t> response;
  EXPECT_EQ(server_.TxRxMessage({0x00, 0x06, 0x00, 0x01, 0x00, 0x05}, 6, 0, response), mbr::kOk);
  EXPECT_TRUE(response.empty());
  EXPECT_EQ(Read(kNormal, response), mbr::kOk);  // the slave's (stray) answer was flushed
  EXPECT_EQ(response, kAnswer);
}

TEST_F(MBServerPty, SecondOpenerOfThePortFailsCleanly) {
  MBServer second;
  ASSERT_TRUE(second.OpenConnection("second", 1));
  second.put_ComPort(3);
  EXPECT_FALSE(second.Connect());
  EXPECT_EQ(second.LastConnectError(), "COM3 " + pty_.Path() + ": Port already busy");
  std::vector<uint8_t> response;
  EXPECT_EQ(second.TxRxMessage({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}, 6, 0, response),
            mbr::kPortNotInitialized);

  EXPECT_EQ(Read(kNormal, response), mbr::kOk);  // the owner is not disturbed
  server_.CloseConnection();
  EXPECT_TRUE(second.Connect()) << second.LastConnectError();
}

TEST(MBServerPtyAscii, ReadAndBadLrcOverTheSerialPort) {
  vxtest::Pty pty;
  vxtest::PtyPeer peer(
      pty,
      [](const std::vector<uint8_t>& req) {
        auto frame = vx::EncodeAscii(kAnswer);
        if (req[3] == kWrongCrc) frame[frame.size() - 3] ^= 0x01;  // last LRC digit
        return std::vector<Burst>{{0ms, frame}};
      },
      true);
  vx::SetComPortPath(5, pty.Path());
  MBServer server;
  ASSERT_TRUE(server.OpenConnection("ascii", 1));
  server.put_ComPort(5);
  server.put_ByteSize(7);
  server.put_Parity(2);
  server.put_TimeOut(300);
  server.put_TransmissionMode(1);
  ASSERT_TRUE(server.Connect()) << server.LastConnectError();
  std::vector<uint8_t> response;
  EXPECT_EQ(server.TxRxMessage({0x01, 0x03, 0x00, kWrongCrc, 0x00, 0x02}, 6, 0, response),
            mbr::kInvalidCrc);
  EXPECT_EQ(server.TxRxMessage({0x01, 0x03, 0x00, kNormal, 0x00, 0x02}, 6, 0, response), mbr::kOk);
  EXPECT_EQ(response, kAnswer);
  EXPECT_EQ(peer.Requests(), 2);
  vx::ResetComPortPaths();
}

}  // namespace
