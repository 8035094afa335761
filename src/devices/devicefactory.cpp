#include "devices/devicefactory.h"

#include <functional>
#include <map>

#include "devices/deviceslave.h"
#include "devices/quelta.h"
#include "devices/vx120.h"
#include "devices/vx150st.h"
#include "devices/vx310.h"
#include "devices/vxsiblings.h"

namespace {

using Maker = std::function<std::unique_ptr<TkoDeviceSlave>(
    TkoDeviceSetup*, const TkoVersionRecord*, TkoRegDefsList*)>;

template <class T>
Maker Make() {
  return [](TkoDeviceSetup* s, const TkoVersionRecord* v,
            TkoRegDefsList* m) -> std::unique_ptr<TkoDeviceSlave> {
    return std::make_unique<T>(s, v, m);
  };
}

const std::map<std::string, Maker>& Makers() {
  static const std::map<std::string, Maker> makers = {
      {"TkoDeviceVX310", Make<TkoDeviceVX310>()},
      {"TkoDeviceVX160", Make<TkoDeviceVX160>()},
      {"TkoDeviceVX220", Make<TkoDeviceVX220>()},
      {"TkoDeviceVX330", Make<TkoDeviceVX330>()},
      {"TkoDeviceVX340", Make<TkoDeviceVX340>()},
      {"TkoDeviceVX260", Make<TkoDeviceVX260>()},
      {"TkoDeviceVX160VE", Make<TkoDeviceVX160VE>()},
      {"TkoDeviceVX120", Make<TkoDeviceVX120>()},
      {"TkoDeviceVX150ST", Make<TkoDeviceVX150ST>()},
      {"TkoDeviceQueltaCieco", Make<TkoDeviceQueltaCieco>()},
      {"TkoDeviceQueltaBoiler", Make<TkoDeviceQueltaBoiler>()},
      {"TkoDeviceQueltaLcd", Make<TkoDeviceQueltaLcd>()},
  };
  return makers;
}

}  // namespace

std::unique_ptr<TkoDeviceSlave> vx::CreateSlaveDevice(const std::string& className,
                                                      TkoDeviceSetup* setup,
                                                      const TkoVersionRecord* version,
                                                      TkoRegDefsList* dataModel) {
  const auto it = Makers().find(className);
  if (it != Makers().end()) return it->second(setup, version, dataModel);
  return std::make_unique<TkoDeviceSlave>(setup, version, dataModel);
}

std::vector<std::string> vx::DataModelCategoriesOf(const std::string& className) {
  if (className == "TkoDeviceVX310") return {"ActState", "FaultState", "RamSetup", "EEPromSetup"};
  return {};
}

bool vx::DataModelNeedsParameters(const std::string& className) {
  return className == "TkoDeviceVX310";
}
