#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The Modbus server component as the connection thread drives it. MBServer implements
// it over the wire; a scripted component can stand in for the transport. Called on the connection's
// worker thread only. An error raised during the open sequence is an exception (the thread maps it
// to -4); exchanges report result codes.
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
