// vx310ctl: the terminal's engine from the command line, for scripted and batch work.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/ctlmain.h"

namespace {

// A watch ends after its current sample and closes the line; any other command ends at
// once, as programs do on an interrupt.
void OnInterrupt(int sig) {
  if (vx::CtlWatching().load()) {
    vx::CtlInterrupted().store(true);
    return;
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return vx::RunCtl(args, {std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1});
}
