#pragma once
#include <QColor>

class QPalette;

namespace vx {

// Colours the windows draw themselves, fitted to the palette in use so that a dark
// palette stays as readable as a light one.

// Contrast ratio of two colours, 1 (same luminance) to 21 (black on white), as the
// accessibility guidelines define it.
double ContrastRatio(const QColor& a, const QColor& b);

// Text contrast asked of every text the windows draw (the guidelines' level for normal
// text).
inline constexpr double kMinTextContrast = 4.5;

// `designed` when `text` reads on it well enough; otherwise the palette's base colour
// tinted towards `designed` as far as the contrast allows (the base itself at worst, which
// the palette's text reads on).
QColor FitBackground(const QColor& designed, const QColor& base, const QColor& text);

// `designed` when it reads on `background`; otherwise black or white, whichever reads better.
QColor FitText(const QColor& designed, const QColor& background);

// Black or white, whichever reads better on `background`.
QColor TextOn(const QColor& background);

// The colour `part` of the way from `from` to `to`.
QColor MixColours(const QColor& from, const QColor& to, double part);

// True when the palette's window colour is darker than its text.
bool IsDark(const QPalette& palette);

}  // namespace vx
