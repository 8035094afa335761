// The drive setup window on a drive object without a line: pages bound to the drive's
// parameters, enable rules, restart warnings, CAN frame choices, close query and window
// position. Set VX_SETUPWIN_PNG to a folder to get a picture of every page.
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "config/inifile.h"
#include "params/parencoded.h"
#include "paramui/kocombobox.h"
#include "paramui/koradiogroup.h"
#include "paramui/parrows.h"
#include "paramui/textcodec.h"
#include "paramui/userinterfaceutils.h"
#include "regmodel/regdefinition.h"
#include "setupkit.h"

namespace {

using vxtest::SetupWindowTest;
using Pars = std::vector<TkoParValue*>;

QWidget* Page(TSetupForm& form, const char* caption) {
  for (int i = 0; i < form.Pages()->count(); ++i)
    if (form.Pages()->tabText(i) == QLatin1String(caption)) return form.Pages()->widget(i);
  return nullptr;
}

// The lists of a page in creation (= top to bottom) order.
std::vector<QTreeWidget*> Lists(TSetupForm& form, const char* caption) {
  QWidget* page = Page(form, caption);
  if (page == nullptr) return {};
  const QList<QTreeWidget*> lists = page->findChildren<QTreeWidget*>();
  return std::vector<QTreeWidget*>(lists.begin(), lists.end());
}

// The radio groups of a page in creation order (the class has no meta-object of its own,
// so findChildren would return every group box).
std::vector<TkoRadioGroup*> Radios(TSetupForm& form, const char* caption) {
  std::vector<TkoRadioGroup*> out;
  if (QWidget* page = Page(form, caption))
    for (QGroupBox* box : page->findChildren<QGroupBox*>())
      if (auto* radio = dynamic_cast<TkoRadioGroup*>(box)) out.push_back(radio);
  return out;
}

// The parameters of a list's rows, null for a separator.
std::vector<TkoParValue*> RowPars(QTreeWidget* list) {
  std::vector<TkoParValue*> out;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    out.push_back(vx::RowPar(list->topLevelItem(i)));
  return out;
}

TEST_F(SetupWindowTest, PagesShowTheDrivesParametersInOrder) {
  form.BuildPages();
  form.RefreshData();
  const char* captions[] = {"Options",     "Motor",   "Encoder",  "Speed",
                            "Positioning", "Zeroing", "Field Bus"};
  ASSERT_EQ(form.Pages()->count(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(form.Pages()->tabText(i), QLatin1String(captions[i]));

  TkoDeviceVX310& d = D();
  struct Case {
    const char* page;
    std::size_t list;
    std::vector<TkoParValue*> rows;
  } cases[] = {
      {"Motor",
       0,
       {d.ParMotorStepRev, d.ParMotorStepDiv, d.ParMotorSrRPM, nullptr, d.ParMotorIpA,
        d.ParMotorIrA, d.ParMotorIrTimer}},
      {"Encoder",
       0,
       {d.ParEncoderPulseRev, d.ParEncoderGear, nullptr, d.ParUseEncoderReverse,
        d.ParUseEncoderSource}},
      {"Speed", 0, {d.ParSpeedWin, nullptr, d.ParMotorAccel, d.ParMotorDecel}},
      {"Positioning", 0, {d.ParPosMaxLimit, d.ParPosMinLimit}},
      {"Positioning", 1, {d.ParPosWindow, d.ParPosPGain, d.ParPosIGain}},
      {"Positioning", 2, {d.ParPosPktAccel, d.ParPosPktDecel, d.ParPosPktSpeed, d.ParPosPktTarget}},
      {"Zeroing", 0, {d.ParZeroSpeedMax, d.ParZeroSpeedMin, d.ParZeroTimeout}},
      {"Field Bus", 0, {d.ParEEModBusAddress}},
      {"Field Bus", 1, {d.ParEECanBusBaudrate}},
      {"Field Bus", 2, {d.ParCyclicRx1, d.ParCyclicRx2, d.ParCyclicRx3, d.ParCyclicRx4}},
      {"Field Bus", 3, {d.ParCyclicTx1, d.ParCyclicTx2, d.ParCyclicTx3, d.ParCyclicTx4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.page) + " list " + std::to_string(c.list));
    const std::vector<QTreeWidget*> lists = Lists(form, c.page);
    ASSERT_GT(lists.size(), c.list);
    QTreeWidget* list = lists[c.list];
    EXPECT_EQ(RowPars(list), c.rows);
    // Every row shows its parameter's value as the parameter gives it.
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      const TkoParValue* p = c.rows[static_cast<std::size_t>(i)];
      if (p == nullptr) continue;
      const int value = vx::FindColumn(list, lvcValue);
      ASSERT_GE(value, 0);
      EXPECT_EQ(list->topLevelItem(i)->text(value), vx::ToQString(p->GetValueString()));
    }
  }
  // Min and Max columns on the setup lists, none on the field bus lists.
  EXPECT_GE(vx::FindColumn(Lists(form, "Motor")[0], lvcMax), 0);
  EXPECT_LT(vx::FindColumn(Lists(form, "Field Bus")[0], lvcMax), 0);
  EXPECT_TRUE(Lists(form, "Field Bus")[2]->isHeaderHidden());

  // Radio groups, captioned by their parameters.
  struct Radio {
    const char* page;
    std::size_t index;
    TkoParEncoded* par;
  } radios[] = {{"Options", 0, d.CfgCmdFromBus},       {"Options", 1, d.CfgRefSource},
                {"Options", 2, d.CfgUseSyncSignal},    {"Encoder", 0, d.CfgEncoderEnable},
                {"Encoder", 1, d.CfgControlMode},      {"Speed", 0, d.CfgRampStopMode},
                {"Positioning", 0, d.CfgUsePosLimits}, {"Positioning", 1, d.CfgPositionMode},
                {"Zeroing", 0, d.CfgZeroActiveLevel},  {"Zeroing", 1, d.CfgZeroDirection}};
  for (const Radio& r : radios) {
    SCOPED_TRACE(r.page);
    const std::vector<TkoRadioGroup*> groups = Radios(form, r.page);
    ASSERT_GT(groups.size(), r.index);
    ASSERT_NE(r.par, nullptr);
    EXPECT_EQ(groups[r.index]->Par(), r.par);
    EXPECT_EQ(groups[r.index]->title(), vx::ToQString(r.par->GetDescr()));
  }
}

TEST_F(SetupWindowTest, EnableRulesFollowTheConfiguration) {
  TkoDeviceVX310& d = D();
  form.BuildPages();
  struct Case {
    int refSource;
    bool positionMode, useRamp, posLimits, encoder;
    // Expected Enabled flags.
    bool sync, rampStop, accel, limits, pid, encoderPars;
  } cases[] = {
      {0, false, true, false, false, false, false, false, false, false, false},
      {0, true, true, true, true, false, false, false, true, true, true},
      {1, false, false, false, true, true, true, false, false, false, true},
      {1, false, true, false, true, true, true, true, false, false, true},
      {2, true, false, true, false, true, false, true, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("RefSource " + std::to_string(c.refSource) + " position " +
                 std::to_string(c.positionMode) + " ramp " + std::to_string(c.useRamp));
    d.CfgRefSource->SetField(c.refSource);
    d.CfgPositionMode->SetBool(c.positionMode);
    d.CfgUseRamp->SetBool(c.useRamp);
    d.CfgUsePosLimits->SetBool(c.posLimits);
    d.CfgEncoderEnable->SetBool(c.encoder);
    form.RefreshData();
    for (TkoParValue* p :
         Pars{d.CfgUseSyncSignal, d.CfgZeroActiveLevel, d.CfgZeroDirection, d.ParZeroSpeedMax,
              d.ParZeroSpeedMin, d.ParZeroTimeout, d.CfgPositionMode})
      EXPECT_EQ(p->Enabled, c.sync) << p->GetDescr();
    EXPECT_EQ(d.CfgRampStopMode->Enabled, c.rampStop);
    EXPECT_EQ(d.ParMotorAccel->Enabled, c.accel);
    EXPECT_EQ(d.ParMotorDecel->Enabled, c.accel);
    EXPECT_EQ(d.ParPosMaxLimit->Enabled, c.limits);
    EXPECT_EQ(d.ParPosMinLimit->Enabled, c.limits);
    for (TkoParValue* p : Pars{d.ParPosWindow, d.ParPosPGain, d.ParPosIGain, d.ParPosPktAccel,
                               d.ParPosPktDecel, d.ParPosPktSpeed, d.ParPosPktTarget})
      EXPECT_EQ(p->Enabled, c.pid) << p->GetDescr();
    for (TkoParValue* p : Pars{d.ParEncoderPulseRev, d.ParEncoderGear, d.ParUseEncoderReverse,
                               d.ParUseEncoderSource})
      EXPECT_EQ(p->Enabled, c.encoderPars) << p->GetDescr();
    // A disabled radio group is greyed on screen too.
    const std::vector<TkoRadioGroup*> speed = Radios(form, "Speed");
    ASSERT_FALSE(speed.empty());
    EXPECT_EQ(speed[0]->isEnabled(), c.rampStop);
  }
}

TEST_F(SetupWindowTest, TheEncoderPageSwitchesTheEncoderItConfigures) {
  TkoDeviceVX310& d = D();
  d.CfgEncoderEnable->SetBool(false);
  form.BuildPages();
  form.RefreshData();
  const std::vector<TkoRadioGroup*> groups = Radios(form, "Encoder");
  ASSERT_FALSE(groups.empty());
  TkoRadioGroup* encoder = groups[0];
  ASSERT_EQ(encoder->Par(), d.CfgEncoderEnable);
  EXPECT_TRUE(encoder->isEnabled());
  EXPECT_FALSE(d.ParEncoderGear->Enabled);
  for (const auto& [on, index] : {std::pair{true, 1}, std::pair{false, 0}}) {
    encoder->Button(index)->click();
    EXPECT_EQ(d.CfgEncoderEnable->GetBool(), on);
    form.RefreshData();
    for (TkoParValue* p : Pars{d.ParEncoderPulseRev, d.ParEncoderGear, d.ParUseEncoderReverse,
                               d.ParUseEncoderSource})
      EXPECT_EQ(p->Enabled, on) << p->GetDescr();
  }
  EXPECT_EQ(d.GetSetupState(), TkoDeviceVXSlave::ssModified);
}

TEST_F(SetupWindowTest, EditsMarkTheSetupModifiedAndRestartParametersWarn) {
  form.BuildPages();
  TkoDeviceVX310& d = D();
  const std::string bar(74, '_');
  struct Case {
    TkoParValue* par;
    double value;
    std::vector<std::string> warning;
  } cases[] = {
      {d.ParEncoderPulseRev,
       2000,
       {bar, "!RESERVED PARAMETER!", "\"Encoder step per revolution\" has been modified.",
        " Warning: This modification takes effect only after restart.", bar}},
      {d.ParUseEncoderReverse,
       1,
       {bar, "!RESERVED PARAMETER!", "\"Encoder counter mode\" has been modified.",
        " Warning: This modification takes effect only after restart.", bar}},
      {d.ParMotorAccel, 1234, {}},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.par, nullptr);
    SCOPED_TRACE(c.par->GetDescr());
    log.clear();
    c.par->SetValue(c.value);
    // What the in-place editor does after changing the parameter.
    form.koInterface()->DoOnEdited(c.par);
    EXPECT_EQ(log, c.warning);
    EXPECT_EQ(d.GetSetupState(), TkoDeviceVXSlave::ssModified);
  }
}

TEST_F(SetupWindowTest, TheInPlaceEditorChangesTheDriveObjectOnly) {
  form.BuildPages();
  form.RefreshData();
  form.show();
  QTreeWidget* speed = Lists(form, "Speed")[0];
  form.Pages()->setCurrentWidget(Page(form, "Speed"));
  D().CfgRefSource->SetField(1);
  D().CfgUseRamp->SetBool(true);
  form.RefreshData();
  speed->setCurrentItem(speed->topLevelItem(2));  // acceleration
  ASSERT_EQ(vx::RowPar(speed->currentItem()), D().ParMotorAccel);
  form.koInterface()->ParEdit(speed, QChar('7'));
  ASSERT_TRUE(form.koInterface()->IsEditMode());
  QTest::keyClicks(form.koInterface()->Editor(), "50");
  QTest::keyClick(form.koInterface()->Editor(), Qt::Key_Return);
  EXPECT_DOUBLE_EQ(D().ParMotorAccel->GetValue(), 750);
  EXPECT_EQ(D().GetSetupState(), TkoDeviceVXSlave::ssModified);
  EXPECT_TRUE(log.empty()) << "nothing is sent on an edit";
  form.hide();
}

// A refused entry says why in the message log too; the drive object is left alone.
TEST_F(SetupWindowTest, ARefusedEntryIsToldInTheLog) {
  form.BuildPages();
  form.RefreshData();
  form.show();
  QTreeWidget* motor = Lists(form, "Motor")[0];
  form.Pages()->setCurrentWidget(Page(form, "Motor"));
  motor->setCurrentItem(motor->topLevelItem(0));
  ASSERT_EQ(vx::RowPar(motor->currentItem()), D().ParMotorStepRev);
  const double before = D().ParMotorStepRev->GetValue();
  D().DiscardLocalEdits();  // the factory defaults the fixture wrote
  form.koInterface()->ParEdit(motor, QChar('9'));
  QTest::keyClicks(form.koInterface()->Editor(), "9999");
  QTest::keyClick(form.koInterface()->Editor(), Qt::Key_Return);
  EXPECT_TRUE(form.koInterface()->IsEditMode()) << "open for a correction";
  EXPECT_EQ(log,
            std::vector<std::string>{"Motor steps per revolution: \"99999\" is above the "
                                     "maximum " +
                                     D().ParMotorStepRev->GetMaxString() + "; entry refused."});
  EXPECT_DOUBLE_EQ(D().ParMotorStepRev->GetValue(), before);
  EXPECT_FALSE(D().HasLocalEdits()) << "nothing written";
  QTest::keyClick(form.koInterface()->Editor(), Qt::Key_Escape);
  form.hide();
}

TEST_F(SetupWindowTest, CanFrameSelectorsOfferTheCategoriesRegisters) {
  form.BuildPages();
  TkoDeviceVX310& d = D();
  // The highest register number of "CanRxRegs" 125/129,220/221 and "CanTxRegs"
  // 200/210,300/301 bounds the selectors.
  for (TkoParEncoded* rx : {d.ParCyclicRx1, d.ParCyclicRx2, d.ParCyclicRx3, d.ParCyclicRx4}) {
    ASSERT_NE(rx, nullptr);
    EXPECT_DOUBLE_EQ(rx->GetMin(), 0);
    EXPECT_DOUBLE_EQ(rx->GetMax(), 221);
  }
  for (TkoParEncoded* tx : {d.ParCyclicTx1, d.ParCyclicTx4}) EXPECT_DOUBLE_EQ(tx->GetMax(), 301);

  const TkoRegDefinition* rxDef = d.ParCyclicRx2->Register->Definition();
  EXPECT_EQ(rxDef->FindDescr("Descr[0m0v0]"), "000 -none-               | Disabled field");
  const TkoRegDefinition* reg125 = drive.Model().FindByAddress(125);
  ASSERT_NE(reg125, nullptr);
  char expected[200];
  std::snprintf(expected, sizeof expected, "125 %-20s | %s", reg125->Name.c_str(),
                reg125->GetDescr(-1, 0).c_str());
  EXPECT_EQ(rxDef->FindDescr("Descr[0m0v125]"), expected);
  // RX registers are not offered to the TX selectors, and addresses between the ranges
  // are not offered at all.
  EXPECT_EQ(d.ParCyclicTx1->Register->Definition()->FindDescr("Descr[0m0v125]"), "");
  EXPECT_EQ(rxDef->FindDescr("Descr[0m0v150]"), "");

  // The choice list: "none" and the RX registers that exist, in ascending value.
  TkoParChoiceList choices;
  d.ParCyclicRx1->GetValueList(&choices, false);
  ASSERT_FALSE(choices.empty());
  EXPECT_EQ(choices.front().Text, "000 -none-               | Disabled field");
  EXPECT_EQ(choices.back().Tag, 221);
}

TEST_F(SetupWindowTest, ADataModelWithoutCanCategoriesLeavesTheSelectorsAtNone) {
  // The category texts are looked up when the pages are built.
  TkoRegDefsList& model = drive.Model();
  ASSERT_TRUE(model.FindKey("Categories", "CanRxRegs"));
  model.Delete(model.CurrentLine);
  form.BuildPages();
  EXPECT_DOUBLE_EQ(D().ParCyclicRx3->GetMax(), 0);
  EXPECT_DOUBLE_EQ(D().ParCyclicTx3->GetMax(), 301);
  D().ParCyclicRx3->SetValue(0);
  EXPECT_EQ(D().ParCyclicRx3->GetValueString(), "000 -none-               | Disabled field");
}

TEST(SetupWindowModelTest, MembersTheModelLacksAreLeftOut) {
  vxtest::App();
  vxtest::OfflineDrive drive({"ParMotorAccel", "CfgRefSource", "CfgPositionMode", "ParCyclicRx1",
                              "CfgZeroActiveLevel", "ParEEModBusAddress"});
  TkoDeviceVX310& d = drive.Drive();
  ASSERT_EQ(d.ParMotorAccel, nullptr);
  ASSERT_EQ(d.CfgRefSource, nullptr);
  std::vector<std::string> log;
  TSetupForm form;
  form.Device = [&d]() -> TkoDeviceVX310* { return &d; };
  form.Log = [&log](const std::string& line) { log.push_back(line); };
  form.BuildPages();
  form.RefreshData();
  EXPECT_EQ(RowPars(Lists(form, "Speed")[0]), (Pars{d.ParSpeedWin, nullptr, d.ParMotorDecel}));
  EXPECT_EQ(RowPars(Lists(form, "Field Bus")[2]),
            (Pars{d.ParCyclicRx2, d.ParCyclicRx3, d.ParCyclicRx4}));
  EXPECT_EQ(Radios(form, "Options")[1]->title(), QStringLiteral("-empty-"));
  // Without a reference source parameter the rules take RefSource as 0.
  EXPECT_FALSE(d.ParZeroTimeout->Enabled);
  // The address cannot be written without its parameter; the baud rate can.
  const QList<QPushButton*> saves = Page(form, "Field Bus")->findChildren<QPushButton*>();
  ASSERT_EQ(saves.size(), 2);
  EXPECT_FALSE(saves[0]->isEnabled());
  EXPECT_TRUE(saves[1]->isEnabled());
  const std::vector<std::string> report = form.ReportLines();
  EXPECT_FALSE(report.empty());
}

TEST_F(SetupWindowTest, DirectWritesWarnThatTheyTakeEffectAfterARestart) {
  form.BuildPages();
  const QList<QPushButton*> saves = Page(form, "Field Bus")->findChildren<QPushButton*>();
  ASSERT_EQ(saves.size(), 2);
  const std::string bar(74, '_');
  const char* names[] = {"ModBus Slave Address", "CanBus BaudRate"};
  for (int i = 0; i < 2; ++i) {
    log.clear();
    // Offline the write fails at once; the warning is written whatever the result.
    saves[i]->click();
    EXPECT_EQ(log, (std::vector<std::string>{
                       bar, std::string("\"") + names[i] + "\" has been modified.",
                       " Warning: This modification takes effect only after restart.", bar}));
  }
}

TEST_F(SetupWindowTest, TheHeightFollowsThePagesOfTheDriveBoundLast) {
  // The supervisor lets go of the old drive before it builds the pages of the new one.
  form.ReleaseDrive();
  const int empty = form.height();
  form.BuildPages();
  TSetupForm fresh;
  fresh.Device = form.Device;
  fresh.BuildPages();
  EXPECT_EQ(form.height(), fresh.height()) << "empty pages were " << empty;
  EXPECT_EQ(form.minimumHeight(), form.maximumHeight()) << "a fixed border";
}

TEST_F(SetupWindowTest, WithoutADriveThePagesAreEmptyAndTheActionsOff) {
  connected = false;
  form.BuildPages();
  form.RefreshData();
  for (QTreeWidget* list : Lists(form, "Motor")) EXPECT_EQ(list->topLevelItemCount(), 0);
  for (QAction* a :
       {form.acReload, form.acSend, form.acSave, form.acImport, form.acExport, form.acPrint})
    EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
  EXPECT_TRUE(form.acClose->isEnabled());
}

TEST_F(SetupWindowTest, ADriveThatGoesIsLetGoBeforeItsParametersAreTouched) {
  form.BuildPages();
  form.RefreshData();
  ASSERT_GT(Lists(form, "Motor")[0]->topLevelItemCount(), 0);
  connected = false;
  drive.Destroy();
  // Under AddressSanitizer a touch of the destroyed drive's parameters fails here.
  form.RefreshData();
  EXPECT_EQ(Lists(form, "Motor")[0]->topLevelItemCount(), 0);
  EXPECT_TRUE(form.CloseQuery());
}

TEST_F(SetupWindowTest, ActionsHaveTheirCaptionsShortcutsAndHints) {
  struct Case {
    QAction* action;
    const char* caption;
    const char* shortcut;
    const char* hint;
  } cases[] = {
      {form.acClose, "Close", "Ctrl+X", "Exit from setup window"},
      {form.acReload, "Reload", "", "Refresh data from VX150"},
      {form.acSend, "Send", "Ctrl+T", "Send setup to VX150"},
      {form.acSave, "Save", "Ctrl+S", "Send and Save the setup to VX150 pemanently"},
      {form.acImport, "From File ...", "", "Load setup from file"},
      {form.acExport, "To File ...", "", "Save setup to file"},
      {form.acPrint, "Print", "", "Print setup"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.action->text(), QLatin1String(c.caption));
    EXPECT_EQ(c.action->shortcut().toString(), QLatin1String(c.shortcut));
    EXPECT_EQ(c.action->toolTip(), QLatin1String(c.hint));
  }
  // Offline the drive is not ready: only the file actions work on it.
  form.BuildPages();
  EXPECT_FALSE(form.acReload->isEnabled());
  EXPECT_FALSE(form.acSave->isEnabled());
  EXPECT_TRUE(form.acExport->isEnabled());
}

TEST_F(SetupWindowTest, AnOfflineDriveClosesWithoutAQuestion) {
  form.BuildPages();
  D().ParMotorAccel->SetValue(4321);
  ASSERT_EQ(D().GetSetupState(), TkoDeviceVXSlave::ssModified);
  form.show();
  EXPECT_TRUE(form.close());
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(SetupWindowTest, ThePositionComesFromTheSettingsFileAndGoesBackOnClose) {
  vxtest::ScratchDir dir("setupwin_pos");
  const std::string ini = dir.File("VX310_ConfigTerm.ini");
  dir.Write("VX310_ConfigTerm.ini", "[SetupForm]\r\nTop=40\r\nLeft=30\r\n[Other]\r\nKeep=1\r\n");
  form.SetSettingsFile(ini);
  EXPECT_EQ(form.pos(), QPoint(30, 40));
  form.move(55, 66);
  form.show();
  ASSERT_TRUE(form.close());
  const vx::TIniFile written(ini);
  EXPECT_EQ(written.ReadInteger("SetupForm", "Left", -1), form.x());
  EXPECT_EQ(written.ReadInteger("SetupForm", "Top", -1), form.y());
  EXPECT_EQ(written.ReadInteger("SetupForm", "Width", -1), form.width());
  EXPECT_EQ(written.ReadInteger("SetupForm", "Height", -1), form.height());
  EXPECT_EQ(written.ReadString("Other", "Keep", ""), "1");
}

// Pictures of every page for a person's eye; run under xvfb-run for real fonts.
TEST_F(SetupWindowTest, PicturesOfThePages) {
  const QByteArray dir = qgetenv("VX_SETUPWIN_PNG");
  if (dir.isEmpty()) GTEST_SKIP() << "set VX_SETUPWIN_PNG to a folder to get the pictures";
  D().CfgRefSource->SetField(1);
  D().CfgUseRamp->SetBool(true);
  D().CfgEncoderEnable->SetBool(true);
  D().CfgPositionMode->SetBool(true);
  form.BuildPages();
  form.RefreshData();
  form.show();
  for (int i = 0; i < form.Pages()->count(); ++i) {
    form.Pages()->setCurrentIndex(i);
    const QString file =
        QString::fromLocal8Bit(dir) +
        QStringLiteral("/setup_%1_%2.png").arg(i).arg(form.Pages()->tabText(i)).replace(' ', '_');
    EXPECT_TRUE(form.grab().save(file)) << file.toStdString();
  }
  form.hide();
}

}  // namespace

namespace {

// After a connect the setup read opens the window by itself; the engineer typing in
// another window of the terminal keeps the keyboard.
TEST_F(SetupWindowTest, OpeningAfterASetupReadLeavesTheFocusWhereItWas) {
  connected = false;
  QWidget other;
  auto* edit = new QLineEdit(&other);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  edit->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }));

  form.SetupRead();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_TRUE(form.isVisible());
  QApplication::processEvents();
  EXPECT_EQ(QApplication::activeWindow(), &other);
  EXPECT_TRUE(edit->hasFocus());
  form.hide();
}

}  // namespace
