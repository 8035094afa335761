#include "app/aboutwin.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "apptest.h"
#include "config/inifile.h"
#include "devices/devicesetup.h"
#include "devices/vx310.h"
#include "platform/queuedispatcher.h"
#include "regmodel/dmcollection.h"

namespace {

using Lines = std::vector<std::string>;

using vxtest::SaveShot;

// A settings file of its own for each test.
class AboutTest : public ::testing::Test {
 protected:
  AboutTest() { vxtest::App(); }
  std::string Settings(const std::string& text) {
    dir.Write("VX310_ConfigTerm.ini", text);
    return dir.File("VX310_ConfigTerm.ini");
  }
  static QStringList BoxLines(const QPlainTextEdit* box) {
    return box->toPlainText().split(QLatin1Char('\n'));
  }

  vxtest::ScratchDir dir{"about"};
};

TEST_F(AboutTest, ConfiguredTexts) {
  struct Case {
    const char* what;
    std::string ini;
    Lines want;
  };
  const Case cases[] = {
      {"no section", "[MainForm]\nTop=3\n", {"\t-APPLICATION NAME- V.ER_", "", ""}},
      {"application and company",
       "[aboutform]\napplication=VX310 Terminal\nVersion=2.20\nCompany=Orvadi s.n.c.\n",
       {"\tVX310 Terminal 2.20_", "", "Orvadi s.n.c.", ""}},
      {"every key",
       "[AboutForm]\nApplication=T\nVersion=1\nCompany=C\n"
       "Address=\"Via Roma 1, Lecco\" \"23900 Italy\"\n"
       "Phone=+39 0341 1\nFax=+39 0341 2\ne-mail=info@example.com\nWeb=www.example.com\n"
       "Message=\"Do not\",\"switch off\"\n",
       {"\tT 1_", "", "C", "Via Roma 1, Lecco", "23900 Italy", "", "Phone:\t+39 0341 1",
        "Fax:\t+39 0341 2", "e-mail:\tinfo@example.com", "Web:\twww.example.com", "",
        "-------------------", "Do not", "switch off", "-------------------"}},
      {"empty values count as missing",
       "[AboutForm]\nCompany=\nAddress=\nMessage=\nWeb=\n",
       {"\t-APPLICATION NAME- V.ER_", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(vx::AboutLines(vx::TIniFile(Settings(c.ini))), c.want);
  }
}

TEST(CommaText, Items) {
  struct Case {
    std::string text;
    Lines want;
  };
  const Case cases[] = {
      {"\"Via Roma 1, Lecco\",\"23900 Italy\"", {"Via Roma 1, Lecco", "23900 Italy"}},
      {"one two,three", {"one", "two", "three"}},
      {"  padded , items  ", {"padded", "items"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {"\"unclosed, to the end", {"unclosed, to the end"}},
      {"\"\"", {""}},
      {"   ", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(vx::SplitCommaText(c.text), c.want);
  }
}

TEST_F(AboutTest, WindowShowsTheTextsAndSizesTheBoxesToTheirLines) {
  TAboutForm about(dir.File("missing.ini"));
  EXPECT_TRUE(about.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(BoxLines(about.Memo), (QStringList{"\t-APPLICATION NAME- V.ER_", "", ""}));
  EXPECT_TRUE(about.Memo->isReadOnly());
  EXPECT_TRUE(about.DeviceMemo->isReadOnly());

  about.show();
  EXPECT_EQ(BoxLines(about.DeviceMemo), QStringList{"Not connected! (or unknown device)"});
  const int oneLine = about.DeviceMemo->height();
  EXPECT_EQ(about.Panel->height(), about.Memo->height() + oneLine + 14);

  // The lower box follows its text: four more lines, four more line heights.
  about.DeviceMemo->setPlainText("1\n2\n3\n4\n5");
  const int step = (about.DeviceMemo->height() - oneLine) / 4;
  EXPECT_EQ(about.DeviceMemo->height() - oneLine, 4 * step);
  EXPECT_GE(step, QFontMetrics(about.DeviceMemo->font()).height());
  EXPECT_EQ(about.Panel->height(), about.Memo->height() + about.DeviceMemo->height() + 14);
  // Upper box: three lines tall, with one line spare in the lower box for the same count.
  EXPECT_GE(about.Memo->height(), 3 * QFontMetrics(about.Memo->font()).height());
}

TEST_F(AboutTest, ExitActionAndAClickOnTheUpperBoxClose) {
  TAboutForm about(Settings("[AboutForm]\nApplication=A\n"));
  EXPECT_EQ(about.acExit->text(), "Exit");
  EXPECT_EQ(about.acExit->shortcut(), QKeySequence(Qt::Key_Escape));

  about.show();
  about.acExit->trigger();
  EXPECT_FALSE(about.isVisible());

  about.show();
  QTest::mouseClick(about.DeviceMemo->viewport(), Qt::LeftButton);
  EXPECT_TRUE(about.isVisible());  // only the upper box closes
  QTest::mouseClick(about.Memo->viewport(), Qt::LeftButton);
  EXPECT_FALSE(about.isVisible());
}

// A VX310 on the shipped data model, built without a line.
class AboutDriveTest : public AboutTest, protected vxtest::ShippedVX310 {
 protected:
  void SetUp() override {
    ASSERT_NE(model, nullptr);
    setup.SetSlave(std::make_unique<TkoDeviceVX310>(&setup, &version, model));
  }
  TkoDeviceVX310& Drive() { return *dynamic_cast<TkoDeviceVX310*>(setup.GetSlave()); }
};

TEST_F(AboutDriveTest, DriveLinesNameTheVersionTheModelAndTheProperties) {
  const Lines lines = vx::DriveLines(Drive());
  ASSERT_GT(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Hardware/Firmware: VX310v220");
  EXPECT_EQ(lines[1], "Description: VX310 stepper drive, firmware 2.xx");
  Lines report;
  Drive().ReportDevice(&report);
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(Lines(lines.begin() + 2, lines.end()), report);

  // How a connected drive looks, for a person's eye: the lines as the window shows them.
  TAboutForm about(
      Settings("[AboutForm]\nApplication=VX310 Configuration Terminal\n"
               "Version=2.20\nCompany=Orvadi s.n.c.\n"
               "Address=\"Via Roma 1\",\"23900 Lecco (LC)\"\nPhone=+39 0341 000000\n"
               "Web=www.example.com\nMessage=\"Service use only\"\n"));
  about.show();
  QStringList shown;
  for (const std::string& line : lines) shown.append(QString::fromLatin1(line));
  about.DeviceMemo->setPlainText(shown.join('\n'));
  SaveShot(about, "about_drive");
}

TEST_F(AboutDriveTest, ADriveThatIsNotReadyCountsAsNotConnected) {
  // Off line: the device exists but its state is not "connected and ready".
  ASSERT_NE(setup.GetState(), TkoDeviceSetup::dsReady);
  EXPECT_EQ(vx::DeviceLines(&setup), Lines{"Not connected! (or unknown device)"});
  EXPECT_EQ(vx::DeviceLines(nullptr), Lines{"Not connected! (or unknown device)"});

  TAboutForm about(Settings(""));
  bool asked = false;
  about.SetDeviceSource([&] {
    asked = true;
    return &setup;
  });
  about.show();
  EXPECT_TRUE(asked);
  EXPECT_EQ(BoxLines(about.DeviceMemo), QStringList{"Not connected! (or unknown device)"});
}

}  // namespace
