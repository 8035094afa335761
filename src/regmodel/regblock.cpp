#include "regmodel/regblock.h"

#include <cctype>
#include <string_view>
#include <vector>

#include "platform/threadbuffer.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"

namespace {

// A whole decimal integer: leading blanks and a sign allowed, nothing after the digits.
bool ParseWholeInt(std::string_view s, long long& out) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  if (i == s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    v = v * 10 + (s[i] - '0');
    if (v > 1'000'000'000LL) return false;  // far beyond any address; stops overflow
  }
  out = neg ? -v : v;
  return true;
}

// One item of a block list: "a" or "a/b". Addresses outside 0..65535 and reversed or
// unrepresentable ranges are invalid items rather than blocks that wrap round the
// address space.
bool ParseItem(std::string_view s, uint16_t& first, uint16_t& count) {
  long long a = 0, b = 0;
  const size_t slash = s.rfind('/');
  if (slash == std::string_view::npos) {
    if (!ParseWholeInt(s, a)) return false;
    b = a;
  } else if (!ParseWholeInt(s.substr(0, slash), a) || !ParseWholeInt(s.substr(slash + 1), b)) {
    return false;
  }
  if (a < 0 || a > 0xFFFF || b < a || b > 0xFFFF) return false;
  const long long n = b - a + 1;
  if (n > 0xFFFF) return false;
  first = static_cast<uint16_t>(a);
  count = static_cast<uint16_t>(n);
  return true;
}

}  // namespace

TkoRegBlock::TkoRegBlock(const std::string& text) {
  // Items are cut at every comma; an iterative walk from the last item keeps long texts
  // (thousands of items) off the call stack.
  std::vector<std::string_view> items;
  std::string_view all(text);
  size_t start = 0;
  for (;;) {
    const size_t comma = all.find(',', start);
    if (comma == std::string_view::npos) {
      items.push_back(all.substr(start));
      break;
    }
    items.push_back(all.substr(start, comma - start));
    start = comma + 1;
  }
  TkoRegBlock* block = this;
  for (size_t k = items.size(); k-- > 0;) {
    block->valid_ = ParseItem(items[k], block->first_, block->count_);
    // The text before this item's comma is empty only for the first item, or for the
    // second when the text starts with a comma.
    const bool restEmpty = k == 0 || (k == 1 && items[0].empty());
    if (!block->valid_ || restEmpty) break;
    block->next_ = new TkoRegBlock(0, 0, nullptr);
    block = block->next_;
  }
}

TkoRegBlock::TkoRegBlock(uint16_t first, uint16_t count, TkoRegBlock* next)
    : first_(first), count_(count), valid_(count != 0), next_(next) {}

TkoRegBlock::~TkoRegBlock() {
  DestroyView();
  // Unlink the rest of the chain first so that a long chain is freed without recursion.
  TkoRegBlock* rest = next_;
  next_ = nullptr;
  while (rest) {
    TkoRegBlock* after = rest->next_;
    rest->next_ = nullptr;
    delete rest;
    rest = after;
  }
}

void TkoRegBlock::DestroyView() {
  view_.reset();
}

bool TkoRegBlock::Split(int parts) {
  // One part is the block itself: splitting it would insert an empty block, which ends
  // the chain's valid run and hides the blocks after it.
  if (!valid_ || parts <= 1) return false;
  const int share = count_ / parts;
  if (share == 0) return false;
  next_ = new TkoRegBlock(static_cast<uint16_t>(first_ + share),
                          static_cast<uint16_t>(count_ - share), next_);
  count_ = static_cast<uint16_t>(share);
  if (parts - 1 > 1) next_->Split(parts - 1);
  return true;
}

int TkoRegBlock::TotalCount() const {
  int total = 0;
  for (const TkoRegBlock* b = this; b && b->valid_; b = b->next_) total += b->count_;
  return total;
}

void TkoRegBlock::MoveTo(uint16_t address) {
  if (address == first_) return;
  first_ = address;
  Rebind();
}

void TkoRegBlock::Rebind() {
  DestroyView();
  if (!owner_ || !valid_) return;
  TkoRegDefsList* list = owner_->DefsList();
  if (list) {
    const long long limit = static_cast<long long>(list->GetMaxBufferSize()) - 5;
    while (static_cast<long long>(list->BlockBytes(first_, count_)) > limit && Split(2)) {
    }
  }
  view_ = owner_->CreateView(first_, count_);
}

void TkoRegBlock::Bind(TkoRegDataBuffer* buffer) {
  for (TkoRegBlock* b = this; b; b = b->next_) {
    if (b->owner_ == buffer) continue;
    b->owner_ = buffer;
    b->Rebind();
  }
}

bool TkoRegBlock::Contains(int address) const {
  for (const TkoRegBlock* b = this; b; b = b->next_) {
    if (b->first_ <= address && address < static_cast<int>(b->first_) + b->count_) return true;
  }
  return false;
}

std::string TkoRegBlock::ToText() const {
  std::string out;
  for (const TkoRegBlock* b = this; b; b = b->next_) {
    // An invalid block names no address: printed as its First it would come back as a
    // valid block at address 0, and a transaction would transfer a register never named.
    if (!b->valid_) continue;
    if (!out.empty()) out += ',';
    out += std::to_string(b->first_);
    if (b->count_ > 1) out += '/' + std::to_string(b->first_ + b->count_ - 1);
  }
  return out;
}

namespace vx {

std::unique_ptr<TkoRegBlock> GetCategory(TkoRegDefsList& list, const std::string& category) {
  const std::string text = list.GetCategoryText(category);
  if (text.empty()) return nullptr;
  return std::make_unique<TkoRegBlock>(text);
}

}  // namespace vx
