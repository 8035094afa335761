#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "mbwire/mbcodes.h"
#include "sim/simline.h"

namespace vx {

// The command line of vx310-sim.
struct SimOptions {
  std::string model;  // empty: the shipped model
  // Slave addresses served on the line, each its own drive (--slave 1,2,5).
  std::vector<int> slaves = {1};
  std::string version = "VX310v220";
  std::string ptyLink;
  std::string serialDevice;
  bool tcp = false;
  std::string tcpHost = "127.0.0.1";
  int tcpPort = 0;
  int baud = 19200;
  int parity = MBParity::kEven;  // none, odd or even
  // A paced serial line (--line): characters take their time on the wire.
  std::optional<SimLineFormat> line;
  std::optional<double> turnaroundMs;  // empty: 3.5 characters
  bool strictGaps = false;
  std::string stateFile;
  std::vector<std::pair<std::string, int>> faults;  // register (name or number), bit
  uint64_t dropEvery = 0;                           // 0: never
  uint64_t corruptEvery = 0;                        // 0: never
  std::optional<uint64_t> silentAfter;
  bool verbose = false;
  bool help = false;
};

// Parses the arguments after the program name; false with a reason in `error`.
[[nodiscard]] bool ParseSimOptions(std::span<const std::string> args, SimOptions& options,
                                   std::string& error);

// The EEPROM state file of the drive at `slave`: the file itself when one drive is
// served, else the file name with ".N" appended, so that each drive keeps its own.
[[nodiscard]] std::string SimStateFileFor(const SimOptions& options, int slave);

// The --help text.
[[nodiscard]] std::string SimUsage(const std::string& defaultModel);

}  // namespace vx
