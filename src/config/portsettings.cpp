#include "config/portsettings.h"

#include <charconv>

#include "config/inifile.h"

namespace vx {

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
  for (int port = 1; port <= MBPortMap::kPorts; ++port) {
    const std::string key = "COM" + std::to_string(port);
    const std::string value = settings.ReadString("Ports", key, std::string());
    PortTarget target;
    if (value.empty()) {
      PortMap().Reset(port);
    } else if (ParsePortTarget(value, &target)) {
      PortMap().Set(port, target);
    } else {
      PortMap().Reset(port);
      if (problems) *problems += "Ports: " + key + "=" + value + " is not a port.\n";
    }
  }
}

bool TcpTargetOf(int32_t port, PortTarget* target) {
  const PortTarget t = PortMap().Target(port);
  if (!t.Tcp) return false;
  *target = t;
  return true;
}

}  // namespace vx
