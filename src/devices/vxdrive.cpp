#include "devices/vxdrive.h"

namespace {

const vx::NamedSlot kDriveSlots[] = {
    VX_SLOT(TkoDeviceVXDrive, RegPreFault1),     VX_SLOT(TkoDeviceVXDrive, RegPreFault2),
    VX_SLOT(TkoDeviceVXDrive, RegActFault1),     VX_SLOT(TkoDeviceVXDrive, RegActFault2),
    VX_SLOT(TkoDeviceVXDrive, ParHWLimitVolt),   VX_SLOT(TkoDeviceVXDrive, ParHWLimitAmp),
    VX_SLOT(TkoDeviceVXDrive, ParHWLimitAmpNom), VX_SLOT(TkoDeviceVXDrive, ParMainVoltage),
    VX_SLOT(TkoDeviceVXDrive, ParCurrRangeMax),  VX_SLOT(TkoDeviceVXDrive, ParEECurrRangeMax),
    VX_SLOT(TkoDeviceVXDrive, ParSpeedRangeMax), VX_SLOT(TkoDeviceVXDrive, ParEESpeedRangeMax),
    VX_SLOT(TkoDeviceVXDrive, ParPwmFreq),       VX_SLOT(TkoDeviceVXDrive, ParEEPwmFreq),
    VX_SLOT(TkoDeviceVXDrive, ParU_Dc_BusV),     VX_SLOT(TkoDeviceVXDrive, ParU_MotorV),
    VX_SLOT(TkoDeviceVXDrive, ParI_MotorA),      VX_SLOT(TkoDeviceVXDrive, ParF_MotorHz),
    VX_SLOT(TkoDeviceVXDrive, ParS_MotorRPM),    VX_SLOT(TkoDeviceVXDrive, ParVirtualInput),
    VX_SLOT(TkoDeviceVXDrive, ParInput),         VX_SLOT(TkoDeviceVXDrive, ParMotorUrV),
    VX_SLOT(TkoDeviceVXDrive, ParMotorUminV),    VX_SLOT(TkoDeviceVXDrive, ParMotorUmaxV),
    VX_SLOT(TkoDeviceVXDrive, ParMotorIrA),      VX_SLOT(TkoDeviceVXDrive, ParMotorIpA),
    VX_SLOT(TkoDeviceVXDrive, ParMotorFrHz),     VX_SLOT(TkoDeviceVXDrive, ParMotorFmaxHz),
    VX_SLOT(TkoDeviceVXDrive, ParMotorSrRPM),    VX_SLOT(TkoDeviceVXDrive, ParMotorSmaxRPM),
    VX_SLOT(TkoDeviceVXDrive, ParMotorI2Ttime),  VX_SLOT(TkoDeviceVXDrive, ParMotorAccel),
    VX_SLOT(TkoDeviceVXDrive, ParMotorDecel),    VX_SLOT(TkoDeviceVXDrive, CfgUseRamp),
    VX_SLOT(TkoDeviceVXDrive, CfgNotUseRamp),    VX_SLOT(TkoDeviceVXDrive, CfgRampStopMode),
    VX_SLOT(TkoDeviceVXDrive, CfgRefSource),     VX_SLOT(TkoDeviceVXDrive, CfgCmdFromBus),
    VX_SLOT(TkoDeviceVXDrive, CfgSecureEnable),  VX_SLOT(TkoDeviceVXDrive, CfgTempSense),
};

}  // namespace

TkoDeviceVXDrive::TkoDeviceVXDrive(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                                   TkoRegDefsList* dataModel)
    : TkoDeviceVXSlave(setup, version, dataModel) {
  BindSlots(kDriveSlots);
  vx::MarkReadOnly({ParMainVoltage, ParHWLimitVolt, ParHWLimitAmp, ParHWLimitAmpNom,
                    ParCurrRangeMax, ParEECurrRangeMax, ParSpeedRangeMax, ParEESpeedRangeMax,
                    ParPwmFreq, ParEEPwmFreq, ParU_Dc_BusV, ParU_MotorV, ParI_MotorA, ParF_MotorHz,
                    ParS_MotorRPM});
}

void TkoDeviceVXDrive::ReportDevice(std::vector<std::string>* lines) {
  if (!lines) return;
  TkoDeviceVXSlave::ReportDevice(lines);
  ReportParameter(ParHWLimitVolt, lines);
  ReportParameter(ParHWLimitAmp, lines);
  ReportParameter(ParHWLimitAmpNom, lines);
  ReportParameter(ParEECurrRangeMax ? ParEECurrRangeMax : ParCurrRangeMax, lines);
  ReportParameter(ParEESpeedRangeMax ? ParEESpeedRangeMax : ParSpeedRangeMax, lines);
  ReportParameter(ParEEPwmFreq ? ParEEPwmFreq : ParPwmFreq, lines);
}
