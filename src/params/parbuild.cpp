#include "params/parbuild.h"

#include <vector>

#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/textresource.h"

namespace vx {

namespace {

bool ParseNumber(const std::string& text, int32_t& out) {
  return TextToInteger(text, out);
}

// A parameter keeps the low 8 bits of its element, so a larger or negative number in an
// entry would name a different element than the one written.
bool ParseElement(const std::string& text, int32_t& out) {
  return ParseNumber(text, out) && out >= 0 && out <= 0xFF;
}

}  // namespace

std::unique_ptr<TkoParValue> BuildParameter(TkoParKind kind, std::string_view entry,
                                            const TkoRegDataBuffer& device) {
  const std::vector<std::string> items = SplitCommaList(entry);
  int32_t element = 0;
  switch (kind) {
    case TkoParKind::Value:
    case TkoParKind::Encoded: {
      if (items.size() != 2) return nullptr;
      TkoRegister* reg = device.FindRegister(items[0]);
      if (!reg || !ParseElement(items[1], element)) return nullptr;
      if (kind == TkoParKind::Value) return std::make_unique<TkoParValue>(reg, element);
      return std::make_unique<TkoParEncoded>(reg, element);
    }
    case TkoParKind::Long:
    case TkoParKind::Frac16:
    case TkoParKind::Point2D: {
      if (items.size() != 3 || !ParseElement(items[2], element)) return nullptr;
      TkoRegister* first = device.FindRegister(items[0]);
      TkoRegister* second = device.FindRegister(items[1]);
      if (kind == TkoParKind::Point2D)
        return std::make_unique<TkoPar2DPoint>(first, element, second);
      if (!first) return nullptr;
      if (kind == TkoParKind::Long) return std::make_unique<TkoParLong>(first, element, second);
      return std::make_unique<TkoParFrac16>(first, element, second);
    }
    case TkoParKind::BitField:
    case TkoParKind::BoolField: {
      if (items.size() != 3) return nullptr;
      TkoRegister* reg = device.FindRegister(items[0]);
      int32_t third = 0;
      if (!reg || !ParseElement(items[1], element) || !ParseNumber(items[2], third)) return nullptr;
      if (kind == TkoParKind::BitField) {
        return std::make_unique<TkoParBitField>(reg, static_cast<uint32_t>(third), element);
      }
      // A bit beyond 31 selects nothing in a 32-bit element.
      if (third < 0 || third > 31) return nullptr;
      return std::make_unique<TkoParBoolField>(reg, third, element);
    }
  }
  return nullptr;
}

std::unique_ptr<TkoParValue> BuildParameter(TkoParKind kind, const std::string& name,
                                            TkoTextResource& dataModel,
                                            const TkoRegDataBuffer& device) {
  const std::string entry = dataModel.ReadString("Parameters", name, std::string());
  if (entry.empty()) return nullptr;
  return BuildParameter(kind, std::string_view(entry), device);
}

}  // namespace vx
