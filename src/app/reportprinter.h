#pragma once
#include <QObject>
#include <QString>
#include <functional>

class QPrinter;
class QTextDocument;

// Prints a rich-text document page by page on a printer, inside margins given in
// centimetres. The printer dialog is a hook so that tests and batch use can print to a
// PDF file without a person.
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

  // Shows the printer dialog on the printer given (a default printer when empty); false
  // when cancelled. Empty: the toolkit's print dialog.
  std::function<bool(QPrinter* printer)> OnPrinterDialog;
  // The printer used; created on first use, owned.
  QPrinter* Printer();

  // False without a document; otherwise PrintDoc (Title, Doc, endDoc).
  bool Execute(bool endDoc);
  // True when the document was printed, false when the printer dialog was cancelled or
  // the printer could not start the job.
  bool PrintDoc(const QString& title, QTextDocument* doc, bool endDoc);

 private:
  QPrinter* printer_ = nullptr;
};
