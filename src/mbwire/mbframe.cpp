#include "mbwire/mbframe.h"

#include <array>

#include "mbwire/mbcodes.h"
#include "mbwire/mbresult.h"

namespace vx {
namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i);
    for (int b = 0; b < 8; ++b)
      c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
    t[i] = c;
  }
  return t;
}
constexpr auto kCrcTable = MakeCrcTable();

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Longest frame a receiver keeps before it gives up: two maximal frames, so that a
// valid frame behind a frame's worth of garbage is still found.
constexpr std::size_t kRtuBufferLimit = 2 * kMaxRtuFrame;
constexpr std::size_t kAsciiHexLimit = 2 * (kMaxAdu + 1);
// Characters an ASCII receiver takes, frame or noise, before it gives up.
constexpr std::size_t kAsciiStreamLimit = 2 * (kAsciiHexLimit + 4);

MBAduLength Known(std::size_t n) {
  return {MBAduLength::Kind::kKnown, n};
}
MBAduLength NeedMore() {
  return {MBAduLength::Kind::kNeedMore, 0};
}
MBAduLength Unknown() {
  return {MBAduLength::Kind::kUnknown, 0};
}

// Length = `fixed` plus the byte count found at `countAt`.
MBAduLength Counted(std::span<const uint8_t> adu, std::size_t countAt, std::size_t fixed) {
  if (adu.size() <= countAt) return NeedMore();
  return Known(fixed + adu[countAt]);
}

}  // namespace

uint16_t Crc16(std::span<const uint8_t> data) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : data) crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFF]);
  return crc;
}

uint8_t Lrc(std::span<const uint8_t> data) {
  uint8_t sum = 0;
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  return static_cast<uint8_t>(-sum);
}

std::vector<uint8_t> EncodeRtu(std::span<const uint8_t> adu) {
  std::vector<uint8_t> f(adu.begin(), adu.end());
  const uint16_t crc = Crc16(adu);
  f.push_back(static_cast<uint8_t>(crc & 0xFF));
  f.push_back(static_cast<uint8_t>(crc >> 8));
  return f;
}

bool RtuCrcOk(std::span<const uint8_t> frame) {
  if (frame.size() < 3) return false;
  const std::size_t n = frame.size() - 2;
  const uint16_t crc = Crc16(frame.first(n));
  return frame[n] == (crc & 0xFF) && frame[n + 1] == (crc >> 8);
}

std::vector<uint8_t> EncodeAscii(std::span<const uint8_t> adu) {
  std::vector<uint8_t> f;
  f.reserve(adu.size() * 2 + 5);
  f.push_back(':');
  auto put = [&f](uint8_t b) {
    f.push_back(static_cast<uint8_t>(kHexDigits[b >> 4]));
    f.push_back(static_cast<uint8_t>(kHexDigits[b & 0xF]));
  };
  for (uint8_t b : adu) put(b);
  put(Lrc(adu));
  f.push_back('\r');
  f.push_back('\n');
  return f;
}

std::vector<uint8_t> EncodeMbap(uint16_t transactionId, std::span<const uint8_t> adu) {
  std::vector<uint8_t> f;
  f.reserve(adu.size() + 6);
  const auto len = static_cast<uint16_t>(adu.size());
  f.push_back(static_cast<uint8_t>(transactionId >> 8));
  f.push_back(static_cast<uint8_t>(transactionId & 0xFF));
  f.push_back(0);
  f.push_back(0);
  f.push_back(static_cast<uint8_t>(len >> 8));
  f.push_back(static_cast<uint8_t>(len & 0xFF));
  f.insert(f.end(), adu.begin(), adu.end());
  return f;
}

bool DecodeMbapHeader(std::span<const uint8_t> b, MbapHeader& h) {
  if (b.size() < kMbapHeaderSize) return false;
  h.transactionId = static_cast<uint16_t>(b[0] << 8 | b[1]);
  h.protocolId = static_cast<uint16_t>(b[2] << 8 | b[3]);
  h.length = static_cast<uint16_t>(b[4] << 8 | b[5]);
  h.unit = b[6];
  return true;
}

MBAduLength AduLength(MBDirection direction, std::span<const uint8_t> adu) {
  if (adu.size() < 2) return NeedMore();
  const uint8_t fc = adu[1];
  if (direction == MBDirection::kResponse) {
    if (fc & MBFunction::kExceptionFlag)
      return Known(3);  // address, function | 0x80, exception code
    switch (fc) {
      case MBFunction::kReadCoils:
      case MBFunction::kReadDiscreteInputs:
      case MBFunction::kReadHoldingRegisters:
      case MBFunction::kReadInputRegisters:
      case MBFunction::kGetCommEventLog:
      case MBFunction::kReportServerId:
      case MBFunction::kReadWriteMultipleRegisters:
        return Counted(adu, 2, 3);
      case MBFunction::kWriteSingleCoil:
      case MBFunction::kWriteSingleRegister:
      case MBFunction::kDiagnostics:
      case MBFunction::kGetCommEventCounter:
      case MBFunction::kWriteMultipleCoils:
      case MBFunction::kWriteMultipleRegisters:
        return Known(6);
      case MBFunction::kReadExceptionStatus:
        return Known(3);
      case MBFunction::kMaskWriteRegister:
        return Known(8);
      case MBFunction::kDeviceVersion:  // five words
        return Known(12);
      default:
        return Unknown();
    }
  }
  switch (fc) {
    case MBFunction::kReadCoils:
    case MBFunction::kReadDiscreteInputs:
    case MBFunction::kReadHoldingRegisters:
    case MBFunction::kReadInputRegisters:
    case MBFunction::kWriteSingleCoil:
    case MBFunction::kWriteSingleRegister:
    case MBFunction::kDiagnostics:
      return Known(6);
    case MBFunction::kReadExceptionStatus:
    case MBFunction::kGetCommEventCounter:
    case MBFunction::kGetCommEventLog:
    case MBFunction::kReportServerId:
    case MBFunction::kDeviceVersion:
      return Known(2);
    case MBFunction::kWriteMultipleCoils:
    case MBFunction::kWriteMultipleRegisters:
      return Counted(adu, 6, 7);
    case MBFunction::kMaskWriteRegister:
      return Known(8);
    case MBFunction::kReadWriteMultipleRegisters:
      return Counted(adu, 10, 11);
    default:
      return Unknown();
  }
}

// ---- RTU receiver ----

MBRtuReceiver::MBRtuReceiver(MBDirection direction, bool filter, uint8_t address, uint8_t function)
    : direction_(direction), filter_(filter), address_(address), function_(function) {
  buf_.reserve(kRtuBufferLimit);
}

MBRtuReceiver MBRtuReceiver::ForResponse(uint8_t address, uint8_t function) {
  return MBRtuReceiver(MBDirection::kResponse, true, address, function);
}

MBRtuReceiver MBRtuReceiver::ForRequest() {
  return MBRtuReceiver(MBDirection::kRequest, false, 0, 0);
}

void MBRtuReceiver::Reset() {
  buf_.clear();
  complete_ = badCrc_ = unknownLength_ = false;
  frameStart_ = frameLength_ = unknownStart_ = 0;
}

MBRtuReceiver::Outcome MBRtuReceiver::ParseAt(std::size_t start, std::size_t& length) const {
  const std::span<const uint8_t> rest = std::span<const uint8_t>(buf_).subspan(start);
  Step step = Step::kAddress;
  for (;;) {
    switch (step) {
      case Step::kAddress:
        if (rest.empty()) return Outcome::kPending;
        if (filter_ && rest[0] != address_) return Outcome::kReject;
        step = Step::kFunction;
        break;
      case Step::kFunction:
        if (rest.size() < 2) return Outcome::kPending;
        if (filter_ && rest[1] != function_ && rest[1] != (function_ | MBFunction::kExceptionFlag))
          return Outcome::kReject;
        step = Step::kMeta;
        break;
      case Step::kMeta: {
        const MBAduLength len = AduLength(direction_, rest);
        if (len.kind == MBAduLength::Kind::kUnknown) return Outcome::kUnknownLength;
        if (len.kind == MBAduLength::Kind::kNeedMore) return Outcome::kPending;
        // A byte count can claim more than a Modbus ADU holds; such a frame is no frame.
        if (len.length > kMaxAdu) return Outcome::kReject;
        length = len.length;
        step = Step::kData;
        break;
      }
      case Step::kData:
        if (rest.size() < length) return Outcome::kPending;
        step = Step::kChecksum;
        break;
      case Step::kChecksum:
        if (rest.size() < length + 2) return Outcome::kPending;
        return RtuCrcOk(rest.first(length + 2)) ? Outcome::kGood : Outcome::kBadCrc;
    }
  }
}

MBRtuReceiver::Status MBRtuReceiver::Scan() {
  // The earliest candidate still open decides how the frame can end: by its length, or
  // (length unknown) only by silence. Later offsets are usually bytes of that frame.
  bool open = false;
  bool pending = false;
  badCrc_ = false;
  unknownLength_ = false;
  for (std::size_t s = 0; s < buf_.size(); ++s) {
    std::size_t length = 0;
    switch (ParseAt(s, length)) {
      case Outcome::kGood:
        frameStart_ = s;
        frameLength_ = length;
        complete_ = true;
        return Status::kComplete;
      case Outcome::kPending:
        if (!open) pending = open = true;
        break;
      case Outcome::kUnknownLength:
        if (!open) {
          open = unknownLength_ = true;
          unknownStart_ = s;
        }
        break;
      case Outcome::kBadCrc:
        badCrc_ = true;
        break;
      case Outcome::kReject:
        break;
    }
  }
  return pending ? Status::kNeedMore : Status::kNeedSilence;
}

MBRtuReceiver::Status MBRtuReceiver::Feed(std::span<const uint8_t> bytes) {
  if (complete_) return Status::kComplete;
  if (buf_.size() + bytes.size() > kRtuBufferLimit) return Status::kOverflow;
  buf_.insert(buf_.end(), bytes.begin(), bytes.end());
  return Scan();
}

int32_t MBRtuReceiver::Finish() {
  if (complete_) return mbresult::kOk;
  if (buf_.empty()) return mbresult::kTimeout;
  if (unknownLength_) {
    const auto rest = std::span<const uint8_t>(buf_).subspan(unknownStart_);
    if (rest.size() > kMaxRtuFrame) return mbresult::kInvalidResponse;
    if (rest.size() >= 4 && RtuCrcOk(rest)) {
      frameStart_ = unknownStart_;
      frameLength_ = rest.size() - 2;
      complete_ = true;
      return mbresult::kOk;
    }
    return mbresult::kInvalidCrc;
  }
  return badCrc_ ? mbresult::kInvalidCrc : mbresult::kInvalidResponse;
}

std::span<const uint8_t> MBRtuReceiver::Frame() const {
  if (!complete_) return {};
  return std::span<const uint8_t>(buf_).subspan(frameStart_, frameLength_);
}

// ---- ASCII receiver ----

MBAsciiReceiver::MBAsciiReceiver(MBDirection direction, bool filter, uint8_t address,
                                 uint8_t function)
    : direction_(direction), filter_(filter), address_(address), function_(function) {
  hex_.reserve(kAsciiHexLimit);
}

MBAsciiReceiver MBAsciiReceiver::ForResponse(uint8_t address, uint8_t function) {
  return MBAsciiReceiver(MBDirection::kResponse, true, address, function);
}

MBAsciiReceiver MBAsciiReceiver::ForRequest() {
  return MBAsciiReceiver(MBDirection::kRequest, false, 0, 0);
}

void MBAsciiReceiver::Reset() {
  step_ = Step::kHunt;
  hex_.clear();
  adu_.clear();
  received_ = 0;
  result_ = mbresult::kOk;
}

MBAsciiReceiver::Status MBAsciiReceiver::Feed(std::span<const uint8_t> bytes) {
  for (uint8_t c : bytes) {
    if (++received_ > kAsciiStreamLimit) return Status::kOverflow;
    if (c == ':') {  // a colon always starts a new frame
      hex_.clear();
      step_ = Step::kBody;
      continue;
    }
    switch (step_) {
      case Step::kHunt:
        break;
      case Step::kBody:
        if (c == '\r') {
          step_ = Step::kEnd;
        } else {
          if (hex_.size() >= kAsciiHexLimit) return Status::kOverflow;
          hex_.push_back(c);
        }
        break;
      case Step::kEnd:
        step_ = Step::kHunt;
        result_ = c == '\n' ? Decode() : mbresult::kInvalidResponse;
        return Status::kComplete;
    }
  }
  return Status::kNeedMore;
}

int32_t MBAsciiReceiver::Decode() {
  adu_.clear();
  if (hex_.size() % 2 != 0 || hex_.size() < 6) return mbresult::kInvalidResponse;
  for (std::size_t i = 0; i < hex_.size(); i += 2) {
    const int hi = HexValue(hex_[i]);
    const int lo = HexValue(hex_[i + 1]);
    if (hi < 0 || lo < 0) return mbresult::kInvalidResponse;
    adu_.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  const uint8_t lrc = adu_.back();
  adu_.pop_back();
  if (Lrc(adu_) != lrc) return mbresult::kInvalidCrc;
  if (filter_ && (adu_[0] != address_ ||
                  (adu_[1] != function_ && adu_[1] != (function_ | MBFunction::kExceptionFlag))))
    return mbresult::kInvalidResponse;
  const MBAduLength len = AduLength(direction_, adu_);
  if (len.kind != MBAduLength::Kind::kUnknown &&
      (len.kind == MBAduLength::Kind::kNeedMore || len.length != adu_.size()))
    return mbresult::kInvalidResponse;
  return mbresult::kOk;
}

int32_t MBAsciiReceiver::Finish() const {
  return received_ == 0 ? mbresult::kTimeout : mbresult::kInvalidResponse;
}

}  // namespace vx
