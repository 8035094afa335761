#include "regmodel/regdatabuffer.h"

#include <exception>

#include "platform/koexception.h"
#include "platform/threadbuffer.h"
#include "regmodel/regblock.h"
#include "regmodel/regdefinition.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

TkoRegDataBuffer::TkoRegDataBuffer(TkoRegDefsList* defsList) {
  if (!defsList) {
    throw EkoException(
        "You must specify a valid TkoRegDefsList reference to allocate registers buffer!");
  }
  Allocate(defsList);
}

TkoRegDataBuffer::~TkoRegDataBuffer() {
  Release();
}

void TkoRegDataBuffer::Allocate(TkoRegDefsList* defsList) {
  if (!defsList || image_ || !registers_.empty()) return;
  defsList_ = defsList;
  try {
    const int32_t bytes = defsList->BufferBytes();
    if (bytes <= 0) return;  // no definitions: nothing to hold
    image_ = std::make_unique<TkoThreadBuffer>(bytes);
    registers_.reserve(static_cast<size_t>(defsList->Count()));
    for (int32_t i = 0; i < defsList->Count(); ++i) {
      const TkoRegDefinition* def = defsList->DefinitionAt(i);
      registers_.push_back(std::make_unique<TkoRegister>(this, def, *image_, *defsList));
      byName_[def->Name] = i;  // later positions win, as the list's own name lookup
    }
  } catch (const std::exception&) {
    Release();
  }
}

void TkoRegDataBuffer::Release() {
  while (!registers_.empty()) registers_.pop_back();  // last to first
  byName_.clear();
  image_.reset();
}

int TkoRegDataBuffer::RegisterCount() const {
  if (!defsList_ || !image_ || registers_.empty()) return 0;
  return defsList_->Count();
}

TkoRegister* TkoRegDataBuffer::RegisterByIndex(int index) const {
  if (index < 0 || index >= RegisterCount()) return nullptr;
  return registers_[static_cast<size_t>(index)].get();
}

TkoRegister* TkoRegDataBuffer::RegisterAt(uint16_t address) const {
  if (RegisterCount() == 0) return nullptr;
  return RegisterByIndex(defsList_->IndexOfAddress(address));
}

TkoRegister* TkoRegDataBuffer::FindRegister(const std::string& name) const {
  if (RegisterCount() == 0) return nullptr;
  auto it = byName_.find(std::string(vx::Trim(name)));
  return it == byName_.end() ? nullptr : RegisterByIndex(it->second);
}

std::unique_ptr<TkoThreadBuffer> TkoRegDataBuffer::CreateView(int first, int count) const {
  if (!image_ || !defsList_ || first < 0 || first > 0xFFFF || count <= 0) return nullptr;
  const int32_t offset = defsList_->ByteOffset(static_cast<uint16_t>(first));
  const int32_t size = defsList_->BlockBytes(static_cast<uint16_t>(first), count);
  if (offset < 0 || size <= 0) return nullptr;
  return image_->CreateView(offset, size);  // null unless the range lies inside the image
}

void TkoRegDataBuffer::SaveBlocks(const TkoRegBlock* chain, const std::string& section,
                                  TkoTextResource* resource) const {
  if (!resource) return;
  for (const TkoRegBlock* b = chain; b; b = b->Next()) {
    if (!b->Valid()) continue;
    const int end = b->First() + b->Count();
    for (int a = b->First(); a < end; ++a) {
      if (TkoRegister* reg = RegisterAt(static_cast<uint16_t>(a))) {
        reg->SaveToResource(section, resource);
      }
    }
  }
}

std::string TkoRegDataBuffer::LoadBlocks(const std::string& section, TkoTextResource* resource,
                                         const TkoRegBlock* filter,
                                         std::vector<TkoLoadIssue>* issues) {
  if (!resource) return "Source file not defined!";
  std::string report;
  if (!resource->FindSection(section)) return report;
  // The section's key lines in file order, and the first line of every key: the one a
  // lookup of that key finds.
  std::vector<std::string_view> keys;
  std::unordered_map<std::string_view, int32_t> firstLine;
  for (int32_t i = resource->CurrentLine + 1; i < resource->Count(); ++i) {
    const std::string& line = resource->Line(i);
    if (!vx::LineSectionName(line).empty()) break;
    const std::string_view key = vx::LineKeyName(line);
    if (key.empty()) continue;
    keys.push_back(key);
    firstLine.try_emplace(key, i);
  }
  // Each register reads its line from a resource holding only the section header and that
  // line, so that loading n registers does not scan the section n times; what it reads is
  // exactly what it would find in the whole section.
  TkoTextResource one;
  one.Add("[" + section + "]");
  one.Add(std::string());
  for (const std::string_view key : keys) {
    TkoRegister* reg = FindRegister(std::string(key));
    if (!reg) {
      report.append(key).append("=UNKNOWN!\r\n");
      continue;
    }
    const std::string& name = reg->Definition()->Name;
    if (filter && !filter->Contains(reg->Definition()->Address)) {
      report += name + "=Excluded!\r\n";
      continue;
    }
    one.SetLine(1, resource->Line(firstLine[key]));
    report +=
        name + (reg->LoadFromResource(section, &one, issues) ? "=Found.\r\n" : "=NOT_FOUND!\r\n");
  }
  return report;
}

int32_t TkoRegDataBuffer::ReadReg(TkoRegister*, bool) {
  return kRegBufferNotReady;
}
int32_t TkoRegDataBuffer::WriteReg(TkoRegister*, bool) {
  return kRegBufferNotReady;
}
