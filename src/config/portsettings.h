#pragma once
#include <cstdint>
#include <string>

#include "mbwire/mbportmap.h"

namespace vx {

class TIniFile;

// The target of a settings value of section "Ports": a serial device path
// (COM1=/dev/ttyUSB0), or "tcp:HOST:PORT" for a Modbus TCP connection. False for a "tcp:"
// value without a valid host and port (1..65535).
[[nodiscard]] bool ParsePortTarget(const std::string& value, PortTarget* target);

// Fills the process's port map (vx::PortMap()) from section "Ports", every slot: a key
// that is missing, or whose value is not understood, resets its port to the default. A
// value that is not understood is named in `problems` (one line each).
void ApplyPortSettings(const TIniFile& settings, std::string* problems = nullptr);

// The TCP target of a port when the port map makes it one; false for a serial port.
[[nodiscard]] bool TcpTargetOf(int32_t port, PortTarget* target);

}  // namespace vx
