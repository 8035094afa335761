#pragma once
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <cstdint>

#include "params/paredit.h"  // ApplyChoice, what picking a line of a choice list does

class TkoParValue;

// Column kinds of a bound report list, kept in the column's header data.
enum enm_LvColumns {
  lvcNone = 0,
  lvcParam = 2,
  lvcValue = 3,
  lvcMin = 4,
  lvcMax = 5,
  lvcDefault = 6,
};

namespace vx {

// Item data roles of a bound list: the parameter a row carries (column 0) and the kind
// of a column (header item).
inline constexpr int kParRole = Qt::UserRole + 0x310;
inline constexpr int kColumnKindRole = Qt::UserRole + 0x311;

TkoParValue* RowPar(const QTreeWidgetItem* row);
void SetRowPar(QTreeWidgetItem* row, TkoParValue* par);

enm_LvColumns ColumnKind(const QTreeWidget* list, int column);
void SetColumnKind(QTreeWidget* list, int column, enm_LvColumns kind);
// The first column of the kind, -1 when there is none.
int FindColumn(const QTreeWidget* list, enm_LvColumns kind);

}  // namespace vx
