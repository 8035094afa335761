#include "paramui/textcodec.h"

#include <array>
#include <cstdint>

namespace vx {

namespace {

// 0x80..0x9F; the undefined bytes map to the C1 control of the same number.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

char16_t ToUnicode(std::uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHigh[byte - 0x80];
  return byte;
}

// The byte of a UTF-16 unit, or -1 when 1252 has none.
int ToByte(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
  for (std::size_t i = 0; i < kHigh.size(); ++i)
    if (kHigh[i] == unit) return static_cast<int>(0x80 + i);
  return -1;
}

}  // namespace

QString ToQString(const std::string& text) {
  QString result;
  result.resize(static_cast<qsizetype>(text.size()));
  QChar* out = result.data();
  for (std::size_t i = 0; i < text.size(); ++i)
    out[i] = QChar(ToUnicode(static_cast<std::uint8_t>(text[i])));
  return result;
}

std::string FromQString(const QString& text) {
  std::string result;
  result.reserve(static_cast<std::size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      result += '?';
      ++i;
      continue;
    }
    const int byte = ToByte(c.unicode());
    result += byte < 0 ? '?' : static_cast<char>(byte);
  }
  return result;
}

}  // namespace vx
