// vx310-bench cli: vx310ctl's backup (identification, a whole setup read, the setup file
// written) and compare against the simulator over TCP loopback, each a whole command run
// in this process as the program runs it.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench.h"
#include "cli/ctlmain.h"
#include "simprocess.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

int Run(const std::vector<std::string>& args) {
  std::string simPath = vxbench::DefaultSimPath();
  std::string models = VX_BENCH_MODELS;
  int runs = 15;
  for (std::size_t i = 0; i < args.size(); i += 2) {
    const bool known = args[i] == "--sim" || args[i] == "--models" || args[i] == "--runs";
    if (!known || i + 1 >= args.size()) {
      std::fprintf(stderr, "cli: %s %s (--sim PATH, --models DIR, --runs N)\n",
                   known ? "no value for" : "unknown argument", args[i].c_str());
      return 2;
    }
    if (args[i] == "--sim") simPath = args[i + 1];
    if (args[i] == "--models") models = args[i + 1];
    if (args[i] == "--runs") {
      runs = std::atoi(args[i + 1].c_str());
      if (runs < 1 || runs > 1000) {
        std::fprintf(stderr, "cli: --runs %s: 1 to 1000\n", args[i + 1].c_str());
        return 2;
      }
    }
  }
  vxbench::SimProcess sim(simPath, models + "/VX310v220.par");
  if (sim.Port() == 0) {
    std::fprintf(stderr, "cli: %s did not start (give its path with --sim)\n", simPath.c_str());
    return 1;
  }
  const std::string port = "tcp:127.0.0.1:" + std::to_string(sim.Port());
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("vx310-bench-cli-" + std::to_string(getpid()) + ".310"))
                               .string();
  const auto ctl = [&](std::vector<std::string> a, int expect) {
    a.insert(a.end(), {"--port", port, "--models", models, "--quiet"});
    std::ostringstream out, err;
    const double t0 = vxbench::NowMs();
    const int rc = vx::RunCtl(a, {out, err, false});
    const double ms = vxbench::NowMs() - t0;
    if (rc != expect) {
      std::fprintf(stderr, "cli: %s ended with %d: %s", a.front().c_str(), rc, err.str().c_str());
      return -1.0;
    }
    return ms;
  };
  std::vector<double> backup, compare;
  for (int i = 0; i < runs; ++i) {
    const double b = ctl({"backup", "--out", file}, 0);
    const double c = ctl({"compare", "--in", file}, 0);
    if (b < 0 || c < 0) return 1;
    backup.push_back(b);
    compare.push_back(c);
  }
  std::filesystem::remove(file);
  vxbench::Figure("cli-backup-tcp", Median(backup), "ms");
  vxbench::Figure("cli-compare-tcp", Median(compare), "ms");
  return 0;
}

VX_BENCH("cli", "vx310ctl backup and compare over TCP loopback: median ms of a whole command", Run);

}  // namespace
