#pragma once
#include <atomic>
#include <span>
#include <string>

#include "cli/ctloptions.h"
#include "cli/ctlsession.h"

namespace vx {

// Runs one vx310ctl command line (the arguments after the program name); returns the exit
// code. Everything the program prints goes through `streams`.
int RunCtl(std::span<const std::string> args, CtlStreams streams);

// vx310ctl sniff: listens on a serial line and prints the exchanges heard.
int CtlSniff(const CtlOptions& options, CtlStreams streams);

// Set from a signal handler while a watch runs: the watch ends at its next sample.
std::atomic<bool>& CtlInterrupted();
// True while a watch runs; other commands end at once on an interrupt.
std::atomic<bool>& CtlWatching();

}  // namespace vx
