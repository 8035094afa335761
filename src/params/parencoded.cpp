#include "params/parencoded.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "platform/koexception.h"
#include "regmodel/regdefinition.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace {

// Above this many codes the list is built from the described values alone: walking every
// code of a wide range (a 32-bit mask, limits of +-2^31) would never end.
constexpr int64_t kMaxWalkedCodes = 4096;

// The register's 32-bit element pattern as the code it stands for: signed definitions
// sign-extend, all others count from 0.
int64_t CodeOf(const TkoRegister& reg, int32_t raw) {
  return reg.Definition()->IsSigned() ? static_cast<int64_t>(raw)
                                      : static_cast<int64_t>(static_cast<uint32_t>(raw));
}

// A code as the 32-bit value a register write takes, clamped to the definition's side.
int32_t ToRegisterValue(const TkoRegister& reg, int64_t code) {
  if (reg.Definition()->IsSigned()) {
    return static_cast<int32_t>(std::clamp<int64_t>(code, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
  }
  return static_cast<int32_t>(
      static_cast<uint32_t>(std::clamp<int64_t>(code, 0, std::numeric_limits<uint32_t>::max())));
}

}  // namespace

TkoParEncoded::TkoParEncoded(TkoRegister* reg, int index) : TkoParValue(reg, index) {}

// The bounds of the register give the code range; the generic slots show codes.
int64_t TkoParEncoded::GetMaxCode() const {
  return vx::TruncToInt64(TkoParValue::GetMax());
}
int64_t TkoParEncoded::GetMinCode() const {
  return vx::TruncToInt64(TkoParValue::GetMin());
}
int64_t TkoParEncoded::GetDfltCode() const {
  return vx::TruncToInt64(TkoParValue::GetDflt());
}

int64_t TkoParEncoded::GetCode() const {
  return Register ? CodeOf(*Register, Register->GetValueInteger(Index)) : 0;
}

void TkoParEncoded::SetCode(int64_t value) {
  if (!Register) return;
  Register->SetValueInteger(Index, ToRegisterValue(*Register, value));
  NotifyChange();
}

double TkoParEncoded::GetMax() const {
  return Register ? static_cast<double>(GetMaxCode()) : 0.0;
}
double TkoParEncoded::GetMin() const {
  return Register ? static_cast<double>(GetMinCode()) : 0.0;
}
double TkoParEncoded::GetDflt() const {
  return Register ? static_cast<double>(GetDfltCode()) : 0.0;
}

std::string TkoParEncoded::DescribeCode(int64_t code, bool showNumber) const {
  return Register->Definition()->GetValueDescr(static_cast<int32_t>(code), Index, showNumber,
                                               DescrMask());
}

std::string TkoParEncoded::GetMaxString() const {
  return HasMax() ? DescribeCode(GetMaxCode(), true) : "";
}
std::string TkoParEncoded::GetMinString() const {
  return HasMin() ? DescribeCode(GetMinCode(), true) : "";
}
std::string TkoParEncoded::GetDfltString() const {
  return HasDflt() ? DescribeCode(GetDfltCode(), true) : "";
}

void TkoParEncoded::SetValue(double value) {
  if (Register) SetCode(vx::TruncToInt64(value));
}

double TkoParEncoded::GetValue() const {
  return Register ? static_cast<double>(GetCode()) : 0.0;
}

std::string TkoParEncoded::GetDescr() const {
  return Register ? Register->Definition()->GetDescr(Index, DescrMask()) : std::string();
}

std::string TkoParEncoded::GetValueString() const {
  return Register ? DescribeCode(GetCode(), true) : std::string();
}

void TkoParEncoded::SetValueString(const std::string&) {
  throw EkoException(std::string(ClassName()) + "::SetValueString operation not allowed.");
}

void TkoParEncoded::AssignDefault() {
  if (!HasDflt()) return;
  Register->AssignDefault(Index, DescrMask());
  NotifyChange();
}

void TkoParEncoded::AppendCodes(TkoParChoiceList* list, int64_t minCode, int64_t maxCode) const {
  if (maxCode < minCode) return;
  auto offer = [&](int64_t code) {
    std::string text = DescribeCode(code, false);
    if (!text.empty()) list->push_back({std::move(text), code});
  };
  // Unsigned difference: limits near the ends of the 64-bit range must not overflow.
  const uint64_t span = static_cast<uint64_t>(maxCode) - static_cast<uint64_t>(minCode);
  if (span < kMaxWalkedCodes) {
    // Counted, so that a maximum at the top of the 64-bit range does not step past it.
    for (uint64_t k = 0; k <= span; ++k) offer(minCode + static_cast<int64_t>(k));
    return;
  }
  // Wide range: only the values that have a description key of their own are offered.
  char prefix[48];
  std::snprintf(prefix, sizeof prefix, "descr[%dm%Xv", static_cast<int>(Index), DescrMask());
  const std::string want = vx::FoldCase(prefix);
  std::vector<int64_t> codes;
  for (const auto& [name, value] : Register->Definition()->Descr()) {
    if (name.size() <= want.size() + 1 || name.back() != ']') continue;
    if (vx::FoldCase(std::string_view(name).substr(0, want.size())) != want) continue;
    const std::string digits = name.substr(want.size(), name.size() - want.size() - 1);
    char* end = nullptr;
    const long long v = std::strtoll(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0') continue;
    // The key of an unsigned value is its 32-bit pattern, of a signed one the signed form.
    const int64_t code = Register->Definition()->IsSigned()
                             ? static_cast<int64_t>(static_cast<int32_t>(v))
                             : static_cast<int64_t>(static_cast<uint32_t>(v));
    if (code >= minCode && code <= maxCode) codes.push_back(code);
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  for (int64_t code : codes) offer(code);
}

void TkoParEncoded::GetValueList(TkoParChoiceList* list, bool withLimits) const {
  if (!list || !Register) return;
  TkoParValue::GetValueList(list, withLimits);
  if (!list->empty()) list->push_back({kParSeparatorText, kParTagSeparator});
  AppendCodes(list, GetMinCode(), GetMaxCode());
}

// ---------------------------------------------------------------------------------------

TkoParBitField::TkoParBitField(TkoRegister* reg, uint32_t mask, int index)
    : TkoParEncoded(reg, index), Mask(mask) {}

bool TkoParBitField::HasMax() const {
  return Register != nullptr;
}
bool TkoParBitField::HasMin() const {
  return Register != nullptr;
}

int64_t TkoParBitField::GetMaxField() const {
  return (int64_t{1} << std::popcount(Mask)) - 1;
}
int64_t TkoParBitField::GetMinField() const {
  return 0;
}

int64_t TkoParBitField::GetDfltField() const {
  if (!HasDflt()) return 0;
  return Compact(static_cast<uint32_t>(TkoParEncoded::GetDfltCode()));
}

int64_t TkoParBitField::GetField() const {
  if (!Register) return 0;
  return Compact(static_cast<uint32_t>(Register->GetValueMasked(Index, Mask)));
}

void TkoParBitField::SetField(int64_t value) {
  if (!Register) return;
  Register->SetValueMasked(static_cast<int32_t>(Expand(static_cast<uint32_t>(value))), Index, Mask);
  NotifyChange();
}

std::string TkoParBitField::GetDescr() const {
  return Register ? Register->Definition()->GetDescr(Index, Mask) : std::string();
}

void TkoParBitField::AssignDefault() {
  if (!HasDflt()) return;
  Register->AssignDefault(Index, Mask);
  NotifyChange();
}

uint32_t TkoParBitField::Compact(uint32_t value) const {
  uint32_t result = 0;
  for (int p = 31; p >= 0; --p) {
    if (Mask & (1u << p)) result = (result << 1) | ((value >> p) & 1u);
  }
  return result;
}

uint32_t TkoParBitField::Expand(uint32_t value) const {
  uint32_t result = 0;
  for (int p = 0; p < 32; ++p) {
    if (Mask & (1u << p)) {
      result |= (value & 1u) << p;
      value >>= 1;
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------

TkoParBoolField::TkoParBoolField(TkoRegister* reg, int bit, int index)
    : TkoParBitField(reg, (bit >= 0 && bit < 32) ? (1u << bit) : 0u, index),
      Bit(static_cast<uint8_t>(bit)) {}

bool TkoParBoolField::GetDfltBool() const {
  return TkoParBitField::GetDfltField() != 0;
}

bool TkoParBoolField::GetBool() const {
  if (!Register) return GetDfltBool();
  return Register->GetValueBit(Index, Bit);
}

void TkoParBoolField::SetBool(bool state) {
  if (!Register) return;
  Register->SetValueBit(Index, Bit, state);
  NotifyChange();
}

void TkoParBoolField::GetValueList(TkoParChoiceList* list, bool withLimits) const {
  if (!list || !Register) return;
  list->clear();
  if (withLimits && HasDflt()) list->push_back({GetDfltString() + " (dflt)", kParTagDflt});
  if (!list->empty()) list->push_back({kParSeparatorText, kParTagSeparator});
  list->push_back({GetMinString(), 0});
  list->push_back({GetMaxString(), 1});
}
