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
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
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
#include "graph/graph.h"
#include "graph/graphtraccia.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "params/parvalue.h"
#include "paramui/parrows.h"
#include "paramui/qtdispatcher.h"
#include "paramui/userinterfaceutils.h"
#include "platform/threadbuffer.h"
#include "regmodel/numberformat.h"
#include "regmodel/register.h"
#include "sim/simdrive.h"
#include "sim/simimage.h"
#include "sim/simserver.h"
#include "simprocess.h"

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

// ---- what the terminal costs ----
//
// ui-start: this program started again as a child that builds the windows as the
// terminal's entry does and shows the main window; from fork to the end of the main
// window's first paint, the median of a few starts.
//
// ui-cost: the real windows offscreen against vx310-sim over Modbus TCP, the simulator a
// process of its own (its CPU is not the terminal's). Figures:
//   identify-tcp    Connect -> "Device found" logged and both state lists filled (median)
//   terminal-cpu    user + system CPU of this process over the run, with the main, setup,
//                   remote control and oscilloscope windows open, per cent of one core
//   terminal-rss    resident memory at the end of that run
//   refresh-main    one refresh of the main window's two lists and the repaint it causes,
//                   every value changed (as on a moving drive), two values taking turns;
//                   median. -fresh: a value not seen before at each refresh
//   refresh-setup   the same for the setup window's grid, the page with the most rows shown
// and, for finding where the time goes, the same refreshes with nothing changed and the
// share of the user-interface thread.

int64_t ClockNs(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t MonotonicNs() {
  return ClockNs(CLOCK_MONOTONIC);
}

double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 != 0 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A temporary start directory with the data model and a settings file whose COM1 is the
// given line.
class StartDir {
 public:
  explicit StartDir(const std::string& com1) {
    char pattern[] = "/tmp/vx310-uibench-XXXXXX";
    if (const char* made = mkdtemp(pattern)) dir_ = made;
    if (dir_.empty()) return;
    std::filesystem::copy_file(kModel, dir_ / "VX310v220.par");
    std::ofstream ini(dir_ / "VX310_ConfigTerm.ini", std::ios::binary);
    if (!com1.empty()) ini << "[Ports]\r\nCOM1=" << com1 << "\r\n";
  }
  ~StartDir() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  StartDir(const StartDir&) = delete;
  StartDir& operator=(const StartDir&) = delete;
  bool Ok() const { return !dir_.empty(); }
  std::string Path() const { return dir_.string() + "/"; }

 private:
  std::filesystem::path dir_;
};

// Ends `loop` once `widget` has been painted and the paint has been flushed.
class FirstPaint : public QObject {
 public:
  FirstPaint(QWidget* widget, QEventLoop* loop) : loop_(loop) { widget->installEventFilter(this); }
  bool Painted() const { return painted_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !painted_) {
      painted_ = true;
      watched->removeEventFilter(this);
      QTimer::singleShot(0, loop_, &QEventLoop::quit);
    }
    return false;
  }

 private:
  QEventLoop* loop_;
  bool painted_ = false;
};

// The child of ui-start: the terminal's start-up, then the monotonic time at which the main
// window has been painted, on stdout.
int UiStartChild(const std::vector<std::string>& args) {
  if (args.size() != 1) return 2;
  UseTerminalFormats();
  QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
  vx::QtDispatcher dispatcher;
  vx::ScopedDispatcher installed(dispatcher);
  auto windows = std::make_unique<TApplicationWindows>(args[0]);
  windows->ConnectProgramEnd();
  QEventLoop loop;
  FirstPaint painted(windows->MainForm(), &loop);
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  windows->MainForm()->show();
  loop.exec();
  if (!painted.Painted()) return 1;
  std::printf("shown-ns: %lld\n", static_cast<long long>(MonotonicNs()));
  std::fflush(stdout);
  return 0;
}

int UiStart(const std::vector<std::string>& args) {
  int runs = 7;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--runs" && i + 1 < args.size()) {
      runs = std::atoi(args[++i].c_str());
    } else {
      std::fprintf(stderr, "usage: vx310-bench ui-start [--runs N]\n");
      return 2;
    }
  }
  if (runs < 1) runs = 1;
  StartDir dir("");
  if (!dir.Ok()) return 1;
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  std::vector<double> ms;
  for (int r = 0; r < runs; ++r) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return 1;
    const int64_t start = MonotonicNs();
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      const std::string path = dir.Path();
      execl(self, self, "ui-start-child", path.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string text;
    char buf[256];
    for (ssize_t got; (got = read(fds[0], buf, sizeof buf)) > 0;)
      text.append(buf, static_cast<std::size_t>(got));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const auto at = text.find("shown-ns: ");
    if (at == std::string::npos) {
      std::fprintf(stderr, "ui-start: the child did not show its main window (status %d)\n",
                   status);
      return 1;
    }
    const long long shown = std::strtoll(text.c_str() + at + 10, nullptr, 10);
    ms.push_back(static_cast<double>(shown - start) / 1e6);
  }
  std::printf("ui-start: %.1f ms\n", Median(ms));
  std::printf("ui-start-min: %.1f ms\n", *std::min_element(ms.begin(), ms.end()));
  return 0;
}

// User plus system CPU seconds of this process, and of its main (user-interface) thread.
struct CpuTimes {
  double process = 0;
  double uiThread = 0;
};

CpuTimes ReadCpu() {
  CpuTimes t;
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  t.process = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
              static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  std::ifstream f("/proc/self/task/" + std::to_string(getpid()) + "/stat");
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const auto paren = all.rfind(')');
  if (paren != std::string::npos) {
    std::istringstream rest(all.substr(paren + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i)
      if (i == 14 || i == 15) ticks += std::stoull(field);
    t.uiThread = static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return t;
}

// A line of /proc/self/status in MB.
double StatusMb(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind(key, 0) == 0)
      return std::strtod(line.c_str() + std::strlen(key), nullptr) / 1024.0;
  return NAN;
}

void RunFor(Seconds limit, const std::function<bool()>& done = nullptr) {
  QEventLoop loop;
  QTimer poll;
  if (done) {
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (done()) loop.quit();
    });
    poll.start();
  }
  QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(limit), &loop,
                     &QEventLoop::quit);
  if (!done || !done()) loop.exec();
}

// Whether every parameter row of a list shows a value.
bool ListFilled(const QTreeWidget* list) {
  if (list->topLevelItemCount() == 0) return false;
  const int column = vx::FindColumn(list, lvcValue);
  if (column < 0) return false;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = list->topLevelItem(i);
    if (vx::RowPar(row) != nullptr && row->text(column).isEmpty()) return false;
  }
  return true;
}

// The parameters of the list rows a binder shows.
std::vector<TkoParValue*> ListedPars(const TkoUserInterfaceUtils* binder) {
  std::vector<TkoParValue*> pars;
  for (QObject* control : binder->CtrlList())
    if (auto* list = qobject_cast<QTreeWidget*>(control))
      for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (TkoParValue* par = vx::RowPar(list->topLevelItem(i))) pars.push_back(par);
  return pars;
}

// Changes every value the parameters show, as a read of a moving drive does, without
// raising any event: `fresh` steps the lowest byte of each register (a value not had in
// the last 255 changes), else it flips the lowest bit (two values taking turns).
void Perturb(const std::vector<TkoParValue*>& pars, bool fresh) {
  for (TkoParValue* par : pars) {
    if (par->Register == nullptr || par->Register->View() == nullptr) continue;
    TkoThreadBuffer* view = par->Register->View();
    TkoThreadBuffer::WriteAccess w(*view);
    if (view->Size() <= 0) continue;
    std::uint8_t& low = w.data()[view->Size() - 1];
    low = fresh ? static_cast<std::uint8_t>(low + 1) : static_cast<std::uint8_t>(low ^ 1);
  }
}

// The median time of `refresh` plus the repaint it causes, in microseconds of this
// thread's CPU time: on a loaded machine the wall clock would count other programs' turns.
double TimeRefresh(int runs, const std::vector<TkoParValue*>& changed, bool fresh,
                   const std::function<void()>& refresh) {
  std::vector<double> us;
  for (int r = 0; r < runs; ++r) {
    Perturb(changed, fresh);
    // What the connection has delivered meanwhile is not timed.
    QCoreApplication::processEvents();
    const int64_t start = ClockNs(CLOCK_THREAD_CPUTIME_ID);
    refresh();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    us.push_back(static_cast<double>(ClockNs(CLOCK_THREAD_CPUTIME_ID) - start) / 1e3);
  }
  return Median(us);
}

int UiCost(const std::vector<std::string>& args) {
  double seconds = 60;
  bool shares = false;
  int connects = 5;
  std::string simPath = vxbench::DefaultSimPath();
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--seconds" && i + 1 < args.size()) {
      seconds = std::strtod(args[++i].c_str(), nullptr);
    } else if (args[i] == "--connects" && i + 1 < args.size()) {
      connects = std::max(1, std::atoi(args[++i].c_str()));
    } else if (args[i] == "--sim" && i + 1 < args.size()) {
      simPath = args[++i];
    } else if (args[i] == "--shares") {
      shares = true;
    } else {
      std::fprintf(stderr,
                   "usage: vx310-bench ui-cost [--seconds S] [--connects N] [--shares] "
                   "[--sim PATH]\n"
                   "  --seconds  length of each CPU run (default 60)\n"
                   "  --shares   also the CPU of the main window alone and with each other "
                   "window\n");
      return 2;
    }
  }
  if (!(seconds > 0)) return 2;
  vxbench::SimProcess sim(simPath, kModel);
  if (sim.Port() == 0) {
    std::fprintf(stderr, "ui-cost: the simulator %s does not start\n", simPath.c_str());
    return 1;
  }
  StartDir dir("tcp:127.0.0.1:" + std::to_string(sim.Port()));
  if (!dir.Ok()) return 1;
  UseTerminalFormats();
  vx::QtDispatcher dispatcher;
  vx::ScopedDispatcher installed(dispatcher);
  auto windows = std::make_unique<TApplicationWindows>(dir.Path());
  TMainForm* main = windows->MainForm();
  main->show();
  RunFor(Seconds(0.5));

  // Connect to identified, the lists filled; again after each disconnect.
  FoundCounter found(main->Controls().Memo);
  std::vector<double> identify;
  for (int c = 0; c < connects; ++c) {
    if (c > 0) {
      main->acCloseConnection->trigger();
      RunFor(Seconds(0.3));
    }
    const int before = found.Count();
    const int64_t start = MonotonicNs();
    main->acOpenConnection->trigger();
    RunFor(Seconds(30), [&] {
      return found.Count() > before && ListFilled(main->Controls().lvActState) &&
             ListFilled(main->Controls().lvHwInfo);
    });
    if (found.Count() <= before) {
      std::fprintf(stderr, "ui-cost: the drive was not identified within 30 s\n");
      return 1;
    }
    identify.push_back(static_cast<double>(MonotonicNs() - start) / 1e6);
  }
  std::printf("identify-tcp: %.1f ms\n", Median(identify));
  std::fflush(stdout);

  TSetupForm* setup = windows->SetupForm();
  TControlForm* control = windows->ControlForm();
  TScopeForm* scope = windows->ScopeForm();
  const auto show = [&](QWidget* w, bool on) {
    if (on && !w->isVisible()) w->show();
    if (!on && w->isVisible()) w->hide();
  };
  const auto cpuRun = [&](Seconds length) {
    RunFor(Seconds(2));  // settled: the setup read of the showing done
    const CpuTimes before = ReadCpu();
    const int64_t start = MonotonicNs();
    RunFor(length);
    const CpuTimes after = ReadCpu();
    const double wall = static_cast<double>(MonotonicNs() - start) / 1e9;
    return std::pair<double, double>{100.0 * (after.process - before.process) / wall,
                                     100.0 * (after.uiThread - before.uiThread) / wall};
  };
  if (shares) {
    const struct {
      const char* name;
      bool setup, control, scope;
    } phases[] = {{"cpu-main-only", false, false, false},
                  {"cpu-main-setup", true, false, false},
                  {"cpu-main-control", false, true, false},
                  {"cpu-main-scope", false, false, true}};
    for (const auto& p : phases) {
      show(setup, p.setup);
      show(control, p.control);
      show(scope, p.scope);
      const auto [cpu, ui] = cpuRun(Seconds(seconds));
      std::printf("%s: %.2f %% (user-interface thread %.2f %%)\n", p.name, cpu, ui);
      std::fflush(stdout);
    }
  }
  show(setup, true);
  show(control, true);
  show(scope, true);
  const auto [cpu, ui] = cpuRun(Seconds(seconds));
  std::printf("terminal-cpu: %.2f %%\n", cpu);
  std::printf("terminal-cpu-ui-thread: %.2f %%\n", ui);
  std::printf("terminal-rss: %.1f MB\n", StatusMb("VmRSS:"));
  std::printf("terminal-rss-peak: %.1f MB\n", StatusMb("VmHWM:"));
  std::fflush(stdout);

  // The setup page with the most list rows is the one shown.
  QTabWidget* pages = setup->Pages();
  int bestPage = 0, bestRows = -1;
  for (int p = 0; p < pages->count(); ++p) {
    int rows = 0;
    for (QTreeWidget* list : pages->widget(p)->findChildren<QTreeWidget*>())
      rows += list->topLevelItemCount();
    if (rows > bestRows) {
      bestRows = rows;
      bestPage = p;
    }
  }
  pages->setCurrentIndex(bestPage);
  RunFor(Seconds(0.5));
  const int runs = 200;
  const std::vector<TkoParValue*> mainPars = [&] {
    std::vector<TkoParValue*> all = ListedPars(main->Controls().koFastInterface);
    for (TkoParValue* p : ListedPars(main->Controls().koSlowInterface)) all.push_back(p);
    return all;
  }();
  const std::vector<TkoParValue*> setupPars = ListedPars(setup->koInterface());
  const auto refreshMain = [&] {
    main->Controls().koFastInterface->RefreshData();
    main->Controls().koSlowInterface->RefreshData();
  };
  const auto refreshSetup = [&] { setup->RefreshData(); };
  std::printf("refresh-main: %.0f us\n", TimeRefresh(runs, mainPars, false, refreshMain));
  std::printf("refresh-setup: %.0f us\n", TimeRefresh(runs, setupPars, false, refreshSetup));
  std::printf("refresh-main-fresh: %.0f us\n", TimeRefresh(runs, mainPars, true, refreshMain));
  std::printf("refresh-setup-fresh: %.0f us\n", TimeRefresh(runs, setupPars, true, refreshSetup));
  std::printf("refresh-main-same: %.0f us\n", TimeRefresh(runs, {}, false, refreshMain));
  std::printf("refresh-setup-same: %.0f us\n", TimeRefresh(runs, {}, false, refreshSetup));
  std::printf("# setup page shown: %s (%d rows), %zu setup values, %zu main values\n",
              pages->tabText(bestPage).toLocal8Bit().constData(), bestRows, setupPars.size(),
              mainPars.size());
  std::fflush(stdout);

  windows.reset();
  vx::ResetComPortPaths();
  return 0;
}

// scope-render: the oscilloscope window with full series (320 samples each, a motor
// running, the limit markers and markers A and B set), rendered into its bitmap at 1x and
// at 2x device pixels. Figures per scale (median of the runs):
//   scope-render        all three diagrams drawn from scratch
//   scope-render-feed   one read more: only the diagrams that changed are drawn
// and the window's share of a core for a drive standing still (scope-idle-cpu-shown,
// -hidden).

// --- scope-render ------------------------------------------------------------------------

double MedianMs(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int ScopeRender(const std::vector<std::string>& args) {
  int runs = 300;
  int idleSeconds = 10;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--runs" && i + 1 < args.size()) {
      runs = std::atoi(args[++i].c_str());
    } else if (args[i] == "--idle-seconds" && i + 1 < args.size()) {
      idleSeconds = std::atoi(args[++i].c_str());
    } else {
      std::fprintf(stderr, "usage: vx310-uibench scope-render [--runs N] [--idle-seconds S]\n");
      return 2;
    }
  }
  if (runs < 1) runs = 1;
  TScopeForm scope("");
  const double second = 1.0 / 86400;
  const double t0 = 46000.5;
  int n = 0;
  const auto feed = [&] {
    const double t = t0 + n * 0.1 * second;
    const double phase = n / 40.0;
    scope.AddDcBus(t, 560 + 25 * std::sin(phase * 1.7));
    scope.AddSpeedPos(180.0 * n + 4000 * std::sin(phase), 1500 * std::sin(phase) + 200);
    scope.AddCurrent(t, 6 + 4 * std::sin(phase * 2.3) + (n % 7) * 0.2);
    scope.SetIMax(t, 15);
    scope.SetINom(t, 9.5);
    ++n;
  };
  for (int i = 0; i < TScopeForm::kMaxPoints; ++i) feed();
  scope.PaintScope();  // places the diagrams
  TkoGraphDiagram* large = scope.DcBusDiagram();
  const vx::Rect& p = large->PlotRect;
  const auto at = [&](int sample) {
    return QPoint(large->ScaleX()->ToPixelX(t0 + sample * 0.1 * second, p), (p.Top + p.Bottom) / 2);
  };
  scope.SetMarkerAt(0, at(n - 200));
  scope.SetMarkerAt(1, at(n - 50));
  TkoGraph* graph = scope.koGraph();
  for (double dpr : {1.0, 2.0}) {
    graph->DevicePixelRatio = dpr;
    std::vector<double> full, fed;
    for (int i = 0; i < runs + 10; ++i) {
      graph->Invalidate();
      QElapsedTimer timer;
      timer.start();
      graph->RenderTo(nullptr);
      const double ms = timer.nsecsElapsed() / 1e6;
      if (i >= 10) full.push_back(ms);
    }
    for (int i = 0; i < runs + 10; ++i) {
      feed();
      QElapsedTimer timer;
      timer.start();
      graph->RenderTo(nullptr);
      const double ms = timer.nsecsElapsed() / 1e6;
      if (i >= 10) fed.push_back(ms);
    }
    std::printf("# scale: %gx (%dx%d device pixels)\n", dpr, graph->Bitmap().width(),
                graph->Bitmap().height());
    std::printf("scope-render: %.2f ms\n", MedianMs(full));
    std::printf("scope-render-feed: %.2f ms\n", MedianMs(fed));
    std::fflush(stdout);
  }

  // The window's share of a core with a drive standing still and connected: a read every
  // 100 ms with the same values (only the time moves on), the window on screen and, for
  // comparison, hidden. Process CPU time over wall time, the feed, drawing and painting
  // included.
  const auto idleShare = [&](bool shown) {
    TScopeForm idle("");
    int k = 0;
    const auto read = [&] {
      const double t = t0 + 100 + k++ * 0.1 * second;
      idle.AddDcBus(t, 325);
      idle.AddSpeedPos(1000, 0);
      idle.AddCurrent(t, 0);
      idle.SetIMax(t, 8);
      idle.SetINom(t, 4);
      if (idle.isVisible()) idle.PaintScope();
    };
    for (int i = 0; i < TScopeForm::kMaxPoints; ++i) read();
    if (shown) idle.show();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, read);
    timer.start(100);
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);  // settle
    loop.exec();
    timespec c0{}, c1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(idleSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
    const double cpu = (c1.tv_sec - c0.tv_sec) + (c1.tv_nsec - c0.tv_nsec) / 1e9;
    return 100.0 * cpu / (wall.nsecsElapsed() / 1e9);
  };
  if (idleSeconds > 0) {
    std::printf("# idle drive, one read per 100 ms, %d s each\n", idleSeconds);
    std::printf("scope-idle-cpu-shown: %.2f %%\n", idleShare(true));
    std::printf("scope-idle-cpu-hidden: %.2f %%\n", idleShare(false));
  }
  return 0;
}

}  // namespace

int UiMonitor(const std::vector<std::string>& args);  // uibench_monitor.cpp

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "usage: vx310-uibench BENCHMARK [args...]\n\nbenchmarks:\n"
        "  ui-stall     user-interface stalls and recovery times on a bad line\n"
        "  ui-start     process start to the main window shown\n"
        "  ui-cost      identification time, CPU, memory and refresh times of the windows\n"
        "  scope-render oscilloscope rendering time at 1x and 2x\n"
        "  ui-monitor   bus monitor update with a full ring and a filter\n");
    return argc < 2 ? 2 : 0;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (std::strcmp(argv[1], "ui-stall") == 0) return UiStall(args);
  if (std::strcmp(argv[1], "ui-start") == 0) return UiStart(args);
  if (std::strcmp(argv[1], "ui-start-child") == 0) return UiStartChild(args);
  if (std::strcmp(argv[1], "ui-cost") == 0) return UiCost(args);
  if (std::strcmp(argv[1], "scope-render") == 0) return ScopeRender(args);
  if (std::strcmp(argv[1], "ui-monitor") == 0) return UiMonitor(args);
  std::fprintf(stderr, "vx310-uibench: unknown benchmark '%s' (try --help)\n", argv[1]);
  return 2;
}
