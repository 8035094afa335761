#pragma once
#include <stdexcept>
#include <string>

// The one exception class of the engine. Its message names the operation that failed,
// such as "GetValueInteger: Wrong data type!".
class EkoException : public std::runtime_error {
 public:
  explicit EkoException(const std::string& message) : std::runtime_error(message) {}
};
