// vx310-bench line: the engine against the simulator on a paced serial line (a
// pseudo-terminal on which characters take their time, vx310-sim --line), measured
// against the wire's own limit. The wire time of an exchange is counted from its
// characters: request and answer frames at the character time, and a 3.5-character
// silence after each of them.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench.h"
#include "benchdevice.h"
#include "devices/devicesetup.h"
#include "devices/mbnetwork.h"
#include "devices/vxslave.h"
#include "mbwire/mbcodes.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "mbwire/mbserver.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"
#include "regmodel/regdefslist.h"
#include "simprocess.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kComPort = 1;
constexpr uint16_t kFirst = 200;  // the actual state: one word a register
constexpr uint16_t kCount = 10;
constexpr double kCycleMs = 100.0;

struct Exchange {
  double start = 0, end = 0;            // ms
  std::size_t query = 0, response = 0;  // ADU bytes, without checksum
  int32_t result = 0;
  uint64_t cycle = 0;  // the connection thread's cycle it ran in
};

// Every exchange of the connection, with its times and its cycle.
class ExchangeLog {
 public:
  void Add(const Exchange& e) {
    std::lock_guard guard(mutex_);
    all_.push_back(e);
  }
  void Clear() {
    std::lock_guard guard(mutex_);
    all_.clear();
  }
  std::vector<Exchange> Take() {
    std::lock_guard guard(mutex_);
    return std::move(all_);
  }
  // The thread whose cycles tag the exchanges; set once it exists.
  std::atomic<const TkoMBThread*> thread{nullptr};

 private:
  std::mutex mutex_;
  std::vector<Exchange> all_;
};

class LoggedServer final : public TkoMBServerRelay {
 public:
  explicit LoggedServer(ExchangeLog& log)
      : TkoMBServerRelay(vx::CreateTransportServer()), log_(log) {}
  int32_t TxRxMessage(const std::vector<uint8_t>& q, int16_t ql, int16_t rl,
                      std::vector<uint8_t>& r) override {
    Exchange e;
    const TkoMBThread* thread = log_.thread.load();
    e.cycle = thread ? thread->GetCycleCount() : std::numeric_limits<uint64_t>::max();
    e.start = vxbench::NowMs();
    e.result = TkoMBServerRelay::TxRxMessage(q, ql, rl, r);
    e.end = vxbench::NowMs();
    e.query = q.size();
    e.response = r.size();
    log_.Add(e);
    return e.result;
  }

 private:
  ExchangeLog& log_;
};

// The line the terminal sets up: 8 data bits, even parity, one stop bit.
double CharMs(int32_t baud) {
  vx::MBSerialSettings s;
  s.baudRate = baud;
  s.parity = vx::MBParity::kEven;
  return std::chrono::duration<double, std::milli>(vx::CharTime(s)).count();
}

// Request, silence, answer, silence.
double WireMs(const Exchange& e, double charMs) {
  const std::size_t answer = e.response > 0 ? e.response + 2 : 0;
  return static_cast<double>(e.query + 2 + answer + 7) * charMs;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A connection as the terminal's supervisor builds it, on COM1 (mapped to the line).
std::unique_ptr<TkoMBThreadSetup> TerminalConnection(int32_t baud) {
  auto conn = std::make_unique<TkoMBThreadSetup>();
  conn->SetThreadName("COM1");
  conn->SetBaudRate(baud);
  conn->SetParity(vx::MBParity::kEven);
  conn->SetFlowCtrl(vx::MBFlowControl::kRtsToggle);
  conn->SetComPort(kComPort);
  conn->SetTimeOut(500);
  conn->SetDevMaxCount(0);
  conn->SetEnabled(true);
  return conn;
}

struct Options {
  std::string simPath = vxbench::DefaultSimPath();
  std::string modelPath;
  double fillSeconds = 60.0;
  double efficiencySeconds = 10.0;
  int connects = 5;
};

// The simulator on a paced pseudo-terminal, its link in a folder of its own.
class PacedSim {
 public:
  PacedSim(const Options& o, int32_t baud) {
    char dir[] = "/tmp/vx310-bench-line-XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    dir_ = dir;
    link_ = dir_ + "/tty";
    sim_ = std::make_unique<vxbench::SimProcess>(
        o.simPath, std::vector<std::string>{"--pty", link_, "--line", std::to_string(baud) + ",8E1",
                                            "--model", o.modelPath});
    if (sim_->Ready()) vx::SetComPortPath(kComPort, link_);
  }
  ~PacedSim() {
    sim_.reset();
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }
  PacedSim(const PacedSim&) = delete;
  PacedSim& operator=(const PacedSim&) = delete;
  bool Ready() const { return sim_ && sim_->Ready(); }

 private:
  std::string dir_, link_;
  std::unique_ptr<vxbench::SimProcess> sim_;
};

// N reads of 10 registers a cycle, back to back, by the connection thread: the wire time
// of each exchange against the time from its start to the next one's in the same pass.
// Negative when the line could not be measured.
double LineEfficiency(const Options& o, TkoRegDefsList& model, int32_t baud) {
  PacedSim sim(o, baud);
  if (!sim.Ready()) {
    std::fprintf(stderr, "line: %s did not start (give its path with --sim)\n", o.simPath.c_str());
    return -1.0;
  }
  const double charMs = CharMs(baud);
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope(ui);
  ExchangeLog log;
  TkoMBThread::SetServerFactory([&] { return std::make_unique<LoggedServer>(log); });

  // As many reads as fill about 70 % of the cycle at the wire's own pace.
  const double wireRead = static_cast<double>(6 + 2 + 3 + 2 * kCount + 2 + 7) * charMs;
  const int reads = std::max(2, static_cast<int>(0.7 * kCycleMs / wireRead));
  vxbench::BenchDevice device(&model);
  for (int i = 0; i < reads; ++i) {
    auto* read = new TkoMBReadHoldRegisters(&device, true, kCount, kFirst);
    read->SetTermReasons(0);
    read->SetEnabled(true);
  }
  auto setup = TerminalConnection(baud);
  setup->SetOnLine(true);
  double efficiency = -1.0;
  if (ui.PumpUntil([&] { return setup->GetState() == TkoMBThread::stRunning; },
                   std::chrono::seconds(10))) {
    log.thread = setup->GetThread();
    setup->GetThread()->AddDevice(&device);
    ui.PumpUntil([&] { return device.responses + device.errors >= 3 * reads; },
                 std::chrono::seconds(10));
    log.Clear();
    const long errors0 = device.errors;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(o.efficiencySeconds));
    while (Clock::now() < end)
      ui.PumpOne(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
    const std::vector<Exchange> all = log.Take();
    // From the start of a read to the start of the next, for every read that followed
    // another in the same pass: it has the silence before it and the one after it, as
    // on the wire (the first read of a pass has no silence to wait for).
    double wire = 0, measured = 0;
    std::vector<double> each, between;
    for (std::size_t i = 1; i + 1 < all.size(); ++i) {
      const Exchange& before = all[i - 1];
      const Exchange& a = all[i];
      const Exchange& b = all[i + 1];
      if (before.cycle != a.cycle || a.cycle != b.cycle || a.result != 0 || b.result != 0) continue;
      wire += WireMs(a, charMs);
      measured += b.start - a.start;
      each.push_back(b.start - a.start);
      between.push_back(b.start - a.end);
    }
    if (!each.empty()) {
      efficiency = wire / measured;
      const double n = static_cast<double>(each.size());
      const double gap = 3.5 * charMs;
      const double standardGap = baud > 19200 ? 1.75 : gap;
      std::fprintf(stderr,
                   "line: %d baud: %d reads a pass, %zu timed: a read %.3f ms on the wire, "
                   "measured %.3f ms (median %.3f ms, %.0f us of it from one exchange's end to "
                   "the next one's start)",
                   baud, reads, each.size(), wire / n, measured / n, Median(each),
                   1000.0 * Median(between));
      if (standardGap > gap)
        std::fprintf(stderr,
                     "; the %.2f ms silence before a request above 19200 baud "
                     "accounts for %.0f us of it",
                     standardGap, 1000.0 * (standardGap - gap));
      std::fprintf(stderr, "%s\n", device.errors != errors0 ? "; with failed exchanges" : "");
    }
  } else {
    std::fprintf(stderr, "line: %d baud: connection state %s\n", baud,
                 setup->GetStateText().c_str());
  }
  setup.reset();
  TkoMBThread::ResetServerFactory();
  return efficiency;
}

struct ConnectFigures {
  std::vector<double> seconds, ratios;
  double fill = -1.0;
  int overruns = -1;
};

// Connect as the terminal does, until the drive's setup has been read; the last connection
// then stays for the cyclic reads.
bool ConnectAndWatch(const Options& o, ConnectFigures& f) {
  constexpr int32_t baud = 19200;
  PacedSim sim(o, baud);
  if (!sim.Ready()) {
    std::fprintf(stderr, "line: %s did not start (give its path with --sim)\n", o.simPath.c_str());
    return false;
  }
  const double charMs = CharMs(baud);
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope(ui);
  ExchangeLog log;
  TkoMBThread::SetServerFactory([&] { return std::make_unique<LoggedServer>(log); });
  const std::string models = std::filesystem::path(o.modelPath).parent_path().string();
  bool ok = true;
  for (int run = 0; run < o.connects && ok; ++run) {
    const bool last = run + 1 == o.connects;
    // A network of its own each time: the data model is found and loaded as at the
    // terminal's first Connect.
    auto net = std::make_unique<TkoMBNetwork>();
    net->SetFilePath(models.empty() ? "." : models);
    net->SetFileExt("par");
    double setupRead = 0;
    long errors = 0;
    net->OnTransaResponse = [&](TkoMBNetwork*, TkoMBTransaction* t) {
      const auto* d = dynamic_cast<TkoDeviceVXSlave*>(t->GetDevice());
      if (d != nullptr && t == d->ReadRamSetup && setupRead == 0) setupRead = vxbench::NowMs();
    };
    net->OnTransaError = [&](TkoMBNetwork*, TkoMBTransaction*) { ++errors; };
    auto conn = TerminalConnection(baud);
    auto dev = std::make_unique<TkoDeviceSetup>();
    dev->SetDeviceName("VX310");
    dev->SetDeviceAddr(1);
    dev->SetRepeatTime(250);
    dev->SetMaxFault(0);
    dev->SetEnabled(true);
    TkoMBThreadSetup* c = conn.get();
    if (!net->AddConnection(conn.get())) return false;
    conn.release();
    if (!c->AddDevice(dev.get())) return false;
    dev.release();

    log.thread = nullptr;
    log.Clear();
    const double t0 = vxbench::NowMs();
    net->SetOnLine(true);
    log.thread = c->GetThread();
    if (!ui.PumpUntil([&] { return setupRead != 0; }, std::chrono::seconds(20))) {
      std::fprintf(stderr, "line: no setup read after 20 s (connection: %s)\n",
                   c->GetStateText().c_str());
      ok = false;
    } else {
      double wire = 0;
      int count = 0;
      for (const Exchange& e : log.Take())
        if (e.start >= t0 && e.start <= setupRead) {
          wire += WireMs(e, charMs);
          ++count;
        }
      f.seconds.push_back((setupRead - t0) / 1000.0);
      f.ratios.push_back((setupRead - t0) / wire);
      std::fprintf(stderr,
                   "line: connect %d: %.1f ms to the setup read, %d exchanges of %.1f ms on the "
                   "wire%s\n",
                   run + 1, setupRead - t0, count, wire, errors ? ", with failed exchanges" : "");
    }
    if (ok && last) {
      // The cyclic reads that feed the main window's lists and the oscilloscope: the
      // actual state every cycle, the faults every second. From the next whole cycle on.
      const uint64_t from = c->GetThread()->GetCycleCount() + 1;
      const long errors0 = errors;
      const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(o.fillSeconds));
      while (Clock::now() < end)
        ui.PumpOne(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
      const uint64_t to = c->GetThread()->GetCycleCount();  // the cycle under way is left out
      std::vector<Exchange> all = log.Take();
      std::erase_if(all, [&](const Exchange& e) { return e.cycle < from || e.cycle >= to; });
      // Each cycle: from its first request to its last answer.
      std::vector<double> fills;
      int late = 0, overlong = 0;
      double lastStart = -1;
      for (std::size_t i = 0; i < all.size();) {
        std::size_t j = i;
        while (j + 1 < all.size() && all[j + 1].cycle == all[i].cycle) ++j;
        const double busy = all[j].end - all[i].start;
        fills.push_back(100.0 * busy / kCycleMs);
        if (busy > kCycleMs) ++overlong;
        // A cycle that starts more than half a cycle late has lost its turn.
        if (lastStart >= 0 && all[i].start - lastStart > 1.5 * kCycleMs) ++late;
        lastStart = all[i].start;
        i = j + 1;
      }
      double sum = 0;
      for (double x : fills) sum += x;
      f.fill = fills.empty() ? -1.0 : sum / static_cast<double>(fills.size());
      f.overruns = overlong + late;
      std::fprintf(stderr,
                   "line: %zu cycles with reads of %llu; fill max %.1f %%; %d cycles longer than "
                   "%.0f ms, %d started late%s\n",
                   fills.size(), static_cast<unsigned long long>(to - from),
                   fills.empty() ? 0.0 : *std::max_element(fills.begin(), fills.end()), overlong,
                   kCycleMs, late, errors != errors0 ? "; failed exchanges" : "");
      if (fills.size() < to - from) {
        std::fprintf(stderr, "line: %llu cycles ran no read\n",
                     static_cast<unsigned long long>(to - from - fills.size()));
        f.overruns += static_cast<int>(to - from - fills.size());
      }
    }
    net->OnTransaResponse = nullptr;
    net->OnTransaError = nullptr;
    log.thread = nullptr;
    net->SetOnLine(false);
    net->ResetAll();
  }
  TkoMBThread::ResetServerFactory();
  return ok;
}

bool ParseOptions(const std::vector<std::string>& args, Options& o) {
  for (std::size_t i = 0; i < args.size(); i += 2) {
    const std::string& name = args[i];
    const bool known = name == "--sim" || name == "--model" || name == "--seconds" ||
                       name == "--efficiency-seconds" || name == "--connects";
    if (!known || i + 1 >= args.size()) {
      std::fprintf(stderr,
                   "line: %s %s (--sim PATH, --model FILE, --seconds S, --efficiency-seconds S, "
                   "--connects N)\n",
                   known ? "no value for" : "unknown argument", name.c_str());
      return false;
    }
    const std::string& value = args[i + 1];
    bool good = true;
    if (name == "--sim") {
      o.simPath = value;
    } else if (name == "--model") {
      o.modelPath = value;
    } else if (name == "--seconds") {
      good = vxbench::ParseSeconds(value, o.fillSeconds);
    } else if (name == "--efficiency-seconds") {
      good = vxbench::ParseSeconds(value, o.efficiencySeconds);
    } else {
      o.connects = std::atoi(value.c_str());
      good = o.connects >= 1 && o.connects <= 100 &&
             value.find_first_not_of("0123456789") == std::string::npos;
    }
    if (!good) {
      std::fprintf(stderr, "line: %s %s: %s\n", name.c_str(), value.c_str(),
                   name == "--connects" ? "1 to 100" : "a number of seconds above 0, at most 3600");
      return false;
    }
  }
  return true;
}

int Run(const std::vector<std::string>& args) {
  Options o;
  o.modelPath = std::string(VX_BENCH_MODELS) + "/VX310v220.par";
  if (!ParseOptions(args, o)) return 2;
  TkoRegDefsList model;
  try {
    model.LoadFromFile(o.modelPath);
    model.BuildDefinitions();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "line: data model %s: %s (give it with --model)\n", o.modelPath.c_str(),
                 e.what());
    return 1;
  }
  const double e19200 = LineEfficiency(o, model, 19200);
  const double e115200 = LineEfficiency(o, model, 115200);
  if (e19200 < 0 || e115200 < 0) return 1;
  std::printf("line-efficiency-19200: %.3f\n", e19200);
  std::printf("line-efficiency-115200: %.3f\n", e115200);
  std::fflush(stdout);
  ConnectFigures f;
  if (!ConnectAndWatch(o, f)) return 1;
  std::printf("connect-to-setup-19200: %.3f s\n", Median(f.seconds));
  std::printf("connect-to-setup-ratio: %.3f\n", Median(f.ratios));
  std::printf("cycle-fill-19200: %.1f %%\n", f.fill);
  std::printf("cycle-overruns: %d\n", f.overruns);
  return 0;
}

VX_BENCH("line",
         "engine on a paced 19200/115200 8E1 line (vx310-sim --line): efficiency, connect to "
         "setup, cycle fill",
         Run);

}  // namespace
