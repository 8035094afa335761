#include "app/getstringdlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "apptest.h"

namespace {

using vxtest::SaveShot;

class GetStringTest : public ::testing::Test {
 protected:
  GetStringTest() { dlg.show(); }
  void Type(const QString& keys) { QTest::keyClicks(dlg.Stringa, keys); }

  bool appReady = (vxtest::App(), true);  // before any widget
  TGetStringDlg dlg;
};

TEST_F(GetStringTest, AtCreationTheFieldIsEmptyAndOKDisabled) {
  EXPECT_EQ(dlg.GetString(), "");
  EXPECT_EQ(dlg.InitialString(), "");
  EXPECT_EQ(dlg.gbStringa->title(), "  0/  0");
  EXPECT_FALSE(dlg.btnOK->isEnabled());
  EXPECT_TRUE(dlg.btnOK->isDefault());
  EXPECT_TRUE(dlg.btnIgnore->isVisible());
  EXPECT_FALSE(dlg.KeyFiltering());
  EXPECT_EQ(dlg.stMessage->height(), 0);
}

TEST_F(GetStringTest, AcceptedKeysAtCreation) {
  struct Case {
    char c;
    bool accepted;
  };
  const Case cases[] = {
      {'\b', true}, {'\t', true}, {'\f', true}, {'\r', true},  {'\x1b', true},  {'#', true},
      {'$', true},  {'%', true},  {'&', true},  {'\'', true},  {'(', true},     {')', false},
      {'-', true},  {'.', true},  {',', false}, {'+', false},  {'x', true},     {'X', true},
      {'h', true},  {'H', true},  {'e', true},  {'E', true},   {'a', false},    {'F', false},
      {'0', true},  {'9', true},  {' ', false}, {'\n', false}, {'\x7f', false}, {'\0', false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.c));
    EXPECT_EQ(dlg.IsKeyAccepted(QChar(c.c)), c.accepted);
  }
  EXPECT_FALSE(dlg.IsKeyAccepted(QChar(0xE9)));  // beyond 127: never
}

TEST_F(GetStringTest, OKFollowsWhetherTheTextDiffersFromTheInitialText) {
  dlg.SetString("12");
  EXPECT_EQ(dlg.Stringa->text(), "12");
  EXPECT_EQ(dlg.gbStringa->title(), "  2/  0");
  EXPECT_FALSE(dlg.btnOK->isEnabled());

  dlg.Stringa->end(false);
  Type("3");
  EXPECT_EQ(dlg.GetString(), "123");
  EXPECT_EQ(dlg.gbStringa->title(), "  3/  0");
  EXPECT_TRUE(dlg.btnOK->isEnabled());
  QTest::keyClick(dlg.Stringa, Qt::Key_Backspace);
  EXPECT_EQ(dlg.GetString(), "12");
  EXPECT_FALSE(dlg.btnOK->isEnabled());

  // A new initial text equal to the field's text disables OK even though setText is silent.
  Type("7");
  dlg.SetString("127");
  EXPECT_FALSE(dlg.btnOK->isEnabled());
}

TEST_F(GetStringTest, MaximumLengthShowsInTheCaptionAndLimitsTyping) {
  dlg.SetMaxLength(4);
  EXPECT_EQ(dlg.MaxLength(), 4);
  EXPECT_EQ(dlg.gbStringa->title(), "  0/  4");
  Type("123456");
  EXPECT_EQ(dlg.GetString(), "1234");
  EXPECT_EQ(dlg.gbStringa->title(), "  4/  4");
  dlg.SetMaxLength(0);
  EXPECT_EQ(dlg.MaxLength(), 0);
  EXPECT_EQ(dlg.gbStringa->title(), "  4/  0");
}

TEST_F(GetStringTest, FilteringSwallowsCharactersOutsideTheAcceptedSet) {
  dlg.SetKeyFiltering(true);
  dlg.AcceptKey('-', false);
  Type("a1e-x.");
  EXPECT_EQ(dlg.GetString(), "1ex.");
  QKeyEvent accented(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QString::fromUtf8("é"));
  QApplication::sendEvent(dlg.Stringa, &accented);
  EXPECT_EQ(dlg.GetString(), "1ex.");
  // Keys that move or erase still work.
  QTest::keyClick(dlg.Stringa, Qt::Key_Home);
  QTest::keyClick(dlg.Stringa, Qt::Key_Delete);
  EXPECT_EQ(dlg.GetString(), "ex.");
  QTest::keyClick(dlg.Stringa, Qt::Key_End);
  QTest::keyClick(dlg.Stringa, Qt::Key_Backspace);
  EXPECT_EQ(dlg.GetString(), "ex");

  // Off again, everything goes in.
  dlg.SetKeyFiltering(false);
  Type("a-");
  EXPECT_EQ(dlg.GetString(), "exa-");
}

TEST_F(GetStringTest, WithFilteringPasteTakesOnlyATextOfAcceptedCharacters) {
  QClipboard* clipboard = QApplication::clipboard();
  dlg.SetKeyFiltering(true);
  clipboard->setText("12abc");
  if (clipboard->text() != "12abc") GTEST_SKIP() << "no clipboard on this platform";
  QTest::keyClick(dlg.Stringa, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(dlg.GetString(), "");
  clipboard->setText("4.5e3");
  QTest::keyClick(dlg.Stringa, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(dlg.GetString(), "4.5e3");
  // Select-all passes the filter: typing then replaces the whole text.
  QTest::keyClick(dlg.Stringa, Qt::Key_A, Qt::ControlModifier);
  Type("7");
  EXPECT_EQ(dlg.GetString(), "7");
}

TEST_F(GetStringTest, ButtonsCloseWithTheirResultAndIgnoreAndCancelRestoreTheText) {
  struct Case {
    const char* what;
    std::function<void(TGetStringDlg&)> press;
    int result;
    QString text;
  };
  const Case cases[] = {
      {"OK", [](TGetStringDlg& d) { QTest::mouseClick(d.btnOK, Qt::LeftButton); },
       TGetStringDlg::OK, "100"},
      {"Enter", [](TGetStringDlg& d) { QTest::keyClick(d.Stringa, Qt::Key_Return); },
       TGetStringDlg::OK, "100"},
      {"Ignore", [](TGetStringDlg& d) { QTest::mouseClick(d.btnIgnore, Qt::LeftButton); },
       TGetStringDlg::Ignore, "10"},
      {"Cancel", [](TGetStringDlg& d) { QTest::mouseClick(d.btnCancel, Qt::LeftButton); },
       TGetStringDlg::Cancel, "10"},
      {"Escape", [](TGetStringDlg& d) { QTest::keyClick(d.Stringa, Qt::Key_Escape); },
       TGetStringDlg::Cancel, "10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TGetStringDlg d;
    d.SetString("10");
    d.show();
    d.Stringa->end(false);
    QTest::keyClicks(d.Stringa, "0");
    c.press(d);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), c.result);
    EXPECT_EQ(d.GetString(), c.text);
  }
}

TEST_F(GetStringTest, ExecReturnsTheResult) {
  TGetStringDlg d;
  d.SetString("5");
  bool pressed = false;
  QTimer press;
  press.setInterval(5);
  QObject::connect(&press, &QTimer::timeout, [&] {
    if (QApplication::activeModalWidget() == &d && !pressed) {
      pressed = true;
      QTest::mouseClick(d.btnIgnore, Qt::LeftButton);
    }
  });
  // A dialog that the click did not close fails the test instead of hanging it.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] { d.done(-1); });
  press.start();
  guard.start(60000);
  EXPECT_EQ(d.exec(), TGetStringDlg::Ignore);
  EXPECT_TRUE(pressed);
}

TEST_F(GetStringTest, MessageAreaAndIgnoreButton) {
  dlg.SetMessage(
      "Insert new maximum current range from 3A to 10A.\n\rNote that this value "
      "depends on the current sense shunt resistor value.");
  EXPECT_EQ(dlg.stMessage->height(), 50);
  EXPECT_EQ(dlg.stMessage->text().count('\n'), 1);
  EXPECT_FALSE(dlg.stMessage->text().contains('\r'));
  dlg.ShowIgnore(false);
  EXPECT_FALSE(dlg.btnIgnore->isVisible());
  dlg.setWindowTitle("Modify current range (!reserved parameter!)");
  dlg.SetString("6.00");
  dlg.adjustSize();
  SaveShot(dlg, "getstring");
  dlg.SetMessage("");
  EXPECT_EQ(dlg.stMessage->height(), 0);
  dlg.ShowIgnore(true);
  EXPECT_TRUE(dlg.btnIgnore->isVisible());
  dlg.adjustSize();
  SaveShot(dlg, "getstring_plain");
}

}  // namespace
