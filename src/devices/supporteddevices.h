#pragma once
#include <string>
#include <vector>

class TkoVersionRecord;

namespace vx {

// One group of the table of supported devices: the version patterns that select a
// device class.
struct SupportedDeviceGroup {
  std::vector<std::string> Patterns;
  std::string ClassName;
};

// The groups in the order they are tried. Some patterns of the VX160 range carry a blank
// after the hyphen; they do not parse and so never match, but stay listed.
const std::vector<SupportedDeviceGroup>& SupportedDevices();

// The class for an identified device: that of the first group with a pattern the
// version matches, or "TkoDeviceSlave" when none does.
std::string SupportedDeviceClass(const TkoVersionRecord& version);

// The class name given to a device no group claims.
inline constexpr const char* kPlainSlaveClass = "TkoDeviceSlave";

}  // namespace vx
