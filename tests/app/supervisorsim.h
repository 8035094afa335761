#pragma once
// The supervisor and the main window against the drive simulator, served from a thread of
// the test process over Modbus TCP on loopback or RTU on a pseudo-terminal, with the line
// faults a service engineer meets: a drive that falls silent and comes back, a drive
// switched off and another started on the same port, frames dropped or spoilt, the
// pseudo-terminal vanishing. The test thread plays the user-interface thread.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "apptest.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"

namespace vxtest {

inline constexpr auto kSupervisorWait = std::chrono::seconds(60);
inline const std::string kSupervisorModel = std::string(VX_SOURCE_DIR) + "/models/VX310v220.par";

// What the simulated drive is and how its line misbehaves.
struct Drive {
  Line line = Line::kTcp;
  std::string version = "VX310v220";
  std::vector<SimFault> faults;
  std::optional<uint64_t> silentAfter;
  uint64_t dropEvery = 0;
  uint64_t corruptEvery = 0;
};

class SupervisorOnSim : public ::testing::Test {
 protected:
  // Starts the simulator, writes the start folder (data model, settings that map COM1 to
  // it) and opens the main window and the supervisor there.
  void Start(const Drive& d) {
    if (!std::filesystem::exists(dir.File("VX310v220.par")))
      std::filesystem::copy_file(kSupervisorModel, dir.File("VX310v220.par"));
    drive = d;
    StartSim(d, 0);
    const std::string target =
        d.line == Line::kTcp ? "tcp:127.0.0.1:" + std::to_string(sim->TcpPort()) : sim->Link();
    dir.Write("VX310_ConfigTerm.ini", "[Ports]\r\nCOM1=" + target + "\r\n");
    form = std::make_unique<TMainForm>(dir.Path());
    net = std::make_unique<TNetwork>(form->SupervisorHooks());
    form->SetNetwork(net.get());
    form->SetDriveWindows(&setupWin, &controlWin, &scopeWin);
    TNetworkWindows w;
    w.BuildControls = [this] { calls.push_back("BuildControls"); };
    w.BuildPages = [this] { calls.push_back("BuildPages"); };
    w.ReleaseDrive = [this] { ++releases; };
    w.SetupRead = [this] { calls.push_back("SetupRead"); };
    w.RefreshControls = [this] { ++actStates; };
    w.FeedScope = [this](double t) { lastStamp = t; };
    w.HideDriveWindows = [this] {
      setupWin.hide();
      controlWin.hide();
    };
    w.ConnectionState = [this](const TConnectionStatus& s) { states.push_back(s.State); };
    net->SetWindows(std::move(w));
  }
  // The drive switched off for good: TCP peer gone, pseudo-terminal gone.
  void KillSim() { sim.reset(); }
  // A drive started where the last one was (same TCP port, same pseudo-terminal link),
  // of this version and with these line faults.
  void RestartSim(const Drive& d) {
    const uint16_t port = sim ? sim->TcpPort() : lastPort;
    sim.reset();
    StartSim(d, port);
  }
  void TearDown() override {
    net.reset();
    form.reset();
    sim.reset();
    vx::ResetComPortPaths();
  }
  bool Pump(const std::function<bool()>& done) { return ui.PumpUntil(done, kSupervisorWait); }
  bool Logged(const std::string& line) {
    const std::vector<std::string> all = Log();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  int Count(const std::string& line) {
    const std::vector<std::string> all = Log();
    return static_cast<int>(std::count(all.begin(), all.end(), line));
  }
  int CountStarting(const std::string& prefix) {
    int n = 0;
    for (const std::string& l : Log()) n += l.rfind(prefix, 0) == 0;
    return n;
  }
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    for (const QString& l : form->Controls().Memo->toPlainText().split(QLatin1Char('\n')))
      lines.push_back(l.toStdString());
    return lines;
  }
  // Index of the first line, -1 when missing.
  int IndexOf(const std::string& line) {
    const std::vector<std::string> all = Log();
    const auto it = std::find(all.begin(), all.end(), line);
    return it == all.end() ? -1 : static_cast<int>(it - all.begin());
  }
  bool ConnectAndWaitForSetup() {
    form->acOpenConnection->trigger();
    return Pump([&] { return Logged("Setup dowloaded, data refreshed."); });
  }
  bool DriveActionsEnabled() {
    return form->acSetupForm->isEnabled() && form->acRemoteCtrl->isEnabled() &&
           form->acViewScope->isEnabled();
  }
  bool DriveActionsDisabled() {
    return !form->acSetupForm->isEnabled() && !form->acRemoteCtrl->isEnabled() &&
           !form->acViewScope->isEnabled();
  }
  TConnectionState State() const { return net->ConnectionStatus().State; }

  bool appReady = (App(), true);
  ScratchDir dir{"supervisor"};
  FakeDialogs dialogs;
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::unique_ptr<ServedDrive> sim;
  QWidget setupWin, controlWin, scopeWin;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<TNetwork> net;
  std::vector<std::string> calls;
  std::vector<TConnectionState> states;  // every change the windows were told of
  int releases = 0;                      // the windows let go of the drive
  int actStates = 0;
  double lastStamp = 0;
  Drive drive;

 private:
  void StartSim(const Drive& d, uint16_t port) {
    vx::SimServerOptions options;
    options.silentAfter = d.silentAfter;
    options.dropEvery = d.dropEvery;
    options.corruptEvery = d.corruptEvery;
    options.tcpPort = port;
    vx::SimDriveOptions driveOptions;
    driveOptions.version = TkoVersionRecord(d.version);
    sim = std::make_unique<ServedDrive>(d.line, options, "modnet", driveOptions, d.faults);
    lastPort = sim->TcpPort();
  }
  uint16_t lastPort = 0;
};

}  // namespace vxtest
