// Shows parameters of the shipped VX310 data model in the bound controls, the way the
// drive setup window lays them out, and saves a picture of the window. Not shipped: a
// look at the controls for a person's eye.
//
//   paramui_demo OUT.png [--edit|--popup]     (run under xvfb-run for real fonts)
//
// --edit opens the in-place editor on a row; --popup also drops its choice list down
// and takes the picture from the screen, where the list is a window of its own.

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "params/parbuild.h"
#include "params/parencoded.h"
#include "paramui/kocheckbox.h"
#include "paramui/kocombobox.h"
#include "paramui/koradiogroup.h"
#include "paramui/userinterfaceutils.h"
#include "regmodel/dmcollection.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/versionrecord.h"

namespace {

struct Entry {
  const char* name;  // null: a separator
  TkoParKind kind;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.png [--edit|--popup]\n", argv[0]);
    return 2;
  }
  const bool popup = argc > 2 && std::strcmp(argv[2], "--popup") == 0;
  const bool edit = popup || (argc > 2 && std::strcmp(argv[2], "--edit") == 0);
  QApplication app(argc, argv);

  TkoDMCollection collection;
  collection.SetFilePath(std::string(VX_SOURCE_DIR) + "/models");
  const TkoVersionRecord version("VX310v220");
  TkoRegDefsList* model = collection.FindRegDefsListFor(&version);
  if (model == nullptr) {
    std::fprintf(stderr, "no data model for VX310v220 in %s/models\n", VX_SOURCE_DIR);
    return 1;
  }
  TkoRegDataBuffer drive(model);
  // A drive fresh from the factory: every register at its default.
  for (int i = 0; i < drive.RegisterCount(); ++i) {
    TkoRegister* reg = drive.RegisterByIndex(i);
    if (!reg->Definition()->IsString()) reg->AssignDefault(-1, 0);
  }

  std::vector<std::unique_ptr<TkoParValue>> pars;
  auto build = [&](const char* name, TkoParKind kind) -> TkoParValue* {
    pars.push_back(vx::BuildParameter(kind, name, *model, drive));
    if (!pars.back()) std::fprintf(stderr, "no parameter %s\n", name);
    return pars.back().get();
  };

  QWidget window;
  window.setWindowTitle("VX310 Setup");
  auto* layout = new QVBoxLayout(&window);
  auto* top = new QHBoxLayout();
  auto* refSource = new TkoRadioGroup(&window);
  auto* rampStop = new TkoRadioGroup(&window);
  top->addWidget(refSource);
  top->addWidget(rampStop);
  layout->addLayout(top);
  auto* useRamp = new TkoCheckBox(&window);
  layout->addWidget(useRamp);
  auto* list = new QTreeWidget(&window);
  layout->addWidget(list);
  layout->addStretch();

  TkoUserInterfaceUtils binder(&window);
  auto* ref = dynamic_cast<TkoParEncoded*>(build("CfgRefSource", TkoParKind::BitField));
  auto* ramp = dynamic_cast<TkoParBoolField*>(build("CfgUseRamp", TkoParKind::BoolField));
  auto* stop = dynamic_cast<TkoParEncoded*>(build("CfgRampStopMode", TkoParKind::BitField));
  refSource->SetColumns(2);
  rampStop->SetColumns(2);
  binder.With(refSource, ref);
  binder.AdaptHeight();
  binder.With(rampStop, stop);
  binder.AdaptHeight();
  binder.With(useRamp, ramp);

  const Entry entries[] = {
      {"ParMotorStepRev", TkoParKind::Value},       {"ParMotorStepDiv", TkoParKind::Value},
      {"ParMotorSrRPM", TkoParKind::Value},         {nullptr, TkoParKind::Value},
      {"ParMotorIpA", TkoParKind::Value},           {"ParMotorIrA", TkoParKind::Value},
      {"ParMotorIrTimer", TkoParKind::Value},       {nullptr, TkoParKind::Value},
      {"ParMotorAccel", TkoParKind::Value},         {"ParMotorDecel", TkoParKind::Value},
      {"ParSpeedWin", TkoParKind::Value},           {"ParEncoderPulseRev", TkoParKind::Value},
      {"ParPosPGain", TkoParKind::Frac16},          {"ParPosMaxLimit", TkoParKind::Long},
      {"ParEEModBusBaudrate", TkoParKind::Encoded},
  };
  binder.With(list, {lvcValue, lvcMin, lvcMax, lvcDefault});
  TkoParValue* encoderPulses = nullptr;
  for (const Entry& e : entries) {
    if (e.name == nullptr) {
      binder.ListSep();
      continue;
    }
    TkoParValue* p = build(e.name, e.kind);
    binder.List(p);
    if (std::strcmp(e.name, "ParEncoderPulseRev") == 0) encoderPulses = p;
  }
  binder.AdaptHeight();
  // As the setup window does: encoder parameters are greyed while the encoder is off.
  binder.OnBeforeRefresh = [&](TkoUserInterfaceUtils*) {
    if (encoderPulses != nullptr) encoderPulses->Enabled = false;
  };
  binder.RefreshData();

  window.resize(640, 10);
  window.show();
  if (edit) {
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(popup ? 14 : 5));
    binder.ParEdit(list, QChar());
    if (popup) QTimer::singleShot(100, [&] { binder.Editor()->showPopup(); });
  }
  QTimer::singleShot(400, [&] {
    const QPixmap picture = popup
                                ? window.screen()->grabWindow(0, window.x(), window.y(),
                                                              window.width(), window.height() + 150)
                                : window.grab();
    const bool saved = picture.save(QString::fromLocal8Bit(argv[1]));
    if (!saved) std::fprintf(stderr, "cannot write %s\n", argv[1]);
    app.exit(saved ? 0 : 1);
  });
  return app.exec();
}
