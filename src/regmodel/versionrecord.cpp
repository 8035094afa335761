#include "regmodel/versionrecord.h"

#include <cstdio>

#include "regmodel/textresource.h"

namespace {
bool Printable(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x20 && u <= 0x7E;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsAlnum(char c) {
  return IsDigit(c) || IsLetter(c);
}

// Variant or suffix: only a record whose first character is a letter or digit constrains.
bool PairMatches(const char r[2], const char p[2]) {
  if (!IsAlnum(r[0])) return true;
  if (p[0] == '*') return true;
  if (p[0] != r[0]) return false;
  if (IsAlnum(r[1])) return p[1] == '*' || p[1] == r[1];
  return true;
}
}  // namespace

TkoVersionRecord::TkoVersionRecord(const std::string& text) {
  (void)Parse(text);
}

std::uint16_t TkoVersionRecord::GetVersionWord() const {
  return static_cast<std::uint16_t>(VerMajor * 100 + VerMinor * 10 + VerRelease);
}

void TkoVersionRecord::SetVersionWord(std::uint16_t w) {
  VerMajor = w / 100;
  VerMinor = (w % 100) / 10;
  VerRelease = w % 10;
}

std::string TkoVersionRecord::GetBoardText() const {
  return Board == 0 ? std::string() : "VXP" + std::to_string(Board);
}

std::string TkoVersionRecord::GetModelText() const {
  std::string s = "VX" + std::to_string(Model);
  if (Printable(Variant[0])) {
    s += '-';
    s += Variant[0];
    if (Printable(Variant[1])) s += Variant[1];
  }
  return std::string(vx::Trim(s));
}

std::string TkoVersionRecord::GetVersionText() const {
  std::string s = std::to_string(GetVersionWord());
  if (Printable(Suffix[0])) {
    s += '-';
    s += Suffix[0];
    if (Printable(Suffix[1])) s += Suffix[1];
  }
  return s;
}

std::string TkoVersionRecord::ToString() const {
  std::string board = GetBoardText();
  return board + (board.empty() ? "" : "_") + GetModelText() + "v" + GetVersionText();
}

bool TkoVersionRecord::Parse(const std::string& text) {
  *this = TkoVersionRecord();
  std::string s(vx::Trim(text));
  for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  enum { kError = -1, kEnd = -2 };
  int state = 0;
  std::size_t i = 0;
  while (i < s.size() && state >= 0) {
    const char c = s[i];
    bool reread = false;
    switch (state) {
      case 0:
        state = c == 'V' ? 1 : 0;
        break;
      case 1:
        state = c == 'X' ? 2 : kError;
        break;
      case 2:
        if (c == 'P')
          state = Board != 0 ? kError : 3;
        else if (IsDigit(c)) {
          reread = true;
          state = 6;
        } else
          state = kError;
        break;
      case 3:
        if (IsDigit(c)) {
          reread = true;
          state = 4;
        } else
          state = kError;
        break;
      case 4:
        if (IsDigit(c))
          Board = static_cast<std::uint16_t>(Board * 10 + (c - '0'));
        else
          state = c == '_' ? 5 : kEnd;
        break;
      case 5:
        state = c == 'V' ? 1 : kError;
        break;
      case 6:
        if (IsDigit(c))
          Model = static_cast<std::uint16_t>(Model * 10 + (c - '0'));
        else
          state = c == '-' ? 7 : c == 'V' ? 10 : kEnd;
        break;
      case 7:
        if (c == ' ')
          state = 9;
        else if (c == '*' || IsAlnum(c)) {
          Variant[0] = c;
          state = 8;
        } else
          state = kError;
        break;
      case 8:
        if (c == 'V')
          state = 10;
        else if (c == '*' || IsAlnum(c)) {
          Variant[1] = c;
          state = 9;
        } else
          state = kError;
        break;
      case 9:
        state = c == 'V' ? 10 : kError;
        break;
      case 10:
        VerMajor = VerMinor = VerRelease = -1;
        if (c == '*')
          state = 13;
        else if (IsDigit(c)) {
          VerMajor = c - '0';
          state = 11;
        } else
          state = kError;
        break;
      case 11:
        VerMinor = VerRelease = -1;
        if (c == '*')
          state = 13;
        else if (IsDigit(c)) {
          VerMinor = c - '0';
          state = 12;
        } else
          state = kError;
        break;
      case 12:
        VerRelease = -1;
        if (c == '*')
          state = 13;
        else if (IsDigit(c)) {
          VerRelease = c - '0';
          state = 13;
        } else
          state = kError;
        break;
      case 13:
        if (VerMajor < 0)
          VerRelease = -1;
        else if (VerMinor < 0)
          VerRelease = VerMajor;
        if (c == '*')
          state = kError;
        else
          state = c == '-' ? 14 : kEnd;
        break;
      case 14:
        if (c == '*' || IsAlnum(c)) {
          Suffix[0] = c;
          state = 15;
        } else
          state = kError;
        break;
      case 15:
        // "*" is taken here too, so that a pattern such as -S* can match the suffix ST.
        if (c == '*' || IsAlnum(c)) Suffix[1] = c;
        state = kEnd;
        break;
    }
    if (!reread) ++i;
  }
  return state != kError;
}

bool TkoVersionRecord::Matches(const std::string& pattern) const {
  TkoVersionRecord p;
  if (!p.Parse(pattern)) return false;
  if (p.Board != 0 && p.Board != Board) return false;
  if (p.Model != Model) return false;
  if (!PairMatches(Variant, p.Variant)) return false;
  if (p.VerMajor >= 0) {
    if (p.VerMajor != VerMajor) return false;
    if (p.VerMinor >= 0) {
      if (p.VerMinor != VerMinor) return false;
      if (p.VerRelease >= 0 && p.VerRelease != VerRelease) return false;
    }
  }
  return PairMatches(Suffix, p.Suffix);
}
