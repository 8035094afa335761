// A drive's setup compared with a setup file: what differs is listed by the parameter that
// shows it (once, however many registers it spans), bits no parameter shows by their
// register, and nothing that an import would not change; the drive stays as it was.
#include "config/setupcompare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/setupfile.h"
#include "devices/devicekit.h"
#include "devices/vx310.h"
#include "platform/koexception.h"
#include "platform/threadbuffer.h"
#include "regmodel/dmcollection.h"
#include "regmodel/regdatabuffer.h"
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
  EXPECT_EQ(c.Differences[1].Mine, "003.5A");
  EXPECT_EQ(c.Differences[1].Other, "002.8A");
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

TEST_F(SetupCompare, TwoImagesOfOneModelDifferWhereTheOtherWasChanged) {
  TkoRegDataBuffer other(kit.model);
  {
    const TkoThreadBuffer::ReadAccess src(*drive->Image());
    TkoThreadBuffer::WriteAccess dst(*other.Image());
    std::memcpy(dst.data(), src.data(), static_cast<std::size_t>(drive->Image()->Size()));
  }
  EXPECT_TRUE(vx::CompareSetups(*drive, other, "RamSetup").empty());
  const std::string mine = drive->ParMotorAccel->GetValueString();
  other.RegisterAt(drive->ParMotorAccel->Register->Definition()->Address)->SetValueInteger(0, 1234);
  // EEPROM field-bus settings lie in the setup read but not in the file's category.
  TkoRegister* address =
      other.RegisterAt(drive->ParEEModBusAddress->Register->Definition()->Address);
  address->SetValueInteger(0, address->GetValueInteger(0) + 1);
  const std::vector<vx::SetupDifference> ram = vx::CompareSetups(*drive, other, "RamSetup");
  ASSERT_EQ(ram.size(), 2u);
  EXPECT_EQ(ram[0].Name, "ParMotorAccel");
  EXPECT_EQ(ram[0].Mine, mine);
  EXPECT_NE(ram[0].Other, mine);
  EXPECT_EQ(ram[1].Name, "ParEEModBusAddress");
  const std::vector<vx::SetupDifference> file = vx::CompareSetups(*drive, other, "ImportExport");
  ASSERT_EQ(file.size(), 1u);
  EXPECT_EQ(file[0].Name, "ParMotorAccel");
  EXPECT_EQ(drive->ParMotorAccel->GetValueString(), mine) << "the compare changed the drive";

  // Nothing to compare: an image of another data model (the same file loaded once more
  // is another model object), a category the model has not got.
  TkoDMCollection again;
  again.SetFilePath(std::string(VX_SOURCE_DIR) + "/models");
  TkoRegDefsList* otherModel = again.FindRegDefsListFor(&kit.version);
  ASSERT_NE(otherModel, nullptr);
  ASSERT_NE(otherModel, kit.model);
  TkoRegDataBuffer foreign(otherModel);
  EXPECT_TRUE(vx::CompareSetups(*drive, foreign, "RamSetup").empty());
  EXPECT_TRUE(vx::CompareSetups(*drive, other, "NoSuchCategory").empty());
}

TEST_F(SetupCompare, AFileOfAnotherDriveModelIsMarked) {
  const struct {
    const char* text;
    bool otherModel;
  } cases[] = {
      {"[Header]\r\nDrive=\"VX310v220\"\r\n[VX310_Setup]\r\nMotorIrA=\"\"35\"\"\r\n", false},
      {"[Header]\r\nDrive=\"VX150v110\"\r\n[VX310_Setup]\r\nMotorIrA=\"\"35\"\"\r\n", true},
      // Without the key: by names this drive has no register for.
      {"[VX310_Setup]\r\nMotorIrA=\"\"35\"\"\r\n", false},
      {"[VX310_Setup]\r\nMotorIrA=\"\"35\"\"\r\nNoSuchRegister=\"\"1\"\"\r\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    dir.Write("case.310", c.text);
    const vx::SetupComparison r = vx::CompareSetupFile(*drive, dir.File("case.310"));
    EXPECT_EQ(r.OtherModel, c.otherModel);
    EXPECT_EQ(r.Differences.size(), 1u) << "compared all the same";
  }
}

}  // namespace
