#include "app/monitorwin.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <set>

#include "mbwire/mbcodes.h"
#include "mbwire/mblisten.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbresult.h"
#include "modbus/mbthread.h"
#include "paramui/contrast.h"
#include "paramui/textcodec.h"
#include "platform/atomicfile.h"

namespace {

// The view follows at most ten times a second, whatever the traffic.
constexpr int kUpdateMs = 100;

const char* const kHeaders[TMonitorModel::colCount] = {
    "Time",   "Dir",     "Result", "Slave",      "Function",      "Addresses", "Registers",
    "Values", "Request", "Answer", "Silence ms", "Round trip ms", "Gap ms",    "Port"};

QString Millis(int64_t us) {
  if (us < 0) return QString();
  return QString::number(static_cast<double>(us) / 1000.0, 'f', 2);
}

QString Quoted(const QString& s) {
  if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) &&
      !s.contains(QLatin1Char('\n')))
    return s;
  QString q = s;
  q.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

// "100-120", "0x64-0x78" or one address; false when the text is none of these.
bool ParseRange(const QString& text, int& from, int& to) {
  const QString t = text.trimmed();
  if (t.isEmpty()) {
    from = to = -1;
    return true;
  }
  const QStringList parts = t.split(QLatin1Char('-'));
  if (parts.size() > 2) return false;
  bool ok1 = false, ok2 = true;
  from = parts[0].trimmed().toInt(&ok1, 0);
  to = parts.size() == 2 ? parts[1].trimmed().toInt(&ok2, 0) : from;
  if (!ok1 || !ok2 || from < 0 || to < from) return false;
  return true;
}

// Red that reads on both row colours of the table (plain and alternate).
QColor ErrorColour(const QPalette& pal) {
  QColor c = vx::IsDark(pal) ? QColor(255, 140, 130) : QColor(170, 0, 0);
  for (QPalette::ColorRole role : {QPalette::Base, QPalette::AlternateBase})
    if (vx::ContrastRatio(c, pal.color(role)) < vx::kMinTextContrast)
      c = vx::FitText(c, pal.color(role));
  return c;
}

// Cells are one line of plain text: drawn directly, elided at the right, without the
// style's general item layout (a full table is repainted at every update while following).
class TMonitorDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) painter->fillRect(option.rect, option.palette.brush(QPalette::Highlight));
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) return;
    QColor pen = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    if (!selected) {
      const QVariant fg = index.data(Qt::ForegroundRole);
      if (fg.isValid()) pen = fg.value<QColor>();
    }
    const QVariant align = index.data(Qt::TextAlignmentRole);
    const int flags = (align.isValid() ? align.toInt() : int(Qt::AlignLeft)) | Qt::AlignVCenter;
    const QRect r = option.rect.adjusted(3, 0, -3, 0);
    painter->setPen(pen);
    painter->setFont(option.font);
    painter->drawText(r, flags, option.fontMetrics.elidedText(text, Qt::ElideRight, r.width()));
  }
};

}  // namespace

// ---- model ----

TMonitorModel::TMonitorModel(std::size_t capacity, QObject* parent)
    : QAbstractTableModel(parent), capacity_(std::max<std::size_t>(capacity, 1)) {}

TMonitorModel::Row TMonitorModel::MakeRow(const vx::MBTapRecord& r) const {
  Row row;
  row.Record = r;
  row.Decoded = vx::MBDecode(r);
  const vx::MBDecoded& d = row.Decoded;
  row.Time = QString::fromStdString(vx::MBTimeText(r.timeUs));
  row.Dir = QString::fromStdString(vx::MBDirText(r));
  if (d.function >= 0)
    row.Function = QStringLiteral("%1h %2").arg(
        QStringLiteral("%1").arg(d.function, 2, 16, QLatin1Char('0')).toUpper(),
        QString::fromStdString(vx::MBFunctionName(d.function)));
  if (d.address >= 0)
    row.Addresses = d.count > 1
                        ? QStringLiteral("%1-%2").arg(d.address).arg(d.address + d.count - 1)
                        : QString::number(d.address);
  if (names_ && d.slave >= 0 && d.address >= 0) {
    std::string joined;
    for (int i = 0; i < std::min(d.count, 125); ++i) {
      const std::string n =
          names_(static_cast<uint8_t>(d.slave), static_cast<uint16_t>(d.address + i));
      if (n.empty()) continue;
      if (!joined.empty()) joined += ", ";
      joined += n;
    }
    row.Registers = vx::ToQString(joined);
  }
  QStringList values;
  for (uint16_t v : d.values) values << QString::number(v);
  row.Values = values.join(QLatin1Char(' '));
  row.Result = QString::fromStdString(vx::MBResultText(d));
  row.Request = QString::fromStdString(vx::MBHex(r.request));
  row.Answer = QString::fromStdString(vx::MBHex(r.answer));
  return row;
}

void TMonitorModel::Append(const std::vector<vx::MBTapRecord>& batch) {
  if (batch.empty()) return;
  // Only the newest that fit are taken in; older rows make room.
  const std::size_t take = std::min(batch.size(), capacity_);
  const std::size_t total = rows_.size() + take;
  if (total > capacity_) {
    const int drop = static_cast<int>(total - capacity_);
    beginRemoveRows(QModelIndex(), 0, drop - 1);
    rows_.erase(rows_.begin(), rows_.begin() + drop);
    endRemoveRows();
  }
  const int first = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(take) - 1);
  for (std::size_t i = batch.size() - take; i < batch.size(); ++i)
    rows_.push_back(MakeRow(batch[i]));
  endInsertRows();
}

void TMonitorModel::Clear() {
  if (rows_.empty()) return;
  beginRemoveRows(QModelIndex(), 0, static_cast<int>(rows_.size()) - 1);
  rows_.clear();
  endRemoveRows();
}

int TMonitorModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TMonitorModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : colCount;
}

QString TMonitorModel::Cell(int row, int column) const {
  const Row& r = At(row);
  switch (column) {
    case colTime:
      return r.Time;
    case colPort:
      return QString::fromStdString(r.Record.port);
    case colDir:
      return r.Dir;
    case colSlave:
      return r.Decoded.slave < 0 ? QString() : QString::number(r.Decoded.slave);
    case colFunction:
      return r.Function;
    case colAddresses:
      return r.Addresses;
    case colRegisters:
      return r.Registers;
    case colValues:
      return r.Values;
    case colResult:
      return r.Result;
    case colSilence:
      return Millis(r.Record.silenceUs);
    case colRoundTrip:
      return Millis(r.Record.roundTripUs);
    case colGap:
      return Millis(r.Record.maxGapUs);
    case colRequest:
      return r.Request;
    case colAnswer:
      return r.Answer;
    default:
      return QString();
  }
}

QVariant TMonitorModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Row& r = At(index.row());
  switch (role) {
    case Qt::DisplayRole:
      return Cell(index.row(), index.column());
    case Qt::ForegroundRole:
      if (r.Decoded.IsError()) return ErrorColour(QApplication::palette());
      return {};
    case Qt::ToolTipRole:
      if (index.column() == colResult && r.Record.result != 0)
        return vx::ToQString(TkoMBThread::GetErrorText(r.Record.result));
      if (index.column() == colRegisters) return r.Registers;
      return {};
    case Qt::TextAlignmentRole:
      if (index.column() == colSlave || (index.column() >= colSilence && index.column() <= colGap))
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    default:
      return {};
  }
}

QVariant TMonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= colCount)
    return {};
  return QString::fromLatin1(kHeaders[section]);
}

QString TMonitorModel::CsvHeader() const {
  QStringList h;
  for (const char* name : kHeaders) h << QString::fromLatin1(name);
  return h.join(QLatin1Char(','));
}

QString TMonitorModel::CsvLine(int row) const {
  QStringList cells;
  for (int c = 0; c < colCount; ++c) cells << Quoted(Cell(row, c));
  return cells.join(QLatin1Char(','));
}

QString TMonitorModel::TabLine(int row) const {
  QStringList cells;
  for (int c = 0; c < colCount; ++c) cells << Cell(row, c);
  return cells.join(QLatin1Char('\t'));
}

QString TMonitorModel::TraceLine(int row) const {
  const Row& r = At(row);
  return vx::ToQString(vx::MBTraceText(r.Record, r.Decoded, vx::FromQString(r.Registers)));
}

// ---- filter ----

void TMonitorFilter::SetFilter(bool errorsOnly, int function, int from, int to,
                               const QString& name) {
  errorsOnly_ = errorsOnly;
  function_ = function;
  from_ = from;
  to_ = to;
  name_ = name.trimmed();
  invalidateRowsFilter();
}

bool TMonitorFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  const auto* model = static_cast<const TMonitorModel*>(sourceModel());
  const TMonitorModel::Row& r = model->At(sourceRow);
  if (errorsOnly_ && !r.Decoded.IsError()) return false;
  if (function_ >= 0 && r.Decoded.function != function_) return false;
  if (from_ >= 0) {
    // The range asked for and the exchange's registers overlap.
    if (r.Decoded.address < 0) return false;
    const int last = r.Decoded.address + std::max(r.Decoded.count, 1) - 1;
    if (last < from_ || r.Decoded.address > to_) return false;
  }
  if (!name_.isEmpty() && !r.Registers.contains(name_, Qt::CaseInsensitive)) return false;
  return true;
}

// ---- window ----

TMonitorForm::TMonitorForm(vx::MBFrameTap& tap, QWidget* parent)
    : QWidget(parent, Qt::Window), tap_(tap) {
  setWindowTitle(tr("Bus Monitor"));
  setObjectName(QStringLiteral("MonitorForm"));
  model_ = new TMonitorModel(tap.Capacity(), this);
  filter_ = new TMonitorFilter(this);
  filter_->setSourceModel(model_);

  ErrorsOnly = new QCheckBox(tr("Errors only"), this);
  FunctionBox = new QComboBox(this);
  FunctionBox->addItem(tr("All functions"), -1);
  for (int f : {vx::MBFunction::kReadHoldingRegisters, vx::MBFunction::kWriteSingleRegister,
                vx::MBFunction::kWriteMultipleRegisters, vx::MBFunction::kDeviceVersion})
    FunctionBox->addItem(QStringLiteral("%1h %2")
                             .arg(QStringLiteral("%1").arg(f, 2, 16, QLatin1Char('0')).toUpper())
                             .arg(QString::fromStdString(vx::MBFunctionName(f))),
                         f);
  AddressEdit = new QLineEdit(this);
  AddressEdit->setPlaceholderText(tr("Addresses, e.g. 100-120"));
  AddressEdit->setToolTip(tr("One address or a range (decimal, or hexadecimal with 0x)"));
  NameEdit = new QLineEdit(this);
  NameEdit->setPlaceholderText(tr("Register name"));
  PauseButton = new QPushButton(tr("Pause"), this);
  PauseButton->setCheckable(true);
  PauseButton->setToolTip(tr("Freeze the table; the line is still recorded meanwhile"));
  auto* copy = new QPushButton(tr("Copy"), this);
  copy->setToolTip(tr("Copy the selected rows (Ctrl+C)"));
  auto* csv = new QPushButton(tr("Export CSV..."), this);
  auto* trace = new QPushButton(tr("Export trace..."), this);
  auto* clear = new QPushButton(tr("Clear"), this);
  ListenPort = new QComboBox(this);
  for (int n = 1; n <= 8; ++n) ListenPort->addItem(QStringLiteral("COM%1").arg(n), n);
  // The terminal's own line settings by default: 19200 baud, even parity.
  ListenBaud = new QComboBox(this);
  for (int baud : {9600, 19200, 38400, 57600, 115200})
    ListenBaud->addItem(QString::number(baud), baud);
  ListenBaud->setCurrentIndex(1);
  ListenParity = new QComboBox(this);
  ListenParity->addItem(tr("None"), vx::MBParity::kNone);
  ListenParity->addItem(tr("Odd"), vx::MBParity::kOdd);
  ListenParity->addItem(tr("Even"), vx::MBParity::kEven);
  ListenParity->setCurrentIndex(2);
  ListenButton = new QPushButton(tr("Listen"), this);
  ListenButton->setCheckable(true);
  ListenButton->setToolTip(
      tr("Open the port without sending and decode the traffic of another master"));

  view_ = new QTableView(this);
  view_->setModel(filter_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setWordWrap(false);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view_->setAlternatingRowColors(true);
  // Fixed row heights and column widths: nothing is measured row by row on an update.
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
  view_->verticalHeader()->hide();
  view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  view_->horizontalHeader()->setStretchLastSection(true);
  const int ch = view_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
  const int widths[TMonitorModel::colCount] = {16, 9, 15, 5, 28, 9, 24, 18, 30, 30, 8, 8, 7, 16};
  for (int c = 0; c < TMonitorModel::colCount; ++c) view_->setColumnWidth(c, widths[c] * ch + 8);
  view_->setItemDelegate(new TMonitorDelegate(view_));

  status_ = new QLabel(this);
  // A long status line is cut, never widens the window.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  FunctionBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  FunctionBox->setMinimumContentsLength(16);

  auto* filters = new QHBoxLayout;
  filters->addWidget(ErrorsOnly);
  filters->addWidget(FunctionBox);
  filters->addWidget(AddressEdit, 1);
  filters->addWidget(NameEdit, 1);
  auto* actions = new QHBoxLayout;
  actions->addWidget(PauseButton);
  actions->addWidget(copy);
  actions->addWidget(csv);
  actions->addWidget(trace);
  actions->addWidget(clear);
  actions->addStretch(1);
  // Listening has a row of its own, so that the window fits a small screen at 2x.
  auto* listen = new QHBoxLayout;
  listen->addWidget(new QLabel(tr("Listen only:"), this));
  listen->addWidget(ListenPort);
  listen->addWidget(ListenBaud);
  listen->addWidget(ListenParity);
  listen->addWidget(ListenButton);
  listen->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addLayout(actions);
  layout->addLayout(listen);
  layout->addWidget(view_, 1);
  layout->addWidget(status_);
  resize(1000, 500);

  connect(ErrorsOnly, &QCheckBox::toggled, this, &TMonitorForm::ApplyFilter);
  connect(FunctionBox, &QComboBox::currentIndexChanged, this, &TMonitorForm::ApplyFilter);
  connect(AddressEdit, &QLineEdit::textChanged, this, &TMonitorForm::ApplyFilter);
  connect(NameEdit, &QLineEdit::textChanged, this, &TMonitorForm::ApplyFilter);
  connect(PauseButton, &QPushButton::toggled, this, &TMonitorForm::SetPaused);
  connect(copy, &QPushButton::clicked, this, [this] { (void)CopySelection(); });
  auto* copyKey = new QShortcut(QKeySequence::Copy, view_);
  connect(copyKey, &QShortcut::activated, this, [this] { (void)CopySelection(); });
  connect(csv, &QPushButton::clicked, this, [this] { ChooseExport(true); });
  connect(trace, &QPushButton::clicked, this, [this] { ChooseExport(false); });
  connect(clear, &QPushButton::clicked, this, [this] {
    model_->Clear();
    tap_.Clear();
    ShowStatus();
  });
  connect(ListenButton, &QPushButton::toggled, this, [this](bool on) {
    if (on == Listening()) return;
    if (on) {
      if (!StartListening(ListenPort->currentData().toInt(), ListenBaud->currentData().toInt(),
                          ListenParity->currentData().toInt())) {
        const QSignalBlocker block(ListenButton);
        ListenButton->setChecked(false);
      }
    } else {
      StopListening();
    }
  });

  timer_ = new QTimer(this);
  timer_->setInterval(kUpdateMs);
  connect(timer_, &QTimer::timeout, this, &TMonitorForm::Update);
  ShowStatus();
}

TMonitorForm::~TMonitorForm() {
  StopListening();
}

void TMonitorForm::showEvent(QShowEvent* event) {
  if (!placed_) {
    // A first showing fits the screen it is on, however small.
    placed_ = true;
    if (const QScreen* screen = this->screen()) {
      const QRect room = screen->availableGeometry();
      resize(std::min(width(), room.width() * 9 / 10), std::min(height(), room.height() * 8 / 10));
    }
  }
  // Recording costs the line nothing while nobody looks: it runs while the window is open.
  if (!watch_) watch_ = std::make_unique<vx::MBTapWatch>(tap_);
  timer_->start();
  Update();
  QWidget::showEvent(event);
}

void TMonitorForm::hideEvent(QHideEvent* event) {
  timer_->stop();
  if (!Listening()) watch_.reset();
  QWidget::hideEvent(event);
}

void TMonitorForm::Update() {
  if (listenThread_ && listenResult_.load() != 1) {
    // The listening thread ended by itself: the port failed.
    const int32_t rc = listenResult_.load();
    StopListening();
    if (rc != 0)
      status_->setText(
          tr("Listening stopped: %1").arg(vx::ToQString(TkoMBThread::GetErrorText(rc))));
  }
  if (paused_) return;
  std::vector<vx::MBTapRecord> batch;
  const uint64_t newest = tap_.LastSeq();
  if (newest <= lastSeq_) {
    if (newest < lastSeq_) lastSeq_ = newest;
    return;
  }
  // Records that left the ring while the window was paused or hidden are counted.
  const uint64_t wanted = newest - lastSeq_;
  tap_.CopySince(lastSeq_, batch);
  if (batch.size() < wanted) lost_ += wanted - batch.size();
  if (!batch.empty()) lastSeq_ = batch.back().seq;
  const bool follow =
      view_->verticalScrollBar() == nullptr ||
      view_->verticalScrollBar()->value() >= view_->verticalScrollBar()->maximum() - 1;
  model_->Append(batch);
  if (follow) view_->scrollToBottom();
  ShowStatus();
}

void TMonitorForm::SetPaused(bool paused) {
  paused_ = paused;
  if (PauseButton->isChecked() != paused) {
    const QSignalBlocker block(PauseButton);
    PauseButton->setChecked(paused);
  }
  PauseButton->setText(paused ? tr("Resume") : tr("Pause"));
  if (!paused) {
    Update();
    view_->scrollToBottom();
  }
  ShowStatus();
}

void TMonitorForm::ApplyFilter() {
  int from = -1, to = -1;
  const bool rangeOk = ParseRange(AddressEdit->text(), from, to);
  QPalette pal = AddressEdit->palette();
  pal.setColor(QPalette::Text,
               rangeOk ? palette().color(QPalette::Text)
                       : vx::FitText(QColor(190, 0, 0), palette().color(QPalette::Base)));
  AddressEdit->setPalette(pal);
  if (!rangeOk) from = to = -1;
  filter_->SetFilter(ErrorsOnly->isChecked(), FunctionBox->currentData().toInt(), from, to,
                     NameEdit->text());
  view_->scrollToBottom();
  ShowStatus();
}

void TMonitorForm::ShowStatus() {
  QString text = tr("%1 exchanges, %2 shown").arg(model_->rowCount()).arg(filter_->rowCount());
  if (lost_ > 0) text += tr(", %1 dropped by the ring while paused or hidden").arg(lost_);
  if (paused_) text += tr(" - paused (still recording)");
  if (Listening()) text += tr(" - listening on %1").arg(ListenPort->currentText());
  status_->setText(text);
}

QString TMonitorForm::CopySelection() const {
  QModelIndexList rows = view_->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList lines;
  for (const QModelIndex& i : rows) lines << model_->TabLine(filter_->mapToSource(i).row());
  const QString text = lines.join(QLatin1Char('\n'));
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
  return text;
}

namespace {

QString WriteAll(const QString& path, const QString& text) {
  const char* step = nullptr;
  const QByteArray bytes = text.toUtf8();
  const int err = vx::WriteFileAtomically(
      path.toStdString(),
      std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), &step);
  if (err == 0) return QString();
  return QStringLiteral("%1: %2 (%3)")
      .arg(path, QString::fromLocal8Bit(std::strerror(err)),
           QString::fromLatin1(step ? step : "write"));
}

}  // namespace

QString TMonitorForm::ExportCsv(const QString& path) const {
  QString text = model_->CsvHeader() + QLatin1Char('\n');
  for (int r = 0; r < model_->rowCount(); ++r) text += model_->CsvLine(r) + QLatin1Char('\n');
  return WriteAll(path, text);
}

QString TMonitorForm::ExportTrace(const QString& path) const {
  QString text;
  for (int r = 0; r < model_->rowCount(); ++r) text += model_->TraceLine(r) + QLatin1Char('\n');
  return WriteAll(path, text);
}

void TMonitorForm::ChooseExport(bool csv) {
  const QString path =
      csv ? QFileDialog::getSaveFileName(this, tr("Export CSV"), QString(), tr("CSV files (*.csv)"))
          : QFileDialog::getSaveFileName(this, tr("Export trace"), QString(),
                                         tr("Text files (*.txt)"));
  if (path.isEmpty()) return;
  const QString error = csv ? ExportCsv(path) : ExportTrace(path);
  if (!error.isEmpty()) QMessageBox::warning(this, windowTitle(), tr("Cannot write %1").arg(error));
}

bool TMonitorForm::StartListening(int comPort, int baudRate, int parity) {
  if (Listening()) StopListening();
  const std::string path = vx::ComPortPath(comPort);
  auto listener = std::make_shared<vx::MBListener>();
  vx::MBSerialSettings settings;
  settings.baudRate = baudRate;
  settings.parity = parity;
  std::string error;
  if (path.empty() || !listener->Open(path, settings, "COM" + std::to_string(comPort), &error)) {
    if (error.empty()) error = "COM" + std::to_string(comPort) + " is not a serial port";
    status_->setText(tr("Cannot listen: %1").arg(vx::ToQString(error)));
    return false;
  }
  if (!watch_) watch_ = std::make_unique<vx::MBTapWatch>(tap_);
  stopListening_ = false;
  listenResult_ = 1;  // running
  listenThread_.emplace([this, listener] {
    const int32_t rc = listener->Run([this] { return stopListening_.load(); },
                                     [this](const vx::MBTapRecord& r) { tap_.Record(r); });
    listenResult_ = rc;
  });
  {
    const QSignalBlocker block(ListenButton);
    ListenButton->setChecked(true);
  }
  ListenPort->setCurrentIndex(comPort - 1);
  for (QWidget* w : {static_cast<QWidget*>(ListenPort), static_cast<QWidget*>(ListenBaud),
                     static_cast<QWidget*>(ListenParity)})
    w->setEnabled(false);
  ShowStatus();
  return true;
}

void TMonitorForm::StopListening() {
  if (!listenThread_) return;
  stopListening_ = true;
  listenThread_->join();
  listenThread_.reset();
  if (ListenButton) {
    const QSignalBlocker block(ListenButton);
    ListenButton->setChecked(false);
    for (QWidget* w : {static_cast<QWidget*>(ListenPort), static_cast<QWidget*>(ListenBaud),
                       static_cast<QWidget*>(ListenParity)})
      w->setEnabled(true);
  }
  if (!isVisible()) watch_.reset();
  ShowStatus();
}
