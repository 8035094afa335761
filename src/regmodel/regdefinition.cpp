#include "regmodel/regdefinition.h"

#include <cstdio>

#include "platform/koexception.h"
#include "regmodel/textresource.h"

namespace {

bool StartsWithDescr(const std::string& s) {
  return s.compare(0, 5, "Descr") == 0;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

}  // namespace

TkoRegDefinition::TkoRegDefinition() {
  Clear();
}

TkoRegDefinition::TkoRegDefinition(std::uint16_t address, TkoTextResource* resource) {
  Load(address, resource);
}

void TkoRegDefinition::Clear() {
  UseDefinition.clear();
  UseFormat.clear();
  UseDescr.clear();
  Address = 0;
  EEPromCopy = 0;
  Name.clear();
  type_ = 0;
  Length = 1;
  HasMax = HasMin = HasDflt = false;
  MaxValue = MinValue = DfltValue = 0.0;
  descr_.clear();
  FormatNorm = 1.0;
  FormatOffset = 0.0;
  FormatString.clear();
  FormatPrintf.clear();
}

bool TkoRegDefinition::Load(std::uint16_t address, TkoTextResource* resource) {
  Clear();
  Address = address;
  EEPromCopy = address;
  Name = "Reg" + std::to_string(address);
  if (!resource) return true;
  const std::string section = std::to_string(address);
  EEPromCopy = static_cast<std::uint16_t>(resource->ReadRelInteger(section, "EEPromCopy", address));
  LoadDefinition(section, resource);
  return true;
}

bool TkoRegDefinition::Enter(Path& path, TkoTextResource* resource) {
  // The resource's cursor is on the header just found: (resource, line) names the section.
  if (static_cast<int>(path.size()) >= kMaxRedirectDepth) return false;
  for (const PathEntry& e : path)
    if (e.resource == resource && e.line == resource->CurrentLine) return false;
  path.push_back({resource, resource->CurrentLine});
  return true;
}

bool TkoRegDefinition::Redirect(bool (TkoRegDefinition::*load)(const std::string&,
                                                               TkoTextResource*),
                                const std::string& target, TkoTextResource* resource) {
  if (target.empty()) return false;  // "[]" is never a section
  return (this->*load)(target, resource) || (this->*load)(target, resource->NextResource);
}

namespace {
template <class Path>
struct Leave {
  Path& path;
  ~Leave() { path.pop_back(); }
};
}  // namespace

bool TkoRegDefinition::LoadDefinition(const std::string& section, TkoTextResource* resource) {
  if (!resource || !resource->FindSection(section) || !Enter(defPath_, resource)) return false;
  Leave<Path> leave{defPath_};
  const std::string use = resource->ReadString(section, "UseDefinition", std::string());
  if (Redirect(&TkoRegDefinition::LoadDefinition, use, resource)) UseDefinition = use;
  Name = resource->ReadString(section, "Name", Name);
  ParseType(resource->ReadString(section, "Type", TypeText()));
  Length = static_cast<std::uint8_t>(resource->ReadInteger(section, "Length", Length));
  if (IsNumeric()) {
    // A present key sets its flag even when its number does not parse.
    auto limit = [&](const char* key, bool& has, double& value) {
      if (!resource->FindKey(section, key)) return;
      has = true;
      (void)TextToFloat(resource->GetKeyValue(resource->CurrentLine), value);
    };
    limit("MaxValue", HasMax, MaxValue);
    limit("MinValue", HasMin, MinValue);
    limit("DfltValue", HasDflt, DfltValue);
  }
  LoadDescr(section, resource);
  LoadFormat(section, resource);
  return true;
}

bool TkoRegDefinition::LoadFormat(const std::string& section, TkoTextResource* resource) {
  if (!resource || !resource->FindSection(section) || !Enter(fmtPath_, resource)) return false;
  Leave<Path> leave{fmtPath_};
  const std::string use = resource->ReadString(section, "UseFormat", std::string());
  if (Redirect(&TkoRegDefinition::LoadFormat, use, resource))
    UseFormat = use;
  else
    FormatPrintf = IsNumeric() ? "%d" : "%s";
  FormatNorm = resource->ReadFloat(section, "FormatNorm", FormatNorm);
  FormatOffset = resource->ReadFloat(section, "FormatOffset", FormatOffset);
  FormatString = resource->ReadString(section, "FormatString", FormatString);
  FormatPrintf = resource->ReadString(section, "FormatPrintf", FormatPrintf);
  return true;
}

bool TkoRegDefinition::LoadDescr(const std::string& section, TkoTextResource* resource) {
  if (!resource || !resource->FindSection(section) || !Enter(descrPath_, resource)) return false;
  Leave<Path> leave{descrPath_};
  const std::string use = resource->ReadString(section, "UseDescr", std::string());
  if (Redirect(&TkoRegDefinition::LoadDescr, use, resource)) UseDescr = use;
  std::vector<std::string> lines;
  resource->ReadSectionValues(section, &lines);
  std::vector<std::string> seen;  // a repeated key: its first occurrence counts
  for (const std::string& line : lines) {
    if (!StartsWithDescr(line)) continue;
    std::size_t eq = line.find('=');
    std::string name = line.substr(0, eq);
    bool dup = false;
    for (const std::string& s : seen)
      if (vx::EqualsIgnoreCase(s, name)) dup = true;
    if (dup) continue;
    seen.push_back(name);
    SetDescr(name, line.substr(eq + 1));
  }
  return true;
}

bool TkoRegDefinition::Assign(const TkoRegDefinition* source, std::int32_t address,
                              const std::string& name) {
  if (!source) return false;
  Clear();
  UseDefinition = source->UseDefinition;
  UseFormat = source->UseFormat;
  UseDescr = source->UseDescr;
  Address = address < 0 ? source->Address : static_cast<std::uint16_t>(address);
  EEPromCopy = source->EEPromCopy;
  Name = name.empty() ? source->Name : name;
  type_ = source->type_;
  Length = source->Length;
  HasMax = source->HasMax;
  MaxValue = source->MaxValue;
  HasMin = source->HasMin;
  MinValue = source->MinValue;
  HasDflt = source->HasDflt;
  DfltValue = source->DfltValue;
  descr_ = source->descr_;
  FormatNorm = source->FormatNorm;
  FormatOffset = source->FormatOffset;
  FormatString = source->FormatString;
  FormatPrintf = source->FormatPrintf;
  return true;
}

void TkoRegDefinition::SetType(std::uint16_t type) {
  const std::uint16_t kind = type & 0xF0;
  if (kind == kDate || kind == kTime || kind == kString)
    type = static_cast<std::uint16_t>((type & ~0x07) | kSizeByte);
  type_ = type;
}

void TkoRegDefinition::ParseType(const std::string& text) {
  const std::string t = Lower(std::string(vx::Trim(text)));
  auto has = [&t](const char* w) { return t.find(w) != std::string::npos; };
  if (has("date")) return SetType(kDate | kSizeByte);
  if (has("time")) return SetType(kTime | kSizeByte);
  if (has("string")) return SetType(kString | kSizeByte);
  std::uint16_t kind = has("bool")                           ? kBool
                       : (!has("unsigned") && has("signed")) ? kSigned
                                                             : kUnsigned;
  std::uint16_t size = has("long") ? kSizeLong : has("byte") ? kSizeByte : kSizeShort;
  SetType(static_cast<std::uint16_t>(kind | size));
}

std::string TkoRegDefinition::TypeText() const {
  std::string size;
  switch (SizeCode()) {
    case kSizeByte:
      size = "byte";
      break;
    case kSizeShort:
      size = "short";
      break;
    case kSizeLong:
      size = "long";
      break;
    default:
      return "none";
  }
  switch (Kind()) {
    case kSigned:
      return "signed " + size;
    case kBool:
      return "bool " + size;
    case kDate:
      return "date";
    case kTime:
      return "time";
    case kString:
      return "string";
    default:
      return "unsigned " + size;
  }
}

std::int32_t TkoRegDefinition::ElementBytes() const {
  if (IsDate() || IsTime()) return 6;
  return SizeCode() == kSizeLong ? 4 : 2;
}

std::string TkoRegDefinition::FindDescr(const std::string& name) const {
  for (const auto& [n, v] : descr_)
    if (vx::EqualsIgnoreCase(n, name)) return v;
  return std::string();
}

void TkoRegDefinition::SetDescr(const std::string& name, const std::string& value) {
  for (auto it = descr_.begin(); it != descr_.end(); ++it) {
    if (!vx::EqualsIgnoreCase(it->first, name)) continue;
    if (value.empty())
      descr_.erase(it);
    else
      *it = {name, value};
    return;
  }
  if (!value.empty()) descr_.emplace_back(name, value);
}

std::string TkoRegDefinition::GetDescr(std::int32_t index, std::uint32_t mask) const {
  if (index >= Length) throw EkoException("SetValueDescr: Index out of range!");
  std::string text;
  if (index >= 0) {
    char buf[48];
    if (mask)
      std::snprintf(buf, sizeof buf, "Descr[%dm%X]", index, mask);
    else
      std::snprintf(buf, sizeof buf, "Descr[%d]", index);
    text = FindDescr(buf);
  }
  if (text.empty()) text = FindDescr("Descr");
  if (text.empty()) text = Name;
  return text;
}

std::string TkoRegDefinition::GetValueDescr(std::int32_t value, std::int32_t index, bool showNumber,
                                            std::uint32_t mask) const {
  if (index < 0 || index >= Length) throw EkoException("SetValueDescr: Index out of range!");
  char buf[64];
  if (IsSigned())
    std::snprintf(buf, sizeof buf, "Descr[%dm%Xv%d]", index, mask, value);
  else
    std::snprintf(buf, sizeof buf, "Descr[%dm%Xv%u]", index, mask,
                  static_cast<std::uint32_t>(value));
  std::string text = FindDescr(buf);
  if (text.empty() || text == "(null)") {
    std::snprintf(buf, sizeof buf, "Descr[%dm%Xv*]", index, mask);
    text = FindDescr(buf);
  }
  if (!text.empty() && text != "(null)") return text;
  if (!showNumber) return std::string();
  if (IsSigned())
    std::snprintf(buf, sizeof buf, "%d (%Xh)", value, static_cast<std::uint32_t>(value));
  else
    std::snprintf(buf, sizeof buf, "%u (%Xh)", static_cast<std::uint32_t>(value),
                  static_cast<std::uint32_t>(value));
  return buf;
}
