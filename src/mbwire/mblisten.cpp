#include "mbwire/mblisten.h"

#include <algorithm>

#include "mbwire/mbcodes.h"
#include "mbwire/mbframe.h"
#include "mbwire/mbresult.h"

namespace vx {
namespace {

int64_t Micros(MBClock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

}  // namespace

MBListenDecoder::MBListenDecoder(std::string port, Timing timing, Sink sink)
    : port_(std::move(port)), timing_(timing), sink_(std::move(sink)) {}

void MBListenDecoder::Feed(std::span<const uint8_t> bytes, MBClock::time_point at) {
  if (bytes.empty()) return;
  // A pause longer than any tolerated gap ends what was open before these bytes came.
  if (!at_.empty() && at - at_.back() > timing_.gapLimit)
    Idle(at_.back() + timing_.gapLimit + timing_.frameGap);
  Idle(at);
  buf_.insert(buf_.end(), bytes.begin(), bytes.end());
  at_.insert(at_.end(), bytes.size(), at);
  Scan();
}

MBListenDecoder::Verdict MBListenDecoder::Classify(std::size_t& length,
                                                   MBDirection& direction) const {
  // The expected reading first: an answer after a request, else a request.
  const MBDirection order[2] = {ExpectingAnswer() ? MBDirection::kResponse : MBDirection::kRequest,
                                ExpectingAnswer() ? MBDirection::kRequest : MBDirection::kResponse};
  bool needMore = false;
  for (MBDirection d : order) {
    const MBAduLength len = AduLength(d, buf_);
    if (len.kind == MBAduLength::Kind::kNeedMore) {
      needMore = true;
      continue;
    }
    if (len.kind == MBAduLength::Kind::kUnknown || len.length > kMaxAdu) continue;
    if (buf_.size() < len.length + 2) {
      needMore = true;
      continue;
    }
    if (RtuCrcOk(std::span<const uint8_t>(buf_).first(len.length + 2))) {
      length = len.length + 2;
      direction = d;
      return Verdict::kComplete;
    }
  }
  direction = order[0];
  return needMore ? Verdict::kNeedMore : Verdict::kBad;
}

void MBListenDecoder::Scan() {
  while (!buf_.empty()) {
    std::size_t length = 0;
    MBDirection direction = MBDirection::kRequest;
    const Verdict v = Classify(length, direction);
    if (v == Verdict::kComplete) {
      Cut(length, true, direction);
      continue;
    }
    // Bytes that make no frame up to a pause longer than 3.5 characters belong to a
    // broken frame: the frame after the pause is looked at on its own.
    if (v == Verdict::kBad) {
      std::size_t cut = 0;
      for (std::size_t i = 1; i < at_.size(); ++i)
        if (at_[i] - at_[i - 1] >= timing_.frameGap) cut = i;
      if (cut > 0) {
        Cut(cut, false, direction);
        continue;
      }
    }
    return;
  }
}

void MBListenDecoder::Idle(MBClock::time_point now) {
  if (!buf_.empty() && now - at_.back() >= timing_.frameGap) {
    std::size_t length = 0;
    MBDirection direction = MBDirection::kRequest;
    const Verdict v = Classify(length, direction);
    // A frame of known length waits out a longer pause; anything else ends at silence.
    if (v == Verdict::kBad || now - at_.back() >= timing_.gapLimit) {
      // A frame of a function without length rules is whole when its CRC fits.
      const bool good = buf_.size() >= 4 && RtuCrcOk(buf_) &&
                        AduLength(direction, buf_).kind == MBAduLength::Kind::kUnknown;
      Cut(buf_.size(), good, direction);
    }
  }
  if (pending_ && now - pending_->last >= timing_.answerTimeout) EmitPending(mbresult::kTimeout);
}

void MBListenDecoder::Flush() {
  if (!buf_.empty()) {
    std::size_t length = 0;
    MBDirection direction = MBDirection::kRequest;
    (void)Classify(length, direction);
    Cut(buf_.size(), false, direction);
  }
  if (pending_) EmitPending(mbresult::kTimeout);
}

void MBListenDecoder::Cut(std::size_t n, bool good, MBDirection direction) {
  Frame f;
  f.bytes.assign(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n));
  f.first = at_.front();
  f.last = at_[n - 1];
  for (std::size_t i = 1; i < n; ++i)
    f.maxGapUs = std::max(f.maxGapUs, Micros(at_[i] - at_[i - 1]));
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n));
  at_.erase(at_.begin(), at_.begin() + static_cast<std::ptrdiff_t>(n));
  OnFrame(std::move(f), good, direction);
}

void MBListenDecoder::OnFrame(Frame f, bool good, MBDirection direction) {
  const auto silence = lastFrameEnd_ == MBClock::time_point{}
                           ? -1
                           : std::max<int64_t>(0, Micros(f.first - lastFrameEnd_));
  lastFrameEnd_ = f.last;
  if (good && direction == MBDirection::kRequest) {
    if (pending_) EmitPending(mbresult::kTimeout);
    pending_ = std::move(f);
    // Silence before the request travels with it.
    pending_->maxGapUs = silence;
    if (pending_->bytes[0] == 0) EmitPending(mbresult::kOk);  // a broadcast has no answer
    return;
  }
  MBTapRecord r;
  r.timeUs = MBWallMicros(pending_ ? pending_->first : f.first);
  r.port = port_;
  r.origin = MBTapOrigin::kListened;
  r.answer = std::move(f.bytes);
  r.maxGapUs = f.maxGapUs;
  if (pending_) {
    const std::vector<uint8_t>& q = pending_->bytes;
    r.request = q;
    r.silenceUs = pending_->maxGapUs;
    r.roundTripUs = Micros(f.last - pending_->first);
    const std::vector<uint8_t>& a = r.answer;
    if (!good) {
      // Cut short (its length not reached) or spoilt on the way.
      const MBAduLength len = AduLength(MBDirection::kResponse, a);
      const bool shortFrame = len.kind == MBAduLength::Kind::kNeedMore ||
                              (len.kind == MBAduLength::Kind::kKnown && a.size() < len.length + 2);
      r.result = shortFrame ? mbresult::kInvalidResponse : mbresult::kInvalidCrc;
    } else if (a[0] != q[0] || (a[1] & 0x7F) != q[1]) {
      r.result = mbresult::kInvalidResponse;
    } else if (a[1] & MBFunction::kExceptionFlag) {
      r.result = mbresult::FromException(a.size() > 2 ? a[2] : 0);
    } else {
      r.result = mbresult::kOk;
    }
    pending_.reset();
    timedOut_.reset();
  } else {
    r.silenceUs = silence;
    r.result = good ? mbresult::kOk : mbresult::kInvalidCrc;
    // An answer to the request that was given up on is a late one.
    if (good && timedOut_ && r.answer[0] == timedOut_->first &&
        (r.answer[1] & 0x7F) == timedOut_->second)
      r.origin = MBTapOrigin::kLateAnswer;
    timedOut_.reset();
  }
  Emit(r);
}

void MBListenDecoder::EmitPending(int32_t result) {
  MBTapRecord r;
  r.timeUs = MBWallMicros(pending_->first);
  r.port = port_;
  r.origin = MBTapOrigin::kListened;
  r.request = std::move(pending_->bytes);
  r.silenceUs = pending_->maxGapUs;
  r.result = result;
  if (result == mbresult::kTimeout) timedOut_ = std::make_pair(r.request[0], r.request[1]);
  pending_.reset();
  Emit(r);
}

void MBListenDecoder::Emit(MBTapRecord& r) {
  r.framing = MBFraming::kRtu;
  if (sink_) sink_(r);
}

// ---- MBListener ----

bool MBListener::Open(const std::string& path, const MBSerialSettings& settings, std::string port,
                      std::string* error) {
  MBSerialPort p;
  if (!p.Open(path, settings, error)) return false;
  channel_ = std::make_unique<MBSerialChannel>(std::move(p));
  settings_ = settings;
  port_ = std::move(port);
  return true;
}

int32_t MBListener::Run(const std::function<bool()>& stop, const MBListenDecoder::Sink& sink) {
  if (!channel_) return mbresult::kPortNotInitialized;
  MBListenDecoder::Timing timing;
  timing.frameGap = RtuFrameGap(settings_);
  timing.gapLimit = std::max<std::chrono::nanoseconds>(timing.gapLimit, timing.frameGap * 4);
  MBListenDecoder decoder(port_, timing, sink);
  std::vector<uint8_t> chunk;
  chunk.reserve(512);
  // Short reads, so that silence is noticed within a frame gap and a stop within 50 ms.
  const auto step =
      std::max<std::chrono::nanoseconds>(timing.frameGap, std::chrono::milliseconds(1));
  while (!stop()) {
    chunk.clear();
    const auto deadline = MBClock::now() + std::min<std::chrono::nanoseconds>(
                                               step * 2, std::chrono::milliseconds(50));
    const int32_t rc = channel_->Read(chunk, deadline);
    const auto now = MBClock::now();
    if (rc == mbresult::kOk) {
      decoder.Feed(chunk, now);
    } else if (rc == mbresult::kTimeout) {
      decoder.Idle(now);
    } else {
      decoder.Flush();
      return rc;
    }
  }
  decoder.Flush();
  return mbresult::kOk;
}

}  // namespace vx
