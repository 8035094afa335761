#pragma once
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "mbwire/mbframe.h"

// A pseudo-terminal pair for tests: the code under test opens Path() like a serial port,
// the test works the master side. A spare descriptor on the slave side stays open so that
// the master never sees a hang-up between two openers.
namespace vxtest {

class Pty {
 public:
  Pty() {
    char name[128] = {};
    if (openpty(&master_, &holder_, name, nullptr, nullptr) != 0)
      throw std::runtime_error("openpty failed");
    path_ = name;
    termios t{};
    tcgetattr(holder_, &t);
    cfmakeraw(&t);  // no echo of what the peer writes, before the client configures the line
    tcsetattr(holder_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
    ::close(holder_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  [[nodiscard]] const std::string& Path() const { return path_; }
  // Hangs up the line, as an unplugged adapter would.
  void CloseMaster() {
    ::close(master_);
    master_ = -1;
  }
  [[nodiscard]] int Master() const { return master_; }

 private:
  int master_ = -1;
  int holder_ = -1;
  std::string path_;
};

struct Burst {
  std::chrono::milliseconds delay;  // before these bytes go out: the peer's line timing
  std::vector<uint8_t> bytes;
};

// A scripted slave on the master side of a Pty. Each request (RTU, or ASCII when asked)
// is answered with the bursts the script returns for it.
class PtyPeer {
 public:
  using Script = std::function<std::vector<Burst>(const std::vector<uint8_t>& requestAdu)>;

  PtyPeer(Pty& pty, Script script, bool ascii = false)
      : pty_(pty), script_(std::move(script)), stop_(eventfd(0, EFD_CLOEXEC)) {
    thread_ = std::thread([this, ascii] { ascii ? RunAscii() : Run(); });
  }
  ~PtyPeer() {
    const uint64_t one = 1;
    (void)::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(stop_);
  }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  [[nodiscard]] int Requests() const { return requests_.load(); }

 private:
  // Waits for the stop signal at most `ms`; true when stopped.
  bool Stopped(int ms) const {
    pollfd p{stop_, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
  }

  void Run() {
    auto rx = vx::MBRtuReceiver::ForRequest();
    int wait = -1;  // a request of unknown length ends when the line stays quiet
    for (;;) {
      pollfd p[2] = {{pty_.Master(), POLLIN, 0}, {stop_, POLLIN, 0}};
      const int r = ::poll(p, 2, wait);
      if (r < 0) continue;
      if (p[1].revents) return;
      bool complete = false;
      if (r == 0) {
        complete = rx.Finish() == 0;
        if (!complete) rx.Reset();
      } else {
        uint8_t buf[512];
        const ssize_t n = ::read(pty_.Master(), buf, sizeof buf);
        if (n <= 0) continue;
        complete = rx.Feed(std::span<const uint8_t>(buf, static_cast<std::size_t>(n))) ==
                   vx::MBRtuReceiver::Status::kComplete;
      }
      wait = complete ? -1 : 5;
      if (!complete) continue;
      const std::vector<uint8_t> adu(rx.Frame().begin(), rx.Frame().end());
      rx.Reset();
      ++requests_;
      Answer(adu);
    }
  }

  void RunAscii() {
    auto rx = vx::MBAsciiReceiver::ForRequest();
    for (;;) {
      pollfd p[2] = {{pty_.Master(), POLLIN, 0}, {stop_, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) continue;
      if (p[1].revents) return;
      uint8_t buf[512];
      const ssize_t n = ::read(pty_.Master(), buf, sizeof buf);
      if (n <= 0) continue;
      if (rx.Feed(std::span<const uint8_t>(buf, static_cast<std::size_t>(n))) !=
          vx::MBAsciiReceiver::Status::kComplete)
        continue;
      const std::vector<uint8_t> adu(rx.Frame().begin(), rx.Frame().end());
      const bool good = rx.Result() == 0;
      rx.Reset();
      if (!good) continue;
      ++requests_;
      Answer(adu);
    }
  }

  void Answer(const std::vector<uint8_t>& adu) {
    for (const auto& b : script_(adu)) {
      if (b.delay.count() > 0 && Stopped(static_cast<int>(b.delay.count()))) return;
      (void)::write(pty_.Master(), b.bytes.data(), b.bytes.size());
    }
  }

  Pty& pty_;
  Script script_;
  int stop_;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

}  // namespace vxtest
