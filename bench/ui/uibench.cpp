// vx310-uibench: benchmarks of the terminal's windows. It links Qt, so it is a program of
// its own; vx310-bench (Qt-free) forwards its ui-* sub-commands here.
//
// ui-stall: the real windows and supervisor, offscreen, against the drive simulator served
// from a thread of this process over Modbus TCP and over its pseudo-terminal, every window
// open, walked through a fault matrix: healthy, silent, back, every 5th request dropped,
// every 7th answered corrupt, the simulator killed and started again. A 10 ms timer on the
// user-interface thread measures how late it fires. Figures per line:
//   ui-stall-max, ui-stall-p99   lateness of the 10 ms timer over the matrix
//   stale-mark-s                 drive silent -> live values drawn as stale
//   recover-s                    drive back on the wire -> "Device found" logged again and
//                                the values refreshed
//   recover-restart-s            simulator started again -> the same
// A figure that did not come about within its phase prints "n/a" and why.
#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/aboutwin.h"
#include "app/controlwin.h"
#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "app/scopewin.h"
#include "app/setupwin.h"
#include "app/startup.h"
#include "graph/graphtraccia.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "paramui/qtdispatcher.h"
#include "sim/simdrive.h"
#include "sim/simimage.h"
#include "sim/simserver.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

const std::string kModel = VX_SOURCE_DIR "/models/VX310v220.par";

// The simulator in a thread of this process, as a separate program would run it: killing
// it takes its image and line down, starting it again makes both anew.
class ServedSim {
 public:
  explicit ServedSim(vx::SimServerOptions options) : options_(std::move(options)) { Start(); }
  ~ServedSim() { Kill(); }

  void Start() {
    image_ = std::make_unique<vx::SimImage>(kModel);
    drive_ = std::make_unique<vx::SimDrive>(*image_, vx::SimDriveOptions{}, Clock::now());
    server_ = std::make_unique<vx::SimServer>(*drive_, options_);
    server_->Open();
    // Started again on the port it had, so that the terminal finds it where it was.
    if (options_.tcp) options_.tcpPort = server_->TcpPort();
    thread_ = std::thread([this] { server_->Run(); });
  }
  void Kill() {
    if (!server_) return;
    server_->RequestStop();
    thread_.join();
    server_.reset();
    drive_.reset();
    image_.reset();
  }
  void Faults(uint64_t dropEvery, uint64_t corruptEvery, bool silent) {
    if (server_) server_->SetLineFaults(dropEvery, corruptEvery, silent);
  }
  uint16_t TcpPort() const { return options_.tcpPort; }

 private:
  vx::SimServerOptions options_;
  std::unique_ptr<vx::SimImage> image_;
  std::unique_ptr<vx::SimDrive> drive_;
  std::unique_ptr<vx::SimServer> server_;
  std::thread thread_;
};

// How late a 10 ms timer on the user-interface thread fires.
class StallProbe : public QObject {
 public:
  StallProbe() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  }
  void Start() {
    late_.clear();
    last_ = Clock::now();
    timer_.start();
  }
  void Stop() { timer_.stop(); }
  // Called at every tick, for the conditions the phases wait for.
  std::function<void()> OnTick;

  double MaxMs() const { return late_.empty() ? 0 : *std::max_element(late_.begin(), late_.end()); }
  double P99Ms() const {
    if (late_.empty()) return 0;
    std::vector<double> sorted = late_;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(sorted.size() * 0.99))];
  }

 private:
  void Tick() {
    const Clock::time_point now = Clock::now();
    const double gap = std::chrono::duration<double, std::milli>(now - last_).count();
    last_ = now;
    late_.push_back(std::max(0.0, gap - 10.0));
    if (OnTick) OnTick();
  }

  QTimer timer_;
  Clock::time_point last_;
  std::vector<double> late_;
};

// Runs the event loop for a while, or until `done` holds (checked at every probe tick).
bool RunUntil(StallProbe& probe, const std::function<bool()>& done, Seconds limit) {
  QEventLoop loop;
  bool met = false;
  probe.OnTick = [&] {
    if (done && done()) {
      met = true;
      loop.quit();
    }
  };
  QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(limit), &loop,
                     &QEventLoop::quit);
  if (done && done())
    met = true;
  else
    loop.exec();
  probe.OnTick = nullptr;
  return met;
}

// "Device found" lines of the message log, counted without reading the whole log again.
class FoundCounter {
 public:
  explicit FoundCounter(QPlainTextEdit* memo) : memo_(memo) {}
  int Count() {
    QTextDocument* doc = memo_->document();
    for (; next_ < doc->blockCount(); ++next_)
      if (doc->findBlockByNumber(next_).text().startsWith(QLatin1String("Device found"))) ++found_;
    return found_;
  }

 private:
  QPlainTextEdit* memo_;
  int next_ = 0;
  int found_ = 0;
};

struct LineFigures {
  double stallMax = 0, stallP99 = 0;
  std::optional<double> staleMark, recover, recoverRestart;
  std::string staleWhy, recoverWhy, restartWhy;
};

std::optional<LineFigures> RunLine(bool tcp, double scale) {
  char pattern[] = "/tmp/vx310-uibench-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) {
    std::fprintf(stderr, "ui-stall: no temporary folder: %s\n", std::strerror(errno));
    return std::nullopt;
  }
  const std::filesystem::path dir(made);
  struct Cleanup {
    std::filesystem::path dir;
    ~Cleanup() {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  } cleanup{dir};

  vx::SimServerOptions options;
  if (tcp) {
    options.tcp = true;
  } else {
    options.ptyLink = (dir / "vx310-pty").string();
  }
  std::unique_ptr<ServedSim> sim;
  try {
    sim = std::make_unique<ServedSim>(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ui-stall: the simulator does not start: %s\n", e.what());
    return std::nullopt;
  }
  std::filesystem::copy_file(kModel, dir / "VX310v220.par");
  {
    std::ofstream ini(dir / "VX310_ConfigTerm.ini", std::ios::binary);
    ini << "[Ports]\r\nCOM1="
        << (tcp ? "tcp:127.0.0.1:" + std::to_string(sim->TcpPort()) : options.ptyLink) << "\r\n";
  }

  LineFigures fig;
  vx::QtDispatcher dispatcher;
  vx::ScopedDispatcher installed(dispatcher);
  auto windows = std::make_unique<TApplicationWindows>(dir.string() + "/");
  TMainForm* main = windows->MainForm();
  main->show();
  StallProbe probe;
  probe.Start();
  const auto phase = [&](double seconds) { return Seconds(seconds * scale); };

  // Connected, identified, the setup read shown; then every other window opened.
  main->acOpenConnection->trigger();
  if (!RunUntil(
          probe, [&] { return windows->SetupForm()->isVisible(); }, Seconds(60))) {
    std::fprintf(stderr, "ui-stall: the drive was not identified within 60 s\n");
    return std::nullopt;
  }
  main->acRemoteCtrl->trigger();
  main->acViewScope->trigger();
  windows->AboutForm()->show();
  RunUntil(probe, nullptr, Seconds(1));

  FoundCounter found(main->Controls().Memo);
  TkoGraphTraccia* volt = windows->ScopeForm()->VoltTrace();
  const auto lastSample = [&] { return volt->Count() > 0 ? volt->Points().back().X : NAN; };
  // From `from` until "Device found" has been logged again and a sample has come in
  // after it.
  const auto recovery = [&](Clock::time_point from, Seconds limit) -> std::optional<double> {
    const int before = found.Count();
    double sampleAtFound = NAN;
    bool foundAgain = false;
    const bool ok = RunUntil(
        probe,
        [&] {
          if (!foundAgain && found.Count() > before) {
            foundAgain = true;
            sampleAtFound = lastSample();
          }
          const double now = lastSample();
          return foundAgain && std::isfinite(now) && now != sampleAtFound;
        },
        limit);
    if (!ok) return std::nullopt;
    return Seconds(Clock::now() - from).count();
  };

  probe.Start();                        // the matrix alone counts
  RunUntil(probe, nullptr, phase(10));  // healthy

  sim->Faults(0, 0, true);  // silent
  const Clock::time_point silent = Clock::now();
  if (RunUntil(
          probe, [&] { return main->ValuesStale(); }, phase(15))) {
    fig.staleMark = Seconds(Clock::now() - silent).count();
    const Seconds left = phase(15) - Seconds(Clock::now() - silent);
    if (left.count() > 0) RunUntil(probe, nullptr, left);
  } else {
    fig.staleWhy = "no stale mark within the silence";
  }

  sim->Faults(0, 0, false);  // back
  fig.recover = recovery(Clock::now(), Seconds(20));
  if (!fig.recover) fig.recoverWhy = "not found again within 20 s";

  sim->Faults(5, 0, false);
  RunUntil(probe, nullptr, phase(10));
  sim->Faults(0, 7, false);
  RunUntil(probe, nullptr, phase(10));
  sim->Faults(0, 0, false);
  RunUntil(probe, nullptr, phase(2));

  sim->Kill();
  RunUntil(probe, nullptr, phase(5));
  try {
    sim->Start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ui-stall: the simulator does not start again: %s\n", e.what());
  }
  fig.recoverRestart = recovery(Clock::now(), Seconds(30));
  if (!fig.recoverRestart) fig.restartWhy = "not found again within 30 s";
  probe.Stop();
  fig.stallMax = probe.MaxMs();
  fig.stallP99 = probe.P99Ms();

  // The connection goes while the dispatcher still runs its hand-overs.
  windows.reset();
  sim.reset();
  vx::ResetComPortPaths();
  return fig;
}

void PrintOptional(const char* name, const std::optional<double>& value, const std::string& why) {
  if (value)
    std::printf("%s: %.3f s\n", name, *value);
  else
    std::printf("%s: n/a (%s)\n", name, why.c_str());
}

int UiStall(const std::vector<std::string>& args) {
  std::vector<bool> lines{true, false};
  double scale = 1.0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--line" && i + 1 < args.size()) {
      const std::string& l = args[++i];
      if (l == "tcp")
        lines = {true};
      else if (l == "pty")
        lines = {false};
      else if (l != "both") {
        std::fprintf(stderr, "ui-stall: --line takes tcp, pty or both\n");
        return 2;
      }
    } else if (args[i] == "--scale" && i + 1 < args.size()) {
      scale = std::strtod(args[++i].c_str(), nullptr);
      if (!(scale > 0)) {
        std::fprintf(stderr, "ui-stall: --scale takes a positive factor of the phase times\n");
        return 2;
      }
    } else {
      std::fprintf(stderr, "usage: vx310-bench ui-stall [--line tcp|pty|both] [--scale FACTOR]\n");
      return 2;
    }
  }
  int rc = 0;
  for (bool tcp : lines) {
    std::printf("# line: %s\n", tcp ? "tcp" : "pty");
    std::fflush(stdout);
    const std::optional<LineFigures> fig = RunLine(tcp, scale);
    if (!fig) {
      rc = 1;
      continue;
    }
    std::printf("ui-stall-max: %.1f ms\n", fig->stallMax);
    std::printf("ui-stall-p99: %.1f ms\n", fig->stallP99);
    PrintOptional("recover-s", fig->recover, fig->recoverWhy);
    PrintOptional("stale-mark-s", fig->staleMark, fig->staleWhy);
    PrintOptional("recover-restart-s", fig->recoverRestart, fig->restartWhy);
    std::fflush(stdout);
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "usage: vx310-uibench BENCHMARK [args...]\n\nbenchmarks:\n"
        "  ui-stall     user-interface stalls and recovery times on a bad line\n");
    return argc < 2 ? 2 : 0;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (std::strcmp(argv[1], "ui-stall") == 0) return UiStall(args);
  std::fprintf(stderr, "vx310-uibench: unknown benchmark '%s' (try --help)\n", argv[1]);
  return 2;
}
