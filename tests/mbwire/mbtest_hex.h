#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Test vectors are written as hex text: "01 03 00 00 00 0A"; spaces are ignored.
namespace vxtest {

inline std::vector<uint8_t> Hex(std::string_view text) {
  std::vector<uint8_t> out;
  int hi = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c == ' ')
      continue;
    else
      throw std::invalid_argument("bad hex digit in test vector");
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi << 4 | v));
      hi = -1;
    }
  }
  if (hi >= 0) throw std::invalid_argument("odd hex digits in test vector");
  return out;
}

inline std::string ToHex(const std::vector<uint8_t>& bytes) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : bytes) {
    if (!s.empty()) s += ' ';
    s += d[b >> 4];
    s += d[b & 0xF];
  }
  return s;
}

inline std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

}  // namespace vxtest
