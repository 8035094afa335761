#include "config/portsettings.h"

#include <array>
#include <charconv>
#include <mutex>

#include "config/inifile.h"
#include "modbus/mbserial.h"

namespace vx {

namespace {

std::mutex tcpMutex;
std::array<PortTarget, 8> tcpTargets;  // Tcp false: the port is serial

}  // namespace

bool ParsePortTarget(const std::string& value, PortTarget* target) {
  PortTarget t;
  if (value.rfind("tcp:", 0) != 0) {
    t.Device = value;
    *target = t;
    return !value.empty();
  }
  const std::string rest = value.substr(4);
  const std::size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  t.Tcp = true;
  t.Host = rest.substr(0, colon);
  const std::string port = rest.substr(colon + 1);
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), t.TcpPort);
  if (ec != std::errc() || end != port.data() + port.size() || t.TcpPort < 1 || t.TcpPort > 65535)
    return false;
  *target = t;
  return true;
}

void ApplyPortSettings(const TIniFile& settings, std::string* problems) {
  std::lock_guard guard(tcpMutex);
  for (int port = 1; port <= 8; ++port) {
    PortTarget& slot = tcpTargets[static_cast<std::size_t>(port - 1)];
    slot = PortTarget{};
    const std::string key = "COM" + std::to_string(port);
    const std::string value = settings.ReadString("Ports", key, std::string());
    if (value.empty()) continue;
    PortTarget target;
    if (!ParsePortTarget(value, &target)) {
      if (problems) *problems += "Ports: " + key + "=" + value + " is not a port.\n";
      continue;
    }
    if (target.Tcp)
      slot = target;
    else
      SetComPortPath(port, target.Device);
  }
}

bool TcpTargetOf(int32_t port, PortTarget* target) {
  if (port < 1 || port > 8) return false;
  std::lock_guard guard(tcpMutex);
  const PortTarget& slot = tcpTargets[static_cast<std::size_t>(port - 1)];
  if (!slot.Tcp) return false;
  *target = slot;
  return true;
}

}  // namespace vx
