#pragma once
#include <QDialog>
#include <QString>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

// The differences between the setup window's values and another setup (a setup file, or
// the drive's own setup read afresh): one row a parameter, with the window's value and
// the other's; "No differences" when they agree. Not modal: the engineer keeps it open
// beside the setup window, and a new comparison replaces what it shows.
//
// Copyable: "Copy" puts the whole comparison on the clipboard as tab-separated text (a
// spreadsheet or a mail takes it as a table); Ctrl+C copies the rows selected.
class TCompareDialog : public QDialog {
 public:
  struct Row {
    QString Parameter;
    QString Window;
    QString Other;
  };

  explicit TCompareDialog(QWidget* parent = nullptr);

  // `heading`: what was compared with what; `otherCaption`: the caption of the third
  // column ("File", "Drive").
  void SetComparison(const QString& heading, const QString& otherCaption,
                     const std::vector<Row>& rows);

  // The comparison as Copy puts it on the clipboard: the heading, then the column
  // captions and the rows, tab-separated (or "No differences").
  [[nodiscard]] QString Text() const;
  // The selected rows the same way, without the heading.
  [[nodiscard]] QString SelectedText() const;

  // --- For the tests and pictures ------------------------------------------------------
  [[nodiscard]] QTableWidget* Table() const { return table_; }
  [[nodiscard]] QLabel* Heading() const { return heading_; }
  [[nodiscard]] QLabel* Outcome() const { return outcome_; }
  [[nodiscard]] QPushButton* CopyButton() const { return copy_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString RowsText(bool selectedOnly) const;
  void FitToContent();

  QLabel* heading_ = nullptr;
  QLabel* outcome_ = nullptr;
  QTableWidget* table_ = nullptr;
  QPushButton* copy_ = nullptr;
  QWidget* buttons_ = nullptr;
};
