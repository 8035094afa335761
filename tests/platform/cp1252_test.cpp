// The one Windows-1252 table: every byte goes to Unicode and back, the undefined bytes
// included, and code points the code page lacks have no byte.
#include "platform/cp1252.h"

#include <gtest/gtest.h>

#include <string>

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

// To UTF-8 and back: what 1252 cannot hold, or what is not UTF-8 at all, becomes "?"
// instead of being dropped.
TEST(Cp1252, EveryByteSurvivesTheRoundTripThroughUtf8) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(vx::Utf8ToCp1252(vx::Cp1252ToUtf8(all)), all);
  EXPECT_EQ(vx::Cp1252ToUtf8("\x80 5\xb0"), "\xe2\x82\xac 5\xc2\xb0");  // euro, degree
}

TEST(Cp1252, WhatHasNoFormBecomesAQuestionMark) {
  const struct {
    std::string utf8, cp1252;
  } cases[] = {
      {"\xe4\xb8\xad", "?"},        // a character 1252 lacks
      {"\xf0\x9f\x98\x80x", "?x"},  // outside the basic plane
      {"a\x80z", "a?z"},            // a continuation byte alone
      {"\xc3", "?"},                // cut short at the end
      {"\xc3(", "?("},              // a lead byte without its continuation
  };
  for (const auto& c : cases) EXPECT_EQ(vx::Utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
}

}  // namespace
