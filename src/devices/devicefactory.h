#pragma once
#include <memory>
#include <string>

class TkoDeviceSetup;
class TkoDeviceSlave;
class TkoRegDefsList;
class TkoVersionRecord;

namespace vx {
// Creates the device of the named class (a class name of the supported-device table,
// or "TkoDeviceQueltaLcd"); a name without a class of its own gives a plain
// TkoDeviceSlave. Throws EkoException as the device constructors do.
std::unique_ptr<TkoDeviceSlave> CreateSlaveDevice(const std::string& className,
                                                  TkoDeviceSetup* setup,
                                                  const TkoVersionRecord* version,
                                                  TkoRegDefsList* dataModel);
}  // namespace vx
