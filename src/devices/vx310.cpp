#include "devices/vx310.h"

namespace {

const vx::NamedSlot kVX310Slots[] = {
    VX_SLOT(TkoDeviceVX310, ParMotorIrTimer),      VX_SLOT(TkoDeviceVX310, ParMotorStepRev),
    VX_SLOT(TkoDeviceVX310, ParMotorStepDiv),      VX_SLOT(TkoDeviceVX310, ParEncoderPulseRev),
    VX_SLOT(TkoDeviceVX310, ParEncoderGear),       VX_SLOT(TkoDeviceVX310, ParEncoderExt),
    VX_SLOT(TkoDeviceVX310, ParUseEncoderReverse), VX_SLOT(TkoDeviceVX310, ParUseEncoderSource),
    VX_SLOT(TkoDeviceVX310, ParSpeedRef),          VX_SLOT(TkoDeviceVX310, ParSpeedWin),
    VX_SLOT(TkoDeviceVX310, ParZeroSpeedMax),      VX_SLOT(TkoDeviceVX310, ParZeroSpeedMin),
    VX_SLOT(TkoDeviceVX310, ParZeroTimeout),       VX_SLOT(TkoDeviceVX310, ParPosMaxLimit),
    VX_SLOT(TkoDeviceVX310, ParPosMinLimit),       VX_SLOT(TkoDeviceVX310, ParPosWindow),
    VX_SLOT(TkoDeviceVX310, ParPosPktAccel),       VX_SLOT(TkoDeviceVX310, ParPosPktDecel),
    VX_SLOT(TkoDeviceVX310, ParPosPktSpeed),       VX_SLOT(TkoDeviceVX310, ParPosPktTarget),
    VX_SLOT(TkoDeviceVX310, ParPosPGain),          VX_SLOT(TkoDeviceVX310, ParPosIGain),
    VX_SLOT(TkoDeviceVX310, ParCyclicRx1),         VX_SLOT(TkoDeviceVX310, ParCyclicRx2),
    VX_SLOT(TkoDeviceVX310, ParCyclicRx3),         VX_SLOT(TkoDeviceVX310, ParCyclicRx4),
    VX_SLOT(TkoDeviceVX310, ParCyclicTx1),         VX_SLOT(TkoDeviceVX310, ParCyclicTx2),
    VX_SLOT(TkoDeviceVX310, ParCyclicTx3),         VX_SLOT(TkoDeviceVX310, ParCyclicTx4),
    VX_SLOT(TkoDeviceVX310, CfgServoMode),         VX_SLOT(TkoDeviceVX310, CfgEncoderEnable),
    VX_SLOT(TkoDeviceVX310, CfgControlMode),       VX_SLOT(TkoDeviceVX310, CfgPositionMode),
    VX_SLOT(TkoDeviceVX310, CfgRefSource),         VX_SLOT(TkoDeviceVX310, CfgCmdFromBus),
    VX_SLOT(TkoDeviceVX310, CfgZeroActiveLevel),   VX_SLOT(TkoDeviceVX310, CfgZeroDirection),
    VX_SLOT(TkoDeviceVX310, CfgUsePosLimits),      VX_SLOT(TkoDeviceVX310, CfgUseSyncSignal),
    VX_SLOT(TkoDeviceVX310, CmdDriveEnable),       VX_SLOT(TkoDeviceVX310, HwDriveEnable),
    VX_SLOT(TkoDeviceVX310, CmdResetCounter),      VX_SLOT(TkoDeviceVX310, CmdZeroing),
    VX_SLOT(TkoDeviceVX310, CmdSyncSignal),        VX_SLOT(TkoDeviceVX310, ParActualPos),
    VX_SLOT(TkoDeviceVX310, StateSpeedLoop),       VX_SLOT(TkoDeviceVX310, StateProfile),
    VX_SLOT(TkoDeviceVX310, StatePosLoop),         VX_SLOT(TkoDeviceVX310, StateMotor),
};

}  // namespace

TkoDeviceVX310::TkoDeviceVX310(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                               TkoRegDefsList* dataModel)
    : TkoDeviceVXDrive(setup, version, dataModel) {
  BindSlots(kVX310Slots);
  vx::MarkReadOnly(
      {ParActualPos, ParEncoderExt, StateSpeedLoop, StateProfile, StatePosLoop, StateMotor});
  // The current and speed limits follow the hardware ranges the drive reports.
  vx::TieMax(ParMotorIrA, ParCurrRangeMax);
  vx::TieMax(ParMotorIpA, ParCurrRangeMax);
  vx::TieMax(ParMotorSrRPM, ParSpeedRangeMax);
  vx::TieMax(ParZeroSpeedMin, ParZeroSpeedMax);
  WriteRefPos = CreateWriteRefPos();
}
