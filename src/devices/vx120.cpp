#include "devices/vx120.h"

#include <iterator>
#include <string>

#include "regmodel/register.h"

namespace {

// Sets the constant part of an existing bound of the parameter's register.
void SetBoundValue(TkoParValue* par, bool max, double value) {
  if (!par || !par->Register) return;
  TkoRegBound* bound = max ? par->Register->MaxBound() : par->Register->MinBound();
  if (bound) bound->Value = value;
}

}  // namespace

TkoDeviceVX120::TkoDeviceVX120(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                               TkoRegDefsList* dataModel)
    : TkoDeviceVXSlave(setup, version, dataModel) {
  auto value = [this](const char* reg) {
    return KeepParameter<TkoParValue>(std::string(reg) + ",0");
  };
  auto bit = [this](const char* reg, int b) {
    return KeepParameter<TkoParBoolField>(std::string(reg) + ",0," + std::to_string(b));
  };
  for (int b = 0; b < 3; ++b) HwInput[b] = bit("Input", b);
  ParMainsVoltage = value("MainsVoltage");
  ParMotorINom = value("MotorINom");
  ParMotorIMax = value("MotorIMax");
  ParMotorTMax = value("MotorTMax");
  ParVoltStart = value("VoltStart");
  ParVoltBoost = value("VoltBoost");
  ParVoltBase = value("VoltBase");
  ParOmegaBoost = value("OmegaBoost");
  ParOmegaBase = value("OmegaBase");
  ParOmegaMinMotor = value("OmegaMinMotor");
  ParOmegaMaxMotor = value("OmegaMaxMotor");
  ParOmegaRef = value("OmegaRef");
  ParAccel = value("Accel");
  ParDecel = value("Decel");
  for (int b = 0; b < 7; ++b) CfgUserOption[b] = bit("UserOption", b);
  ParPwmFreq = KeepParameter<TkoParEncoded>("PwmFreq,0");
  for (int b = 0; b < 3; ++b) CmdVirtualInput[b] = bit("VirtualInput", b);
  ParVirtualInput = value("VirtualInput");
  ParComTimer = value("ComTimer");
  ParPrevFaultState = value("PrevFaultState");
  ParActFaultState = value("ActFaultState");
  ParApplicationMode = KeepParameter<TkoParEncoded>("ApplicationMode,0");
  ParHWLimitVolt = value("HWLimitVolt");
  const char* const masks[] = {"0x000F", "0x00F0", "0x0F00"};
  for (int i = 0; i < 3; ++i)
    ParHardwareType[i] = KeepParameter<TkoParBitField>(std::string("HardwareType,0,") + masks[i]);
  ParU_Dc_BusV = value("u_dc_busV");
  ParOmegaAct = value("OmegaAct");
  ParVoltAct = value("VoltAct");
  ParI_PhaseFilt = value("i_phase_filt");
  ParARef1 = KeepParameter<TkoParFrac16>("ARef1,,0");

  vx::TieMax(ParMainsVoltage, ParHWLimitVolt);
  vx::TieMax(ParMotorINom, ParMotorIMax);
  vx::TieMin(ParMotorIMax, ParMotorINom);
  vx::TieMax(ParVoltStart, ParVoltBoost);
  vx::TieMin(ParVoltBoost, ParVoltStart);
  vx::TieMax(ParVoltBoost, ParVoltBase);
  vx::TieMin(ParVoltBase, ParVoltBoost);
  vx::TieMax(ParOmegaBoost, ParOmegaBase);
  vx::TieMin(ParOmegaBase, ParOmegaBoost);
  vx::TieMin(ParOmegaRef, ParOmegaMinMotor);
  vx::TieMax(ParOmegaRef, ParOmegaMaxMotor);
  vx::TieMax(ParOmegaMinMotor, ParOmegaMaxMotor);
  vx::TieMin(ParOmegaMaxMotor, ParOmegaMinMotor);
}

bool TkoDeviceVX120::MaxCurrentFor(int index, double* value) {
  static const double kTable[] = {12.0, 25.0};
  if (index < 0 || index >= static_cast<int>(std::size(kTable))) return false;
  *value = kTable[index];
  return true;
}

bool TkoDeviceVX120::MinTopSpeedFor(int index, double* value) {
  static const double kTable[] = {128.0, 400.0};
  if (index < 0 || index >= static_cast<int>(std::size(kTable))) return false;
  *value = kTable[index];
  return true;
}

void TkoDeviceVX120::DoSetupRead() {
  // A power stage the tables do not know keeps the limits of the data model.
  double v = 0;
  if (ParHardwareType[1] && MaxCurrentFor(ParHardwareType[1]->GetField(), &v))
    SetBoundValue(ParMotorIMax, true, v);
  if (ParHardwareType[2] && MinTopSpeedFor(ParHardwareType[2]->GetField(), &v))
    SetBoundValue(ParOmegaMaxMotor, false, v);
}
