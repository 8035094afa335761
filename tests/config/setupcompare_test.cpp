// A drive's setup compared with a setup file: what differs is listed by the parameter that
// shows it (once, however many registers it spans), bits no parameter shows by their
// register, and nothing that an import would not change; the drive stays as it was.
#include "config/setupcompare.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/setupfile.h"
#include "devices/devicekit.h"
#include "devices/vx310.h"
#include "platform/koexception.h"
#include "regmodel/register.h"

namespace {

class SetupCompare : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(kit.model, nullptr);
    drive = std::make_unique<TkoDeviceVX310>(&kit.setup, &kit.version, kit.model);
    drive->ParCurrRangeMax->SetValue(8.0);
    for (int a = 100; a <= 137; ++a)
      if (TkoRegister* r = drive->RegisterAt(static_cast<uint16_t>(a)))
        r->AssignDefault(-1, 0xFFFFFFFF);
    vx::ExportSetupFile(*drive, vx::SetupFileHeader{}, file);
  }
  std::vector<std::string> Names(const vx::SetupComparison& c) {
    std::vector<std::string> names;
    for (const auto& d : c.Differences) names.push_back(d.Name);
    return names;
  }

  vxtest::ShippedVX310 kit;
  vxtest::ScratchDir dir{"setupcompare"};
  std::string file = dir.File("drive.310");
  std::unique_ptr<TkoDeviceVX310> drive;
};

TEST_F(SetupCompare, AnUnchangedDriveHasNoDifference) {
  const vx::SetupComparison c = vx::CompareSetupFile(*drive, file);
  EXPECT_TRUE(c.HasSetup);
  EXPECT_TRUE(c.Differences.empty()) << c.Differences.front().Name;
}

TEST_F(SetupCompare, ChangedParametersAreListedOnceInRegisterOrder) {
  drive->ParMotorAccel->SetValueString("6000");
  drive->ParMotorIrA->SetValueString("3.5");
  drive->CfgUseRamp->SetBool(!drive->CfgUseRamp->GetBool());
  drive->ParPosMaxLimit->SetLong(0x00050001);  // both halves change
  const std::string before = drive->ParMotorIrA->GetValueString();
  const vx::SetupComparison c = vx::CompareSetupFile(*drive, file);
  EXPECT_EQ(Names(c), (std::vector<std::string>{"CfgUseRamp", "ParMotorIrA", "ParMotorAccel",
                                                "ParPosMaxLimit"}));
  ASSERT_EQ(c.Differences.size(), 4u);
  EXPECT_EQ(c.Differences[1].Drive, "003.5A");
  EXPECT_EQ(c.Differences[1].File, "002.8A");
  EXPECT_EQ(drive->ParMotorIrA->GetValueString(), before) << "the compare changed the drive";
}

TEST_F(SetupCompare, BitsNoParameterShowsAreListedByTheirRegister) {
  TkoRegister* config = drive->FindRegister("Config");
  config->SetValueBit(0, 15, !config->GetValueBit(0, 15));  // no slot shows bit 15
  const vx::SetupComparison c = vx::CompareSetupFile(*drive, file);
  EXPECT_EQ(Names(c), (std::vector<std::string>{"Config"}));
}

TEST_F(SetupCompare, WhatAnImportWouldNotTakeIsNoDifference) {
  dir.Write("partial.310",
            "[VX310_Setup]\r\nMotorIrA=\"\"35\"\"\r\nNoSuchRegister=\"\"1\"\"\r\n"
            "DcBusVolt=\"\"1\"\"\r\n");  // DcBusVolt lies outside the setup
  const vx::SetupComparison c = vx::CompareSetupFile(*drive, dir.File("partial.310"));
  EXPECT_EQ(Names(c), (std::vector<std::string>{"ParMotorIrA"}));

  dir.Write("foreign.310", "[Something]\r\nMotorIrA=1\r\n");
  const vx::SetupComparison foreign = vx::CompareSetupFile(*drive, dir.File("foreign.310"));
  EXPECT_FALSE(foreign.HasSetup);
  EXPECT_TRUE(foreign.Differences.empty());
  EXPECT_THROW((void)vx::CompareSetupFile(*drive, dir.File("missing.310")), EkoException);
}

}  // namespace
