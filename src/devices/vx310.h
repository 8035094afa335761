#pragma once
#include "devices/vxdrive.h"

// The drive served by this terminal. Its members are the parameters the windows use by
// name. CfgRefSource and CfgCmdFromBus are declared again here: the data-model entries of
// those names fill these members, and the inherited ones stay empty.
class TkoDeviceVX310 : public TkoDeviceVXDrive {
 public:
  TkoDeviceVX310(TkoDeviceSetup* setup, const TkoVersionRecord* version, TkoRegDefsList* dataModel);

  // Writes both halves of the position target in one request; enabling it runs it once.
  TkoMBChainedTransa* WriteRefPos = nullptr;

  TkoParValue* ParMotorIrTimer = nullptr;
  TkoParValue* ParMotorStepRev = nullptr;
  TkoParValue* ParMotorStepDiv = nullptr;
  TkoParValue* ParEncoderPulseRev = nullptr;
  TkoParValue* ParEncoderGear = nullptr;
  TkoParLong* ParEncoderExt = nullptr;
  TkoParBoolField* ParUseEncoderReverse = nullptr;
  TkoParBoolField* ParUseEncoderSource = nullptr;
  TkoParFrac16* ParSpeedRef = nullptr;
  TkoParValue* ParSpeedWin = nullptr;
  TkoParFrac16* ParZeroSpeedMax = nullptr;
  TkoParFrac16* ParZeroSpeedMin = nullptr;
  TkoParValue* ParZeroTimeout = nullptr;
  TkoParLong* ParPosMaxLimit = nullptr;
  TkoParLong* ParPosMinLimit = nullptr;
  TkoParValue* ParPosWindow = nullptr;
  TkoParValue* ParPosPktAccel = nullptr;
  TkoParValue* ParPosPktDecel = nullptr;
  TkoParFrac16* ParPosPktSpeed = nullptr;
  TkoParLong* ParPosPktTarget = nullptr;
  TkoParFrac16* ParPosPGain = nullptr;
  TkoParFrac16* ParPosIGain = nullptr;
  TkoParEncoded* ParCyclicRx1 = nullptr;
  TkoParEncoded* ParCyclicRx2 = nullptr;
  TkoParEncoded* ParCyclicRx3 = nullptr;
  TkoParEncoded* ParCyclicRx4 = nullptr;
  TkoParEncoded* ParCyclicTx1 = nullptr;
  TkoParEncoded* ParCyclicTx2 = nullptr;
  TkoParEncoded* ParCyclicTx3 = nullptr;
  TkoParEncoded* ParCyclicTx4 = nullptr;
  TkoParBoolField* CfgServoMode = nullptr;
  TkoParBoolField* CfgEncoderEnable = nullptr;
  TkoParBitField* CfgControlMode = nullptr;
  TkoParBoolField* CfgPositionMode = nullptr;
  TkoParBitField* CfgRefSource = nullptr;
  TkoParBoolField* CfgCmdFromBus = nullptr;
  TkoParBoolField* CfgZeroActiveLevel = nullptr;
  TkoParBoolField* CfgZeroDirection = nullptr;
  TkoParBoolField* CfgUsePosLimits = nullptr;
  TkoParBoolField* CfgUseSyncSignal = nullptr;
  TkoParBoolField* CmdDriveEnable = nullptr;
  TkoParBoolField* HwDriveEnable = nullptr;
  TkoParBoolField* CmdResetCounter = nullptr;
  TkoParBoolField* CmdZeroing = nullptr;
  TkoParBoolField* CmdSyncSignal = nullptr;
  TkoParLong* ParActualPos = nullptr;
  TkoParBoolField* StateSpeedLoop = nullptr;
  TkoParBoolField* StateProfile = nullptr;
  TkoParBoolField* StatePosLoop = nullptr;
  TkoParBoolField* StateMotor = nullptr;
};
