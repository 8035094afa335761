// The simulator's line side, served from a thread of this process, against the project's
// own Modbus server component over each transport: Modbus TCP on loopback and RTU on the
// simulator's pseudo-terminal. The same cases run over both.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mbwire/mbportmap.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbserial.h"
#include "mbwire/mbserver.h"
#include "sim/serveddrive.h"
#include "sim/simdrive.h"
#include "sim/simimage.h"
#include "sim/simserver.h"

namespace {

namespace mbr = vx::mbresult;

const std::string& kModel = vxtest::kVx310Model;
constexpr int kComPort = 6;

using vxtest::Line;
using vxtest::ServedDrive;

// The terminal's side: the server component, connected to the simulator.
std::unique_ptr<MBServer> Connect(Line line, const ServedDrive& sim) {
  auto mb = std::make_unique<MBServer>();
  if (line == Line::kTcp) {
    EXPECT_TRUE(mb->OpenConnection("sim", 2));
    mb->put_Host("127.0.0.1");
    mb->put_TcpPort(sim.TcpPort());
  } else {
    vx::SetComPortPath(kComPort, sim.Link());
    EXPECT_TRUE(mb->OpenConnection("COM6", 1));
    mb->put_ComPort(kComPort);
    mb->put_BaudRate(19200);
    mb->put_Parity(2);
    mb->put_TransmissionMode(0);
  }
  // Generous: an answer that comes late on a loaded machine must not read as a drop.
  mb->put_TimeOut(1500);
  EXPECT_TRUE(mb->Connect()) << mb->LastConnectError();
  return mb;
}

int32_t Exchange(MBServer& mb, std::vector<uint8_t> query, std::vector<uint8_t>& response) {
  return mb.TxRxMessage(query, static_cast<int16_t>(query.size()), 0, response);
}

class SimOverLine : public ::testing::TestWithParam<Line> {};

TEST_P(SimOverLine, AnswersVersionRangesAndExceptions) {
  ServedDrive sim(GetParam(), {}, "simserver");
  auto mb = Connect(GetParam(), sim);
  std::vector<uint8_t> r;

  ASSERT_EQ(Exchange(*mb, {1, 0x41}, r), mbr::kOk);
  ASSERT_EQ(r.size(), 12u);
  EXPECT_EQ(r[4] << 8 | r[5], 310);  // model
  EXPECT_EQ(r[8] << 8 | r[9], 220);  // version word

  // The actual state: 11 registers, one word each.
  ASSERT_EQ(Exchange(*mb, {1, 0x03, 0, 200, 0, 11}, r), mbr::kOk);
  ASSERT_EQ(r.size(), 3u + 22u);
  EXPECT_EQ(r[2], 22);
  // The RAM setup block as the terminal sends it, then read back.
  std::vector<uint8_t> write{1, 0x10, 0, 102, 0, 3, 6, 0x01, 0x90, 0, 8, 0x05, 0xDC};
  ASSERT_EQ(Exchange(*mb, write, r), mbr::kOk);
  EXPECT_EQ(r, (std::vector<uint8_t>{1, 0x10, 0, 102, 0, 3}));
  ASSERT_EQ(Exchange(*mb, {1, 0x03, 0, 102, 0, 3}, r), mbr::kOk);
  EXPECT_EQ(r, (std::vector<uint8_t>{1, 0x03, 6, 0x01, 0x90, 0, 8, 0x05, 0xDC}));

  EXPECT_EQ(Exchange(*mb, {1, 0x03, 0x01, 0xF4, 0, 1}, r), mbr::FromException(0x02));
  EXPECT_EQ(Exchange(*mb, {1, 0x2B, 0x0E, 1, 0}, r), mbr::FromException(0x01));
  EXPECT_EQ(Exchange(*mb, {1, 0x03, 0x04, 0x4C, 0, 100}, r), mbr::FromException(0x03));
  // Another slave's request goes unanswered.
  EXPECT_EQ(Exchange(*mb, {2, 0x03, 0, 200, 0, 1}, r), mbr::kTimeout);
  // Address 0: a broadcast on the serial line, sent and not awaited; on TCP the unit of
  // the device at the other end, answered.
  EXPECT_EQ(Exchange(*mb, {0, 0x06, 0, 221, 0x10, 0}, r), mbr::kOk);
  ASSERT_EQ(Exchange(*mb, {1, 0x03, 0, 221, 0, 1}, r), mbr::kOk);
  EXPECT_EQ(r, (std::vector<uint8_t>{1, 0x03, 2, 0x10, 0}));
  if (GetParam() == Line::kTcp) {
    ASSERT_EQ(Exchange(*mb, {0, 0x03, 0, 221, 0, 1}, r), mbr::kOk);
    EXPECT_EQ(r, (std::vector<uint8_t>{0, 0x03, 2, 0x10, 0}));
  }
  mb->CloseConnection();
}

// Several drives on one line: each answers its own address from its own image, a serial
// broadcast reaches them all, and an address nobody serves stays unanswered.
TEST_P(SimOverLine, SeveralDrivesEachAnswerTheirOwnAddress) {
  vx::SimImage image1(kModel), image5(kModel);
  vx::SimDriveOptions o1, o5;
  o1.slave = 1;
  o5.slave = 5;
  vx::SimDrive drive1(image1, o1, vx::SimDrive::Clock::now());
  vx::SimDrive drive5(image5, o5, vx::SimDrive::Clock::now());
  vx::SimServerOptions options;
  std::string link;
  if (GetParam() == Line::kTcp) {
    options.tcp = true;
  } else {
    link = (std::filesystem::path(::testing::TempDir()) /
            ("simmulti_pty_" + std::to_string(::getpid())))
               .string();
    options.ptyLink = link;
  }
  vx::SimServer server(std::vector<vx::SimDrive*>{&drive1, &drive5}, options);
  server.Open();
  std::thread serving([&] { server.Run(); });

  auto mb = std::make_unique<MBServer>();
  if (GetParam() == Line::kTcp) {
    ASSERT_TRUE(mb->OpenConnection("sim", 2));
    mb->put_Host("127.0.0.1");
    mb->put_TcpPort(server.TcpPort());
  } else {
    vx::SetComPortPath(kComPort, link);
    ASSERT_TRUE(mb->OpenConnection("COM6", 1));
    mb->put_ComPort(kComPort);
    mb->put_BaudRate(19200);
    mb->put_Parity(2);
    mb->put_TransmissionMode(0);
  }
  mb->put_TimeOut(1500);
  ASSERT_TRUE(mb->Connect()) << mb->LastConnectError();
  std::vector<uint8_t> r;
  ASSERT_EQ(Exchange(*mb, {5, 0x06, 0, 102, 0x01, 0x90}, r), mbr::kOk);
  ASSERT_EQ(Exchange(*mb, {5, 0x03, 0, 102, 0, 1}, r), mbr::kOk);
  EXPECT_EQ(r, (std::vector<uint8_t>{5, 0x03, 2, 0x01, 0x90}));
  ASSERT_EQ(Exchange(*mb, {1, 0x03, 0, 102, 0, 1}, r), mbr::kOk);
  EXPECT_EQ(r, (std::vector<uint8_t>{1, 0x03, 2, 0, 200})) << "slave 1 keeps its own setup";
  ASSERT_EQ(Exchange(*mb, {5, 0x41}, r), mbr::kOk);
  EXPECT_EQ(r[0], 5);
  EXPECT_EQ(Exchange(*mb, {3, 0x03, 0, 102, 0, 1}, r), mbr::kTimeout);
  if (GetParam() == Line::kRtu) {
    EXPECT_EQ(Exchange(*mb, {0, 0x06, 0, 221, 0x10, 0}, r), mbr::kOk);
    for (uint8_t slave : {1, 5}) {
      ASSERT_EQ(Exchange(*mb, {slave, 0x03, 0, 221, 0, 1}, r), mbr::kOk);
      EXPECT_EQ(r, (std::vector<uint8_t>{slave, 0x03, 2, 0x10, 0}))
          << "broadcast missed slave " << int(slave);
    }
  }
  mb->CloseConnection();
  server.RequestStop();
  serving.join();
}

// Each injected line fault, on the requests it hits, shows as its result code; the
// requests around it are answered.
TEST_P(SimOverLine, InjectedFaultsShowAsTheirResultCodes) {
  struct Case {
    const char* what;
    vx::SimServerOptions options;
    std::vector<int32_t> results;  // of four reads in a row
  };
  const int32_t badFrame = GetParam() == Line::kRtu ? mbr::kInvalidCrc : mbr::kInvalidResponse;
  vx::SimServerOptions drop, silent, corrupt;
  drop.dropEvery = 2;
  silent.silentAfter = 1;
  corrupt.corruptEvery = 3;
  const Case cases[] = {
      {"drop every 2nd", drop, {mbr::kOk, mbr::kTimeout, mbr::kOk, mbr::kTimeout}},
      {"silent after 1", silent, {mbr::kOk, mbr::kTimeout, mbr::kTimeout, mbr::kTimeout}},
      {"corrupt every 3rd", corrupt, {mbr::kOk, mbr::kOk, badFrame, mbr::kOk}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServedDrive sim(GetParam(), c.options, "simserver");
    auto mb = Connect(GetParam(), sim);
    std::vector<uint8_t> r;
    for (std::size_t i = 0; i < c.results.size(); ++i)
      EXPECT_EQ(Exchange(*mb, {1, 0x03, 0, 200, 0, 2}, r), c.results[i]) << "request " << i + 1;
    mb->CloseConnection();
  }
}

// Faults switched while the drive serves hit the requests from then on; the requests
// count on through them.
TEST_P(SimOverLine, FaultsSwitchedWhileServing) {
  ServedDrive sim(GetParam(), {}, "simserver");
  auto mb = Connect(GetParam(), sim);
  std::vector<uint8_t> r;
  const auto read = [&] { return Exchange(*mb, {1, 0x03, 0, 200, 0, 2}, r); };
  const int32_t badFrame = GetParam() == Line::kRtu ? mbr::kInvalidCrc : mbr::kInvalidResponse;
  EXPECT_EQ(read(), mbr::kOk);
  sim.SetLineFaults(0, 0, true);
  EXPECT_EQ(read(), mbr::kTimeout);
  EXPECT_EQ(read(), mbr::kTimeout);
  sim.SetLineFaults(0, 0, false);
  EXPECT_EQ(read(), mbr::kOk);  // request 4
  sim.SetLineFaults(5, 0, false);
  EXPECT_EQ(read(), mbr::kTimeout);  // 5
  sim.SetLineFaults(0, 7, false);
  EXPECT_EQ(read(), mbr::kOk);  // 6
  EXPECT_EQ(read(), badFrame);  // 7
  EXPECT_EQ(read(), mbr::kOk);  // 8
  mb->CloseConnection();
}

INSTANTIATE_TEST_SUITE_P(Lines, SimOverLine, ::testing::Values(Line::kTcp, Line::kRtu),
                         [](const auto& info) { return info.param == Line::kTcp ? "Tcp" : "Rtu"; });

}  // namespace
