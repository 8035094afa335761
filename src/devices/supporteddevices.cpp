#include "devices/supporteddevices.h"

#include "regmodel/versionrecord.h"

const std::vector<vx::SupportedDeviceGroup>& vx::SupportedDevices() {
  static const std::vector<SupportedDeviceGroup> kGroups = {
      {{"VX140v*", "VX120v*"}, "TkoDeviceVX120"},
      {{"VX220v*"}, "TkoDeviceVX220"},
      {{"VX310v*"}, "TkoDeviceVX310"},
      {{"VXP410_VX150v*-ST"}, "TkoDeviceVX150ST"},
      {{"VX160- 2v*", "VX160- 4v*", "VX160- 6v*", "VX160- 8v*", "VX160-10v*"}, "TkoDeviceVX160VE"},
      {{"VX160-2v*", "VX160-4v*", "VX160-6v*", "VX160-8v*", "VX160-10v*"}, "TkoDeviceVX160VE"},
      {{"VX160-VEv*", "VX160-IMv*", "VX160-MIv*"}, "TkoDeviceVX160VE"},
      {{"VX160v*"}, "TkoDeviceVX160"},
      {{"VXP420_VX330v*", "VXP420_VX330-Av*", "VX330v*"}, "TkoDeviceVX330"},
      {{"VX340v*", "VX360v*", "VX370v*"}, "TkoDeviceVX340"},
      {{"VX260-*v*-*"}, "TkoDeviceVX260"},
  };
  return kGroups;
}

std::string vx::SupportedDeviceClass(const TkoVersionRecord& version) {
  for (const SupportedDeviceGroup& group : SupportedDevices())
    for (const std::string& pattern : group.Patterns)
      if (version.Matches(pattern)) return group.ClassName;
  return kPlainSlaveClass;
}
