#pragma once
#include <QAction>
#include <QMenu>
#include <QWidget>
#include <string>

#include "graph/graph.h"

class TkoDeviceVX310;
class QCloseEvent;
class QContextMenuEvent;
class QMouseEvent;
class QPaintEvent;
class QResizeEvent;
class QShowEvent;

// The oscilloscope window: motor speed over position, motor current with its two limits,
// and DC-bus voltage over time, each series holding its last 320 samples. The connection
// supervisor feeds it after every completed actual-state read, shown or not; it renders
// only while shown. A click on a diagram brings it to the large area below; the popup
// menu ("Reset / Restart", Ctrl+R) clears the series.
//
// Created hidden and kept for the program's life: closing only hides it and stores its
// position and size in the settings file.
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

 private:
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
};
