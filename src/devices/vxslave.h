#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "devices/deviceslave.h"
#include "params/parbuild.h"
#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "params/parvalue.h"

class TkoDeviceVXSlave;
class TkoMBChainedTransa;
class TkoMBSimpleTransa;
class TkoTextResource;

namespace vx {

// One named slot of a drive-family class: a public member that the device binds by name
// to its data model. A register slot "RegN" takes the register named N; a parameter slot
// is built from the entry of its name in "[Parameters]".
struct NamedSlot {
  const char* Name = nullptr;
  bool IsRegister = false;
  TkoParKind Kind = TkoParKind::Value;  // parameter slots only
  void (*StoreRegister)(TkoDeviceVXSlave& device, TkoRegister* reg) = nullptr;
  void (*StoreParameter)(TkoDeviceVXSlave& device, TkoParValue* par) = nullptr;
};

template <class T>
constexpr TkoParKind ParKindOf() {
  if constexpr (std::is_same_v<T, TkoParValue>)
    return TkoParKind::Value;
  else if constexpr (std::is_same_v<T, TkoParLong>)
    return TkoParKind::Long;
  else if constexpr (std::is_same_v<T, TkoParEncoded>)
    return TkoParKind::Encoded;
  else if constexpr (std::is_same_v<T, TkoParBitField>)
    return TkoParKind::BitField;
  else if constexpr (std::is_same_v<T, TkoParBoolField>)
    return TkoParKind::BoolField;
  else if constexpr (std::is_same_v<T, TkoParFrac16>)
    return TkoParKind::Frac16;
  else {
    static_assert(std::is_same_v<T, TkoPar2DPoint>, "not a parameter class of a named slot");
    return TkoParKind::Point2D;
  }
}

template <class M>
struct SlotMember;
template <class C, class T>
struct SlotMember<T * C::*> {
  using Class = C;
  using Type = T;
};

// The slot of a member pointer; the parameter class comes from the member's type, so a
// table entry cannot name a class other than the one the member holds.
template <auto Member>
NamedSlot MakeSlot(const char* name) {
  using C = typename SlotMember<decltype(Member)>::Class;
  using T = typename SlotMember<decltype(Member)>::Type;
  static_assert(std::is_base_of_v<TkoDeviceVXSlave, C>);
  NamedSlot slot;
  slot.Name = name;
  if constexpr (std::is_same_v<T, TkoRegister>) {
    slot.IsRegister = true;
    slot.StoreRegister = [](TkoDeviceVXSlave& d, TkoRegister* r) {
      static_cast<C&>(d).*Member = r;
    };
  } else {
    slot.Kind = ParKindOf<T>();
    // CreateParameter builds exactly the class of the kind, so the cast is exact.
    slot.StoreParameter = [](TkoDeviceVXSlave& d, TkoParValue* p) {
      static_cast<C&>(d).*Member = static_cast<T*>(p);
    };
  }
  return slot;
}

// Ties a limit of `par`'s register to the value of `source`'s register: the bound then
// follows that register. Only when both exist and the register has that bound (its
// definition gives one); true when tied.
bool TieMax(TkoParValue* par, TkoParValue* source);
bool TieMin(TkoParValue* par, TkoParValue* source);
bool TieMaxRegister(TkoRegister* reg, TkoRegister* source);
bool TieMinRegister(TkoRegister* reg, TkoRegister* source);
// Enables the transaction when it has blocks to transfer; true when enabled.
bool EnableWithBlocks(TkoMBSimpleTransa* transa);
// Sets the read-only flag of each parameter that exists.
void MarkReadOnly(std::initializer_list<TkoParValue*> params, bool readOnly = true);

}  // namespace vx

// Declares the table entry of a member: VX_SLOT(TkoDeviceVX310, ParSpeedRef).
#define VX_SLOT(Class, Member) vx::MakeSlot<&Class::Member>(#Member)

// The base of every device of the drive and controller family. On creation it binds its
// named slots to the data model, hooks the registers of the RAM setup so that a local
// change marks the setup modified, and installs the five standard transactions: the
// periodic actual-state and fault-state reads, a one-shot read of the RAM setup, sending
// the RAM setup and saving it to EEPROM.
//
// Each class of the family declares its slots in a table and binds it at the end of its
// own constructor; a name bound again by a derived class leaves the base's member empty,
// so every name resolves once, to the most derived class. A slot that the data model does
// not provide stays null: every user tests it.
//
// User-interface thread only; the transactions run on the connection thread.
class TkoDeviceVXSlave : public TkoDeviceSlave {
 public:
  using Event = std::function<void(TkoDeviceVXSlave* sender, TkoMBTransaction* transa)>;

  // Setup states.
  enum : uint8_t { ssNotRead = 0, ssInStep = 1, ssModified = 2, ssSentNotSaved = 3 };

  TkoDeviceVXSlave(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                   TkoRegDefsList* dataModel);
  ~TkoDeviceVXSlave() override;

  // --- virtual operations after those of TkoDeviceSlave ---
  void ReportDevice(std::vector<std::string>* lines) override;
  virtual void DoFaultState() {}
  virtual void DoSetupRead() {}
  // Called after every write into a RAM-setup register, changed or not.
  virtual void DoSetupModified() {}
  // Copies the setup into its EEPROM mirror registers and starts the EEPROM save.
  virtual void SaveSetup();
  // The three starts do nothing for a transaction whose category the model lacks.
  virtual void StartSetupRead();
  virtual void StartSetupSend();
  // Sends the setup and saves it once the send has been answered.
  virtual void StartSetupSendAndSave();

  // A parameter of `kind` from an entry text ("reg,element", "reg1,reg2,element",
  // "reg,element,mask|bit"); null when the text does not make one.
  [[nodiscard]] std::unique_ptr<TkoParValue> CreateParameter(TkoParKind kind,
                                                             const std::string& text) const;
  // Destroys every bound parameter and empties every slot; registers belong to the buffer.
  void ReleaseSlots();

  // A bound parameter slot: its name (the key of "[Parameters]"), its class and the
  // parameter.
  struct NamedParameter {
    const char* Name;
    TkoParKind Kind;
    TkoParValue* Parameter;
  };
  // The slots that hold a parameter, in binding order.
  [[nodiscard]] std::vector<NamedParameter> NamedParameters() const;
  // The parameter of the slot of that name (compared without regard to case, as the keys
  // of a data model are), or null.
  [[nodiscard]] TkoParValue* FindParameter(std::string_view name) const;

  // Writes the registers of the category "ImportExport" into the section; nothing
  // without resource or category.
  void ExportSetup(const std::string& section, TkoTextResource* resource) const;
  // Loads them back, filtered by that category; the load report, empty without resource
  // or category. Values not taken as written go to `issues` when given.
  std::string ImportSetup(const std::string& section, TkoTextResource* resource,
                          std::vector<TkoLoadIssue>* issues = nullptr);

  [[nodiscard]] uint8_t GetSetupState() const { return setupState_; }
  // Reads the setup (the registers the setup read reads) from the drive into `copy`, a
  // buffer on this drive's data model, and waits for it (ReadCategoryInto): the drive's
  // values beside those of this object, which stay as they are.
  [[nodiscard]] int32_t ReadSetupInto(TkoRegDataBuffer& copy) {
    return ReadCategoryInto(kSetupCategory, copy);
  }
  static constexpr const char* kSetupCategory = "RamSetup";

  // --- Values edited here and not sent ---
  // A setup read copies the drive's whole RAM setup into the image, whenever it was
  // started (showing the setup window, a reconnection, a send's read-back): the values
  // changed here since the last completed send would be lost to it. So every changed
  // RAM-setup register is noted with its bytes, and a completed read puts them back.
  struct KeptEdit {
    std::string Name;   // the register's name
    std::string Descr;  // its description (empty when it has none)
    std::string Kept;   // the value edited here, which the image holds again
    std::string Drive;  // the value the read brought
  };
  // What the last completed setup read found edited here and kept.
  [[nodiscard]] const std::vector<KeptEdit>& KeptByLastRead() const { return keptByRead_; }
  [[nodiscard]] bool HasLocalEdits() const { return !edits_.empty(); }
  // Forgets the values edited here: the next setup read brings the drive's values (the
  // engineer agreed to lose them). The setup stays modified until that read.
  void DiscardLocalEdits();
  [[nodiscard]] bool GetSaveAfterSend() const { return saveAfterSend_; }

  TkoParEncoded* ParEEModBusBaudrate = nullptr;
  TkoParValue* ParEEModBusAddress = nullptr;
  TkoParEncoded* ParEECanBusBaudrate = nullptr;
  TkoParValue* ParEECanBusAddress = nullptr;
  TkoParValue* ParEEProfiBusAddress = nullptr;

  Event OnFaultState;
  Event OnSetupRead;
  Event OnSetupSent;
  Event OnSetupSaved;
  Event OnActState;

  // Owned through the device's transaction list.
  TkoMBChainedTransa* ReadActState = nullptr;
  TkoMBChainedTransa* ReadFaultState = nullptr;
  TkoMBChainedTransa* ReadRamSetup = nullptr;
  TkoMBChainedTransa* SendRamSetup = nullptr;
  TkoMBChainedTransa* SaveEEPromSetup = nullptr;

 protected:
  // Binds the slots of one class's table (see the class comment). Only the class whose
  // table it is may call it: the entries store into that class's members.
  void BindSlots(std::span<const vx::NamedSlot> table);
  // Appends the report line of a parameter that is bound, visible and enabled.
  static void ReportParameter(const TkoParValue* par, std::vector<std::string>* lines);
  // A system chained transaction of this device with its name and comment; the caller
  // sets blocks, timing and handlers.
  TkoMBChainedTransa* AddChainedTransa(const std::string& name, const std::string& comment);
  // The transaction that writes the category "RefPosRegs" in one request when enabled.
  TkoMBChainedTransa* CreateWriteRefPos();
  // A parameter that a class builds in code rather than by slot name, from an entry text
  // of the same syntax; the device keeps it. Null when the text does not make one.
  template <class T>
  T* KeepParameter(const std::string& text) {
    std::unique_ptr<TkoParValue> p = CreateParameter(vx::ParKindOf<T>(), text);
    T* raw = static_cast<T*>(p.get());
    if (p) kept_.push_back(std::move(p));
    return raw;
  }

 private:
  struct Bound {
    const vx::NamedSlot* Slot;
    std::unique_ptr<TkoParValue> Parameter;  // none for a register slot
  };
  void HookRamSetup();
  void CreateTransactions();
  void SetupReadDone(TkoMBTransaction* transa);
  void SetupSentDone(TkoMBTransaction* transa);
  void SetupSavedDone(TkoMBTransaction* transa);

  struct LocalEdit {
    TkoRegister* Register;
    std::vector<uint8_t> Bytes;
    uint64_t Serial;  // edits up to the serial noted at a send's start went with it
  };
  void NoteEdit(TkoRegister* reg, bool changed);
  void RestoreEdits();
  void ForgetSentEdits();

  std::vector<Bound> bound_;
  std::vector<std::unique_ptr<TkoParValue>> kept_;
  std::vector<LocalEdit> edits_;
  std::vector<KeptEdit> keptByRead_;
  uint64_t editSerial_ = 0;
  uint64_t sentUpTo_ = 0;
  bool saveAfterSend_ = false;
  uint8_t setupState_ = ssNotRead;
};
