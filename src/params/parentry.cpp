#include "params/parentry.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "params/parvalue.h"
#include "regmodel/numberformat.h"
#include "regmodel/regdefinition.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace vx {

namespace {

// Raw value of a display value as the register stores it (truncated toward zero).
std::optional<int64_t> Raw(const TkoRegDefinition& def, double display) {
  const double raw = std::trunc((display - def.FormatOffset) * def.FormatNorm);
  if (!std::isfinite(raw) || std::fabs(raw) > 9.0e18) return std::nullopt;
  return static_cast<int64_t>(raw);
}

// A numeric element: the limits are compared the way the register clamps, in raw units,
// the type's range included (a negative value on an unsigned register would otherwise
// end at its maximum).
std::string NumberRefusal(const TkoParValue& par, const TkoRegister& reg, double v) {
  const TkoRegDefinition& def = *reg.Definition();
  const int bits = def.ElementBytes() * 8;
  const int64_t typeLo = def.IsSigned() ? -(int64_t{1} << (bits - 1)) : 0;
  const int64_t typeHi = def.IsSigned() ? (int64_t{1} << (bits - 1)) - 1 : (int64_t{1} << bits) - 1;
  const std::optional<int64_t> raw = Raw(def, v);
  if (!raw) return "is not a number that fits";
  auto display = [&](int64_t r) {
    return FormatFloat(def.FormatString,
                       static_cast<double>(r) / def.FormatNorm + def.FormatOffset);
  };
  const bool bounded = reg.HasBounds();
  if (bounded && par.HasMin()) {
    const std::optional<int64_t> lo = Raw(def, par.GetMin());
    if (lo && *raw < *lo) return "is below the minimum " + par.GetMinString();
  }
  if (bounded && par.HasMax()) {
    const std::optional<int64_t> hi = Raw(def, par.GetMax());
    if (hi && *raw > *hi) return "is above the maximum " + par.GetMaxString();
  }
  const bool rising = def.FormatNorm > 0;
  if (*raw < typeLo)
    return (rising ? "is below the minimum " : "is above the maximum ") + display(typeLo);
  if (*raw > typeHi)
    return (rising ? "is above the maximum " : "is below the minimum ") + display(typeHi);
  return std::string();
}

std::string PointRefusal(const std::string& text) {
  const std::size_t bar = text.find('|');
  double x = 0, y = 0;
  if (bar == std::string::npos || !TextToFloat(text.substr(0, bar), x) ||
      !TextToFloat(text.substr(bar + 1), y))
    return "is not two numbers separated by \"|\"";
  return std::string();
}

}  // namespace

std::string EntryRefusal(const TkoParValue& par, const std::string& text) {
  if (dynamic_cast<const TkoParEncoded*>(&par) != nullptr) return std::string();
  if (dynamic_cast<const TkoPar2DPoint*>(&par) != nullptr) return PointRefusal(text);
  if (par.Register == nullptr) return std::string();
  const TkoRegister& reg = *par.Register;
  const TkoRegDefinition& def = *reg.Definition();
  if (dynamic_cast<const TkoParLong*>(&par) != nullptr) {
    // The long value is raw and its halves are limited each by its own register: only
    // the form is judged here.
    int32_t v = 0;
    return TextToInteger(text, v) ? std::string() : "is not a whole number";
  }
  if (const auto* frac = dynamic_cast<const TkoParFrac16*>(&par)) {
    double v = 0;
    if (!TextToFloat(text, v)) return "is not a number";
    if (reg.HasBounds() && frac->HasMin() && v < frac->GetMin())
      return "is below the minimum " + frac->GetMinString();
    if (reg.HasBounds() && frac->HasMax() && v > frac->GetMax())
      return "is above the maximum " + frac->GetMaxString();
    return std::string();
  }
  if (def.IsString()) {
    const std::string_view t = Trim(text);
    if (t.size() > static_cast<std::size_t>(def.Length))
      return "is longer than " + std::to_string(def.Length) + " characters";
    return std::string();
  }
  if (def.IsDate() || def.IsTime()) {
    double dt = 0;
    if (TextToDateTime(std::string(Trim(text)), dt)) return std::string();
    return def.IsDate() ? "is not a date" : "is not a time";
  }
  if (def.IsBool()) {
    int32_t v = 0;
    return TextToInteger(text, v) ? std::string() : "is not a whole number";
  }
  double v = 0;
  if (!TextToFloat(text, v)) return "is not a number";
  return NumberRefusal(par, reg, v);
}

}  // namespace vx
