// The bus monitor on the whole terminal, against the drive simulator on a pseudo-terminal
// whose answers are spoilt now and then: the spoilt exchanges show as errors with their
// bytes, the drive's register names come from its data model, the filters pick rows, and
// the exports read back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/mainwin.h"
#include "app/monitorwin.h"
#include "app/startup.h"
#include "apptest.h"
#include "mbwire/mbframe.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbtap.h"
#include "mbwire/mbtest_hex.h"
#include "platform/queuedispatcher.h"
#include "sim/serveddrive.h"

namespace {

using vxtest::Line;

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream f(path);
  std::vector<std::string> out;
  for (std::string l; std::getline(f, l);) out.push_back(l);
  return out;
}

class MonitorOnSim : public ::testing::Test {
 protected:
  void SetUp() override {
    vx::MBFrameTap::Global().Clear();
    vx::SimServerOptions options;
    options.corruptEvery = 4;
    sim = std::make_unique<vxtest::ServedDrive>(Line::kRtu, options, "monitor");
    std::filesystem::copy_file(vxtest::kVx310Model, dir.File("VX310v220.par"));
    dir.Write("VX310_ConfigTerm.ini", "[Ports]\r\nCOM1=" + sim->Link() + "\r\n");
    windows = std::make_unique<TApplicationWindows>(dir.Path());
    windows->MainForm()->show();
    monitor = windows->MonitorForm();
  }
  void TearDown() override {
    windows.reset();
    sim.reset();
    vx::ResetComPortPaths();
  }
  // Pumps the user-interface work, the monitor taking in what the tap recorded.
  bool Pump(const std::function<bool()>& done) {
    return ui.PumpUntil(
        [&] {
          monitor->Update();
          return done();
        },
        std::chrono::seconds(60));
  }
  int CountRows(const std::function<bool(const TMonitorModel::Row&)>& pick) const {
    int n = 0;
    for (int r = 0; r < monitor->Model()->rowCount(); ++r) n += pick(monitor->Model()->At(r));
    return n;
  }

  bool appReady = (vxtest::App(), true);
  vxtest::ScratchDir dir{"monitor"};
  vxtest::FakeDialogs dialogs;
  vx::QueueDispatcher ui;
  vx::ScopedDispatcher scope{ui};
  std::unique_ptr<vxtest::ServedDrive> sim;
  std::unique_ptr<TApplicationWindows> windows;
  TMonitorForm* monitor = nullptr;
};

TEST_F(MonitorOnSim, SpoiltAnswersShowAsErrorsWithTheirBytesAndExportsReadBack) {
  TMainForm* form = windows->MainForm();
  EXPECT_EQ(form->acBusMonitor->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
  form->acBusMonitor->trigger();
  ASSERT_TRUE(monitor->isVisible());
  EXPECT_TRUE(form->acBusMonitor->isChecked());
  form->acOpenConnection->trigger();

  const auto crcError = [](const TMonitorModel::Row& r) {
    return r.Decoded.failure == vx::MBFailure::kCrc;
  };
  const auto named = [](const TMonitorModel::Row& r) {
    return r.Registers.contains(QStringLiteral("DcBusVolt"));
  };
  ASSERT_TRUE(Pump([&] { return CountRows(crcError) >= 3 && CountRows(named) >= 1; }))
      << monitor->Model()->rowCount() << " rows, " << CountRows(crcError) << " CRC errors, "
      << CountRows(named) << " named; first: "
      << monitor->Model()->TraceLine(monitor->Model()->rowCount() / 2).toStdString();

  for (int r = 0; r < monitor->Model()->rowCount(); ++r) {
    const TMonitorModel::Row& row = monitor->Model()->At(r);
    if (!crcError(row)) continue;
    SCOPED_TRACE(row.Answer.toStdString());
    EXPECT_EQ(row.Result, QStringLiteral("CRC error"));
    EXPECT_EQ(row.Record.port, "COM1");
    ASSERT_GE(row.Record.answer.size(), 4u);
    EXPECT_FALSE(vx::RtuCrcOk(row.Record.answer)) << "the bytes as spoilt on the line";
    EXPECT_TRUE(vx::RtuCrcOk(row.Record.request));
    EXPECT_EQ(row.Answer.toStdString(), vx::MBHex(row.Record.answer));
    EXPECT_TRUE(row.Values.isEmpty()) << "nothing is read from a spoilt answer";
    const QModelIndex result = monitor->Model()->index(r, TMonitorModel::colResult);
    EXPECT_TRUE(monitor->Model()->data(result, Qt::ForegroundRole).isValid())
        << "errors are drawn in their own colour";
  }
  // The good reads carry their values and the timing of the line.
  const int goodReads = CountRows([](const TMonitorModel::Row& r) {
    return !r.Decoded.IsError() && r.Decoded.function == 0x03 && !r.Decoded.values.empty() &&
           r.Record.roundTripUs > 0 && r.Record.maxGapUs >= 0;
  });
  EXPECT_GT(goodReads, 0);

  // Filters: errors only; then a register name.
  monitor->ErrorsOnly->setChecked(true);
  const int shownErrors = monitor->Filter()->rowCount();
  EXPECT_GE(shownErrors, 3);
  for (int r = 0; r < shownErrors; ++r)
    EXPECT_TRUE(monitor->Model()
                    ->At(monitor->Filter()->mapToSource(monitor->Filter()->index(r, 0)).row())
                    .Decoded.IsError());
  monitor->ErrorsOnly->setChecked(false);
  monitor->NameEdit->setText(QStringLiteral("dcbusvolt"));
  ASSERT_GE(monitor->Filter()->rowCount(), 1);
  for (int r = 0; r < monitor->Filter()->rowCount(); ++r)
    EXPECT_TRUE(named(monitor->Model()->At(
        monitor->Filter()->mapToSource(monitor->Filter()->index(r, 0)).row())));
  monitor->NameEdit->clear();
  monitor->FunctionBox->setCurrentIndex(monitor->FunctionBox->findData(0x41));
  for (int r = 0; r < monitor->Filter()->rowCount(); ++r)
    EXPECT_EQ(monitor->Model()
                  ->At(monitor->Filter()->mapToSource(monitor->Filter()->index(r, 0)).row())
                  .Decoded.function,
              0x41);
  monitor->FunctionBox->setCurrentIndex(0);

  // Pausing freezes the table while the line goes on being recorded.
  monitor->SetPaused(true);
  const int frozen = monitor->Model()->rowCount();
  const uint64_t seq = vx::MBFrameTap::Global().LastSeq();
  ASSERT_TRUE(Pump([&] { return vx::MBFrameTap::Global().LastSeq() >= seq + 5; }));
  EXPECT_EQ(monitor->Model()->rowCount(), frozen);
  monitor->SetPaused(false);
  EXPECT_GT(monitor->Model()->rowCount(), frozen);

  // The whole ring to CSV, read back row by row.
  const std::string csv = dir.File("trace.csv");
  ASSERT_EQ(monitor->ExportCsv(QString::fromStdString(csv)), QString());
  const std::vector<std::string> lines = Lines(csv);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(monitor->Model()->rowCount()) + 1);
  EXPECT_EQ(lines[0],
            "Time,Dir,Result,Slave,Function,Addresses,Registers,Values,Request,Answer,"
            "Silence ms,Round trip ms,Gap ms,Port");
  int csvErrors = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const TMonitorModel::Row& row = monitor->Model()->At(static_cast<int>(i - 1));
    EXPECT_EQ(QString::fromStdString(lines[i]), monitor->Model()->CsvLine(static_cast<int>(i - 1)));
    if (lines[i].find(",CRC error,") != std::string::npos) {
      ++csvErrors;
      EXPECT_NE(lines[i].find(row.Answer.toStdString()), std::string::npos);
    }
  }
  EXPECT_EQ(csvErrors, CountRows(crcError));

  const std::string trace = dir.File("trace.txt");
  ASSERT_EQ(monitor->ExportTrace(QString::fromStdString(trace)), QString());
  std::ifstream t(trace);
  std::stringstream text;
  text << t.rdbuf();
  EXPECT_NE(text.str().find("  RX " + monitor->Model()->At(0).Answer.toStdString()),
            std::string::npos);
  EXPECT_NE(text.str().find(": CRC error"), std::string::npos);

  // Copy: the selected rows, tab-separated, in table order.
  monitor->View()->selectRow(0);
  monitor->View()->selectionModel()->select(
      monitor->Filter()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const QString copied = monitor->CopySelection();
  EXPECT_EQ(copied,
            monitor->Model()->TabLine(0) + QLatin1Char('\n') + monitor->Model()->TabLine(2));

  // An export that cannot be written says why and leaves nothing behind.
  const QString bad = monitor->ExportCsv(QString::fromStdString(dir.File("no/such/dir/t.csv")));
  EXPECT_FALSE(bad.isEmpty());

  form->acBusMonitor->trigger();
  EXPECT_FALSE(monitor->isVisible());
  EXPECT_FALSE(vx::MBFrameTap::Global().Enabled()) << "nobody watches: nothing is recorded";
}

// Listen-only: the window opens a line without sending and shows another master's
// exchanges, told request from answer.
TEST(MonitorListening, ShowsAnotherMastersTraffic) {
  vxtest::App();
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  vx::SetComPortPath(3, ptsname(master));
  vx::MBFrameTap tap;
  TMonitorForm monitor(tap);
  monitor.show();
  ASSERT_TRUE(monitor.StartListening(3, 19200, vx::MBParity::kNone));
  EXPECT_TRUE(monitor.ListenButton->isChecked());
  EXPECT_FALSE(monitor.ListenPort->isEnabled());

  using vxtest::Hex;
  std::vector<uint8_t> traffic;
  for (const auto& f : {vx::EncodeRtu(Hex("02 10 00 30 00 02 04 00 01 00 02")),
                        vx::EncodeRtu(Hex("02 10 00 30 00 02")),
                        vx::EncodeRtu(Hex("02 03 00 30 00 01")), vx::EncodeRtu(Hex("02 83 02"))})
    traffic.insert(traffic.end(), f.begin(), f.end());
  ASSERT_EQ(write(master, traffic.data(), traffic.size()), static_cast<ssize_t>(traffic.size()));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        monitor.Update();
        return monitor.Model()->rowCount() >= 2;
      },
      60000));
  ASSERT_EQ(monitor.Model()->rowCount(), 2);
  const TMonitorModel::Row& write = monitor.Model()->At(0);
  EXPECT_EQ(write.Dir, QStringLiteral("heard Q>A"));
  EXPECT_EQ(write.Record.port, "COM3");
  EXPECT_EQ(write.Decoded.slave, 2);
  EXPECT_EQ(write.Addresses, QStringLiteral("48-49"));
  EXPECT_EQ(write.Values, QStringLiteral("1 2"));
  EXPECT_EQ(write.Result, QStringLiteral("OK"));
  const TMonitorModel::Row& refused = monitor.Model()->At(1);
  EXPECT_EQ(refused.Result, QStringLiteral("exception 02"));
  EXPECT_EQ(refused.Answer.toStdString(), vxtest::ToHex(vx::EncodeRtu(Hex("02 83 02"))));

  monitor.StopListening();
  EXPECT_FALSE(monitor.Listening());
  EXPECT_FALSE(monitor.ListenButton->isChecked());
  close(master);
  vx::ResetComPortPaths();
}

// A port that cannot be opened is said so, and nothing listens.
TEST(MonitorListening, APortThatCannotBeOpenedIsRefused) {
  vxtest::App();
  vx::SetComPortPath(4, "/nonexistent/tty");
  vx::MBFrameTap tap;
  TMonitorForm monitor(tap);
  EXPECT_FALSE(monitor.StartListening(4, 19200, vx::MBParity::kEven));
  EXPECT_FALSE(monitor.Listening());
  vx::ResetComPortPaths();
}

}  // namespace
