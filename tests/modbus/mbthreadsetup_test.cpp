// The connection setup without a thread: keys, validity, description, devices and the
// notifications that travel up to the network. Also the result-code texts.
#include "modbus/mbthreadsetup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mbenginekit.h"
#include "modbus/mbthread.h"
#include "xml/koxmlparser.h"

namespace {

using vxtest::StandInEntry;

// A network as far as connection setups see it: it records what reaches it.
class RecordingNetwork : public TkoXmlParser, public TkoMBNetworkEvents {
 public:
  void PerformSetupAdd(TkoMBObject* s) override { Log("add", s); }
  void PerformSetupDel(TkoMBObject* s) override { Log("del", s); }
  void PerformSetupChange(TkoMBObject* s) override { Log("change", s); }
  void PerformStateChange(TkoMBObject* s) override { Log("state", s); }
  void PerformTransaError(TkoMBTransaction*) override { log.push_back("error"); }
  void PerformTransaResponse(TkoMBTransaction*) override { log.push_back("response"); }
  void PerformOnDevMaxCount(TkoMBThreadSetup*) override { log.push_back("max"); }
  int32_t GetDevCount() const override {
    return Root() ? Root()->CountChildren("device", true) : 0;
  }
  int32_t GetDevMaxCount() const override { return devMaxCount; }

  void Log(const char* what, TkoMBObject* s) {
    log.push_back(std::string(what) + (dynamic_cast<TkoMBDeviceEntry*>(s) ? ":device" : ":setup"));
  }
  std::vector<std::string> log;
  int32_t devMaxCount = 0;
};

TkoMBThreadSetup* NamedSetup(const char* name = "COM1") {
  auto* s = new TkoMBThreadSetup;
  s->SetThreadName(name);
  return s;
}

TEST(MBThreadSetupTest, ValidityDependsOnTheConnectionType) {
  struct Case {
    const char* what;
    std::function<void(TkoMBThreadSetup&)> change;
    bool valid;
  } cases[] = {
      {"defaults with a name", [](TkoMBThreadSetup&) {}, true},
      {"no name", [](TkoMBThreadSetup& s) { s.SetThreadName(""); }, false},
      {"COM9", [](TkoMBThreadSetup& s) { s.SetComPort(9); }, false},
      {"COM0", [](TkoMBThreadSetup& s) { s.SetComPort(0); }, false},
      {"6 data bits", [](TkoMBThreadSetup& s) { s.SetByteSize(6); }, false},
      {"7 data bits", [](TkoMBThreadSetup& s) { s.SetByteSize(7); }, true},
      {"XON/XOFF", [](TkoMBThreadSetup& s) { s.SetFlowCtrl(4); }, false},
      {"RTS toggle", [](TkoMBThreadSetup& s) { s.SetFlowCtrl(8); }, true},
      {"parity 5", [](TkoMBThreadSetup& s) { s.SetParity(5); }, false},
      {"stop bits 3", [](TkoMBThreadSetup& s) { s.SetStopBits(3); }, false},
      {"ASCII", [](TkoMBThreadSetup& s) { s.SetTxMode(1); }, true},
      {"tx mode 2", [](TkoMBThreadSetup& s) { s.SetTxMode(2); }, false},
      {"baud rate is not checked", [](TkoMBThreadSetup& s) { s.SetBaudRate(-5); }, true},
      {"TCP ignores serial fields",
       [](TkoMBThreadSetup& s) {
         s.SetConnType(2);
         s.SetComPort(99);
       },
       true},
      {"TCP without host",
       [](TkoMBThreadSetup& s) {
         s.SetConnType(2);
         s.SetHostName("");
       },
       false},
      {"type 0", [](TkoMBThreadSetup& s) { s.SetConnType(0); }, false},
      {"type 3", [](TkoMBThreadSetup& s) { s.SetConnType(3); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TkoMBThreadSetup> s(NamedSetup());
    c.change(*s);
    EXPECT_EQ(s->IsValid(), c.valid);
    EXPECT_EQ(s->GetState(), c.valid ? TkoMBThread::stOffline : TkoMBThread::stSetupError);
  }
}

TEST(MBThreadSetupTest, DescriptionShowsThePortAndTheState) {
  std::unique_ptr<TkoMBThreadSetup> s(NamedSetup());
  EXPECT_EQ(s->GetDescription(), "Port mode: COM1-19200-8N1-\r\nState: thread is offline");
  s->SetComPort(3);
  s->SetBaudRate(9600);
  s->SetByteSize(7);
  s->SetParity(2);
  s->SetStopBits(1);
  s->SetFlowCtrl(2);
  EXPECT_EQ(s->GetDescription(), "Port mode: COM3-9600-7E1.5-RTS/CTS\r\nState: thread is offline");
  s->SetFlowCtrl(4);
  EXPECT_EQ(s->GetDescription(), "Port mode: COM3-9600-7E1.5-XON/XOFF\r\nState: SETUPERROR");
  s->SetConnType(2);
  s->SetHostName("10.0.0.5");
  s->SetTcpIpPort(1502);
  EXPECT_EQ(s->GetDescription(), "TCP/IP: 10.0.0.5:1502\r\nState: thread is offline");
  s->SetConnType(7);
  EXPECT_EQ(s->GetDescription(), "\r\nState: SETUPERROR");
}

TEST(MBThreadSetupTest, SettersWriteTheirKeysAndLoadingReadsThemBack) {
  std::unique_ptr<TkoMBThreadSetup> s(NamedSetup("Drive link"));
  int changes = 0;
  s->OnSetupChange = [&](TkoMBThreadSetup*, TkoMBObject*) { ++changes; };
  s->SetConnType(2);
  s->SetRetries(4);
  s->SetBaudRate(38400);
  s->SetTimeOut(250);
  s->SetHostName("drive.local");
  s->SetEnabled(true);
  EXPECT_EQ(changes, 6);
  EXPECT_EQ(s->GetValue("setup", "threadname", ""), "Drive link");
  EXPECT_EQ(s->GetInteger("setup", "baudrate", 0), 38400);
  EXPECT_EQ(s->GetValue("setup", "enabled", ""), "true");

  TkoMBThreadSetup loaded;
  int adds = 0;
  loaded.OnSetupAdd = [&](TkoMBThreadSetup*, TkoMBObject* obj) { adds += obj == &loaded; };
  for (const std::string& line : s->FindChild("setup", false)->Content()) {
    const auto eq = line.find('=');
    loaded.SetValue("setup", line.substr(0, eq), line.substr(eq + 1));
  }
  loaded.AnalyzeContent();
  EXPECT_EQ(adds, 1);
  EXPECT_EQ(loaded.GetThreadName(), "Drive link");
  EXPECT_EQ(loaded.GetConnType(), 2);
  EXPECT_EQ(loaded.GetRetries(), 4);
  EXPECT_EQ(loaded.GetBaudRate(), 38400);
  EXPECT_EQ(loaded.GetTimeOut(), 250);
  EXPECT_EQ(loaded.GetHostName(), "drive.local");
  EXPECT_TRUE(loaded.GetEnabled());
  EXPECT_EQ(loaded.GetComPort(), 1) << "a missing key gives its default";
  EXPECT_EQ(loaded.GetTcpIpPort(), 502);
}

TEST(MBThreadSetupTest, AddDeviceRefusesDuplicatesQuietly) {
  RecordingNetwork net;
  auto* s = NamedSetup();
  net.AddRoot(s);
  ASSERT_EQ(s->GetNetwork(), &net);
  int adds = 0;
  s->OnSetupAdd = [&](TkoMBThreadSetup*, TkoMBObject*) { ++adds; };

  EXPECT_TRUE(s->AddDevice(new StandInEntry("drive", 1)));
  EXPECT_EQ(adds, 1);
  EXPECT_EQ(net.log, (std::vector<std::string>{"add:device"}));

  StandInEntry sameName("drive", 2), sameAddress("other", 0x101);  // the low byte counts
  EXPECT_FALSE(s->AddDevice(&sameName));
  EXPECT_FALSE(s->AddDevice(&sameAddress));
  EXPECT_FALSE(s->AddDevice(nullptr));
  EXPECT_EQ(adds, 1);
  EXPECT_EQ(s->GetDevCount(), 1);
  EXPECT_NE(s->FindDevice("drive"), nullptr);
  EXPECT_EQ(s->FindDevice("DRIVE"), nullptr) << "names compare exactly";
  EXPECT_NE(s->FindDeviceAddr(0x201), nullptr);
}

TEST(MBThreadSetupTest, DeviceLimitsOfTheConnectionAndOfTheNetwork) {
  RecordingNetwork net;
  auto* s = NamedSetup();
  net.AddRoot(s);
  int refusals = 0;
  s->OnDevMaxCount = [&](TkoMBThreadSetup*, TkoMBThreadSetup*) { ++refusals; };

  s->SetDevMaxCount(0);  // no limit here or in the network
  for (int a = 1; a <= 5; ++a)
    EXPECT_TRUE(s->AddDevice(new StandInEntry("d" + std::to_string(a), a)));

  s->SetDevMaxCount(5);
  StandInEntry sixth("d6", 6);
  EXPECT_FALSE(s->AddDevice(&sixth));
  EXPECT_EQ(refusals, 1);

  s->SetDevMaxCount(0);
  net.devMaxCount = 5;
  EXPECT_FALSE(s->AddDevice(&sixth));
  EXPECT_EQ(refusals, 2);
  EXPECT_EQ(net.log.back(), "max");

  net.devMaxCount = 6;
  EXPECT_TRUE(s->AddDevice(new StandInEntry("d6", 6)));
}

TEST(MBThreadSetupTest, NotificationsReachTheOwnSlotThenTheNetwork) {
  RecordingNetwork net;
  auto* s = NamedSetup();
  net.AddRoot(s);
  std::vector<std::string> order;
  s->OnSetupChange = [&](TkoMBThreadSetup*, TkoMBObject*) { order.push_back("own"); };
  net.log.clear();
  s->SetRetries(1);
  s->NotifyStateChange(s);
  EXPECT_EQ(order, (std::vector<std::string>{"own"}));
  EXPECT_EQ(net.log, (std::vector<std::string>{"change:setup", "state:setup"}));
  net.log.clear();
  net.ResetAll();  // deleting the setup reports it
  EXPECT_EQ(net.log, (std::vector<std::string>{"del:setup"}));
}

TEST(MBThreadTextsTest, ResultCodesHaveTheirTexts) {
  struct Case {
    uint32_t code;
    const char* text;
  } cases[] = {
      {0x00000000u, "no error"},
      {0x00000200u, "offset error (?)"},
      {0xFFFFFFFFu, "error in ModBus connection or Port already busy!"},
      {0xFFFFFFFEu, "unexpected data size."},
      {0xFFFFFFFDu, "destination/source registers-data-buffer not defined."},
      {0xFFFFFFFCu, "MBServer ActiveX not registered!"},
      {0xFFFFFFFBu, "tried to activate TCP/IP server without a connection running."},
      {0xFFFFFFFAu, "impossible to activate TCP/IP server."},
      {0xFFFFFFF9u, "error while closing TCP/IP server."},
      {0xFFFFFFF8u, "error in user-defined function."},
      {0xFFFFFFF7u, "invalid connection setup."},
      {0xFFFFFFF6u, "invalid device setup."},
      {0xFFFFFFF5u, "timeout on wait transaction."},
      {0x80040201u, "timeout, no response!"},
      {0x80040202u, "invalid response!"},
      {0x80040203u, "invalid CRC!"},
      {0x80040208u, "COM port write error!"},
      {0x80040209u, "COM port read error!"},
      {0x8004020Au, "COM port not initialized!"},
      {0x800405E8u, "buffer overflow"},
      {0x800405E9u, "socket error"},
      {0x800405EAu, "socket write error"},
      {0x800405EBu, "socket read error"},
      {0x800405ECu, "socket not connected"},
      {0x80048201u, "unknown function code."},
      {0x80048202u, "invalid register address."},
      {0x80048203u, "invalid data value."},
      {0x80048204u, "device in fault state."},
      {0x80048205u, "command acknoledge."},
      {0x80048206u, "slave device busy."},
      {0x80048208u, "memory check failed."},
      {0x8004820Au, "gateway can't find connection path."},
      {0x8004820Bu, "gateway can't find device."},
      {0x80040204u, "80040204h"},
      {0x80048207u, "80048207h"},
      {0xFFFFFFF4u, "FFFFFFF4h"},
      {0x0000000Au, "Ah"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TkoMBThread::GetErrorText(static_cast<int32_t>(c.code)), c.text);
  const char* const states[] = {"thread is offline",
                                "thread disabled",
                                "waiting for thread to start",
                                "thread running",
                                "waiting for thread to stop",
                                "COMMERROR",
                                "connection error, open failed",
                                "SETUPERROR",
                                "CUTOFF",
                                "connection error, MBServer not registered"};
  for (int code = 0; code <= 9; ++code)
    EXPECT_EQ(TkoMBThread::GetStateText(code), states[code]) << code;
  EXPECT_EQ(TkoMBThread::GetStateText(10), "unknown state 10");
}

}  // namespace
