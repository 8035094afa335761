// The engine with the real server component against the drive simulator, over Modbus
// TCP on loopback and over RTU on the simulator's pseudo-terminal, with the simulator's
// line faults standing in for a drive that stops answering. The simulator serves from a
// thread of this process.
#if __has_include("sim/simserver.h")
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../platform/watchdog.h"
#include "mbenginekit.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"
#include "sim/simdrive.h"
#include "sim/simimage.h"
#include "sim/simserver.h"

namespace {

namespace mbr = vx::mbresult;
using vxtest::Bytes;
constexpr auto kLong = std::chrono::milliseconds(vxtest::kGenerous);
const std::string& kModel = vxtest::kVx310Model;

constexpr int kComPort = 7;

using vxtest::Line;
using vxtest::ServedDrive;

// The real component; every request that goes through it is noted.
class CountingServer : public TkoMBServerRelay {
 public:
  explicit CountingServer(std::shared_ptr<vxtest::FakeLine> log)
      : TkoMBServerRelay(vx::CreateTransportServer()), log_(std::move(log)) {}
  int32_t TxRxMessage(const Bytes& q, int16_t ql, int16_t rl, Bytes& r) override {
    {
      std::lock_guard guard(log_->mutex);
      log_->queries.push_back(q);
    }
    return TkoMBServerRelay::TxRxMessage(q, ql, rl, r);
  }

 private:
  std::shared_ptr<vxtest::FakeLine> log_;
};

class EngineOnSimTest : public ::testing::TestWithParam<Line> {
 protected:
  // The line settings of the parameter's transport; the port or device comes from the
  // simulator, or is given for a line where nobody answers.
  void Configure(TkoMBThreadSetup& s, int tcpPort, const std::string& device) {
    if (GetParam() == Line::kTcp) {
      s.SetConnType(2);
      s.SetTcpIpPort(tcpPort);
    } else {
      vx::SetComPortPath(kComPort, device);
      s.SetConnType(1);
      s.SetComPort(kComPort);
      s.SetBaudRate(19200);
      s.SetParity(2);
    }
  }
  void Start(vx::SimServerOptions options) {
    sim = std::make_unique<ServedDrive>(GetParam(), options, "engine");
    TkoMBThread::SetServerFactory([log = log] { return std::make_unique<CountingServer>(log); });
    setup = std::make_unique<TkoMBThreadSetup>();
    setup->SetThreadName("sim");
    Configure(*setup, sim->TcpPort(), sim->Link());
    setup->SetRetries(0);
    // Long enough that a loaded machine is not taken for a silent drive; the silent
    // cases below wait it out a few times only.
    setup->SetTimeOut(1000);
    setup->SetEnabled(true);
    setup->SetOnLine(true);
    ASSERT_TRUE(ui.PumpUntil([&] { return setup->GetState() == TkoMBThread::stRunning; }, kLong));
  }
  void TearDown() override {
    setup.reset();
    TkoMBThread::ResetServerFactory();
    vx::ResetComPortPaths();
  }
  void WaitCycles(int n) {
    TkoMBThread* t = setup->GetThread();
    const auto target = t->GetCycleCount() + n;
    ASSERT_TRUE(ui.PumpUntil([&] { return t->GetCycleCount() >= target; }, kLong));
  }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::shared_ptr<vxtest::FakeLine> log = std::make_shared<vxtest::FakeLine>();
  TkoRegDefsList model;
  std::unique_ptr<vxtest::StandInDevice> device;
  std::unique_ptr<ServedDrive> sim;
  std::unique_ptr<TkoMBThreadSetup> setup;

  void MakeDevice(int maxFault) {
    model.LoadFromFile(kModel);
    model.BuildDefinitions();
    device = std::make_unique<vxtest::StandInDevice>(&model, 1);
    device->maxFault = maxFault;
  }
};

TEST_P(EngineOnSimTest, TheVersionRequestIdentifiesTheDriveOnce) {
  Start({});
  auto* version = new TkoMBDeviceVersion(setup->GetThread(), true, 0);
  version->SetSlaveAddress(1);
  version->SetEnabled(true);
  ASSERT_TRUE(ui.PumpUntil([&] { return version->GetRunCount() == 1; }, kLong));
  WaitCycles(3);
  EXPECT_EQ(version->GetLastError(), 0);
  EXPECT_EQ(version->GetVersion().ToString(), "VX310v220");
  EXPECT_EQ(log->QueryCount(), 1u);
}

TEST_P(EngineOnSimTest, ADriveThatFallsSilentIsCutOffAfterThreeTimeouts) {
  MakeDevice(3);
  vx::SimServerOptions silent;
  silent.silentAfter = 2;
  Start(silent);
  auto* read = new TkoMBReadHoldRegisters(device.get(), true, 11, 200);
  read->SetTermReasons(0);
  read->SetEnabled(true);
  setup->GetThread()->AddDevice(device.get());
  ASSERT_TRUE(ui.PumpUntil([&] { return read->GetRunCount() == 1; }, kLong));
  EXPECT_EQ(read->GetLastError(), 0) << TkoMBThread::GetErrorText(read->GetLastError());
  ASSERT_TRUE(ui.PumpUntil([&] { return read->GetCutOff(); }, kLong));
  // The cut-off is decided where the result is handled, on the user-interface thread;
  // the worker may have started one more request before it took hold.
  const auto sent = log->QueryCount();
  EXPECT_GE(sent, 5u);
  EXPECT_LE(sent, 6u);
  WaitCycles(3);
  EXPECT_EQ(log->QueryCount(), sent) << "nothing more once cut off";
  ui.PumpPending();
  EXPECT_EQ(read->GetTimeoutCount(), static_cast<int>(sent) - 2);
  EXPECT_EQ(read->GetLastError(), mbr::kTimeout);
  EXPECT_EQ(device->responses, 2);
  setup.reset();  // the device's thread goes first
}

TEST_P(EngineOnSimTest, AChainedTransactionSendsNothingAfterItsFirstReadTimesOut) {
  MakeDevice(0);
  vx::SimServerOptions silent;
  silent.silentAfter = 0;
  Start(silent);
  auto* chained = new TkoMBChainedTransa(device.get(), true);
  chained->SetReadBlocks(new TkoRegBlock("200/210,300/307"));
  chained->SetWriteBlocks(new TkoRegBlock("102/104"));
  chained->SetTermReasons(TkoMBTransaction::trAlways);
  chained->SetEnabled(true);
  setup->GetThread()->AddDevice(device.get());
  ASSERT_TRUE(ui.PumpUntil([&] { return chained->GetRunCount() == 1; }, kLong));
  EXPECT_EQ(chained->GetLastError(), mbr::kTimeout);
  EXPECT_EQ(log->Queries(), (std::vector<Bytes>{{1, 0x03, 0x01, 0x2C, 0, 8}}));
  setup.reset();
}

TEST_P(EngineOnSimTest, ARefusedConnectionIsNotRetriedUntilReArmed) {
  // A TCP port that is bound but not listening refuses every connection; a serial
  // device that does not exist cannot be opened.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);

  std::atomic<int> creates{0};
  TkoMBThread::SetServerFactory([&] {
    ++creates;
    return vx::CreateTransportServer();
  });
  setup = std::make_unique<TkoMBThreadSetup>();
  setup->SetThreadName("nobody");
  Configure(*setup, ntohs(a.sin_port), ::testing::TempDir() + "no_such_port");
  setup->SetEnabled(true);
  setup->SetOnLine(true);
  ASSERT_TRUE(ui.PumpUntil([&] { return setup->GetState() == TkoMBThread::stOpenError; }, kLong));
  EXPECT_EQ(setup->GetStateText(), "connection error, open failed");
  WaitCycles(3);
  EXPECT_EQ(creates.load(), 1);

  setup->SetEnabled(true);  // re-arms
  ASSERT_TRUE(ui.PumpUntil([&] { return creates.load() == 2; }, kLong));
  setup.reset();
  close(fd);
}

INSTANTIATE_TEST_SUITE_P(Lines, EngineOnSimTest, ::testing::Values(Line::kTcp, Line::kRtu),
                         [](const ::testing::TestParamInfo<Line>& i) {
                           return i.param == Line::kTcp ? "Tcp" : "Rtu";
                         });

}  // namespace
#endif
