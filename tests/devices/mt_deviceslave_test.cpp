// The slave device on a running connection thread (a scripted line): its state follows
// the thread, the setup's enable flag and the first failing transaction in list order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "modbus/mbenginekit.h"
#include "modbus/mbtransakinds.h"
#include "networkfixture.h"

namespace {

using vxtest::Bytes;
using Answer = vxtest::FakeLine::Answer;

class SlaveOnThread : public vxtest::NetworkFixture, public ::testing::Test {
 protected:
  void SetUp() override {
    fake.line->responder = [this](const Bytes& q) { return Respond(q); };
    Build("");
    conn->SetConnType(2);
    GoOnLine();
    const TkoVersionRecord version("VX999v100");
    dev->SetSlave(std::make_unique<TkoDeviceSlave>(dev, &version, model.get()));
    slave = dev->GetSlave();
  }
  void TearDown() override { net.reset(); }

  // Register reads answer as `mode` says; version requests never.
  Answer Respond(const Bytes& q) {
    if (q.size() < 2 || q[1] != 0x03) return {vx::mbresult::kTimeout, {}};
    switch (mode.load()) {
      case 0:
        return {0, vxtest::ReadAnswer(q[0], Bytes(2 * q[5], 0))};
      case 1:
        return {vx::mbresult::FromException(2), {}};
      case 3: {  // register 0 held until released, within a generous limit
        if (q[2] != 0 || q[3] != 0) return {0, vxtest::ReadAnswer(q[0], Bytes(2 * q[5], 0))};
        inside = true;
        const auto until = std::chrono::steady_clock::now() + vxtest::kLong;
        while (!release.load() && std::chrono::steady_clock::now() < until)
          std::this_thread::yield();
        inside = false;
        return {0, vxtest::ReadAnswer(q[0], Bytes(2 * q[5], 0))};
      }
      default:
        return {vx::mbresult::kTimeout, {}};
    }
  }
  // The worker enters the held exchange without posting anything to the user-interface
  // queue, so a pump would see it only at its deadline: watch the flag itself.
  bool WorkerInside() {
    const auto until = std::chrono::steady_clock::now() + vxtest::kLong;
    while (!inside.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    return inside.load();
  }
  TkoMBReadHoldRegisters* Periodic(uint16_t address) {
    auto* t = new TkoMBReadHoldRegisters(slave, true, 1, address);
    t->SetTermReasons(0);
    t->SetRepeatTime(1);
    t->SetEnabled(true);
    return t;
  }

  vxtest::ScopedFakeServer fake;
  std::atomic<int> mode{0};
  std::atomic<bool> release{false};
  std::atomic<bool> inside{false};  // the worker is in a held exchange
  std::unique_ptr<TkoRegDefsList> model = vxtest::SmallModel(4);
  TkoDeviceSlave* slave = nullptr;
};

TEST_F(SlaveOnThread, StateFollowsTheThreadTheSetupAndItsTransactions) {
  vxtest::Watchdog watchdog(std::chrono::seconds(240), "slave states");
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsOffline) << "not attached";
  slave->SetThread(conn->GetThread());
  EXPECT_EQ(log.Count("state:slave"), 1);
  slave->SetThread(conn->GetThread());
  EXPECT_EQ(log.Count("state:slave"), 1) << "unchanged: nothing";
  EXPECT_TRUE(conn->GetThread()->GetDevices().Contains(slave));
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsReady);
  EXPECT_EQ(dev->GetStateText(), "device connected and ready");

  TkoMBReadHoldRegisters* first = Periodic(0);
  TkoMBReadHoldRegisters* second = Periodic(1);
  ASSERT_TRUE(Pump([&] { return second->GetRunCount() >= 1; }));
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsReady);

  mode = 1;  // every read refused
  ASSERT_TRUE(Pump([&] { return dev->GetState() == TkoDeviceSetup::dsCommError; }));
  EXPECT_FALSE(second->GetCutOff()) << "only time-outs cut off";

  // Time-outs cut the transactions off; the first in list order gives the state.
  dev->SetMaxFault(2);
  mode = 2;
  ASSERT_TRUE(Pump([&] { return first->GetCutOff() && second->GetCutOff(); }));
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsCutOff);
  EXPECT_EQ(slave->ReadRegister(2, true), -11) << "a cut-off device takes no direct transfer";

  dev->SetEnabled(false);
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsDisabled);
  mode = 0;
  dev->SetEnabled(true);  // clears the cut-off
  EXPECT_FALSE(first->GetCutOff());
  EXPECT_FALSE(second->GetCutOff());
  ASSERT_TRUE(Pump([&] { return dev->GetState() == TkoDeviceSetup::dsReady; }));
  EXPECT_EQ(slave->ReadRegister(2, true), 0);

  // Off line the thread stays, closed: the device is off line with it.
  net->SetOnLine(false);
  ASSERT_TRUE(Pump([&] { return conn->GetState() == TkoMBThread::stOffline; }));
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsOffline);
  EXPECT_EQ(slave->ReadRegister(2, false), -11);
}

// The worker sits in an exchange that does not end (a silent drive's time-out, held here
// for as long as the test wants): every state read and every change of the lists that
// does not touch the transaction in work returns meanwhile. Were a list held across the
// exchange, the calls would return only once it was released, and the check after them
// would find the worker out of it.
TEST_F(SlaveOnThread, TheUserInterfaceNeverWaitsForAnExchangeInProgress) {
  vxtest::Watchdog watchdog(std::chrono::seconds(240), "state reads during an exchange");
  slave->SetThread(conn->GetThread());
  TkoMBReadHoldRegisters* held = Periodic(0);
  TkoMBReadHoldRegisters* other = Periodic(1);
  ASSERT_TRUE(Pump([&] { return other->GetRunCount() >= 1; }));
  mode = 3;
  ASSERT_TRUE(WorkerInside());

  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsReady);
  EXPECT_EQ(slave->GetState(), TkoDeviceSetup::dsReady);
  EXPECT_TRUE(slave->HasTransa(held));
  slave->ResetFaults();
  EXPECT_TRUE(conn->GetThread()->GetDevices().Contains(slave));
  EXPECT_EQ(net->GetDevCount(), 1);
  // Structure changes that leave the transaction in work alone: one added, one gone.
  TkoMBReadHoldRegisters* added = Periodic(2);
  EXPECT_TRUE(slave->HasTransa(added));
  delete other;
  EXPECT_FALSE(slave->HasTransa(other));
  EXPECT_TRUE(inside.load()) << "a call above waited for the exchange to end";

  release = true;
  ASSERT_TRUE(Pump([&] { return added->GetRunCount() >= 1 && !inside.load(); }));
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsReady);
}

// Taking the transaction in work away waits for its exchange, then the walk goes on with
// the ones after it; the device with it leaves between two exchanges, not after its pass.
TEST_F(SlaveOnThread, RemovingWhatIsInWorkWaitsForThatExchangeOnly) {
  vxtest::Watchdog watchdog(std::chrono::seconds(240), "removal during an exchange");
  slave->SetThread(conn->GetThread());
  TkoMBReadHoldRegisters* held = Periodic(0);
  TkoMBReadHoldRegisters* next = Periodic(1);
  ASSERT_TRUE(Pump([&] { return next->GetRunCount() >= 1; }));
  mode = 3;
  ASSERT_TRUE(WorkerInside());
  std::atomic<bool> waited{false};
  std::thread releaser([&] {
    // Released only once the user-interface thread waits in the removal.
    const auto until = std::chrono::steady_clock::now() + vxtest::kLong;
    while (!slave->GetTransactions().RemovalWaiting() && std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
    waited = slave->GetTransactions().RemovalWaiting();
    release = true;
  });
  delete held;  // waits for the exchange, then takes it out
  releaser.join();
  EXPECT_TRUE(waited.load());
  EXPECT_FALSE(slave->HasTransa(held));
  const int32_t runs = next->GetRunCount();
  mode = 0;
  ASSERT_TRUE(Pump([&] { return next->GetRunCount() > runs; }));
}

TEST_F(SlaveOnThread, ADestroyedSlaveLeavesItsThreadFirst) {
  slave->SetThread(conn->GetThread());
  TkoMBReadHoldRegisters* t = Periodic(0);
  ASSERT_TRUE(Pump([&] { return t->GetRunCount() >= 2; }));
  TkoMBThread* thread = conn->GetThread();
  dev->SetSlave(nullptr);
  EXPECT_FALSE(thread->GetDevices().Contains(slave));
  EXPECT_GE(log.Count("state:slave"), 2) << "attached, then detached";
  WaitCycles(3);  // the thread goes on without it
  EXPECT_EQ(conn->GetState(), TkoMBThread::stRunning);
}

TEST_F(SlaveOnThread, AThreadThatEndsDetachesTheDeviceWhichKeepsItsTransactions) {
  slave->SetThread(conn->GetThread());
  TkoMBReadHoldRegisters* t = Periodic(0);
  ASSERT_TRUE(Pump([&] { return t->GetRunCount() >= 1; }));
  // The device setup leaves the connection, which then goes with its thread.
  std::unique_ptr<TkoDeviceSetup> kept(static_cast<TkoDeviceSetup*>(dev->Detach()));
  delete conn;
  conn = nullptr;
  EXPECT_EQ(slave->GetThread(), nullptr);
  EXPECT_EQ(kept->GetState(), TkoDeviceSetup::dsOffline);
  EXPECT_TRUE(slave->HasTransa(t));
  EXPECT_EQ(slave->ReadRegister(0, true), -11);
}

TEST_F(SlaveOnThread, AHandOverThatDestroysTheDeviceEndsADirectWait) {
  vxtest::Watchdog watchdog(std::chrono::seconds(240), "direct wait");
  slave->SetThread(conn->GetThread());
  mode = 3;
  // A hand-over queued before the read, run by the read's wait: it lets the line answer
  // and destroys the device, with the transaction the wait is for.
  std::thread other([this] {
    vx::HandOver([this] {
      release = true;
      dev->SetSlave(nullptr);
    });
  });
  ASSERT_TRUE(ui.WaitForHandOver(vxtest::kLong));
  EXPECT_EQ(slave->ReadRegister(0, true), -11);
  other.join();
  EXPECT_EQ(dev->GetSlave(), nullptr);
}

}  // namespace
