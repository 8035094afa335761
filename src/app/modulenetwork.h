#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/connectionstate.h"
#include "platform/uidispatch.h"

class TkoDeviceSetup;
class TkoDeviceSlave;
class TkoDeviceVX310;
class TkoDeviceVXSlave;
class TkoMBNetwork;
class TkoMBObject;
class TkoMBThread;
class TkoMBTransaction;
class TkoParValue;
class QWidget;

// What the supervisor asks of the main window (TMainForm::SupervisorHooks wires them to
// it). The main window is there before the supervisor and stays until it is gone; an
// empty hook is simply not called.
struct TNetworkMainWindow {
  // With a trailing "/": the data models are looked for here, and the setup changes of a
  // drive replaced on the line are kept here.
  std::string StartDirectory;
  // The settings file, whose about texts head a setup file.
  std::string SettingsFile;
  // The parent of the supervisor's message boxes.
  QWidget* DialogParent = nullptr;
  // Appends one line to the message log.
  std::function<void(const std::string& line)> AddMessage;
  // The connect button carries Disconnect while the connection runs, Connect otherwise.
  std::function<void(bool running)> ConnectionRunning;
  // A drive has been identified: the state lists are bound to TNetwork::Device.
  std::function<void()> BuildStateLists;
  // The drive the lists show is gone: they let go of its parameters.
  std::function<void()> ClearStateLists;
  // After every completed actual-state read.
  std::function<void()> RefreshActState;
  // After every completed setup read.
  std::function<void()> RefreshHwInfo;
  // After every completed fault read: the present and the previous faults' lines.
  std::function<void(const std::vector<std::string>& present,
                     const std::vector<std::string>& previous)>
      SetFaults;
  // Re-evaluates the window's actions; called after every engine notification.
  std::function<void()> UpdateActions;
};

// What the supervisor asks of the drive windows other than the main window. Start-up
// wires them to the windows it creates; an empty hook is a window the program has not
// got.
struct TNetworkWindows {
  // A drive has been identified: build the remote control list and commands, then the
  // setup pages, from TNetwork::Device.
  std::function<void()> BuildControls;
  std::function<void()> BuildPages;
  // The drive the windows show is gone (disconnect, or a drive of another kind): they
  // let go of its parameters.
  std::function<void()> ReleaseDrive;
  // After every completed actual-state read.
  std::function<void()> RefreshControls;
  // Feeds the oscilloscope with the drive's values at time `t` (days).
  std::function<void(double t)> FeedScope;
  // After every completed setup read: refresh the setup window, show it and bring it to
  // the front.
  std::function<void()> SetupRead;
  // Hides the setup and remote control windows.
  std::function<void()> HideDriveWindows;
  // Re-evaluates the other windows' actions; called after every engine notification.
  std::function<void()> UpdateActions;
  // The connection's state changed (each change once): the windows show it and draw live
  // values as stale while the drive is not answering.
  std::function<void(const TConnectionStatus&)> ConnectionState;
};

// The connection supervisor: owns the network component, builds the one connection to
// the drive on Connect, turns the engine's events into lines of the main window's
// message log, wires the identified drive's notifications to the windows and writes
// selected parameters to the drive as soon as they change.
//
// It keeps the state of the connection as a whole (TConnectionStatus): off line,
// identifying, connected, not responding. The drive is taken as not responding at the
// first exchange that gets no answer (the windows mark live values stale at once); the
// loss is reported in the log when a whole transaction has failed with the line silent,
// or the port has gone. An exchange answered before that ends the silence without a
// word; after a reported loss the drive is asked who it is before it counts as back,
// and another drive is taken as a new connection. Each loss and each return is logged
// once.
//
// User-interface thread only; it starts no thread of its own.
class TNetwork {
 public:
  explicit TNetwork(TNetworkMainWindow mainWindow);
  ~TNetwork();  // Disconnect
  TNetwork(const TNetwork&) = delete;
  TNetwork& operator=(const TNetwork&) = delete;

  void Connect(int32_t port, int32_t slave);
  void Disconnect();

  // The identified drive when it is the served drive; none otherwise.
  [[nodiscard]] TkoDeviceVX310* Device() const;
  // The device setup of the present connection; none when there is none.
  [[nodiscard]] TkoDeviceSetup* DeviceSetup() const { return deviceSetup_; }
  // A device setup whose device is connected and ready, on a connection that is
  // connected (not silent, not asking who the drive is).
  [[nodiscard]] bool DeviceReady() const;
  [[nodiscard]] TkoMBNetwork* koMBNetwork() const { return koMBNetwork_.get(); }
  // The connection's state as the windows show it.
  [[nodiscard]] const TConnectionStatus& ConnectionStatus() const { return status_; }

  void SetWindows(TNetworkWindows windows) { windows_ = std::move(windows); }

  // Handlers of the network component.
  void koMBNetworkNetStateChange(TkoMBNetwork* sender, TkoMBObject* source);
  void koMBNetworkTransaError(TkoMBNetwork* sender, TkoMBTransaction* source);

  // Handlers attached to an identified drive.
  void OnActState(TkoDeviceVXSlave* sender, TkoMBTransaction* transa);
  void OnFaultState(TkoDeviceVXSlave* sender, TkoMBTransaction* transa);
  void OnSetupRead(TkoDeviceVXSlave* sender, TkoMBTransaction* transa);
  void OnSetupSent(TkoDeviceVXSlave* sender, TkoMBTransaction* transa);
  void OnSetupSaved(TkoDeviceVXSlave* sender, TkoMBTransaction* transa);
  void WriteIfReady(TkoParValue* par);
  void WriteRefPosIfReady(TkoParValue* par);

 private:
  void DeviceStateChange(TkoDeviceSetup* setup);
  void LineReport(TkoMBThread* thread);
  // A loss the log tells of: the windows show it, the drive is asked again when it answers.
  void ConfirmLoss();
  void SetState(TConnectionState state);
  void DriveReplaced(TkoDeviceSlave* old);
  // Writes the old drive's setup to a file of its own; the file's name, empty when it
  // could not be written.
  std::string KeepSetupAside(const TkoDeviceVX310& drive);
  // Runs fn once the present engine notification is over: modal boxes are never opened
  // inside a connection thread's hand-over, which would hold the thread.
  void Later(std::function<void()> fn);
  void RunLater();
  void AttachDrive(TkoDeviceVX310* drive);
  void ReleaseDrive();
  // The windows re-evaluate their actions (there is no idle update).
  void UpdateWindows();
  // Appends the text to the message log, one line for each of its lines.
  void Log(const std::string& text);
  // Data-model files passed over, and a drive left without any, are named in the log.
  void HookDataModelMessages();

  TNetworkMainWindow main_;
  std::unique_ptr<TkoMBNetwork> koMBNetwork_;
  TkoDeviceSetup* deviceSetup_ = nullptr;  // owned by the network component
  // The device state and slave last acted upon.
  uint8_t lastDeviceState_ = 0;
  const void* lastSlave_ = nullptr;
  TNetworkWindows windows_;
  TConnectionStatus status_;
  bool lineSilent_ = false;    // the last exchange got no answer, or the port has gone
  bool lossReported_ = false;  // "Device is not responding!" since the drive last came
  std::deque<std::function<void()>> later_;
  vx::MessageReceiver laterWindow_;
};
