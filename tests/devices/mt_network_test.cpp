// The network component bringing a connection up and down on a scripted line: every
// event of the engine reaches the application through the network, after the slots of
// the transaction, the device and the thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "modbus/mbenginekit.h"
#include "modbus/mbtransakinds.h"
#include "networkfixture.h"

namespace {

using vxtest::Bytes;
using Answer = vxtest::FakeLine::Answer;

class NetworkOnLine : public vxtest::NetworkFixture, public ::testing::Test {
 protected:
  NetworkOnLine() : dir("netline") {
    dir.Write("vx999.par", "[Versions]\nVersions=\"VX999v*\"\n[0]\nName=R0\n[1]\nName=R1\n");
  }
  void TearDown() override { net.reset(); }

  // Version requests answer VX999v100; register reads as `failing` says.
  Answer Respond(const Bytes& q) {
    if (q.size() >= 2 && q[1] == 0x41)
      return {0, {q[0], 0x41, 0, 0, 0x03, 0xE7, 0xFF, 0xFF, 0, 100, 0xFF, 0xFF}};
    if (failing.load()) return {vx::mbresult::FromException(2), {}};
    return {0, vxtest::ReadAnswer(q[0], {0, 7})};
  }

  vxtest::ScratchDir dir;
  vxtest::ScopedFakeServer fake;
  std::atomic<bool> failing{false};
};

TEST_F(NetworkOnLine, BringingAConnectionUpAndDownRaisesItsEventsThroughTheNetwork) {
  vxtest::Watchdog watchdog(std::chrono::seconds(240), "network on line");
  fake.line->responder = [this](const Bytes& q) { return Respond(q); };
  Build(dir.Path());
  conn->SetConnType(2);
  std::vector<int> connStates;
  net->OnNetStateChange = [&](TkoMBNetwork*, TkoMBObject* o) {
    if (o == net.get()) log.Add("state:net");
    if (o == conn) connStates.push_back(conn->GetState());
    if (o == dev) log.Add("state:dev");
    if (dynamic_cast<TkoDeviceSlave*>(o)) log.Add("state:slave");
  };
  net->SetOnLine(true);
  ASSERT_TRUE(Pump([&] { return dev->GetState() == TkoDeviceSetup::dsReady; }));
  EXPECT_EQ(log.Count("state:net"), 1);
  EXPECT_EQ(connStates, (std::vector<int>{TkoMBThread::stStarting, TkoMBThread::stRunning}));
  EXPECT_EQ(log.Count("state:slave"), 1);
  EXPECT_GE(log.Count("state:dev"), 1);

  // A periodic read of the device: results reach its own slot, the device's, the
  // thread's and then the network's.
  TkoDeviceSlave* slave = dev->GetSlave();
  log.lines.clear();
  auto* read = new TkoMBReadHoldRegisters(slave, true, 1, 1);
  read->SetTermReasons(0);
  read->SetRepeatTime(1);
  read->OnResponse = [&](TkoMBTransaction*) { log.Add("transa:response"); };
  read->OnError = [&](TkoMBTransaction* t) {
    log.Add(t->GetLastError() ? "transa:error" : "transa:recovered");
  };
  slave->OnTransaResponse = [&](TkoDeviceSlave*, TkoMBObject*) { log.Add("slave:response"); };
  slave->OnTransaError = [&](TkoDeviceSlave*, TkoMBObject*) { log.Add("slave:error"); };
  conn->GetThread()->OnTransaResponse = [&](TkoMBThread*, TkoMBTransaction*) {
    log.Add("thread:response");
  };
  conn->GetThread()->OnTransaError = [&](TkoMBThread*, TkoMBTransaction*) {
    log.Add("thread:error");
  };
  TkoMBTransaction* seen = nullptr;
  net->OnTransaResponse = [&](TkoMBNetwork*, TkoMBTransaction* t) {
    seen = t;
    log.Add("net:response");
  };
  net->OnTransaError = [&](TkoMBNetwork*, TkoMBTransaction* t) {
    seen = t;
    log.Add("net:error");
  };
  read->SetEnabled(true);
  ASSERT_TRUE(Pump([&] { return read->GetRunCount() >= 1; }));
  EXPECT_EQ(seen, read);
  EXPECT_EQ(std::vector<std::string>(log.lines.begin(), log.lines.begin() + 4),
            (std::vector<std::string>{"transa:response", "slave:response", "thread:response",
                                      "net:response"}));
  log.lines.clear();
  failing = true;
  ASSERT_TRUE(Pump([&] { return log.Count("net:error") >= 1; }));
  // Answers given before the line failed may still be handed over first: the error's
  // own events are checked from its first one on.
  const auto firstError = std::find(log.lines.begin(), log.lines.end(), "transa:error");
  ASSERT_GE(log.lines.end() - firstError, 4);
  EXPECT_EQ(std::vector<std::string>(firstError, firstError + 4),
            (std::vector<std::string>{"transa:error", "slave:error", "thread:error", "net:error"}));
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsCommError);

  // Clear the handlers that point into this scope before the network goes.
  slave->OnTransaResponse = slave->OnTransaError = nullptr;
  conn->GetThread()->OnTransaResponse = conn->GetThread()->OnTransaError = nullptr;
  net->OnTransaResponse = net->OnTransaError = nullptr;
  read->OnResponse = read->OnError = nullptr;

  connStates.clear();
  net->SetOnLine(false);
  // The state is stored before its notification is handed over: wait for the latter.
  ASSERT_TRUE(Pump([&] { return connStates.size() >= 2; }));
  EXPECT_EQ(connStates, (std::vector<int>{TkoMBThread::stStopping, TkoMBThread::stOffline}));
  EXPECT_EQ(log.Count("state:net"), 1);
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsOffline);
  EXPECT_TRUE(dev->HasSlave()) << "the device stays identified while off line";

  // On line again, the same device carries on without a new identification.
  const std::size_t versionRequests = [&] {
    std::size_t n = 0;
    for (const Bytes& q : fake.line->Queries()) n += q[1] == 0x41;
    return n;
  }();
  failing = false;
  net->SetOnLine(true);
  ASSERT_TRUE(Pump([&] { return dev->GetState() == TkoDeviceSetup::dsReady; }));
  EXPECT_EQ(dev->GetSlave(), slave);
  std::size_t after = 0;
  for (const Bytes& q : fake.line->Queries()) after += q[1] == 0x41;
  EXPECT_EQ(after, versionRequests);
  net->OnNetStateChange = nullptr;
}

TEST_F(NetworkOnLine, ResetAllTakesEveryConnectionDownAndReportsItsDeletion) {
  fake.line->responder = [this](const Bytes& q) { return Respond(q); };
  Build(dir.Path());
  conn->SetConnType(2);
  GoOnLine();
  ASSERT_TRUE(Pump([&] { return dev->HasSlave(); }));
  TkoMBThread* thread = conn->GetThread();
  ASSERT_NE(thread, nullptr);
  int deleted = 0;
  net->OnNetSetupDel = [&](TkoMBNetwork*, TkoMBObject*) { ++deleted; };
  net->ResetAll();
  conn = nullptr;
  dev = nullptr;
  EXPECT_EQ(net->Root(), nullptr);
  EXPECT_EQ(net->GetDevCount(), 0);
  EXPECT_GE(deleted, 1) << "the connection reports its deletion";
  const std::size_t sent = fake.line->QueryCount();
  EXPECT_EQ(fake.line->Closes(), 1) << "the thread closed the line before it ended";
  EXPECT_EQ(fake.line->QueryCount(), sent);
}

TEST_F(NetworkOnLine, ANetworkBeingDestroyedRaisesNothingWhileItsConnectionsGo) {
  fake.line->responder = [this](const Bytes& q) { return Respond(q); };
  Build(dir.Path());
  conn->SetConnType(2);
  GoOnLine();
  ASSERT_TRUE(Pump([&] { return dev->GetState() == TkoDeviceSetup::dsReady; }));
  int raised = 0;
  const auto count = [&](TkoMBNetwork*, TkoMBObject*) { ++raised; };
  net->OnNetSetupDel = count;
  net->OnNetStateChange = count;
  net->OnNetSetupChange = count;
  net.reset();
  conn = nullptr;
  dev = nullptr;
  EXPECT_EQ(raised, 0);
  EXPECT_EQ(fake.line->Closes(), 1);
}

}  // namespace
