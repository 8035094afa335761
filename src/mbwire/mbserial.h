#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "mbwire/mbchannel.h"
#include "mbwire/mbcodes.h"

// Serial ports over termios: opening and configuring a port (reused by anything that
// serves on a port), and the byte channel on an open port.
namespace vx {

struct MBSerialSettings {
  int32_t baudRate = 19200;
  int byteSize = 8;  // 7 or 8
  int parity = MBParity::kNone;
  int stopBits = MBStopBits::kOne;
  int flowControl = MBFlowControl::kNone;  // none, DTR/DSR, RTS/CTS or RTS toggle (RS-485)
};

// Time one character takes on the line: start bit, data bits, parity, stop bits.
[[nodiscard]] std::chrono::nanoseconds CharTime(const MBSerialSettings& s);
// The silence that separates RTU frames: 3.5 characters, fixed at 1.75 ms above 19200 baud.
[[nodiscard]] std::chrono::nanoseconds RtuFrameGap(const MBSerialSettings& s);

// An open, configured port. Owns the descriptor.
class MBSerialPort {
 public:
  MBSerialPort() = default;
  ~MBSerialPort();
  MBSerialPort(MBSerialPort&& other) noexcept;
  MBSerialPort& operator=(MBSerialPort&& other) noexcept;
  MBSerialPort(const MBSerialPort&) = delete;
  MBSerialPort& operator=(const MBSerialPort&) = delete;

  // Opens `path` for exclusive use, raw and non-blocking, and applies `settings`. A port
  // another opener holds fails with "Port already busy". A pseudo-terminal, which has no
  // parity, is accepted with the rest of the settings; a real port that refuses a
  // setting fails. On failure `error` says why.
  [[nodiscard]] bool Open(const std::string& path, const MBSerialSettings& settings,
                          std::string* error = nullptr);
  void Close();

  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  [[nodiscard]] int Fd() const { return fd_; }
  [[nodiscard]] bool IsPseudoTerminal() const { return pty_; }
  [[nodiscard]] const MBSerialSettings& Settings() const { return settings_; }
  // RTS must be raised by hand around each transmission (flow control 8 where the driver
  // has no RS-485 mode).
  [[nodiscard]] bool ManualRts() const { return manualRts_; }

 private:
  int fd_ = -1;
  bool pty_ = false;
  bool manualRts_ = false;
  MBSerialSettings settings_;
};

class MBSerialChannel final : public MBChannel {
 public:
  explicit MBSerialChannel(MBSerialPort port) : port_(std::move(port)) {}
  int32_t BeginExchange() override;
  int32_t BeginExchange(std::vector<uint8_t>& dropped) override;
  int32_t Write(std::span<const uint8_t> bytes) override;
  int32_t Read(std::vector<uint8_t>& into, MBClock::time_point deadline) override;
  [[nodiscard]] const MBSerialPort& Port() const { return port_; }

 private:
  MBSerialPort port_;
};

}  // namespace vx
