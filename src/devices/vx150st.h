#pragma once
#include <string>
#include <vector>

#include "devices/vxslave.h"

// A positioning controller of the family: parameters built in code from registers looked
// up by name, a save that goes through its own command register, and a calibration
// command with a polled calibration state.
class TkoDeviceVX150ST : public TkoDeviceVXSlave {
 public:
  using CalibEvent = std::function<void(TkoDeviceVX150ST* sender, TkoMBTransaction* transa)>;

  TkoDeviceVX150ST(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                   TkoRegDefsList* dataModel);
  ~TkoDeviceVX150ST() override;

  // Sets the save bits (0..6) of "MBSaveCmd" and writes that register at once; the
  // controller has no EEPROM image of its own to send.
  void SaveSetup() override;

  // The status texts of the calibration, in the order of their codes.
  static const std::vector<std::string>& CalibTexts();

  // Writes the block "CalibCmd" once each time it is enabled.
  TkoMBChainedTransa* CalibCmd = nullptr;
  // Reads the block "CalibState" every 5 cycles while enabled (created disabled).
  TkoMBChainedTransa* CalibState = nullptr;
  CalibEvent OnCalibState;

  TkoParBoolField* CmdMBSave[13] = {};  // "MBSaveCmd" bits 0..6 and 8..12 (7 stays none)
  TkoParBoolField* CmdExt1 = nullptr;   // "ExtCmd" bit 1
  TkoParBoolField* CmdExt2 = nullptr;   // "ExtCmd" bit 2
  TkoParValue* ParSlaveAddr = nullptr;
  TkoParEncoded* ParBaudRate = nullptr;
  TkoParValue* ParSpeedT_Acc = nullptr;
  TkoParValue* ParSpeedT_SeekErr = nullptr;
  TkoParValue* ParSpeedT_EndPos = nullptr;
  TkoParValue* ParSpeedMaxErrEnd = nullptr;
  TkoParValue* ParPidPCoef = nullptr;
  TkoParValue* ParPidPScale = nullptr;
  TkoParValue* ParPidICoef = nullptr;
  TkoParValue* ParPidIScale = nullptr;
  TkoParValue* ParPidIDiv = nullptr;
  TkoParValue* ParPidDCoef = nullptr;
  TkoParValue* ParPidDScale = nullptr;
  TkoParValue* ParPidDDiv = nullptr;
  TkoParValue* ParAllinState = nullptr;
  TkoParValue* ParPosCalDelta0 = nullptr;  // "PosCalDelta[AnCh12b0]"
  TkoParValue* ParPosCalDelta2 = nullptr;  // "PosCalDelta[AnCh12b2]"
  TkoParValue* ParDevStateSum = nullptr;
  // "DevState[...]" and "DevAlarm[...]" of the units TAV, LATDX, LATSX, COL, KBRD, GEN, STA.
  TkoParValue* ParDevState[7] = {};
  TkoParValue* ParDevAlarm[7] = {};
  TkoParValue* ParCalibStateDevice = nullptr;
  TkoParValue* ParCalibStateMenu1 = nullptr;
  TkoParValue* ParCalibStateMenu2 = nullptr;
  TkoParValue* ParCalibStateCmd = nullptr;
  TkoParValue* ParCalibResponseCode = nullptr;
  TkoParValue* ParCalibResponseSValue = nullptr;
  TkoParValue* ParCalibResponseLValue = nullptr;
  TkoParValue* ParCalibAlarmCode = nullptr;
  // The room setup registers, whole; their bit fields are the data model's descriptions.
  TkoParValue* ParSalaSetup = nullptr;
  TkoParValue* ParSalaSetupHoriz = nullptr;
  TkoParValue* ParSalaSetupRight = nullptr;
  TkoParValue* ParSalaSetupLeft = nullptr;
  TkoParEncoded* ParSelInputMode = nullptr;
  TkoParEncoded* ParSelLatoAct = nullptr;
  TkoParEncoded* ParSelRangeAct = nullptr;
  TkoParEncoded* ParPrjDirAct = nullptr;
  TkoParEncoded* ParSelDevAct = nullptr;

  static constexpr const char* kUnits[7] = {"TAV", "LATDX", "LATSX", "COL", "KBRD", "GEN", "STA"};
};
