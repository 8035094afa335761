#include "paramui/userinterfaceutils.h"

#include <QAction>
#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <algorithm>
#include <exception>

#include "params/parencoded.h"
#include "params/parvalue.h"
#include "paramui/contrast.h"
#include "paramui/kocheckbox.h"
#include "paramui/kocombobox.h"
#include "paramui/koradiogroup.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"

namespace {

constexpr int kParamWidth = 150;
constexpr int kMinWidth = 100;
constexpr int kRowPadding = 4;
const QColor kGreyRow(192, 192, 192);
const QColor kGreyText(128, 128, 128);

struct ColumnInfo {
  enm_LvColumns kind;
  const char* caption;
};
constexpr ColumnInfo kColumns[] = {
    {lvcParam, "Param."}, {lvcValue, "Value"},     {lvcMin, "Min"},
    {lvcMax, "Max"},      {lvcDefault, "Default"},
};

// Greyed text stands out less than the row's text but is still seen: the designed grey
// where it shows on the row, else halfway between the row and its text.
QColor GreyedText(const QColor& row, const QColor& text) {
  if (vx::ContrastRatio(kGreyText, row) >= 2.0) return kGreyText;
  return QColor((row.red() + text.red()) / 2, (row.green() + text.green()) / 2,
                (row.blue() + text.blue()) / 2);
}

// Draws the rows of a bound list: alternating colours, separators in the button face,
// disabled or hidden parameters greyed (the texts of hidden ones left out) and the
// second column bold.
class RowDelegate : public QStyledItemDelegate {
 public:
  RowDelegate(TkoUserInterfaceUtils* binder) : QStyledItemDelegate(binder), binder_(binder) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    if (opt.state & QStyle::State_Enabled) {
      const auto* list = qobject_cast<const QTreeWidget*>(opt.widget);
      const TkoParValue* par =
          list != nullptr ? vx::RowPar(list->topLevelItem(index.row())) : nullptr;
      // The designed row colours are light: under a dark palette's light text they give
      // way to the palette's base, keeping as much of their tint as stays readable.
      const QColor base = opt.palette.color(QPalette::Base);
      const QColor text = opt.palette.color(QPalette::Text);
      if (par == nullptr) {
        opt.backgroundBrush = opt.palette.color(QPalette::Button);
      } else if (!par->Enabled || !par->Visible) {
        const QColor row = vx::FitBackground(kGreyRow, base, text);
        const QColor grey = GreyedText(row, text);
        opt.backgroundBrush = row;
        opt.palette.setColor(QPalette::Text, grey);
        opt.palette.setColor(QPalette::HighlightedText, grey);
        if (!par->Visible) opt.text.clear();
      } else {
        opt.backgroundBrush = vx::FitBackground(
            index.row() % 2 != 0 ? binder_->OddColor() : binder_->EvenColor(), base, text);
      }
      opt.font.setBold(index.column() == 1);
      // A value the drive no longer confirms must not look live: greyed and struck
      // through, the description left readable.
      if (par != nullptr && binder_->Stale() && index.column() >= 1) {
        opt.palette.setColor(QPalette::Text, kGreyText);
        opt.palette.setColor(QPalette::HighlightedText, kGreyText);
        opt.font.setStrikeOut(true);
        opt.font.setItalic(true);
      }
      opt.fontMetrics = QFontMetrics(opt.font);
    }
    const QStyle* style = opt.widget != nullptr ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    // Asked for every cell of a column each time one of its texts changes, and the
    // style's answer lays the text out: the sizes of the texts seen are kept, as long as
    // font and style stay the same.
    const QStyle* style = option.widget != nullptr ? option.widget->style() : nullptr;
    if (option.font != font_ || style != style_ || sizes_.size() > kMaxSizes) {
      sizes_.clear();
      font_ = option.font;
      style_ = style;
    }
    const bool bold = index.column() == 1;
    const QString key =
        (bold ? QLatin1Char('b') : QLatin1Char('n')) + index.data(Qt::DisplayRole).toString();
    if (const auto found = sizes_.constFind(key); found != sizes_.constEnd()) return *found;
    QStyleOptionViewItem opt(option);
    if (bold) {
      opt.font.setBold(true);
      opt.fontMetrics = QFontMetrics(opt.font);
    }
    // Some air above and below the text: bold values in rows of bare font height touch
    // the row below.
    const QSize size = QStyledItemDelegate::sizeHint(opt, index) + QSize(0, kRowPadding);
    sizes_.insert(key, size);
    return size;
  }

 private:
  static constexpr qsizetype kMaxSizes = 1024;
  TkoUserInterfaceUtils* binder_;
  mutable QHash<QString, QSize> sizes_;
  mutable QFont font_;
  mutable const QStyle* style_ = nullptr;
};

// A column a window made itself carries no kind; its caption tells which it is.
enm_LvColumns KindOfCaption(const QString& caption) {
  if (caption == "Parameter") return lvcParam;
  for (const ColumnInfo& c : kColumns)
    if (caption == QLatin1String(c.caption)) return c.kind;
  return lvcNone;
}

// Qt's own caption of an unnamed column is its number: such a list has no column yet.
bool HasNoColumn(const QTreeWidget* list) {
  return list->columnCount() <= 1 && vx::ColumnKind(list, 0) == lvcNone &&
         (list->headerItem()->text(0).isEmpty() || list->headerItem()->text(0) == "1");
}

constexpr const char* kUnknownText = "unknown";

// How a row is drawn as far as its parameter's flags go (greyed, texts hidden): a change
// of them repaints the row even when no text changed.
int RowLook(const TkoParValue* par) {
  return (par->Enabled ? 1 : 0) | (par->Visible ? 2 : 0);
}

std::string CellText(const TkoParValue* par, enm_LvColumns kind, bool unknown) {
  if (unknown && kind == lvcValue) return kUnknownText;
  switch (kind) {
    case lvcParam:
      return par->GetDescr();
    case lvcValue:
      return par->GetValueString();
    case lvcMin:
      return par->HasMin() ? par->GetMinString() : "---";
    case lvcMax:
      return par->HasMax() ? par->GetMaxString() : "---";
    case lvcDefault:
      return par->HasDflt() ? par->GetDfltString() : "---";
    default:
      return std::string();
  }
}

}  // namespace

TkoUserInterfaceUtils::TkoUserInterfaceUtils(QObject* owner) : QObject(owner) {
  Editor();
}

TkoUserInterfaceUtils::~TkoUserInterfaceUtils() {
  Reset();
  delete editor_.data();
}

TkoComboBox* TkoUserInterfaceUtils::Editor() {
  // Laid over a list, the editor becomes a child of it and dies with it: a new one then.
  if (editor_.isNull()) {
    editor_ = new TkoComboBox();
    editor_->OnEdited = [this](TkoParValue* par, TkoComboBox*) { DoOnEdited(par); };
    editor_->CanEdit = [this](TkoParValue* par) { return MayEdit(par); };
    editor_->OnRefused = [this](TkoParValue* par, const std::string& text, const std::string& why) {
      if (OnRefused) OnRefused(par, text, why);
    };
  }
  return editor_;
}

void TkoUserInterfaceUtils::SetStale(bool stale) {
  if (stale == stale_) return;
  stale_ = stale;
  for (Bound& b : ctrls_)
    if (auto* list = qobject_cast<QTreeWidget*>(b.control)) list->viewport()->update();
}

void TkoUserInterfaceUtils::SetUnknown(const TkoParValue* par, bool unknown) {
  if (par == nullptr) return;
  if (unknown)
    unknown_.insert(par);
  else
    unknown_.erase(par);
}

bool TkoUserInterfaceUtils::IsEditMode() const {
  // Shown by the edit, whether or not its window is on the screen.
  return !editor_.isNull() && !editor_->isHidden();
}

std::vector<QObject*> TkoUserInterfaceUtils::CtrlList() const {
  std::vector<QObject*> result;
  for (const Bound& b : ctrls_)
    if (!b.control.isNull()) result.push_back(b.control);
  return result;
}

void TkoUserInterfaceUtils::SetEvenColor(const QColor& color) {
  evenColor_ = color;
  for (Bound& b : ctrls_)
    if (auto* list = qobject_cast<QTreeWidget*>(b.control)) list->viewport()->update();
}

void TkoUserInterfaceUtils::SetOddColor(const QColor& color) {
  oddColor_ = color;
  for (Bound& b : ctrls_)
    if (auto* list = qobject_cast<QTreeWidget*>(b.control)) list->viewport()->update();
}

TkoUserInterfaceUtils::Bound* TkoUserInterfaceUtils::Find(const QObject* control) {
  for (Bound& b : ctrls_)
    if (b.control == control) return &b;
  return nullptr;
}

TkoUserInterfaceUtils::Bound& TkoUserInterfaceUtils::Register(QObject* control, bool* added) {
  Bound* b = Find(control);
  *added = b == nullptr;
  if (b != nullptr) return *b;
  Bound bound;
  bound.control = control;
  ctrls_.push_back(std::move(bound));
  return ctrls_.back();
}

// ---- lists ----

void TkoUserInterfaceUtils::With(QTreeWidget* list, const TkoLvColumnSet& columns) {
  if (list == nullptr) return;
  bool added;
  Bound& b = Register(list, &added);
  if (added) {
    list->clear();
    if (HasNoColumn(list)) {
      list->setColumnCount(1);
      list->headerItem()->setText(0, QStringLiteral("Parameter"));
      vx::SetColumnKind(list, 0, lvcParam);
      list->setColumnWidth(0, kParamWidth);
    }
    if (list->columnCount() <= 1) {
      for (const ColumnInfo& c : kColumns) {
        if (columns.count(c.kind) == 0) continue;
        const int at = list->columnCount();
        list->setColumnCount(at + 1);
        list->headerItem()->setText(at, QString::fromLatin1(c.caption));
        vx::SetColumnKind(list, at, c.kind);
        if (c.kind == lvcParam) list->setColumnWidth(at, kParamWidth);
      }
    }
    for (int c = 0; c < list->columnCount(); ++c)
      if (vx::ColumnKind(list, c) == lvcNone)
        vx::SetColumnKind(list, c, KindOfCaption(list->headerItem()->text(c)));
    b.oldDelegate = list->itemDelegate();
    b.delegate = new RowDelegate(this);
    list->setItemDelegate(b.delegate);
    list->installEventFilter(this);
    b.connections.push_back(
        connect(list, &QTreeWidget::itemDoubleClicked, this, [this, list] { LvDblClick(list); }));
  }
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  current_ = list;
}

bool TkoUserInterfaceUtils::List(TkoParValue* par) {
  auto* list = qobject_cast<QTreeWidget*>(current_);
  if (par == nullptr || list == nullptr) return false;
  auto* row = new QTreeWidgetItem();
  vx::SetRowPar(row, par);
  list->addTopLevelItem(row);
  // The first column is written once; refreshes recompute the others.
  RefreshColumn(row, 0);
  if (Bound* b = Find(list)) b->fitted = false;
  return true;
}

void TkoUserInterfaceUtils::ListSep() {
  if (auto* list = qobject_cast<QTreeWidget*>(current_)) {
    list->addTopLevelItem(new QTreeWidgetItem());
    if (Bound* b = Find(list)) b->fitted = false;
  }
}

int TkoUserInterfaceUtils::AdaptHeight() {
  int height = 0;
  if (auto* list = qobject_cast<QTreeWidget*>(current_)) {
    height = 2 * list->frameWidth();
    if (!list->isHeaderHidden()) height += list->header()->sizeHint().height();
    for (int i = 0; i < list->topLevelItemCount(); ++i) height += list->sizeHintForRow(i);
    list->setFixedHeight(height);
  } else if (auto* group = dynamic_cast<TkoRadioGroup*>(current_.data())) {
    height = group->sizeHint().height();
    group->setFixedHeight(height);
  }
  return height;
}

void TkoUserInterfaceUtils::RefreshColumn(QTreeWidgetItem* row, int column) {
  (void)UpdateColumn(row, column);
}

bool TkoUserInterfaceUtils::UpdateColumn(QTreeWidgetItem* row, int column) {
  if (row == nullptr || row->treeWidget() == nullptr) return false;
  const TkoParValue* par = vx::RowPar(row);
  if (par == nullptr) return false;
  const enm_LvColumns kind = vx::ColumnKind(row->treeWidget(), column);
  QString text;
  QString tip;
  try {
    text = vx::ToQString(CellText(par, kind, IsUnknown(par)));
  } catch (const std::exception& e) {
    // One unreadable parameter must not stop the refresh of the others, nor raise a
    // message at every refresh.
    text = QStringLiteral("?");
    tip = vx::ToQString(e.what());
  }
  // Ten refreshes a second mostly find the same texts: a cell is written, and so
  // repainted, only when its text has changed.
  if (row->toolTip(column) != tip) row->setToolTip(column, tip);
  if (row->text(column) == text) return false;
  row->setText(column, text);
  return true;
}

void TkoUserInterfaceUtils::RefreshItem(QTreeWidgetItem* row) {
  (void)UpdateItem(row, nullptr);
}

bool TkoUserInterfaceUtils::UpdateItem(QTreeWidgetItem* row, std::vector<bool>* changedColumns) {
  if (row == nullptr || row->treeWidget() == nullptr || vx::RowPar(row) == nullptr) return false;
  bool changed = false;
  for (int c = 1; c < row->treeWidget()->columnCount(); ++c) {
    if (!UpdateColumn(row, c)) continue;
    changed = true;
    if (changedColumns != nullptr && c < static_cast<int>(changedColumns->size()))
      (*changedColumns)[static_cast<std::size_t>(c)] = true;
  }
  return changed;
}

void TkoUserInterfaceUtils::RefreshListView(QTreeWidget* list) {
  if (list == nullptr) return;
  // Only the cells whose text changed are written (each repaints itself alone) and only
  // their columns fitted again: a refresh that changes nothing costs no layout and no
  // paint, and one that does repaints no more than it changed.
  std::vector<bool> changed(static_cast<std::size_t>(list->columnCount()), false);
  Bound* b = Find(list);
  const int rows = list->topLevelItemCount();
  if (b != nullptr && static_cast<int>(b->looks.size()) != rows) b->looks.assign(rows, -1);
  for (int i = 0; i < rows; ++i) {
    QTreeWidgetItem* row = list->topLevelItem(i);
    UpdateItem(row, &changed);
    const TkoParValue* par = vx::RowPar(row);
    if (b == nullptr || par == nullptr) continue;
    const int look = RowLook(par);
    int& drawn = b->looks[static_cast<std::size_t>(i)];
    if (drawn != look && drawn != -1) list->viewport()->update(list->visualItemRect(row));
    drawn = look;
  }
  if (b == nullptr || !b->fitted) {
    std::fill(changed.begin(), changed.end(), true);
    if (b != nullptr) b->fitted = true;
  }
  FitColumns(list, changed);
}

void TkoUserInterfaceUtils::FitColumns(QTreeWidget* list, const std::vector<bool>& columns) {
  Bound* b = Find(list);
  // The value, limit and default columns follow their widest text, the value column
  // at least 100 wide. The descriptions get 150 and more where one is longer: a cut
  // description leaves the engineer guessing which parameter a row is.
  for (int c = 0; c < list->columnCount(); ++c) {
    const enm_LvColumns kind = vx::ColumnKind(list, c);
    if (kind == lvcNone) continue;
    if (c >= static_cast<int>(columns.size()) || !columns[static_cast<std::size_t>(c)]) continue;
    const int least = kind == lvcParam ? kParamWidth : kind == lvcValue ? kMinWidth : 0;
    QHeaderView* header = list->header();
    const int content = static_cast<const QAbstractItemView*>(list)->sizeHintForColumn(c);
    const int want =
        std::max({least, content, header->isHidden() ? 0 : header->sectionSizeHint(c)});
    // Set once, not fitted and then widened to the least width: each of those resizes
    // would repaint every column right of it. The stretched last column is wider than
    // asked: it is asked again only when what it needs has changed.
    const bool stretched =
        header->stretchLastSection() && header->visualIndex(c) == header->count() - 1;
    int* asked = nullptr;
    if (b != nullptr) {
      if (static_cast<int>(b->widths.size()) < list->columnCount())
        b->widths.resize(static_cast<std::size_t>(list->columnCount()), -1);
      asked = &b->widths[static_cast<std::size_t>(c)];
    }
    const bool resize =
        stretched && asked != nullptr ? *asked != want : list->columnWidth(c) != want;
    if (resize) list->setColumnWidth(c, want);
    if (asked != nullptr) *asked = want;
  }
}

void TkoUserInterfaceUtils::LvKeyPress(QTreeWidget* list, QKeyEvent* key, bool* handled) {
  *handled = false;
  if (list->selectedItems().isEmpty()) return;
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    ParEdit(list, QChar());
    *handled = true;
  } else if (key->key() == Qt::Key_Escape) {
    EndEdit();
    *handled = true;
  } else if (!key->text().isEmpty() && key->text().at(0).isPrint() &&
             (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0) {
    ParEdit(list, key->text().at(0));
    *handled = true;
  }
}

void TkoUserInterfaceUtils::LvDblClick(QTreeWidget* list) {
  if (!list->selectedItems().isEmpty()) ParEdit(list, QChar());
}

bool TkoUserInterfaceUtils::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* list = qobject_cast<QTreeWidget*>(watched);
    if (list != nullptr && Find(list) != nullptr) {
      bool handled = false;
      vx::RunReportingErrors([&] { LvKeyPress(list, static_cast<QKeyEvent*>(event), &handled); });
      if (handled) return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

bool TkoUserInterfaceUtils::MayEdit(TkoParValue* par) {
  // An unknown value is not edited either: the drive's own value, read back meanwhile,
  // would overwrite the edit before it is sent.
  if (par == nullptr || par->ReadOnly || !par->Enabled || !par->Visible || IsUnknown(par))
    return false;
  bool allow = true;
  if (OnEditQuery) OnEditQuery(par, allow);
  return allow;
}

void TkoUserInterfaceUtils::ParEdit(QTreeWidget* list, QChar firstKey) {
  if (list == nullptr) return;
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  if (selected.isEmpty()) return;
  QTreeWidgetItem* row = selected.first();
  TkoParValue* par = vx::RowPar(row);
  if (!MayEdit(par)) return;
  const int column = vx::FindColumn(list, lvcValue);
  if (column < 0) return;
  TkoComboBox* editor = Editor();
  editor->setFont(list->font());
  editor->EditThis(row, column, firstKey, par);
}

void TkoUserInterfaceUtils::EndEdit() {
  if (IsEditMode()) editor_->EndEdit();
}

// ---- check boxes, radio groups, actions ----

bool TkoUserInterfaceUtils::With(TkoCheckBox* box, TkoParBoolField* par) {
  if (box == nullptr) return false;
  bool added;
  Register(box, &added);
  box->SetPar(par);
  box->OnEdited = [this](TkoParValue* p) { DoOnEdited(p); };
  current_ = box;
  return par != nullptr;
}

bool TkoUserInterfaceUtils::With(TkoRadioGroup* group, TkoParEncoded* par) {
  if (group == nullptr) return false;
  bool added;
  Register(group, &added);
  group->SetPar(par);
  group->OnEdited = [this](TkoParValue* p) { DoOnEdited(p); };
  current_ = group;
  return par != nullptr;
}

bool TkoUserInterfaceUtils::With(QAction* action, TkoParBoolField* par) {
  if (action == nullptr) return false;
  bool added;
  Bound& b = Register(action, &added);
  if (added) {
    b.connections.push_back(connect(action, &QAction::triggered, this, [this, action] {
      // Qt flips a checkable action before it reports the trigger; the parameter is
      // what decides, so the flip is undone and the refresh shows the outcome.
      if (action->isCheckable()) {
        const QSignalBlocker block(action);
        action->setChecked(!action->isChecked());
      }
      vx::RunReportingErrors([&] { DoOnExecute(action); });
    }));
  }
  action->setCheckable(true);
  action->setData(QVariant::fromValue(reinterpret_cast<quintptr>(static_cast<TkoParValue*>(par))));
  action->setText(par != nullptr ? vx::ToQString(par->GetDescr()) : QStringLiteral("-empty-"));
  action->setVisible(par != nullptr);
  DoOnUpdate(action);
  current_ = action;
  return par != nullptr;
}

TkoParBoolField* TkoUserInterfaceUtils::ActionPar(const QAction* action) {
  if (action == nullptr) return nullptr;
  auto* par = reinterpret_cast<TkoParValue*>(action->data().value<quintptr>());
  return dynamic_cast<TkoParBoolField*>(par);
}

void TkoUserInterfaceUtils::RefreshCheckBox(TkoCheckBox* box) {
  if (box != nullptr) box->RefreshData();
}

void TkoUserInterfaceUtils::RefreshRadioGroup(TkoRadioGroup* group) {
  if (group != nullptr) group->RefreshData();
}

void TkoUserInterfaceUtils::RefreshAction(QAction* action) {
  TkoParBoolField* par = ActionPar(action);
  if (par == nullptr) return;
  action->setChecked(!IsUnknown(par) && par->GetBool());
}

void TkoUserInterfaceUtils::DoOnExecute(QAction* action) {
  TkoParBoolField* par = ActionPar(action);
  if (par == nullptr) return;
  par->SetBool(!action->isChecked());
  if (OnEdited) OnEdited(par);
  RefreshData();
}

void TkoUserInterfaceUtils::DoOnUpdate(QAction* action) {
  if (action == nullptr) return;
  TkoParBoolField* par = ActionPar(action);
  if (par == nullptr) {
    action->setEnabled(false);
    action->setVisible(false);
    return;
  }
  TkoRegDataBuffer* device = par->GetDevice();
  // A switch whose state is not known would flip to a guess.
  action->setEnabled(par->Enabled && !par->ReadOnly && !IsUnknown(par) && device != nullptr &&
                     DeviceReady && DeviceReady(device));
  action->setVisible(par->Visible);
}

// ---- refresh cycle ----

void TkoUserInterfaceUtils::DoOnEdited(TkoParValue* par) {
  if (OnEdited) OnEdited(par);
  RefreshData();
}

void TkoUserInterfaceUtils::RefreshData() {
  if (OnBeforeRefresh) OnBeforeRefresh(this);
  // A copy: a handler may bind or reset while the controls are refreshed.
  const std::vector<QObject*> controls = CtrlList();
  for (QObject* control : controls) {
    Bound* bound = Find(control);
    if (bound == nullptr) continue;
    try {
      if (auto* group = dynamic_cast<TkoRadioGroup*>(control)) {
        RefreshRadioGroup(group);
      } else if (auto* list = qobject_cast<QTreeWidget*>(control)) {
        RefreshListView(list);
      } else if (auto* box = dynamic_cast<TkoCheckBox*>(control)) {
        RefreshCheckBox(box);
      } else if (auto* action = qobject_cast<QAction*>(control)) {
        RefreshAction(action);
        // Qt has no idle update of actions: their state follows every refresh instead.
        DoOnUpdate(action);
      }
    } catch (const std::exception& e) {
      // A parameter the data model got wrong fails the same way at every refresh, ten
      // times a second: reported once per binding, and the other controls go on.
      if (!bound->reported) {
        bound->reported = true;
        vx::ReportUiError(e.what());
      }
    }
  }
  current_ = nullptr;
  if (OnAfterRefresh) OnAfterRefresh(this);
}

void TkoUserInterfaceUtils::Unbind(Bound& b) {
  for (const QMetaObject::Connection& c : b.connections) disconnect(c);
  b.connections.clear();
  QObject* control = b.control;
  if (control == nullptr) {
    delete b.delegate;
    return;
  }
  if (auto* group = dynamic_cast<TkoRadioGroup*>(control)) {
    group->SetPar(nullptr);
    group->OnEdited = nullptr;
  } else if (auto* box = dynamic_cast<TkoCheckBox*>(control)) {
    box->SetPar(nullptr);
    box->OnEdited = nullptr;
  } else if (auto* list = qobject_cast<QTreeWidget*>(control)) {
    list->removeEventFilter(this);
    list->clear();
    if (list->itemDelegate() == b.delegate) list->setItemDelegate(b.oldDelegate);
  } else if (auto* action = qobject_cast<QAction*>(control)) {
    action->setData(QVariant());
  }
  delete b.delegate;
}

void TkoUserInterfaceUtils::Reset() {
  EndEdit();
  // The editor may sit on one of the lists about to be emptied.
  if (!editor_.isNull()) editor_->setParent(nullptr);
  std::vector<Bound> bound;
  bound.swap(ctrls_);
  for (Bound& b : bound) Unbind(b);
  current_ = nullptr;
  unknown_.clear();
}

std::string vx::RefusedEntryLine(const TkoParValue* par, const std::string& text,
                                 const std::string& why) {
  const std::string name = par != nullptr ? par->GetDescr() : std::string();
  return (name.empty() ? std::string() : name + ": ") + "\"" + text + "\" " + why +
         "; entry refused.";
}
