#pragma once
#include <atomic>
#include <span>
#include <string>

#include "cli/ctlsession.h"

namespace vx {

// Runs one vx310ctl command line (the arguments after the program name); returns the exit
// code. Everything the program prints goes through `streams`.
int RunCtl(std::span<const std::string> args, CtlStreams streams);

// Set from a signal handler: a watch ends at its next sample.
std::atomic<bool>& CtlInterrupted();

}  // namespace vx
