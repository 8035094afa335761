#include "params/paredit.h"

#include "params/parencoded.h"
#include "params/parentry.h"
#include "params/parvalue.h"
#include "platform/koexception.h"
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

  // The setup window's editor asks the same question before it takes a typed text.
  const std::string refusal = EntryRefusal(*par, std::string(text));
  if (!refusal.empty()) {
    *reason = "\"" + std::string(text) + "\" " + refusal;
    return false;
  }
  try {
    par->SetValueString(std::string(text));
  } catch (const EkoException& e) {
    *reason = e.what();
    return false;
  }
  return true;
}

}  // namespace vx
