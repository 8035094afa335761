#include "mbwire/mbtap.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "mbwire/mbcodes.h"
#include "mbwire/mbframe.h"
#include "mbwire/mbresult.h"

namespace vx {
namespace {

// A reader copies at most this many records per hold of the lock, so that a full copy of
// the ring never keeps the connection thread waiting for more than a few microseconds.
constexpr std::size_t kCopyBatch = 256;

int64_t Micros(MBClock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

uint16_t Word(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Why an answer that came back was refused, judged from its bytes.
MBFailure Refused(std::span<const uint8_t> request, std::span<const uint8_t> answer) {
  if (answer.size() < 2) return MBFailure::kTruncated;
  if (request.size() >= 2 && (answer[0] != request[0] || (answer[1] & 0x7F) != (request[1] & 0x7F)))
    return MBFailure::kWrongSlave;
  const MBAduLength len = AduLength(MBDirection::kResponse, answer);
  if (len.kind == MBAduLength::Kind::kNeedMore ||
      (len.kind == MBAduLength::Kind::kKnown && answer.size() < len.length))
    return MBFailure::kTruncated;
  return MBFailure::kInvalid;
}

}  // namespace

// ---- ring ----

MBFrameTap::MBFrameTap(std::size_t capacity) : slots_(std::max<std::size_t>(capacity, 1)) {}

MBFrameTap& MBFrameTap::Global() {
  static MBFrameTap tap;
  return tap;
}

void MBFrameTap::Record(const MBTapRecord& r) {
  std::lock_guard lock(mutex_);
  MBTapRecord& s = slots_[last_ % slots_.size()];
  ++last_;
  // Member by member, so that the slot's buffers are reused once the ring has wrapped.
  s.seq = last_;
  s.timeUs = r.timeUs;
  s.port.assign(r.port);
  s.framing = r.framing;
  s.origin = r.origin;
  s.request.assign(r.request.begin(), r.request.end());
  s.answer.assign(r.answer.begin(), r.answer.end());
  s.result = r.result;
  s.silenceUs = r.silenceUs;
  s.roundTripUs = r.roundTripUs;
  s.maxGapUs = r.maxGapUs;
  size_ = std::min(size_ + 1, slots_.size());
}

uint64_t MBFrameTap::LastSeq() const {
  std::lock_guard lock(mutex_);
  return last_;
}

std::size_t MBFrameTap::Size() const {
  std::lock_guard lock(mutex_);
  return size_;
}

std::size_t MBFrameTap::CopySince(uint64_t after, std::vector<MBTapRecord>& out,
                                  std::size_t max) const {
  std::size_t copied = 0;
  uint64_t next = after + 1;
  while (copied < max) {
    std::lock_guard lock(mutex_);
    const uint64_t oldest = last_ - size_ + 1;
    next = std::max(next, oldest);
    if (next > last_) break;
    const std::size_t batch =
        static_cast<std::size_t>(std::min<uint64_t>({last_ - next + 1, kCopyBatch, max - copied}));
    for (std::size_t i = 0; i < batch; ++i, ++next)
      out.push_back(slots_[(next - 1) % slots_.size()]);
    copied += batch;
  }
  return copied;
}

void MBFrameTap::Clear() {
  std::lock_guard lock(mutex_);
  size_ = 0;
}

// ---- capture ----

int64_t MBWallMicros(MBClock::time_point t) {
  const auto wallNow = std::chrono::system_clock::now();
  const auto steadyNow = MBClock::now();
  return std::chrono::duration_cast<std::chrono::microseconds>(wallNow.time_since_epoch()).count() -
         Micros(steadyNow - t);
}

MBTapCapture::MBTapCapture(MBFrameTap* tap, std::string port, MBFraming framing) : tap_(tap) {
  record_.port = std::move(port);
  record_.framing = framing;
  record_.request.reserve(kMaxRtuFrame);
  record_.answer.reserve(2 * kMaxRtuFrame);
}

void MBTapCapture::Begin(std::span<const uint8_t> frame, MBClock::time_point start,
                         MBClock::time_point lineBusy) {
  active_ = true;
  start_ = start;
  anyChunk_ = false;
  record_.origin = MBTapOrigin::kExchange;
  record_.timeUs = MBWallMicros(start);
  record_.request.assign(frame.begin(), frame.end());
  record_.answer.clear();
  record_.silenceUs =
      lineBusy == MBClock::time_point{} ? -1 : std::max<int64_t>(0, Micros(start - lineBusy));
  record_.roundTripUs = -1;
  record_.maxGapUs = -1;
}

void MBTapCapture::Chunk(std::span<const uint8_t> bytes, MBClock::time_point at) {
  if (!active_ || bytes.empty()) return;
  record_.answer.insert(record_.answer.end(), bytes.begin(), bytes.end());
  if (anyChunk_ && measureGaps)
    record_.maxGapUs = std::max(record_.maxGapUs, std::max<int64_t>(0, Micros(at - lastChunk_)));
  if (!anyChunk_ && measureGaps) record_.maxGapUs = 0;
  anyChunk_ = true;
  lastChunk_ = at;
  record_.roundTripUs = std::max<int64_t>(0, Micros(at - start_));
}

void MBTapCapture::End(int32_t result) {
  if (!active_) return;
  active_ = false;
  record_.result = result;
  tap_->Record(record_);
}

void MBTapCapture::Late(std::span<const uint8_t> bytes, MBClock::time_point at) {
  if (bytes.empty()) return;
  // Passed over inside an exchange: it is not part of that exchange's answer.
  if (active_ && record_.answer.size() >= bytes.size() &&
      std::equal(bytes.begin(), bytes.end(), record_.answer.begin()))
    record_.answer.erase(record_.answer.begin(),
                         record_.answer.begin() + static_cast<std::ptrdiff_t>(bytes.size()));
  MBTapRecord r;
  r.timeUs = MBWallMicros(at);
  r.port = record_.port;
  r.framing = record_.framing;
  r.origin = MBTapOrigin::kLateAnswer;
  r.answer.assign(bytes.begin(), bytes.end());
  r.result = mbresult::kInvalidResponse;
  tap_->Record(r);
}

// ---- decoding ----

const char* MBFailureText(MBFailure f) {
  switch (f) {
    case MBFailure::kNone:
      return "";
    case MBFailure::kException:
      return "exception";
    case MBFailure::kTimeout:
      return "time-out";
    case MBFailure::kCrc:
      return "CRC error";
    case MBFailure::kWrongSlave:
      return "wrong slave";
    case MBFailure::kTruncated:
      return "truncated";
    case MBFailure::kLateAnswer:
      return "late answer";
    case MBFailure::kInvalid:
      return "invalid answer";
    case MBFailure::kPort:
      return "port error";
  }
  return "";
}

std::vector<uint8_t> MBFrameAdu(MBFraming framing, std::span<const uint8_t> f) {
  switch (framing) {
    case MBFraming::kRtu:
      if (f.size() < 4) return {};
      return {f.begin(), f.end() - 2};
    case MBFraming::kTcp:
      if (f.size() < kMbapHeaderSize + 1) return {};
      return {f.begin() + 6, f.end()};
    case MBFraming::kAscii: {
      auto colon = std::find(f.begin(), f.end(), uint8_t{':'});
      if (colon == f.end()) return {};
      std::vector<uint8_t> adu;
      for (auto p = colon + 1; p + 1 < f.end(); p += 2) {
        const int hi = HexValue(*p), lo = HexValue(*(p + 1));
        if (hi < 0 || lo < 0) break;
        adu.push_back(static_cast<uint8_t>(hi << 4 | lo));
      }
      if (adu.size() < 3) return {};
      adu.pop_back();  // the LRC
      return adu;
    }
  }
  return {};
}

MBDecoded MBDecode(const MBTapRecord& r) {
  MBDecoded d;
  const std::vector<uint8_t> q = MBFrameAdu(r.framing, r.request);
  const std::vector<uint8_t> a = MBFrameAdu(r.framing, r.answer);
  const std::span<const uint8_t> rawAnswer = r.answer;
  // Slave and function come from the request; a lone answer tells them itself.
  const std::vector<uint8_t>& head = q.size() >= 2 ? q : a;
  if (head.size() >= 2) {
    d.slave = head[0];
    d.function = head[1] & 0x7F;
  } else if (r.framing == MBFraming::kRtu && rawAnswer.size() >= 2) {
    d.slave = rawAnswer[0];
    d.function = rawAnswer[1] & 0x7F;
  }
  const bool answered = r.result == mbresult::kOk || mbresult::IsException(r.result);
  switch (d.function) {
    case MBFunction::kReadHoldingRegisters:
    case MBFunction::kReadInputRegisters:
      if (q.size() >= 6) {
        d.address = Word(q, 2);
        d.count = Word(q, 4);
      }
      if (r.result == mbresult::kOk && a.size() >= 3 && a[1] == d.function) {
        const std::size_t n = std::min<std::size_t>(a[2], a.size() - 3) / 2;
        for (std::size_t i = 0; i < n; ++i) d.values.push_back(Word(a, 3 + 2 * i));
        if (d.address < 0) d.count = static_cast<int>(n);
      }
      break;
    case MBFunction::kWriteSingleRegister:
      if (q.size() >= 6) {
        d.address = Word(q, 2);
        d.count = 1;
        d.values.push_back(Word(q, 4));
      } else if (a.size() >= 6 && answered) {
        d.address = Word(a, 2);
        d.count = 1;
        d.values.push_back(Word(a, 4));
      }
      break;
    case MBFunction::kWriteMultipleRegisters:
      if (q.size() >= 7) {
        d.address = Word(q, 2);
        d.count = Word(q, 4);
        const std::size_t n = std::min<std::size_t>(q[6], q.size() - 7) / 2;
        for (std::size_t i = 0; i < n; ++i) d.values.push_back(Word(q, 7 + 2 * i));
      } else if (a.size() >= 6) {
        d.address = Word(a, 2);
        d.count = Word(a, 4);
      }
      break;
    case MBFunction::kDeviceVersion:
      if (r.result == mbresult::kOk && a.size() >= 12 && a[1] == d.function)
        for (std::size_t i = 0; i < 5; ++i) d.values.push_back(Word(a, 2 + 2 * i));
      break;
    default:
      break;
  }

  using namespace mbresult;
  if (r.origin == MBTapOrigin::kLateAnswer) {
    d.failure = MBFailure::kLateAnswer;
  } else if (r.result == kOk) {
    d.failure = MBFailure::kNone;
  } else if (IsException(r.result)) {
    d.failure = MBFailure::kException;
    d.exception = ExceptionCode(r.result);
  } else if (r.result == kTimeout) {
    // A time-out with bytes is an answer that stopped short.
    d.failure = r.answer.empty() ? MBFailure::kTimeout : MBFailure::kTruncated;
  } else if (r.result == kInvalidCrc) {
    d.failure = MBFailure::kCrc;
  } else if (r.result == kInvalidResponse) {
    if (r.framing == MBFraming::kRtu) {
      // The checksum may be at any offset of a refused answer; judge from the bytes.
      const std::vector<uint8_t> qa = q;
      std::span<const uint8_t> ans = rawAnswer;
      if (ans.size() >= 4 && RtuCrcOk(ans)) ans = ans.first(ans.size() - 2);
      d.failure = Refused(qa, ans);
    } else if (r.framing == MBFraming::kTcp && r.answer.size() >= kMbapHeaderSize) {
      MbapHeader h;
      (void)DecodeMbapHeader(r.answer, h);
      // TCP has no checksum: a spoilt header is an invalid answer.
      d.failure = h.protocolId != 0 ? MBFailure::kInvalid : Refused(q, a);
    } else {
      d.failure = Refused(q, a);
    }
  } else if (r.result == kPortWriteError || r.result == kPortReadError ||
             r.result == kPortNotInitialized || r.result == kSocketError ||
             r.result == kSocketWriteError || r.result == kSocketReadError ||
             r.result == kSocketNotConnected) {
    d.failure = MBFailure::kPort;
  } else {
    d.failure = MBFailure::kInvalid;
  }
  return d;
}

std::string MBFunctionName(int function) {
  switch (function) {
    case MBFunction::kReadCoils:
      return "Read coils";
    case MBFunction::kReadDiscreteInputs:
      return "Read discrete inputs";
    case MBFunction::kReadHoldingRegisters:
      return "Read holding registers";
    case MBFunction::kReadInputRegisters:
      return "Read input registers";
    case MBFunction::kWriteSingleCoil:
      return "Write single coil";
    case MBFunction::kWriteSingleRegister:
      return "Write single register";
    case MBFunction::kWriteMultipleCoils:
      return "Write multiple coils";
    case MBFunction::kWriteMultipleRegisters:
      return "Write multiple registers";
    case MBFunction::kDeviceVersion:
      return "Read device version";
    default:
      break;
  }
  if (function < 0) return std::string();
  char buf[24];
  std::snprintf(buf, sizeof buf, "Function 0x%02X", function);
  return buf;
}

std::string MBHex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(bytes.size() * 3);
  for (uint8_t b : bytes) {
    if (!s.empty()) s.push_back(' ');
    s.push_back(kDigits[b >> 4]);
    s.push_back(kDigits[b & 0xF]);
  }
  return s;
}

std::string MBTimeText(int64_t us) {
  const time_t secs = static_cast<time_t>(us / 1000000);
  struct tm local {};
  localtime_r(&secs, &local);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%06lld", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<long long>(us % 1000000));
  return buf;
}

std::string MBDirText(const MBTapRecord& r) {
  switch (r.origin) {
    case MBTapOrigin::kLateAnswer:
      return "RX late";
    case MBTapOrigin::kListened:
      if (r.request.empty()) return "heard A";
      return r.answer.empty() ? "heard Q" : "heard Q>A";
    case MBTapOrigin::kExchange:
      break;
  }
  return r.answer.empty() ? "TX" : "TX>RX";
}

std::string MBResultText(const MBDecoded& d) {
  if (d.failure == MBFailure::kNone) return "OK";
  if (d.failure == MBFailure::kException) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "exception %02X", d.exception & 0xFF);
    return buf;
  }
  return MBFailureText(d.failure);
}

std::string MBTraceText(const MBTapRecord& r, const MBDecoded& d, const std::string& names) {
  std::string s = MBTimeText(r.timeUs) + " " + r.port + " " + MBDirText(r);
  if (!r.request.empty()) s += "\n  TX " + MBHex(r.request);
  if (!r.answer.empty()) s += "\n  RX " + MBHex(r.answer);
  s += "\n  ";
  if (d.slave >= 0) s += "slave " + std::to_string(d.slave) + " ";
  if (d.function >= 0) s += MBFunctionName(d.function);
  if (d.address >= 0) {
    s += " @" + std::to_string(d.address);
    if (d.count > 1) s += "-" + std::to_string(d.address + d.count - 1);
  }
  if (!names.empty()) s += " (" + names + ")";
  if (!d.values.empty()) {
    s += " =";
    for (uint16_t v : d.values) s += " " + std::to_string(v);
  }
  s += ": " + MBResultText(d);
  const auto ms = [](int64_t us) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f ms", static_cast<double>(us) / 1000.0);
    return std::string(buf);
  };
  std::string timing;
  const auto add = [&timing](const std::string& part) {
    timing += (timing.empty() ? "" : ", ") + part;
  };
  if (r.silenceUs >= 0) add("silence " + ms(r.silenceUs));
  if (r.roundTripUs >= 0) add("round trip " + ms(r.roundTripUs));
  if (r.maxGapUs >= 0) add("gap " + ms(r.maxGapUs));
  if (!timing.empty()) s += "\n  " + timing;
  return s;
}

std::string MBRangeNames(const MBDecoded& d, const MBRegisterNames& names) {
  std::string out;
  if (d.slave < 0 || d.address < 0) return out;
  const int count = std::min(d.count, 125);
  for (int i = 0; i < count; ++i) {
    const std::string n =
        names.RegisterName(static_cast<uint8_t>(d.slave), static_cast<uint16_t>(d.address + i));
    if (n.empty()) continue;
    if (!out.empty()) out += ", ";
    out += n;
  }
  return out;
}

}  // namespace vx
