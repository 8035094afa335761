// The vx310-sim program as users start it: its command line, its ready line, clean ends
// on signals, an independent Modbus client (mbpoll) over TCP and over the simulator's
// pseudo-terminal, and the EEPROM state surviving a restart.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kSim = std::string(VX_BINARY_DIR) + "/sim/vx310-sim";
const std::string kMbpoll = "/usr/bin/mbpoll";
const std::string kSocat = "/usr/bin/socat";

// A child process whose standard output and error come through one pipe.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      dup2(fds[1], 2);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The first output line that holds `text`, or "" when none came in time.
  std::string WaitLine(const std::string& text, std::chrono::seconds limit = 30s) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
        std::string line = pending_.substr(0, nl);
        output_ += pending_.substr(0, nl + 1);
        pending_.erase(0, nl + 1);
        if (line.find(text) != std::string::npos) return line;
      }
      if (!ReadSome(deadline)) return "";
    }
  }
  // Waits for the end (reading all output); the exit status, or -1 when it did not end
  // in time or ended by a signal.
  int Wait(std::chrono::seconds limit = 30s) {
    const auto deadline = Clock::now() + limit;
    while (ReadSome(deadline)) {
    }
    output_ += pending_;
    pending_.clear();
    if (Clock::now() >= deadline) return -1;
    int st = 0;
    if (waitpid(pid_, &st, 0) != pid_) return -1;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 1000;
    return WIFEXITED(st) ? status_ : -1;
  }
  int Stop(int sig) {
    kill(pid_, sig);
    return Wait();
  }
  const std::string& Output() const { return output_; }

 private:
  // False at the end of the output or at the deadline.
  bool ReadSome(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string pending_;
  std::string output_;
};

std::string Temp(const std::string& name) {
  return (fs::path(::testing::TempDir()) / ("simexec_" + std::to_string(getpid()) + "_" + name))
      .string();
}

// Runs mbpoll once against `where` (extra arguments first) and returns its output.
std::string Mbpoll(std::vector<std::string> args, int* status) {
  args.insert(args.begin(), kMbpoll);
  Child c(args);
  *status = c.Wait();
  return c.Output();
}

// Starts the simulator and returns its ready line.
std::string StartSim(Child& sim) {
  const std::string line = sim.WaitLine("listening on ");
  EXPECT_FALSE(line.empty()) << "no ready line; output: " << sim.Output();
  return line;
}

uint16_t PortOf(const std::string& ready) {
  const auto colon = ready.rfind(':');
  return colon == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(ready.substr(colon + 1)));
}

TEST(SimProgram, ExplainsItsOptionsAndRefusesBadOnes) {
  Child help({kSim, "--help"});
  ASSERT_EQ(help.Wait(), 0);
  for (const char* option :
       {"--model", "--slave", "--version", "--pty", "--serial", "--tcp", "--baud", "--parity",
        "--line", "--turnaround", "--strict-gaps", "--state", "--fault", "--drop-every",
        "--silent-after", "--corrupt-every", "--verbose"})
    EXPECT_NE(help.Output().find(option), std::string::npos) << option;

  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const std::string missing = Temp("missing.par");
  const Case cases[] = {
      {{"--tcp", "0", "--slave", "300"}, "--slave"},
      {{"--tcp", "0", "--slave", "1,1"}, "slave 1 is given twice"},
      {{"--tcp", "0", "--slave", "1,"}, "separated by commas"},
      {{"--slave", "1"}, "nowhere to listen"},
      {{"--tcp", "0", "--bogus"}, "unknown option --bogus"},
      {{"--tcp", "0", "--drop-every", "0"}, "--drop-every"},
      {{"--tcp", "0", "--fault", "ActFault1"}, "REG:BIT"},
      {{"--tcp", "0", "--fault", "NoSuchRegister:3"}, "NoSuchRegister"},
      {{"--tcp", "0", "--version", "hello"}, "--version"},
      {{"--tcp", "0", "--version", "VX310v2*"}, "--version VX310v2*"},
      {{"--tcp", "0", "--version", "VX310v22"}, "--version VX310v22"},
      {{"--tcp", "0", "--version", "VX310-*v220"}, "--version VX310-*v220"},
      {{"--tcp", "0", "--model", missing}, missing.c_str()},
      {{"--tcp", "999.1.1.1:0"}, "999.1.1.1"},
      {{"--tcp", "0", "--state", "/nonexistent-dir/eeprom"}, "--state"},
      {{"--tcp", "0", "--strict-gaps"}, "give --line"},
      {{"--pty", "x", "--line", "19200,8E"}, "--line 19200,8E"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{kSim};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Child sim(argv);
    EXPECT_EQ(sim.Wait(), 2) << c.says;
    EXPECT_NE(sim.Output().find(c.says), std::string::npos) << sim.Output();
  }
}

TEST(SimProgram, EndsCleanlyOnSigintAndSigterm) {
  for (int sig : {SIGINT, SIGTERM}) {
    const std::string link = Temp("pty" + std::to_string(sig));
    Child sim({kSim, "--pty", link, "--tcp", "0"});
    const std::string ready = StartSim(sim);
    EXPECT_NE(ready.find("pty " + link + " -> /dev/pts/"), std::string::npos) << ready;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(sim.Stop(sig), 0) << sim.Output();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link is removed";
  }
}

class SimWithMbpoll : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kMbpoll))
      GTEST_SKIP() << "mbpoll is not installed (scripts/ensure-deps.sh installs it)";
  }
};

// mbpoll reads and writes one-word registers: over TCP and over the pty with RTU framing
// and the terminal's 19200 baud 8E1. Addresses are given from 0 (-0).
TEST_F(SimWithMbpoll, ReadsAndWritesOverTcpAndThePseudoTerminal) {
  const std::string link = Temp("mbpoll-pty");
  Child sim({kSim, "--pty", link, "--tcp", "0", "--slave", "3", "--verbose", "--fault",
             "ActFault2:3", "--fault", "300:0"});
  const uint16_t port = PortOf(StartSim(sim));
  ASSERT_NE(port, 0);
  const std::vector<std::vector<std::string>> lines = {
      {"-m", "tcp", "-p", std::to_string(port), "-a", "3", "-0", "-1", "-o", "5"},
      {"-m", "rtu", "-b", "19200", "-P", "even", "-a", "3", "-0", "-1", "-o", "5"},
  };
  const std::vector<std::string> where = {"127.0.0.1", link};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(where[i]);
    const std::string value = std::to_string(300 + i);
    int status = 0;
    auto args = lines[i];
    args.insert(args.end(), {"-r", "102", "-c", "2", where[i]});
    std::string out = Mbpoll(args, &status);
    ASSERT_EQ(status, 0) << out;
    // Steps per revolution: the default, then what the previous line wrote.
    const std::string before = i == 0 ? "200" : std::to_string(300 + i - 1);
    EXPECT_NE(out.find("[102]: \t" + before), std::string::npos) << out;
    EXPECT_NE(out.find("[103]: \t16"), std::string::npos) << out;  // microsteps

    args = lines[i];
    args.insert(args.end(), {"-r", "102", where[i], value});
    out = Mbpoll(args, &status);
    ASSERT_EQ(status, 0) << out;
    args = lines[i];
    args.insert(args.end(), {"-r", "102", where[i]});
    out = Mbpoll(args, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("[102]: \t" + value), std::string::npos) << out;
  }
  // The faults set at start, present and previous.
  int status = 0;
  auto args = lines[0];
  args.insert(args.end(), {"-r", "300", "-c", "4", where[0]});
  const std::string faults = Mbpoll(args, &status);
  ASSERT_EQ(status, 0) << faults;
  for (const char* line : {"[300]: \t1", "[301]: \t8", "[302]: \t1", "[303]: \t8"})
    EXPECT_NE(faults.find(line), std::string::npos) << line << "\n" << faults;

  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  // Every request is in the log, with the line it came on.
  for (const char* logged :
       {"#1 tcp read 102+2", "#2 tcp write 102", "#4 pty read 102+2", "#5 pty write 102"})
    EXPECT_NE(sim.Output().find(logged), std::string::npos) << logged << "\n" << sim.Output();
}

// --serial on a port it does not create: one end of a pseudo-terminal pair that socat
// joins to another, where mbpoll asks.
TEST_F(SimWithMbpoll, ServesASerialPortGivenByName) {
  if (!fs::exists(kSocat))
    GTEST_SKIP() << "socat is not installed (scripts/ensure-deps.sh installs it)";
  const std::string simEnd = Temp("serial-a"), clientEnd = Temp("serial-b");
  Child socat(
      {kSocat, "-d", "-d", "pty,raw,echo=0,link=" + simEnd, "pty,raw,echo=0,link=" + clientEnd});
  // socat logs each pseudo-terminal it makes, then the start of its transfer loop.
  ASSERT_FALSE(socat.WaitLine("starting data transfer loop").empty()) << socat.Output();
  Child sim({kSim, "--serial", simEnd, "--baud", "19200", "--parity", "even"});
  EXPECT_NE(StartSim(sim).find("serial " + simEnd), std::string::npos);
  int status = 0;
  const std::string out = Mbpoll({"-m", "rtu", "-b", "19200", "-P", "even", "-a", "1", "-0", "-1",
                                  "-o", "5", "-r", "102", "-c", "2", clientEnd},
                                 &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("[102]: \t200"), std::string::npos) << out;
  EXPECT_NE(out.find("[103]: \t16"), std::string::npos) << out;
  // The port going away ends a simulator that has nothing else to serve.
  socat.Stop(SIGTERM);
  EXPECT_EQ(sim.Wait(), 1) << sim.Output();
  EXPECT_NE(sim.Output().find("the line is gone"), std::string::npos) << sim.Output();
}

TEST_F(SimWithMbpoll, KeepsTheEepromAcrossARestart) {
  const std::string state = Temp("eeprom.state");
  fs::remove(state);
  const auto read = [](uint16_t port, const char* reg) {
    int status = 0;
    const std::string out = Mbpoll(
        {"-m", "tcp", "-p", std::to_string(port), "-0", "-1", "-o", "5", "-r", reg, "127.0.0.1"},
        &status);
    EXPECT_EQ(status, 0) << out;
    return out;
  };
  {
    Child sim({kSim, "--tcp", "0", "--state", state});
    const uint16_t port = PortOf(StartSim(sim));
    int status = 0;
    const std::string out = Mbpoll(
        {"-m", "tcp", "-p", std::to_string(port), "-0", "-o", "5", "-r", "1103", "127.0.0.1", "32"},
        &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
  }
  ASSERT_TRUE(fs::exists(state));
  Child sim({kSim, "--tcp", "0", "--state", state});
  const uint16_t port = PortOf(StartSim(sim));
  EXPECT_NE(read(port, "1103").find("[1103]: \t32"), std::string::npos);
  EXPECT_NE(read(port, "103").find("[103]: \t32"), std::string::npos)
      << "RAM setup loaded from the EEPROM";
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  fs::remove(state);
}

}  // namespace
