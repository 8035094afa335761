// The one Windows-1252 table: every byte goes to Unicode and back, the undefined bytes
// included, and code points the code page lacks have no byte.
#include "platform/cp1252.h"

#include <gtest/gtest.h>

namespace {

TEST(Cp1252, EveryByteComesBack) {
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(vx::cp1252::FromUnicode(vx::cp1252::ToUnicode(static_cast<uint8_t>(b))), b) << b;
}

TEST(Cp1252, CodePoints) {
  struct Case {
    char32_t codePoint;
    int byte;
  } cases[] = {
      {U'A', 0x41},   {0xE9, 0xE9},   {0x20AC, 0x80},  // euro sign
      {0x2019, 0x92}, {0x0178, 0x9F}, {0x0081, 0x81},  // undefined: its C1 control
      {0x0080, -1},   {0x0096, -1},                    // C1 controls 1252 has a letter for
      {0x3042, -1},   {0x1F600, -1},  {0x110000, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vx::cp1252::FromUnicode(c.codePoint), c.byte) << std::hex << uint32_t(c.codePoint);
  EXPECT_EQ(vx::cp1252::ToUnicode(0x80), U'\u20AC');
  EXPECT_EQ(vx::cp1252::ToUnicode(0x9D), char32_t{0x9D});
  EXPECT_EQ(vx::cp1252::ToUnicode(0xFF), char32_t{0xFF});
}

}  // namespace
