#include <gtest/gtest.h>

#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <string>
#include <vector>

#include "params/parencoded.h"
#include "paramui/kocheckbox.h"
#include "paramui/kocombobox.h"
#include "paramui/koradiogroup.h"
#include "paramui/uierror.h"
#include "regmodel/numberformat.h"
#include "regmodel/regdefinition.h"
#include "regmodel/register.h"
#include "uifixture.h"

namespace {

using vxtest::KeyTarget;
using vxtest::PickTag;

class EditorTest : public ::testing::Test, public vxtest::UiModel {
 protected:
  void SetUp() override {
    editor.OnEdited = [this](TkoParValue* p, TkoComboBox* sender) {
      EXPECT_EQ(sender, &editor);
      edited.push_back(p);
    };
    editor.OnQuit = [this](TkoParValue* p) { quit.push_back(p); };
    previousErrors_ = vx::SetUiErrorHandler([this](const std::string& m) { errors.push_back(m); });
  }
  void TearDown() override { vx::SetUiErrorHandler(previousErrors_); }

  TkoComboBox editor;
  std::vector<TkoParValue*> edited, quit;
  std::vector<std::string> errors;

 private:
  vx::UiErrorHandler previousErrors_;
};

TEST_F(EditorTest, PickingEachChoiceActsOnTheParameter) {
  TkoParValue speed(R("Speed"), 0);
  TkoParEncoded baud(R("Baud"), 0);
  TkoParBitField ref(R("Config"), 0x30, 0);
  FillList({&speed, &baud, &ref});
  struct Case {
    const char* what;
    TkoParValue* par;
    qlonglong tag;
    double expected;
    bool reported;
  };
  const Case cases[] = {
      {"numeric default", &speed, kParTagDflt, 1500, true},
      {"numeric minimum", &speed, kParTagMin, 100, true},
      {"numeric maximum", &speed, kParTagMax, 3000, true},
      {"encoded default", &baud, kParTagDflt, 3, true},
      {"encoded minimum", &baud, kParTagMin, 0, true},
      {"encoded maximum", &baud, kParTagMax, 5, true},
      {"encoded value", &baud, 1, 1, true},
      {"encoded separator", &baud, kParTagSeparator, 2, false},
      {"bit-field value", &ref, 2, 2, true},
      {"bit-field maximum", &ref, kParTagMax, 3, true},
      {"bit-field default", &ref, kParTagDflt, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    speed.SetValue(500);
    baud.SetValue(2);
    ref.SetValue(0);
    edited.clear();
    quit.clear();
    int row = 0;
    while (vx::RowPar(list->topLevelItem(row)) != c.par) ++row;
    editor.EditThis(list->topLevelItem(row), 1, QChar());
    ASSERT_TRUE(editor.isVisible());
    EXPECT_EQ(editor.IsPickOnly(), c.par != &speed);
    ASSERT_TRUE(PickTag(editor, c.tag));
    QTest::keyClick(KeyTarget(editor), Qt::Key_Return);
    EXPECT_EQ(c.par->GetValue(), c.expected);
    EXPECT_EQ(edited, c.reported ? std::vector<TkoParValue*>{c.par} : std::vector<TkoParValue*>{});
    EXPECT_EQ(quit, std::vector<TkoParValue*>{c.par});
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(editor.EditedPar(), nullptr);
  }
}

TEST_F(EditorTest, OffersTheChoicesAndShowsTheValue) {
  TkoParValue speed(R("Speed"), 0);
  TkoParEncoded baud(R("Baud"), 0);
  FillList({&speed, &baud});
  speed.SetValue(500);
  baud.SetValue(4);
  editor.EditThis(list->topLevelItem(0), 1, QChar());
  EXPECT_EQ(editor.currentText(), "500");
  ASSERT_EQ(editor.count(), 3);
  EXPECT_EQ(editor.itemText(0), "1500 (dflt)");
  EXPECT_EQ(editor.itemText(2), "3000 (max)");
  editor.EditThis(list->topLevelItem(1), 1, QChar());
  // The current value line is selected, not the default line with its own text.
  EXPECT_EQ(editor.currentText(), "57600bps");
  EXPECT_EQ(editor.itemData(editor.currentIndex()).toLongLong(), 4);
  // Over the value cell of its row.
  const QRect cell = list->visualItemRect(list->topLevelItem(1));
  EXPECT_EQ(editor.parentWidget(), list->viewport());
  EXPECT_EQ(editor.x(), list->columnWidth(0));
  EXPECT_NEAR(editor.geometry().center().y(), cell.center().y(), 1);
}

TEST_F(EditorTest, TypedValueIsSetByEnterAndDroppedByEscape) {
  TkoParValue speed(R("Speed"), 0);
  FillList({&speed});
  speed.SetValue(500);
  editor.EditThis(list->topLevelItem(0), 1, QChar('2'));
  EXPECT_EQ(editor.currentText(), "2");
  QTest::keyClicks(KeyTarget(editor), "500");
  QTest::keyClick(KeyTarget(editor), Qt::Key_Return);
  EXPECT_EQ(speed.GetValue(), 2500);
  EXPECT_EQ(edited, std::vector<TkoParValue*>{&speed});

  edited.clear();
  editor.EditThis(list->topLevelItem(0), 1, QChar('7'));
  QTest::keyClick(KeyTarget(editor), Qt::Key_Escape);
  EXPECT_EQ(speed.GetValue(), 2500);
  EXPECT_TRUE(edited.empty());
  EXPECT_EQ(quit.size(), 2u);
  EXPECT_FALSE(editor.isVisible());

  // A choice picked and then typed over counts as typed.
  editor.EditThis(list->topLevelItem(0), 1, QChar());
  ASSERT_TRUE(PickTag(editor, kParTagMax));
  editor.lineEdit()->selectAll();
  QTest::keyClicks(KeyTarget(editor), "0x200");
  QTest::keyClick(KeyTarget(editor), Qt::Key_Return);
  EXPECT_EQ(speed.GetValue(), 512);
}

TEST_F(EditorTest, KeysAreFilteredByTheRegisterType) {
  TkoParValue speed(R("Speed"), 0);
  TkoParValue day(R("Day"), 0);
  TkoParValue clock(R("Clock"), 0);
  TkoParValue label(R("Label"), 0);
  FillList({&speed, &day, &clock, &label});
  struct Case {
    int row;
    char16_t key;
    bool accepted;
  };
  const Case cases[] = {
      {0, u'7', true},  {0, u'z', false}, {0, u'F', true},  {0, u'x', true},   {0, u'.', true},
      {0, u'|', true},  {0, u'-', true},  {0, u'/', false}, {0, u' ', false},  {1, u'3', true},
      {1, u'/', true},  {1, u':', false}, {1, u'a', false}, {2, u'3', true},   {2, u':', true},
      {2, u'/', false}, {3, u'z', true},  {3, u' ', true},  {3, 0x00B0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << c.row << " key " << char(c.key));
    editor.EditThis(list->topLevelItem(c.row), 1, QChar());
    const QString before = editor.currentText();
    EXPECT_EQ(editor.DoOnKeyPress(QChar(c.key)).isNull(), !c.accepted);
    EXPECT_EQ(editor.IsAlarm(), !c.accepted);
    QTest::keyClick(KeyTarget(editor), Qt::Key_Escape);
  }
  // A refused key turns the editor red with yellow text until the next accepted key.
  editor.EditThis(list->topLevelItem(0), 1, QChar());
  editor.lineEdit()->clear();
  QTest::keyClicks(KeyTarget(editor), "z");
  EXPECT_TRUE(editor.IsAlarm());
  EXPECT_EQ(editor.lineEdit()->text(), "");
  EXPECT_EQ(editor.lineEdit()->palette().color(QPalette::Base), QColor(Qt::red));
  EXPECT_EQ(editor.lineEdit()->palette().color(QPalette::Text), QColor(Qt::yellow));
  QTest::keyClicks(KeyTarget(editor), "7");
  EXPECT_FALSE(editor.IsAlarm());
  EXPECT_EQ(editor.lineEdit()->text(), "7");
  EXPECT_NE(editor.lineEdit()->palette().color(QPalette::Base), QColor(Qt::red));
}

TEST_F(EditorTest, ShiftArrowsWalkTheElementsOfTheRegisterAndWrap) {
  TkoParValue gain2(R("Gains"), 2);
  FillList({&gain2});
  editor.EditThis(list->topLevelItem(0), 1, QChar());
  QTest::keyClick(KeyTarget(editor), Qt::Key_Right, Qt::ShiftModifier);
  ASSERT_NE(editor.EditedPar(), nullptr);
  EXPECT_EQ(editor.EditedPar()->Register, R("Gains"));
  EXPECT_EQ(editor.EditedPar()->Index, 0);
  QTest::keyClick(KeyTarget(editor), Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(editor.EditedPar()->Index, 2);
  QTest::keyClick(KeyTarget(editor), Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(editor.EditedPar()->Index, 1);
  editor.lineEdit()->selectAll();
  QTest::keyClicks(KeyTarget(editor), "42");
  QTest::keyClick(KeyTarget(editor), Qt::Key_Return);
  EXPECT_EQ(R("Gains")->GetValueInteger(1), 42);
  EXPECT_EQ(R("Gains")->GetValueInteger(2), 0);
  EXPECT_FALSE(editor.IsEditing());
}

TEST_F(EditorTest, TabMovesToTheNextEditableRowAndShiftTabBack) {
  TkoParValue speed(R("Speed"), 0);
  TkoParValue plain(R("Plain"), 0);
  TkoParValue locked(R("Gains"), 0);
  TkoParEncoded baud(R("Baud"), 0);
  locked.ReadOnly = true;
  FillList({&speed, nullptr, &locked, &plain, &baud});
  editor.CanEdit = [](TkoParValue* p) { return !p->ReadOnly; };
  editor.EditThis(list->topLevelItem(0), 1, QChar());
  QTest::keyClick(KeyTarget(editor), Qt::Key_Tab);
  EXPECT_EQ(editor.EditedPar(), &plain);  // past the separator and the read-only row
  EXPECT_EQ(list->currentItem(), list->topLevelItem(3));
  QTest::keyClick(KeyTarget(editor), Qt::Key_Tab);
  EXPECT_EQ(editor.EditedPar(), &baud);
  QTest::keyClick(KeyTarget(editor), Qt::Key_Tab);  // last row: stays
  EXPECT_EQ(editor.EditedPar(), &baud);
  QTest::keyClick(KeyTarget(editor), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(editor.EditedPar(), &plain);
  EXPECT_TRUE(editor.isVisible());
}

// An entry the parameter would ignore or clamp is refused with the reason: the edit stays
// open, red, the reason in its tool tip and told to the binder's window; the value is
// unchanged. A correction is then taken.
TEST_F(EditorTest, RefusedEntriesSayWhyAndLeaveTheEditOpen) {
  TkoParValue speed(R("Speed"), 0);  // 100 .. 3000
  TkoParValue plain(R("Plain"), 0);  // an unsigned word without limits
  TkoParValue day(R("Day"), 0);
  TkoParValue label(R("Label"), 0);  // 8 characters
  // An unset date reads as the present moment, which may tick between two reads.
  day.SetValueString("15/06/2023");
  FillList({&speed, &plain, &day, &label});
  const auto number = [](const TkoParValue& p, double v) {
    return vx::FormatFloat(p.Register->Definition()->FormatString, v);
  };
  struct Case {
    int row;
    TkoParValue* par;
    const char* text;
    std::string why;
    const char* correction;
  } cases[] = {
      {0, &speed, "--5x", "is not a number", "2000"},
      {0, &speed, "50", "is below the minimum " + speed.GetMinString(), "100"},
      {0, &speed, "99999", "is above the maximum " + speed.GetMaxString(), "3000"},
      {1, &plain, "-5", "is below the minimum " + number(plain, 0), "5"},
      {1, &plain, "70000", "is above the maximum " + number(plain, 65535), "65535"},
      {2, &day, "31/02/2024", "is not a date", "29/02/2024"},
      {3, &label, "ninechars", "is longer than 8 characters", "eight ch"},
  };
  struct Refusal {
    TkoParValue* par;
    std::string text, why;
  };
  std::vector<Refusal> refused;
  editor.OnRefused = [&](TkoParValue* p, const std::string& text, const std::string& why) {
    refused.push_back({p, text, why});
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    refused.clear();
    edited.clear();
    const std::string before = c.par->GetValueString();
    editor.EditThis(list->topLevelItem(c.row), 1, QChar());
    editor.lineEdit()->setText(QString::fromStdString(c.text));
    QTest::keyClick(KeyTarget(editor), Qt::Key_Return);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].par, c.par);
    EXPECT_EQ(refused[0].text, c.text);
    EXPECT_EQ(refused[0].why, c.why);
    EXPECT_EQ(c.par->GetValueString(), before) << "nothing set";
    EXPECT_TRUE(edited.empty());
    EXPECT_TRUE(editor.IsEditing()) << "open for a correction";
    EXPECT_TRUE(editor.IsAlarm());
    EXPECT_EQ(editor.toolTip().toStdString(), "\"" + std::string(c.text) + "\" " + c.why + ".");
    editor.lineEdit()->setText(QString::fromStdString(c.correction));
    QTest::keyClick(KeyTarget(editor), Qt::Key_Return);
    EXPECT_EQ(refused.size(), 1u) << "the correction is taken";
    EXPECT_EQ(edited, std::vector<TkoParValue*>{c.par});
    EXPECT_FALSE(editor.IsEditing());
    EXPECT_FALSE(editor.IsAlarm());
    EXPECT_TRUE(editor.toolTip().isEmpty());
  }
  EXPECT_EQ(speed.GetValue(), 3000);
  EXPECT_EQ(plain.GetValue(), 65535);
  EXPECT_EQ(day.GetValueString(), "29/02/2024");
  EXPECT_EQ(label.GetValueString().substr(0, 8), "eight ch");
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(EditorTest, LosingTheFocusEndsTheEditWithoutChange) {
  TkoParValue speed(R("Speed"), 0);
  FillList({&speed});
  auto* other = new QLineEdit(&window);
  other->move(0, 310);
  other->show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  speed.SetValue(500);
  editor.EditThis(list->topLevelItem(0), 1, QChar('9'));
  ASSERT_TRUE(editor.lineEdit()->hasFocus());
  other->setFocus(Qt::MouseFocusReason);
  EXPECT_FALSE(editor.IsEditing());
  EXPECT_FALSE(editor.isVisible());
  EXPECT_EQ(speed.GetValue(), 500);
  EXPECT_TRUE(other->hasFocus());  // not taken back by the ended edit
}

class ChoiceControlsTest : public ::testing::Test, public vxtest::UiModel {};

TEST_F(ChoiceControlsTest, RadioGroupOffersTheValuesAndSetsTheClickedOne) {
  TkoParBitField ref(R("Config"), 0x30, 0);
  TkoRadioGroup group(&window);
  std::vector<TkoParValue*> edited;
  group.OnEdited = [&](TkoParValue* p) { edited.push_back(p); };
  group.SetColumns(2);
  group.SetPar(&ref);
  EXPECT_EQ(group.title(), "Reference");
  ASSERT_EQ(group.ItemCount(), 4);
  EXPECT_EQ(group.ItemText(3), "Step/Dir");
  struct Case {
    int click;  // -1: no item selected
    std::int64_t field;
  };
  const Case cases[] = {{2, 2}, {0, 0}, {3, 3}, {-1, 1}};  // none: the default
  for (const Case& c : cases) {
    SCOPED_TRACE(c.click);
    edited.clear();
    ref.SetField(c.click == 2 ? 1 : 2);
    group.RefreshData();
    if (c.click >= 0) {
      QTest::mouseClick(group.Button(c.click), Qt::LeftButton);
    } else {
      group.SetItemIndex(-1);
      group.DoOnClick();
    }
    EXPECT_EQ(ref.GetField(), c.field);
    EXPECT_EQ(edited, std::vector<TkoParValue*>{&ref});
  }
  // Refresh selects the item of the value, without reporting an edit.
  edited.clear();
  ref.SetField(3);
  ref.Enabled = false;
  group.RefreshData();
  EXPECT_EQ(group.ItemIndex(), 3);
  EXPECT_FALSE(group.isEnabled());
  EXPECT_TRUE(edited.empty());

  group.SetPar(nullptr);
  group.RefreshData();
  EXPECT_EQ(group.title(), "-empty-");
  EXPECT_EQ(group.ItemCount(), 0);
  EXPECT_EQ(group.ItemIndex(), -1);
}

TEST_F(ChoiceControlsTest, RadioGroupWithAValueWithoutItemSelectsNone) {
  TkoParEncoded baud(R("Baud"), 0);
  TkoRadioGroup group(&window);
  group.SetPar(&baud);
  EXPECT_EQ(group.ItemCount(), 6);
  baud.SetValue(2);
  group.RefreshData();
  EXPECT_EQ(group.ItemIndex(), 2);
  R("Baud")->SetLimits(0, 9, 0, 0);
  baud.SetValue(8);
  group.RefreshData();
  EXPECT_EQ(group.ItemIndex(), -1);
}

// A group rebound while its window is on the screen (a drive identified again) shows its
// new buttons, and they stay after the window has been hidden and shown again.
TEST_F(ChoiceControlsTest, RadioGroupReboundWhileShownKeepsItsButtons) {
  TkoParBitField ref(R("Config"), 0x30, 0);
  TkoParEncoded baud(R("Baud"), 0);
  TkoRadioGroup group(&window);
  group.SetColumns(2);
  group.SetPar(&ref);
  window.show();
  ASSERT_TRUE(group.isVisible());
  const auto allShown = [&] {
    if (group.ItemCount() == 0) return false;
    for (int i = 0; i < group.ItemCount(); ++i)
      if (!group.Button(i)->isVisible()) return false;
    return true;
  };
  ASSERT_TRUE(allShown());
  for (TkoParEncoded* par :
       {static_cast<TkoParEncoded*>(&baud), static_cast<TkoParEncoded*>(&ref)}) {
    group.SetPar(nullptr);
    const int emptyHeight = group.sizeHint().height();
    group.SetPar(par);
    group.RefreshData();
    // The buttons take room, so that the fitted height shows them.
    EXPECT_GT(group.sizeHint().height(), emptyHeight);
    EXPECT_TRUE(allShown()) << group.title().toStdString();
    window.hide();
    window.show();
    EXPECT_TRUE(allShown()) << "after hide and show: " << group.title().toStdString();
  }
}

TEST_F(ChoiceControlsTest, CheckBoxShowsAndSwitchesItsBit) {
  TkoParBoolField ramp(R("Config"), 0, 0);
  TkoCheckBox box(&window);
  std::vector<TkoParValue*> edited;
  box.OnEdited = [&](TkoParValue* p) { edited.push_back(p); };
  box.RefreshData();
  EXPECT_TRUE(box.isHidden());
  EXPECT_EQ(box.text(), "-empty-");

  box.SetPar(&ramp);
  box.RefreshData();
  EXPECT_EQ(box.text(), "Use ramp");
  EXPECT_FALSE(box.isHidden());
  EXPECT_FALSE(box.isChecked());
  QTest::mouseClick(&box, Qt::LeftButton);
  EXPECT_TRUE(ramp.GetBool());
  EXPECT_EQ(R("Config")->GetValueInteger(0), 0x01);
  EXPECT_EQ(edited, std::vector<TkoParValue*>{&ramp});

  struct Case {
    bool readOnly, enabled, visible;
    bool boxEnabled, boxHidden;
  };
  const Case cases[] = {
      {false, true, true, true, false},
      {true, true, true, false, false},  // read-only: shown disabled
      {false, false, true, false, false},
      {false, true, false, true, true},
  };
  for (const Case& c : cases) {
    ramp.ReadOnly = c.readOnly;
    ramp.Enabled = c.enabled;
    ramp.Visible = c.visible;
    box.RefreshData();
    EXPECT_EQ(box.isEnabled(), c.boxEnabled);
    EXPECT_EQ(box.isHidden(), c.boxHidden);
  }
}

}  // namespace
