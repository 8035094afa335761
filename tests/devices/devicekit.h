#pragma once
// Helpers of the device tests: small data models, a scratch folder of data-model files
// unique to the test process, a recorder of engine notifications, and a network put on
// line against the drive simulator.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "devices/devicesetup.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "modbus/mbseams.h"
#include "modbus/mbthreadsetup.h"
#include "platform/queuedispatcher.h"
#include "regmodel/dmcollection.h"
#include "regmodel/regdefslist.h"
#include "regmodel/versionrecord.h"

namespace vxtest {

// A data model built from the text of a .par file.
inline std::unique_ptr<TkoRegDefsList> ModelFromText(const std::string& text) {
  auto list = std::make_unique<TkoRegDefsList>();
  list->SetText(text);
  list->BuildDefinitions();
  return list;
}

// A folder of its own for each test process and name, removed with the object.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name)
      : path_(std::filesystem::path(::testing::TempDir()) /
              (name + "_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // With a trailing "/".
  std::string Path() const { return path_.string() + "/"; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  void Write(const std::string& file, const std::string& text) const {
    std::ofstream(path_ / file, std::ios::binary) << text;
  }
  std::string Read(const std::string& file) const {
    std::ifstream in(path_ / file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }

 private:
  std::filesystem::path path_;
};

// One line per notification: "<who>:<what>".
struct EventLog {
  std::vector<std::string> lines;
  void Add(const std::string& line) { lines.push_back(line); }
  int Count(const std::string& line) const {
    int n = 0;
    for (const std::string& l : lines) n += l == line;
    return n;
  }
};

// Adds to `net` one Modbus TCP connection to the simulator on loopback `port`, with one
// device setup at slave address 1 on it; the network's tree owns both. Without
// `repeatTime` the device keeps the setup's own.
inline ::testing::AssertionResult AddSimConnection(TkoMBNetwork& net, uint16_t port,
                                                   const std::string& deviceName,
                                                   std::optional<int32_t> repeatTime,
                                                   TkoMBThreadSetup*& conn, TkoDeviceSetup*& dev) {
  conn = new TkoMBThreadSetup;
  conn->SetThreadName("sim");
  conn->SetConnType(2);
  conn->SetTcpIpPort(port);
  conn->SetRetries(0);
  conn->SetTimeOut(1000);  // a loaded machine is not a silent drive
  conn->SetEnabled(true);
  if (!net.AddConnection(conn)) return ::testing::AssertionFailure() << "connection not added";
  dev = new TkoDeviceSetup;
  dev->SetDeviceName(deviceName);
  dev->SetDeviceAddr(1);
  if (repeatTime) dev->SetRepeatTime(*repeatTime);
  dev->SetEnabled(true);
  if (!conn->AddDevice(dev)) return ::testing::AssertionFailure() << "device not added";
  return ::testing::AssertionSuccess();
}

// Pumps `ui` until identification has made the device ready with a VX310 drive object;
// on failure says the state the device is in.
inline ::testing::AssertionResult PumpUntilVX310(vx::QueueDispatcher& ui, TkoDeviceSetup& dev,
                                                 vx::QueueDispatcher::Timeout timeout) {
  if (ui.PumpUntil(
          [&] {
            return dev.GetState() == TkoDeviceSetup::dsReady &&
                   dynamic_cast<TkoDeviceVX310*>(dev.GetSlave()) != nullptr;
          },
          timeout))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << dev.GetStateText();
}

// The shipped VX310 data model, loaded afresh (a drive writes into its definitions), and
// an enabled device setup at address 1, for a drive built on it without a line. `model`
// is null when the model cannot be found.
struct ShippedVX310 {
  ShippedVX310() {
    collection.SetFilePath(std::string(VX_SOURCE_DIR) + "/models");
    model = collection.FindRegDefsListFor(&version);
    setup.SetDeviceAddr(1);
    setup.SetEnabled(true);
  }
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  TkoVersionRecord version{"VX310v220"};
  TkoDMCollection collection;
  TkoRegDefsList* model = nullptr;
  TkoDeviceSetup setup;
};

}  // namespace vxtest
