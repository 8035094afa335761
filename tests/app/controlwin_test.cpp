// The remote control window on the shipped VX310 model without a line: what it lists and
// binds, the enable rules it sets before each refresh, the reference steps within the
// target's range, the pulse commands, and letting go of a drive that has gone.
#include "app/controlwin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QHeaderView>
#include <QTreeWidget>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/apptest.h"
#include "devices/devicesetup.h"
#include "devices/vx310.h"
#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "params/parvalue.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"
#include "paramui/userinterfaceutils.h"
#include "platform/queuedispatcher.h"
#include "regmodel/dmcollection.h"
#include "regmodel/regdefslist.h"

namespace {

// Windows are members of the fixtures, made before SetUp runs: the application must be
// there before the first test.
class WidgetsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { vxtest::App(); }
};
[[maybe_unused]] ::testing::Environment* const kWidgets =
    ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

const std::string kModelDir = std::string(VX_SOURCE_DIR) + "/models";

class ControlFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousHandler = vx::SetUiErrorHandler([this](const std::string& m) { errors.push_back(m); });
    collection.SetFilePath(kModelDir);
    model = collection.FindRegDefsListFor(&version);
    ASSERT_NE(model, nullptr);
    setup.SetDeviceAddr(1);
    setup.SetEnabled(true);
    form.Device = [this] { return drive.get(); };
  }
  void TearDown() override {
    form.ReleaseDrive();
    vx::SetUiErrorHandler(previousHandler);
    EXPECT_TRUE(errors.empty()) << errors.front();
  }
  void Connect(TkoRegDefsList* list = nullptr) {
    drive = std::make_unique<TkoDeviceVX310>(&setup, &version, list ? list : model);
    form.BuildControls();
  }
  // Logs every change of the parameters the supervisor writes to the drive.
  void RecordChanges() {
    for (TkoParValue* par : std::vector<TkoParValue*>{drive->ParSpeedRef, drive->ParPosPktTarget,
                                                      drive->CmdDriveEnable, drive->CmdResetCounter,
                                                      drive->CmdZeroing, drive->CmdSyncSignal})
      par->OnChange = [this](TkoParValue* p) { changes.push_back(p); };
  }
  std::vector<std::string> ListedCaptions() const {
    std::vector<std::string> rows;
    QTreeWidget* list = form.lvControl();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      rows.push_back(vx::FromQString(list->topLevelItem(i)->text(0)));
    return rows;
  }
  void SetModes(bool positionMode, int64_t refSource, bool cmdFromBus) {
    drive->CfgPositionMode->SetBool(positionMode);
    drive->CfgRefSource->SetField(refSource);
    drive->CfgCmdFromBus->SetBool(cmdFromBus);
  }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  vx::UiErrorHandler previousHandler;
  std::vector<std::string> errors;
  TkoVersionRecord version{"VX310v220"};
  TkoDMCollection collection;
  TkoRegDefsList* model = nullptr;
  TkoDeviceSetup setup;
  std::unique_ptr<TkoDeviceVX310> drive;
  TControlForm form;
  std::vector<TkoParValue*> changes;
};

TEST_F(ControlFormTest, ActionsCarryTheirCaptionsShortcutsAndHints) {
  struct Case {
    QAction* action;
    const char* caption;
    QKeySequence shortcut;
    const char* hint;
  };
  const Case cases[] = {
      {form.acClose, "Close", QKeySequence(Qt::CTRL | Qt::Key_X), "Close control window"},
      {form.acDriveEnable, "Drive Enable", QKeySequence(Qt::Key_F1), "Drive enable"},
      {form.acResetCounter, "Reset Count", QKeySequence(), "Reset position counter"},
      {form.acExecuteZero, "Exec.Zero", QKeySequence(), "Execute zero search"},
      {form.acSyncSignal, "Sinchronize", QKeySequence(), "Position sinchronization signal"},
      {form.acRefUp, "Ref Up", QKeySequence(Qt::CTRL | Qt::Key_P), "Reference increment"},
      {form.acRefDwn, "Ref Down", QKeySequence(Qt::CTRL | Qt::Key_M), "Reference decrement"},
      {form.acRefInvert, "Ref Inv", QKeySequence(Qt::CTRL | Qt::Key_I), "Change reference sign"},
      {form.acRefZero, "Ref Zero", QKeySequence(Qt::CTRL | Qt::Key_Z), "Set reference to zero"},
  };
  EXPECT_EQ(form.windowTitle(), "Remote Control");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    EXPECT_EQ(c.action->text(), c.caption);
    EXPECT_EQ(c.action->shortcut(), c.shortcut);
    EXPECT_EQ(c.action->toolTip(), c.hint);
    EXPECT_EQ(c.action->isEnabled(), c.action == form.acClose) << "no drive yet";
  }
}

TEST_F(ControlFormTest, BuildControlsListsTheReferenceRowsAndBindsTheCommands) {
  Connect();
  QTreeWidget* list = form.lvControl();
  ASSERT_EQ(list->columnCount(), 4);
  const char* headers[] = {"Parameter", "Value", "Min", "Max"};
  for (int c = 0; c < 4; ++c) EXPECT_EQ(list->headerItem()->text(c), headers[c]);
  const std::vector<std::string> expected{
      drive->ParSpeedRef->GetDescr(),     "",
      drive->CfgPositionMode->GetDescr(), "",
      drive->ParPosPktAccel->GetDescr(),  drive->ParPosPktDecel->GetDescr(),
      drive->ParPosPktSpeed->GetDescr(),  drive->ParPosPktTarget->GetDescr()};
  EXPECT_EQ(ListedCaptions(), expected);
  // The values are shown at once, not at the next state read.
  drive->ParPosPktAccel->SetValue(1234);
  form.BuildControls();
  EXPECT_EQ(vx::FromQString(list->topLevelItem(4)->text(1)),
            drive->ParPosPktAccel->GetValueString());
  // The frame leaves room under a list that shows all its rows.
  EXPECT_GE(list->viewport()->height(), list->topLevelItemCount() * list->sizeHintForRow(0));

  struct Bound {
    QAction* action;
    TkoParBoolField* par;
  };
  for (const Bound& b : {Bound{form.acResetCounter, drive->CmdResetCounter},
                         Bound{form.acExecuteZero, drive->CmdZeroing},
                         Bound{form.acSyncSignal, drive->CmdSyncSignal}}) {
    EXPECT_EQ(TkoUserInterfaceUtils::ActionPar(b.action), b.par);
    EXPECT_EQ(vx::FromQString(b.action->text()), b.par->GetDescr());
    EXPECT_TRUE(b.action->isVisible());
  }
}

// The flags set before every refresh and where the drive enable button points.
TEST_F(ControlFormTest, EnableRulesFollowTheModesAtEachRefresh) {
  Connect();
  struct Case {
    bool positionMode;
    int64_t refSource;
    bool cmdFromBus;
    bool speedRefEnabled;
  };
  const Case cases[] = {
      {false, 1, false, true}, {false, 0, false, false}, {true, 1, true, false},
      {true, 2, false, false}, {false, 3, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "position " << c.positionMode << " source " << c.refSource
                                      << " bus " << c.cmdFromBus);
    SetModes(c.positionMode, c.refSource, c.cmdFromBus);
    form.koInterface()->RefreshData();
    EXPECT_EQ(drive->ParSpeedRef->Enabled, c.speedRefEnabled);
    for (TkoParValue* par :
         std::vector<TkoParValue*>{drive->ParPosPktAccel, drive->ParPosPktDecel,
                                   drive->ParPosPktSpeed, drive->ParPosPktTarget})
      EXPECT_EQ(par->Enabled, c.positionMode) << par->GetDescr();
    EXPECT_EQ(drive->CmdDriveEnable->Enabled, c.cmdFromBus);
    EXPECT_EQ(drive->HwDriveEnable->Enabled, !c.cmdFromBus);
    TkoParBoolField* enable = c.cmdFromBus ? drive->CmdDriveEnable : drive->HwDriveEnable;
    EXPECT_EQ(TkoUserInterfaceUtils::ActionPar(form.acDriveEnable), enable);
    EXPECT_EQ(vx::FromQString(form.acDriveEnable->text()), enable->GetDescr());
    // The button shows the state of what it is bound to.
    enable->SetBool(true);
    form.koInterface()->RefreshData();
    EXPECT_TRUE(form.acDriveEnable->isChecked());
    enable->SetBool(false);
    form.koInterface()->RefreshData();
    EXPECT_FALSE(form.acDriveEnable->isChecked());
  }
}

TEST_F(ControlFormTest, CommandsArePulsesThatSetTheirCommandEveryTime) {
  Connect();
  RecordChanges();
  int setupRefreshes = 0;
  form.RefreshSetup = [&] { ++setupRefreshes; };
  struct Case {
    QAction* action;
    TkoParBoolField* par;
  };
  for (const Case& c : {Case{form.acResetCounter, drive->CmdResetCounter},
                        Case{form.acExecuteZero, drive->CmdZeroing},
                        Case{form.acSyncSignal, drive->CmdSyncSignal}}) {
    SCOPED_TRACE(vx::FromQString(c.action->text()));
    for (int press = 0; press < 2; ++press) {
      // The drive clears a command once it has acted; the window must not clear it.
      changes.clear();
      form.koInterface()->DoOnExecute(c.action);
      EXPECT_TRUE(c.par->GetBool()) << "press " << press;
      EXPECT_EQ(changes, std::vector<TkoParValue*>{c.par}) << "press " << press;
      EXPECT_FALSE(c.action->isChecked()) << "press " << press;
    }
  }
  EXPECT_EQ(setupRefreshes, 6) << "every edit refreshes the setup window";
}

TEST_F(ControlFormTest, DriveEnableSwitchesTheCommandOrTheInputItIsBoundTo) {
  Connect();
  RecordChanges();
  SetModes(false, 1, true);
  form.koInterface()->RefreshData();
  drive->CmdDriveEnable->SetBool(false);
  changes.clear();
  form.koInterface()->DoOnExecute(form.acDriveEnable);
  EXPECT_TRUE(drive->CmdDriveEnable->GetBool());
  EXPECT_TRUE(form.acDriveEnable->isChecked());
  EXPECT_EQ(changes, std::vector<TkoParValue*>{drive->CmdDriveEnable});
  form.koInterface()->DoOnExecute(form.acDriveEnable);
  EXPECT_FALSE(drive->CmdDriveEnable->GetBool());

  // Commands from the hardware: the same button now stands for the input.
  drive->CfgCmdFromBus->SetBool(false);
  form.koInterface()->RefreshData();
  drive->HwDriveEnable->SetBool(false);
  form.koInterface()->DoOnExecute(form.acDriveEnable);
  EXPECT_TRUE(drive->HwDriveEnable->GetBool());
  EXPECT_FALSE(drive->CmdDriveEnable->GetBool());
}

TEST_F(ControlFormTest, ReferenceActionsStepInvertAndClearWithinTheLimits) {
  Connect();
  RecordChanges();
  using Op = void (TControlForm::*)();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  struct Case {
    const char* name;
    Op op;
    int32_t target;
    int32_t expected;
  };
  const Case positionCases[] = {
      {"up", &TControlForm::acRefUpExecute, 5, 6},
      {"down", &TControlForm::acRefDwnExecute, 5, 4},
      {"down through zero", &TControlForm::acRefDwnExecute, 0, -1},
      {"invert", &TControlForm::acRefInvertExecute, 5, -5},
      {"invert negative", &TControlForm::acRefInvertExecute, -70000, 70000},
      {"up across the half boundary", &TControlForm::acRefUpExecute, 65535, 65536},
      // At the ends of the axis a step must not wrap round to the other end.
      {"up at the end", &TControlForm::acRefUpExecute, kMax, kMax},
      {"down at the end", &TControlForm::acRefDwnExecute, kMin, kMin},
      {"invert the most negative", &TControlForm::acRefInvertExecute, kMin, kMax},
  };
  SetModes(true, 1, false);
  for (const Case& c : positionCases) {
    SCOPED_TRACE(c.name);
    drive->ParPosPktTarget->SetLong(static_cast<uint32_t>(c.target));
    drive->ParSpeedRef->SetValue(0.5);
    changes.clear();
    (form.*c.op)();
    EXPECT_EQ(static_cast<int32_t>(drive->ParPosPktTarget->GetLong()), c.expected);
    EXPECT_DOUBLE_EQ(drive->ParSpeedRef->GetValue(), 0.5) << "the speed reference is left";
    EXPECT_EQ(changes, std::vector<TkoParValue*>{drive->ParPosPktTarget});
  }

  struct SpeedCase {
    const char* name;
    Op op;
    double ref;
    double expected;
  };
  const SpeedCase speedCases[] = {
      {"up", &TControlForm::acRefUpExecute, 0.5, 0.51},
      {"down", &TControlForm::acRefDwnExecute, 0.5, 0.49},
      {"down through zero", &TControlForm::acRefDwnExecute, 0.0, -0.01},
      {"invert", &TControlForm::acRefInvertExecute, 0.25, -0.25},
      {"up at the maximum", &TControlForm::acRefUpExecute, 1.0, 1.0},
      {"down at the minimum", &TControlForm::acRefDwnExecute, -1.0, -1.0},
  };
  const double resolution = 1.0 / 32768;  // a 16-bit fraction
  SetModes(false, 1, false);
  const double maxRef = drive->ParSpeedRef->GetMax();
  for (const SpeedCase& c : speedCases) {
    SCOPED_TRACE(c.name);
    drive->ParSpeedRef->SetValue(c.ref);
    drive->ParPosPktTarget->SetLong(7);
    const double before = drive->ParSpeedRef->GetValue();
    changes.clear();
    (form.*c.op)();
    const double expected = std::min(c.expected, maxRef);
    EXPECT_NEAR(drive->ParSpeedRef->GetValue(), expected, 1.5 * resolution) << "from " << before;
    EXPECT_GE(drive->ParSpeedRef->GetValue(), drive->ParSpeedRef->GetMin());
    EXPECT_LE(drive->ParSpeedRef->GetValue(), maxRef);
    EXPECT_EQ(drive->ParPosPktTarget->GetLong(), 7u) << "the position target is left";
    EXPECT_EQ(changes, std::vector<TkoParValue*>{drive->ParSpeedRef});
  }
  // Steps do not drift from the hundredths through the fraction's rounding, and a
  // value between them moves by one step.
  drive->ParSpeedRef->SetValue(0.0);
  for (int i = 0; i < 10; ++i) form.acRefUpExecute();
  EXPECT_NEAR(drive->ParSpeedRef->GetValue(), 0.10, resolution);
  for (int i = 0; i < 20; ++i) form.acRefDwnExecute();
  EXPECT_NEAR(drive->ParSpeedRef->GetValue(), -0.10, resolution);
  drive->ParSpeedRef->SetValue(0.123);
  form.acRefUpExecute();
  EXPECT_NEAR(drive->ParSpeedRef->GetValue(), 0.133, 1.5 * resolution);
  // The value column follows at once.
  EXPECT_EQ(vx::FromQString(form.lvControl()->topLevelItem(0)->text(1)),
            drive->ParSpeedRef->GetValueString());
}

TEST_F(ControlFormTest, RefZeroClearsBothReferencesInEitherMode) {
  Connect();
  RecordChanges();
  for (bool positionMode : {false, true}) {
    SCOPED_TRACE(positionMode ? "position mode" : "speed mode");
    SetModes(positionMode, 1, false);
    drive->ParPosPktTarget->SetLong(static_cast<uint32_t>(-1234));
    drive->ParSpeedRef->SetValue(-0.5);
    changes.clear();
    form.acRefZeroExecute();
    EXPECT_EQ(drive->ParPosPktTarget->GetLong(), 0u);
    EXPECT_EQ(drive->ParSpeedRef->GetValue(), 0.0);
    // The target first, then the speed reference.
    EXPECT_EQ(changes, (std::vector<TkoParValue*>{drive->ParPosPktTarget, drive->ParSpeedRef}));
  }
}

TEST_F(ControlFormTest, NothingIsEnabledWithoutAReadyDrive) {
  // Identified but not on a running line: the device state is not "connected and ready".
  Connect();
  SetModes(false, 1, true);
  form.koInterface()->RefreshData();
  ASSERT_NE(drive->GetState(), TkoDeviceSetup::dsReady);
  for (QAction* a : {form.acDriveEnable, form.acResetCounter, form.acExecuteZero, form.acSyncSignal,
                     form.acRefUp, form.acRefDwn, form.acRefInvert, form.acRefZero}) {
    EXPECT_FALSE(a->isEnabled()) << vx::FromQString(a->objectName());
    // A disabled action is not carried out by its shortcut either.
    a->trigger();
  }
  EXPECT_FALSE(drive->CmdResetCounter->GetBool());
  EXPECT_TRUE(form.acClose->isEnabled());
}

TEST_F(ControlFormTest, AGoneDriveIsLetGoOf) {
  Connect();
  ASSERT_GT(form.lvControl()->topLevelItemCount(), 0);
  // Disconnect destroys the drive; the window must not reach into it afterwards (the
  // address sanitizer catches a read of the freed parameters).
  drive.reset();
  form.koInterface()->RefreshData();
  form.UpdateActions();
  EXPECT_EQ(form.lvControl()->topLevelItemCount(), 0);
  EXPECT_EQ(TkoUserInterfaceUtils::ActionPar(form.acResetCounter), nullptr);
  EXPECT_EQ(form.acResetCounter->text(), "Reset Count");
  EXPECT_FALSE(form.acResetCounter->isEnabled());
  form.acRefZeroExecute();
  form.acRefUpExecute();
  form.koInterface()->RefreshData();

  // The next drive is bound by the next identification.
  Connect();
  EXPECT_EQ(form.lvControl()->topLevelItemCount(), 8);
}

TEST_F(ControlFormTest, MembersTheModelLacksAreLeftOut) {
  TkoRegDefsList partial;
  partial.LoadFromFile(kModelDir + "/VX310v220.par");
  partial.ChainResource(collection.Predefined());
  for (const char* name : {"CmdZeroing", "ParPosPktTarget", "ParPosPktDecel", "CfgRefSource"})
    partial.WriteString("Parameters", name, "");
  partial.BuildDefinitions();
  Connect(&partial);
  ASSERT_EQ(drive->ParPosPktTarget, nullptr);
  EXPECT_EQ(ListedCaptions().size(), 6u) << "two rows fewer";
  EXPECT_FALSE(form.acExecuteZero->isVisible());
  EXPECT_EQ(form.acExecuteZero->text(), "-empty-");
  EXPECT_TRUE(form.acResetCounter->isVisible());
  // Without a reference source the reference actions stay off; carried out anyway they
  // leave what is missing alone.
  form.koInterface()->RefreshData();
  EXPECT_FALSE(form.acRefUp->isEnabled());
  drive->CfgPositionMode->SetBool(true);
  drive->ParSpeedRef->SetValue(0.5);
  form.acRefUpExecute();
  form.acRefInvertExecute();
  EXPECT_DOUBLE_EQ(drive->ParSpeedRef->GetValue(), 0.5);
  form.acRefZeroExecute();
  EXPECT_EQ(drive->ParSpeedRef->GetValue(), 0.0);
  form.ReleaseDrive();
  drive.reset();  // before the model it was built on
}

// The position comes back from the settings file; closing writes it with the size.
TEST(ControlFormSettings, PositionIsReadOnCreationAndWrittenOnClose) {
  const std::filesystem::path file = std::filesystem::path(::testing::TempDir()) /
                                     ("controlwin_" + std::to_string(::getpid()) + ".ini");
  std::ofstream(file) << "[Setup]\nLastPort=3\n[ControlForm]\nTop=40\nLeft=70\n";
  int width = 0;
  int height = 0;
  {
    TControlForm form;
    form.SetSettingsFile(file.string());
    EXPECT_EQ(form.pos(), QPoint(70, 40));
    form.move(15, 25);
    width = form.width();
    height = form.height();
    form.close();
  }
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("LastPort=3"), std::string::npos) << "other sections are kept";
  EXPECT_GE(width, 605);
  for (const std::string& line :
       {std::string("Top=25"), std::string("Left=15"), "Width=" + std::to_string(width),
        "Height=" + std::to_string(height)})
    EXPECT_NE(text.str().find(line), std::string::npos) << line << " in\n" << text.str();

  // A missing file puts the window at 0,0.
  std::filesystem::remove(file);
  TControlForm fresh;
  fresh.move(5, 5);
  fresh.SetSettingsFile(file.string());
  EXPECT_EQ(fresh.pos(), QPoint(0, 0));
  std::filesystem::remove(file);
}

}  // namespace
