#pragma once
#include <cstdint>
#include <string>

// Board, model, variant, version digits and suffix of a device, as its version request
// reports them; printed as text such as VX310v220 or VXP410_VX150v120-ST, parsed from
// such texts, and matched against patterns with "*" wildcards.
class TkoVersionRecord {
 public:
  TkoVersionRecord() = default;
  // Parses the text; a syntax error leaves what was parsed up to it.
  explicit TkoVersionRecord(const std::string& text);

  void Assign(const TkoVersionRecord& other) { *this = other; }
  void Clear() { *this = TkoVersionRecord(); }

  // VerMajor * 100 + VerMinor * 10 + VerRelease, as 16 bits.
  std::uint16_t GetVersionWord() const;
  void SetVersionWord(std::uint16_t w);

  std::string GetBoardText() const;
  std::string GetModelText() const;
  std::string GetVersionText() const;
  std::string ToString() const;

  // Resets the record, then parses the text; false on a syntax error.
  bool Parse(const std::string& text);
  // True when this record satisfies the pattern (a version text that may hold "*").
  bool Matches(const std::string& pattern) const;

  std::uint16_t Board = 0;  // 0 = none
  std::uint16_t Model = 0;
  char Variant[2] = {'\xFF', '\xFF'};
  std::int32_t VerMajor = -1;  // -1 = not given or any
  std::int32_t VerMinor = -1;
  std::int32_t VerRelease = 0;
  char Suffix[2] = {'\xFF', '\xFF'};
};
