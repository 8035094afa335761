#include "modbus/mbthreadsetup.h"

#include <cstdio>

#include "mbwire/mbcodes.h"
#include "modbus/mbthread.h"
#include "xml/koxmlparser.h"

namespace {

constexpr const char* kSetup = "setup";

// Indexed by the codes of vx::MBParity, vx::MBStopBits and vx::MBFlowControl.
const char* ParityLetter(int32_t code) {
  static const char* const kLetters[] = {"N", "O", "E", "M", "S"};
  return code >= 0 && code < 5 ? kLetters[code] : "";
}

const char* StopBitsText(int32_t code) {
  static const char* const kTexts[] = {"1", "1.5", "2"};
  return code >= 0 && code < 3 ? kTexts[code] : "";
}

const char* FlowCtrlText(int32_t code) {
  static const char* const kTexts[] = {"", "DTR/DSR", "RTS/CTS", "",    "XON/XOFF",
                                       "", "",        "",        "RTST"};
  return code >= 0 && code < 9 ? kTexts[code] : "";
}

}  // namespace

TkoMBThreadSetup::TkoMBThreadSetup() : TkoXmlElement("modbus_connection", "") {}

TkoMBThreadSetup::~TkoMBThreadSetup() {
  if (thread_) {
    SetOnLine(false);
    if (thread_->InHandOver()) {
      // Destroyed from one of the thread's own notifications: the worker is blocked
      // until this returns, so it cannot be waited for. It is cleaned up now and left
      // to close the connection and end on its own.
      thread_.release()->Abandon();
    } else {
      thread_->Terminate();
      thread_->WaitFor(-1);
      thread_.reset();
    }
  }
  NotifySetupDel(this);
}

void TkoMBThreadSetup::AnalyzeContent() {
  {
    std::lock_guard guard(textMutex_);
    threadName_ = GetValue(kSetup, "threadname", "");
    hostName_ = GetValue(kSetup, "hostname", "127.0.0.1");
  }
  connType_ = GetInteger(kSetup, "conntype", vx::MBConnType::kSerial);
  retries_ = GetInteger(kSetup, "retries", 2);
  baudRate_ = GetInteger(kSetup, "baudrate", 19200);
  comPort_ = GetInteger(kSetup, "comport", 1);
  byteSize_ = GetInteger(kSetup, "bytesize", 8);
  flowCtrl_ = GetInteger(kSetup, "flowctrl", vx::MBFlowControl::kNone);
  parity_ = GetInteger(kSetup, "parity", vx::MBParity::kNone);
  silentInt_ = GetInteger(kSetup, "silentint", 20);
  stopBits_ = GetInteger(kSetup, "stopbits", vx::MBStopBits::kOne);
  timeOut_ = GetInteger(kSetup, "timeout", 500);
  txMode_ = GetInteger(kSetup, "txmode", vx::MBTxMode::kRtu);
  tcpIpPort_ = GetInteger(kSetup, "tcpipport", 502);
  enabled_ = GetBool(kSetup, "enabled", false);
  NotifySetupAdd(this);
}

void TkoMBThreadSetup::SetIntKey(const char* key, std::atomic<int32_t>& field, int32_t value) {
  SetInteger(kSetup, key, value);
  field = value;
  NotifySetupChange(this);
}

void TkoMBThreadSetup::SetThreadName(const std::string& value) {
  SetValue(kSetup, "threadname", value);
  {
    std::lock_guard guard(textMutex_);
    threadName_ = value;
  }
  NotifySetupChange(this);
}

void TkoMBThreadSetup::SetHostName(const std::string& value) {
  SetValue(kSetup, "hostname", value);
  {
    std::lock_guard guard(textMutex_);
    hostName_ = value;
  }
  NotifySetupChange(this);
}

void TkoMBThreadSetup::SetConnType(int32_t v) {
  SetIntKey("conntype", connType_, v);
}
void TkoMBThreadSetup::SetRetries(int32_t v) {
  SetIntKey("retries", retries_, v);
}
void TkoMBThreadSetup::SetBaudRate(int32_t v) {
  SetIntKey("baudrate", baudRate_, v);
}
void TkoMBThreadSetup::SetComPort(int32_t v) {
  SetIntKey("comport", comPort_, v);
}
void TkoMBThreadSetup::SetByteSize(int32_t v) {
  SetIntKey("bytesize", byteSize_, v);
}
void TkoMBThreadSetup::SetFlowCtrl(int32_t v) {
  SetIntKey("flowctrl", flowCtrl_, v);
}
void TkoMBThreadSetup::SetParity(int32_t v) {
  SetIntKey("parity", parity_, v);
}
void TkoMBThreadSetup::SetSilentInt(int32_t v) {
  SetIntKey("silentint", silentInt_, v);
}
void TkoMBThreadSetup::SetStopBits(int32_t v) {
  SetIntKey("stopbits", stopBits_, v);
}
void TkoMBThreadSetup::SetTimeOut(int32_t v) {
  SetIntKey("timeout", timeOut_, v);
}
void TkoMBThreadSetup::SetTxMode(int32_t v) {
  SetIntKey("txmode", txMode_, v);
}
void TkoMBThreadSetup::SetTcpIpPort(int32_t v) {
  SetIntKey("tcpipport", tcpIpPort_, v);
}

void TkoMBThreadSetup::SetEnabled(bool value) {
  SetBool(kSetup, "enabled", value);
  enabled_ = value;
  if (value && IsValid()) StartThread();
  NotifySetupChange(this);
}

void TkoMBThreadSetup::SetOnLine(bool on) {
  if (onLine_.load() == on) return;
  onLine_ = on;
  if (on && IsValid()) StartThread();
  NotifySetupChange(this);
}

std::string TkoMBThreadSetup::GetThreadName() const {
  std::lock_guard guard(textMutex_);
  return threadName_;
}

std::string TkoMBThreadSetup::GetHostName() const {
  std::lock_guard guard(textMutex_);
  return hostName_;
}

bool TkoMBThreadSetup::IsValid() const {
  if (GetThreadName().empty()) return false;
  switch (connType_.load()) {
    case 1: {
      const int32_t port = comPort_, bytes = byteSize_, flow = flowCtrl_, parity = parity_,
                    stop = stopBits_, mode = txMode_;
      return port >= 1 && port <= 8 && (bytes == 7 || bytes == 8) &&
             (flow == 0 || flow == 1 || flow == 2 || flow == 8) && parity >= 0 && parity <= 4 &&
             stop >= 0 && stop <= 2 && (mode == 0 || mode == 1);
    }
    case 2:
      return !GetHostName().empty();
    default:
      return false;
  }
}

void TkoMBThreadSetup::StartThread() {
  if (!onLine_.load()) return;
  if (!thread_) thread_ = std::make_unique<TkoMBThread>(this);
  thread_->ResetError();
  thread_->OnRunning = [this](TkoMBThread*, TkoMBThreadSetup*) { IdentifyDevices(); };
}

uint8_t TkoMBThreadSetup::GetState() const {
  if (thread_) return thread_->GetState();
  if (!IsValid()) return TkoMBThread::stSetupError;
  if (!onLine_.load()) return TkoMBThread::stOffline;
  return enabled_.load() ? TkoMBThread::stStarting : TkoMBThread::stDisabled;
}

std::string TkoMBThreadSetup::GetStateText() const {
  return TkoMBThread::GetStateText(GetState());
}

std::string TkoMBThreadSetup::GetDescription() const {
  char buf[512];
  std::string text;
  switch (connType_.load()) {
    case vx::MBConnType::kSerial:
      std::snprintf(buf, sizeof buf, "Port mode: COM%d-%d-%d%s%s-%s", comPort_.load(),
                    baudRate_.load(), byteSize_.load(), ParityLetter(parity_),
                    StopBitsText(stopBits_), FlowCtrlText(flowCtrl_));
      text = buf;
      break;
    case vx::MBConnType::kTcp:
      text = "TCP/IP: " + GetHostName() + ":" + std::to_string(tcpIpPort_.load());
      break;
    default:
      break;
  }
  return text + "\r\nState: " + GetStateText();
}

TkoMBNetworkEvents* TkoMBThreadSetup::GetNetwork() const {
  return dynamic_cast<TkoMBNetworkEvents*>(Parser());
}

template <class F>
void TkoMBThreadSetup::ForEachDevice(F&& f) const {
  for (TkoXmlElement* e = Child(); e; e = e->Next()) {
    if (!vx::SameTextAscii(e->Name(), "device")) continue;
    if (auto* d = dynamic_cast<TkoMBDeviceEntry*>(e))
      if (f(d)) return;
  }
}

int32_t TkoMBThreadSetup::GetDevCount() const {
  int32_t n = 0;
  ForEachDevice([&](TkoMBDeviceEntry*) {
    ++n;
    return false;
  });
  return n;
}

TkoMBDeviceEntry* TkoMBThreadSetup::FindDevice(const std::string& name) const {
  TkoMBDeviceEntry* found = nullptr;
  ForEachDevice([&](TkoMBDeviceEntry* d) {
    if (d->GetDeviceName() == name) found = d;
    return found != nullptr;
  });
  return found;
}

TkoMBDeviceEntry* TkoMBThreadSetup::FindDeviceAddr(int32_t address) const {
  TkoMBDeviceEntry* found = nullptr;
  ForEachDevice([&](TkoMBDeviceEntry* d) {
    if ((d->GetDeviceAddr() & 0xFF) == (address & 0xFF)) found = d;
    return found != nullptr;
  });
  return found;
}

bool TkoMBThreadSetup::IsDevMaxCount() const {
  if (devMaxCount_ != 0 && GetDevCount() >= devMaxCount_) return true;
  const TkoMBNetworkEvents* net = GetNetwork();
  return net && net->GetDevMaxCount() > 0 && net->GetDevCount() >= net->GetDevMaxCount();
}

bool TkoMBThreadSetup::AddDevice(TkoXmlElement* deviceSetup) {
  auto* entry = dynamic_cast<TkoMBDeviceEntry*>(deviceSetup);
  if (!entry) return false;
  if (IsDevMaxCount()) {
    NotifyDevMaxCount();
    return false;
  }
  if (FindDevice(entry->GetDeviceName()) || FindDeviceAddr(entry->GetDeviceAddr())) return false;
  AddChild(deviceSetup);
  NotifySetupAdd(entry);
  return true;
}

void TkoMBThreadSetup::IdentifyDevices() {
  ForEachDevice([&](TkoMBDeviceEntry* d) {
    IdentifyDevice(d);
    return false;
  });
}

void TkoMBThreadSetup::IdentifyDevice(TkoMBDeviceEntry* device) {
  if (device && device->IsValid() && device->GetEnabled() && !device->HasSlave())
    device->StartIdentification();
}

void TkoMBThreadSetup::NotifySetupAdd(TkoMBObject* obj) {
  if (GetState() == TkoMBThread::stRunning)
    if (auto* d = dynamic_cast<TkoMBDeviceEntry*>(obj)) IdentifyDevice(d);
  if (OnSetupAdd) OnSetupAdd(this, obj);
  if (auto* net = GetNetwork()) net->PerformSetupAdd(obj);
}

void TkoMBThreadSetup::NotifySetupChange(TkoMBObject* obj) {
  if (GetState() == TkoMBThread::stRunning)
    if (auto* d = dynamic_cast<TkoMBDeviceEntry*>(obj)) IdentifyDevice(d);
  if (OnSetupChange) OnSetupChange(this, obj);
  if (auto* net = GetNetwork()) net->PerformSetupChange(obj);
}

void TkoMBThreadSetup::NotifySetupDel(TkoMBObject* obj) {
  if (OnSetupDel) OnSetupDel(this, obj);
  if (auto* net = GetNetwork()) net->PerformSetupDel(obj);
}

void TkoMBThreadSetup::NotifyStateChange(TkoMBObject* obj) {
  if (OnStateChange) OnStateChange(this, obj);
  if (auto* net = GetNetwork()) net->PerformStateChange(obj);
}

void TkoMBThreadSetup::NotifyDevMaxCount() {
  if (OnDevMaxCount) OnDevMaxCount(this, this);
  if (auto* net = GetNetwork()) net->PerformOnDevMaxCount(this);
}
