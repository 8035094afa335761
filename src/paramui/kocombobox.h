#pragma once
#include <QComboBox>
#include <QPointer>
#include <QRect>
#include <functional>
#include <memory>
#include <string>

class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TkoParValue;
class TkoRegister;

// The in-place editor of a parameter: laid over a list cell, it offers the parameter's
// choices (default, minimum, maximum and, for encoded kinds, the described values) and,
// for the numeric kinds, takes a typed value. Enter confirms, Escape or leaving it
// cancels; Tab moves to the next row, Shift+Left/Right to the neighbouring element of the
// same register.
class TkoComboBox : public QComboBox {
 public:
  explicit TkoComboBox(QWidget* parent = nullptr);
  ~TkoComboBox() override;

  std::function<void(TkoParValue* par, TkoComboBox* sender)> OnEdited;
  std::function<void(TkoParValue* par)> OnQuit;
  // A typed entry was refused (the edit stays open, red, the reason in its tool tip):
  // the text as typed and why, such as "is below the minimum 0 stp".
  std::function<void(TkoParValue* par, const std::string& text, const std::string& why)> OnRefused;
  // Asked before Tab moves the edit to another row; empty: any row with a parameter.
  std::function<bool(TkoParValue* par)> CanEdit;

  // Edits the row's parameter (or par) over the row's cell.
  void EditThis(QTreeWidgetItem* row, int columnOffset, QChar firstKey, TkoParValue* par = nullptr);
  // Edits one element of a register through a parameter of the editor's own; an element
  // below 0 is the last one, one beyond the last is 0.
  void EditThis(QTreeWidgetItem* row, int columnOffset, QChar firstKey, TkoRegister* reg,
                int element);
  // Places the editor on parent at the rectangle and starts editing.
  void EditThis(TkoParValue* par, QWidget* parent, QChar firstKey, const QRect& rect);
  // Ends the edit without change.
  void EndEdit();

  void DoOnChange() {}
  // The key after filtering: QChar() when swallowed.
  QChar DoOnKeyPress(QChar key);
  // True when the key was handled here and must go no further.
  bool DoOnKeyDown(int key, Qt::KeyboardModifiers shift);
  void DoOnExit();

  bool IsEditing() const { return edited_ != nullptr; }
  TkoParValue* EditedPar() const { return edited_; }
  QTreeWidgetItem* EditedRow() const;
  // Set by a refused key until the next accepted one.
  bool IsAlarm() const { return alarm_; }
  // Whether the current parameter is chosen from the list only (encoded kinds).
  bool IsPickOnly() const { return !isEditable(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Confirm();
  // Red with yellow text and the reason as tool tip; false restores both.
  void SetAlarm(bool alarm, const QString& why = QString());
  void FinishEdit(bool focusBack);
  bool AcceptsChar(QChar key) const;
  void MoveRow(int step);
  // The column the editor covers in the row's list.
  static int EditColumn(const QTreeWidget* list, const TkoParValue* par, int columnOffset);

  std::unique_ptr<TkoParValue> own_;
  TkoParValue* edited_ = nullptr;
  QPointer<QTreeWidget> list_;
  QPointer<QLineEdit> hooked_;
  QTreeWidgetItem* row_ = nullptr;  // only used while list_ still holds it
  int columnOffset_ = 0;
  int picked_ = -1;  // the item chosen in an editable box; -1 once text was typed
  bool alarm_ = false;
};
