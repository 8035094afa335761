#include "xml/koxmlelement.h"

#include <climits>

#include "xml/koxmlparser.h"

namespace vx {
bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}
}  // namespace vx

namespace {

bool IsScanSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Reads a number the way the C scan functions read "%ld" or "%lx": leading white space,
// an optional sign, digits up to the first that does not fit (hexadecimal may carry its
// own "0x" prefix). False when there is no digit.
bool ScanNumber(std::string_view s, bool hex, std::int32_t& result) {
  std::size_t i = 0;
  while (i < s.size() && IsScanSpace(s[i])) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  if (hex && i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
      IsHex(s[i + 2]))
    i += 2;
  const std::uint64_t kCap = std::uint64_t(1) << 40;  // well beyond 32 bits: saturate
  std::uint64_t mag = 0;
  std::size_t digits = 0;
  for (; i < s.size(); ++i, ++digits) {
    const char c = s[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      d = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      d = static_cast<unsigned>(c - 'A' + 10);
    else
      break;
    mag = mag * (hex ? 16 : 10) + d;
    if (mag > kCap) mag = kCap;
  }
  if (digits == 0) return false;
  if (hex && !neg && mag <= 0xFFFFFFFFu) {
    result = static_cast<std::int32_t>(static_cast<std::uint32_t>(mag));
    return true;
  }
  const std::int64_t v = neg ? -static_cast<std::int64_t>(mag) : static_cast<std::int64_t>(mag);
  result = static_cast<std::int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
  return true;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0, i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace

TkoXmlElement::TkoXmlElement() = default;

TkoXmlElement::TkoXmlElement(std::string name, std::string_view content)
    : name_(std::move(name)), content_(SplitLines(content)) {}

TkoXmlElement::~TkoXmlElement() {
  DeleteFollowing();
  if (child_) {
    // The child's own destructor unlinks it (and its followers) from us.
    delete child_;
    child_ = nullptr;
    lastChild_ = nullptr;
  }
  Detach();
}

// Deletes the siblings after this element, the last one first, each while it is still
// linked: a derived destructor runs before the element base and may still need its
// parent and its children, as it would under a recursive delete along the chain. Going
// from the tail keeps the stack flat for long lists, and each removal is O(1).
void TkoXmlElement::DeleteFollowing() {
  while (next_) {
    TkoXmlElement* tail = parent_ ? parent_->lastChild_ : nullptr;
    if (!tail) {
      // A chain with no parent: nothing can notify, so unlink the tail by hand.
      TkoXmlElement* pred = this;
      while (pred->next_->next_) pred = pred->next_;
      tail = pred->next_;
      pred->next_ = nullptr;
      tail->prev_ = nullptr;
    }
    delete tail;
  }
}

void TkoXmlElement::SetAttribute(const std::string& name, std::string value) {
  attributes_.Remove(name);
  attributes_.Add(std::make_unique<TNvpNode>(name, std::move(value)));
}

std::string TkoXmlElement::ContentText() const {
  std::string t;
  for (const std::string& l : content_) {
    t += l;
    t += "\r\n";
  }
  return t;
}

void TkoXmlElement::SetContentText(std::string_view text) {
  content_ = SplitLines(text);
  Notify(Kind::ChangeContent, this);
}

void TkoXmlElement::AddContentLine(std::string line) {
  content_.push_back(std::move(line));
  Notify(Kind::ChangeContent, this);
}

void TkoXmlElement::SetContentLine(std::size_t index, std::string line) {
  if (index >= content_.size()) return;
  content_[index] = std::move(line);
  Notify(Kind::ChangeContent, this);
}

void TkoXmlElement::DeleteContentLine(std::size_t index) {
  if (index >= content_.size()) return;
  content_.erase(content_.begin() + static_cast<std::ptrdiff_t>(index));
  Notify(Kind::ChangeContent, this);
}

void TkoXmlElement::ClearContent() {
  content_.clear();
  Notify(Kind::ChangeContent, this);
}

void TkoXmlElement::AddContent(std::string_view text, bool newLine) {
  if (newLine || content_.empty()) {
    content_.emplace_back(text);
  } else {
    content_.back() += ' ';
    content_.back().append(text);
  }
  Notify(Kind::ChangeContent, this);
}

void TkoXmlElement::Notify(Kind kind, TkoXmlElement* affected) {
  TkoXmlElement* top = this;
  for (TkoXmlElement* s = this; s; s = s->parent_) {
    top = s;
    const TNotifyEvent* slot = nullptr;
    switch (kind) {
      case Kind::AddChild:
        slot = &s->OnAddChild;
        break;
      case Kind::DelChild:
        slot = &s->OnDelChild;
        break;
      case Kind::ChangeContent:
        slot = &s->OnChangeContent;
        break;
      case Kind::ContentAnalyzed:
        slot = &s->OnContentAnalyzed;
        break;
    }
    if (*slot) (*slot)(s, affected);
  }
  TkoXmlParser* parser = top->parser_;
  if (!parser) return;
  switch (kind) {
    case Kind::AddChild:
      parser->PerformOnAddChild(affected);
      break;
    case Kind::DelChild:
      parser->PerformOnDelChild(affected);
      break;
    case Kind::ChangeContent:
      parser->PerformOnChangeContent(affected);
      break;
    case Kind::ContentAnalyzed:
      parser->PerformOnContentAnalyzed(affected);
      break;
  }
}

void TkoXmlElement::SetParser(TkoXmlParser* parser) {
  for (TkoXmlElement* e = this; e; e = e->next_) {
    e->parser_ = parser;
    if (e->child_) e->child_->SetParser(parser);
  }
}

void TkoXmlElement::AddChild(TkoXmlElement* element) {
  if (!element || element->isRoot_) return;
  // Linking an element below itself would make a cycle that no walk ever leaves.
  for (const TkoXmlElement* a = this; a; a = a->parent_)
    if (a == element) return;
  if (element->parent_) element->Detach();
  element->SetParser(parser_);
  element->prev_ = child_ ? lastChild_ : nullptr;
  TkoXmlElement* tail = element;
  for (TkoXmlElement* e = element; e; e = e->next_) {
    e->parent_ = this;
    if (e->next_) e->next_->prev_ = e;
    tail = e;
  }
  if (child_)
    lastChild_->next_ = element;
  else
    child_ = element;
  lastChild_ = tail;
  Notify(Kind::AddChild, element);
}

TkoXmlElement* TkoXmlElement::RemoveChild(TkoXmlElement* child) {
  if (!child || child->parent_ != this) return nullptr;
  if (child->prev_)
    child->prev_->next_ = child->next_;
  else
    child_ = child->next_;
  if (child->next_)
    child->next_->prev_ = child->prev_;
  else
    lastChild_ = child->prev_;
  FinishRemoval(child);
  return child;
}

void TkoXmlElement::FinishRemoval(TkoXmlElement* child) {
  Notify(Kind::DelChild, child);
  child->parent_ = nullptr;
  child->next_ = nullptr;
  child->prev_ = nullptr;
}

TkoXmlElement* TkoXmlElement::Detach() {
  return parent_ ? parent_->RemoveChild(this) : nullptr;
}

TkoXmlElement* TkoXmlElement::FindChild(std::string_view name, bool recursive) const {
  for (TkoXmlElement* c = child_; c; c = c->next_)
    if (vx::SameTextAscii(c->name_, name)) return c;
  if (recursive)
    for (TkoXmlElement* c = child_; c; c = c->next_)
      if (TkoXmlElement* r = c->FindChild(name, true)) return r;
  return nullptr;
}

TkoXmlElement* TkoXmlElement::FindNext(std::string_view name, bool recursive) const {
  for (TkoXmlElement* s = next_; s; s = s->next_)
    if (vx::SameTextAscii(s->name_, name)) return s;
  if (recursive)
    for (TkoXmlElement* s = next_; s; s = s->next_)
      if (TkoXmlElement* r = s->FindChild(name, true)) return r;
  return nullptr;
}

int TkoXmlElement::CountChildren(std::string_view name, bool recursive) const {
  int n = 0;
  for (const TkoXmlElement* c = child_; c; c = c->next_) {
    if (name.empty() || vx::SameTextAscii(c->name_, name)) ++n;
    if (recursive) n += c->CountChildren(name, true);
  }
  return n;
}

const TkoXmlElement* TkoXmlElement::Target(std::string_view childName) const {
  return childName.empty() ? this : FindChild(childName, false);
}

int TkoXmlElement::FindKey(std::string_view key) const {
  for (std::size_t i = 0; i < content_.size(); ++i) {
    const std::size_t eq = content_[i].find('=');
    if (eq != std::string::npos &&
        vx::SameTextAscii(std::string_view(content_[i]).substr(0, eq), key))
      return static_cast<int>(i);
  }
  return -1;
}

std::string TkoXmlElement::GetValue(std::string_view childName, std::string_view key,
                                    const std::string& defaultValue) const {
  const TkoXmlElement* t = Target(childName);
  if (!t) return defaultValue;
  const int i = t->FindKey(key);
  if (i < 0) return defaultValue;
  const std::string& line = t->content_[static_cast<std::size_t>(i)];
  std::string v = line.substr(line.find('=') + 1);
  return v.empty() ? defaultValue : v;
}

std::int32_t TkoXmlElement::GetInteger(std::string_view childName, std::string_view key,
                                       std::int32_t defaultValue) const {
  const std::string s = GetValue(childName, key, std::string());
  std::int32_t v = defaultValue;
  if (s.size() >= 2 && s[0] == '0' && s[1] == 'x') {
    if (!ScanNumber(std::string_view(s).substr(2), true, v)) v = defaultValue;
  } else if (s.size() >= 2 && s.back() == 'h') {
    if (!ScanNumber(s, true, v)) v = defaultValue;
  } else if (!ScanNumber(s, false, v)) {
    v = defaultValue;
  }
  return v;
}

bool TkoXmlElement::GetBool(std::string_view childName, std::string_view key,
                            bool defaultValue) const {
  const std::string s = GetValue(childName, key, std::string());
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  const std::string_view t = std::string_view(s).substr(b, e - b);
  if (vx::SameTextAscii(t, "true")) return true;
  if (vx::SameTextAscii(t, "false")) return false;
  return GetInteger(childName, key, defaultValue ? 1 : 0) != 0;
}

void TkoXmlElement::SetValue(std::string_view childName, std::string_view key,
                             const std::string& value) {
  TkoXmlElement* t = const_cast<TkoXmlElement*>(Target(childName));
  std::string line(key);
  line += '=';
  line += value;
  if (!t) {
    auto* e = new TkoXmlElement(std::string(childName), std::string_view());
    e->content_.push_back(std::move(line));
    AddChild(e);
    return;
  }
  const int i = t->FindKey(key);
  if (!value.empty()) {
    if (i >= 0)
      t->SetContentLine(static_cast<std::size_t>(i), std::move(line));
    else
      t->AddContentLine(std::move(line));
  } else if (i >= 0) {
    t->DeleteContentLine(static_cast<std::size_t>(i));
  }
}

void TkoXmlElement::SetInteger(std::string_view childName, std::string_view key,
                               std::int32_t value) {
  SetValue(childName, key, std::to_string(value));
}

void TkoXmlElement::SetBool(std::string_view childName, std::string_view key, bool value) {
  SetValue(childName, key, value ? "true" : "false");
}
