#pragma once
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace vxbench {

using BenchFn = std::function<int(const std::vector<std::string>& args)>;

// Registers a sub-command of vx310-bench; used through VX_BENCH.
bool Register(const char* name, const char* help, BenchFn fn);

inline double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Prints one figure line, "name: value unit".
inline void Figure(const std::string& name, double value, const char* unit) {
  std::printf("%s: %.3f %s\n", name.c_str(), value, unit);
  std::fflush(stdout);
}

// A run length option: a number of seconds above 0, at most an hour.
inline bool ParseSeconds(const std::string& text, double& out) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v > 0.0 && v <= 3600.0)) return false;
  out = v;
  return true;
}

}  // namespace vxbench

#define VX_BENCH_CAT2(a, b) a##b
#define VX_BENCH_CAT(a, b) VX_BENCH_CAT2(a, b)
#define VX_BENCH(name, help, fn) \
  static const bool VX_BENCH_CAT(vx_bench_reg_, __LINE__) = ::vxbench::Register(name, help, fn)
