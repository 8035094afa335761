#include "app/reportprinter.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <cmath>

#include "paramui/textcodec.h"

TkoPrintRtfDoc::TkoPrintRtfDoc(QObject* owner) : QObject(owner) {}

TkoPrintRtfDoc::~TkoPrintRtfDoc() {
  if (painter_ && painter_->isActive()) painter_->end();
}

QPrinter* TkoPrintRtfDoc::Printer() {
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return printer_.get();
}

bool TkoPrintRtfDoc::Execute(bool endDoc) {
  if (Doc == nullptr) return false;
  return PrintDoc(Title, Doc, endDoc);
}

bool TkoPrintRtfDoc::PrintDoc(const QString& title, QTextDocument* doc, bool endDoc) {
  lastError_.clear();
  pages_ = 0;
  if (doc == nullptr) return false;
  QPrinter* printer = Printer();
  const bool continuing = painter_ && painter_->isActive();
  if (!continuing) {
    const bool confirmed = OnPrinterDialog ? OnPrinterDialog(printer) : [&] {
      QPrintDialog dialog(printer);
      return dialog.exec() == QDialog::Accepted;
    }();
    if (!confirmed) return false;
    printer->setDocName(title);
    // Origin at the paper's corner: the margins are measured from the paper's edges,
    // whatever part of the sheet the printer can reach.
    printer->setFullPage(true);
    painter_ = std::make_unique<QPainter>();
    if (!painter_->begin(printer)) {
      painter_.reset();
      lastError_ = QStringLiteral("The printer cannot start the print job.");
      if (printer->outputFormat() == QPrinter::PdfFormat)
        lastError_ += QStringLiteral(" Cannot write ") + printer->outputFileName() + ".";
      return false;
    }
  } else {
    printer->newPage();
  }

  const QRectF paper = printer->paperRect(QPrinter::DevicePixel);
  const double dpiX = printer->logicalDpiX();
  const double dpiY = printer->logicalDpiY();
  const double twipsPerInch = std::trunc(PixToTwips) > 0 ? std::trunc(PixToTwips) : 1440;
  // A margin in twips (truncated, as the page geometry is kept in whole twips), then in
  // printer pixels.
  auto margin = [&](double cm, double dpi) {
    return std::trunc(cm * twipsPerInch / 2.54) * dpi / twipsPerInch;
  };
  const QRectF text(
      QPointF(margin(L_Margin, dpiX), margin(T_Margin, dpiY)),
      QPointF(paper.width() - margin(R_Margin, dpiX), paper.height() - margin(B_Margin, dpiY)));
  auto finish = [&] {
    if (endDoc) {
      painter_->end();
      painter_.reset();
    }
  };
  if (text.width() < 1 || text.height() < 1) {
    lastError_ = QStringLiteral("The margins leave no room on the page.");
    finish();
    return false;
  }

  // Laid out for the printer on a copy, so that the caller's document keeps its layout.
  std::unique_ptr<QTextDocument> copy(doc->clone());
  copy->documentLayout()->setPaintDevice(printer);
  copy->setPageSize(text.size());
  const int pages = copy->pageCount();
  for (int page = 0; page < pages; ++page) {
    if (page > 0) printer->newPage();
    painter_->save();
    painter_->translate(text.left(), text.top() - page * text.height());
    copy->drawContents(painter_.get(),
                       QRectF(0, page * text.height(), text.width(), text.height()));
    painter_->restore();
    ++pages_;
  }
  finish();
  return true;
}

namespace vx {

std::unique_ptr<QTextDocument> MakeReportDocument(const std::vector<ReportLine>& lines) {
  auto doc = std::make_unique<QTextDocument>();
  QFont base(QStringLiteral("Courier New"), 8);
  base.setStyleHint(QFont::TypeWriter);
  base.setFixedPitch(true);
  doc->setDefaultFont(base);
  doc->setDocumentMargin(0);
  QTextCursor cursor(doc.get());
  QTextBlockFormat block;
  block.setTopMargin(0);
  block.setBottomMargin(0);
  bool first = true;
  for (const ReportLine& line : lines) {
    QTextCharFormat format;
    QFont font(base);
    font.setPointSize(line.PointSize);
    font.setBold(line.Bold);
    font.setItalic(line.Italic);
    format.setFont(font);
    if (first)
      cursor.setBlockFormat(block);
    else
      cursor.insertBlock(block, format);
    first = false;
    cursor.setCharFormat(format);
    cursor.insertText(ToQString(line.Text), format);
  }
  return doc;
}

}  // namespace vx
