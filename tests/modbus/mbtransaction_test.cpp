// Transactions run by hand: the test plays the worker (Run) and the user-interface
// thread (pumping the result messages), so every step is deterministic.
#include "modbus/mbtransaction.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "mbenginekit.h"
#include "platform/koexception.h"
#include "platform/queuedispatcher.h"

namespace {

using vxtest::Bytes;
using vxtest::FakeLine;
namespace mbr = vx::mbresult;
using T = TkoMBTransaction;

// The smallest kind: one request, its result.
class PlainTransa : public TkoMBTransaction {
 public:
  using TkoMBTransaction::TkoMBTransaction;
  ~PlainTransa() override { Unlink(); }
  int32_t TxRx(TkoMBServerLink* server) override {
    Query = {GetSlaveAddress(), 0x03, 0, 0, 0, 1};
    return Exchange(server);
  }
  std::string ClassName() const override { return "PlainTransa"; }
  void LoadSettings() { AnalyzeContent(); }
};

class TransaTest : public ::testing::Test {
 protected:
  // One worker cycle for t, then the user-interface thread handles what it posted.
  int32_t Cycle(TkoMBTransaction& t) {
    const int32_t r = t.Run(&server);
    ui.PumpPending();
    return r;
  }
  PlainTransa* Make(uint16_t reasons, int32_t repeat = 1) {
    auto* t = new PlainTransa(&device, true);  // owned by the device
    t->SetTermReasons(reasons);
    t->SetRepeatTime(repeat);
    return t;
  }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
  vxtest::FakeServer server{line};
  vxtest::StandInDevice device;
};

const Bytes kOk = {1, 3, 2, 0, 0};

TEST_F(TransaTest, TerminateReasonsDecideWhetherARunDisables) {
  struct Case {
    uint16_t reasons;
    int32_t result;
    bool disabled;
  } cases[] = {
      {T::trAlways, 0, true},
      {T::trAlways, mbr::kTimeout, true},
      {T::trResponse, 0, true},
      {T::trResponse, mbr::kTimeout, false},
      {T::trError, mbr::kInvalidCrc, true},
      {T::trError, 0, false},
      {T::trException, mbr::kTimeout, false},
      {T::trException, mbr::kInvalidCrc, true},
      {T::trException, mbr::FromException(2), true},
      {T::trErrTimeout, mbr::kTimeout, true},
      {T::trErrTimeout, mbr::FromException(1), false},
      {T::trErrFunc, mbr::FromException(1), true},
      {T::trErrFunc, mbr::kInvalidCrc, false},
      {T::trErrAddr, mbr::FromException(2), true},
      {T::trErrAddr, mbr::FromException(3), false},
      {T::trErrValue, mbr::FromException(3), true},
      {T::trSlaveFail, mbr::FromException(4), true},
      {T::trAcknoledge, mbr::FromException(5), true},
      {T::trSlaveBusy, mbr::FromException(6), true},
      {T::trSlaveBusy, mbr::FromException(8), false},
      {0, mbr::kTimeout, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "reasons " << c.reasons << " result " << std::hex << c.result);
    PlainTransa* t = Make(c.reasons);
    t->SetEnabled(true);
    line->Script({{c.result, c.result == 0 ? kOk : Bytes{}}});
    EXPECT_EQ(Cycle(*t), c.result);
    EXPECT_EQ(t->GetEnabled(), !c.disabled);
    EXPECT_EQ(t->GetTerminated(), c.disabled);
    EXPECT_EQ(t->GetState(), c.disabled ? T::tsDisabled : (c.result ? T::tsError : T::tsRunning));
    delete t;
  }
}

TEST_F(TransaTest, DueAtTheNextCycleThenEveryRepeatTime) {
  PlainTransa* t = Make(0, 3);
  for (int i = 0; i < 2; ++i) Cycle(*t);
  EXPECT_EQ(line->QueryCount(), 0u) << "a disabled transaction is never due";

  t->SetEnabled(true);
  std::vector<int> sentAt;
  for (int cycle = 1; cycle <= 7; ++cycle) {
    const auto before = line->QueryCount();
    Cycle(*t);
    if (line->QueryCount() > before) sentAt.push_back(cycle);
  }
  EXPECT_EQ(sentAt, (std::vector<int>{1, 4, 7}));
}

TEST_F(TransaTest, RepeatTimeZeroIsStoredAsOne) {
  PlainTransa* t = Make(0, 5);
  t->SetRepeatTime(0);
  EXPECT_EQ(t->GetRepeatTime(), 1);
  EXPECT_EQ(t->GetInteger("setup", "repeattime", -1), 1);
}

TEST_F(TransaTest, OneShotRunsExactlyOnce) {
  PlainTransa* t = Make(T::trAlways);
  t->SetEnabled(true);
  line->responder = [](const Bytes&) { return FakeLine::Answer{0, kOk}; };
  for (int i = 0; i < 5; ++i) Cycle(*t);
  EXPECT_EQ(line->QueryCount(), 1u);
  EXPECT_EQ(t->GetRunCount(), 1);
  EXPECT_EQ(t->GetState(), T::tsDisabled);
  EXPECT_TRUE(t->GetTerminated());

  // Enabling again re-arms it for one more run.
  t->SetEnabled(true);
  EXPECT_FALSE(t->GetTerminated());
  for (int i = 0; i < 3; ++i) Cycle(*t);
  EXPECT_EQ(line->QueryCount(), 2u);
}

TEST_F(TransaTest, ThreeConsecutiveTimeoutsCutOffOtherErrorsNeitherCountNorReset) {
  device.maxFault = 3;
  PlainTransa* t = Make(0);
  t->SetEnabled(true);
  line->Script({{mbr::kTimeout, {}},
                {mbr::kInvalidCrc, {}},
                {mbr::kTimeout, {}},
                {mbr::FromException(2), {}},
                {mbr::kInvalidResponse, {}}});
  for (int i = 0; i < 5; ++i) Cycle(*t);
  EXPECT_EQ(t->GetTimeoutCount(), 2);
  EXPECT_EQ(t->GetErrorCount(), 5);
  EXPECT_FALSE(t->GetCutOff());

  const int stateChangesBefore = device.stateChanges;
  line->Script({{mbr::kTimeout, {}}});
  Cycle(*t);
  EXPECT_TRUE(t->GetCutOff());
  EXPECT_EQ(t->GetState(), T::tsCutOff);
  EXPECT_GT(device.stateChanges, stateChangesBefore);

  // A cut-off transaction sends nothing more.
  const auto sent = line->QueryCount();
  for (int i = 0; i < 3; ++i) Cycle(*t);
  EXPECT_EQ(line->QueryCount(), sent);

  // Enabling it again clears the cut-off and it runs.
  t->SetEnabled(false);
  t->SetEnabled(true);
  EXPECT_FALSE(t->GetCutOff());
  EXPECT_EQ(t->GetTimeoutCount(), 0);
  Cycle(*t);
  EXPECT_EQ(line->QueryCount(), sent + 1);
}

TEST_F(TransaTest, ASuccessResetsTheTimeoutCount) {
  device.maxFault = 3;
  PlainTransa* t = Make(0);
  t->SetEnabled(true);
  line->Script({{mbr::kTimeout, {}},
                {mbr::kTimeout, {}},
                {0, kOk},
                {mbr::kTimeout, {}},
                {mbr::kTimeout, {}}});
  for (int i = 0; i < 5; ++i) Cycle(*t);
  EXPECT_EQ(t->GetTimeoutCount(), 2);
  EXPECT_FALSE(t->GetCutOff());
}

TEST_F(TransaTest, SetMaxFaultClearsACutOff) {
  PlainTransa* t = new PlainTransa(static_cast<TkoMBDevice*>(&device), true);
  device.maxFault = 1;
  t->SetEnabled(true);
  Cycle(*t);  // times out
  ASSERT_TRUE(t->GetCutOff());
  t->SetMaxFault(5);
  EXPECT_FALSE(t->GetCutOff());
  EXPECT_EQ(t->GetTimeoutCount(), 0);
}

TEST_F(TransaTest, ExchangeSendsAtMostOnePlusRetries) {
  server.put_Retries(2);
  PlainTransa* t = Make(0);
  t->SetEnabled(true);
  EXPECT_EQ(Cycle(*t), mbr::kTimeout);
  EXPECT_EQ(line->QueryCount(), 3u);

  line->Script({{mbr::kInvalidCrc, {}}, {0, kOk}});
  EXPECT_EQ(Cycle(*t), 0);
  EXPECT_EQ(line->QueryCount(), 5u);
}

TEST_F(TransaTest, ResultsReachTheHandlersOnTheUserInterfaceThread) {
  PlainTransa* t = Make(0);
  std::vector<std::string> seen;
  t->OnError = [&](TkoMBTransaction*) { seen.push_back("error"); };
  t->OnResponse = [&](TkoMBTransaction*) { seen.push_back("response"); };
  t->SetEnabled(true);

  line->Script({{mbr::kTimeout, {}}, {0, kOk}, {0, kOk}});
  t->Run(&server);
  EXPECT_TRUE(t->GetBusy()) << "busy until the user-interface thread has handled the result";
  EXPECT_TRUE(seen.empty());
  ui.PumpPending();
  EXPECT_FALSE(t->GetBusy());
  Cycle(*t);  // the recovery is reported through OnError too
  Cycle(*t);
  EXPECT_EQ(seen, (std::vector<std::string>{"error", "error", "response", "response"}));
  EXPECT_EQ(device.errors, 1);
  EXPECT_EQ(device.responses, 2);
  EXPECT_EQ(t->GetRunCount(), 3);
  EXPECT_EQ(t->GetErrorCount(), 1);

  std::vector<int64_t> words;
  t->OnUserMessage = [&](TkoMBTransaction*, int64_t a, int64_t b) { words = {a, b}; };
  t->PostUserMessage(17, -3);
  EXPECT_TRUE(words.empty()) << "posted, not called";
  ui.PumpPending();
  EXPECT_EQ(words, (std::vector<int64_t>{17, -3}));
}

TEST_F(TransaTest, AFailingHandlerIsReportedAndTheTransactionIsNotLeftBusy) {
  std::vector<std::string> reported;
  vx::SetMBErrorReporter([&](const std::string& m) { reported.push_back(m); });
  PlainTransa* t = Make(0);
  t->OnError = [](TkoMBTransaction*) { throw std::runtime_error("handler failed"); };
  t->SetEnabled(true);
  Cycle(*t);
  vx::SetMBErrorReporter(nullptr);
  EXPECT_EQ(reported, (std::vector<std::string>{"handler failed"}));
  EXPECT_FALSE(t->GetBusy());
}

TEST_F(TransaTest, TerminateReasonKeyIsReadAsBitsInOrder) {
  struct Case {
    const char* text;
    uint16_t reasons;
  } cases[] = {
      {"1", T::trAlways},
      {"01", T::trResponse},
      {"0 1 0 0 1", T::trResponse | T::trErrTimeout},
      {"x1", T::trResponse},
      {"00000000001", T::trSlaveBusy},
      {"000000000001", 0},  // a twelfth character names no reason
      {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PlainTransa* t = Make(T::trAlways);
    t->SetValue("setup", "terminatereason", c.text);
    t->LoadSettings();
    EXPECT_EQ(t->GetTermReasons(), c.reasons);
    delete t;
  }
}

TEST_F(TransaTest, DeviceTransactionTakesItsDefaultsFromTheDevice) {
  device.repeatTime = 5;
  auto* periodic = new PlainTransa(static_cast<TkoMBDevice*>(&device), true);
  EXPECT_EQ(periodic->GetRepeatTime(), 5);
  EXPECT_EQ(periodic->GetTermReasons(), 0) << "a repeat time removes Always";
  EXPECT_EQ(periodic->GetSlaveAddress(), 1);
  EXPECT_TRUE(device.GetTransactions().Contains(periodic));
  const std::size_t listed = device.GetTransactions().Size();
  delete periodic;  // leaves the device's list (a freed pointer is not looked up)
  EXPECT_EQ(device.GetTransactions().Size(), listed - 1);

  EXPECT_THROW(PlainTransa(static_cast<TkoMBDevice*>(nullptr), true), EkoException);
  EXPECT_THROW(PlainTransa(static_cast<TkoMBThread*>(nullptr), true), EkoException);
}

TEST_F(TransaTest, DescriptionListsStateErrorAndReasons) {
  PlainTransa* t = Make(T::trResponse | T::trErrAddr, 5);
  t->SetComment("fault read");
  t->SetEnabled(true);
  Cycle(*t);  // times out
  const std::string d = t->GetDescription();
  EXPECT_EQ(d.substr(0, d.find("\r\nTime-Stamp")),
            "Slave address: 1\r\nComment      : fault read\r\nSample time  : 500ms"
            "\r\nTransa state : transaction with error\r\nLast error   : timeout, no response!");
  EXPECT_EQ(d.substr(d.find("\r\nDisable if")), "\r\nDisable if...: Response ErrAddr");
}

TEST_F(TransaTest, AHandlerMayDestroyItsTransaction) {
  struct Case {
    const char* what;
    int32_t result;
    std::function<void(T&, const T::Event&)> hook;
  } cases[] = {
      {"error handler", mbr::kTimeout, [](T& t, const T::Event& e) { t.OnError = e; }},
      {"response handler", 0, [](T& t, const T::Event& e) { t.OnResponse = e; }},
      {"state change at the cut-off", mbr::kTimeout,
       [](T& t, const T::Event& e) { t.OnStateChange = e; }},
  };
  device.maxFault = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PlainTransa* t = Make(0);
    bool destroyed = false;
    c.hook(*t, [&destroyed](T* self) {
      if (destroyed) return;
      destroyed = true;
      delete self;
    });
    t->SetEnabled(true);
    line->Script({{c.result, c.result == 0 ? kOk : Bytes{}}});
    Cycle(*t);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(device.GetTransactions().Size(), 0u);
  }
}

TEST_F(TransaTest, StateTextsCoverEveryCode) {
  const char* const texts[] = {"OFFLINE",
                               "transaction disabled",
                               "STARTING",
                               "transaction running",
                               "BREAKING",
                               "transaction with error",
                               "OPENERROR",
                               "SETUPERROR",
                               "transaction cut-off"};
  for (int code = 0; code <= 8; ++code) EXPECT_EQ(T::StateText(code), texts[code]) << code;
  EXPECT_EQ(T::StateText(9), "unknown state 9");
}

TEST_F(TransaTest, WaitForReturnsAtOnceWhenDoneAndAtMostTheWaitLimitOtherwise) {
  PlainTransa* t = Make(T::trAlways);
  EXPECT_TRUE(t->WaitFor(-1)) << "a disabled transaction is done";
  EXPECT_EQ(t->GetWaitLimit(), std::chrono::seconds(10));

  // Enabled but never run by a thread: the done event stays reset. The limit is shortened
  // so that the test does not sit out ten seconds.
  t->SetEnabled(true);
  t->SetWaitLimit(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(t->WaitFor(-1));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(290)) << "a negative time means the limit, not 0";
  EXPECT_LT(waited, std::chrono::seconds(60));
}

}  // namespace
