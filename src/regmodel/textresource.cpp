#include "regmodel/textresource.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "platform/atomicfile.h"
#include "platform/koexception.h"
#include "resources/embedded_texts.h"

namespace vx {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

std::string_view LineSectionName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.size() < 3 || t.front() != '[' || t.back() != ']') return {};
  return Trim(t.substr(1, t.size() - 2));
}

std::string_view LineKeyName(std::string_view line) {
  if (line.size() < 2 || line[0] == ';') return {};
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq == 0) return {};
  return Trim(line.substr(0, eq));
}

std::string_view LineKeyValue(std::string_view line) {
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq == 0) return {};
  std::string_view v = Trim(line.substr(eq + 1));
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = Trim(v.substr(1, v.size() - 2));
  return v;
}

char FoldCase(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
  // Windows-1252 upper-case letters: A-grave..THORN except the multiplication sign, and
  // S-caron, OE, Z-caron, Y-diaeresis.
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char>(u + 32);
  if (u == 0x8A || u == 0x8C || u == 0x8E) return static_cast<char>(u + 0x10);
  if (u == 0x9F) return static_cast<char>(0xFF);
  return c;
}

std::string FoldCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = FoldCase(c);
  return r;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

std::vector<std::string> SplitCommaList(std::string_view s) {
  std::vector<std::string> items;
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t i = 0, n = s.size();
  while (true) {
    while (i < n && blank(s[i])) ++i;
    if (i >= n) break;
    std::string item;
    if (s[i] == '"') {
      ++i;
      while (i < n) {
        if (s[i] == '"') {
          if (i + 1 < n && s[i + 1] == '"') {
            item.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item.push_back(s[i++]);
      }
    } else {
      while (i < n && !blank(s[i]) && s[i] != ',') item.push_back(s[i++]);
    }
    while (i < n && blank(s[i])) ++i;
    if (i < n && s[i] == ',') {
      ++i;
      while (i < n && blank(s[i])) ++i;
    }
    items.push_back(std::move(item));
  }
  return items;
}

bool FindBuiltinText(int resourceNumber, std::string_view& text) {
  std::string name = std::to_string(resourceNumber) + ".txt";
  const EmbeddedText* t = FindEmbeddedText(name.c_str());
  if (!t) return false;
  text = std::string_view(t->data, t->size);
  return true;
}

namespace {

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0, i = 0, n = text.size();
  while (i < n) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < n) lines.emplace_back(text.substr(start));
  return lines;
}

std::string ReadWholeFile(const std::string& fileName) {
  std::FILE* f = std::fopen(fileName.c_str(), "rb");
  if (!f) {
    int err = errno;
    throw EkoException("Cannot open file \"" + fileName + "\". " + std::strerror(err));
  }
  std::string data;
  char buf[64 * 1024];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) throw EkoException("Cannot read file \"" + fileName + "\".");
  return data;
}

bool BuiltinByName(const std::string& name, std::string_view& text) {
  const EmbeddedText* t = FindEmbeddedText(name.c_str());
  if (!t) t = FindEmbeddedText((name + ".txt").c_str());
  if (!t) return false;
  text = std::string_view(t->data, t->size);
  return true;
}

}  // namespace

bool ScanDecimal(std::string_view s, std::int64_t& out, std::size_t* end) {
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  std::size_t first = i;
  std::int64_t v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    v = v * 10 + (s[i] - '0');
    if (v > 0x80000000LL) return false;
    ++i;
  }
  if (i == first) return false;
  v = neg ? -v : v;
  if (v > std::numeric_limits<std::int32_t>::max()) return false;
  out = v;
  if (end) *end = i;
  return true;
}

namespace {

enum class Scan { kOk, kNone, kOverflow };

// sscanf("%lx")-like on 32 bits: optional sign, optional "0x", hex digits, rest ignored.
Scan ScanHex(std::string_view s, std::uint32_t& out) {
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
      std::isxdigit(static_cast<unsigned char>(s[i + 2])))
    i += 2;
  std::size_t first = i;
  std::uint64_t v = 0;
  while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i]))) {
    char c = s[i];
    int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    v = v * 16 + static_cast<unsigned>(d);
    if (v > 0xFFFFFFFFULL) return Scan::kOverflow;
    ++i;
  }
  if (i == first) return Scan::kNone;
  out = static_cast<std::uint32_t>(neg ? (0 - v) : v);
  return Scan::kOk;
}

bool AllBinaryDigits(std::string_view s) {
  return s.find_first_not_of("01") == std::string_view::npos;
}

// An optional sign and at least one hexadecimal digit, nothing else.
bool SignedHexDigits(std::string_view s) {
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
  return !s.empty() && s.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace
}  // namespace vx

bool BinaryToInteger(std::string_view text, std::int32_t& value) {
  std::uint32_t v = 0;
  for (char c : text) {
    if (c != '0' && c != '1') return false;
    if (v & 0x80000000u) return false;  // a set bit would fall off the 32 bits
    v = (v << 1) | static_cast<std::uint32_t>(c - '0');
  }
  value = static_cast<std::int32_t>(v);
  return true;
}

bool TextToInteger(std::string_view text, std::int32_t& value) {
  std::string s(vx::Trim(text));
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  const std::size_t n = s.size();
  // Digits that are well-formed but need more than 32 bits do not parse at all, rather
  // than falling through to the decimal reading of their first digit.
  const std::string_view sv(s);
  std::uint32_t h = 0;
  if (n > 2 && s[0] == '0') {
    if (s[1] == 'b') {
      if (BinaryToInteger(sv.substr(2), value)) return true;
      if (vx::AllBinaryDigits(sv.substr(2))) return false;
    }
    if (s[1] == 'x') {
      vx::Scan r = vx::ScanHex(sv.substr(2), h);
      if (r == vx::Scan::kOverflow) return false;
      if (r == vx::Scan::kOk) {
        value = static_cast<std::int32_t>(h);
        return true;
      }
    }
  } else if (n > 1) {
    if (s[n - 1] == 'b') {
      if (BinaryToInteger(sv.substr(0, n - 1), value)) return true;
      if (vx::AllBinaryDigits(sv.substr(0, n - 1))) return false;
    }
    // Only digits may stand before the "h": register names such as "ActualPosH" end in
    // "h" too, and their leading letters must not read as a number ("ac" = 172).
    if (s[n - 1] == 'h' && vx::SignedHexDigits(sv.substr(0, n - 1))) {
      vx::Scan r = vx::ScanHex(sv, h);
      if (r == vx::Scan::kOverflow) return false;
      if (r == vx::Scan::kOk) {
        value = static_cast<std::int32_t>(h);
        return true;
      }
    }
  }
  // "%ld.%ld": exactly one number must be read.
  std::int64_t v = 0;
  std::size_t end = 0;
  if (!vx::ScanDecimal(s, v, &end)) return false;
  if (end < n && s[end] == '.') {
    std::string_view rest = std::string_view(s).substr(end + 1);
    std::size_t i = 0;
    while (i < rest.size() && static_cast<unsigned char>(rest[i]) <= ' ') ++i;
    if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) ++i;
    if (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') return false;  // two numbers
  }
  value = static_cast<std::int32_t>(v);
  return true;
}

bool TextToFloat(std::string_view text, double& value) {
  std::int32_t i = 0;
  if (TextToInteger(text, i)) {
    value = i;
    return true;
  }
  std::string s(vx::Trim(text));
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  const char* b = s.data();
  const char* e = b + s.size();
  bool neg = false;
  if (b < e && (*b == '+' || *b == '-')) neg = *b++ == '-';
  if (b == e || !(std::isdigit(static_cast<unsigned char>(*b)) || *b == '.')) return false;
  double d = 0;
  auto r = std::from_chars(b, e, d, std::chars_format::general);
  if (r.ec != std::errc() || !std::isfinite(d)) return false;
  value = neg ? -d : d;
  return true;
}

// --- TkoTextResource ---------------------------------------------------------------------

TkoTextResource::TkoTextResource() {
  Reset();
}

TkoTextResource::TkoTextResource(int resourceNumber) {
  Reset();
  LoadResource(resourceNumber);
}

TkoTextResource::TkoTextResource(const std::string& fileName) {
  Reset();
  TkoTextResource::LoadFromFile(fileName);
}

TkoTextResource::~TkoTextResource() = default;

void TkoTextResource::Reset() {
  FileName.clear();
  CurrentLine = -1;
  NextResource = nullptr;
  Clear();
}

void TkoTextResource::LoadFromFile(const std::string& fileName) {
  FileName = fileName;
  SetText(vx::ReadWholeFile(fileName));
}

void TkoTextResource::LoadFromStream(std::istream& stream) {
  std::string data((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  SetText(data);
}

void TkoTextResource::SetText(std::string_view text) {
  lines_ = vx::SplitLines(text);
  Changed();
}

void TkoTextResource::LoadResource(int resourceNumber) {
  std::string_view text;
  if (vx::FindBuiltinText(resourceNumber, text)) SetText(text);
}

void TkoTextResource::OpenFile(const std::string& fileName) {
  Clear();
  FileName.clear();
  if (!fileName.empty()) LoadFromFile(fileName);
}

void TkoTextResource::AppendResource(int resourceNumber) {
  std::string_view text;
  if (!vx::FindBuiltinText(resourceNumber, text))
    throw EkoException("AppendResource: Resource " + std::to_string(resourceNumber) +
                       " not found!");
  for (auto& l : vx::SplitLines(text)) lines_.push_back(std::move(l));
  Changed();
}

void TkoTextResource::AppendResource(const std::string& resourceName) {
  std::string_view text;
  if (!vx::BuiltinByName(resourceName, text))
    throw EkoException("AppendResource: Resource " + resourceName + " not found!");
  for (auto& l : vx::SplitLines(text)) lines_.push_back(std::move(l));
  Changed();
}

void TkoTextResource::AppendFile(const std::string& fileName) {
  if (fileName.empty()) return;
  for (auto& l : vx::SplitLines(vx::ReadWholeFile(fileName))) lines_.push_back(std::move(l));
  Changed();
}

void TkoTextResource::ChainResource(TkoTextResource* resource) {
  if (!resource) return;
  resource->NextResource = NextResource;
  NextResource = resource;
}

std::string TkoTextResource::Text() const {
  std::string out;
  for (const auto& l : lines_) {
    out += l;
    out += "\r\n";
  }
  return out;
}

void TkoTextResource::SaveToFile(const std::string& fileName) const {
  const char* step = nullptr;
  if (const int err = vx::WriteFileAtomically(fileName, Text(), &step)) {
    const bool create = std::string_view(step) == "create";
    throw EkoException(std::string(create ? "Cannot create file \"" : "Cannot write file \"") +
                       fileName + "\". " + std::strerror(err));
  }
}

void TkoTextResource::SetLine(std::int32_t index, std::string line) {
  lines_.at(static_cast<std::size_t>(index)) = std::move(line);
  Changed();
}

void TkoTextResource::Add(std::string line) {
  lines_.push_back(std::move(line));
  Changed();
}

void TkoTextResource::Insert(std::int32_t index, std::string line) {
  if (index < 0 || index > Count()) throw EkoException("Insert: Index out of range!");
  lines_.insert(lines_.begin() + index, std::move(line));
  Changed();
}

void TkoTextResource::Delete(std::int32_t index) {
  if (index < 0 || index >= Count()) throw EkoException("Delete: Index out of range!");
  lines_.erase(lines_.begin() + index);
  Changed();
}

void TkoTextResource::Clear() {
  lines_.clear();
  Changed();
}

std::string TkoTextResource::GetSectionName(std::int32_t index) const {
  if (index < 0 || index >= Count()) return {};
  return std::string(vx::LineSectionName(lines_[static_cast<std::size_t>(index)]));
}

std::string TkoTextResource::GetKeyName(std::int32_t index) const {
  if (index < 0 || index >= Count()) return {};
  return std::string(vx::LineKeyName(lines_[static_cast<std::size_t>(index)]));
}

std::string TkoTextResource::GetKeyValue(std::int32_t index) const {
  if (index < 0 || index >= Count()) return {};
  return std::string(vx::LineKeyValue(lines_[static_cast<std::size_t>(index)]));
}

bool TkoTextResource::IsSectionLine() const {
  if (CurrentLine < 0 || CurrentLine >= Count()) return false;
  if (!indexValid_) BuildIndex();
  return info_[static_cast<std::size_t>(CurrentLine)].named;
}

bool TkoTextResource::IsKeyLine() const {
  if (CurrentLine < 0 || CurrentLine >= Count()) return false;
  if (!indexValid_) BuildIndex();
  return info_[static_cast<std::size_t>(CurrentLine)].keyLength > 0;
}

void TkoTextResource::BuildIndex() const {
  sectionIndex_.clear();
  info_.assign(lines_.size(), LineInfo{});
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::string& l = lines_[i];
    if (l.size() >= 2 && l.front() == '[' && l.back() == ']')
      sectionIndex_.emplace(vx::FoldCase(l), static_cast<std::int32_t>(i));
    LineInfo& info = info_[i];
    // "[ ]" has no name to be found by, but it still ends the section above it.
    const std::string_view t = vx::Trim(l);
    info.header = t.size() >= 3 && t.front() == '[' && t.back() == ']';
    info.named = info.header && !vx::LineSectionName(l).empty();
    std::string_view k = vx::LineKeyName(l);
    if (!k.empty()) {
      info.keyBegin = static_cast<std::uint32_t>(k.data() - l.data());
      info.keyLength = static_cast<std::uint32_t>(k.size());
    }
  }
  indexValid_ = true;
}

bool TkoTextResource::FindSection(const std::string& name) {
  if (!indexValid_) BuildIndex();
  if (lastSectionLine_ >= 0 && name == lastSection_) {
    CurrentLine = lastSectionLine_;
    return true;
  }
  std::string key;
  key.reserve(name.size() + 2);
  key.push_back('[');
  for (char c : name) key.push_back(vx::FoldCase(c));
  key.push_back(']');
  auto it = sectionIndex_.find(key);
  CurrentLine = it == sectionIndex_.end() ? -1 : it->second;
  if (!IsSectionLine()) return false;
  lastSection_ = name;
  lastSectionLine_ = CurrentLine;
  return true;
}

bool TkoTextResource::FindKey(const std::string& section, const std::string& key) {
  if (!FindSection(section)) return false;
  const std::int32_t n = Count();
  while (true) {
    ++CurrentLine;
    if (CurrentLine >= n) break;
    const auto i = static_cast<std::size_t>(CurrentLine);
    // A header ends the section even when it also looks like a key line ("[a=b]").
    if (info_[i].header) return false;
    if (info_[i].keyLength == key.size() && info_[i].keyLength > 0 && KeyOf(i) == key) return true;
  }
  return false;
}

bool TkoTextResource::IsBlank() const {
  for (const auto& l : lines_)
    if (!l.empty()) return false;
  return true;
}

std::string TkoTextResource::ReadString(const std::string& section, const std::string& key,
                                        const std::string& dflt) {
  if (!FindKey(section, key)) return dflt;
  return std::string(vx::LineKeyValue(lines_[static_cast<std::size_t>(CurrentLine)]));
}

std::int32_t TkoTextResource::ReadInteger(const std::string& section, const std::string& key,
                                          std::int32_t dflt) {
  if (!FindKey(section, key)) return dflt;
  std::int32_t v = dflt;
  return TextToInteger(vx::LineKeyValue(lines_[static_cast<std::size_t>(CurrentLine)]), v) ? v
                                                                                           : dflt;
}

double TkoTextResource::ReadFloat(const std::string& section, const std::string& key, double dflt) {
  if (!FindKey(section, key)) return dflt;
  double v = dflt;
  return TextToFloat(vx::LineKeyValue(lines_[static_cast<std::size_t>(CurrentLine)]), v) ? v : dflt;
}

std::int32_t TkoTextResource::ReadRelInteger(const std::string& section, const std::string& key,
                                             std::int32_t base) {
  std::string s = ReadString(section, key, std::to_string(base));
  std::int64_t n = 0;
  std::int64_t r;
  if (!s.empty() && s[0] == '+' && vx::ScanDecimal(std::string_view(s).substr(1), n))
    r = std::int64_t{base} + n;
  else if (!s.empty() && s[0] == '-' && vx::ScanDecimal(std::string_view(s).substr(1), n))
    r = std::int64_t{base} - n;
  else if (vx::ScanDecimal(s, n))
    r = n;
  else
    return base;
  // Wrap to 32 bits as the 32-bit arithmetic of the file format would.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(r));
}

void TkoTextResource::WriteString(const std::string& section, const std::string& key,
                                  const std::string& value) {
  std::string line = key + "=\"" + value + "\"";
  if (FindKey(section, key)) {
    SetLine(CurrentLine, std::move(line));
  } else if (FindSection(section)) {
    Insert(CurrentLine + 1, std::move(line));
    ++CurrentLine;
  } else {
    Add("[" + section + "]");
    Add(std::move(line));
    CurrentLine = Count() - 1;
  }
}

void TkoTextResource::WriteInteger(const std::string& section, const std::string& key,
                                   std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TkoTextResource::ListSections(std::vector<std::string>* list) const {
  if (!list) return;
  for (const auto& l : lines_) {
    std::string_view n = vx::LineSectionName(l);
    if (!n.empty()) list->emplace_back(n);
  }
}

void TkoTextResource::ReadSectionValues(const std::string& section,
                                        std::vector<std::string>* list) {
  if (!list || !FindSection(section)) return;
  const std::int32_t n = Count();
  while (++CurrentLine < n) {
    const auto i = static_cast<std::size_t>(CurrentLine);
    const std::string& line = lines_[i];
    if (info_[i].header) break;
    if (info_[i].keyLength == 0) continue;
    std::string_view k = KeyOf(i);
    std::string entry(k);
    entry.push_back('=');
    entry += vx::LineKeyValue(line);
    list->push_back(std::move(entry));
  }
}
