#pragma once
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace vx {

// Where a COM port of the terminal leads: a serial device path, or a Modbus TCP target
// (for drives behind a gateway and for the simulator on TCP).
struct PortTarget {
  bool Tcp = false;
  std::string Device;  // serial: the device path
  std::string Host;    // TCP
  int32_t TcpPort = 0;
};

// The COM ports COM1..COM8 and where each leads. A slot that was never set, or was reset,
// is the serial device /dev/ttyS0../dev/ttyS7. The process has one map (PortMap()): the
// settings file fills it, the connection reads it. Thread-safe.
class MBPortMap {
 public:
  static constexpr int kPorts = 8;

  // A port outside 1..8 is ignored.
  void Set(int comPort, const PortTarget& target);
  void Reset(int comPort);
  void ResetAll();
  // Where the port leads; a serial target without a device outside 1..8.
  [[nodiscard]] PortTarget Target(int comPort) const;

 private:
  mutable std::mutex mutex_;
  std::array<std::optional<PortTarget>, kPorts> slots_;
};

// The process's port map.
[[nodiscard]] MBPortMap& PortMap();

// The serial side of the process's map. An empty path resets the slot.
void SetComPortPath(int comPort, const std::string& path);
// The device path of a serial port (the default one for a port mapped to TCP); "" outside
// 1..8.
[[nodiscard]] std::string ComPortPath(int comPort);
// Every slot back to its default.
void ResetComPortPaths();

}  // namespace vx
