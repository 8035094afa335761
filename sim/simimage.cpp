#include "sim/simimage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "platform/koexception.h"
#include "regmodel/regblock.h"
#include "regmodel/textresource.h"

namespace vx {

namespace {

constexpr const char* kStateSection = "EEPROM";

std::string Hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
  return buf;
}

// "0213 00FF": words in hexadecimal separated by blanks.
bool ParseWords(std::string_view text, std::vector<uint16_t>& words) {
  words.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) break;
    unsigned v = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] != ' '; ++i, ++digits) {
      const char c = text[i];
      unsigned d;
      if (c >= '0' && c <= '9')
        d = static_cast<unsigned>(c - '0');
      else if (c >= 'A' && c <= 'F')
        d = static_cast<unsigned>(c - 'A' + 10);
      else if (c >= 'a' && c <= 'f')
        d = static_cast<unsigned>(c - 'a' + 10);
      else
        return false;
      v = v * 16 + d;
    }
    if (digits == 0 || digits > 4) return false;
    words.push_back(static_cast<uint16_t>(v));
  }
  return !words.empty();
}

bool ParseAddress(std::string_view text, uint16_t& address) {
  if (text.empty() || text.size() > 5) return false;
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 0xFFFF) return false;
  address = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

SimImage::SimImage(const std::string& modelFile) : modelFile_(modelFile) {
  list_ = std::make_unique<TkoRegDefsList>();
  try {
    list_->LoadFromFile(modelFile);
  } catch (const EkoException& e) {
    throw EkoException("Cannot read the data model \"" + modelFile + "\": " + e.what());
  }
  list_->ChainResource(collection_.Predefined());
  list_->BuildDefinitions();
  if (list_->Count() == 0)
    throw EkoException("The data model \"" + modelFile + "\" defines no register.");
  buffer_ = std::make_unique<TkoRegDataBuffer>(list_.get());
  if (buffer_->RegisterCount() == 0)
    throw EkoException("The data model \"" + modelFile + "\" gives no usable register image.");
  maxFrame_ = list_->GetMaxBufferSize();

  eeprom_.assign(0x10000, false);
  for (uint16_t a : CategoryAddresses("EEPromSetup")) eeprom_[a] = true;
  for (int i = 0; i < list_->Count(); ++i) {
    const TkoRegDefinition* d = list_->DefinitionAt(i);
    if (d->EEPromCopy != d->Address) eeprom_[d->EEPromCopy] = true;
  }
}

SimImage::~SimImage() = default;

bool SimImage::AllDefined(uint16_t first, int count) const {
  if (count <= 0 || first + count > 0x10000) return false;
  for (int a = first; a < first + count; ++a)
    if (list_->IndexOfAddress(static_cast<uint16_t>(a)) < 0) return false;
  return true;
}

int SimImage::RangeBytes(uint16_t first, int count) const {
  return list_->BlockBytes(first, count);
}

void SimImage::Read(uint16_t first, int count, std::vector<uint8_t>& out) const {
  const int offset = list_->ByteOffset(first);
  const int size = list_->BlockBytes(first, count);
  TkoThreadBuffer& image = *buffer_->Image();
  if (offset < 0 || size <= 0 || offset + size > image.Size()) return;
  TkoThreadBuffer::ReadAccess access(image);
  out.insert(out.end(), access.data() + offset, access.data() + offset + size);
}

void SimImage::Write(uint16_t first, int count, std::span<const uint8_t> data) {
  const int offset = list_->ByteOffset(first);
  const int size = list_->BlockBytes(first, count);
  TkoThreadBuffer& image = *buffer_->Image();
  if (offset < 0 || size <= 0 || offset + size > image.Size() ||
      static_cast<std::size_t>(size) != data.size())
    return;
  TkoThreadBuffer::WriteAccess access(image);
  std::memcpy(access.data() + offset, data.data(), data.size());
}

std::vector<uint16_t> SimImage::CategoryAddresses(const std::string& category) {
  std::set<uint16_t> addresses;
  const std::string text = list_->GetCategoryText(category);
  if (!text.empty()) {
    TkoRegBlock chain(text);
    for (const TkoRegBlock* b = &chain; b != nullptr && b->Valid(); b = b->Next())
      for (int a = b->First(); a < b->First() + b->Count() && a <= 0xFFFF; ++a)
        addresses.insert(static_cast<uint16_t>(a));
  }
  return {addresses.begin(), addresses.end()};
}

bool SimImage::IsEeprom(uint16_t address) const {
  return eeprom_[address];
}

bool SimImage::TouchesEeprom(uint16_t first, int count) const {
  for (int a = first; a < first + count && a <= 0xFFFF; ++a)
    if (eeprom_[static_cast<std::size_t>(a)]) return true;
  return false;
}

void SimImage::AssignDefaults() {
  for (int i = 0; i < buffer_->RegisterCount(); ++i) {
    TkoRegister* r = buffer_->RegisterByIndex(i);
    const TkoRegDefinition* d = r->Definition();
    if (!d->HasDflt || d->IsString()) continue;
    for (int e = 0; e < d->Length; ++e) {
      // A bool register takes its default through the whole-value mask: the mask 0 form
      // keeps the value, as an import does.
      if (d->IsBool())
        r->SetValueInteger(e, static_cast<int32_t>((r->DfltBound()->GetBound(e) - d->FormatOffset) *
                                                   d->FormatNorm));
      else
        r->AssignDefault(e, 0);
    }
  }
}

void SimImage::PowerUp() {
  TkoThreadBuffer& image = *buffer_->Image();
  TkoThreadBuffer::WriteAccess access(image);
  for (int i = 0; i < list_->Count(); ++i) {
    const TkoRegDefinition* d = list_->DefinitionAt(i);
    if (d->EEPromCopy == d->Address) continue;
    const TkoRegDefinition* copy = list_->FindByAddress(d->EEPromCopy);
    if (!copy) continue;
    const int bytes = std::min(d->TotalBytes(), copy->TotalBytes());
    std::memmove(access.data() + list_->ByteOffset(d->Address),
                 access.data() + list_->ByteOffset(copy->Address), static_cast<std::size_t>(bytes));
  }
}

void SimImage::LoadState(const std::string& file, std::vector<std::string>* warnings) {
  TkoTextResource res;
  try {
    res.LoadFromFile(file);
  } catch (const EkoException& e) {
    throw EkoException("Cannot read the state file \"" + file + "\": " + e.what());
  }
  if (!res.FindSection(kStateSection))
    throw EkoException("The state file \"" + file + "\" has no [EEPROM] section.");
  std::vector<std::string> lines;
  res.ReadSectionValues(kStateSection, &lines);
  std::vector<uint16_t> words;
  for (const std::string& line : lines) {
    const std::size_t eq = line.find('=');
    const std::string key = line.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    uint16_t address = 0;
    if (!ParseAddress(key, address))
      throw EkoException("The state file \"" + file + "\" holds a bad register number: \"" + key +
                         "\".");
    const TkoRegDefinition* d = list_->FindByAddress(address);
    if (!d || !eeprom_[address]) {
      if (warnings)
        warnings->push_back("state file entry " + key +
                            " is no EEPROM register of this model: skipped");
      continue;
    }
    if (!ParseWords(value, words) || static_cast<int>(words.size()) * 2 != d->TotalBytes())
      throw EkoException("The state file \"" + file + "\" holds a bad value for register " + key +
                         ": \"" + value + "\" (" + std::to_string(d->TotalBytes() / 2) +
                         " hexadecimal words expected).");
    std::vector<uint8_t> bytes;
    for (uint16_t w : words) {
      bytes.push_back(static_cast<uint8_t>(w >> 8));
      bytes.push_back(static_cast<uint8_t>(w & 0xFF));
    }
    Write(address, 1, bytes);
  }
}

void SimImage::SaveState(const std::string& file) const {
  TkoTextResource res;
  res.Add(";vx310-sim EEPROM image (data model " + modelFile_ + ")");
  res.Add(";register number=its words in hexadecimal, high byte first");
  res.Add(std::string("[") + kStateSection + "]");
  std::vector<uint8_t> bytes;
  for (int i = 0; i < list_->Count(); ++i) {
    const TkoRegDefinition* d = list_->DefinitionAt(i);
    if (!eeprom_[d->Address]) continue;
    // Several definitions may share an address: the last one is the register.
    if (i + 1 < list_->Count() && list_->DefinitionAt(i + 1)->Address == d->Address) continue;
    bytes.clear();
    Read(d->Address, 1, bytes);
    std::string value;
    for (std::size_t b = 0; b + 1 < bytes.size(); b += 2) {
      if (!value.empty()) value += ' ';
      value += Hex4(static_cast<unsigned>(bytes[b] << 8 | bytes[b + 1]));
    }
    res.Add(std::to_string(d->Address) + "=" + value);
  }
  res.SaveToFile(file);
}

}  // namespace vx
