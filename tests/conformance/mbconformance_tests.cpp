// Our server component against a libmodbus server: RTU over a pseudo-terminal and
// Modbus TCP over 127.0.0.1, with one table of exchanges run over both.
#include <gtest/gtest.h>

#include "conformance/libmodbus_server.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbserial.h"
#include "mbwire/mbserver.h"
#include "mbwire/mbtest_hex.h"
#include "mbwire/mbtest_pty.h"

namespace {

using vxtest::Hex;
using vxtest::ToHex;
namespace mbr = vx::mbresult;

enum class Link { kRtu, kTcp };

class ConformanceBase : public ::testing::Test {
 protected:
  void Start(Link link) {
    link_ = link;
    ASSERT_TRUE(server_.OpenConnection("conformance", link == Link::kRtu ? 1 : 2));
    server_.put_Retries(0);
    server_.put_TimeOut(3000);  // libmodbus answers some exceptions only after its own 0.5 s pause
    server_.put_SilentInterval(20);
    if (link == Link::kRtu) {
      peer_ = vxtest::LibmodbusServer::Rtu(pty_.Master());
      vx::SetComPortPath(4, pty_.Path());
      server_.put_ComPort(4);
      server_.put_BaudRate(19200);
      server_.put_Parity(2);
      server_.put_TransmissionMode(0);
    } else {
      peer_ = vxtest::LibmodbusServer::Tcp();
      server_.put_Host("127.0.0.1");
      server_.put_TcpPort(peer_->Port());
    }
    ASSERT_TRUE(server_.Connect()) << server_.LastConnectError();
  }
  void TearDown() override {
    server_.CloseConnection();
    vx::ResetComPortPaths();
  }

  int32_t Tx(const char* hex, std::vector<uint8_t>& response) {
    const auto q = Hex(hex);
    return server_.TxRxMessage(q, static_cast<int16_t>(q.size()), 0, response);
  }

  Link link_ = Link::kRtu;
  vxtest::Pty pty_;
  std::unique_ptr<vxtest::LibmodbusServer> peer_;
  MBServer server_;
};

class Conformance : public ConformanceBase, public ::testing::WithParamInterface<Link> {
 protected:
  void SetUp() override { Start(GetParam()); }
};

class TcpConformance : public ConformanceBase {
 protected:
  void SetUp() override { Start(Link::kTcp); }
};

TEST_P(Conformance, ReadsAndWrites) {
  struct Case {
    const char* name;
    const char* request;
    const char* response;
  };
  const Case cases[] = {
      {"read 10 registers", "01 03 00 00 00 0A",
       "01 03 14 00 01 00 04 00 07 00 0A 00 0D 00 10 00 13 00 16 00 19 00 1C"},
      {"read the last register", "01 03 00 63 00 01", "01 03 02 01 2A"},
      {"write one register", "01 06 00 05 12 34", "01 06 00 05 12 34"},
      {"read it back", "01 03 00 05 00 01", "01 03 02 12 34"},
      {"write three registers", "01 10 00 0A 00 03 06 AB CD 00 00 FF FF", "01 10 00 0A 00 03"},
      {"read them back", "01 03 00 09 00 05", "01 03 0A 00 1C AB CD 00 00 FF FF 00 28"},
      {"read the whole map of 100 registers at once", "01 03 00 00 00 64", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> response;
    ASSERT_EQ(Tx(c.request, response), mbr::kOk);
    if (c.response != nullptr) {
      EXPECT_EQ(ToHex(response), c.response);
    } else {
      EXPECT_EQ(response.size(), 3u + 200u);
    }
  }
}

TEST_P(Conformance, EveryExceptionKeepsItsCodeAndTheLinkGoesOn) {
  struct Case {
    const char* name;
    const char* request;
    uint8_t code;
  };
  const Case cases[] = {
      {"unknown function (the version request)", "01 41", 0x01},
      {"address beyond the map", "01 03 00 C8 00 01", 0x02},
      {"write beyond the map", "01 06 00 C8 00 01", 0x02},
      {"too many registers", "01 03 00 00 00 7E", 0x03},
      {"server failure", "01 03 10 04 00 01", 0x04},
      {"acknowledge", "01 03 10 05 00 01", 0x05},
      {"server busy", "01 03 10 06 00 01", 0x06},
      {"memory parity", "01 03 10 08 00 01", 0x08},
      {"gateway path", "01 03 10 0A 00 01", 0x0A},
      {"gateway target", "01 03 10 0B 00 01", 0x0B},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> response;
    const int32_t rc = Tx(c.request, response);
    EXPECT_TRUE(mbr::IsException(rc));
    EXPECT_EQ(rc, mbr::FromException(c.code));
    ASSERT_EQ(Tx("01 03 00 01 00 01", response), mbr::kOk);
    EXPECT_EQ(ToHex(response), "01 03 02 00 04");
  }
}

// (Silence on a serial line is played by the scripted slave of the modbus tests: a
// libmodbus RTU server takes the frame after a request for another slave to be that
// slave's answer, so it cannot stay silent without swallowing the next request.)
TEST_F(TcpConformance, DroppedConnectionIsReportedAndTheNextExchangeReconnects) {
  std::vector<uint8_t> response;
  EXPECT_EQ(Tx("01 03 20 00 00 01", response), mbr::kSocketReadError);
  EXPECT_EQ(Tx("01 03 00 02 00 01", response), mbr::kOk);
  EXPECT_EQ(ToHex(response), "01 03 02 00 07");
}

// On a serial line address 0 is a broadcast: carried out, never answered. Modbus TCP
// has no broadcast; unit 0 is answered like any other and the answer is awaited.
TEST_P(Conformance, AddressZeroIsABroadcastOnlyOnTheSerialLine) {
  std::vector<uint8_t> response;
  EXPECT_EQ(Tx("00 06 00 07 0B 0B", response), mbr::kOk);
  EXPECT_EQ(ToHex(response), GetParam() == Link::kRtu ? "" : "00 06 00 07 0B 0B");
  ASSERT_EQ(Tx("01 03 00 07 00 01", response), mbr::kOk);
  EXPECT_EQ(ToHex(response), "01 03 02 0B 0B");
}

INSTANTIATE_TEST_SUITE_P(Links, Conformance, ::testing::Values(Link::kRtu, Link::kTcp),
                         [](const auto& info) { return info.param == Link::kRtu ? "Rtu" : "Tcp"; });

}  // namespace
