#pragma once
#include <memory>
#include <string>
#include <vector>

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

// The categories the served drive's class reads and writes in its standard transactions,
// and its parameter bindings: a data model for it without them leaves the windows empty.
// The classes of other devices tolerate what their model leaves out: nothing is needed.
std::vector<std::string> DataModelCategoriesOf(const std::string& className);
bool DataModelNeedsParameters(const std::string& className);
}  // namespace vx
