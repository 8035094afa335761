// vx310-bench engine: one connection thread over Modbus TCP on loopback, reading 20
// registers every cycle, as the terminal's periodic state read does. Measures the
// interval between cycle starts (the start of each exchange, one a cycle), the process's
// CPU use and its resident memory.
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
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench.h"
#include "benchdevice.h"
#include "mbwire/mbchannel.h"
#include "mbwire/mbframe.h"
#include "mbwire/mbserver.h"
#include "mbwire/mbtap.h"
#include "mbwire/mbtransport.h"
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

// The real component, with the time of every exchange's start noted, and the connection
// thread's CPU time then (one exchange a cycle: the difference is one cycle's CPU).
class TimedServer final : public TkoMBServerRelay {
 public:
  TimedServer(std::vector<double>& starts, std::atomic<double>& threadCpuUs, std::mutex& mutex)
      : TkoMBServerRelay(vx::CreateTransportServer()),
        starts_(starts),
        threadCpuUs_(threadCpuUs),
        mutex_(mutex) {}
  int32_t TxRxMessage(const std::vector<uint8_t>& q, int16_t ql, int16_t rl,
                      std::vector<uint8_t>& r) override {
    {
      std::lock_guard guard(mutex_);
      starts_.push_back(vxbench::NowMs());
    }
    threadCpuUs_.store(ThreadCpuUs());
    return TkoMBServerRelay::TxRxMessage(q, ql, rl, r);
  }

 private:
  std::vector<double>& starts_;
  std::atomic<double>& threadCpuUs_;
  std::mutex& mutex_;
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
// takes the new records, decodes and formats each, and keeps the newest 10,000.
class MonitorReader {
 public:
  explicit MonitorReader(vx::MBFrameTap& tap) : tap_(tap), watch_(tap) {
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
  vx::MBTapWatch watch_;
  uint64_t last_ = 0;
  std::deque<std::string> rows_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::thread thread_;
};

// The tap's own price per exchange, without the line's noise: RTU exchanges with a slave
// that answers at once on an in-memory line, the tap off and then watched, in CPU
// microseconds of this thread.
double TapCostUs(double* exchangeUs) {
  auto [ours, peer] = vx::MBMemoryChannel::Pair();
  const std::vector<uint8_t> answer = vx::EncodeRtu(std::vector<uint8_t>{
      1,  3, 40, 0, 1,  0, 2,  0, 3,  0, 4,  0, 5,  0, 6,  0, 7,  0, 8,  0, 9, 0,
      10, 0, 11, 0, 12, 0, 13, 0, 14, 0, 15, 0, 16, 0, 17, 0, 18, 0, 19, 0, 20});
  peer->OnData([&answer](vx::MBMemoryChannel& self, std::span<const uint8_t>) {
    self.WriteAfter(std::chrono::microseconds(0), answer);
  });
  vx::MBSerialSettings line;
  line.baudRate = 4000000;
  vx::MBFrameTap tap;
  vx::MBRtuTransport rtu(std::move(ours), line, vx::MBTiming{});
  rtu.SetTap(&tap, "COM1");
  const std::vector<uint8_t> request{1, 3, 0, 100, 0, 20};
  std::vector<uint8_t> response;
  constexpr int kRounds = 1500;
  const auto measure = [&] {
    const double t0 = ThreadCpuUs();
    for (int i = 0; i < kRounds; ++i) (void)rtu.Transact(request, response);
    return (ThreadCpuUs() - t0) / kRounds;
  };
  // Alternating, twice each, so that a change of the machine's load falls on both.
  double off = 0, on = 0;
  for (int pass = 0; pass < 4; ++pass) {
    if (pass % 2 == 0) {
      off += measure();
    } else {
      vx::MBTapWatch watch(tap);
      on += measure();
    }
  }
  *exchangeUs = off / 2;
  return (on - off) / 2;
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
  std::vector<double> starts;
  starts.reserve(static_cast<std::size_t>(seconds * 12) + 16);
  std::mutex startsMutex;
  std::atomic<double> threadCpuUs{0.0};
  TkoMBThread::SetServerFactory(
      [&] { return std::make_unique<TimedServer>(starts, threadCpuUs, startsMutex); });

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
  {
    std::lock_guard guard(startsMutex);
    starts.clear();
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
    std::lock_guard guard(startsMutex);
    for (std::size_t i = 1; i < starts.size(); ++i) intervals.push_back(starts[i] - starts[i - 1]);
  }
  // The tap: CPU of the connection thread per cycle with the tap recording and a monitor
  // taking every record, against the tap off; the process's CPU (the monitor's own work
  // included) is told beside it. Off and on alternate in blocks, so that a drift of the
  // machine's load falls on both alike.
  double cpuOff = 0, wallOff = 0, cpuOn = 0, wallOn = 0;
  double threadOff = 0, threadOn = 0;
  std::size_t cyclesOff = 0, cyclesOn = 0;
  const auto exchanges = [&] {
    std::lock_guard guard(startsMutex);
    return starts.size();
  };
  std::size_t monitorRows = 0;
  const int blocks = 6;
  for (int b = 0; b < blocks && monitorSeconds > 0; ++b) {
    const bool on = b % 2 == 1;
    std::unique_ptr<MonitorReader> monitor;
    if (on) monitor = std::make_unique<MonitorReader>(vx::MBFrameTap::Global());
    const double c0 = CpuSeconds();
    const auto w0 = Clock::now();
    // From one exchange's start to another's: whole cycles of the connection thread.
    const std::size_t n0 = exchanges();
    ui.PumpUntil([&] { return exchanges() > n0; }, std::chrono::seconds(5));
    const std::size_t e0 = exchanges();
    const double t0us = threadCpuUs.load();
    const auto blockEnd = w0 + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(monitorSeconds / blocks * 2));
    while (Clock::now() < blockEnd)
      ui.PumpOne(std::chrono::duration_cast<std::chrono::milliseconds>(blockEnd - Clock::now()));
    const std::size_t n1 = exchanges();
    ui.PumpUntil([&] { return exchanges() > n1; }, std::chrono::seconds(5));
    const std::size_t e1 = exchanges();
    (on ? threadOn : threadOff) += threadCpuUs.load() - t0us;
    (on ? cyclesOn : cyclesOff) += e1 - e0;
    const double c = CpuSeconds() - c0;
    const double w = std::chrono::duration<double>(Clock::now() - w0).count();
    if (monitor) monitorRows = std::max(monitorRows, monitor->Rows());
    (on ? cpuOn : cpuOff) += c;
    (on ? wallOn : wallOff) += w;
  }

  const long errors = device.errors;
  setup.reset();
  TkoMBThread::ResetServerFactory();

  if (errors != 0) std::fprintf(stderr, "engine: %ld exchanges failed\n", errors);
  vxbench::Figure("cycle-p50", Percentile(intervals, 0.50), "ms");
  vxbench::Figure("cycle-p99", Percentile(intervals, 0.99), "ms");
  vxbench::Figure("engine-cpu", 100.0 * cpu / wall, "%");
  vxbench::Figure("engine-rss", rss, "MB");
  if (monitorSeconds > 0 && wallOff > 0 && wallOn > 0 && cpuOff > 0 && cyclesOff > 0 &&
      cyclesOn > 0) {
    const double perOff = threadOff / static_cast<double>(cyclesOff);
    const double perOn = threadOn / static_cast<double>(cyclesOn);
    std::printf(
        "engine: connection thread %.1f us CPU a cycle with the tap off (%zu cycles), "
        "%.1f us on (%zu cycles, %zu records taken by the monitor)\n",
        perOff, cyclesOff, perOn, cyclesOn, monitorRows);
    std::printf(
        "engine: process CPU %.2f %% with the tap off, %.2f %% on (the monitor's own "
        "ten wake-ups a second included)\n",
        100.0 * cpuOff / wallOff, 100.0 * cpuOn / wallOn);
    vxbench::Figure("monitor-overhead", 100.0 * (perOn / perOff - 1.0), "%");
    double exchangeUs = 0;
    const double tapUs = TapCostUs(&exchangeUs);
    std::printf(
        "engine: the tap adds %.2f us CPU to an exchange (%.2f us without it, on an "
        "in-memory line), %.2f %% of the connection thread's cycle\n",
        tapUs, exchangeUs, 100.0 * tapUs / perOff);
    vxbench::Figure("tap-cost", tapUs, "us");
  }
  return intervals.empty() ? 1 : 0;
}

VX_BENCH(
    "engine",
    "connection thread: 20-register read every cycle over TCP loopback; cycle p50/p99, CPU %, RSS",
    Run);

}  // namespace
