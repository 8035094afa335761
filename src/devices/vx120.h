#pragma once
#include "devices/vxslave.h"

// A drive whose data model has no "[Parameters]" section: the class builds its
// parameters in code from registers looked up by name. After each setup read the current
// and speed ranges follow the power stage that "HardwareType" reports.
class TkoDeviceVX120 : public TkoDeviceVXSlave {
 public:
  TkoDeviceVX120(TkoDeviceSetup* setup, const TkoVersionRecord* version, TkoRegDefsList* dataModel);

  void DoSetupRead() override;

  // The hardware tables: indexed by bits 4..7 (maximum motor current) and bits 8..11
  // (minimum of the maximum motor speed) of "HardwareType"; none for an index beyond them.
  static bool MaxCurrentFor(int index, double* value);
  static bool MinTopSpeedFor(int index, double* value);

  TkoParBoolField* HwInput[3] = {};  // "Input", bits 0..2
  TkoParValue* ParMainsVoltage = nullptr;
  TkoParValue* ParMotorINom = nullptr;
  TkoParValue* ParMotorIMax = nullptr;
  TkoParValue* ParMotorTMax = nullptr;
  TkoParValue* ParVoltStart = nullptr;
  TkoParValue* ParVoltBoost = nullptr;
  TkoParValue* ParVoltBase = nullptr;
  TkoParValue* ParOmegaBoost = nullptr;
  TkoParValue* ParOmegaBase = nullptr;
  TkoParValue* ParOmegaMinMotor = nullptr;
  TkoParValue* ParOmegaMaxMotor = nullptr;
  TkoParValue* ParOmegaRef = nullptr;
  TkoParValue* ParAccel = nullptr;
  TkoParValue* ParDecel = nullptr;
  TkoParBoolField* CfgUserOption[7] = {};  // "UserOption", bits 0..6
  TkoParEncoded* ParPwmFreq = nullptr;
  TkoParBoolField* CmdVirtualInput[3] = {};  // "VirtualInput", bits 0..2
  TkoParValue* ParVirtualInput = nullptr;    // the whole register
  TkoParValue* ParComTimer = nullptr;
  TkoParValue* ParPrevFaultState = nullptr;
  TkoParValue* ParActFaultState = nullptr;
  TkoParEncoded* ParApplicationMode = nullptr;
  TkoParValue* ParHWLimitVolt = nullptr;
  TkoParBitField* ParHardwareType[3] = {};  // masks 0x000F, 0x00F0, 0x0F00
  TkoParValue* ParU_Dc_BusV = nullptr;      // "u_dc_busV"
  TkoParValue* ParOmegaAct = nullptr;
  TkoParValue* ParVoltAct = nullptr;
  TkoParValue* ParI_PhaseFilt = nullptr;  // "i_phase_filt"
  TkoParFrac16* ParARef1 = nullptr;
};
