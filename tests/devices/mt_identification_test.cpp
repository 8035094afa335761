// Identification on a running connection: against the drive simulator served from this
// process (the device gets its data model from the models folder and its class from the
// supported-device table), and against a scripted line for versions, answers and
// silences the simulator does not give.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "../platform/watchdog.h"
#include "devicekit.h"
#include "devices/devicesetup.h"
#include "devices/deviceslave.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "modbus/mbenginekit.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "networkfixture.h"
#include "platform/queuedispatcher.h"
#include "platform/threadbuffer.h"
#include "regmodel/register.h"
#include "sim/serveddrive.h"

namespace {

using vxtest::Bytes;
using vxtest::Line;
using vxtest::NetworkFixture;
constexpr int kComPort = 6;
const std::string kModelsDir = std::string(VX_SOURCE_DIR) + "/models/";

class IdentifyOnSim : public NetworkFixture, public ::testing::TestWithParam<Line> {
 protected:
  void SetUp() override {
    sim = std::make_unique<vxtest::ServedDrive>(GetParam(), vx::SimServerOptions{}, "devident");
    Build(kModelsDir);
    if (GetParam() == Line::kTcp) {
      conn->SetConnType(2);
      conn->SetTcpIpPort(sim->TcpPort());
    } else {
      vx::SetComPortPath(kComPort, sim->Link());
      conn->SetConnType(1);
      conn->SetComPort(kComPort);
      conn->SetBaudRate(19200);
      conn->SetParity(2);
    }
  }
  void TearDown() override {
    net.reset();
    sim.reset();
    vx::ResetComPortPaths();
  }
  // Identified, its periodic reads running without error.
  void WaitReady() {
    ASSERT_TRUE(Pump([&] { return dev->GetState() == TkoDeviceSetup::dsReady; }))
        << dev->GetStateText();
  }

  std::unique_ptr<vxtest::ServedDrive> sim;
};

TEST_P(IdentifyOnSim, TheServedDriveGetsItsDataModelAndClassAndJoinsTheThread) {
  vxtest::Watchdog watchdog(std::chrono::seconds(240), "identification");
  GoOnLine();
  WaitReady();
  TkoDeviceSlave* slave = dev->GetSlave();
  ASSERT_NE(slave, nullptr);
  EXPECT_EQ(slave->GetVersion().ToString(), "VX310v220");
  EXPECT_NE(dynamic_cast<TkoDeviceVX310*>(slave), nullptr) << typeid(*slave).name();
  ASSERT_NE(slave->DefsList(), nullptr);
  EXPECT_EQ(slave->DefsList()->FileName, kModelsDir + "VX310v220.par");
  EXPECT_EQ(slave->GetThread(), conn->GetThread());
  EXPECT_TRUE(conn->GetThread()->GetDevices().Contains(slave));
  EXPECT_EQ(log.Count("version:VX310v220"), 1);
  EXPECT_EQ(log.Count("state:slave"), 1) << "attached once";
  EXPECT_GE(log.Count("state:dev"), 1) << "the end of the identification";
  ASSERT_TRUE(Pump([&] { return IdentificationGone(); }));
  EXPECT_TRUE(dev->GetEnabled());
  EXPECT_NE(dev->GetDescription().find("Device version           : VX310v220"), std::string::npos);
}

TEST_P(IdentifyOnSim, AVersionWithoutADataModelDisablesTheSetup) {
  const vxtest::ScratchDir empty("devident_empty");
  net->SetFilePath(empty.Path());
  GoOnLine();
  ASSERT_TRUE(Pump([&] { return !dev->GetEnabled(); }));
  EXPECT_FALSE(dev->HasSlave());
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsDisabled);
  EXPECT_EQ(log.Count("noversion:VX310v220"), 1);
  EXPECT_GE(log.Count("state:dev"), 1);
  ASSERT_TRUE(Pump([&] { return IdentificationGone(); }));
  WaitCycles(3);
  EXPECT_FALSE(dev->HasSlave());
}

TEST_P(IdentifyOnSim, DirectTransfersReachTheDriveWithAndWithoutWaiting) {
  vxtest::Watchdog watchdog(std::chrono::seconds(240), "direct transfers");
  GoOnLine();
  WaitReady();
  TkoDeviceSlave* slave = dev->GetSlave();
  // The speed reference: written by the terminal, never read back cyclically.
  TkoRegister* ref = slave->RegisterAt(221);
  ASSERT_NE(ref, nullptr);
  const auto setRaw = [&](uint16_t v) {
    TkoThreadBuffer::WriteAccess access(*ref->View());
    access.data()[0] = static_cast<uint8_t>(v >> 8);
    access.data()[1] = static_cast<uint8_t>(v & 0xFF);
  };
  const auto raw = [&] {
    TkoThreadBuffer::ReadAccess access(*ref->View());
    return static_cast<uint16_t>(access.data()[0] << 8 | access.data()[1]);
  };

  setRaw(0x0123);
  EXPECT_EQ(slave->WriteRegister(221, true), 0);
  setRaw(0);
  EXPECT_EQ(slave->ReadRegister(221, true), 0);
  EXPECT_EQ(raw(), 0x0123) << "what was written came back";
  ASSERT_NE(slave->GetReadTransa(), nullptr);
  EXPECT_EQ(slave->GetReadTransa()->GetTransaName(), "ReadRegister");
  EXPECT_EQ(slave->GetReadTransa()->GetComment(), "Read a single register directly.");
  EXPECT_EQ(slave->GetWriteTransa()->GetTransaName(), "WriteRegister");
  EXPECT_EQ(slave->GetWriteTransa()->GetComment(), "Write a single register directly");

  // An address the drive does not have: the drive's exception is the result.
  EXPECT_EQ(slave->ReadRegister(50, true), vx::mbresult::FromException(2));
  EXPECT_EQ(slave->ReadReg(ref, true), 0);

  // Without waiting each call answers the previous transfer's result, and the second of
  // two quick calls waits for the first to have run before aiming the transaction anew:
  // had it not, it would answer the result from before the first.
  EXPECT_EQ(slave->ReadRegister(221, false), 0);
  EXPECT_EQ(slave->ReadRegister(50, false), 0);
  EXPECT_EQ(slave->ReadRegister(221, false), vx::mbresult::FromException(2));
  // The failed read does not make the device look faulty to the next one.
  EXPECT_EQ(slave->ReadRegister(221, true), 0);

  setRaw(0x0045);
  EXPECT_EQ(slave->WriteRegister(221, false), 0);
  EXPECT_EQ(slave->WriteRegister(221, false), 0);
  ASSERT_TRUE(slave->GetWriteTransa()->WaitFor(-1));  // the second write has run too
  setRaw(0);
  EXPECT_EQ(slave->ReadRegister(221, true), 0);
  EXPECT_EQ(raw(), 0x0045);

  // A disabled device is not ready.
  dev->SetEnabled(false);
  EXPECT_EQ(slave->ReadRegister(221, true), -11);
  EXPECT_EQ(slave->WriteRegister(221, false), -11);
}

INSTANTIATE_TEST_SUITE_P(Lines, IdentifyOnSim, ::testing::Values(Line::kTcp, Line::kRtu),
                         [](const auto& info) { return vxtest::LineName(info.param); });

// --- a scripted line ---

// A 0x41 answer: address, function, board, model, variant, version word, suffix.
Bytes VersionAnswer(uint8_t address, uint16_t board, uint16_t model, uint16_t word) {
  Bytes answer{address, 0x41};
  // No variant and no suffix characters.
  for (uint16_t w : {board, model, uint16_t{0xFFFF}, word, uint16_t{0xFFFF}}) {
    answer.push_back(static_cast<uint8_t>(w >> 8));
    answer.push_back(static_cast<uint8_t>(w & 0xFF));
  }
  return answer;
}

const char* const kSmallModel = "[0]\nName=R0\n[1]\nName=R1\n";

class IdentifyOnFake : public NetworkFixture, public ::testing::Test {
 protected:
  IdentifyOnFake() : dir("devident_fake") {}
  void Start(int32_t address = 1) {
    Build(dir.Path(), address);
    conn->SetConnType(2);
    GoOnLine();
  }
  void TearDown() override { net.reset(); }
  std::size_t VersionRequests() const {
    std::size_t n = 0;
    for (const Bytes& q : fake.line->Queries()) n += q.size() >= 2 && q[1] == 0x41;
    return n;
  }

  vxtest::ScratchDir dir;
  vxtest::ScopedFakeServer fake;
};

TEST_F(IdentifyOnFake, AVersionNoGroupClaimsGetsThePlainSlave) {
  dir.Write("vx999.par", std::string("[Versions]\nVersions=\"VX999v*\"\n") + kSmallModel);
  fake.line->responder = [](const Bytes& q) {
    return vxtest::FakeLine::Answer{0, VersionAnswer(q[0], 0, 999, 100)};
  };
  Start();
  ASSERT_TRUE(Pump([&] { return dev->HasSlave(); }));
  TkoDeviceSlave* slave = dev->GetSlave();
  EXPECT_EQ(typeid(*slave), typeid(TkoDeviceSlave));
  EXPECT_EQ(slave->GetVersion().ToString(), "VX999v100");
  EXPECT_EQ(slave->RegisterCount(), 2);
  EXPECT_EQ(slave->GetThread(), conn->GetThread());
  ASSERT_TRUE(Pump([&] { return dev->GetState() == TkoDeviceSetup::dsReady; }));
  EXPECT_EQ(VersionRequests(), 1u);
}

// Asked again who it is (after it was lost), a device that gives the same version on the
// same data model goes on as it was; another version or another data model replaces the
// slave, told first. Meanwhile the slave is held: not yet identified, passed by.
TEST_F(IdentifyOnFake, AskedAgainTheSameDeviceGoesOnAndAnotherReplacesIt) {
  dir.Write("vx999.par", std::string("[Versions]\nVersions=\"VX999v*\"\n") + kSmallModel);
  dir.Write("vx998.par", std::string("[Versions]\nVersions=\"VX998v*\"\n") + kSmallModel);
  struct Case {
    const char* name;
    uint16_t model;
    uint16_t word;
    bool replaced;
  };
  const Case cases[] = {
      {"VX999v100", 999, 100, false}, {"VX999v101", 999, 101, true}, {"VX998v100", 998, 100, true}};
  std::atomic<uint16_t> model{999};
  std::atomic<uint16_t> word{100};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    net.reset();
    model = 999;
    word = 100;
    fake.line->responder = [&](const Bytes& q) {
      return vxtest::FakeLine::Answer{0, VersionAnswer(q[0], 0, model.load(), word.load())};
    };
    Start();
    ASSERT_TRUE(Pump([&] { return dev->GetState() == TkoDeviceSetup::dsReady; }));
    const TkoDeviceSlave* first = dev->GetSlave();
    const std::size_t asked = VersionRequests();
    std::vector<std::string> replaced;
    dev->OnSlaveReplace = [&](TkoDeviceSetup*, TkoDeviceSlave* old) {
      replaced.push_back(old->GetVersion().ToString());
    };
    model = c.model;
    word = c.word;
    dev->Reidentify();
    EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsNotIdentified);
    EXPECT_FALSE(dev->GetSlave()->IsSetupEnabled()) << "the thread passes it by";
    ASSERT_TRUE(Pump(
        [&] { return VersionRequests() > asked && dev->GetState() == TkoDeviceSetup::dsReady; }));
    ASSERT_NE(dev->GetSlave(), nullptr);
    EXPECT_EQ(dev->GetSlave()->GetVersion().ToString(), c.name);
    EXPECT_EQ(replaced,
              c.replaced ? std::vector<std::string>{"VX999v100"} : std::vector<std::string>{});
    if (!c.replaced) {
      EXPECT_EQ(dev->GetSlave(), first);
    }
    EXPECT_EQ(dev->GetSlave()->GetThread(), conn->GetThread());
  }
  net.reset();  // before the answers it reads go
}

TEST_F(IdentifyOnFake, AddressZeroIsNeverIdentified) {
  dir.Write("vx999.par", std::string("[Versions]\nVersions=\"VX999v*\"\n") + kSmallModel);
  fake.line->responder = [](const Bytes& q) {
    return vxtest::FakeLine::Answer{0, VersionAnswer(q[0], 0, 999, 100)};
  };
  Start(0);
  EXPECT_FALSE(dev->IsValid());
  WaitCycles(5);
  dev->SetMaxFault(1);  // a change of a running connection's device asks again
  WaitCycles(5);
  EXPECT_EQ(VersionRequests(), 0u);
  EXPECT_FALSE(dev->HasSlave());
  EXPECT_EQ(dev->GetState(), TkoDeviceSetup::dsNotIdentified);
}

TEST_F(IdentifyOnFake, ADeviceThatAnswersLateIsStillIdentifiedByOneRequest) {
  // A default data model that is not a display's: failures go on being retried.
  dir.Write("vx999.par", std::string("[Versions]\nVersions=\"VX999v*\"\n") + kSmallModel);
  dir.Write("default.par", std::string("[Versions]\nVersions=\"VX1v*\"\n") + kSmallModel);
  std::atomic<int> asked{0};
  fake.line->responder = [&](const Bytes& q) {
    if (++asked <= 2) return vxtest::FakeLine::Answer{vx::mbresult::kTimeout, {}};
    return vxtest::FakeLine::Answer{0, VersionAnswer(q[0], 0, 999, 100)};
  };
  Build(dir.Path());
  net->SetDfltFile("default.par");
  conn->SetConnType(2);
  GoOnLine();
  ASSERT_TRUE(Pump([&] { return VersionRequests() >= 1; }));
  // Changing the device while it is being identified starts no second request.
  dev->SetRepeatTime(4);
  EXPECT_EQ(conn->GetThread()->GetTransactions().Size(), 1u);
  ASSERT_TRUE(Pump([&] { return dev->HasSlave(); }));
  EXPECT_TRUE(dev->GetEnabled()) << "the answer after failures is not taken for a second one";
  EXPECT_EQ(dev->GetSlave()->GetVersion().ToString(), "VX999v100");
  EXPECT_EQ(dev->GetSlave()->DefsList()->FileName, dir.Path() + "vx999.par");
  EXPECT_EQ(VersionRequests(), 3u);
  ASSERT_TRUE(Pump([&] { return IdentificationGone(); }));
}

TEST_F(IdentifyOnFake, ADisplayDefaultModelEndsASilentIdentification) {
  dir.Write("display.par", std::string("[Versions]\nVersions=\"DeviceQueltaLcd\"\n") + kSmallModel);
  Build(dir.Path());
  net->SetDfltFile("display.par");
  conn->SetConnType(2);
  GoOnLine();  // nobody answers on the fake line
  ASSERT_TRUE(Pump([&] { return dev->HasSlave(); }));
  TkoDeviceSlave* slave = dev->GetSlave();
  EXPECT_EQ(slave->GetVersion().ToString(), TkoVersionRecord().ToString()) << "still empty";
  EXPECT_EQ(slave->DefsList()->FileName, dir.Path() + "display.par");
  EXPECT_EQ(slave->GetThread(), conn->GetThread());
  ASSERT_TRUE(Pump([&] { return IdentificationGone(); }));
  EXPECT_EQ(VersionRequests(), 1u);
  WaitCycles(25);  // longer than the request's repeat time
  EXPECT_EQ(VersionRequests(), 1u);
}

TEST_F(IdentifyOnFake, RemovingTheSetupDuringIdentificationEndsTheRequest) {
  Start();  // silent line: the request is repeated
  ASSERT_TRUE(Pump([&] { return VersionRequests() >= 1; }));
  ASSERT_EQ(conn->GetThread()->GetTransactions().Size(), 1u);
  delete dev;  // the connection's only device
  dev = nullptr;
  ASSERT_TRUE(Pump([&] { return IdentificationGone(); }));
  const std::size_t sent = VersionRequests();
  WaitCycles(25);
  EXPECT_EQ(VersionRequests(), sent);
}

TEST_F(IdentifyOnFake, ARequestUnderWayAsksANewAddressAndEndsForAddressZero) {
  Start();  // silent line: the request is repeated every 2 s
  ASSERT_TRUE(Pump([&] { return VersionRequests() >= 1; }));
  dev->SetDeviceAddr(5);
  ASSERT_TRUE(Pump([&] {
    const auto queries = fake.line->Queries();
    return !queries.empty() && queries.back()[0] == 5 && queries.back()[1] == 0x41;
  }));
  EXPECT_EQ(conn->GetThread()->GetTransactions().Size(), 1u) << "still one request";
  dev->SetDeviceAddr(0);
  ASSERT_TRUE(Pump([&] { return IdentificationGone(); }));
  const std::size_t sent = VersionRequests();
  WaitCycles(25);
  EXPECT_EQ(VersionRequests(), sent);
  for (const Bytes& q : fake.line->Queries()) EXPECT_NE(q[0], 0) << "no broadcast";
}

}  // namespace
