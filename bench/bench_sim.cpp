// vx310-bench sim: the drive simulator's throughput over TCP loopback and its CPU use
// while it serves the terminal's kind of load.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbtcp.h"
#include "mbwire/mbtransport.h"
#include "simprocess.h"

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<vx::MBTransport> Connect(int port) {
  auto channel = std::make_unique<vx::MBTcpChannel>("127.0.0.1", static_cast<uint16_t>(port),
                                                    std::chrono::milliseconds(2000));
  std::string error;
  if (!channel->Connect(&error)) {
    std::fprintf(stderr, "sim: cannot connect: %s\n", error.c_str());
    return nullptr;
  }
  vx::MBTiming timing;
  timing.timeOut = std::chrono::milliseconds(1000);
  return std::make_unique<vx::MBTcpTransport>(std::move(channel), timing);
}

int Run(const std::vector<std::string>& args) {
  std::string simPath = vxbench::DefaultSimPath();
  double idleSeconds = 30.0;
  double loadSeconds = 3.0;
  for (std::size_t i = 0; i < args.size(); i += 2) {
    const bool known =
        args[i] == "--sim" || args[i] == "--idle-seconds" || args[i] == "--load-seconds";
    if (!known || i + 1 >= args.size()) {
      std::fprintf(stderr, "sim: %s %s (--sim PATH, --idle-seconds S, --load-seconds S)\n",
                   known ? "no value for" : "unknown argument", args[i].c_str());
      return 2;
    }
    const std::string& value = args[i + 1];
    if (args[i] == "--sim") {
      simPath = value;
    } else if (!vxbench::ParseSeconds(value,
                                      args[i] == "--idle-seconds" ? idleSeconds : loadSeconds)) {
      std::fprintf(stderr, "sim: %s %s: a number of seconds above 0, at most 3600\n",
                   args[i].c_str(), value.c_str());
      return 2;
    }
  }
  vxbench::SimProcess sim(simPath);
  if (sim.Port() == 0) {
    std::fprintf(stderr, "sim: %s did not start (give its path with --sim)\n", simPath.c_str());
    return 1;
  }
  auto transport = Connect(sim.Port());
  if (!transport) return 1;

  // Throughput: 10-register reads of the actual state, back to back.
  const std::vector<uint8_t> read10{1, 0x03, 0, 200, 0, 10};
  std::vector<uint8_t> response;
  long done = 0, failed = 0;
  const double start = vxbench::NowMs();
  while (vxbench::NowMs() - start < loadSeconds * 1000.0) {
    if (transport->Transact(read10, response) == vx::mbresult::kOk && response.size() == 23)
      ++done;
    else
      ++failed;
  }
  const double elapsed = (vxbench::NowMs() - start) / 1000.0;
  if (failed != 0) std::fprintf(stderr, "sim: %ld of %ld requests failed\n", failed, failed + done);
  vxbench::Figure("sim-tcp", static_cast<double>(done) / elapsed, "req/s");

  // Idle load: one 30-register read every 100 ms, as the terminal's cycle does.
  const std::vector<uint8_t> read30{1, 0x03, 0, 100, 0, 30};
  const double cpuBefore = sim.CpuSeconds();
  const auto t0 = Clock::now();
  auto next = t0;
  long idleFailed = 0;
  while (Clock::now() - t0 < std::chrono::duration<double>(idleSeconds)) {
    if (transport->Transact(read30, response) != vx::mbresult::kOk || response.size() != 63)
      ++idleFailed;
    next += std::chrono::milliseconds(100);
    std::this_thread::sleep_until(next);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = sim.CpuSeconds() - cpuBefore;
  if (idleFailed != 0) std::fprintf(stderr, "sim: %ld idle-load requests failed\n", idleFailed);
  vxbench::Figure("sim-cpu-idle", 100.0 * cpu / wall, "%");
  return failed == 0 && idleFailed == 0 ? 0 : 1;
}

VX_BENCH("sim",
         "simulator: TCP req/s of 10-register reads, CPU % serving one 30-register read per 100 ms",
         Run);

}  // namespace
