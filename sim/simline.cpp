#include "sim/simline.h"

#include <charconv>

namespace vx {

MBSerialSettings SimLineFormat::Serial() const {
  MBSerialSettings s;
  s.baudRate = baudRate;
  s.byteSize = byteSize;
  s.parity = parity;
  s.stopBits = stopBits;
  return s;
}

std::chrono::nanoseconds SimLineFormat::CharTime() const {
  // In half bits, so that one and a half stop bits stay exact.
  const int64_t halfBits = 2 * (1 + byteSize + (parity != MBParity::kNone ? 1 : 0)) +
                           (stopBits == MBStopBits::kOne          ? 2
                            : stopBits == MBStopBits::kOneAndHalf ? 3
                                                                  : 4);
  const int64_t baud = baudRate > 0 ? baudRate : 19200;
  return std::chrono::nanoseconds(halfBits * int64_t{500000000} / baud);
}

bool ParseSimLineFormat(std::string_view text, SimLineFormat& format, std::string& error) {
  const auto bad = [&](const std::string& what) {
    error = what +
            " (expected BAUD,FORMAT such as 19200,8E1: data bits 7 or 8, parity N, O, "
            "E, M or S, stop bits 1, 1.5 or 2)";
    return false;
  };
  const auto comma = text.find(',');
  if (comma == std::string_view::npos) return bad("no format after the baud rate");
  const std::string_view baud = text.substr(0, comma);
  std::string_view rest = text.substr(comma + 1);
  SimLineFormat f;
  const auto [end, ec] = std::from_chars(baud.data(), baud.data() + baud.size(), f.baudRate);
  if (baud.empty() || ec != std::errc() || end != baud.data() + baud.size() || f.baudRate < 50 ||
      f.baudRate > 4000000)
    return bad("the baud rate must be 50 to 4000000");
  if (rest.size() < 3) return bad("an incomplete format");
  if (rest[0] != '7' && rest[0] != '8') return bad("the data bits must be 7 or 8");
  f.byteSize = rest[0] - '0';
  switch (rest[1]) {
    case 'N':
    case 'n':
      f.parity = MBParity::kNone;
      break;
    case 'O':
    case 'o':
      f.parity = MBParity::kOdd;
      break;
    case 'E':
    case 'e':
      f.parity = MBParity::kEven;
      break;
    case 'M':
    case 'm':
      f.parity = MBParity::kMark;
      break;
    case 'S':
    case 's':
      f.parity = MBParity::kSpace;
      break;
    default:
      return bad("unknown parity");
  }
  rest = rest.substr(2);
  if (rest == "1")
    f.stopBits = MBStopBits::kOne;
  else if (rest == "1.5")
    f.stopBits = MBStopBits::kOneAndHalf;
  else if (rest == "2")
    f.stopBits = MBStopBits::kTwo;
  else
    return bad("the stop bits must be 1, 1.5 or 2");
  format = f;
  return true;
}

SimLineTiming SimLineTiming::Of(const SimLineFormat& format, std::chrono::nanoseconds turnaround,
                                bool strictGaps) {
  SimLineTiming t;
  t.charTime = format.CharTime();
  const bool fast = format.baudRate > 19200;
  t.frameGap = fast ? std::chrono::microseconds(1750) : t.charTime * 7 / 2;
  t.charGap = fast ? std::chrono::microseconds(750) : t.charTime * 3 / 2;
  t.turnaround = turnaround.count() < 0 ? t.charTime * 7 / 2 : turnaround;
  t.strictGaps = strictGaps;
  return t;
}

}  // namespace vx
