// The windows through a lost and recovered drive, as start-up wires them, against the
// drive simulator served from a thread of this process over Modbus TCP: choice groups keep
// their buttons through every rebind, the remote control window reads back what it shows
// before it steps it, the connection's state is shown and live values are drawn as stale,
// no tool bar folds a command away, and Exit either ends the program or changes nothing.
// The test thread plays the user-interface thread; the connection's state is told to the
// windows through the supervisor's hook.
//
// With VX_SHOT_DIR set, the main window is saved there connected and not responding.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "app/controlwin.h"
#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "app/scopewin.h"
#include "app/setupwin.h"
#include "app/startup.h"
#include "apptest.h"
#include "devices/vx310.h"
#include "graph/graphtraccia.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "modbus/mbtransakinds.h"
#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "paramui/koradiogroup.h"
#include "paramui/textcodec.h"
#include "paramui/userinterfaceutils.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"
#include "terminalsim.h"

namespace {

TConnectionStatus Status(TConnectionState state) {
  return TConnectionStatus{state, std::chrono::system_clock::now()};
}

// The accessibility guidelines' contrast ratio of two colours.
double Contrast(const QColor& a, const QColor& b) {
  const auto lum = [](const QColor& c) {
    const auto ch = [](double v) {
      return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * ch(c.redF()) + 0.7152 * ch(c.greenF()) + 0.0722 * ch(c.blueF());
  };
  const double la = lum(a), lb = lum(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

class RecoveryOnSim : public vxtest::TerminalOnSim<> {
 protected:
  RecoveryOnSim() : TerminalOnSim("recovery") {}
  void SetUp() override {
    StartTerminal();
    QObject::connect(windows->MainForm(), &TMainForm::Closed, [this] { ++closed; });
  }
  void TearDown() override { StopTerminal(); }
  TkoDeviceVX310* Drive() const { return windows->Network()->Device(); }
  // Connect (again, while connected: a new identification), until the setup read of the
  // drive identified now has shown the setup window.
  void Connect() {
    TkoDeviceVX310* before = Drive();
    windows->MainForm()->acOpenConnection->trigger();
    ASSERT_TRUE(Pump([&] {
      TkoDeviceVX310* d = Drive();
      // Showing the setup window starts another read: that one is waited for too.
      return d != nullptr && d != before && d->GetSetupState() == TkoDeviceVXSlave::ssInStep &&
             windows->SetupForm()->isVisible() && !d->ReadRamSetup->GetEnabled() &&
             !d->ReadRamSetup->GetBusy();
    }));
    windows->ConnectionStateChanged(Status(TConnectionState::Connected));
  }
  // Pumps until the remote control window knows the command and reference it shows.
  bool ReadBack() {
    return Pump([&] {
      TkoUserInterfaceUtils* ui = windows->ControlForm()->koInterface();
      return Drive() != nullptr && !ui->IsUnknown(Drive()->ParSpeedRef) &&
             !ui->IsUnknown(Drive()->CmdDriveEnable);
    });
  }
  std::string ControlCell(TkoParValue* par) const {
    QTreeWidget* list = windows->ControlForm()->lvControl();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      if (vx::RowPar(list->topLevelItem(i)) == par)
        return vx::FromQString(list->topLevelItem(i)->text(1));
    return "(no row)";
  }
  // Every radio group of every page shows a button per item once its page is current.
  void ExpectChoiceGroupsWhole(const char* when) {
    SCOPED_TRACE(when);
    TSetupForm* setup = windows->SetupForm();
    ASSERT_TRUE(setup->isVisible());
    const int keep = setup->Pages()->currentIndex();
    int groups = 0;
    for (int page = 0; page < setup->Pages()->count(); ++page) {
      setup->Pages()->setCurrentIndex(page);
      QApplication::sendPostedEvents();
      for (QGroupBox* box : setup->Pages()->widget(page)->findChildren<QGroupBox*>()) {
        // The radio group has no meta-object of its own.
        auto* g = dynamic_cast<TkoRadioGroup*>(box);
        if (g == nullptr || g->Par() == nullptr || !g->Par()->Visible) continue;
        ++groups;
        EXPECT_GT(g->ItemCount(), 0) << g->title().toStdString();
        // The group's fitted height holds its buttons: fitted while they were still
        // hidden, it is an empty frame that cuts them off.
        EXPECT_GE(g->height(), g->minimumSizeHint().height()) << g->title().toStdString();
        for (int i = 0; i < g->ItemCount(); ++i) {
          EXPECT_TRUE(g->Button(i)->isVisible())
              << g->title().toStdString() << " item " << i << " on page " << page;
          EXPECT_TRUE(g->contentsRect().contains(g->Button(i)->geometry()))
              << g->title().toStdString() << " item " << i << " on page " << page;
        }
      }
    }
    EXPECT_EQ(groups, 10);  // the encoder's own switch among them
    setup->Pages()->setCurrentIndex(keep);
  }

  int closed = 0;
};

TEST_F(RecoveryOnSim, ChoiceGroupsKeepTheirButtonsThroughEveryRebind) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  ExpectChoiceGroupsWhole("first connect");
  // Connect while connected identifies the drive again and rebinds the visible window.
  ASSERT_NO_FATAL_FAILURE(Connect());
  ExpectChoiceGroupsWhole("identified again while shown");
  // Reload reads the setup again; closing and reopening shows the window anew.
  TkoDeviceVX310* d = Drive();
  windows->SetupForm()->acReload->trigger();
  ASSERT_TRUE(Pump([&] { return d->GetSetupState() == TkoDeviceVXSlave::ssInStep; }));
  ExpectChoiceGroupsWhole("after Reload");
  windows->SetupForm()->close();
  ASSERT_FALSE(windows->SetupForm()->isVisible());
  windows->MainForm()->acSetupForm->trigger();
  ExpectChoiceGroupsWhole("closed and opened again");
}

TEST_F(RecoveryOnSim, RemoteControlReadsBackWhatItShowsAfterAReconnect) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  TControlForm* control = windows->ControlForm();
  windows->MainForm()->acRemoteCtrl->trigger();
  ASSERT_TRUE(control->isVisible());
  ASSERT_TRUE(ReadBack());
  // Speed mode, commands and reference from the bus, as the setup window would send it.
  TkoDeviceVX310* d = Drive();
  d->CfgCmdFromBus->SetBool(true);
  d->CfgRefSource->SetField(1);
  d->CfgPositionMode->SetBool(false);
  ASSERT_EQ(d->CfgPositionMode->ReadNow(), 0);
  d->StartSetupSend();
  ASSERT_TRUE(Pump([&] { return d->GetSetupState() == TkoDeviceVXSlave::ssInStep; }));
  control->koInterface()->RefreshData();
  ASSERT_TRUE(control->acDriveEnable->isEnabled());
  control->acDriveEnable->trigger();
  ASSERT_TRUE(d->CmdDriveEnable->GetBool());
  for (int i = 0; i < 5; ++i) control->acRefUp->trigger();
  ASSERT_NEAR(d->ParSpeedRef->GetValue(), 0.05, 1e-4);

  // Identified again: a new drive object whose image knows nothing of the commands.
  ASSERT_NO_FATAL_FAILURE(Connect());
  d = Drive();
  // Until read back nothing is guessed: "unknown", unchecked, and no step from it.
  if (control->koInterface()->IsUnknown(d->ParSpeedRef)) {
    EXPECT_EQ(ControlCell(d->ParSpeedRef), "unknown");
    EXPECT_FALSE(control->acRefUp->isEnabled());
  }
  ASSERT_TRUE(ReadBack());
  control->koInterface()->RefreshData();
  EXPECT_EQ(ControlCell(d->ParSpeedRef), d->ParSpeedRef->GetValueString());
  EXPECT_NEAR(d->ParSpeedRef->GetValue(), 0.05, 1e-4);
  EXPECT_TRUE(control->acDriveEnable->isChecked()) << "the motor runs: the button says so";
  ASSERT_TRUE(control->acRefUp->isEnabled());
  control->acRefUp->trigger();
  EXPECT_NEAR(d->ParSpeedRef->GetValue(), 0.06, 1e-4) << "stepped from the drive's value";

  // A loss makes the values unknown again; the return reads them back.
  windows->ConnectionStateChanged(Status(TConnectionState::NotResponding));
  EXPECT_TRUE(control->koInterface()->IsUnknown(d->ParSpeedRef));
  EXPECT_FALSE(control->acRefUp->isEnabled());
  EXPECT_FALSE(control->acDriveEnable->isEnabled());
  EXPECT_FALSE(control->acDriveEnable->isChecked());
  windows->ConnectionStateChanged(Status(TConnectionState::Connected));
  ASSERT_TRUE(ReadBack());
  control->koInterface()->RefreshData();
  EXPECT_NEAR(d->ParSpeedRef->GetValue(), 0.06, 1e-4);
  EXPECT_TRUE(control->acDriveEnable->isChecked());
  // Stop the motor for the next test's drive.
  control->acRefZero->trigger();
  EXPECT_EQ(d->ParSpeedRef->GetValue(), 0.0);
}

TEST_F(RecoveryOnSim, IndicatorAndStaleValuesFollowTheConnectionState) {
  TMainForm* main = windows->MainForm();
  EXPECT_EQ(main->Controls().ConnectionLabel->text(), "Offline");
  EXPECT_FALSE(main->ValuesStale()) << "nothing told yet, nothing stale";
  ASSERT_NO_FATAL_FAILURE(Connect());
  windows->MainForm()->acRemoteCtrl->trigger();
  ASSERT_TRUE(Pump([&] { return windows->ScopeForm()->VoltTrace()->Count() >= 3; }));
  QApplication::sendPostedEvents();
  const QImage live = main->Controls().lvActState->viewport()->grab().toImage();
  vxtest::SaveShot(*main, "recovery_connected");

  const auto since = std::chrono::system_clock::now() - std::chrono::minutes(3);
  const std::string sinceText =
      QDateTime::fromMSecsSinceEpoch(
          std::chrono::duration_cast<std::chrono::milliseconds>(since.time_since_epoch()).count())
          .toString(QStringLiteral("hh:mm:ss"))
          .toStdString();
  struct Case {
    TConnectionState state;
    std::string text;
    bool stale;
  };
  const Case cases[] = {
      {TConnectionState::NotResponding, "Not responding since " + sinceText, true},
      {TConnectionState::Identifying, "Identifying...", true},
      {TConnectionState::Connected, "Connected", false},
      {TConnectionState::Offline, "Offline", true},
      {TConnectionState::Connected, "Connected", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    windows->ConnectionStateChanged(TConnectionStatus{c.state, since});
    EXPECT_EQ(main->Controls().ConnectionLabel->text().toStdString(), c.text);
    const QPalette p = main->Controls().ConnectionLabel->palette();
    EXPECT_GE(Contrast(p.color(QPalette::WindowText), p.color(QPalette::Window)), 4.5);
    EXPECT_EQ(main->ValuesStale(), c.stale);
    EXPECT_EQ(main->Controls().koFastInterface->Stale(), c.stale);
    EXPECT_EQ(main->Controls().koSlowInterface->Stale(), c.stale);
    EXPECT_EQ(windows->ControlForm()->koInterface()->Stale(), c.stale);
    EXPECT_EQ(main->Controls().ActFaultMemo->font().strikeOut(), c.stale);
    EXPECT_EQ(main->Controls().PrevFaultMemo->font().strikeOut(), c.stale);
    // The values are drawn otherwise, not only flagged.
    QApplication::sendPostedEvents();
    const QImage now = main->Controls().lvActState->viewport()->grab().toImage();
    EXPECT_EQ(now != live, c.stale);
    if (c.state == TConnectionState::NotResponding)
      vxtest::SaveShot(*main, "recovery_not_responding");
  }

  // The oscilloscope: a gap where the drive was silent, once for each loss that follows
  // live samples; the samples after it are not joined to those before.
  TkoGraphTraccia* volt = windows->ScopeForm()->VoltTrace();
  const auto gaps = [&] {
    int n = 0;
    for (const Tko2DPoint& p : volt->Points()) n += std::isnan(p.X) ? 1 : 0;
    return n;
  };
  EXPECT_EQ(gaps(), 1) << "no sample between the two losses";
  const int count = volt->Count();
  ASSERT_TRUE(Pump([&] { return volt->Count() > count + 1; }));
  EXPECT_FALSE(std::isnan(volt->Points().back().X));
  windows->ConnectionStateChanged(Status(TConnectionState::NotResponding));
  EXPECT_EQ(gaps(), 2);
  EXPECT_TRUE(std::isnan(windows->ScopeForm()->CurrentTrace()->Points().back().X));
  EXPECT_TRUE(std::isnan(windows->ScopeForm()->SpeedPosTrace()->Points().back().X));
}

TEST_F(RecoveryOnSim, NoToolBarFoldsACommandAway) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  windows->MainForm()->acRemoteCtrl->trigger();
  // Identified again: the remote control's bound commands take their descriptions.
  ASSERT_NO_FATAL_FAILURE(Connect());
  if (!windows->ControlForm()->isVisible()) windows->MainForm()->acRemoteCtrl->trigger();
  for (QWidget* w : std::initializer_list<QWidget*>{windows->MainForm(), windows->SetupForm(),
                                                    windows->ControlForm()}) {
    SCOPED_TRACE(w->windowTitle().toStdString());
    ASSERT_TRUE(w->isVisible());
    // However small it is asked to be.
    w->resize(60, w->height());
    QApplication::sendPostedEvents();
    QApplication::sendPostedEvents();
    auto* bar = w->findChild<QToolBar*>();
    ASSERT_NE(bar, nullptr);
    int buttons = 0;
    for (QAction* a : bar->actions()) {
      if (a->isSeparator() || !a->isVisible()) continue;
      QWidget* button = bar->widgetForAction(a);
      ASSERT_NE(button, nullptr);
      EXPECT_TRUE(button->isVisible()) << a->text().toStdString();
      EXPECT_LE(button->mapTo(w, QPoint(button->width(), 0)).x(), w->width())
          << a->text().toStdString();
      ++buttons;
    }
    EXPECT_GE(buttons, 5);
  }
}

TEST_F(RecoveryOnSim, ARefusedCloseQueryCancelsTheWholeExit) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  TMainForm* main = windows->MainForm();
  TSetupForm* setup = windows->SetupForm();
  // A change made in the setup window and neither sent nor saved.
  TkoDeviceVX310* d = Drive();
  d->ParMotorAccel->SetValue(d->ParMotorAccel->GetValue() + 10);
  ASSERT_EQ(d->GetSetupState(), TkoDeviceVXSlave::ssModified);
  windows->ConnectProgramEnd();

  struct Case {
    const char* name;
    bool setupShown;
  };
  for (const Case& c : {Case{"setup window shown", true}, Case{"setup window hidden", false}}) {
    SCOPED_TRACE(c.name);
    if (setup->isVisible() != c.setupShown) main->acSetupForm->trigger();
    ASSERT_EQ(setup->isVisible(), c.setupShown);
    dialogs.yes = false;
    dialogs.questions.clear();
    main->acClose->trigger();
    EXPECT_EQ(dialogs.questions.size(), 1u);
    // Everything as it was: no window closed, the connection polls on.
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(setup->isVisible(), c.setupShown);
    EXPECT_EQ(Drive(), d);
    const int count = windows->ScopeForm()->VoltTrace()->Count();
    EXPECT_TRUE(Pump([&] { return windows->ScopeForm()->VoltTrace()->Count() > count; }));
  }

  // Yes ends the program: the event loop returns. A refusal first leaves it running.
  bool refusedThenRunning = false;
  std::size_t asked = 0;
  int closedByRefusal = -1;
  QTimer::singleShot(0, main, [&] {
    dialogs.yes = false;
    dialogs.questions.clear();
    main->acClose->trigger();
    asked = dialogs.questions.size();
    closedByRefusal = closed;
    QTimer::singleShot(0, main, [&] {
      refusedThenRunning = main->isVisible();
      dialogs.yes = true;
      main->acClose->trigger();
    });
  });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_EQ(asked, 1u);
  EXPECT_EQ(closedByRefusal, 0);
  EXPECT_TRUE(refusedThenRunning);
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(main->isVisible());
  EXPECT_FALSE(setup->isVisible());
  EXPECT_FALSE(windows->ControlForm()->isVisible());
}

}  // namespace
