#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QPainter;
class QPrinter;
class QTextDocument;

// Prints a rich-text document page by page on a printer, inside margins given in
// centimetres from the paper's edges. The printer dialog is a hook so that tests and
// batch use can print to a PDF file without a person.
class TkoPrintRtfDoc : public QObject {
 public:
  explicit TkoPrintRtfDoc(QObject* owner = nullptr);
  ~TkoPrintRtfDoc() override;

  double PixToTwips = 1440;
  double L_Margin = 0.5;
  double R_Margin = 0.5;
  double T_Margin = 0.5;
  double B_Margin = 0.5;
  QString Title = "TkoPrintRtfDoc Execute";
  QTextDocument* Doc = nullptr;  // not owned

  // Configures the printer as the engineer chooses; false when cancelled. Empty: the
  // toolkit's print dialog.
  std::function<bool(QPrinter* printer)> OnPrinterDialog;
  // The printer used; created on first use, owned.
  QPrinter* Printer();

  // False without a document; otherwise PrintDoc (Title, Doc, endDoc).
  bool Execute(bool endDoc);
  // True when the document was printed; false when the printer dialog was cancelled or
  // the job could not start (LastError then says why). Without endDoc the job stays
  // open and the next document continues it on a new page, without a dialog.
  bool PrintDoc(const QString& title, QTextDocument* doc, bool endDoc);
  // Why the last PrintDoc printed nothing although the dialog was confirmed; empty
  // otherwise.
  const QString& LastError() const { return lastError_; }
  // Pages printed by the last PrintDoc.
  int PagesPrinted() const { return pages_; }

 private:
  std::unique_ptr<QPrinter> printer_;
  std::unique_ptr<QPainter> painter_;  // an open job between PrintDoc calls
  QString lastError_;
  int pages_ = 0;
};

namespace vx {

// One line of a printed report with its character attributes (all in Courier New).
struct ReportLine {
  std::string Text;  // Windows-1252
  int PointSize = 8;
  bool Bold = false;
  bool Italic = false;
};

// A document of the lines, one paragraph each, owned by the caller.
std::unique_ptr<QTextDocument> MakeReportDocument(const std::vector<ReportLine>& lines);

}  // namespace vx
