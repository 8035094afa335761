#include "platform/cp1252.h"

#include <array>

namespace vx::cp1252 {

namespace {

// 0x80..0x9F; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

}  // namespace

char32_t ToUnicode(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHigh[byte - 0x80];
  return byte;
}

int FromUnicode(char32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
    return static_cast<int>(codePoint);
  for (std::size_t i = 0; i < kHigh.size(); ++i)
    if (kHigh[i] == codePoint) return static_cast<int>(0x80 + i);
  return -1;
}

}  // namespace vx::cp1252

namespace vx {

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const char32_t u = cp1252::ToUnicode(static_cast<uint8_t>(c));
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t code = b;
    if (b >= 0xF0 && b < 0xF8) {
      extra = 3;
      code = b & 0x07;
    } else if (b >= 0xE0) {
      extra = b < 0xF0 ? 2 : -1;
      code = b & 0x0F;
    } else if (b >= 0xC0) {
      extra = 1;
      code = b & 0x1F;
    } else if (b >= 0x80) {
      extra = -1;  // a continuation byte without its lead
    }
    if (extra < 0 || (extra > 0 && i + static_cast<std::size_t>(extra) >= text.size())) {
      out += '?';
      ++i;
      continue;
    }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) ok = false;
      code = (code << 6) | (c & 0x3F);
    }
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(extra) + 1;
    const int byte = cp1252::FromUnicode(code);
    out += byte < 0 ? '?' : static_cast<char>(byte);
  }
  return out;
}

}  // namespace vx
