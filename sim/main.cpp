// vx310-sim: a VX310 drive on the wire, for the terminal, the tests and training.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/koexception.h"
#include "sim/simdrive.h"
#include "sim/simimage.h"
#include "sim/simoptions.h"
#include "sim/simserver.h"

namespace {

int g_stopFd = -1;

void OnSignal(int) {
  if (g_stopFd >= 0) {
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_stopFd, &c, 1);
  }
}

// A pattern (VX310v2*) or a short version (VX310v22) parses, but its version word would
// name another firmware than the one meant.
bool IsOneVersion(const TkoVersionRecord& v) {
  const auto wild = [](const char c[2]) { return c[0] == '*' || c[1] == '*'; };
  return v.Model != 0 && v.VerMajor >= 0 && v.VerMinor >= 0 && v.VerRelease >= 0 &&
         !wild(v.Variant) && !wild(v.Suffix);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vx310-sim: %s\n", message.c_str());
  return 2;
}

// The shipped model: beside an installed program (<bindir>/../share/vx310/models), else
// the source tree's the program was built from.
std::string DefaultModel() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto installed = exe.parent_path().parent_path() / "share/vx310/models/VX310v220.par";
    if (std::filesystem::is_regular_file(installed, ec)) return installed.string();
  }
  return VX_SIM_DEFAULT_MODEL;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  vx::SimOptions opt;
  std::string error;
  if (!vx::ParseSimOptions(args, opt, error)) return Fail(error + " (try --help)");
  if (opt.help) {
    std::fputs(vx::SimUsage(DefaultModel()).c_str(), stdout);
    return 0;
  }
  if (opt.model.empty()) opt.model = DefaultModel();

  TkoVersionRecord version;
  if (!version.Parse(opt.version) || !IsOneVersion(version))
    return Fail("--version " + opt.version +
                ": not the version of one drive, such as VX310v220 (three digits, no *)");
  for (int slave : opt.slaves) {
    // A state file that could never be written would only show at the first save.
    const std::string stateFile = vx::SimStateFileFor(opt, slave);
    if (stateFile.empty()) continue;
    std::error_code ec;
    const std::filesystem::path state(stateFile);
    const std::filesystem::path dir =
        state.has_parent_path() ? state.parent_path() : std::filesystem::path(".");
    if (!std::filesystem::exists(state, ec) && access(dir.c_str(), W_OK) != 0)
      return Fail("--state " + stateFile + ": cannot create a file in " + dir.string());
  }

  vx::SimServerOptions serverOptions;
  serverOptions.ptyLink = opt.ptyLink;
  serverOptions.serialDevice = opt.serialDevice;
  serverOptions.serial.baudRate = opt.baud;
  serverOptions.serial.parity = opt.parity;
  if (opt.line) {
    serverOptions.serial = opt.line->Serial();
    const auto turnaround =
        opt.turnaroundMs
            ? std::chrono::nanoseconds(static_cast<int64_t>(*opt.turnaroundMs * 1e6 + 0.5))
            : std::chrono::nanoseconds(-1);
    serverOptions.line = vx::SimLineTiming::Of(*opt.line, turnaround, opt.strictGaps);
  }
  serverOptions.tcp = opt.tcp;
  serverOptions.tcpHost = opt.tcpHost;
  serverOptions.tcpPort = static_cast<uint16_t>(opt.tcpPort);
  serverOptions.dropEvery = opt.dropEvery;
  serverOptions.corruptEvery = opt.corruptEvery;
  serverOptions.silentAfter = opt.silentAfter;
  serverOptions.verbose = opt.verbose;

  try {
    // Each slave is a drive of its own: its own register image, motor and EEPROM.
    std::vector<std::unique_ptr<vx::SimImage>> images;
    std::vector<std::unique_ptr<vx::SimDrive>> drives;
    std::vector<vx::SimDrive*> served;
    for (int slave : opt.slaves) {
      images.push_back(std::make_unique<vx::SimImage>(opt.model));
      if (images.size() == 1 && !images.back()->Model().MatchesVersion(&version))
        std::fprintf(stderr, "vx310-sim: warning: %s does not list version %s\n", opt.model.c_str(),
                     version.ToString().c_str());
      vx::SimDriveOptions driveOptions;
      driveOptions.slave = static_cast<uint8_t>(slave);
      driveOptions.version = version;
      driveOptions.stateFile = vx::SimStateFileFor(opt, slave);
      drives.push_back(
          std::make_unique<vx::SimDrive>(*images.back(), driveOptions, vx::SimDrive::Clock::now()));
      vx::SimDrive& drive = *drives.back();
      const std::string who = opt.slaves.size() > 1 ? "slave " + std::to_string(slave) + ": " : "";
      for (const std::string& w : drive.Warnings())
        std::fprintf(stderr, "vx310-sim: warning: %s%s\n", who.c_str(), w.c_str());
      for (const auto& [reg, bit] : opt.faults)
        if (!drive.InjectFault(reg, bit, &error))
          return Fail("--fault " + reg + ":" + std::to_string(bit) + ": " + error);
      served.push_back(&drive);
    }

    vx::SimServer server(served, serverOptions);
    server.Open();
    g_stopFd = server.StopFd();
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("listening on %s\n", server.Where().c_str());
    std::fflush(stdout);
    const bool stopped = server.Run();
    g_stopFd = -1;
    if (!stopped) return 1;
    if (opt.verbose)
      std::fprintf(stderr, "vx310-sim: stopped after %llu requests\n",
                   static_cast<unsigned long long>(server.Requests()));
  } catch (const EkoException& e) {
    return Fail(e.what());
  }
  return 0;
}
