// ui-monitor: the bus monitor window with a full ring (10,000 exchanges of a drive's
// traffic, some of them failed) and a filter set. Each update takes in a batch of new
// exchanges (what a busy line brings in 100 ms), drops as many old ones, filters them and
// repaints the table. Figures:
//   monitor-refresh       median time of one such update, repaint included
//   monitor-refresh-p99   its 99th percentile
//   monitor-filter        one change of the filter over the full ring, repaint included
// --shot FILE saves a picture of the window; --dark uses a dark palette.
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPalette>
#include <QStyleFactory>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/monitorwin.h"
#include "mbwire/mbframe.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbtap.h"

int UiMonitor(const std::vector<std::string>& args);

namespace {

const char* const kNames[] = {"ParU_Dc_BusV",  "ParU_MotorV",  "ParI_MotorA", "ParF_MotorHz",
                              "ParS_MotorRPM", "ParActualPos", "StateMotor",  "StatePosLoop",
                              "ParMotorIrA",   "CfgRefSource"};

// The traffic of a terminal with one drive: state reads, now and then a fault read, a
// write, a spoilt or missing answer.
vx::MBTapRecord Exchange(uint64_t n) {
  vx::MBTapRecord r;
  r.timeUs = 1765400000000000 + static_cast<int64_t>(n) * 50000;
  r.port = "COM1";
  const uint16_t first = static_cast<uint16_t>(n % 7 == 0 ? 40 : 10);
  std::vector<uint8_t> q{1, 0x03, 0, static_cast<uint8_t>(first), 0, 10};
  std::vector<uint8_t> a{1, 0x03, 20};
  for (int i = 0; i < 10; ++i) {
    a.push_back(static_cast<uint8_t>(n >> 8));
    a.push_back(static_cast<uint8_t>(n + static_cast<uint64_t>(i)));
  }
  if (n % 13 == 0) {
    q = {1, 0x06, 0, 20, 0, static_cast<uint8_t>(n)};
    a = q;
  }
  r.request = vx::EncodeRtu(q);
  r.answer = vx::EncodeRtu(a);
  r.silenceUs = 2100;
  r.roundTripUs = 14000;
  r.maxGapUs = 300;
  if (n % 97 == 0) {
    r.answer.back() ^= 0x55;
    r.result = vx::mbresult::kInvalidCrc;
  } else if (n % 101 == 0) {
    r.answer.clear();
    r.roundTripUs = r.maxGapUs = -1;
    r.result = vx::mbresult::kTimeout;
  }
  return r;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1,
                    static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

void UseDarkPalette() {
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette p;
  p.setColor(QPalette::Window, QColor(45, 45, 48));
  p.setColor(QPalette::WindowText, QColor(230, 230, 230));
  p.setColor(QPalette::Base, QColor(30, 30, 32));
  p.setColor(QPalette::AlternateBase, QColor(50, 50, 54));
  p.setColor(QPalette::Text, QColor(230, 230, 230));
  p.setColor(QPalette::Button, QColor(60, 60, 64));
  p.setColor(QPalette::ButtonText, QColor(230, 230, 230));
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
  p.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
  QApplication::setPalette(p);
}

}  // namespace

int UiMonitor(const std::vector<std::string>& args) {
  std::string shot;
  int batch = 10;
  int rounds = 200;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--shot" && i + 1 < args.size()) {
      shot = args[++i];
    } else if (args[i] == "--dark") {
      UseDarkPalette();
    } else if (args[i] == "--batch" && i + 1 < args.size()) {
      batch = std::max(1, std::atoi(args[++i].c_str()));
    } else if (args[i] == "--rounds" && i + 1 < args.size()) {
      rounds = std::max(1, std::atoi(args[++i].c_str()));
    } else {
      std::fprintf(stderr,
                   "ui-monitor: unknown argument %s (--shot FILE, --dark, --batch N, --rounds N)\n",
                   args[i].c_str());
      return 2;
    }
  }

  vx::MBFrameTap tap;
  TMonitorForm form(tap);
  form.SetNames([](uint8_t, uint16_t address) -> std::string {
    return address >= 10 && address < 50 ? kNames[address % 10] : std::string();
  });
  uint64_t n = 0;
  for (; n < tap.Capacity(); ++n) tap.Record(Exchange(n + 1));
  form.resize(1100, 520);
  form.show();
  form.SetPaused(true);  // the timer stays out of the measurement: updates are called here
  form.SetPaused(false);
  QApplication::processEvents();
  form.Update();
  // The filter an engineer hunting a value sets: one register by name.
  form.NameEdit->setText(QStringLiteral("ParI_MotorA"));
  form.SetPaused(true);
  QApplication::processEvents();
  std::printf("ui-monitor: %d rows, %d shown by the filter, batches of %d, %d rounds\n",
              form.Model()->rowCount(), form.Filter()->rowCount(), batch, rounds);

  std::vector<double> times, takeIn;
  times.reserve(static_cast<std::size_t>(rounds));
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < batch; ++i) tap.Record(Exchange(++n));
    QElapsedTimer t;
    t.start();
    form.SetPaused(false);  // takes the batch in, as the timer does
    takeIn.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    form.View()->viewport()->repaint();
    times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    form.SetPaused(true);
  }
  QElapsedTimer f;
  f.start();
  form.NameEdit->setText(QStringLiteral("ParU_Dc_BusV"));
  form.View()->viewport()->repaint();
  const double filterMs = static_cast<double>(f.nsecsElapsed()) / 1e6;

  std::printf("ui-monitor: of which taking the batch in (model, filter, scroll) %.3f ms\n",
              Percentile(takeIn, 0.5));
  std::printf("monitor-refresh: %.3f ms\n", Percentile(times, 0.5));
  std::printf("monitor-refresh-p99: %.3f ms\n", Percentile(times, 0.99));
  std::printf("monitor-filter: %.3f ms\n", filterMs);
  if (!shot.empty()) {
    form.SetPaused(false);
    form.NameEdit->clear();
    QApplication::processEvents();
    if (!form.grab().save(QString::fromStdString(shot))) {
      std::fprintf(stderr, "ui-monitor: cannot save %s\n", shot.c_str());
      return 1;
    }
  }
  return 0;
}
