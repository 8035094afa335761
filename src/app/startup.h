#pragma once
#include <memory>
#include <string>

#include "app/connectionstate.h"

class TAboutForm;
class TControlForm;
class TMainForm;
class TMonitorForm;
class TNetwork;
class TScopeForm;
class TSetupForm;

// Numbers and dates look the same on every machine; the system's regional settings are
// never consulted, now or later. Called once, before any window is made.
void UseTerminalFormats();

// The windows of the program and the supervisor, created in the start-up order (main
// window, supervisor, setup, oscilloscope, remote control, about) and wired together:
// the supervisor reaches the other windows through its hooks, they reach the drive
// through the supervisor. All but the main window start hidden and live until the end.
//
// Needs the user-interface dispatcher installed. Destruction takes the connection down
// first, while the windows it feeds are still there.
class TApplicationWindows {
 public:
  // `startDirectory` empty: the process's current directory. Throws what a window's
  // creation throws.
  explicit TApplicationWindows(const std::string& startDirectory = std::string());
  ~TApplicationWindows();
  TApplicationWindows(const TApplicationWindows&) = delete;
  TApplicationWindows& operator=(const TApplicationWindows&) = delete;

  // Ends the event loop once the main window has closed, every other window having
  // agreed; the end of the desktop session asks the same and cancels it on a refusal.
  // A refusal leaves every window as it was.
  void ConnectProgramEnd();

  // The supervisor's hook for every change of the connection's state: the main
  // window's indicator, stale values in the main and remote control windows, a gap in
  // the oscilloscope's series when the drive is lost.
  void ConnectionStateChanged(const TConnectionStatus& status);

  TMainForm* MainForm() const { return mainForm_.get(); }
  TNetwork* Network() const { return network_.get(); }
  TSetupForm* SetupForm() const { return setupForm_.get(); }
  TScopeForm* ScopeForm() const { return scopeForm_.get(); }
  TControlForm* ControlForm() const { return controlForm_.get(); }
  TAboutForm* AboutForm() const { return aboutForm_.get(); }
  TMonitorForm* MonitorForm() const { return monitorForm_.get(); }

 private:
  void PlaceNewWindows(const std::string& settings);

  std::unique_ptr<TMainForm> mainForm_;
  std::unique_ptr<TNetwork> network_;
  std::unique_ptr<TSetupForm> setupForm_;
  std::unique_ptr<TScopeForm> scopeForm_;
  std::unique_ptr<TControlForm> controlForm_;
  std::unique_ptr<TAboutForm> aboutForm_;
  std::unique_ptr<TMonitorForm> monitorForm_;
};
