#pragma once
#include <string>
#include <string_view>

namespace vx {

// Engine text is Windows-1252; displays and files outside the engine speak Unicode. Every
// byte survives a round trip: the five bytes 1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become the C1 control characters of the same number and come back as those bytes.
char16_t Cp1252ToUnicode(unsigned char byte);
// The byte of a code point, or -1 when 1252 has none.
int UnicodeToCp1252(char32_t code);

std::string Cp1252ToUtf8(std::string_view text);
// Characters without a Windows-1252 form, and bytes that are not UTF-8, become "?".
std::string Utf8ToCp1252(std::string_view text);

}  // namespace vx
