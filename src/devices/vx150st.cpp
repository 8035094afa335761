#include "devices/vx150st.h"

#include "modbus/mbtransakinds.h"
#include "regmodel/register.h"

TkoDeviceVX150ST::TkoDeviceVX150ST(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                                   TkoRegDefsList* dataModel)
    : TkoDeviceVXSlave(setup, version, dataModel) {
  auto value = [this](const std::string& reg) { return KeepParameter<TkoParValue>(reg + ",0"); };
  auto encoded = [this](const std::string& reg) {
    return KeepParameter<TkoParEncoded>(reg + ",0");
  };
  auto bit = [this](const std::string& reg, int b) {
    return KeepParameter<TkoParBoolField>(reg + ",0," + std::to_string(b));
  };
  for (int b = 0; b <= 12; ++b)
    if (b != 7) CmdMBSave[b] = bit("MBSaveCmd", b);
  CmdExt1 = bit("ExtCmd", 1);
  CmdExt2 = bit("ExtCmd", 2);
  ParSlaveAddr = value("SlaveAddr");
  ParBaudRate = encoded("BaudRate");
  ParSpeedT_Acc = value("SpeedSetup.T_Acc");
  ParSpeedT_SeekErr = value("SpeedSetup.T_SeekErr");
  ParSpeedT_EndPos = value("SpeedSetup.T_EndPos ");
  ParSpeedMaxErrEnd = value("SpeedSetup.MaxErrEnd");
  ParPidPCoef = value("PidParams0_PCoef");
  ParPidPScale = value("PidParams0_PScale");
  ParPidICoef = value("PidParams0_ICoef");
  ParPidIScale = value("PidParams0_IScale");
  ParPidIDiv = value("PidParams0_IDiv");
  ParPidDCoef = value("PidParams0_DCoef");
  ParPidDScale = value("PidParams0_DScale");
  ParPidDDiv = value("PidParams0_DDiv");
  ParAllinState = value("AllinState");
  ParPosCalDelta0 = value("PosCalDelta[AnCh12b0]");
  ParPosCalDelta2 = value("PosCalDelta[AnCh12b2]");
  ParDevStateSum = value("DevStateSum");
  for (int i = 0; i < 7; ++i) {
    ParDevState[i] = value(std::string("DevState[") + kUnits[i] + "]");
    ParDevAlarm[i] = value(std::string("DevAlarm[") + kUnits[i] + "]");
  }
  ParCalibStateDevice = value("CalibStateDevice");
  ParCalibStateMenu1 = value("CalibStateMenu1");
  ParCalibStateMenu2 = value("CalibStateMenu2");
  ParCalibStateCmd = value("CalibStateCmd");
  ParCalibResponseCode = value("CalibResponseCode");
  ParCalibResponseSValue = value("CalibResponseSValue");
  ParCalibResponseLValue = value("CalibResponseLValue");
  ParCalibAlarmCode = value("CalibAlarmCode");
  ParSalaSetup = value("SalaSetup");
  ParSalaSetupHoriz = value("SalaSetupHoriz");
  ParSalaSetupRight = value("SalaSetupRight");
  ParSalaSetupLeft = value("SalaSetupLeft");
  ParSelInputMode = encoded("SelInputMode");
  ParSelLatoAct = encoded("SelLatoAct");
  ParSelRangeAct = encoded("SelRangeAct");
  ParPrjDirAct = encoded("PrjDirAct");
  ParSelDevAct = encoded("SelDevAct");

  CalibCmd = AddChainedTransa("CalibCmd", "Calibration command.");
  CalibCmd->SetWriteBlocksText("CalibCmd");
  CalibCmd->SetTermReasons(TkoMBTransaction::trAlways);
  CalibCmd->SetEnabled(false);

  CalibState = AddChainedTransa("CalibState", "Calibration state polling.");
  CalibState->SetReadBlocksText("CalibState");
  CalibState->SetRepeatTime(5);
  CalibState->OnResponse = [this](TkoMBTransaction* t) {
    if (OnCalibState) OnCalibState(this, t);
  };
  CalibState->SetEnabled(false);
}

TkoDeviceVX150ST::~TkoDeviceVX150ST() {
  // The transaction outlives this part of the object until the base destroys it.
  if (CalibState) CalibState->OnResponse = nullptr;
}

void TkoDeviceVX150ST::SaveSetup() {
  TkoRegister* command = FindRegister("MBSaveCmd");
  if (!command) return;
  command->SetValueMasked(0x7F, 0, 0x7F);
  // Not waited for: the result shows as the direct write's, like any other.
  static_cast<void>(WriteReg(command, false));
}

const std::vector<std::string>& TkoDeviceVX150ST::CalibTexts() {
  static const std::vector<std::string> texts = {
      "- click a button above to select a calibration option -",
      "FAULT!",
      "Invalid configuration!",
      "CAN-Bus communication error!",
      "System error!",
      "Error: movements,cables,potentiometer fault",
      "- OK - Operation completed successfully",
      "- KO - Operation not completed",
      "Move all up, and confirm",
      "Move all down, and confirm",
      "Move up of %dmm, and confirm",
      "Set FFD=%dmm, and confirm",
      "Align Stand to Wall-Bucky, and confirm",
      "DFF=%4dmm",
      "No accessory is selected",
      "%s",
      "Table begin",
      "Tabel end",
      "Park the table",
      "Right border",
      "Left border",
      "DFF=%4dmm",
      "Accessory without alignment.",
  };
  return texts;
}
