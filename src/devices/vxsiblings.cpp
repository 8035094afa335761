#include "devices/vxsiblings.h"

#include "regmodel/register.h"

namespace {

// Ties between the X or the Y coordinates of two points.
void TiePointMax(TkoPar2DPoint* p, TkoPar2DPoint* source, bool y) {
  if (p && source)
    vx::TieMaxRegister(y ? p->YRegister : p->Register, y ? source->YRegister : source->Register);
}

void TiePointMin(TkoPar2DPoint* p, TkoPar2DPoint* source, bool y) {
  if (p && source)
    vx::TieMinRegister(y ? p->YRegister : p->Register, y ? source->YRegister : source->Register);
}

void TieBetween(TkoParValue* p, TkoParValue* min, TkoParValue* max) {
  vx::TieMin(p, min);
  vx::TieMax(p, max);
}

// The rated frequency stays below the maximum frequency, which stays above it; only
// models that know a maximum frequency have the pair.
void TieFrequencies(TkoDeviceVXDrive& d) {
  if (!d.ParMotorFmaxHz) return;
  vx::TieMax(d.ParMotorFrHz, d.ParMotorFmaxHz);
  vx::TieMin(d.ParMotorFmaxHz, d.ParMotorFrHz);
}

const vx::NamedSlot kVX160Slots[] = {
    VX_SLOT(TkoDeviceVX160, ParMotorType),   VX_SLOT(TkoDeviceVX160, ParMotorID),
    VX_SLOT(TkoDeviceVX160, ParHoldTorque),  VX_SLOT(TkoDeviceVX160, ParSpeedJog),
    VX_SLOT(TkoDeviceVX160, ParSpeedFast),   VX_SLOT(TkoDeviceVX160, ParSpeedMin),
    VX_SLOT(TkoDeviceVX160, ParSpeedMax),    VX_SLOT(TkoDeviceVX160, ParThrottle0),
    VX_SLOT(TkoDeviceVX160, ParThrottle1),   VX_SLOT(TkoDeviceVX160, ParThrottle2),
    VX_SLOT(TkoDeviceVX160, ParThrottle3),   VX_SLOT(TkoDeviceVX160, ParVFGraph0),
    VX_SLOT(TkoDeviceVX160, ParVFGraph1),    VX_SLOT(TkoDeviceVX160, ParVFGraph2),
    VX_SLOT(TkoDeviceVX160, ParAnalogRef),   VX_SLOT(TkoDeviceVX160, ParVirtualRef),
    VX_SLOT(TkoDeviceVX160, CmdGoForward),   VX_SLOT(TkoDeviceVX160, CmdGoReverse),
    VX_SLOT(TkoDeviceVX160, CmdGoFaster),    VX_SLOT(TkoDeviceVX160, CmdHoldBrake),
    VX_SLOT(TkoDeviceVX160, HwGoForward),    VX_SLOT(TkoDeviceVX160, HwGoReverse),
    VX_SLOT(TkoDeviceVX160, HwGoFaster),     VX_SLOT(TkoDeviceVX160, HwHoldBrake),
    VX_SLOT(TkoDeviceVX160, CfgCurrentLoop), VX_SLOT(TkoDeviceVX160, CfgBrakeMode),
    VX_SLOT(TkoDeviceVX160, CfgUseProfiBus), VX_SLOT(TkoDeviceVX160, HasCurrentSense),
    VX_SLOT(TkoDeviceVX160, HasProfiBus),
};

const vx::NamedSlot kVX220Slots[] = {
    VX_SLOT(TkoDeviceVX220, RegPreFault1),    VX_SLOT(TkoDeviceVX220, RegPreFault2),
    VX_SLOT(TkoDeviceVX220, RegActFault1),    VX_SLOT(TkoDeviceVX220, RegActFault2),
    VX_SLOT(TkoDeviceVX220, ParUrV),          VX_SLOT(TkoDeviceVX220, ParIcA),
    VX_SLOT(TkoDeviceVX220, ParIpA),          VX_SLOT(TkoDeviceVX220, ParNomSpeed),
    VX_SLOT(TkoDeviceVX220, ParRxI),          VX_SLOT(TkoDeviceVX220, ParAccel),
    VX_SLOT(TkoDeviceVX220, ParDecel),        VX_SLOT(TkoDeviceVX220, ParTachoVKrpm),
    VX_SLOT(TkoDeviceVX220, ParTachoRin),     VX_SLOT(TkoDeviceVX220, UseRefDig),
    VX_SLOT(TkoDeviceVX220, UseCmdFromBus),   VX_SLOT(TkoDeviceVX220, InvertLogic),
    VX_SLOT(TkoDeviceVX220, UseCurrentLimit), VX_SLOT(TkoDeviceVX220, UseTachometerFb),
    VX_SLOT(TkoDeviceVX220, UseRampMode),     VX_SLOT(TkoDeviceVX220, StopFreeWheel),
    VX_SLOT(TkoDeviceVX220, FilterMode),      VX_SLOT(TkoDeviceVX220, UseAutoCalib),
    VX_SLOT(TkoDeviceVX220, UseTachoAlarm),   VX_SLOT(TkoDeviceVX220, UseCurrentLoop),
    VX_SLOT(TkoDeviceVX220, PGainCurrent),    VX_SLOT(TkoDeviceVX220, IGainCurrent),
    VX_SLOT(TkoDeviceVX220, PGainSpeed),      VX_SLOT(TkoDeviceVX220, IGainSpeed),
    VX_SLOT(TkoDeviceVX220, DGainSpeed),      VX_SLOT(TkoDeviceVX220, ReferenceOffset),
    VX_SLOT(TkoDeviceVX220, CurLimOffset),    VX_SLOT(TkoDeviceVX220, CmdDisableCCW),
    VX_SLOT(TkoDeviceVX220, CmdDisableCW),    VX_SLOT(TkoDeviceVX220, CmdInhibit),
    VX_SLOT(TkoDeviceVX220, ParVirtualInput), VX_SLOT(TkoDeviceVX220, ParDcBus),
    VX_SLOT(TkoDeviceVX220, ParArmatureVolt), VX_SLOT(TkoDeviceVX220, ParCurrent),
    VX_SLOT(TkoDeviceVX220, ParHWLimitVolt),  VX_SLOT(TkoDeviceVX220, HwDisableCCW),
    VX_SLOT(TkoDeviceVX220, HwDisableCW),     VX_SLOT(TkoDeviceVX220, HwInhibit),
    VX_SLOT(TkoDeviceVX220, ParVirtualRef),   VX_SLOT(TkoDeviceVX220, ParAnalogRef1),
    VX_SLOT(TkoDeviceVX220, ParAnalogRef2),   VX_SLOT(TkoDeviceVX220, ParArmature),
    VX_SLOT(TkoDeviceVX220, ParTacho),
};

const vx::NamedSlot kVX330Slots[] = {
    VX_SLOT(TkoDeviceVX330, ParMaxVoltage),       VX_SLOT(TkoDeviceVX330, ParMaxCurrent),
    VX_SLOT(TkoDeviceVX330, ParBoostVoltage),     VX_SLOT(TkoDeviceVX330, ParWorkVoltage),
    VX_SLOT(TkoDeviceVX330, ParDefluxVoltage),    VX_SLOT(TkoDeviceVX330, ParMagnetizeTime),
    VX_SLOT(TkoDeviceVX330, ParReleaseTime),      VX_SLOT(TkoDeviceVX330, ParBoostTime),
    VX_SLOT(TkoDeviceVX330, ParDefluxTime),       VX_SLOT(TkoDeviceVX330, ParPercOperateCurrent),
    VX_SLOT(TkoDeviceVX330, ParMaxDefluxCurrent), VX_SLOT(TkoDeviceVX330, ParSheetSeparationTime),
    VX_SLOT(TkoDeviceVX330, ParOnPowerAlarmTemp), VX_SLOT(TkoDeviceVX330, ParOffPowerAlarmTemp),
    VX_SLOT(TkoDeviceVX330, ParOnBrakeAlarmTemp), VX_SLOT(TkoDeviceVX330, ParOffBrakeAlarmTemp),
    VX_SLOT(TkoDeviceVX330, ParPowerTemp),        VX_SLOT(TkoDeviceVX330, ParBrakeTemp),
    VX_SLOT(TkoDeviceVX330, ParPercON),           VX_SLOT(TkoDeviceVX330, ParStatusWord),
    VX_SLOT(TkoDeviceVX330, ParAnalogIn1),        VX_SLOT(TkoDeviceVX330, ParUsePrecharge),
};

const vx::NamedSlot kVX340Slots[] = {
    VX_SLOT(TkoDeviceVX340, RegDriveState1),   VX_SLOT(TkoDeviceVX340, RegDriveState2),
    VX_SLOT(TkoDeviceVX340, RegDriveAlarm1),   VX_SLOT(TkoDeviceVX340, RegDriveAlarm2),
    VX_SLOT(TkoDeviceVX340, RegQueltaState1),  VX_SLOT(TkoDeviceVX340, RegQueltaState2),
    VX_SLOT(TkoDeviceVX340, RegQueltaAlarm1),  VX_SLOT(TkoDeviceVX340, RegQueltaAlarm2),
    VX_SLOT(TkoDeviceVX340, RegQueltaCommand), VX_SLOT(TkoDeviceVX340, CfgStepperEV),
    VX_SLOT(TkoDeviceVX340, CfgPressureSense), VX_SLOT(TkoDeviceVX340, CfgDriveMode),
    VX_SLOT(TkoDeviceVX340, CfgPowerTest),     VX_SLOT(TkoDeviceVX340, CfgDriveTest),
    VX_SLOT(TkoDeviceVX340, ParCurrent_PGain), VX_SLOT(TkoDeviceVX340, ParCurrent_IGain),
    VX_SLOT(TkoDeviceVX340, ParSpeedMin),      VX_SLOT(TkoDeviceVX340, ParSpeedMax),
    VX_SLOT(TkoDeviceVX340, ParSpeedRef),      VX_SLOT(TkoDeviceVX340, ParMachineOption),
    VX_SLOT(TkoDeviceVX340, ParMachineType),   VX_SLOT(TkoDeviceVX340, ParSetPointTemp),
    VX_SLOT(TkoDeviceVX340, ParDifferenziale), VX_SLOT(TkoDeviceVX340, ParNtcInH2Odolce),
    VX_SLOT(TkoDeviceVX340, ParWorkedTime),    VX_SLOT(TkoDeviceVX340, ParPowerT),
    VX_SLOT(TkoDeviceVX340, ParSeaWaterTin),   VX_SLOT(TkoDeviceVX340, ParSeaWaterTout),
    VX_SLOT(TkoDeviceVX340, ParEvapT),         VX_SLOT(TkoDeviceVX340, ParAspT),
    VX_SLOT(TkoDeviceVX340, ParFluxMCH),       VX_SLOT(TkoDeviceVX340, HwLowPressure),
    VX_SLOT(TkoDeviceVX340, HwHighpressure),   VX_SLOT(TkoDeviceVX340, HwAux),
    VX_SLOT(TkoDeviceVX340, HwNoMotor),        VX_SLOT(TkoDeviceVX340, HwJP401),
    VX_SLOT(TkoDeviceVX340, HwJP402),          VX_SLOT(TkoDeviceVX340, HwJP403),
    VX_SLOT(TkoDeviceVX340, HwStepperShort),   VX_SLOT(TkoDeviceVX340, CmdGoForward),
    VX_SLOT(TkoDeviceVX340, CmdGoReverse),     VX_SLOT(TkoDeviceVX340, ParVFGraph0),
    VX_SLOT(TkoDeviceVX340, ParVFGraph1),      VX_SLOT(TkoDeviceVX340, ParVFGraph2),
};

const vx::NamedSlot kVX260Slots[] = {
    VX_SLOT(TkoDeviceVX260, RegApplicationAlarm),
    VX_SLOT(TkoDeviceVX260, ParBrakeOffTime),
    VX_SLOT(TkoDeviceVX260, ParBrakeOnTime),
    VX_SLOT(TkoDeviceVX260, CfgWorkingMode),
    VX_SLOT(TkoDeviceVX260, ParFResetParm),
    VX_SLOT(TkoDeviceVX260, ParPolesNumber),
    VX_SLOT(TkoDeviceVX260, UseHallEffectReverse),
    VX_SLOT(TkoDeviceVX260, UseHallEffectLevel),
    VX_SLOT(TkoDeviceVX260, CfgCtrlMode),
    VX_SLOT(TkoDeviceVX260, CfgStopMode),
    VX_SLOT(TkoDeviceVX260, ParActualPos),
    VX_SLOT(TkoDeviceVX260, ParActualMechAnalogPos),
    VX_SLOT(TkoDeviceVX260, CmdResetAlarm),
    VX_SLOT(TkoDeviceVX260, ParAnalogStroke),
    VX_SLOT(TkoDeviceVX260, UseAnalogPosReverse),
    VX_SLOT(TkoDeviceVX260, ParSpeedFwd),
    VX_SLOT(TkoDeviceVX260, ParSpeedRev),
    VX_SLOT(TkoDeviceVX260, ParSpeedLB),
    VX_SLOT(TkoDeviceVX260, ParSpeedSB),
    VX_SLOT(TkoDeviceVX260, ParSpeedRB),
    VX_SLOT(TkoDeviceVX260, ParPositionW),
    VX_SLOT(TkoDeviceVX260, ParPosSignal1),
    VX_SLOT(TkoDeviceVX260, ParPosSignal2),
    VX_SLOT(TkoDeviceVX260, ParXVdc),
    VX_SLOT(TkoDeviceVX260, ParTimerZ1),
    VX_SLOT(TkoDeviceVX260, ParTimerZ2),
    VX_SLOT(TkoDeviceVX260, ParTimerZ3),
    VX_SLOT(TkoDeviceVX260, ParInPosTimer),
    VX_SLOT(TkoDeviceVX260, ParPowerTemperature),
    VX_SLOT(TkoDeviceVX260, CmdInputLB),
    VX_SLOT(TkoDeviceVX260, CmdInputSB),
    VX_SLOT(TkoDeviceVX260, CmdInputKA),
    VX_SLOT(TkoDeviceVX260, CmdInputEmergency),
    VX_SLOT(TkoDeviceVX260, HwInputLB),
    VX_SLOT(TkoDeviceVX260, HwInputSB),
    VX_SLOT(TkoDeviceVX260, HwInputKA),
    VX_SLOT(TkoDeviceVX260, HwInputEmergency),
    VX_SLOT(TkoDeviceVX260, ParCurrentRefMux),
    VX_SLOT(TkoDeviceVX260, ParCurrentLimitMux),
    VX_SLOT(TkoDeviceVX260, ParCurrentPGain),
    VX_SLOT(TkoDeviceVX260, ParCurrentIGain),
    VX_SLOT(TkoDeviceVX260, ParSpeedRefMux),
    VX_SLOT(TkoDeviceVX260, ParSpeedFeedbackMux),
    VX_SLOT(TkoDeviceVX260, ParSpeedWindow),
    VX_SLOT(TkoDeviceVX260, ParSpeedPGain),
    VX_SLOT(TkoDeviceVX260, ParSpeedIGain),
    VX_SLOT(TkoDeviceVX260, ParSpeedDGain),
    VX_SLOT(TkoDeviceVX260, ParSpeedFFGain),
    VX_SLOT(TkoDeviceVX260, ParSpeedNTau),
    VX_SLOT(TkoDeviceVX260, ParRampRefMux),
    VX_SLOT(TkoDeviceVX260, ParPosPktAccel),
    VX_SLOT(TkoDeviceVX260, ParPosPktDecel),
    VX_SLOT(TkoDeviceVX260, ParPosPktSpeed),
    VX_SLOT(TkoDeviceVX260, ParPosPktTarget),
    VX_SLOT(TkoDeviceVX260, ParPosRefMux),
    VX_SLOT(TkoDeviceVX260, ParPosFeedbackMux),
    VX_SLOT(TkoDeviceVX260, ParPosWindow),
    VX_SLOT(TkoDeviceVX260, ParPosPGain),
    VX_SLOT(TkoDeviceVX260, ParPosIGain),
    VX_SLOT(TkoDeviceVX260, ParPosDGain),
    VX_SLOT(TkoDeviceVX260, ParPosFFGain),
    VX_SLOT(TkoDeviceVX260, ParPrimaryRef),
    VX_SLOT(TkoDeviceVX260, ParSecondaryRef),
    VX_SLOT(TkoDeviceVX260, ParAnalogInput),
};

const vx::NamedSlot kVX160VESlots[] = {
    VX_SLOT(TkoDeviceVX160VE, CfgCmdFromBus),
    VX_SLOT(TkoDeviceVX160VE, CfgTempSense),
    VX_SLOT(TkoDeviceVX160VE, CfgUseSwLimits),
    VX_SLOT(TkoDeviceVX160VE, CfgUseHwLimits),
    VX_SLOT(TkoDeviceVX160VE, CfgZeroActiveLevel),
    VX_SLOT(TkoDeviceVX160VE, CfgZeroDirection),
    VX_SLOT(TkoDeviceVX160VE, CfgOutRelayMode),
    VX_SLOT(TkoDeviceVX160VE, CfgCommTimelink),
    VX_SLOT(TkoDeviceVX160VE, CfgBrakeBehavior),
    VX_SLOT(TkoDeviceVX160VE, CfgUseAutoCalib),
    VX_SLOT(TkoDeviceVX160VE, ParBrakeOffTime),
    VX_SLOT(TkoDeviceVX160VE, ParBrakeOnTime),
    VX_SLOT(TkoDeviceVX160VE, ParAnalogRefOffset),
    VX_SLOT(TkoDeviceVX160VE, ParMotorType),
    VX_SLOT(TkoDeviceVX160VE, ParMotorImrA),
    VX_SLOT(TkoDeviceVX160VE, ParPolesNumber),
    VX_SLOT(TkoDeviceVX160VE, ParMotorTrLR),
    VX_SLOT(TkoDeviceVX160VE, ParMainEncoderPulseRev),
    VX_SLOT(TkoDeviceVX160VE, UseMainEncodeReverse),
    VX_SLOT(TkoDeviceVX160VE, ParSecondaryEncoderPulseRev),
    VX_SLOT(TkoDeviceVX160VE, UseSecondaryEncodeReverse),
    VX_SLOT(TkoDeviceVX160VE, UseHallEffectReverse),
    VX_SLOT(TkoDeviceVX160VE, UseHallEffectLevel),
    VX_SLOT(TkoDeviceVX160VE, ParResolverPoles),
    VX_SLOT(TkoDeviceVX160VE, UseResolverReverse),
    VX_SLOT(TkoDeviceVX160VE, ParOrientPos),
    VX_SLOT(TkoDeviceVX160VE, ParRampRefMux),
    VX_SLOT(TkoDeviceVX160VE, ParPosIncRefMux),
    VX_SLOT(TkoDeviceVX160VE, ParPosRefMux),
    VX_SLOT(TkoDeviceVX160VE, ParPosFeedbackMux),
    VX_SLOT(TkoDeviceVX160VE, ParSpeedRefMux),
    VX_SLOT(TkoDeviceVX160VE, ParSpeedFeedbackMux),
    VX_SLOT(TkoDeviceVX160VE, ParCurrentRefMux),
    VX_SLOT(TkoDeviceVX160VE, ParCurrentLimitMux),
    VX_SLOT(TkoDeviceVX160VE, ParPhaseGenMux),
    VX_SLOT(TkoDeviceVX160VE, ParZeroSpeedMax),
    VX_SLOT(TkoDeviceVX160VE, ParZeroSpeedMin),
    VX_SLOT(TkoDeviceVX160VE, ParZeroTimeout),
    VX_SLOT(TkoDeviceVX160VE, ParPosMaxLimit),
    VX_SLOT(TkoDeviceVX160VE, ParPosMinLimit),
    VX_SLOT(TkoDeviceVX160VE, ParGearNum),
    VX_SLOT(TkoDeviceVX160VE, ParGearDenom),
    VX_SLOT(TkoDeviceVX160VE, ParPosPktAccel),
    VX_SLOT(TkoDeviceVX160VE, ParPosPktDecel),
    VX_SLOT(TkoDeviceVX160VE, ParPosPktSpeed),
    VX_SLOT(TkoDeviceVX160VE, ParPosPktTarget),
    VX_SLOT(TkoDeviceVX160VE, ParField_PGain),
    VX_SLOT(TkoDeviceVX160VE, ParField_IGain),
    VX_SLOT(TkoDeviceVX160VE, ParPosWindow),
    VX_SLOT(TkoDeviceVX160VE, ParPosPGain),
    VX_SLOT(TkoDeviceVX160VE, ParPosIGain),
    VX_SLOT(TkoDeviceVX160VE, ParPosDGain),
    VX_SLOT(TkoDeviceVX160VE, ParPosFFGain),
    VX_SLOT(TkoDeviceVX160VE, ParSpeedWindow),
    VX_SLOT(TkoDeviceVX160VE, ParSpeedPGain),
    VX_SLOT(TkoDeviceVX160VE, ParSpeedIGain),
    VX_SLOT(TkoDeviceVX160VE, ParSpeedFFGain),
    VX_SLOT(TkoDeviceVX160VE, ParSQ_PGain),
    VX_SLOT(TkoDeviceVX160VE, ParSQ_IGain),
    VX_SLOT(TkoDeviceVX160VE, ParSD_PGain),
    VX_SLOT(TkoDeviceVX160VE, ParSD_IGain),
    VX_SLOT(TkoDeviceVX160VE, CfgCtrlMode),
    VX_SLOT(TkoDeviceVX160VE, CfgStopMode),
    VX_SLOT(TkoDeviceVX160VE, CfgUseSyncSignal),
    VX_SLOT(TkoDeviceVX160VE, CfgEndSwitchBrake),
    VX_SLOT(TkoDeviceVX160VE, CfgFieldWeakening),
    VX_SLOT(TkoDeviceVX160VE, CmdResetCounter),
    VX_SLOT(TkoDeviceVX160VE, CmdZeroing),
    VX_SLOT(TkoDeviceVX160VE, CmdSetPosition),
    VX_SLOT(TkoDeviceVX160VE, CmdSyncSignal),
    VX_SLOT(TkoDeviceVX160VE, CmdAlignement),
    VX_SLOT(TkoDeviceVX160VE, CmdEnable),
    VX_SLOT(TkoDeviceVX160VE, CmdReset),
    VX_SLOT(TkoDeviceVX160VE, ParPrimaryRef),
    VX_SLOT(TkoDeviceVX160VE, ParSecondaryRef),
    VX_SLOT(TkoDeviceVX160VE, ParNextFixedPos),
    VX_SLOT(TkoDeviceVX160VE, ParCyclicRx1),
    VX_SLOT(TkoDeviceVX160VE, ParCyclicRx2),
    VX_SLOT(TkoDeviceVX160VE, ParCyclicRx3),
    VX_SLOT(TkoDeviceVX160VE, ParCyclicRx4),
    VX_SLOT(TkoDeviceVX160VE, ParCyclicTx1),
    VX_SLOT(TkoDeviceVX160VE, ParCyclicTx2),
    VX_SLOT(TkoDeviceVX160VE, ParCyclicTx3),
    VX_SLOT(TkoDeviceVX160VE, ParCyclicTx4),
    VX_SLOT(TkoDeviceVX160VE, ParNumFixedPos),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel1),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel1),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed1),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget1),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel2),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel2),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed2),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget2),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel3),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel3),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed3),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget3),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel4),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel4),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed4),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget4),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel5),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel5),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed5),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget5),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel6),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel6),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed6),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget6),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel7),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel7),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed7),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget7),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel8),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel8),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed8),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget8),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel9),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel9),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed9),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget9),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktAccel10),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktDecel10),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktSpeed10),
    VX_SLOT(TkoDeviceVX160VE, ParFixedPosPktTarget10),
    VX_SLOT(TkoDeviceVX160VE, HwEnable),
    VX_SLOT(TkoDeviceVX160VE, HwZero),
    VX_SLOT(TkoDeviceVX160VE, HwFcCw),
    VX_SLOT(TkoDeviceVX160VE, HwFcCcw),
    VX_SLOT(TkoDeviceVX160VE, ParAnalogRef),
    VX_SLOT(TkoDeviceVX160VE, ParActualPos),
    VX_SLOT(TkoDeviceVX160VE, ParElAx_PGain),
    VX_SLOT(TkoDeviceVX160VE, ParElAx_IGain),
    VX_SLOT(TkoDeviceVX160VE, ParElAx_DGain),
    VX_SLOT(TkoDeviceVX160VE, ParElAx_FFGain),
    VX_SLOT(TkoDeviceVX160VE, ParElAxPosIndex),
    VX_SLOT(TkoDeviceVX160VE, ParElAxSpeedIndex),
    VX_SLOT(TkoDeviceVX160VE, ParForceActPos),
    VX_SLOT(TkoDeviceVX160VE, StateSpeedLoop),
    VX_SLOT(TkoDeviceVX160VE, StateProfile),
    VX_SLOT(TkoDeviceVX160VE, StatePosLoop),
    VX_SLOT(TkoDeviceVX160VE, StateMotor),
};

}  // namespace

TkoDeviceVX160::TkoDeviceVX160(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                               TkoRegDefsList* dataModel)
    : TkoDeviceVXDrive(setup, version, dataModel) {
  BindSlots(kVX160Slots);
  vx::MarkReadOnly({ParMainVoltage}, false);
  vx::MarkReadOnly({ParAnalogRef, HwGoForward, HwGoReverse, HwGoFaster, HwHoldBrake});
  vx::TieMax(ParMotorUminV, ParMotorUrV);
  TieBetween(ParMotorUrV, ParMotorUminV, ParMotorUmaxV);
  TieBetween(ParMotorUmaxV, ParMotorUrV, ParHWLimitVolt);
  vx::TieMax(ParMotorIrA, ParMotorIpA);
  vx::TieMin(ParMotorIpA, ParMotorIrA);
  vx::TieMax(ParSpeedJog, ParSpeedFast);
  vx::TieMin(ParSpeedFast, ParSpeedJog);
  TieFrequencies(*this);
  vx::TieMax(ParHoldTorque, ParMotorUrV);
  // The throttle curve: its inner points keep their order along both axes.
  TiePointMax(ParThrottle1, ParThrottle2, false);
  TiePointMin(ParThrottle2, ParThrottle1, false);
  TiePointMax(ParThrottle0, ParThrottle1, true);
  for (TkoPar2DPoint* inner : {ParThrottle1, ParThrottle2}) {
    TiePointMin(inner, ParThrottle0, true);
    TiePointMax(inner, ParThrottle3, true);
  }
  TiePointMin(ParThrottle3, ParThrottle2, true);
  if (ParThrottle3) {
    ParThrottle3->LocalX = 100.0;
    ParThrottle3->LocalY = 0.0;
  }
}

TkoDeviceVX220::TkoDeviceVX220(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                               TkoRegDefsList* dataModel)
    : TkoDeviceVXSlave(setup, version, dataModel) {
  BindSlots(kVX220Slots);
  vx::TieMax(ParUrV, ParHWLimitVolt);
  // The continuous current is the lower of the peak current and the stage's own limit.
  if (vx::TieMax(ParIcA, ParIpA)) ParIcA->Register->MaxBound()->Mode = TkoRegBound::kTighter;
  vx::TieMin(ParIpA, ParIcA);
}

void TkoDeviceVX220::DoSetupRead() {
  if (!ParHWLimitVolt || !ParHWLimitVolt->Register) return;
  const bool highVoltage = ParHWLimitVolt->Register->GetValueInteger(ParHWLimitVolt->Index) == 1000;
  if (ParIcA && ParIcA->Register && ParIcA->Register->MaxBound())
    ParIcA->Register->MaxBound()->Value = highVoltage ? 8.0 : 5.0;
  if (ParIpA && ParIpA->Register && ParIpA->Register->MaxBound())
    ParIpA->Register->MaxBound()->Value = highVoltage ? 20.0 : 10.0;
}

TkoDeviceVX330::TkoDeviceVX330(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                               TkoRegDefsList* dataModel)
    : TkoDeviceVXDrive(setup, version, dataModel) {
  BindSlots(kVX330Slots);
  vx::MarkReadOnly({ParOnPowerAlarmTemp, ParOffPowerAlarmTemp, ParPowerTemp, ParBrakeTemp,
                    ParPercON, ParStatusWord, ParAnalogIn1});
  vx::TieMax(ParMaxCurrent, ParHWLimitAmp);
  vx::TieMax(ParMaxDefluxCurrent, ParMaxCurrent);
}

TkoDeviceVX340::TkoDeviceVX340(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                               TkoRegDefsList* dataModel)
    : TkoDeviceVXDrive(setup, version, dataModel) {
  BindSlots(kVX340Slots);
  vx::MarkReadOnly({ParMainVoltage, CmdGoForward, CmdGoReverse}, false);
  vx::MarkReadOnly({ParWorkedTime, ParPowerT, ParSetPointTemp, ParDifferenziale, ParNtcInH2Odolce,
                    ParSeaWaterTin, ParSeaWaterTout, ParEvapT, ParAspT, ParFluxMCH, HwLowPressure,
                    HwHighpressure, HwAux, HwNoMotor, HwJP401, HwJP402, HwJP403, HwStepperShort});
  vx::TieMax(ParMainVoltage, ParHWLimitVolt);
  vx::TieMax(ParMotorUminV, ParMotorUrV);
  TieBetween(ParMotorUrV, ParMotorUminV, ParMotorUmaxV);
  vx::TieMin(ParMotorUmaxV, ParMotorUrV);
  vx::TieMax(ParMotorIrA, ParMotorIpA);
  TieBetween(ParMotorIpA, ParMotorIrA, ParHWLimitAmp);
  vx::TieMax(ParSpeedMin, ParSpeedMax);
  vx::TieMin(ParSpeedMax, ParSpeedMin);
  TieBetween(ParSpeedRef, ParSpeedMin, ParSpeedMax);
  TieFrequencies(*this);
}

void TkoDeviceVX340::ReportDevice(std::vector<std::string>* lines) {
  if (!lines) return;
  TkoDeviceVXDrive::ReportDevice(lines);
  ReportParameter(ParWorkedTime, lines);
}

TkoDeviceVX260::TkoDeviceVX260(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                               TkoRegDefsList* dataModel)
    : TkoDeviceVXDrive(setup, version, dataModel) {
  BindSlots(kVX260Slots);
  vx::MarkReadOnly({ParMainVoltage}, false);
  vx::MarkReadOnly({ParActualPos});
  vx::TieMax(ParMotorUrV, ParHWLimitVolt);
  vx::TieMax(ParMotorIrA, ParMotorIpA);
  vx::TieMin(ParMotorIpA, ParMotorIrA);
  vx::TieMax(ParMotorSrRPM, ParMotorSmaxRPM);
  vx::TieMin(ParMotorSmaxRPM, ParMotorSrRPM);
  WriteRefPos = CreateWriteRefPos();
}

TkoDeviceVX160VE::TkoDeviceVX160VE(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                                   TkoRegDefsList* dataModel)
    : TkoDeviceVXDrive(setup, version, dataModel) {
  BindSlots(kVX160VESlots);
  vx::MarkReadOnly({ParMainVoltage}, false);
  vx::MarkReadOnly({ParAnalogRef, HwEnable, HwZero, HwFcCw, HwFcCcw, ParActualPos});
  vx::TieMax(ParMotorUrV, ParHWLimitVolt);
  vx::TieMax(ParMotorIrA, ParMotorIpA);
  vx::TieMin(ParMotorIpA, ParMotorIrA);
  vx::TieMax(ParMotorSrRPM, ParMotorSmaxRPM);
  vx::TieMin(ParMotorSmaxRPM, ParMotorSrRPM);
  vx::TieMax(ParNextFixedPos, ParNumFixedPos);
  vx::TieMin(ParPosMaxLimit, ParPosMinLimit);
  vx::TieMax(ParPosMinLimit, ParPosMaxLimit);
  WriteRefPos = CreateWriteRefPos();
}
