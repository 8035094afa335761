#include "params/parfrac16.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "platform/koexception.h"
#include "regmodel/numberformat.h"
#include "regmodel/regdefinition.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace {

constexpr double kFrac16Scale = 32768.0;

double BoundValue(const TkoRegBound* bound, int index) {
  return bound ? bound->GetBound(index) : 0.0;
}

// An element read as the integer its definition means: signed or counting from 0.
int64_t IntegerOf(const TkoRegister& reg, int index) {
  const int32_t raw = reg.GetValueInteger(index);
  return reg.Definition()->IsSigned() ? static_cast<int64_t>(raw)
                                      : static_cast<int64_t>(static_cast<uint32_t>(raw));
}

int32_t ClampToInt32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// "%.4f" without the C library's locale.
std::string Fixed4(double v) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
  if (r.ec != std::errc()) return "0.0000";
  return std::string(buf, r.ptr);
}

// One "%lf" of a scan: leading blanks, then a decimal number. Infinity and NaN are not
// coordinates, so they count as not read.
bool ScanDouble(std::string_view s, size_t& pos, double& out) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r'))
    ++pos;
  if (pos < s.size() && s[pos] == '+') ++pos;
  double v = 0;
  auto r = std::from_chars(s.data() + pos, s.data() + s.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || !std::isfinite(v)) return false;
  pos = static_cast<size_t>(r.ptr - s.data());
  out = v;
  return true;
}

}  // namespace

TkoParFrac16::TkoParFrac16(TkoRegister* mantissa, int index, TkoRegister* exponent)
    : TkoParValue(mantissa, index), ExpRegister(exponent) {}

double TkoParFrac16::GetMax() const {
  if (!Register) return 0.0;
  double v = BoundValue(Register->MaxBound(), Index);
  if (ExpRegister && ExpRegister->MaxBound())
    v *= std::exp2(ExpRegister->MaxBound()->GetBound(Index));
  return v;
}

// The lowest value the pair can hold: a negative mantissa minimum is scaled by the
// largest exponent, a non-negative one by the smallest. When the exponent register lacks
// that bound the mantissa minimum stands alone, as GetMax does without an exponent maximum.
double TkoParFrac16::GetMin() const {
  if (!Register) return 0.0;
  const double m = BoundValue(Register->MinBound(), Index);
  if (!ExpRegister) return m;
  const TkoRegBound* e = m < 0 ? ExpRegister->MaxBound() : ExpRegister->MinBound();
  return e ? m * std::exp2(e->GetBound(Index)) : m;
}

double TkoParFrac16::GetDflt() const {
  if (!Register) return 0.0;
  double v = BoundValue(Register->DfltBound(), Index);
  if (ExpRegister && ExpRegister->DfltBound())
    v *= std::exp2(ExpRegister->DfltBound()->GetBound(Index));
  return v;
}

std::string TkoParFrac16::GetMaxString() const {
  return Register ? FormatNumber(GetMax()) : "";
}
std::string TkoParFrac16::GetMinString() const {
  return Register ? FormatNumber(GetMin()) : "";
}
std::string TkoParFrac16::GetDfltString() const {
  return Register ? FormatNumber(GetDflt()) : "";
}

double TkoParFrac16::GetValue() const {
  if (!Register) return 0.0;
  const double mantissa = static_cast<double>(IntegerOf(*Register, Index)) / kFrac16Scale;
  if (!ExpRegister) return mantissa;
  int64_t e = 0;
  try {
    e = IntegerOf(*ExpRegister, Index);
  } catch (const EkoException&) {
    return mantissa;  // an unreadable exponent leaves the mantissa part
  }
  // ldexp saturates far beyond these, so the clamp only keeps the int conversion defined.
  return std::ldexp(mantissa, static_cast<int>(std::clamp<int64_t>(e, -100000, 100000)));
}

void TkoParFrac16::SetValue(double x) {
  if (!Register || !std::isfinite(x)) return;
  if (Register->HasBounds()) {
    if (HasMax() && x > GetMax()) x = GetMax();
    if (HasMin() && x < GetMin()) x = GetMin();
  }
  if (ExpRegister) {
    int64_t e = 0;
    if (x != 0) {
      if (ExpRegister->Definition()->IsSigned()) {
        while (x >= -1 && x < 1) {
          x *= 2;
          --e;
        }
      }
      while (x >= 1 || x < -1) {
        x /= 2;
        ++e;
      }
    }
    ExpRegister->SetValueInteger(Index, ClampToInt32(e));
    // The exponent register may have clamped e (a minimum of 0 against a small gain, a
    // maximum below the normalised one): scale the mantissa to the exponent it holds, or
    // the pair would mean a value off by that power of two.
    const int64_t held = IntegerOf(*ExpRegister, Index);
    if (held != e) x = std::ldexp(x, static_cast<int>(std::clamp<int64_t>(e - held, -4096, 4096)));
  }
  Register->SetValueInteger(Index, ClampToInt32(vx::TruncToInt64(x * kFrac16Scale)));
  NotifyChange();
}

std::string TkoParFrac16::GetValueString() const {
  return Register ? FormatNumber(GetValue()) : "";
}

void TkoParFrac16::SetValueString(const std::string& text) {
  double v = 0;
  if (Register && TextToFloat(text, v)) SetValue(v);
}

bool TkoParFrac16::IsChanged() const {
  return (Register && Register->Changed()) || (ExpRegister && ExpRegister->Changed());
}

void TkoParFrac16::AssignDefault() {
  if (!HasDflt()) return;
  Register->AssignDefault(Index, 0);
  if (ExpRegister) ExpRegister->AssignDefault(Index, 0);
  NotifyChange();
}

int32_t TkoParFrac16::ReadNow() {
  const int32_t rc = vx::ReadRegisterNow(Register);
  return (rc == 0 && Register && ExpRegister) ? vx::ReadRegisterNow(ExpRegister) : rc;
}

int32_t TkoParFrac16::WriteNow() {
  const int32_t rc = vx::WriteRegisterNow(Register);
  return (rc == 0 && Register && ExpRegister) ? vx::WriteRegisterNow(ExpRegister) : rc;
}

// ---------------------------------------------------------------------------------------

TkoPar2DPoint::TkoPar2DPoint(TkoRegister* x, int index, TkoRegister* y)
    : TkoParValue(x, index), YRegister(y) {}

namespace {

enum BoundKind { kMax, kMin, kDflt };

const TkoRegBound* BoundOf(const TkoRegister* reg, int kind) {
  if (!reg) return nullptr;
  return kind == kMax ? reg->MaxBound() : kind == kMin ? reg->MinBound() : reg->DfltBound();
}

}  // namespace

bool TkoPar2DPoint::HasMax() const {
  return BoundOf(Register, kMax) || BoundOf(YRegister, kMax);
}
bool TkoPar2DPoint::HasMin() const {
  return BoundOf(Register, kMin) || BoundOf(YRegister, kMin);
}
bool TkoPar2DPoint::HasDflt() const {
  return BoundOf(Register, kDflt) || BoundOf(YRegister, kDflt);
}

// A coordinate whose register lacks the bound shows 0, as the plain parameter's GetMax
// does without a bound; a missing register shows its stand-in value.
std::string TkoPar2DPoint::PairText(int kind) const {
  auto coord = [&](const TkoRegister* reg, double local) {
    if (!reg) return local;
    return BoundValue(BoundOf(reg, kind), Index);
  };
  return Fixed4(coord(Register, LocalX)) + "|" + Fixed4(coord(YRegister, LocalY));
}

std::string TkoPar2DPoint::GetMaxString() const {
  return PairText(kMax);
}
std::string TkoPar2DPoint::GetMinString() const {
  return PairText(kMin);
}
std::string TkoPar2DPoint::GetDfltString() const {
  return PairText(kDflt);
}

std::string TkoPar2DPoint::GetDescr() const {
  auto d = [&](const TkoRegister* reg) {
    return reg ? reg->Definition()->GetDescr(Index, 0) : std::string("xx");
  };
  return d(Register) + "|" + d(YRegister);
}

std::string TkoPar2DPoint::GetValueString() const {
  const double x = Register ? Register->GetValueDouble(Index) : LocalX;
  const double y = YRegister ? YRegister->GetValueDouble(Index) : LocalY;
  return Fixed4(x) + "|" + Fixed4(y);
}

void TkoPar2DPoint::SetValueString(const std::string& text) {
  std::string_view s(text);
  size_t pos = 0;
  double x = 0, y = 0;
  if (!ScanDouble(s, pos, x)) return;
  if (pos >= s.size() || s[pos] != '|') return;
  ++pos;
  if (!ScanDouble(s, pos, y)) return;
  if (Register) {
    Register->SetValueDouble(Index, x);
  } else {
    LocalX = x;
  }
  if (YRegister) {
    YRegister->SetValueDouble(Index, y);
  } else {
    LocalY = y;
  }
}

bool TkoPar2DPoint::IsChanged() const {
  return (Register && Register->Changed()) || (YRegister && YRegister->Changed());
}

void TkoPar2DPoint::AssignDefault() {
  if (!HasDflt()) return;
  if (Register) Register->AssignDefault(Index, 0);
  if (YRegister) YRegister->AssignDefault(Index, 0);
  NotifyChange();
}

int32_t TkoPar2DPoint::ReadNow() {
  const int32_t rc = Register ? vx::ReadRegisterNow(Register) : 0;
  return (rc == 0 && YRegister) ? vx::ReadRegisterNow(YRegister) : rc;
}

int32_t TkoPar2DPoint::WriteNow() {
  const int32_t rc = Register ? vx::WriteRegisterNow(Register) : 0;
  return (rc == 0 && YRegister) ? vx::WriteRegisterNow(YRegister) : rc;
}
