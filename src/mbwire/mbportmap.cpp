#include "mbwire/mbportmap.h"

namespace vx {

namespace {

bool InRange(int comPort) {
  return comPort >= 1 && comPort <= MBPortMap::kPorts;
}

std::size_t Slot(int comPort) {
  return static_cast<std::size_t>(comPort - 1);
}

std::string DefaultDevice(int comPort) {
  return "/dev/ttyS" + std::to_string(comPort - 1);
}

}  // namespace

void MBPortMap::Set(int comPort, const PortTarget& target) {
  if (!InRange(comPort)) return;
  std::lock_guard lock(mutex_);
  slots_[Slot(comPort)] = target;
}

void MBPortMap::Reset(int comPort) {
  if (!InRange(comPort)) return;
  std::lock_guard lock(mutex_);
  slots_[Slot(comPort)].reset();
}

void MBPortMap::ResetAll() {
  std::lock_guard lock(mutex_);
  for (auto& slot : slots_) slot.reset();
}

PortTarget MBPortMap::Target(int comPort) const {
  if (!InRange(comPort)) return {};
  {
    std::lock_guard lock(mutex_);
    if (const auto& slot = slots_[Slot(comPort)]) return *slot;
  }
  PortTarget serial;
  serial.Device = DefaultDevice(comPort);
  return serial;
}

MBPortMap& PortMap() {
  static MBPortMap map;
  return map;
}

void SetComPortPath(int comPort, const std::string& path) {
  if (path.empty()) {
    PortMap().Reset(comPort);
    return;
  }
  PortTarget serial;
  serial.Device = path;
  PortMap().Set(comPort, serial);
}

std::string ComPortPath(int comPort) {
  if (!InRange(comPort)) return {};
  const PortTarget target = PortMap().Target(comPort);
  return target.Tcp ? DefaultDevice(comPort) : target.Device;
}

void ResetComPortPaths() {
  PortMap().ResetAll();
}

}  // namespace vx
