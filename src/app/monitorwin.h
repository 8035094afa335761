#pragma once
#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mbwire/mbtap.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

// The exchanges of the frame tap as table rows, decoded once when they come in. Rows are
// appended in batches and the oldest dropped beyond the capacity; the model is never
// reset while it runs, so that a view keeps its place and selection.
class TMonitorModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The decoding first, the raw bytes beside it, then timing and port.
  enum Column {
    colTime,
    colDir,
    colResult,
    colSlave,
    colFunction,
    colAddresses,
    colRegisters,
    colValues,
    colRequest,
    colAnswer,
    colSilence,
    colRoundTrip,
    colGap,
    colPort,
    colCount
  };
  struct Row {
    vx::MBTapRecord Record;
    vx::MBDecoded Decoded;
    QString Time, Dir, Function, Addresses, Registers, Values, Result, Request, Answer;
  };
  // The register name at an address of a slave; empty for none.
  using Names = std::function<std::string(uint8_t slave, uint16_t address)>;

  explicit TMonitorModel(std::size_t capacity = vx::MBFrameTap::kDefaultCapacity,
                         QObject* parent = nullptr);

  void SetNames(Names names) { names_ = std::move(names); }
  void Append(const std::vector<vx::MBTapRecord>& batch);
  void Clear();
  [[nodiscard]] const Row& At(int row) const { return rows_[static_cast<std::size_t>(row)]; }
  [[nodiscard]] std::size_t Capacity() const { return capacity_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // One row as text: CSV (quoted where needed) or tab-separated.
  [[nodiscard]] QString CsvHeader() const;
  [[nodiscard]] QString CsvLine(int row) const;
  [[nodiscard]] QString TabLine(int row) const;
  // One row as a line of a plain-text trace.
  [[nodiscard]] QString TraceLine(int row) const;

 private:
  Row MakeRow(const vx::MBTapRecord& record) const;
  QString Cell(int row, int column) const;

  std::size_t capacity_;
  std::deque<Row> rows_;
  Names names_;
};

// The monitor's filters: errors only, one function, an address range, a register name.
class TMonitorFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  // -1: every function.
  void SetFilter(bool errorsOnly, int function, int addressFrom, int addressTo,
                 const QString& name);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  bool errorsOnly_ = false;
  int function_ = -1;
  int from_ = -1, to_ = -1;
  QString name_;
};

// The bus monitor: every exchange on the line, decoded with the drive's register names,
// following live unless paused, filtered, copied and exported. It can also listen to a
// serial line without sending and show the traffic of another master.
class TMonitorForm : public QWidget {
  Q_OBJECT

 public:
  explicit TMonitorForm(vx::MBFrameTap& tap = vx::MBFrameTap::Global(), QWidget* parent = nullptr);
  ~TMonitorForm() override;

  // Register names from the drive's data model; set by start-up.
  void SetNames(TMonitorModel::Names names) { model_->SetNames(std::move(names)); }
  // Takes in what the tap has recorded since the last update (the timer does this ten
  // times a second while the window is shown and not paused).
  void Update();
  void SetPaused(bool paused);
  [[nodiscard]] bool Paused() const { return paused_; }
  // Starts listening on a COM port, or stops; false with the reason shown when the port
  // cannot be opened.
  bool StartListening(int comPort, int baudRate, int parity);
  void StopListening();
  [[nodiscard]] bool Listening() const { return listenThread_.has_value(); }

  // The whole ring (not only the rows the filter shows) to a file, written atomically;
  // empty on success, else why not.
  QString ExportCsv(const QString& path) const;
  QString ExportTrace(const QString& path) const;
  // The selected rows as tab-separated text, also put on the clipboard.
  QString CopySelection() const;

  TMonitorModel* Model() const { return model_; }
  TMonitorFilter* Filter() const { return filter_; }
  QTableView* View() const { return view_; }
  QCheckBox* ErrorsOnly = nullptr;
  QComboBox* FunctionBox = nullptr;
  QLineEdit* AddressEdit = nullptr;
  QLineEdit* NameEdit = nullptr;
  QPushButton* PauseButton = nullptr;
  QComboBox* ListenPort = nullptr;
  QComboBox* ListenBaud = nullptr;
  QComboBox* ListenParity = nullptr;
  QPushButton* ListenButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void ApplyFilter();
  void ChooseExport(bool csv);
  void ShowStatus();

  vx::MBFrameTap& tap_;
  std::unique_ptr<vx::MBTapWatch> watch_;
  TMonitorModel* model_;
  TMonitorFilter* filter_;
  QTableView* view_;
  QTimer* timer_;
  QLabel* status_;
  uint64_t lastSeq_ = 0;
  uint64_t lost_ = 0;  // records that left the ring before the window took them
  bool paused_ = false;
  bool placed_ = false;
  std::atomic<bool> stopListening_{false};
  std::optional<std::thread> listenThread_;
  std::atomic<int32_t> listenResult_{0};
};
