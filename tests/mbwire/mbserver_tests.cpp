#include <gtest/gtest.h>

#include "mbwire/mbportmap.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbserial.h"
#include "mbwire/mbserver.h"
#include "mbwire/mbtcp.h"
#include "mbwire/mbtest_pty.h"

namespace {

namespace mbr = vx::mbresult;
using std::chrono::microseconds;

class ComPortPaths : public ::testing::Test {
 protected:
  void TearDown() override { vx::ResetComPortPaths(); }
};

TEST_F(ComPortPaths, DefaultsAndOverrides) {
  EXPECT_EQ(vx::ComPortPath(1), "/dev/ttyS0");
  EXPECT_EQ(vx::ComPortPath(8), "/dev/ttyS7");
  EXPECT_EQ(vx::ComPortPath(0), "");
  EXPECT_EQ(vx::ComPortPath(9), "");
  vx::SetComPortPath(1, "/dev/ttyUSB0");
  vx::SetComPortPath(9, "/dev/null");  // outside the range: ignored
  EXPECT_EQ(vx::ComPortPath(1), "/dev/ttyUSB0");
  EXPECT_EQ(vx::ComPortPath(2), "/dev/ttyS1");
  vx::ResetComPortPaths();
  EXPECT_EQ(vx::ComPortPath(1), "/dev/ttyS0");
}

TEST(MBSerialTiming, CharacterTimeAndFrameGap) {
  struct Case {
    int32_t baud;
    int parity;
    int stopBits;
    microseconds charTime;  // truncated to whole microseconds
    microseconds gap;
  };
  const Case cases[] = {
      {19200, 2, 0, microseconds(572), microseconds(2005)},  // 8E1: 11 bits
      {19200, 0, 0, microseconds(520), microseconds(1822)},  // 8N1: 10 bits
      {19200, 0, 2, microseconds(572), microseconds(2005)},  // 8N2: 11 bits
      {9600, 2, 0, microseconds(1145), microseconds(4010)},
      {38400, 2, 0, microseconds(286), microseconds(1750)},  // fixed above 19200
      {115200, 0, 0, microseconds(86), microseconds(1750)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.baud);
    vx::MBSerialSettings s;
    s.baudRate = c.baud;
    s.parity = c.parity;
    s.stopBits = c.stopBits;
    EXPECT_EQ(std::chrono::duration_cast<microseconds>(vx::CharTime(s)), c.charTime);
    EXPECT_EQ(std::chrono::duration_cast<microseconds>(vx::RtuFrameGap(s)), c.gap);
  }
}

TEST(MBServer, OpenConnectionAcceptsSerialAndTcpOnly) {
  const struct {
    int16_t type;
    bool ok;
  } cases[] = {{0, false}, {1, true}, {2, true}, {3, false}, {-1, false}};
  for (const auto& c : cases) {
    MBServer s;
    EXPECT_EQ(s.OpenConnection("c", c.type), c.ok) << c.type;
  }
}

TEST(MBServer, ExchangesBeforeConnectReportTheMissingLink) {
  std::vector<uint8_t> response{0xAA};
  MBServer serial;
  ASSERT_TRUE(serial.OpenConnection("s", 1));
  EXPECT_EQ(serial.TxRxMessage({0x01, 0x03, 0, 0, 0, 1}, 6, 0, response), mbr::kPortNotInitialized);
  EXPECT_TRUE(response.empty());
  MBServer tcp;
  ASSERT_TRUE(tcp.OpenConnection("t", 2));
  EXPECT_EQ(tcp.TxRxMessage({0x01, 0x03, 0, 0, 0, 1}, 6, 0, response), mbr::kSocketNotConnected);
  MBServer none;
  EXPECT_FALSE(none.Connect());
}

TEST(MBServer, PropertiesAndRegistration) {
  MBServer s;
  s.put_Retries(7);
  EXPECT_EQ(s.get_Retries(), 7);
  EXPECT_TRUE(RegisterMBServer(""));
  EXPECT_TRUE(RegisterMBServer("/nowhere"));
}

class MBServerSerialOpen : public ::testing::Test {
 protected:
  void SetUp() override { vx::SetComPortPath(2, pty_.Path()); }
  void TearDown() override { vx::ResetComPortPaths(); }

  static void Configure(MBServer& s, int32_t baud, int16_t byteSize, int16_t parity,
                        int16_t stopBits, int16_t flow, int16_t mode) {
    EXPECT_TRUE(s.OpenConnection("pty", 1));
    s.put_ComPort(2);
    s.put_BaudRate(baud);
    s.put_ByteSize(byteSize);
    s.put_Parity(parity);
    s.put_StopBits(stopBits);
    s.put_FlowControl(flow);
    s.put_TransmissionMode(mode);
  }

  vxtest::Pty pty_;
};

TEST_F(MBServerSerialOpen, SettingsThatConnectAndSettingsThatDoNot) {
  struct Case {
    const char* name;
    int32_t baud;
    int16_t byteSize, parity, stopBits, flow, mode;
    bool ok;
  };
  const Case cases[] = {
      {"19200 8N1", 19200, 8, 0, 0, 0, 0, true},
      {"odd parity (dropped by the pty)", 9600, 8, 1, 0, 0, 0, true},
      {"even parity, ASCII", 19200, 7, 2, 0, 0, 1, true},
      {"mark parity", 19200, 8, 3, 0, 0, 0, true},
      {"space parity, 1.5 stop bits", 19200, 8, 4, 1, 0, 0, true},
      {"two stop bits, DTR/DSR", 115200, 8, 0, 2, 1, 0, true},
      {"RTS/CTS", 38400, 8, 0, 0, 2, 0, true},
      {"RTS toggle", 19200, 8, 2, 0, 8, 0, true},
      {"unsupported baud rate", 12345, 8, 0, 0, 0, 0, false},
      {"byte size 6", 19200, 6, 0, 0, 0, 0, false},
      {"parity 5", 19200, 8, 5, 0, 0, 0, false},
      {"XON/XOFF", 19200, 8, 0, 0, 4, 0, false},
      {"transmission mode 2", 19200, 8, 0, 0, 0, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MBServer s;
    Configure(s, c.baud, c.byteSize, c.parity, c.stopBits, c.flow, c.mode);
    EXPECT_EQ(s.Connect(), c.ok) << s.LastConnectError();
    if (!c.ok) {
      EXPECT_FALSE(s.LastConnectError().empty());
    }
  }
}

// The reason names the port, its device path and what the system said, so that the
// engineer can tell a wrong mapping from a missing adapter.
TEST_F(MBServerSerialOpen, FailedOpenSaysWhichPortAndWhy) {
  struct Case {
    int comPort;
    const char* path;
    const char* reason;
  };
  const Case cases[] = {
      {2, "/dev/no-such-port", "COM2 /dev/no-such-port: No such file or directory"},
      {2, "/dev/null", "COM2 /dev/null: not a serial port"},
      {9, nullptr, "no port COM9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    if (c.path) vx::SetComPortPath(c.comPort, c.path);
    MBServer s;
    Configure(s, 19200, 8, 0, 0, 0, 0);
    s.put_ComPort(static_cast<int16_t>(c.comPort));
    EXPECT_FALSE(s.Connect());
    EXPECT_EQ(s.LastConnectError(), c.reason);
  }
}

TEST_F(MBServerSerialOpen, QueryLengthMustFitTheQuery) {
  MBServer s;
  Configure(s, 19200, 8, 0, 0, 0, 0);
  ASSERT_TRUE(s.Connect());
  std::vector<uint8_t> response;
  EXPECT_EQ(s.TxRxMessage({0x01, 0x03, 0, 0, 0, 1}, 7, 0, response), mbr::kUnexpectedDataSize);
  EXPECT_EQ(s.TxRxMessage({0x01, 0x03, 0, 0, 0, 1}, -1, 0, response), mbr::kUnexpectedDataSize);
  EXPECT_EQ(s.TxRxMessage({0x01, 0x03, 0, 0, 0, 1}, 1, 0, response), mbr::kUnexpectedDataSize);
}

TEST_F(MBServerSerialOpen, AHungUpLineIsAPortError) {
  MBServer s;
  Configure(s, 19200, 8, 0, 0, 0, 0);
  s.put_TimeOut(100);
  ASSERT_TRUE(s.Connect());
  pty_.CloseMaster();
  std::vector<uint8_t> response;
  const int32_t rc = s.TxRxMessage({0x01, 0x03, 0, 0, 0, 1}, 6, 0, response);
  EXPECT_EQ(rc, mbr::kPortWriteError);
}

// Bytes on the line before a request are an earlier answer that came late: they are
// handed to whoever records the line, and none of them is read as the next answer.
TEST(MBSerialChannel, BytesWaitingBeforeAnExchangeAreHandedOverAndGone) {
  vxtest::Pty pty;
  vx::MBSerialPort port;
  ASSERT_TRUE(port.Open(pty.Path(), vx::MBSerialSettings{}));
  vx::MBSerialChannel channel(std::move(port));
  std::vector<uint8_t> dropped;
  ASSERT_EQ(channel.BeginExchange(dropped), mbr::kOk);
  EXPECT_TRUE(dropped.empty()) << "a quiet line";

  const std::vector<uint8_t> late{0x01, 0x03, 0x02, 0x00, 0x07};
  ASSERT_EQ(::write(pty.Master(), late.data(), late.size()), static_cast<ssize_t>(late.size()));
  // A pseudo-terminal passes the bytes on in its own time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (dropped.size() < late.size() && std::chrono::steady_clock::now() < deadline)
    ASSERT_EQ(channel.BeginExchange(dropped), mbr::kOk);
  EXPECT_EQ(dropped, late);
  std::vector<uint8_t> after;
  EXPECT_EQ(channel.Read(after, vx::MBClock::now() + std::chrono::milliseconds(50)), mbr::kTimeout);
  EXPECT_TRUE(after.empty());
}

TEST(MBServerTcp, ConnectToAClosedPortFails) {
  uint16_t port = 0;
  const int fd = vx::TcpListen("127.0.0.1", 0, &port);
  ASSERT_GE(fd, 0);
  ::close(fd);  // nothing listens there any more
  MBServer s;
  ASSERT_TRUE(s.OpenConnection("tcp", 2));
  s.put_Host("127.0.0.1");
  s.put_TcpPort(port);
  s.put_TimeOut(200);
  EXPECT_FALSE(s.Connect());
  EXPECT_EQ(s.LastConnectError(), "127.0.0.1:" + std::to_string(port) + ": Connection refused");
  s.put_TcpPort(70000);
  EXPECT_FALSE(s.Connect());
  s.put_TcpPort(port);
  s.put_Host("");
  EXPECT_FALSE(s.Connect());
}

}  // namespace
