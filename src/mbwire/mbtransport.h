#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "mbwire/mbchannel.h"
#include "mbwire/mbserial.h"
#include "mbwire/mbtap.h"

// Client transports: one request ADU (slave address and PDU) out, one response ADU in,
// over RTU, ASCII or Modbus TCP framing on a byte channel. Every failure comes back as
// its communication result code; a Modbus exception answer as 0x800482xx.
namespace vx {

struct MBTiming {
  // Longest wait for the first byte of a response.
  std::chrono::milliseconds timeOut{500};
  // Silence that ends a response of unknown length (never less than 3.5 characters).
  std::chrono::milliseconds silentInterval{20};
};

class MBTransport {
 public:
  virtual ~MBTransport() = default;
  // `response` is cleared, and on success holds the response ADU without checksum. A
  // request to address 0 on a serial line is a broadcast: sent, nothing awaited.
  [[nodiscard]] int32_t Transact(std::span<const uint8_t> request, std::vector<uint8_t>& response);
  // Exchanges are recorded in `tap` under the name `port` while the tap has watchers.
  void SetTap(MBFrameTap* tap, std::string port);

 protected:
  [[nodiscard]] virtual MBFraming Framing() const = 0;
  // One exchange of the framing; `capture` (null while nobody watches) records it.
  virtual int32_t Exchange(std::span<const uint8_t> request, std::vector<uint8_t>& response,
                           MBTapCapture* capture) = 0;
  // The capture to fill for this exchange; none while nobody watches.
  [[nodiscard]] MBTapCapture* Capturing() const {
    return capture_ && capture_->On() ? capture_.get() : nullptr;
  }
  // Readies the channel; while capturing, bytes already waiting before the request are
  // recorded as an answer that came too late before they are dropped.
  int32_t BeginExchange(MBChannel& channel, MBTapCapture* capture);

 private:
  std::unique_ptr<MBTapCapture> capture_;
  std::vector<uint8_t> stale_;
};

class MBRtuTransport final : public MBTransport {
 public:
  MBRtuTransport(std::unique_ptr<MBChannel> channel, const MBSerialSettings& line, MBTiming timing);

 private:
  MBFraming Framing() const override { return MBFraming::kRtu; }
  int32_t Exchange(std::span<const uint8_t> request, std::vector<uint8_t>& response,
                   MBTapCapture* capture) override;
  std::unique_ptr<MBChannel> channel_;
  std::chrono::nanoseconds charTime_;
  std::chrono::nanoseconds frameGap_;
  std::chrono::nanoseconds silence_;
  std::chrono::nanoseconds gapLimit_;
  std::chrono::nanoseconds timeOut_;
  MBClock::time_point quietUntil_{};  // earliest start of the next request
  std::vector<uint8_t> rx_;
};

class MBAsciiTransport final : public MBTransport {
 public:
  MBAsciiTransport(std::unique_ptr<MBChannel> channel, const MBSerialSettings& line,
                   MBTiming timing);

 private:
  MBFraming Framing() const override { return MBFraming::kAscii; }
  int32_t Exchange(std::span<const uint8_t> request, std::vector<uint8_t>& response,
                   MBTapCapture* capture) override;
  std::unique_ptr<MBChannel> channel_;
  std::chrono::nanoseconds charTime_;
  std::chrono::nanoseconds gapLimit_;
  MBClock::time_point lineBusy_{};
  std::chrono::nanoseconds timeOut_;
  std::vector<uint8_t> rx_;
};

class MBTcpTransport final : public MBTransport {
 public:
  MBTcpTransport(std::unique_ptr<MBChannel> channel, MBTiming timing);

 private:
  MBFraming Framing() const override { return MBFraming::kTcp; }
  int32_t Exchange(std::span<const uint8_t> request, std::vector<uint8_t>& response,
                   MBTapCapture* capture) override;
  std::unique_ptr<MBChannel> channel_;
  std::chrono::nanoseconds timeOut_;
  uint16_t transactionId_ = 0;
  MBClock::time_point lineBusy_{};
  std::vector<uint8_t> rx_;
};

}  // namespace vx
