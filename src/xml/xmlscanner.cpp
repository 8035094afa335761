#include "xml/xmlscanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/cp1252.h"

namespace {

bool IsWs(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsNameStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u == ':' ||
         (u >= 0xC0 && u != 0xD7 && u != 0xF7);
}

bool StartsWith(const char* p, const char* lit) {
  while (*lit) {
    if (*p != *lit) return false;  // also stops at the end of the text
    ++p;
    ++lit;
  }
  return true;
}

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

// "#65", "#x41": the character of the code as a Windows-1252 byte. A code up to 255 is
// that byte; a larger one is mapped like UTF-8 text, with the replacement character
// where the code page has none. Text that is not a number gives a blank.
char CharRefValue(std::string_view ref) {
  std::string_view digits = ref.substr(1);
  int base = 10;
  if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
    base = 16;
    digits.remove_prefix(1);
  }
  if (digits.empty()) return ' ';
  constexpr std::uint32_t kBeyondUnicode = 0x110000;
  std::uint32_t v = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return ' ';
    // Saturates, so that a long run of digits cannot wrap into a small code.
    v = std::min<std::uint32_t>(v * static_cast<unsigned>(base) + static_cast<unsigned>(d),
                                kBeyondUnicode);
  }
  if (v <= 0xFF) return static_cast<char>(v);
  const int byte = v < kBeyondUnicode ? vx::cp1252::FromUnicode(v) : -1;
  return byte < 0 ? TXmlParser::kReplacementChar : static_cast<char>(byte);
}

// Predefined entity, or 0.
char Predefined(std::string_view name) {
  if (name == "lt") return '<';
  if (name == "gt") return '>';
  if (name == "amp") return '&';
  if (name == "apos") return '\'';
  if (name == "quot") return '"';
  return 0;
}

// A reference name runs to ";" and cannot hold markup or white space. Bounding it this
// way keeps a stray "&" from swallowing the document (and every "&" from rescanning it).
const char* FindRefEnd(const char* p) {
  while (*p && *p != ';' && *p != '<' && *p != '&' && !IsWs(*p)) ++p;
  return *p == ';' ? p : nullptr;
}

bool ReadWholeFile(const std::string& name, std::size_t maxSize, std::string& out) {
  // Non-blocking open so that a FIFO cannot stall us before the type check.
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::size_t>(st.st_size) > maxSize) {
    ::close(fd);
    return false;
  }
  out.assign(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(got);
  // A zero byte ends the document.
  out.resize(std::strlen(out.c_str()));
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Lists

std::size_t TNvpList::LowerBound(std::string_view name) const {
  auto it = std::lower_bound(nodes_.begin(), nodes_.end(), name,
                             [](const std::unique_ptr<TNvpNode>& n, std::string_view v) {
                               return std::string_view(n->Name) < v;
                             });
  return static_cast<std::size_t>(it - nodes_.begin());
}

void TNvpList::Add(std::unique_ptr<TNvpNode> node) {
  if (!node) return;
  const std::size_t at = LowerBound(node->Name);
  nodes_.insert(nodes_.begin() + static_cast<std::ptrdiff_t>(at), std::move(node));
}

TNvpNode* TNvpList::Node(std::string_view name) const {
  const std::size_t at = LowerBound(name);
  return (at < nodes_.size() && nodes_[at]->Name == name) ? nodes_[at].get() : nullptr;
}

TNvpNode* TNvpList::Node(int index) const {
  return (index >= 0 && index < Count()) ? nodes_[static_cast<std::size_t>(index)].get() : nullptr;
}

static const std::string kEmpty;

const std::string& TNvpList::Name(int index) const {
  const TNvpNode* n = Node(index);
  return n ? n->Name : kEmpty;
}

const std::string& TNvpList::Value(int index) const {
  const TNvpNode* n = Node(index);
  return n ? n->Value : kEmpty;
}

const std::string& TNvpList::Value(std::string_view name) const {
  const TNvpNode* n = Node(name);
  return n ? n->Value : kEmpty;
}

std::unique_ptr<TNvpNode> TNvpList::Extract(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  auto it = nodes_.begin() + index;
  std::unique_ptr<TNvpNode> n = std::move(*it);
  nodes_.erase(it);
  return n;
}

bool TNvpList::Remove(std::string_view name) {
  const std::size_t at = LowerBound(name);
  std::size_t end = at;
  while (end < nodes_.size() && nodes_[end]->Name == name) ++end;
  nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(at),
               nodes_.begin() + static_cast<std::ptrdiff_t>(end));
  return end > at;
}

void TNvpList::TakeAll(TNvpList& from) {
  if (nodes_.empty()) {
    nodes_.swap(from.nodes_);
    return;
  }
  for (auto& n : from.nodes_) Add(std::move(n));
  from.nodes_.clear();
}

const char* TAttrList::Analyze(const char* p) {
  Clear();
  // Collected first and sorted once: a tag with many attributes stays n log n.
  std::vector<std::unique_ptr<TAttr>> found;
  for (;;) {
    while (IsWs(*p)) ++p;
    if (*p == '>' || *p == 0 || !IsNameStart(*p)) break;
    const char* n = p;
    while (*p && !IsWs(*p) && *p != '/' && *p != '=' && *p != '>') ++p;
    std::string name(n, p);
    while (IsWs(*p)) ++p;
    // A name without "=" carries no value and makes no attribute.
    if (*p != '=') continue;
    ++p;
    while (IsWs(*p)) ++p;
    std::string value;
    if (*p == '"' || *p == '\'') {
      const char q = *p++;
      const char* v = p;
      while (*p && *p != q) ++p;
      value.assign(v, p);
      if (*p) ++p;
    } else {
      // Tolerated unquoted value.
      const char* v = p;
      while (*p && !IsWs(*p) && *p != '>' && !(*p == '/' && p[1] == '>')) ++p;
      value.assign(v, p);
    }
    found.push_back(std::make_unique<TAttr>(std::move(name), std::move(value)));
  }
  // Add puts a node in front of earlier ones of its name, so a later duplicate ends
  // first; in name order each insertion lands at the end of the list.
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a->Name < b->Name; });
  for (auto& a : found) Add(std::move(a));
  return p;
}

TElemDef* TElemList::Node(std::string_view name) const {
  auto it = std::lower_bound(defs_.begin(), defs_.end(), name,
                             [](const std::unique_ptr<TElemDef>& d, std::string_view v) {
                               return std::string_view(d->Name) < v;
                             });
  return (it != defs_.end() && (*it)->Name == name) ? it->get() : nullptr;
}

TElemDef* TElemList::Add(std::unique_ptr<TElemDef> def) {
  if (!def) return nullptr;
  auto it = std::lower_bound(
      defs_.begin(), defs_.end(), def->Name,
      [](const std::unique_ptr<TElemDef>& d, const std::string& v) { return d->Name < v; });
  TElemDef* raw = def.get();
  if (it != defs_.end() && (*it)->Name == def->Name)
    *it = std::move(def);
  else
    defs_.insert(it, std::move(def));
  return raw;
}

const char* TEntityStack::Push(std::string text, const std::string& encoding,
                               const char* returnTo) {
  auto e = std::make_unique<Entry>();
  e->text = std::move(text);
  e->encoding = encoding;
  e->returnTo = returnTo;
  entries_.push_back(std::move(e));
  return entries_.back()->text.c_str();
}

const char* TEntityStack::Push(std::unique_ptr<TXmlParser> external, const std::string& encoding,
                               const char* returnTo) {
  auto e = std::make_unique<Entry>();
  e->external = std::move(external);
  e->encoding = encoding;
  e->returnTo = returnTo;
  entries_.push_back(std::move(e));
  const Entry& top = *entries_.back();
  return top.external ? top.external->GetDocBuffer() : top.text.c_str();
}

const char* TEntityStack::Pop(std::string* encoding) {
  if (entries_.empty()) return nullptr;
  retired_.push_back(std::move(entries_.back()));
  entries_.pop_back();
  const Entry& e = *retired_.back();
  if (encoding) *encoding = e.encoding;
  return e.returnTo;
}

// ---------------------------------------------------------------------------------------
// Scanner

TXmlParser::TXmlParser() {
  Clear();
}

TXmlParser::~TXmlParser() = default;

void TXmlParser::Clear() {
  ownBuffer_.clear();
  ownBuffer_.shrink_to_fit();
  buffer_ = nullptr;
  source_.clear();
  xmlVersion_.clear();
  encoding_.clear();
  standalone_ = false;
  rootElementName_.clear();
  dtdStart_ = dtdEnd_ = nullptr;
  normalize_ = true;
  elementDefs_.Clear();
  entityDefs_.Clear();
  paramEntityDefs_.Clear();
  notationDefs_.Clear();
  partAttributes_.Clear();
  openEntities_.Clear();
  StartScan();
}

bool TXmlParser::LoadFromFile(const std::string& fileName) {
  Clear();
  if (!ReadWholeFile(fileName, kMaxFileSize, ownBuffer_)) {
    Clear();
    return false;
  }
  buffer_ = ownBuffer_.c_str();
  source_ = fileName;
  return true;
}

bool TXmlParser::LoadFromBuffer(const char* text) {
  Clear();
  ownBuffer_ = text ? text : "";
  buffer_ = ownBuffer_.c_str();
  source_ = "<MEM>";
  return true;
}

void TXmlParser::SetBuffer(const char* text) {
  Clear();
  buffer_ = text ? text : "";
  source_ = "<REFERENCE>";
}

const char* TXmlParser::GetDocBuffer() const {
  return buffer_ ? buffer_ : "";
}

void TXmlParser::SetCurrentEncoding(std::string encoding) {
  currentEncoding_ = Upper(encoding);
}

void TXmlParser::StartScan() {
  partKind_ = ptNone;
  partName_.clear();
  partText_.clear();
  partStart_ = partEnd_ = nullptr;
  partAttributes_.Clear();
  openEntities_.Clear();
  next_ = nullptr;
  expansion_ = 0;
  limitHit_ = false;
}

bool TXmlParser::TakeBudget(std::size_t n, int depth) {
  if (depth >= kMaxEntityDepth || expansion_ > expansionLimit_ ||
      n > expansionLimit_ - expansion_) {
    limitHit_ = true;
    return false;
  }
  expansion_ += n;
  return true;
}

bool TXmlParser::Scan() {
  if (!buffer_) return false;
  openEntities_.ReleaseRetired();  // the previous part may have started in one of them
  const char* p = next_ ? next_ : buffer_;
  for (;;) {
    while (*p == 0) {
      if (openEntities_.Count() == 0) {
        partKind_ = ptNone;
        partName_.clear();
        partText_.clear();
        partStart_ = partEnd_ = next_ = p;
        return false;
      }
      p = openEntities_.Pop(&currentEncoding_);
    }
    partStart_ = p;
    partName_.clear();
    partText_.clear();
    const char* stop;
    if (StartsWith(p, "<?xml") && IsWs(p[5]))
      stop = ScanXmlDecl(p);
    else if (StartsWith(p, "<?"))
      stop = ScanPI(p);
    else if (StartsWith(p, "<!--"))
      stop = ScanComment(p);
    else if (StartsWith(p, "<!DOCTYPE"))
      stop = ScanDtd(p);
    else if (StartsWith(p, "<![CDATA["))
      stop = ScanCData(p);
    else if (*p == '<')
      stop = ScanTag(p);
    else
      stop = ScanContent(p);
    partEnd_ = next_ = p = stop;
    if (partKind_ == ptContent && partText_.empty()) continue;
    return true;
  }
}

const char* TXmlParser::ScanTag(const char* p) {
  ++p;
  partKind_ = ptStartTag;
  if (*p == '/') {
    partKind_ = ptEndTag;
    ++p;
  }
  const char* n = p;
  while (*p && !IsWs(*p) && *p != '/' && *p != '>') ++p;
  partName_ = TranslateEncoding(std::string_view(n, static_cast<std::size_t>(p - n)));
  p = partAttributes_.Analyze(p);
  if (*p == '/' && partKind_ == ptStartTag) partKind_ = ptEmptyTag;
  const char* gt = std::strchr(p, '>');
  const char* stop = gt ? gt + 1 : p + std::strlen(p);
  CompleteAttributes();
  return stop;
}

void TXmlParser::CompleteAttributes() {
  const int n = partAttributes_.Count();
  if (n == 0 && partKind_ == ptEndTag) return;
  // Names may change under translation, so the list is rebuilt in order. Taken last
  // first, nodes of one name are re-added in the order Add reverses again.
  std::vector<std::unique_ptr<TNvpNode>> nodes;
  nodes.reserve(static_cast<std::size_t>(n));
  for (int i = n; i-- > 0;) nodes.push_back(partAttributes_.Extract(i));
  for (auto& node : nodes) {
    node->Name = TranslateEncoding(node->Name);
    node->Value = ProcessAttrValue(node->Value);
  }
  std::stable_sort(nodes.begin(), nodes.end(),
                   [](const auto& a, const auto& b) { return a->Name < b->Name; });
  for (auto& node : nodes) partAttributes_.Add(std::move(node));

  if (partKind_ != ptStartTag && partKind_ != ptEmptyTag) return;
  const TElemDef* def = elementDefs_.Node(partName_);
  if (!def) return;
  for (int i = 0; i < def->Count(); ++i) {
    const TAttrDef* ad = def->AttrDef(i);
    if (!partAttributes_.Node(ad->Name) && !ad->Value.empty()) {
      auto a = std::make_unique<TAttr>(ad->Name, ProcessAttrValue(ad->Value));
      a->ValueType = vtDefault;
      partAttributes_.Add(std::move(a));
    }
  }
  for (int i = 0; i < def->Count(); ++i) {
    const TAttrDef* ad = def->AttrDef(i);
    TAttr* a = partAttributes_.Attr(ad->Name);
    if (!a) continue;
    if (ad->DefaultType == adImplied) a->ValueType = vtImplied;
    if (ad->DefaultType == adFixed) {
      a->ValueType = vtFixed;
      a->Value = ProcessAttrValue(ad->Value);
    }
    a->AttrType = ad->AttrType;
    if (a->AttrType != atUnknown && a->AttrType != atCData)
      a->Value = TrimWs(ConvertWs(a->Value, true));
  }
}

std::string TXmlParser::ProcessAttrValue(std::string_view raw) {
  // Literal white space becomes blanks before references are replaced, so that a
  // character reference to a tab or line break survives.
  std::string v = ConvertWs(raw, false);
  v = TranslateEncoding(v);
  if (v.find('&') == std::string::npos) return v;
  std::string out;
  out.reserve(v.size());
  ReplaceReferences(v, out, openEntities_.Count());
  return out;
}

// Entity text is document text: translated, its white space made blanks, as the
// attribute value that refers to it was.
std::string TXmlParser::EntityText(std::string_view text) {
  return ConvertWs(TranslateEncoding(text), false);
}

void TXmlParser::ReplaceReferences(std::string_view text, std::string& out, int depth) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(text.substr(i));
      return;
    }
    out.append(text.substr(i, amp - i));
    std::size_t end = amp + 1;
    while (end < text.size() && text[end] != ';' && text[end] != '<' && text[end] != '&' &&
           !IsWs(text[end]))
      ++end;
    if (end >= text.size() || text[end] != ';') {
      out += '&';
      i = amp + 1;
      continue;
    }
    const std::string_view name = text.substr(amp + 1, end - amp - 1);
    const std::string_view whole = text.substr(amp, end - amp + 1);
    i = end + 1;
    if (!name.empty() && name[0] == '#') {
      out += CharRefValue(name);
    } else if (const char c = Predefined(name)) {
      out += c;
    } else if (const auto* def = static_cast<const TEntityDef*>(entityDefs_.Node(name))) {
      if (def->IsExternal()) {
        if (!TakeBudget(256, depth)) {
          out.append(whole);
          continue;
        }
        auto ext = LoadExternalEntity(def->SystemId, def->PublicId, def->NotationName);
        const std::string_view t = ext ? ext->GetDocBuffer() : "";
        if (TakeBudget(t.size(), depth))
          ReplaceReferences(EntityText(t), out, depth + 1);
        else
          out.append(whole);
      } else if (!def->Value.empty()) {
        // The definition may be replaced by nothing here, but copy anyway: recursion
        // could otherwise outlive it through a derived scanner's hooks.
        const std::string replacement = def->Value;
        if (TakeBudget(replacement.size(), depth))
          ReplaceReferences(EntityText(replacement), out, depth + 1);
        else
          out.append(whole);
      }
    } else {
      out.append(whole);  // undeclared: left as written
    }
  }
}

const char* TXmlParser::ScanContent(const char* p) {
  partKind_ = ptContent;
  partText_.clear();
  bool masked = false;  // mask_ is kept only once a referenced character was appended
  auto appendPlain = [&](std::string_view t) {
    partText_.append(t);
    if (masked) mask_.append(t.size(), '\0');
  };
  auto appendProtected = [&](char c) {
    if (!masked) {
      masked = true;
      mask_.assign(partText_.size(), '\0');
    }
    partText_ += c;
    mask_ += '\1';
  };
  for (;;) {
    const char* run = p;
    while (*p && *p != '<' && *p != '&') ++p;
    if (p > run)
      appendPlain(TranslateEncoding(std::string_view(run, static_cast<std::size_t>(p - run))));
    if (*p == '<') break;
    if (*p == 0) {
      if (openEntities_.Count() == 0) break;
      p = openEntities_.Pop(&currentEncoding_);
      continue;
    }
    const char* semi = FindRefEnd(p + 1);
    if (!semi) {
      appendPlain("&");
      ++p;
      continue;
    }
    const std::string_view name(p + 1, static_cast<std::size_t>(semi - p - 1));
    p = semi + 1;
    if (!name.empty() && name[0] == '#') {
      appendProtected(CharRefValue(name));
    } else if (const char c = Predefined(name)) {
      appendProtected(c);
    } else if (const auto* def = static_cast<const TEntityDef*>(entityDefs_.Node(name))) {
      const int depth = openEntities_.Count();
      if (def->IsExternal()) {
        if (!TakeBudget(256, depth)) {
          appendPlain(name);
          continue;
        }
        auto ext = LoadExternalEntity(def->SystemId, def->PublicId, def->NotationName);
        if (!ext) continue;
        if (!TakeBudget(std::strlen(ext->GetDocBuffer()), depth)) {
          appendPlain(name);
          continue;
        }
        p = openEntities_.Push(std::move(ext), currentEncoding_, p);
      } else if (!def->Value.empty()) {
        if (!TakeBudget(def->Value.size(), depth)) {
          appendPlain(name);
          continue;
        }
        p = openEntities_.Push(def->Value, currentEncoding_, p);
      }
    } else {
      appendPlain(name);  // an undeclared reference gives its bare name
    }
  }
  if (normalize_) {
    // Trim and fold literal white space; characters that came from references stay.
    auto literalWs = [&](std::size_t i) { return IsWs(partText_[i]) && !(masked && mask_[i]); };
    std::string& out = scratch_;
    out.clear();
    const std::size_t n = partText_.size();
    std::size_t i = 0;
    while (i < n) {
      std::size_t j = i;
      while (j < n && literalWs(j)) ++j;
      if (j > i && j < n && !out.empty()) out += ' ';
      i = j;
      while (j < n && !literalWs(j)) ++j;
      out.append(partText_, i, j - i);
      i = j;
    }
    partText_.swap(out);
  }
  return p;
}

const char* TXmlParser::ScanCData(const char* p) {
  partKind_ = ptCData;
  p += 9;
  const char* end = std::strstr(p, "]]>");
  const char* stop = end ? end + 3 : p + std::strlen(p);
  partText_ =
      TranslateEncoding(std::string_view(p, static_cast<std::size_t>((end ? end : stop) - p)));
  return stop;
}

const char* TXmlParser::ScanComment(const char* p) {
  partKind_ = ptComment;
  const char* end = std::strstr(p + 4, "-->");
  return end ? end + 3 : p + std::strlen(p);
}

const char* TXmlParser::ScanPI(const char* p) {
  partKind_ = ptPI;
  p += 2;
  const char* t = p;
  while (*p && !IsWs(*p) && *p != '?' && *p != '>') ++p;
  partName_.assign(t, p);
  while (IsWs(*p)) ++p;
  const char* end = std::strstr(p, "?>");
  const char* textEnd = end ? end : p + std::strlen(p);
  partText_.assign(p, textEnd);
  partAttributes_.Analyze(partText_.c_str());
  return end ? end + 2 : textEnd;
}

const char* TXmlParser::ScanXmlDecl(const char* p) {
  partKind_ = ptXmlProlog;
  partAttributes_.Analyze(p + 5);
  const char* end = std::strstr(p, "?>");
  const std::string& enc = partAttributes_.Value("encoding");
  if (openEntities_.Count() == 0) {
    xmlVersion_ = partAttributes_.Value("version");
    encoding_ = enc;
    standalone_ = partAttributes_.Value("standalone") == "yes";
  }
  currentEncoding_ = enc.empty() ? std::string("UTF-8") : Upper(enc);
  return end ? end + 2 : p + std::strlen(p);
}

// ---------------------------------------------------------------------------------------
// Document type declaration

// Reads declarations through a cursor that follows parameter entity references into
// their replacement texts. Those texts are kept until the analysis ends, so positions
// handed to DtdElementFound stay readable during the call.
class TXmlParser::Dtd {
 public:
  Dtd(TXmlParser& s, const char* p) : s_(s), p_(p) {}

  const char* Pos() const { return p_; }
  // The position in the base text to go on at once the declaration is over.
  const char* BasePos() const { return ret_.empty() ? p_ : ret_.front(); }

  char Peek() {
    while (*p_ == 0 && !ret_.empty()) {
      p_ = ret_.back();
      ret_.pop_back();
    }
    return *p_;
  }
  void Advance() {
    if (Peek()) ++p_;
  }
  bool Lit(const char* lit) {
    Peek();
    return StartsWith(p_, lit);
  }
  void Skip(std::size_t n) { p_ += n; }  // only after Lit matched n characters

  // At "%": continues inside the parameter entity's text. Anything that is not a
  // well-formed reference is passed over.
  void PushPE() {
    const char* semi = FindRefEnd(p_ + 1);
    if (!semi || semi == p_ + 1) {
      ++p_;
      return;
    }
    const std::string_view name(p_ + 1, static_cast<std::size_t>(semi - p_ - 1));
    p_ = semi + 1;
    const auto* def = static_cast<const TEntityDef*>(s_.paramEntityDefs_.Node(name));
    if (!def || def->Value.empty()) return;
    if (!s_.TakeBudget(def->Value.size(), static_cast<int>(ret_.size()))) return;
    texts_.push_back(std::make_unique<std::string>(def->Value));
    ret_.push_back(p_);
    p_ = texts_.back()->c_str();
  }

  void SkipWs() {
    for (;;) {
      const char c = Peek();
      if (IsWs(c))
        ++p_;
      else if (c == '%')
        PushPE();
      else
        return;
    }
  }

  std::string Name() {
    SkipWs();
    std::string n;
    for (;;) {
      const char c = Peek();
      if (c == 0 || IsWs(c) || std::strchr(">[]()|,\"'%=/", c)) break;
      n += c;
      ++p_;
    }
    return n;
  }

  // A quoted literal with parameter entities (when asked) and character references
  // replaced; false when no quote is there.
  bool Quoted(std::string& out, bool replacePE) {
    SkipWs();
    const char q = Peek();
    if (q != '"' && q != '\'') return false;
    ++p_;
    const char* start = p_;
    while (*p_ && *p_ != q) ++p_;
    std::string raw(start, p_);
    if (*p_) ++p_;
    if (replacePE) raw = ReplacePE(raw, 0);
    out = ReplaceCharRefs(raw);
    return true;
  }

  void SkipToGt() {
    for (;;) {
      const char c = Peek();
      if (c == 0) return;
      ++p_;
      if (c == '>') return;
    }
  }

  // "SYSTEM" literal or "PUBLIC" literal [literal].
  bool ExternalId(std::string& systemId, std::string& publicId) {
    SkipWs();
    if (Lit("SYSTEM")) {
      Skip(6);
      Quoted(systemId, false);
      return true;
    }
    if (Lit("PUBLIC")) {
      Skip(6);
      Quoted(publicId, false);
      Quoted(systemId, false);
      return true;
    }
    return false;
  }

  std::string ReplacePE(std::string_view text, int depth) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
      const std::size_t pc = text.find('%', i);
      if (pc == std::string_view::npos) {
        out.append(text.substr(i));
        break;
      }
      out.append(text.substr(i, pc - i));
      std::size_t end = pc + 1;
      while (end < text.size() && text[end] != ';' && text[end] != '%' && !IsWs(text[end])) ++end;
      const auto* def = (end < text.size() && text[end] == ';')
                            ? static_cast<const TEntityDef*>(
                                  s_.paramEntityDefs_.Node(text.substr(pc + 1, end - pc - 1)))
                            : nullptr;
      if (!def) {
        out += '%';
        i = pc + 1;
        continue;
      }
      i = end + 1;
      const std::string value = def->Value;
      if (s_.TakeBudget(value.size(), depth))
        out += ReplacePE(value, depth + 1);
      else
        out.append(text.substr(pc, end - pc + 1));
    }
    return out;
  }

  // The referenced characters are written in the document's own encoding, so that the
  // text translates as a whole wherever it is used (as entity text read as markup, or
  // in an attribute value).
  std::string ReplaceCharRefs(std::string_view text) const {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
      const std::size_t at = text.find("&#", i);
      if (at == std::string_view::npos) {
        out.append(text.substr(i));
        break;
      }
      out.append(text.substr(i, at - i));
      const std::size_t semi = text.find(';', at);
      if (semi == std::string_view::npos) {
        out.append(text.substr(at));
        break;
      }
      const std::string c(1, CharRefValue(text.substr(at + 1, semi - at - 1)));
      out += s_.currentEncoding_ == "UTF-8" ? AnsiToUtf8(c) : c;
      i = semi + 1;
    }
    return out;
  }

  void Report(TDtdElementRec& rec, const char* start) {
    rec.Start = start;
    rec.End = p_;
    s_.DtdElementFound(rec);
  }

  // Declarations up to "]" or ">" (left unread), or to the end of the text. An external
  // subset has no closing bracket, so there stray brackets are passed over.
  void Subset(bool external) {
    for (;;) {
      SkipWs();
      const char c = Peek();
      if (c == 0) return;
      if (c == ']' || c == '>') {
        if (!external) return;
        ++p_;
        continue;
      }
      const char* start = p_;
      TDtdElementRec rec;
      if (Lit("<!ELEMENT")) {
        Skip(9);
        Element(rec);
      } else if (Lit("<!ATTLIST")) {
        Skip(9);
        AttList(rec);
      } else if (Lit("<!ENTITY")) {
        Skip(8);
        Entity(rec);
      } else if (Lit("<!NOTATION")) {
        Skip(10);
        Notation(rec);
      } else if (Lit("<?")) {
        rec.ElementType = dePI;
        Skip(2);
        const char* t = p_;
        while (*p_ && !IsWs(*p_) && *p_ != '?' && *p_ != '>') ++p_;
        rec.Target.assign(t, p_);
        while (IsWs(*p_)) ++p_;
        const char* end = std::strstr(p_, "?>");
        rec.Content.assign(p_, end ? end : p_ + std::strlen(p_));
        TAttrList attrs;
        attrs.Analyze(rec.Content.c_str());
        rec.AttrList = &attrs;
        p_ = end ? end + 2 : p_ + std::strlen(p_);
        Report(rec, start);
        continue;
      } else if (Lit("<!--")) {
        rec.ElementType = deComment;
        const char* end = std::strstr(p_ + 4, "-->");
        p_ = end ? end + 3 : p_ + std::strlen(p_);
      } else if (c == '<') {
        rec.ElementType = deError;
        ++p_;
        SkipToGt();
      } else {
        rec.ElementType = deError;
        ++p_;
      }
      Report(rec, start);
    }
  }

 private:
  void Element(TDtdElementRec& rec) {
    rec.ElementType = deElement;
    auto def = std::make_unique<TElemDef>();
    def->Name = s_.TranslateEncoding(Name());
    for (;;) {
      const char c = Peek();
      if (c == 0) break;
      if (c == '>') {
        ++p_;
        break;
      }
      if (c == '%')
        PushPE();
      else {
        if (!IsWs(c)) def->Definition += c;
        ++p_;
      }
    }
    const std::string& m = def->Definition;
    if (m == "EMPTY")
      def->ElemType = etEmpty;
    else if (m == "ANY")
      def->ElemType = etAny;
    else if (m.rfind("(#PCDATA", 0) == 0)
      def->ElemType = etMixed;
    else if (!m.empty() && m[0] == '(')
      def->ElemType = etChildren;
    else
      def->ElemType = etAny;
    rec.ElemDef = s_.elementDefs_.Add(std::move(def));
  }

  // A parenthesised list with white space removed, parentheses included.
  std::string List() {
    std::string out;
    for (;;) {
      const char c = Peek();
      if (c == 0 || c == '>') break;
      if (c == '%') {
        PushPE();
        continue;
      }
      ++p_;
      if (!IsWs(c)) out += c;
      if (c == ')') break;
    }
    return out;
  }

  void AttList(TDtdElementRec& rec) {
    rec.ElementType = deAttList;
    const std::string elem = s_.TranslateEncoding(Name());
    TElemDef* def = s_.elementDefs_.Node(elem);
    if (!def) {
      auto d = std::make_unique<TElemDef>();
      d->Name = elem;
      d->Definition = "ANY";
      d->ElemType = etAny;
      def = s_.elementDefs_.Add(std::move(d));
    }
    rec.ElemDef = def;
    for (;;) {
      SkipWs();
      const char c = Peek();
      if (c == 0) break;
      if (c == '>') {
        ++p_;
        break;
      }
      auto ad = std::make_unique<TAttrDef>(Name(), std::string());
      if (ad->Name.empty()) {
        ++p_;  // a stray character: go on after it
        continue;
      }
      // A name no tag could carry is passed over, so that every default added to a tag
      // is an attribute the tag itself could have had.
      if (!IsNameStart(ad->Name[0])) continue;
      ad->Name = s_.TranslateEncoding(ad->Name);
      SkipWs();
      if (Peek() == '(') {
        ad->TypeDef = List();
        ad->AttrType = atEnumeration;
      } else {
        ad->TypeDef = Name();
        static const std::pair<const char*, TAttrType> kTypes[] = {
            {"CDATA", atCData},      {"ID", atID},
            {"IDREF", atIdRef},      {"IDREFS", atIdRefs},
            {"ENTITY", atEntity},    {"ENTITIES", atEntities},
            {"NMTOKEN", atNmToken},  {"NMTOKENS", atNmTokens},
            {"NOTATION", atNotation}};
        for (const auto& [word, type] : kTypes)
          if (ad->TypeDef == word) ad->AttrType = type;
        if (ad->AttrType == atNotation) {
          SkipWs();
          if (Peek() == '(') ad->Notations = List();
        }
      }
      SkipWs();
      if (Lit("#REQUIRED")) {
        Skip(9);
        ad->DefaultType = adRequired;
      } else if (Lit("#IMPLIED")) {
        Skip(8);
        ad->DefaultType = adImplied;
      } else if (Lit("#FIXED")) {
        Skip(6);
        ad->DefaultType = adFixed;
        Quoted(ad->Value, true);
      } else {
        ad->DefaultType = adDefault;
        Quoted(ad->Value, true);
      }
      def->Remove(ad->Name);
      rec.AttrDef = ad.get();
      def->Add(std::move(ad));
    }
  }

  void Entity(TDtdElementRec& rec) {
    rec.ElementType = deEntity;
    // "%" followed by white space marks a parameter entity; it is no reference here.
    while (IsWs(Peek())) ++p_;
    bool pe = false;
    if (Peek() == '%' && IsWs(p_[1])) {
      pe = true;
      ++p_;
    }
    auto def = std::make_unique<TEntityDef>(Name(), std::string());
    SkipWs();
    if (!Quoted(def->Value, !pe)) {
      ExternalId(def->SystemId, def->PublicId);
      SkipWs();
      if (Lit("NDATA")) {
        Skip(5);
        def->NotationName = Name();
      }
    }
    SkipToGt();
    TNvpList& list = pe ? s_.paramEntityDefs_ : s_.entityDefs_;
    list.Remove(def->Name);
    rec.EntityDef = def.get();
    list.Add(std::move(def));
  }

  void Notation(TDtdElementRec& rec) {
    rec.ElementType = deNotation;
    auto def = std::make_unique<TNotationDef>(Name(), std::string());
    ExternalId(def->Value, def->PublicId);
    SkipToGt();
    s_.notationDefs_.Remove(def->Name);
    rec.NotationDef = def.get();
    s_.notationDefs_.Add(std::move(def));
  }

  TXmlParser& s_;
  const char* p_;
  std::vector<std::unique_ptr<std::string>> texts_;  // kept until the analysis ends
  std::vector<const char*> ret_;
};

const char* TXmlParser::ScanDtd(const char* p) {
  partKind_ = ptDtdc;
  const bool inDocument = openEntities_.Count() == 0;
  // A second pass over the same document skips the analysed declaration. Only a
  // declaration at this very position is skipped: another one later must not send the
  // scan back.
  if (inDocument && p == dtdStart_) return dtdEnd_;
  Dtd d(*this, p + 9);
  bool haveRoot = false;
  for (;;) {
    const char c = d.Peek();
    if (c == 0) break;
    if (IsWs(c)) {
      d.Advance();
    } else if (c == '%') {
      d.PushPE();
    } else if (!haveRoot && IsNameStart(c)) {
      rootElementName_ = TranslateEncoding(d.Name());
      haveRoot = true;
    } else if (haveRoot && (d.Lit("SYSTEM") || d.Lit("PUBLIC"))) {
      std::string sys, pub;
      d.ExternalId(sys, pub);
      if (TakeBudget(256, 0)) {
        std::unique_ptr<TXmlParser> ext = LoadExternalEntity(sys, pub, std::string());
        const char* text = ext ? ext->GetDocBuffer() : "";
        if (TakeBudget(std::strlen(text), 0)) {
          if (const char* decl = std::strstr(text, "<!")) {
            Dtd sub(*this, decl);
            sub.Subset(true);
          }
        }
      }
    } else if (c == '[') {
      d.Advance();
      d.Subset(false);
      if (d.Peek() == ']') d.Advance();
    } else if (c == '>') {
      d.Advance();
      break;
    } else {
      TDtdElementRec rec;
      rec.ElementType = deError;
      const char* start = d.Pos();
      d.Advance();
      d.Report(rec, start);
    }
  }
  const char* end = d.BasePos();
  if (inDocument) {
    dtdStart_ = p;
    dtdEnd_ = end;
  }
  return end;
}

// ---------------------------------------------------------------------------------------
// Hooks and text helpers

std::unique_ptr<TXmlParser> TXmlParser::LoadExternalEntity(const std::string& systemId,
                                                           const std::string& /*publicId*/,
                                                           const std::string& /*notation*/) {
  auto ext = std::make_unique<TXmlParser>();
  ext->SetCurrentEncoding(currentEncoding_);
  std::string path = systemId;
  // Relative identifiers of a document read from a file are taken from its folder.
  if (!path.empty() && path[0] != '/' && !source_.empty() && source_[0] != '<') {
    const std::size_t slash = source_.rfind('/');
    if (slash != std::string::npos) path = source_.substr(0, slash + 1) + path;
  }
  std::string text;
  if (!path.empty() && ReadWholeFile(path, expansionLimit_, text))
    ext->LoadFromBuffer(text.c_str());
  else
    ext->LoadFromBuffer("");
  if (!path.empty()) ext->source_ = path;
  return ext;
}

std::string TXmlParser::TranslateEncoding(std::string_view text) {
  if (currentEncoding_ != "UTF-8") return std::string(text);
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return Utf8ToAnsi(text);
  return std::string(text);
}

void TXmlParser::DtdElementFound(const TDtdElementRec& /*rec*/) {}

std::string TXmlParser::AnsiToUtf8(std::string_view text) {
  return vx::Cp1252ToUtf8(text);
}

std::string TXmlParser::Utf8ToAnsi(std::string_view text, char replacement) {
  std::string out;
  out.reserve(text.size());
  auto cont = [&](std::size_t i) {
    return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    std::uint32_t cp = 0;
    int need = 0;
    if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      need = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      need = 2;
    } else {
      // A stray continuation byte, or a lead byte of a sequence beyond 16 bits whose
      // continuation bytes go with it.
      ++i;
      if ((b & 0xC0) == 0xC0) {
        const int extra = (b & 0xF8) == 0xF0   ? 3
                          : (b & 0xFC) == 0xF8 ? 4
                          : (b & 0xFE) == 0xFC ? 5
                                               : 0;
        for (int k = 0; k < extra && cont(i); ++k) ++i;
      }
      out += replacement;
      continue;
    }
    // A cut-short sequence leaves the following byte to be read on its own.
    bool ok = true;
    for (int k = 1; k <= need; ++k) {
      if (!cont(i + static_cast<std::size_t>(k))) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3F);
    }
    if (!ok) {
      out += replacement;
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(need) + 1;
    // An overlong form would smuggle a blank or markup character into a name.
    if (cp < (need == 1 ? 0x80u : 0x800u)) {
      out += replacement;
      continue;
    }
    const int a = vx::cp1252::FromUnicode(cp);
    out += a < 0 ? replacement : static_cast<char>(a);
  }
  return out;
}

std::string TXmlParser::TrimWs(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsWs(text[b])) ++b;
  while (e > b && IsWs(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string TXmlParser::ConvertWs(std::string_view text, bool fold) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (IsWs(c)) {
      if (fold && !out.empty() && out.back() == ' ') continue;
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}
