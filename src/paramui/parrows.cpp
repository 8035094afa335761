#include "paramui/parrows.h"

#include <QVariant>

#include "params/parvalue.h"

namespace vx {

TkoParValue* RowPar(const QTreeWidgetItem* row) {
  if (row == nullptr) return nullptr;
  return reinterpret_cast<TkoParValue*>(row->data(0, kParRole).value<quintptr>());
}

void SetRowPar(QTreeWidgetItem* row, TkoParValue* par) {
  if (row == nullptr) return;
  row->setData(0, kParRole, QVariant::fromValue(reinterpret_cast<quintptr>(par)));
}

enm_LvColumns ColumnKind(const QTreeWidget* list, int column) {
  if (list == nullptr || column < 0 || column >= list->columnCount()) return lvcNone;
  return static_cast<enm_LvColumns>(list->headerItem()->data(column, kColumnKindRole).toInt());
}

void SetColumnKind(QTreeWidget* list, int column, enm_LvColumns kind) {
  if (list == nullptr || column < 0 || column >= list->columnCount()) return;
  list->headerItem()->setData(column, kColumnKindRole, static_cast<int>(kind));
}

int FindColumn(const QTreeWidget* list, enm_LvColumns kind) {
  if (list == nullptr) return -1;
  for (int c = 0; c < list->columnCount(); ++c)
    if (ColumnKind(list, c) == kind) return c;
  return -1;
}

}  // namespace vx
