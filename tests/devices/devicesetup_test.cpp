// The device setup on its own and below a connection and a network, without threads.
#include "devices/devicesetup.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "devicekit.h"
#include "devices/deviceslave.h"
#include "devices/mbnetwork.h"
#include "modbus/mbenginekit.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"

namespace {

TEST(DeviceSetup, StartsWithItsDefaultsAndKeepsItsValuesUnderSetup) {
  TkoDeviceSetup d;
  EXPECT_EQ(d.Name(), "device");
  EXPECT_EQ(d.GetDeviceName(), "");
  EXPECT_EQ(d.GetDeviceAddr(), 1);
  EXPECT_EQ(d.GetRepeatTime(), 5);
  EXPECT_EQ(d.GetMaxFault(), 0);
  EXPECT_FALSE(d.GetEnabled());
  EXPECT_FALSE(d.HasSlave());

  d.SetDeviceName("drive");
  d.SetDeviceAddr(0x1203);  // the low byte only
  d.SetRepeatTime(7);
  d.SetMaxFault(3);
  d.SetEnabled(true);
  EXPECT_EQ(d.GetDeviceAddr(), 3);
  EXPECT_EQ(d.GetValue("setup", "devicename", ""), "drive");
  EXPECT_EQ(d.GetInteger("setup", "deviceaddr", -1), 3);
  EXPECT_EQ(d.GetInteger("setup", "repeattime", -1), 7);
  EXPECT_EQ(d.GetInteger("setup", "maxfault", -1), 3);
  EXPECT_TRUE(d.GetBool("setup", "enabled", false));

  // Loading reads the keys back, with the defaults for missing ones.
  TkoDeviceSetup loaded;
  loaded.SetValue("setup", "devicename", "other");
  loaded.SetValue("setup", "deviceaddr", "259");
  loaded.SetValue("setup", "enabled", "true");
  loaded.AnalyzeContent();
  EXPECT_EQ(loaded.GetDeviceName(), "other");
  EXPECT_EQ(loaded.GetDeviceAddr(), 3) << "an address above 255 keeps its low byte";
  EXPECT_EQ(loaded.GetRepeatTime(), 5);
  EXPECT_EQ(loaded.GetMaxFault(), 0);
  EXPECT_TRUE(loaded.GetEnabled());
}

TEST(DeviceSetup, IsValidWithASampleTimeAnAddressAndAName) {
  struct Case {
    const char* name;
    int32_t address;
    int32_t repeat;
    bool valid;
  } const cases[] = {
      {"drive", 1, 5, true},    {"drive", 247, 1, true}, {"", 1, 5, false},
      {"drive", 0, 5, false},  // broadcast: never identified
      {"drive", 256, 5, false}, {"drive", 1, 0, false},  {"drive", 1, -1, false},
  };
  for (const Case& c : cases) {
    TkoDeviceSetup d;
    d.SetDeviceName(c.name);
    d.SetDeviceAddr(c.address);
    d.SetRepeatTime(c.repeat);
    EXPECT_EQ(d.IsValid(), c.valid) << c.name << " " << c.address << " " << c.repeat;
  }
}

TEST(DeviceSetup, StateTextsAndStateWithoutARunningConnection) {
  const char* const texts[] = {"OFFLINE",
                               "device is disabled",
                               "device not yet identified",
                               "device connected and ready",
                               "BREAKING",
                               "communication error",
                               "OPENERROR",
                               "SETUPERROR",
                               "too many errors, device cut-off",
                               "NOMBSERVER",
                               "unknown device"};
  for (int code = 0; code <= 10; ++code) EXPECT_EQ(TkoDeviceSetup::StateText(code), texts[code]);
  EXPECT_EQ(TkoDeviceSetup::StateText(11), "unknown state 11");

  TkoMBThreadSetup conn;
  auto* d = new TkoDeviceSetup;
  d->SetDeviceName("drive");
  d->SetEnabled(true);
  ASSERT_TRUE(conn.AddDevice(d));
  EXPECT_EQ(d->GetState(), TkoDeviceSetup::dsOffline);
  TkoDeviceSetup alone;
  EXPECT_EQ(alone.GetState(), TkoDeviceSetup::dsOffline);
}

TEST(DeviceSetup, DescriptionShowsSampleTimeFaultLimitStateAndTheIdentifiedDevice) {
  TkoDeviceSetup d;
  EXPECT_EQ(d.GetDescription(),
            "Dflt sample time         : 500ms\r\n"
            "Max fault cut-off        : Disabled\r\n"
            "Device state             : OFFLINE");
  d.SetRepeatTime(2);
  d.SetMaxFault(4);
  TkoRegDefsList model;
  model.LoadFromFile(vxtest::kVx310Model);
  model.BuildDefinitions();
  const TkoVersionRecord version("VX310v220");
  d.SetSlave(std::make_unique<TkoDeviceSlave>(&d, &version, &model));
  EXPECT_EQ(d.GetDescription(),
            "Dflt sample time         : 200ms\r\n"
            "Max fault cut-off        : 4\r\n"
            "Device state             : OFFLINE\r\n"
            "Device version           : VX310v220\r\n"
            "Device description       : VX310 stepper drive, firmware 2.xx\r\n"
            "Device file              : " +
                vxtest::kVx310Model);
}

// Setup, connection and network each log what reaches them.
struct Chain {
  vxtest::EventLog log;  // outlives the network, whose tree reports while it goes
  TkoMBNetwork net;
  TkoMBThreadSetup* conn = new TkoMBThreadSetup;
  TkoDeviceSetup* dev = new TkoDeviceSetup;

  Chain() {
    conn->SetThreadName("line");
    conn->SetConnType(0);  // never valid: no thread
    EXPECT_TRUE(net.AddConnection(conn));
    dev->SetDeviceName("drive");
    EXPECT_TRUE(conn->AddDevice(dev));
    dev->OnSetupChange = [this](TkoDeviceSetup*, TkoMBObject* o) { log.Add(Who("dev:change", o)); };
    dev->OnSetupAdd = [this](TkoDeviceSetup*, TkoMBObject* o) { log.Add(Who("dev:add", o)); };
    dev->OnSetupDel = [this](TkoDeviceSetup*, TkoMBObject* o) { log.Add(Who("dev:del", o)); };
    dev->OnStateChange = [this](TkoDeviceSetup*, TkoMBObject* o) { log.Add(Who("dev:state", o)); };
    conn->OnSetupChange = [this](TkoMBThreadSetup*, TkoMBObject* o) {
      log.Add(Who("conn:change", o));
    };
    conn->OnSetupAdd = [this](TkoMBThreadSetup*, TkoMBObject* o) { log.Add(Who("conn:add", o)); };
    conn->OnSetupDel = [this](TkoMBThreadSetup*, TkoMBObject* o) { log.Add(Who("conn:del", o)); };
    conn->OnStateChange = [this](TkoMBThreadSetup*, TkoMBObject* o) {
      log.Add(Who("conn:state", o));
    };
    net.OnNetSetupChange = [this](TkoMBNetwork*, TkoMBObject* o) { log.Add(Who("net:change", o)); };
    net.OnNetSetupAdd = [this](TkoMBNetwork*, TkoMBObject* o) { log.Add(Who("net:add", o)); };
    net.OnNetSetupDel = [this](TkoMBNetwork*, TkoMBObject* o) { log.Add(Who("net:del", o)); };
    net.OnNetStateChange = [this](TkoMBNetwork*, TkoMBObject* o) { log.Add(Who("net:state", o)); };
  }
  std::string Who(const std::string& what, TkoMBObject* o) const {
    if (!o) return what + "(none)";
    if (o == dev) return what + "(dev)";
    if (dynamic_cast<TkoMBTransaction*>(o)) return what + "(transa)";
    if (dynamic_cast<TkoDeviceSlave*>(o)) return what + "(slave)";
    return what + "(other)";
  }
};

TEST(DeviceSetup, NotificationsGoToItsOwnSlotThenTheConnectionThenTheNetwork) {
  Chain c;
  c.dev->SetMaxFault(2);
  EXPECT_EQ(c.log.lines,
            (std::vector<std::string>{"dev:change(dev)", "conn:change(dev)", "net:change(dev)"}));
  c.log.lines.clear();
  c.dev->NotifyStateChange(c.dev);
  EXPECT_EQ(c.log.lines,
            (std::vector<std::string>{"dev:state(dev)", "conn:state(dev)", "net:state(dev)"}));
  c.log.lines.clear();
  c.dev->AnalyzeContent();  // a load finished: added, with no source
  EXPECT_EQ(c.log.lines,
            (std::vector<std::string>{"dev:add(none)", "conn:add(none)", "net:add(none)"}));
  c.log.lines.clear();
  delete c.dev;  // the connection's only device, so no sibling goes with it
  EXPECT_EQ(c.log.lines,
            (std::vector<std::string>{"dev:del(dev)", "conn:del(dev)", "net:del(dev)"}));
}

TEST(DeviceSetup, TheSlavesTransactionsAreReportedAsAddedAndDeletedThroughTheChain) {
  Chain c;
  auto model = vxtest::SmallModel(4);
  const TkoVersionRecord version;
  c.dev->SetSlave(std::make_unique<TkoDeviceSlave>(c.dev, &version, model.get()));
  c.log.lines.clear();
  auto* t = new TkoMBReadHoldRegisters(c.dev->GetSlave(), true, 1, 0);
  EXPECT_EQ(c.log.Count("net:add(transa)"), 1);
  c.log.lines.clear();
  c.dev->SetSlave(nullptr);  // destroys the slave and with it the transaction
  (void)t;
  EXPECT_EQ(c.log.Count("dev:del(transa)"), 1);
  EXPECT_EQ(c.log.Count("net:del(transa)"), 1);
  EXPECT_FALSE(c.dev->HasSlave());
}

TEST(DeviceSetup, ASlaveDestroyedElsewhereIsNoLongerTheSetupsSlave) {
  TkoDeviceSetup d;
  auto model = vxtest::SmallModel(2);
  const TkoVersionRecord version;
  d.SetSlave(std::make_unique<TkoDeviceSlave>(&d, &version, model.get()));
  ASSERT_TRUE(d.HasSlave());
  delete d.GetSlave();
  EXPECT_FALSE(d.HasSlave());
  EXPECT_EQ(d.GetSlave(), nullptr);
}

TEST(DeviceSetup, EnablingClearsTheCutOffOfTheSlavesTransactions) {
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  TkoDeviceSetup d;
  d.SetMaxFault(1);
  auto model = vxtest::SmallModel(2);
  const TkoVersionRecord version;
  d.SetSlave(std::make_unique<TkoDeviceSlave>(&d, &version, model.get()));
  auto* t = new TkoMBReadHoldRegisters(d.GetSlave(), true, 1, 0);
  t->SetTermReasons(0);
  t->SetEnabled(true);
  // One run against a line where nobody answers, handled as the thread would have it.
  vxtest::FakeServer silent(std::make_shared<vxtest::FakeLine>());
  EXPECT_EQ(t->Run(&silent), vx::mbresult::kTimeout);
  ui.PumpPending();
  ASSERT_TRUE(t->GetCutOff());

  d.SetEnabled(false);
  EXPECT_TRUE(t->GetCutOff()) << "disabling leaves the cut-off";
  d.SetEnabled(true);
  EXPECT_FALSE(t->GetCutOff());
  EXPECT_EQ(t->GetTimeoutCount(), 0);
}

}  // namespace
