#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TkoTextResource;

// Description of one register: address, name, type, element count, limits, default,
// display scaling and format, and the texts describing it, its elements, bit fields and
// values. Loaded from the section named by the address in decimal ("[100]"), following
// UseDefinition / UseFormat / UseDescr redirections in the same resource and then along
// its NextResource chain. Read-only once its definition list is built.
class TkoRegDefinition {
 public:
  // Type word: size code in bits 0..2, kind in bits 4..7.
  static constexpr std::uint16_t kSizeNone = 0, kSizeByte = 1, kSizeShort = 2, kSizeLong = 4;
  static constexpr std::uint16_t kUnsigned = 0x00, kSigned = 0x10, kBool = 0x20, kDate = 0x40,
                                 kTime = 0x80, kString = 0xC0;
  // Redirections nested deeper than this are not followed; what was read so far is kept.
  static constexpr int kMaxRedirectDepth = 8;

  TkoRegDefinition();
  TkoRegDefinition(std::uint16_t address, TkoTextResource* resource);

  void Clear();
  // Loads the definition of `address` from `resource` (null: name only). Returns true.
  bool Load(std::uint16_t address, TkoTextResource* resource);
  // Each loads one section with its redirection; true when the section was found there.
  bool LoadDefinition(const std::string& section, TkoTextResource* resource);
  bool LoadFormat(const std::string& section, TkoTextResource* resource);
  bool LoadDescr(const std::string& section, TkoTextResource* resource);
  // Copies every field of `source`; a negative address or empty name keeps the source's.
  // False (nothing changed) when source is null.
  bool Assign(const TkoRegDefinition* source, std::int32_t address = -1,
              const std::string& name = std::string());

  std::uint16_t Type() const { return type_; }
  // Date, time and string kinds always get size code 1.
  void SetType(std::uint16_t type);
  void ParseType(const std::string& text);
  std::string TypeText() const;
  std::uint16_t SizeCode() const { return type_ & 0x07; }
  std::uint16_t Kind() const { return type_ & 0xF0; }
  bool IsNumeric() const { return (type_ & 0xFF) < 0x40; }
  bool IsSigned() const { return Kind() == kSigned; }
  bool IsBool() const { return Kind() == kBool; }
  bool IsDate() const { return Kind() == kDate; }
  bool IsTime() const { return Kind() == kTime; }
  bool IsString() const { return Kind() == kString; }
  // Bytes of one element in a register image: 4 long, 6 date/time, else one word.
  std::int32_t ElementBytes() const;
  std::int32_t TotalBytes() const { return ElementBytes() * Length; }

  // Description of element `index` (-1: the register) or of its bit field `mask`; falls
  // back to "Descr" and then to Name. Throws EkoException for index >= Length.
  std::string GetDescr(std::int32_t index, std::uint32_t mask) const;
  // Description of `value` in bit field `mask` of element `index`; without one, the
  // number and its hex form when showNumber, else empty. Throws for a bad index.
  std::string GetValueDescr(std::int32_t value, std::int32_t index, bool showNumber,
                            std::uint32_t mask) const;
  // A description entry by name (letter case ignored); empty when absent.
  std::string FindDescr(const std::string& name) const;
  // The description entries, name and value, in the order they were set.
  const std::vector<std::pair<std::string, std::string>>& Descr() const { return descr_; }
  void SetDescr(const std::string& name, const std::string& value);

  std::string UseDefinition;
  std::string UseFormat;
  std::string UseDescr;
  std::uint16_t Address = 0;
  std::uint16_t EEPromCopy = 0;
  std::string Name;
  std::uint8_t Length = 1;
  bool HasMax = false;
  double MaxValue = 0.0;
  bool HasMin = false;
  double MinValue = 0.0;
  bool HasDflt = false;
  double DfltValue = 0.0;
  double FormatNorm = 1.0;
  double FormatOffset = 0.0;
  std::string FormatString;
  std::string FormatPrintf;

 private:
  // The sections being loaded on the current redirection path, per kind, so that a
  // section that reaches itself again stops there instead of recursing without end.
  struct PathEntry {
    const TkoTextResource* resource;
    std::int32_t line;
  };
  using Path = std::vector<PathEntry>;
  bool Enter(Path& path, TkoTextResource* resource);
  bool Redirect(bool (TkoRegDefinition::*load)(const std::string&, TkoTextResource*),
                const std::string& target, TkoTextResource* resource);

  std::uint16_t type_ = 0;
  std::vector<std::pair<std::string, std::string>> descr_;
  Path defPath_, fmtPath_, descrPath_;
};
