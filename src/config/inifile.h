#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vx {

// The settings file of the terminal: plain Windows-style INI text (section headers in
// square brackets, key=value lines, integers in decimal). Sections and keys match without
// regard to case, as Windows INI files do; lines the program does not know (comments,
// other sections, hand-written notes) are kept as they are when the file is written back.
//
// A window opens the file, reads or writes what it needs and lets it go: nothing keeps
// the file open. A missing or unreadable file reads as empty, so every read gets its
// default.
class TIniFile {
 public:
  explicit TIniFile(std::string fileName);

  [[nodiscard]] const std::string& FileName() const { return fileName_; }

  // The value of the first key of that name in the first section of that name, with
  // surrounding blanks removed; the default when either is missing.
  [[nodiscard]] std::string ReadString(const std::string& section, const std::string& key,
                                       const std::string& dflt) const;
  // A decimal integer with an optional sign; the default when the key is missing or its
  // value is not such a number or does not fit 32 bits.
  [[nodiscard]] int32_t ReadInteger(const std::string& section, const std::string& key,
                                    int32_t dflt) const;
  [[nodiscard]] bool SectionExists(const std::string& section) const;

  // Replaces the key's value, or adds the key at the end of its section, or adds the
  // section at the end of the file. Values are kept in memory until UpdateFile. Line
  // breaks in a value would start new lines in the file, so they become blanks.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);

  // Writes the lines through a temporary file renamed over the file. False, with a
  // message in LastError, when it could not be written; the old file is then untouched.
  // A read-only file is never written (KeptReadOnly tells that case apart).
  [[nodiscard]] bool UpdateFile();
  // The last UpdateFile left the file alone because it is read-only: its owner keeps it
  // so. The terminal says so once, at start (IsReadOnly), rather than at every write.
  [[nodiscard]] bool KeptReadOnly() const { return keptReadOnly_; }
  // The file exists and may not be written.
  [[nodiscard]] bool IsReadOnly() const;
  [[nodiscard]] const std::string& LastError() const { return lastError_; }
  // Why the file could not be read when it exists; empty otherwise.
  [[nodiscard]] const std::string& ReadError() const { return readError_; }

 private:
  // Index of the section header, -1 when missing.
  [[nodiscard]] int FindSection(const std::string& section) const;
  // Index of the key line inside the section that starts at `header`, -1 when missing.
  [[nodiscard]] int FindKey(int header, const std::string& key) const;
  // One past the last line of the section that starts at `header`.
  [[nodiscard]] int SectionEnd(int header) const;

  std::string fileName_;
  std::vector<std::string> lines_;
  std::string lastError_;
  std::string readError_;
  bool keptReadOnly_ = false;
};

}  // namespace vx
