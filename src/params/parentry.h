#pragma once
#include <string>

class TkoParValue;

namespace vx {

// Why a typed text would not set the parameter to what was typed: the setters ignore a
// text that does not parse and clamp a value beyond the limits, both without a word, so
// an editor asks here first and refuses the entry with the reason. The reason reads after
// the quoted text: "is not a number", "is below the minimum 0 stp", "is above the maximum
// 3000 rpm". Empty when the text sets the parameter as typed (or when the kind takes no
// typed text at all: encoded kinds are chosen from their list).
[[nodiscard]] std::string EntryRefusal(const TkoParValue& par, const std::string& text);

}  // namespace vx
