#pragma once
#include <QAction>
#include <QMenu>
#include <QWidget>
#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "graph/graph.h"

class TkoDeviceVX310;
class QCloseEvent;
class QContextMenuEvent;
class QMouseEvent;
class QPaintEvent;
class QResizeEvent;
class QShowEvent;
class QEvent;
class QPainter;

// The oscilloscope window: motor speed over position, motor current with its two limits,
// and DC-bus voltage over time, each series holding its last 320 samples. The connection
// supervisor feeds it after every completed actual-state read, shown or not; it renders
// only while shown. A click on a diagram brings it to the large area below; the popup
// menu ("Reset / Restart", Ctrl+R) clears the series.
//
// Created hidden and kept for the program's life: closing only hides it and stores its
// position and size in the settings file.
//
// The engineer's tools (popup menu and keys): "Pause" freezes the traces while the samples
// keep coming into a background ring, added on resume; a cursor under the mouse reads the
// time and value of every trace there; markers A and B (keys A and B) show what changed
// between two moments; the visible data go to CSV and the picture to PNG or SVG.
//
// It draws only what changed: nothing while hidden, minimised or paused, and of the three
// diagrams only those whose data, ranges or places moved.
class TScopeForm : public QWidget {
 public:
  // Points a series keeps.
  static constexpr int kMaxPoints = 320;
  // Client size when the settings file holds none.
  static constexpr int kDesignWidth = 460;
  static constexpr int kDesignHeight = 341;

  // `settingsFile` is the start directory + "VX310_ConfigTerm.ini"; its section
  // "ScopeForm" gives the geometry. An empty name, a missing or unreadable file leave the
  // design geometry.
  explicit TScopeForm(const std::string& settingsFile, QWidget* parent = nullptr);
  ~TScopeForm() override;
  TScopeForm(const TScopeForm&) = delete;
  TScopeForm& operator=(const TScopeForm&) = delete;

  // --- Feed operations, in the order the supervisor calls them. t is the completed read's
  // time stamp in days (local date and time). ---
  // Appends (t, v) to "Volt"; the "DcBus" Y range becomes 1.1 x the values kept, always
  // including 0; the "Act" marker goes to (t, v).
  void AddDcBus(double t, double v);
  // Appends (position, speed) to "SpeedPos" and moves its marker there.
  void AddSpeedPos(double x, double s);
  // Appends (t, i) to "IAct" and moves its marker there; the "Current" Y range becomes
  // -0.1 to 1.3 x the larger of the nominal current marker and the largest value kept.
  void AddCurrent(double t, double i);
  // The two current limit lines ("IMax" red, "INom" blue); the feed of a drive passes
  // ParMotorIrA to SetIMax and ParMotorIpA to SetINom.
  void SetIMax(double t, double i);
  void SetINom(double t, double i);
  // Places the diagrams (the last of the list in the large area below, the one before it
  // top left, the first top right), renders them and repaints the window.
  void PaintScope();

  // The whole feed of one completed actual-state read of `drive`: the five operations
  // with its DC-bus voltage, actual position and speed, motor current and the two current
  // limits, then PaintScope when the window is visible. A member the data model does not
  // provide skips the operation that needs it; a null drive does nothing.
  void FeedActState(const TkoDeviceVX310* drive, double timeStamp);

  // "Reset / Restart": clears the three series; markers and ranges stay until the next
  // sample.
  void ResetStart1Click();
  // The drive has stopped answering: each series gets a gap, so that the samples from
  // after its return are not joined to those from before by a line of values that were
  // never measured. A series that ends in a gap already, or is empty, is left.
  void BreakTraces();
  // Selects the diagram under the client point (and the element there), brings it to the
  // front and repaints.
  void FormClick(const QPoint& clientPos);

  // --- Tools ---
  // Paused: the traces stand still; the feed goes on into a background ring (the last
  // samples of each series, as many as a series holds) that resume adds to the traces.
  [[nodiscard]] bool Paused() const { return paused_; }
  void SetPaused(bool paused);
  // The cursor at a client point (none when it lies in no plot): a line across the plots
  // of the same horizontal quantity and a box with the values there.
  void SetCursorAt(const QPoint& clientPos);
  void ClearCursor();
  // The cursor's box, line by line: the time (or position) and each trace's value at the
  // sample nearest to it. Empty without a cursor.
  [[nodiscard]] QStringList CursorReadout() const;
  // Marker A (0) or B (1) at the time (or position) under the client point; false when
  // the point lies in no plot. A marker set in a time diagram stands in both; setting one
  // on the other quantity than its partner removes the partner.
  bool SetMarkerAt(int which, const QPoint& clientPos);
  void ClearMarkers();
  // Both markers and the differences between them, line by line; empty unless both are set.
  [[nodiscard]] QStringList MarkerReadout() const;
  // The marker elements of a diagram (the graph owns them).
  [[nodiscard]] TkoGraphMarker* MarkerOf(const TkoGraphDiagram* diagram, int which) const;

  // The samples shown, one row per read: time, then one column per quantity with its unit
  // in the header. Written atomically; an error text, empty on success.
  [[nodiscard]] std::string ExportCsv(const std::string& file);
  // The picture as shown (markers and their differences included, the mouse cursor not):
  // SVG for a ".svg" name, else PNG at the screen's resolution. An error text, empty on
  // success.
  [[nodiscard]] std::string ExportPicture(const std::string& file);
  // Asked for the name of a file to write; empty: cancelled. Unset: the standard dialog.
  std::function<QString(const QString& caption, const QString& filter)> AskSaveFileName;

  QAction* acPause() const { return acPause_; }
  QAction* acMarkerA() const { return acMarker_[0]; }
  QAction* acMarkerB() const { return acMarker_[1]; }
  QAction* acClearMarkers() const { return acClearMarkers_; }
  QAction* acExportData() const { return acExportData_; }
  QAction* acExportPicture() const { return acExportPicture_; }

  TkoGraph* koGraph() const { return graph_; }
  QMenu* pmnScope() const { return menu_; }
  QAction* ResetStart1() const { return resetStart_; }

  // The elements built at construction; the graph owns them.
  TkoGraphDiagram* SpeedPosDiagram() const { return dgrSpeedPos_; }
  TkoGraphDiagram* CurrentDiagram() const { return dgrCurrent_; }
  TkoGraphDiagram* DcBusDiagram() const { return dgrDcBus_; }
  TkoGraphTraccia* SpeedPosTrace() const { return trcSpeedPos_; }
  TkoGraphTraccia* CurrentTrace() const { return trcCurrent_; }
  TkoGraphTraccia* VoltTrace() const { return trcVolt_; }
  TkoGraphMarker* SpeedPosMarker() const { return mrkSpeedPos_; }
  TkoGraphMarker* CurrentMarker() const { return mrkCurrent_; }
  TkoGraphMarker* IMaxMarker() const { return mrkIMax_; }
  TkoGraphMarker* INomMarker() const { return mrkINom_; }
  TkoGraphMarker* VoltMarker() const { return mrkVolt_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // One call of a feed operation, kept while paused.
  struct Held {
    enum Kind { kDcBus, kSpeedPos, kCurrent, kIMax, kINom, kGap } kind;
    double t, a, b;
  };
  // A horizontal quantity: time (the current and DC-bus diagrams) or position.
  enum class Axis { kTime, kPosition };

  void CreateTools();
  void Hold(const Held& held);
  void Replay();
  void AddGap();
  // Whether the window is on screen: shown, not minimised and exposed.
  [[nodiscard]] bool Showing() const;
  [[nodiscard]] Axis AxisOf(const TkoGraphDiagram* d) const;
  // The front-most diagram whose plot holds the point.
  [[nodiscard]] TkoGraphDiagram* PlotAt(const QPoint& p) const;
  // The traces read on a quantity, with their captions, units and pictures.
  struct Channel {
    const TkoGraphTraccia* trace;
    const char* caption;
    const char* unit;
    const char* picture;
  };
  [[nodiscard]] std::vector<Channel> ChannelsOn(Axis axis) const;
  // The sample of a time trace nearest to t (within a few read cycles), or of the
  // position trace nearest to the position.
  [[nodiscard]] std::optional<Tko2DPoint> SampleAt(const TkoGraphTraccia* trace, double x) const;
  [[nodiscard]] QString XText(Axis axis, double x) const;
  void PlaceMarkers();
  void DrawOverlay(QPainter& painter, bool withCursor) const;
  void DrawBox(QPainter& painter, const QStringList& lines, QPoint at, bool keepLeft) const;
  void ExportDataExecute();
  void ExportPictureExecute();
  QString AskFile(const QString& caption, const QString& filter);
  void BuildDiagrams();
  void ReadGeometry();
  // Stores the geometry of the normal window state.
  void FormClose();
  void PlaceDiagrams();

  std::string settingsFile_;
  TkoGraph* graph_ = nullptr;
  QMenu* menu_ = nullptr;
  QAction* resetStart_ = nullptr;
  TkoGraphDiagram* dgrSpeedPos_ = nullptr;
  TkoGraphDiagram* dgrCurrent_ = nullptr;
  TkoGraphDiagram* dgrDcBus_ = nullptr;
  TkoGraphTraccia* trcSpeedPos_ = nullptr;
  TkoGraphTraccia* trcCurrent_ = nullptr;
  TkoGraphTraccia* trcVolt_ = nullptr;
  TkoGraphMarker* mrkSpeedPos_ = nullptr;
  TkoGraphMarker* mrkCurrent_ = nullptr;
  TkoGraphMarker* mrkIMax_ = nullptr;
  TkoGraphMarker* mrkINom_ = nullptr;
  TkoGraphMarker* mrkVolt_ = nullptr;

  QAction* acPause_ = nullptr;
  std::array<QAction*, 2> acMarker_{};
  QAction* acClearMarkers_ = nullptr;
  QAction* acExportData_ = nullptr;
  QAction* acExportPicture_ = nullptr;

  bool paused_ = false;
  // Samples came in while the window was not on screen: the bitmap is behind them.
  bool stale_ = false;
  std::deque<Held> held_;
  // Time stamps of the position trace's points (its X is the position), for the export.
  std::deque<double> speedPosTimes_;
  double lastTime_;  // of the last sample fed, NaN before the first
  std::optional<QPoint> cursor_;
  QPoint menuPos_;  // where the popup menu was opened
  bool menuOpen_ = false;
  // Markers A and B: the quantity they stand on and their value there.
  std::array<std::optional<double>, 2> markerX_{};
  Axis markerAxis_ = Axis::kTime;
};
