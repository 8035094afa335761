// vx310-bench transport: reads of 10 holding registers through our server component and
// through libmodbus's own client, against the same libmodbus server in this process,
// over TCP loopback and over a pseudo-terminal with RTU at 19200 baud.
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "bench.h"
#include "modbus/mbresult.h"
#include "modbus/mbserial.h"
#include "modbus/mbserver.h"

#ifdef VX_HAVE_LIBMODBUS
#include "../tests/conformance/libmodbus_server.h"
#include "../tests/modbus/mbtest_pty.h"
#endif

namespace {

#ifdef VX_HAVE_LIBMODBUS

constexpr int kWarmUp = 50;

struct Run {
  double reqPerSec = 0;
  double msPerReq = 0;     // mean
  double msMedian = 0;     // median: a loaded machine's stalls move the mean, not this
  double cpuMsPerReq = 0;  // CPU time of the calling thread per request
  bool ok = false;
};

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Times `count` reads; any failed read spoils the run.
template <typename ReadFn>
Run Time(int count, ReadFn read) {
  for (int i = 0; i < kWarmUp; ++i) {
    if (!read()) return {};
  }
  std::vector<double> each(static_cast<std::size_t>(count));
  const double cpu0 = ThreadCpuMs();
  const double t0 = vxbench::NowMs();
  double t = t0;
  for (auto& e : each) {
    if (!read()) return {};
    const double now = vxbench::NowMs();
    e = now - t;
    t = now;
  }
  const double ms = t - t0;
  const double cpu = ThreadCpuMs() - cpu0;
  std::nth_element(each.begin(), each.begin() + count / 2, each.end());
  return {count * 1000.0 / ms, ms / count, each[static_cast<std::size_t>(count / 2)], cpu / count, true};
}

Run Ours(MBServer& server, int count) {
  const std::vector<uint8_t> query = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  std::vector<uint8_t> response;
  return Time(count, [&] {
    return server.TxRxMessage(query, 6, 0, response) == vx::mbresult::kOk && response.size() == 23;
  });
}

Run Theirs(modbus_t* ctx, int count) {
  uint16_t regs[10];
  if (ctx == nullptr) return {};
  if (modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "transport: libmodbus connect: %s\n", modbus_strerror(errno));
    modbus_free(ctx);
    return {};
  }
  modbus_set_slave(ctx, 1);
  const Run r = Time(count, [&] {
    if (modbus_read_registers(ctx, 0, 10, regs) == 10) return true;
    std::fprintf(stderr, "transport: libmodbus read: %s\n", modbus_strerror(errno));
    return false;
  });
  modbus_close(ctx);
  modbus_free(ctx);
  return r;
}

int Fail(const char* what) {
  std::fprintf(stderr, "transport: %s failed\n", what);
  return 1;
}

int BenchTransport(const std::vector<std::string>& args) {
  const int count = args.empty() ? 2000 : std::max(1, std::stoi(args[0]));

  {  // Modbus TCP on loopback
    auto server = vxtest::LibmodbusServer::Tcp();
    MBServer ours;
    if (!ours.OpenConnection("bench", 2)) return Fail("OpenConnection");
    ours.put_Host("127.0.0.1");
    ours.put_TcpPort(server->Port());
    ours.put_TimeOut(1000);
    if (!ours.Connect()) return Fail("tcp connect");
    const Run a = Ours(ours, count);
    ours.CloseConnection();
    const Run b = Theirs(modbus_new_tcp("127.0.0.1", server->Port()), count);
    if (!a.ok) return Fail("tcp reads through our component");
    if (!b.ok) return Fail("tcp reads through libmodbus");
    vxbench::Figure("tcp-ours", a.reqPerSec, "req/s");
    vxbench::Figure("tcp-libmodbus", b.reqPerSec, "req/s");
    std::printf("tcp-ratio: %.3f\n", a.reqPerSec / b.reqPerSec);  // a pure number: no unit
    std::fflush(stdout);
  }

  {  // RTU at 19200 baud 8E1 over a pseudo-terminal (which has no wire time)
    vxtest::Pty pty;
    auto server = vxtest::LibmodbusServer::Rtu(pty.Master());
    vx::SetComPortPath(1, pty.Path());
    MBServer ours;
    if (!ours.OpenConnection("bench", 1)) return Fail("OpenConnection");
    ours.put_ComPort(1);
    ours.put_BaudRate(19200);
    ours.put_ByteSize(8);
    ours.put_Parity(2);
    ours.put_StopBits(0);
    ours.put_TimeOut(1000);
    ours.put_SilentInterval(20);
    ours.put_TransmissionMode(0);
    if (!ours.Connect()) return Fail("rtu connect");
    const Run a = Ours(ours, count);
    ours.CloseConnection();
    // libmodbus refuses to open a pseudo-terminal with parity; on a pty parity is not
    // carried anyway, so its client runs 8N1.
    const Run b = Theirs(modbus_new_rtu(pty.Path().c_str(), 19200, 'N', 8, 1), count);
    if (!a.ok) return Fail("rtu reads through our component");
    if (!b.ok) return Fail("rtu reads through libmodbus");
    vx::MBSerialSettings line;
    line.baudRate = 19200;
    line.parity = 2;
    const double gapMs = std::chrono::duration<double, std::milli>(vx::RtuFrameGap(line)).count();
    vxbench::Figure("rtu-ours", a.reqPerSec, "req/s");
    vxbench::Figure("rtu-libmodbus", b.reqPerSec, "req/s");
    vxbench::Figure("rtu-overhead", a.msPerReq - gapMs, "ms");
    vxbench::Figure("rtu-overhead-median", a.msMedian - gapMs, "ms");
    vxbench::Figure("rtu-ours-cpu", a.cpuMsPerReq, "ms");
    vx::ResetComPortPaths();
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

VX_BENCH("transport", "reads of 10 registers: ours vs libmodbus, TCP loopback and RTU on a pty [count]",
         BenchTransport);
