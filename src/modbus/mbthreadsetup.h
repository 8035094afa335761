#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "modbus/mbseams.h"
#include "xml/koxmlelement.h"

class TkoMBThread;

// The persistent description of one Modbus connection ("modbus_connection"; its values
// are Key=Value lines of the child "setup"). It owns the connection thread, starts it
// when the connection goes on line, and is the hub through which additions, deletions,
// changes and state changes of itself, its devices and their transactions reach the
// network.
//
// Fields are written on the user-interface thread and read by the worker at every
// cycle, so they are atomics (the two strings sit behind a small mutex).
class TkoMBThreadSetup : public TkoXmlElement, public TkoMBObject {
 public:
  using Event = std::function<void(TkoMBThreadSetup* sender, TkoMBObject* obj)>;

  TkoMBThreadSetup();
  // Takes the connection off line, stops and waits for the thread, then reports its own
  // deletion. Inside one of the thread's own hand-overs (a state-change handler, say)
  // the worker is blocked until the handler returns and cannot be waited for: the
  // thread's clean-up runs at once and the worker closes the connection and ends on its
  // own shortly after, so the port may still be held for a moment.
  ~TkoMBThreadSetup() override;
  TkoMBThreadSetup(const TkoMBThreadSetup&) = delete;
  TkoMBThreadSetup& operator=(const TkoMBThreadSetup&) = delete;

  void AnalyzeContent() override;

  void SetThreadName(const std::string& value);
  void SetConnType(int32_t value);
  void SetRetries(int32_t value);
  void SetBaudRate(int32_t value);
  void SetComPort(int32_t value);
  void SetByteSize(int32_t value);
  void SetFlowCtrl(int32_t value);
  void SetParity(int32_t value);
  void SetSilentInt(int32_t value);
  void SetStopBits(int32_t value);
  void SetTimeOut(int32_t value);
  void SetTxMode(int32_t value);
  void SetTcpIpPort(int32_t value);
  void SetHostName(const std::string& value);
  void SetEnabled(bool value);
  void SetOnLine(bool on);
  void SetDevMaxCount(int32_t value) { devMaxCount_ = value; }

  [[nodiscard]] std::string GetThreadName() const;
  [[nodiscard]] int32_t GetConnType() const { return connType_.load(); }
  [[nodiscard]] int32_t GetRetries() const { return retries_.load(); }
  [[nodiscard]] int32_t GetBaudRate() const { return baudRate_.load(); }
  [[nodiscard]] int32_t GetComPort() const { return comPort_.load(); }
  [[nodiscard]] int32_t GetByteSize() const { return byteSize_.load(); }
  [[nodiscard]] int32_t GetFlowCtrl() const { return flowCtrl_.load(); }
  [[nodiscard]] int32_t GetParity() const { return parity_.load(); }
  [[nodiscard]] int32_t GetSilentInt() const { return silentInt_.load(); }
  [[nodiscard]] int32_t GetStopBits() const { return stopBits_.load(); }
  [[nodiscard]] int32_t GetTimeOut() const { return timeOut_.load(); }
  [[nodiscard]] int32_t GetTxMode() const { return txMode_.load(); }
  [[nodiscard]] int32_t GetTcpIpPort() const { return tcpIpPort_.load(); }
  [[nodiscard]] std::string GetHostName() const;
  [[nodiscard]] bool GetEnabled() const { return enabled_.load(); }
  [[nodiscard]] bool GetOnLine() const { return onLine_.load(); }
  [[nodiscard]] int32_t GetDevMaxCount() const { return devMaxCount_; }
  [[nodiscard]] TkoMBThread* GetThread() const { return thread_.get(); }

  [[nodiscard]] bool IsValid() const;
  // Creates the thread when on line (once), re-arms it after a failed open and lets it
  // identify the devices once it runs.
  void StartThread();
  [[nodiscard]] uint8_t GetState() const;
  [[nodiscard]] std::string GetStateText() const;
  [[nodiscard]] std::string GetDescription() const;
  [[nodiscard]] TkoMBNetworkEvents* GetNetwork() const;

  // Device setups: the children named "device" that are device entries.
  [[nodiscard]] int32_t GetDevCount() const;
  [[nodiscard]] TkoMBDeviceEntry* FindDevice(const std::string& name) const;
  [[nodiscard]] TkoMBDeviceEntry* FindDeviceAddr(int32_t address) const;
  [[nodiscard]] bool IsDevMaxCount() const;
  // Takes ownership when it returns true; a refused device stays the caller's.
  bool AddDevice(TkoXmlElement* deviceSetup);
  void IdentifyDevices();
  void IdentifyDevice(TkoMBDeviceEntry* device);

  void NotifySetupAdd(TkoMBObject* obj);
  void NotifySetupDel(TkoMBObject* obj);
  void NotifySetupChange(TkoMBObject* obj);
  void NotifyStateChange(TkoMBObject* obj);
  void NotifyDevMaxCount();

  Event OnSetupAdd;
  Event OnSetupDel;
  Event OnSetupChange;
  Event OnStateChange;
  std::function<void(TkoMBThreadSetup* sender, TkoMBThreadSetup* setup)> OnDevMaxCount;

 private:
  template <class F>
  void ForEachDevice(F&& f) const;
  void SetIntKey(const char* key, std::atomic<int32_t>& field, int32_t value);

  mutable std::mutex textMutex_;
  std::string threadName_;
  std::atomic<int32_t> connType_{1};
  std::atomic<int32_t> retries_{2};
  std::atomic<int32_t> baudRate_{19200};
  std::atomic<int32_t> comPort_{1};
  std::atomic<int32_t> byteSize_{8};
  std::atomic<int32_t> flowCtrl_{0};
  std::atomic<int32_t> parity_{0};
  std::atomic<int32_t> silentInt_{20};
  std::atomic<int32_t> stopBits_{0};
  std::atomic<int32_t> timeOut_{500};
  std::atomic<int32_t> txMode_{0};
  std::atomic<int32_t> tcpIpPort_{502};
  std::string hostName_{"127.0.0.1"};
  std::atomic<bool> enabled_{false};
  std::atomic<bool> onLine_{false};
  int32_t devMaxCount_ = 65535;
  std::unique_ptr<TkoMBThread> thread_;
};
