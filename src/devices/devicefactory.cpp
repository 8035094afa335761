#include "devices/devicefactory.h"

#include "devices/deviceslave.h"

std::unique_ptr<TkoDeviceSlave> vx::CreateSlaveDevice(const std::string& className,
                                                      TkoDeviceSetup* setup,
                                                      const TkoVersionRecord* version,
                                                      TkoRegDefsList* dataModel) {
  (void)className;  // no device class of its own yet
  return std::make_unique<TkoDeviceSlave>(setup, version, dataModel);
}
