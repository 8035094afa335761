#pragma once
#include <string>

#include "params/parvalue.h"

// A gain kept as a 16-bit fraction (raw / 32768) in Register and an optional power-of-two
// exponent in ExpRegister, same element: value = mantissa / 32768 * 2^exponent.
class TkoParFrac16 : public TkoParValue {
 public:
  TkoParFrac16(TkoRegister* mantissa, int index, TkoRegister* exponent);

  double GetMax() const override;
  std::string GetMaxString() const override;
  double GetMin() const override;
  std::string GetMinString() const override;
  double GetDflt() const override;
  std::string GetDfltString() const override;
  // Clamps to the limits, normalises into mantissa and exponent and stores both.
  void SetValue(double value) override;
  double GetValue() const override;
  std::string GetValueString() const override;
  void SetValueString(const std::string& text) override;
  bool IsChanged() const override;
  void AssignDefault() override;
  [[nodiscard]] int32_t ReadNow() override;
  [[nodiscard]] int32_t WriteNow() override;

  TkoRegister* ExpRegister;
};

// A pair X|Y in two registers; a missing register is stood in for by LocalX or LocalY.
// The generic number operations (GetValue, SetValue, GetMax...) work on X alone.
class TkoPar2DPoint : public TkoParValue {
 public:
  TkoPar2DPoint(TkoRegister* x, int index, TkoRegister* y);

  bool HasMax() const override;
  std::string GetMaxString() const override;
  bool HasMin() const override;
  std::string GetMinString() const override;
  bool HasDflt() const override;
  std::string GetDfltString() const override;
  std::string GetDescr() const override;
  std::string GetValueString() const override;
  // "x|y"; only when both numbers are read. Fires no OnChange.
  void SetValueString(const std::string& text) override;
  bool IsChanged() const override;
  void AssignDefault() override;
  [[nodiscard]] int32_t ReadNow() override;
  [[nodiscard]] int32_t WriteNow() override;

  double LocalX = 0.0;
  double LocalY = 0.0;
  TkoRegister* YRegister;

 private:
  std::string PairText(int kind) const;
};
