#include "modbus/mbthread.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <mutex>
#include <utility>

#include "mbwire/mbcodes.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbserver.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransaction.h"
#include "platform/koexception.h"
#include "platform/uidispatch.h"

namespace {

std::mutex& FactoryMutex() {
  static std::mutex m;
  return m;
}

TkoMBServerFactory& Factory() {
  static TkoMBServerFactory f;
  return f;
}

std::unique_ptr<TkoMBServerLink> CreateServer() {
  TkoMBServerFactory f;
  {
    std::lock_guard guard(FactoryMutex());
    f = Factory();
  }
  if (!f) return vx::CreateTransportServer();
  auto server = f();
  if (!server) throw EkoException("CreateServer: Modbus server component not available!");
  return server;
}

std::mutex& ReporterMutex() {
  static std::mutex m;
  return m;
}

std::function<void(const std::string&)>& Reporter() {
  static std::function<void(const std::string&)> r;
  return r;
}

// What failed with the port or socket itself rather than with one answer: the device
// has gone (EIO, hang-up), the peer closed, or the port was never open.
bool IsPortLoss(int32_t code) {
  using namespace vx::mbresult;
  return code == kPortWriteError || code == kPortReadError || code == kPortNotInitialized ||
         code == kSocketError || code == kSocketWriteError || code == kSocketReadError ||
         code == kSocketNotConnected;
}

// The slave sent something back: an answer, an exception, or a frame spoilt on the way.
bool IsAnswer(int32_t code) {
  using namespace vx::mbresult;
  return code == kOk || IsException(code) || code == kInvalidResponse || code == kInvalidCrc ||
         code == kBufferOverflow;
}

constexpr uint32_t kMsgLineReport = 0x0400 + 3;

}  // namespace

// The thread's server as the transactions of one pass use it: every exchange's result
// goes to the thread's line watch; once the port has gone, nothing more is sent.
class TkoMBLineWatch final : public TkoMBServerLink {
 public:
  TkoMBLineWatch(TkoMBThread& thread, TkoMBServerLink& server) : thread_(thread), s_(server) {}
  int32_t TxRxMessage(const std::vector<uint8_t>& q, int16_t ql, int16_t rl,
                      std::vector<uint8_t>& r) override {
    if (thread_.portLost_) {
      r.clear();
      return vx::mbresult::kPortNotInitialized;
    }
    const int32_t result = s_.TxRxMessage(q, ql, rl, r);
    thread_.NoteExchange(result);
    return result;
  }
  bool OpenConnection(const std::string& n, int16_t t) override { return s_.OpenConnection(n, t); }
  void put_Retries(int16_t v) override { s_.put_Retries(v); }
  void put_RaiseError(bool v) override { s_.put_RaiseError(v); }
  void put_BaudRate(int32_t v) override { s_.put_BaudRate(v); }
  void put_SilentInterval(int32_t v) override { s_.put_SilentInterval(v); }
  void put_TimeOut(int32_t v) override { s_.put_TimeOut(v); }
  void put_TcpPort(int32_t v) override { s_.put_TcpPort(v); }
  void put_ComPort(int16_t v) override { s_.put_ComPort(v); }
  void put_ByteSize(int16_t v) override { s_.put_ByteSize(v); }
  void put_FlowControl(int16_t v) override { s_.put_FlowControl(v); }
  void put_Parity(int16_t v) override { s_.put_Parity(v); }
  void put_StopBits(int16_t v) override { s_.put_StopBits(v); }
  void put_TransmissionMode(int16_t v) override { s_.put_TransmissionMode(v); }
  void put_Host(const std::string& v) override { s_.put_Host(v); }
  bool Connect() override { return s_.Connect(); }
  int16_t get_Retries() override { return s_.get_Retries(); }
  void CloseConnection() override { s_.CloseConnection(); }
  std::string LastConnectError() const override { return s_.LastConnectError(); }

 private:
  TkoMBThread& thread_;
  TkoMBServerLink& s_;
};

void vx::SetMBErrorReporter(std::function<void(const std::string& message)> reporter) {
  std::lock_guard guard(ReporterMutex());
  Reporter() = std::move(reporter);
}

void vx::ReportMBError(const std::string& message) {
  std::function<void(const std::string&)> r;
  {
    std::lock_guard guard(ReporterMutex());
    r = Reporter();
  }
  if (r)
    r(message);
  else
    std::fprintf(stderr, "%s\n", message.c_str());
}

void TkoMBThread::SetServerFactory(TkoMBServerFactory factory) {
  std::lock_guard guard(FactoryMutex());
  Factory() = std::move(factory);
}

void TkoMBThread::ResetServerFactory() {
  SetServerFactory(nullptr);
}

TkoMBThread::TkoMBThread(TkoMBThreadSetup* setup)
    : setup_(setup),
      reportWindow_([this](const vx::Message&) { DeliverReports(); }),
      reaper_([this](const vx::Message&) {
        EndOfThread();  // whatever was added after the setup left
        delete this;
      }) {
  if (!setup)
    throw EkoException("You must specify a valid TkoMBThreadSetup to allocate a new thread!");
  vx::UiDispatcher::Required("TkoMBThread");
  worker_.Start([this] { Execute(); });
}

TkoMBThread::~TkoMBThread() {
  worker_.RequestTerminate();
  WaitFor(-1);
  worker_.Join();
}

// Runs fn on the user-interface thread and waits for it. An error of a handler there is
// reported and goes no further: it must neither reach nor stop the worker.
void TkoMBThread::HandOverSafely(const std::function<void()>& fn) {
  try {
    vx::HandOver([this, &fn] {
      ++handOverDepth_;
      try {
        fn();
      } catch (const std::exception& e) {
        vx::ReportMBError(e.what());
      } catch (...) {
        vx::ReportMBError("unknown error in a connection handler");
      }
      --handOverDepth_;
    });
  } catch (const std::exception& e) {
    // No dispatcher any more: the call cannot be made, and the worker must go on.
    vx::ReportMBError(e.what());
  }
}

void TkoMBThread::Abandon() {
  worker_.RequestTerminate();
  // What the worker's last hand-over would do, done while the setup and its devices
  // still exist: the thread's transactions point into them.
  EndOfThread();
  abandoned_ = true;
}

bool TkoMBThread::WaitFor(int ms) {
  if (!worker_.Started()) return true;
  std::optional<std::chrono::milliseconds> timeout;
  if (ms >= 0) timeout = std::chrono::milliseconds(ms);
  // The end-of-thread clean-up is the worker's last hand-over, so the body having
  // returned means it has run.
  return worker_.WaitFinished(timeout) && finished_.IsSet();
}

void TkoMBThread::Execute() {
  using Clock = std::chrono::steady_clock;
  for (;;) {
    const uint8_t st = state_.load();
    if (worker_.TerminateRequested() && !server_ && st != stStarting && st != stRunning &&
        st != stStopping)
      break;
    const auto start = Clock::now();
    bool opened = false;
    worker_.ClearWake();  // a device attached by now is in this pass

    if (server_) {
      if (!abandoned_.load() && setup_->GetEnabled() && setup_->GetOnLine() &&
          !worker_.TerminateRequested()) {
        std::vector<TkoMBTransaction*> pendingFree;
        if (auto* p = RunTransactions(transactions_)) pendingFree.push_back(p);
        RunDevices(pendingFree);
        FreePending(pendingFree);
        if (portLost_) {
          // The connection stays running: its devices keep their state while the port
          // is reopened.
          CloseServer();
          reopening_ = true;
          reopenTry_ = 0;
          reopenPause_ = kReopenFirst;
          reopenAt_ = Clock::now() + kReopenFirst;
        }
      } else {
        SetState(stStopping);
        CloseServer();
      }
    }
    if (!server_ && reopening_.load()) {
      if (!abandoned_.load() && setup_->IsValid() && setup_->GetOnLine() && setup_->GetEnabled() &&
          !worker_.TerminateRequested()) {
        TryReopen();
      } else {
        // Taken off line or ending: the ordinary course takes over, and a new start
        // tries to open at once.
        reopening_ = false;
        portLost_ = false;
        lastError_.store(0);
      }
    }
    if (!server_ && !reopening_.load()) {
      if (abandoned_.load()) {
        SetState(stOffline);  // the setup is gone: nothing to read, nobody to tell
      } else if (!setup_->IsValid()) {
        SetState(stSetupError);
      } else if (!setup_->GetOnLine()) {
        SetState(stOffline);
      } else if (!setup_->GetEnabled()) {
        SetState(stDisabled);
      } else if (worker_.TerminateRequested()) {
        SetState(stOffline);  // an ending thread opens nothing new
      } else if (lastError_.load() == 0) {
        // A failed open leaves LastError set: nothing is retried until the setup
        // re-arms the thread (ResetError).
        SetState(stStarting);
        if (OpenServer()) {
          SetState(stRunning);
          opened = true;
        } else {
          switch (lastError_.load()) {
            case vx::mbresult::kInvalidConnectionSetup:
              SetState(stSetupError);
              break;
            case vx::mbresult::kNotRegistered:
              SetState(stNoServer);
              break;
            default:
              SetState(stOpenError);
              break;
          }
        }
      }
    }

    cycles_.fetch_add(1);
    vx::UiDispatcher::WakeUiWaiters();
    // The first pass follows the open at once, with what the start of running has set up
    // (the identification of the devices), rather than a whole idle cycle later.
    if (opened) continue;
    // A steady clock never runs backwards, so the elapsed time is never negative. A
    // device attached meanwhile ends the idle time: its first reads (a connect's setup
    // read) need not wait for the cycle to run out.
    const auto deadline = start + kCycle;
    if (Clock::now() < deadline)
      (void)worker_.IdleUntil(deadline);
    else
      std::this_thread::yield();
  }
  if (abandoned_.load()) {
    finished_.Set();
    // Nobody waits for this worker: the object is destroyed where it was handed over,
    // after the body has returned. Without a dispatcher it cannot be, and is left.
    (void)reaper_.Post(vx::Message{});
    return;
  }
  HandOverSafely([this] { EndOfThread(); });
  finished_.Set();
  vx::UiDispatcher::WakeUiWaiters();
}

void TkoMBThread::SetState(uint8_t code) {
  if (state_.exchange(code) == code) return;
  if (code == stRunning && !abandoned_.load()) {
    HandOverSafely([this] {
      if (OnRunning) OnRunning(this, setup_);
    });
  }
  if (!abandoned_.load()) HandOverSafely([this] { DoStateChange(setup_); });
}

bool TkoMBThread::OpenServer() {
  if (server_) return false;
  if (!setup_->IsValid()) {
    lastError_.store(vx::mbresult::kInvalidConnectionSetup);
    return false;
  }
  try {
    SetOpenError(std::string());
    server_ = CreateServer();
    if (!server_->OpenConnection(setup_->GetThreadName(),
                                 static_cast<int16_t>(setup_->GetConnType()))) {
      SetOpenError(server_->LastConnectError());
      server_.reset();
      lastError_.store(vx::mbresult::kOpenFailed);
      return false;
    }
    server_->put_Retries(static_cast<int16_t>(setup_->GetRetries()));
    server_->put_RaiseError(false);
    server_->put_BaudRate(setup_->GetBaudRate());
    server_->put_ComPort(static_cast<int16_t>(setup_->GetComPort()));
    server_->put_ByteSize(static_cast<int16_t>(setup_->GetByteSize()));
    server_->put_FlowControl(static_cast<int16_t>(setup_->GetFlowCtrl()));
    server_->put_Parity(static_cast<int16_t>(setup_->GetParity()));
    server_->put_SilentInterval(setup_->GetSilentInt());
    server_->put_StopBits(static_cast<int16_t>(setup_->GetStopBits()));
    server_->put_TimeOut(setup_->GetTimeOut());
    server_->put_TransmissionMode(static_cast<int16_t>(setup_->GetTxMode()));
    server_->put_TcpPort(setup_->GetTcpIpPort());
    server_->put_Host(setup_->GetHostName());
    if (server_->Connect()) {
      lastError_.store(0);
    } else {
      SetOpenError(server_->LastConnectError());
      server_->CloseConnection();
      server_.reset();
      lastError_.store(vx::mbresult::kOpenFailed);
    }
  } catch (const std::exception& e) {
    SetOpenError(e.what());
    server_.reset();
    lastError_.store(vx::mbresult::kNotRegistered);
  } catch (...) {
    SetOpenError("the Modbus server component failed");
    server_.reset();
    lastError_.store(vx::mbresult::kNotRegistered);
  }
  return lastError_.load() == 0;
}

void TkoMBThread::CloseServer() {
  if (!server_) return;
  try {
    server_->CloseConnection();
  } catch (...) {
    // The instance goes anyway; a failing close must not stop the worker.
  }
  server_.reset();
  lastError_.store(0);
}

TkoMBTransaction* TkoMBThread::RunTransactions(TkoMBTransaList& list, bool ofDevice) {
  TkoMBTransaction* pending = nullptr;
  TkoMBLineWatch line(*this, *server_);
  list.ForEachInTurn([&](TkoMBTransaction* t) {
    if (worker_.TerminateRequested() || portLost_) return false;
    if (!pending && t->GetTermDestroy() && t->GetTerminated() && !t->GetBusy()) {
      pending = t;
    } else {
      t->Run(&line);
    }
    // A device that is leaving waits for the transaction in work only, not the pass.
    return !(ofDevice && devices_.RemovalWaiting());
  });
  return pending;
}

void TkoMBThread::RunDevices(std::vector<TkoMBTransaction*>& pendingFree) {
  devices_.ForEachInTurn([&](TkoMBDevice* device) {
    if (worker_.TerminateRequested() || portLost_) return false;
    if (device->IsSetupEnabled()) {
      if (auto* p = RunTransactions(device->GetTransactions(), true)) pendingFree.push_back(p);
    }
    return true;
  });
}

void TkoMBThread::FreePending(const std::vector<TkoMBTransaction*>& pendingFree) {
  if (pendingFree.empty()) return;
  // Handed over only once every list lock is released: the user-interface thread may
  // itself be waiting for one of them (a device leaving the thread). A transaction is
  // destroyed only if its list still holds it, since its device may have gone meanwhile.
  HandOverSafely([this, &pendingFree] {
    for (TkoMBTransaction* t : pendingFree) {
      bool held = transactions_.Contains(t);
      if (!held) {
        for (TkoMBDevice* d : devices_.Snapshot()) {
          if (d->GetTransactions().Contains(t)) {
            held = true;
            break;
          }
        }
      }
      if (held) delete t;
    }
  });
}

std::string TkoMBThread::GetLastOpenError() const {
  std::lock_guard guard(textMutex_);
  return lastOpenError_;
}

void TkoMBThread::SetOpenError(const std::string& reason) {
  std::lock_guard guard(textMutex_);
  lastOpenError_ = reason;
}

void TkoMBThread::NoteExchange(int32_t result) {
  if (result == vx::mbresult::kTimeout) {
    if (lineSeen_ == 2) return;
    lineSeen_ = 2;
    LineReport r;
    r.kind = LineReport::Kind::Silent;
    r.Code = result;
    Report(std::move(r));
  } else if (IsPortLoss(result)) {
    if (portLost_) return;
    portLost_ = true;
    reopening_ = true;  // closed and reopened once the pass is over
    lineSeen_ = 2;
    LineReport r;
    r.kind = LineReport::Kind::PortLost;
    r.Code = result;
    r.Text = setup_->GetThreadName() + ": " + GetErrorText(result);
    Report(std::move(r));
  } else if (IsAnswer(result)) {
    if (lineSeen_ == 1) return;
    lineSeen_ = 1;
    Report(LineReport{});
  }
}

void TkoMBThread::TryReopen() {
  const auto now = std::chrono::steady_clock::now();
  if (now < reopenAt_) return;
  LineReport r;
  r.Try = ++reopenTry_;
  if (OpenServer()) {
    reopening_ = false;
    portLost_ = false;
    lineSeen_ = 0;  // the next answer is news
    r.kind = LineReport::Kind::Reopened;
    r.Text = setup_->GetThreadName();
  } else {
    r.kind = LineReport::Kind::ReopenFailed;
    r.Code = lastError_.load();
    r.Text = GetLastOpenError();
    lastError_.store(0);  // the failure belongs to this try; the next one is due later
    reopenAt_ = now + reopenPause_;
    reopenPause_ = std::min(reopenPause_ * 2, std::chrono::milliseconds(kReopenMax));
  }
  Report(std::move(r));
}

void TkoMBThread::Report(LineReport report) {
  if (abandoned_.load()) return;
  {
    std::lock_guard guard(textMutex_);
    reports_.push_back(std::move(report));
  }
  (void)reportWindow_.Post(vx::Message{kMsgLineReport, 0, 0});
}

void TkoMBThread::DeliverReports() {
  for (;;) {
    {
      std::lock_guard guard(textMutex_);
      if (reports_.empty() || abandoned_.load()) return;
      lineReport_ = std::move(reports_.front());
      reports_.pop_front();
    }
    // One message may find several reports queued; each is raised in turn.
    DoStateChange(this);
  }
}

void TkoMBThread::EndOfThread() {
  {
    auto pass = devices_.Lock();
    while (pass.Size() > 0) RemoveDevice(pass[0]);
  }
  vx::DeleteTransactions(transactions_);
}

void TkoMBThread::AddDevice(TkoMBDevice* device) {
  if (!device) return;
  if (devices_.AddUnique(device)) {
    device->SetThread(this);
    worker_.Wake();
  }
}

void TkoMBThread::RemoveDevice(TkoMBDevice* device) {
  if (!device) return;
  if (!devices_.Contains(device)) return;
  device->DetachThread();
  devices_.Remove(device);
}

void TkoMBThread::AddTransa(TkoMBTransaction* transa) {
  if (!transa) return;
  transactions_.Add(transa);
  if (!abandoned_.load()) setup_->NotifySetupAdd(transa);
}

void TkoMBThread::RemoveTransa(TkoMBTransaction* transa) {
  if (!transa) return;
  if (!transactions_.Remove(transa)) return;
  if (!abandoned_.load()) setup_->NotifySetupDel(transa);
}

bool TkoMBThread::HasTransa(TkoMBTransaction* transa) const {
  return transactions_.Contains(transa);
}

void TkoMBThread::DoTransaError(TkoMBTransaction* transa) {
  if (OnTransaError) OnTransaError(this, transa);
  if (abandoned_.load()) return;
  if (auto* net = setup_->GetNetwork()) net->PerformTransaError(transa);
}

void TkoMBThread::DoTransaResponse(TkoMBTransaction* transa) {
  if (OnTransaResponse) OnTransaResponse(this, transa);
  if (abandoned_.load()) return;
  if (auto* net = setup_->GetNetwork()) net->PerformTransaResponse(transa);
}

void TkoMBThread::DoStateChange(TkoMBObject* obj) {
  if (OnStateChange) OnStateChange(this, obj);
  if (!abandoned_.load()) setup_->NotifyStateChange(obj);
}

std::string TkoMBThread::GetStateText(int code) {
  static const char* const kTexts[] = {
      "thread is offline",
      "thread disabled",
      "waiting for thread to start",
      "thread running",
      "waiting for thread to stop",
      "COMMERROR",
      "connection error, open failed",
      "SETUPERROR",
      "CUTOFF",
      "connection error, MBServer not registered",
  };
  if (code < 0 || code > 9) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "unknown state %d", code);
    return buf;
  }
  return kTexts[code];
}

std::string TkoMBThread::GetErrorText(int32_t code) {
  namespace r = vx::mbresult;
  using vx::MBException;
  struct Entry {
    int32_t code;
    const char* text;
  };
  static constexpr Entry kTable[] = {
      {r::kOk, "no error"},
      {r::kOffsetError, "offset error (?)"},
      {r::kOpenFailed, "error in ModBus connection or Port already busy!"},
      {r::kUnexpectedDataSize, "unexpected data size."},
      {r::kNoDataBuffer, "destination/source registers-data-buffer not defined."},
      {r::kNotRegistered, "MBServer ActiveX not registered!"},
      {r::kTcpServerNoConnection, "tried to activate TCP/IP server without a connection running."},
      {r::kTcpServerActivate, "impossible to activate TCP/IP server."},
      {r::kTcpServerClose, "error while closing TCP/IP server."},
      {r::kUserFunction, "error in user-defined function."},
      {r::kInvalidConnectionSetup, "invalid connection setup."},
      {r::kInvalidDeviceSetup, "invalid device setup."},
      {r::kWaitTimeout, "timeout on wait transaction."},
      {r::kTimeout, "timeout, no response!"},
      {r::kInvalidResponse, "invalid response!"},
      {r::kInvalidCrc, "invalid CRC!"},
      {r::kPortWriteError, "COM port write error!"},
      {r::kPortReadError, "COM port read error!"},
      {r::kPortNotInitialized, "COM port not initialized!"},
      {r::kBufferOverflow, "buffer overflow"},
      {r::kSocketError, "socket error"},
      {r::kSocketWriteError, "socket write error"},
      {r::kSocketReadError, "socket read error"},
      {r::kSocketNotConnected, "socket not connected"},
      {r::FromException(MBException::kIllegalFunction), "unknown function code."},
      {r::FromException(MBException::kIllegalDataAddress), "invalid register address."},
      {r::FromException(MBException::kIllegalDataValue), "invalid data value."},
      {r::FromException(MBException::kServerDeviceFailure), "device in fault state."},
      {r::FromException(MBException::kAcknowledge), "command acknoledge."},
      {r::FromException(MBException::kServerDeviceBusy), "slave device busy."},
      {r::FromException(MBException::kMemoryParityError), "memory check failed."},
      {r::FromException(MBException::kGatewayPathUnavailable),
       "gateway can't find connection path."},
      {r::FromException(MBException::kGatewayTargetFailed), "gateway can't find device."},
  };
  for (const Entry& e : kTable)
    if (e.code == code) return e.text;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%Xh", static_cast<uint32_t>(code));
  return buf;
}
