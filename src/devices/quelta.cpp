#include "devices/quelta.h"

#include <algorithm>
#include <string>
#include <vector>

#include "modbus/mbtransakinds.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace {

const vx::NamedSlot kCiecoSlots[] = {
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtSwVersion),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtHwVersion),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtQueltaState2),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtQueltaState1),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtQueltaAlarm2),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtQueltaAlarm1),
    VX_SLOT(TkoDeviceQueltaCieco, AlrRmtAnCh1),
    VX_SLOT(TkoDeviceQueltaCieco, AlrRmtAnCh2),
    VX_SLOT(TkoDeviceQueltaCieco, AlrRmtAnCh3),
    VX_SLOT(TkoDeviceQueltaCieco, AlrRmtAnCh4),
    VX_SLOT(TkoDeviceQueltaCieco, AlrRmtTermCompr),
    VX_SLOT(TkoDeviceQueltaCieco, AlrRmtCanLink),
    VX_SLOT(TkoDeviceQueltaCieco, InRmtPressAlta),
    VX_SLOT(TkoDeviceQueltaCieco, InRmtPressBassa),
    VX_SLOT(TkoDeviceQueltaCieco, InRmtTermicaCompr),
    VX_SLOT(TkoDeviceQueltaCieco, RegRmtDigitalOutputs),
    VX_SLOT(TkoDeviceQueltaCieco, OutRmtCompr),
    VX_SLOT(TkoDeviceQueltaCieco, OutRmtValve),
    VX_SLOT(TkoDeviceQueltaCieco, OutRmtAlarm),
    VX_SLOT(TkoDeviceQueltaCieco, OutRmtValveH2O),
    VX_SLOT(TkoDeviceQueltaCieco, OutRmtReleAux),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtChanellAI1),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtChanellAI2),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtChanellAI3),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtChanellAI4),
    VX_SLOT(TkoDeviceQueltaCieco, CmdRmtReset),
    VX_SLOT(TkoDeviceQueltaCieco, CmdRmtShutdown),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtFluxH2ODolce),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtNtcAntiFreeze),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtOptCool),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtTipoMacchina),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtContaOreCompressore),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtContaMinutiCompressore),
    VX_SLOT(TkoDeviceQueltaCieco, ParRmtModBusCmd),
};

const vx::NamedSlot kBoilerSlots[] = {
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtSwVersion),
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtHwVersion),
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtQueltaState2),
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtQueltaState1),
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtQueltaAlarm2),
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtQueltaAlarm1),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtAnCh1),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtAnCh2),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtAnCh3),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtAnCh4),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtCanLink),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtKlixon1),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtKlixon2),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtKlixon3),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtKlixon4),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtNotOff1),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtNotOff2),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtNotOff3),
    VX_SLOT(TkoDeviceQueltaBoiler, AlrRmtNotOff4),
    VX_SLOT(TkoDeviceQueltaBoiler, InRmtEnable1),
    VX_SLOT(TkoDeviceQueltaBoiler, InRmtEnable2),
    VX_SLOT(TkoDeviceQueltaBoiler, InRmtEnable3),
    VX_SLOT(TkoDeviceQueltaBoiler, InRmtEnable4),
    VX_SLOT(TkoDeviceQueltaBoiler, InRmtKlixon1),
    VX_SLOT(TkoDeviceQueltaBoiler, InRmtKlixon2),
    VX_SLOT(TkoDeviceQueltaBoiler, InRmtKlixon3),
    VX_SLOT(TkoDeviceQueltaBoiler, InRmtKlixon4),
    VX_SLOT(TkoDeviceQueltaBoiler, InRmtFlusso),
    VX_SLOT(TkoDeviceQueltaBoiler, RegRmtDigitalOutputs),
    VX_SLOT(TkoDeviceQueltaBoiler, OutRmtBoiler1),
    VX_SLOT(TkoDeviceQueltaBoiler, OutRmtBoiler2),
    VX_SLOT(TkoDeviceQueltaBoiler, OutRmtBoiler3),
    VX_SLOT(TkoDeviceQueltaBoiler, OutRmtBoiler4),
    VX_SLOT(TkoDeviceQueltaBoiler, OutRmtAlarm),
    VX_SLOT(TkoDeviceQueltaBoiler, OutRmtEnable),
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtChanellAI1),
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtChanellAI2),
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtChanellAI3),
    VX_SLOT(TkoDeviceQueltaBoiler, ParRmtChanellAI4),
};

const vx::NamedSlot kLcdSlots[] = {
    VX_SLOT(TkoDeviceQueltaLcd, RegOptInstallEEp),
    VX_SLOT(TkoDeviceQueltaLcd, RegInclusioneCompEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParMasterSwVersion),
    VX_SLOT(TkoDeviceQueltaLcd, ParMasterHwVersion),
    VX_SLOT(TkoDeviceQueltaLcd, ParMasterLgVersion),
    VX_SLOT(TkoDeviceQueltaLcd, InTermicaDolce),
    VX_SLOT(TkoDeviceQueltaLcd, InTermicaMare),
    VX_SLOT(TkoDeviceQueltaLcd, InSelCaldo),
    VX_SLOT(TkoDeviceQueltaLcd, InSelFreddo),
    VX_SLOT(TkoDeviceQueltaLcd, InSelEnabled),
    VX_SLOT(TkoDeviceQueltaLcd, RegDigitalOutputs),
    VX_SLOT(TkoDeviceQueltaLcd, OutPompaMare),
    VX_SLOT(TkoDeviceQueltaLcd, OutPompaDolce),
    VX_SLOT(TkoDeviceQueltaLcd, OutAlarm),
    VX_SLOT(TkoDeviceQueltaLcd, ParQueltaState1),
    VX_SLOT(TkoDeviceQueltaLcd, ParQueltaState2),
    VX_SLOT(TkoDeviceQueltaLcd, ParQueltaAlarm1),
    VX_SLOT(TkoDeviceQueltaLcd, AlrAnCh1),
    VX_SLOT(TkoDeviceQueltaLcd, AlrAnCh2),
    VX_SLOT(TkoDeviceQueltaLcd, AlrAnCh3),
    VX_SLOT(TkoDeviceQueltaLcd, AlrAnCh4),
    VX_SLOT(TkoDeviceQueltaLcd, AlrTermMare),
    VX_SLOT(TkoDeviceQueltaLcd, AlrTermDolce),
    VX_SLOT(TkoDeviceQueltaLcd, AlrLinkBoiler),
    VX_SLOT(TkoDeviceQueltaLcd, AlrLink1),
    VX_SLOT(TkoDeviceQueltaLcd, AlrLink2),
    VX_SLOT(TkoDeviceQueltaLcd, AlrLink3),
    VX_SLOT(TkoDeviceQueltaLcd, AlrLink4),
    VX_SLOT(TkoDeviceQueltaLcd, AlrLink5),
    VX_SLOT(TkoDeviceQueltaLcd, AlrLink6),
    VX_SLOT(TkoDeviceQueltaLcd, AlrLink7),
    VX_SLOT(TkoDeviceQueltaLcd, AlrLink8),
    VX_SLOT(TkoDeviceQueltaLcd, AlrNoCompr),
    VX_SLOT(TkoDeviceQueltaLcd, ParQueltaAlarm2),
    VX_SLOT(TkoDeviceQueltaLcd, ParSetPointCoolHiLimitEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParSetPointCoolLoLimitEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParSetPointHeatHiLimitEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParSetPointHeatLoLimitEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParDifferenzialeSetPointEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParRitOffPompaMareDopoCompressoreEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParRitOffPompaDolceDopoSpegnimentoEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParRitOnPompaDolceDopoPompaMareEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParRitCtrlFlussEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParRitOnCompDopoPompaDolceEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParRitOnOnCompressoreEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParRitOffOnCompEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParTimMinOnCompEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParMinFluxH2ODolceEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParRitCtrlBassaPressioneEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParTimRipristinoResetEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParTipoMacchinaEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParSetPointFreezeCoolEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParSetPointFreezeHeatEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOrePompaMareEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOrePompaDolceEEp),
    VX_SLOT(TkoDeviceQueltaLcd, CmdCoolMode),
    VX_SLOT(TkoDeviceQueltaLcd, CmdHeatMode),
    VX_SLOT(TkoDeviceQueltaLcd, CmdTestMode),
    VX_SLOT(TkoDeviceQueltaLcd, CfgCompressore1),
    VX_SLOT(TkoDeviceQueltaLcd, CfgCompressore2),
    VX_SLOT(TkoDeviceQueltaLcd, CfgCompressore3),
    VX_SLOT(TkoDeviceQueltaLcd, CfgCompressore4),
    VX_SLOT(TkoDeviceQueltaLcd, CfgCompressore5),
    VX_SLOT(TkoDeviceQueltaLcd, CfgCompressore6),
    VX_SLOT(TkoDeviceQueltaLcd, CfgCompressore7),
    VX_SLOT(TkoDeviceQueltaLcd, CfgCompressore8),
    VX_SLOT(TkoDeviceQueltaLcd, CfgPompaMare),
    VX_SLOT(TkoDeviceQueltaLcd, ParOptCoolEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParSetPointCoolEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParSetPointHeatEEp),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOreCompr1),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOreCompr2),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOreCompr3),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOreCompr4),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOreCompr5),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOreCompr6),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOreCompr7),
    VX_SLOT(TkoDeviceQueltaLcd, ParContaOreCompr8),
    VX_SLOT(TkoDeviceQueltaLcd, ParNtcInDolce),
    VX_SLOT(TkoDeviceQueltaLcd, ParRmtDevSetIndex),
    VX_SLOT(TkoDeviceQueltaLcd, ParRmtDevActIndex),
    VX_SLOT(TkoDeviceQueltaLcd, RegRmtDigitalOutputs),
};

// A unit reads only its state, from its own block, every 10 cycles.
void StateOnly(TkoDeviceVXSlave& unit, const char* block) {
  unit.ReadActState->SetReadBlocksText(block);
  unit.ReadActState->SetRepeatTime(10);
  vx::EnableWithBlocks(unit.ReadActState);
  for (TkoMBChainedTransa* t :
       {unit.ReadFaultState, unit.ReadRamSetup, unit.SendRamSetup, unit.SaveEEPromSetup})
    t->SetEnabled(false);
}

}  // namespace

TkoDeviceQueltaCieco::TkoDeviceQueltaCieco(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                                           TkoRegDefsList* dataModel)
    : TkoDeviceVXSlave(setup, version, dataModel) {
  BindSlots(kCiecoSlots);
  StateOnly(*this, "SlaveState");
  ReadState = ReadActState;
  vx::MarkReadOnly({ParRmtSwVersion,
                    ParRmtHwVersion,
                    ParRmtQueltaState1,
                    ParRmtQueltaState2,
                    ParRmtQueltaAlarm1,
                    ParRmtQueltaAlarm2,
                    AlrRmtAnCh1,
                    AlrRmtAnCh2,
                    AlrRmtAnCh3,
                    AlrRmtAnCh4,
                    AlrRmtTermCompr,
                    AlrRmtCanLink,
                    InRmtPressAlta,
                    InRmtPressBassa,
                    InRmtTermicaCompr,
                    ParRmtChanellAI1,
                    ParRmtChanellAI2,
                    ParRmtChanellAI3,
                    ParRmtChanellAI4,
                    ParRmtContaOreCompressore,
                    ParRmtContaMinutiCompressore});
}

bool TkoDeviceQueltaCieco::IsInverter() const {
  if (!ParRmtHwVersion || !ParRmtHwVersion->Register) return false;
  const int32_t model = ParRmtHwVersion->Register->GetValueInteger(ParRmtHwVersion->Index);
  return model == 340 || model == 360 || model == 370;
}

TkoDeviceQueltaBoiler::TkoDeviceQueltaBoiler(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                                             TkoRegDefsList* dataModel)
    : TkoDeviceVXSlave(setup, version, dataModel) {
  BindSlots(kBoilerSlots);
  StateOnly(*this, "BoilerState");
  ReadState = ReadActState;
  vx::MarkReadOnly({AlrRmtAnCh1, AlrRmtAnCh2, AlrRmtAnCh3, AlrRmtAnCh4, AlrRmtCanLink,
                    AlrRmtKlixon1, AlrRmtKlixon2, AlrRmtKlixon3, AlrRmtKlixon4, AlrRmtNotOff1,
                    AlrRmtNotOff2, AlrRmtNotOff3, AlrRmtNotOff4, ParRmtChanellAI1, ParRmtChanellAI2,
                    ParRmtChanellAI3, ParRmtChanellAI4});
}

TkoDeviceQueltaLcd::TkoDeviceQueltaLcd(TkoDeviceSetup* setup, const TkoVersionRecord* version,
                                       TkoRegDefsList* dataModel)
    : TkoDeviceVXSlave(setup, version, dataModel) {
  BindSlots(kLcdSlots);
  ReadActState->SetReadBlocksText("MasterState");
  ReadActState->SetRepeatTime(10);
  ReadActState->SetEnabled(false);
  ReadFaultState->SetRepeatTime(10);
  ReadFaultState->SetEnabled(false);
  ReadRamSetup->SetReadBlocksText("MasterSetup");
  vx::EnableWithBlocks(ReadRamSetup);
  SendRamSetup->SetWriteBlocksText("MasterSetup");
  SaveEEPromSetup->SetWriteBlocksText("MasterSetup");
  ReadState = ReadActState;
  ReadAlarm = ReadFaultState;
  ReadSetup = ReadRamSetup;
  SendSetup = SendRamSetup;
  vx::TieMin(ParSetPointCoolEEp, ParSetPointCoolLoLimitEEp);
  vx::TieMax(ParSetPointCoolEEp, ParSetPointCoolHiLimitEEp);
  vx::TieMin(ParSetPointHeatEEp, ParSetPointHeatLoLimitEEp);
  vx::TieMax(ParSetPointHeatEEp, ParSetPointHeatHiLimitEEp);
  for (auto& unit : units_)
    unit = std::make_unique<TkoDeviceQueltaCieco>(setup, version, dataModel);
  boiler_ = std::make_unique<TkoDeviceQueltaBoiler>(setup, version, dataModel);
}

TkoDeviceQueltaLcd::~TkoDeviceQueltaLcd() {
  // The units leave the thread and go before the panel does.
  boiler_.reset();
  for (auto& unit : units_) unit.reset();
}

void TkoDeviceQueltaLcd::SetThread(TkoMBThread* thread) {
  TkoDeviceVXSlave::SetThread(thread);
  for (auto& unit : units_) unit->SetThread(thread);
  boiler_->SetThread(thread);
}

TkoDeviceQueltaCieco* TkoDeviceQueltaLcd::Slave(int index) const {
  if (index < 0 || index >= kUnits) return nullptr;
  return units_[static_cast<size_t>(index)].get();
}

bool TkoDeviceQueltaLcd::IsMono() const {
  return ParMasterHwVersion && ParMasterHwVersion->Register &&
         ParMasterHwVersion->Register->GetValueInteger(ParMasterHwVersion->Index) == 3;
}

double TkoDeviceQueltaLcd::MinFluxH2ODolceDflt() const {
  int index = 0;
  if (const TkoParValue* type = ParTipoMacchinaEEp) {
    const double v = type->GetValue();
    const bool below = type->HasMin() && v < type->GetMin();
    const bool above = type->HasMax() && v > type->GetMax();
    double chosen = v;
    if ((below || above) && type->HasDflt())
      chosen = type->GetDflt();
    else if (below)
      chosen = type->GetMin();
    else if (above)
      chosen = type->GetMax();
    index = static_cast<int>(vx::TruncToInt64(chosen));
  }
  std::string text = kMinFluxDefault;
  if (TkoRegDefsList* model = DefsList())
    text = model->ReadString("AddOnInfo", "MinFluxH2ODolceDflt", text);
  std::vector<std::string> items = vx::SplitCommaList(text);
  if (items.empty()) items = vx::SplitCommaList(kMinFluxDefault);
  // A machine type beyond the list takes its nearest entry.
  index = std::clamp(index, 0, static_cast<int>(items.size()) - 1);
  double value = 0;
  return TextToFloat(items[static_cast<size_t>(index)], value) ? value : 0.0;
}
