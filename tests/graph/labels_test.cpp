// Labels of the scales, the diagram titles and the markers' value boxes never run into
// each other, at 1x and at 2x scale. The test is geometric: it takes the areas the drawing
// reports, measured with whatever fonts the machine has, and asks only that they are apart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graph/graph.h"
#include "graphtest.h"
#include "samplescope.h"

namespace {

struct Area {
  std::string what;
  vx::Rect r;
};

bool Intersect(const vx::Rect& a, const vx::Rect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

bool Empty(const vx::Rect& r) {
  return r.Width() <= 0 || r.Height() <= 0;
}

// Every text area a diagram wrote in its last drawing.
std::vector<Area> TextAreas(const TkoGraphDiagram& d) {
  std::vector<Area> out;
  const auto add = [&](const std::string& what, const vx::Rect& r) {
    if (!Empty(r)) out.push_back({d.Name() + " " + what, r});
  };
  add("title", d.TitleRect);
  for (const TkoGraphScala* s : {d.ScaleX(), d.ScaleY()}) {
    const std::string axis = s == d.ScaleX() ? "X" : "Y";
    for (const vx::Rect& r : s->LabelRects()) add(axis + " label", r);
    add(axis + " title", s->TitleArea());
  }
  for (const auto& m : d.Markers()) {
    add("marker " + m->Name() + " X box", m->LabelRectX);
    add("marker " + m->Name() + " Y box", m->LabelRectY);
  }
  return out;
}

TEST(LabelLayout, LabelsTitlesAndValueBoxesNeverOverlapAtOneAndTwoTimesScale) {
  vxtest::EnsureGuiApp();
  // Marker values that crowd the small current diagram: limits close together, the
  // present current on a limit or at the top of the range, the DC bus at its maximum.
  const struct {
    const char* name;
    double iAct, iMax, iNom, volt;
  } cases[] = {
      {"apart", 6.0, 15.0, 9.5, 560},
      {"limits one tenth apart", 9.6, 9.6, 9.5, 560},
      {"all three on one value", 9.5, 9.5, 9.5, 0},
      {"current on the range's top", 19.5, 15.0, 15.0, 620},
      {"at zero", 0.0, 0.0, 0.0, 616},
  };
  for (double dpr : {1.0, 2.0}) {
    for (const auto& size : {QSize(460, 340), QSize(300, 220), QSize(900, 600)}) {
      for (const auto& c : cases) {
        const std::string where = std::string(c.name) + " at " + std::to_string(dpr) + "x, " +
                                  std::to_string(size.width()) + "x" +
                                  std::to_string(size.height());
        vxtest::SampleScope scope(size.width(), size.height(), 120);
        const auto& cm = scope.current->Markers();  // IAct, IMax, INom
        const double t = cm[0]->Position.X;
        cm[0]->Position = {t, c.iAct};
        cm[1]->Position = {t, c.iMax};
        cm[2]->Position = {t, c.iNom};
        scope.current->ScaleY()->Max = 20;
        scope.dcBus->Markers()[0]->Position.Y = c.volt;
        scope.graph.DevicePixelRatio = dpr;
        scope.graph.RenderTo(nullptr);
        ASSERT_EQ(scope.graph.Bitmap().width(), static_cast<int>(size.width() * dpr));

        for (TkoGraphDiagram* d : {scope.speedPos, scope.current, scope.dcBus}) {
          const std::vector<Area> areas = TextAreas(*d);
          // Something to check: the end labels at least, and every marker in range.
          EXPECT_GE(areas.size(), 4u) << where << " " << d->Name();
          for (std::size_t i = 0; i < areas.size(); ++i) {
            for (std::size_t j = i + 1; j < areas.size(); ++j) {
              EXPECT_FALSE(Intersect(areas[i].r, areas[j].r))
                  << where << ": " << areas[i].what << " and " << areas[j].what;
            }
          }
        }
        // Every marker whose value is in range shows its box somewhere on its scale.
        for (const auto& m : cm) {
          EXPECT_FALSE(Empty(m->LabelRectY)) << where << " " << m->Name();
        }
      }
    }
  }
}

TEST(LabelLayout, ValueBoxesThatMeetMoveApartAlongTheirScale) {
  vxtest::EnsureGuiApp();
  vxtest::SampleScope scope(460, 340, 50);
  const auto& cm = scope.current->Markers();
  const double t = cm[0]->Position.X;
  for (const auto& m : cm) m->Position = {t, 10.0};
  scope.current->ScaleY()->Max = 20;
  scope.graph.RenderTo(nullptr);
  const int py = scope.current->ScaleY()->ToPixelY(10.0, scope.current->PlotRect);
  // The first stays at its value; the others beside it, as near as the room allows.
  EXPECT_EQ(cm[0]->LabelRectY.Top, py);
  const int h = cm[0]->LabelRectY.Height();
  for (const auto& m : cm) {
    EXPECT_EQ(m->LabelRectY.Height(), h);
    EXPECT_LE(std::abs(m->LabelRectY.Top - py), 2 * (h + 1)) << m->Name();
  }
}

}  // namespace
