#pragma once
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// An ordered list of 8-bit (Windows-1252) text lines with INI-like lookup:
// - a section header is a line that, trimmed of blanks and control characters, is at
//   least 3 characters long and enclosed in "[" "]";
// - a comment starts with ";" in the first column;
// - a key line holds "=" at its second character or later; key and value are trimmed and
//   one pair of enclosing double quotes is removed from the value.
// Sections are found by comparing whole lines with "[" + name + "]" ignoring letter case,
// keys exactly; the first match wins. A lookup moves the cursor CurrentLine. The class
// has no locking: one thread at a time.
//
// Lookups go through an index of header lines (first occurrence, case-folded) and of the
// key of every line, rebuilt lazily after the lines change; the rules above are kept
// exactly, only the rescanning is saved.
class TkoTextResource {
 public:
  // Numbers of the built-in texts.
  static constexpr int kStdDefinitions = 28672;
  static constexpr int kStdFormats = 28673;
  static constexpr int kEmptyText = 28674;
  static constexpr int kSyntaxHeader = 28675;

  TkoTextResource();
  // Loads the built-in text of that number; an unknown number leaves the list empty.
  explicit TkoTextResource(int resourceNumber);
  // Loads the file; throws EkoException when it cannot be read.
  explicit TkoTextResource(const std::string& fileName);
  virtual ~TkoTextResource();

  TkoTextResource(const TkoTextResource&) = delete;
  TkoTextResource& operator=(const TkoTextResource&) = delete;

  // --- Loading -------------------------------------------------------------------------
  void Reset();
  // Records the name in FileName, then replaces the lines with the file's lines (a line
  // ends at CR, LF or CR LF). Throws EkoException when the file cannot be read.
  virtual void LoadFromFile(const std::string& fileName);
  void LoadFromStream(std::istream& stream);
  // Replaces the lines with the text (same line rule as a file).
  void SetText(std::string_view text);
  // Replaces the lines with the built-in text; an unknown number is ignored (lines kept).
  void LoadResource(int resourceNumber);
  // Empties the list and FileName, then loads the file when the name is not empty.
  void OpenFile(const std::string& fileName);
  // Append a built-in text by number or by name ("28672" or "28672.txt"); throws
  // EkoException when there is no such text.
  void AppendResource(int resourceNumber);
  void AppendResource(const std::string& resourceName);
  // Appends the file's lines; an empty name does nothing; throws when unreadable.
  void AppendFile(const std::string& fileName);
  // Inserts `resource` into the fallback chain directly after this one.
  void ChainResource(TkoTextResource* resource);
  // Writes every line ended by CR LF, through a temporary file renamed over the target.
  // Throws EkoException when the file cannot be written.
  void SaveToFile(const std::string& fileName) const;
  // All lines joined, each ended by CR LF.
  std::string Text() const;

  // --- The lines -----------------------------------------------------------------------
  std::int32_t Count() const { return static_cast<std::int32_t>(lines_.size()); }
  const std::string& Line(std::int32_t index) const {
    return lines_.at(static_cast<std::size_t>(index));
  }
  const std::vector<std::string>& Lines() const { return lines_; }
  void SetLine(std::int32_t index, std::string line);
  void Add(std::string line);
  void Insert(std::int32_t index, std::string line);
  void Delete(std::int32_t index);
  void Clear();

  // --- Line inspection and cursor ------------------------------------------------------
  std::string GetSectionName(std::int32_t index) const;
  std::string GetKeyName(std::int32_t index) const;
  std::string GetKeyValue(std::int32_t index) const;
  bool IsSectionLine() const;
  bool IsKeyLine() const;
  bool FindSection(const std::string& name);
  bool FindKey(const std::string& section, const std::string& key);
  bool IsBlank() const;

  // --- Values (the default comes back when the section or key is missing) ------------
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& dflt);
  std::int32_t ReadInteger(const std::string& section, const std::string& key, std::int32_t dflt);
  double ReadFloat(const std::string& section, const std::string& key, double dflt);
  // "+n" and "-n" are relative to base, "n" absolute; anything else gives base.
  std::int32_t ReadRelInteger(const std::string& section, const std::string& key,
                              std::int32_t base);
  // Writes key="value": replaces the key line, or inserts it under the section header, or
  // appends the header and the line.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
  // Appends every section name in line order (duplicates included).
  void ListSections(std::vector<std::string>* list) const;
  // Appends key=value (quotes removed) for every key line of the section.
  void ReadSectionValues(const std::string& section, std::vector<std::string>* list);

  std::string FileName;
  std::int32_t CurrentLine = -1;
  TkoTextResource* NextResource = nullptr;

 protected:
  // Called whenever the lines change.
  void Changed() {
    indexValid_ = false;
    lastSection_.clear();
    lastSectionLine_ = -1;
  }

 private:
  struct LineInfo {
    bool header = false;                        // a section header by the trimmed rule
    bool named = false;                         // ... with a name that is not empty
    std::uint32_t keyBegin = 0, keyLength = 0;  // the key; length 0 when no key line
  };
  void BuildIndex() const;
  std::string_view KeyOf(std::size_t line) const {
    const LineInfo& i = info_[line];
    return std::string_view(lines_[line]).substr(i.keyBegin, i.keyLength);
  }

  std::vector<std::string> lines_;
  // Case-folded "[name]" of every header-like line -> first line index.
  mutable std::unordered_map<std::string, std::int32_t> sectionIndex_;
  mutable std::vector<LineInfo> info_;
  mutable bool indexValid_ = false;
  // The last section found: lookups come in runs on one section.
  std::string lastSection_;
  std::int32_t lastSectionLine_ = -1;
};

namespace vx {

// Line helpers shared by the register model (no copies; views into `line`).
std::string_view Trim(std::string_view s);                // blanks and control characters
std::string_view LineSectionName(std::string_view line);  // empty when no header
std::string_view LineKeyName(std::string_view line);      // empty when no key line
std::string_view LineKeyValue(std::string_view line);     // empty when no "=" at pos >= 1

// Letter-case folding of Windows-1252 text, as the section and description lookups use.
char FoldCase(char c);
std::string FoldCase(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Splits a comma list: blanks before an item are skipped; an item in double quotes runs to
// the next lone quote ("" inside stands for one quote); another item runs to the next
// blank, control character or comma; then blanks and one comma are consumed.
std::vector<std::string> SplitCommaList(std::string_view text);

// sscanf("%d")-like: optional blanks and sign, decimal digits, rest ignored. Values outside
// 32 bits do not parse. `end`, when given, receives the index after the digits.
[[nodiscard]] bool ScanDecimal(std::string_view s, std::int64_t& out, std::size_t* end = nullptr);

// The bytes of a built-in text by number; false when there is none.
[[nodiscard]] bool FindBuiltinText(int resourceNumber, std::string_view& text);

}  // namespace vx

// Number syntax: decimal, hexadecimal ("0x" prefix or "h" suffix), binary ("0b" prefix or
// "b" suffix); floats with "." as decimal point. A suffix counts only when nothing but
// digits of its base (for "h", after an optional sign) stand before it, so a name such as
// "ActualPosH" is no number. On failure the out value is untouched.
// Hexadecimal and binary values are 32-bit patterns; texts that need more than 32 bits,
// and decimals outside the 32-bit signed range, do not parse.
[[nodiscard]] bool TextToInteger(std::string_view text, std::int32_t& value);
[[nodiscard]] bool TextToFloat(std::string_view text, double& value);
[[nodiscard]] bool BinaryToInteger(std::string_view text, std::int32_t& value);
