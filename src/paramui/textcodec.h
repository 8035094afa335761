#pragma once
#include <QString>
#include <string>

namespace vx {

// Engine text is Windows-1252; the user interface speaks QString. Every byte survives a
// round trip: the five bytes 1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become
// the C1 control characters of the same number and come back as those bytes.
QString ToQString(const std::string& text);

// Characters without a Windows-1252 form become "?" (one per character, surrogate pairs
// included).
std::string FromQString(const QString& text);

}  // namespace vx
