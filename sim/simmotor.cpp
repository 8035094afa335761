// The long, fixed-point and bit-field codings repeat params/ on purpose: an independent check.
#include "sim/simmotor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "regmodel/textresource.h"

namespace vx {

// ---- SimBinding ---------------------------------------------------------------------

namespace {

uint32_t Compact(uint32_t value, uint32_t mask) {
  uint32_t r = 0;
  for (int p = 31; p >= 0; --p)
    if (mask & (1u << p)) r = (r << 1) | ((value >> p) & 1u);
  return r;
}

uint32_t Expand(uint32_t value, uint32_t mask) {
  uint32_t r = 0;
  for (int p = 0; p < 32; ++p)
    if (mask & (1u << p)) {
      if (value & 1u) r |= 1u << p;
      value >>= 1;
    }
  return r;
}

}  // namespace

SimBinding SimBinding::Resolve(SimImage& image, const std::string& member, Kind kind,
                               bool bitNumber) {
  SimBinding b;
  const std::vector<std::string> items =
      SplitCommaList(image.Model().ReadString("Parameters", member, ""));
  auto element = [&](const std::string& text, TkoRegister* reg, int& out) {
    int32_t v = 0;
    if (!TextToInteger(text, v)) return false;
    out = v & 0xFF;
    return reg != nullptr && out < reg->Definition()->Length;
  };
  b.kind_ = kind;
  switch (kind) {
    case Kind::kValue: {
      if (items.size() != 2) return b;
      TkoRegister* r = image.Find(items[0]);
      if (r == nullptr || !r->Definition()->IsNumeric() || !element(items[1], r, b.index_))
        return b;
      b.reg_ = r;
      break;
    }
    case Kind::kBits: {
      if (items.size() != 3) return b;
      TkoRegister* r = image.Find(items[0]);
      int32_t third = 0;
      if (r == nullptr || !r->Definition()->IsNumeric() || !element(items[1], r, b.index_) ||
          !TextToInteger(items[2], third))
        return b;
      if (bitNumber && (third < 0 || third >= r->Definition()->ElementBytes() * 8)) return b;
      b.mask_ = bitNumber ? 1u << third : static_cast<uint32_t>(third);
      if (b.mask_ == 0) return b;
      b.reg_ = r;
      break;
    }
    case Kind::kLong:
    case Kind::kFrac16: {
      if (items.size() != 3) return b;
      TkoRegister* r = image.Find(items[0]);
      if (r == nullptr || !r->Definition()->IsNumeric() || !element(items[2], r, b.index_))
        return b;
      TkoRegister* r2 = items[1].empty() ? nullptr : image.Find(items[1]);
      if (r2 != nullptr && (!r2->Definition()->IsNumeric() || b.index_ >= r2->Definition()->Length))
        r2 = nullptr;
      b.reg_ = r;
      b.reg2_ = r2;
      break;
    }
  }
  return b;
}

double SimBinding::Get() const {
  if (!reg_) return 0.0;
  switch (kind_) {
    case Kind::kValue:
      return reg_->GetValueDouble(index_);
    case Kind::kBits:
      return Compact(static_cast<uint32_t>(reg_->GetValueMasked(index_, mask_)), mask_);
    case Kind::kLong: {
      uint32_t v = static_cast<uint32_t>(reg_->GetValueInteger(index_)) & 0xFFFFu;
      if (reg2_) v |= static_cast<uint32_t>(reg2_->GetValueInteger(index_)) << 16;
      return static_cast<int32_t>(v);
    }
    case Kind::kFrac16: {
      const double m = reg_->GetValueInteger(index_) / 32768.0;
      return reg2_ ? std::ldexp(m, reg2_->GetValueInteger(index_)) : m;
    }
  }
  return 0.0;
}

void SimBinding::Set(double value) {
  if (!reg_) return;
  switch (kind_) {
    case Kind::kValue:
      reg_->SetValueDouble(index_, value);
      break;
    case Kind::kBits:
      reg_->SetValueMasked(static_cast<int32_t>(Expand(static_cast<uint32_t>(value), mask_)),
                           index_, mask_);
      break;
    case Kind::kLong: {
      const auto v = static_cast<uint32_t>(
          static_cast<int32_t>(std::clamp(value, -2147483648.0, 2147483647.0)));
      reg_->SetValueInteger(index_, static_cast<int32_t>(v & 0xFFFFu));
      if (reg2_) reg2_->SetValueInteger(index_, static_cast<int32_t>(v >> 16));
      break;
    }
    case Kind::kFrac16:
      // The simulator only ever writes plain fractions: exponent 0.
      reg_->SetValueInteger(index_, static_cast<int32_t>(value * 32768.0));
      if (reg2_) reg2_->SetValueInteger(index_, 0);
      break;
  }
}

// ---- SimMotor -----------------------------------------------------------------------

namespace {

// Fault bits this firmware raises by itself (fault register 1).
constexpr int kFaultPositionLimit = 12;

// Reference sources of the drive; only the field bus has a simulated signal.
constexpr int kRefSourceNone = 0;
constexpr int kRefSourceFieldBus = 1;

// Stop modes.
constexpr int kStopRamp = 0, kStopQuick = 1, kStopFreeWheel = 2, kStopHold = 3;

constexpr int kMaxSubsteps = 100000;
constexpr double kSubstep = 0.001;  // seconds

// The drive's counters are 32 bits wide: they wrap round instead of stopping at the end.
double Wrap32(double v) {
  constexpr double kRange = 4294967296.0;
  return v - kRange * std::floor((v + kRange / 2.0) / kRange);
}

}  // namespace

struct SimMotor::Inputs {
  bool enableCmd = false;
  bool enabled = false;
  bool useRamp = true;
  int stopMode = 0;
  int refSource = 0;
  bool positionMode = false;
  bool usePosLimits = false;
  bool useSync = false;
  bool encoderEnable = false;
  bool encoderReverse = false;
  double speedRef = 0.0;  // fraction of the speed range
  double stepsPerRev = 3200.0;
  double accel = 5000.0, decel = 5000.0;   // rpm/s
  double range = 3000.0;                   // rpm
  double currRated = 0.0, currPeak = 0.0;  // A
  double currTimer = 0.5;                  // s
  double pktAccel = 2000.0, pktDecel = 2000.0, pktSpeed = 0.0;
  double posMax = 0.0, posMin = 0.0;
  double encPulses = 1000.0, encGear = 1.0;
  double mainVoltage = 230.0;
};

SimMotor::SimMotor(SimImage& image, Clock::time_point start)
    : image_(image), start_(start), last_(start) {
  using K = SimBinding::Kind;
  auto bit = [&](const char* m) { return SimBinding::Resolve(image, m, K::kBits, true); };
  auto field = [&](const char* m) { return SimBinding::Resolve(image, m, K::kBits, false); };
  auto value = [&](const char* m) { return SimBinding::Resolve(image, m, K::kValue); };
  cmdFromBus_ = bit("CfgCmdFromBus");
  useRamp_ = bit("CfgUseRamp");
  stopMode_ = field("CfgRampStopMode");
  refSource_ = field("CfgRefSource");
  positionMode_ = bit("CfgPositionMode");
  usePosLimits_ = bit("CfgUsePosLimits");
  useSync_ = bit("CfgUseSyncSignal");
  encoderEnable_ = bit("CfgEncoderEnable");
  encoderReverse_ = bit("ParUseEncoderReverse");
  cmdEnable_ = bit("CmdDriveEnable");
  hwEnable_ = bit("HwDriveEnable");
  cmdResetCounter_ = bit("CmdResetCounter");
  cmdZeroing_ = bit("CmdZeroing");
  cmdSync_ = bit("CmdSyncSignal");
  speedRef_ = SimBinding::Resolve(image, "ParSpeedRef", K::kFrac16);
  stepRev_ = value("ParMotorStepRev");
  stepDiv_ = value("ParMotorStepDiv");
  accel_ = value("ParMotorAccel");
  decel_ = value("ParMotorDecel");
  speedRange_ = value("ParSpeedRangeMax");
  currRated_ = value("ParMotorIrA");
  currPeak_ = value("ParMotorIpA");
  currTimer_ = value("ParMotorIrTimer");
  pktAccel_ = value("ParPosPktAccel");
  pktDecel_ = value("ParPosPktDecel");
  pktSpeed_ = SimBinding::Resolve(image, "ParPosPktSpeed", K::kFrac16);
  pktTarget_ = SimBinding::Resolve(image, "ParPosPktTarget", K::kLong);
  posMax_ = SimBinding::Resolve(image, "ParPosMaxLimit", K::kLong);
  posMin_ = SimBinding::Resolve(image, "ParPosMinLimit", K::kLong);
  encPulses_ = value("ParEncoderPulseRev");
  encGear_ = value("ParEncoderGear");
  mainVoltage_ = value("ParMainVoltage");
  stSpeedLoop_ = bit("StateSpeedLoop");
  stProfile_ = bit("StateProfile");
  stPosLoop_ = bit("StatePosLoop");
  stMotor_ = bit("StateMotor");
  outSpeed_ = value("ParS_MotorRPM");
  outFreq_ = value("ParF_MotorHz");
  outVolt_ = value("ParU_MotorV");
  outCurr_ = value("ParI_MotorA");
  outDcBus_ = value("ParU_Dc_BusV");
  outPos_ = SimBinding::Resolve(image, "ParActualPos", K::kLong);
  outEnc_ = SimBinding::Resolve(image, "ParEncoderExt", K::kLong);
  actFault_[0] = image.Find("ActFault1");
  actFault_[1] = image.Find("ActFault2");
  preFault_[0] = image.Find("PreFault1");
  preFault_[1] = image.Find("PreFault2");
  pos_ = outPos_.Get();
  enc_ = outEnc_.Get();
  target_ = pktTarget_.Get();
  // An enable that is already on at power-up is no new enable: it acknowledges nothing.
  prevEnableCmd_ = EnableCommand();
}

bool SimMotor::EnableCommand() const {
  return cmdFromBus_.Flag() ? cmdEnable_.Flag() : hwEnable_.Flag();
}

bool SimMotor::RaiseFault(int faultRegister, int bit) {
  if (faultRegister < 1 || faultRegister > 2) return false;
  TkoRegister* act = actFault_[faultRegister - 1];
  if (act == nullptr || bit < 0 || bit >= act->Definition()->ElementBytes() * 8) return false;
  act->SetValueBit(0, bit, true);
  if (TkoRegister* pre = preFault_[faultRegister - 1]) pre->SetValueBit(0, bit, true);
  return true;
}

void SimMotor::ActOnCommands(Inputs& in) {
  // A rising enable command acknowledges the faults; a cause still present raises its
  // fault again at once.
  if (in.enableCmd && !prevEnableCmd_)
    for (TkoRegister* r : actFault_)
      if (r) r->SetValueInteger(0, 0);
  prevEnableCmd_ = in.enableCmd;
  bool fault = false;
  for (TkoRegister* r : actFault_)
    if (r && r->GetValueInteger(0) != 0) fault = true;
  in.enabled = in.enableCmd && !fault;

  if (cmdResetCounter_.Flag()) {
    pos_ = 0.0;
    enc_ = 0.0;
    cmdResetCounter_.SetFlag(false);
  }
  if (cmdZeroing_.Flag()) {
    // The zero switch is taken to sit where the motor stands.
    pos_ = 0.0;
    enc_ = 0.0;
    cmdZeroing_.SetFlag(false);
  }
  // With the synchronisation signal in use a new target waits for the signal.
  if (cmdSync_.Flag()) {
    target_ = pktTarget_.Get();
    cmdSync_.SetFlag(false);
  } else if (!in.useSync) {
    target_ = pktTarget_.Get();
  }
}

void SimMotor::Step(const Inputs& in, double dt) {
  const double k = in.stepsPerRev / 60.0;  // steps per second per rpm
  const double before = rpm_;
  auto approach = [&](double target, double up, double down) {
    const bool speedingUp = std::fabs(target) > std::fabs(rpm_) && target * rpm_ >= 0.0;
    const double rate = (speedingUp ? up : down) * dt;
    rpm_ += std::clamp(target - rpm_, -rate, rate);
  };

  if (!in.enabled) {
    switch (in.stopMode) {
      case kStopHold:
        rpm_ = 0.0;
        break;
      case kStopQuick:
        approach(0.0, in.decel * 10.0, in.decel * 10.0);
        break;
      case kStopFreeWheel:
        approach(0.0, in.decel / 4.0, in.decel / 4.0);
        break;
      case kStopRamp:
      default:
        approach(0.0, in.decel, in.decel);
        break;
    }
  } else if (in.positionMode) {
    const double d = target_ - pos_;
    const double dir = d > 0.0 ? 1.0 : -1.0;
    const double vmax = std::fabs(in.pktSpeed) * in.range;
    if (std::fabs(d) < 0.5 && std::fabs(rpm_) <= in.pktDecel * dt) {
      pos_ = target_;
      rpm_ = 0.0;
    } else if (rpm_ * dir < 0.0) {
      approach(0.0, in.pktDecel, in.pktDecel);  // moving away: turn round first
    } else {
      const double stopDistance = rpm_ * rpm_ / (2.0 * in.pktDecel) * k;
      approach(stopDistance >= std::fabs(d) ? 0.0 : dir * vmax, in.pktAccel, in.pktDecel);
    }
    const double next = pos_ + rpm_ * k * dt;
    if (std::fabs(d) >= 0.5 && (target_ - next) * dir < 0.0) {  // would pass the target
      pos_ = target_;
      rpm_ = 0.0;
    }
  } else {
    const double target = in.refSource == kRefSourceFieldBus ? in.speedRef * in.range : 0.0;
    if (in.useRamp)
      approach(target, in.accel, in.decel);
    else
      rpm_ = target;
  }
  accelerating_ = std::fabs(rpm_) > std::fabs(before) + 1e-9;
  decelerating_ = std::fabs(rpm_) < std::fabs(before) - 1e-9;

  pos_ += rpm_ * k * dt;
  if (in.encoderEnable)
    enc_ += rpm_ / 60.0 * dt * in.encPulses / std::max(1.0, in.encGear) *
            (in.encoderReverse ? -1.0 : 1.0);
  if (in.enabled && std::fabs(rpm_) < 0.5)
    standstill_ += dt;
  else
    standstill_ = 0.0;
}

void SimMotor::Advance(Clock::time_point now) {
  Inputs in;
  in.enableCmd = EnableCommand();
  if (useRamp_.Bound()) in.useRamp = useRamp_.Flag();
  in.stopMode = static_cast<int>(stopMode_.Get());
  in.refSource = refSource_.Bound() ? static_cast<int>(refSource_.Get()) : kRefSourceFieldBus;
  in.positionMode = positionMode_.Flag();
  in.usePosLimits = usePosLimits_.Flag();
  in.useSync = useSync_.Flag();
  in.encoderEnable = encoderEnable_.Flag();
  in.encoderReverse = encoderReverse_.Flag();
  in.speedRef = speedRef_.Get();
  auto positive = [](const SimBinding& b, double dflt) {
    const double v = b.Bound() ? b.Get() : dflt;
    return v > 0.0 ? v : dflt;
  };
  in.stepsPerRev = positive(stepRev_, 200.0) * positive(stepDiv_, 1.0);
  in.accel = positive(accel_, 5000.0);
  in.decel = positive(decel_, 5000.0);
  in.range = positive(speedRange_, 3000.0);
  in.currRated = positive(currRated_, 1.0);
  in.currPeak = std::max(in.currRated, positive(currPeak_, in.currRated));
  in.currTimer = currTimer_.Get() / 1000.0;
  in.pktAccel = positive(pktAccel_, 2000.0);
  in.pktDecel = positive(pktDecel_, 2000.0);
  in.pktSpeed = pktSpeed_.Get();
  in.posMax = posMax_.Get();
  in.posMin = posMin_.Get();
  in.encPulses = positive(encPulses_, 1000.0);
  in.encGear = positive(encGear_, 1.0);
  in.mainVoltage = positive(mainVoltage_, 230.0);
  if (in.refSource == kRefSourceNone) in.positionMode = false;

  ActOnCommands(in);

  double total = std::chrono::duration<double>(now - last_).count();
  if (total < 0.0) total = 0.0;
  last_ = now;
  const int steps = std::clamp(static_cast<int>(std::ceil(total / kSubstep)), 0, kMaxSubsteps);
  for (int i = 0; i < steps; ++i) {
    Step(in, total / steps);
    // Only moving further out trips the limit, so that the motor can be driven back in.
    if (in.enabled && in.usePosLimits &&
        ((pos_ > in.posMax && rpm_ > 0.0) || (pos_ < in.posMin && rpm_ < 0.0))) {
      RaiseFault(1, kFaultPositionLimit);
      in.enabled = false;
    }
  }
  pos_ = Wrap32(pos_);
  enc_ = Wrap32(enc_);
  WriteOutputs(in, std::chrono::duration<double>(now - start_).count());
}

void SimMotor::WriteOutputs(const Inputs& in, double t) {
  auto noise = [this](double amplitude) {
    noise_ = noise_ * 1103515245u + 12345u;
    return amplitude * (static_cast<double>((noise_ >> 8) & 0xFFFF) / 32768.0 - 1.0);
  };
  double current = 0.0;
  if (in.enabled) {
    if (std::fabs(rpm_) < 0.5)
      current = standstill_ >= in.currTimer ? in.currRated * 0.5 : in.currRated;  // holding current
    else
      current = in.currRated +
                (accelerating_ || decelerating_ ? 0.8 * (in.currPeak - in.currRated) : 0.0);
    current = std::clamp(current * (1.0 + noise(0.01)), 0.0, in.currPeak);
  }
  // The bus sags under load, rises while braking, and ripples with the mains.
  double bus = in.mainVoltage * std::sqrt(2.0) - 1.5 * current +
               1.5 * std::sin(std::numbers::pi * t) + noise(0.4);
  if (decelerating_) bus += std::min(30.0, 0.01 * std::fabs(rpm_));
  bus = std::max(0.0, bus);
  const double motorVolt =
      in.enabled ? 0.9 * bus * std::min(1.0, std::fabs(rpm_) / in.range) + 1.0 : 0.0;
  const double stepRev = in.stepsPerRev / std::max(1.0, stepDiv_.Bound() ? stepDiv_.Get() : 1.0);

  const bool profile =
      in.enabled && in.positionMode && (std::fabs(target_ - pos_) >= 0.5 || rpm_ != 0.0);
  stMotor_.SetFlag(in.enabled);
  stSpeedLoop_.SetFlag(in.enabled);
  stPosLoop_.SetFlag(in.enabled && in.positionMode);
  stProfile_.SetFlag(profile);
  outSpeed_.Set(rpm_);
  outFreq_.Set(std::fabs(rpm_) / 60.0 * stepRev / 4.0);  // a step motor has steps/4 pole pairs
  outVolt_.Set(motorVolt);
  outCurr_.Set(current);
  outDcBus_.Set(bus);
  outPos_.Set(std::round(pos_));
  outEnc_.Set(std::round(enc_));
}

}  // namespace vx
