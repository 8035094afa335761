#pragma once
#include <QColor>
#include <QObject>
#include <QPointer>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "paramui/parrows.h"

class QAction;
class QAbstractItemDelegate;
class QTreeWidget;
class QTreeWidgetItem;
class TkoCheckBox;
class TkoComboBox;
class TkoParBoolField;
class TkoParEncoded;
class TkoParValue;
class TkoRadioGroup;
class TkoRegDataBuffer;

using TkoLvColumnSet = std::set<enm_LvColumns>;

// Binds a window's report lists, check boxes, radio groups and actions to parameters and
// keeps them current: lists get one row per parameter with the columns asked for, drawn
// in alternating colours (greyed for a disabled parameter), and a row's value is edited
// in place through one shared editor. The binder never talks to the drive: an edit
// changes the parameter and raises OnEdited, and whoever listens sends it.
//
// Typical use: Reset; With (list, {lvcValue}); List for each parameter, ListSep between
// groups; AdaptHeight; then RefreshData whenever new data has arrived.
class TkoUserInterfaceUtils : public QObject {
 public:
  explicit TkoUserInterfaceUtils(QObject* owner = nullptr);
  ~TkoUserInterfaceUtils() override;

  // Every control bound since the last Reset, in binding order (controls destroyed since
  // then are left out).
  std::vector<QObject*> CtrlList() const;

  QColor EvenColor() const { return evenColor_; }
  QColor OddColor() const { return oddColor_; }
  void SetEvenColor(const QColor& color);
  void SetOddColor(const QColor& color);

  std::function<void(TkoUserInterfaceUtils* sender)> OnBeforeRefresh;
  std::function<void(TkoUserInterfaceUtils* sender)> OnAfterRefresh;
  std::function<void(TkoParValue* par, bool& allow)> OnEditQuery;
  std::function<void(TkoParValue* par)> OnEdited;
  // The editor refused a typed entry (the text and why); the edit stays open. Windows put
  // it in the message log.
  std::function<void(TkoParValue* par, const std::string& text, const std::string& why)> OnRefused;
  // Whether a device is connected and ready; bound actions are enabled only for
  // parameters of a ready device. The windows answer it from the device's state; without
  // it no device counts as ready.
  std::function<bool(TkoRegDataBuffer* device)> DeviceReady;

  // Live values the drive no longer confirms (it does not answer): the value columns of
  // every bound list are drawn greyed and struck through until the flag is cleared.
  void SetStale(bool stale);
  bool Stale() const { return stale_; }
  // A parameter whose value in the image is not the drive's (not read back since the
  // drive came back): its value cell reads "unknown", a bound action is shown unchecked
  // and disabled. Reset forgets every mark.
  void SetUnknown(const TkoParValue* par, bool unknown);
  bool IsUnknown(const TkoParValue* par) const { return unknown_.count(par) != 0; }

  bool IsEditMode() const;
  TkoComboBox* Editor();

  void With(QTreeWidget* list, const TkoLvColumnSet& columns);
  bool List(TkoParValue* par);
  void ListSep();
  int AdaptHeight();
  bool With(TkoCheckBox* box, TkoParBoolField* par);
  bool With(TkoRadioGroup* group, TkoParEncoded* par);
  bool With(QAction* action, TkoParBoolField* par);

  void RefreshData();
  void RefreshListView(QTreeWidget* list);
  void RefreshItem(QTreeWidgetItem* row);
  void RefreshColumn(QTreeWidgetItem* row, int column);
  void RefreshCheckBox(TkoCheckBox* box);
  void RefreshRadioGroup(TkoRadioGroup* group);
  void RefreshAction(QAction* action);

  void DoOnEdited(TkoParValue* par);
  void DoOnExecute(QAction* action);
  void DoOnUpdate(QAction* action);

  void ParEdit(QTreeWidget* list, QChar firstKey);
  void EndEdit();
  void Reset();

  // The parameter an action carries; null for none.
  static TkoParBoolField* ActionPar(const QAction* action);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Bound {
    QPointer<QObject> control;
    std::vector<QMetaObject::Connection> connections;
    QPointer<QAbstractItemDelegate> oldDelegate;  // lists: the delegate to give back
    QAbstractItemDelegate* delegate = nullptr;    // lists: ours, a child of the binder
    bool reported = false;                        // a refresh error was shown
    bool fitted = false;                          // lists: columns fitted to every row
    std::vector<int> looks;                       // lists: each row's flags as last drawn
    std::vector<int> widths;                      // lists: each column's width as last fitted
  };
  Bound* Find(const QObject* control);
  Bound& Register(QObject* control, bool* added);
  void Unbind(Bound& bound);
  bool MayEdit(TkoParValue* par);
  void LvKeyPress(QTreeWidget* list, QKeyEvent* key, bool* handled);
  void LvDblClick(QTreeWidget* list);
  // Fits the columns flagged in `columns`.
  void FitColumns(QTreeWidget* list, const std::vector<bool>& columns);
  // Write a cell's (a row's) text only where it changed; whether it did (and in which
  // columns).
  bool UpdateColumn(QTreeWidgetItem* row, int column);
  bool UpdateItem(QTreeWidgetItem* row, std::vector<bool>* changedColumns);

  std::vector<Bound> ctrls_;
  QPointer<QObject> current_;
  QColor evenColor_{192, 201, 255};
  QColor oddColor_{224, 233, 255};
  QPointer<TkoComboBox> editor_;
  bool stale_ = false;
  std::set<const TkoParValue*> unknown_;
};

namespace vx {
// The message-log line of a refused entry: the parameter, the text as typed and why.
std::string RefusedEntryLine(const TkoParValue* par, const std::string& text,
                             const std::string& why);
}  // namespace vx
