#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

// A byte channel under the Modbus framing: a serial port, a TCP socket, or an in-memory
// pair. Results are communication result codes (mbwire/mbresult.h).
namespace vx {

using MBClock = std::chrono::steady_clock;

class MBChannel {
 public:
  virtual ~MBChannel() = default;
  // Readies the channel for a new exchange: stale input is dropped; a channel that lost
  // its peer tries to get it back. Returns kOk or the code that stops the exchange.
  [[nodiscard]] virtual int32_t BeginExchange() = 0;
  // The same, handing the stale input to `dropped` instead of losing it (an answer that
  // came after its exchange gave up, for the frame tap).
  [[nodiscard]] virtual int32_t BeginExchange(std::vector<uint8_t>& dropped);
  [[nodiscard]] virtual int32_t Write(std::span<const uint8_t> bytes) = 0;
  // Waits until bytes are there or the deadline passes, then appends what is there.
  // kOk when bytes came, kTimeout when none did, else a read error.
  [[nodiscard]] virtual int32_t Read(std::vector<uint8_t>& into, MBClock::time_point deadline) = 0;
};

// Two connected in-memory endpoints. A write lands in the peer's input at once, or
// after a delay with WriteAfter (to play a line that delivers in bursts). An endpoint
// may answer synchronously through OnData, so a scripted peer needs no thread.
class MBMemoryChannel final : public MBChannel {
 public:
  using Handler = std::function<void(MBMemoryChannel& self, std::span<const uint8_t> received)>;

  static std::pair<std::unique_ptr<MBMemoryChannel>, std::unique_ptr<MBMemoryChannel>> Pair();

  ~MBMemoryChannel() override;
  MBMemoryChannel(const MBMemoryChannel&) = delete;
  MBMemoryChannel& operator=(const MBMemoryChannel&) = delete;

  // Called with the bytes the peer writes, instead of queueing them.
  void OnData(Handler handler) { handler_ = std::move(handler); }
  // Queues bytes for the peer that become readable after `delay` (measured from now).
  void WriteAfter(std::chrono::microseconds delay, std::span<const uint8_t> bytes);

  using MBChannel::BeginExchange;
  int32_t BeginExchange() override;
  int32_t Write(std::span<const uint8_t> bytes) override;
  int32_t Read(std::vector<uint8_t>& into, MBClock::time_point deadline) override;

 private:
  struct Chunk {
    MBClock::time_point due;
    std::vector<uint8_t> bytes;
  };
  struct Queue {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Chunk> chunks;
  };
  MBMemoryChannel(std::shared_ptr<Queue> in, std::shared_ptr<Queue> out)
      : in_(std::move(in)), out_(std::move(out)) {}

  std::shared_ptr<Queue> in_;
  std::shared_ptr<Queue> out_;
  MBMemoryChannel* peer_ = nullptr;
  Handler handler_;
};

}  // namespace vx
