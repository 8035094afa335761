#pragma once
// The engine's seams: what the connection thread and the transactions need of the
// Modbus server component, of the devices they run, of the device setups below a
// connection, and of the network component above it. The classes that fill these
// roles live in other libraries (devices, the network) or are swapped in by tests.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/lockedlist.h"

class TkoMBThread;
class TkoMBThreadSetup;
class TkoMBTransaction;
class TkoRegDataBuffer;

// The transactions of a device or of a thread.
using TkoMBTransaList = vx::LockedList<TkoMBTransaction*>;

// Common base of every object an engine notification names as "the object concerned",
// so that a receiver can tell a device setup from a transaction with dynamic_cast.
class TkoMBObject {
 public:
  virtual ~TkoMBObject() = default;
};

// The Modbus server component as the connection thread drives it, so that a scripted
// component can stand in for the transport. Called on the connection's worker thread
// only. An error raised during the open sequence is an exception (the thread maps it to
// -4); exchanges report result codes.
class TkoMBServerLink {
 public:
  virtual ~TkoMBServerLink() = default;
  [[nodiscard]] virtual bool OpenConnection(const std::string& name, int16_t type) = 0;
  virtual void put_Retries(int16_t value) = 0;
  virtual void put_RaiseError(bool value) = 0;
  virtual void put_BaudRate(int32_t value) = 0;
  virtual void put_SilentInterval(int32_t ms) = 0;
  virtual void put_TimeOut(int32_t ms) = 0;
  virtual void put_TcpPort(int32_t value) = 0;
  virtual void put_ComPort(int16_t value) = 0;
  virtual void put_ByteSize(int16_t value) = 0;
  virtual void put_FlowControl(int16_t value) = 0;
  virtual void put_Parity(int16_t value) = 0;
  virtual void put_StopBits(int16_t value) = 0;
  virtual void put_TransmissionMode(int16_t value) = 0;
  virtual void put_Host(const std::string& value) = 0;
  [[nodiscard]] virtual bool Connect() = 0;
  // vQuery: slave address, function code, data. On success vResponse holds slave
  // address, function code and response data.
  [[nodiscard]] virtual int32_t TxRxMessage(const std::vector<uint8_t>& vQuery, int16_t QueryLength,
                                            int16_t RespLength,
                                            std::vector<uint8_t>& vResponse) = 0;
  [[nodiscard]] virtual int16_t get_Retries() = 0;
  virtual void CloseConnection() = 0;
  // Why the last OpenConnection or Connect failed: the port, device path or host and the
  // system's reason. A component that cannot tell says nothing.
  [[nodiscard]] virtual std::string LastConnectError() const { return std::string(); }
};

// Passes every operation on to another instance; a subclass overrides what it watches
// (a benchmark timing exchanges, a test counting them).
class TkoMBServerRelay : public TkoMBServerLink {
 public:
  explicit TkoMBServerRelay(std::unique_ptr<TkoMBServerLink> inner) : inner_(std::move(inner)) {}
  bool OpenConnection(const std::string& n, int16_t t) override {
    return inner_->OpenConnection(n, t);
  }
  void put_Retries(int16_t v) override { inner_->put_Retries(v); }
  void put_RaiseError(bool v) override { inner_->put_RaiseError(v); }
  void put_BaudRate(int32_t v) override { inner_->put_BaudRate(v); }
  void put_SilentInterval(int32_t v) override { inner_->put_SilentInterval(v); }
  void put_TimeOut(int32_t v) override { inner_->put_TimeOut(v); }
  void put_TcpPort(int32_t v) override { inner_->put_TcpPort(v); }
  void put_ComPort(int16_t v) override { inner_->put_ComPort(v); }
  void put_ByteSize(int16_t v) override { inner_->put_ByteSize(v); }
  void put_FlowControl(int16_t v) override { inner_->put_FlowControl(v); }
  void put_Parity(int16_t v) override { inner_->put_Parity(v); }
  void put_StopBits(int16_t v) override { inner_->put_StopBits(v); }
  void put_TransmissionMode(int16_t v) override { inner_->put_TransmissionMode(v); }
  void put_Host(const std::string& v) override { inner_->put_Host(v); }
  bool Connect() override { return inner_->Connect(); }
  int32_t TxRxMessage(const std::vector<uint8_t>& q, int16_t ql, int16_t rl,
                      std::vector<uint8_t>& r) override {
    return inner_->TxRxMessage(q, ql, rl, r);
  }
  int16_t get_Retries() override { return inner_->get_Retries(); }
  void CloseConnection() override { inner_->CloseConnection(); }
  std::string LastConnectError() const override { return inner_->LastConnectError(); }

 private:
  std::unique_ptr<TkoMBServerLink> inner_;
};

// Creates a server instance; may throw (component not available), which gives code -4.
using TkoMBServerFactory = std::function<std::unique_ptr<TkoMBServerLink>()>;

namespace vx {
// The transport library's component behind the engine's interface: what a thread
// creates when no factory is set.
std::unique_ptr<TkoMBServerLink> CreateTransportServer();

// Where an error raised by an engine handler on the user-interface thread goes: it is
// shown and goes no further. The application installs its own; the default writes to
// the standard error stream.
void SetMBErrorReporter(std::function<void(const std::string& message)> reporter);
void ReportMBError(const std::string& message);
}  // namespace vx

// A slave device as the connection thread and its transactions see it. The slave device
// class (a register data buffer with a state machine) implements it.
class TkoMBDevice : public TkoMBObject {
 public:
  // The device's transactions, in creation order; the worker holds the list's lock for a
  // whole pass over it.
  virtual TkoMBTransaList& GetTransactions() = 0;

  // Read by the worker at every pass without a lock.
  [[nodiscard]] virtual bool IsSetupEnabled() const = 0;
  [[nodiscard]] virtual uint8_t GetSlaveAddress() const = 0;
  [[nodiscard]] virtual int32_t GetMaxFault() const = 0;
  // Default sample time of new transactions, in cycles.
  [[nodiscard]] virtual int32_t GetDefaultRepeatTime() const = 0;
  // The register image that transaction blocks are bound to; may be null.
  [[nodiscard]] virtual TkoRegDataBuffer* GetRegBuffer() = 0;

  [[nodiscard]] virtual TkoMBThread* GetThread() const = 0;
  // Leaves the old thread, stores the new one and joins it; nothing when unchanged.
  virtual void SetThread(TkoMBThread* thread) = 0;
  // Forgets the thread without leaving it (the thread is removing the device itself).
  virtual void DetachThread() = 0;

  // Called by a transaction's constructor and destructor.
  virtual void AddTransa(TkoMBTransaction* transa) = 0;
  virtual void RemoveTransa(TkoMBTransaction* transa) = 0;

  // Events passed up the chain device, thread, network (user-interface thread).
  virtual void DoTransaError(TkoMBTransaction* transa) = 0;
  virtual void DoTransaResponse(TkoMBTransaction* transa) = 0;
  virtual void DoStateChange(TkoMBObject* obj) = 0;
  // The device setup's change notification, raised when one of its transactions changes.
  virtual void NotifySetupChange(TkoMBObject* obj) = 0;
};

// A device setup (a child element "device" of a connection setup) as the connection
// setup sees it.
class TkoMBDeviceEntry : public TkoMBObject {
 public:
  [[nodiscard]] virtual std::string GetDeviceName() const = 0;
  [[nodiscard]] virtual int32_t GetDeviceAddr() const = 0;
  [[nodiscard]] virtual bool IsValid() const = 0;
  [[nodiscard]] virtual bool GetEnabled() const = 0;
  [[nodiscard]] virtual bool HasSlave() const = 0;
  virtual void StartIdentification() = 0;
};

// The network component as connection setups, threads and transactions report to it.
// The network (a parser component) implements it; GetNetwork finds it through the
// element tree's parser.
class TkoMBNetworkEvents {
 public:
  virtual ~TkoMBNetworkEvents() = default;
  virtual void PerformSetupAdd(TkoMBObject* source) = 0;
  virtual void PerformSetupDel(TkoMBObject* source) = 0;
  virtual void PerformSetupChange(TkoMBObject* source) = 0;
  virtual void PerformStateChange(TkoMBObject* source) = 0;
  virtual void PerformTransaError(TkoMBTransaction* source) = 0;
  virtual void PerformTransaResponse(TkoMBTransaction* source) = 0;
  virtual void PerformOnDevMaxCount(TkoMBThreadSetup* setup) = 0;
  [[nodiscard]] virtual int32_t GetDevCount() const = 0;
  [[nodiscard]] virtual int32_t GetDevMaxCount() const = 0;
};
