#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/ctloptions.h"
#include "platform/queuedispatcher.h"
#include "platform/uidispatch.h"
#include "regmodel/versionrecord.h"

class TkoDeviceSetup;
class TkoDeviceSlave;
class TkoDeviceVXSlave;
class TkoMBNetwork;
class TkoMBObject;
class TkoMBThreadSetup;
class TkoMBTransaction;
class TkoParValue;

namespace vx {

// Where the program writes: results to `Out`, errors, notes and progress to `Err`.
// Progress is shown only when standard error is a terminal.
struct CtlStreams {
  std::ostream& Out;
  std::ostream& Err;
  bool ErrIsTerminal = false;
};

// What identification found at one address.
struct CtlIdentity {
  int Slave = 0;
  bool Answered = false;
  int32_t Error = 0;  // the version request's result when it did not answer
  TkoVersionRecord Version;
  TkoDeviceSlave* Device = nullptr;  // none without a data model
};

// The engine as the terminal runs it, on the thread of the program: the network
// component with one connection and its device setups, the plain-queue dispatcher pumped
// here in place of the windows' event loop, and waits on the drive's notifications.
// Every failure is a CtlError with one line naming what failed.
class CtlSession {
 public:
  CtlSession(const CtlOptions& options, CtlStreams streams);
  ~CtlSession();  // takes the line off and waits for the connection's thread
  CtlSession(const CtlSession&) = delete;
  CtlSession& operator=(const CtlSession&) = delete;

  // Puts the line on with one device setup per address and waits until each has answered
  // its version request or failed it once. `progress` hears of each address done.
  std::vector<CtlIdentity> Identify(const std::vector<int>& slaves,
                                    const std::function<void(int done, int total)>& progress = {});
  // The drive at --slave, identified and of the drive family; CtlError 3 without an
  // answer, 4 without a data model or for a device of another kind.
  TkoDeviceVXSlave* OpenDrive();

  // Waits for the next completed read of the setup, of the actual state or of the faults
  // (the periodic ones run every cycle and every second). CtlError 3 when a transaction
  // of the drive fails meanwhile.
  void WaitSetupRead();
  void WaitActState(std::chrono::milliseconds limit = std::chrono::milliseconds(0));
  void WaitFaultState();
  // Sends the setup the drive object holds, then saves it to EEPROM when asked; waits for
  // both.
  void SendSetup(bool save);
  // Copies the setup into its EEPROM mirrors and saves it; waits for the answer.
  void SaveSetup();
  // A direct write of one parameter's registers.
  void WriteNow(TkoParValue* par, const std::string& name);

  [[nodiscard]] TkoMBNetwork& Network() { return *network_; }
  // The port as given, with the device path or TCP address it leads to.
  [[nodiscard]] const std::string& PortName() const { return portName_; }
  [[nodiscard]] std::string Who() const;  // "slave N on PORT"
  [[nodiscard]] std::string ModelsDir() const;

 private:
  void BuildConnection(const std::vector<int>& slaves);
  void OnStateChange(TkoMBObject* source);
  void OnTransaResponse(TkoMBTransaction* transa);
  void OnTransaError(TkoMBTransaction* transa);
  // Pumps until `done` holds; throws CtlError on a line failure or after `limit`.
  void Wait(const std::function<bool()>& done, std::chrono::milliseconds limit,
            const std::string& what);
  void Note(const std::string& line) const;

  const CtlOptions& options_;
  CtlStreams streams_;
  QueueDispatcher dispatcher_;
  ScopedDispatcher installed_{dispatcher_};
  std::unique_ptr<TkoMBNetwork> network_;
  TkoMBThreadSetup* connection_ = nullptr;  // owned by the network's tree
  std::vector<TkoDeviceSetup*> devices_;    // likewise
  std::vector<CtlIdentity> identities_;
  std::string portName_;
  TkoDeviceVXSlave* drive_ = nullptr;
  // Counts of the drive's completions, and the first failure met.
  uint64_t setupReads_ = 0, actStates_ = 0, faultStates_ = 0, setupsSent_ = 0, setupsSaved_ = 0;
  bool failed_ = false;
  CtlError failure_{0, std::string()};
  uint8_t lastConnState_ = 0;
};

}  // namespace vx
