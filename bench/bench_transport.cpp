// vx310-bench transport: reads of 10 holding registers through our server component and
// through libmodbus's own client, against the same libmodbus server in this process,
// over TCP loopback and over a pseudo-terminal with RTU at 19200 baud. The two clients
// take turns, so that a burst of load on a shared machine hits both alike.
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbserial.h"
#include "mbwire/mbserver.h"

#ifdef VX_HAVE_LIBMODBUS
#include "../tests/conformance/libmodbus_server.h"
#include "../tests/mbwire/mbtest_pty.h"
#endif

namespace {

#ifdef VX_HAVE_LIBMODBUS

constexpr int kWarmUp = 20;
constexpr int kRounds = 10;  // RTU: the pty takes one opener at a time
constexpr int kTurn = 20;    // TCP: requests per turn

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Per-request times of one client over all its rounds.
struct Tally {
  std::vector<double> each;  // ms
  double cpuMs = 0;          // CPU time of the calling thread
  bool ok = true;

  [[nodiscard]] double TotalMs() const {
    double t = 0;
    for (double e : each) t += e;
    return t;
  }
  [[nodiscard]] double ReqPerSec() const { return each.size() * 1000.0 / TotalMs(); }
  [[nodiscard]] double MeanMs() const { return TotalMs() / static_cast<double>(each.size()); }
  // A loaded machine's stalls move the mean, not the median.
  [[nodiscard]] double MedianMs() const {
    std::vector<double> v = each;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  }
};

// One round: `warmUp` untimed reads, then `count` timed ones; a failed read spoils the
// tally.
void Round(Tally& tally, int count, const std::function<bool()>& read, int warmUp) {
  for (int i = 0; i < warmUp && tally.ok; ++i) tally.ok = read();
  const double cpu0 = ThreadCpuMs();
  double t = vxbench::NowMs();
  for (int i = 0; i < count && tally.ok; ++i) {
    tally.ok = read();
    const double now = vxbench::NowMs();
    tally.each.push_back(now - t);
    t = now;
  }
  tally.cpuMs += ThreadCpuMs() - cpu0;
}

const std::vector<uint8_t> kQuery = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};

void OurRound(Tally& tally, int count, const std::function<bool(MBServer&)>& setUp) {
  MBServer server;
  if (!setUp(server) || !server.Connect()) {
    std::fprintf(stderr, "transport: our connect: %s\n", server.LastConnectError().c_str());
    tally.ok = false;
    return;
  }
  std::vector<uint8_t> response;
  // A fresh connection starts without the inter-frame gap: warm up so none is timed.
  Round(
      tally, count,
      [&] {
        return server.TxRxMessage(kQuery, 6, 0, response) == vx::mbresult::kOk &&
               response.size() == 23;
      },
      kWarmUp);
  server.CloseConnection();
}

void TheirRound(Tally& tally, int count, modbus_t* ctx) {
  if (ctx == nullptr || modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "transport: libmodbus connect: %s\n", modbus_strerror(errno));
    if (ctx != nullptr) modbus_free(ctx);
    tally.ok = false;
    return;
  }
  modbus_set_slave(ctx, 1);
  uint16_t regs[10];
  Round(
      tally, count,
      [&] {
        if (modbus_read_registers(ctx, 0, 10, regs) == 10) return true;
        std::fprintf(stderr, "transport: libmodbus read: %s\n", modbus_strerror(errno));
        return false;
      },
      kWarmUp);
  modbus_close(ctx);
  modbus_free(ctx);
}

int Fail(const char* what) {
  std::fprintf(stderr, "transport: %s failed\n", what);
  return 1;
}

int BenchTransport(const std::vector<std::string>& args) {
  int count = 2000;
  if (!args.empty()) {
    char* end = nullptr;
    const long n = std::strtol(args[0].c_str(), &end, 10);
    if (end == args[0].c_str() || *end != '\0' || n < kRounds || n > 10000000) {
      std::fprintf(stderr, "transport: count must be a number from %d to 10000000\n", kRounds);
      return 2;
    }
    count = static_cast<int>(n);
  }
  const int perRound = count / kRounds;

  {  // Modbus TCP on loopback: both clients connected, taking turns every few requests
    auto server = vxtest::LibmodbusServer::Tcp();
    MBServer mine;
    if (!mine.OpenConnection("bench", 2)) return Fail("OpenConnection");
    mine.put_Host("127.0.0.1");
    mine.put_TcpPort(server->Port());
    mine.put_TimeOut(1000);
    if (!mine.Connect()) return Fail("tcp connect of our component");
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", server->Port());
    if (ctx == nullptr || modbus_connect(ctx) != 0) return Fail("tcp connect of libmodbus");
    modbus_set_slave(ctx, 1);
    std::vector<uint8_t> response;
    uint16_t regs[10];
    const std::function<bool()> ourRead = [&] {
      return mine.TxRxMessage(kQuery, 6, 0, response) == vx::mbresult::kOk && response.size() == 23;
    };
    const std::function<bool()> theirRead = [&] {
      return modbus_read_registers(ctx, 0, 10, regs) == 10;
    };
    Tally ours, theirs;
    for (int done = 0; done < count && ours.ok && theirs.ok; done += kTurn) {
      Round(ours, kTurn, ourRead, done == 0 ? kWarmUp : 0);
      Round(theirs, kTurn, theirRead, done == 0 ? kWarmUp : 0);
    }
    modbus_close(ctx);
    modbus_free(ctx);
    mine.CloseConnection();
    if (!ours.ok) return Fail("tcp reads through our component");
    if (!theirs.ok) return Fail("tcp reads through libmodbus");
    vxbench::Figure("tcp-ours", ours.ReqPerSec(), "req/s");
    vxbench::Figure("tcp-libmodbus", theirs.ReqPerSec(), "req/s");
    std::printf("tcp-ratio: %.3f\n", ours.ReqPerSec() / theirs.ReqPerSec());  // a pure number
    std::fflush(stdout);
    // On a shared machine a stall of a few milliseconds outweighs thousands of requests
    // of a few microseconds; the medians show the two clients without the stalls.
    std::printf("tcp-ratio-median: %.3f\n", theirs.MedianMs() / ours.MedianMs());
    vxbench::Figure("tcp-ours-cpu", 1000 * ours.cpuMs / static_cast<double>(ours.each.size()),
                    "us");
    vxbench::Figure("tcp-libmodbus-cpu",
                    1000 * theirs.cpuMs / static_cast<double>(theirs.each.size()), "us");
  }

  {  // RTU at 19200 baud 8E1 over a pseudo-terminal (which has no wire time)
    vxtest::Pty pty;
    auto server = vxtest::LibmodbusServer::Rtu(pty.Master());
    vx::SetComPortPath(1, pty.Path());
    Tally ours, theirs;
    for (int r = 0; r < kRounds && ours.ok && theirs.ok; ++r) {
      OurRound(ours, perRound, [](MBServer& s) {
        if (!s.OpenConnection("bench", 1)) return false;
        s.put_ComPort(1);
        s.put_BaudRate(19200);
        s.put_ByteSize(8);
        s.put_Parity(2);
        s.put_StopBits(0);
        s.put_TimeOut(1000);
        s.put_SilentInterval(20);
        s.put_TransmissionMode(0);
        return true;
      });
      // libmodbus refuses to open a pseudo-terminal with parity; a pty carries no
      // parity anyway, so its client runs 8N1.
      TheirRound(theirs, perRound, modbus_new_rtu(pty.Path().c_str(), 19200, 'N', 8, 1));
    }
    vx::ResetComPortPaths();
    if (!ours.ok) return Fail("rtu reads through our component");
    if (!theirs.ok) return Fail("rtu reads through libmodbus");
    vx::MBSerialSettings line;
    line.baudRate = 19200;
    line.parity = 2;
    const double gapMs = std::chrono::duration<double, std::milli>(vx::RtuFrameGap(line)).count();
    vxbench::Figure("rtu-ours", ours.ReqPerSec(), "req/s");
    vxbench::Figure("rtu-libmodbus", theirs.ReqPerSec(), "req/s");
    vxbench::Figure("rtu-overhead", ours.MeanMs() - gapMs, "ms");
    vxbench::Figure("rtu-overhead-median", ours.MedianMs() - gapMs, "ms");
    vxbench::Figure("rtu-ours-cpu", 1000 * ours.cpuMs / static_cast<double>(ours.each.size()),
                    "us");
  }
  return 0;
}

#else

int BenchTransport(const std::vector<std::string>&) {
  std::fprintf(stderr, "transport: built without libmodbus (install libmodbus-dev)\n");
  return 1;
}

#endif

}  // namespace

VX_BENCH("transport",
         "reads of 10 registers: ours vs libmodbus, TCP loopback and RTU on a pty [count]",
         BenchTransport);
