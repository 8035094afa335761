#include "regmodel/regdefslist.h"

#include <algorithm>

#include "regmodel/textresource.h"
#include "regmodel/versionrecord.h"

TkoRegDefsList::TkoRegDefsList() = default;
TkoRegDefsList::~TkoRegDefsList() = default;

void TkoRegDefsList::BuildDefinitions() {
  if (built_) return;
  struct Entry {
    std::string name;
    std::unique_ptr<TkoRegDefinition> def;
  };
  std::vector<std::string> names;
  ListSections(&names);
  std::vector<Entry> entries;
  entries.reserve(names.size());
  for (auto& n : names) entries.push_back({std::move(n), nullptr});
  // Entries appended during the walk (EEPROM copies) come with their slot filled.
  std::vector<Entry> kept;
  kept.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    Entry& e = entries[i];
    if (e.def) {
      kept.push_back(std::move(e));
      continue;
    }
    std::int64_t number = 0;
    if (!vx::ScanDecimal(e.name, number)) continue;
    const auto address = static_cast<std::uint16_t>(number);
    auto def = std::make_unique<TkoRegDefinition>(address, this);
    if (def->EEPromCopy != number) {
      auto copy = std::make_unique<TkoRegDefinition>();
      copy->Assign(def.get(), def->EEPromCopy, "EE" + def->Name);
      std::string copyName = std::to_string(def->EEPromCopy);
      e.def = std::move(def);
      kept.push_back(std::move(entries[i]));
      entries.push_back({std::move(copyName), std::move(copy)});
      continue;
    }
    e.def = std::move(def);
    kept.push_back(std::move(e));
  }
  defs_.clear();
  defs_.reserve(kept.size());
  for (auto& e : kept) defs_.push_back(std::move(e.def));
  std::stable_sort(defs_.begin(), defs_.end(),
                   [](const auto& a, const auto& b) { return a->Address < b->Address; });
  // Each definition adds TotalBytes - 2 to its address. Definitions sharing an address add
  // up, but never to less than the largest of them needs: empty arrays (Length 0) repeated
  // at one address must not pull the next address back over bytes of this one or earlier.
  extra_.assign(defs_.size() + 1, 0);
  for (std::size_t i = 0; i < defs_.size();) {
    std::size_t j = i;
    std::int64_t sum = 0, largest = 0;
    for (; j < defs_.size() && defs_[j]->Address == defs_[i]->Address; ++j) {
      sum += defs_[j]->TotalBytes() - 2;
      largest = std::max<std::int64_t>(largest, defs_[j]->TotalBytes());
    }
    // Only the first position of each address is ever looked up.
    const std::int64_t group = std::max(sum, largest - 2);
    for (std::size_t k = i + 1; k <= j; ++k) extra_[k] = extra_[i] + group;
    i = j;
  }
  byName_.clear();
  for (std::size_t i = 0; i < defs_.size(); ++i)
    byName_[defs_[i]->Name] = static_cast<std::int32_t>(i);  // the last one wins
  built_ = true;
}

TkoRegDefinition* TkoRegDefsList::DefinitionAt(std::int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return defs_[static_cast<std::size_t>(index)].get();
}

std::size_t TkoRegDefsList::LowerBound(std::int64_t address) const {
  return static_cast<std::size_t>(
      std::lower_bound(defs_.begin(), defs_.end(), address,
                       [](const auto& d, std::int64_t a) { return d->Address < a; }) -
      defs_.begin());
}

std::int32_t TkoRegDefsList::IndexOfAddress(std::uint16_t address) const {
  std::size_t end = LowerBound(std::int64_t{address} + 1);
  if (end == 0 || defs_[end - 1]->Address != address) return -1;
  return static_cast<std::int32_t>(end - 1);
}

std::int32_t TkoRegDefsList::IndexOfName(const std::string& name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? -1 : it->second;
}

TkoRegDefinition* TkoRegDefsList::FindByAddress(std::uint16_t address) const {
  return DefinitionAt(IndexOfAddress(address));
}

TkoRegDefinition* TkoRegDefsList::FindByName(const std::string& name) const {
  return DefinitionAt(IndexOfName(name));
}

std::int32_t TkoRegDefsList::BufferBytes() const {
  if (defs_.empty()) return 0;
  return static_cast<std::int32_t>(2 * (std::int64_t{defs_.back()->Address} + 1) + extra_.back());
}

std::int32_t TkoRegDefsList::ByteOffset(std::uint16_t address) const {
  std::int64_t extra = extra_.empty() ? 0 : extra_[LowerBound(address)];
  return static_cast<std::int32_t>(2 * std::int64_t{address} + extra);
}

std::int32_t TkoRegDefsList::BlockBytes(std::uint16_t first, std::int32_t count) const {
  if (count < 0) count = 0;
  std::int64_t sum = 2 * std::int64_t{count};
  if (!extra_.empty())
    sum += extra_[LowerBound(std::int64_t{first} + count)] - extra_[LowerBound(first)];
  return static_cast<std::int32_t>(sum);
}

std::string TkoRegDefsList::GetVersions() {
  return ReadString("Versions", "Versions", "");
}

std::string TkoRegDefsList::GetVersionDescr() {
  return ReadString("Versions", "VerDescr", "");
}

std::string TkoRegDefsList::GetCategoryText(const std::string& category) {
  return ReadString("Categories", category, "");
}

std::int32_t TkoRegDefsList::GetMaxBufferSize() {
  std::int32_t v = ReadInteger("DataModel", "MaxBufferSize", 0);
  return std::clamp(v, 20, 256);
}

bool TkoRegDefsList::MatchesVersion(const TkoVersionRecord* record) {
  if (!record) return false;
  for (const std::string& item : vx::SplitCommaList(GetVersions()))
    if (record->Matches(item)) return true;
  return false;
}
