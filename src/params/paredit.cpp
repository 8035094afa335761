#include "params/paredit.h"

#include <algorithm>
#include <cmath>

#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "params/parvalue.h"
#include "platform/koexception.h"
#include "regmodel/regdefinition.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"
#include "xml/koxmlelement.h"

namespace vx {

bool ApplyChoice(TkoParValue* par, std::int64_t tag, bool asCode) {
  if (par == nullptr || tag == kParTagSeparator) return false;
  auto* encoded = asCode ? dynamic_cast<TkoParEncoded*>(par) : nullptr;
  if (tag == kParTagDflt) {
    par->AssignDefault();
  } else if (tag == kParTagMin) {
    if (encoded != nullptr)
      encoded->SetCode(encoded->GetMinCode());
    else
      par->SetValue(par->GetMin());
  } else if (tag == kParTagMax) {
    if (encoded != nullptr)
      encoded->SetCode(encoded->GetMaxCode());
    else
      par->SetValue(par->GetMax());
  } else if (encoded != nullptr) {
    encoded->SetCode(tag);
  } else {
    par->SetValue(static_cast<double>(tag));
  }
  return true;
}

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool SetChoice(TkoParEncoded* par, std::string_view text, std::string* reason) {
  TkoParChoiceList choices;
  par->GetValueList(&choices, false);
  for (const TkoParChoice& c : choices)
    if (c.Tag >= 0 && SameTextAscii(TrimBlanks(c.Text), text)) {
      par->SetCode(c.Tag);
      return true;
    }
  std::int32_t code = 0;
  if (TextToInteger(text, code))
    for (const TkoParChoice& c : choices)
      if (c.Tag == code) {
        par->SetCode(c.Tag);
        return true;
      }
  std::string list;
  for (const TkoParChoice& c : choices) {
    if (c.Tag < 0) continue;
    if (!list.empty()) list += ", ";
    list += "\"" + c.Text + "\"";
  }
  *reason = "\"" + std::string(text) + "\" is not a choice; the choices are " + list;
  return false;
}

}  // namespace

bool SetParameterText(TkoParValue* par, std::string_view typed, std::string* reason) {
  std::string why;
  if (reason == nullptr) reason = &why;
  if (par == nullptr || par->Register == nullptr) {
    *reason = "no register behind it";
    return false;
  }
  if (par->ReadOnly) {
    *reason = "read-only";
    return false;
  }
  const std::string_view text = TrimBlanks(typed);
  if (auto* encoded = dynamic_cast<TkoParEncoded*>(par)) return SetChoice(encoded, text, reason);

  const TkoRegDefinition* def = par->Register->Definition();
  if (def->IsDate() || def->IsTime() || def->IsString() || dynamic_cast<TkoPar2DPoint*>(par)) {
    try {
      par->SetValueString(std::string(text));
    } catch (const EkoException& e) {
      *reason = e.what();
      return false;
    }
    return true;
  }

  // The long parameter reads its text as a whole number and its limits as unsigned
  // 32-bit values; every other kind reads a number in display units.
  double value = 0;
  if (dynamic_cast<TkoParLong*>(par) != nullptr) {
    std::int32_t whole = 0;
    if (!TextToInteger(text, whole)) {
      *reason = "\"" + std::string(text) + "\" is not a whole number";
      return false;
    }
    value = static_cast<double>(static_cast<std::uint32_t>(whole));
  } else if (!TextToFloat(text, value)) {
    *reason = "\"" + std::string(text) + "\" is not a number";
    return false;
  }
  // Limits are shown rounded to the register's picture; a value within rounding of one
  // is the limit itself.
  const auto slack = [](double bound) { return 1e-9 * std::max(1.0, std::fabs(bound)); };
  if (par->HasMin() && value < par->GetMin() - slack(par->GetMin())) {
    *reason = std::string(text) + " is below the minimum " + par->GetMinString();
    return false;
  }
  if (par->HasMax() && value > par->GetMax() + slack(par->GetMax())) {
    *reason = std::string(text) + " is above the maximum " + par->GetMaxString();
    return false;
  }
  par->SetValueString(std::string(text));
  return true;
}

}  // namespace vx
