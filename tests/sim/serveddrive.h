#pragma once
// A drive simulator serving from a thread of the test process, over Modbus TCP on loopback
// or RTU on a pseudo-terminal, until the object goes. Shared by the tests that put the
// project's transport and engine against the simulator.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/simdrive.h"
#include "sim/simimage.h"
#include "sim/simserver.h"

namespace vxtest {

inline const std::string kVx310Model = std::string(VX_SOURCE_DIR) + "/models/VX310v220.par";

enum class Line { kTcp, kRtu };

inline const char* LineName(Line line) {
  return line == Line::kTcp ? "Tcp" : "Rtu";
}

// A fault set in the drive before it serves: a register (name or number) and its bit.
using SimFault = std::pair<std::string, int>;

class ServedDrive {
 public:
  // `tag` keeps the pseudo-terminal links of different test programs apart. The faults
  // are in place before the first request is answered.
  ServedDrive(Line line, vx::SimServerOptions options, const std::string& tag,
              vx::SimDriveOptions drive = {}, const std::vector<SimFault>& faults = {})
      : image_(kVx310Model), drive_(image_, std::move(drive), vx::SimDrive::Clock::now()) {
    for (const auto& [reg, bit] : faults) {
      std::string error;
      EXPECT_TRUE(drive_.InjectFault(reg, bit, &error)) << error;
    }
    // A TCP port given is taken again (a drive restarted where it was); 0 picks one.
    if (line == Line::kTcp) {
      options.tcp = true;
    } else {
      link_ = (std::filesystem::path(::testing::TempDir()) /
               (tag + "_pty_" + std::to_string(::getpid())))
                  .string();
      options.ptyLink = link_;
    }
    server_ = std::make_unique<vx::SimServer>(drive_, options);
    server_->Open();
    port_ = server_->TcpPort();
    thread_ = std::thread([this] { server_->Run(); });
  }
  ~ServedDrive() { Stop(); }
  ServedDrive(const ServedDrive&) = delete;
  ServedDrive& operator=(const ServedDrive&) = delete;

  // The line goes silent for good, as when the drive is switched off.
  void Stop() {
    if (!server_) return;
    server_->RequestStop();
    thread_.join();
    server_.reset();
  }

  // The line faults from the next request on (SimServer::SetLineFaults).
  void SetLineFaults(std::uint64_t dropEvery, std::uint64_t corruptEvery, bool silent) {
    server_->SetLineFaults(dropEvery, corruptEvery, silent);
  }

  // The drive stops answering while the line stays (switched off), or answers again.
  void SetSilent(bool silent) { server_->SetSilent(silent); }

  // Still known once stopped, for a drive restarted on the same port.
  std::uint16_t TcpPort() const { return port_; }
  const std::string& Link() const { return link_; }

 private:
  vx::SimImage image_;
  vx::SimDrive drive_;
  std::unique_ptr<vx::SimServer> server_;
  std::thread thread_;
  std::string link_;
  std::uint16_t port_ = 0;
};

}  // namespace vxtest
