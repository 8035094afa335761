#pragma once
// The whole terminal, every window and the supervisor, on a simulated drive reached over
// TCP as COM1, in a scratch start directory that holds the shipped data model: the set-up
// of the tests that use the terminal as an engineer does.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/mainwin.h"
#include "app/startup.h"
#include "apptest.h"
#include "mbwire/mbportmap.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"

namespace vxtest {

template <class Base = ::testing::Test>
class TerminalOnSim : public Base {
 protected:
  explicit TerminalOnSim(const char* name) : dir(name), name_(name) {}

  // Serves the drive and starts the terminal on it, main window shown.
  void StartTerminal() {
    sim = std::make_unique<ServedDrive>(Line::kTcp, vx::SimServerOptions{}, name_);
    std::filesystem::copy_file(std::string(VX_SOURCE_DIR) + "/models/VX310v220.par",
                               dir.File("VX310v220.par"));
    dir.Write("VX310_ConfigTerm.ini",
              "[Ports]\r\nCOM1=tcp:127.0.0.1:" + std::to_string(sim->TcpPort()) + "\r\n");
    windows = std::make_unique<TApplicationWindows>(dir.Path());
    windows->MainForm()->show();
  }
  void StopTerminal() {
    windows.reset();
    sim.reset();
    vx::ResetComPortPaths();
  }
  bool Pump(const std::function<bool()>& done) {
    return ui.PumpUntil(done, std::chrono::seconds(60));
  }

  bool appReady = (App(), true);
  ScratchDir dir;
  FakeDialogs dialogs;
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::unique_ptr<ServedDrive> sim;
  std::unique_ptr<TApplicationWindows> windows;

 private:
  std::string name_;
};

}  // namespace vxtest
