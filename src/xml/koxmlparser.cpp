#include "xml/koxmlparser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/atomicfile.h"
#include "platform/koexception.h"

namespace {

// Each Windows-1252 byte as UTF-8.
const std::array<std::string, 256>& Utf8Table() {
  static const std::array<std::string, 256> table = [] {
    std::array<std::string, 256> t;
    for (int i = 0; i < 256; ++i)
      t[static_cast<std::size_t>(i)] = TXmlParser::AnsiToUtf8(std::string(1, static_cast<char>(i)));
    return t;
  }();
  return table;
}

void AppendCharRef(std::string& out, unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "&#%u;", static_cast<unsigned>(c));
  out += buf;
}

void AppendName(std::string& out, std::string_view name) {
  const auto& utf8 = Utf8Table();
  for (char c : name) out += utf8[static_cast<unsigned char>(c)];
}

void AppendAttrValue(std::string& out, std::string_view v) {
  const auto& utf8 = Utf8Table();
  for (char ch : v) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '"')
      out += "&quot;";
    else if (c < 0x20)
      AppendCharRef(out, c);  // the reader turns literal ones into blanks
    else
      out += utf8[c];
  }
}

// The reader trims text and folds runs of white space, but keeps white space that comes
// from character references; so every control character, and every blank that the
// reader would drop, is written as a reference.
void AppendContentLine(std::string& out, std::string_view line) {
  const auto& utf8 = Utf8Table();
  bool prevLiteralBlank = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c == ' ') {
      const bool literal = i > 0 && i + 1 < line.size() && !prevLiteralBlank;
      if (literal)
        out += ' ';
      else
        AppendCharRef(out, c);
      prevLiteralBlank = literal;
      continue;
    }
    prevLiteralBlank = false;
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c < 0x20)
      AppendCharRef(out, c);
    else
      out += utf8[c];
  }
}

void AppendIndent(std::string& out, int level) {
  out.append(static_cast<std::size_t>(level) * 3, ' ');
}

void WriteElement(std::string& out, const TkoXmlElement* e, int level) {
  out += "\r\n";
  AppendIndent(out, level);
  out += '<';
  AppendName(out, e->Name());
  const TNvpList& attrs = e->Attributes();
  for (int i = 0; i < attrs.Count(); ++i) {
    if (attrs.Name(i).empty()) continue;
    out += ' ';
    AppendName(out, attrs.Name(i));
    out += "=\"";
    AppendAttrValue(out, attrs.Value(i));
    out += '"';
  }
  if (e->IsEmpty()) {
    // An empty "br" written as "<br/>" would read back as a line break.
    if (vx::SameTextAscii(e->Name(), "br")) {
      out += "></";
      AppendName(out, e->Name());
      out += '>';
    } else {
      out += "/>";
    }
    return;
  }
  out += '>';
  const auto& lines = e->Content();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out += "\r\n";
    AppendIndent(out, level + 1);
    AppendContentLine(out, lines[i]);
    // An empty last line is ended by a break too; otherwise it would read back as nothing.
    if (i + 1 < lines.size() || lines[i].empty()) out += "<br/>";
  }
  for (const TkoXmlElement* c = e->Child(); c; c = c->Next()) WriteElement(out, c, level + 1);
  out += "\r\n";
  AppendIndent(out, level);
  out += "</";
  AppendName(out, e->Name());
  out += '>';
}

std::size_t CountElements(const TkoXmlElement* e) {
  std::size_t n = 0;
  for (; e; e = e->Next()) n += 1 + CountElements(e->Child());
  return n;
}

}  // namespace

TkoXmlParser::TkoXmlParser() : scanner_(std::make_unique<TXmlParser>()) {}

TkoXmlParser::~TkoXmlParser() {
  ResetAll();
}

void TkoXmlParser::ResetAll() {
  TkoXmlElement* r = root_;
  root_ = nullptr;
  delete r;
}

void TkoXmlParser::AddRoot(TkoXmlElement* element) {
  // The root of another parser stays there: two owners would delete it twice.
  if (!element || root_ || element->isRoot_) return;
  if (element->Parent()) element->Detach();
  // The whole subtree joins this parser, so that every element finds its component.
  element->SetParser(this);
  element->isRoot_ = true;
  root_ = element;
  PerformOnAddChild(element);
}

TkoXmlElement* TkoXmlParser::SearchSubTree(std::string_view name, std::string_view subName) const {
  if (!root_) return nullptr;
  TkoXmlElement* first = root_->Name() == name ? root_ : root_->FindChild(name, true);
  if (!subName.empty() && subName != name)
    return first ? first->FindChild(subName, false) : nullptr;
  return first;
}

std::string TkoXmlParser::GetXmlText() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return GetXmlText(local);
}

std::string TkoXmlParser::GetXmlText(const std::tm& stamp) const {
  char when[64];
  std::snprintf(when, sizeof when, "%02d/%02d/%04d", stamp.tm_mday, stamp.tm_mon + 1,
                stamp.tm_year + 1900);
  std::string date = when;
  if (stamp.tm_hour != 0 || stamp.tm_min != 0 || stamp.tm_sec != 0) {
    std::snprintf(when, sizeof when, " %02d:%02d:%02d", stamp.tm_hour, stamp.tm_min, stamp.tm_sec);
    date += when;
  }
  std::string out;
  // Most text is written once as is; reserve roughly to avoid regrowth.
  out.reserve(root_ ? CountElements(root_->Child()) * 96 + 256 : 256);
  out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
  out += "<!-- XML file by TkoXmlParser - " + date + " -->\r\n";
  out += std::string("<!-- Orvadi s.n.c. - ") + kMakerWeb + " -->\r\n";
  if (root_)
    WriteElement(out, root_, 0);
  else
    out += "<!-- empty -->";
  return out;
}

void TkoXmlParser::SaveToFile(const std::string& fileName) const {
  const std::string text = GetXmlText();
  // Every line, the last one included, ends with CR LF.
  std::string data;
  data.reserve(text.size() + 2);
  std::size_t i = 0;
  for (;;) {
    std::size_t e = text.find_first_of("\r\n", i);
    if (e == std::string::npos) {
      if (i < text.size()) data.append(text, i, std::string::npos).append("\r\n");
      break;
    }
    data.append(text, i, e - i).append("\r\n");
    if (text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ++e;
    i = e + 1;
  }

  const char* step = nullptr;
  if (const int err = vx::WriteFileAtomically(fileName, data, &step))
    throw EkoException("SaveToFile: cannot " + std::string(step) + " " + fileName + ": " +
                       std::strerror(err));
}

bool TkoXmlParser::LoadFromFile(const std::string& fileName) {
  ResetAll();
  readIncomplete_ = false;
  if (!scanner_->LoadFromFile(fileName)) return false;
  ExecuteScan();
  return true;
}

bool TkoXmlParser::LoadFromBuffer(const char* text) {
  ResetAll();
  scanner_->LoadFromBuffer(text);
  ExecuteScan();
  return true;
}

void TkoXmlParser::ExecuteScan() {
  readIncomplete_ = false;
  scanner_->StartScan();
  ScanForNextTag(nullptr, 0);
  if (scanner_->LimitHit()) readIncomplete_ = true;
}

TkoXmlElement* TkoXmlParser::AllocXmlElement(TkoXmlElement* /*parent*/) {
  return new TkoXmlElement();
}

void TkoXmlParser::PerformOnAddChild(TkoXmlElement* child) {
  if (OnAddChild) OnAddChild(this, child);
}
void TkoXmlParser::PerformOnDelChild(TkoXmlElement* child) {
  if (OnDelChild) OnDelChild(this, child);
}
void TkoXmlParser::PerformOnChangeContent(TkoXmlElement* child) {
  if (OnChangeContent) OnChangeContent(this, child);
}
void TkoXmlParser::PerformOnContentAnalyzed(TkoXmlElement* child) {
  if (OnContentAnalyzed) OnContentAnalyzed(this, child);
}

bool TkoXmlParser::LookForPartType(TPartTypes kinds) {
  while (scanner_->Scan())
    if (kinds.Has(scanner_->PartKind())) return true;
  return false;
}

TkoXmlElement* TkoXmlParser::AllocElement(TkoXmlElement* parent) {
  TkoXmlElement* e = AllocXmlElement(parent);
  if (!e) return nullptr;
  e->name_ = scanner_->PartName();
  e->attributes_.Clear();
  e->attributes_.TakeAll(scanner_->PartAttributes());
  // A repeated attribute keeps the value that a lookup by name gives in the scanner (the
  // last one written); an element never holds two of the same name.
  TNvpList& attrs = e->attributes_;
  for (int i = attrs.Count() - 1; i > 0; --i) {
    if (attrs.Name(i) == attrs.Name(i - 1)) {
      attrs.Extract(i);
      readIncomplete_ = true;
    }
  }
  if (parent)
    parent->AddChild(e);
  else
    AddRoot(e);
  return e;
}

void TkoXmlParser::CloseElement(TkoXmlElement* element) {
  element->AnalyzeContent();
  element->Notify(TkoXmlElement::Kind::ContentAnalyzed, element);
}

void TkoXmlParser::ReadElement(TkoXmlElement* element, TkoXmlElement* parent, int depth,
                               bool empty) {
  const bool adopted = parent || root_ == element;
  if (empty)
    CloseElement(element);
  else
    ScanForNextTag(element, depth + 1);
  if (!adopted) {
    readIncomplete_ = true;
    delete element;
  }
}

void TkoXmlParser::SkipElement(const std::string& name) {
  // Nested elements of the same name are counted, so the skip ends at the right end tag.
  int level = 0;
  while (LookForPartType({ptStartTag, ptEndTag})) {
    if (!vx::SameTextAscii(scanner_->PartName(), name)) continue;
    if (scanner_->PartKind() == ptStartTag)
      ++level;
    else if (level-- == 0)
      return;
  }
}

void TkoXmlParser::ScanForNextTag(TkoXmlElement* parent, int depth) {
  // Content lines come back as the text between "br" tags; a break with no text since
  // the previous one (or since the start) ends an empty line.
  bool newLine = false;
  bool textSinceBreak = false;
  while (LookForPartType({ptStartTag, ptEmptyTag, ptEndTag, ptContent})) {
    const TPartType kind = scanner_->PartKind();
    switch (kind) {
      case ptStartTag:
      case ptEmptyTag: {
        const bool empty = kind == ptEmptyTag;
        if (empty && vx::SameTextAscii(scanner_->PartName(), "br")) {
          if (!parent) break;
          if (!textSinceBreak) parent->AddContent(std::string_view(), true);
          newLine = true;
          textSinceBreak = false;
          break;
        }
        // "<>" names nothing: no element, and what follows stays inside the parent.
        if (scanner_->PartName().empty()) break;
        if (depth >= kMaxReadDepth) {
          readIncomplete_ = true;
          if (!empty) SkipElement(scanner_->PartName());
          break;
        }
        const std::string name = scanner_->PartName();
        TkoXmlElement* e = AllocElement(parent);
        if (!e) {
          if (!empty) SkipElement(name);
          break;
        }
        ReadElement(e, parent, depth, empty);
        break;
      }
      case ptEndTag:
        if (!parent) break;
        CloseElement(parent);
        return;
      case ptContent:
        if (!parent) break;
        parent->AddContent(scanner_->PartText(), newLine);
        newLine = false;
        textSinceBreak = true;
        break;
      default:
        break;
    }
  }
}
