#pragma once
#include <cstdint>
#include <string>

#include "params/parvalue.h"

// A whole register element shown through the descriptions of its values (a baud rate,
// an operating mode). Texts cannot be typed in, only chosen from the value list.
class TkoParEncoded : public TkoParValue {
 public:
  TkoParEncoded(TkoRegister* reg, int index);

  double GetMax() const override;
  std::string GetMaxString() const override;
  double GetMin() const override;
  std::string GetMinString() const override;
  double GetDflt() const override;
  std::string GetDfltString() const override;
  void SetValue(double value) override;
  double GetValue() const override;
  std::string GetDescr() const override;
  std::string GetValueString() const override;
  // Throws EkoException: these values are chosen, never typed.
  void SetValueString(const std::string& text) override;
  void AssignDefault() override;
  void GetValueList(TkoParChoiceList* list, bool withLimits) const override;

  virtual int64_t GetMaxCode() const;
  virtual int64_t GetMinCode() const;
  virtual int64_t GetDfltCode() const;
  virtual int64_t GetCode() const;
  virtual void SetCode(int64_t value);

 protected:
  // Mask under which the values are described: 0 for the whole element.
  virtual uint32_t DescrMask() const { return 0; }
  virtual const char* ClassName() const { return "TkoParEncoded"; }
  std::string DescribeCode(int64_t code, bool showNumber) const;
  // Appends, with their codes as tags, the described values from min to max.
  void AppendCodes(TkoParChoiceList* list, int64_t minCode, int64_t maxCode) const;
};

// A group of bits of an element, selected by a mask (contiguous or not) and read as a
// small number: the masked bits packed into the low bits, highest first.
class TkoParBitField : public TkoParEncoded {
 public:
  TkoParBitField(TkoRegister* reg, uint32_t mask, int index);

  bool HasMax() const override;
  bool HasMin() const override;
  std::string GetDescr() const override;
  void AssignDefault() override;

  int64_t GetMaxCode() const override { return GetMaxField(); }
  int64_t GetMinCode() const override { return GetMinField(); }
  int64_t GetDfltCode() const override { return GetDfltField(); }
  int64_t GetCode() const override { return GetField(); }
  void SetCode(int64_t value) override { SetField(value); }

  virtual int64_t GetMaxField() const;
  virtual int64_t GetMinField() const;
  virtual int64_t GetDfltField() const;
  virtual int64_t GetField() const;
  virtual void SetField(int64_t value);

  uint32_t Compact(uint32_t value) const;
  uint32_t Expand(uint32_t value) const;

  uint32_t Mask;

 protected:
  uint32_t DescrMask() const override { return Mask; }
  const char* ClassName() const override { return "TkoParBitField"; }
};

// One bit of an element.
class TkoParBoolField : public TkoParBitField {
 public:
  // Bit numbers from 32 up select no bit.
  TkoParBoolField(TkoRegister* reg, int bit, int index);

  void GetValueList(TkoParChoiceList* list, bool withLimits) const override;

  int64_t GetMaxField() const override { return GetMaxBool() ? 1 : 0; }
  int64_t GetMinField() const override { return GetMinBool() ? 1 : 0; }
  int64_t GetDfltField() const override { return GetDfltBool() ? 1 : 0; }
  int64_t GetField() const override { return GetBool() ? 1 : 0; }
  void SetField(int64_t value) override { SetBool(value != 0); }

  virtual bool GetMaxBool() const { return true; }
  virtual bool GetMinBool() const { return false; }
  virtual bool GetDfltBool() const;
  virtual bool GetBool() const;
  virtual void SetBool(bool state);

  uint8_t Bit;

 protected:
  const char* ClassName() const override { return "TkoParBoolField"; }
};
