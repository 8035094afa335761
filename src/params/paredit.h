#pragma once
#include <cstdint>
#include <string>
#include <string_view>

class TkoParValue;

namespace vx {

// What picking a line of a parameter's choice list does (its tag): the default, a limit,
// nothing for the separator, else that value. asCode: limits and values go through the
// encoded parameter's codes (SetCode) instead of SetValue. Returns false for the
// separator, the one line that changes nothing.
bool ApplyChoice(TkoParValue* par, std::int64_t tag, bool asCode);

// Sets a parameter from a typed text the way the setup window's editor does (an encoded
// parameter by one of its value texts or codes, any other by its own text parsing after
// the editor's EntryRefusal), refusing, changing nothing, a read-only parameter, a text
// the editor refuses (not a number, outside the limits, ...) and a text that is not one
// of the choices. False with the reason (naming the limit or the choices).
[[nodiscard]] bool SetParameterText(TkoParValue* par, std::string_view text, std::string* reason);

}  // namespace vx
