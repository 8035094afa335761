// The network component without threads: its tree, the device limit, on-line switching,
// the collection's fields and events, and reading a network document.
#include "devices/mbnetwork.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "devicekit.h"
#include "devices/devicesetup.h"
#include "modbus/mbthreadsetup.h"

namespace {

// Connections that are never valid start no thread.
TkoMBThreadSetup* Connection(const std::string& name) {
  auto* c = new TkoMBThreadSetup;
  c->SetThreadName(name);
  c->SetConnType(0);
  return c;
}

TkoDeviceSetup* Device(const std::string& name, int32_t address) {
  auto* d = new TkoDeviceSetup;
  d->SetDeviceName(name);
  d->SetDeviceAddr(address);
  return d;
}

TEST(MBNetwork, StartsEmptyOffLineAndWithoutLimit) {
  TkoMBNetwork net;
  EXPECT_FALSE(net.GetOnLine());
  EXPECT_EQ(net.GetDevMaxCount(), 0);
  EXPECT_EQ(net.GetDevCount(), 0) << "no root";
  EXPECT_EQ(net.IsDevMaxCount(), nullptr);
  EXPECT_EQ(net.FindMBThread(""), nullptr);
  ASSERT_NE(net.DMCollection(), nullptr);
  EXPECT_EQ(net.GetFileExt(), "par");
  EXPECT_EQ(net.GetDfltFile(), "");
}

TEST(MBNetwork, AddConnectionMakesTheRootAndRefusesADuplicateNameSilently) {
  vxtest::EventLog log;
  TkoMBNetwork net;
  net.OnNetSetupAdd = [&](TkoMBNetwork*, TkoMBObject*) { log.Add("add"); };
  net.OnNetStateChange = [&](TkoMBNetwork*, TkoMBObject*) { log.Add("state"); };
  net.OnNetSetupChange = [&](TkoMBNetwork*, TkoMBObject*) { log.Add("change"); };
  EXPECT_FALSE(net.AddConnection(nullptr));
  TkoMBThreadSetup* first = Connection("COM1");
  ASSERT_TRUE(net.AddConnection(first));
  ASSERT_NE(net.Root(), nullptr);
  EXPECT_EQ(net.Root()->Name(), "modbus_network");
  EXPECT_EQ(first->Parent(), net.Root());
  EXPECT_EQ(log.lines, (std::vector<std::string>{"add"}));
  EXPECT_EQ(net.FindMBThread("COM1"), first);
  EXPECT_EQ(net.FindMBThread("com1"), nullptr) << "names are compared exactly";

  log.lines.clear();
  std::unique_ptr<TkoMBThreadSetup> twin(Connection("COM1"));
  EXPECT_FALSE(net.AddConnection(twin.get()));
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(twin->Parent(), nullptr);
  EXPECT_EQ(net.Root()->CountChildren("", false), 1);

  TkoMBThreadSetup* second = Connection("COM2");
  ASSERT_TRUE(net.AddConnection(second));
  EXPECT_EQ(net.FindMBThread("COM2"), second);
}

TEST(MBNetwork, SetOnLineRaisesOneStateChangeAndSwitchesEveryConnection) {
  TkoMBNetwork net;
  int changes = 0;
  TkoMBObject* source = nullptr;
  net.OnNetStateChange = [&](TkoMBNetwork*, TkoMBObject* s) {
    ++changes;
    source = s;
  };
  TkoMBThreadSetup* a = Connection("A");
  ASSERT_TRUE(net.AddConnection(a));
  net.SetOnLine(true);
  net.SetOnLine(true);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(source, static_cast<TkoMBObject*>(&net));
  EXPECT_TRUE(a->GetOnLine());
  // A connection added to a network on line goes on line with it.
  TkoMBThreadSetup* b = Connection("B");
  ASSERT_TRUE(net.AddConnection(b));
  EXPECT_TRUE(b->GetOnLine());
  net.SetOnLine(false);
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE(a->GetOnLine());
  EXPECT_FALSE(b->GetOnLine());
}

TEST(MBNetwork, TheNetworkLimitRefusesAFurtherDeviceOnAnyConnection) {
  TkoMBNetwork net;
  std::vector<TkoMBThreadSetup*> refused;
  net.OnDeviceMaxCount = [&](TkoMBNetwork*, TkoMBThreadSetup* s) { refused.push_back(s); };
  TkoMBThreadSetup* a = Connection("A");
  TkoMBThreadSetup* b = Connection("B");
  ASSERT_TRUE(net.AddConnection(a));
  ASSERT_TRUE(net.AddConnection(b));
  ASSERT_TRUE(a->AddDevice(Device("d1", 1)));
  ASSERT_TRUE(b->AddDevice(Device("d2", 1)));
  EXPECT_EQ(net.GetDevCount(), 2);
  EXPECT_EQ(net.IsDevMaxCount(), nullptr) << "no limit";

  net.SetDevMaxCount(2);
  EXPECT_EQ(net.IsDevMaxCount(), a) << "the first connection in order";
  std::unique_ptr<TkoDeviceSetup> third(Device("d3", 3));
  EXPECT_FALSE(b->AddDevice(third.get()));
  EXPECT_EQ(refused, (std::vector<TkoMBThreadSetup*>{b}));
  EXPECT_EQ(net.GetDevCount(), 2);

  net.SetDevMaxCount(3);
  EXPECT_TRUE(b->AddDevice(third.release()));
  EXPECT_EQ(net.GetDevCount(), 3);
  net.SetDevMaxCount(-1);
  EXPECT_EQ(net.IsDevMaxCount(), nullptr) << "below 1 is no limit";
}

TEST(MBNetwork, TheCollectionsFieldsAndVersionEventsPassThroughTheComponent) {
  TkoMBNetwork net;
  net.SetFilePath("/tmp/models");
  net.SetFileExt("dm");
  net.SetDfltFile("default.dm");
  EXPECT_EQ(net.GetFilePath(), "/tmp/models/");
  EXPECT_EQ(net.DMCollection()->FilePath(), "/tmp/models/");
  EXPECT_EQ(net.GetFileExt(), "dm");
  EXPECT_EQ(net.DMCollection()->DfltFile, "default.dm");

  // A version no file matches: the component's handler may name the file to use.
  const vxtest::ScratchDir dir("net_versions");
  dir.Write("other.par", "[Versions]\nVersions=\"VX999v*\"\n[0]\nName=R0\n");
  dir.Write("chosen.par", "[Versions]\nVersions=\"VX998v*\"\n[0]\nName=Chosen\n");
  net.SetFilePath(dir.Path());
  net.SetFileExt("par");
  net.SetDfltFile("");
  std::string asked;
  net.OnNoVersion = [&](TkoDMCollection* sender, const TkoVersionRecord* v, std::string& file) {
    EXPECT_EQ(sender, net.DMCollection());
    asked = v->ToString();
    file = dir.Path() + "chosen.par";
  };
  int found = 0;
  net.OnVersion = [&](TkoDMCollection*, const TkoVersionRecord*, std::string&) { ++found; };
  const TkoVersionRecord version("VX310v220");
  TkoRegDefsList* model = net.DMCollection()->FindRegDefsListFor(&version);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(asked, "VX310v220");
  EXPECT_EQ(found, 1);
  EXPECT_NE(model->FindByAddress(0), nullptr);
  EXPECT_EQ(model->FindByAddress(0)->Name, "Chosen");
}

TEST(MBNetwork, ShowSupportedDeviceListHandsTheCollectionToTheApplicationsHook) {
  TkoMBNetwork net;
  net.ShowSupportedDeviceList();  // no hook: nothing happens
  TkoDMCollection* shown = nullptr;
  net.OnShowSupportedDeviceList = [&](TkoMBNetwork*, TkoDMCollection* c) { shown = c; };
  net.ShowSupportedDeviceList();
  EXPECT_EQ(shown, net.DMCollection());
}

// A network written by one component and read back by another.
TEST(MBNetwork, ReadsConnectionsAndDevicesOfADocumentIntoTheirClasses) {
  TkoMBNetwork written;
  auto* conn = new TkoMBThreadSetup;
  conn->SetThreadName("COM3");
  conn->SetComPort(3);
  conn->SetBaudRate(38400);
  ASSERT_TRUE(written.AddConnection(conn));
  auto* dev = Device("drive", 7);
  dev->SetRepeatTime(2);
  dev->SetEnabled(true);
  ASSERT_TRUE(conn->AddDevice(dev));
  ASSERT_TRUE(conn->AddDevice(Device("second", 8)));
  conn->AddChild(new TkoXmlElement("note", "free text"));
  std::tm stamp{};
  stamp.tm_year = 126;
  stamp.tm_mday = 1;
  const std::string text = written.GetXmlText(stamp);

  TkoMBNetwork read;
  vxtest::EventLog log;
  read.OnNetSetupAdd = [&](TkoMBNetwork*, TkoMBObject* o) {
    log.Add(dynamic_cast<TkoMBThreadSetup*>(o) ? "add:conn" : o ? "add:other" : "add:none");
  };
  ASSERT_TRUE(read.LoadFromBuffer(text.c_str()));
  TkoMBThreadSetup* c = read.FindMBThread("COM3");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetComPort(), 3);
  EXPECT_EQ(c->GetBaudRate(), 38400);
  EXPECT_EQ(read.GetDevCount(), 2);
  auto* d = dynamic_cast<TkoDeviceSetup*>(c->FindDevice("drive"));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->GetDeviceAddr(), 7);
  EXPECT_EQ(d->GetRepeatTime(), 2);
  EXPECT_TRUE(d->GetEnabled());
  EXPECT_EQ(d->GetConnection(), c);
  EXPECT_EQ(d->GetNetwork(), &read);
  TkoXmlElement* note = c->FindChild("note", false);
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(typeid(*note), typeid(TkoXmlElement));
  // Each device finishing its load reports an addition without source, the connection
  // one with itself.
  EXPECT_EQ(log.Count("add:conn"), 1);
  EXPECT_EQ(log.Count("add:none"), 2);

  // With room for one device only, the second is skipped and reported.
  TkoMBNetwork limited;
  limited.SetDevMaxCount(1);
  std::vector<TkoMBThreadSetup*> refused;
  limited.OnDeviceMaxCount = [&](TkoMBNetwork*, TkoMBThreadSetup* s) { refused.push_back(s); };
  ASSERT_TRUE(limited.LoadFromBuffer(text.c_str()));
  TkoMBThreadSetup* lc = limited.FindMBThread("COM3");
  ASSERT_NE(lc, nullptr);
  EXPECT_EQ(limited.GetDevCount(), 1);
  EXPECT_NE(lc->FindDevice("drive"), nullptr);
  EXPECT_EQ(lc->FindDevice("second"), nullptr);
  EXPECT_EQ(refused, (std::vector<TkoMBThreadSetup*>{lc}));
  EXPECT_NE(lc->FindChild("note", false), nullptr) << "what follows the skipped tag is read";
}

}  // namespace
