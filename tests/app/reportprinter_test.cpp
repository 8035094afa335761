// The printed setup report: its lines (only visible, enabled parameters; pages and groups
// without lines leave no heading) and printing it to a PDF file.
#include "app/reportprinter.h"

#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "params/parencoded.h"
#include "paramui/uierror.h"
#include "regmodel/versionrecord.h"
#include "setupkit.h"

namespace {

using vxtest::ScratchDir;
using vxtest::SetupWindowTest;

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Heading(const std::string& caption) {
  return (" " + caption + " " + std::string(100, '-')).substr(0, 100);
}

std::string ParLine(const TkoParValue* p) {
  std::vector<std::string> l;
  p->Report(&l);
  return l.empty() ? std::string() : l.front();
}

class ReportTest : public SetupWindowTest {
 protected:
  ReportTest() {
    previousHandler = vx::SetUiErrorHandler([this](const std::string& m) { errors.push_back(m); });
  }
  ~ReportTest() override { vx::SetUiErrorHandler(previousHandler); }
  // Answers the printer dialog with a PDF file.
  void PrintTo(const std::string& file) {
    form.AskPrinter = [file, this](QPrinter* printer) {
      ++dialogs_shown;
      printer->setOutputFormat(QPrinter::PdfFormat);
      printer->setOutputFileName(QString::fromStdString(file));
      return true;
    };
  }

  ScratchDir dir{"report"};
  std::vector<std::string> errors;
  vx::UiErrorHandler previousHandler;
  int dialogs_shown = 0;
};

TEST_F(ReportTest, TheReportFramesTheDriveAndItsPages) {
  form.BuildPages();
  form.RefreshData();
  const std::vector<std::string> r = form.ReportLines();
  const std::string bar(100, '_');
  ASSERT_GE(r.size(), 12u);
  EXPECT_EQ(r[0], bar);
  EXPECT_EQ(r[1], " VX310 Configuration Terminal 2.20");
  EXPECT_EQ(r[2], bar);
  EXPECT_EQ(r[3].substr(0, 22), "\tReport date          ");
  EXPECT_EQ(r[4], "\tFirmware version     " + D().GetVersion().ToString());
  EXPECT_EQ(r[5], "\tDescription          VX310 stepper drive, firmware 2.xx");
  EXPECT_EQ(r[6], bar);
  EXPECT_EQ(r[7], "");
  EXPECT_EQ(r[8], Heading("Drive Properties"));
  EXPECT_EQ(r.back(), bar);
  EXPECT_EQ(r[8].size(), 100u);
  // The property lines come from the drive.
  std::vector<std::string> props;
  D().ReportDevice(&props);
  ASSERT_FALSE(props.empty());
  EXPECT_EQ(
      std::vector<std::string>(r.begin() + 9, r.begin() + 9 + static_cast<long>(props.size())),
      props);
  EXPECT_TRUE(Has(r, Heading("Options")));
  EXPECT_TRUE(Has(r, ParLine(D().ParMotorStepRev)));
  EXPECT_TRUE(Has(r, ParLine(D().CfgRefSource)));
}

TEST_F(ReportTest, OnlyVisibleEnabledParametersArePrinted) {
  TkoDeviceVX310& d = D();
  struct Case {
    const char* name;
    int refSource;
    bool positionMode, posLimits;
    std::vector<std::string> present, absent;
  } cases[] = {
      // Without a reference source the whole zeroing page is greyed: no heading at all.
      {"idle drive",
       0,
       false,
       false,
       {},
       {Heading("Zeroing"), ParLine(d.ParZeroTimeout),
        "\tPosition PID regulator:", "\tPosition limits:", ParLine(d.ParPosWindow)}},
      {"positioning with limits",
       1,
       true,
       true,
       {Heading("Zeroing"), ParLine(d.ParZeroTimeout), "\tPosition PID regulator:",
        ParLine(d.ParPosWindow), "\tPosition limits:", ParLine(d.ParPosMaxLimit)},
       {ParLine(d.CfgRampStopMode)}},
  };
  form.BuildPages();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    d.CfgRefSource->SetField(c.refSource);
    d.CfgPositionMode->SetBool(c.positionMode);
    d.CfgUsePosLimits->SetBool(c.posLimits);
    form.RefreshData();
    const std::vector<std::string> r = form.ReportLines();
    for (const std::string& line : c.present) EXPECT_TRUE(Has(r, line)) << line;
    for (const std::string& line : c.absent) EXPECT_FALSE(Has(r, line)) << line;
  }
  // A group heading is followed by its lines.
  const std::vector<std::string> r = form.ReportLines();
  const auto group = std::find(r.begin(), r.end(), "\tPosition limits:");
  ASSERT_NE(group, r.end());
  EXPECT_EQ(*(group + 1), ParLine(d.ParPosMaxLimit));
  EXPECT_EQ(*(group + 2), ParLine(d.ParPosMinLimit));
}

TEST_F(ReportTest, TheReportIsPrintedToAPdfFile) {
  form.BuildPages();
  form.RefreshData();
  const std::string pdf = dir.File("report.pdf");
  PrintTo(pdf);
  form.acPrint->trigger();
  EXPECT_EQ(dialogs_shown, 1);
  EXPECT_EQ(log, (std::vector<std::string>{"Printing drive setup...", "Drive setup printed."}));
  EXPECT_TRUE(errors.empty());
  ASSERT_TRUE(std::filesystem::exists(pdf));
  EXPECT_EQ(dir.Read("report.pdf").substr(0, 5), "%PDF-");
  EXPECT_GE(form.koPrintDoc()->PagesPrinted(), 1);
  EXPECT_EQ(form.koPrintDoc()->Printer()->docName(), QStringLiteral("VX310_CfgTrm_Report"));
  EXPECT_EQ(form.koPrintDoc()->Doc, nullptr) << "the document is discarded after printing";
  // For a person's eye: the report beside the pictures of the pages.
  const QByteArray pictures = qgetenv("VX_SETUPWIN_PNG");
  if (!pictures.isEmpty())
    std::filesystem::copy_file(pdf, pictures.toStdString() + "/setup_report.pdf",
                               std::filesystem::copy_options::overwrite_existing);
}

TEST_F(ReportTest, ACancelledOrFailedPrintSaysSo) {
  form.BuildPages();
  form.AskPrinter = [](QPrinter*) { return false; };
  form.acPrint->trigger();
  EXPECT_EQ(log, std::vector<std::string>{"Printing drive setup..."});

  log.clear();
  PrintTo(dir.File("no_such_folder/report.pdf"));
  form.acPrint->trigger();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "Printing drive setup...");
  EXPECT_EQ(log[1].rfind("Printing failed: ", 0), 0u) << log[1];
}

TEST(PrintRtfDocTest, PagesFollowTheDocumentAndTheMargins) {
  vxtest::App();
  ScratchDir dir("printrtf");
  TkoPrintRtfDoc printer;
  EXPECT_FALSE(printer.Execute(true)) << "nothing to print without a document";
  int dialogs = 0;
  printer.OnPrinterDialog = [&](QPrinter* p) {
    ++dialogs;
    p->setOutputFormat(QPrinter::PdfFormat);
    p->setOutputFileName(QString::fromStdString(dir.File("long.pdf")));
    p->setPageSize(QPageSize(QPageSize::A4));
    return true;
  };
  std::vector<vx::ReportLine> lines;
  for (int i = 0; i < 300; ++i) lines.push_back({"line " + std::to_string(i), 8, i == 0, false});
  std::unique_ptr<QTextDocument> doc = vx::MakeReportDocument(lines);
  EXPECT_EQ(doc->blockCount(), 300);
  EXPECT_TRUE(doc->firstBlock().begin().fragment().charFormat().font().bold());
  EXPECT_FALSE(doc->lastBlock().begin().fragment().charFormat().font().bold());
  EXPECT_EQ(doc->lastBlock().text(), QStringLiteral("line 299"));
  printer.Doc = doc.get();
  ASSERT_TRUE(printer.Execute(true)) << printer.LastError().toStdString();
  const int pages = printer.PagesPrinted();
  // 300 lines of 8 points do not fit one A4 page.
  EXPECT_GE(pages, 2);

  // Larger margins leave less room: at least as many pages.
  printer.T_Margin = 8;
  printer.B_Margin = 8;
  ASSERT_TRUE(printer.Execute(true));
  EXPECT_GT(printer.PagesPrinted(), pages);

  // A job left open takes the next document on a new page, without asking again.
  printer.T_Margin = 0.5;
  printer.B_Margin = 0.5;
  std::unique_ptr<QTextDocument> shortDoc = vx::MakeReportDocument({{"one line", 8, false, false}});
  EXPECT_TRUE(printer.PrintDoc("first", shortDoc.get(), false));
  EXPECT_TRUE(printer.PrintDoc("second", shortDoc.get(), true));
  EXPECT_EQ(dialogs, 3);
  EXPECT_EQ(printer.PagesPrinted(), 1);
  EXPECT_EQ(dir.Read("long.pdf").substr(0, 5), "%PDF-");

  // Margins wider than the sheet: nothing printed, and why.
  printer.L_Margin = 15;
  printer.R_Margin = 15;
  EXPECT_FALSE(printer.Execute(true));
  EXPECT_FALSE(printer.LastError().isEmpty());
  EXPECT_EQ(dialogs, 4);
}

}  // namespace
