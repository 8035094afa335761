#pragma once
// The drive simulator program as a child process of a benchmark, listening on a free TCP
// port of the loopback address; stopped with SIGTERM when the object goes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace vxbench {

// The folder of the running vx310-bench.
inline std::string ExeDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string path = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : ".";
  return path.substr(0, path.rfind('/'));
}

// The first readable candidate, else the first one (so that the error names it).
inline std::string FirstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& c : candidates)
    if (access(c.c_str(), R_OK) == 0) return c;
  return candidates.front();
}

// Where the build puts vx310-sim beside the benchmark.
inline std::string DefaultSimPath() {
  const std::string dir = ExeDir();
  return FirstExisting({dir + "/../sim/vx310-sim", dir + "/sim/vx310-sim", dir + "/vx310-sim"});
}

class SimProcess {
 public:
  // `model` empty: the simulator's own default model.
  explicit SimProcess(const std::string& path, const std::string& model = std::string())
      : SimProcess(path, TcpArgs(model)) {}
  // Any other command line (the arguments after the program name); ready once it has
  // printed its "listening on" line.
  SimProcess(const std::string& path, const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      return;
    }
    // Its first line is "listening on ...", such as "listening on tcp 127.0.0.1:PORT".
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) continue;
      char buf[256];
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    ready_ = text.rfind("listening on", 0) == 0;
    const auto tcp = text.find("tcp ");
    const auto colon = text.rfind(':');
    if (ready_ && tcp != std::string::npos && colon != std::string::npos && colon > tcp) {
      const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
      if (port > 0 && port <= 65535) port_ = static_cast<int>(port);
    }
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // 0 when the simulator did not start or does not listen on TCP.
  int Port() const { return port_; }
  // It has said where it listens.
  bool Ready() const { return ready_; }

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
  static std::vector<std::string> TcpArgs(const std::string& model) {
    std::vector<std::string> args{"--tcp", "127.0.0.1:0"};
    if (!model.empty()) args.insert(args.end(), {"--model", model});
    return args;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace vxbench
