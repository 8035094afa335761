#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QPaintEvent>
#include <QRegion>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "params/parencoded.h"
#include "paramui/kocheckbox.h"
#include "paramui/kocombobox.h"
#include "paramui/koradiogroup.h"
#include "paramui/uierror.h"
#include "paramui/userinterfaceutils.h"
#include "uifixture.h"

namespace {

using vxtest::KeyTarget;

class BinderTest : public ::testing::Test, public vxtest::UiModel {
 protected:
  BinderTest() {
    speed.SetValue(500);
    binder.OnEdited = [this](TkoParValue* p) { log.push_back("edited " + p->GetDescr()); };
    binder.OnBeforeRefresh = [this](TkoUserInterfaceUtils* s) {
      EXPECT_EQ(s, &binder);
      log.push_back("before");
    };
    binder.OnAfterRefresh = [this](TkoUserInterfaceUtils*) { log.push_back("after"); };
    list->resize(500, 300);
    window.resize(520, 520);
  }

  // Parameter | Value | Min | Max | Default with speed, a separator, plain, baud.
  void BindList() {
    binder.Reset();
    binder.With(list, {lvcDefault, lvcMax, lvcValue, lvcMin});
    ASSERT_TRUE(binder.List(&speed));
    binder.ListSep();
    ASSERT_TRUE(binder.List(&plain));
    ASSERT_TRUE(binder.List(&baud));
    binder.AdaptHeight();
    binder.RefreshData();
    window.show();
  }

  QString Cell(int row, int column) const { return list->topLevelItem(row)->text(column); }

  // Selects the row and sends the key to the list.
  void KeyOnRow(int row, Qt::Key key, char text = 0) {
    list->setCurrentItem(list->topLevelItem(row));
    if (text != 0)
      QTest::keyClick(list, text);
    else
      QTest::keyClick(list, key);
  }

  TkoParValue speed{R("Speed"), 0};
  TkoParValue plain{R("Plain"), 0};
  TkoParEncoded baud{R("Baud"), 0};
  TkoUserInterfaceUtils binder;
  std::vector<std::string> log;
};

TEST_F(BinderTest, ListGetsItsColumnsAndOneRowPerParameter) {
  BindList();
  ASSERT_EQ(list->columnCount(), 5);
  const char* captions[] = {"Parameter", "Value", "Min", "Max", "Default"};
  for (int c = 0; c < 5; ++c) EXPECT_EQ(list->headerItem()->text(c), captions[c]);
  EXPECT_EQ(vx::ColumnKind(list, 0), lvcParam);
  EXPECT_EQ(vx::ColumnKind(list, 4), lvcDefault);
  ASSERT_EQ(list->topLevelItemCount(), 4);
  const std::vector<std::vector<QString>> rows = {
      {"Max speed", "500", "100", "3000", "1500"},
      {"", "", "", "", ""},
      {"No limits", "0", "---", "---", "---"},
      {"Baudrate", "4800bps", "4800bps", "115200bps", "38400bps"},
  };
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 5; ++c) EXPECT_EQ(Cell(r, c), rows[r][c]) << r << "," << c;
  EXPECT_EQ(vx::RowPar(list->topLevelItem(1)), nullptr);
  EXPECT_EQ(vx::RowPar(list->topLevelItem(3)), &baud);
  EXPECT_EQ(log, (std::vector<std::string>{"before", "after"}));

  // A missing parameter adds nothing, so the caller may list an alternative.
  EXPECT_FALSE(binder.List(nullptr));
  EXPECT_EQ(list->topLevelItemCount(), 4);
  // The refresh cleared the current control: List has no target until the next With.
  EXPECT_FALSE(binder.List(&speed));
}

TEST_F(BinderTest, HeightFitsTheRowsWithoutScrolling) {
  BindList();
  const int height = list->height();
  EXPECT_EQ(list->minimumHeight(), height);
  EXPECT_EQ(list->maximumHeight(), height);
  QApplication::processEvents();  // lets the view lay out its scroll bars
  EXPECT_FALSE(list->verticalScrollBar()->isVisible());
  const QRect last = list->visualItemRect(list->topLevelItem(3));
  EXPECT_LE(last.bottom(), list->viewport()->height());
  EXPECT_GE(last.bottom(), list->viewport()->height() - 2);

  // A radio group fits its items in its columns.
  TkoParBitField ref(R("Config"), 0x30, 0);
  TkoRadioGroup group(&window);
  binder.With(&group, &ref);
  group.SetColumns(2);
  const int two = binder.AdaptHeight();
  binder.With(&group, &ref);
  group.SetColumns(1);
  EXPECT_GT(binder.AdaptHeight(), two);
  EXPECT_EQ(group.height(), group.maximumHeight());
}

TEST_F(BinderTest, RowsAreColouredGreyedAndTheValueColumnBold) {
  BindList();
  binder.SetEvenColor(QColor(10, 200, 30));
  binder.SetOddColor(QColor(200, 20, 220));
  // No current row: its focus frame and highlight would cover the colours looked at.
  list->setCurrentItem(nullptr);
  list->clearSelection();
  QApplication::processEvents();
  auto background = [this](int row) {
    const QImage image = list->viewport()->grab().toImage();
    // Right of the last text, inside the stretched last column.
    const QRect r = list->visualItemRect(list->topLevelItem(row));
    return image.pixelColor(r.right() - 3, r.center().y());
  };
  auto hasText = [this](int row) {
    const QImage image = list->viewport()->grab().toImage();
    const QRect r = list->visualItemRect(list->topLevelItem(row));
    const QColor fill = image.pixelColor(r.right() - 3, r.center().y());
    for (int x = r.left(); x < r.right(); ++x)
      for (int y = r.top() + 2; y < r.bottom() - 1; ++y)
        if (image.pixelColor(x, y) != fill) return true;
    return false;
  };
  EXPECT_EQ(background(0), QColor(10, 200, 30));
  EXPECT_EQ(background(1), list->palette().color(QPalette::Button));  // separator
  EXPECT_EQ(background(2), QColor(10, 200, 30));
  EXPECT_EQ(background(3), QColor(200, 20, 220));

  struct Case {
    bool enabled, visible;
    QColor fill;
    bool text;
  };
  const Case cases[] = {
      {true, true, QColor(10, 200, 30), true},
      {false, true, QColor(192, 192, 192), true},
      {true, false, QColor(192, 192, 192), false},  // hidden: no text drawn
  };
  for (const Case& c : cases) {
    speed.Enabled = c.enabled;
    speed.Visible = c.visible;
    list->viewport()->repaint();
    EXPECT_EQ(background(0), c.fill);
    EXPECT_EQ(hasText(0), c.text);
  }
  speed.Enabled = speed.Visible = true;

  // The same text is wider in the bold second column than in the fourth.
  list->topLevelItem(0)->setText(3, list->topLevelItem(0)->text(1));
  QStyleOptionViewItem option;
  option.initFrom(list);
  const QAbstractItemDelegate* d = list->itemDelegate();
  const QModelIndex valueCell = list->model()->index(0, 1);
  const QModelIndex maxCell = list->model()->index(0, 3);
  EXPECT_GT(d->sizeHint(option, valueCell).width(), d->sizeHint(option, maxCell).width());
}

// The region of the list's viewport painted since the last Take.
class PaintRecorder : public QObject {
 public:
  explicit PaintRecorder(QWidget* w) { w->installEventFilter(this); }
  // What has been painted once the pending work is done (a resize paints a pass later).
  QRegion Take() {
    for (int pass = 0; pass < 3; ++pass) QApplication::processEvents();
    QRegion r = painted_;
    painted_ = QRegion();
    return r;
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted_ += static_cast<QPaintEvent*>(event)->region();
    return false;
  }

 private:
  QRegion painted_;
};

TEST_F(BinderTest, RefreshRepaintsWhatChangedAndNothingElse) {
  BindList();
  PaintRecorder paints(list->viewport());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  list->viewport()->repaint();
  (void)paints.Take();
  const auto cell = [this](int row, int column) {
    return list->visualRect(list->model()->index(row, column));
  };
  const QRect speedRow = list->visualItemRect(list->topLevelItem(0));
  const QRect baudRow = list->visualItemRect(list->topLevelItem(3));

  // Nothing changed: nothing is drawn again.
  binder.RefreshData();
  EXPECT_TRUE(paints.Take().isEmpty());

  // A new value: its cell is drawn, the other rows are not.
  R("Speed")->SetValueInteger(0, 600);
  binder.RefreshData();
  EXPECT_EQ(Cell(0, 1), "600");
  QRegion painted = paints.Take();
  EXPECT_TRUE(painted.contains(cell(0, 1)));
  EXPECT_FALSE(painted.intersects(baudRow));

  // A row greyed with its texts unchanged is drawn again whole; then it rests again.
  speed.Enabled = false;
  binder.RefreshData();
  painted = paints.Take();
  EXPECT_TRUE(painted.contains(speedRow));
  EXPECT_FALSE(painted.intersects(baudRow));
  binder.RefreshData();
  EXPECT_TRUE(paints.Take().isEmpty());
  speed.Enabled = true;

  // A value wider than its column widens it, though no other text changed.
  QFont large = list->font();
  large.setPointSize(24);
  list->setFont(large);
  TkoParValue label(R("Label"), 0);
  binder.With(list, {});
  binder.List(&label);
  binder.RefreshData();
  const int narrow = list->columnWidth(1);
  label.SetValueString("WWWWWWWW");
  binder.RefreshData();
  EXPECT_EQ(Cell(4, 1), "WWWWWWWW");
  QFont bold = list->font();
  bold.setBold(true);
  EXPECT_GT(list->columnWidth(1), QFontMetrics(bold).horizontalAdvance(Cell(4, 1)));
  EXPECT_GT(list->columnWidth(1), narrow);
}

TEST_F(BinderTest, EditingInPlaceSetsTheParameterAndRefreshes) {
  BindList();
  log.clear();
  KeyOnRow(0, Qt::Key_unknown, '2');
  ASSERT_TRUE(binder.IsEditMode());
  TkoComboBox* editor = binder.Editor();
  EXPECT_EQ(editor->parentWidget(), list->viewport());
  EXPECT_EQ(editor->x(), list->header()->sectionViewportPosition(1));
  EXPECT_EQ(editor->currentText(), "2");
  QTest::keyClicks(KeyTarget(*editor), "750");
  QTest::keyClick(KeyTarget(*editor), Qt::Key_Return);
  EXPECT_FALSE(binder.IsEditMode());
  EXPECT_EQ(speed.GetValue(), 2750);
  EXPECT_EQ(Cell(0, 1), "2750");
  EXPECT_EQ(log, (std::vector<std::string>{"edited Max speed", "before", "after"}));

  // A double click and Enter start the edit too; Escape in the list ends it.
  log.clear();
  list->setCurrentItem(list->topLevelItem(3));
  emit list->itemDoubleClicked(list->topLevelItem(3), 1);
  ASSERT_TRUE(binder.IsEditMode());
  EXPECT_TRUE(editor->IsPickOnly());
  binder.EndEdit();
  KeyOnRow(3, Qt::Key_Return);
  ASSERT_TRUE(binder.IsEditMode());
  ASSERT_TRUE(vxtest::PickTag(*editor, 5));
  QTest::keyClick(KeyTarget(*editor), Qt::Key_Return);
  EXPECT_EQ(baud.GetCode(), 5);
  EXPECT_EQ(Cell(3, 1), "115200bps");
  EXPECT_EQ(log, (std::vector<std::string>{"edited Baudrate", "before", "after"}));
}

TEST_F(BinderTest, EditsAreRefusedWhereTheRowMayNotBeEdited) {
  BindList();
  bool queried = false;
  struct Case {
    const char* what;
    int row;
    bool readOnly, enabled, visible, allow;
  };
  const Case cases[] = {
      {"separator", 1, false, true, true, true},      {"read-only", 0, true, true, true, true},
      {"disabled", 0, false, false, true, true},      {"hidden", 0, false, true, false, true},
      {"query says no", 0, false, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    speed.ReadOnly = c.readOnly;
    speed.Enabled = c.enabled;
    speed.Visible = c.visible;
    binder.OnEditQuery = [&](TkoParValue* p, bool& allow) {
      EXPECT_EQ(p, &speed);
      queried = true;
      allow = c.allow;
    };
    KeyOnRow(c.row, Qt::Key_Return);
    EXPECT_FALSE(binder.IsEditMode());
    KeyOnRow(c.row, Qt::Key_unknown, '7');
    EXPECT_FALSE(binder.IsEditMode());
    EXPECT_EQ(speed.GetValue(), 500);
  }
  EXPECT_TRUE(queried);
  // With no row selected nothing starts either.
  speed.ReadOnly = false;
  speed.Enabled = speed.Visible = true;
  binder.OnEditQuery = nullptr;
  list->clearSelection();
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_FALSE(binder.IsEditMode());
}

TEST_F(BinderTest, RefreshUpdatesEveryBoundControl) {
  TkoParBitField ref(R("Config"), 0x30, 0);
  TkoParBoolField ramp(R("Config"), 0, 0);
  TkoRadioGroup group(&window);
  TkoCheckBox box(&window);
  QAction action(&window);
  BindList();
  binder.With(&group, &ref);
  binder.With(&box, &ramp);
  binder.With(&action, &ramp);
  EXPECT_EQ(binder.CtrlList(), (std::vector<QObject*>{list, &group, &box, &action}));

  R("Speed")->SetValueInteger(0, 1234);
  R("Baud")->SetValueInteger(0, 1);
  R("Config")->SetValueInteger(0, 0x21);  // reference 2, ramp on
  ref.Enabled = false;
  log.clear();
  binder.RefreshData();
  EXPECT_EQ(Cell(0, 1), "1234");
  EXPECT_EQ(Cell(3, 1), "9600bps");
  EXPECT_EQ(group.ItemIndex(), 2);
  EXPECT_FALSE(group.isEnabled());
  EXPECT_TRUE(box.isChecked());
  EXPECT_TRUE(action.isChecked());
  EXPECT_EQ(log, (std::vector<std::string>{"before", "after"}));

  // A click in one control reaches the others through the binder's refresh.
  QTest::mouseClick(&box, Qt::LeftButton);
  EXPECT_FALSE(ramp.GetBool());
  EXPECT_FALSE(action.isChecked());
  EXPECT_EQ(log.back(), "after");
  EXPECT_EQ(log[log.size() - 3], "edited Use ramp");
}

TEST_F(BinderTest, ActionsFollowTheirBooleanParameter) {
  TkoParBoolField ramp(R("Config"), 0, 0);
  QAction action(QStringLiteral("Ramp"), &window);
  QAction empty(QStringLiteral("Spare"), &window);
  binder.With(&empty, nullptr);
  EXPECT_FALSE(empty.isVisible());
  EXPECT_EQ(empty.text(), "-empty-");
  EXPECT_TRUE(binder.With(&action, &ramp));
  EXPECT_EQ(action.text(), "Use ramp");
  EXPECT_TRUE(action.isVisible());

  // Enabled only for a ready device and a parameter enabled and writable.
  bool ready = true;
  binder.DeviceReady = [&](TkoRegDataBuffer* device) {
    EXPECT_EQ(device, model.device.get());
    return ready;
  };
  EXPECT_FALSE(action.isEnabled());  // until the next refresh asks DeviceReady
  binder.RefreshData();
  ASSERT_TRUE(action.isEnabled());
  log.clear();
  action.trigger();
  EXPECT_TRUE(ramp.GetBool());
  EXPECT_TRUE(action.isChecked());
  action.trigger();
  EXPECT_FALSE(ramp.GetBool());
  EXPECT_FALSE(action.isChecked());
  EXPECT_EQ(log, (std::vector<std::string>{"edited Use ramp", "before", "after", "edited Use ramp",
                                           "before", "after"}));

  struct Case {
    bool ready, enabled, readOnly, visible;
    bool actionEnabled, actionVisible;
  };
  const Case cases[] = {
      {true, true, false, true, true, true},    {false, true, false, true, false, true},
      {true, false, false, true, false, true},  {true, true, true, true, false, true},
      {true, true, false, false, false, false},  // Qt disables a hidden action
  };
  for (const Case& c : cases) {
    ready = c.ready;
    ramp.Enabled = c.enabled;
    ramp.ReadOnly = c.readOnly;
    ramp.Visible = c.visible;
    binder.RefreshData();
    EXPECT_EQ(action.isEnabled(), c.actionEnabled);
    EXPECT_EQ(action.isVisible(), c.actionVisible);
  }
}

TEST_F(BinderTest, BindingTwiceKeepsTheListAndResetStartsItAfresh) {
  BindList();
  TkoCheckBox box(&window);
  TkoParBoolField ramp(R("Config"), 0, 0);
  binder.With(&box, &ramp);
  binder.With(&box, &ramp);
  binder.With(list, {lvcValue});
  EXPECT_EQ(binder.CtrlList(), (std::vector<QObject*>{list, &box}));
  EXPECT_EQ(list->columnCount(), 5);
  EXPECT_EQ(list->topLevelItemCount(), 4);
  EXPECT_TRUE(binder.List(&speed));  // the list is current again
  EXPECT_EQ(list->topLevelItemCount(), 5);

  KeyOnRow(0, Qt::Key_Return);
  ASSERT_TRUE(binder.IsEditMode());
  binder.Reset();
  EXPECT_FALSE(binder.IsEditMode());
  EXPECT_TRUE(binder.CtrlList().empty());
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_EQ(box.Par(), nullptr);
  EXPECT_FALSE(binder.List(&speed));
  // Bound again after Reset, the list starts empty and keeps the columns it has.
  binder.With(list, {lvcValue});
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_EQ(list->columnCount(), 5);
  // The list no longer answers keys for a binder that let it go... until bound again.
  EXPECT_TRUE(binder.List(&speed));
  binder.RefreshData();
  EXPECT_EQ(Cell(0, 1), "500");
}

TEST_F(BinderTest, ADestroyedListLeavesTheBinderWorking) {
  auto* other = new QTreeWidget(&window);
  binder.With(other, {lvcValue});
  binder.List(&speed);
  other->setCurrentItem(other->topLevelItem(0));
  binder.ParEdit(other, QChar());
  ASSERT_TRUE(binder.IsEditMode());
  delete other;  // takes the editor laid over it along
  EXPECT_FALSE(binder.IsEditMode());
  EXPECT_TRUE(binder.CtrlList().empty());
  binder.RefreshData();
  BindList();
  KeyOnRow(0, Qt::Key_Return);
  EXPECT_TRUE(binder.IsEditMode());
}

}  // namespace

namespace {

TEST_F(BinderTest, ColumnsMadeByTheWindowAreRecognisedByTheirCaptions) {
  // The field-bus lists: two columns of their own and no header.
  list->setColumnCount(2);
  list->setHeaderLabels({"Parameter", "Value"});
  list->setHeaderHidden(true);
  binder.With(list, {lvcValue, lvcMin});
  binder.List(&speed);
  const int height = binder.AdaptHeight();
  binder.RefreshData();
  EXPECT_EQ(list->columnCount(), 2);
  EXPECT_EQ(Cell(0, 0), "Max speed");
  EXPECT_EQ(Cell(0, 1), "500");
  EXPECT_EQ(height, 2 * list->frameWidth() + list->sizeHintForRow(0));
  list->setCurrentItem(list->topLevelItem(0));
  binder.ParEdit(list, QChar());
  EXPECT_TRUE(binder.IsEditMode());
}

TEST_F(BinderTest, AParameterTheModelGotWrongIsShownOnceAndTheRestRefreshes) {
  std::vector<std::string> errors;
  const vx::UiErrorHandler previous =
      vx::SetUiErrorHandler([&](const std::string& m) { errors.push_back(m); });
  TkoParValue beyond(R("Speed"), 0);
  TkoParEncoded baudBeyond(R("Baud"), 0);
  TkoRadioGroup group(&window);
  binder.With(list, {lvcValue});
  binder.List(&beyond);
  binder.List(&speed);
  binder.With(&group, &baudBeyond);
  beyond.Index = 4;  // Speed has one element
  baudBeyond.Index = 4;
  binder.RefreshData();
  binder.RefreshData();
  EXPECT_EQ(Cell(0, 1), "?");
  EXPECT_FALSE(list->topLevelItem(0)->toolTip(1).isEmpty());
  EXPECT_EQ(Cell(1, 1), "500");
  EXPECT_EQ(errors.size(), 1u);  // the radio group, once
  EXPECT_EQ(log, (std::vector<std::string>{"before", "after", "before", "after"}));
  // Its row cannot be edited either; the next row can.
  KeyOnRow(0, Qt::Key_Return);
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_FALSE(binder.IsEditMode());
  EXPECT_FALSE(binder.Editor()->IsEditing());
  KeyOnRow(1, Qt::Key_Return);
  EXPECT_TRUE(binder.IsEditMode());
  vx::SetUiErrorHandler(previous);
}

}  // namespace
