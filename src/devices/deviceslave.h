#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modbus/mbseams.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/versionrecord.h"

class TkoDeviceSetup;
class TkoMBReadHoldRegisters;
class TkoMBThread;
class TkoMBTransaction;
class TkoMBWriteSingleRegister;
class TkoRegBlock;
class TkoRegDefsList;
class TkoRegister;

// The live device behind a device setup: its register image (a register data buffer on
// the data model found for its version), the transactions that keep it in step with the
// slave, the connection thread that runs them and the device state computed from them.
// It offers direct single-register reads and writes and passes transaction events up to
// the device setup, the thread and the network. Device classes of a family derive from
// it.
//
// The worker thread reads the transaction list (under its lock), the setup's enable flag
// and the slave address; everything else runs on the user-interface thread.
class TkoDeviceSlave : public TkoRegDataBuffer, public TkoMBDevice {
 public:
  using Event = std::function<void(TkoDeviceSlave* sender, TkoMBObject* obj)>;

  // How long a direct transfer waits for a run of its transaction.
  static constexpr int kDirectWaitMs = 10000;

  // Throws EkoException without a data model, a version or a device setup. The data
  // model must outlive the device; the version is copied.
  TkoDeviceSlave(TkoDeviceSetup* setup, const TkoVersionRecord* version, TkoRegDefsList* dataModel);
  // Leaves the thread, destroys every transaction and clears the setup's Slave.
  ~TkoDeviceSlave() override;
  TkoDeviceSlave(const TkoDeviceSlave&) = delete;
  TkoDeviceSlave& operator=(const TkoDeviceSlave&) = delete;

  // --- virtual operations, in slot order (a family adds its own after these) ---
  // Leaves the old thread, joins the new one; nothing when unchanged.
  void SetThread(TkoMBThread* thread) override;
  // Appends the report lines of every register the read blocks of StateTransa cover.
  virtual void ReportDevice(std::vector<std::string>* lines);

  // --- what the connection thread and the transactions need ---
  TkoMBTransaList& GetTransactions() override { return transactions_; }
  [[nodiscard]] bool IsSetupEnabled() const override;
  [[nodiscard]] uint8_t GetSlaveAddress() const override;
  [[nodiscard]] int32_t GetMaxFault() const override;
  [[nodiscard]] int32_t GetDefaultRepeatTime() const override;
  [[nodiscard]] TkoRegDataBuffer* GetRegBuffer() override { return this; }
  [[nodiscard]] TkoMBThread* GetThread() const override { return thread_.load(); }
  void DetachThread() override;
  void AddTransa(TkoMBTransaction* transa) override;
  void RemoveTransa(TkoMBTransaction* transa) override;
  [[nodiscard]] bool HasTransa(TkoMBTransaction* transa) const;
  void DoTransaError(TkoMBTransaction* transa) override;
  void DoTransaResponse(TkoMBTransaction* transa) override;
  void DoStateChange(TkoMBObject* obj) override;
  void NotifySetupChange(TkoMBObject* obj) override;

  // Device state (the codes of TkoDeviceSetup): 0 off line, 1 disabled, 3 ready, or the
  // state 5 or 8 of the first transaction in list order that is in error or cut off.
  [[nodiscard]] uint8_t GetState() const;
  // Clears the time-out count and cut-off of every transaction.
  void ResetFaults();
  // Held while its device setup asks the slave who it is again: the thread passes the
  // device by, its state is "not yet identified" and no direct transfer is made.
  void SetPaused(bool paused);
  [[nodiscard]] bool GetPaused() const { return paused_.load(); }

  // Direct one-register transfers between the image and the device. -11 when the
  // device is not attached to a running thread, a wait of 10 s for the previous run of
  // the transaction is not satisfied, or the device is then not ready. With wait, the result of
  // this transfer; without, the result of the previous one (this one runs in the next cycle).
  [[nodiscard]] int32_t ReadRegister(uint16_t address, bool wait);
  // Sends the value stored in the image at that address beforehand.
  [[nodiscard]] int32_t WriteRegister(uint16_t address, bool wait);
  [[nodiscard]] int32_t ReadReg(TkoRegister* reg, bool wait) override;
  [[nodiscard]] int32_t WriteReg(TkoRegister* reg, bool wait) override;
  // Reads the registers of a category of the data model from the slave into `copy`, a
  // buffer of its own on this device's data model, and waits for the answer as a direct
  // transfer does: what the slave holds now, while this image keeps what it holds (values
  // edited here and not sent). The read's result; -11 as for a direct transfer, and when
  // the device went while the read ran (nothing of it may be touched then); -3 for a copy
  // on another data model or a category the model has not got.
  [[nodiscard]] int32_t ReadCategoryInto(const std::string& category, TkoRegDataBuffer& copy);

  // The report lines of every register of the chain that the buffer holds.
  void ReportBlocks(const TkoRegBlock* chain, std::vector<std::string>* lines) const;
  // For every element and every set bit, the definition's description of that bit.
  void ReportBits(const TkoRegister* reg, std::vector<std::string>* lines) const;

  [[nodiscard]] const TkoVersionRecord& GetVersion() const { return version_; }
  [[nodiscard]] TkoDeviceSetup* GetSetup() const { return setup_; }
  [[nodiscard]] TkoMBTransaction* GetStateTransa() const { return stateTransa_; }
  void SetStateTransa(TkoMBTransaction* transa) { stateTransa_ = transa; }
  [[nodiscard]] TkoMBReadHoldRegisters* GetReadTransa() const { return readTransa_; }
  [[nodiscard]] TkoMBWriteSingleRegister* GetWriteTransa() const { return writeTransa_; }

  Event OnTransaError;
  Event OnTransaResponse;
  Event OnStateChange;
  Event OnTransaAdd;
  Event OnTransaDel;

 private:
  // Attached to a running thread.
  [[nodiscard]] bool DirectReady() const;
  // Makes or re-aims a direct transaction and waits for it as asked.
  template <class Transa, class Make, class Aim>
  int32_t RunDirect(Transa*& transa, Make make, Aim aim, const char* name, const char* comment,
                    bool wait);

  // Expires when the device is destroyed; a direct transfer checks it after waiting.
  std::shared_ptr<const int> life_ = std::make_shared<const int>(0);
  TkoVersionRecord version_;
  TkoDeviceSetup* const setup_;
  std::atomic<TkoMBThread*> thread_{nullptr};
  std::atomic<bool> paused_{false};
  mutable TkoMBTransaList transactions_;  // owned; GetState walks it
  TkoMBTransaction* stateTransa_ = nullptr;
  TkoMBReadHoldRegisters* readTransa_ = nullptr;     // owned through the list
  TkoMBWriteSingleRegister* writeTransa_ = nullptr;  // owned through the list
};
