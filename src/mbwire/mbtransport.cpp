#include "mbwire/mbtransport.h"

#include <sys/prctl.h>
#include <time.h>

#include <algorithm>

#include "mbwire/mbcodes.h"
#include "mbwire/mbframe.h"
#include "mbwire/mbresult.h"

namespace vx {
namespace {

using std::chrono::nanoseconds;

int32_t CheckRequest(std::span<const uint8_t> request) {
  if (request.size() < 2) return mbresult::kUnexpectedDataSize;
  if (request.size() > kMaxAdu) return mbresult::kBufferOverflow;
  return mbresult::kOk;
}

// A complete, checked response ADU: an exception answer becomes its result code.
int32_t Accept(uint8_t function, std::span<const uint8_t> adu, std::vector<uint8_t>& response) {
  response.assign(adu.begin(), adu.end());
  if (!(function & MBFunction::kExceptionFlag) && (adu[1] & MBFunction::kExceptionFlag))
    return mbresult::FromException(adu[2]);
  return mbresult::kOk;
}

// Waits until an absolute time. The inter-frame gap is a couple of milliseconds, so the
// default 50 us timer slack of the thread would be a sizeable error; it is cut once.
void WaitUntil(MBClock::time_point t) {
  thread_local bool slackCut = false;
  if (!slackCut) {
    (void)prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    slackCut = true;
  }
  const auto ns = std::chrono::duration_cast<nanoseconds>(t.time_since_epoch()).count();
  const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  // steady_clock is CLOCK_MONOTONIC on Linux.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

}  // namespace

void MBTransport::SetTap(MBFrameTap* tap, std::string port) {
  capture_ =
      tap != nullptr ? std::make_unique<MBTapCapture>(tap, std::move(port), Framing()) : nullptr;
}

int32_t MBTransport::Transact(std::span<const uint8_t> request, std::vector<uint8_t>& response) {
  MBTapCapture* capture = Capturing();
  const int32_t rc = Exchange(request, response, capture);
  if (capture != nullptr) capture->End(rc);
  return rc;
}

int32_t MBTransport::BeginExchange(MBChannel& channel, MBTapCapture* capture) {
  if (capture == nullptr) return channel.BeginExchange();
  stale_.clear();
  const int32_t rc = channel.BeginExchange(stale_);
  if (!stale_.empty()) capture->Late(stale_, MBClock::now());
  return rc;
}

// ---- RTU ----

MBRtuTransport::MBRtuTransport(std::unique_ptr<MBChannel> channel, const MBSerialSettings& line,
                               MBTiming timing)
    : channel_(std::move(channel)),
      charTime_(CharTime(line)),
      frameGap_(RtuFrameGap(line)),
      silence_(std::max<nanoseconds>(timing.silentInterval, frameGap_)),
      gapLimit_(std::max<nanoseconds>(silence_, timing.timeOut)),
      timeOut_(timing.timeOut) {
  rx_.reserve(512);
}

int32_t MBRtuTransport::Exchange(std::span<const uint8_t> request, std::vector<uint8_t>& response,
                                 MBTapCapture* capture) {
  response.clear();
  if (const int32_t rc = CheckRequest(request); rc != mbresult::kOk) return rc;
  if (const int32_t rc = BeginExchange(*channel_, capture); rc != mbresult::kOk) return rc;
  if (MBClock::now() < quietUntil_) WaitUntil(quietUntil_);

  const std::vector<uint8_t> frame = EncodeRtu(request);
  if (capture != nullptr)
    capture->Begin(frame, MBClock::now(),
                   quietUntil_ == MBClock::time_point{} ? quietUntil_ : quietUntil_ - frameGap_);
  if (const int32_t rc = channel_->Write(frame); rc != mbresult::kOk) return rc;
  // The bytes are still on the wire after write() returns; time-outs count from their end.
  const auto sent = MBClock::now() + charTime_ * static_cast<int64_t>(frame.size());
  quietUntil_ = sent + frameGap_;
  if (request[0] == 0) return mbresult::kOk;

  MBRtuReceiver rx = MBRtuReceiver::ForResponse(request[0], request[1]);
  auto deadline = sent + timeOut_;
  // A slave that trickles bytes must not hold the exchange for ever: the whole answer
  // gets the time-out, a gap and twice the wire time of the longest frame.
  const auto last = deadline + gapLimit_ + charTime_ * static_cast<int64_t>(2 * kMaxRtuFrame);
  for (;;) {
    rx_.clear();
    const int32_t rc = channel_->Read(rx_, deadline);
    if (rc == mbresult::kTimeout) {
      const int32_t verdict = rx.Finish();
      return verdict == mbresult::kOk ? Accept(request[1], rx.Frame(), response) : verdict;
    }
    if (rc != mbresult::kOk) return rc;
    const auto now = MBClock::now();
    quietUntil_ = now + frameGap_;
    if (capture != nullptr) capture->Chunk(rx_, now);
    switch (rx.Feed(rx_)) {
      case MBRtuReceiver::Status::kComplete:
        return Accept(request[1], rx.Frame(), response);
      case MBRtuReceiver::Status::kOverflow:
        return mbresult::kBufferOverflow;
      case MBRtuReceiver::Status::kNeedMore:
        deadline = std::min(now + gapLimit_, last);
        break;
      case MBRtuReceiver::Status::kNeedSilence:
        deadline = std::min(now + silence_, last);
        break;
    }
  }
}

// ---- ASCII ----

MBAsciiTransport::MBAsciiTransport(std::unique_ptr<MBChannel> channel, const MBSerialSettings& line,
                                   MBTiming timing)
    : channel_(std::move(channel)),
      charTime_(CharTime(line)),
      gapLimit_(std::max<nanoseconds>(std::max<nanoseconds>(timing.silentInterval, charTime_ * 2),
                                      timing.timeOut)),
      timeOut_(timing.timeOut) {
  rx_.reserve(1024);
}

int32_t MBAsciiTransport::Exchange(std::span<const uint8_t> request, std::vector<uint8_t>& response,
                                   MBTapCapture* capture) {
  response.clear();
  if (const int32_t rc = CheckRequest(request); rc != mbresult::kOk) return rc;
  if (const int32_t rc = BeginExchange(*channel_, capture); rc != mbresult::kOk) return rc;
  const std::vector<uint8_t> frame = EncodeAscii(request);
  if (capture != nullptr) capture->Begin(frame, MBClock::now(), lineBusy_);
  if (const int32_t rc = channel_->Write(frame); rc != mbresult::kOk) return rc;
  const auto sent = MBClock::now() + charTime_ * static_cast<int64_t>(frame.size());
  lineBusy_ = sent;
  if (request[0] == 0) return mbresult::kOk;

  MBAsciiReceiver rx = MBAsciiReceiver::ForResponse(request[0], request[1]);
  auto deadline = sent + timeOut_;
  const auto last = deadline + gapLimit_ + charTime_ * static_cast<int64_t>(4 * (kMaxAdu + 4));
  for (;;) {
    rx_.clear();
    const int32_t rc = channel_->Read(rx_, deadline);
    if (rc == mbresult::kTimeout) return rx.Finish();
    if (rc != mbresult::kOk) return rc;
    lineBusy_ = MBClock::now();
    if (capture != nullptr) capture->Chunk(rx_, lineBusy_);
    switch (rx.Feed(rx_)) {
      case MBAsciiReceiver::Status::kComplete:
        if (rx.Result() != mbresult::kOk) return rx.Result();
        return Accept(request[1], rx.Frame(), response);
      case MBAsciiReceiver::Status::kOverflow:
        return mbresult::kBufferOverflow;
      case MBAsciiReceiver::Status::kNeedMore:
        deadline = std::min(MBClock::now() + gapLimit_, last);
        break;
    }
  }
}

// ---- TCP ----

MBTcpTransport::MBTcpTransport(std::unique_ptr<MBChannel> channel, MBTiming timing)
    : channel_(std::move(channel)), timeOut_(timing.timeOut) {
  rx_.reserve(1024);
}

int32_t MBTcpTransport::Exchange(std::span<const uint8_t> request, std::vector<uint8_t>& response,
                                 MBTapCapture* capture) {
  response.clear();
  if (const int32_t rc = CheckRequest(request); rc != mbresult::kOk) return rc;
  if (const int32_t rc = BeginExchange(*channel_, capture); rc != mbresult::kOk) return rc;
  const uint16_t tid = ++transactionId_;
  const std::vector<uint8_t> frame = EncodeMbap(tid, request);
  if (capture != nullptr) {
    capture->measureGaps = false;
    capture->Begin(frame, MBClock::now(), lineBusy_);
  }
  if (const int32_t rc = channel_->Write(frame); rc != mbresult::kOk) return rc;
  lineBusy_ = MBClock::now();

  const auto deadline = MBClock::now() + timeOut_;
  bool foreignSeen = false;
  rx_.clear();
  for (;;) {
    MbapHeader h;
    while (DecodeMbapHeader(rx_, h)) {
      // A broken header leaves no way to find the next frame: the rest is dropped
      // before the next request.
      if (h.protocolId != 0 || h.length < 2 || h.length > kMaxAdu)
        return mbresult::kInvalidResponse;
      const std::size_t total = 6 + std::size_t{h.length};
      if (rx_.size() < total) break;
      const std::span<const uint8_t> adu = std::span<const uint8_t>(rx_).subspan(6, h.length);
      if (h.transactionId != tid) {
        // A late answer to an earlier request is passed over as if it never came; an
        // identifier we never sent makes the exchange invalid unless ours follows.
        if (static_cast<uint16_t>(tid - h.transactionId) >= 0x8000u)
          foreignSeen = true;
        else if (capture != nullptr)
          capture->Late(std::span<const uint8_t>(rx_).first(total), MBClock::now());
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(total));
        continue;
      }
      if (adu[0] != request[0] ||
          (adu[1] != request[1] && adu[1] != (request[1] | MBFunction::kExceptionFlag)))
        return mbresult::kInvalidResponse;
      const MBAduLength len = AduLength(MBDirection::kResponse, adu);
      if (len.kind != MBAduLength::Kind::kUnknown &&
          (len.kind == MBAduLength::Kind::kNeedMore || len.length != adu.size()))
        return mbresult::kInvalidResponse;
      return Accept(request[1], adu, response);
    }
    const std::size_t had = rx_.size();
    const int32_t rc = channel_->Read(rx_, deadline);
    if (rc == mbresult::kTimeout)
      return rx_.empty() && !foreignSeen ? mbresult::kTimeout : mbresult::kInvalidResponse;
    if (rc != mbresult::kOk) return rc;
    lineBusy_ = MBClock::now();
    if (capture != nullptr) capture->Chunk(std::span<const uint8_t>(rx_).subspan(had), lineBusy_);
  }
}

}  // namespace vx
