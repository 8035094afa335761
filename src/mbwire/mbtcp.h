#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "mbwire/mbchannel.h"

// Modbus TCP sockets: the client byte channel, and a listening helper for servers.
namespace vx {

class MBTcpChannel final : public MBChannel {
 public:
  MBTcpChannel(std::string host, uint16_t port, std::chrono::milliseconds connectTimeout)
      : host_(std::move(host)), port_(port), connectTimeout_(connectTimeout) {}
  ~MBTcpChannel() override;
  MBTcpChannel(const MBTcpChannel&) = delete;
  MBTcpChannel& operator=(const MBTcpChannel&) = delete;

  // Resolves the host and connects; false with a reason in `error` when it cannot.
  [[nodiscard]] bool Connect(std::string* error = nullptr);
  void Close();
  [[nodiscard]] bool IsConnected() const { return fd_ >= 0; }

  // Reconnects once when the peer has closed the connection since the last exchange.
  int32_t BeginExchange() override;
  int32_t BeginExchange(std::vector<uint8_t>& dropped) override;
  int32_t Write(std::span<const uint8_t> bytes) override;
  int32_t Read(std::vector<uint8_t>& into, MBClock::time_point deadline) override;

 private:
  int32_t Drain(std::vector<uint8_t>* dropped);
  std::string host_;
  uint16_t port_;
  std::chrono::milliseconds connectTimeout_;
  int fd_ = -1;
  bool lost_ = false;  // the peer went away; the next exchange reconnects
};

// Opens a listening TCP socket on host:port (port 0 lets the system pick); returns the
// descriptor or -1, and the bound port in `boundPort`.
[[nodiscard]] int TcpListen(const std::string& host, uint16_t port, uint16_t* boundPort = nullptr);

}  // namespace vx
