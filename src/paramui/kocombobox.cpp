#include "paramui/kocombobox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
#include <cctype>
#include <string_view>

#include "params/parencoded.h"
#include "params/parentry.h"
#include "params/parfrac16.h"
#include "params/parvalue.h"
#include "paramui/parrows.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"
#include "regmodel/numberformat.h"
#include "regmodel/regdefinition.h"
#include "regmodel/register.h"

namespace {

// A parameter of the same kind as `like` on another element of the register.
std::unique_ptr<TkoParValue> MakeLike(const TkoParValue* like, TkoRegister* reg, int element) {
  std::unique_ptr<TkoParValue> par;
  if (auto* b = dynamic_cast<const TkoParBoolField*>(like))
    par = std::make_unique<TkoParBoolField>(reg, b->Bit, element);
  else if (auto* f = dynamic_cast<const TkoParBitField*>(like))
    par = std::make_unique<TkoParBitField>(reg, f->Mask, element);
  else if (dynamic_cast<const TkoParEncoded*>(like) != nullptr)
    par = std::make_unique<TkoParEncoded>(reg, element);
  else if (auto* l = dynamic_cast<const TkoParLong*>(like))
    par = std::make_unique<TkoParLong>(reg, element, l->HighRegister);
  else if (auto* q = dynamic_cast<const TkoParFrac16*>(like))
    par = std::make_unique<TkoParFrac16>(reg, element, q->ExpRegister);
  else if (auto* p = dynamic_cast<const TkoPar2DPoint*>(like))
    par = std::make_unique<TkoPar2DPoint>(reg, element, p->YRegister);
  else
    par = std::make_unique<TkoParValue>(reg, element);
  if (like != nullptr) {
    par->ReadOnly = like->ReadOnly;
    par->Enabled = like->Enabled;
    par->Visible = like->Visible;
  }
  return par;
}

}  // namespace

TkoComboBox::TkoComboBox(QWidget* parent) : QComboBox(parent) {
  setVisible(false);
  setFocusPolicy(Qt::ClickFocus);  // never reached by Tab: Tab moves the edit instead
  installEventFilter(this);
  // A choice is confirmed by Enter, so the box must not put typed text into its list.
  setInsertPolicy(QComboBox::NoInsert);
  connect(this, &QComboBox::activated, this, [this](int index) { picked_ = index; });
}

TkoComboBox::~TkoComboBox() = default;

QTreeWidgetItem* TkoComboBox::EditedRow() const {
  if (list_.isNull() || row_ == nullptr || list_->indexOfTopLevelItem(row_) < 0) return nullptr;
  return row_;
}

int TkoComboBox::EditColumn(const QTreeWidget* list, const TkoParValue* par, int columnOffset) {
  // A bound report list shows every row's value in its value column; a list of one
  // column per register element puts element i at i + offset.
  const int value = vx::FindColumn(list, lvcValue);
  if (value >= 0) return value;
  return std::clamp(par->Index + columnOffset, 0, std::max(0, list->columnCount() - 1));
}

void TkoComboBox::EditThis(QTreeWidgetItem* row, int columnOffset, QChar firstKey,
                           TkoParValue* par) {
  if (row == nullptr || row->treeWidget() == nullptr) return;
  if (par == nullptr) par = vx::RowPar(row);
  if (par == nullptr) return;
  QTreeWidget* list = row->treeWidget();
  list_ = list;
  row_ = row;
  columnOffset_ = columnOffset;
  const int column = EditColumn(list, par, columnOffset);
  list->scrollToItem(row);
  const QRect cell = list->visualItemRect(row);
  const int left = list->header()->sectionViewportPosition(column);
  const QRect rect(left, cell.top(), list->columnWidth(column), cell.height());
  EditThis(par, list->viewport(), firstKey, rect);
}

void TkoComboBox::EditThis(QTreeWidgetItem* row, int columnOffset, QChar firstKey, TkoRegister* reg,
                           int element) {
  if (row == nullptr || reg == nullptr) return;
  const int length = reg->Definition()->Length;
  if (element < 0) element = length - 1;
  if (element >= length) element = 0;
  std::unique_ptr<TkoParValue> previous = std::move(own_);
  own_ = MakeLike(edited_ != nullptr ? edited_ : vx::RowPar(row), reg, element);
  EditThis(row, columnOffset, firstKey, own_.get());
  // The previous own parameter may have been the one edited until now: it goes here,
  // once nothing refers to it any more.
  previous.reset();
}

void TkoComboBox::EditThis(TkoParValue* par, QWidget* parent, QChar firstKey, const QRect& rect) {
  if (par == nullptr) return;
  if (parentWidget() != parent) setParent(parent);
  edited_ = par;
  picked_ = -1;

  const bool pickOnly = dynamic_cast<TkoParEncoded*>(par) != nullptr;
  try {
    const QSignalBlocker block(this);
    clear();
    setEditable(!pickOnly);
    QLineEdit* edit = lineEdit();
    if (edit != nullptr && edit != hooked_) {
      // The box makes a new line each time it turns editable.
      hooked_ = edit;
      setCompleter(nullptr);  // completing "1" to "1500 (dflt)" would change what was typed
      edit->installEventFilter(this);
      connect(edit, &QLineEdit::textEdited, this, [this] { picked_ = -1; });
    }
    TkoParChoiceList choices;
    par->GetValueList(&choices, true);
    for (const TkoParChoice& c : choices)
      addItem(vx::ToQString(c.Text), QVariant::fromValue<qlonglong>(c.Tag));
    const QString text = vx::ToQString(par->GetValueString());
    if (pickOnly) {
      // The value lines follow the separator; the default and limit lines before it may
      // carry the same text.
      const qlonglong code = static_cast<TkoParEncoded*>(par)->GetCode();
      int first = 0;
      for (int i = 0; i < count() && first == 0; ++i)
        if (itemData(i).toLongLong() == kParTagSeparator) first = i + 1;
      int current = -1;
      for (int i = first; i < count() && current < 0; ++i)
        if (itemData(i).toLongLong() == code) current = i;
      setCurrentIndex(current);
      setPlaceholderText(text);
    } else {
      setCurrentIndex(-1);
      setEditText(text);
    }
  } catch (...) {
    // A parameter that cannot show its value or choices is not edited.
    edited_ = nullptr;
    hide();
    throw;
  }

  const int height = std::max(sizeHint().height(), rect.height());
  setGeometry(rect.left(), rect.top() + (rect.height() - height) / 2, rect.width(), height);
  SetAlarm(false);
  show();
  raise();
  setFocus(Qt::OtherFocusReason);
  if (QLineEdit* edit = lineEdit()) edit->selectAll();

  if (!firstKey.isNull()) {
    const QChar key = DoOnKeyPress(firstKey);
    if (!key.isNull() && IsEditing() && lineEdit() != nullptr) {
      setEditText(QString(key));
      lineEdit()->deselect();
      lineEdit()->setCursorPosition(1);
      picked_ = -1;
    }
  }
}

bool TkoComboBox::AcceptsChar(QChar key) const {
  const TkoRegDefinition* def = edited_ != nullptr && edited_->Register != nullptr
                                    ? edited_->Register->Definition()
                                    : nullptr;
  const vx::FormatSettings& f = vx::Formats();
  if (def != nullptr && def->IsDate()) return key.isDigit() || key == QChar(f.DateSeparator);
  if (def != nullptr && def->IsTime()) return key.isDigit() || key == QChar(f.TimeSeparator);
  if (def != nullptr && def->IsString()) return key.isPrint();
  if (key.unicode() >= 0x80) return false;
  const char c = static_cast<char>(key.unicode());
  return std::isxdigit(static_cast<unsigned char>(c)) ||
         std::string_view("+-xXhHeEbB|").find(c) != std::string_view::npos ||
         c == f.DecimalSeparator;
}

QChar TkoComboBox::DoOnKeyPress(QChar key) {
  if (key.isNull() || key == u'\b' || key == u'\t') return key;
  if (key == u'\r' || key == u'\n') {
    Confirm();
    return QChar();
  }
  if (key == QChar(0x1B)) {
    EndEdit();
    return QChar();
  }
  const bool accepted = AcceptsChar(key);
  SetAlarm(!accepted,
           accepted ? QString() : QStringLiteral("\"%1\" cannot be typed here.").arg(key));
  return accepted ? key : QChar();
}

void TkoComboBox::Confirm() {
  TkoParValue* par = edited_;
  if (par == nullptr) return;
  const int index = IsPickOnly() ? currentIndex() : picked_;
  if (index < 0 && !IsPickOnly()) {
    // A text the parameter would ignore or clamp is refused here, with the reason: the
    // engineer corrects it or leaves with Escape.
    const std::string text = vx::FromQString(currentText());
    const std::string why = vx::EntryRefusal(*par, text);
    if (!why.empty()) {
      SetAlarm(true, QStringLiteral("\"%1\" %2.").arg(currentText(), vx::ToQString(why)));
      if (QLineEdit* edit = lineEdit()) edit->selectAll();
      if (OnRefused) vx::RunReportingErrors([&] { OnRefused(par, text, why); });
      return;
    }
  }
  bool edited = false;
  const bool ok = vx::RunReportingErrors([&] {
    if (index >= 0) {
      edited = vx::ApplyChoice(par, itemData(index).toLongLong(), false);
    } else if (!IsPickOnly()) {
      par->SetValueString(vx::FromQString(currentText()));
      edited = true;
    }
  });
  // A refused text (an impossible date, say) leaves the edit open for a correction.
  if (!ok && IsEditing()) return;
  if (edited && OnEdited) vx::RunReportingErrors([&] { OnEdited(par, this); });
  EndEdit();
}

bool TkoComboBox::DoOnKeyDown(int key, Qt::KeyboardModifiers shift) {
  if (!IsEditing()) return false;
  if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
    MoveRow(key == Qt::Key_Backtab || (shift & Qt::ShiftModifier) ? -1 : 1);
    return true;
  }
  if ((shift & Qt::ShiftModifier) && (key == Qt::Key_Left || key == Qt::Key_Right)) {
    QTreeWidgetItem* row = EditedRow();
    if (row != nullptr && edited_->Register != nullptr)
      EditThis(row, columnOffset_, QChar(), edited_->Register,
               edited_->Index + (key == Qt::Key_Left ? -1 : 1));
    return true;
  }
  return false;
}

void TkoComboBox::MoveRow(int step) {
  QTreeWidgetItem* row = EditedRow();
  if (row == nullptr) return;
  QTreeWidget* list = list_;
  // Separators and rows that may not be edited are passed over.
  for (int i = list->indexOfTopLevelItem(row) + step; i >= 0 && i < list->topLevelItemCount();
       i += step) {
    QTreeWidgetItem* next = list->topLevelItem(i);
    TkoParValue* par = vx::RowPar(next);
    if (par == nullptr || (CanEdit && !CanEdit(par))) continue;
    list->setCurrentItem(next);
    EditThis(next, 1, QChar(), par);
    return;
  }
}

void TkoComboBox::SetAlarm(bool alarm, const QString& why) {
  const bool was = alarm_;
  alarm_ = alarm;
  setToolTip(alarm ? why : QString());
  if (QLineEdit* edit = lineEdit()) edit->setToolTip(toolTip());
  if (alarm && !why.isEmpty() && isVisible())
    QToolTip::showText(mapToGlobal(QPoint(0, height())), why, this);
  else if (!alarm && was)
    QToolTip::hideText();
  QPalette p = QApplication::palette(this);
  if (alarm) {
    p.setColor(QPalette::Base, Qt::red);
    p.setColor(QPalette::Button, Qt::red);
    p.setColor(QPalette::Text, Qt::yellow);
    p.setColor(QPalette::ButtonText, Qt::yellow);
  }
  setPalette(p);
  if (QLineEdit* edit = lineEdit()) edit->setPalette(p);
}

void TkoComboBox::EndEdit() {
  FinishEdit(true);
}

void TkoComboBox::DoOnExit() {
  FinishEdit(false);
}

void TkoComboBox::FinishEdit(bool focusBack) {
  TkoParValue* par = edited_;
  // Forgotten first: hiding the focused editor moves the focus, which ends the edit again.
  edited_ = nullptr;
  SetAlarm(false);
  hidePopup();
  hide();
  if (focusBack && !list_.isNull()) list_->setFocus(Qt::OtherFocusReason);
  if (par != nullptr && OnQuit) vx::RunReportingErrors([&] { OnQuit(par); });
}

bool TkoComboBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched != this && watched != lineEdit()) return QComboBox::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (DoOnKeyDown(key->key(), key->modifiers())) return true;
    QChar c;
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
      c = u'\r';
    else if (key->key() == Qt::Key_Escape)
      c = QChar(0x1B);
    else if (!key->text().isEmpty())
      c = key->text().at(0);
    if (c.isNull() || !IsEditing()) return false;
    return DoOnKeyPress(c).isNull();
  }
  if (event->type() == QEvent::FocusOut && IsEditing()) {
    auto* focus = static_cast<QFocusEvent*>(event);
    if (focus->reason() == Qt::PopupFocusReason) return false;
    QWidget* now = QApplication::focusWidget();
    if (now != nullptr && (now == this || isAncestorOf(now))) return false;
    DoOnExit();
  }
  return false;
}
