// vx310-bench engine: one connection thread over Modbus TCP on loopback, reading 20
// registers every cycle, as the terminal's periodic state read does. Measures the
// interval between cycle starts (the start of each exchange, one a cycle), the process's
// CPU use and its resident memory, and then what the frame tap adds to the cycle.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench.h"
#include "benchdevice.h"
#include "mbwire/mbchannel.h"
#include "mbwire/mbframe.h"
#include "mbwire/mbserver.h"
#include "mbwire/mbtap.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "platform/queuedispatcher.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"
#include "simprocess.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kFirst = 100;  // drive setup in RAM: 20 defined registers from here
constexpr uint16_t kCount = 20;

// Stands in when the simulator cannot be started: a loopback Modbus TCP server that
// answers every 0x03 with zero bytes, as many as the data model lays out.
class FakeTcpServer {
 public:
  explicit FakeTcpServer(TkoRegDefsList& model) : model_(model) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listen_, 1) != 0 || getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeTcpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) close(listen_);
  }
  int Port() const { return port_; }

 private:
  static bool WaitReadable(int fd, const std::atomic<bool>& stop) {
    while (!stop) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 100) > 0) return true;
    }
    return false;
  }
  void Serve() {
    if (!WaitReadable(listen_, stop_)) return;
    const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    uint8_t req[260];
    while (WaitReadable(fd, stop_)) {
      const ssize_t n = read(fd, req, sizeof req);
      if (n < 12) break;  // one whole request a read on loopback
      const uint16_t first = static_cast<uint16_t>(req[8] << 8 | req[9]);
      const int count = req[10] << 8 | req[11];
      const int bytes = model_.BlockBytes(first, count);
      std::vector<uint8_t> adu{req[6], 0x03, static_cast<uint8_t>(bytes)};
      adu.resize(3 + static_cast<std::size_t>(bytes), 0);
      const auto frame = vx::EncodeMbap(static_cast<uint16_t>(req[0] << 8 | req[1]), adu);
      if (write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
    }
    close(fd);
  }

  TkoRegDefsList& model_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// CPU time of the calling thread, in microseconds.
double ThreadCpuUs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Every exchange's start: when, and the connection thread's CPU time then (one exchange a
// cycle: the difference between two starts is one cycle's CPU). While `alternate` is set,
// the tap records every other exchange, and `tapOn` says which.
struct Starts {
  std::mutex mutex;
  std::vector<double> ms;
  std::vector<double> cpuUs;
  std::vector<bool> tapOn;
  std::vector<double> exchangeUs;  // the connection thread's CPU inside each exchange
  std::atomic<bool> alternate{false};
  std::size_t Count() {
    std::lock_guard guard(mutex);
    return ms.size();
  }
};

// The real component, noting every exchange's start.
class TimedServer final : public TkoMBServerRelay {
 public:
  explicit TimedServer(Starts& starts)
      : TkoMBServerRelay(vx::CreateTransportServer()), starts_(starts) {}
  int32_t TxRxMessage(const std::vector<uint8_t>& q, int16_t ql, int16_t rl,
                      std::vector<uint8_t>& r) override {
    const double cpu = ThreadCpuUs();
    bool tapOn = false;
    {
      std::lock_guard guard(starts_.mutex);
      tapOn = starts_.alternate.load() && starts_.ms.size() % 2 == 1;
      starts_.ms.push_back(vxbench::NowMs());
      starts_.cpuUs.push_back(cpu);
      starts_.tapOn.push_back(tapOn);
    }
    int32_t result = 0;
    {
      std::optional<vx::MBTapWatch> watch;
      if (tapOn) watch.emplace(vx::MBFrameTap::Global());
      result = TkoMBServerRelay::TxRxMessage(q, ql, rl, r);
    }
    const double spent = ThreadCpuUs() - cpu;
    std::lock_guard guard(starts_.mutex);
    starts_.exchangeUs.push_back(spent);
    return result;
  }

 private:
  Starts& starts_;
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double RssMb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0.0;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// What the bus monitor window does with the tap, without the window: ten times a second it
// takes the new records, decodes and formats each, and keeps the newest 10,000. It does not
// turn the tap on itself: the measurement does, exchange by exchange.
class MonitorReader {
 public:
  explicit MonitorReader(vx::MBFrameTap& tap) : tap_(tap) {
    thread_ = std::thread([this] {
      std::vector<vx::MBTapRecord> batch;
      while (!stop_.load()) {
        batch.clear();
        tap_.CopySince(last_, batch);
        for (const auto& r : batch) {
          last_ = r.seq;
          const vx::MBDecoded d = vx::MBDecode(r);
          rows_.push_back(vx::MBTraceText(r, d, std::string()));
          if (rows_.size() > vx::MBFrameTap::kDefaultCapacity) rows_.pop_front();
        }
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_.load(); });
      }
    });
  }
  ~MonitorReader() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  std::size_t Rows() const { return rows_.size(); }

 private:
  vx::MBFrameTap& tap_;
  uint64_t last_ = 0;
  std::deque<std::string> rows_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::thread thread_;
};

// The tap's own price per exchange, without the line's noise: what a transport does for a
// recorded exchange of the bench's size (request, answer in two reads, the record into a
// full ring, whose slots are reused), in CPU nanoseconds of this thread. The transports'
// system calls are the same with the tap on or off, so this is all that recording adds.
double TapCostNs() {
  const std::vector<uint8_t> request = vx::EncodeMbap(1, std::vector<uint8_t>{1, 3, 0, 100, 0, 20});
  std::vector<uint8_t> adu{1, 3, 40};
  adu.resize(43, 7);
  const std::vector<uint8_t> answer = vx::EncodeMbap(1, adu);
  const std::span<const uint8_t> head(answer.data(), 9);
  const std::span<const uint8_t> rest(answer.data() + 9, answer.size() - 9);
  vx::MBFrameTap tap;
  vx::MBTapWatch watch(tap);
  vx::MBTapCapture capture(&tap, "127.0.0.1:502", vx::MBFraming::kTcp);
  capture.measureGaps = false;
  const auto record = [&] {
    const auto t = vx::MBClock::now();
    capture.Begin(request, t, t);
    capture.Chunk(head, vx::MBClock::now());
    capture.Chunk(rest, vx::MBClock::now());
    capture.End(0);
  };
  while (tap.LastSeq() < tap.Capacity()) record();
  constexpr int kRounds = 100000;
  std::vector<double> passes;
  for (int pass = 0; pass < 7; ++pass) {
    const double t0 = ThreadCpuUs();
    for (int i = 0; i < kRounds; ++i) record();
    passes.push_back((ThreadCpuUs() - t0) * 1000.0 / kRounds);
  }
  return Percentile(passes, 0.5);
}

int Run(const std::vector<std::string>& args) {
  const std::string exeDir = vxbench::ExeDir();
  std::string simPath =
      vxbench::FirstExisting({exeDir + "/../sim/vx310-sim", exeDir + "/vx310-sim"});
  std::string modelPath =
      vxbench::FirstExisting({exeDir + "/../../../models/VX310v220.par",
                              exeDir + "/../../models/VX310v220.par", "models/VX310v220.par"});
  double seconds = 30.0;
  double monitorSeconds = 30.0;
  bool fake = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--sim" && hasValue)
      simPath = args[++i];
    else if (args[i] == "--model" && hasValue)
      modelPath = args[++i];
    else if (args[i] == "--seconds" && hasValue)
      seconds = std::stod(args[++i]);
    else if (args[i] == "--monitor-seconds" && hasValue)
      monitorSeconds = std::stod(args[++i]);
    else if (args[i] == "--fake")
      fake = true;
    else {
      std::fprintf(stderr,
                   "engine: unknown argument %s (--sim PATH, --model FILE, --seconds S, "
                   "--monitor-seconds S, --fake)\n",
                   args[i].c_str());
      return 2;
    }
  }

  TkoRegDefsList model;
  try {
    model.LoadFromFile(modelPath);
    model.BuildDefinitions();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "engine: data model %s: %s (give it with --model)\n", modelPath.c_str(),
                 e.what());
    return 1;
  }

  std::unique_ptr<vxbench::SimProcess> sim;
  std::unique_ptr<FakeTcpServer> fakeServer;
  int port = 0;
  if (!fake) {
    sim = std::make_unique<vxbench::SimProcess>(simPath, modelPath);
    port = sim->Port();
    if (port == 0)
      std::fprintf(stderr, "engine: simulator %s did not start; using a fake server\n",
                   simPath.c_str());
  }
  if (port == 0) {
    fakeServer = std::make_unique<FakeTcpServer>(model);
    port = fakeServer->Port();
  }
  if (port == 0) {
    std::fprintf(stderr, "engine: no server to talk to\n");
    return 1;
  }
  std::printf("engine: %s on 127.0.0.1:%d, %d registers from %d every cycle for %.0f s\n",
              fakeServer ? "fake server" : "simulator", port, kCount, kFirst, seconds);

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope(ui);
  Starts starts;
  starts.ms.reserve(static_cast<std::size_t>((seconds + monitorSeconds * 2) * 12) + 64);
  starts.cpuUs.reserve(starts.ms.capacity());
  TkoMBThread::SetServerFactory([&] { return std::make_unique<TimedServer>(starts); });

  vxbench::BenchDevice device(&model);
  auto* read = new TkoMBReadHoldRegisters(&device, true, kCount, kFirst);
  read->SetTermReasons(0);
  read->SetEnabled(true);

  auto setup = std::make_unique<TkoMBThreadSetup>();
  setup->SetThreadName("bench");
  setup->SetConnType(2);
  setup->SetTcpIpPort(port);
  setup->SetEnabled(true);
  setup->SetOnLine(true);
  if (!ui.PumpUntil([&] { return setup->GetState() == TkoMBThread::stRunning; },
                    std::chrono::seconds(10))) {
    std::fprintf(stderr, "engine: connection state %s\n", setup->GetStateText().c_str());
    return 1;
  }
  setup->GetThread()->AddDevice(&device);

  // Let the first exchanges settle, then measure.
  ui.PumpUntil([&] { return device.responses + device.errors >= 5; }, std::chrono::seconds(10));
  std::size_t measuredFrom = 0;
  {
    std::lock_guard guard(starts.mutex);
    measuredFrom = starts.ms.size();
  }
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  const auto end =
      t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < end)
    ui.PumpOne(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = CpuSeconds() - cpu0;
  const double rss = RssMb();

  std::vector<double> intervals;
  {
    std::lock_guard guard(starts.mutex);
    for (std::size_t i = measuredFrom + 1; i < starts.ms.size(); ++i)
      intervals.push_back(starts.ms[i] - starts.ms[i - 1]);
  }
  // The tap in place: with a monitor taking every record, the tap records every other
  // exchange, and each recorded exchange's CPU on the connection thread is set beside the
  // unrecorded one of the cycle before, which saw the same load of the machine. Whole
  // blocks with and without the tap differ by several per cent from one block to the next
  // on an idle machine, far more than the tap's price; the median of the neighbours'
  // differences does not.
  std::vector<double> cycles, extra;
  std::size_t monitorRows = 0;
  double monitorCpu = 0, monitorWall = 0;
  if (monitorSeconds > 0) {
    MonitorReader monitor(vx::MBFrameTap::Global());
    const double c0 = CpuSeconds();
    const auto w0 = Clock::now();
    const std::size_t e0 = starts.Count();
    starts.alternate = true;
    const auto phaseEnd = w0 + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(monitorSeconds));
    while (Clock::now() < phaseEnd)
      ui.PumpOne(std::chrono::duration_cast<std::chrono::milliseconds>(phaseEnd - Clock::now()));
    starts.alternate = false;
    monitorCpu = CpuSeconds() - c0;
    monitorWall = std::chrono::duration<double>(Clock::now() - w0).count();
    monitorRows = monitor.Rows();
    std::lock_guard guard(starts.mutex);
    const std::size_t done = starts.exchangeUs.size();  // exchanges that have ended
    for (std::size_t i = e0 + 1; i < done; ++i) {
      if (i + 1 < starts.cpuUs.size() && !starts.tapOn[i])
        cycles.push_back(starts.cpuUs[i + 1] - starts.cpuUs[i]);
      if (starts.tapOn[i] && !starts.tapOn[i - 1])
        extra.push_back(starts.exchangeUs[i] - starts.exchangeUs[i - 1]);
    }
  }

  const long errors = device.errors;
  setup.reset();
  TkoMBThread::ResetServerFactory();

  if (errors != 0) std::fprintf(stderr, "engine: %ld exchanges failed\n", errors);
  vxbench::Figure("cycle-p50", Percentile(intervals, 0.50), "ms");
  vxbench::Figure("cycle-p99", Percentile(intervals, 0.99), "ms");
  vxbench::Figure("engine-cpu", 100.0 * cpu / wall, "%");
  vxbench::Figure("engine-rss", rss, "MB");
  if (!cycles.empty() && !extra.empty()) {
    const double perCycle = Percentile(cycles, 0.5);
    const double added = Percentile(extra, 0.5);
    // The spread of a median (the notch of a box plot): 1.57 interquartile ranges / sqrt(n).
    const double spread = 1.57 * (Percentile(extra, 0.75) - Percentile(extra, 0.25)) /
                          std::sqrt(static_cast<double>(extra.size()));
    std::printf(
        "engine: connection thread's median cycle %.1f us CPU unrecorded (%zu cycles); a "
        "recorded exchange takes %.2f +- %.2f us more than the one before it (median of %zu "
        "pairs; %zu records taken by the monitor)\n",
        perCycle, cycles.size(), added, spread, extra.size(), monitorRows);
    std::printf("engine: process CPU %.2f %% with the monitor attached, its own work included\n",
                100.0 * monitorCpu / monitorWall);
    vxbench::Figure("monitor-overhead", 100.0 * added / perCycle, "%");
    const double tapNs = TapCostNs();
    std::printf("engine: recording one exchange costs %.0f ns CPU, %.2f %% of the cycle\n", tapNs,
                100.0 * tapNs / 1000.0 / perCycle);
    vxbench::Figure("tap-cost", tapNs / 1000.0, "us");
  }
  return intervals.empty() ? 1 : 0;
}

VX_BENCH(
    "engine",
    "connection thread: 20-register read every cycle over TCP loopback; cycle p50/p99, CPU %, RSS",
    Run);

}  // namespace
