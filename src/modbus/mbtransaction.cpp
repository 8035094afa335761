#include "modbus/mbtransaction.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "mbwire/mbresult.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "platform/koexception.h"
#include "regmodel/numberformat.h"

namespace {
constexpr const char* kSetup = "setup";
}

const char* TkoMBTransaction::TermReasonName(int bit) {
  static const char* const kNames[kTermReasonCount] = {
      "Always",  "Response", "Error",     "Exception",  "ErrTimeout", "ErrFunc",
      "ErrAddr", "ErrValue", "SlaveFail", "Acknoledge", "SlaveBusy"};
  return bit >= 0 && bit < kTermReasonCount ? kNames[bit] : "";
}

std::string TkoMBTransaction::StateText(int code) {
  static const char* const kTexts[] = {"OFFLINE",
                                       "transaction disabled",
                                       "STARTING",
                                       "transaction running",
                                       "BREAKING",
                                       "transaction with error",
                                       "OPENERROR",
                                       "SETUPERROR",
                                       "transaction cut-off"};
  if (code >= 0 && code <= 8) return kTexts[code];
  char buf[40];
  std::snprintf(buf, sizeof buf, "unknown state %d", code);
  return buf;
}

TkoMBTransaction::TkoMBTransaction(TkoMBDevice* device, bool system)
    : TkoXmlElement("transaction", ""),
      window_([this](const vx::Message& m) { HandleMessage(m); }),
      device_(device) {
  if (!device)
    throw EkoException("You must specify a valid TkoDeviceSlave to allocate a new transaction!");
  Init(system);
  slaveAddress_ = device->GetSlaveAddress();
  repeatTime_ = device->GetDefaultRepeatTime();
  if (repeatTime_.load() != 0) termReasons_ = termReasons_.load() & ~trAlways;
  device->AddTransa(this);
  linked_ = true;
}

TkoMBTransaction::TkoMBTransaction(TkoMBThread* thread, bool system)
    : TkoXmlElement("transaction", ""),
      window_([this](const vx::Message& m) { HandleMessage(m); }),
      thread_(thread) {
  if (!thread)
    throw EkoException("You must specify a valid TkoMBThread to allocate a new transaction!");
  Init(system);
  thread->AddTransa(this);
  linked_ = true;
}

void TkoMBTransaction::Init(bool system) {
  system_ = system;
  timeStamp_ = vx::Now();
}

TkoMBTransaction::~TkoMBTransaction() {
  Unlink();
  NotifyStateChange();
}

void TkoMBTransaction::Unlink() {
  if (!linked_) return;
  linked_ = false;
  if (device_)
    device_->RemoveTransa(this);
  else
    thread_->RemoveTransa(this);
}

void TkoMBTransaction::AnalyzeContent() {
  transaName_ = GetValue(kSetup, "transaname", "");
  comment_ = GetValue(kSetup, "comment", "");
  slaveAddress_ = static_cast<uint8_t>(GetInteger(kSetup, "slaveaddress", 0));
  repeatTime_ = GetInteger(kSetup, "repeattime", 0);
  enabled_ = GetBool(kSetup, "enabled", false);
  // Up to eleven characters for bits 0..10, blanks skipped; only "1" sets a bit.
  const std::string reasons = GetValue(kSetup, "terminatereason", "");
  uint16_t bits = 0;
  int bit = 0;
  for (char c : reasons) {
    if (bit >= kTermReasonCount) break;
    if (c == ' ') continue;
    if (c == '1') bits = static_cast<uint16_t>(bits | (1u << bit));
    ++bit;
  }
  termReasons_ = bits;
  termDestroy_ = GetBool(kSetup, "termdestroy", false);
  maxFault_ = GetInteger(kSetup, "maxfault", 0);
}

int TkoMBTransaction::EditDlg(int) {
  return 1;
}

TkoMBThread* TkoMBTransaction::GetThread() const {
  return device_ ? device_->GetThread() : thread_;
}

uint8_t TkoMBTransaction::GetSlaveAddress() const {
  return device_ ? device_->GetSlaveAddress() : slaveAddress_.load();
}

int32_t TkoMBTransaction::GetMaxFault() const {
  return device_ ? device_->GetMaxFault() : maxFault_;
}

void TkoMBTransaction::SetTransaName(const std::string& value) {
  SetValue(kSetup, "transaname", value);
  transaName_ = value;
  NotifySetupChange();
}

void TkoMBTransaction::SetComment(const std::string& value) {
  SetValue(kSetup, "comment", value);
  comment_ = value;
  NotifySetupChange();
}

void TkoMBTransaction::SetSlaveAddress(uint8_t address) {
  if (!GetThread() || address == slaveAddress_.load()) return;
  SetInteger(kSetup, "slaveaddress", address);
  slaveAddress_ = address;
  NotifySetupChange();
}

void TkoMBTransaction::SetRepeatTime(int32_t cycles) {
  if (cycles == 0) cycles = 1;
  SetInteger(kSetup, "repeattime", cycles);
  repeatTime_ = cycles;
  countDown_ = 0;
  NotifySetupChange();
}

void TkoMBTransaction::SetTermDestroy(bool value) {
  SetBool(kSetup, "termdestroy", value);
  termDestroy_ = value;
  NotifySetupChange();
}

void TkoMBTransaction::SetMaxFault(int32_t value) {
  SetInteger(kSetup, "maxfault", value);
  maxFault_ = value;
  timeoutCount_ = 0;
  if (cutOff_.exchange(false)) NotifyStateChange();
  NotifySetupChange();
}

void TkoMBTransaction::SetEnabled(bool enabled) {
  if (enabled_.load() == enabled) return;
  if (enabled) {
    ResetFault();
    done_.Reset();
  } else {
    countDown_ = 0;
    done_.Set();
  }
  SetBool(kSetup, "enabled", enabled);
  enabled_ = enabled;
  terminated_ = false;
  NotifySetupChange();
}

void TkoMBTransaction::SetTerminated(bool value) {
  if (value) {
    // Disabled first: a run on the worker sets Terminated from Enabled.
    enabled_ = false;
    countDown_ = 0;
    done_.Set();
  }
  terminated_ = value;
}

bool TkoMBTransaction::IsDue() {
  if (!enabled_.load()) return false;
  uint32_t left = countDown_.load();
  if (left > 0) {
    --left;
    countDown_ = left;
    if (left > 0) return false;
  }
  const int32_t repeat = repeatTime_.load();
  countDown_ = repeat > 0 ? static_cast<uint32_t>(repeat) : 0u;
  return true;
}

int32_t TkoMBTransaction::Run(TkoMBServerLink* server) {
  if (!IsDue() || cutOff_.load()) return 0;
  done_.Reset();
  busy_ = true;
  int32_t result;
  try {
    result = TxRx(server);
  } catch (...) {
    // Nothing may escape into the worker; a failing kind reports like any failure.
    result = vx::mbresult::kUserFunction;
  }
  if (result == 0) timeStamp_ = vx::Now();
  changed_ = result != lastError_.load();
  lastError_ = result;
  CheckTerminate();
  if (!window_.Post(vx::Message{kMsgResult, 0, 0})) busy_ = false;  // nobody to handle it
  done_.Set();
  return result;
}

void TkoMBTransaction::CheckTerminate() {
  const uint16_t reasons = termReasons_.load();
  const int32_t error = lastError_.load();
  bool disable = false;
  if (reasons & trAlways) {
    disable = true;
  } else if (error == 0) {
    disable = (reasons & trResponse) != 0;
  } else if ((reasons & trError) || ((reasons & trException) && error != vx::mbresult::kTimeout)) {
    disable = true;
  } else {
    struct Rule {
      int32_t code;
      uint16_t bit;
    };
    static const Rule kRules[] = {
        {vx::mbresult::kTimeout, trErrTimeout},
        {vx::mbresult::FromException(1), trErrFunc},
        {vx::mbresult::FromException(2), trErrAddr},
        {vx::mbresult::FromException(3), trErrValue},
        {vx::mbresult::FromException(4), trSlaveFail},
        {vx::mbresult::FromException(5), trAcknoledge},
        {vx::mbresult::FromException(6), trSlaveBusy},
    };
    for (const Rule& r : kRules)
      if (error == r.code) disable = (reasons & r.bit) != 0;
  }
  if (disable) enabled_ = false;
  const bool enabled = enabled_.load();
  if (!enabled) countDown_ = 0;
  terminated_ = !enabled;
}

int32_t TkoMBTransaction::Exchange(TkoMBServerLink* server) {
  Response.clear();
  if (!server) return vx::mbresult::kPortNotInitialized;
  int failed = 0;
  for (;;) {
    Response.clear();
    const int32_t result =
        server->TxRxMessage(Query, static_cast<int16_t>(Query.size()), 0, Response);
    if (result == 0) return 0;
    ++failed;
    if (failed > server->get_Retries()) return result;
  }
}

bool TkoMBTransaction::WaitFor(int ms) {
  return done_.WaitFor(ms < 0 ? waitLimit_ : std::chrono::milliseconds(ms));
}

void TkoMBTransaction::PostUserMessage(int64_t first, int64_t second) {
  (void)window_.Post(vx::Message{kMsgUser, first, second});
}

void TkoMBTransaction::HandleMessage(const vx::Message& message) {
  try {
    if (message.Code == kMsgResult) {
      HandleResult();
    } else if (message.Code == kMsgUser) {
      if (auto onUserMessage = OnUserMessage) onUserMessage(this, message.First, message.Second);
    }
  } catch (const std::exception& e) {
    vx::ReportMBError(e.what());
  } catch (...) {
    vx::ReportMBError("unknown error in a transaction handler");
  }
}

void TkoMBTransaction::HandleResult() {
  // A handler may destroy the transaction (its connection or device taken down from
  // inside one): nothing of it is touched once it is gone. Handlers are called through
  // copies, which outlive a slot destroyed meanwhile.
  const std::weak_ptr<const int> life = life_;
  const auto gone = [&life] { return life.expired(); };
  // Busy is cleared even when a handler fails: a transaction left busy would never be
  // released by its thread.
  struct ClearBusy {
    TkoMBTransaction* self;
    const std::weak_ptr<const int>& life;
    ~ClearBusy() {
      if (!life.expired()) self->busy_ = false;
    }
  } clearBusy{this, life};
  ++runCount_;
  if (lastError_.load() != 0) {
    CountFault();
    if (gone()) return;
    if (Event onError = OnError) onError(this);
    if (gone()) return;
    if (device_)
      device_->DoTransaError(this);
    else
      thread_->DoTransaError(this);
  } else {
    if (changed_.load() && OnError) {
      Event onError = OnError;
      onError(this);  // reports the recovery
      if (gone()) return;
    }
    ResetFault();
    if (gone()) return;
    if (Event onResponse = OnResponse) onResponse(this);
    if (gone()) return;
    if (device_)
      device_->DoTransaResponse(this);
    else
      thread_->DoTransaResponse(this);
  }
  if (gone()) return;
  if (changed_.load() || !enabled_.load()) NotifyStateChange();
}

void TkoMBTransaction::CountFault() {
  ++errorCount_;
  if (lastError_.load() == vx::mbresult::kTimeout) ++timeoutCount_;
  const int32_t maxFault = GetMaxFault();
  if (maxFault > 0 && timeoutCount_ >= maxFault && !cutOff_.load()) {
    cutOff_ = true;
    NotifyStateChange();
  }
}

void TkoMBTransaction::ResetFault() {
  timeoutCount_ = 0;
  if (cutOff_.exchange(false)) NotifyStateChange();
}

uint8_t TkoMBTransaction::GetState() const {
  if (!enabled_.load()) return tsDisabled;
  if (cutOff_.load()) return tsCutOff;
  if (lastError_.load() != 0) return tsError;
  return tsRunning;
}

void TkoMBTransaction::SetDefaultName() {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s[%d]", ClassName().c_str(), GetSlaveAddress());
  SetNameQuietly(buf);
}

std::string TkoMBTransaction::GetDescription() const {
  char buf[64];
  std::string text;
  std::snprintf(buf, sizeof buf, "Slave address: %d", GetSlaveAddress());
  text += buf;
  text += "\r\nComment      : " + comment_;
  std::snprintf(buf, sizeof buf, "\r\nSample time  : %dms", repeatTime_.load() * 100);
  text += buf;
  text += "\r\nTransa state : " + GetStateText();
  text += "\r\nLast error   : " + TkoMBThread::GetErrorText(lastError_.load());
  text += "\r\nTime-Stamp   : " + vx::FormatDateTime("", timeStamp_.load());
  const uint16_t reasons = termReasons_.load();
  if (reasons != 0) {
    text += "\r\nDisable if...:";
    for (int bit = 0; bit < kTermReasonCount; ++bit)
      if (reasons & (1u << bit)) text += std::string(" ") + TermReasonName(bit);
  }
  return text;
}

void TkoMBTransaction::NotifySetupChange() {
  if (OnSetupChange) OnSetupChange(this);
  if (device_)
    device_->NotifySetupChange(this);
  else if (TkoMBThreadSetup* setup = thread_ ? thread_->GetSetup() : nullptr)
    setup->NotifySetupChange(this);
}

void TkoMBTransaction::NotifyStateChange() {
  const std::weak_ptr<const int> life = life_;
  if (Event onStateChange = OnStateChange) onStateChange(this);
  if (life.expired()) return;
  if (device_)
    device_->DoStateChange(this);
  else if (thread_)
    thread_->DoStateChange(this);
}

void vx::DeleteTransactions(TkoMBTransaList& list) {
  for (;;) {
    TkoMBTransaction* t = nullptr;
    {
      auto pass = list.Lock();
      if (pass.Size() == 0) break;
      t = pass[pass.Size() - 1];
    }
    delete t;
    list.Remove(t);  // in case a destructor failed to unlink it
  }
}
