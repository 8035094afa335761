#include "app/comparedlg.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Rows shown without scrolling before the table scrolls.
constexpr int kRowsShown = 16;

}  // namespace

TCompareDialog::TCompareDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Setup comparison"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);

  heading_ = new QLabel(this);
  heading_->setWordWrap(true);
  heading_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(heading_);

  outcome_ = new QLabel(this);
  QFont bold = outcome_->font();
  bold.setBold(true);
  outcome_->setFont(bold);
  layout->addWidget(outcome_);

  table_ = new QTableWidget(0, 3, this);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setAlternatingRowColors(true);
  table_->setWordWrap(false);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  table_->installEventFilter(this);
  layout->addWidget(table_, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons_ = buttons;
  copy_ = buttons->addButton(QStringLiteral("Copy"), QDialogButtonBox::ActionRole);
  copy_->setToolTip(QStringLiteral("Copy the comparison to the clipboard"));
  connect(copy_, &QPushButton::clicked, this,
          [this] { QApplication::clipboard()->setText(Text()); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  layout->addWidget(buttons);
}

void TCompareDialog::SetComparison(const QString& heading, const QString& otherCaption,
                                   const std::vector<Row>& rows) {
  heading_->setText(heading);
  table_->clearContents();
  table_->setRowCount(static_cast<int>(rows.size()));
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("Parameter"), QStringLiteral("Window"), otherCaption});
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const Row& r = rows[static_cast<std::size_t>(i)];
    int column = 0;
    for (const QString& text : {r.Parameter, r.Window, r.Other}) {
      auto* item = new QTableWidgetItem(text);
      item->setToolTip(text);
      table_->setItem(i, column++, item);
    }
  }
  if (rows.empty())
    outcome_->setText(QStringLiteral("No differences"));
  else if (rows.size() == 1)
    outcome_->setText(QStringLiteral("1 difference"));
  else
    outcome_->setText(QStringLiteral("%1 differences").arg(rows.size()));
  // Without rows the table would be an empty frame under "No differences".
  table_->setVisible(!rows.empty());
  FitToContent();
}

void TCompareDialog::FitToContent() {
  // Measured with the fonts and margins of the style, from the contents: a stretched last
  // column keeps the width it had.
  ensurePolished();
  table_->horizontalHeader()->setStretchLastSection(false);
  table_->resizeColumnsToContents();
  table_->resizeRowsToContents();
  // Wide enough for every column, high enough for a screenful of rows; never beyond the
  // screen, where the table scrolls instead. Measured here: a table asks for a fixed
  // default size whatever it holds.
  const QMargins m = layout()->contentsMargins();
  const int spacing = layout()->spacing();
  const int frame = 2 * table_->frameWidth();
  int columns = 0;
  for (int c = 0; c < table_->columnCount(); ++c) columns += table_->columnWidth(c);
  table_->horizontalHeader()->setStretchLastSection(true);
  const int rows = table_->rowCount();
  const int shown = std::min(rows, kRowsShown);
  const int rowHeight = rows > 0 ? table_->rowHeight(0) : 0;
  // Room for a vertical scroll bar either way: a table that has to lay itself out again
  // while it is shown may take one for a moment, and keeps the horizontal one it caused.
  const int tableWidth = columns + frame + table_->verticalScrollBar()->sizeHint().width();
  QSize room(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  if (const QScreen* s = screen()) room = s->availableGeometry().size() - QSize(40, 80);
  const int width = std::min(std::max(360, tableWidth + m.left() + m.right()), room.width());
  int tableHeight = table_->horizontalHeader()->sizeHint().height() + shown * rowHeight + frame;
  if (tableWidth > width - m.left() - m.right())
    tableHeight += table_->horizontalScrollBar()->sizeHint().height();
  const int inner = width - m.left() - m.right();
  int height = m.top() + heading_->heightForWidth(inner) + spacing + outcome_->sizeHint().height() +
               spacing + buttons_->sizeHint().height() + m.bottom();
  if (rows > 0) height += tableHeight + spacing;
  resize(width, std::min(height, room.height()));
}

QString TCompareDialog::RowsText(bool selectedOnly) const {
  QStringList lines;
  if (table_->rowCount() == 0) return QString();
  QStringList captions;
  for (int c = 0; c < table_->columnCount(); ++c)
    captions << table_->horizontalHeaderItem(c)->text();
  lines << captions.join(QLatin1Char('\t'));
  for (int r = 0; r < table_->rowCount(); ++r) {
    if (selectedOnly && !table_->selectionModel()->isRowSelected(r, QModelIndex())) continue;
    QStringList cells;
    for (int c = 0; c < table_->columnCount(); ++c)
      cells << (table_->item(r, c) != nullptr ? table_->item(r, c)->text() : QString());
    lines << cells.join(QLatin1Char('\t'));
  }
  return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString TCompareDialog::Text() const {
  const QString rows = RowsText(false);
  return heading_->text() + QLatin1Char('\n') +
         (rows.isEmpty() ? outcome_->text() + QLatin1Char('\n') : rows);
}

QString TCompareDialog::SelectedText() const {
  return RowsText(true);
}

bool TCompareDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    const bool any = table_->selectionModel()->hasSelection();
    QApplication::clipboard()->setText(any ? SelectedText() : Text());
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
