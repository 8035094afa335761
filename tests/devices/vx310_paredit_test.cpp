// Parameters of the shipped VX310 set by name and typed text, as vx310ctl sets them: what
// the setup window's editor takes is taken, and what it would clamp or ignore silently is
// refused with the reason, leaving the drive object unchanged.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "devices/devicekit.h"
#include "devices/vx310.h"
#include "params/paredit.h"

namespace {

class Vx310ParEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(kit.model, nullptr);
    drive = std::make_unique<TkoDeviceVX310>(&kit.setup, &kit.version, kit.model);
    // As read from a drive: the current range that the motor currents' maximum follows.
    drive->ParCurrRangeMax->SetValue(8.0);
  }
  vxtest::ShippedVX310 kit;
  std::unique_ptr<TkoDeviceVX310> drive;
};

TEST_F(Vx310ParEdit, SlotsAreFoundByNameWithoutRegardToCase) {
  EXPECT_EQ(drive->FindParameter("ParMotorIrA"), drive->ParMotorIrA);
  EXPECT_EQ(drive->FindParameter("cfgrefsource"), drive->CfgRefSource);
  EXPECT_EQ(drive->FindParameter("RegActFault1"), nullptr);  // a register slot
  EXPECT_EQ(drive->FindParameter("ParNoSuch"), nullptr);
  // The inherited CfgRefSource stays empty and is not listed twice.
  int refSource = 0;
  for (const auto& p : drive->NamedParameters()) refSource += std::string(p.Name) == "CfgRefSource";
  EXPECT_EQ(refSource, 1);
}

TEST_F(Vx310ParEdit, AcceptedTextsSetTheValue) {
  const struct {
    const char* name;
    const char* text;
    const char* shown;
  } cases[] = {
      {"ParMotorIrA", "3.5", "003.5A"},
      {"ParMotorIrA", " 8 ", "008.0A"},  // the maximum itself, blanks ignored
      {"ParMotorAccel", "1770h", "6000rpm/s"},
      {"CfgRefSource", "analog input", "Analog input"},
      {"CfgRefSource", "3", "Step/Dir input"},  // the code of a choice
      {"CfgUseRamp", "Disabled", "Disabled"},
      {"ParPosMaxLimit", "-5", "-5 stp"},  // a long parameter's unsigned range
      {"ParZeroSpeedMax", "0.5", "0.5"},
  };
  for (const auto& c : cases) {
    TkoParValue* p = drive->FindParameter(c.name);
    ASSERT_NE(p, nullptr) << c.name;
    std::string why;
    EXPECT_TRUE(vx::SetParameterText(p, c.text, &why)) << c.name << "=" << c.text << ": " << why;
    EXPECT_EQ(p->GetValueString(), c.shown) << c.name << "=" << c.text;
  }
}

TEST_F(Vx310ParEdit, RefusedTextsChangeNothingAndSayWhy) {
  const struct {
    const char* name;
    const char* text;
    const char* why;
  } cases[] = {
      {"ParMotorIrA", "8.1", "\"8.1\" is above the maximum 008.0A"},  // tied to the current range
      {"ParMotorIrA", "0", "\"0\" is below the minimum 000.1A"},
      {"ParMotorIrA", "two", "\"two\" is not a number"},
      {"ParMotorAccel", "", "\"\" is not a number"},
      {"CfgRefSource", "Sideways",
       "\"Sideways\" is not a choice; the choices are \"None (drive idle)\", "
       "\"Field bus\", \"Analog input\", \"Step/Dir input\""},
      {"CfgRefSource", "7", "\"7\" is not a choice"},
      {"ParActualPos", "5", "read-only"},
      {"ParPosMaxLimit", "1.5", "\"1.5\" is not a whole number"},
  };
  for (const auto& c : cases) {
    TkoParValue* p = drive->FindParameter(c.name);
    ASSERT_NE(p, nullptr) << c.name;
    const std::string before = p->GetValueString();
    std::string why;
    EXPECT_FALSE(vx::SetParameterText(p, c.text, &why)) << c.name << "=" << c.text;
    EXPECT_EQ(why.rfind(c.why, 0), 0u) << c.name << "=" << c.text << ": " << why;
    EXPECT_EQ(p->GetValueString(), before) << c.name << "=" << c.text;
  }
}

}  // namespace
