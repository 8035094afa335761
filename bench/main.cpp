#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bench.h"
#include "simprocess.h"

namespace vxbench {
namespace {
struct Entry {
  std::string help;
  BenchFn fn;
};
std::map<std::string, Entry>& Registry() {
  static std::map<std::string, Entry> r;
  return r;
}
}  // namespace

bool Register(const char* name, const char* help, BenchFn fn) {
  Registry()[name] = Entry{help, std::move(fn)};
  return true;
}
}  // namespace vxbench

int main(int argc, char** argv) {
  auto& reg = vxbench::Registry();
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::printf("usage: vx310-bench BENCHMARK [args...]\n\nbenchmarks:\n");
    for (const auto& [name, e] : reg) std::printf("  %-12s %s\n", name.c_str(), e.help.c_str());
    std::printf("  %-12s %s\n", "ui-stall",
                "user-interface stalls and recovery on a bad line (vx310-uibench)");
    std::printf("  %-12s %s\n", "ui-start",
                "process start to the main window shown (vx310-uibench)");
    std::printf("  %-12s %s\n", "ui-cost",
                "identification, CPU, memory and refresh times of the windows (vx310-uibench)");
    std::printf("  %-12s %s\n", "ui-monitor",
                "bus monitor update with a full ring and a filter (vx310-uibench)");
    return argc < 2 ? 2 : 0;
  }
  // The benchmarks of the windows need Qt, which this program does not link: they are
  // the sibling program's.
  if (std::strncmp(argv[1], "ui-", 3) == 0) {
    const std::string ui = vxbench::ExeDir() + "/vx310-uibench";
    argv[0] = const_cast<char*>(ui.c_str());
    execv(ui.c_str(), argv);
    std::fprintf(stderr, "vx310-bench: cannot run %s: %s\n", ui.c_str(), std::strerror(errno));
    return 2;
  }
  auto it = reg.find(argv[1]);
  if (it == reg.end()) {
    std::fprintf(stderr, "vx310-bench: unknown benchmark '%s' (try --help)\n", argv[1]);
    return 2;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  return it->second.fn(args);
}
