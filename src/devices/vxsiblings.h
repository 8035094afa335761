#pragma once
#include "devices/vxdrive.h"

// The other drive models of the family. Identification creates them for their versions;
// this terminal opens no window for them. Their members are bound by name like those of
// the VX310, so a data model for one of them uses the member names as its "[Parameters]"
// keys, in the form of the member's class: flags (Cmd, Hw, Use, Has, State and most Cfg
// members) are boolean fields "reg,element,bit", modes are bit fields "reg,element,mask",
// selectors (Mux, types) are encoded "reg,element", loop gains and per-unit speeds are
// fixed-point "mantissa,exponent,element", positions are long "low,high,element", the
// V/f and throttle curve points are 2-D points "x,y,element", the rest plain values
// "reg,element". Register members "RegN" take the register named N.

class TkoDeviceVX160 : public TkoDeviceVXDrive {
 public:
  TkoDeviceVX160(TkoDeviceSetup* setup, const TkoVersionRecord* version, TkoRegDefsList* dataModel);

  TkoParEncoded* ParMotorType = nullptr;
  TkoParValue* ParMotorID = nullptr;
  TkoParValue* ParHoldTorque = nullptr;
  TkoParValue* ParSpeedJog = nullptr;
  TkoParValue* ParSpeedFast = nullptr;
  TkoParValue* ParSpeedMin = nullptr;
  TkoParValue* ParSpeedMax = nullptr;
  TkoPar2DPoint* ParThrottle0 = nullptr;
  TkoPar2DPoint* ParThrottle1 = nullptr;
  TkoPar2DPoint* ParThrottle2 = nullptr;
  TkoPar2DPoint* ParThrottle3 = nullptr;
  TkoPar2DPoint* ParVFGraph0 = nullptr;
  TkoPar2DPoint* ParVFGraph1 = nullptr;
  TkoPar2DPoint* ParVFGraph2 = nullptr;
  TkoParValue* ParAnalogRef = nullptr;
  TkoParValue* ParVirtualRef = nullptr;
  TkoParBoolField* CmdGoForward = nullptr;
  TkoParBoolField* CmdGoReverse = nullptr;
  TkoParBoolField* CmdGoFaster = nullptr;
  TkoParBoolField* CmdHoldBrake = nullptr;
  TkoParBoolField* HwGoForward = nullptr;
  TkoParBoolField* HwGoReverse = nullptr;
  TkoParBoolField* HwGoFaster = nullptr;
  TkoParBoolField* HwHoldBrake = nullptr;
  TkoParBoolField* CfgCurrentLoop = nullptr;
  TkoParBitField* CfgBrakeMode = nullptr;
  TkoParBoolField* CfgUseProfiBus = nullptr;
  TkoParBoolField* HasCurrentSense = nullptr;
  TkoParBoolField* HasProfiBus = nullptr;
};

// A drive of the slave base: its own fault registers, voltage and current limits.
class TkoDeviceVX220 : public TkoDeviceVXSlave {
 public:
  TkoDeviceVX220(TkoDeviceSetup* setup, const TkoVersionRecord* version, TkoRegDefsList* dataModel);

  // The current limits depend on the power stage, which the hardware voltage limit
  // tells apart.
  void DoSetupRead() override;

  TkoRegister* RegPreFault1 = nullptr;
  TkoRegister* RegPreFault2 = nullptr;
  TkoRegister* RegActFault1 = nullptr;
  TkoRegister* RegActFault2 = nullptr;
  TkoParValue* ParUrV = nullptr;
  TkoParValue* ParIcA = nullptr;
  TkoParValue* ParIpA = nullptr;
  TkoParValue* ParNomSpeed = nullptr;
  TkoParValue* ParRxI = nullptr;
  TkoParValue* ParAccel = nullptr;
  TkoParValue* ParDecel = nullptr;
  TkoParValue* ParTachoVKrpm = nullptr;
  TkoParValue* ParTachoRin = nullptr;
  TkoParBoolField* UseRefDig = nullptr;
  TkoParBoolField* UseCmdFromBus = nullptr;
  TkoParBoolField* InvertLogic = nullptr;
  TkoParBoolField* UseCurrentLimit = nullptr;
  TkoParBoolField* UseTachometerFb = nullptr;
  TkoParBoolField* UseRampMode = nullptr;
  TkoParBoolField* StopFreeWheel = nullptr;
  TkoParBitField* FilterMode = nullptr;
  TkoParBoolField* UseAutoCalib = nullptr;
  TkoParBoolField* UseTachoAlarm = nullptr;
  TkoParBoolField* UseCurrentLoop = nullptr;
  TkoParValue* PGainCurrent = nullptr;
  TkoParValue* IGainCurrent = nullptr;
  TkoParValue* PGainSpeed = nullptr;
  TkoParValue* IGainSpeed = nullptr;
  TkoParValue* DGainSpeed = nullptr;
  TkoParValue* ReferenceOffset = nullptr;
  TkoParValue* CurLimOffset = nullptr;
  TkoParBoolField* CmdDisableCCW = nullptr;
  TkoParBoolField* CmdDisableCW = nullptr;
  TkoParBoolField* CmdInhibit = nullptr;
  TkoParValue* ParVirtualInput = nullptr;
  TkoParValue* ParDcBus = nullptr;
  TkoParValue* ParArmatureVolt = nullptr;
  TkoParValue* ParCurrent = nullptr;
  TkoParValue* ParHWLimitVolt = nullptr;
  TkoParBoolField* HwDisableCCW = nullptr;
  TkoParBoolField* HwDisableCW = nullptr;
  TkoParBoolField* HwInhibit = nullptr;
  TkoParValue* ParVirtualRef = nullptr;
  TkoParValue* ParAnalogRef1 = nullptr;
  TkoParValue* ParAnalogRef2 = nullptr;
  TkoParValue* ParArmature = nullptr;
  TkoParValue* ParTacho = nullptr;
};

class TkoDeviceVX330 : public TkoDeviceVXDrive {
 public:
  TkoDeviceVX330(TkoDeviceSetup* setup, const TkoVersionRecord* version, TkoRegDefsList* dataModel);

  TkoParValue* ParMaxVoltage = nullptr;
  TkoParValue* ParMaxCurrent = nullptr;
  TkoParValue* ParBoostVoltage = nullptr;
  TkoParValue* ParWorkVoltage = nullptr;
  TkoParValue* ParDefluxVoltage = nullptr;
  TkoParValue* ParMagnetizeTime = nullptr;
  TkoParValue* ParReleaseTime = nullptr;
  TkoParValue* ParBoostTime = nullptr;
  TkoParValue* ParDefluxTime = nullptr;
  TkoParValue* ParPercOperateCurrent = nullptr;
  TkoParValue* ParMaxDefluxCurrent = nullptr;
  TkoParValue* ParSheetSeparationTime = nullptr;
  TkoParValue* ParOnPowerAlarmTemp = nullptr;
  TkoParValue* ParOffPowerAlarmTemp = nullptr;
  TkoParValue* ParOnBrakeAlarmTemp = nullptr;
  TkoParValue* ParOffBrakeAlarmTemp = nullptr;
  TkoParValue* ParPowerTemp = nullptr;
  TkoParValue* ParBrakeTemp = nullptr;
  TkoParValue* ParPercON = nullptr;
  TkoParValue* ParStatusWord = nullptr;
  TkoParValue* ParAnalogIn1 = nullptr;
  TkoParBoolField* ParUsePrecharge = nullptr;
};

class TkoDeviceVX340 : public TkoDeviceVXDrive {
 public:
  TkoDeviceVX340(TkoDeviceSetup* setup, const TkoVersionRecord* version, TkoRegDefsList* dataModel);

  // The drive's lines, then the worked time.
  void ReportDevice(std::vector<std::string>* lines) override;

  TkoRegister* RegDriveState1 = nullptr;
  TkoRegister* RegDriveState2 = nullptr;
  TkoRegister* RegDriveAlarm1 = nullptr;
  TkoRegister* RegDriveAlarm2 = nullptr;
  TkoRegister* RegQueltaState1 = nullptr;
  TkoRegister* RegQueltaState2 = nullptr;
  TkoRegister* RegQueltaAlarm1 = nullptr;
  TkoRegister* RegQueltaAlarm2 = nullptr;
  TkoRegister* RegQueltaCommand = nullptr;
  TkoParBoolField* CfgStepperEV = nullptr;
  TkoParBoolField* CfgPressureSense = nullptr;
  TkoParBitField* CfgDriveMode = nullptr;
  TkoParBoolField* CfgPowerTest = nullptr;
  TkoParBoolField* CfgDriveTest = nullptr;
  TkoParValue* ParCurrent_PGain = nullptr;
  TkoParValue* ParCurrent_IGain = nullptr;
  TkoParValue* ParSpeedMin = nullptr;
  TkoParValue* ParSpeedMax = nullptr;
  TkoParValue* ParSpeedRef = nullptr;
  TkoParEncoded* ParMachineOption = nullptr;
  TkoParEncoded* ParMachineType = nullptr;
  TkoParValue* ParSetPointTemp = nullptr;
  TkoParValue* ParDifferenziale = nullptr;
  TkoParValue* ParNtcInH2Odolce = nullptr;
  TkoParValue* ParWorkedTime = nullptr;
  TkoParValue* ParPowerT = nullptr;
  TkoParValue* ParSeaWaterTin = nullptr;
  TkoParValue* ParSeaWaterTout = nullptr;
  TkoParValue* ParEvapT = nullptr;
  TkoParValue* ParAspT = nullptr;
  TkoParValue* ParFluxMCH = nullptr;
  TkoParBoolField* HwLowPressure = nullptr;
  TkoParBoolField* HwHighpressure = nullptr;
  TkoParBoolField* HwAux = nullptr;
  TkoParBoolField* HwNoMotor = nullptr;
  TkoParBoolField* HwJP401 = nullptr;
  TkoParBoolField* HwJP402 = nullptr;
  TkoParBoolField* HwJP403 = nullptr;
  TkoParBoolField* HwStepperShort = nullptr;
  TkoParBoolField* CmdGoForward = nullptr;
  TkoParBoolField* CmdGoReverse = nullptr;
  TkoPar2DPoint* ParVFGraph0 = nullptr;
  TkoPar2DPoint* ParVFGraph1 = nullptr;
  TkoPar2DPoint* ParVFGraph2 = nullptr;
};

class TkoDeviceVX260 : public TkoDeviceVXDrive {
 public:
  TkoDeviceVX260(TkoDeviceSetup* setup, const TkoVersionRecord* version, TkoRegDefsList* dataModel);

  // Writes the position registers of the model in one request; enabling it runs it once.
  TkoMBChainedTransa* WriteRefPos = nullptr;

  TkoRegister* RegApplicationAlarm = nullptr;
  TkoParValue* ParBrakeOffTime = nullptr;
  TkoParValue* ParBrakeOnTime = nullptr;
  TkoParBitField* CfgWorkingMode = nullptr;
  TkoParValue* ParFResetParm = nullptr;
  TkoParValue* ParPolesNumber = nullptr;
  TkoParBoolField* UseHallEffectReverse = nullptr;
  TkoParBoolField* UseHallEffectLevel = nullptr;
  TkoParBitField* CfgCtrlMode = nullptr;
  TkoParBitField* CfgStopMode = nullptr;
  TkoParLong* ParActualPos = nullptr;
  TkoParValue* ParActualMechAnalogPos = nullptr;
  TkoParBoolField* CmdResetAlarm = nullptr;
  TkoParValue* ParAnalogStroke = nullptr;
  TkoParBoolField* UseAnalogPosReverse = nullptr;
  TkoParValue* ParSpeedFwd = nullptr;
  TkoParValue* ParSpeedRev = nullptr;
  TkoParValue* ParSpeedLB = nullptr;
  TkoParValue* ParSpeedSB = nullptr;
  TkoParValue* ParSpeedRB = nullptr;
  TkoParValue* ParPositionW = nullptr;
  TkoParValue* ParPosSignal1 = nullptr;
  TkoParValue* ParPosSignal2 = nullptr;
  TkoParValue* ParXVdc = nullptr;
  TkoParValue* ParTimerZ1 = nullptr;
  TkoParValue* ParTimerZ2 = nullptr;
  TkoParValue* ParTimerZ3 = nullptr;
  TkoParValue* ParInPosTimer = nullptr;
  TkoParValue* ParPowerTemperature = nullptr;
  TkoParBoolField* CmdInputLB = nullptr;
  TkoParBoolField* CmdInputSB = nullptr;
  TkoParBoolField* CmdInputKA = nullptr;
  TkoParBoolField* CmdInputEmergency = nullptr;
  TkoParBoolField* HwInputLB = nullptr;
  TkoParBoolField* HwInputSB = nullptr;
  TkoParBoolField* HwInputKA = nullptr;
  TkoParBoolField* HwInputEmergency = nullptr;
  TkoParEncoded* ParCurrentRefMux = nullptr;
  TkoParEncoded* ParCurrentLimitMux = nullptr;
  TkoParFrac16* ParCurrentPGain = nullptr;
  TkoParFrac16* ParCurrentIGain = nullptr;
  TkoParEncoded* ParSpeedRefMux = nullptr;
  TkoParEncoded* ParSpeedFeedbackMux = nullptr;
  TkoParValue* ParSpeedWindow = nullptr;
  TkoParFrac16* ParSpeedPGain = nullptr;
  TkoParFrac16* ParSpeedIGain = nullptr;
  TkoParFrac16* ParSpeedDGain = nullptr;
  TkoParFrac16* ParSpeedFFGain = nullptr;
  TkoParValue* ParSpeedNTau = nullptr;
  TkoParEncoded* ParRampRefMux = nullptr;
  TkoParValue* ParPosPktAccel = nullptr;
  TkoParValue* ParPosPktDecel = nullptr;
  TkoParFrac16* ParPosPktSpeed = nullptr;
  TkoParLong* ParPosPktTarget = nullptr;
  TkoParEncoded* ParPosRefMux = nullptr;
  TkoParEncoded* ParPosFeedbackMux = nullptr;
  TkoParValue* ParPosWindow = nullptr;
  TkoParFrac16* ParPosPGain = nullptr;
  TkoParFrac16* ParPosIGain = nullptr;
  TkoParFrac16* ParPosDGain = nullptr;
  TkoParFrac16* ParPosFFGain = nullptr;
  TkoParValue* ParPrimaryRef = nullptr;
  TkoParValue* ParSecondaryRef = nullptr;
  TkoParValue* ParAnalogInput = nullptr;
};

class TkoDeviceVX160VE : public TkoDeviceVXDrive {
 public:
  TkoDeviceVX160VE(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                   TkoRegDefsList* dataModel);

  // Writes the position registers of the model in one request; enabling it runs it once.
  TkoMBChainedTransa* WriteRefPos = nullptr;

  TkoParBoolField* CfgCmdFromBus = nullptr;
  TkoParBoolField* CfgTempSense = nullptr;
  TkoParBoolField* CfgUseSwLimits = nullptr;
  TkoParBoolField* CfgUseHwLimits = nullptr;
  TkoParBoolField* CfgZeroActiveLevel = nullptr;
  TkoParBoolField* CfgZeroDirection = nullptr;
  TkoParBitField* CfgOutRelayMode = nullptr;
  TkoParBitField* CfgCommTimelink = nullptr;
  TkoParBitField* CfgBrakeBehavior = nullptr;
  TkoParBoolField* CfgUseAutoCalib = nullptr;
  TkoParValue* ParBrakeOffTime = nullptr;
  TkoParValue* ParBrakeOnTime = nullptr;
  TkoParValue* ParAnalogRefOffset = nullptr;
  TkoParEncoded* ParMotorType = nullptr;
  TkoParValue* ParMotorImrA = nullptr;
  TkoParValue* ParPolesNumber = nullptr;
  TkoParValue* ParMotorTrLR = nullptr;
  TkoParValue* ParMainEncoderPulseRev = nullptr;
  TkoParBoolField* UseMainEncodeReverse = nullptr;
  TkoParValue* ParSecondaryEncoderPulseRev = nullptr;
  TkoParBoolField* UseSecondaryEncodeReverse = nullptr;
  TkoParBoolField* UseHallEffectReverse = nullptr;
  TkoParBoolField* UseHallEffectLevel = nullptr;
  TkoParValue* ParResolverPoles = nullptr;
  TkoParBoolField* UseResolverReverse = nullptr;
  TkoParValue* ParOrientPos = nullptr;
  TkoParEncoded* ParRampRefMux = nullptr;
  TkoParEncoded* ParPosIncRefMux = nullptr;
  TkoParEncoded* ParPosRefMux = nullptr;
  TkoParEncoded* ParPosFeedbackMux = nullptr;
  TkoParEncoded* ParSpeedRefMux = nullptr;
  TkoParEncoded* ParSpeedFeedbackMux = nullptr;
  TkoParEncoded* ParCurrentRefMux = nullptr;
  TkoParEncoded* ParCurrentLimitMux = nullptr;
  TkoParEncoded* ParPhaseGenMux = nullptr;
  TkoParFrac16* ParZeroSpeedMax = nullptr;
  TkoParFrac16* ParZeroSpeedMin = nullptr;
  TkoParValue* ParZeroTimeout = nullptr;
  TkoParLong* ParPosMaxLimit = nullptr;
  TkoParLong* ParPosMinLimit = nullptr;
  TkoParValue* ParGearNum = nullptr;
  TkoParValue* ParGearDenom = nullptr;
  TkoParValue* ParPosPktAccel = nullptr;
  TkoParValue* ParPosPktDecel = nullptr;
  TkoParFrac16* ParPosPktSpeed = nullptr;
  TkoParLong* ParPosPktTarget = nullptr;
  TkoParFrac16* ParField_PGain = nullptr;
  TkoParFrac16* ParField_IGain = nullptr;
  TkoParValue* ParPosWindow = nullptr;
  TkoParFrac16* ParPosPGain = nullptr;
  TkoParFrac16* ParPosIGain = nullptr;
  TkoParFrac16* ParPosDGain = nullptr;
  TkoParFrac16* ParPosFFGain = nullptr;
  TkoParValue* ParSpeedWindow = nullptr;
  TkoParFrac16* ParSpeedPGain = nullptr;
  TkoParFrac16* ParSpeedIGain = nullptr;
  TkoParFrac16* ParSpeedFFGain = nullptr;
  TkoParFrac16* ParSQ_PGain = nullptr;
  TkoParFrac16* ParSQ_IGain = nullptr;
  TkoParFrac16* ParSD_PGain = nullptr;
  TkoParFrac16* ParSD_IGain = nullptr;
  TkoParBitField* CfgCtrlMode = nullptr;
  TkoParBitField* CfgStopMode = nullptr;
  TkoParBoolField* CfgUseSyncSignal = nullptr;
  TkoParBoolField* CfgEndSwitchBrake = nullptr;
  TkoParBoolField* CfgFieldWeakening = nullptr;
  TkoParBoolField* CmdResetCounter = nullptr;
  TkoParBoolField* CmdZeroing = nullptr;
  TkoParBoolField* CmdSetPosition = nullptr;
  TkoParBoolField* CmdSyncSignal = nullptr;
  TkoParBoolField* CmdAlignement = nullptr;
  TkoParBoolField* CmdEnable = nullptr;
  TkoParBoolField* CmdReset = nullptr;
  TkoParValue* ParPrimaryRef = nullptr;
  TkoParValue* ParSecondaryRef = nullptr;
  TkoParValue* ParNextFixedPos = nullptr;
  TkoParEncoded* ParCyclicRx1 = nullptr;
  TkoParEncoded* ParCyclicRx2 = nullptr;
  TkoParEncoded* ParCyclicRx3 = nullptr;
  TkoParEncoded* ParCyclicRx4 = nullptr;
  TkoParEncoded* ParCyclicTx1 = nullptr;
  TkoParEncoded* ParCyclicTx2 = nullptr;
  TkoParEncoded* ParCyclicTx3 = nullptr;
  TkoParEncoded* ParCyclicTx4 = nullptr;
  TkoParValue* ParNumFixedPos = nullptr;
  TkoParValue* ParFixedPosPktAccel1 = nullptr;
  TkoParValue* ParFixedPosPktDecel1 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed1 = nullptr;
  TkoParLong* ParFixedPosPktTarget1 = nullptr;
  TkoParValue* ParFixedPosPktAccel2 = nullptr;
  TkoParValue* ParFixedPosPktDecel2 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed2 = nullptr;
  TkoParLong* ParFixedPosPktTarget2 = nullptr;
  TkoParValue* ParFixedPosPktAccel3 = nullptr;
  TkoParValue* ParFixedPosPktDecel3 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed3 = nullptr;
  TkoParLong* ParFixedPosPktTarget3 = nullptr;
  TkoParValue* ParFixedPosPktAccel4 = nullptr;
  TkoParValue* ParFixedPosPktDecel4 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed4 = nullptr;
  TkoParLong* ParFixedPosPktTarget4 = nullptr;
  TkoParValue* ParFixedPosPktAccel5 = nullptr;
  TkoParValue* ParFixedPosPktDecel5 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed5 = nullptr;
  TkoParLong* ParFixedPosPktTarget5 = nullptr;
  TkoParValue* ParFixedPosPktAccel6 = nullptr;
  TkoParValue* ParFixedPosPktDecel6 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed6 = nullptr;
  TkoParLong* ParFixedPosPktTarget6 = nullptr;
  TkoParValue* ParFixedPosPktAccel7 = nullptr;
  TkoParValue* ParFixedPosPktDecel7 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed7 = nullptr;
  TkoParLong* ParFixedPosPktTarget7 = nullptr;
  TkoParValue* ParFixedPosPktAccel8 = nullptr;
  TkoParValue* ParFixedPosPktDecel8 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed8 = nullptr;
  TkoParLong* ParFixedPosPktTarget8 = nullptr;
  TkoParValue* ParFixedPosPktAccel9 = nullptr;
  TkoParValue* ParFixedPosPktDecel9 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed9 = nullptr;
  TkoParLong* ParFixedPosPktTarget9 = nullptr;
  TkoParValue* ParFixedPosPktAccel10 = nullptr;
  TkoParValue* ParFixedPosPktDecel10 = nullptr;
  TkoParFrac16* ParFixedPosPktSpeed10 = nullptr;
  TkoParLong* ParFixedPosPktTarget10 = nullptr;
  TkoParBoolField* HwEnable = nullptr;
  TkoParBoolField* HwZero = nullptr;
  TkoParBoolField* HwFcCw = nullptr;
  TkoParBoolField* HwFcCcw = nullptr;
  TkoParValue* ParAnalogRef = nullptr;
  TkoParLong* ParActualPos = nullptr;
  TkoParFrac16* ParElAx_PGain = nullptr;
  TkoParFrac16* ParElAx_IGain = nullptr;
  TkoParFrac16* ParElAx_DGain = nullptr;
  TkoParFrac16* ParElAx_FFGain = nullptr;
  TkoParValue* ParElAxPosIndex = nullptr;
  TkoParValue* ParElAxSpeedIndex = nullptr;
  TkoParLong* ParForceActPos = nullptr;
  TkoParBoolField* StateSpeedLoop = nullptr;
  TkoParBoolField* StateProfile = nullptr;
  TkoParBoolField* StatePosLoop = nullptr;
  TkoParBoolField* StateMotor = nullptr;
};
