#pragma once
#include <array>
#include <memory>

#include "devices/vxslave.h"

// The controllers of a water-cooling plant: a master panel (TkoDeviceQueltaLcd) that
// stands for its eight compressor units and its boiler unit on the same device setup.
// Each class keeps its own parameter binder in the user interface; the engine has none.

// One compressor unit: its state is read every 10 cycles from the block "SlaveState";
// it reads no faults and no setup of its own.
class TkoDeviceQueltaCieco : public TkoDeviceVXSlave {
 public:
  TkoDeviceQueltaCieco(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                       TkoRegDefsList* dataModel);

  // The unit drives its compressor through an inverter (hardware models 340, 360, 370).
  [[nodiscard]] bool IsInverter() const;

  // The state read, under the name the unit's windows use.
  TkoMBChainedTransa* ReadState = nullptr;

  TkoParValue* ParRmtSwVersion = nullptr;
  TkoParValue* ParRmtHwVersion = nullptr;
  TkoParValue* ParRmtQueltaState2 = nullptr;
  TkoParValue* ParRmtQueltaState1 = nullptr;
  TkoParValue* ParRmtQueltaAlarm2 = nullptr;
  TkoParValue* ParRmtQueltaAlarm1 = nullptr;
  TkoParBoolField* AlrRmtAnCh1 = nullptr;
  TkoParBoolField* AlrRmtAnCh2 = nullptr;
  TkoParBoolField* AlrRmtAnCh3 = nullptr;
  TkoParBoolField* AlrRmtAnCh4 = nullptr;
  TkoParBoolField* AlrRmtTermCompr = nullptr;
  TkoParBoolField* AlrRmtCanLink = nullptr;
  TkoParBoolField* InRmtPressAlta = nullptr;
  TkoParBoolField* InRmtPressBassa = nullptr;
  TkoParBoolField* InRmtTermicaCompr = nullptr;
  TkoRegister* RegRmtDigitalOutputs = nullptr;
  TkoParBoolField* OutRmtCompr = nullptr;
  TkoParBoolField* OutRmtValve = nullptr;
  TkoParBoolField* OutRmtAlarm = nullptr;
  TkoParBoolField* OutRmtValveH2O = nullptr;
  TkoParBoolField* OutRmtReleAux = nullptr;
  TkoParValue* ParRmtChanellAI1 = nullptr;
  TkoParValue* ParRmtChanellAI2 = nullptr;
  TkoParValue* ParRmtChanellAI3 = nullptr;
  TkoParValue* ParRmtChanellAI4 = nullptr;
  TkoParBoolField* CmdRmtReset = nullptr;
  TkoParBoolField* CmdRmtShutdown = nullptr;
  TkoParValue* ParRmtFluxH2ODolce = nullptr;
  TkoParValue* ParRmtNtcAntiFreeze = nullptr;
  TkoParValue* ParRmtOptCool = nullptr;
  TkoParValue* ParRmtTipoMacchina = nullptr;
  TkoParValue* ParRmtContaOreCompressore = nullptr;
  TkoParValue* ParRmtContaMinutiCompressore = nullptr;
  TkoParValue* ParRmtModBusCmd = nullptr;
};

// The boiler unit: its state is read every 10 cycles from the block "BoilerState".
class TkoDeviceQueltaBoiler : public TkoDeviceVXSlave {
 public:
  TkoDeviceQueltaBoiler(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                        TkoRegDefsList* dataModel);

  TkoMBChainedTransa* ReadState = nullptr;

  TkoParValue* ParRmtSwVersion = nullptr;
  TkoParValue* ParRmtHwVersion = nullptr;
  TkoParValue* ParRmtQueltaState2 = nullptr;
  TkoParValue* ParRmtQueltaState1 = nullptr;
  TkoParValue* ParRmtQueltaAlarm2 = nullptr;
  TkoParValue* ParRmtQueltaAlarm1 = nullptr;
  TkoParBoolField* AlrRmtAnCh1 = nullptr;
  TkoParBoolField* AlrRmtAnCh2 = nullptr;
  TkoParBoolField* AlrRmtAnCh3 = nullptr;
  TkoParBoolField* AlrRmtAnCh4 = nullptr;
  TkoParBoolField* AlrRmtCanLink = nullptr;
  TkoParBoolField* AlrRmtKlixon1 = nullptr;
  TkoParBoolField* AlrRmtKlixon2 = nullptr;
  TkoParBoolField* AlrRmtKlixon3 = nullptr;
  TkoParBoolField* AlrRmtKlixon4 = nullptr;
  TkoParBoolField* AlrRmtNotOff1 = nullptr;
  TkoParBoolField* AlrRmtNotOff2 = nullptr;
  TkoParBoolField* AlrRmtNotOff3 = nullptr;
  TkoParBoolField* AlrRmtNotOff4 = nullptr;
  TkoParBoolField* InRmtEnable1 = nullptr;
  TkoParBoolField* InRmtEnable2 = nullptr;
  TkoParBoolField* InRmtEnable3 = nullptr;
  TkoParBoolField* InRmtEnable4 = nullptr;
  TkoParBoolField* InRmtKlixon1 = nullptr;
  TkoParBoolField* InRmtKlixon2 = nullptr;
  TkoParBoolField* InRmtKlixon3 = nullptr;
  TkoParBoolField* InRmtKlixon4 = nullptr;
  TkoParBoolField* InRmtFlusso = nullptr;
  TkoRegister* RegRmtDigitalOutputs = nullptr;
  TkoParBoolField* OutRmtBoiler1 = nullptr;
  TkoParBoolField* OutRmtBoiler2 = nullptr;
  TkoParBoolField* OutRmtBoiler3 = nullptr;
  TkoParBoolField* OutRmtBoiler4 = nullptr;
  TkoParBoolField* OutRmtAlarm = nullptr;
  TkoParBoolField* OutRmtEnable = nullptr;
  TkoParValue* ParRmtChanellAI1 = nullptr;
  TkoParValue* ParRmtChanellAI2 = nullptr;
  TkoParValue* ParRmtChanellAI3 = nullptr;
  TkoParValue* ParRmtChanellAI4 = nullptr;
};

// The master panel. Its state ("MasterState") and fault reads run every 10 cycles once
// enabled; its setup is the block "MasterSetup". It owns its units and attaches them to
// its connection thread with itself.
class TkoDeviceQueltaLcd : public TkoDeviceVXSlave {
 public:
  static constexpr int kUnits = 8;
  static constexpr const char* kMinFluxDefault = "2.1,2.5,3.3,4.2,5.0";

  TkoDeviceQueltaLcd(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                     TkoRegDefsList* dataModel);
  ~TkoDeviceQueltaLcd() override;

  void SetThread(TkoMBThread* thread) override;

  // Compressor unit 0..7; none outside.
  [[nodiscard]] TkoDeviceQueltaCieco* Slave(int index) const;
  [[nodiscard]] TkoDeviceQueltaBoiler* Boiler() const { return boiler_.get(); }
  // One compressor only (hardware version 3).
  [[nodiscard]] bool IsMono() const;
  // The default minimum fresh-water flow of the configured machine type, from the list
  // "MinFluxH2ODolceDflt" of section "AddOnInfo" of the data model (one value per type).
  [[nodiscard]] double MinFluxH2ODolceDflt() const;

  // The standard transactions under the names the panel's windows use.
  TkoMBChainedTransa* ReadState = nullptr;
  TkoMBChainedTransa* ReadAlarm = nullptr;
  TkoMBChainedTransa* ReadSetup = nullptr;
  TkoMBChainedTransa* SendSetup = nullptr;

  TkoRegister* RegOptInstallEEp = nullptr;
  TkoRegister* RegInclusioneCompEEp = nullptr;
  TkoParValue* ParMasterSwVersion = nullptr;
  TkoParValue* ParMasterHwVersion = nullptr;
  TkoParValue* ParMasterLgVersion = nullptr;
  TkoParBoolField* InTermicaDolce = nullptr;
  TkoParBoolField* InTermicaMare = nullptr;
  TkoParBoolField* InSelCaldo = nullptr;
  TkoParBoolField* InSelFreddo = nullptr;
  TkoParBoolField* InSelEnabled = nullptr;
  TkoRegister* RegDigitalOutputs = nullptr;
  TkoParBoolField* OutPompaMare = nullptr;
  TkoParBoolField* OutPompaDolce = nullptr;
  TkoParBoolField* OutAlarm = nullptr;
  TkoParValue* ParQueltaState1 = nullptr;
  TkoParValue* ParQueltaState2 = nullptr;
  TkoParValue* ParQueltaAlarm1 = nullptr;
  TkoParBoolField* AlrAnCh1 = nullptr;
  TkoParBoolField* AlrAnCh2 = nullptr;
  TkoParBoolField* AlrAnCh3 = nullptr;
  TkoParBoolField* AlrAnCh4 = nullptr;
  TkoParBoolField* AlrTermMare = nullptr;
  TkoParBoolField* AlrTermDolce = nullptr;
  TkoParBoolField* AlrLinkBoiler = nullptr;
  TkoParBoolField* AlrLink1 = nullptr;
  TkoParBoolField* AlrLink2 = nullptr;
  TkoParBoolField* AlrLink3 = nullptr;
  TkoParBoolField* AlrLink4 = nullptr;
  TkoParBoolField* AlrLink5 = nullptr;
  TkoParBoolField* AlrLink6 = nullptr;
  TkoParBoolField* AlrLink7 = nullptr;
  TkoParBoolField* AlrLink8 = nullptr;
  TkoParBoolField* AlrNoCompr = nullptr;
  TkoParValue* ParQueltaAlarm2 = nullptr;
  TkoParValue* ParSetPointCoolHiLimitEEp = nullptr;
  TkoParValue* ParSetPointCoolLoLimitEEp = nullptr;
  TkoParValue* ParSetPointHeatHiLimitEEp = nullptr;
  TkoParValue* ParSetPointHeatLoLimitEEp = nullptr;
  TkoParValue* ParDifferenzialeSetPointEEp = nullptr;
  TkoParValue* ParRitOffPompaMareDopoCompressoreEEp = nullptr;
  TkoParValue* ParRitOffPompaDolceDopoSpegnimentoEEp = nullptr;
  TkoParValue* ParRitOnPompaDolceDopoPompaMareEEp = nullptr;
  TkoParValue* ParRitCtrlFlussEEp = nullptr;
  TkoParValue* ParRitOnCompDopoPompaDolceEEp = nullptr;
  TkoParValue* ParRitOnOnCompressoreEEp = nullptr;
  TkoParValue* ParRitOffOnCompEEp = nullptr;
  TkoParValue* ParTimMinOnCompEEp = nullptr;
  TkoParValue* ParMinFluxH2ODolceEEp = nullptr;
  TkoParValue* ParRitCtrlBassaPressioneEEp = nullptr;
  TkoParValue* ParTimRipristinoResetEEp = nullptr;
  TkoParValue* ParTipoMacchinaEEp = nullptr;
  TkoParValue* ParSetPointFreezeCoolEEp = nullptr;
  TkoParValue* ParSetPointFreezeHeatEEp = nullptr;
  TkoParValue* ParContaOrePompaMareEEp = nullptr;
  TkoParValue* ParContaOrePompaDolceEEp = nullptr;
  TkoParBoolField* CmdCoolMode = nullptr;
  TkoParBoolField* CmdHeatMode = nullptr;
  TkoParBoolField* CmdTestMode = nullptr;
  TkoParBoolField* CfgCompressore1 = nullptr;
  TkoParBoolField* CfgCompressore2 = nullptr;
  TkoParBoolField* CfgCompressore3 = nullptr;
  TkoParBoolField* CfgCompressore4 = nullptr;
  TkoParBoolField* CfgCompressore5 = nullptr;
  TkoParBoolField* CfgCompressore6 = nullptr;
  TkoParBoolField* CfgCompressore7 = nullptr;
  TkoParBoolField* CfgCompressore8 = nullptr;
  TkoParBoolField* CfgPompaMare = nullptr;
  TkoParValue* ParOptCoolEEp = nullptr;
  TkoParValue* ParSetPointCoolEEp = nullptr;
  TkoParValue* ParSetPointHeatEEp = nullptr;
  TkoParValue* ParContaOreCompr1 = nullptr;
  TkoParValue* ParContaOreCompr2 = nullptr;
  TkoParValue* ParContaOreCompr3 = nullptr;
  TkoParValue* ParContaOreCompr4 = nullptr;
  TkoParValue* ParContaOreCompr5 = nullptr;
  TkoParValue* ParContaOreCompr6 = nullptr;
  TkoParValue* ParContaOreCompr7 = nullptr;
  TkoParValue* ParContaOreCompr8 = nullptr;
  TkoParValue* ParNtcInDolce = nullptr;
  TkoParValue* ParRmtDevSetIndex = nullptr;
  TkoParValue* ParRmtDevActIndex = nullptr;
  TkoRegister* RegRmtDigitalOutputs = nullptr;

 private:
  std::array<std::unique_ptr<TkoDeviceQueltaCieco>, kUnits> units_;
  std::unique_ptr<TkoDeviceQueltaBoiler> boiler_;
};
