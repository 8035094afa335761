#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "sim/simimage.h"

namespace vx {

// One drive quantity as the data model's "[Parameters]" section binds it: an element of a
// register, a bit field or bit of it, or a value over two registers (a 32-bit value over
// low and high words, a fixed-point gain over mantissa and exponent). The simulator
// reads and writes the drive through the same bindings the terminal uses, so a model
// that moves a register or a bit moves the simulator with it. Unbound quantities read 0
// and ignore writes.
class SimBinding {
 public:
  enum class Kind { kValue, kBits, kLong, kFrac16 };

  SimBinding() = default;
  // Looks up entry `member` in the model; `kind` says how its items are read (for kBits a
  // third item is a bit number when `bitNumber` is set, else a mask).
  static SimBinding Resolve(SimImage& image, const std::string& member, Kind kind,
                            bool bitNumber = false);

  bool Bound() const { return reg_ != nullptr; }
  // Display units for kValue (raw / FormatNorm + FormatOffset), the 32-bit signed value
  // for kLong, the compact field value for kBits, mantissa / 32768 * 2^exponent for kFrac16.
  double Get() const;
  void Set(double value);
  bool Flag() const { return Get() != 0.0; }
  void SetFlag(bool on) { Set(on ? 1.0 : 0.0); }

 private:
  Kind kind_ = Kind::kValue;
  TkoRegister* reg_ = nullptr;
  TkoRegister* reg2_ = nullptr;
  int index_ = 0;
  uint32_t mask_ = 0;
};

// The mechanics and electrics behind the register image: speed ramps and positioning
// profiles, position and encoder counts, DC bus, motor current and voltage, commands
// that act once and clear themselves, and fault bits. Time advances lazily, whenever the
// image is about to be read or has been written, so an idle simulator costs nothing.
class SimMotor {
 public:
  using Clock = std::chrono::steady_clock;

  SimMotor(SimImage& image, Clock::time_point start);

  // Integrates from the last call up to `now`, then writes the live values.
  void Advance(Clock::time_point now);
  // Sets a fault bit in the present and in the previous fault register of that number
  // (1 or 2); false when the model has no such register.
  bool RaiseFault(int faultRegister, int bit);

  double Position() const { return pos_; }
  double SpeedRpm() const { return rpm_; }

 private:
  struct Inputs;
  // The enable command as the configuration picks it: the bus command or the hardware input.
  bool EnableCommand() const;
  void Step(const Inputs& in, double dt);
  void ActOnCommands(Inputs& in);
  void WriteOutputs(const Inputs& in, double t);

  SimImage& image_;
  // Configuration and commands.
  SimBinding cmdFromBus_, useRamp_, stopMode_, refSource_, positionMode_, usePosLimits_, useSync_,
      encoderEnable_, secureEnable_, encoderReverse_;
  SimBinding cmdEnable_, hwEnable_, cmdResetCounter_, cmdZeroing_, cmdSync_, input_;
  // Setup values.
  SimBinding speedRef_, stepRev_, stepDiv_, accel_, decel_, speedRange_, currRated_, currPeak_,
      currTimer_, pktAccel_, pktDecel_, pktSpeed_, pktTarget_, posMax_, posMin_, encPulses_,
      encGear_, mainVoltage_;
  // Live values.
  SimBinding stSpeedLoop_, stProfile_, stPosLoop_, stMotor_, outSpeed_, outFreq_, outVolt_,
      outCurr_, outDcBus_, outPos_, outEnc_;
  TkoRegister* actFault_[2] = {nullptr, nullptr};
  TkoRegister* preFault_[2] = {nullptr, nullptr};

  Clock::time_point start_;
  Clock::time_point last_;
  double pos_ = 0.0;     // steps
  double rpm_ = 0.0;     // signed
  double enc_ = 0.0;     // encoder pulses
  double target_ = 0.0;  // latched position target, steps
  bool prevEnableCmd_ = false;
  bool accelerating_ = false;
  bool decelerating_ = false;
  double standstill_ = 0.0;  // seconds at rest while powered
  uint32_t noise_ = 12345;
};

}  // namespace vx
