#include "params/parvalue.h"

#include <cmath>
#include <limits>

#include "regmodel/numberformat.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefinition.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace vx {

int64_t TruncToInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
  if (value <= -9.2e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

int32_t ReadRegisterNow(TkoRegister* reg) {
  if (!reg || !reg->Buffer()) return 0;
  return reg->Buffer()->ReadReg(reg, true);
}

int32_t WriteRegisterNow(TkoRegister* reg) {
  if (!reg || !reg->Buffer()) return 0;
  return reg->Buffer()->WriteReg(reg, true);
}

}  // namespace vx

TkoParValue::TkoParValue(TkoRegister* reg, int index)
    : Index(static_cast<uint8_t>(index)), Register(reg) {}

bool TkoParValue::HasMax() const {
  return Register && Register->MaxBound();
}
bool TkoParValue::HasMin() const {
  return Register && Register->MinBound();
}
bool TkoParValue::HasDflt() const {
  return Register && Register->DfltBound();
}

// The register's own bounds, tested directly: kinds that answer Has* otherwise (a bit
// field always has limits, a 2-D point takes them from either register) still reach here.
double TkoParValue::GetMax() const {
  return (Register && Register->MaxBound()) ? Register->MaxBound()->GetBound(Index) : 0.0;
}
double TkoParValue::GetMin() const {
  return (Register && Register->MinBound()) ? Register->MinBound()->GetBound(Index) : 0.0;
}
double TkoParValue::GetDflt() const {
  return (Register && Register->DfltBound()) ? Register->DfltBound()->GetBound(Index) : 0.0;
}

std::string TkoParValue::FormatNumber(double value) const {
  return vx::FormatFloat(Register->Definition()->FormatString, value);
}

std::string TkoParValue::GetMaxString() const {
  return HasMax() ? FormatNumber(GetMax()) : "";
}
std::string TkoParValue::GetMinString() const {
  return HasMin() ? FormatNumber(GetMin()) : "";
}
std::string TkoParValue::GetDfltString() const {
  return HasDflt() ? FormatNumber(GetDflt()) : "";
}

void TkoParValue::SetValue(double value) {
  if (!Register) return;
  Register->SetValueDouble(Index, value);
  NotifyChange();
}

double TkoParValue::GetValue() const {
  return Register ? Register->GetValueDouble(Index) : 0.0;
}

std::string TkoParValue::GetDescr() const {
  return Register ? Register->Definition()->GetDescr(Index, 0) : std::string();
}

std::string TkoParValue::GetValueString() const {
  return Register ? Register->GetValueString(Index, 0) : std::string();
}

void TkoParValue::SetValueString(const std::string& text) {
  if (!Register) return;
  Register->SetValueString(text, Index, 0);
  NotifyChange();
}

bool TkoParValue::IsChanged() const {
  return Register && Register->Changed();
}

void TkoParValue::AssignDefault() {
  if (!Register) return;
  Register->AssignDefault(Index, 0);
  NotifyChange();
}

void TkoParValue::AppendLimits(TkoParChoiceList* list) const {
  if (HasDflt()) list->push_back({GetDfltString() + " (dflt)", kParTagDflt});
  if (HasMin()) list->push_back({GetMinString() + " (min)", kParTagMin});
  if (HasMax()) list->push_back({GetMaxString() + " (max)", kParTagMax});
}

void TkoParValue::GetValueList(TkoParChoiceList* list, bool withLimits) const {
  if (!list || !Register) return;
  list->clear();
  if (withLimits) AppendLimits(list);
}

void TkoParValue::Report(std::vector<std::string>* lines) const {
  if (!lines || !Register) return;
  const std::string descr = GetDescr();
  // Right-aligned in 40 characters, longer descriptions kept whole.
  std::string line = descr.size() < 40 ? std::string(40 - descr.size(), ' ') + descr : descr;
  line += ": ";
  line += GetValueString();
  lines->push_back(std::move(line));
}

int32_t TkoParValue::ReadNow() {
  return vx::ReadRegisterNow(Register);
}
int32_t TkoParValue::WriteNow() {
  return vx::WriteRegisterNow(Register);
}

TkoRegDataBuffer* TkoParValue::GetDevice() const {
  return Register ? Register->Buffer() : nullptr;
}

void TkoParValue::NotifyChange() {
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------

TkoParLong::TkoParLong(TkoRegister* low, int index, TkoRegister* high)
    : TkoParValue(low, index), HighRegister(high) {}

namespace {

TkoRegBound* BoundOf(const TkoRegister* reg, int kind) {
  if (!reg) return nullptr;
  switch (kind) {
    case 0:
      return reg->MaxBound();
    case 1:
      return reg->MinBound();
    default:
      return reg->DfltBound();
  }
}

}  // namespace

bool TkoParLong::HasBoth(BoundKind kind) const {
  if (!Register) return false;
  const int k = static_cast<int>(kind);
  if (!BoundOf(Register, k)) return false;
  return !HighRegister || BoundOf(HighRegister, k);
}

uint32_t TkoParLong::Combined(BoundKind kind) const {
  const int k = static_cast<int>(kind);
  auto half = [&](const TkoRegister* reg) -> uint32_t {
    TkoRegBound* b = BoundOf(reg, k);
    return b ? static_cast<uint32_t>(vx::TruncToInt64(b->GetBound(Index))) & 0xFFFFu : 0u;
  };
  return half(Register) | (half(HighRegister) << 16);
}

bool TkoParLong::HasMax() const {
  return HasBoth(BoundKind::Max);
}
bool TkoParLong::HasMin() const {
  return HasBoth(BoundKind::Min);
}
bool TkoParLong::HasDflt() const {
  return HasBoth(BoundKind::Dflt);
}
double TkoParLong::GetMax() const {
  return Register ? Combined(BoundKind::Max) : 0.0;
}
double TkoParLong::GetMin() const {
  return Register ? Combined(BoundKind::Min) : 0.0;
}
double TkoParLong::GetDflt() const {
  return Register ? Combined(BoundKind::Dflt) : 0.0;
}

// The long bounds are shown whether or not both halves have them, like the value: raw.
std::string TkoParLong::GetMaxString() const {
  return Register ? FormatNumber(GetMax()) : "";
}
std::string TkoParLong::GetMinString() const {
  return Register ? FormatNumber(GetMin()) : "";
}
std::string TkoParLong::GetDfltString() const {
  return Register ? FormatNumber(GetDflt()) : "";
}

uint32_t TkoParLong::GetLong() const {
  if (!Register) return 0;
  uint32_t v = static_cast<uint32_t>(Register->GetValueInteger(Index)) & 0xFFFFu;
  if (HighRegister) v |= static_cast<uint32_t>(HighRegister->GetValueInteger(Index)) << 16;
  return v;
}

void TkoParLong::SetLong(uint32_t value) {
  if (!Register) return;
  Register->SetValueInteger(Index, static_cast<int32_t>(value & 0xFFFFu));
  if (HighRegister) HighRegister->SetValueInteger(Index, static_cast<int32_t>(value >> 16));
  NotifyChange();
}

void TkoParLong::SetValue(double value) {
  SetLong(static_cast<uint32_t>(vx::TruncToInt64(value)));
}

double TkoParLong::GetValue() const {
  return static_cast<int32_t>(GetLong());
}

std::string TkoParLong::GetValueString() const {
  return Register ? FormatNumber(static_cast<int32_t>(GetLong())) : "";
}

void TkoParLong::SetValueString(const std::string& text) {
  int32_t v = 0;
  if (Register && TextToInteger(text, v)) SetLong(static_cast<uint32_t>(v));
}

bool TkoParLong::IsChanged() const {
  return (Register && Register->Changed()) || (HighRegister && HighRegister->Changed());
}

void TkoParLong::AssignDefault() {
  if (!Register) return;
  Register->AssignDefault(Index, 0);
  if (HighRegister) HighRegister->AssignDefault(Index, 0);
  NotifyChange();
}

int32_t TkoParLong::ReadNow() {
  const int32_t rc = vx::ReadRegisterNow(Register);
  return (rc == 0 && Register && HighRegister) ? vx::ReadRegisterNow(HighRegister) : rc;
}

int32_t TkoParLong::WriteNow() {
  const int32_t rc = vx::WriteRegisterNow(Register);
  return (rc == 0 && Register && HighRegister) ? vx::WriteRegisterNow(HighRegister) : rc;
}
