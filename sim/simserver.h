#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "mbwire/mbframe.h"
#include "mbwire/mbserial.h"
#include "sim/simdrive.h"
#include "sim/simline.h"

namespace vx {

struct SimServerOptions {
  std::string ptyLink;       // create a pseudo-terminal and this symbolic link to it
  std::string serialDevice;  // a real serial port
  MBSerialSettings serial;   // for both: the inter-frame silence follows the baud rate
  bool tcp = false;
  std::string tcpHost = "127.0.0.1";
  uint16_t tcpPort = 0;
  uint64_t dropEvery = 0;
  uint64_t corruptEvery = 0;
  std::optional<uint64_t> silentAfter;
  bool verbose = false;
  // A paced serial line: requests count as received when their last character would
  // have arrived on the wire, answers leave a character at a time after the turnaround.
  // Empty: bytes take no time. TCP is never paced.
  std::optional<SimLineTiming> line;
};

// The simulator's line side: one poll loop over the listeners (pseudo-terminal, serial
// port, TCP with several clients), RTU and MBAP framing around the drives, the injected
// line faults, and the request log. It sleeps in poll while nothing arrives. Several
// drives on one line each answer their own slave address, as on a real bus.
class SimServer {
 public:
  using Clock = std::chrono::steady_clock;

  SimServer(SimDrive& drive, SimServerOptions options);
  // The drives must have distinct slave addresses; they stay the caller's.
  SimServer(std::vector<SimDrive*> drives, SimServerOptions options);
  ~SimServer();  // closes everything and removes the pseudo-terminal link
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Opens every listener; throws EkoException with the reason.
  void Open();
  // Where it listens, for the "listening on" line.
  std::string Where() const;
  uint16_t TcpPort() const { return boundPort_; }
  const std::string& PtyName() const { return ptyName_; }

  // Serves until RequestStop (true) or until no line is left to serve (false).
  bool Run();
  // Ends Run soon; safe from a signal handler and from other threads.
  void RequestStop();
  // The descriptor whose writing ends Run (for a signal handler).
  int StopFd() const { return stopPipe_[1]; }

  uint64_t Requests() const { return requests_; }
  // Stops answering this drive's requests from now on (true) or answers them again
  // (false), as a drive that is switched off and on while the line stays; any thread.
  void SetSilent(bool silent) { silent_.store(silent); }

  // Changes the line faults while serving, from any thread (a benchmark walks a drive
  // through them): every n-th request dropped or answered corrupt (0: never), or no
  // answer at all while silent. The counts go on from the requests served so far.
  void SetLineFaults(uint64_t dropEvery, uint64_t corruptEvery, bool silent);

 private:
  // An answer on a paced line: character i is written when its last bit would leave
  // the wire, at start + (i + 1) character times.
  struct PacedAnswer {
    std::vector<uint8_t> bytes;
    std::size_t sent = 0;
    Clock::time_point start;
  };
  // A request of a paced line, complete but still on the wire until `at`.
  struct Arriving {
    Clock::time_point at;
    std::vector<uint8_t> adu;
  };
  struct Serial {
    int fd = -1;
    std::string name;
    MBRtuReceiver rx = MBRtuReceiver::ForRequest();
    std::vector<uint8_t> raw;  // bytes since the last frame
    std::optional<Clock::time_point> deadline;
    bool needSilence = false;
    // Paced line only.
    Clock::time_point rxWireEnd{};  // the last character received so far has arrived
    bool spoilt = false;            // the frame in work had a gap too long (strict gaps)
    std::deque<Arriving> arriving;
    std::deque<PacedAnswer> answers;
  };
  struct TcpClient {
    int fd = -1;
    std::vector<uint8_t> buf;
  };
  enum class Fate { kServe, kDrop, kSilent };

  void OpenPty();
  // False when the line has gone away.
  bool ReadSerial(Serial& s, Clock::time_point now, bool hungUp);
  // Paced line: takes one received character at its time on the wire.
  void TakePaced(Serial& s, uint8_t byte, Clock::time_point arrived);
  void FinishSerial(Serial& s);
  // `end`: when the request's last character arrived (paced line).
  void ServeSerialFrame(Serial& s, std::span<const uint8_t> adu, Clock::time_point end);
  // Paced line: serves the requests that have arrived by `now` and writes the answer
  // characters due by then.
  void PaceSerial(Serial& s, Clock::time_point now);
  void AcceptTcp();
  bool ReadTcp(TcpClient& c);  // false: close the client
  // The drive a request is for: its slave address, or the first drive for the TCP units
  // that mean "the device at the other end"; none for broadcasts and other addresses.
  SimDrive* Addressed(std::span<const uint8_t> adu, bool tcp) const;
  // Serves the request: the addressed drive answers; a serial broadcast reaches every
  // drive and is answered by none.
  SimDrive::Reply ServeAdu(std::span<const uint8_t> adu, bool tcp);
  Fate Decide(std::span<const uint8_t> adu, bool tcp, uint64_t& number);
  bool Corrupt(uint64_t number) const;
  void Log(uint64_t number, const char* line, const SimDrive::Reply& reply, const char* extra);
  static bool WriteAll(int fd, std::span<const uint8_t> bytes);

  std::vector<SimDrive*> drives_;
  SimServerOptions options_;
  int stopPipe_[2] = {-1, -1};
  int listenFd_ = -1;
  uint16_t boundPort_ = 0;
  int ptySlaveFd_ = -1;
  std::string ptyName_;
  bool linkMade_ = false;
  std::vector<Serial> serials_;
  std::vector<TcpClient> clients_;
  std::chrono::nanoseconds frameGap_{};
  uint64_t requests_ = 0;
  std::atomic<uint64_t> dropEvery_{0};
  std::atomic<uint64_t> corruptEvery_{0};
  std::atomic<bool> silent_{false};
};

}  // namespace vx
