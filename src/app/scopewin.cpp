#include "app/scopewin.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>
#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <system_error>

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
    : QWidget(parent, Qt::Window), settingsFile_(settingsFile) {
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

  ReadGeometry();
  BuildDiagrams();
}

TScopeForm::~TScopeForm() = default;

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
  AddSample(trcVolt_, t, v);
  TkoGraphScala* y = dgrDcBus_->ScaleY();
  y->Max = std::max(0.0, 1.1 * trcVolt_->RangeY().Max);
  y->Min = std::min(0.0, 1.1 * trcVolt_->RangeY().Min);
  mrkVolt_->Position = {t, v};
}

void TScopeForm::AddSpeedPos(double x, double s) {
  AddSample(trcSpeedPos_, x, s);
  mrkSpeedPos_->Position = {x, s};
}

void TScopeForm::AddCurrent(double t, double i) {
  AddSample(trcCurrent_, t, i);
  mrkCurrent_->Position = {t, i};
  // A nominal current not known yet (or not a number) must not spoil the range.
  const double nominal = TkoGraphMarker::IsPlaced(mrkINom_->Position.Y) ? mrkINom_->Position.Y : 0;
  TkoGraphScala* y = dgrCurrent_->ScaleY();
  y->Max = 1.3 * std::max(nominal, trcCurrent_->RangeY().Max);
  y->Min = -0.1;
}

void TScopeForm::SetIMax(double t, double i) {
  mrkIMax_->Position = {t, i};
}

void TScopeForm::SetINom(double t, double i) {
  mrkINom_->Position = {t, i};
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
  PlaceDiagrams();
  graph_->RenderTo(nullptr);
  update();
}

void TScopeForm::FeedActState(const TkoDeviceVX310* drive, double timeStamp) {
  if (drive == nullptr) return;
  const double t = timeStamp;
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
  if (isVisible()) PaintScope();
}

void TScopeForm::BreakTraces() {
  const double gap = std::numeric_limits<double>::quiet_NaN();
  for (TkoGraphTraccia* trace : {trcSpeedPos_, trcCurrent_, trcVolt_}) {
    if (trace->Count() == 0 || std::isnan(trace->Points().back().X)) continue;
    AddSample(trace, gap, gap);
  }
  if (isVisible()) PaintScope();
}

void TScopeForm::ResetStart1Click() {
  trcSpeedPos_->Clear();
  trcCurrent_->Clear();
  trcVolt_->Clear();
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
  if (bitmap.deviceIndependentSize().toSize() != size() ||
      bitmap.devicePixelRatio() != devicePixelRatioF()) {
    PlaceDiagrams();
    graph_->RenderTo(nullptr);
  }
  QPainter painter(this);
  painter.drawImage(0, 0, graph_->Bitmap());
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
  menu_->popup(event->globalPos());
  event->accept();
}

void TScopeForm::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}
