#pragma once
#include "devices/vxslave.h"

// The motor drives of the family: fault registers, hardware data, measured values, motor
// data and the common configuration bits. Hardware data and measured values are
// read-only.
class TkoDeviceVXDrive : public TkoDeviceVXSlave {
 public:
  TkoDeviceVXDrive(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                   TkoRegDefsList* dataModel);

  // The bus parameters, then the hardware limits and ranges (the EEPROM copy of a range
  // where the model has one).
  void ReportDevice(std::vector<std::string>* lines) override;

  TkoRegister* RegPreFault1 = nullptr;
  TkoRegister* RegPreFault2 = nullptr;
  TkoRegister* RegActFault1 = nullptr;
  TkoRegister* RegActFault2 = nullptr;
  TkoParValue* ParHWLimitVolt = nullptr;
  TkoParValue* ParHWLimitAmp = nullptr;
  TkoParValue* ParHWLimitAmpNom = nullptr;
  TkoParValue* ParMainVoltage = nullptr;
  TkoParValue* ParCurrRangeMax = nullptr;
  TkoParValue* ParEECurrRangeMax = nullptr;
  TkoParValue* ParSpeedRangeMax = nullptr;
  TkoParValue* ParEESpeedRangeMax = nullptr;
  TkoParEncoded* ParPwmFreq = nullptr;
  TkoParEncoded* ParEEPwmFreq = nullptr;
  TkoParValue* ParU_Dc_BusV = nullptr;
  TkoParValue* ParU_MotorV = nullptr;
  TkoParValue* ParI_MotorA = nullptr;
  TkoParValue* ParF_MotorHz = nullptr;
  TkoParValue* ParS_MotorRPM = nullptr;
  TkoParValue* ParVirtualInput = nullptr;
  TkoParValue* ParInput = nullptr;
  TkoParValue* ParMotorUrV = nullptr;
  TkoParValue* ParMotorUminV = nullptr;
  TkoParValue* ParMotorUmaxV = nullptr;
  TkoParValue* ParMotorIrA = nullptr;
  TkoParValue* ParMotorIpA = nullptr;
  TkoParValue* ParMotorFrHz = nullptr;
  TkoParValue* ParMotorFmaxHz = nullptr;
  TkoParValue* ParMotorSrRPM = nullptr;
  TkoParValue* ParMotorSmaxRPM = nullptr;
  TkoParValue* ParMotorI2Ttime = nullptr;
  TkoParValue* ParMotorAccel = nullptr;
  TkoParValue* ParMotorDecel = nullptr;
  TkoParBoolField* CfgUseRamp = nullptr;
  TkoParBoolField* CfgNotUseRamp = nullptr;
  TkoParBitField* CfgRampStopMode = nullptr;
  TkoParBitField* CfgRefSource = nullptr;
  TkoParBoolField* CfgCmdFromBus = nullptr;
  TkoParBoolField* CfgSecureEnable = nullptr;
  TkoParBoolField* CfgTempSense = nullptr;
};
