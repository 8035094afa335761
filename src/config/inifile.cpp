#include "config/inifile.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

#include "platform/atomicfile.h"
#include "xml/koxmlelement.h"

namespace vx {

namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The section name of a header line; false for any other line.
bool HeaderName(const std::string& line, std::string_view* name) {
  const std::string_view t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  *name = Trim(t.substr(1, t.size() - 2));
  return true;
}

// Key and value of a key line; comments (";" or "#") and lines without "=" are none.
bool KeyLine(const std::string& line, std::string_view* key, std::string_view* value) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#') return false;
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  *key = Trim(t.substr(0, eq));
  if (value) *value = Trim(t.substr(eq + 1));
  return !key->empty();
}

std::string OneLine(const std::string& value) {
  std::string out = value;
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  // A file that is not there is the first start; one that is there but cannot be read is
  // worth a word to whoever asks, and still reads as empty.
  std::error_code ec;
  const auto status = std::filesystem::status(fileName_, ec);
  if (!std::filesystem::exists(status)) return;
  if (!std::filesystem::is_regular_file(status)) {
    readError_ = fileName_ + " is not a file";
    return;
  }
  std::ifstream in(fileName_, std::ios::binary);
  if (!in) {
    readError_ = "Cannot read " + fileName_ + ": " + std::strerror(errno);
    return;
  }
  std::ostringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  // A line ends at CR, LF or CR LF.
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines_.push_back(std::move(line));
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines_.push_back(std::move(line));
}

int TIniFile::FindSection(const std::string& section) const {
  std::string_view name;
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (HeaderName(lines_[i], &name) && vx::SameTextAscii(name, section)) {
      return static_cast<int>(i);
    }
  return -1;
}

int TIniFile::SectionEnd(int header) const {
  std::string_view name;
  int i = header + 1;
  while (i < static_cast<int>(lines_.size()) && !HeaderName(lines_[i], &name)) ++i;
  return i;
}

int TIniFile::FindKey(int header, const std::string& key) const {
  const int end = SectionEnd(header);
  std::string_view k;
  for (int i = header + 1; i < end; ++i)
    if (KeyLine(lines_[i], &k, nullptr) && vx::SameTextAscii(k, key)) return i;
  return -1;
}

bool TIniFile::SectionExists(const std::string& section) const {
  return FindSection(section) >= 0;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& dflt) const {
  const int header = FindSection(section);
  if (header < 0) return dflt;
  const int at = FindKey(header, key);
  if (at < 0) return dflt;
  std::string_view k, v;
  KeyLine(lines_[at], &k, &v);
  return std::string(v);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t dflt) const {
  const std::string text = ReadString(section, key, std::string());
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return dflt;
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return dflt;
  return value;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  const std::string line = key + "=" + OneLine(value);
  int header = FindSection(section);
  if (header < 0) {
    // A blank line between sections, as people write them.
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + section + "]");
    lines_.push_back(line);
    return;
  }
  const int at = FindKey(header, key);
  if (at >= 0) {
    lines_[at] = line;
    return;
  }
  // After the section's last non-blank line, so that the blank line before the next
  // section stays where it was.
  int end = SectionEnd(header);
  while (end > header + 1 && Trim(lines_[end - 1]).empty()) --end;
  lines_.insert(lines_.begin() + end, line);
}

bool TIniFile::IsReadOnly() const {
  return IsReadOnlyFile(fileName_);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

bool TIniFile::UpdateFile() {
  std::string text;
  for (const std::string& l : lines_) {
    text += l;
    text += "\r\n";
  }
  const char* step = nullptr;
  const int err = WriteFileAtomically(fileName_, text, &step);
  keptReadOnly_ = err != 0 && step != nullptr && std::string_view(step) == "read-only";
  if (err == 0) {
    lastError_.clear();
    return true;
  }
  lastError_ =
      "Cannot write " + fileName_ + " (" + (step ? step : "write") + "): " + std::strerror(err);
  return false;
}

}  // namespace vx
