// Windows-1252 engine text to UTF-8 and back: every byte survives, and what 1252 cannot
// hold, or what is not UTF-8 at all, becomes "?" instead of being dropped.
#include "platform/cp1252.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
