#pragma once
#include <cstdint>
#include <string>

namespace vx {

class TIniFile;

// Where a COM port of the terminal leads. A port maps to a serial device path (section
// "Ports", COM1=/dev/ttyUSB0); a value "tcp:HOST:PORT" makes that port a Modbus TCP
// connection instead, for drives behind a gateway and for the simulator on TCP.
struct PortTarget {
  bool Tcp = false;
  std::string Device;  // serial: the device path
  std::string Host;    // TCP
  int32_t TcpPort = 0;
};

// The target of a settings value; false for a "tcp:" value without a valid host and port
// (1..65535).
[[nodiscard]] bool ParsePortTarget(const std::string& value, PortTarget* target);

// Reads section "Ports" and hands every serial mapping to the engine; TCP mappings are
// kept for PortTargetOf. Keys that are missing keep the engine's defaults. A value that
// is not understood is left out and its key named in `problems` (one line each).
void ApplyPortSettings(const TIniFile& settings, std::string* problems = nullptr);

// The TCP target of a port when the settings made it one; false for a serial port.
[[nodiscard]] bool TcpTargetOf(int32_t port, PortTarget* target);

}  // namespace vx
