#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "regmodel/regdefinition.h"
#include "regmodel/textresource.h"

class TkoVersionRecord;

// A data model: the text of a data-model file plus the register definitions built from
// its numeric sections, sorted by address, and the layout of a device's register image.
//
// Image layout: every address from 0 to the highest defined one takes one 16-bit word,
// except that a defined address takes its definition's TotalBytes; the addresses after
// an array, long or date are not shifted.
class TkoRegDefsList : public TkoTextResource {
 public:
  TkoRegDefsList();
  ~TkoRegDefsList() override;

  // Builds one definition per numeric section (plus an "EE" copy for every register with
  // an EEPROM copy), sorted by address. Does nothing once built.
  void BuildDefinitions();
  bool Built() const { return built_; }
  std::int32_t Count() const { return static_cast<std::int32_t>(defs_.size()); }

  // Null when the index is not below Count.
  TkoRegDefinition* DefinitionAt(std::int32_t index) const;
  // Position of the last definition with that address / exact name, or -1.
  std::int32_t IndexOfAddress(std::uint16_t address) const;
  std::int32_t IndexOfName(const std::string& name) const;
  TkoRegDefinition* FindByAddress(std::uint16_t address) const;
  TkoRegDefinition* FindByName(const std::string& name) const;

  // Size of the whole image; 0 for a list without definitions.
  std::int32_t BufferBytes() const;
  // Offset of an address inside the image.
  std::int32_t ByteOffset(std::uint16_t address) const;
  // Bytes covered by `count` addresses from `first`.
  std::int32_t BlockBytes(std::uint16_t first, std::int32_t count) const;

  std::string GetVersions();
  std::string GetVersionDescr();
  std::string GetCategoryText(const std::string& category);
  // "MaxBufferSize" of section "DataModel", kept within 20..256.
  std::int32_t GetMaxBufferSize();
  // True when the record matches an item of the "Versions" comma list.
  bool MatchesVersion(const TkoVersionRecord* record);

  // The number of lines of the text (the string list's own count).
  std::int32_t LineCount() const { return TkoTextResource::Count(); }

 private:
  // Index of the first definition whose address is >= address.
  std::size_t LowerBound(std::int64_t address) const;

  std::vector<std::unique_ptr<TkoRegDefinition>> defs_;
  // extra_[i]: sum of (TotalBytes - 2) over definitions 0..i-1, per address at least what
  // its largest definition needs; meaningful where i is the first definition of an address
  // (or the end).
  std::vector<std::int64_t> extra_;
  std::unordered_map<std::string, std::int32_t> byName_;
  bool built_ = false;
};
