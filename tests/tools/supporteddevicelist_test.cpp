#include "tools/supporteddevicelist.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "devices/mbnetwork.h"
#include "qtapp.h"
#include "regmodel/dmcollection.h"

namespace {

namespace fs = std::filesystem;

// A data-model folder of its own for each test, and a collection searching it.
class SupportedDeviceListTest : public ::testing::Test {
 protected:
  SupportedDeviceListTest() {
    vxtest::App();
    char tmpl[] = "/tmp/vx_sdl_XXXXXX";
    dir = mkdtemp(tmpl);
    dmc.SetFilePath(dir);
  }
  ~SupportedDeviceListTest() override { fs::remove_all(dir); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
  }
  static std::string Model(const std::string& versions) {
    return "[Versions]\nVersions=" + versions + "\n[100]\nName=R\n";
  }

  std::string dir;
  TkoDMCollection dmc;
};

QStringList Lines(const TkoSupportedDeviceList& dialog) {
  return dialog.Memo->toPlainText().split(QLatin1Char('\n'));
}

// Runs `act` on the modal dialog once it is up. A dialog still open after a generous
// deadline is closed, so that a fault fails the test instead of hanging it.
bool WhileModal(const std::function<void(QWidget*)>& act, const std::function<void()>& show) {
  bool acted = false;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && !acted) {
      acted = true;
      poll.stop();
      act(modal);
    }
  });
  bool timedOut = false;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timedOut = true;
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  poll.start();
  guard.start(60000);
  show();
  return acted && !timedOut;
}

TEST_F(SupportedDeviceListTest, WithoutCollectionOneLineSaysSo) {
  TkoSupportedDeviceList dialog;
  EXPECT_EQ(dialog.objectName(), "koSupportedDeviceList");
  EXPECT_EQ(dialog.windowTitle(), "Supported devices");
  EXPECT_EQ(dialog.Collection(), nullptr);
  dialog.show();
  EXPECT_EQ(Lines(dialog), QStringList{"- Unknown DataModels collection -"});
  dialog.hide();
  // Shown again, the text is built afresh rather than appended to.
  dialog.show();
  EXPECT_EQ(Lines(dialog), QStringList{"- Unknown DataModels collection -"});
}

TEST_F(SupportedDeviceListTest, ListsTheFilesOfTheFolderAsTheyAreAtEachShow) {
  Write("a.par", Model("VX310v2*"));
  Write("b.par", "[100]\nName=R\n");  // names no versions: not listed
  TkoSupportedDeviceList dialog;
  dialog.SetCollection(&dmc);
  dialog.show();
  const QString path = QString::fromStdString(dir) + "/";
  EXPECT_EQ(Lines(dialog), (QStringList{"Searching path: " + path, "Searching ext.: *.par", "",
                                        "a.par                         =VX310v2*"}));
  vxtest::SaveShot(dialog, "supported_devices");
  dialog.hide();

  Write("c.par", Model("VX220v1*"));
  dialog.show();
  EXPECT_EQ(Lines(dialog).size(), 5);
  EXPECT_EQ(Lines(dialog).last(), "c.par                         =VX220v1*");
}

TEST_F(SupportedDeviceListTest, AFolderThatIsGoneListsOnlyTheSearch) {
  dmc.SetFilePath(dir + "/gone");
  TkoSupportedDeviceList dialog;
  dialog.SetCollection(&dmc);
  dialog.show();
  EXPECT_EQ(Lines(dialog), (QStringList{"Searching path: " + QString::fromStdString(dir) + "/gone/",
                                        "Searching ext.: *.par", ""}));
}

TEST_F(SupportedDeviceListTest, WindowsTextIsShownAsItsCharacters) {
  // "é" and "°" are single bytes in the data-model files.
  Write("m.par", Model("VX310v2* \xB0\xE9"));
  TkoSupportedDeviceList dialog;
  dialog.SetCollection(&dmc);
  dialog.show();
  EXPECT_EQ(Lines(dialog).last(), QString::fromUtf8("m.par                         =VX310v2* °é"));
}

TEST_F(SupportedDeviceListTest, TextCanBeSelectedButNotEdited) {
  Write("a.par", Model("VX310v2*"));
  TkoSupportedDeviceList dialog;
  dialog.SetCollection(&dmc);
  dialog.show();
  const QString before = dialog.Memo->toPlainText();
  dialog.Memo->setFocus();
  QTest::keyClicks(dialog.Memo, "zz");
  QTest::keyClick(dialog.Memo, Qt::Key_Backspace);
  QTest::keyClick(dialog.Memo, Qt::Key_Delete);
  QTest::keyClick(dialog.Memo, Qt::Key_Return);
  EXPECT_EQ(dialog.Memo->toPlainText(), before);
  EXPECT_TRUE(dialog.isVisible());

  QTest::keyClick(dialog.Memo, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(dialog.Memo->textCursor().selectedText().size(), before.size());
  EXPECT_EQ(dialog.Memo->lineWrapMode(), QPlainTextEdit::NoWrap);
}

TEST_F(SupportedDeviceListTest, EscapeClosesFromTheTextBoxAndOtherKeysDoNot) {
  TkoSupportedDeviceList dialog;
  dialog.show();
  dialog.activateWindow();
  dialog.Memo->setFocus();
  QTest::keyClick(dialog.Memo, Qt::Key_X);
  QTest::keyClick(dialog.Memo, Qt::Key_F4);
  EXPECT_TRUE(dialog.isVisible());
  QTest::keyClick(dialog.Memo, Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(SupportedDeviceListTest, NetworkHookShowsTheNetworksCollectionOverTheMainWindow) {
  TkoMBNetwork network;
  network.SetFilePath(dir);
  Write("a.par", Model("VX310v2*"));
  QWidget mainWindow;
  mainWindow.setGeometry(100, 100, 600, 400);
  mainWindow.show();
  vx::InstallSupportedDeviceList(&network, &mainWindow);

  QPointer<TkoSupportedDeviceList> seen;
  QStringList shown;
  const bool ok = WhileModal(
      [&](QWidget* modal) {
        seen = qobject_cast<TkoSupportedDeviceList*>(modal);
        if (seen) {
          EXPECT_EQ(seen->Collection(), network.DMCollection());
          EXPECT_EQ(seen->parentWidget(), &mainWindow);
          shown = Lines(*seen);
        }
        QTest::keyClick(modal, Qt::Key_Escape);
      },
      [&] { network.ShowSupportedDeviceList(); });
  EXPECT_TRUE(ok);
  ASSERT_FALSE(shown.isEmpty());
  EXPECT_EQ(shown.last(), "a.par                         =VX310v2*");
  // The dialog lives only while it is shown.
  EXPECT_TRUE(seen.isNull());
  EXPECT_TRUE(mainWindow.findChildren<TkoSupportedDeviceList*>().isEmpty());
}

TEST_F(SupportedDeviceListTest, HookOfAClosedMainWindowShowsNothing) {
  TkoMBNetwork network;
  auto* mainWindow = new QWidget;
  vx::InstallSupportedDeviceList(&network, mainWindow);
  delete mainWindow;
  bool sawModal = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      sawModal = true;
      modal->close();
    }
  });
  probe.start(0);
  network.ShowSupportedDeviceList();  // returns at once: nothing to show over
  EXPECT_FALSE(sawModal);
}

}  // namespace
