#include "devices/vxslave.h"

#include <algorithm>
#include <cstring>

#include "devices/devicesetup.h"
#include "modbus/mbtransakinds.h"
#include "platform/threadbuffer.h"
#include "regmodel/regblock.h"
#include "regmodel/regdefinition.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"
#include "xml/koxmlelement.h"

namespace vx {

namespace {

bool Tie(TkoRegister* reg, TkoRegister* source, bool max) {
  if (!reg || !source) return false;
  TkoRegBound* bound = max ? reg->MaxBound() : reg->MinBound();
  if (!bound) return false;
  bound->Source = source;
  return true;
}

}  // namespace

// A transaction without blocks (its category missing from the data model) would
// exchange nothing and still report success: it is never enabled.
bool EnableWithBlocks(TkoMBSimpleTransa* t) {
  if (!t || (!t->GetReadBlocks() && !t->GetWriteBlocks())) return false;
  t->SetEnabled(true);
  return true;
}

namespace {

// Every register address of a chain, block by block.
template <class F>
void ForEachAddress(const TkoRegBlock* chain, F&& f) {
  for (const TkoRegBlock* b = chain; b; b = b->Next()) {
    if (!b->Valid()) continue;
    for (int a = b->First(); a < b->First() + b->Count(); ++a) f(static_cast<uint16_t>(a));
  }
}

}  // namespace

bool TieMax(TkoParValue* par, TkoParValue* source) {
  return par && source && Tie(par->Register, source->Register, true);
}

bool TieMin(TkoParValue* par, TkoParValue* source) {
  return par && source && Tie(par->Register, source->Register, false);
}

bool TieMaxRegister(TkoRegister* reg, TkoRegister* source) {
  return Tie(reg, source, true);
}

bool TieMinRegister(TkoRegister* reg, TkoRegister* source) {
  return Tie(reg, source, false);
}

void MarkReadOnly(std::initializer_list<TkoParValue*> params, bool readOnly) {
  for (TkoParValue* p : params)
    if (p) p->ReadOnly = readOnly;
}

}  // namespace vx

namespace {

const vx::NamedSlot kSlaveSlots[] = {
    VX_SLOT(TkoDeviceVXSlave, ParEEModBusBaudrate),  VX_SLOT(TkoDeviceVXSlave, ParEEModBusAddress),
    VX_SLOT(TkoDeviceVXSlave, ParEECanBusBaudrate),  VX_SLOT(TkoDeviceVXSlave, ParEECanBusAddress),
    VX_SLOT(TkoDeviceVXSlave, ParEEProfiBusAddress),
};

}  // namespace

TkoDeviceVXSlave::TkoDeviceVXSlave(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                                   TkoRegDefsList* dataModel)
    : TkoDeviceSlave(setup, version, dataModel) {
  BindSlots(kSlaveSlots);
  HookRamSetup();
  CreateTransactions();
}

TkoDeviceVXSlave::~TkoDeviceVXSlave() {
  // The members of derived classes are gone by now, so the parameters are only
  // destroyed, not unbound. The transactions outlive this part of the object until the
  // base destroys them: their handlers must not reach it meanwhile.
  for (TkoMBTransaction* t :
       {ReadActState, ReadFaultState, ReadRamSetup, SendRamSetup, SaveEEPromSetup})
    if (t) t->OnResponse = nullptr;
  for (int i = 0; i < RegisterCount(); ++i)
    if (TkoRegister* r = RegisterByIndex(i)) r->OnAfterWrite = nullptr;
  bound_.clear();
}

namespace {

// Every register of the parameter has its element; a parameter on an element its register
// lacks would throw on each access, from the report to the refresh of a window.
bool HasItsElement(const TkoParValue& p) {
  const TkoRegister* regs[] = {p.Register, nullptr};
  if (auto* l = dynamic_cast<const TkoParLong*>(&p))
    regs[1] = l->HighRegister;
  else if (auto* f = dynamic_cast<const TkoParFrac16*>(&p))
    regs[1] = f->ExpRegister;
  else if (auto* pt = dynamic_cast<const TkoPar2DPoint*>(&p))
    regs[1] = pt->YRegister;
  for (const TkoRegister* r : regs)
    if (r && p.Index >= r->Definition()->Length) return false;
  return true;
}

}  // namespace

std::unique_ptr<TkoParValue> TkoDeviceVXSlave::CreateParameter(TkoParKind kind,
                                                               const std::string& text) const {
  std::unique_ptr<TkoParValue> p = vx::BuildParameter(kind, std::string_view(text), *this);
  if (p && !HasItsElement(*p)) p.reset();
  return p;
}

void TkoDeviceVXSlave::BindSlots(std::span<const vx::NamedSlot> table) {
  TkoRegDefsList* model = DefsList();
  for (const vx::NamedSlot& slot : table) {
    // A derived class's slot of the same name takes the name over; the base's member
    // stays empty.
    auto same = std::find_if(bound_.begin(), bound_.end(), [&](const Bound& b) {
      return std::strcmp(b.Slot->Name, slot.Name) == 0;
    });
    if (same != bound_.end()) {
      if (same->Slot->IsRegister)
        same->Slot->StoreRegister(*this, nullptr);
      else
        same->Slot->StoreParameter(*this, nullptr);
      bound_.erase(same);
    }
    Bound entry{&slot, nullptr};
    if (slot.IsRegister) {
      std::string name = slot.Name;
      if (name.rfind("Reg", 0) == 0) name.erase(0, 3);
      slot.StoreRegister(*this, FindRegister(name));
    } else {
      const std::string text =
          model ? model->ReadString("Parameters", slot.Name, std::string()) : std::string();
      entry.Parameter = CreateParameter(slot.Kind, text);
      slot.StoreParameter(*this, entry.Parameter.get());
    }
    bound_.push_back(std::move(entry));
  }
}

std::vector<TkoDeviceVXSlave::NamedParameter> TkoDeviceVXSlave::NamedParameters() const {
  std::vector<NamedParameter> list;
  for (const Bound& b : bound_)
    if (b.Parameter) list.push_back({b.Slot->Name, b.Slot->Kind, b.Parameter.get()});
  return list;
}

TkoParValue* TkoDeviceVXSlave::FindParameter(std::string_view name) const {
  for (const Bound& b : bound_)
    if (b.Parameter && vx::SameTextAscii(b.Slot->Name, name)) return b.Parameter.get();
  return nullptr;
}

void TkoDeviceVXSlave::ReleaseSlots() {
  for (Bound& b : bound_) {
    if (b.Slot->IsRegister)
      b.Slot->StoreRegister(*this, nullptr);
    else
      b.Slot->StoreParameter(*this, nullptr);
  }
  bound_.clear();
}

void TkoDeviceVXSlave::HookRamSetup() {
  TkoRegDefsList* model = DefsList();
  if (!model) return;
  const std::unique_ptr<TkoRegBlock> ram = vx::GetCategory(*model, "RamSetup");
  vx::ForEachAddress(ram.get(), [&](uint16_t address) {
    TkoRegister* reg = RegisterAt(address);
    if (!reg) return;
    reg->OnAfterWrite = [this](TkoRegister* r, bool changed) {
      if (changed) setupState_ = ssModified;
      NoteEdit(r, changed);
      DoSetupModified();
    };
  });
}

TkoMBChainedTransa* TkoDeviceVXSlave::AddChainedTransa(const std::string& name,
                                                       const std::string& comment) {
  auto* t = new TkoMBChainedTransa(this, true);  // owned through the transaction list
  t->SetTransaName(name);
  t->SetComment(comment);
  return t;
}

void TkoDeviceVXSlave::CreateTransactions() {
  ReadActState = AddChainedTransa("ReadActState", "Periodic read of actual state.");
  ReadActState->SetReadBlocksText("ActState");
  ReadActState->SetRepeatTime(1);
  ReadActState->OnResponse = [this](TkoMBTransaction* t) {
    if (OnActState) OnActState(this, t);
  };
  vx::EnableWithBlocks(ReadActState);

  ReadFaultState = AddChainedTransa("ReadFaultState", "Periodic read of fault condition.");
  ReadFaultState->SetReadBlocksText("FaultState");
  ReadFaultState->SetRepeatTime(10);
  ReadFaultState->OnResponse = [this](TkoMBTransaction* t) {
    DoFaultState();
    if (OnFaultState) OnFaultState(this, t);
  };
  vx::EnableWithBlocks(ReadFaultState);

  // Retried every second until it is answered once.
  ReadRamSetup = AddChainedTransa("ReadRamSetup", "Load actual setup from device.");
  ReadRamSetup->SetReadBlocksText(kSetupCategory);
  ReadRamSetup->SetRepeatTime(10);
  ReadRamSetup->SetTermReasons(TkoMBTransaction::trResponse);
  ReadRamSetup->OnResponse = [this](TkoMBTransaction* t) { SetupReadDone(t); };
  vx::EnableWithBlocks(ReadRamSetup);

  SendRamSetup = AddChainedTransa("SendRamSetup", "Send new setup to device.");
  SendRamSetup->SetWriteBlocksText(kSetupCategory);
  SendRamSetup->SetTermReasons(TkoMBTransaction::trAlways);
  SendRamSetup->OnResponse = [this](TkoMBTransaction* t) { SetupSentDone(t); };
  SendRamSetup->SetEnabled(false);

  SaveEEPromSetup = AddChainedTransa("SaveEEPromSetup", "Save setup to EEProm.");
  SaveEEPromSetup->SetWriteBlocksText("EEPromSetup");
  SaveEEPromSetup->SetTermReasons(TkoMBTransaction::trAlways);
  SaveEEPromSetup->OnResponse = [this](TkoMBTransaction* t) { SetupSavedDone(t); };
  SaveEEPromSetup->SetEnabled(false);
}

TkoMBChainedTransa* TkoDeviceVXSlave::CreateWriteRefPos() {
  TkoMBChainedTransa* t =
      AddChainedTransa("WriteRefPos", "Write position reference in a single write operation.");
  t->SetWriteBlocksText("RefPosRegs");
  t->SetTermReasons(TkoMBTransaction::trAlways);
  t->SetEnabled(false);
  return t;
}

namespace {

// A register's value as the engineer reads it, every element.
std::string ValueText(const TkoRegister& reg) {
  const TkoRegDefinition* def = reg.Definition();
  if (def->IsString()) return reg.GetValueString(-1, 0);
  std::string text;
  for (int32_t i = 0; i < def->Length; ++i) {
    if (i > 0) text += ", ";
    text += reg.GetValueString(i, 0);
  }
  return text;
}

std::vector<uint8_t> Bytes(const TkoRegister& reg) {
  if (!reg.View()) return {};
  TkoThreadBuffer::ReadAccess in(*reg.View());
  return std::vector<uint8_t>(in.data(), in.data() + reg.View()->Size());
}

}  // namespace

void TkoDeviceVXSlave::NoteEdit(TkoRegister* reg, bool changed) {
  auto it = std::find_if(edits_.begin(), edits_.end(),
                         [reg](const LocalEdit& e) { return e.Register == reg; });
  // An unchanged write is no edit, unless it writes over one (the edit's bytes are then
  // those written last).
  if (it == edits_.end()) {
    if (!changed) return;
    it = edits_.insert(edits_.end(), LocalEdit{reg, {}, 0});
  }
  it->Bytes = Bytes(*reg);
  it->Serial = ++editSerial_;
}

void TkoDeviceVXSlave::RestoreEdits() {
  keptByRead_.clear();
  for (const LocalEdit& e : edits_) {
    TkoRegister& reg = *e.Register;
    if (!reg.View() || e.Bytes.size() != static_cast<size_t>(reg.View()->Size())) continue;
    KeptEdit kept;
    kept.Name = reg.Name();
    kept.Descr = reg.Definition()->GetDescr(-1, 0);
    kept.Drive = ValueText(reg);
    {
      // Put back as the bytes were: this is no new edit, so no after-write either.
      TkoThreadBuffer::WriteAccess out(*reg.View());
      std::copy(e.Bytes.begin(), e.Bytes.end(), out.data());
    }
    kept.Kept = ValueText(reg);
    keptByRead_.push_back(std::move(kept));
  }
}

void TkoDeviceVXSlave::ForgetSentEdits() {
  std::erase_if(edits_, [this](const LocalEdit& e) { return e.Serial <= sentUpTo_; });
}

void TkoDeviceVXSlave::DiscardLocalEdits() {
  edits_.clear();
}

void TkoDeviceVXSlave::SetupReadDone(TkoMBTransaction* transa) {
  RestoreEdits();
  // A setup sent but not saved stays so: the drive's RAM holds it, its EEPROM does not.
  // Values edited here and kept leave it modified.
  if (!edits_.empty())
    setupState_ = ssModified;
  else if (setupState_ != ssSentNotSaved)
    setupState_ = ssInStep;
  DoSetupRead();
  if (OnSetupRead) OnSetupRead(this, transa);
}

void TkoDeviceVXSlave::SetupSentDone(TkoMBTransaction* transa) {
  // Values edited while the send ran may have missed it: they stay edits, and the setup
  // stays modified.
  ForgetSentEdits();
  if (setupState_ == ssModified && edits_.empty()) setupState_ = ssSentNotSaved;
  if (OnSetupSent) OnSetupSent(this, transa);
  const bool save = saveAfterSend_;
  saveAfterSend_ = false;
  if (save) SaveSetup();
}

void TkoDeviceVXSlave::SetupSavedDone(TkoMBTransaction* transa) {
  ForgetSentEdits();
  setupState_ = edits_.empty() ? ssInStep : ssModified;
  if (OnSetupSaved) OnSetupSaved(this, transa);
}

void TkoDeviceVXSlave::SaveSetup() {
  if (SendRamSetup) {
    vx::ForEachAddress(SendRamSetup->GetWriteBlocks(), [&](uint16_t address) {
      TkoRegister* source = RegisterAt(address);
      if (!source || !source->View()) return;
      const TkoRegDefinition* def = source->Definition();
      if (def->EEPromCopy == def->Address) return;
      TkoRegister* mirror = RegisterAt(def->EEPromCopy);
      if (!mirror || !mirror->View()) return;
      // Both views share the image's one lock, so the bytes are taken out under the
      // read lock and put in under the write lock, never both at once. A mirror larger
      // than its source keeps the bytes the source does not have.
      std::vector<uint8_t> bytes(static_cast<size_t>(source->View()->Size()));
      {
        TkoThreadBuffer::ReadAccess in(*source->View());
        std::copy_n(in.data(), bytes.size(), bytes.begin());
      }
      const size_t n = std::min(bytes.size(), static_cast<size_t>(mirror->View()->Size()));
      TkoThreadBuffer::WriteAccess out(*mirror->View());
      std::copy_n(bytes.begin(), n, out.data());
    });
  }
  vx::EnableWithBlocks(SaveEEPromSetup);
}

void TkoDeviceVXSlave::StartSetupRead() {
  vx::EnableWithBlocks(ReadRamSetup);
}

void TkoDeviceVXSlave::StartSetupSend() {
  if (vx::EnableWithBlocks(SendRamSetup)) sentUpTo_ = editSerial_;
  saveAfterSend_ = false;
}

void TkoDeviceVXSlave::StartSetupSendAndSave() {
  // Without a send there is nothing to save after.
  saveAfterSend_ = vx::EnableWithBlocks(SendRamSetup);
  if (saveAfterSend_) sentUpTo_ = editSerial_;
}

void TkoDeviceVXSlave::ReportParameter(const TkoParValue* par, std::vector<std::string>* lines) {
  if (par && par->Visible && par->Enabled) par->Report(lines);
}

void TkoDeviceVXSlave::ReportDevice(std::vector<std::string>* lines) {
  if (!lines) return;
  const TkoParValue* const params[] = {ParEEModBusBaudrate, ParEEModBusAddress, ParEECanBusBaudrate,
                                       ParEECanBusAddress, ParEEProfiBusAddress};
  for (const TkoParValue* p : params) ReportParameter(p, lines);
}

void TkoDeviceVXSlave::ExportSetup(const std::string& section, TkoTextResource* resource) const {
  if (!resource || !DefsList()) return;
  const std::unique_ptr<TkoRegBlock> chain = vx::GetCategory(*DefsList(), "ImportExport");
  if (chain) SaveBlocks(chain.get(), section, resource);
}

std::string TkoDeviceVXSlave::ImportSetup(const std::string& section, TkoTextResource* resource,
                                          std::vector<TkoLoadIssue>* issues) {
  if (!resource || !DefsList()) return std::string();
  const std::unique_ptr<TkoRegBlock> chain = vx::GetCategory(*DefsList(), "ImportExport");
  if (!chain) return std::string();
  return LoadBlocks(section, resource, chain.get(), issues);
}
