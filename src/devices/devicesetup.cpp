#include "devices/devicesetup.h"

#include <cstdio>
#include <exception>

#include "devices/devicefactory.h"
#include "devices/deviceslave.h"
#include "devices/mbnetwork.h"
#include "devices/supporteddevices.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "regmodel/dmcollection.h"
#include "regmodel/regdefslist.h"

namespace {

constexpr const char* kSetup = "setup";
constexpr const char* kQueltaLcdClass = "TkoDeviceQueltaLcd";

std::string Field(const char* label, const std::string& value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%-25s: ", label);
  return buf + value;
}

}  // namespace

std::string TkoDeviceSetup::StateText(int code) {
  static const char* const kTexts[] = {"OFFLINE",
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
  if (code >= 0 && code <= 10) return kTexts[code];
  char buf[32];
  std::snprintf(buf, sizeof buf, "unknown state %d", code);
  return buf;
}

TkoDeviceSetup::TkoDeviceSetup() : TkoXmlElement("device", "") {}

TkoDeviceSetup::~TkoDeviceSetup() {
  EndIdentification();
  DestroySlave();
  NotifySetupDel(this);
}

void TkoDeviceSetup::AnalyzeContent() {
  deviceName_ = GetValue(kSetup, "devicename", "");
  // The low byte, as the setter keeps it: 256 would otherwise pass for a valid
  // address and go out as a broadcast.
  deviceAddr_ = GetInteger(kSetup, "deviceaddr", 1) & 0xFF;
  repeatTime_ = GetInteger(kSetup, "repeattime", 5);
  maxFault_ = GetInteger(kSetup, "maxfault", 0);
  enabled_ = GetBool(kSetup, "enabled", false);
  NotifySetupAdd(nullptr);
}

void TkoDeviceSetup::SetIntKey(const char* key, std::atomic<int32_t>& field, int32_t value) {
  SetInteger(kSetup, key, value);
  field = value;
  NotifySetupChange(this);
}

void TkoDeviceSetup::SetDeviceName(const std::string& value) {
  SetValue(kSetup, "devicename", value);
  deviceName_ = value;
  NotifySetupChange(this);
}

void TkoDeviceSetup::SetDeviceAddr(int32_t value) {
  const int32_t address = value & 0xFF;
  // A request under way asks the new address; a broadcast is never one.
  if (identTransa_) {
    if (address == 0)
      EndIdentification();
    else
      identTransa_->SetSlaveAddress(static_cast<uint8_t>(address));
  }
  SetIntKey("deviceaddr", deviceAddr_, address);
}

void TkoDeviceSetup::SetRepeatTime(int32_t cycles) {
  SetIntKey("repeattime", repeatTime_, cycles);
}

void TkoDeviceSetup::SetMaxFault(int32_t value) {
  SetIntKey("maxfault", maxFault_, value);
}

void TkoDeviceSetup::SetEnabled(bool value) {
  if (value && slave_) slave_->ResetFaults();
  SetBool(kSetup, "enabled", value);
  enabled_ = value;
  NotifySetupChange(this);
}

void TkoDeviceSetup::SetSlave(std::unique_ptr<TkoDeviceSlave> slave) {
  if (slave_ != slave.get()) DestroySlave();
  slave_ = slave.release();
}

void TkoDeviceSetup::DestroySlave() {
  if (!slave_) return;
  // It leaves its thread while it is whole: the worker calls into a device it runs, and
  // a device class's own destructor runs before the slave's.
  slave_->SetThread(nullptr);
  delete slave_;  // clears slave_ through SlaveGone
  slave_ = nullptr;
}

void TkoDeviceSetup::SlaveGone(TkoDeviceSlave* slave) {
  if (slave_ == slave) slave_ = nullptr;
}

bool TkoDeviceSetup::IsValid() const {
  return repeatTime_.load() > 0 && deviceAddr_.load() != 0 && !deviceName_.empty();
}

TkoMBThreadSetup* TkoDeviceSetup::GetConnection() const {
  return dynamic_cast<TkoMBThreadSetup*>(Parent());
}

TkoMBNetwork* TkoDeviceSetup::GetNetwork() const {
  return dynamic_cast<TkoMBNetwork*>(Parser());
}

TkoDMCollection* TkoDeviceSetup::GetDMCollection() const {
  TkoMBNetwork* net = GetNetwork();
  return net ? net->DMCollection() : nullptr;
}

uint8_t TkoDeviceSetup::GetState() const {
  if (slave_) return slave_->GetState();
  const TkoMBThreadSetup* conn = GetConnection();
  if (!conn || conn->GetState() != TkoMBThread::stRunning) return dsOffline;
  return enabled_.load() ? dsNotIdentified : dsDisabled;
}

std::string TkoDeviceSetup::GetDescription() const {
  std::string text = Field("Dflt sample time", std::to_string(repeatTime_.load() * 100) + "ms");
  const int32_t maxFault = maxFault_.load();
  text += "\r\n" + Field("Max fault cut-off", maxFault ? std::to_string(maxFault) : "Disabled");
  text += "\r\n" + Field("Device state", GetStateText());
  if (slave_) {
    TkoRegDefsList* model = slave_->DefsList();
    text += "\r\n" + Field("Device version    ", slave_->GetVersion().ToString());
    text += "\r\n" + Field("Device description", model ? model->GetVersionDescr() : "");
    text += "\r\n" + Field("Device file       ", model ? model->FileName : "");
  }
  return text;
}

void TkoDeviceSetup::NotifySetupAdd(TkoMBObject* obj) {
  if (OnSetupAdd) OnSetupAdd(this, obj);
  if (TkoMBThreadSetup* conn = GetConnection()) conn->NotifySetupAdd(obj);
}

void TkoDeviceSetup::NotifySetupDel(TkoMBObject* obj) {
  if (OnSetupDel) OnSetupDel(this, obj);
  if (TkoMBThreadSetup* conn = GetConnection()) conn->NotifySetupDel(obj);
}

void TkoDeviceSetup::NotifySetupChange(TkoMBObject* obj) {
  if (OnSetupChange) OnSetupChange(this, obj);
  if (TkoMBThreadSetup* conn = GetConnection()) conn->NotifySetupChange(obj);
}

void TkoDeviceSetup::NotifyStateChange(TkoMBObject* obj) {
  if (OnStateChange) OnStateChange(this, obj);
  if (TkoMBThreadSetup* conn = GetConnection()) conn->NotifyStateChange(obj);
}

// ---------------------------------------------------------------------------------------
// Identification

void TkoDeviceSetup::StartIdentification() {
  TkoMBThreadSetup* conn = GetConnection();
  if (!conn || conn->GetState() != TkoMBThread::stRunning) return;
  TkoMBThread* thread = conn->GetThread();
  if (!thread) return;
  // Every change of a running connection's device asks for identification again; a
  // second request would answer after the slave exists and disable the device.
  if (identTransa_ && identTransa_->GetEnabled()) return;
  RequestVersion(thread);
}

void TkoDeviceSetup::Reidentify() {
  if (!slave_) {
    StartIdentification();
    return;
  }
  TkoMBThreadSetup* conn = GetConnection();
  TkoMBThread* thread = conn ? conn->GetThread() : nullptr;
  if (!thread || conn->GetState() != TkoMBThread::stRunning) return;
  slave_->SetPaused(true);
  if (!identTransa_ || !identTransa_->GetEnabled()) RequestVersion(thread);
  NotifyStateChange(this);
}

void TkoDeviceSetup::RequestVersion(TkoMBThread* thread) {
  EndIdentification();  // one that has ended and waits for its thread to destroy it
  auto* transa = new TkoMBDeviceVersion(thread, true, kIdentifyRepeat);
  identTransa_ = transa;
  // The thread destroys the request once answered; the destructor's state change,
  // after it has left the thread's list, tells this setup.
  transa->OnStateChange = [this](TkoMBTransaction* t) {
    if (t == identTransa_ && !t->GetThread()->HasTransa(t)) identTransa_ = nullptr;
  };
  transa->SetTransaName("CheckDevice");
  transa->SetSlaveAddress(static_cast<uint8_t>(deviceAddr_.load() & 0xFF));
  transa->SetMaxFault(0);
  transa->OnResponse = [this](TkoMBTransaction* t) { OnVersionRead(t); };
  transa->OnError = [this](TkoMBTransaction* t) { OnVersionError(t); };
  transa->OnUserMessage = nullptr;
  transa->SetTermDestroy(true);
  transa->SetEnabled(true);
}

void TkoDeviceSetup::EndIdentification() {
  TkoMBTransaction* transa = identTransa_;
  if (!transa) return;
  identTransa_ = nullptr;
  // The request belongs to the thread, which destroys it in a later cycle; nothing of it
  // may reach this setup any more.
  transa->OnResponse = nullptr;
  transa->OnError = nullptr;
  transa->OnStateChange = nullptr;
  transa->SetTerminated(true);
}

namespace {

// The data model for a version (none: the default one), or none. A data-model file that
// cannot be read counts as no data model, reported.
TkoRegDefsList* FindModel(TkoDMCollection* collection, const TkoVersionRecord* version) {
  if (!collection) return nullptr;
  try {
    return collection->FindRegDefsListFor(version);
  } catch (const std::exception& e) {
    vx::ReportMBError(e.what());
    return nullptr;
  }
}

}  // namespace

void TkoDeviceSetup::AdoptSlave(std::unique_ptr<TkoDeviceSlave> slave) {
  SetSlave(std::move(slave));
  TkoMBThreadSetup* conn = GetConnection();
  if (slave_ && conn && conn->GetThread()) slave_->SetThread(conn->GetThread());
}

void TkoDeviceSetup::OnVersionRead(TkoMBTransaction* transa) {
  auto* request = dynamic_cast<TkoMBDeviceVersion*>(transa);
  if (!request) return;
  const TkoVersionRecord version = request->GetVersion();
  TkoRegDefsList* model = FindModel(GetDMCollection(), &version);
  if (slave_ && slave_->GetPaused()) {
    if (model == slave_->DefsList() && version.ToString() == slave_->GetVersion().ToString()) {
      slave_->SetPaused(false);  // the same device: it goes on where it was
      NotifyStateChange(this);
      return;
    }
    // Another device on the same address: it is taken as a new one.
    if (OnSlaveReplace) OnSlaveReplace(this, slave_);
    DestroySlave();
  }
  if (slave_ || !model) {
    SetEnabled(false);
  } else {
    try {
      AdoptSlave(vx::CreateSlaveDevice(vx::SupportedDeviceClass(version), this, &version, model));
    } catch (const std::exception& e) {
      vx::ReportMBError(e.what());
      SetEnabled(false);
    }
  }
  NotifyStateChange(this);
}

void TkoDeviceSetup::OnVersionError(TkoMBTransaction* transa) {
  auto* request = dynamic_cast<TkoMBDeviceVersion*>(transa);
  if (!request) return;
  // Also called when an answer ends a run of failures: the answer is handled right
  // after, and a device made here would have it disable the setup.
  if (request->GetLastError() != 0) {
    TkoRegDefsList* model = slave_ ? nullptr : FindModel(GetDMCollection(), nullptr);
    if (model) {
      if (model->GetVersions() == "DeviceQueltaLcd") {
        const TkoVersionRecord version = request->GetVersion();
        try {
          AdoptSlave(vx::CreateSlaveDevice(kQueltaLcdClass, this, &version, model));
        } catch (const std::exception& e) {
          vx::ReportMBError(e.what());
        }
      }
      if (slave_) request->SetTerminated(true);
    }
  }
  NotifyStateChange(this);
}
