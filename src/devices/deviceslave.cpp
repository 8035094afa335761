#include "devices/deviceslave.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "devices/devicesetup.h"
#include "mbwire/mbresult.h"
#include "modbus/mbthread.h"
#include "modbus/mbtransaction.h"
#include "modbus/mbtransakinds.h"
#include "platform/koexception.h"
#include "platform/uidispatch.h"
#include "regmodel/regblock.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"

TkoDeviceSlave::TkoDeviceSlave(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                               TkoRegDefsList* dataModel)
    : TkoRegDataBuffer(dataModel), setup_(setup) {
  if (!version) throw EkoException("You must specify a valid TkoVersionRecord!");
  if (!setup)
    throw EkoException("You must specify a valid TkoDeviceSetup to allocate a new device!");
  version_ = *version;
}

TkoDeviceSlave::~TkoDeviceSlave() {
  if (TkoMBThread* thread = thread_.load()) thread->RemoveDevice(this);
  vx::DeleteTransactions(transactions_);
  setup_->SlaveGone(this);
}

void TkoDeviceSlave::SetThread(TkoMBThread* thread) {
  TkoMBThread* old = thread_.load();
  if (old == thread) return;
  if (old) old->RemoveDevice(this);  // detaches: thread_ is none after it
  thread_ = thread;
  if (thread) thread->AddDevice(this);  // comes back here with the same thread
  DoStateChange(this);
}

void TkoDeviceSlave::DetachThread() {
  thread_ = nullptr;
  DoStateChange(this);
}

void TkoDeviceSlave::ReportDevice(std::vector<std::string>* lines) {
  auto* transa = dynamic_cast<TkoMBSimpleTransa*>(stateTransa_);
  if (transa && transa->GetReadBlocks()) ReportBlocks(transa->GetReadBlocks(), lines);
}

bool TkoDeviceSlave::IsSetupEnabled() const {
  return setup_->GetEnabled() && !paused_.load();
}

uint8_t TkoDeviceSlave::GetSlaveAddress() const {
  return static_cast<uint8_t>(setup_->GetDeviceAddr() & 0xFF);
}

int32_t TkoDeviceSlave::GetMaxFault() const {
  return setup_->GetMaxFault();
}

int32_t TkoDeviceSlave::GetDefaultRepeatTime() const {
  return setup_->GetRepeatTime();
}

void TkoDeviceSlave::AddTransa(TkoMBTransaction* transa) {
  if (!transa) return;
  transactions_.Add(transa);
  if (OnTransaAdd) OnTransaAdd(this, transa);
  setup_->NotifySetupAdd(transa);
}

void TkoDeviceSlave::RemoveTransa(TkoMBTransaction* transa) {
  if (!transa || !transactions_.Remove(transa)) return;
  if (transa == stateTransa_) stateTransa_ = nullptr;
  if (transa == readTransa_) readTransa_ = nullptr;
  if (transa == writeTransa_) writeTransa_ = nullptr;
  if (OnTransaDel) OnTransaDel(this, transa);
  setup_->NotifySetupDel(transa);
}

bool TkoDeviceSlave::HasTransa(TkoMBTransaction* transa) const {
  return transactions_.Contains(transa);
}

void TkoDeviceSlave::DoTransaError(TkoMBTransaction* transa) {
  if (OnTransaError) OnTransaError(this, transa);
  if (TkoMBThread* thread = thread_.load()) thread->DoTransaError(transa);
}

void TkoDeviceSlave::DoTransaResponse(TkoMBTransaction* transa) {
  if (OnTransaResponse) OnTransaResponse(this, transa);
  if (TkoMBThread* thread = thread_.load()) thread->DoTransaResponse(transa);
}

void TkoDeviceSlave::DoStateChange(TkoMBObject* obj) {
  if (OnStateChange) OnStateChange(this, obj);
  setup_->NotifyStateChange(obj);
}

void TkoDeviceSlave::NotifySetupChange(TkoMBObject* obj) {
  setup_->NotifySetupChange(obj);
}

uint8_t TkoDeviceSlave::GetState() const {
  const TkoMBThread* thread = thread_.load();
  if (!thread || thread->GetState() != TkoMBThread::stRunning) return TkoDeviceSetup::dsOffline;
  if (!setup_->GetEnabled()) return TkoDeviceSetup::dsDisabled;
  if (paused_.load()) return TkoDeviceSetup::dsNotIdentified;
  // The worker holds the list only between transactions, never across an exchange.
  auto pass = transactions_.Lock();
  for (TkoMBTransaction* t : pass) {
    const uint8_t state = t->GetState();
    if (state == TkoMBTransaction::tsError) return TkoDeviceSetup::dsCommError;
    if (state == TkoMBTransaction::tsCutOff) return TkoDeviceSetup::dsCutOff;
  }
  return TkoDeviceSetup::dsReady;
}

void TkoDeviceSlave::ResetFaults() {
  // Walked by index: a reset raises state changes that may reach this list again.
  auto pass = transactions_.Lock();
  for (std::size_t i = 0; i < pass.Size(); ++i) pass[i]->ResetFault();
}

void TkoDeviceSlave::SetPaused(bool paused) {
  if (paused_.exchange(paused) == paused) return;
  if (!paused) {
    // Answered again: the reads start at once, and what failed before no longer counts.
    auto pass = transactions_.Lock();
    for (std::size_t i = 0; i < pass.Size(); ++i) {
      pass[i]->ResetFault();
      if (pass[i]->GetEnabled()) pass[i]->RunSoon();
    }
  }
}

bool TkoDeviceSlave::DirectReady() const {
  const TkoMBThread* thread = thread_.load();
  return thread && thread->GetState() == TkoMBThread::stRunning;
}

namespace {

// Waits up to 10 s for the run of a direct transaction, which disables itself when it has
// run. On the user-interface thread the wait runs the dispatcher's hand-overs, whose
// handlers may destroy the device and the transaction with it; so the transaction is
// looked at only while the device lives, and its own wait (on an event inside it) is not
// used there. True when it ran and both still exist. There, a wait also ends when
// `giveUp` (asked only while the device lives) says the run will not come.
template <class Transa>
bool WaitForRun(const std::weak_ptr<const int>& life, Transa* const& transa,
                const std::function<bool()>& giveUp = {}) {
  const auto ended = [&] {
    return life.expired() || !transa || !transa->GetEnabled() || (giveUp && giveUp());
  };
  vx::UiDispatcher* ui = vx::UiDispatcher::Current();
  if (ui && ui->IsUiThread()) {
    const bool done =
        ui->WaitWhileDraining(ended, std::chrono::milliseconds(TkoDeviceSlave::kDirectWaitMs));
    return done && !life.expired() && transa && !transa->GetEnabled();
  }
  return transa->WaitFor(TkoDeviceSlave::kDirectWaitMs);
}

}  // namespace

template <class Transa, class Make, class Aim>
int32_t TkoDeviceSlave::RunDirect(Transa*& transa, Make make, Aim aim, const char* name,
                                  const char* comment, bool wait) {
  if (!DirectReady()) return kRegBufferNotReady;
  // A wait runs the thread's hand-overs, whose handlers may take this device down.
  const std::weak_ptr<const int> life = life_;
  // The previous run is waited for before the device state is looked at: until it has
  // run, a failed transfer before it would count as the device's communication error.
  if (transa && !WaitForRun(life, transa)) return kRegBufferNotReady;
  if (GetState() != TkoDeviceSetup::dsReady) return kRegBufferNotReady;
  if (!transa) transa = make();
  transa->SetTransaName(name);
  transa->SetComment(comment);
  transa->SetEnabled(false);
  aim(*transa);
  transa->SetTermReasons(
      static_cast<uint16_t>(transa->GetTermReasons() | TkoMBTransaction::trAlways));
  transa->SetEnabled(true);
  if (!wait) return transa->GetLastError();
  if (!WaitForRun(life, transa)) return kRegBufferNotReady;
  return transa->GetLastError();
}

int32_t TkoDeviceSlave::ReadRegister(uint16_t address, bool wait) {
  return RunDirect(
      readTransa_, [this, address] { return new TkoMBReadHoldRegisters(this, true, 1, address); },
      [address](TkoMBReadHoldRegisters& t) { t.SetReadAddress(address); }, "ReadRegister",
      "Read a single register directly.", wait);
}

int32_t TkoDeviceSlave::WriteRegister(uint16_t address, bool wait) {
  return RunDirect(
      writeTransa_, [this, address] { return new TkoMBWriteSingleRegister(this, true, address); },
      [address](TkoMBWriteSingleRegister& t) { t.SetWriteAddress(address); }, "WriteRegister",
      "Write a single register directly", wait);
}

int32_t TkoDeviceSlave::ReadReg(TkoRegister* reg, bool wait) {
  // A register of another image would be read into this one, not into the register.
  if (!reg || reg->Buffer() != this) return vx::mbresult::kNoDataBuffer;
  return ReadRegister(reg->Definition()->Address, wait);
}

int32_t TkoDeviceSlave::WriteReg(TkoRegister* reg, bool wait) {
  if (!reg || reg->Buffer() != this) return vx::mbresult::kNoDataBuffer;
  return WriteRegister(reg->Definition()->Address, wait);
}

int32_t TkoDeviceSlave::ReadCategoryInto(const std::string& category, TkoRegDataBuffer& copy) {
  TkoRegDefsList* model = DefsList();
  if (model == nullptr || copy.DefsList() != model || copy.Image() == nullptr ||
      model->GetCategoryText(category).empty())
    return vx::mbresult::kNoDataBuffer;
  // A port being reopened runs nothing: the read would only wait for its limit.
  const auto lineDown = [this] {
    const TkoMBThread* thread = thread_.load();
    return !DirectReady() || thread->Reopening() || GetPaused();
  };
  if (lineDown() || GetState() != TkoDeviceSetup::dsReady) return kRegBufferNotReady;
  const std::weak_ptr<const int> life = life_;
  // Owned through the list until it has run, then destroyed here: its views borrow the
  // copy, which the caller keeps no longer than this call. Created disabled, it runs only
  // once its blocks lead into the copy.
  TkoMBChainedTransa* transa = new TkoMBChainedTransa(this, true);
  transa->SetTransaName("ReadCopy" + category);
  transa->SetComment("Reads registers into a copy of the image.");
  transa->SetReadBlocksText(category);
  {
    auto pass = transactions_.LockIdle(transa);
    if (transa->GetReadBlocks() != nullptr) transa->GetReadBlocks()->Bind(&copy);
  }
  transa->SetTermReasons(TkoMBTransaction::trAlways);
  transa->SetEnabled(true);
  const bool ran = WaitForRun(life, transa, lineDown);
  // A device taken down meanwhile took the transaction with it.
  if (life.expired()) return kRegBufferNotReady;
  const int32_t result = ran ? transa->GetLastError() : kRegBufferNotReady;
  delete transa;
  return result;
}

void TkoDeviceSlave::ReportBlocks(const TkoRegBlock* chain, std::vector<std::string>* lines) const {
  if (!lines) return;
  for (const TkoRegBlock* b = chain; b; b = b->Next()) {
    if (!b->Valid()) continue;
    const int last = b->First() + b->Count();
    for (int a = b->First(); a < last && a <= 0xFFFF; ++a)
      if (TkoRegister* reg = RegisterAt(static_cast<uint16_t>(a))) reg->Report(lines);
  }
}

void TkoDeviceSlave::ReportBits(const TkoRegister* reg, std::vector<std::string>* lines) const {
  if (!reg || !lines) return;
  const TkoRegDefinition* def = reg->Definition();
  // Dates, times and texts have no bits to describe.
  if (!def->IsNumeric()) return;
  const int bits = std::min(32, def->ElementBytes() * 8);
  for (int index = 0; index < def->Length; ++index) {
    const auto value = static_cast<uint32_t>(reg->GetValueInteger(index));
    for (int bit = 0; bit < bits; ++bit) {
      const uint32_t mask = 1u << bit;
      if (value & mask) lines->push_back(def->GetDescr(index, mask));
    }
  }
}
