// The connection thread against a scripted server component: the test's main thread
// plays the user-interface thread and pumps the hand-overs and messages.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../platform/watchdog.h"
#include "mbenginekit.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"

namespace {

using namespace std::chrono_literals;
using vxtest::Bytes;
using vxtest::FakeLine;
namespace mbr = vx::mbresult;

constexpr auto kLong = std::chrono::milliseconds(vxtest::kGenerous);

class ThreadTest : public ::testing::Test {
 protected:
  ThreadTest() { NewSetup(); }

  // A valid serial setup whose reported connection states are recorded.
  void NewSetup() {
    setup.reset();
    states.clear();
    setup = std::make_unique<TkoMBThreadSetup>();
    setup->SetThreadName("COM1");
    setup->OnStateChange = [this](TkoMBThreadSetup* s, TkoMBObject* obj) {
      if (obj == static_cast<TkoMBObject*>(s)) states.push_back(s->GetState());
    };
  }

  bool PumpUntil(const std::function<bool()>& done) { return ui.PumpUntil(done, kLong); }
  // Waits until the state change has been reported on the user-interface thread.
  bool WaitState(int state) {
    return PumpUntil([&] { return !states.empty() && states.back() == state; });
  }
  // Lets the worker complete n more cycles.
  void WaitCycles(int n) {
    TkoMBThread* t = setup->GetThread();
    const auto target = t->GetCycleCount() + n;
    ASSERT_TRUE(PumpUntil([&] { return t->GetCycleCount() >= target; }));
  }
  void GoOnline() {
    setup->SetEnabled(true);
    setup->SetOnLine(true);
    ASSERT_TRUE(WaitState(TkoMBThread::stRunning));
  }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  vxtest::ScopedFakeServer fake;
  std::shared_ptr<FakeLine>& line = fake.line;
  std::unique_ptr<TkoRegDefsList> model = vxtest::SmallModel(40);
  vxtest::StandInDevice device{model.get()};
  std::vector<int> states;
  std::unique_ptr<TkoMBThreadSetup> setup;
};

TEST_F(ThreadTest, GoingOnLineOpensTheComponentWithTheSetupAndIdentifiesDevices) {
  auto* entry = new vxtest::StandInEntry("drive", 1);
  ASSERT_TRUE(setup->AddDevice(entry));
  GoOnline();
  EXPECT_EQ(states, (std::vector<int>{2, 3}));
  EXPECT_EQ(entry->identifications, 1);
  EXPECT_EQ(line->With([&] { return line->puts; }),
            (std::vector<std::string>{"Open=COM1,1", "Retries=2", "RaiseError=0", "BaudRate=19200",
                                      "ComPort=1", "ByteSize=8", "FlowControl=0", "Parity=0",
                                      "SilentInterval=20", "StopBits=0", "TimeOut=500",
                                      "TransmissionMode=0", "TcpPort=502", "Host=127.0.0.1"}));
  EXPECT_EQ(setup->GetDescription(), "Port mode: COM1-19200-8N1-\r\nState: thread running");
  // A device added to a running connection is identified at once.
  auto* late = new vxtest::StandInEntry("second", 2);
  ASSERT_TRUE(setup->AddDevice(late));
  EXPECT_EQ(late->identifications, 1);
  EXPECT_EQ(entry->identifications, 1);

  setup->SetOnLine(false);
  ASSERT_TRUE(WaitState(TkoMBThread::stOffline));
  EXPECT_EQ(states, (std::vector<int>{2, 3, 4, 0}));
  EXPECT_EQ(line->Closes(), 1);
}

TEST_F(ThreadTest, DisablingARunningConnectionClosesItAndShowsDisabled) {
  GoOnline();
  setup->SetEnabled(false);
  ASSERT_TRUE(WaitState(TkoMBThread::stDisabled));
  EXPECT_EQ(states, (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(line->Closes(), 1);
}

TEST_F(ThreadTest, InvalidSetupShowsSetupErrorAndNeverOpens) {
  const std::vector<std::function<void(TkoMBThreadSetup&)>> spoil = {
      [](TkoMBThreadSetup& s) { s.SetFlowCtrl(4); },
      [](TkoMBThreadSetup& s) { s.SetConnType(0); },
      [](TkoMBThreadSetup& s) { s.SetThreadName(""); },
  };
  for (std::size_t i = 0; i < spoil.size(); ++i) {
    SCOPED_TRACE(i);
    auto s = std::make_unique<TkoMBThreadSetup>();
    s->SetThreadName("COM1");
    spoil[i](*s);
    s->SetEnabled(true);
    s->SetOnLine(true);
    EXPECT_EQ(s->GetState(), TkoMBThread::stSetupError);
    EXPECT_EQ(s->GetStateText(), "SETUPERROR");
  }
  EXPECT_EQ(line->Creates(), 0);

  // A thread that exists already shows it too, and tries nothing.
  setup->SetOnLine(true);  // running, but disabled
  ASSERT_TRUE(WaitState(TkoMBThread::stDisabled));
  setup->SetFlowCtrl(4);
  ASSERT_TRUE(WaitState(TkoMBThread::stSetupError));
  setup->SetEnabled(true);
  WaitCycles(3);
  EXPECT_EQ(setup->GetState(), TkoMBThread::stSetupError);
  EXPECT_EQ(line->Creates(), 0);
}

TEST_F(ThreadTest, AFailedOpenIsNotRetriedUntilReArmed) {
  struct Case {
    const char* what;
    std::function<void(FakeLine&)> fail;
    int state;
    int32_t error;
    int closes;
  } cases[] = {
      {"open refused", [](FakeLine& l) { l.openOk = false; }, TkoMBThread::stOpenError, -1, 0},
      {"connect refused", [](FakeLine& l) { l.connectOk = false; }, TkoMBThread::stOpenError, -1,
       1},
      {"component missing", [](FakeLine& l) { l.throwOnCreate = true; }, TkoMBThread::stNoServer,
       -4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto l = std::make_shared<FakeLine>();
    c.fail(*l);
    TkoMBThread::SetServerFactory(vxtest::FakeFactory(l));
    NewSetup();
    setup->SetEnabled(true);
    setup->SetOnLine(true);
    ASSERT_TRUE(WaitState(c.state));
    EXPECT_EQ(setup->GetThread()->GetLastError(), c.error);
    WaitCycles(3);
    EXPECT_EQ(l->Creates(), 1);
    EXPECT_EQ(l->Closes(), c.closes);

    setup->SetOnLine(false);
    ASSERT_TRUE(WaitState(TkoMBThread::stOffline));
    setup->SetOnLine(true);
    ASSERT_TRUE(WaitState(c.state));
    EXPECT_EQ(l->Creates(), 2);

    setup->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return l->Creates() == 3; }));
    setup.reset();
  }
}

TEST_F(ThreadTest, DeviceTransactionsRunEveryCycleOnlyWhileTheDeviceIsEnabled) {
  auto* read = new TkoMBReadHoldRegisters(&device, true, 2, 10);
  read->SetTermReasons(0);
  read->SetRepeatTime(1);
  read->SetEnabled(true);
  line->responder = [](const Bytes&) {
    return FakeLine::Answer{0, vxtest::ReadAnswer(1, {0, 7, 0, 9})};
  };
  GoOnline();
  setup->GetThread()->AddDevice(&device);
  ASSERT_TRUE(PumpUntil([&] { return device.responses >= 3; }));
  EXPECT_EQ(line->Queries()[0], (Bytes{1, 0x03, 0, 10, 0, 2}));
  EXPECT_EQ(device.ImageBytes(10, 2), (Bytes{0, 7, 0, 9}));

  device.enabled = false;
  WaitCycles(1);
  const auto sent = line->QueryCount();
  WaitCycles(3);
  EXPECT_EQ(line->QueryCount(), sent);
}

// Records where it was destroyed.
class TracedRead : public TkoMBReadHoldRegisters {
 public:
  TracedRead(TkoMBDevice* d, std::thread::id* destroyedOn)
      : TkoMBReadHoldRegisters(d, true, 1, 0), destroyedOn_(destroyedOn) {}
  ~TracedRead() override { *destroyedOn_ = std::this_thread::get_id(); }

 private:
  std::thread::id* destroyedOn_;
};

TEST_F(ThreadTest, AFinishedTransactionMarkedForDestructionIsDestroyedOnTheUserInterfaceThread) {
  std::thread::id destroyedOn;
  auto* once = new TracedRead(&device, &destroyedOn);
  once->SetTermReasons(TkoMBTransaction::trAlways);
  once->SetTermDestroy(true);
  line->responder = [](const Bytes&) { return FakeLine::Answer{0, vxtest::ReadAnswer(1, {0, 1})}; };
  GoOnline();
  setup->GetThread()->AddDevice(&device);
  once->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return destroyedOn != std::thread::id(); }));
  EXPECT_EQ(destroyedOn, std::this_thread::get_id());
  EXPECT_EQ(device.GetTransactions().Size(), 0u);
  EXPECT_EQ(line->QueryCount(), 1u);
}

TEST_F(ThreadTest, AOneShotThreadTransactionRunsExactlyOnce) {
  GoOnline();
  auto* version = new TkoMBDeviceVersion(setup->GetThread(), true, 0);
  line->responder = [](const Bytes&) {
    return FakeLine::Answer{0, Bytes{1, 0x41, 0, 0, 0x01, 0x36, 'E', 'V', 0, 220, 'T', 'S'}};
  };
  version->SetSlaveAddress(1);
  version->SetEnabled(true);
  EXPECT_TRUE(version->WaitFor(-1));
  WaitCycles(3);
  ui.PumpPending();
  EXPECT_EQ(line->QueryCount(), 1u);
  EXPECT_EQ(version->GetRunCount(), 1);
  EXPECT_TRUE(version->GetTerminated());
  EXPECT_EQ(version->GetState(), TkoMBTransaction::tsDisabled);
  ASSERT_TRUE(version->GetVersionValid());
  EXPECT_EQ(version->GetVersion().ToString(), "VX310-VEv220-ST");
}

TEST_F(ThreadTest, ARepeatedTransactionItsHandlerTerminatesIsDestroyedAndSendsNoMore) {
  GoOnline();
  bool destroyed = false;
  struct Traced : TkoMBDeviceVersion {
    Traced(TkoMBThread* t, bool* flag) : TkoMBDeviceVersion(t, true, 1), flag_(flag) {}
    ~Traced() override { *flag_ = true; }
    bool* flag_;
  };
  auto* version = new Traced(setup->GetThread(), &destroyed);
  version->SetSlaveAddress(1);
  version->SetTermDestroy(true);
  // An identification that gives up after a failed run (no answer on the line).
  version->OnError = [](TkoMBTransaction* t) { t->SetTerminated(true); };
  version->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return destroyed; }));
  const auto sent = line->QueryCount();
  EXPECT_GE(sent, 1u);
  WaitCycles(3);
  EXPECT_EQ(line->QueryCount(), sent);
  EXPECT_FALSE(setup->GetThread()->GetTransactions().Contains(version));
}

TEST_F(ThreadTest, VersionAnswerMustHoldExactlyFiveWords) {
  GoOnline();
  auto* version = new TkoMBDeviceVersion(setup->GetThread(), true, 0);
  version->SetSlaveAddress(1);
  struct Case {
    Bytes answer;
    int32_t result;
  } cases[] = {
      {{1, 0x41, 0, 7, 0x01, 0x36, 'E', 'V', 0, 220, 'T', 'S'}, 0},
      {{1, 0x41, 0, 7, 0x01, 0x36, 'E', 'V', 0, 220, 'T'}, mbr::kUnexpectedDataSize},
      {{1, 0x41, 0, 7, 0x01, 0x36, 'E', 'V', 0, 220, 'T', 'S', 0}, mbr::kUnexpectedDataSize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.size());
    version->SetEnabled(false);
    version->SetEnabled(true);
    auto l = std::make_shared<FakeLine>();
    vxtest::FakeServer s{l};
    l->Script({{0, c.answer}});
    EXPECT_EQ(version->Run(&s), c.result);
    EXPECT_EQ(l->Queries(), (std::vector<Bytes>{{1, 0x41}}));
    EXPECT_EQ(version->GetVersionValid(), c.result == 0);
  }
  const TkoVersionRecord v = version->GetVersion();
  EXPECT_EQ(v.Board, 7);
  EXPECT_EQ(v.Model, 310);
  EXPECT_EQ(v.Variant[0], 'V');
  EXPECT_EQ(v.Variant[1], 'E');
  EXPECT_EQ(v.VerMajor, 2);
  EXPECT_EQ(v.VerMinor, 2);
  EXPECT_EQ(v.VerRelease, 0);
  EXPECT_EQ(v.Suffix[0], 'S');
  EXPECT_EQ(v.Suffix[1], 'T');
  ui.PumpPending();
}

TEST_F(ThreadTest, DestroyingTheSetupInTheMiddleOfAnExchangeEndsCleanly) {
  // The exchange blocks until the setup's destructor has taken it off line, so the
  // worker is mid-cycle, holding the device's list, while the user-interface thread
  // waits for it.
  std::mutex m;
  std::condition_variable cv;
  bool inExchange = false, released = false;
  line->responder = [&](const Bytes&) {
    std::unique_lock lock(m);
    inExchange = true;
    vx::UiDispatcher::WakeUiWaiters();
    cv.wait_for(lock, kLong, [&] { return released; });
    return FakeLine::Answer{0, vxtest::ReadAnswer(1, {0, 1})};
  };
  auto* read = new TkoMBReadHoldRegisters(&device, true, 1, 0);
  read->SetTermReasons(0);
  read->SetEnabled(true);
  GoOnline();
  bool ownDestroyed = false;
  struct OwnTransa : TkoMBDeviceVersion {
    OwnTransa(TkoMBThread* t, bool* flag) : TkoMBDeviceVersion(t, true, 0), flag_(flag) {}
    ~OwnTransa() override { *flag_ = true; }
    bool* flag_;
  };
  new OwnTransa(setup->GetThread(), &ownDestroyed);
  setup->GetThread()->AddDevice(&device);
  ASSERT_TRUE(PumpUntil([&] {
    std::lock_guard guard(m);
    return inExchange;
  }));
  setup->OnSetupChange = [&](TkoMBThreadSetup* s, TkoMBObject*) {
    if (s->GetOnLine()) return;
    std::lock_guard guard(m);
    released = true;
    cv.notify_all();
  };
  {
    vxtest::Watchdog watchdog(vxtest::kGenerous, "destroying a connection setup mid-cycle");
    setup.reset();
  }
  EXPECT_TRUE(ownDestroyed) << "the end-of-thread clean-up destroys the thread's transactions";
  EXPECT_EQ(device.GetThread(), nullptr) << "and detaches its devices";
  EXPECT_TRUE(device.GetTransactions().Contains(read))
      << "device transactions stay with the device";
  EXPECT_EQ(line->Closes(), 1);
}

TEST_F(ThreadTest, ASetupDestroyedFromItsOwnThreadsNotificationDoesNotWaitForTheWorker) {
  GoOnline();
  bool ownDestroyed = false;
  struct OwnTransa : TkoMBDeviceVersion {
    OwnTransa(TkoMBThread* t, bool* flag) : TkoMBDeviceVersion(t, true, 0), flag_(flag) {}
    ~OwnTransa() override { *flag_ = true; }
    bool* flag_;
  };
  new OwnTransa(setup->GetThread(), &ownDestroyed);
  setup->GetThread()->AddDevice(&device);
  // The handler's captures live as long as the thread object does.
  auto token = std::make_shared<int>(0);
  bool cleanedUpInTime = false;
  setup->GetThread()->OnStateChange = [this, token, &ownDestroyed, &cleanedUpInTime](TkoMBThread* t,
                                                                                     TkoMBObject*) {
    if (t->GetState() != TkoMBThread::stStopping || !setup) return;
    vxtest::Watchdog watchdog(vxtest::kGenerous,
                              "destroying a setup inside its thread's hand-over");
    setup.reset();
    cleanedUpInTime = ownDestroyed && device.GetThread() == nullptr;
  };
  setup->SetEnabled(false);  // the worker reports state 4 from inside its cycle
  ASSERT_TRUE(PumpUntil([&] { return !setup; }));
  EXPECT_TRUE(cleanedUpInTime)
      << "the thread's transactions and devices go before the setup's own children";
  ASSERT_TRUE(PumpUntil([&] { return line->Closes() == 1; })) << "the worker closes the port";
  ASSERT_TRUE(PumpUntil([&] { return token.use_count() == 1; }))
      << "the abandoned thread destroys itself once its worker has ended";
}

}  // namespace
