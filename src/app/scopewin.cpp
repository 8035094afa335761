#include "app/scopewin.h"

#include <QBuffer>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSvgGenerator>
#include <QWindow>
#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "app/appdialogs.h"
#include "config/inifile.h"
#include "devices/vx310.h"
#include "paramui/contrast.h"
#include "platform/atomicfile.h"
#include "regmodel/numberformat.h"

namespace {

constexpr const char* kSection = "ScopeForm";
constexpr double kSecond = 1.0 / 86400;

const QColor kSilver(192, 192, 192);
const QColor kGray(128, 128, 128);
const QColor kBlue(0, 0, 255);
const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kMagenta(255, 0, 255);
// Markers A and B: dark enough for a white value on them, apart from every trace colour.
const QColor kMarkerColor[2] = {QColor(176, 80, 0), QColor(0, 110, 110)};
const char* const kMarkerName[2] = {"A", "B"};

// Samples further apart than this belong to different stretches of the feed (the drive
// did not answer, or a new connection): they are not joined by a line.
constexpr double kMaxSampleGap = 1.0 * kSecond;
// A cursor reads a time trace at a sample at most this far from it.
constexpr double kReadReach = 0.5 * kSecond;

TkoGraphDiagram* AddDiagram(TkoGraph* graph, const char* name, bool autoRangeY,
                            const QColor& back) {
  TkoGraphDiagram* d = graph->AddDgr(name);
  d->Visible = true;
  d->AutoRangeX = true;
  d->AutoRangeY = autoRangeY;
  d->Title.Font.Size = -12;
  d->Title.SetVisible(true);
  d->PlotColor = kSilver;
  d->BackColor = back;
  return d;
}

void SetUpLegend(TkoGraphDiagram* d, const char* text) {
  TkoGraphLegenda* legend = d->Legend();
  legend->TextFormat.SetText(text);
  legend->OffsetX = 5;
  legend->OffsetY = 20;
  legend->OnlyVisible = true;
}

void SetUpScale(TkoGraphScala* s, const char* title, bool titleVisible, double min, double max,
                double step, const char* picture, bool timeLabels) {
  s->TextFormat.SetText(title);
  s->TextFormat.SetVisible(titleVisible);
  s->Min = min;
  s->Max = max;
  s->Step = step;
  s->LabelFormat.SetText(picture);
  s->DateLabels = false;
  s->TimeLabels = timeLabels;
  s->GridFormat.Pen.Color = kGray;
}

TkoGraphTraccia* AddTrace(TkoGraphDiagram* d, const char* name, const QColor& color, int width) {
  TkoGraphTraccia* t = d->AddTraccia(name);
  t->LineStyle = TkoGraphTraccia::kLineLine;
  t->PointStyle = TkoGraphTraccia::kPointNone;
  t->LineFormat.Pen.Color = color;
  t->LineFormat.Pen.Width = width;
  t->LineFormat.Brush.SetColor(kSilver);
  return t;
}

TkoGraphMarker* AddMarker(TkoGraphDiagram* d, const char* name, const char* picture,
                          const QColor& color, Qt::PenStyle style, std::uint8_t head,
                          std::uint8_t axes) {
  TkoGraphMarker* m = d->AddMarker(name);
  m->LabelFormat.SetText(picture);
  m->PointStyle = 0;
  m->LineFormat.Pen.Color = color;
  m->LineFormat.Pen.Style = style;
  m->LineFormat.Pen.Width = 1;
  m->LineFormat.Brush.SetColor(color);
  m->HeadStyle = head;
  m->Axes = axes;
  m->Position = {0, 0};
  return m;
}

// Appends with the oldest point dropped once the series is full.
void AddSample(TkoGraphTraccia* trace, double x, double y) {
  trace->AddPoint(x, y, trace->Count() >= TScopeForm::kMaxPoints);
}

}  // namespace

TScopeForm::TScopeForm(const std::string& settingsFile, QWidget* parent)
    : QWidget(parent, Qt::Window),
      settingsFile_(settingsFile),
      lastTime_(std::numeric_limits<double>::quiet_NaN()) {
  setObjectName("ScopeForm");
  setWindowTitle("Oscilloscope");
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);
  // The bitmap covers the whole client area, so Qt need not clear it first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(kDesignWidth, kDesignHeight);

  graph_ = new TkoGraph(this);
  graph_->setObjectName("koGraph");

  menu_ = new QMenu(this);
  menu_->setObjectName("pmnScope");
  resetStart_ = new QAction("Reset / Restart", this);
  resetStart_->setObjectName("ResetStart1");
  resetStart_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  resetStart_->setShortcutContext(Qt::WindowShortcut);
  connect(resetStart_, &QAction::triggered, this, [this] { ResetStart1Click(); });
  menu_->addAction(resetStart_);
  // Added to the window as well, so that the shortcut works without opening the menu.
  addAction(resetStart_);

  CreateTools();
  ReadGeometry();
  BuildDiagrams();
  setMouseTracking(true);
}

TScopeForm::~TScopeForm() = default;

void TScopeForm::CreateTools() {
  const auto action = [this](const QString& caption, const QKeySequence& key, const QString& tip) {
    auto* a = new QAction(caption, this);
    a->setShortcut(key);
    a->setShortcutContext(Qt::WindowShortcut);
    a->setToolTip(tip);
    a->setStatusTip(tip);
    addAction(a);
    return a;
  };
  acPause_ = action(QStringLiteral("Pause"), QKeySequence(Qt::Key_Space),
                    QStringLiteral("Freeze the traces. Acquisition goes on in the background: "
                                   "on resume the samples of the pause are added (the last %1 "
                                   "of each series).")
                        .arg(kMaxPoints));
  acPause_->setObjectName("acPause");
  acPause_->setCheckable(true);
  connect(acPause_, &QAction::triggered, this, [this](bool on) { SetPaused(on); });
  for (int i = 0; i < 2; ++i) {
    acMarker_[i] = action(QStringLiteral("Set Marker %1").arg(kMarkerName[i]),
                          QKeySequence(i == 0 ? Qt::Key_A : Qt::Key_B),
                          QStringLiteral("Marker %1 at the moment (or position) under the mouse")
                              .arg(kMarkerName[i]));
    connect(acMarker_[i], &QAction::triggered, this, [this, i] {
      // From the popup menu: where it was opened; by key: where the mouse is.
      const QPoint at = menuOpen_ ? menuPos_ : mapFromGlobal(QCursor::pos());
      SetMarkerAt(i, at);
    });
  }
  acClearMarkers_ = action(QStringLiteral("Clear Markers"), QKeySequence(Qt::Key_Escape),
                           QStringLiteral("Remove markers A and B"));
  connect(acClearMarkers_, &QAction::triggered, this, [this] { ClearMarkers(); });
  acExportData_ = action(QStringLiteral("Export Data..."), QKeySequence(Qt::CTRL | Qt::Key_E),
                         QStringLiteral("Write the samples shown to a CSV file"));
  connect(acExportData_, &QAction::triggered, this, [this] { ExportDataExecute(); });
  acExportPicture_ =
      action(QStringLiteral("Export Picture..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E),
             QStringLiteral("Write the diagrams as shown to a PNG or SVG file"));
  connect(acExportPicture_, &QAction::triggered, this, [this] { ExportPictureExecute(); });

  menu_->setToolTipsVisible(true);
  menu_->addSeparator();
  menu_->addAction(acPause_);
  menu_->addAction(acMarker_[0]);
  menu_->addAction(acMarker_[1]);
  menu_->addAction(acClearMarkers_);
  menu_->addSeparator();
  menu_->addAction(acExportData_);
  menu_->addAction(acExportPicture_);
}

TScopeForm::Axis TScopeForm::AxisOf(const TkoGraphDiagram* d) const {
  return d == dgrSpeedPos_ ? Axis::kPosition : Axis::kTime;
}

TkoGraphDiagram* TScopeForm::PlotAt(const QPoint& p) const {
  for (int i = graph_->DgrCount() - 1; i >= 0; --i) {
    TkoGraphDiagram* d = graph_->GetDgr(i);
    const vx::Rect& r = d->PlotRect;
    // The plot's right column and bottom row belong to it.
    if (d->Visible && r.Left <= p.x() && p.x() <= r.Right && r.Top <= p.y() && p.y() <= r.Bottom)
      return d;
  }
  return nullptr;
}

std::vector<TScopeForm::Channel> TScopeForm::ChannelsOn(Axis axis) const {
  if (axis == Axis::kPosition) return {{trcSpeedPos_, "Speed", "rpm", "0"}};
  return {{trcCurrent_, "IAct", "A", "0.0"}, {trcVolt_, "Volt", "V", "0.0"}};
}

std::optional<Tko2DPoint> TScopeForm::SampleAt(const TkoGraphTraccia* trace, double x) const {
  std::optional<Tko2DPoint> best;
  double distance = 0;
  for (const Tko2DPoint& p : trace->Points()) {
    if (!std::isfinite(p.X) || !std::isfinite(p.Y)) continue;
    const double d = std::fabs(p.X - x);
    if (!best || d < distance) {
      best = p;
      distance = d;
    }
  }
  if (best && trace != trcSpeedPos_ && distance > kReadReach) return std::nullopt;
  return best;
}

QString TScopeForm::XText(Axis axis, double x) const {
  if (axis == Axis::kPosition)
    return QString::fromStdString(vx::FormatFloat("#,##0", x)) + QStringLiteral(" stp");
  return QString::fromStdString(vx::FormatDateTime("hh:mm:ss.zzz", x));
}

void TScopeForm::SetCursorAt(const QPoint& clientPos) {
  const std::optional<QPoint> was = cursor_;
  if (PlotAt(clientPos) != nullptr) {
    cursor_ = clientPos;
  } else {
    cursor_.reset();
  }
  if (cursor_ != was) update();
}

void TScopeForm::ClearCursor() {
  if (!cursor_) return;
  cursor_.reset();
  update();
}

QStringList TScopeForm::CursorReadout() const {
  QStringList lines;
  if (!cursor_) return lines;
  const TkoGraphDiagram* d = PlotAt(*cursor_);
  if (d == nullptr) return lines;
  const Axis axis = AxisOf(d);
  const double x = d->ScaleX()->FromPixelX(cursor_->x(), d->PlotRect);
  if (axis == Axis::kPosition) {
    // Speed over position may pass a position many times: the point nearest the mouse.
    const TkoGraphTraccia* t = trcSpeedPos_;
    std::optional<Tko2DPoint> best;
    int distance = 0;
    for (const Tko2DPoint& p : t->Points()) {
      if (!std::isfinite(p.X) || !std::isfinite(p.Y)) continue;
      const int dx = d->ScaleX()->ToPixelX(p.X, d->PlotRect) - cursor_->x();
      const int dy = d->ScaleY()->ToPixelY(p.Y, d->PlotRect) - cursor_->y();
      if (!best || dx * dx + dy * dy < distance) {
        best = p;
        distance = dx * dx + dy * dy;
      }
    }
    if (!best) return {XText(axis, x)};
    lines << QStringLiteral("Position: ") + XText(axis, best->X);
    lines << QStringLiteral("Speed: ") + QString::fromStdString(vx::FormatFloat("0", best->Y)) +
                 QStringLiteral(" rpm");
    return lines;
  }
  lines << XText(axis, x);
  for (const Channel& c : ChannelsOn(axis)) {
    const std::optional<Tko2DPoint> p = SampleAt(c.trace, x);
    lines << QStringLiteral("%1: %2").arg(
        QString::fromLatin1(c.caption),
        p ? QString::fromStdString(vx::FormatFloat(c.picture, p->Y)) + QLatin1Char(' ') +
                QString::fromLatin1(c.unit)
          : QStringLiteral("-"));
  }
  return lines;
}

bool TScopeForm::SetMarkerAt(int which, const QPoint& clientPos) {
  if (which < 0 || which > 1) return false;
  const TkoGraphDiagram* d = PlotAt(clientPos);
  if (d == nullptr) return false;
  const Axis axis = AxisOf(d);
  if (axis != markerAxis_) markerX_[1 - which].reset();
  markerAxis_ = axis;
  // On the sample nearest the mouse, when one is drawn within a few pixels: the values a
  // marker reads are those of a read, not of a moment between two.
  const double x = d->ScaleX()->FromPixelX(clientPos.x(), d->PlotRect);
  const double reach = 3.0 / d->ScaleX()->PixelsPerUnit();
  double snapped = x;
  double best = reach;
  for (const Channel& c : ChannelsOn(axis)) {
    for (const Tko2DPoint& p : c.trace->Points()) {
      if (!std::isfinite(p.X) || std::fabs(p.X - x) > best) continue;
      best = std::fabs(p.X - x);
      snapped = p.X;
    }
  }
  markerX_[which] = snapped;
  if (Showing()) PaintScope();
  update();
  return true;
}

void TScopeForm::ClearMarkers() {
  markerX_ = {};
  if (Showing()) PaintScope();
  update();
}

TkoGraphMarker* TScopeForm::MarkerOf(const TkoGraphDiagram* diagram, int which) const {
  if (diagram == nullptr || which < 0 || which > 1) return nullptr;
  for (const auto& m : diagram->Markers())
    if (m->Name() == kMarkerName[which] && !m->WidensRange) return m.get();
  return nullptr;
}

void TScopeForm::PlaceMarkers() {
  for (TkoGraphDiagram* d : {dgrSpeedPos_, dgrCurrent_, dgrDcBus_}) {
    for (int i = 0; i < 2; ++i) {
      TkoGraphMarker* m = MarkerOf(d, i);
      if (m == nullptr) continue;
      const bool here = markerX_[i] && AxisOf(d) == markerAxis_;
      m->Position.X = here ? *markerX_[i] : TkoGraphMarker::kUnplaced;
    }
  }
}

QStringList TScopeForm::MarkerReadout() const {
  QStringList lines;
  if (!markerX_[0] || !markerX_[1]) return lines;
  const double a = *markerX_[0], b = *markerX_[1];
  const Axis axis = markerAxis_;
  if (axis == Axis::kTime) {
    lines << QStringLiteral("A %1  B %2").arg(XText(axis, a), XText(axis, b));
    lines << QString::fromUtf8("\u0394t %1 s")
                 .arg(QString::fromStdString(vx::FormatFloat("0.000", (b - a) / kSecond)));
  } else {
    lines << QStringLiteral("A %1  B %2").arg(XText(axis, a), XText(axis, b));
    lines << QString::fromUtf8("\u0394 %1").arg(XText(axis, b - a));
  }
  for (const Channel& c : ChannelsOn(axis)) {
    const std::optional<Tko2DPoint> pa = SampleAt(c.trace, a);
    const std::optional<Tko2DPoint> pb = SampleAt(c.trace, b);
    const auto value = [&](const std::optional<Tko2DPoint>& p) {
      return p ? QString::fromStdString(vx::FormatFloat(c.picture, p->Y)) : QStringLiteral("-");
    };
    QString line =
        QStringLiteral("%1: %2 \u2192 %3 %4")
            .arg(QString::fromLatin1(c.caption), value(pa), value(pb), QString::fromLatin1(c.unit));
    if (pa && pb) {
      const std::string picture = std::string("+") + c.picture + ";-" + c.picture + ";" + c.picture;
      line += QString::fromUtf8("  \u0394 %1 %2")
                  .arg(QString::fromStdString(vx::FormatFloat(picture, pb->Y - pa->Y)),
                       QString::fromLatin1(c.unit));
    }
    lines << line;
  }
  return lines;
}

void TScopeForm::DrawBox(QPainter& painter, const QStringList& lines, QPoint at,
                         bool keepLeft) const {
  if (lines.isEmpty()) return;
  const QFontMetrics fm(painter.font());
  int w = 0;
  for (const QString& l : lines) w = std::max(w, fm.horizontalAdvance(l));
  QRect box(at, QSize(w + 8, fm.height() * static_cast<int>(lines.size()) + 4));
  if (!keepLeft && box.right() > width() - 2) box.moveRight(at.x() - 16);
  if (box.bottom() > height() - 2) box.moveBottom(height() - 2);
  if (box.left() < 1) box.moveLeft(1);
  if (box.top() < 1) box.moveTop(1);
  const QPalette& pal = palette();
  painter.setPen(pal.color(QPalette::ToolTipText));
  painter.setBrush(pal.color(QPalette::ToolTipBase));
  painter.drawRect(box.adjusted(0, 0, -1, -1));
  int y = box.top() + 2 + fm.ascent();
  for (const QString& l : lines) {
    painter.drawText(box.left() + 4, y, l);
    y += fm.height();
  }
}

void TScopeForm::DrawOverlay(QPainter& painter, bool withCursor) const {
  QFont font = this->font();
  font.setPixelSize(11);
  painter.setFont(font);
  // The markers' differences in the top left corner of the front-most plot of their
  // quantity.
  const QStringList marks = MarkerReadout();
  if (!marks.isEmpty()) {
    for (int i = graph_->DgrCount() - 1; i >= 0; --i) {
      const TkoGraphDiagram* d = graph_->GetDgr(i);
      if (AxisOf(d) != markerAxis_) continue;
      DrawBox(painter, marks, QPoint(d->PlotRect.Left + 3, d->PlotRect.Top + 3), true);
      break;
    }
  }
  if (paused_) {
    const TkoGraphDiagram* d = graph_->GetDgr(graph_->DgrCount() - 1);
    if (d != nullptr) {
      const QFontMetrics fm(font);
      const QString text = QStringLiteral("PAUSED");
      DrawBox(painter, {text},
              QPoint(d->PlotRect.Right - fm.horizontalAdvance(text) - 12, d->PlotRect.Top + 3),
              true);
    }
  }
  if (!withCursor || !cursor_) return;
  const TkoGraphDiagram* at = PlotAt(*cursor_);
  if (at == nullptr) return;
  const Axis axis = AxisOf(at);
  const double x = at->ScaleX()->FromPixelX(cursor_->x(), at->PlotRect);
  // The line across every plot of the same quantity, at the same value.
  painter.setPen(QPen(vx::FitText(QColor(0, 0, 0), at->PlotColor), 1, Qt::DashLine));
  for (int i = 0; i < graph_->DgrCount(); ++i) {
    const TkoGraphDiagram* d = graph_->GetDgr(i);
    if (!d->Visible || AxisOf(d) != axis) continue;
    const vx::Rect& p = d->PlotRect;
    const int px = d == at ? cursor_->x() : d->ScaleX()->ToPixelX(x, p);
    if (px < p.Left || px > p.Right) continue;
    painter.drawLine(px, p.Top, px, p.Bottom);
  }
  DrawBox(painter, CursorReadout(), *cursor_ + QPoint(12, 12), false);
}

QString TScopeForm::AskFile(const QString& caption, const QString& filter) {
  if (AskSaveFileName) return AskSaveFileName(caption, filter);
  return QFileDialog::getSaveFileName(this, caption, QString(), filter);
}

void TScopeForm::ExportDataExecute() {
  const QString file = AskFile(QStringLiteral("Export Data"), QStringLiteral("CSV files (*.csv)"));
  if (file.isEmpty()) return;
  const std::string error = ExportCsv(file.toStdString());
  if (!error.empty()) vx::ShowMessage(this, QString::fromStdString(error));
}

void TScopeForm::ExportPictureExecute() {
  const QString file = AskFile(QStringLiteral("Export Picture"),
                               QStringLiteral("PNG pictures (*.png);;SVG drawings (*.svg)"));
  if (file.isEmpty()) return;
  const std::string error = ExportPicture(file.toStdString());
  if (!error.empty()) vx::ShowMessage(this, QString::fromStdString(error));
}

namespace {

std::string WriteOut(const std::string& file, std::string_view data) {
  const char* step = nullptr;
  const int err = vx::WriteFileAtomically(file, data, &step);
  if (err == 0) return {};
  return "Cannot " + std::string(step != nullptr ? step : "write") + " " + file + ": " +
         std::strerror(err);
}

}  // namespace

std::string TScopeForm::ExportCsv(const std::string& file) {
  // The decimal separator is the process's; a comma there moves the fields to semicolons.
  const char sep = vx::Formats().DecimalSeparator == ',' ? ';' : ',';
  // The series in time order, gaps left out; a read gave each of them one sample, and
  // reads may share a time stamp, so the rows are made by walking them side by side.
  struct Sample {
    double t, a, b;
  };
  const auto samples = [](const std::vector<Tko2DPoint>& points, const std::deque<double>* times) {
    std::vector<Sample> out;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const double t = times != nullptr ? (i < times->size() ? (*times)[i] : NAN) : points[i].X;
      if (std::isfinite(t) && std::isfinite(points[i].X))
        out.push_back({t, points[i].X, points[i].Y});
    }
    return out;
  };
  const std::vector<Sample> series[3] = {samples(trcCurrent_->Points(), nullptr),
                                         samples(trcVolt_->Points(), nullptr),
                                         samples(trcSpeedPos_->Points(), &speedPosTimes_)};
  struct Row {
    double t;
    double amps = NAN, volt = NAN, pos = NAN, speed = NAN;
  };
  std::vector<Row> rows;
  std::size_t next[3] = {0, 0, 0};
  for (;;) {
    double t = INFINITY;
    for (int k = 0; k < 3; ++k)
      if (next[k] < series[k].size()) t = std::min(t, series[k][next[k]].t);
    if (!std::isfinite(t)) break;
    Row r{t};
    for (int k = 0; k < 3; ++k) {
      if (next[k] >= series[k].size() || series[k][next[k]].t != t) continue;
      const Sample& s = series[k][next[k]++];
      if (k == 0) r.amps = s.b;
      if (k == 1) r.volt = s.b;
      if (k == 2) r.pos = s.a, r.speed = s.b;
    }
    rows.push_back(r);
  }
  const auto number = [](double v) {
    return std::isfinite(v) ? vx::FormatFloat("0.######", v) : std::string();
  };
  std::string out = std::string("Time") + sep + "IAct [A]" + sep + "Volt [V]" + sep +
                    "Position [stp]" + sep + "Speed [rpm]\r\n";
  for (const Row& r : rows) {
    out += vx::FormatDateTime("dd/mm/yyyy hh:mm:ss.zzz", r.t);
    for (double v : {r.amps, r.volt, r.pos, r.speed}) {
      out += sep;
      out += number(v);
    }
    out += "\r\n";
  }
  return WriteOut(file, out);
}

std::string TScopeForm::ExportPicture(const std::string& file) {
  PlaceDiagrams();
  PlaceMarkers();
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  const QString name = QString::fromStdString(file);
  if (name.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size());
    svg.setViewBox(rect());
    svg.setTitle(windowTitle());
    graph_->RenderOn(svg, [this](QPainter& p) { DrawOverlay(p, false); });
  } else {
    graph_->RenderTo(nullptr);
    QImage image = graph_->Bitmap().copy();
    {
      QPainter p(&image);
      DrawOverlay(p, false);
    }
    if (!image.save(&buffer, "PNG")) return "Cannot encode the picture for " + file;
  }
  return WriteOut(file, std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
}

void TScopeForm::ReadGeometry() {
  if (settingsFile_.empty()) return;
  const vx::TIniFile ini(settingsFile_);
  if (!ini.ReadError().empty()) return;
  move(ini.ReadInteger(kSection, "Left", 0), ini.ReadInteger(kSection, "Top", 0));
  const int width = ini.ReadInteger(kSection, "Width", this->width());
  const int height = ini.ReadInteger(kSection, "Height", this->height());
  // A hand-edited or damaged value must not make the window vanish.
  resize(std::max(width, 100), std::max(height, 100));
}

void TScopeForm::BuildDiagrams() {
  graph_->Bounds = {0, 0, width(), height()};
  const double now = vx::Now();

  dgrSpeedPos_ = AddDiagram(graph_, "Speed vs Position", true, QColor(172, 203, 253));
  SetUpLegend(dgrSpeedPos_, "Speed vs Position");
  SetUpScale(dgrSpeedPos_->ScaleX(), "Position", true, 0, 0, 1000, "#,##0", false);
  SetUpScale(dgrSpeedPos_->ScaleY(), "Speed", true, 0, 0, 0.1, "0.00", false);
  trcSpeedPos_ = AddTrace(dgrSpeedPos_, "SpeedPos", kBlue, 1);
  mrkSpeedPos_ =
      AddMarker(dgrSpeedPos_, "SpeedPos", "#,##0", kBlue, Qt::DotLine, TkoGraphMarker::kHeadArrow,
                TkoGraphMarker::kAxisX | TkoGraphMarker::kAxisY);

  dgrCurrent_ = AddDiagram(graph_, "Current", false, QColor(134, 179, 253));
  SetUpLegend(dgrCurrent_, "Current");
  SetUpScale(dgrCurrent_->ScaleX(), "Samples", false, now, now + 30 * kSecond, 10 * kSecond, "0.00",
             true);
  SetUpScale(dgrCurrent_->ScaleY(), "[A]", true, 0, 20, 5, "00.0", false);
  trcCurrent_ = AddTrace(dgrCurrent_, "IAct", kGreen, 2);
  mrkCurrent_ = AddMarker(dgrCurrent_, "IAct", "00.0", kGreen, Qt::DotLine,
                          TkoGraphMarker::kHeadArrow, TkoGraphMarker::kAxisY);
  mrkIMax_ = AddMarker(dgrCurrent_, "IMax", "00.0", kRed, Qt::DashLine,
                       TkoGraphMarker::kHeadRightHalfArrow, TkoGraphMarker::kAxisY);
  mrkINom_ = AddMarker(dgrCurrent_, "INom", "00.0", kBlue, Qt::DashLine,
                       TkoGraphMarker::kHeadRightHalfArrow, TkoGraphMarker::kAxisY);

  dgrDcBus_ = AddDiagram(graph_, "DcBus", false, QColor(4, 81, 208));
  SetUpScale(dgrDcBus_->ScaleX(), "Samples", false, now, now + 30 * kSecond, 10 * kSecond, "0.00",
             true);
  SetUpScale(dgrDcBus_->ScaleY(), "[V]", true, 0, 700, 100, "000.0", false);
  trcVolt_ = AddTrace(dgrDcBus_, "Volt", kMagenta, 2);
  mrkVolt_ = AddMarker(dgrDcBus_, "Act", "000.0", kMagenta, Qt::DotLine, TkoGraphMarker::kHeadArrow,
                       TkoGraphMarker::kAxisY);

  // Markers A and B, the engineer's: a line at a moment (or position) and its value in a
  // box on the scale; not placed until set, and never stretching the range.
  for (TkoGraphDiagram* d : {dgrSpeedPos_, dgrCurrent_, dgrDcBus_}) {
    for (int i = 0; i < 2; ++i) {
      TkoGraphMarker* m =
          AddMarker(d, kMarkerName[i], d == dgrSpeedPos_ ? "#,##0" : "0.00", kMarkerColor[i],
                    Qt::SolidLine, TkoGraphMarker::kHeadArrow, TkoGraphMarker::kAxisX);
      m->Position = {TkoGraphMarker::kUnplaced, TkoGraphMarker::kUnplaced};
      m->WidensRange = false;
      m->LabelFormat.Brush.SetColor(kMarkerColor[i]);
      m->LabelFormat.Pen.Color = kMarkerColor[i];
      m->LabelFormat.Font.Color = vx::FitText(QColor(255, 255, 255), kMarkerColor[i]);
    }
  }

  // White titles and labels would vanish on the light diagram backgrounds: each text takes
  // a colour that reads on its diagram.
  for (TkoGraphDiagram* d : {dgrSpeedPos_, dgrCurrent_, dgrDcBus_}) {
    const auto fit = [d](vx::GraphFont& font) {
      font.Color = vx::FitText(font.Color, d->BackColor);
    };
    fit(d->Title.Font);
    for (TkoGraphScala* scale : {d->ScaleX(), d->ScaleY()}) {
      fit(scale->LabelFormat.Font);
      fit(scale->TextFormat.Font);
    }
  }
}

void TScopeForm::AddDcBus(double t, double v) {
  if (paused_) return Hold({Held::kDcBus, t, v, 0});
  lastTime_ = t;
  AddSample(trcVolt_, t, v);
  TkoGraphScala* y = dgrDcBus_->ScaleY();
  y->Max = std::max(0.0, 1.1 * trcVolt_->RangeY().Max);
  y->Min = std::min(0.0, 1.1 * trcVolt_->RangeY().Min);
  mrkVolt_->Position = {t, v};
}

void TScopeForm::AddSpeedPos(double x, double s) {
  if (paused_) return Hold({Held::kSpeedPos, lastTime_, x, s});
  AddSample(trcSpeedPos_, x, s);
  speedPosTimes_.push_back(lastTime_);
  while (static_cast<int>(speedPosTimes_.size()) > trcSpeedPos_->Count())
    speedPosTimes_.pop_front();
  mrkSpeedPos_->Position = {x, s};
}

void TScopeForm::AddCurrent(double t, double i) {
  if (paused_) return Hold({Held::kCurrent, t, i, 0});
  lastTime_ = t;
  AddSample(trcCurrent_, t, i);
  mrkCurrent_->Position = {t, i};
  // A nominal current not known yet (or not a number) must not spoil the range.
  const double nominal = TkoGraphMarker::IsPlaced(mrkINom_->Position.Y) ? mrkINom_->Position.Y : 0;
  TkoGraphScala* y = dgrCurrent_->ScaleY();
  y->Max = 1.3 * std::max(nominal, trcCurrent_->RangeY().Max);
  y->Min = -0.1;
}

void TScopeForm::SetIMax(double t, double i) {
  if (paused_) return Hold({Held::kIMax, t, i, 0});
  mrkIMax_->Position = {t, i};
}

void TScopeForm::SetINom(double t, double i) {
  if (paused_) return Hold({Held::kINom, t, i, 0});
  mrkINom_->Position = {t, i};
}

void TScopeForm::Hold(const Held& held) {
  held_.push_back(held);
  // As many reads as a series holds (five calls and a gap each): what resume could not
  // show anyway is dropped as it would be from the series.
  while (held_.size() > 6u * kMaxPoints) held_.pop_front();
}

void TScopeForm::Replay() {
  std::deque<Held> held;
  held.swap(held_);
  for (const Held& h : held) {
    switch (h.kind) {
      case Held::kDcBus:
        AddDcBus(h.t, h.a);
        break;
      case Held::kSpeedPos:
        lastTime_ = h.t;
        AddSpeedPos(h.a, h.b);
        break;
      case Held::kCurrent:
        AddCurrent(h.t, h.a);
        break;
      case Held::kIMax:
        SetIMax(h.t, h.a);
        break;
      case Held::kINom:
        SetINom(h.t, h.a);
        break;
      case Held::kGap:
        AddGap();
        break;
    }
  }
}

void TScopeForm::SetPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  acPause_->setChecked(paused);
  setWindowTitle(paused ? QStringLiteral("Oscilloscope (paused)") : QStringLiteral("Oscilloscope"));
  if (!paused) Replay();
  if (Showing()) PaintScope();
  update();
}

bool TScopeForm::Showing() const {
  if (!isVisible() || isMinimized()) return false;
  const QWindow* window = windowHandle();
  return window == nullptr || window->isExposed();
}

void TScopeForm::PlaceDiagrams() {
  const int w = width();
  const int h = height();
  graph_->Bounds = {0, 0, w, h};
  graph_->DevicePixelRatio = devicePixelRatioF();
  if (TkoGraphDiagram* d = graph_->GetDgr(2)) d->OuterRect = {0, 100, w, h};
  if (TkoGraphDiagram* d = graph_->GetDgr(1)) d->OuterRect = {0, 0, w / 2, 100};
  if (TkoGraphDiagram* d = graph_->GetDgr(0)) d->OuterRect = {w / 2, 0, w, 100};
}

void TScopeForm::PaintScope() {
  stale_ = false;
  PlaceDiagrams();
  PlaceMarkers();
  graph_->RenderTo(nullptr);
  if (graph_->ChangedRects().empty()) return;
  // The cursor's and markers' boxes read the data: they are drawn anew with it.
  if (cursor_ || markerX_[0] || markerX_[1] || paused_) {
    update();
    return;
  }
  QRegion changed;
  for (const vx::Rect& r : graph_->ChangedRects())
    changed += QRect(r.Left, r.Top, r.Width(), r.Height());
  update(changed);
}

void TScopeForm::FeedActState(const TkoDeviceVX310* drive, double timeStamp) {
  if (drive == nullptr) return;
  const double t = timeStamp;
  // Reads missing between two samples (the drive silent, another connection): the line
  // of the series breaks rather than bridging them.
  if (std::isfinite(lastTime_) && std::isfinite(t) && std::fabs(t - lastTime_) > kMaxSampleGap) {
    if (paused_) {
      Hold({Held::kGap, t, 0, 0});
    } else {
      AddGap();
    }
  }
  lastTime_ = t;
  if (drive->ParU_Dc_BusV != nullptr) AddDcBus(t, drive->ParU_Dc_BusV->GetValue());
  if (drive->ParActualPos != nullptr && drive->ParS_MotorRPM != nullptr) {
    // The position is a signed 32-bit count: read unsigned, it would jump to four
    // thousand million below zero.
    const double position = static_cast<std::int32_t>(drive->ParActualPos->GetLong());
    AddSpeedPos(position, drive->ParS_MotorRPM->GetValue());
  }
  if (drive->ParI_MotorA != nullptr) AddCurrent(t, drive->ParI_MotorA->GetValue());
  if (drive->ParMotorIrA != nullptr) SetIMax(t, drive->ParMotorIrA->GetValue());
  if (drive->ParMotorIpA != nullptr) SetINom(t, drive->ParMotorIpA->GetValue());
  if (paused_) return;
  if (Showing()) {
    PaintScope();
  } else {
    // Shown but not on screen yet (or minimised): drawn when it is painted.
    stale_ = true;
  }
}

void TScopeForm::AddGap() {
  const double gap = std::numeric_limits<double>::quiet_NaN();
  for (TkoGraphTraccia* trace : {trcSpeedPos_, trcCurrent_, trcVolt_}) {
    if (trace->Count() == 0 || std::isnan(trace->Points().back().X)) continue;
    AddSample(trace, gap, gap);
    if (trace == trcSpeedPos_) {
      speedPosTimes_.push_back(gap);
      while (static_cast<int>(speedPosTimes_.size()) > trcSpeedPos_->Count())
        speedPosTimes_.pop_front();
    }
  }
}

void TScopeForm::BreakTraces() {
  if (paused_) return Hold({Held::kGap, lastTime_, 0, 0});
  AddGap();
  if (Showing()) {
    PaintScope();
  } else {
    stale_ = true;
  }
}

void TScopeForm::ResetStart1Click() {
  trcSpeedPos_->Clear();
  trcCurrent_->Clear();
  trcVolt_->Clear();
  speedPosTimes_.clear();
  held_.clear();
}

void TScopeForm::FormClick(const QPoint& clientPos) {
  graph_->SelectAtPos(clientPos);
  graph_->BringToFront(graph_->SelectedDgr());
  PaintScope();
}

void TScopeForm::FormClose() {
  // The normal geometry is the one to come back to, whatever state the window is in.
  if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) {
    setWindowState(Qt::WindowNoState);
  }
  // A read-only file stays as its owner keeps it; the main window said so at start.
  if (settingsFile_.empty() || vx::IsReadOnlyFile(settingsFile_)) return;
  vx::TIniFile ini(settingsFile_);
  if (!ini.ReadError().empty()) {
    // Writing now would replace a file we could not read with a few lines of ours.
    qWarning("Oscilloscope: %s; the window geometry is not saved.", ini.ReadError().c_str());
    return;
  }
  const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
  const QRect frame = frameGeometry();
  // Top and Left are the frame's corner, as move() takes them; size is the client's.
  const int frameDx = geometry().left() - frame.left();
  const int frameDy = geometry().top() - frame.top();
  ini.WriteInteger(kSection, "Top", normal.top() - frameDy);
  ini.WriteInteger(kSection, "Left", normal.left() - frameDx);
  ini.WriteInteger(kSection, "Width", normal.width());
  ini.WriteInteger(kSection, "Height", normal.height());
  if (!ini.UpdateFile()) qWarning("Oscilloscope: %s", ini.LastError().c_str());
}

void TScopeForm::paintEvent(QPaintEvent* /*event*/) {
  // A bitmap of another size is stale: the window was resized or never rendered.
  const QImage& bitmap = graph_->Bitmap();
  if (stale_ || bitmap.deviceIndependentSize().toSize() != size() ||
      bitmap.devicePixelRatio() != devicePixelRatioF()) {
    stale_ = false;
    PlaceDiagrams();
    PlaceMarkers();
    graph_->RenderTo(nullptr);
  }
  QPainter painter(this);
  painter.drawImage(0, 0, graph_->Bitmap());
  DrawOverlay(painter, true);
}

void TScopeForm::mouseMoveEvent(QMouseEvent* event) {
  SetCursorAt(event->position().toPoint());
  QWidget::mouseMoveEvent(event);
}

void TScopeForm::leaveEvent(QEvent* event) {
  ClearCursor();
  QWidget::leaveEvent(event);
}

void TScopeForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // The window's face shows where no diagram is; a new palette is not in the bitmap yet.
  if (graph_ != nullptr &&
      (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)) {
    graph_->Invalidate();
    if (Showing()) PaintScope();
  }
}

void TScopeForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (isVisible()) PaintScope();
}

// Samples collected while hidden are not in the bitmap yet.
void TScopeForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  PaintScope();
}

void TScopeForm::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    FormClick(event->position().toPoint());
  }
  QWidget::mouseReleaseEvent(event);
}

void TScopeForm::contextMenuEvent(QContextMenuEvent* event) {
  menuPos_ = event->pos();
  // Run to its end here, so that a marker chosen in it goes where it was opened.
  menuOpen_ = true;
  menu_->exec(event->globalPos());
  menuOpen_ = false;
  event->accept();
}

void TScopeForm::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}
