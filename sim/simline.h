#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "mbwire/mbcodes.h"
#include "mbwire/mbserial.h"

// The serial line as a wire on which characters take time (vx310-sim --line): its format,
// and the timing a drive on it keeps.
namespace vx {

// Baud rate and character format, as "19200,8E1".
struct SimLineFormat {
  int32_t baudRate = 19200;
  int byteSize = 8;                 // 7 or 8
  int parity = MBParity::kEven;     // none, odd, even, mark or space
  int stopBits = MBStopBits::kOne;  // one, one and a half, two

  // The port settings of the same format.
  [[nodiscard]] MBSerialSettings Serial() const;
  // One character on the wire: start bit, data bits, parity bit, stop bits (one and a
  // half counted as such: the drive sends what it is set to).
  [[nodiscard]] std::chrono::nanoseconds CharTime() const;
};

// Parses "BAUD,DPS": D data bits (7, 8), P parity (N, O, E, M, S), S stop bits (1, 1.5,
// 2). False with the reason in `error`.
[[nodiscard]] bool ParseSimLineFormat(std::string_view text, SimLineFormat& format,
                                      std::string& error);

// What a drive on a paced line keeps to.
struct SimLineTiming {
  std::chrono::nanoseconds charTime{};
  // From the end of a request's last character to the start of the answer's first.
  std::chrono::nanoseconds turnaround{};
  // The silence that ends a frame (3.5 characters) and the longest gap inside one (1.5
  // characters); above 19200 baud the fixed 1.75 ms and 0.75 ms that slaves use there.
  std::chrono::nanoseconds frameGap{};
  std::chrono::nanoseconds charGap{};
  // A request with a gap longer than charGap between two characters is dropped.
  bool strictGaps = false;

  // The timing of `format`; a negative turnaround means the default of 3.5 characters.
  [[nodiscard]] static SimLineTiming Of(const SimLineFormat& format,
                                        std::chrono::nanoseconds turnaround, bool strictGaps);
};

}  // namespace vx
