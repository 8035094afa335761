#pragma once
#include <string>

// Process-wide number and date formatting. Nothing here consults the C or system locale:
// the separators are fixed at start-up and every formatter and parser reads them from
// FormatSettings.
namespace vx {

struct FormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = '\'';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  // Pictures used by an empty date-time picture ("/" and ":" print the separators above).
  std::string ShortDateFormat = "dd/mm/yyyy";
  std::string LongTimeFormat = "hh:mm:ss";
};

// The settings in force. Start-up may change them once, before any other thread runs;
// afterwards they are only read.
const FormatSettings& Formats();
void SetFormats(const FormatSettings& settings);

// Renders `value` with a number picture: "0" and "#" digit places, the first "." as the
// decimal point, "," in the integer part for thousands grouping, "E+"/"E-" (or "e+"/"e-")
// followed by "0"s for an exponent, text in single or double quotes copied as is, and up
// to three ";"-separated sections for positive, negative and zero values. Rounds halves
// away from zero. An empty picture gives the general form (15 significant digits).
std::string FormatFloat(const std::string& picture, double value);

// Date-time values count days since 30 December 1899; the fraction is the time of day.
double EncodeDate(int year, int month, int day);                       // NaN when not a valid date
double EncodeTime(int hour, int minute, int second, int millisecond);  // NaN when invalid
// Splits a date-time; false when `dt` is not finite or out of the years 1..9999.
bool DecodeDateTime(double dt, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond);
double Now();  // the current local date and time

// Renders a date-time with a picture: d, dd, m, mm (minutes right after h/hh), yy, yyyy,
// h, hh, n, nn, s, ss, "/" and ":" (the separators), quoted literals. An empty picture
// gives the short date, followed by the long time when the time is not midnight.
std::string FormatDateTime(const std::string& picture, double dt);

// Parses "d/m/y", "h:m[:s]" or "d/m/y h:m[:s]" with the process-wide separators; a
// two-digit year 0..50 is 2000..2050, 51..99 is 1951..1999. False when the text is not a
// valid date and time.
[[nodiscard]] bool TextToDateTime(const std::string& text, double& dt);

}  // namespace vx
