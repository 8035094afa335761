#pragma once
// A VX310 drive object on the shipped data model without a line, and the setup window
// bound to it, for the tests of the setup window, its files and its report.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/apptest.h"
#include "app/setupwin.h"
#include "devices/devicesetup.h"
#include "devices/vx310.h"
#include "platform/queuedispatcher.h"
#include "regmodel/dmcollection.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"
#include "regmodel/versionrecord.h"

namespace vxtest {

// The shipped model, loaded once per test: the window writes descriptions and limits
// into its definitions, which must not leak from one test into the next.
class OfflineDrive {
 public:
  // `without`: "[Parameters]" entries taken out of the model before the drive is made.
  explicit OfflineDrive(const std::vector<std::string>& without = {}) {
    if (shipped_.model == nullptr) throw std::runtime_error("no VX310v220 data model");
    for (const std::string& key : without)
      if (shipped_.model->FindKey("Parameters", key))
        shipped_.model->Delete(shipped_.model->CurrentLine);
    drive_ = std::make_unique<TkoDeviceVX310>(&shipped_.setup, &shipped_.version, shipped_.model);
    // A drive fresh from the factory: every register at its default.
    for (int i = 0; i < drive_->RegisterCount(); ++i) {
      TkoRegister* reg = drive_->RegisterByIndex(i);
      if (!reg->Definition()->IsString()) reg->AssignDefault(-1, 0);
    }
    // The hardware ranges a setup read brings, which bound the motor data: without them
    // the motor currents and speed have no room above 0.
    drive_->ParCurrRangeMax->SetValue(8);
    drive_->ParSpeedRangeMax->SetValue(3000);
    for (TkoParValue* p : {drive_->ParMotorIrA, drive_->ParMotorIpA, drive_->ParMotorSrRPM})
      p->AssignDefault();
  }
  TkoDeviceVX310& Drive() { return *drive_; }
  TkoRegDefsList& Model() { return *shipped_.model; }
  void Destroy() { drive_.reset(); }

  // Every register's text, one line each: compares whole images.
  std::string Snapshot() const {
    TkoTextResource r;
    for (int i = 0; i < drive_->RegisterCount(); ++i)
      drive_->RegisterByIndex(i)->SaveToResource("S", &r);
    return r.Text();
  }

 private:
  ShippedVX310 shipped_;
  std::unique_ptr<TkoDeviceVX310> drive_;
};

// The setup window on an offline drive, its log lines collected.
class SetupWindowTest : public ::testing::Test {
 protected:
  SetupWindowTest() {
    App();
    form.Device = [this]() -> TkoDeviceVX310* { return connected ? &drive.Drive() : nullptr; };
    form.Log = [this](const std::string& line) { log.push_back(line); };
  }
  TkoDeviceVX310& D() { return drive.Drive(); }

  OfflineDrive drive;
  bool connected = true;
  std::vector<std::string> log;
  FakeDialogs dialogs;
  TSetupForm form;
};

}  // namespace vxtest
