// The main window: first start and stored settings, the slave address dialog, the port
// menu, the actions, and the state lists and fault pages of a drive built on the shipped
// data model without a line.
#include "app/mainwin.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/modulenetwork.h"
#include "apptest.h"
#include "devices/devicesetup.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "paramui/parrows.h"
#include "paramui/userinterfaceutils.h"
#include "platform/queuedispatcher.h"
#include "regmodel/dmcollection.h"
#include "regmodel/register.h"
#include "regmodel/versionrecord.h"

namespace {

std::vector<std::string> MemoLines(const QPlainTextEdit* memo) {
  std::vector<std::string> lines;
  for (const QString& l : memo->toPlainText().split(QLatin1Char('\n')))
    lines.push_back(l.toStdString());
  return lines;
}

class MainFormTest : public ::testing::Test {
 protected:
  std::unique_ptr<TMainForm> Open() { return std::make_unique<TMainForm>(dir.Path()); }

  bool appReady = (vxtest::App(), true);
  vxtest::ScratchDir dir{"mainform"};
  vxtest::FakeDialogs dialogs;
};

TEST_F(MainFormTest, FirstStartWithoutSettingsFile) {
  auto form = Open();
  EXPECT_EQ(form->pos(), QPoint(0, 0));
  // The design width, unless the tool bar needs more on this screen's fonts.
  EXPECT_EQ(form->size(), QSize(std::max(509, form->minimumWidth()), 390));
  EXPECT_EQ(form->SelPort(), 1);
  EXPECT_EQ(form->SelSlave(), 1);
  EXPECT_EQ(form->Controls().PortButton->text(), "COM1");
  EXPECT_EQ(form->Controls().SlaveButton->text(), "Slave #1");
  EXPECT_EQ(form->windowTitle(), "VX310 - Configuration Terminal 2.20");
  EXPECT_EQ(form->ConnectAction(), form->acOpenConnection);
  EXPECT_TRUE(form->Controls().Memo->toPlainText().isEmpty());
  EXPECT_TRUE(dialogs.messages.empty());
  // The port menu starts without a check mark.
  for (QAction* item : form->Controls().PortMenu->actions()) EXPECT_FALSE(item->isChecked());
  EXPECT_EQ(form->StartDirectory(), dir.Path());
}

TEST_F(MainFormTest, StoredPortAndSlave) {
  const struct {
    const char* setup;
    int port, slave;
    const char* portCaption;
    const char* slaveCaption;
    int messages;
  } cases[] = {
      {"LastPort=4\nLastSlave=32\n", 4, 32, "COM4", "Slave #32", 0},
      {"LastPort=9\nLastSlave=2\n", 1, 2, "COM1", "Slave #2", 0},
      {"LastPort=0\nLastSlave=40\n", 1, 0, "COM1", "Slave#", 1},
      {"LastPort=-3\nLastSlave=0\n", 1, 0, "COM1", "Slave#", 1},
      {"LastPort=abc\nLastSlave=xyz\n", 1, 1, "COM1", "Slave #1", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setup);
    dialogs.messages.clear();
    dir.Write("VX310_ConfigTerm.ini", std::string("[Setup]\n") + c.setup);
    auto form = Open();
    EXPECT_EQ(form->SelPort(), c.port);
    EXPECT_EQ(form->SelSlave(), c.slave);
    EXPECT_EQ(form->Controls().PortButton->text(), c.portCaption);
    EXPECT_EQ(form->Controls().SlaveButton->text(), c.slaveCaption);
    ASSERT_EQ(static_cast<int>(dialogs.messages.size()), c.messages);
    if (c.messages) {
      EXPECT_EQ(dialogs.messages[0], "Invalid Address value.");
    }
  }
}

TEST_F(MainFormTest, PortMappingThatIsNoPortIsLoggedAtStart) {
  dir.Write("VX310_ConfigTerm.ini", "[Ports]\nCOM2=tcp:drive:0\nCOM3=/dev/ttyUSB0\n");
  auto form = Open();
  EXPECT_EQ(form->Controls().Memo->toPlainText().toStdString(),
            "Ports: COM2=tcp:drive:0 is not a port.");
  EXPECT_EQ(vx::ComPortPath(3), "/dev/ttyUSB0");
  vx::ResetComPortPaths();
}

TEST_F(MainFormTest, CloseStoresGeometryPortAndSlaveForNextStart) {
  dir.Write("VX310_ConfigTerm.ini", "[AboutForm]\nCompany=kept\n");
  {
    auto form = Open();
    form->SelectPort(6);
    form->SelectSlave(17);
    form->resize(700, 500);
    form->move(30, 40);
    form->close();
  }
  const std::string text = dir.Read("VX310_ConfigTerm.ini");
  EXPECT_NE(text.find("[Setup]\r\nLastPort=6\r\nLastSlave=17"), std::string::npos) << text;
  EXPECT_NE(text.find("Company=kept"), std::string::npos) << text;
  auto again = Open();
  EXPECT_EQ(again->SelPort(), 6);
  EXPECT_EQ(again->SelSlave(), 17);
  EXPECT_EQ(again->size(), QSize(700, 500));
  EXPECT_EQ(again->pos(), QPoint(30, 40));
}

TEST_F(MainFormTest, UnusableGeometryFallsBackToDesignSize) {
  dir.Write("VX310_ConfigTerm.ini", "[MainForm]\nTop=-90000\nLeft=90000\nWidth=0\nHeight=-5\n");
  auto form = Open();
  EXPECT_EQ(form->size(), QSize(std::max(509, form->minimumWidth()), 390));
  EXPECT_EQ(form->pos(), QPoint(0, 0));
}

TEST_F(MainFormTest, SlaveAddressDialog) {
  const struct {
    std::optional<QString> input;
    int slave;
    const char* message;  // null: none
  } cases[] = {
      {QStringLiteral("abc"), 1, "Not a valid ModBus slave address!"},
      {QStringLiteral(""), 1, "Not a valid ModBus slave address!"},
      {QStringLiteral("0"), 1, "Invalid Address value."},
      {QStringLiteral("33"), 1, "Invalid Address value."},
      {QStringLiteral("0x10"), 1, "Not a valid ModBus slave address!"},
      {QStringLiteral("32"), 32, nullptr},
      {QStringLiteral(" 7 "), 7, nullptr},
      {QStringLiteral("1"), 1, nullptr},
      {std::nullopt, 1, nullptr},  // Cancel
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input ? c.input->toStdString() : "Cancel");
    auto form = Open();
    dialogs.messages.clear();
    dialogs.prompts.clear();
    dialogs.inputs = {c.input};
    form->Controls().SlaveButton->click();
    ASSERT_EQ(dialogs.prompts.size(), 1u);
    EXPECT_EQ(dialogs.prompts[0], "Modify SlaveAddress|Insert a value from 1 to 32:|1");
    EXPECT_EQ(form->SelSlave(), c.slave);
    EXPECT_EQ(form->Controls().SlaveButton->text().toStdString(),
              "Slave #" + std::to_string(c.slave));
    if (c.message) {
      ASSERT_EQ(dialogs.messages.size(), 1u);
      EXPECT_EQ(dialogs.messages[0], c.message);
    } else {
      EXPECT_TRUE(dialogs.messages.empty());
    }
  }
}

TEST_F(MainFormTest, PortMenuPicksAndChecksPort) {
  auto form = Open();
  QAction* com5 = form->Controls().PortMenu->actions().at(4);
  ASSERT_EQ(com5->text(), "COM5");
  com5->trigger();
  EXPECT_EQ(form->SelPort(), 5);
  EXPECT_EQ(form->Controls().PortButton->text(), "COM5");
  EXPECT_TRUE(com5->isChecked());
  form->Controls().PortMenu->actions().at(1)->trigger();
  EXPECT_FALSE(com5->isChecked());
  EXPECT_EQ(form->SelPort(), 2);
}

TEST_F(MainFormTest, ActionsCarryCaptionsShortcutsAndHints) {
  auto form = Open();
  const struct {
    QAction* action;
    const char* caption;
    QKeySequence shortcut;
    const char* hint;
  } cases[] = {
      {form->acOpenConnection, "Connect", QKeySequence(Qt::Key_F9), "Open ModBus connection"},
      {form->acCloseConnection, "Disconnect", QKeySequence(Qt::CTRL | Qt::Key_F9),
       "Close ModBus connection"},
      {form->acClose, "Exit", QKeySequence(Qt::ALT | Qt::Key_X), "Exit from program"},
      {form->acAbout, "About", QKeySequence(), "Information about this program"},
      {form->acSlaveAddr, "Slave#", QKeySequence(), "Modify slave address"},
      {form->acSetupForm, "Drive Setup", QKeySequence(Qt::Key_F7), "Modify VX150 setup"},
      {form->acRemoteCtrl, "Remote Control", QKeySequence(Qt::Key_F6), "Remote drive control"},
      {form->acViewScope, "Oscilloscope", QKeySequence(Qt::Key_F8), "System calibration utility"},
      {form->acSupportedDev, "", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F11), ""},
      {form->acEditCurRange, "", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption);
    EXPECT_EQ(c.action->text(), c.caption);
    EXPECT_EQ(c.action->shortcut(), c.shortcut);
    if (*c.hint) {
      EXPECT_EQ(c.action->toolTip(), c.hint);
    }
    EXPECT_TRUE(form->actions().contains(c.action));
  }
}

// The connection and window shortcuts answer while another window of the terminal (the
// setup, remote control or scope window) has the keyboard.
TEST_F(MainFormTest, ShortcutsWorkFromEveryWindowOfTheTerminal) {
  auto form = Open();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  const struct {
    QAction* action;
    QKeyCombination key;
  } cases[] = {
      {form->acOpenConnection, Qt::Key_F9}, {form->acCloseConnection, Qt::CTRL | Qt::Key_F9},
      {form->acRemoteCtrl, Qt::Key_F6},     {form->acSetupForm, Qt::Key_F7},
      {form->acViewScope, Qt::Key_F8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action->text().toStdString());
    // The window toggles are enabled with a ready drive only; the key is what is tested.
    c.action->setEnabled(true);
    int triggered = 0;
    const QMetaObject::Connection counting =
        QObject::connect(c.action, &QAction::triggered, [&] { ++triggered; });
    QTest::keyClick(&other, c.key.key(), c.key.keyboardModifiers());
    QObject::disconnect(counting);
    EXPECT_EQ(triggered, 1);
  }
  // Exit stays the main window's own.
  int closed = 0;
  QObject::connect(form->acClose, &QAction::triggered, [&] { ++closed; });
  QTest::keyClick(&other, Qt::Key_X, Qt::AltModifier);
  EXPECT_EQ(closed, 0);
}

TEST_F(MainFormTest, ConnectWithoutAcceptedAddressBuildsNoConnection) {
  dir.Write("VX310_ConfigTerm.ini", "[Setup]\nLastSlave=40\n");
  auto form = Open();
  TNetwork net(form->SupervisorHooks());
  form->SetNetwork(&net);
  dialogs.messages.clear();
  form->acOpenConnection->trigger();
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Invalid Address value."});
  EXPECT_EQ(net.DeviceSetup(), nullptr);
  EXPECT_EQ(net.koMBNetwork()->GetDevCount(), 0);
  form->SetNetwork(nullptr);
}

TEST_F(MainFormTest, EveryToolButtonFitsTheWindowAtItsDesignSize) {
  auto form = Open();
  QWidget setup, control, scope, about;
  form->SetDriveWindows(&setup, &control, &scope);
  form->SetAboutWindow(&about);
  form->SetConnectionRunning(true);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  auto* bar = form->findChild<QToolBar*>();
  ASSERT_NE(bar, nullptr);
  int buttons = 0;
  for (QAction* a : bar->actions()) {
    if (a->isSeparator()) continue;
    QWidget* w = bar->widgetForAction(a);
    ASSERT_NE(w, nullptr);
    // A button the tool bar cannot fit goes to its overflow menu and is hidden.
    EXPECT_TRUE(w->isVisible()) << a->text().toStdString();
    EXPECT_LE(w->mapTo(form.get(), QPoint(w->width(), 0)).x(), form->width());
    ++buttons;
  }
  EXPECT_EQ(buttons, 8);
}

TEST_F(MainFormTest, DriveWindowsStayDisabledWithoutDriveAndWindowlessButtonsHide) {
  auto form = Open();
  TNetwork net(form->SupervisorHooks());
  form->SetNetwork(&net);
  QWidget setup, control, scope;
  form->SetDriveWindows(&setup, &control, nullptr);
  for (QAction* a : {form->acSetupForm, form->acRemoteCtrl, form->acViewScope}) {
    EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    a->trigger();
  }
  EXPECT_FALSE(setup.isVisible());
  EXPECT_FALSE(control.isVisible());
  EXPECT_FALSE(form->acViewScope->isVisible());
  EXPECT_TRUE(form->acSetupForm->isVisible());
  // Hidden from outside, the button follows.
  setup.show();
  EXPECT_TRUE(form->acSetupForm->isChecked());
  setup.hide();
  EXPECT_FALSE(form->acSetupForm->isChecked());
  form->SetNetwork(nullptr);
}

// A drive built on the shipped data model, attached to the supervisor's device setup of
// a connection whose port leads nowhere: the lists and pages without a line.
class DriveWithoutLine : public MainFormTest {
 protected:
  void SetUp() override {
    dir.Write("VX310_ConfigTerm.ini", "[Ports]\nCOM8=" + dir.File("no_such_port") + "\n");
    form = Open();
    net = std::make_unique<TNetwork>(form->SupervisorHooks());
    form->SetNetwork(net.get());
    form->SelectPort(8);
    form->acOpenConnection->trigger();
    ASSERT_NE(net->DeviceSetup(), nullptr);
    // The port cannot be opened: the log and the box (once the hand-over is over) say so,
    // and why.
    ASSERT_TRUE(ui.PumpUntil(
        [&] {
          return form->Controls().Memo->toPlainText().contains("Connection error!") &&
                 !dialogs.messages.empty();
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(dialogs.messages[0], "Connection error!\n\rCOM8 " + dir.File("no_such_port") +
                                       ": No such file or directory");
    collection.SetFilePath(std::string(VX_SOURCE_DIR) + "/models");
    TkoRegDefsList* model = collection.FindRegDefsListFor(&version);
    ASSERT_NE(model, nullptr);
    TkoDeviceSetup* setup = net->DeviceSetup();
    setup->SetSlave(std::make_unique<TkoDeviceVX310>(setup, &version, model));
    drive = net->Device();
    ASSERT_NE(drive, nullptr);
  }
  void TearDown() override {
    net.reset();
    form.reset();
    vx::ResetComPortPaths();
  }
  std::vector<std::string> Rows(QTreeWidget* list) {
    std::vector<std::string> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      const TkoParValue* p = vx::RowPar(list->topLevelItem(i));
      rows.push_back(p ? p->GetDescr() : std::string("-"));
    }
    return rows;
  }

  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  TkoVersionRecord version{"VX310v220"};
  TkoDMCollection collection;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<TNetwork> net;
  TkoDeviceVX310* drive = nullptr;
};

TEST_F(DriveWithoutLine, StateListsShowTheDrivesParameters) {
  form->BuildStateLists();
  const std::vector<std::string> hw = {
      drive->ParHWLimitVolt->GetDescr(), drive->ParEECurrRangeMax->GetDescr(),
      drive->ParEESpeedRangeMax->GetDescr(), drive->ParEEPwmFreq->GetDescr()};
  EXPECT_EQ(Rows(form->Controls().lvHwInfo), hw);
  const std::vector<std::string> act = {drive->ParU_Dc_BusV->GetDescr(),
                                        drive->ParU_MotorV->GetDescr(),
                                        drive->ParI_MotorA->GetDescr(),
                                        drive->ParF_MotorHz->GetDescr(),
                                        drive->ParS_MotorRPM->GetDescr(),
                                        drive->ParActualPos->GetDescr(),
                                        "-",
                                        drive->ParEncoderExt->GetDescr(),
                                        "-",
                                        drive->StateSpeedLoop->GetDescr(),
                                        drive->StateProfile->GetDescr(),
                                        drive->StatePosLoop->GetDescr(),
                                        drive->StateMotor->GetDescr()};
  EXPECT_EQ(Rows(form->Controls().lvActState), act);
  // Values are shown after a refresh.
  drive->ParU_Dc_BusV->SetValue(312);
  form->RefreshActState();
  EXPECT_EQ(form->Controls().lvActState->topLevelItem(0)->text(1).toStdString(),
            drive->ParU_Dc_BusV->GetValueString());

  // Disconnect lets go of the drive and its rows.
  form->acCloseConnection->trigger();
  EXPECT_EQ(net->Device(), nullptr);
  EXPECT_EQ(form->Controls().lvHwInfo->topLevelItemCount(), 0);
  EXPECT_EQ(form->Controls().lvActState->topLevelItemCount(), 0);
}

TEST_F(DriveWithoutLine, RowsGreyWhileTheirModeIsOff) {
  form->BuildStateLists();
  const struct {
    bool position, encoder, source;
    bool posLoopEnabled, encoderEnabled;
  } cases[] = {
      {false, false, false, false, false},
      {true, true, false, true, false},
      {false, true, true, false, true},
      {true, false, true, true, false},
  };
  for (const auto& c : cases) {
    drive->CfgPositionMode->SetBool(c.position);
    drive->CfgEncoderEnable->SetBool(c.encoder);
    drive->ParUseEncoderSource->SetBool(c.source);
    form->RefreshActState();
    EXPECT_EQ(drive->StatePosLoop->Enabled, c.posLoopEnabled);
    EXPECT_EQ(drive->ParEncoderExt->Enabled, c.encoderEnabled);
  }
}

TEST_F(DriveWithoutLine, FaultPagesListSetBitsInOrder) {
  drive->RegActFault2->SetValueInteger(0, 0x0081);
  net->OnFaultState(drive, nullptr);
  EXPECT_EQ(MemoLines(form->Controls().ActFaultMemo),
            (std::vector<std::string>{"F2.00 ModBus communication timeout",
                                      "F2.07 Motor stall detected"}));
  EXPECT_EQ(MemoLines(form->Controls().PrevFaultMemo), std::vector<std::string>{"- NO ERROR -"});
  drive->RegActFault2->SetValueInteger(0, 0);
  drive->RegActFault1->SetValueInteger(0, 0x1000);
  drive->RegPreFault2->SetValueInteger(0, 0x0001);
  net->OnFaultState(drive, nullptr);
  EXPECT_EQ(MemoLines(form->Controls().ActFaultMemo),
            std::vector<std::string>{"F1.12 Software position limit exceeded"});
  EXPECT_EQ(MemoLines(form->Controls().PrevFaultMemo),
            std::vector<std::string>{"F2.00 ModBus communication timeout"});

  // Read again with the same faults, a page is left as it is: what the engineer selected
  // in it stays selected. A new fault replaces the text.
  QTextCursor all = form->Controls().PrevFaultMemo->textCursor();
  all.select(QTextCursor::Document);
  form->Controls().PrevFaultMemo->setTextCursor(all);
  net->OnFaultState(drive, nullptr);
  EXPECT_TRUE(form->Controls().PrevFaultMemo->textCursor().hasSelection());
  EXPECT_EQ(MemoLines(form->Controls().PrevFaultMemo),
            std::vector<std::string>{"F2.00 ModBus communication timeout"});
  drive->RegPreFault2->SetValueInteger(0, 0x0080);
  net->OnFaultState(drive, nullptr);
  EXPECT_FALSE(form->Controls().PrevFaultMemo->textCursor().hasSelection());
  EXPECT_EQ(MemoLines(form->Controls().PrevFaultMemo),
            std::vector<std::string>{"F2.07 Motor stall detected"});
}

TEST_F(DriveWithoutLine, CurrentRangeEditOnlyOnItsFocusedRow) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  form->BuildStateLists();
  QTreeWidget* hw = form->Controls().lvHwInfo;
  hw->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return hw->hasFocus(); }));
  hw->setCurrentItem(hw->topLevelItem(0));
  EXPECT_FALSE(form->acEditCurRange->isEnabled());
  hw->setCurrentItem(hw->topLevelItem(1));
  EXPECT_TRUE(form->acEditCurRange->isEnabled());
  form->Controls().Memo->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Controls().Memo->hasFocus(); }));
  EXPECT_FALSE(form->acEditCurRange->isEnabled());

  hw->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->acEditCurRange->isEnabled(); }));
  const std::string before = drive->ParEECurrRangeMax->GetValueString();
  dialogs.inputs = {QStringLiteral("7")};
  const int lines = form->Controls().Memo->blockCount();
  QTest::keyClick(hw, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_EQ(dialogs.prompts.size(), 1u);
  EXPECT_EQ(dialogs.prompts[0],
            "Modify current range (!reserved parameter!)|Insert new maximum current range from "
            "3A to 10A.\nNote that this value depends on the current sense shunt resistor "
            "value.|" +
                before);
  EXPECT_DOUBLE_EQ(drive->ParEECurrRangeMax->GetValue(), 7.0);
  if (drive->ParCurrRangeMax) {
    EXPECT_DOUBLE_EQ(drive->ParCurrRangeMax->GetValue(), 7.0);
  }
  const std::vector<std::string> all = MemoLines(form->Controls().Memo);
  ASSERT_EQ(form->Controls().Memo->blockCount(), lines + 6);
  EXPECT_EQ(all[all.size() - 6], std::string(74, '_'));
  EXPECT_EQ(all[all.size() - 5], "!RESERVED PARAMETER!");
  EXPECT_EQ(all[all.size() - 1], std::string(74, '_'));
  EXPECT_NE(hw->topLevelItem(1)->text(1).indexOf(QLatin1Char('7')), -1);

  // A value beyond the parameter's limit is refused with the reason, not clamped.
  dialogs.inputs = {QStringLiteral("99")};
  QTest::keyClick(hw, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_DOUBLE_EQ(drive->ParEECurrRangeMax->GetValue(), 7.0);
  const std::string why = "is above the maximum " + drive->ParEECurrRangeMax->GetMaxString();
  ASSERT_FALSE(dialogs.messages.empty());
  EXPECT_EQ(dialogs.messages.back(), "\"99\" " + why + ".");
  EXPECT_EQ(MemoLines(form->Controls().Memo).back(),
            drive->ParEECurrRangeMax->GetDescr() + ": \"99\" " + why + "; entry refused.");
}

}  // namespace
