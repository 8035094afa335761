#pragma once
#include <cstddef>

namespace vx {

// A text embedded in the program at build time, byte for byte.
struct EmbeddedText {
  const char* name;  // file name in src/resources, such as "28672.txt"
  const char* data;  // the bytes, followed by a terminating zero
  std::size_t size;  // without the terminating zero
};

// The embedded text of that file name, or nullptr.
const EmbeddedText* FindEmbeddedText(const char* name);

}  // namespace vx
