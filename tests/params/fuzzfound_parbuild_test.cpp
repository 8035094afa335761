// A "[Parameters]" entry whose element number does not fit the parameter's 8-bit element
// was built on another element (257 became 1), so the window showed and wrote a value
// the entry never named. Found by datamodel_fuzz's element check.
#include <gtest/gtest.h>

#include "params/parbuild.h"
#include "parfixture.h"

namespace {

TEST(ParBuildFuzzFound, ElementOutsideEightBitsBuildsNothing) {
  vxtest::ParModel m(
      "[1]\nName=Lo\n"
      "[2]\nName=Hi\n"
      "[3]\nName=Arr\nLength=2\n");
  struct Case {
    TkoParKind kind;
    const char* entry;
    int index;  // -1: nothing built
  };
  const Case cases[] = {
      {TkoParKind::Value, "Arr,1", 1},         {TkoParKind::Value, "Arr,255", 255},
      {TkoParKind::Value, "Arr,257", -1},      {TkoParKind::Value, "Arr,-1", -1},
      {TkoParKind::Encoded, "Arr,0x101", -1},  {TkoParKind::Long, "Lo,Hi,256", -1},
      {TkoParKind::Frac16, "Lo,Hi,-255", -1},  {TkoParKind::Point2D, "Lo,Hi,513", -1},
      {TkoParKind::BitField, "Arr,257,3", -1}, {TkoParKind::BoolField, "Arr,257,3", -1},
      {TkoParKind::BoolField, "Arr,1,3", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    const auto p = vx::BuildParameter(c.kind, std::string_view(c.entry), *m.device);
    if (c.index < 0) {
      EXPECT_EQ(p, nullptr);
    } else {
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(p->Index, c.index);
    }
  }
}

}  // namespace
