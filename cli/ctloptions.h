#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vx {

// Exit codes of vx310ctl.
enum CtlExit : int {
  kCtlOk = 0,
  kCtlDiffers = 1,   // compare found differences
  kCtlUsage = 2,     // bad usage or bad input file
  kCtlNoAnswer = 3,  // no answer, or the line failed
  kCtlNoModel = 4,   // no data model for the drive
};

// A failure that ends the program: one line for standard error and the exit code.
struct CtlError {
  int Code;
  std::string Message;
};

struct CtlOptions {
  std::string Command;  // empty: none given
  bool Help = false;
  // Line.
  std::string Port = "COM1";
  int Slave = 1;
  int SlaveFirst = 1, SlaveLast = 32;  // scan
  int Baud = 19200;
  int Parity = 2;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int TimeoutMs = 500;
  std::string Models;  // data-model folder; empty: the current folder
  // Output.
  bool Json = false;
  bool Quiet = false;
  bool Verbose = false;
  // Commands.
  bool Watch = false;
  int IntervalMs = 100;
  bool Save = false;
  std::string Out;
  std::string In;
  std::vector<std::string> Items;  // get: names; set: NAME=VALUE
  int Count = 0;                   // sniff: exchanges to show; 0 until interrupted
};

inline constexpr const char* kCtlCommands[] = {"scan", "identify", "state",   "faults",  "get",
                                               "set",  "backup",   "restore", "compare", "sniff"};

// Parses the arguments after the program name. Throws CtlError (kCtlUsage) naming the
// option at fault.
CtlOptions ParseCtlOptions(std::span<const std::string> args);

// The help text: the program's with no command, else that command's, with an example.
std::string CtlUsage(const std::string& command);

}  // namespace vx
