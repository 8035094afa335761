#pragma once
#include <cstdint>

// Windows-1252, the code page of all engine text. The five bytes it leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 control characters of the same number,
// so that every byte survives a trip to Unicode and back.
namespace vx::cp1252 {

// The Unicode code point of a byte.
[[nodiscard]] char32_t ToUnicode(uint8_t byte);

// The byte of a code point, or -1 where the code page has none.
[[nodiscard]] int FromUnicode(char32_t codePoint);

}  // namespace vx::cp1252
