// The main window's message log that lasts (time stamps, "Save log...", the mirror file
// named in the settings file) and the notice of a new fault.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/logmemo.h"
#include "app/mainwin.h"
#include "apptest.h"
#include "regmodel/numberformat.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t nl = text.find('\n', from);
    out.push_back(text.substr(from, nl - from));
    if (nl == std::string::npos) break;
    from = nl + 1;
  }
  return out;
}

// A saved or mirrored line: "dd/mm/yyyy hh:mm:ss.zzz  text" with the separators in force.
std::string Stamped(double stamp, const std::string& text) {
  return vx::FormatDateTime("dd/mm/yyyy hh:mm:ss.zzz", stamp) + "  " + text;
}

class MessageLogTest : public ::testing::Test {
 protected:
  std::unique_ptr<TMainForm> Open() { return std::make_unique<TMainForm>(dir.Path()); }

  bool appReady = (vxtest::App(), true);
  vxtest::ScratchDir dir{"messagelog"};
  vxtest::FakeDialogs dialogs;
};

TEST_F(MessageLogTest, EveryLineKeepsTheMomentItWasWrittenBesideTheUnchangedText) {
  auto form = Open();
  const double before = vx::Now();
  form->AddMessage("Device found: VX310v220");
  form->AddMessage("Setup dowloaded, data refreshed.");
  const double after = vx::Now();
  EXPECT_EQ(form->Controls().Memo->toPlainText().toStdString(),
            "Device found: VX310v220\nSetup dowloaded, data refreshed.");
  const std::vector<vx::TLogMemo::Entry> entries = form->Controls().Memo->Entries();
  ASSERT_EQ(entries.size(), 2u);
  for (const auto& e : entries) {
    EXPECT_GE(e.Stamp, before);
    EXPECT_LE(e.Stamp, after);
  }
  EXPECT_LE(entries[0].Stamp, entries[1].Stamp);
  EXPECT_GT(form->Controls().Memo->StampWidth(), 0);
}

TEST_F(MessageLogTest, SaveLogWritesEveryLineWithItsDateAndTimeInTheProcessSeparators) {
  // Separators of another kind than the C locale's, as start-up could have fixed them.
  const vx::FormatSettings kept = vx::Formats();
  vx::FormatSettings other = kept;
  other.DateSeparator = '-';
  other.TimeSeparator = '.';
  vx::SetFormats(other);
  auto form = Open();
  form->AddMessage("first");
  form->AddMessage("Transaction Error: Time-out");
  std::vector<QString> asked;
  form->AskSaveFileName = [&](const QString& caption, const QString&) {
    asked.push_back(caption);
    return QString::fromStdString(dir.File("saved.log"));
  };
  form->acSaveLog->trigger();
  vx::SetFormats(kept);
  ASSERT_EQ(asked.size(), 1u);
  const std::vector<vx::TLogMemo::Entry> e = form->Controls().Memo->Entries();
  ASSERT_EQ(e.size(), 2u);
  const std::vector<std::string> saved = Lines(dir.Read("saved.log"));
  ASSERT_EQ(saved.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    int y, mo, d, h, mi, s, ms;
    ASSERT_TRUE(vx::DecodeDateTime(e[i].Stamp, y, mo, d, h, mi, s, ms));
    char expected[64];
    std::snprintf(expected, sizeof expected, "%02d-%02d-%04d %02d.%02d.%02d.%03d  ", d, mo, y, h,
                  mi, s, ms);
    EXPECT_EQ(saved[i], expected + e[i].Text);
  }
  EXPECT_TRUE(dialogs.messages.empty());

  // Cancelled: nothing written; a folder that is not there: said, not lost silently.
  form->AskSaveFileName = [](const QString&, const QString&) { return QString(); };
  form->acSaveLog->trigger();
  form->AskSaveFileName = [&](const QString&, const QString&) {
    return QString::fromStdString(dir.File("missing/saved.log"));
  };
  form->acSaveLog->trigger();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("missing/saved.log"), std::string::npos);
}

TEST_F(MessageLogTest, TheLogFileOfTheSettingsHoldsEachLineAsSoonAsItIsWritten) {
  dir.Write("old.log", "a line of an earlier run\n");
  const struct {
    const char* setting;  // the value of LogFile
    std::string file;
  } cases[] = {
      {"old.log", dir.File("old.log")},  // beside the settings file, appended
      {"", ""},                          // no mirror
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setting);
    dir.Write("VX310_ConfigTerm.ini", std::string("[MainForm]\nLogFile=") + c.setting + "\n");
    const std::string before = c.file.empty() ? "" : dir.Read("old.log");
    auto form = Open();
    EXPECT_EQ(form->Controls().Memo->MirrorFile(), c.file);
    std::vector<std::string> written;
    for (const char* text : {"Connecting COM1...", "Device found: VX310v220", "Offline"}) {
      form->AddMessage(text);
      written.push_back(text);
      if (c.file.empty()) continue;
      // On the disk at once, with the window still open: a crash now loses nothing.
      const std::vector<std::string> lines = Lines(dir.Read("old.log"));
      ASSERT_EQ(lines.size(), Lines(before).size() + written.size());
      const std::vector<vx::TLogMemo::Entry> e = form->Controls().Memo->Entries();
      EXPECT_EQ(lines.back(), Stamped(e.back().Stamp, text));
    }
    form.reset();
    if (c.file.empty()) continue;
    // After the run: the earlier content, then every line of this one.
    const std::vector<std::string> lines = Lines(dir.Read("old.log"));
    ASSERT_EQ(lines.size(), 1 + written.size());
    EXPECT_EQ(lines[0], "a line of an earlier run");
    for (std::size_t i = 0; i < written.size(); ++i) {
      EXPECT_NE(lines[i + 1].find("  " + written[i]), std::string::npos) << lines[i + 1];
      EXPECT_EQ(lines[i + 1].size(), 23 + 2 + written[i].size());
    }
  }
}

TEST_F(MessageLogTest, ALogFileThatCannotBeOpenedIsSaidInTheLog) {
  dir.Write("VX310_ConfigTerm.ini", "[MainForm]\nLogFile=" + dir.File("no/such/folder.log") + "\n");
  auto form = Open();
  const std::string log = form->Controls().Memo->toPlainText().toStdString();
  EXPECT_NE(log.find("no/such/folder.log"), std::string::npos) << log;
  EXPECT_FALSE(form->Controls().Memo->MirrorError().empty());
}

class FaultNoticeTest : public MessageLogTest {
 protected:
  void SetUp() override {
    form = Open();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    pages = form->findChild<QTabWidget*>();
    ASSERT_NE(pages, nullptr);
  }
  bool Marked() const {
    return form->FaultNoticeShown() && form->Controls().FaultLabel->isVisible() &&
           form->windowTitle().startsWith("FAULT - ") &&
           pages->currentWidget() == form->Controls().ActFaultMemo &&
           pages->tabBar()->tabTextColor(pages->indexOf(form->Controls().ActFaultMemo)) ==
               QColor(198, 40, 40);
  }
  bool Unmarked() const {
    return !form->FaultNoticeShown() && !form->Controls().FaultLabel->isVisible() &&
           form->windowTitle() == QString(kAppTitle);
  }

  std::unique_ptr<TMainForm> form;
  QTabWidget* pages = nullptr;
};

TEST_F(FaultNoticeTest, ANewPresentFaultIsMarkedUntilTheEngineerHasLooked) {
  EXPECT_TRUE(Unmarked());
  form->SetFaults({}, {});
  EXPECT_TRUE(Unmarked());
  // The engineer is on the other page when the fault comes.
  pages->setCurrentWidget(form->Controls().PrevFaultMemo);
  form->SetFaults({"F2.07 Motor stall detected"}, {});
  EXPECT_TRUE(Marked());
  EXPECT_NE(form->Controls().FaultLabel->text().indexOf("F2.07 Motor stall detected"), -1);
  vxtest::SaveShot(*form, "main_fault");
  // Read again, the same fault is no news; a click on the other page's tab is no look.
  form->SetFaults({"F2.07 Motor stall detected"}, {});
  QTabBar* bar = pages->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {},
                    bar->tabRect(pages->indexOf(form->Controls().PrevFaultMemo)).center());
  EXPECT_TRUE(form->FaultNoticeShown());
  // A click on the page is a look.
  pages->setCurrentWidget(form->Controls().ActFaultMemo);
  QTest::mouseClick(form->Controls().ActFaultMemo->viewport(), Qt::LeftButton);
  EXPECT_TRUE(Unmarked());
  form->SetFaults({"F2.07 Motor stall detected"}, {});
  EXPECT_TRUE(Unmarked());

  // A second fault beside the first is news again; the indicator takes the look too.
  form->SetFaults({"F2.07 Motor stall detected", "F1.00 DC bus overvoltage"}, {});
  EXPECT_TRUE(Marked());
  EXPECT_NE(form->Controls().FaultLabel->text().indexOf("F1.00 DC bus overvoltage"), -1);
  EXPECT_EQ(form->Controls().FaultLabel->text().indexOf("F2.07"), -1);
  QTest::mouseClick(form->Controls().FaultLabel, Qt::LeftButton);
  EXPECT_TRUE(Unmarked());

  // A fault gone and back is new; so is every fault of the next drive.
  form->SetFaults({"F1.00 DC bus overvoltage"}, {});
  EXPECT_TRUE(Unmarked());
  form->SetFaults({"F2.07 Motor stall detected", "F1.00 DC bus overvoltage"}, {});
  EXPECT_TRUE(Marked());
  form->AcknowledgeFault();
  EXPECT_TRUE(Unmarked());
  form->ClearStateLists();
  form->SetFaults({"F1.00 DC bus overvoltage"}, {});
  EXPECT_TRUE(Marked());
  // The previous-fault page tells nothing new.
  form->AcknowledgeFault();
  form->SetFaults({"F1.00 DC bus overvoltage"}, {"F0.01 Something long ago"});
  EXPECT_TRUE(Unmarked());
}

TEST_F(FaultNoticeTest, ComingToTheWindowWithTheFaultsInFrontIsALook) {
  QWidget other;
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  other.activateWindow();
  if (!QTest::qWaitFor([&] { return other.isActiveWindow(); }) || form->isActiveWindow())
    GTEST_SKIP() << "this platform does not move the activation between windows";
  form->SetFaults({"F2.07 Motor stall detected"}, {});
  EXPECT_TRUE(Marked());
  form->activateWindow();
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->isActiveWindow(); }));
  EXPECT_TRUE(Unmarked());
}

}  // namespace
