#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mbwire/mbserverlink.h"
#include "mbwire/mbtransport.h"

// The Modbus server component: the operations the connection thread calls, in the
// order it calls them, over serial RTU / ASCII and Modbus TCP. Property values take
// effect at Connect. Called from one thread at a time.
//
// Property values: ComPort 1..8 (device path from vx::PortMap()); BaudRate in bit/s;
// ByteSize 7 or 8; Parity 0 none, 1 odd, 2 even, 3 mark, 4 space; StopBits 0 one,
// 1 one and a half, 2 two; FlowControl 0 none, 1 DTR/DSR, 2 RTS/CTS, 8 RTS toggle;
// TransmissionMode 0 RTU, 1 ASCII; TimeOut: ms to the first byte of an answer;
// SilentInterval: ms of silence that ends an answer of unknown length (at least 3.5
// characters); Host and TcpPort for TCP. Retries is only stored: the caller repeats.
class MBServer final : public TkoMBServerLink {
 public:
  MBServer() = default;
  ~MBServer() override;
  MBServer(const MBServer&) = delete;
  MBServer& operator=(const MBServer&) = delete;

  // Type 1 serial, 2 TCP/IP; false for any other type.
  [[nodiscard]] bool OpenConnection(const std::string& name, int16_t type) override;
  void put_Retries(int16_t value) override { retries_ = value; }
  void put_RaiseError(bool value) override { raiseError_ = value; }
  void put_BaudRate(int32_t value) override { line_.baudRate = value; }
  void put_SilentInterval(int32_t ms) override { silentInterval_ = ms; }
  void put_TimeOut(int32_t ms) override { timeOut_ = ms; }
  void put_TcpPort(int32_t value) override { tcpPort_ = value; }
  void put_ComPort(int16_t value) override { comPort_ = value; }
  void put_ByteSize(int16_t value) override { line_.byteSize = value; }
  void put_FlowControl(int16_t value) override { line_.flowControl = value; }
  void put_Parity(int16_t value) override { line_.parity = value; }
  void put_StopBits(int16_t value) override { line_.stopBits = value; }
  void put_TransmissionMode(int16_t value) override { txMode_ = value; }
  void put_Host(const std::string& value) override { host_ = value; }
  // Opens the port (exclusively) or connects the socket; false when that fails.
  [[nodiscard]] bool Connect() override;
  // vQuery: slave address, function code, data (no checksum); QueryLength bytes of it
  // are sent. RespLength is unused. Returns a communication result code; on success
  // vResponse holds slave address, function code and response data.
  [[nodiscard]] int32_t TxRxMessage(const std::vector<uint8_t>& vQuery, int16_t QueryLength,
                                    int16_t RespLength, std::vector<uint8_t>& vResponse) override;
  [[nodiscard]] int16_t get_Retries() override { return retries_; }
  void CloseConnection() override;

  // Why the last OpenConnection or Connect failed, for the log: the port and its device
  // path, or the host and TCP port, and the system's reason ("COM1 /dev/ttyUSB0:
  // Permission denied", "127.0.0.1:502: Connection refused").
  [[nodiscard]] std::string LastConnectError() const override { return connectError_; }

 private:
  std::string name_;
  int16_t type_ = 0;
  int16_t retries_ = 0;
  bool raiseError_ = false;  // errors are result codes either way
  vx::MBSerialSettings line_;
  int32_t silentInterval_ = 20;
  int32_t timeOut_ = 500;
  int32_t tcpPort_ = 502;
  int16_t comPort_ = 1;
  int16_t txMode_ = 0;
  std::string host_ = "127.0.0.1";
  std::string connectError_;
  std::unique_ptr<vx::MBTransport> transport_;
};

namespace vx {
// The component a connection thread creates when no other factory is set.
[[nodiscard]] std::unique_ptr<TkoMBServerLink> CreateTransportServer();
}  // namespace vx

// Registration of the component. An ordinary library needs none: always succeeds.
[[nodiscard]] bool RegisterMBServer(const std::string& dir);
