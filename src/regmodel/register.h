#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/threadbuffer.h"
#include "regmodel/regdefinition.h"

class TkoRegDataBuffer;
class TkoRegDefsList;
class TkoRegister;
class TkoTextResource;

// A limit or default of a register, in display units. With a Source the bound follows
// that register's value, combined with Value according to Mode.
class TkoRegBound {
 public:
  static constexpr std::uint8_t kDefault = 0, kMinimum = 1, kMaximum = 2;
  // Mode while Source is set: follow the source alone, the tighter of source and Value,
  // or the looser of the two.
  static constexpr std::uint8_t kFollow = 0, kTighter = 1, kLooser = 2;

  TkoRegBound() = default;
  TkoRegBound(std::uint8_t kind, double value) : Value(value), Kind(kind) {}

  // The bound for element `index` (Offset counts for minimum and maximum only).
  double GetBound(std::int32_t index) const;

  double Value = 0.0;
  double Offset = 0.0;
  TkoRegister* Source = nullptr;  // not owned
  std::uint8_t Kind = kDefault;
  std::uint8_t Mode = kFollow;
};

// A value of a setup file that a register could not take as written: clamped to a
// limit, unreadable, or missing (the default then stands). Display texts, in the
// register's number picture.
struct TkoLoadIssue {
  std::string Name;  // the register's name
  std::int32_t Element = 0;
  std::string FileValue;  // the value as the file gives it (as written when unreadable)
  std::string Kept;       // the value the register holds now
  std::string Why;        // "above the maximum", "below the minimum", "not a number", ...
};

// The live value of one defined register of one device: converts the register's bytes in
// the device's register image to and from integers, bits, display values, date-times and
// texts, clamps writes to the type's range and the register's bounds, and saves and loads
// its value as a line of a text resource.
//
// Every read takes the image's read lock around its byte access, every write its write
// lock; OnAfterWrite fires after the lock is released, on the writing thread. Rejected
// accesses throw EkoException and leave the bytes and Changed untouched.
class TkoRegister {
 public:
  // `image` is the device's register image; the register's bytes start at `byteOffset`
  // (the definition list's ByteOffset of its address) and span the definition's
  // TotalBytes. Throws EkoException when the definition is missing or its bytes do not
  // lie inside the image. The register keeps pointers to buffer and definition.
  TkoRegister(TkoRegDataBuffer* buffer, const TkoRegDefinition* definition, TkoThreadBuffer& image,
              std::int32_t byteOffset);
  // Same, with the offset taken from the list's layout.
  TkoRegister(TkoRegDataBuffer* buffer, const TkoRegDefinition* definition, TkoThreadBuffer& image,
              const TkoRegDefsList& list);
  ~TkoRegister();

  TkoRegister(const TkoRegister&) = delete;
  TkoRegister& operator=(const TkoRegister&) = delete;

  TkoRegDataBuffer* Buffer() const { return buffer_; }
  const TkoRegDefinition* Definition() const { return def_; }
  TkoThreadBuffer* View() const { return view_.get(); }  // null for a register of 0 bytes
  TkoRegBound* MaxBound() const { return max_.get(); }
  TkoRegBound* MinBound() const { return min_.get(); }
  TkoRegBound* DfltBound() const { return dflt_.get(); }
  bool HasBounds() const { return hasBounds_; }
  // Whether the last write changed any stored byte of the written element.
  bool Changed() const { return changed_; }
  const std::string& Name() const { return def_->Name; }

  // Signed or unsigned per definition (an unsigned long comes back as its bit pattern).
  std::int32_t GetValueInteger(std::int32_t index) const;
  // raw / FormatNorm + FormatOffset.
  double GetValueDouble(std::int32_t index) const;
  // Days since 30 December 1899; an invalid stored date or time reads as now.
  double GetValueDateTime(std::int32_t index) const;
  bool GetValueBit(std::int32_t index, std::int32_t bit) const;
  // The value ANDed with the mask (0: whole value), not shifted.
  std::int32_t GetValueMasked(std::int32_t index, std::uint32_t mask) const;
  // Display text: value description for bools, the format picture for numbers and
  // date-times, the characters for strings.
  std::string GetValueString(std::int32_t index, std::uint32_t mask) const;

  void SetValueInteger(std::int32_t index, std::int32_t value);
  void SetValueDouble(std::int32_t index, double value);
  void SetValueDateTime(std::int32_t index, double dateTime);
  void SetValueBit(std::int32_t index, std::int32_t bit, bool state);
  // Replaces the bits of `mask` (in place, not shifted); mask 0 replaces the whole value.
  void SetValueMasked(std::int32_t value, std::int32_t index, std::uint32_t mask);
  // Parses per type and writes; unparsable numbers are ignored, an unparsable date or time
  // throws EkoException.
  void SetValueString(const std::string& text, std::int32_t index, std::uint32_t mask);
  // Writes the default to element `index` (negative: every element).
  void AssignDefault(std::int32_t index, std::uint32_t mask);

  void SetLimits(double min, double max, double minOffset, double maxOffset);
  void SetLinkedLimits(TkoRegister* minSource, TkoRegister* maxSource, double minOffset,
                       double maxOffset);

  bool IsAllZero() const;
  // Appends description and value lines.
  void Report(std::vector<std::string>* list) const;
  // Writes the value as one line keyed by the register's name: a single value as
  // Name=""1500"", an array as Name=""1","2","3"" (one quoted item per element).
  void SaveToResource(const std::string& section, TkoTextResource* resource) const;
  // Takes the default, then reads the line back; true when the key was found. Every
  // value not taken as written (clamped, unreadable, missing elements) is added to
  // `issues` when given.
  bool LoadFromResource(const std::string& section, TkoTextResource* resource,
                        std::vector<TkoLoadIssue>* issues = nullptr);

  std::function<void(TkoRegister* sender, bool changed)> OnAfterWrite;

 private:
  void CheckIndex(std::int32_t index, const char* message) const;
  std::uint32_t ReadElement(const std::uint8_t* data, std::int32_t index) const;
  void StoreElement(std::uint8_t* data, std::int32_t index, std::uint32_t value) const;
  std::int32_t ElementValue(const std::uint8_t* data, std::int32_t index) const;
  void StoreClamped(std::int32_t index, std::int64_t value);
  void AfterWrite(bool changed);

  TkoRegDataBuffer* buffer_;
  const TkoRegDefinition* def_;
  std::unique_ptr<TkoThreadBuffer> view_;
  std::unique_ptr<TkoRegBound> max_, min_, dflt_;
  bool hasBounds_ = false;
  bool changed_ = false;
};
