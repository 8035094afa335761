#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "params/parvalue.h"

class TkoRegDataBuffer;
class TkoTextResource;

// The parameter class a device declares for one of its parameters.
enum class TkoParKind { Value, Long, Encoded, BitField, BoolField, Frac16, Point2D };

namespace vx {

// Builds a parameter of `kind` from a "[Parameters]" entry value: "reg,element" for plain
// and encoded parameters; "reg1,reg2,element" for long, fixed-point and 2-D point
// parameters; "reg,element,mask" and "reg,element,bit" for bit and boolean fields.
// Registers are found by name in `device`. Null when the item count is not that of the
// kind, a register the kind needs is missing, or a number does not parse (an element
// outside 0..255 or a bit number outside 0..31 counts as unparsable).
std::unique_ptr<TkoParValue> BuildParameter(TkoParKind kind, std::string_view entry,
                                            const TkoRegDataBuffer& device);

// Reads the entry of `name` in section "Parameters" of the data model and builds it; null
// when the entry is missing or unusable.
std::unique_ptr<TkoParValue> BuildParameter(TkoParKind kind, const std::string& name,
                                            TkoTextResource& dataModel,
                                            const TkoRegDataBuffer& device);

}  // namespace vx
