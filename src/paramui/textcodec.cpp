#include "paramui/textcodec.h"

#include <cstdint>

#include "platform/cp1252.h"

namespace vx {

QString ToQString(const std::string& text) {
  QString result;
  result.resize(static_cast<qsizetype>(text.size()));
  QChar* out = result.data();
  for (std::size_t i = 0; i < text.size(); ++i)
    out[i] = QChar(Cp1252ToUnicode(static_cast<std::uint8_t>(text[i])));
  return result;
}

std::string FromQString(const QString& text) {
  std::string result;
  result.reserve(static_cast<std::size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      result += '?';
      ++i;
      continue;
    }
    const int byte = UnicodeToCp1252(c.unicode());
    result += byte < 0 ? '?' : static_cast<char>(byte);
  }
  return result;
}

}  // namespace vx
