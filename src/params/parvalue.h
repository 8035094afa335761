#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TkoRegister;
class TkoRegDataBuffer;

// One line of a choice list: the text offered and its tag. Tags 0 and up are codes of
// the parameter; the negative tags mark the lines that are not codes.
struct TkoParChoice {
  std::string Text;
  int64_t Tag = 0;
  bool operator==(const TkoParChoice&) const = default;
};
using TkoParChoiceList = std::vector<TkoParChoice>;

inline constexpr int64_t kParTagSeparator = -10;
inline constexpr int64_t kParTagDflt = -20;
inline constexpr int64_t kParTagMin = -30;
inline constexpr int64_t kParTagMax = -40;
inline constexpr const char* kParSeparatorText = "----------";

// What the windows show and edit: one element of one register (or of two registers
// combined) with its description, value, limits and default. The virtual operations are
// the whole interface of every parameter kind. Without a register every operation answers
// false, 0 or the empty text and changes nothing.
class TkoParValue {
 public:
  TkoParValue(TkoRegister* reg, int index);
  virtual ~TkoParValue() = default;
  TkoParValue(const TkoParValue&) = delete;
  TkoParValue& operator=(const TkoParValue&) = delete;

  virtual bool HasMax() const;
  virtual double GetMax() const;
  virtual std::string GetMaxString() const;
  virtual bool HasMin() const;
  virtual double GetMin() const;
  virtual std::string GetMinString() const;
  virtual bool HasDflt() const;
  virtual double GetDflt() const;
  virtual std::string GetDfltString() const;
  virtual void SetValue(double value);
  virtual double GetValue() const;
  virtual std::string GetDescr() const;
  virtual std::string GetValueString() const;
  virtual void SetValueString(const std::string& text);
  virtual bool IsChanged() const;
  virtual void AssignDefault();
  // Clears the list; with limits it then offers the default, minimum and maximum.
  virtual void GetValueList(TkoParChoiceList* list, bool withLimits) const;
  virtual void Report(std::vector<std::string>* lines) const;
  // Reads or writes the register on the device at once and waits; the device's result
  // code, 0 without register or device.
  [[nodiscard]] virtual int32_t ReadNow();
  [[nodiscard]] virtual int32_t WriteNow();

  TkoRegDataBuffer* GetDevice() const;
  void NotifyChange();

  bool ReadOnly = false;
  bool Enabled = true;
  bool Visible = true;
  std::function<void(TkoParValue* sender)> OnChange;

  int32_t Index;
  TkoRegister* Register;

 protected:
  // The bound texts of the plain parameter: the bound in the register's number picture.
  std::string FormatNumber(double value) const;
  void AppendLimits(TkoParChoiceList* list) const;
};

// Two 16-bit registers read as one raw 32-bit value: Register holds the low half and
// HighRegister (optional) the high half of the same element.
class TkoParLong : public TkoParValue {
 public:
  TkoParLong(TkoRegister* low, int index, TkoRegister* high);

  bool HasMax() const override;
  double GetMax() const override;
  std::string GetMaxString() const override;
  bool HasMin() const override;
  double GetMin() const override;
  std::string GetMinString() const override;
  bool HasDflt() const override;
  double GetDflt() const override;
  std::string GetDfltString() const override;
  void SetValue(double value) override;
  double GetValue() const override;
  std::string GetValueString() const override;
  void SetValueString(const std::string& text) override;
  bool IsChanged() const override;
  void AssignDefault() override;
  [[nodiscard]] int32_t ReadNow() override;
  [[nodiscard]] int32_t WriteNow() override;

  uint32_t GetLong() const;
  void SetLong(uint32_t value);

  TkoRegister* HighRegister;

 private:
  enum class BoundKind { Max, Min, Dflt };
  bool HasBoth(BoundKind kind) const;
  uint32_t Combined(BoundKind kind) const;
};

namespace vx {

// Truncates toward zero into the 64-bit range; NaN gives 0. Casting an out-of-range double
// to an integer is undefined, and limits of a data model may be anything.
int64_t TruncToInt64(double value);

// The device's result code for a direct transfer of one register; 0 without register or
// device.
int32_t ReadRegisterNow(TkoRegister* reg);
int32_t WriteRegisterNow(TkoRegister* reg);

}  // namespace vx
