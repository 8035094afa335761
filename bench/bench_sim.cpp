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
#include "modbus/mbresult.h"
#include "modbus/mbtcp.h"
#include "modbus/mbtransport.h"

namespace {

using Clock = std::chrono::steady_clock;

// The simulator program, started with a TCP listener on a free port.
class SimChild {
 public:
  explicit SimChild(const std::string& path) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      execl(path.c_str(), path.c_str(), "--tcp", "127.0.0.1:0", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // Wait for "listening on tcp 127.0.0.1:PORT".
    std::string text;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (text.find('\n') == std::string::npos && Clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) continue;
      char buf[256];
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    const auto colon = text.rfind(':');
    if (text.rfind("listening on", 0) == 0 && colon != std::string::npos) {
      const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
      if (port > 0 && port <= 65535) port_ = static_cast<int>(port);
    }
  }
  ~SimChild() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int Port() const { return port_; }
  // User plus system CPU time of the process so far, in seconds.
  double CpuSeconds() const {
    std::ifstream f("/proc/" + std::to_string(pid_) + "/stat");
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto paren = all.rfind(')');
    if (paren == std::string::npos) return 0.0;
    std::istringstream rest(all.substr(paren + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Fields after the command: state is 3, utime 14, stime 15.
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

std::string DefaultSimPath() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string("./vx310-bench");
  dir = dir.substr(0, dir.rfind('/'));
  for (const std::string& candidate : {dir + "/../sim/vx310-sim", dir + "/sim/vx310-sim", dir + "/vx310-sim"})
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  return dir + "/../sim/vx310-sim";
}

std::unique_ptr<vx::MBTransport> Connect(int port) {
  auto channel = std::make_unique<vx::MBTcpChannel>("127.0.0.1", static_cast<uint16_t>(port), std::chrono::milliseconds(2000));
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
  std::string simPath = DefaultSimPath();
  double idleSeconds = 30.0;
  double loadSeconds = 3.0;
  const auto seconds = [](const std::string& text, double& out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(v > 0.0 && v <= 3600.0)) return false;
    out = v;
    return true;
  };
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
    } else if (!seconds(value, args[i] == "--idle-seconds" ? idleSeconds : loadSeconds)) {
      std::fprintf(stderr, "sim: %s %s: a number of seconds above 0, at most 3600\n",
                   args[i].c_str(), value.c_str());
      return 2;
    }
  }
  SimChild sim(simPath);
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
    if (transport->Transact(read10, response) == vx::mbresult::kOk && response.size() == 23) ++done;
    else ++failed;
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
    if (transport->Transact(read30, response) != vx::mbresult::kOk || response.size() != 63) ++idleFailed;
    next += std::chrono::milliseconds(100);
    std::this_thread::sleep_until(next);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = sim.CpuSeconds() - cpuBefore;
  if (idleFailed != 0) std::fprintf(stderr, "sim: %ld idle-load requests failed\n", idleFailed);
  vxbench::Figure("sim-cpu-idle", 100.0 * cpu / wall, "%");
  return failed == 0 && idleFailed == 0 ? 0 : 1;
}

VX_BENCH("sim", "simulator: TCP req/s of 10-register reads, CPU % serving one 30-register read per 100 ms", Run);

}  // namespace
