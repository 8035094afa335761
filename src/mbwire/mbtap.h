#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "mbwire/mbchannel.h"

// The frame tap: every exchange on the line as it went, kept in a bounded ring for a bus
// monitor. The connection thread writes; any thread copies out. Writing holds the ring's
// lock only for copying one record in, reading only for copying a bounded batch out, so
// the line never waits for a viewer. While nobody watches the transports record nothing:
// one relaxed atomic load per exchange.
namespace vx {

enum class MBFraming : uint8_t { kRtu, kAscii, kTcp };

// How the record came about.
enum class MBTapOrigin : uint8_t {
  kExchange,    // our request and what came back
  kLateAnswer,  // bytes that came after their exchange had given up
  kListened,    // another master's traffic, heard without sending
};

struct MBTapRecord {
  uint64_t seq = 0;    // given by the ring, from 1
  int64_t timeUs = 0;  // wall clock at the start of the request, microseconds since the epoch
  std::string port;    // "COM1", or "127.0.0.1:502" on TCP
  MBFraming framing = MBFraming::kRtu;
  MBTapOrigin origin = MBTapOrigin::kExchange;
  std::vector<uint8_t> request;  // as on the wire: checksum, ASCII characters or MBAP header
  std::vector<uint8_t> answer;   // everything that came back, as on the wire
  int32_t result = 0;            // the exchange's communication result code
  int64_t silenceUs = -1;        // quiet line before the request; -1 unknown
  int64_t roundTripUs = -1;      // start of the request to the last byte of the answer; -1 none
  int64_t maxGapUs = -1;         // longest pause inside the answer (serial lines); -1 none
};

class MBFrameTap {
 public:
  static constexpr std::size_t kDefaultCapacity = 10000;

  explicit MBFrameTap(std::size_t capacity = kDefaultCapacity);
  MBFrameTap(const MBFrameTap&) = delete;
  MBFrameTap& operator=(const MBFrameTap&) = delete;

  // The tap the connections of this process write to.
  static MBFrameTap& Global();

  // Recording runs while at least one watcher is there.
  [[nodiscard]] bool Enabled() const { return watchers_.load(std::memory_order_relaxed) > 0; }
  void AddWatcher() { watchers_.fetch_add(1, std::memory_order_relaxed); }
  void RemoveWatcher() { watchers_.fetch_sub(1, std::memory_order_relaxed); }

  // Copies `record` in (its seq is assigned); the oldest record goes when the ring is full.
  void Record(const MBTapRecord& record);

  // Sequence number of the newest record; 0 when none was ever written.
  [[nodiscard]] uint64_t LastSeq() const;
  [[nodiscard]] std::size_t Capacity() const { return slots_.size(); }
  [[nodiscard]] std::size_t Size() const;
  // Appends to `out` the records newer than `after`, oldest first, at most `max` of them;
  // returns how many. Records that have already left the ring are skipped.
  std::size_t CopySince(uint64_t after, std::vector<MBTapRecord>& out,
                        std::size_t max = SIZE_MAX) const;
  void Clear();

 private:
  std::atomic<int> watchers_{0};
  mutable std::mutex mutex_;
  std::vector<MBTapRecord> slots_;
  uint64_t last_ = 0;  // seq of the newest record
  std::size_t size_ = 0;
};

// Holds a tap enabled for its lifetime.
class MBTapWatch {
 public:
  explicit MBTapWatch(MBFrameTap& tap) : tap_(&tap) { tap_->AddWatcher(); }
  ~MBTapWatch() { tap_->RemoveWatcher(); }
  MBTapWatch(const MBTapWatch&) = delete;
  MBTapWatch& operator=(const MBTapWatch&) = delete;

 private:
  MBFrameTap* tap_;
};

// What a transport gathers during one exchange while the tap is on. Owned by the
// transport and reused, so that recording allocates nothing once the ring has filled.
class MBTapCapture {
 public:
  MBTapCapture(MBFrameTap* tap, std::string port, MBFraming framing);
  [[nodiscard]] bool On() const { return tap_ != nullptr && tap_->Enabled(); }
  void SetPort(std::string port) { record_.port = std::move(port); }
  // The request goes out at `start`; the line was last busy at `lineBusy` (none: unknown).
  void Begin(std::span<const uint8_t> frame, MBClock::time_point start,
             MBClock::time_point lineBusy);
  // A chunk of the answer, read at `at`.
  void Chunk(std::span<const uint8_t> bytes, MBClock::time_point at);
  void End(int32_t result);
  // Bytes found on the line before a request: an answer that came too late.
  void Late(std::span<const uint8_t> bytes, MBClock::time_point at);
  // Serial lines measure the gaps inside an answer; TCP delivery says nothing of them.
  bool measureGaps = true;

 private:
  MBFrameTap* tap_;
  MBTapRecord record_;
  bool active_ = false;
  MBClock::time_point start_{};
  MBClock::time_point lastChunk_{};
  bool anyChunk_ = false;
};

// Wall-clock microseconds of a steady-clock instant (the two clocks read side by side).
[[nodiscard]] int64_t MBWallMicros(MBClock::time_point t);

// ---- decoding ----

enum class MBFailure : uint8_t {
  kNone,
  kException,   // the slave answered with an exception code
  kTimeout,     // nothing came back
  kCrc,         // checksum (CRC or LRC) wrong
  kWrongSlave,  // an answer from another address or to another function
  kTruncated,   // the answer stopped before its length
  kLateAnswer,  // an answer after its exchange had given up
  kInvalid,     // anything else wrong with the answer
  kPort,        // the port or socket failed
};

// Short English name of a failure ("CRC error"); empty for kNone.
[[nodiscard]] const char* MBFailureText(MBFailure failure);

struct MBDecoded {
  int slave = -1;                // -1: no frame to tell
  int function = -1;             // without the exception flag
  int address = -1;              // first register; -1 when the function names none
  int count = 0;                 // registers
  std::vector<uint16_t> values;  // read or written, when the exchange got that far
  int exception = -1;
  MBFailure failure = MBFailure::kNone;
  [[nodiscard]] bool IsError() const { return failure != MBFailure::kNone; }
};

// The ADU (address and PDU) inside a frame as on the wire; empty when it holds none.
[[nodiscard]] std::vector<uint8_t> MBFrameAdu(MBFraming framing, std::span<const uint8_t> frame);
[[nodiscard]] MBDecoded MBDecode(const MBTapRecord& record);

// "Read holding registers" and the like; "Function 0x2B" for others.
[[nodiscard]] std::string MBFunctionName(int function);
// Upper-case hex bytes separated by blanks.
[[nodiscard]] std::string MBHex(std::span<const uint8_t> bytes);

// "hh:mm:ss.uuuuuu" in local time.
[[nodiscard]] std::string MBTimeText(int64_t timeUs);
// "TX>RX", "TX", "RX late", "heard Q>A", "heard Q", "heard A".
[[nodiscard]] std::string MBDirText(const MBTapRecord& record);
// "OK", "exception 02", or the failure's name.
[[nodiscard]] std::string MBResultText(const MBDecoded& decoded);
// One record as a few lines of a plain-text trace (no line feed at the end): time, port
// and direction; the bytes each way; the decoding with `names` (may be empty); the timing.
[[nodiscard]] std::string MBTraceText(const MBTapRecord& record, const MBDecoded& decoded,
                                      const std::string& names);

// Register names come from whoever knows the slave's data model; the wire does not.
class MBRegisterNames {
 public:
  virtual ~MBRegisterNames() = default;
  // Empty when the address has no name.
  [[nodiscard]] virtual std::string RegisterName(uint8_t slave, uint16_t address) const = 0;
};

// The names of a decoded range, joined by ", "; addresses without a name are left out.
[[nodiscard]] std::string MBRangeNames(const MBDecoded& decoded, const MBRegisterNames& names);

}  // namespace vx
