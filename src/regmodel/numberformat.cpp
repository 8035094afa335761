#include "regmodel/numberformat.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <string_view>
#include <vector>

namespace vx {

namespace {

FormatSettings& MutableFormats() {
  static FormatSettings settings;
  return settings;
}

// Decimal digits of a finite, non-negative value: value = 0.<digits> x 10^point, the
// digits being the shortest text that reads back as the same double. Rounding works on
// these digits so that 2.675 rounds to 2.68 as a person expects.
struct Digits {
  std::string d;  // no leading zeros; empty for zero
  int point = 0;  // position of the decimal point in d
};

Digits ToDigits(double a) {
  Digits r;
  if (a == 0) return r;
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
  std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));
  std::size_t e = s.find('e');
  for (std::size_t i = 0; i < e; ++i)
    if (s[i] >= '0' && s[i] <= '9') r.d.push_back(s[i]);
  int exp10 = 0;
  std::string_view es = s.substr(e + 1);
  if (!es.empty() && es[0] == '+') es.remove_prefix(1);
  std::from_chars(es.data(), es.data() + es.size(), exp10);
  r.point = exp10 + 1;
  while (!r.d.empty() && r.d.back() == '0') r.d.pop_back();
  return r;
}

// Keeps `keep` digits (counted from the first), rounding half away from zero.
void RoundDigits(Digits& x, int keep) {
  if (keep >= static_cast<int>(x.d.size())) return;
  if (keep < 0) {
    x.d.clear();
    return;
  }
  bool up = x.d[static_cast<std::size_t>(keep)] >= '5';
  x.d.resize(static_cast<std::size_t>(keep));
  if (up) {
    int i = keep - 1;
    while (i >= 0 && x.d[static_cast<std::size_t>(i)] == '9') {
      x.d[static_cast<std::size_t>(i)] = '0';
      --i;
    }
    if (i >= 0) {
      ++x.d[static_cast<std::size_t>(i)];
    } else {
      x.d.insert(x.d.begin(), '1');
      ++x.point;
    }
  }
  while (!x.d.empty() && x.d.back() == '0') x.d.pop_back();
  if (x.d.empty()) x.point = 0;
}

// Integer and fraction digit texts of x with exactly `decimals` fraction digits.
void SplitFixed(const Digits& x, int decimals, std::string& intPart, std::string& frac) {
  intPart.clear();
  frac.clear();
  for (int i = 0; i < x.point; ++i)
    intPart.push_back(i < static_cast<int>(x.d.size()) ? x.d[static_cast<std::size_t>(i)] : '0');
  for (int j = 0; j < decimals; ++j) {
    int i = x.point + j;
    frac.push_back(i >= 0 && i < static_cast<int>(x.d.size()) ? x.d[static_cast<std::size_t>(i)]
                                                              : '0');
  }
}

std::vector<std::string> SplitSections(const std::string& picture) {
  std::vector<std::string> out(1);
  char quote = 0;
  for (char c : picture) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      out.emplace_back();
      continue;
    }
    out.back().push_back(c);
  }
  return out;
}

struct Picture {
  int intPh = 0;   // digit places before the decimal point
  int minInt = 0;  // integer digits always shown (from the first "0")
  int decPh = 0;   // digit places after the decimal point
  int minDec = 0;  // decimals always shown (up to the last "0")
  bool group = false;
  bool sci = false;
  int expDigits = 0;  // minimum exponent digits
  bool anyDigit() const { return intPh + decPh > 0; }
};

bool IsExponentAt(const std::string& s, std::size_t i) {
  return (s[i] == 'E' || s[i] == 'e') && i + 2 < s.size() + 0 &&
         (s[i + 1] == '+' || s[i + 1] == '-') && s[i + 2] == '0';
}

Picture Analyse(const std::string& s) {
  Picture p;
  bool point = false;
  int firstZero = -1;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\'' || c == '"') {
      std::size_t end = s.find(c, i + 1);
      i = end == std::string::npos ? s.size() : end;
    } else if (c == '0' || c == '#') {
      if (!point) {
        if (c == '0' && firstZero < 0) firstZero = p.intPh;
        ++p.intPh;
      } else {
        ++p.decPh;
        if (c == '0') p.minDec = p.decPh;
      }
    } else if (c == '.' && !point) {
      point = true;
    } else if (c == ',' && !point) {
      p.group = true;
    } else if (!p.sci && IsExponentAt(s, i)) {
      p.sci = true;
      i += 2;
      while (i < s.size() && s[i] == '0') {
        ++p.expDigits;
        ++i;
      }
      --i;
    }
  }
  p.minInt = firstZero < 0 ? 0 : p.intPh - firstZero;
  return p;
}

// The digits of |v| laid out for a picture. Returns whether the rounded value is zero.
struct Laid {
  std::string intPart, frac;
  int exponent = 0;
  bool zero = true;
};

Laid Layout(const Picture& p, double a) {
  Laid l;
  Digits x = ToDigits(a);
  if (p.sci) {
    int n = p.intPh > 0 ? p.intPh : 1;
    if (!x.d.empty()) {
      l.exponent = x.point - n;
      x.point = n;
      RoundDigits(x, n + p.decPh);
      if (x.point > n) {  // 9.99 became 10.0
        ++l.exponent;
        x.point = n;
      }
    }
    if (x.d.empty()) l.exponent = 0;
  } else {
    RoundDigits(x, x.point + p.decPh);
  }
  l.zero = x.d.empty();
  SplitFixed(x, p.decPh, l.intPart, l.frac);
  std::size_t lead = 0;
  while (lead < l.intPart.size() && l.intPart[lead] == '0') ++lead;
  l.intPart.erase(0, lead);
  if (static_cast<int>(l.intPart.size()) < p.minInt)
    l.intPart.insert(0, static_cast<std::size_t>(p.minInt) - l.intPart.size(), '0');
  while (static_cast<int>(l.frac.size()) > p.minDec && l.frac.back() == '0') l.frac.pop_back();
  return l;
}

std::string Render(const std::string& s, const Picture& p, const Laid& l, bool minus) {
  const FormatSettings& f = Formats();
  std::string out;
  if (minus) out.push_back('-');
  const int k = static_cast<int>(l.intPart.size());
  auto emitInt = [&](int pos) {
    out.push_back(l.intPart[static_cast<std::size_t>(pos)]);
    int left = k - 1 - pos;
    if (p.group && left > 0 && left % 3 == 0) out.push_back(f.ThousandSeparator);
  };
  int intSeen = 0, decSeen = 0;
  bool point = false, expDone = false;
  auto emitPendingInt = [&] {  // integer digits of a picture without integer places
    if (p.intPh == 0 && intSeen == 0) {
      for (int i = 0; i < k; ++i) emitInt(i);
      intSeen = -1;
    }
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\'' || c == '"') {
      std::size_t end = s.find(c, i + 1);
      if (end == std::string::npos) end = s.size();
      out.append(s, i + 1, end - i - 1);
      i = end;
    } else if ((c == '0' || c == '#') && !point) {
      if (intSeen == 0)
        for (int j = 0; j < k - p.intPh; ++j) emitInt(j);
      int pos = k - p.intPh + intSeen;
      if (pos >= 0) emitInt(pos);
      ++intSeen;
    } else if ((c == '0' || c == '#') && point) {
      if (decSeen < static_cast<int>(l.frac.size()))
        out.push_back(l.frac[static_cast<std::size_t>(decSeen)]);
      ++decSeen;
    } else if (c == '.' && !point) {
      emitPendingInt();
      point = true;
      if (!l.frac.empty()) out.push_back(f.DecimalSeparator);
    } else if (c == ',' && !point) {
      // grouping flag only
    } else if (p.sci && !expDone && IsExponentAt(s, i)) {
      emitPendingInt();
      expDone = true;
      out.push_back(c);
      int e = l.exponent;
      if (e < 0)
        out.push_back('-');
      else if (s[i + 1] == '+')
        out.push_back('+');
      std::string digits = std::to_string(e < 0 ? -e : e);
      if (static_cast<int>(digits.size()) < p.expDigits)
        digits.insert(0, static_cast<std::size_t>(p.expDigits) - digits.size(), '0');
      out += digits;
      i += 2;
      while (i < s.size() && s[i] == '0') ++i;
      --i;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string GeneralFormat(double v) {
  const FormatSettings& f = Formats();
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  Digits x = ToDigits(std::fabs(v));
  RoundDigits(x, 15);
  if (x.d.empty()) return "0";
  std::string out = v < 0 ? "-" : "";
  int exp10 = x.point - 1;
  if (exp10 >= -5 && exp10 < 15) {
    std::string ip, fr;
    SplitFixed(x, std::max(0, static_cast<int>(x.d.size()) - x.point), ip, fr);
    out += ip.empty() ? "0" : ip;
    if (!fr.empty()) {
      out.push_back(f.DecimalSeparator);
      out += fr;
    }
  } else {
    out.push_back(x.d[0]);
    if (x.d.size() > 1) {
      out.push_back(f.DecimalSeparator);
      out.append(x.d, 1);
    }
    out.push_back('E');
    out += std::to_string(exp10);
  }
  return out;
}

// Civil date <-> day count (days since 1 January 1970), proleptic Gregorian.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

const std::int64_t kEpochShift = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : days[m - 1];
}

std::string Two(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace

const FormatSettings& Formats() {
  return MutableFormats();
}
void SetFormats(const FormatSettings& settings) {
  MutableFormats() = settings;
}

std::string FormatFloat(const std::string& picture, double value) {
  if (picture.empty() || std::isnan(value) || std::isinf(value)) return GeneralFormat(value);
  std::vector<std::string> sec = SplitSections(picture);
  const bool neg = value < 0;
  const double a = std::fabs(value);
  const bool hasNeg = sec.size() > 1 && !sec[1].empty();
  const bool hasZero = sec.size() > 2 && !sec[2].empty();
  const std::string& first = neg && hasNeg ? sec[1] : sec[0];
  Picture p = Analyse(first);
  Laid l = Layout(p, a);
  if (l.zero && hasZero) {
    Picture pz = Analyse(sec[2]);
    return Render(sec[2], pz, Layout(pz, 0.0), false);
  }
  // A value that rounds to zero shows no minus sign.
  return Render(first, p, l, neg && !hasNeg && !l.zero && p.anyDigit());
}

double EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return std::nan("");
  return static_cast<double>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochShift);
}

double EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return std::nan("");
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
}

bool DecodeDateTime(double dt, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond) {
  // 1 January 0001 to 31 December 9999.
  if (!std::isfinite(dt) || dt < -693593.0 || dt >= 2958466.0) return false;
  double whole = std::trunc(dt);
  std::int64_t ms = std::llround(std::fabs(dt - whole) * 86400000.0);
  if (ms >= 86400000) ms = 86400000 - 1;
  CivilFromDays(static_cast<std::int64_t>(whole) + kEpochShift, year, month, day);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
  return true;
}

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  return EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
         EncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec,
                    static_cast<int>(ts.tv_nsec / 1000000));
}

std::string FormatDateTime(const std::string& picture, double dt) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  if (!DecodeDateTime(dt, y, mo, d, h, mi, s, ms)) return std::string();
  const FormatSettings& f = Formats();
  if (picture.empty()) {
    std::string out =
        FormatDateTime(f.ShortDateFormat.empty() ? "dd/mm/yyyy" : f.ShortDateFormat, dt);
    if (h || mi || s || ms) {
      out.push_back(' ');
      out += FormatDateTime(f.LongTimeFormat.empty() ? "hh:mm:ss" : f.LongTimeFormat, dt);
    }
    return out;
  }
  std::string out;
  bool afterHour = false;  // "m" right after an hour means minutes
  for (std::size_t i = 0; i < picture.size();) {
    char c = picture[i];
    char lc = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (c == '\'' || c == '"') {
      std::size_t end = picture.find(c, i + 1);
      if (end == std::string::npos) end = picture.size();
      out.append(picture, i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    std::size_t run = 1;
    if (lc == 'd' || lc == 'm' || lc == 'y' || lc == 'h' || lc == 'n' || lc == 's' || lc == 'z')
      while (i + run < picture.size() && (picture[i + run] | 0x20) == lc) ++run;
    switch (lc) {
      case 'd':
        out += run >= 2 ? Two(d) : std::to_string(d);
        afterHour = false;
        break;
      case 'm':
        if (afterHour)
          out += run >= 2 ? Two(mi) : std::to_string(mi);
        else
          out += run >= 2 ? Two(mo) : std::to_string(mo);
        afterHour = false;
        break;
      case 'n':
        out += run >= 2 ? Two(mi) : std::to_string(mi);
        afterHour = false;
        break;
      case 'y': {
        if (run <= 2)
          out += Two(y % 100);
        else {
          std::string t = std::to_string(y);
          out += std::string(t.size() < 4 ? 4 - t.size() : 0, '0') + t;
        }
        afterHour = false;
        break;
      }
      case 'h':
        out += run >= 2 ? Two(h) : std::to_string(h);
        afterHour = true;
        break;
      case 's':
        out += run >= 2 ? Two(s) : std::to_string(s);
        afterHour = false;
        break;
      case 'z': {
        std::string t = std::to_string(ms);
        out += run >= 3 ? std::string(3 - t.size(), '0') + t : t;
        afterHour = false;
        break;
      }
      case '/':
        out.push_back(f.DateSeparator);
        break;
      case ':':
        out.push_back(f.TimeSeparator);
        break;
      default:
        out.push_back(c);
        break;
    }
    i += run;
  }
  return out;
}

namespace {
// Reads up to `maxDigits` decimal digits; false when there are none.
bool ReadNum(std::string_view s, std::size_t& i, int maxDigits, int& v, int& count) {
  v = 0;
  count = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && count < maxDigits) {
    v = v * 10 + (s[i] - '0');
    ++i;
    ++count;
  }
  return count > 0;
}
}  // namespace

bool TextToDateTime(const std::string& text, double& dt) {
  const FormatSettings& f = Formats();
  std::string_view s(text);
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  std::size_t i = 0;
  double date = 0, time = 0;
  bool haveDate = false, haveTime = false;
  int a = 0, n = 0;
  if (!ReadNum(s, i, 4, a, n)) return false;
  if (i < s.size() && s[i] == f.DateSeparator) {
    int mo = 0, y = 0, ny = 0;
    ++i;
    if (!ReadNum(s, i, 2, mo, n) || i >= s.size() || s[i] != f.DateSeparator) return false;
    ++i;
    if (!ReadNum(s, i, 4, y, ny) || (ny != 2 && ny != 4)) return false;
    if (ny == 2) y += y <= 50 ? 2000 : 1900;
    date = EncodeDate(y, mo, a);
    if (std::isnan(date)) return false;
    haveDate = true;
    while (i < s.size() && s[i] == ' ') ++i;
    if (i < s.size() && !ReadNum(s, i, 2, a, n)) return false;
  }
  if (i < s.size() || !haveDate) {
    if (i >= s.size() || s[i] != f.TimeSeparator) return false;
    int mi = 0, sec = 0;
    ++i;
    if (!ReadNum(s, i, 2, mi, n)) return false;
    if (i < s.size() && s[i] == f.TimeSeparator) {
      ++i;
      if (!ReadNum(s, i, 2, sec, n)) return false;
    }
    time = EncodeTime(a, mi, sec, 0);
    if (std::isnan(time)) return false;
    haveTime = true;
  }
  if (i != s.size() || (!haveDate && !haveTime)) return false;
  dt = date + time;
  return true;
}

}  // namespace vx
