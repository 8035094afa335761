#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace vxtest {

// Turns a deadlock into a failure with a message instead of a hung test program.
class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, std::string what)
      : what_(std::move(what)), thread_([this, limit] { Watch(limit); }) {}
  ~Watchdog() {
    {
      std::lock_guard guard(mutex_);
      disarmed_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  void Watch(std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, limit, [this] { return disarmed_; })) {
      std::fprintf(stderr, "deadlock: %s did not finish within %lld s\n", what_.c_str(),
                   static_cast<long long>(limit.count()));
      std::abort();
    }
  }

  std::string what_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool disarmed_ = false;
  std::thread thread_;
};

inline constexpr std::chrono::seconds kGenerous{60};

}  // namespace vxtest
