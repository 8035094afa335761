#pragma once
// A network with one connection and one device setup on the test's own user-interface
// dispatcher, logging what the network raises.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "../platform/watchdog.h"
#include "devicekit.h"
#include "devices/devicesetup.h"
#include "devices/deviceslave.h"
#include "devices/mbnetwork.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "platform/queuedispatcher.h"

namespace vxtest {

inline constexpr auto kLong = std::chrono::milliseconds(kGenerous);

// A network with one connection and one device setup, both logging what the network
// raises. Members go in reverse order: the network (and with it every thread) before the
// line it talks to and the dispatcher its threads hand over to.
class NetworkFixture {
 protected:
  void Build(const std::string& modelsDir, int32_t address = 1) {
    net = std::make_unique<TkoMBNetwork>();
    net->SetFilePath(modelsDir);
    net->OnNetStateChange = [this](TkoMBNetwork*, TkoMBObject* o) {
      if (o && o == dev) log.Add("state:dev");
      if (dynamic_cast<TkoDeviceSlave*>(o)) log.Add("state:slave");
    };
    net->OnVersion = [this](TkoDMCollection*, const TkoVersionRecord* v, std::string&) {
      log.Add("version:" + (v ? v->ToString() : std::string("none")));
    };
    net->OnNoVersion = [this](TkoDMCollection*, const TkoVersionRecord* v, std::string&) {
      log.Add("noversion:" + (v ? v->ToString() : std::string("none")));
    };
    conn = new TkoMBThreadSetup;
    conn->SetThreadName("line");
    conn->SetRetries(0);
    conn->SetTimeOut(1000);
    conn->SetEnabled(true);
    ASSERT_TRUE(net->AddConnection(conn));
    dev = new TkoDeviceSetup;
    dev->SetDeviceName("drive");
    dev->SetDeviceAddr(address);
    dev->SetEnabled(true);
    ASSERT_TRUE(conn->AddDevice(dev));
  }
  void GoOnLine() {
    net->SetOnLine(true);
    ASSERT_TRUE(Pump([&] { return conn->GetState() == TkoMBThread::stRunning; }));
  }
  bool Pump(const std::function<bool()>& done) { return ui.PumpUntil(done, kLong); }
  void WaitCycles(int n) {
    TkoMBThread* t = conn->GetThread();
    const auto target = t->GetCycleCount() + n;
    ASSERT_TRUE(Pump([&] { return t->GetCycleCount() >= target; }));
  }
  // The identification request has been answered and destroyed by its thread.
  bool IdentificationGone() { return conn->GetThread()->GetTransactions().Size() == 0; }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  vxtest::EventLog log;
  std::unique_ptr<TkoMBNetwork> net;
  TkoMBThreadSetup* conn = nullptr;
  TkoDeviceSetup* dev = nullptr;
};

}  // namespace vxtest
