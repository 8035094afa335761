#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Windows-1252, the code page of all engine text. The five bytes it leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 control characters of the same number,
// so that every byte survives a trip to Unicode and back.
namespace vx::cp1252 {

// The Unicode code point of a byte.
[[nodiscard]] char32_t ToUnicode(uint8_t byte);

// The byte of a code point, or -1 where the code page has none.
[[nodiscard]] int FromUnicode(char32_t codePoint);

}  // namespace vx::cp1252

namespace vx {

// Engine text for displays and files outside the engine, which speak UTF-8 (the
// command-line program's output and arguments).
[[nodiscard]] std::string Cp1252ToUtf8(std::string_view text);
// Characters without a Windows-1252 form, and bytes that are not UTF-8, become "?".
[[nodiscard]] std::string Utf8ToCp1252(std::string_view text);

}  // namespace vx
