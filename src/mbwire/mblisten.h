#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mbwire/mbchannel.h"
#include "mbwire/mbframe.h"
#include "mbwire/mbserial.h"
#include "mbwire/mbtap.h"

// Listening without sending: the RTU traffic of another master and its slaves, cut into
// frames and paired into exchanges as the line's receivers do it.
namespace vx {

// Cuts a byte stream into RTU frames and pairs requests with answers. Requests and
// answers are told apart by their layout (length rules and CRC under either reading) and
// by timing (after a request the next frame is expected to be its answer). A frame ends
// where its length says, even without silence between frames; a pause inside a frame
// shorter than `gapLimit` is tolerated (adapters deliver in bursts); a frame whose length
// cannot be told ends at a silence of `frameGap`.
class MBListenDecoder {
 public:
  struct Timing {
    std::chrono::nanoseconds frameGap{std::chrono::microseconds(1750)};  // 3.5 characters
    std::chrono::nanoseconds gapLimit{std::chrono::milliseconds(50)};
    std::chrono::nanoseconds answerTimeout{std::chrono::milliseconds(1000)};
  };
  using Sink = std::function<void(const MBTapRecord&)>;

  MBListenDecoder(std::string port, Timing timing, Sink sink);

  // Bytes as they arrived at `at`.
  void Feed(std::span<const uint8_t> bytes, MBClock::time_point at);
  // The line has been quiet up to `now`: frames that only silence can end are ended.
  void Idle(MBClock::time_point now);
  // Ends whatever is open (the port is being closed).
  void Flush();

 private:
  enum class Verdict { kComplete, kNeedMore, kBad };
  struct Frame {
    std::vector<uint8_t> bytes;
    MBClock::time_point first{}, last{};
    int64_t maxGapUs = 0;
  };
  Verdict Classify(std::size_t& length, MBDirection& direction) const;
  void Scan();
  // Emits the first `n` buffered bytes as one frame.
  void Cut(std::size_t n, bool good, MBDirection direction);
  void OnFrame(Frame frame, bool good, MBDirection direction);
  void EmitPending(int32_t result);
  void Emit(MBTapRecord& record);
  [[nodiscard]] bool ExpectingAnswer() const { return pending_.has_value(); }

  std::string port_;
  Timing timing_;
  Sink sink_;
  std::vector<uint8_t> buf_;
  std::vector<MBClock::time_point> at_;  // arrival time of each buffered byte
  MBClock::time_point lastFrameEnd_{};
  std::optional<Frame> pending_;                         // a request waiting for its answer
  std::optional<std::pair<uint8_t, uint8_t>> timedOut_;  // slave, function of the last unanswered
};

// A serial port opened only to listen: nothing is ever written to it.
class MBListener {
 public:
  // Opens the port (exclusively) with `settings`; false with the reason in `error`.
  [[nodiscard]] bool Open(const std::string& path, const MBSerialSettings& settings,
                          std::string port, std::string* error);
  // Reads and decodes until `stop` answers true (asked at least every 50 ms) or the port
  // fails; records go to `sink`. Returns mbresult::kOk when stopped, else the read error.
  int32_t Run(const std::function<bool()>& stop, const MBListenDecoder::Sink& sink);

 private:
  std::unique_ptr<MBSerialChannel> channel_;
  MBSerialSettings settings_;
  std::string port_;
};

}  // namespace vx
