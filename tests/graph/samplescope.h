#pragma once
#include <algorithm>
#include <cmath>

#include "graph/graph.h"
#include "regmodel/numberformat.h"

namespace vxtest {

// Three diagrams set up as the oscilloscope window sets them up, fed with `samples`
// samples 100 ms apart: speed over position (top right), motor current with its limit
// markers (top left) and DC-bus voltage over time (the large area below).
struct SampleScope {
  TkoGraph graph;
  TkoGraphDiagram* speedPos = nullptr;
  TkoGraphDiagram* current = nullptr;
  TkoGraphDiagram* dcBus = nullptr;

  SampleScope(int width, int height, int samples) {
    const QColor silver(192, 192, 192), gray(128, 128, 128), blue(0, 0, 255), green(0, 255, 0),
        red(255, 0, 0), magenta(255, 0, 255);
    const double second = 1.0 / 86400;
    const double now = vx::Now();

    const auto diagram = [&](const char* name, bool autoY, QColor back) {
      TkoGraphDiagram* d = graph.AddDgr(name);
      d->AutoRangeY = autoY;
      d->BackColor = back;
      d->PlotColor = silver;
      d->Title.Font.Size = -12;
      d->Title.SetVisible(true);
      return d;
    };
    const auto scale = [&](TkoGraphScala* s, const char* title, bool titleVisible, double step,
                           const char* picture, bool time) {
      s->TextFormat.SetText(title);
      s->TextFormat.SetVisible(titleVisible);
      s->Step = step;
      s->LabelFormat.SetText(picture);
      s->TimeLabels = time;
      s->GridFormat.Pen.Color = gray;
    };
    const auto trace = [&](TkoGraphDiagram* d, const char* name, QColor color, int width) {
      TkoGraphTraccia* t = d->AddTraccia(name);
      t->LineFormat.Pen.Color = color;
      t->LineFormat.Pen.Width = width;
      t->LineFormat.Brush.SetColor(silver);
      return t;
    };
    const auto marker = [&](TkoGraphDiagram* d, const char* name, const char* picture, QColor color,
                            Qt::PenStyle style, std::uint8_t head, std::uint8_t axes) {
      TkoGraphMarker* m = d->AddMarker(name);
      m->LabelFormat.SetText(picture);
      m->LineFormat.Pen = {color, style, 1, vx::PenMode::Copy};
      m->LineFormat.Brush.SetColor(color);
      m->HeadStyle = head;
      m->Axes = axes;
      m->Position = {0, 0};
      return m;
    };

    speedPos = diagram("Speed vs Position", true, QColor(172, 203, 253));
    scale(speedPos->ScaleX(), "Position", true, 1000, "#,##0", false);
    scale(speedPos->ScaleY(), "Speed", true, 0.1, "0.00", false);
    TkoGraphTraccia* sp = trace(speedPos, "SpeedPos", blue, 1);
    TkoGraphMarker* spMarker =
        marker(speedPos, "SpeedPos", "#,##0", blue, Qt::DotLine, TkoGraphMarker::kHeadArrow, 3);

    current = diagram("Current", false, QColor(134, 179, 253));
    scale(current->ScaleX(), "Samples", false, 10 * second, "0.00", true);
    scale(current->ScaleY(), "[A]", true, 5, "00.0", false);
    current->ScaleY()->Max = 20;
    TkoGraphTraccia* iAct = trace(current, "IAct", green, 2);
    TkoGraphMarker* iActMarker =
        marker(current, "IAct", "00.0", green, Qt::DotLine, TkoGraphMarker::kHeadArrow, 2);
    TkoGraphMarker* iMax =
        marker(current, "IMax", "00.0", red, Qt::DashLine, TkoGraphMarker::kHeadRightHalfArrow, 2);
    TkoGraphMarker* iNom =
        marker(current, "INom", "00.0", blue, Qt::DashLine, TkoGraphMarker::kHeadRightHalfArrow, 2);

    dcBus = diagram("DcBus", false, QColor(4, 81, 208));
    scale(dcBus->ScaleX(), "Samples", false, 10 * second, "0.00", true);
    scale(dcBus->ScaleY(), "[V]", true, 100, "000.0", false);
    dcBus->ScaleY()->Max = 700;
    TkoGraphTraccia* volt = trace(dcBus, "Volt", magenta, 2);
    TkoGraphMarker* act =
        marker(dcBus, "Act", "000.0", magenta, Qt::DotLine, TkoGraphMarker::kHeadArrow, 2);

    for (int i = 0; i < samples; ++i) {
      const double t = now + i * 0.1 * second;
      const double phase = i / 40.0;
      const double v = 560 + 25 * std::sin(phase * 1.7) - (i > samples / 2 ? 40 : 0);
      volt->AddPoint(t, v, volt->Count() >= 320);
      dcBus->ScaleY()->Max = std::max(0.0, 1.1 * volt->RangeY().Max);
      dcBus->ScaleY()->Min = std::min(0.0, 1.1 * volt->RangeY().Min);
      act->Position = {t, v};

      const double pos = 180.0 * i + 4000 * std::sin(phase);
      const double speed = 1500 * std::sin(phase) + 200;
      sp->AddPoint(pos, speed, sp->Count() >= 320);
      spMarker->Position = {pos, speed};

      const double amps = 6 + 4 * std::sin(phase * 2.3) + (i % 7) * 0.2;
      iAct->AddPoint(t, amps, iAct->Count() >= 320);
      iActMarker->Position = {t, amps};
      current->ScaleY()->Max = 1.3 * std::max(iNom->Position.Y, iAct->RangeY().Max);
      current->ScaleY()->Min = -0.1;
      iMax->Position = {t, 15.0};
      iNom->Position = {t, 9.5};
    }
    Place(width, height);
  }

  // The window's arrangement: list position 2 below, 1 top left, 0 top right.
  void Place(int width, int height) {
    graph.Bounds = {0, 0, width, height};
    if (TkoGraphDiagram* d = graph.GetDgr(2)) d->OuterRect = {0, 100, width, height};
    if (TkoGraphDiagram* d = graph.GetDgr(1)) d->OuterRect = {0, 0, width / 2, 100};
    if (TkoGraphDiagram* d = graph.GetDgr(0)) d->OuterRect = {width / 2, 0, width, 100};
  }
};

}  // namespace vxtest
