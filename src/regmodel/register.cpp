#include "regmodel/register.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/koexception.h"
#include "regmodel/numberformat.h"
#include "regmodel/regdefslist.h"
#include "regmodel/textresource.h"

namespace {

// Truncates toward zero into the 64-bit range; NaN gives false.
bool TruncToInt64(double x, std::int64_t& out) {
  if (std::isnan(x)) return false;
  constexpr double kMax = 9.2e18;
  x = std::clamp(x, -kMax, kMax);
  out = static_cast<std::int64_t>(std::trunc(x));
  return true;
}

std::string Pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// "%ld" / "%lu" on one comma-list item.
bool ScanItem(const std::string& item, bool isSigned, std::int32_t& out) {
  std::size_t i = 0;
  while (i < item.size() && static_cast<unsigned char>(item[i]) <= ' ') ++i;
  bool neg = false;
  if (i < item.size() && (item[i] == '+' || item[i] == '-')) neg = item[i++] == '-';
  std::size_t first = i;
  std::int64_t v = 0;
  for (; i < item.size() && item[i] >= '0' && item[i] <= '9'; ++i)
    v = std::min<std::int64_t>(v * 10 + (item[i] - '0'), 0x1'0000'0000LL);
  if (i == first) return false;
  if (isSigned) {
    v = std::clamp<std::int64_t>(neg ? -v : v, INT32_MIN, INT32_MAX);
    out = static_cast<std::int32_t>(v);
  } else {
    v = std::min<std::int64_t>(v, 0xFFFFFFFFLL);
    std::uint32_t u = static_cast<std::uint32_t>(v);
    out = static_cast<std::int32_t>(neg ? 0u - u : u);  // as "%lu" reads a minus sign
  }
  return true;
}

}  // namespace

// --- TkoRegBound -----------------------------------------------------------------------

double TkoRegBound::GetBound(std::int32_t index) const {
  double v = Value;
  if (Source) {
    const double s = Source->GetValueDouble(index);
    if ((Kind == kMaximum && Mode == kTighter) || (Kind == kMinimum && Mode == kLooser))
      v = s >= Value ? Value : s;
    else if ((Kind == kMaximum && Mode == kLooser) || (Kind == kMinimum && Mode == kTighter))
      v = s > Value ? s : Value;
    else
      v = s;
  }
  return (Kind == kMinimum || Kind == kMaximum ? Offset : 0.0) + v;
}

// --- TkoRegister -----------------------------------------------------------------------

TkoRegister::TkoRegister(TkoRegDataBuffer* buffer, const TkoRegDefinition* definition,
                         TkoThreadBuffer& image, std::int32_t byteOffset)
    : buffer_(buffer), def_(definition) {
  if (!def_) throw EkoException("TkoRegister: You must specify a valid register definition!");
  const std::int32_t size = def_->TotalBytes();
  if (size > 0) {
    view_ = image.CreateView(byteOffset, size);
    if (!view_)
      throw EkoException("TkoRegister: Register " + def_->Name +
                         " does not fit in the register image!");
  }
  if (def_->HasMax) max_ = std::make_unique<TkoRegBound>(TkoRegBound::kMaximum, def_->MaxValue);
  if (def_->HasMin) min_ = std::make_unique<TkoRegBound>(TkoRegBound::kMinimum, def_->MinValue);
  if (def_->HasDflt) dflt_ = std::make_unique<TkoRegBound>(TkoRegBound::kDefault, def_->DfltValue);
  hasBounds_ = def_->HasMax || def_->HasMin;
}

TkoRegister::TkoRegister(TkoRegDataBuffer* buffer, const TkoRegDefinition* definition,
                         TkoThreadBuffer& image, const TkoRegDefsList& list)
    : TkoRegister(buffer, definition, image,
                  definition ? list.ByteOffset(definition->Address) : 0) {}

TkoRegister::~TkoRegister() = default;

void TkoRegister::CheckIndex(std::int32_t index, const char* message) const {
  if (index < 0 || index >= def_->Length) throw EkoException(message);
}

std::uint32_t TkoRegister::ReadElement(const std::uint8_t* d, std::int32_t i) const {
  switch (def_->SizeCode()) {
    case TkoRegDefinition::kSizeByte:
      return d[2 * i + 1];
    case TkoRegDefinition::kSizeLong: {
      const std::uint8_t* p = d + 4 * i;
      return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
             p[3];
    }
    default:
      return std::uint32_t{d[2 * i]} << 8 | d[2 * i + 1];
  }
}

void TkoRegister::StoreElement(std::uint8_t* d, std::int32_t i, std::uint32_t v) const {
  switch (def_->SizeCode()) {
    case TkoRegDefinition::kSizeByte:
      d[2 * i] = 0;
      d[2 * i + 1] = static_cast<std::uint8_t>(v);
      break;
    case TkoRegDefinition::kSizeLong: {
      std::uint8_t* p = d + 4 * i;
      p[0] = static_cast<std::uint8_t>(v >> 24);
      p[1] = static_cast<std::uint8_t>(v >> 16);
      p[2] = static_cast<std::uint8_t>(v >> 8);
      p[3] = static_cast<std::uint8_t>(v);
      break;
    }
    default:
      d[2 * i] = static_cast<std::uint8_t>(v >> 8);
      d[2 * i + 1] = static_cast<std::uint8_t>(v);
  }
}

std::int32_t TkoRegister::ElementValue(const std::uint8_t* d, std::int32_t i) const {
  const std::uint32_t raw = ReadElement(d, i);
  if (!def_->IsSigned()) return static_cast<std::int32_t>(raw);
  switch (def_->SizeCode()) {
    case TkoRegDefinition::kSizeByte:
      return static_cast<std::int8_t>(raw);
    case TkoRegDefinition::kSizeLong:
      return static_cast<std::int32_t>(raw);
    default:
      return static_cast<std::int16_t>(raw);
  }
}

void TkoRegister::AfterWrite(bool changed) {
  changed_ = changed;
  if (OnAfterWrite) OnAfterWrite(this, changed);
}

std::int32_t TkoRegister::GetValueInteger(std::int32_t index) const {
  if (def_->IsDate() || def_->IsTime()) throw EkoException("GetValueInteger: Wrong data type!");
  CheckIndex(index, "GetValueInteger: Index out of range!");
  TkoThreadBuffer::ReadAccess r(*view_);
  return ElementValue(r.data(), index);
}

double TkoRegister::GetValueDouble(std::int32_t index) const {
  if (def_->IsString()) throw EkoException("GetValueDouble: Wrong data type!");
  CheckIndex(index, "GetValueDouble: Index out of range!");
  double raw;
  if (def_->IsDate() || def_->IsTime())
    raw = GetValueDateTime(index);
  else if (def_->IsSigned())
    raw = GetValueInteger(index);
  else
    raw = static_cast<std::uint32_t>(GetValueInteger(index));
  return raw / def_->FormatNorm + def_->FormatOffset;
}

double TkoRegister::GetValueDateTime(std::int32_t index) const {
  if (!def_->IsDate() && !def_->IsTime()) throw EkoException("GetValueDateTime: Wrong data type!");
  CheckIndex(index, "GetValueDateTime: Index out of range.");
  int b0, b1, b2;
  {
    TkoThreadBuffer::ReadAccess r(*view_);
    const std::uint8_t* p = r.data() + 6 * index;
    b0 = p[1];
    b1 = p[3];
    b2 = p[5];
  }
  double dt = def_->IsTime() ? vx::EncodeTime(b2, b1, b0, 0)
                             : vx::EncodeDate(b2 <= 50 ? b2 + 2000 : b2 + 1900, b1, b0);
  return std::isnan(dt) ? vx::Now() : dt;
}

bool TkoRegister::GetValueBit(std::int32_t index, std::int32_t bit) const {
  if (bit < 0 || bit >= def_->ElementBytes() * 8)
    throw EkoException("GetValueBit: Bit index out of range.");
  return (static_cast<std::uint32_t>(GetValueInteger(index)) >> bit) & 1u;
}

std::int32_t TkoRegister::GetValueMasked(std::int32_t index, std::uint32_t mask) const {
  if (!def_->IsNumeric()) throw EkoException("GetValueMasked: Wrong data type!");
  std::uint32_t v = static_cast<std::uint32_t>(GetValueInteger(index));
  return static_cast<std::int32_t>(mask ? v & mask : v);
}

std::string TkoRegister::GetValueString(std::int32_t index, std::uint32_t mask) const {
  if (def_->IsBool()) return def_->GetValueDescr(GetValueMasked(index, mask), index, true, mask);
  if (def_->IsDate() || def_->IsTime())
    return vx::FormatDateTime(def_->FormatString, GetValueDateTime(index));
  if (def_->IsString()) {
    std::string s(def_->Length, '\0');
    if (view_) {
      TkoThreadBuffer::ReadAccess r(*view_);
      for (std::size_t j = 0; j < s.size(); ++j) s[j] = static_cast<char>(r.data()[2 * j + 1]);
    }
    return s;
  }
  return vx::FormatFloat(def_->FormatString, GetValueDouble(index));
}

void TkoRegister::SetValueInteger(std::int32_t index, std::int32_t value) {
  if (def_->IsDate() || def_->IsTime()) throw EkoException("SetValueInteger: Wrong data type!");
  CheckIndex(index, "SetValueInteger: Index out of range!");
  StoreClamped(index, def_->IsSigned() ? std::int64_t{value}
                                       : std::int64_t{static_cast<std::uint32_t>(value)});
}

// Clamps to the type's range and, when the register has bounds, to them; then stores.
void TkoRegister::StoreClamped(std::int32_t index, std::int64_t v) {
  const int bits = def_->ElementBytes() * 8;
  const bool isSigned = def_->IsSigned();
  const std::int64_t typeLo = isSigned ? -(std::int64_t{1} << (bits - 1)) : 0;
  const std::int64_t typeHi =
      isSigned ? (std::int64_t{1} << (bits - 1)) - 1 : (std::int64_t{1} << bits) - 1;
  v = std::clamp(v, typeLo, typeHi);
  if (hasBounds_) {
    // Bounds are compared numerically: a negative minimum on an unsigned register means
    // no lower limit rather than a huge unsigned one.
    std::int64_t b;
    if (min_ && TruncToInt64((min_->GetBound(index) - def_->FormatOffset) * def_->FormatNorm, b) &&
        v < b)
      v = b;
    if (max_ && TruncToInt64((max_->GetBound(index) - def_->FormatOffset) * def_->FormatNorm, b) &&
        v > b)
      v = b;
    v = std::clamp(v, typeLo, typeHi);
  }
  bool changed;
  {
    TkoThreadBuffer::WriteAccess w(*view_);
    const std::int32_t eb = def_->ElementBytes();
    std::uint8_t before[4];
    std::memcpy(before, w.data() + eb * index, static_cast<std::size_t>(eb));
    StoreElement(w.data(), index, static_cast<std::uint32_t>(v));
    changed = std::memcmp(before, w.data() + eb * index, static_cast<std::size_t>(eb)) != 0;
  }
  AfterWrite(changed);
}

void TkoRegister::SetValueDouble(std::int32_t index, double value) {
  if (def_->IsString()) throw EkoException("SetValueDouble: Wrong data type!");
  const double raw = (value - def_->FormatOffset) * def_->FormatNorm;
  if (def_->IsDate() || def_->IsTime()) return SetValueDateTime(index, raw);
  CheckIndex(index, "SetValueInteger: Index out of range!");
  std::int64_t t;
  if (!TruncToInt64(raw, t)) return;  // NaN: nothing sensible to store
  if (!def_->IsSigned() && t < 0)
    t = 0xFFFFFFFFLL;  // negative values end at the maximum, as with SetValueInteger
  StoreClamped(index, t);
}

void TkoRegister::SetValueDateTime(std::int32_t index, double dateTime) {
  if (!def_->IsDate() && !def_->IsTime()) throw EkoException("SetValueDateTime: Wrong data type!");
  CheckIndex(index, "SetValueDateTime: Index out of range.");
  int y, mo, d, h, mi, s, ms;
  if (!vx::DecodeDateTime(dateTime, y, mo, d, h, mi, s, ms)) return;
  const int w[3] = {def_->IsTime() ? s : d, def_->IsTime() ? mi : mo, def_->IsTime() ? h : y % 100};
  bool changed = false;
  {
    TkoThreadBuffer::WriteAccess a(*view_);
    std::uint8_t* p = a.data() + 6 * index;
    for (int k = 0; k < 3; ++k) {
      const std::uint8_t hi = 0, lo = static_cast<std::uint8_t>(w[k]);
      changed = changed || p[2 * k] != hi || p[2 * k + 1] != lo;
      p[2 * k] = hi;
      p[2 * k + 1] = lo;
    }
  }
  AfterWrite(changed);
}

void TkoRegister::SetValueBit(std::int32_t index, std::int32_t bit, bool state) {
  if (def_->IsDate() || def_->IsTime()) throw EkoException("SetValueBit: Wrong data type!");
  CheckIndex(index, "SetValueBit: Index out of range!");
  if (bit < 0 || bit >= def_->ElementBytes() * 8)
    throw EkoException("SetValueBit: Bit index out of range.");
  bool changed;
  {
    TkoThreadBuffer::WriteAccess w(*view_);
    // Compared byte by byte: storing a byte register also clears its high byte.
    const std::int32_t eb = def_->ElementBytes();
    std::uint8_t old[4];
    std::memcpy(old, w.data() + eb * index, static_cast<std::size_t>(eb));
    const std::uint32_t before = ReadElement(w.data(), index);
    const std::uint32_t m = 1u << bit;
    StoreElement(w.data(), index, state ? before | m : before & ~m);
    changed = std::memcmp(old, w.data() + eb * index, static_cast<std::size_t>(eb)) != 0;
  }
  AfterWrite(changed);
}

void TkoRegister::SetValueMasked(std::int32_t value, std::int32_t index, std::uint32_t mask) {
  if (!def_->IsNumeric()) throw EkoException("SetValueMasked: Wrong data type!");
  if (mask) {
    const auto cur = static_cast<std::uint32_t>(GetValueInteger(index));
    value = static_cast<std::int32_t>((cur & ~mask) | (static_cast<std::uint32_t>(value) & mask));
  }
  SetValueInteger(index, value);
}

void TkoRegister::SetValueString(const std::string& text, std::int32_t index, std::uint32_t mask) {
  if (def_->IsBool()) {
    std::int32_t v;
    if (TextToInteger(text, v)) SetValueMasked(v, index, mask);
    return;
  }
  if (def_->IsDate() || def_->IsTime()) {
    const std::string t(vx::Trim(text));
    double dt;
    if (!vx::TextToDateTime(t, dt))
      throw EkoException("'" + t + "' is not a valid " + (def_->IsDate() ? "date" : "time"));
    SetValueDateTime(index, dt);
    return;
  }
  if (def_->IsString()) {
    const std::string_view t = vx::Trim(text);
    bool changed = false;
    if (view_) {
      TkoThreadBuffer::WriteAccess w(*view_);
      std::uint8_t* p = w.data();
      for (std::size_t j = 0; j < def_->Length; ++j) {
        const std::uint8_t lo = j < t.size() ? static_cast<std::uint8_t>(t[j]) : 0;
        changed = changed || p[2 * j] != 0 || p[2 * j + 1] != lo;
        p[2 * j] = 0;
        p[2 * j + 1] = lo;
      }
    }
    AfterWrite(changed);
    return;
  }
  double v;
  if (TextToFloat(text, v)) SetValueDouble(index, v);
}

void TkoRegister::AssignDefault(std::int32_t index, std::uint32_t mask) {
  if (def_->IsString()) throw EkoException("AssignDefault: Wrong data type!");
  if (!dflt_) return;
  if (index < 0) {
    for (std::int32_t i = 0; i < def_->Length; ++i) AssignDefault(i, mask);
    return;
  }
  if (def_->IsBool()) {
    std::int64_t raw = 0;
    (void)TruncToInt64((dflt_->GetBound(index) - def_->FormatOffset) * def_->FormatNorm, raw);
    const auto cur = static_cast<std::uint32_t>(GetValueInteger(index));
    SetValueInteger(
        index, static_cast<std::int32_t>((cur & ~mask) | (static_cast<std::uint32_t>(raw) & mask)));
    return;
  }
  SetValueDouble(index, dflt_->GetBound(index));
}

void TkoRegister::SetLimits(double min, double max, double minOffset, double maxOffset) {
  if (!min_) min_ = std::make_unique<TkoRegBound>(TkoRegBound::kMinimum, 0.0);
  min_->Value = min;
  min_->Offset = minOffset;
  if (!max_) max_ = std::make_unique<TkoRegBound>(TkoRegBound::kMaximum, 0.0);
  max_->Value = max;
  max_->Offset = maxOffset;
}

void TkoRegister::SetLinkedLimits(TkoRegister* minSource, TkoRegister* maxSource, double minOffset,
                                  double maxOffset) {
  if (!min_) min_ = std::make_unique<TkoRegBound>(TkoRegBound::kMinimum, 0.0);
  min_->Source = minSource;
  min_->Offset = minOffset;
  if (!max_) max_ = std::make_unique<TkoRegBound>(TkoRegBound::kMaximum, 0.0);
  max_->Source = maxSource;
  max_->Offset = maxOffset;
}

bool TkoRegister::IsAllZero() const {
  if (!view_) return true;
  TkoThreadBuffer::ReadAccess r(*view_);
  return std::all_of(r.data(), r.data() + view_->Size(), [](std::uint8_t b) { return b == 0; });
}

void TkoRegister::Report(std::vector<std::string>* list) const {
  if (!list) return;
  if (def_->IsString()) {
    list->push_back(def_->GetDescr(-1, 0) + ":");
    std::string line = "\t";
    line += GetValueString(-1, 0);
    list->push_back(std::move(line));
    return;
  }
  for (std::int32_t i = 0; i < def_->Length; ++i) {
    if (def_->IsBool()) {
      list->push_back(Pad(def_->GetDescr(i, 0), 25) + ":");
      for (std::int32_t b = 0; b < def_->ElementBytes() * 8; ++b) {
        const std::uint32_t m = 1u << b;
        const std::string d = def_->GetDescr(i, m);
        if (d.empty()) continue;
        char num[16];
        std::snprintf(num, sizeof num, "%02d", b);
        list->push_back(std::string("\t[") + num + "] " + Pad(d, 25) + ": " + GetValueString(i, m));
      }
    } else {
      list->push_back(Pad(def_->GetDescr(i, 0), 25) + ": " + GetValueString(i, 0));
    }
  }
}

void TkoRegister::SaveToResource(const std::string& section, TkoTextResource* resource) const {
  if (!resource) return;
  std::string text;
  if (def_->IsString()) {
    text = GetValueString(-1, 0);
    text.resize(std::strlen(text.c_str()));
  } else if (def_->IsDate() || def_->IsTime()) {
    if (def_->Length == 1) {
      text = GetValueString(0, 0);
    } else {
      for (std::int32_t i = 0; i < def_->Length; ++i)
        text += (i ? ",\"" : "\"") + GetValueString(i, 0) + "\"";
    }
  } else {
    char buf[24];
    for (std::int32_t i = 0; i < def_->Length; ++i) {
      const std::int32_t v = GetValueInteger(i);
      if (def_->IsSigned())
        std::snprintf(buf, sizeof buf, i ? ",\"%d\"" : "\"%d\"", v);
      else
        std::snprintf(buf, sizeof buf, i ? ",\"%u\"" : "\"%u\"", static_cast<std::uint32_t>(v));
      text += buf;
    }
  }
  // Arrays are written without a further pair of enclosing quotes, so that the comma
  // list reads back into the same elements.
  resource->WriteString(section, def_->Name, text);
}

bool TkoRegister::LoadFromResource(const std::string& section, TkoTextResource* resource,
                                   std::vector<TkoLoadIssue>* issues) {
  if (!resource) return false;
  if (!def_->IsString()) AssignDefault(-1, 0);  // strings have no default
  if (!resource->FindKey(section, def_->Name)) return false;
  std::string value = resource->ReadString(section, def_->Name, std::string());
  auto note = [&](std::int32_t element, std::string fileValue, std::string kept, const char* why) {
    if (issues)
      issues->push_back(
          TkoLoadIssue{def_->Name, element, std::move(fileValue), std::move(kept), why});
  };
  if (def_->IsString()) {
    SetValueString(value, -1, 0);
    const std::string_view t = vx::Trim(value);
    if (t.size() > static_cast<std::size_t>(def_->Length))
      note(0, std::string(t), GetValueString(-1, 0), "too long, cut");
    return true;
  }
  std::string_view t = vx::Trim(value);
  if (t.empty()) return false;
  // An array written inside one more pair of quotes: drop that pair.
  if (def_->Length > 1 && t.size() >= 4 && t.substr(0, 2) == "\"\"" &&
      t.substr(t.size() - 2) == "\"\"")
    t = t.substr(1, t.size() - 2);
  std::vector<std::string> items;
  if ((def_->IsDate() || def_->IsTime()) && def_->Length == 1 && t.front() != '"')
    items.emplace_back(t);  // a single date or time may hold a blank ("30/12/1899 12:00:00")
  else
    items = vx::SplitCommaList(t);
  const std::size_t n = std::min<std::size_t>(def_->Length, items.size());
  for (std::size_t j = 0; j < n; ++j) {
    const auto idx = static_cast<std::int32_t>(j);
    if (def_->IsDate() || def_->IsTime()) {
      try {
        SetValueString(items[j], idx, 0);
      } catch (const EkoException&) {
        // An unreadable date keeps the default, like an unreadable number.
        note(idx, items[j], GetValueString(idx, 0),
             def_->IsDate() ? "not a date, default kept" : "not a time, default kept");
      }
      continue;
    }
    std::int32_t v;
    if (!ScanItem(items[j], def_->IsSigned(), v)) {
      note(idx, items[j], GetValueString(idx, 0), "not a number, default kept");
      continue;
    }
    SetValueInteger(idx, v);
    if (!issues) continue;
    // The value as written, sign included, against the value the register took.
    const long long written = std::strtoll(std::string(vx::Trim(items[j])).c_str(), nullptr, 10);
    const long long kept =
        def_->IsSigned() ? GetValueInteger(idx)
                         : static_cast<long long>(static_cast<std::uint32_t>(GetValueInteger(idx)));
    if (written == kept) continue;
    const std::string shown =
        def_->IsBool()
            ? std::to_string(written)
            : vx::FormatFloat(def_->FormatString,
                              static_cast<double>(written) / def_->FormatNorm + def_->FormatOffset);
    note(idx, shown, GetValueString(idx, 0),
         written > kept ? "above the maximum" : "below the minimum");
  }
  // Elements the file does not give keep their default.
  for (std::size_t j = n; j < static_cast<std::size_t>(def_->Length); ++j)
    note(static_cast<std::int32_t>(j), std::string(),
         GetValueString(static_cast<std::int32_t>(j), 0), "not in the file, default kept");
  return true;
}
