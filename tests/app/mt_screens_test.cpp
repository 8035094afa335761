// Every window of the terminal connected to the drive simulator, under a light and a dark
// palette: each fits the screen it is shown on, every row of the parameter grids and state
// lists reads (text against its row, measured on the drawn pixels), and the oscilloscope
// draws at the screen's pixel density. The plain run uses the offscreen screen; the
// ctest entries Screens.* run the same on Xvfb screens of 1280x800 and of 1600x1000 at
// scale 2. With VX_SHOT_DIR set the windows are saved there as pictures.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <QtMath>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/controlwin.h"
#include "app/mainwin.h"
#include "app/monitorwin.h"
#include "app/scopewin.h"
#include "app/setupwin.h"
#include "app/startup.h"
#include "apptest.h"
#include "graph/graph.h"
#include "graph/graphtraccia.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"
#include "params/parvalue.h"
#include "paramui/contrast.h"
#include "paramui/parrows.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"
#include "terminalsim.h"

namespace {

QPalette DarkPalette() {
  QPalette p;
  const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, QColor(60, 60, 40));
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, Qt::red);
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, Qt::black);
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(128, 128, 128));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(128, 128, 128));
  return p;
}

// The contrast of a drawn text against its background in a cell: the background is the
// cell's commonest colour, the text its colour farthest from it in luminance (the cores of
// the glyphs, past their smoothed edges). 0 when the cell shows nothing but background.
double DrawnContrast(const QImage& image, const QRect& cell) {
  std::map<QRgb, int> count;
  const QRect r = cell.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) ++count[image.pixel(x, y)];
  if (count.size() < 2) return 0.0;
  QRgb background = count.begin()->first;
  for (const auto& [c, n] : count)
    if (n > count[background]) background = c;
  double best = 0.0;
  for (const auto& [c, n] : count)
    best = std::max(best, vx::ContrastRatio(QColor(c), QColor(background)));
  return best;
}

class ScreensOnSim : public vxtest::TerminalOnSim<::testing::TestWithParam<const char*>> {
 protected:
  ScreensOnSim() : TerminalOnSim("screens") {}
  void SetUp() override {
    if (std::string(GetParam()) == "dark") {
      QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
      QApplication::setPalette(DarkPalette());
    }
    StartTerminal();
  }
  void TearDown() override {
    StopTerminal();
    QApplication::setPalette(QApplication::style()->standardPalette());
  }
  std::string Name(const char* window) const {
    const double scale = windows->MainForm()->devicePixelRatioF();
    return std::string(window) + "_" + GetParam() + (scale > 1.0 ? "_2x" : "");
  }
  // Every row of the list whose parameter is enabled reads against its row (greyed rows
  // are meant to recede). Answers the number of cells checked.
  int ExpectRowsRead(QTreeWidget* list, const std::string& where) {
    QApplication::sendPostedEvents();
    const QImage image = list->viewport()->grab().toImage();
    const double dpr = image.devicePixelRatio();
    int rows = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = list->topLevelItem(i);
      const TkoParValue* par = vx::RowPar(item);
      if (par == nullptr || !par->Enabled || !par->Visible) continue;
      for (int column = 0; column < list->columnCount(); ++column) {
        if (item->text(column).trimmed().isEmpty()) continue;
        const QRect cell = list->visualItemRect(item);
        const QRect x(list->header()->sectionViewportPosition(column), cell.top(),
                      list->header()->sectionSize(column), cell.height());
        if (x.right() < 0 || x.left() >= list->viewport()->width()) continue;
        const QRect px(qRound(x.left() * dpr), qRound(x.top() * dpr), qRound(x.width() * dpr),
                       qRound(x.height() * dpr));
        // Inside the cell's grid lines, which are no text.
        const int inset = qCeil(2 * dpr);
        // A text drawn in its background's colour shows as a plain cell: contrast 0.
        const double contrast = DrawnContrast(image, px.adjusted(inset, inset, -inset, -inset));
        ++rows;
        EXPECT_GE(contrast, vx::kMinTextContrast)
            << where << " row " << i << " column " << column << " \""
            << item->text(column).toStdString() << "\"";
      }
    }
    return rows;
  }
  void ExpectFitsTheScreen(QWidget* window) {
    const QRect room = window->screen()->availableGeometry();
    const QSize size = window->frameGeometry().size();
    EXPECT_LE(size.width(), room.width()) << window->windowTitle().toStdString();
    EXPECT_LE(size.height(), room.height()) << window->windowTitle().toStdString();
  }
};

TEST_P(ScreensOnSim, EveryWindowFitsAndReads) {
  TMainForm* main = windows->MainForm();
  TSetupForm* setup = windows->SetupForm();
  TControlForm* control = windows->ControlForm();
  TScopeForm* scopeForm = windows->ScopeForm();
  main->acOpenConnection->trigger();
  ASSERT_TRUE(Pump([&] { return setup->isVisible(); }));
  main->acRemoteCtrl->trigger();
  main->acViewScope->trigger();
  ASSERT_TRUE(Pump([&] {
    return scopeForm->VoltTrace()->Count() >= 5 &&
           main->Controls().lvActState->topLevelItemCount() > 0;
  }));
  for (QWidget* w : {static_cast<QWidget*>(main), static_cast<QWidget*>(setup),
                     static_cast<QWidget*>(control), static_cast<QWidget*>(scopeForm)}) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    ExpectFitsTheScreen(w);
  }

  EXPECT_GT(ExpectRowsRead(main->Controls().lvHwInfo, "hardware list"), 0);
  EXPECT_GT(ExpectRowsRead(main->Controls().lvActState, "state list"), 0);
  EXPECT_GT(ExpectRowsRead(control->lvControl(), "remote control list"), 0);
  QTabWidget* pages = setup->Pages();
  int setupCells = 0;
  for (int i = 0; i < pages->count(); ++i) {
    pages->setCurrentIndex(i);
    const std::string page = pages->tabText(i).toStdString();
    for (QTreeWidget* list : pages->widget(i)->findChildren<QTreeWidget*>())
      setupCells += ExpectRowsRead(list, "setup page " + page);
    vxtest::SaveShot(*setup, (Name("setup") + "_" + std::to_string(i)).c_str());
  }
  EXPECT_GT(setupCells, 0);
  pages->setCurrentIndex(0);

  // The oscilloscope is drawn at the screen's own pixel density, not enlarged.
  scopeForm->update();
  QApplication::sendPostedEvents();
  scopeForm->repaint();
  const QImage& bitmap = scopeForm->koGraph()->Bitmap();
  EXPECT_DOUBLE_EQ(bitmap.devicePixelRatio(), scopeForm->devicePixelRatioF());
  EXPECT_EQ(bitmap.size(), scopeForm->size() * scopeForm->devicePixelRatioF());

  // The message log keeps its blue tint but writes in the palette's text colour, on a
  // background that text reads on: under a dark palette no light panel with dark lines.
  const QPalette log = main->Controls().Memo->palette();
  EXPECT_EQ(log.color(QPalette::Text), QApplication::palette().color(QPalette::Text));
  EXPECT_GE(vx::ContrastRatio(log.color(QPalette::Base), log.color(QPalette::Text)),
            vx::kMinTextContrast);
  EXPECT_GT(log.color(QPalette::Base).blue(), log.color(QPalette::Base).red()) << "tinted blue";
  vxtest::SaveShot(*main, Name("main").c_str());
  vxtest::SaveShot(*control, Name("control").c_str());
  vxtest::SaveShot(*scopeForm, Name("scope").c_str());

  // The bus monitor: every visible cell of its table reads, the failed exchanges' red
  // included.
  TMonitorForm* monitor = windows->MonitorForm();
  sim->SetLineFaults(0, 3, false);
  main->acBusMonitor->trigger();
  ASSERT_TRUE(Pump([&] {
    monitor->Update();
    int errors = 0;
    for (int r = 0; r < monitor->Model()->rowCount(); ++r)
      errors += monitor->Model()->At(r).Decoded.IsError();
    return errors >= 3 && monitor->Model()->rowCount() >= 30;
  }));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(monitor));
  ExpectFitsTheScreen(monitor);
  QApplication::sendPostedEvents();
  QTableView* view = monitor->View();
  const QImage image = view->viewport()->grab().toImage();
  const double dpr = image.devicePixelRatio();
  int cells = 0;
  for (int row = 0; row < view->model()->rowCount(); ++row) {
    for (int column : {TMonitorModel::colFunction, TMonitorModel::colResult}) {
      const QRect x = view->visualRect(view->model()->index(row, column));
      // Cells wholly in sight only.
      if (!x.isValid() || !view->viewport()->rect().contains(x)) continue;
      const QRect px(qRound(x.left() * dpr), qRound(x.top() * dpr), qRound(x.width() * dpr),
                     qRound(x.height() * dpr));
      const int inset = qCeil(2 * dpr);
      ++cells;
      EXPECT_GE(DrawnContrast(image, px.adjusted(inset, inset, -inset, -inset)),
                vx::kMinTextContrast)
          << "monitor row " << row << " column " << column;
    }
  }
  EXPECT_GT(cells, 10);
  vxtest::SaveShot(*monitor, Name("monitor").c_str());
}

INSTANTIATE_TEST_SUITE_P(Palettes, ScreensOnSim, ::testing::Values("light", "dark"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
