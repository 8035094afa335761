#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "mbwire/mbchannel.h"

// Serial ports over termios: the COM port mapping, opening and configuring a port
// (reused by anything that serves on a port), and the byte channel on an open port.
namespace vx {

// COM1..COM8 map to device paths, /dev/ttyS0../dev/ttyS7 unless the application sets
// others (from its settings file). Thread-safe.
void SetComPortPath(int comPort, const std::string& path);
[[nodiscard]] std::string ComPortPath(int comPort);  // "" outside 1..8
void ResetComPortPaths();

struct MBSerialSettings {
  int32_t baudRate = 19200;
  int byteSize = 8;     // 7 or 8
  int parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int stopBits = 0;     // 0 one, 1 one and a half (two on Linux), 2 two
  int flowControl = 0;  // 0 none, 1 DTR/DSR, 2 RTS/CTS, 8 RTS toggle (RS-485)
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
  int32_t Write(std::span<const uint8_t> bytes) override;
  int32_t Read(std::vector<uint8_t>& into, MBClock::time_point deadline) override;
  [[nodiscard]] const MBSerialPort& Port() const { return port_; }

 private:
  MBSerialPort port_;
};

}  // namespace vx
