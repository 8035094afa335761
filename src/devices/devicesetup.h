#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "modbus/mbseams.h"
#include "xml/koxmlelement.h"

class TkoDMCollection;
class TkoDeviceSlave;
class TkoMBNetwork;
class TkoMBThreadSetup;
class TkoMBTransaction;
class TkoVersionRecord;

// The persistent description of one slave on a connection ("device"; its values are
// Key=Value lines of the child "setup"): name, slave address, default sample time, fault
// limit and enable flag. A child of its connection setup; once the device has answered
// its version request it owns the live slave device.
//
// Everything runs on the user-interface thread except the worker's reads of the enable
// flag and the slave address, which are atomics.
class TkoDeviceSetup : public TkoXmlElement, public TkoMBDeviceEntry {
 public:
  using Event = std::function<void(TkoDeviceSetup* sender, TkoMBObject* obj)>;

  // Device states (GetState).
  enum : uint8_t {
    dsOffline = 0,
    dsDisabled = 1,
    dsNotIdentified = 2,
    dsReady = 3,
    dsBreaking = 4,
    dsCommError = 5,
    dsOpenError = 6,
    dsSetupError = 7,
    dsCutOff = 8,
    dsNoMBServer = 9,
    dsUnknownDevice = 10,
  };
  // Text of a device state; "unknown state %d" outside 0..10.
  [[nodiscard]] static std::string StateText(int code);

  // Identification repeats the version request every this many cycles until answered.
  static constexpr int32_t kIdentifyRepeat = 20;

  TkoDeviceSetup();
  // Destroys the slave, then reports its own deletion.
  ~TkoDeviceSetup() override;
  TkoDeviceSetup(const TkoDeviceSetup&) = delete;
  TkoDeviceSetup& operator=(const TkoDeviceSetup&) = delete;

  void AnalyzeContent() override;

  void SetDeviceName(const std::string& value);
  // Only the low byte is kept: it is what goes on the wire.
  void SetDeviceAddr(int32_t value);
  void SetRepeatTime(int32_t cycles);
  void SetMaxFault(int32_t value);
  // Enabling a device with a slave first clears the cut-off of its transactions.
  void SetEnabled(bool value);

  [[nodiscard]] std::string GetDeviceName() const override { return deviceName_; }
  [[nodiscard]] int32_t GetDeviceAddr() const override { return deviceAddr_.load(); }
  [[nodiscard]] int32_t GetRepeatTime() const { return repeatTime_.load(); }
  [[nodiscard]] int32_t GetMaxFault() const { return maxFault_.load(); }
  [[nodiscard]] bool GetEnabled() const override { return enabled_.load(); }
  [[nodiscard]] bool HasSlave() const override { return slave_ != nullptr; }
  [[nodiscard]] TkoDeviceSlave* GetSlave() const { return slave_; }
  // Destroys the present slave and takes the new one (none to drop it). The new slave
  // must have been built on this setup.
  void SetSlave(std::unique_ptr<TkoDeviceSlave> slave);

  // A sample time, a slave address other than 0 (broadcast) and a name.
  [[nodiscard]] bool IsValid() const override;
  // The parent element when it is a connection setup.
  [[nodiscard]] TkoMBThreadSetup* GetConnection() const;
  // The tree's parser when it is a network component.
  [[nodiscard]] TkoMBNetwork* GetNetwork() const;
  // Where identification looks for data models: the network's collection; none outside
  // a network.
  [[nodiscard]] TkoDMCollection* GetDMCollection() const;

  [[nodiscard]] uint8_t GetState() const;
  [[nodiscard]] std::string GetStateText() const { return StateText(GetState()); }
  [[nodiscard]] std::string GetDescription() const;

  // Own slot first, then the connection setup's notification of the same kind.
  void NotifySetupAdd(TkoMBObject* obj);
  void NotifySetupDel(TkoMBObject* obj);
  void NotifySetupChange(TkoMBObject* obj);
  void NotifyStateChange(TkoMBObject* obj);

  // Identification: a version request on the connection's thread, repeated until the
  // device answers; its answer picks the data model and the device class.
  void StartIdentification() override;
  // After the slave has been lost and answers again: holds the slave and asks for the
  // version again. The same version on the same data model lets the slave go on; another
  // one replaces it (OnSlaveReplace first) as a first identification would. Without a
  // slave, a first identification.
  void Reidentify();
  virtual void OnVersionRead(TkoMBTransaction* transa);
  virtual void OnVersionError(TkoMBTransaction* transa);

  Event OnSetupAdd;
  Event OnSetupDel;
  Event OnSetupChange;
  Event OnStateChange;
  // A re-identification found another device: raised with the slave about to go.
  std::function<void(TkoDeviceSetup* sender, TkoDeviceSlave* old)> OnSlaveReplace;

 private:
  friend class TkoDeviceSlave;  // a slave being destroyed clears Slave itself
  void SlaveGone(TkoDeviceSlave* slave);
  void DestroySlave();
  // Makes the slave this setup's own and attaches it to the connection's thread.
  void AdoptSlave(std::unique_ptr<TkoDeviceSlave> slave);
  void SetIntKey(const char* key, std::atomic<int32_t>& field, int32_t value);
  // Cuts the pending version request off from this setup and lets its thread end it.
  void EndIdentification();
  void RequestVersion(TkoMBThread* thread);

  std::string deviceName_;
  std::atomic<int32_t> deviceAddr_{1};
  std::atomic<int32_t> repeatTime_{5};
  std::atomic<int32_t> maxFault_{0};
  std::atomic<bool> enabled_{false};
  TkoDeviceSlave* slave_ = nullptr;  // owned
  // The version request under way, owned by the connection's thread.
  TkoMBTransaction* identTransa_ = nullptr;
};
